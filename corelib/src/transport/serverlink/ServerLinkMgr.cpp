#include "transport/serverlink/ServerLinkMgr.h"

#include <algorithm>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "Utils/Utils.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"
#include "transport/serverlink/tcp/ServerLinkMQTT.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"
#include "transport/serverlink/udp/ServerLinkRQS.h"
#include "transport/serverlink/udp/ServerLinkUDP.h"
#include "transport/serverlink/vrudp/ServerLinkVRUDP.h"
#include "transport/serverlink/vrudp/ServerLinkVRUDPStream.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {

constexpr unsigned kServerLinkMembers = SERVER_LINK_MAX_HANDLES;
constexpr int kPoolIdleMs = 60000;

template <class T>
CServerLinkBase *NewServerLink(int nPoolIndex) {
    return new (nPoolIndex) T;
}

// The factory: one row per server-link class, by the byProType of the creation record. A
// transport adds its row here; the member pool's unit follows the largest class.
struct ServerLinkClass {
    BYTE byProType;
    CServerLinkBase *(*fnNew)(int nPoolIndex);
    size_t uSize;
};

constexpr ServerLinkClass kServerLinkClasses[] = {
    {SERVER_LINK_PRO_TCP, NewServerLink<CServerLinkTCP>, sizeof(CServerLinkTCP)},
    {SERVER_LINK_PRO_UDP, NewServerLink<CServerLinkUDP>, sizeof(CServerLinkUDP)},
    {SERVER_LINK_PRO_RQS, NewServerLink<CServerLinkRQS>, sizeof(CServerLinkRQS)},
    {SERVER_LINK_PRO_RQS_DTLS, NewServerLink<CServerLinkRQSDTLS>, sizeof(CServerLinkRQSDTLS)},
    {SERVER_LINK_PRO_VRUDP_STREAM, NewServerLink<CServerLinkVRUDPStream>, sizeof(CServerLinkVRUDPStream)},
    {SERVER_LINK_PRO_VRUDP, NewServerLink<CServerLinkVRUDP>, sizeof(CServerLinkVRUDP)},
    {SERVER_LINK_PRO_MQTT, NewServerLink<CServerLinkMQTT>, sizeof(CServerLinkMQTT)},
};

const ServerLinkClass *FindServerLinkClass(BYTE byProType) {
    for (const ServerLinkClass &c : kServerLinkClasses)
        if (c.byProType == byProType)
            return &c;
    return nullptr;
}

}  // namespace

size_t CServerLinkMgr::MaxServerLinkSize() {
    size_t uMax = 0;
    for (const ServerLinkClass &c : kServerLinkClasses)
        uMax = std::max(uMax, c.uSize);
    return uMax;
}

CServerLinkMgr::CServerLinkMgr(int iMaxThreads, int iStackSize) : CMemberMgrBase(kServerLinkMembers) {
    if (!CreateMemoryPool((DWORD)MaxServerLinkSize(), 16, 0, 0, 0)) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMgr::CServerLinkMgr, CreateMemoryPool Failed");
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    LogModule_Write(LOG_LEVEL_DBG, "CServerLinkMgr::CServerLinkMgr, CreateMemoryPool SUCC, MemPoolIndex[%d]",
                    GetMemPoolIndex());
    m_hThreadPool = YAR_ThreadPoolFlex_Create(iMaxThreads, kPoolIdleMs, CServerLinkTCP::TCPLinkProc, iStackSize);
    if (m_hThreadPool)
        m_bPoolCreated = 1;
    else
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMgr::CServerLinkMgr, YAR_ThreadPoolFlex_Create Failed, syserror[%d]",
                        YAR_GetSystemLastError());
    m_iMaxThreads = iMaxThreads;
}

// Every link is stopped and deleted before the pool goes: a TCP link's stop needs the pool's
// workers to end its connections and to close the items still queued for it.
CServerLinkMgr::~CServerLinkMgr() {
    StopAndDeleteMembers();
    if (m_hThreadPool)
        YAR_ThreadPoolFlex_Destroy(m_hThreadPool);
    m_hThreadPool = nullptr;
    m_bPoolCreated = 0;
}

void CServerLinkMgr::StopAndDeleteMembers() {
    const int iTotal = (int)GetTotalNum();
    // First every TCP link stops listening and wakes its workers, so that pool threads held
    // by one link's connections come free for the items queued for another.
    for (int i = 0; i < iTotal; i++) {
        CMemberLockGuard lock(this, i, true);
        if (auto *pTCP = lock.Get<CServerLinkTCP>())
            pTCP->BeginStop();
    }
    for (int i = 0; i < iTotal; i++) {
        if (GetMember(i))
            FreeIndex(i, 1);
    }
}

int CServerLinkMgr::CheckResource() {
    return m_bPoolCreated && CMemberMgrBase::CheckResource() ? 1 : 0;
}

CMemberBase *CServerLinkMgr::NewMemoryObject(void *pParam) {
    const auto *pCond = static_cast<const SERVER_LINK_COND *>(pParam);
    if (!pCond) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMgr::NewMemoryObject, pCond == NULL");
        Utils_Assert();
        return nullptr;
    }
    const ServerLinkClass *pClass = FindServerLinkClass(pCond->byProType);
    if (!pClass) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMgr::NewMemoryObject, Invalid byProType[%d]", pCond->byProType);
        return nullptr;
    }
    try {
        return pClass->fnNew(GetMemPoolIndex());
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMgr::NewMemoryObject, new CServerLinkBase exception!!, byProType[%d]",
                        pCond->byProType);
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CServerLinkMgr::Create(const SERVER_LINK_COND *pCond) {
    void *pParam = const_cast<SERVER_LINK_COND *>(pCond);
    return AllocIndex2(pParam, pParam);
}

int CServerLinkMgr::Destroy(int iHandle) {
    return FreeIndex(iHandle, 1);
}

CServerLinkMgr *GetServerLinkMgr() {
    return GetCoreGlobalCtrl()->GetServerLinkMgr();
}

}  // namespace Vorezi
