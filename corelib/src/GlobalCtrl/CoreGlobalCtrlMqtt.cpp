// The controller's MQTT server managers.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/mqtt/server/MqttListenSession.h"
#include "transport/mqtt/server/MqttServerMgr.h"

namespace Vorezi {

namespace {

// Made on first use while initialised; checked again under the control lock, so that a getter
// racing the last Fini makes nothing.
template <class T, class Make>
T *MakeWhileInited(CCoreGlobalCtrlBase *pCtrl, Make fnMake, const char *pFailText) {
    if (!pCtrl->IsInited())
        return nullptr;
    T *p = fnMake();
    if (p && !p->CheckResource()) {
        delete p;
        p = nullptr;
    }
    if (!p)
        LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
    return p;
}

}  // namespace

CMqttListenMgr *CCoreGlobalCtrlBase::GetMqttListenMgr() {
    if (CMqttListenMgr *p = m_pMqttListenMgr.load(std::memory_order_acquire))
        return p;
    if (!IsInited())
        return nullptr;
    return GetManager(m_pMqttListenMgr, [this]() {
        return MakeWhileInited<CMqttListenMgr>(
            this, [] { return new (std::nothrow) CMqttListenMgr(); },
            "CCoreGlobalCtrlBase::GetMqttListenMgr, New CMqttListenMgr Failed");
    });
}

CMqttServerMgr *CCoreGlobalCtrlBase::GetMqttServerMgr() {
    if (CMqttServerMgr *p = m_pMqttServerMgr.load(std::memory_order_acquire))
        return p;
    if (!IsInited())
        return nullptr;
    return GetManager(m_pMqttServerMgr, [this]() {
        const DWORD dwMax = GetAbilityCfg().dwMaxMqttConnection;
        return MakeWhileInited<CMqttServerMgr>(
            this, [dwMax] { return new (std::nothrow) CMqttServerMgr(dwMax); },
            "CCoreGlobalCtrlBase::GetMqttServerMgr, New CMqttServerMgr Failed");
    });
}

void CCoreGlobalCtrlBase::ReleaseMqttManagers() {
    ReleaseManager(m_pMqttListenMgr);
    ReleaseManager(m_pMqttServerMgr);
}

CMqttListenMgr *GetMqttListenMgr() {
    return GetCoreGlobalCtrl()->GetMqttListenMgr();
}

CMqttServerMgr *GetMqttServerMgr() {
    return GetCoreGlobalCtrl()->GetMqttServerMgr();
}

CMqttServerMgr *FindMqttServerMgr() {
    return GetCoreGlobalCtrl()->FindMqttServerMgr();
}

}  // namespace Vorezi
