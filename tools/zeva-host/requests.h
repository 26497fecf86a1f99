// The request commands of zeva-host: one request to one device once discovery has listed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outcome.h"

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
// The file a request command reads its input record from (INFILE of get and set); empty when none.
std::string InputFile(const std::vector<std::string> &words);
// The whole file into bytes; false with the reason ("No such file or directory") when it cannot be
// read or is longer than any input record.
bool ReadInputFile(const std::string &path, std::string &bytes, std::string &problem);
// Sends the command through the library's exports, with the input file's bytes, and gives back
// the export's result, the last error and what came back.
Outcome RunRequest(void *lib, const std::vector<std::string> &words, const std::string &input);

}  // namespace zevahost
