// The request commands of zeva-host: one request to one device once discovery has listed it.
#pragma once

#include <string>
#include <vector>

namespace zevahost {

extern const char *const kRequestUsage;

// 1 when the words name a request command (checked before the SDK starts); fills a usage error.
bool IsRequestCommand(const std::vector<std::string> &words, std::string &error);
// The device the command addresses: its serial number or, for netparam and wifi, its MAC.
std::string RequestTarget(const std::vector<std::string> &words);
bool TargetIsMac(const std::vector<std::string> &words);
// Runs the command through the library's exports; prints the result, the last error and what came
// back, as text or as one JSON line. Returns the export's result.
int RunRequest(void *lib, const std::vector<std::string> &words, bool json);

}  // namespace zevahost
