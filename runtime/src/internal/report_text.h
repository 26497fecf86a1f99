// One-line JSON-like texts of the memory pools' reports: "{ " members joined by ", " " }".
#pragma once

#include <cstdint>
#include <string>

namespace yar::internal {

class ReportText {
public:
    ReportText &Number(const char *key, int64_t value);
    ReportText &String(const char *key, const std::string &value);
    ReportText &Bare(const char *key, const char *word);
    // The finished text; the object is left empty.
    std::string Take();

private:
    void Key(const char *key);
    std::string m_text;
};

// "0x" and the address as Windows prints a pointer: zero-padded upper-case hex digits.
std::string PointerText(const void *p);

}  // namespace yar::internal
