// The request commands of zeva-host: one request to one device once discovery has listed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zevahost {

extern const char *const kRequestUsage;

// What is wrong with a number of the command line ("the value is not a number"); empty when the
// text is a decimal number from min to max, which goes to value.
std::string NumberProblem(const std::string &text, uint32_t min, uint32_t max, uint32_t &value);
// 1 when the words name a request command (checked before the SDK starts); fills a usage error
// that names what is wrong.
bool IsRequestCommand(const std::vector<std::string> &words, std::string &error);
// The device the command addresses: its serial number or, for netparam and wifi, its MAC.
std::string RequestTarget(const std::vector<std::string> &words);
bool TargetIsMac(const std::vector<std::string> &words);
// Runs the command through the library's exports; prints the result, the last error and what came
// back, as text or as one JSON line. Returns the export's result.
int RunRequest(void *lib, const std::vector<std::string> &words, bool json);
// The JSON line of a request that was never sent: the request, its target and the reason.
void PrintRefusal(const std::vector<std::string> &words, const std::string &reason);

}  // namespace zevahost
