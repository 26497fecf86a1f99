// The work pool of the RQS-over-DTLS link: one handshake item per new peer (listen with the
// cookie exchange, then accept), one data item per datagram of an established peer.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "crypto/OpenSSLAPI.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"
#include "yar/yar_socket.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int kSslErrorWantRead = 2;
constexpr int kSslErrorWantWrite = 3;
constexpr int kSslErrorSsl = 1;
constexpr int kCtrlDtlsListen = 75;
constexpr long kBioCtrlDgramSetRecvTimeout = 33;
// The longest single wait of a handshake read.
constexpr DWORD kHandshakeStepMs = 200;
constexpr uint64_t kSlowReadMs = 1000;
// The address buffer of the old listen control; more than any sockaddr.
constexpr size_t kListenAddrLen = 128;

int ThreadId() { return (int)gettid(); }

}  // namespace

int32_t CServerLinkRQSDTLS::DTLSThreadPoolProcess(void *pParam) {
    auto *pItem = static_cast<INTER_DTLS_LINK_MSG *>(pParam);
    if (!pItem) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::DTLSThreadPoolProcess, NULL == Param");
        return 0;
    }
    CServerLinkRQSDTLS *pServer = pItem->pLink;
    if (!pServer) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::DTLSThreadPoolProcess, NULL == pServer");
        DelArray(pItem);
        return 0;
    }
    {
        std::lock_guard<std::mutex> guard(pServer->m_PendingLock);
        pServer->m_setPending.erase(pItem);
    }
    const INTER_DTLS_LINK_MSG msg = *pItem;
    DelArray(pItem);
    if (msg.iKind == DTLS_MSG_DATA)
        pServer->ProcessData(msg);
    else
        pServer->ProcessHandshake(msg);
    return 0;
}

void CServerLinkRQSDTLS::SetSessionWait(BIO *pBio) {
    DWORD dwMs = m_dwRecTimeOut;
    if (dwMs == 0 || dwMs > kHandshakeStepMs)
        dwMs = kHandshakeStepMs;
    timeval tv = {(time_t)(dwMs / 1000), (suseconds_t)(dwMs % 1000) * 1000};
    OpenSSL().BIO_ctrl(pBio, (int)kBioCtrlDgramSetRecvTimeout, 0L, static_cast<void *>(&tv), 0L);
}

// Reads what waits for an established peer. The session's socket no longer blocks, so this takes
// also datagrams that came before the session was stored, when no item was posted for them.
void CServerLinkRQSDTLS::ProcessData(const INTER_DTLS_LINK_MSG &msg) {
    COpenSSLAPI &api = OpenSSL();
    DTLS_INFO *pInfo = msg.pInfo;
    const std::string strKey = Morva_AddrToString(&msg.addrPeer);
    auto *pRecvBuffer = static_cast<char *>(NewArray(SERVER_LINK_RQS_BUF_LEN));
    if (!pRecvBuffer) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, New pRecvBuffer Failed", Index());
        return;
    }
    for (;;) {
        int iRead = -1;
        int nSSLErrorCode = 0;
        SSL *pSSL = nullptr;
        yar::yar_guard record(&pInfo->csLock);
        // The record may have ended, or gone to another peer, since the item was posted.
        if (pInfo->pSSL && strKey == pInfo->szKey) {
            pSSL = pInfo->pSSL;
            const uint64_t ullStart = YAR_GetTimeTick();
            // Pool threads serve many sessions: an error left on this thread's queue by another
            // one would make SSL_get_error report a failure for a read that only wants more.
            api.ERR_clear_error();
            iRead = api.SSL_read(pSSL, pRecvBuffer, SERVER_LINK_RQS_BUF_LEN, -1);
            nSSLErrorCode = iRead > 0 ? 0 : api.SSL_get_error(pSSL, iRead, kSslErrorSsl);
            const uint64_t ullCost = YAR_GetTimeTick() - ullStart;
            if (ullCost > kSlowReadMs)
                LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, SSLTrans_read Coast[%d]ms, ssl[0x%X], TID[%d]",
                                Index(), (int)ullCost, MORVA_PTR_ARG(pSSL), ThreadId());
        }
        record.Release();
        if (!pSSL || nSSLErrorCode == kSslErrorWantRead)
            break;
        if (iRead <= 0 || nSSLErrorCode != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, SSLTrans_read Failed, nSSLErrorCode[%d], ssl[0x%X]",
                            Index(), nSSLErrorCode, MORVA_PTR_ARG(pSSL));
            break;
        }
        // Delivered without the record's lock: the callback may answer through SendData.
        SERVER_LINK_DATA struData;
        InitRecord(&struData, SERVER_LINK_MSG_NEW, SERVER_LINK_KIND_RQS, -1, -1);
        struData.pData = pRecvBuffer;
        struData.dwDataLen = (DWORD)iRead;
        YAR_GetAddrStringEx(&msg.addrPeer, struData.szPeerIP, sizeof(struData.szPeerIP));
        struData.wPeerPort = YAR_GetAddrPort(&msg.addrPeer);
        PushDataToCallBack(&struData);
    }
    DelArray(pRecvBuffer);
}

bool CServerLinkRQSDTLS::HandshakeGoesOn(uint64_t ullDeadline) const {
    return !m_bStopHandshake.load() && YAR_GetTimeTick() < ullDeadline;
}

int CServerLinkRQSDTLS::ListenStep(SSL *pSSL, const char *pKey, uint64_t ullDeadline) {
    COpenSSLAPI &api = OpenSSL();
    const bool bListenCall = m_dwOpenSSLVersion.load() > 0x1010101E;
    // Each handshake has its own address buffer: several run at once on the pool.
    BIO_ADDR *pClient = bListenCall ? api.BIO_ADDR_new() : nullptr;
    alignas(16) BYTE byClientAddr[kListenAddrLen] = {0};
    if (bListenCall && !pClient)
        return 0;
    const uint64_t ullStart = YAR_GetTimeTick();
    int iRet = 0;
    while (HandshakeGoesOn(ullDeadline)) {
        api.ERR_clear_error();
        iRet = bListenCall ? api.DTLSv1_listen(pSSL, pClient, -1)
                           : (int)api.SSL_ctrl(pSSL, kCtrlDtlsListen, 0L, static_cast<void *>(byClientAddr), 0L);
        if (iRet >= 1)
            break;
        const int nSSLErrorCode = iRet < 0 ? api.SSL_get_error(pSSL, iRet, kSslErrorSsl) : 0;
        // A read that only timed out is the normal wait for the ClientHello.
        if (iRet < 0 && nSSLErrorCode != kSslErrorWantRead)
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, DTLS_CTRL_LISTEN Failed, nSSLErrorCode[%d], ssl[0x%X], Addr[%s], TID[%d]",
                            Index(), nSSLErrorCode, MORVA_PTR_ARG(pSSL), pKey, ThreadId());
    }
    api.BIO_ADDR_free(pClient);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, DTLS_CTRL_LISTEN, Coast[%d]ms, ssl[0x%X], Addr[%s], TID[%d]",
                    Index(), (int)(YAR_GetTimeTick() - ullStart), MORVA_PTR_ARG(pSSL), pKey, ThreadId());
    return iRet >= 1 ? 1 : 0;
}

// 1 on success, -1 when the handshake failed, 0 at the stop or the deadline. A read that timed
// out is retried: the session resends its flight itself when its timer has run out.
int CServerLinkRQSDTLS::AcceptStep(SSL *pSSL, const char *pKey, uint64_t ullDeadline) {
    COpenSSLAPI &api = OpenSSL();
    const uint64_t ullStart = YAR_GetTimeTick();
    int iResult = 0;
    while (HandshakeGoesOn(ullDeadline)) {
        api.ERR_clear_error();
        const int iRet = api.SSL_accept(pSSL, -1);
        if (iRet == 1) {
            iResult = 1;
            break;
        }
        const int nSSLErrorCode = api.SSL_get_error(pSSL, iRet, kSslErrorSsl);
        if (nSSLErrorCode == kSslErrorWantRead || nSSLErrorCode == kSslErrorWantWrite)
            continue;
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, SSLTrans_accept Failed, nSSLErrorCode[%d], Addr[%s], ssl[0x%X], TID[%d]",
                        Index(), nSSLErrorCode, pKey, MORVA_PTR_ARG(pSSL), ThreadId());
        iResult = -1;
        break;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, SSLTrans_accept, Coast[%d]ms, ssl[0x%X], Addr[%s], TID[%d]",
                    Index(), (int)(YAR_GetTimeTick() - ullStart), MORVA_PTR_ARG(pSSL), pKey, ThreadId());
    return iResult;
}

void CServerLinkRQSDTLS::ProcessHandshake(const INTER_DTLS_LINK_MSG &msg) {
    const std::string strKey = Morva_AddrToString(&msg.addrPeer);
    LogModule_Write(LOG_LEVEL_DBG, "CServerLinkRQSDTLS::DTLSThreadPoolProcess, Accept & Listen In, Addr[%s], TID[%d]",
                    strKey.c_str(), ThreadId());
    DTLS_INFO *pInfo = TakeFreeRecord();
    if (!pInfo) {
        // The session goes, and so does the route: else the peer's later datagrams would reach a
        // socket nobody reads, and it could not try again once records come free.
        LogModule_Write(LOG_LEVEL_DBG, "CServerLinkRQSDTLS::DTLSThreadPoolProcess, pDtlsInfo == NULL, Addr[%s]", strKey.c_str());
        FreeSession(msg.pSSL);
        m_pServerRoute->DelSingleRoute(&msg.addrPeer);
        return;
    }
    yar::yar_guard record(&pInfo->csLock);
    const uint64_t ullDeadline = YAR_GetTimeTick() + m_dwHandshakeTimeoutMs.load();
    int iRet = ListenStep(msg.pSSL, strKey.c_str(), ullDeadline);
    if (iRet == 1)
        iRet = AcceptStep(msg.pSSL, strKey.c_str(), ullDeadline);
    if (iRet == 1) {
        YAR_SetNonBlock(msg.sockRoute, 1);
        {
            yar::yar_guard map(&m_csMapLock);
            std::snprintf(pInfo->szKey, sizeof(pInfo->szKey), "%s", strKey.c_str());
            pInfo->pSSL = msg.pSSL;
            pInfo->sockRoute = msg.sockRoute;
        }
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::DTLSThreadPoolProcess, Accept SUCC, {Addr[%s], ssl[0x%X]}, TID[%d]",
                        Index(), strKey.c_str(), MORVA_PTR_ARG(msg.pSSL), ThreadId());
    } else {
        // A failed or expired handshake gives its route back too, so the peer can start anew.
        FreeSession(msg.pSSL);
        ReleaseRecord(pInfo);
        if (!m_bStopHandshake.load())
            m_pServerRoute->DelSingleRoute(&msg.addrPeer);
    }
    record.Release();
    // Datagrams that came while the handshake ran had no item of their own.
    if (iRet == 1)
        ProcessData(INTER_DTLS_LINK_MSG{this, msg.addrPeer, DTLS_MSG_DATA, 1, nullptr, pInfo, -1});
}

}  // namespace Vorezi
