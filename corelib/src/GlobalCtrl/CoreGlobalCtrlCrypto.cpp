// The controller's shared CSSLTrans and the OpenSSL table behind it.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"

namespace Vorezi {

CSSLTrans *CCoreGlobalCtrlBase::GetSSLTrans() {
    return GetManager(m_pSSLTrans, []() -> CSSLTrans * {
        auto *p = new (std::nothrow) CSSLTrans(0, 0);
        if (!p)
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetSSLTrans, new CSSLTrans Failed");
        return p;
    });
}

void CCoreGlobalCtrlBase::ReleaseSSLTrans() {
    ReleaseManager(m_pSSLTrans);
}

CSSLTrans *GetSSLTransInstance() {
    return GetCoreGlobalCtrl()->GetSSLTrans();
}

COpenSSLAPI *GetOpenSSLAPI() {
    return GetSSLTransInstance() ? COpenSSLAPI::GetInstance() : nullptr;
}

}  // namespace Vorezi
