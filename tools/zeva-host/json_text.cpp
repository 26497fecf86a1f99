#include "json_text.h"

#include <cstdio>

namespace zevahost {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none (overlong forms,
// surrogates and values past U+10FFFF are not well-formed).
size_t Utf8Length(const std::string &s, size_t i) {
    unsigned char c = s[i];
    size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    // The second byte's range depends on the first.
    unsigned char low = c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
    unsigned char high = c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
    unsigned char second = s[i + 1];
    if (second < low || second > high)
        return 0;
    for (size_t k = 2; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80)
            return 0;
    return n;
}

void AppendEscape(std::string &out, unsigned char c) {
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\u%04x", c);
    out += esc;
}

}  // namespace

std::string JsonText(const std::string &s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f) {
            AppendEscape(out, c);
        } else if (c < 0x80) {
            out += char(c);
        } else if (size_t n = Utf8Length(s, i)) {
            out.append(s, i, n);
            i += n - 1;
        } else {
            // A byte of some other code page: kept as the character of the same number.
            AppendEscape(out, c);
        }
    }
    return out + "\"";
}

JsonObject &JsonObject::Raw(const char *key, const std::string &json) {
    if (!body_.empty())
        body_ += ',';
    body_ += JsonText(key) + ':' + json;
    return *this;
}

}  // namespace zevahost
