#include "Module/TimeConsuming/TimeConsuming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/TimerProxy/TimerProxy.h"
#include "Module/TimerProxy/TimerProxyMgr.h"
#include "Module/TimeConsuming/TimeConsumingMgr.h"

namespace Vorezi {

CTimeConsuming::~CTimeConsuming() {
    Clear();
}

int CTimeConsuming::Start(void *pParam) {
    const auto *pStart = static_cast<const TIME_CONSUMING_PARAM *>(pParam);
    if (!pStart || pStart->dwTagNum < 1 || pStart->dwTagNum > TIME_CONSUMING_MAX_TAG || pStart->dwValue == 0 ||
        !pStart->pName)
        return 0;
    size_t len = strnlen(pStart->pName, TIME_CONSUMING_MAX_NAME + 1);
    if (len < 1 || len > TIME_CONSUMING_MAX_NAME)
        return 0;
    CTimeConsumingMgr *pMgr = GetCoreGlobalCtrl()->GetTimeConsumingMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimeConsuming::Start, GetTimeConsumingMgr Failed");
        return 0;
    }
    m_pName.reset(new (std::nothrow) char[len + 1]());
    if (!m_pName)
        return 0;
    std::memcpy(m_pName.get(), pStart->pName, len);
    m_dwNameLen = (DWORD)len;
    m_dwValue = pStart->dwValue;
    m_dwTagNum.store(pStart->dwTagNum);

    TIMER_PROXY_REGISTER_PARAM reg = {(DWORD)GetMemberIndex(), 0, this, TickRoutine};
    if (!Interim_RigisterTimerProxy(pMgr->GetProxyID(), &reg)) {
        m_pName.reset();
        m_dwNameLen = 0;
        return 0;
    }
    return 1;
}

int CTimeConsuming::Stop() {
    CTimeConsumingMgr *pMgr = GetCoreGlobalCtrl()->GetTimeConsumingMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimeConsuming::Stop, GetTimeConsumingMgr Failed");
        return 0;
    }
    Interim_UnRigisterTimerProxy(pMgr->GetProxyID(), GetMemberIndex());
    Clear();
    return 1;
}

int CTimeConsuming::AddTagTime(int iTag, DWORD dwTime) {
    if (iTag < 0 || (DWORD)iTag >= m_dwTagNum.load() || iTag >= (int)TIME_CONSUMING_MAX_TAG)
        return 0;
    m_dwTagSum[iTag].fetch_add(dwTime);
    m_dwTagCount[iTag].fetch_add(1);
    return 1;
}

// Plain updates, as the periodic reset: a sample may land in either period.
int CTimeConsuming::AddTagTimes(const int *pTimes, DWORD dwNum) {
    if (!pTimes || dwNum == 0 || dwNum > m_dwTagNum.load())
        return 0;
    for (DWORD i = 0; i < dwNum; i++) {
        if (pTimes[i] < 0)
            continue;
        m_dwTagSum[i].store(m_dwTagSum[i].load(std::memory_order_relaxed) + (DWORD)pTimes[i],
                            std::memory_order_relaxed);
        m_dwTagCount[i].store(m_dwTagCount[i].load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    return 1;
}

int CTimeConsuming::Clear() {
    m_dwTagNum.store(0);
    for (DWORD i = 0; i < TIME_CONSUMING_MAX_TAG; i++) {
        m_dwTagSum[i].store(0);
        m_dwTagCount[i].store(0);
    }
    m_dwValue = 0;
    m_dwNameLen = 0;
    m_pName.reset();
    return 1;
}

void CTimeConsuming::PrintTimeConsuming() {
    const DWORD dwTags = std::min(m_dwTagNum.load(), TIME_CONSUMING_MAX_TAG);
    DWORD dwCount[TIME_CONSUMING_MAX_TAG];
    DWORD dwAverage[TIME_CONSUMING_MAX_TAG];
    for (DWORD i = 0; i < dwTags; i++) {
        dwCount[i] = m_dwTagCount[i].load(std::memory_order_relaxed);
        dwAverage[i] = dwCount[i] ? m_dwTagSum[i].load(std::memory_order_relaxed) / dwCount[i] : 0;
        m_dwTagSum[i].store(0, std::memory_order_relaxed);
        m_dwTagCount[i].store(0, std::memory_order_relaxed);
    }

    char szLine[TIME_CONSUMING_LINE];
    int iLen = std::snprintf(szLine, sizeof(szLine), "%.1023s", m_pName ? m_pName.get() : "");
    for (DWORD i = 0; i < dwTags; i++) {
        char szTag[64];
        int n = std::snprintf(szTag, sizeof(szTag), ", Tag%d[%d][%d]ms", (int)i + 1, (int)dwCount[i],
                              (int)dwAverage[i]);
        if (iLen + n >= (int)sizeof(szLine))
            break;
        std::memcpy(szLine + iLen, szTag, (size_t)n + 1);
        iLen += n;
    }
    LogModule_Write(LOG_LEVEL_DBG, "%s", szLine);
}

int CTimeConsuming::TickRoutine(void *pUser) {
    if (!pUser)
        return 0;
    static_cast<CTimeConsuming *>(pUser)->PrintTimeConsuming();
    return 1;
}

}  // namespace Vorezi
