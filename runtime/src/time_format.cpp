// Formatted time. The runtime expands %C %D %R %T %e %r itself (the Windows C library lacks them),
// which keeps its texts the same everywhere; glibc formats the rest.
#include <cstdio>
#include <cstring>
#include <string>

#include "yar/yar_time.h"

namespace {

std::string TwoWide(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%2d", value);
    return text;
}

// The format with the runtime's own conversions expanded; false when it reaches `size`
// characters before the format ends (the result could not fit).
bool ExpandFormat(const char *format, size_t size, const struct tm &record, std::string *work) {
    const char *p = format;
    while (*p && work->size() < size) {
        if (*p != '%' || p[1] == '\0') {
            *work += *p++;
            continue;
        }
        const char conversion = p[1];
        p += 2;
        switch (conversion) {
        case 'C': *work += TwoWide((record.tm_year + 1900) / 100); break;
        case 'D': *work += "%m/%d/%y"; break;
        case 'R': *work += "%H:%M"; break;
        case 'T': *work += "%H:%M:%S"; break;
        case 'e': *work += TwoWide(record.tm_mday); break;
        case 'r': *work += "%I:%M:%S %p"; break;
        default:
            *work += '%';
            *work += conversion;
        }
    }
    return *p == '\0';
}

}  // namespace

extern "C" {

size_t YAR_StrFmtTime(char *out, size_t size, const char *format, const struct tm *record) {
    if (!out || size == 0)
        return 0;
    out[0] = '\0';
    if (!format || !record)
        return 0;
    std::string work;
    if (!ExpandFormat(format, size, *record, &work))
        return 0;
    size_t written = strftime(out, size, work.c_str(), record);
    if (written == 0)
        out[0] = '\0';
    return written;
}

int YAR_StrFmtTimeExp(char *out, size_t *result, size_t size, const char *format,
                      const YAR_TIME_EXP_T *exp) {
    if (result)
        *result = 0;
    if (!exp)
        return -1;
    // Zeroed first: glibc's strftime also reads tm_zone (%Z) and tm_gmtoff (%z).
    struct tm record;
    std::memset(&record, 0, sizeof record);
    record.tm_sec = exp->tm_sec;
    record.tm_min = exp->tm_min;
    record.tm_hour = exp->tm_hour;
    record.tm_mday = exp->tm_mday;
    record.tm_mon = exp->tm_mon;
    record.tm_year = exp->tm_year;
    record.tm_wday = exp->tm_wday;
    record.tm_yday = exp->tm_yday;
    record.tm_isdst = exp->tm_isdst;
    record.tm_gmtoff = exp->tm_gmtoff;
    size_t written = YAR_StrFmtTime(out, size, format, &record);
    if (result)
        *result = written;
    return 0;
}

}  // extern "C"
