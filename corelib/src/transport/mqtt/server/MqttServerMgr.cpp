#include "transport/mqtt/server/MqttServerMgr.h"

#include <new>
#include <system_error>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "Module/TimerProxy/TimerProxyMgr.h"

namespace Vorezi {

namespace {

constexpr DWORD kSessionsPerGrowth = 128;
std::atomic<DWORD> g_dwHeartbeatPeriod{CMqttServerMgr::kHeartbeatPeriod};

}  // namespace

void CMqttServerMgr::SetHeartbeatPeriodForTest(DWORD dwPeriod) {
    g_dwHeartbeatPeriod = dwPeriod ? dwPeriod : kHeartbeatPeriod;
}

CMqttServerMgr::CMqttServerMgr(DWORD dwMaxNum) : CMemberMgrBase(dwMaxNum) {
    SetStartFlag(0);  // Create starts each session itself, see there
    // Made now, not under a session's write lock when its link starts (the control lock comes first).
    GetAsyncManager();
    if (!CreateMemoryPool(DWORD(sizeof(CMqttServerSession)), kSessionsPerGrowth, 0, 0, 0)) {
        SetError(MORVA_ERR_ALLOC);
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CMqttServerMgr, CreateMemoryPool Failed");
        return;
    }
    LogModule_Write(LOG_LEVEL_DBG, "CMqttServerMgr::CMqttServerMgr, CreateMemoryPool SUCC, MemPoolIndex[%d]",
                    GetMemPoolIndex());
    if (!CreateProxy(dwMaxNum)) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CMqttServerMgr, CreateProxy Failed, error[%d]",
                        LastError());
        return;
    }
    m_bInitSucc = 1;
}

// The reaper goes first, then every remaining session, closed at once (a graceful close waits for
// each client in turn), and the proxy they were registered with goes last.
CMqttServerMgr::~CMqttServerMgr() {
    StopReaper();
    for (int i = 0, n = int(GetTotalNum()); i < n && GetCurrNum() > 0; i++) {
        if (GetMember(i) && ShutSession(i, false, 1))
            FreeIndex(i, 1);
    }
    DestroyProxy();
}

int CMqttServerMgr::CreateProxy(DWORD dwMaxNum) {
    CTimerProxyMgr *pProxyMgr = GetTimerProxyMgr();
    if (!pProxyMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CreateProxy, GetTimerProxyMgr Failed");
        return 0;
    }
    const MORVA_THREADPOOL_CFG cfg = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_TIMERPROXY);
    TIMER_PROXY_CREATE_PARAM param = {dwMaxNum, g_dwHeartbeatPeriod.load(), nullptr, BYTE(cfg.dwMaxCount), 1};
    m_iTimeOutProxyID = pProxyMgr->CreateProxy(&param);
    if (m_iTimeOutProxyID < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CreateProxy, CreateProxy Failed!, error[%d], dwMaxNum[%d]",
                        LastError(), int(dwMaxNum));
        m_iTimeOutProxyID = -1;
        return 0;
    }
    LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CreateProxy, m_iTimeOutProxyID[%d], dwMaxNum[%d]",
                    m_iTimeOutProxyID, int(dwMaxNum));
    return 1;
}

void CMqttServerMgr::DestroyProxy() {
    if (m_iTimeOutProxyID < 0)
        return;
    LogModule_Write(LOG_LEVEL_DBG, "CMqttServerMgr::DestroyProxy, m_iTimeOutProxyID[%d]", m_iTimeOutProxyID);
    if (CTimerProxyMgr *pProxyMgr = GetTimerProxyMgr())
        pProxyMgr->DestroyProxy(m_iTimeOutProxyID);
    else
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::DestroyProxy, GetTimerProxyMgr Failed");
    m_iTimeOutProxyID = -1;
}

int CMqttServerMgr::CheckResource() {
    if ((GetMemPoolIndex() >= 0 || !GetCoreGlobalCtrl()->IsUseMemPool()) && m_bInitSucc &&
        CMemberMgrBase::CheckResource())
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CheckResource, Failed, m_bInitSucc[%d]", m_bInitSucc);
    return 0;
}

CMemberBase *CMqttServerMgr::NewMemoryObject(void *) {
    try {
        auto *pSession = new (GetMemPoolIndex()) CMqttServerSession();
        pSession->SetHeartbeatProxy(m_iTimeOutProxyID);
        return pSession;
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::NewMemoryObject, new CMqttServerSession exception!!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CMqttServerMgr::Create(const MQTT_SERVER_PARAM *pServerParam) {
    if (!pServerParam) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::Create, pServerParam == NULL");
        SetError(MORVA_ERR_NOT_READY);
        return -1;
    }
    m_iHeartbeatInterval = pServerParam->dwHeartbeatInterval ? int(pServerParam->dwHeartbeatInterval) : 5000;
    void *pParam = const_cast<MQTT_SERVER_PARAM *>(pServerParam);
    const int iHandle = AllocIndex2(pParam, pParam);
    if (iHandle < 0)
        return -1;
    // Started under the read lock, not the write lock: the start takes the link's and the
    // heartbeat's locks, which a running callback holds while it asks for a read lock.
    int bStarted = 0;
    {
        CMemberLockGuard lock(this, iHandle);
        if (CMemberBase *pSession = lock.Get<CMemberBase>()) {
            pSession->SetMemberIndex(iHandle);
            bStarted = pSession->Start(pParam);
        }
    }
    if (bStarted)
        return iHandle;
    FreeIndex(iHandle, 0);
    return -1;
}

int CMqttServerMgr::CheckHandle(int iHandle) {
    if (!CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CheckHandle, CheckResource Failed, iMQTTHandle[%d]", iHandle);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (iHandle < 0 || DWORD(iHandle) >= GetTotalNum()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::CheckHandle, Invalid iMQTTHandle[%d]", iHandle);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return 1;
}

int CMqttServerMgr::Destroy(int iHandle) {
    if (CMqttServerSession::InSessionCallback())
        return DeferDestroy(iHandle);
    ShutSession(iHandle, false, 0);
    return FreeIndex(iHandle, 1);
}

// Shuts the session under its read lock first: the write lock of FreeIndex must not wait for a
// callback that itself waits for a read lock (a host sending from its callback). bRequested:
// only a session marked for a deferred close. Whether a session was shut.
bool CMqttServerMgr::ShutSession(int iHandle, bool bRequested, int bForce) {
    CMemberLockGuard lock(this, iHandle);
    if (!lock.IsLocked())
        return false;
    auto *pSession = lock.Get<CMqttServerSession>();
    const bool bShut = pSession && (!bRequested || pSession->IsCloseRequested());
    if (bShut)
        pSession->Shut(bForce);
    return bShut;
}

// Marks the session under its read lock, so that the reaper closes this session and not a later
// one in the same slot.
int CMqttServerMgr::DeferDestroy(int iHandle) {
    // A session closing itself is alive for the whole call: no lock is needed to mark it.
    CMqttServerSession *pSession = CMqttServerSession::CallbackSession();
    if (pSession && pSession->GetMemberIndex() == iHandle) {
        pSession->RequestClose();
    } else {
        CMemberLockGuard lock(this, iHandle);
        if (!lock.IsLocked())
            return 0;
        pSession = lock.Get<CMqttServerSession>();
        if (pSession)
            pSession->RequestClose();
    }
    if (!pSession) {
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    std::lock_guard<std::mutex> guard(m_ReapLock);
    if (m_bReapStop)
        return 1;  // the manager is going: it closes the session itself
    m_ReapQueue.push_back(iHandle);
    AddReaperIfAllBusy();
    m_ReapCond.notify_one();
    return 1;
}

// Under m_ReapLock. Closes that wait for their clients run side by side, not one after another.
void CMqttServerMgr::AddReaperIfAllBusy() {
    if (m_ReapQueue.size() <= m_nIdleReapers || m_Reapers.size() >= kMaxReapers)
        return;
    try {
        m_Reapers.emplace_back(&CMqttServerMgr::ReaperLoop, this);
    } catch (const std::system_error &) {
        // The reapers there are take the close later; with none, the manager's end does.
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::DeferDestroy, No reaper thread, queued[%d]",
                        int(m_ReapQueue.size()));
    }
}

void CMqttServerMgr::ReaperLoop() {
    std::unique_lock<std::mutex> lock(m_ReapLock);
    for (;;) {
        m_nIdleReapers++;
        m_ReapCond.wait(lock, [this] { return m_bReapStop || !m_ReapQueue.empty(); });
        m_nIdleReapers--;
        if (m_bReapStop)
            return;
        const int iHandle = m_ReapQueue.front();
        m_ReapQueue.pop_front();
        lock.unlock();
        if (ShutSession(iHandle, true, 0)) {
            CMemberLockGuard member(this, iHandle, true);
            auto *pSession = member.Get<CMqttServerSession>();
            // The write lock is re-entered by FreeIndex on this thread.
            if (pSession && pSession->IsCloseRequested() && !FreeIndex(iHandle, 1))
                LogModule_Write(LOG_LEVEL_ERR, "CMqttServerMgr::ReaperLoop, Destroy Failed, iMQTTHandle[%d]", iHandle);
        }
        lock.lock();
    }
}

void CMqttServerMgr::StopReaper() {
    {
        std::lock_guard<std::mutex> guard(m_ReapLock);
        m_bReapStop = true;
        m_ReapCond.notify_all();
    }
    // No reaper is added once the flag is set: the list is read here alone.
    for (std::thread &reaper : m_Reapers)
        reaper.join();
}

}  // namespace Vorezi
