// The controller's crypto key caches.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"

namespace Vorezi {

namespace {

// A started cache, or null: a cache whose first keys cannot be made is not kept. Checked again
// under the control lock so that a getter racing the last Fini makes nothing that would leak.
template <class T>
T *MakeStartedCache(CCoreGlobalCtrlBase *pCtrl, const char *pNewFailed) {
    if (!pCtrl->IsInited()) return nullptr;
    T *p = new (std::nothrow) T;
    if (p == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", pNewFailed);
        return nullptr;
    }
    if (!p->Start()) {
        delete p;
        return nullptr;
    }
    return p;
}

}  // namespace

CRSAKey *CCoreGlobalCtrlBase::GetRSAEncrypt() {
    if (!IsInited()) return nullptr;
    return GetManager(m_pRSAKey, [this] {
        return MakeStartedCache<CRSAKey>(this, "CCoreGlobalCtrlBase::GetRSAEncrypt, New CRSAKey Failed");
    });
}

CECDHKey *CCoreGlobalCtrlBase::GetECDHEncrypt() {
    if (!IsInited()) return nullptr;
    return GetManager(m_pECDHKey, [this] {
        return MakeStartedCache<CECDHKey>(this, "CCoreGlobalCtrlBase::GetECDHEncrypt, New CECDHKey Failed");
    });
}

void CCoreGlobalCtrlBase::ReleaseKeyCaches() {
    ReleaseManager(m_pRSAKey);
    ReleaseManager(m_pECDHKey);
}

}  // namespace Vorezi
