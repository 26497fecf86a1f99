#include "internal/report_text.h"

#include <cinttypes>
#include <cstdio>

namespace yar::internal {

void ReportText::Key(const char *key) {
    m_text += m_text.empty() ? "{ \"" : ", \"";
    m_text += key;
    m_text += "\": ";
}

ReportText &ReportText::Number(const char *key, int64_t value) {
    Key(key);
    m_text += std::to_string(value);
    return *this;
}

ReportText &ReportText::String(const char *key, const std::string &value) {
    Key(key);
    m_text += '"' + value + '"';
    return *this;
}

ReportText &ReportText::Bare(const char *key, const char *word) {
    Key(key);
    m_text += word;
    return *this;
}

std::string ReportText::Take() {
    std::string out = m_text.empty() ? "{ }" : m_text + " }";
    m_text.clear();
    return out;
}

std::string PointerText(const void *p) {
    char text[2 + 16 + 1];
    std::snprintf(text, sizeof text, "0x%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
    return text;
}

}  // namespace yar::internal
