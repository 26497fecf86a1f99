#include "transport/serverlink/InterimServerLink.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/serverlink/ServerLinkMgr.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr DWORD kWaitStepMs = 5;

// One member's lock taken through the manager for the guard's lifetime. A missing manager
// counts as a failed lock.
class MemberLock {
public:
    MemberLock(int iHandle, bool bExclusive)
        : m_pMgr(GetServerLinkMgr()), m_iHandle(iHandle), m_bExclusive(bExclusive) {
        if (m_pMgr)
            m_bLocked = (bExclusive ? m_pMgr->WriteLockMember(iHandle) : m_pMgr->ReadLockMember(iHandle)) != 0;
    }
    ~MemberLock() { Unlock(); }
    MemberLock(const MemberLock &) = delete;
    MemberLock &operator=(const MemberLock &) = delete;

    bool Locked() const { return m_bLocked; }
    // The member when it is of class T, else null.
    template <class T>
    T *Get() const {
        return m_bLocked ? dynamic_cast<T *>(m_pMgr->GetMember(m_iHandle)) : nullptr;
    }
    int Unlock() {
        if (!m_bLocked)
            return 0;
        m_bLocked = false;
        return m_bExclusive ? m_pMgr->WriteUnlockMember(m_iHandle) : m_pMgr->ReadUnlockMember(m_iHandle);
    }

private:
    CServerLinkMgr *m_pMgr;
    int m_iHandle;
    bool m_bExclusive;
    bool m_bLocked = false;
};

bool ValidStreamLink(int iStreamLink) {
    if (iStreamLink >= 0 && iStreamLink < SERVER_LINK_TCP_SLOTS)
        return true;
    SetError(SERVER_LINK_ERR_PARAM);
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
    MemberLock lock(iLinkHandle, false);
    if (!lock.Locked())
        return 0;
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CloseServerLink, GetMember Failed, iLinkHandle[%d]", iLinkHandle);
        return 0;
    }
    return pLink->CloseServerLink();
}

int Interim_CloseAcceptHandle(int iLinkHandle, int iAcceptHandle) {
    MemberLock lock(iLinkHandle, false);
    if (!lock.Locked()) {
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
    MemberLock lock(iLinkHandle, false);
    if (!lock.Locked())
        return -1;
    CServerLinkBase *pLink = lock.Get<CServerLinkBase>();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_ServerLinkSendData, GetMember Failed, iLinkHandle[%d]", iLinkHandle);
        return -1;
    }
    return pLink->SendData(pParam);
}

int Interim_SetInfo(int iLinkHandle, int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) {
    MemberLock lock(iLinkHandle, false);
    if (!lock.Locked()) {
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
    MemberLock lock(iListenLink, true);
    if (!lock.Locked())
        return 0;
    if (CServerLinkTCP *pLink = lock.Get<CServerLinkTCP>())
        pLink->ExitRecvThread(iStreamLink);
    else
        LogModule_Write(LOG_LEVEL_ERR, "Interim_ExitRecvThread, GetMember Failed, iListenLink[%d], iStreamLink[%d]",
                        iListenLink, iStreamLink);
    return lock.Unlock();
}

int Interim_ExitRecvThreadEx(int iListenLink, YAR_ADDR_T struPeerAddr) {
    MemberLock lock(iListenLink, true);
    if (!lock.Locked())
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
    MemberLock lock(iListenLink, true);
    if (!lock.Locked()) {
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
        MemberLock lock(iListenLink, true);
        if (!lock.Locked()) {
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
