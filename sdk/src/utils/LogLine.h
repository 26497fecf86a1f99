// A log line built by appends, for the line written with every device report: the same bytes
// the printf format gives, at a fraction of vsnprintf's cost on the receive thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZEVA {

class CLogLine {
public:
    // The log's own line limit less its terminator; a longer line is not written at all.
    static constexpr size_t MAX_LEN = 1023;

    CLogLine &Text(const char *pText);
    // At most uMax bytes of the field, up to its terminator ("%.*s").
    CLogLine &Field(const char *pText, size_t uMax);
    CLogLine &Dec(int64_t iValue);  // "%d", "%u"
    CLogLine &Hex(uint32_t dwValue);  // "0x%x"

    // The whole line, or nullptr when it did not fit.
    const char *Line();

private:
    void Append(const char *pText, size_t len);

    char m_szText[MAX_LEN + 1];
    size_t m_uLen = 0;
    bool m_bCut = false;
};

// True when the core library's log takes information lines. The SDK gives that log no callback,
// so its level alone decides; a report's line is only built then.
bool LogTakesInformation();

}  // namespace ZEVA
