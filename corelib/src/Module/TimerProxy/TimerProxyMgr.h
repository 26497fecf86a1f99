// The table of timer proxies: proxy handles are member indexes of a member table.
#pragma once

#include "Module/Member/MemberBase.h"
#include "Module/TimerProxy/TimerProxy.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

constexpr DWORD TIMER_PROXY_MGR_MEMBERS = 512;

class CTimerProxyMgr : public CMemberMgrBase {
public:
    explicit CTimerProxyMgr(DWORD dwTotalNum = TIMER_PROXY_MGR_MEMBERS);
    ~CTimerProxyMgr() override;

    // A proxy handle, or SDK_INVALID_ID.
    int CreateProxy(const TIMER_PROXY_CREATE_PARAM *pParam);
    int DestroyProxy(int iProxyID);
    CMemberBase *NewMemoryObject(void *pParam) override;
};

// The controller's manager, created on first use.
CTimerProxyMgr *GetTimerProxyMgr();

int Interim_RigisterTimerProxy(int iProxyID, const TIMER_PROXY_REGISTER_PARAM *pPreviewParam);
int Interim_UnRigisterTimerProxy(int iProxyID, int iRigisterID);

}  // namespace Vorezi
