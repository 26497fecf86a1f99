#include "outcome.h"

#include "errors.h"
#include "json_text.h"

namespace zevahost {

std::string OutcomeJson(const std::vector<std::string> &request, const Outcome &o) {
    JsonObject line;
    if (request.size() >= 2)
        line.Text("request", request[0]).Text("target", request[1]);
    else
        line.Null("request").Null("target");
    if (o.sent)
        line.Number("result", o.result);
    else
        line.Null("result");
    if (o.hasError) {
        ErrorInfo info = DescribeError(o.error);
        line.Number("error", o.error).Text("errorName", info.name).Text("errorMeaning", info.meaning);
    } else {
        line.Null("error").Null("errorName").Null("errorMeaning");
    }
    if (o.sent)
        line.Null("message");
    else
        line.Text("message", o.message);
    if (!o.record.empty())
        line.Raw("record", o.record);
    else if (!o.hex.empty())
        line.Raw("record", JsonObject().Text("hex", o.hex).Str());
    else
        line.Null("record");
    return line.Str();
}

std::string OutcomeText(const Outcome &o) {
    std::string text = "result " + std::to_string(o.result) + " error " + ErrorText(o.error) + "\n";
    if (!o.record.empty())
        text += "record " + o.record + "\n";
    else if (!o.hex.empty())
        text += "data " + o.hex + "\n";
    return text;
}

}  // namespace zevahost
