// Per-peer loopback routes of one UDP server socket. Every remote peer gets a pair of loopback
// datagram sockets: what the server socket receives from the peer is sent into the peer's pair,
// where a per-peer consumer reads it as if the peer had a socket of its own; what the consumer
// writes back is read by the route thread and handed to the send callback on a small pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"
#include "yar/yar_socket.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

struct ROUTE_INFO {
    int sockIn;           // unbound, non-blocking: the link's side
    int sockOut;          // bound to 127.0.0.1 on a system port: the consumer's side
    YAR_ADDR_T addrLoop;  // sockOut's bound address
    YAR_ADDR_T addrPeer;
    int bValid;           // 1 while live; 0 once deleted, until the route thread removes it
    uint32_t dwDelTick;   // tick of the deletion
};

// The callbacks take the user pointer first; create and post give non-zero for success.
typedef int (*ROUTE_CREATE_CALLBACK)(void *pUser, int sockOut, YAR_ADDR_T addrPeer);
typedef int (*ROUTE_SEND_CALLBACK)(void *pUser, const void *pData, int iLen, YAR_ADDR_T addrPeer);
typedef int (*ROUTE_POST_CALLBACK)(void *pUser, YAR_ADDR_T addrPeer);

struct SERVER_ROUTE_CALLBACKS {
    ROUTE_CREATE_CALLBACK fnCreateCb;
    ROUTE_SEND_CALLBACK fnSendCb;
    ROUTE_POST_CALLBACK m_fnPostDTLSServerDataCb;
    void *pUser;
};

// One datagram for the route pool. Holds pointers, so its size is the native one.
struct ROUTE_WORK_ITEM {
    class CServerRoute *pRoute;
    BYTE *pData;
    int iDataLen;
    YAR_ADDR_T addrPeer;
    int bToSendCb;  // 1: give to the send callback; 0: send from sock to the peer
    int sock;
};

// The key of a peer: "address:port", empty for an address without text.
std::string Morva_AddrToString(const YAR_ADDR_T *pAddr);

class CServerRoute {
public:
    // Routes beyond the limit are refused: each costs two descriptors, and any source address
    // can ask for one before its consumer has checked anything.
    static constexpr size_t DEFAULT_MAX_ROUTES = 256;
    // A deleted route keeps draining late datagrams this long before it is closed.
    static constexpr uint32_t ROUTE_DRAIN_MS = 5000;
    static constexpr int ROUTE_BUF_LEN = 32768;

    explicit CServerRoute(size_t uMaxRoutes = DEFAULT_MAX_ROUTES);
    virtual ~CServerRoute();
    CServerRoute(const CServerRoute &) = delete;
    CServerRoute &operator=(const CServerRoute &) = delete;

    int Start(const SERVER_ROUTE_CALLBACKS *pMsg);
    int Stop();
    int ProcessRecvedClientData(const void *pData, int iLen, const YAR_ADDR_T *pAddr);
    int MakeRoute(const std::string &strKey, ROUTE_INFO *pRoute, const YAR_ADDR_T *pAddr);
    int DelSingleRoute(const YAR_ADDR_T *pAddr);

    // The pool's work routine; frees the item and its data.
    static int32_t DistributeThreadPoolProcessLocal(void *pParam);

    // Routes in the map, live or draining.
    size_t GetRouteCount();
    // Millisecond ticks; tests replace the clock to step over the drain time.
    typedef uint32_t (*TICK_SOURCE)();
    void SetTickSource(TICK_SOURCE fnTick) { m_fnTick.store(fnTick ? fnTick : DefaultTick); }

private:
    static uint32_t RouteThread(void *pParam);
    static uint32_t DefaultTick();
    void RouteLoop();
    // One pass: removes drained routes and gives the live routes' sockets to watch.
    void CollectRoutes(std::map<std::string, int> *pWatch);
    int ReadRoute(const std::string &strKey, int sockIn);
    int PostItem(ROUTE_WORK_ITEM *pItem);
    static void FreeItem(ROUTE_WORK_ITEM *pItem);
    void FreeDroppedItems();
    static void CloseRoute(const ROUTE_INFO &route);
    // Sends a datagram into the route of the key; false when there is none.
    bool SendIntoRoute(const std::string &strKey, const void *pData, int iLen, ROUTE_INFO *pRoute, int *pSent);
    // Ends the route thread's current wait.
    void Wake();

    std::map<std::string, ROUTE_INFO> m_mapRoute;
    YAR_MUTEX_T m_csMapLock;
    SERVER_ROUTE_CALLBACKS m_Callbacks = {};
    YAR_HANDLE m_hRouteThread = YAR_INVALID_THREAD;
    YAR_THREADPOOLFLEX_T *m_hRoutePool = nullptr;
    std::atomic<int> m_bStop{1};
    int m_bInitLock = 0;
    int m_iWakeFd = -1;

    const size_t m_uMaxRoutes;
    std::atomic<TICK_SOURCE> m_fnTick{DefaultTick};
    // Items posted and not yet taken by a worker: the pool drops queued items at its
    // destruction, and Stop frees them.
    std::mutex m_PendingLock;
    std::set<ROUTE_WORK_ITEM *> m_setPending;
};

}  // namespace Vorezi
