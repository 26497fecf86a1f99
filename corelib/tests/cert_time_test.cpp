// Certificate times as the verify callback converts them: UTCTime's century window, zones,
// fractions, zone-less local GeneralizedTime, and malformed texts.
#include <dlfcn.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "ssl_test_util.h"

using namespace Vorezi;
using namespace cryptotest;

namespace {

constexpr int V_ASN1_UTCTIME = 23;
constexpr int V_ASN1_GENERALIZEDTIME = 24;

// An ASN.1 time string made by the loaded crypto library.
class Asn1Time {
public:
    Asn1Time(int iType, const std::string &text) {
        void *h = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_NOLOAD);
        auto fnNew = reinterpret_cast<ASN1_TIME *(*)(int)>(dlsym(h, "ASN1_STRING_type_new"));
        auto fnSet = reinterpret_cast<int (*)(ASN1_TIME *, const void *, int)>(dlsym(h, "ASN1_STRING_set"));
        m_fnFree = reinterpret_cast<void (*)(ASN1_TIME *)>(dlsym(h, "ASN1_STRING_free"));
        m_pTime = fnNew(iType);
        fnSet(m_pTime, text.data(), static_cast<int>(text.size()));
    }
    ~Asn1Time() { m_fnFree(m_pTime); }
    const ASN1_TIME *Get() const { return m_pTime; }

private:
    ASN1_TIME *m_pTime;
    void (*m_fnFree)(ASN1_TIME *);
};

int64_t Utc(int y, int mon, int d, int h, int min, int s) {
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = min;
    t.tm_sec = s;
    return static_cast<int64_t>(timegm(&t));
}

using CertTime = CryptoTest;

TEST_F(CertTime, ConvertsUtcAndGeneralizedTimes) {
    struct Case {
        int iType;
        const char *pText;
        int64_t llExpected;
    } kCases[] = {
        {V_ASN1_UTCTIME, "491231235959Z", Utc(2049, 12, 31, 23, 59, 59)},
        {V_ASN1_UTCTIME, "500101000000Z", Utc(1950, 1, 1, 0, 0, 0)},
        {V_ASN1_UTCTIME, "7001010000Z", 0},  // seconds may be left out
        {V_ASN1_UTCTIME, "240229120000Z", Utc(2024, 2, 29, 12, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "20500101000000Z", Utc(2050, 1, 1, 0, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "20500101000000+0130", Utc(2050, 1, 1, 0, 0, 0) - 90 * 60},
        {V_ASN1_GENERALIZEDTIME, "20500101000000-0200", Utc(2050, 1, 1, 2, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "21000301000000.25Z", Utc(2100, 3, 1, 0, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "24000301000000Z", Utc(2400, 3, 1, 0, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "18990101000000Z", Utc(1899, 1, 1, 0, 0, 0)},
        {V_ASN1_GENERALIZEDTIME, "19691231235959Z", -1},
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pText);
        Asn1Time t(c.iType, c.pText);
        EXPECT_EQ(CSSLTrans::Asn1TimeToTime(t.Get()), c.llExpected);
    }
}

TEST_F(CertTime, MalformedTextsGiveZero) {
    struct Case {
        int iType;
        const char *pText;
    } kCases[] = {
        {V_ASN1_UTCTIME, "4912312359"},         // no zone
        {V_ASN1_UTCTIME, "491231235959X"},      // unknown zone
        {V_ASN1_UTCTIME, "491231235959Zjunk"},  // text after the zone
        {V_ASN1_UTCTIME, "49123123"},           // cut short
        {V_ASN1_UTCTIME, "49a231235959Z"},
        {V_ASN1_GENERALIZEDTIME, "20500101000000+01"},
        {V_ASN1_UTCTIME, "491331235959Z"},  // month 13
        {V_ASN1_UTCTIME, "490100235959Z"},  // day 0
        {V_ASN1_UTCTIME, "491231245959Z"},  // hour 24
        {V_ASN1_GENERALIZEDTIME, "20501231236059Z"},  // minute 60
        {V_ASN1_GENERALIZEDTIME, "20500001000000"},  // month 0, local time
        {V_ASN1_GENERALIZEDTIME, "20500431000000Z"},  // 31 April
        {V_ASN1_UTCTIME, "230229120000Z"},  // 29 February of a common year
        {4, "491231235959Z"},  // not a time type
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pText);
        Asn1Time t(c.iType, c.pText);
        EXPECT_EQ(CSSLTrans::Asn1TimeToTime(t.Get()), 0);
    }
    EXPECT_EQ(CSSLTrans::Asn1TimeToTime(nullptr), 0);
}

TEST_F(CertTime, ZonelessGeneralizedTimeIsLocal) {
    const char *pOld = getenv("TZ");
    std::string old = pOld ? pOld : "";
    setenv("TZ", "UTC", 1);
    tzset();
    Asn1Time utc(V_ASN1_GENERALIZEDTIME, "20300615103000");
    EXPECT_EQ(CSSLTrans::Asn1TimeToTime(utc.Get()), Utc(2030, 6, 15, 10, 30, 0));
    setenv("TZ", "UTC-2", 1);  // two hours east
    tzset();
    EXPECT_EQ(CSSLTrans::Asn1TimeToTime(utc.Get()), Utc(2030, 6, 15, 8, 30, 0));
    if (pOld)
        setenv("TZ", old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
