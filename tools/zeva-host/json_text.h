// One JSON object built field by field: every line zeva-host prints with --json is one of these.
#pragma once

#include <cstdint>
#include <string>

namespace zevahost {

// A quoted JSON string. Well-formed UTF-8 passes; control characters and any other byte are
// escaped, so every device text gives valid JSON.
std::string JsonText(const std::string &s);

class JsonObject {
public:
    JsonObject &Text(const char *key, const std::string &value) { return Raw(key, JsonText(value)); }
    JsonObject &Number(const char *key, int64_t value) { return Raw(key, std::to_string(value)); }
    JsonObject &Bool(const char *key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject &Null(const char *key) { return Raw(key, "null"); }
    JsonObject &Raw(const char *key, const std::string &json);
    std::string Str() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

}  // namespace zevahost
