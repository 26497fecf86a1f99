// The RQS-over-DTLS server link: DTLS 1.2 with cookies for up to 128 peers on one UDP socket.
// Each peer gets a route of the server route (a loopback pair) and a TLS session that reads the
// peer's datagrams from the route; handshakes and reads run on the link's work pool, decrypted
// data go to the data callback as kind-22 records, and SendData encrypts through the session.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

#include "crypto/OpenSSLTypes.h"
#include "transport/serverlink/udp/ServerLinkRQS.h"
#include "transport/serverlink/udp/ServerRoute.h"
#include "yar/yar_mutex.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

class CSSLTrans;

constexpr int DTLS_INFO_COUNT = 128;
constexpr int DTLS_KEY_LEN = 32;

// One peer session.
struct DTLS_INFO {
    int bInUse;
    char szKey[DTLS_KEY_LEN + 1];  // "%s:%d" of the peer address
    SSL *pSSL;                     // null while none is established
    int sockRoute;                 // the route socket the session reads
    YAR_MUTEX_T csLock;            // serialises all use of pSSL
};

// One item of the work pool. Holds pointers: its size is the native one.
struct INTER_DTLS_LINK_MSG {
    class CServerLinkRQSDTLS *pLink;
    YAR_ADDR_T addrPeer;
    int iKind;  // DTLS_MSG_HANDSHAKE or DTLS_MSG_DATA
    int bData;
    SSL *pSSL;          // handshake items
    DTLS_INFO *pInfo;   // data items
    int sockRoute;      // handshake items
};

enum { DTLS_MSG_HANDSHAKE = 0, DTLS_MSG_DATA = 1 };

class CServerLinkRQSDTLS : public CServerLinkRQS {
public:
    // A handshake that has not finished by then gives back its session, record and route: a
    // peer may send one ClientHello and vanish.
    static constexpr DWORD DEFAULT_HANDSHAKE_TIMEOUT_MS = 10000;

    CServerLinkRQSDTLS();
    ~CServerLinkRQSDTLS() override;

    int Start(void *pCond) override;
    int Stop() override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int OpenLink() override;
    void RecvData() override;

    // Ends one peer's session and its route; 1 when the peer had a session.
    int DelDtlsInfo(const YAR_ADDR_T &struPeerAddr);

    // Route callbacks.
    static int ServerDTLSCreate(void *pUserdata, int sockRouteOut, YAR_ADDR_T addrPeer);
    static int SendServerDTLSDataStatic(void *pUserdata, const void *pData, int iLen, YAR_ADDR_T addrPeer);
    static int PostDataToDTLSStatic(void *pUserdata, YAR_ADDR_T addrPeer);
    static int32_t DTLSThreadPoolProcess(void *pParam);

    // Seams for tests: the OpenSSL version that picks the listen call, the handshake deadline.
    void SetOpenSSLVersion(DWORD dwVersion) { m_dwOpenSSLVersion.store(dwVersion); }
    void SetHandshakeTimeout(DWORD dwMs) { m_dwHandshakeTimeoutMs.store(dwMs); }
    // Records with a session, and records taken (in handshake or established).
    int CountSessions();
    int CountInUse();

private:
    int CreateSSLCTX();
    void DestroySSLCTX();
    int CreateServerDTLSLocal(int sockRouteOut, const YAR_ADDR_T &addrPeer);
    int PostItem(INTER_DTLS_LINK_MSG *pItem);
    void FreeDroppedItems();
    void FreeSessions();
    static void FreeItem(INTER_DTLS_LINK_MSG *pItem);
    // The record of an established peer, or null.
    DTLS_INFO *GetDtlsInfo(const char *pKey);
    DTLS_INFO *TakeFreeRecord();
    void ReleaseRecord(DTLS_INFO *pInfo);
    void FreeSession(SSL *pSSL);

    // The work items (DTLSWork.cpp).
    void ProcessData(const INTER_DTLS_LINK_MSG &msg);
    void ProcessHandshake(const INTER_DTLS_LINK_MSG &msg);
    // 1 once the ClientHello with a valid cookie came, 0 at the stop or the deadline.
    int ListenStep(SSL *pSSL, const char *pKey, uint64_t ullDeadline);
    int AcceptStep(SSL *pSSL, const char *pKey, uint64_t ullDeadline);
    bool HandshakeGoesOn(uint64_t ullDeadline) const;
    // The session's reads wait at most one step, so that the stop and the deadline are seen.
    void SetSessionWait(BIO *pBio);

    YAR_THREADPOOLFLEX_T *m_hWorkPool = nullptr;
    int m_bInit = 0;
    std::unique_ptr<CServerRoute> m_pServerRoute;
    std::atomic<int> m_bStopHandshake{0};
    CSSLTrans *m_pSSLServer = nullptr;
    YAR_ADDR_T m_struBindAddr = {};
    DTLS_INFO m_struDtlsInfo[DTLS_INFO_COUNT];
    YAR_MUTEX_T m_csMapLock;
    std::atomic<DWORD> m_dwOpenSSLVersion{0};
    std::atomic<DWORD> m_dwHandshakeTimeoutMs{DEFAULT_HANDSHAKE_TIMEOUT_MS};
    // Items posted and not yet taken: the pool drops queued items when it is destroyed.
    std::mutex m_PendingLock;
    std::set<INTER_DTLS_LINK_MSG *> m_setPending;
};

}  // namespace Vorezi
