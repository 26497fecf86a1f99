// The server route: the map of per-peer loopback pairs, the thread that reads what consumers
// write back, and the pool that hands it to the send callback.
#include "transport/serverlink/udp/ServerRoute.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <sys/socket.h>

#include <cstdio>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int kFamilyIPv4 = 2;
constexpr int kTypeDatagram = 2;
constexpr uint32_t kRouteThreadStack = 0x40000;
constexpr int32_t kPoolMaxThreads = 32;
constexpr int32_t kPoolIdleMs = 60000;
constexpr int32_t kPoolStack = 0x20000;
constexpr uint32_t kIdleSleepMs = 10;
// The wait of one pass. Short, so that Stop does not wait a whole second for the thread.
constexpr int kPollMs = 100;
constexpr int kAddrTextLen = 128;

enum {
    ERR_ROUTE_BIND = 72,
    ERR_ROUTE_SOCKET = 44,
};

}  // namespace

std::string Morva_AddrToString(const YAR_ADDR_T *pAddr) {
    char szText[kAddrTextLen + 1] = {0};
    if (!pAddr || !YAR_GetAddrStringEx(pAddr, szText, sizeof(szText)))
        return std::string();
    char szKey[kAddrTextLen + 8];
    std::snprintf(szKey, sizeof(szKey), "%s:%d", szText, static_cast<int>(YAR_GetAddrPort(pAddr)));
    return szKey;
}

CServerRoute::CServerRoute(size_t uMaxRoutes) : m_uMaxRoutes(uMaxRoutes) {
    if (YAR_MutexCreate(&m_csMapLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerRoute::CServerRoute, YAR_MutexCreate Failed, syserror[%d]", Utils_GetSysLastError());
        SetError(MORVA_ERR_PARAM);
        return;
    }
    m_bInitLock = 1;
}

CServerRoute::~CServerRoute() {
    Stop();
    if (m_iWakeFd >= 0)
        close(m_iWakeFd);
    if (m_bInitLock)
        YAR_MutexDestroy(&m_csMapLock);
}

uint32_t CServerRoute::DefaultTick() {
    return static_cast<uint32_t>(YAR_GetTimeTick());
}

int CServerRoute::Start(const SERVER_ROUTE_CALLBACKS *pMsg) {
    if (!m_bInitLock) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Start, m_bInitLock is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!pMsg) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Start, pMsg == NULL", MORVA_PTR_ARG(this));
        return 0;
    }
    m_Callbacks = *pMsg;
    if (m_iWakeFd < 0)
        m_iWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_iWakeFd < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Start, eventfd Failed, syserror[%d]", MORVA_PTR_ARG(this),
                        Utils_GetSysLastError());
        return 0;
    }
    m_bStop.store(0);
    m_hRouteThread = YAR_Thread_Create(RouteThread, this, kRouteThreadStack, 0, 0, 0);
    if (m_hRouteThread == YAR_INVALID_THREAD) {
        m_bStop.store(1);
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Start, YAR_Thread_Create Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    m_hRoutePool = YAR_ThreadPoolFlex_Create(kPoolMaxThreads, kPoolIdleMs, DistributeThreadPoolProcessLocal, kPoolStack);
    if (!m_hRoutePool) {
        m_bStop.store(1);
        YAR_Thread_Wait(m_hRouteThread);
        m_hRouteThread = YAR_INVALID_THREAD;
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Start, YAR_ThreadPoolFlex_Create Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), Utils_GetSysLastError());
        return 0;
    }
    return 1;
}

int CServerRoute::Stop() {
    if (!m_bInitLock) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::Stop, m_bInitLock is False", MORVA_PTR_ARG(this));
        return 0;
    }
    m_bStop.store(1);
    if (m_hRouteThread != YAR_INVALID_THREAD) {
        Wake();
        YAR_Thread_Wait(m_hRouteThread);
        m_hRouteThread = YAR_INVALID_THREAD;
    }
    if (m_hRoutePool) {
        YAR_ThreadPoolFlex_Destroy(m_hRoutePool);
        m_hRoutePool = nullptr;
    }
    FreeDroppedItems();
    int nCount;
    {
        yar::yar_guard map(&m_csMapLock);
        nCount = static_cast<int>(m_mapRoute.size());
        for (const auto &entry : m_mapRoute)
            CloseRoute(entry.second);
        m_mapRoute.clear();
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CServerRoute::Stop, Finish, nCount[%d]", MORVA_PTR_ARG(this), nCount);
    return 1;
}

int CServerRoute::ProcessRecvedClientData(const void *pData, int iLen, const YAR_ADDR_T *pAddr) {
    std::string strKey = Morva_AddrToString(pAddr);
    if (strKey.empty())
        return 0;
    ROUTE_INFO route;
    int iSent = 0;
    // A deleted route that is still draining takes the datagram too.
    const bool bFound = SendIntoRoute(strKey, pData, iLen, &route, &iSent);
    if (bFound) {
        if (iSent < 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CServerRoute::ProcessRecvedClientData, YAR_SendTo Failed, sockIn[%d], syserror[%d], Addr[%s]",
                            MORVA_PTR_ARG(this), route.sockIn, Utils_GetSysLastError(), strKey.c_str());
            SetError(MORVA_ERR_SEND);
            return 0;
        }
        if (m_Callbacks.m_fnPostDTLSServerDataCb && !m_Callbacks.m_fnPostDTLSServerDataCb(m_Callbacks.pUser, *pAddr))
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CServerRoute::ProcessRecvedClientData, m_fnPostDTLSServerDataCb Failed, Addr[%s]",
                            MORVA_PTR_ARG(this), strKey.c_str());
        return 1;
    }

    if (!MakeRoute(strKey, &route, pAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::ProcessRecvedClientData, MakeRoute Failed, Addr[%s]",
                        MORVA_PTR_ARG(this), strKey.c_str());
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CServerRoute::ProcessRecvedClientData, MakeRoute SUCC, Addr[%s]",
                    MORVA_PTR_ARG(this), strKey.c_str());
    // No post for the first datagram: the consumer the create callback made reads it itself.
    int iSendLength = -1;
    SendIntoRoute(strKey, pData, iLen, &route, &iSendLength);
    if (iSendLength < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::ProcessRecvedClientData, YAR_SendTo Failed, syserror[%d], Addr[%s]",
                        MORVA_PTR_ARG(this), Utils_GetSysLastError(), strKey.c_str());
        SetError(MORVA_ERR_SEND);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG,
                    "[0x%X]CServerRoute::ProcessRecvedClientData, YAR_SendTo Succ, strKeyAddr[%s], iSendLength[%d]",
                    MORVA_PTR_ARG(this), strKey.c_str(), iSendLength);
    return 1;
}

// The send happens under the map lock: the route thread closes a drained route's sockets under
// it, and a closed number may already belong to another socket.
bool CServerRoute::SendIntoRoute(const std::string &strKey, const void *pData, int iLen, ROUTE_INFO *pRoute,
                                 int *pSent) {
    yar::yar_guard map(&m_csMapLock);
    auto it = m_mapRoute.find(strKey);
    const bool bFound = it != m_mapRoute.end();
    if (bFound) {
        *pRoute = it->second;
        *pSent = YAR_SendTo(pRoute->sockIn, pData, iLen, &pRoute->addrLoop);
    }
    return bFound;
}

int CServerRoute::MakeRoute(const std::string &strKey, ROUTE_INFO *pRoute, const YAR_ADDR_T *pAddr) {
    if (!m_Callbacks.fnCreateCb || !pRoute || !pAddr)
        return 0;
    ROUTE_INFO route = {};
    route.sockIn = YAR_INVALID_SOCKET;
    route.sockOut = YAR_INVALID_SOCKET;
    const char *pFailText = nullptr;
    int iError = 0;
    do {
        route.sockIn = YAR_CreateSocket(kFamilyIPv4, kTypeDatagram, 0);
        if (route.sockIn < 0 || YAR_SetNonBlock(route.sockIn, 1) != 0) {
            pFailText = "[0x%X]CServerRoute::MakeRoute, YAR_CreateSocket routeIn Failed, syserror[%d]";
            iError = ERR_ROUTE_SOCKET;
            break;
        }
        route.sockOut = YAR_CreateSocket(kFamilyIPv4, kTypeDatagram, 0);
        if (route.sockOut < 0) {
            pFailText = "[0x%X]CServerRoute::MakeRoute, YAR_CreateSocket routeOut Failed, syserror[%d]";
            iError = ERR_ROUTE_SOCKET;
            break;
        }
        if (YAR_MakeAddrByString(kFamilyIPv4, "127.0.0.1", 0, &route.addrLoop) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "CServerRoute::MakeRoute, YAR_MakeAddrByString Failed, syserror[%d]", Utils_GetSysLastError());
            iError = MORVA_ERR_PARAM;
            break;
        }
        if (YAR_Bind(route.sockOut, &route.addrLoop) != 0) {
            pFailText = "[0x%X]CServerRoute::MakeRoute, YAR_Bind Failed, syserror[%d]";
            iError = ERR_ROUTE_BIND;
            break;
        }
        if (YAR_GetAddrBySockFd(route.sockOut, &route.addrLoop, nullptr) != 0) {
            pFailText = "[0x%X]CServerRoute::MakeRoute, YAR_GetAddrBySockFd Failed, syserror[%d]";
            iError = MORVA_ERR_ALLOC;
            break;
        }
    } while (false);
    if (iError != 0) {
        if (pFailText)
            LogModule_Write(LOG_LEVEL_ERR, pFailText, MORVA_PTR_ARG(this), Utils_GetSysLastError());
        SetError(iError);
        CloseRoute(route);
        return 0;
    }
    route.addrPeer = *pAddr;
    route.bValid = 1;

    size_t uCount;
    bool bInserted;
    {
        yar::yar_guard map(&m_csMapLock);
        uCount = m_mapRoute.size();
        bInserted = uCount < m_uMaxRoutes && m_mapRoute.emplace(strKey, route).second;
    }
    if (!bInserted) {
        if (uCount >= m_uMaxRoutes) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::MakeRoute, Route Limit Reached, nCount[%d], Addr[%s]",
                            MORVA_PTR_ARG(this), static_cast<int>(uCount), strKey.c_str());
            SetError(MORVA_ERR_MEMBER_FULL);
        }
        CloseRoute(route);
        return 0;
    }

    if (!m_Callbacks.fnCreateCb(m_Callbacks.pUser, route.sockOut, *pAddr)) {
        // No route is left behind: the peer's next datagram tries again.
        {
            yar::yar_guard map(&m_csMapLock);
            m_mapRoute.erase(strKey);
        }
        CloseRoute(route);
        return 0;
    }
    Wake();
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CServerRoute::MakeRoute, SUCC, sockIn[%d], sockOut[%d], Addr[%s]",
                    MORVA_PTR_ARG(this), route.sockIn, route.sockOut, strKey.c_str());
    *pRoute = route;
    return 1;
}

int CServerRoute::DelSingleRoute(const YAR_ADDR_T *pAddr) {
    std::string strKey = Morva_AddrToString(pAddr);
    yar::yar_guard map(&m_csMapLock);
    if (m_mapRoute.empty())
        return 0;
    auto it = m_mapRoute.find(strKey);
    bool bFound = it != m_mapRoute.end();
    if (bFound) {
        it->second.bValid = 0;
        it->second.dwDelTick = m_fnTick.load()();
    }
    map.Release();
    if (bFound)
        LogModule_Write(LOG_LEVEL_DBG, "CServerRoute::DelSingleRoute, SUCC, Addr[%s]", strKey.c_str());
    else
        LogModule_Write(LOG_LEVEL_ERR, "CServerRoute::DelSingleRoute, Find Failed, Addr[%s]", strKey.c_str());
    return bFound ? 1 : 0;
}

size_t CServerRoute::GetRouteCount() {
    yar::yar_guard map(&m_csMapLock);
    return m_mapRoute.size();
}

void CServerRoute::CloseRoute(const ROUTE_INFO &route) {
    if (route.sockIn >= 0)
        YAR_CloseSocket(route.sockIn, 1);
    if (route.sockOut >= 0)
        YAR_CloseSocket(route.sockOut, 1);
}

// ---- The route thread ----

uint32_t CServerRoute::RouteThread(void *pParam) {
    static_cast<CServerRoute *>(pParam)->RouteLoop();
    return 0;
}

void CServerRoute::CollectRoutes(std::map<std::string, int> *pWatch) {
    uint32_t dwNow = m_fnTick.load()();
    yar::yar_guard map(&m_csMapLock);
    for (auto it = m_mapRoute.begin(); it != m_mapRoute.end();) {
        const ROUTE_INFO &route = it->second;
        if (route.bValid) {
            pWatch->emplace(it->first, route.sockIn);
            ++it;
        } else if (static_cast<uint32_t>(dwNow - route.dwDelTick) > ROUTE_DRAIN_MS) {
            CloseRoute(route);
            it = m_mapRoute.erase(it);
        } else {
            ++it;
        }
    }
}

// Every live route is watched: with more peers than one wait can hold, the later ones would
// never get their replies. The wake descriptor ends the wait when a route is made or at Stop, so
// that a new peer's first reply does not wait for the time-out.
void CServerRoute::RouteLoop() {
    std::vector<pollfd> fds;
    std::vector<const std::string *> keys;
    while (!m_bStop.load()) {
        std::map<std::string, int> watch;
        CollectRoutes(&watch);
        fds.assign(1, pollfd{m_iWakeFd, POLLIN, 0});
        keys.assign(1, nullptr);
        for (const auto &entry : watch) {
            fds.push_back(pollfd{entry.second, POLLIN, 0});
            keys.push_back(&entry.first);
        }
        int nReady = poll(fds.data(), fds.size(), kPollMs);
        if (m_bStop.load())
            break;
        int nRead = 0;
        if (nReady > 0 && fds[0].revents) {
            uint64_t ullCount;
            (void)!read(m_iWakeFd, &ullCount, sizeof(ullCount));
            nReady--;
            nRead++;
        }
        for (size_t i = 1; nReady > 0 && i < fds.size() && !m_bStop.load(); i++) {
            if (fds[i].revents == 0)
                continue;
            nReady--;
            nRead += ReadRoute(*keys[i], fds[i].fd);
        }
        // Busy passes go round at once; only an idle one rests.
        if (nRead == 0)
            YAR_Sleep(kIdleSleepMs);
    }
}

void CServerRoute::Wake() {
    const uint64_t ullOne = 1;
    if (m_iWakeFd >= 0)
        (void)!write(m_iWakeFd, &ullOne, sizeof(ullOne));
}

// Drains one route's socket into work items; gives the number of datagrams read.
int CServerRoute::ReadRoute(const std::string &strKey, int sockIn) {
    int nRead = 0;
    yar::yar_guard map(&m_csMapLock);
    auto it = m_mapRoute.find(strKey);
    // The route may have been taken back since the wait began.
    if (it != m_mapRoute.end() && it->second.bValid && it->second.sockIn == sockIn) {
        for (;;) {
            auto *pData = static_cast<BYTE *>(NewArray(ROUTE_BUF_LEN));
            if (!pData)
                break;
            ssize_t iLen = recv(sockIn, pData, ROUTE_BUF_LEN, MSG_TRUNC | MSG_DONTWAIT);
            if (iLen <= 0 || iLen > ROUTE_BUF_LEN) {
                DelArray(pData);
                if (iLen < 0)
                    break;
                if (iLen > ROUTE_BUF_LEN)
                    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CServerRoute::RouteThread, Datagram Too Long, sockIn[%d], iLen[%d]",
                                    MORVA_PTR_ARG(this), sockIn, static_cast<int>(iLen));
                continue;
            }
            nRead++;
            auto *pItem = static_cast<ROUTE_WORK_ITEM *>(NewArray(sizeof(ROUTE_WORK_ITEM)));
            if (!pItem) {
                DelArray(pData);
                continue;
            }
            *pItem = ROUTE_WORK_ITEM{this, pData, static_cast<int>(iLen), it->second.addrPeer, 1, YAR_INVALID_SOCKET};
            if (!PostItem(pItem))
                FreeItem(pItem);
        }
    }
    return nRead;
}

// ---- The route pool ----

int CServerRoute::PostItem(ROUTE_WORK_ITEM *pItem) {
    std::lock_guard<std::mutex> guard(m_PendingLock);
    m_setPending.insert(pItem);
    if (m_hRoutePool && YAR_ThreadPoolFlex_Work(m_hRoutePool, pItem) == 0)
        return 1;
    m_setPending.erase(pItem);
    return 0;
}

void CServerRoute::FreeItem(ROUTE_WORK_ITEM *pItem) {
    DelArray(pItem->pData);
    DelArray(pItem);
}

void CServerRoute::FreeDroppedItems() {
    std::lock_guard<std::mutex> guard(m_PendingLock);
    for (ROUTE_WORK_ITEM *pItem : m_setPending)
        FreeItem(pItem);
    m_setPending.clear();
}

int32_t CServerRoute::DistributeThreadPoolProcessLocal(void *pParam) {
    auto *pItem = static_cast<ROUTE_WORK_ITEM *>(pParam);
    CServerRoute *pRoute = pItem->pRoute;
    {
        std::lock_guard<std::mutex> guard(pRoute->m_PendingLock);
        pRoute->m_setPending.erase(pItem);
    }
    if (pItem->bToSendCb) {
        if (pRoute->m_Callbacks.fnSendCb)
            pRoute->m_Callbacks.fnSendCb(pRoute->m_Callbacks.pUser, pItem->pData, pItem->iDataLen, pItem->addrPeer);
    } else if (YAR_SendTo(pItem->sock, pItem->pData, pItem->iDataLen, &pItem->addrPeer) < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CServerRoute::DistributeThreadPoolProcessLocal, YAR_SendTo Failed, sockIn[%d], dataLen[%d], syserror[%d]",
                        MORVA_PTR_ARG(pRoute), pItem->sock, pItem->iDataLen, Utils_GetSysLastError());
        SetError(MORVA_ERR_SEND);
    }
    FreeItem(pItem);
    return 0;
}

}  // namespace Vorezi
