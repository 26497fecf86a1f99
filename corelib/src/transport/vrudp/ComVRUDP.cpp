#include "transport/vrudp/ComVRUDP.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "transport/vrudp/VRUDPWire.h"
#include "transport/vrudp/link/VRUDPLink.h"

namespace Vorezi {

namespace {

// Core errors of these functions beside the shared ones.
constexpr int kErrConnect = 7;
constexpr int kErrRecv = 9;
constexpr int kErrBind = 72;
constexpr int kErrListen = 75;

bool ValidHandle(int iHandle) {
    return iHandle >= 0 && iHandle <= vrudp::kMaxHandle;
}

// Runs fn on the handle's endpoint under its read lock: fn's result, or iFail with error 17.
template <class F>
int WithEndpoint(int iHandle, int iFail, F fn) {
    if (ValidHandle(iHandle)) {
        CRWGuard guard(iHandle);
        if (auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member()))
            return fn(pEndpoint);
    }
    SetError(MORVA_ERR_PARAM);
    return iFail;
}

// Closing an endpoint from its own thread would join that very thread.
bool RefuseOwnThreadClose(int iHandle, const char *pFunc) {
    CRWGuard guard(iHandle);
    auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member());
    if (!pEndpoint || !pEndpoint->IsOwnThread())
        return false;
    LogModule_Write(LOG_LEVEL_ERR, "[%d]%s, Called From the Endpoint's Own Thread, Refused", iHandle, pFunc);
    SetError(MORVA_ERR_PARAM);
    return true;
}

}  // namespace

int Interim_VRUDP_Create(const VRUDP_CREATE_COND *pCond) {
    if (!pCond) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_VRUDP_Create, NULL == pCond");
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (pCond->enumMode != ENUM_VRUDP_MODE_SERVER && pCond->enumMode != ENUM_VRUDP_MODE_CLIENT) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_VRUDP_Create, Invalid enumMode[%d]", pCond->enumMode);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (pCond->enumType != ENUM_VRUDP_TYPE_ENDPOINT && pCond->enumType != ENUM_VRUDP_TYPE_LINK) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_VRUDP_Create, Invalid enumType[%d]", pCond->enumType);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    VRUDP_LINK_NEW stNew;
    std::memcpy(&stNew.stCond, pCond, sizeof stNew.stCond);
    stNew.iKind = 1;
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    int iHandle = pMgr ? pMgr->Create(&stNew) : -1;
    if (iHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_VRUDP_Create, Create Failed, iAf[%d], enumType[%d]", pCond->iAf,
                        pCond->enumType);
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    LogModule_Write(LOG_LEVEL_INF, "Interim_VRUDP_Create, SUCC, iVRUDPHandle[%d], iAf[%d], enumType[%d]", iHandle,
                    pCond->iAf, pCond->enumType);
    return iHandle;
}

int Interim_VRUDP_Bind(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr) {
    if (!ValidHandle(iVRUDPHandle)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_VRUDP_Bind, Invalid iVRUDPHandle", iVRUDPHandle);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pstSockAddr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_VRUDP_Bind, NULL == pstSockAddr", iVRUDPHandle);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CRWGuard guard(iVRUDPHandle);
    int iRet = guard.Member() ? guard.Member()->Bind(pstSockAddr) : 0;
    if (iRet) {
        LogModule_Write(LOG_LEVEL_INF, "[%d]Interim_VRUDP_Bind, SUCC, Addr[%s:%d]", iVRUDPHandle, pstSockAddr->szAddr,
                        pstSockAddr->wPort);
        return iRet;
    }
    LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_VRUDP_Bind, Failed, Addr[%s:%d]", iVRUDPHandle, pstSockAddr->szAddr,
                    pstSockAddr->wPort);
    SetError(kErrBind);
    return 0;
}

int Interim_VRUDP_Listen(int iVRUDPHandle, void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CRWGuard guard(iVRUDPHandle);
    int iRet = guard.Member() ? guard.Member()->Listen(pUser, fnRecvCB) : 0;
    if (iRet == 0)
        SetError(kErrListen);
    return iRet;
}

int Interim_VRUDP_Close(int iVRUDPHandle) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (RefuseOwnThreadClose(iVRUDPHandle, "Interim_VRUDP_Close"))
        return 0;
    {
        CRWGuard guard(iVRUDPHandle);
        if (CHRUdpBase *pObj = guard.Member()) {
            pObj->SendFin();
            int iFather = pObj->GetFatherLink();
            if (iFather >= 0) {
                CRWGuard father(iFather);
                if (father.Member())
                    father.Member()->RemoveAcceptHandle(iVRUDPHandle);
                LogModule_Write(LOG_LEVEL_INF, "[%d]Interim_VRUDP_Close SUCC, With iFatherLink[%d]", iVRUDPHandle,
                                iFather);
                return 1;
            }
        }
    }
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    int iRet = pMgr ? pMgr->Destroy(iVRUDPHandle) : 0;
    LogModule_Write(iRet ? LOG_LEVEL_INF : LOG_LEVEL_ERR, iRet ? "[%d]Interim_VRUDP_Close SUCC" : "[%d]Interim_VRUDP_Close Failed",
                    iVRUDPHandle);
    return iRet;
}

int COM_VRUDP_Create(const VRUDP_CREATE_COND *pCond) {
    return Interim_VRUDP_Create(pCond);
}

int COM_VRUDP_Bind(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr) {
    return Interim_VRUDP_Bind(iVRUDPHandle, pstSockAddr);
}

int COM_VRUDP_Listen(int iVRUDPHandle, void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) {
    return Interim_VRUDP_Listen(iVRUDPHandle, pUser, fnRecvCB);
}

int COM_VRUDP_Close(int iVRUDPHandle) {
    return Interim_VRUDP_Close(iVRUDPHandle);
}

int COM_VRUDP_Connect(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pstSockAddr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]COM_VRUDP_Connect, NULL == pstSockAddr", iVRUDPHandle);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CRWGuard guard(iVRUDPHandle);
    int iRet = guard.Member() ? guard.Member()->ConnectRemote(pstSockAddr, nTimeOut) : 0;
    if (iRet == 1)
        LogModule_Write(LOG_LEVEL_INF, "[%d]COM_VRUDP_Connect, SUCC, Remote Addr[%s:%d]", iVRUDPHandle,
                        pstSockAddr->szAddr, pstSockAddr->wPort);
    else
        SetError(kErrConnect);
    return iRet;
}

int COM_VRUDP_CloseConnect(int iVRUDPHandle) {
    if (ValidHandle(iVRUDPHandle) && RefuseOwnThreadClose(iVRUDPHandle, "COM_VRUDP_CloseConnect"))
        return 0;
    int iRet = WithEndpoint(iVRUDPHandle, 0, [](CHRUdpCommand *pEndpoint) {
        pEndpoint->SendFin();
        pEndpoint->CloseHRObj(pEndpoint->GetEntry(0), 1);
        return 1;
    });
    if (!iRet)
        LogModule_Write(LOG_LEVEL_ERR, "[%d]COM_VRUDP_CloseConnect, Failed", iVRUDPHandle);
    return iRet;
}

int COM_VRUDP_SendTo(int iVRUDPHandle, const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr,
                     uint32_t nTimeOut) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    CRWGuard guard(iVRUDPHandle);
    if (!guard.Member())
        return -1;
    int iRet = guard.Member()->SendTo(pData, iBufLen, pstSockAddr, nTimeOut);
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]COM_VRUDP_SendTo, SendTo Failed, iBufLen[%d], Addr[%s:%d]", iVRUDPHandle,
                        iBufLen, pstSockAddr ? pstSockAddr->szAddr : "", pstSockAddr ? pstSockAddr->wPort : 0);
        // A refusal that set its own reason (stopped 12, too long 17) keeps it.
        int iErr = LastError();
        if (iErr != MORVA_ERR_NOT_READY && iErr != MORVA_ERR_PARAM)
            SetError(MORVA_ERR_SEND);
    }
    return iRet;
}

int COM_VRUDP_RecvFrom(int iVRUDPHandle, void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    CRWGuard guard(iVRUDPHandle);
    if (!guard.IsLocked()) {
        CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
        bool bFree = !pMgr || !pMgr->GetObject(iVRUDPHandle);
        if (bFree)
            SetError(MORVA_ERR_PARAM);
        return bFree ? -1 : 0;
    }
    VRUDP_SOCK_ADDR stAddr = {};
    int iRet = guard.Member()->RecvFrom(pBuf, iBufCount, &stAddr, nTimeOut);
    if (iRet > 0 && pstSockAddr)
        *pstSockAddr = stAddr;
    if (iRet < 0)
        SetError(kErrRecv);
    return iRet;
}

int COM_VRUDP_GetSocket(int iVRUDPHandle) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    CRWGuard guard(iVRUDPHandle);
    return guard.Member() ? guard.Member()->GetSocket() : -1;
}

int COM_VRUDP_GetSockBuffSize(int iVRUDPHandle, int *piSndBuffSize, int *piRcvBuffSize) {
    return WithEndpoint(iVRUDPHandle, 0, [&](CHRUdpCommand *pEndpoint) {
        return pEndpoint->GetSockBuffSize(piSndBuffSize, piRcvBuffSize) == 0 ? 1 : 0;
    });
}

int COM_VRUDP_SetSockBuffSize(int iVRUDPHandle, int iSndBuffSize, int iRcvBuffSize) {
    if (ValidHandle(iVRUDPHandle)) {
        CRWGuard guard(iVRUDPHandle);
        if (guard.Member())
            return guard.Member()->SetSockBuffSize(iSndBuffSize, iRcvBuffSize);
    }
    SetError(MORVA_ERR_PARAM);
    return 0;
}

int COM_VRUDP_SetNoBlock(int iVRUDPHandle, int bNoBlock) {
    return WithEndpoint(iVRUDPHandle, 0, [&](CHRUdpCommand *pEndpoint) {
        pEndpoint->SetNoBlock(bNoBlock);
        return 1;
    });
}

int COM_VRUDP_SetReuseAddr(int iVRUDPHandle, int bReuse) {
    return WithEndpoint(iVRUDPHandle, 0,
                        [&](CHRUdpCommand *pEndpoint) { return pEndpoint->SetReuseAddr(bReuse) == 0 ? 1 : 0; });
}

int COM_VRUDP_SetRecvFun(int iVRUDPHandle, VRUDP_RECV_CALLBACK fnRecvCB, void *pUser) {
    if (!ValidHandle(iVRUDPHandle))
        return 0;
    return WithEndpoint(iVRUDPHandle, 0,
                        [&](CHRUdpCommand *pEndpoint) { return pEndpoint->SetRecvFun(fnRecvCB, pUser); });
}

int COM_VRUDP_ShutDown(int iVRUDPHandle, int iHow) {
    if (iHow >= 3 || !ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CRWGuard guard(iVRUDPHandle);
    if (!guard.Member()) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    guard.Member()->SendFin();
    int iSysHow = iHow == 0 ? 0 : iHow == 1 ? 1 : 2;
    return guard.Member()->ShutDown(iSysHow) == 0 ? 1 : 0;
}

int COM_VRUDP_SetStreamAjustParam(int iVRUDPHandle, const VRUDP_STREAM_ADJUST_PARAM *pAdjustParam) {
    if (!ValidHandle(iVRUDPHandle)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pAdjustParam) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    CRWGuard guard(iVRUDPHandle);
    auto *pLink = dynamic_cast<CVRUDPLink *>(guard.Member());
    int iRet = pLink ? pLink->SetAjustParam(pAdjustParam) : 0;
    LogModule_Write(iRet ? LOG_LEVEL_INF : LOG_LEVEL_ERR,
                    "[%d]COM_VRUDP_SetStreamAjustParam, iRet[%d], dwSendWndMax[%u], dwOneSendWnd[%u], "
                    "dwResendCountMax[%u], dwMaxGoBackTime[%u]",
                    iVRUDPHandle, iRet, pAdjustParam->dwSendWndMax, pAdjustParam->dwOneSendWnd,
                    pAdjustParam->dwResendCountMax, pAdjustParam->dwMaxGoBackTime);
    if (!iRet)
        SetError(MORVA_ERR_PARAM);
    return iRet;
}

int COM_VRUDP_SetStreamBitrate(int iVRUDPHandle, uint32_t dwBitrate) {
    int iRet = 0;
    if (ValidHandle(iVRUDPHandle)) {
        CRWGuard guard(iVRUDPHandle);
        if (auto *pLink = dynamic_cast<CVRUDPLink *>(guard.Member()))
            iRet = pLink->SetBitrate(dwBitrate);
    }
    LogModule_Write(iRet ? LOG_LEVEL_INF : LOG_LEVEL_ERR, "[%d]COM_VRUDP_SetStreamBitrate, iRet[%d], dwBitrate[%u]",
                    iVRUDPHandle, iRet, dwBitrate);
    if (!iRet)
        SetError(MORVA_ERR_PARAM);
    return iRet;
}

int COM_VRUDP_SetMTUSize(int, uint16_t) {
    return 1;
}

}  // namespace Vorezi
