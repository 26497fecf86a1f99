// The table of time-consumption tests and the one timer proxy that drives their reports.
#pragma once

#include "Module/Member/MemberBase.h"
#include "Module/TimeConsuming/TimeConsuming.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

constexpr DWORD TIME_CONSUMING_MGR_MEMBERS = 64;
constexpr DWORD TIME_CONSUMING_INTERVAL = 5000;

class CTimeConsumingMgr : public CMemberMgrBase {
public:
    explicit CTimeConsumingMgr(DWORD dwTotalNum = TIME_CONSUMING_MGR_MEMBERS);
    ~CTimeConsumingMgr() override;

    int IsInited();
    CMemberBase *NewMemoryObject(void *pParam) override;
    // The test's index, or -1.
    int CreateTimeConsuming(TIME_CONSUMING_PARAM *pParam);
    int DestroyTimeConsuming(int iIndex);
    int GetProxyID() const { return m_iProxyID; }

private:
    int m_bInited = 0;
    int m_iProxyID = -1;
};

// The controller's manager, created on first use.
CTimeConsumingMgr *GetTimeConsumingMgr();

}  // namespace Vorezi
