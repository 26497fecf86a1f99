#include "Module/TimeConsuming/TimeConsumingMgr.h"

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/TimerProxy/TimerProxyMgr.h"

namespace Vorezi {

CTimeConsumingMgr::CTimeConsumingMgr(DWORD dwTotalNum) : CMemberMgrBase(dwTotalNum) {
    CTimerProxyMgr *pProxyMgr = GetTimerProxyMgr();
    if (!pProxyMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimeConsumingMgr::CTimeConsumingMgr, GetTimerProxyMgr Failed");
        return;
    }
    // One pool thread: the reports of all tests run one at a time.
    TIMER_PROXY_CREATE_PARAM param = {dwTotalNum, TIME_CONSUMING_INTERVAL, nullptr, 1, 0};
    m_iProxyID = pProxyMgr->CreateProxy(&param);
    m_bInited = m_iProxyID != SDK_INVALID_ID ? 1 : 0;
}

CTimeConsumingMgr::~CTimeConsumingMgr() {
    // Stop the tests while their proxy still exists; the base would stop them after it is gone.
    for (DWORD i = 0; i < GetTotalNum(); i++) {
        if (GetMember((int)i))
            FreeIndex((int)i, 1);
    }
    if (m_iProxyID == SDK_INVALID_ID)
        return;
    CTimerProxyMgr *pProxyMgr = GetTimerProxyMgr();
    if (!pProxyMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimeConsumingMgr::~CTimeConsumingMgr, GetTimerProxyMgr Failed");
        return;
    }
    pProxyMgr->DestroyProxy(m_iProxyID);
    m_iProxyID = SDK_INVALID_ID;
}

int CTimeConsumingMgr::IsInited() {
    return CheckResource() && m_bInited ? 1 : 0;
}

CMemberBase *CTimeConsumingMgr::NewMemoryObject(void *) {
    try {
        return new (MEM_INDEX_HEAP) CTimeConsuming;
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimeConsumingMgr::NewMemoryObject, new CTimeConsumingTag Exception!!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CTimeConsumingMgr::CreateTimeConsuming(TIME_CONSUMING_PARAM *pParam) {
    return AllocIndex2(pParam, pParam);
}

int CTimeConsumingMgr::DestroyTimeConsuming(int iIndex) {
    return FreeIndex(iIndex, 1);
}

CTimeConsumingMgr *GetTimeConsumingMgr() {
    return GetCoreGlobalCtrl()->GetTimeConsumingMgr();
}

}  // namespace Vorezi
