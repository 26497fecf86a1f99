#include "transport/vrudp/VRUDPRtt.h"

namespace Vorezi {

void CVRUDPRtt::Sample(int32_t m, uint32_t dwNow) {
    if (m < 1)
        m = 1;
    if (m >= kIgnoreSampleMs)
        return;
    if (m_dwSRTT == 0) {
        m_dwSRTT = uint32_t(m) << 3;
        m_dwDev = uint32_t(m) << 1;
        m_dwMaxDev = m_dwDev > kMinVar ? m_dwDev : kMinVar;
        m_dwRTTVar = m_dwMaxDev;
        m_dwPeriodStart = dwNow;
    } else {
        m -= int32_t(m_dwSRTT >> 3);
        m_dwSRTT += uint32_t(m);
        if (m < 0) {
            m = -m - int32_t(m_dwDev >> 2);
            if (m > 0)
                m >>= 3;
        } else {
            m -= int32_t(m_dwDev >> 2);
        }
        m_dwDev += uint32_t(m);
        if (m_dwDev > m_dwMaxDev) {
            m_dwMaxDev = m_dwDev;
            if (m_dwMaxDev > m_dwRTTVar)
                m_dwRTTVar = m_dwMaxDev;
        }
    }
    if (dwNow - m_dwPeriodStart > (m_dwSRTT >> 3)) {
        if (m_dwMaxDev < m_dwRTTVar)
            m_dwRTTVar -= (m_dwRTTVar - m_dwMaxDev) >> 2;
        m_dwPeriodStart = dwNow;
        m_dwMaxDev = kMinVar;
    }
    if (m_dwSRTT > kMaxSRTT)
        m_dwSRTT = kMaxSRTT;
    m_dwRTO = (m_dwSRTT >> 3) + m_dwRTTVar;
    if (m_dwRTO > kMaxRTO)
        m_dwRTO = kMaxRTO;
}

}  // namespace Vorezi
