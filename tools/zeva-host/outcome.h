// How a request command ends, sent or not: a text line or one JSON object of the same keys for
// every outcome, so that a script reads them all one way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zevahost {

struct Outcome {
    bool sent = false;
    int result = 0;          // the export's result, when sent
    bool hasError = false;   // the library's last error is known (always once sent)
    uint32_t error = 0;
    std::string message;     // why nothing was sent
    std::string record;      // what came back as a JSON object, or empty
    std::string hex;         // what came back when no layout decodes it
};

// {"request","target","result","error","errorName","errorMeaning","message","record"}; request and
// target are null for a run without a request command, record holds {"hex":...} for undecoded
// output.
std::string OutcomeJson(const std::vector<std::string> &request, const Outcome &o);
// A sent request's "result 1 error 0 ZEVA_NOERROR (no error)" and its "record" or "data" line.
std::string OutcomeText(const Outcome &o);

}  // namespace zevahost
