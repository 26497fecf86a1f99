// RTT estimator of a connection: smoothed RTT in eighths of a millisecond, deviation in quarters,
// a variance that never falls below 200 ms, and the retransmission time-out drawn from them.
#pragma once

#include <cstdint>

namespace Vorezi {

class CVRUDPRtt {
public:
    static constexpr uint32_t kMinVar = 200;
    static constexpr int32_t kIgnoreSampleMs = 500;
    static constexpr uint32_t kMaxSRTT = 3200;  // 400 ms in eighths
    static constexpr uint32_t kMaxRTO = 500;

    // One measured round trip m (ms) taken at tick dwNow.
    void Sample(int32_t m, uint32_t dwNow);
    uint32_t GetRTO() const { return m_dwRTO; }
    uint32_t GetSRTT() const { return m_dwSRTT; }
    uint32_t GetDev() const { return m_dwDev; }
    uint32_t GetRTTVar() const { return m_dwRTTVar; }

private:
    uint32_t m_dwSRTT = 0;
    uint32_t m_dwDev = 0;
    uint32_t m_dwMaxDev = 0;
    uint32_t m_dwRTTVar = 0;
    uint32_t m_dwPeriodStart = 0;
    uint32_t m_dwRTO = 300;
};

}  // namespace Vorezi
