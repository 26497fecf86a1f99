// Managers of the transports that the global controller makes on first use.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/SSLTrans.h"
#include "transport/async/AsyncManager.h"
#include "transport/port/PortPoolMgr.h"
#include "transport/rqs/RqsTrans.h"
#include "transport/serverlink/ServerLinkMgr.h"

namespace Vorezi {

CPortPoolMgr *CCoreGlobalCtrlBase::GetPortPoolMgr() {
    return GetManager(m_pPortPoolMgr, []() -> CPortPoolMgr * {
        auto *p = new (std::nothrow) CPortPoolMgr;
        if (p && !p->Init()) {
            delete p;
            p = nullptr;
        }
        return p;
    });
}

// 1 when the manager exists or the control lock cannot be taken, 0 when making it failed.
int CCoreGlobalCtrlBase::CreateAsyncLinkMgr() {
    if (m_pAsyncManager.load(std::memory_order_acquire) || !Lock())
        return 1;
    if (!m_pAsyncManager.load()) {
        auto *p = new (std::nothrow) CAsyncManager;
        if (!p)
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::CreateAsyncLinkMgr, New CAsyncManager Failed");
        // A manager without its queue is no manager: links then fall back to blocking I/O.
        if (p && !p->IsInited()) {
            delete p;
            p = nullptr;
        }
        m_pAsyncManager.store(p, std::memory_order_release);
    }
    int iResult = m_pAsyncManager.load() ? 1 : 0;
    Unlock();
    return iResult;
}

CAsyncManager *CCoreGlobalCtrlBase::GetAsyncManager() {
    CreateAsyncLinkMgr();
    return m_pAsyncManager.load(std::memory_order_acquire);
}

void CCoreGlobalCtrlBase::ReleaseAsyncManager() {
    ReleaseManager(m_pAsyncManager);
}

CAsyncManager *GetAsyncManager() {
    return GetCoreGlobalCtrl()->GetAsyncManager();
}

// Checked before the control lock: a fini holds that lock while it stops the links, whose
// callbacks may ask for the manager.
int CCoreGlobalCtrlBase::CreateServerLinkMgr() {
    if (m_pServerLinkMgr.load(std::memory_order_acquire) || !IsInited())
        return m_pServerLinkMgr.load(std::memory_order_acquire) ? 1 : 0;
    if (!Lock())
        return 1;
    if (!m_pServerLinkMgr.load() && IsInited()) {
        const MORVA_THREADPOOL_CFG cfg = GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_SERVERLINK);
        auto *p = new (std::nothrow) CServerLinkMgr((int)cfg.dwMaxCount, (int)cfg.dwStackSize);
        if (!p)
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::CreateServerLinkMgr, New CServerLinkMgr Failed");
        m_pServerLinkMgr.store(p, std::memory_order_release);
    }
    int iResult = m_pServerLinkMgr.load() ? 1 : 0;
    Unlock();
    return iResult;
}

CServerLinkMgr *CCoreGlobalCtrlBase::GetServerLinkMgr() {
    CreateServerLinkMgr();
    return m_pServerLinkMgr.load(std::memory_order_acquire);
}

void CCoreGlobalCtrlBase::ReleaseServerLinkMgr() {
    ReleaseManager(m_pServerLinkMgr);
}

void CCoreGlobalCtrlBase::ReleasePortPoolMgr() {
    ReleaseManager(m_pPortPoolMgr);
}

CRqsTrans *CCoreGlobalCtrlBase::GetRqsTrans() {
    if (!IsInited())
        return nullptr;
    // Checked again under the control lock: a getter racing the last Fini must make nothing.
    return GetManager(m_pRqsTrans, [this]() -> CRqsTrans * {
        if (!IsInited())
            return nullptr;
        auto *p = new (std::nothrow) CRqsTrans;
        if (!p)
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetRqsTrans, new CRqsTrans Failed");
        return p;
    });
}

void CCoreGlobalCtrlBase::ReleaseRqsTrans() {
    ReleaseManager(m_pRqsTrans);
}

// The CA certificates are reloaded by the TLS binding; until it has loaded the TLS library
// there is nothing to reload into.
int CCoreGlobalCtrlBase::RefreshCA() {
    return CSSLTrans::SSLTrans_CXT_RefreshCA();
}

}  // namespace Vorezi
