#include "transport/secure/InterimSecureLink.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "transport/secure/SecureLinkListenSession.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/secure/SecureServerLinkSession.h"

namespace Vorezi {

using secure::CSecureLinkListenMgr;
using secure::CSecureLinkListenSession;
using secure::CSecureServerLinkMgr;
using secure::CSecureServerLinkSession;

namespace {

constexpr uint32_t kLogCategory = 7;

// Runs fn on a live session of the manager under the member's read lock: fn's result, or iFail
// with the function's "ReadLockMember Failed" or "GetMember Failed" line.
template <class Session, class Mgr, class F>
int WithSession(Mgr *pMgr, int iHandle, const char *pFunc, int iFail, F fn) {
    if (pMgr == nullptr)
        return iFail;
    CMemberLockGuard lock(pMgr, iHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]%s, ReadLockMember Failed", iHandle, pFunc);
        return iFail;
    }
    int iRet = iFail;
    if (auto *p = lock.Get<Session>())
        iRet = fn(p);
    else
        LogModule_Write(LOG_LEVEL_ERR, "[%d]%s, GetMember Failed", iHandle, pFunc);
    return iRet;
}

template <class F>
int WithListen(int iListenHandle, const char *pFunc, int iFail, F fn) {
    return WithSession<CSecureLinkListenSession>(GetCoreGlobalCtrl()->GetSecureLinkServerMgr(), iListenHandle, pFunc,
                                                 iFail, fn);
}

template <class F>
int WithServer(int iSecureHandle, const char *pFunc, int iFail, F fn) {
    return WithSession<CSecureServerLinkSession>(GetCoreGlobalCtrl()->GetSecureLinkMgr(), iSecureHandle, pFunc, iFail,
                                                 fn);
}

VRUDP_SOCK_ADDR ToVRUDPAddr(const SECURE_SOCK_ADDR &addr) {
    VRUDP_SOCK_ADDR out;
    memset(&out, 0, sizeof(out));
    memcpy(out.szAddr, addr.szAddr, sizeof(out.szAddr) - 1);
    out.wPort = addr.wPort;
    return out;
}

// A forward of one listening-endpoint operation: 1 or 0, with the function's result line.
template <class F>
int ListenOp(int iListenHandle, const char *pFunc, const char *pWhat, F fn) {
    return WithListen(iListenHandle, pFunc, 0, [&](CSecureLinkListenSession *p) {
        const int iRet = fn(p) ? 1 : 0;
        LogModule_Write(iRet ? LOG_LEVEL_DBG : LOG_LEVEL_ERR, "[%d]%s, %s %s", iListenHandle, pFunc, pWhat,
                        iRet ? "SUCC" : "Failed");
        return iRet;
    });
}

} // namespace

int32_t Interim_SecureCreate(const SECURE_CREATE_FUNS *pFuns, int32_t iAddressType, int32_t iTransportMode) {
    if (pFuns == nullptr || iAddressType < 0 || iAddressType > 1 || iTransportMode < 0 || iTransportMode > 1) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SecureCreate, Invalid Param, iAddressType[%d], iTransportMode[%d]",
                        iAddressType, iTransportMode);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (iTransportMode == 1)
        return -1;
    CSecureLinkListenMgr *pMgr = GetCoreGlobalCtrl()->GetSecureLinkServerMgr();
    if (pMgr == nullptr)
        return -1;
    secure::SECURE_LISTEN_PARAM param;
    memset(&param, 0, sizeof(param));
    param.stFuns = *pFuns;
    param.iAddressType = iAddressType;
    param.iTransportMode = iTransportMode;
    const int iSecureHandle = pMgr->Create(&param);
    LogModule_Write(LOG_LEVEL_DBG, "Interim_SecureCreate, iSecureHandle[%d], iAddressType[%d], iTransportMode[%d]",
                    iSecureHandle, iAddressType, iTransportMode);
    return iSecureHandle;
}

int Interim_SecureClose(int32_t iListenHandle) {
    CSecureLinkListenMgr *pMgr = GetCoreGlobalCtrl()->GetSecureLinkServerMgr();
    return pMgr != nullptr && pMgr->Destroy(iListenHandle) ? 1 : 0;
}

int Interim_SecureBind(int32_t iListenHandle, const SECURE_SOCK_ADDR *pAddr) {
    if (pAddr == nullptr) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return WithListen(iListenHandle, "Interim_SecureBind", 0, [&](CSecureLinkListenSession *p) {
        const VRUDP_SOCK_ADDR addr = ToVRUDPAddr(*pAddr);
        if (!p->Bind(&addr)) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_SecureBind, Bind Failed", iListenHandle);
            return 0;
        }
        LogModule_Write(LOG_LEVEL_DBG, "[%d]Interim_SecureBind, Bind SUCC, Addr[%s:%d]", iListenHandle, addr.szAddr,
                        addr.wPort);
        return 1;
    });
}

int Interim_SecureGetSockBuffSize(int32_t iListenHandle, int32_t *piSendBufferSize, int32_t *piRecvBufferSize) {
    return ListenOp(iListenHandle, "Interim_SecureGetSockBuffSize", "GetSockBuffSize", [&](CSecureLinkListenSession *p) {
        return p->GetSockBuffSize(piSendBufferSize, piRecvBufferSize);
    });
}

int Interim_SecureSetSockBuffSize(int32_t iListenHandle, int32_t iSendBufferSize, int32_t iRecvBufferSize) {
    return WithListen(iListenHandle, "Interim_SecureSetSockBuffSize", 0, [&](CSecureLinkListenSession *p) {
        const int iRet = p->SetSockBuffSize(iSendBufferSize, iRecvBufferSize) ? 1 : 0;
        LogModule_Write(iRet ? LOG_LEVEL_DBG : LOG_LEVEL_ERR,
                        "[%d]Interim_SecureSetSockBuffSize, SetSockBuffSize %s, iSendBufferSize[%d], iRecvBufferSize[%d]",
                        iListenHandle, iRet ? "SUCC" : "Failed", iSendBufferSize, iRecvBufferSize);
        return iRet;
    });
}

int Interim_SecureSetMTUSize(int32_t iListenHandle, uint16_t usMTUSize) {
    return ListenOp(iListenHandle, "Interim_SecureSetMTUSize", "SetMTUSize",
                    [&](CSecureLinkListenSession *p) { return p->SetMTUSize(usMTUSize); });
}

int Interim_SecureSetNoBlock(int32_t iListenHandle, int32_t bYesNo) {
    return ListenOp(iListenHandle, "Interim_SecureSetNoBlock", "SetNoBlock",
                    [&](CSecureLinkListenSession *p) { return p->SetNoBlock(bYesNo); });
}

int Interim_SecureSetReuseAddr(int32_t iListenHandle, int32_t bYesNo) {
    return ListenOp(iListenHandle, "Interim_SecureSetReuseAddr", "SetReuseAddr",
                    [&](CSecureLinkListenSession *p) { return p->SetReuseAddr(bYesNo); });
}

int Interim_SecureShutDown(int32_t iListenHandle, int32_t iHow) {
    return ListenOp(iListenHandle, "Interim_SecureShutDown", "ShutDown",
                    [&](CSecureLinkListenSession *p) { return p->ShutDown(iHow); });
}

int Interim_SecureServSetRecvFun(int32_t iListenHandle, SECURE_DATA_CALLBACK fnServRecvDataCB, void *pUserData) {
    return WithListen(iListenHandle, "Interim_SecureServSetRecvFun", 0,
                      [&](CSecureLinkListenSession *p) { return p->SetDataCB(fnServRecvDataCB, pUserData); });
}

int Interim_SecureServCloseRemote(int32_t iListenHandle, int32_t iSecureHandle) {
    return WithListen(iListenHandle, "Interim_SecureServCloseRemote", 0,
                      [&](CSecureLinkListenSession *p) { return p->CloseRemoteLink(iSecureHandle); });
}

int Interim_SecureServSendTo(int32_t iListenHandle, const SECURE_SEND_DATA *pSendData) {
    if (pSendData == nullptr) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    return WithListen(iListenHandle, "Interim_SecureServSendTo", -1, [&](CSecureLinkListenSession *p) {
        if (pSendData->iSecureHandle != -1)
            return WithServer(pSendData->iSecureHandle, "Interim_SecureServSendTo", -1, [&](CSecureServerLinkSession *s) {
                // A session of another listen session is not this link's to send on.
                return s->ListenHandle() == iListenHandle ? s->SendData(pSendData) : -1;
            });
        if (pSendData->pAddr == nullptr) {
            SetError(MORVA_ERR_PARAM);
            return -1;
        }
        const VRUDP_SOCK_ADDR addr = ToVRUDPAddr(*pSendData->pAddr);
        return p->SendData(pSendData->pData, int(pSendData->dwDataLen), &addr, pSendData->dwTimeOut);
    });
}

// Data reach the owner only through the callback: the session never keeps them for reading.
int Interim_SecureServRecvFrom(int32_t iSecureHandle, void *, int32_t, uint32_t) {
    return WithServer(iSecureHandle, "Interim_SecureServRecvFrom", -1, [](CSecureServerLinkSession *) { return -1; });
}

int Interim_SecureSetInfo(int32_t iSecureHandle, uint32_t dwCommand, void *pBuf, int32_t iBufLen) {
    return WithServer(iSecureHandle, "Interim_SecureSetInfo", -1, [&](CSecureServerLinkSession *p) {
        const int iRet = p->SetInfo(dwCommand, pBuf, iBufLen);
        LogModule_WriteDebug(kLogCategory, "[%d]Interim_SecureSetInfo, SetInfo, iRet[%d], dwCommand[%d], iBufLen[%d]",
                             iSecureHandle, iRet, int(dwCommand), iBufLen);
        return iRet;
    });
}

} // namespace Vorezi
