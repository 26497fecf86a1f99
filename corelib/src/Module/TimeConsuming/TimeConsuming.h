// Time-consumption tests: named sets of up to 8 tags to which measured code adds elapsed
// milliseconds; each test reports every tag's samples and average once per period, then starts
// afresh.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "Module/Member/MemberBase.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

constexpr DWORD TIME_CONSUMING_MAX_TAG = 8;
constexpr DWORD TIME_CONSUMING_MAX_NAME = 255;
constexpr int TIME_CONSUMING_LINE = 1024;

// Start record of a test.
struct TIME_CONSUMING_PARAM {
    DWORD dwTagNum;  // 1 to 8
    DWORD dwValue;   // non-zero
    const char *pName;
};

class CTimeConsuming : public CMemberBase {
public:
    CTimeConsuming() = default;
    ~CTimeConsuming() override;
    CTimeConsuming(const CTimeConsuming &) = delete;
    CTimeConsuming &operator=(const CTimeConsuming &) = delete;

    int Start(void *pParam) override;
    int Stop() override;

    int AddTagTime(int iTag, DWORD dwTime);
    // Adds pTimes[i] to tag i for every i below dwNum whose time is not negative.
    int AddTagTimes(const int *pTimes, DWORD dwNum);
    int Clear();
    // Writes the period's report and starts counting afresh.
    void PrintTimeConsuming();

    DWORD GetValue() const { return m_dwValue; }
    const char *GetName() const { return m_pName.get(); }
    // The proxy's callback: the test as user data.
    static int TickRoutine(void *pUser);

private:

    std::atomic<DWORD> m_dwTagNum{0};
    std::atomic<DWORD> m_dwTagSum[TIME_CONSUMING_MAX_TAG] = {};
    std::atomic<DWORD> m_dwTagCount[TIME_CONSUMING_MAX_TAG] = {};
    DWORD m_dwValue = 0;
    std::unique_ptr<char[]> m_pName;
    DWORD m_dwNameLen = 0;
};

}  // namespace Vorezi
