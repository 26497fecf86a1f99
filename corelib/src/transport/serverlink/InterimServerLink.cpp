#include "transport/serverlink/InterimServerLink.h"

#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "internal/MorvaInternal.h"
#include "transport/serverlink/ServerLinkMgr.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr DWORD kWaitStepMs = 5;

bool ValidStreamLink(int iStreamLink) {
    if (iStreamLink >= 0 && iStreamLink < SERVER_LINK_TCP_SLOTS)
        return true;
    SetError(MORVA_ERR_PARAM);
    return false;
}

}  // namespace

int Interim_CreateServerLink(const SERVER_LINK_COND *pCond) {
    CServerLinkMgr *pMgr = GetServerLinkMgr();
    return pMgr ? pMgr->Create(pCond) : -1;
}

int Interim_DestroyServerLink(int iLinkHandle) {
    CServerLinkMgr *pMgr = GetServerLinkMgr();
    return pMgr ? pMgr->Destroy(iLinkHandle) : 0;
}

int Interim_CloseServerLink(int iLinkHandle) {
    CMemberLockGuard lock(GetServerLinkMgr(), iLinkHandle);
    if (!lock.IsLocked())
        return 0;
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CloseServerLink, GetMember Failed, iLinkHandle[%d]", iLinkHandle);
        return 0;
    }
    return pLink->CloseServerLink();
}

int Interim_CloseAcceptHandle(int iLinkHandle, int iAcceptHandle) {
    CMemberLockGuard lock(GetServerLinkMgr(), iLinkHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CloseAcceptHandle, ReadLockMember Failed, iLinkHandle[%d], iAcceptHandle[%d]",
                        iLinkHandle, iAcceptHandle);
        return -1;
    }
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CloseAcceptHandle, GetMember Failed, iLinkHandle[%d], iAcceptHandle[%d]",
                        iLinkHandle, iAcceptHandle);
        return -1;
    }
    const int iResult = pLink->CloseAcceptHandle(iAcceptHandle);
    if (iResult != 0)
        LogModule_Write(LOG_LEVEL_ERR,
                        "Interim_CloseAcceptHandle, CloseAcceptHandle Failed, iLinkHandle[%d], iAcceptHandle[%d], pLink[0x%X]",
                        iLinkHandle, iAcceptHandle, MORVA_PTR_ARG(pLink));
    return iResult;
}

int Interim_ServerLinkSendData(int iLinkHandle, const SERVER_LINK_SEND_PARAM *pParam) {
    CMemberLockGuard lock(GetServerLinkMgr(), iLinkHandle);
    if (!lock.IsLocked())
        return -1;
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_ServerLinkSendData, GetMember Failed, iLinkHandle[%d]", iLinkHandle);
        return -1;
    }
    return pLink->SendData(pParam);
}

int Interim_SetInfo(int iLinkHandle, int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) {
    CMemberLockGuard lock(GetServerLinkMgr(), iLinkHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetInfo, ReadLockMember Failed, iLinkHandle[%d], iAcceptHandle[%d], dwCommand[%d]",
                        iLinkHandle, iAcceptHandle, (int)dwCommand);
        return -1;
    }
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetInfo, GetMember Failed, iLinkHandle[%d], iAcceptHandle[%d], dwCommand[%d]",
                        iLinkHandle, iAcceptHandle, (int)dwCommand);
        return -1;
    }
    return pLink->SetInfo(iAcceptHandle, dwCommand, pBuf, iBufLen);
}

int Interim_ExitRecvThread(int iListenLink, int iStreamLink) {
    CMemberLockGuard lock(GetServerLinkMgr(), iListenLink, true);
    if (!lock.IsLocked())
        return 0;
    if (CServerLinkTCP *pLink = lock.Get<CServerLinkTCP>())
        pLink->ExitRecvThread(iStreamLink);
    else
        LogModule_Write(LOG_LEVEL_ERR, "Interim_ExitRecvThread, GetMember Failed, iListenLink[%d], iStreamLink[%d]",
                        iListenLink, iStreamLink);
    return lock.Unlock();
}

int Interim_ExitRecvThreadEx(int iListenLink, YAR_ADDR_T struPeerAddr) {
    CMemberLockGuard lock(GetServerLinkMgr(), iListenLink, true);
    if (!lock.IsLocked())
        return 0;
    if (CServerLinkRQSDTLS *pLink = lock.Get<CServerLinkRQSDTLS>())
        pLink->DelDtlsInfo(struPeerAddr);
    else
        LogModule_Write(LOG_LEVEL_ERR, "Interim_ExitRecvThread, GetMember Failed, iListenLink[%d]", iListenLink);
    return lock.Unlock();
}

void Interim_SetPreviewHandle(int iListenLink, int iStreamLink, int iPreviewHandle) {
    if (!ValidStreamLink(iStreamLink))
        return;
    CMemberLockGuard lock(GetServerLinkMgr(), iListenLink, true);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "Interim_SetPreviewHandle, LockMember Failed, iListenLink[%d], iStreamLink[%d], iPreviewHandle[%d]",
                        iListenLink, iStreamLink, iPreviewHandle);
        return;
    }
    if (CServerLinkTCP *pLink = lock.Get<CServerLinkTCP>())
        pLink->SetAcceptSlot(iStreamLink, iPreviewHandle);
}

// The lock is taken for each look only: a worker of this link that answers through the shared
// lock (send, set info, close) must be able to finish while we wait for it.
void Interim_WaitRecvThread(int iListenLink, int iStreamLink) {
    if (!ValidStreamLink(iStreamLink))
        return;
    for (bool bFirst = true;; bFirst = false) {
        CMemberLockGuard lock(GetServerLinkMgr(), iListenLink, true);
        if (!lock.IsLocked()) {
            if (bFirst)
                LogModule_Write(LOG_LEVEL_ERR, "Interim_WaitRecvThread, LockMember Failed, iListenLink[%d], iStreamLink[%d]",
                                iListenLink, iStreamLink);
            return;
        }
        CServerLinkTCP *pLink = lock.Get<CServerLinkTCP>();
        if (!pLink) {
            if (bFirst)
                LogModule_Write(LOG_LEVEL_ERR, "Interim_WaitRecvThread, GetMember Failed, iListenLink[%d], iStreamLink[%d]",
                                iListenLink, iStreamLink);
            return;
        }
        if (pLink->IsAcceptSlotFinished(iStreamLink))
            return;
        lock.Unlock();
        YAR_Sleep(kWaitStepMs);
    }
}

}  // namespace Vorezi
