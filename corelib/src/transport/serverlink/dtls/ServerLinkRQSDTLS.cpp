// The RQS-over-DTLS link: set-up and stop, the server TLS context, the receive thread that feeds
// the route, the route's callbacks, the peer records, sending and ending one peer.
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"
#include "internal/MorvaInternal.h"
#include "morva/MorvaLink.h"
#include "transport/serverlink/dtls/DtlsCookie.h"
#include "transport/serverlink/udp/DatagramRecv.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int32_t kPoolMaxThreads = 32;
constexpr int32_t kPoolIdleMs = 60000;
constexpr int32_t kPoolStack = 0x20000;
constexpr int kErrSSLCreate = 148;
constexpr int kErrCert = 147;
constexpr long kCtxCtrlSessCacheMode = 44;
constexpr long kCtxCtrlReadAhead = 41;
constexpr int kVerifyPeerClientOnce = 5;
constexpr int kDrainBatch = 64;
constexpr uint32_t kIdleSleepMs = 10;
constexpr uint64_t kSlowRouteMs = 25;
constexpr uint64_t kCookieExchange = 0x2000;

// The extension block holds the leading fields of a link's LINK_EXT_PARAM (the block is shorter
// than the whole record on this build).
static_assert(offsetof(LINK_EXT_PARAM, iTLSKind) + sizeof(int32_t) <= SERVER_LINK_EXT_LEN,
              "the TLS kind lies inside the extension block");

LINK_EXT_PARAM ReadExtParam(const BYTE *pExt) {
    LINK_EXT_PARAM ext;
    std::memset(&ext, 0, sizeof(ext));
    std::memcpy(&ext, pExt, std::min<size_t>(sizeof(ext), SERVER_LINK_EXT_LEN));
    return ext;
}

int AcceptAnyCertificate(int, X509_STORE_CTX *) { return 1; }

}  // namespace

CServerLinkRQSDTLS::CServerLinkRQSDTLS() {
    std::memset(m_struDtlsInfo, 0, sizeof(m_struDtlsInfo));
    if (YAR_MutexCreate(&m_csMapLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::CServerLinkRQSDTLS, YAR_MutexCreate m_csMapLock Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    int i = 0;
    for (; i < DTLS_INFO_COUNT; i++) {
        m_struDtlsInfo[i].sockRoute = -1;
        if (YAR_MutexCreate(&m_struDtlsInfo[i].csLock, 0) != 0)
            break;
    }
    if (i < DTLS_INFO_COUNT) {
        SetError(MORVA_ERR_ALLOC);
        while (i-- > 0)
            YAR_MutexDestroy(&m_struDtlsInfo[i].csLock);
        YAR_MutexDestroy(&m_csMapLock);
        return;
    }
    m_bInit = 1;
}

CServerLinkRQSDTLS::~CServerLinkRQSDTLS() {
    Stop();
    if (!m_bInit)
        return;
    for (DTLS_INFO &info : m_struDtlsInfo)
        YAR_MutexDestroy(&info.csLock);
    YAR_MutexDestroy(&m_csMapLock);
}

int CServerLinkRQSDTLS::Start(void *pCond) {
    if (!m_bInit) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_bStopHandshake.store(0);
    m_hWorkPool = YAR_ThreadPoolFlex_Create(kPoolMaxThreads, kPoolIdleMs, DTLSThreadPoolProcess, kPoolStack);
    if (!m_hWorkPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::Start, YAR_ThreadPoolFlex_Create Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    const int iRet = CServerLinkRQS::Start(pCond);
    if (!iRet) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::Start, CServerLinkRQS::Start Failed");
        Stop();
    }
    DWORD dwVersion = 0;
    if (OpenSSL().GetOpenSSLVersion(&dwVersion))
        m_dwOpenSSLVersion.store(dwVersion);
    else
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::Start, GetOpenSSLVersion Failed");
    return iRet;
}

// Torn down from the outside in: no more datagrams, then no more handshakes and reads, then no
// more sends from the route, and only then the sessions and the socket.
int CServerLinkRQSDTLS::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::Stop", Index());
    StopRecvThread();
    m_bStopHandshake.store(1);
    if (m_hWorkPool) {
        YAR_ThreadPoolFlex_Destroy(m_hWorkPool);
        m_hWorkPool = nullptr;
    }
    FreeDroppedItems();
    if (m_pServerRoute) {
        m_pServerRoute->Stop();
        m_pServerRoute.reset();
    }
    FreeSessions();
    DestroySSLCTX();
    return CServerLinkRQS::Stop();
}

// ---- set-up ----

int CServerLinkRQSDTLS::CreateSSLCTX() {
    const LINK_EXT_PARAM ext = ReadExtParam(m_byExt);
    const DWORD dwSSLVersion = (DWORD)ext.iTLSKind;
    m_pSSLServer = Interim_CreateSSLServerEx(dwSSLVersion, 1);
    if (!m_pSSLServer) {
        if (LastError() != kErrSSLCreate)
            SetError(MORVA_ERR_ALLOC);
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateSSLCTX, Interim_CreateSSLServerEx Failed, dwSSLVersion[%d]",
                        Index(), (int)dwSSLVersion);
        return 0;
    }
    m_pSSLServer->SSLTrans_CTX_ctrl(kCtxCtrlSessCacheMode, 0, nullptr);
    MORVA_SSL_PARAM param;
    std::memset(&param, 0, sizeof(param));
    param.byVerifyMode = ext.byVerifyMode;
    param.byCertificateFileType = ext.byCertificateFileType;
    param.byPrivateKeyFileType = ext.byPrivateKeyFileType;
    param.pUserCertificateFile = ext.pUserCertificateFile;
    param.pUserPrivateKeyFile = ext.pUserPrivateKeyFile;
    if (!Interim_SetSSLServerParam(m_pSSLServer, &param, sizeof(param))) {
        int iCertError = 0;
        if (LastError() == kErrCert) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateSSLCTX, Interim_SetSSLServerParam Failed", Index());
            iCertError = kErrCert;
        }
        DestroySSLCTX();
        SetError(iCertError ? iCertError : MORVA_ERR_PARAM);
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateSSLCTX, Failed, dwCertError[%d]", Index(), iCertError);
        return 0;
    }
    m_pSSLServer->SSLTrans_CTX_set_verify(kVerifyPeerClientOnce, AcceptAnyCertificate);
    m_pSSLServer->SSLTrans_CTX_ctrl(kCtxCtrlReadAhead, 1, nullptr);
    m_pSSLServer->SSLTrans_CTX_set_cookie_generate_cb(CDtlsCookie::GenerateCookie);
    m_pSSLServer->SSLTrans_CTX_set_cookie_verify_cb(CDtlsCookie::VerifyCookie);
    return 1;
}

void CServerLinkRQSDTLS::DestroySSLCTX() {
    if (m_pSSLServer)
        Interim_DestroySSLTrans(m_pSSLServer);
    m_pSSLServer = nullptr;
}

int CServerLinkRQSDTLS::OpenLink() {
    m_pServerRoute.reset();
    const char *pFailText = nullptr;
    do {
        if (!CreateSSLCTX()) {
            pFailText = "[%d]CServerLinkRQSDTLS::OpenLink, CreateSSLCTX Failed";
            break;
        }
        if (!CreateSocket()) {
            pFailText = "[%d]CServerLinkRQSDTLS::OpenLink, CreateSocket Failed";
            break;
        }
        if (!GetLocalAddress(&m_struBindAddr)) {
            pFailText = "[%d]CServerLinkRQSDTLS::OpenLink, GetLocalAddress Failed";
            break;
        }
        YAR_SetReuseAddr(m_socket, 1);
        if (YAR_Bind(m_socket, &m_struBindAddr) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::OpenLink, YAR_Bind Failed, syserror[%d], m_socket[%d]", Index(),
                            YAR_GetSystemLastError(), m_socket);
            SetError(MORVA_ERR_BIND);
            break;
        }
        m_pServerRoute.reset(new (std::nothrow) CServerRoute());
        if (!m_pServerRoute) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::Start, New m_pServerRoute Failed, size[%d]", Index(),
                            (int)sizeof(CServerRoute));
            SetError(MORVA_ERR_ALLOC);
            break;
        }
        const SERVER_ROUTE_CALLBACKS callbacks = {ServerDTLSCreate, SendServerDTLSDataStatic, PostDataToDTLSStatic, this};
        if (!m_pServerRoute->Start(&callbacks))
            break;
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::Start, SUCC, m_pServerRoute[0x%X]", Index(),
                        MORVA_PTR_ARG(m_pServerRoute.get()));
        return 1;
    } while (false);
    if (pFailText)
        LogModule_Write(LOG_LEVEL_ERR, pFailText, Index());
    CloseLink();
    m_pServerRoute.reset();
    DestroySSLCTX();
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::Start, Start Failed", Index());
    return 0;
}

// ---- receiving ----

// Each pass drains the socket until it would block and rests only when it found nothing: one
// datagram per pass and a sleep after each would cap the link near 100 datagrams a second.
void CServerLinkRQSDTLS::RecvData() {
    const int sockRecv = m_socket;
    if (sockRecv == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::RecData, Invalid m_socket[%d]", Index(), sockRecv);
        Utils_Assert();
        return;
    }
    YAR_SetNonBlock(sockRecv, 1);
    auto *pBuf = static_cast<char *>(NewArray(SERVER_LINK_RQS_BUF_LEN));
    while (pBuf && !Stopping()) {
        int nRead = 0;
        const int iSelectLen =
            WaitSocket(sockRecv, "[%d]CServerLinkRQSDTLS::RecData, YAR_Select Failed, m_socket[%d], syserror[%d], iSelectLen[%d]");
        for (; iSelectLen > 0 && nRead < kDrainBatch && !Stopping(); nRead++) {
            YAR_ADDR_T struFrom;
            std::memset(&struFrom, 0, sizeof(struFrom));
            const int iRecvLen = RecvDatagram(sockRecv, pBuf, SERVER_LINK_RQS_BUF_LEN, &struFrom);
            if (iRecvLen <= 0) {
                if (!(iRecvLen < 0 && YAR_GetSystemLastError() == YAR_SYSERR_WSAEWOULDBLOCK) && !Stopping())
                    LogModule_Write(LOG_LEVEL_ERR,
                                    "[%d]CServerLinkRQSDTLS::RecData, YAR_RecvFrom Failed, iRecvlen[%d], m_socket[%d], syserror[%d], iSelectLen[%d]",
                                    Index(), iRecvLen, sockRecv, YAR_GetSystemLastError(), iSelectLen);
                break;
            }
            if (iRecvLen > SERVER_LINK_RQS_BUF_LEN) {
                LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::RecData, Datagram Too Long, iRecvLen[%d], m_socket[%d]",
                                Index(), iRecvLen, sockRecv);
                continue;
            }
            const uint64_t ullStart = YAR_GetTimeTick();
            m_pServerRoute->ProcessRecvedClientData(pBuf, iRecvLen, &struFrom);
            const uint64_t ullCost = YAR_GetTimeTick() - ullStart;
            if (ullCost > kSlowRouteMs)
                LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::RecData, ProcessRecvedClientData, Coast[%d]ms", Index(),
                                (int)ullCost);
        }
        if (nRead == 0 && !Stopping())
            YAR_Sleep(kIdleSleepMs);
    }
    DelArray(pBuf);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::RecData, Exit", Index());
}

// ---- the route's callbacks ----

int CServerLinkRQSDTLS::ServerDTLSCreate(void *pUserdata, int sockRouteOut, YAR_ADDR_T addrPeer) {
    if (!pUserdata) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::ServerDTLSCreate, NULL == pUserdata");
        return 0;
    }
    return static_cast<CServerLinkRQSDTLS *>(pUserdata)->CreateServerDTLSLocal(sockRouteOut, addrPeer);
}

int CServerLinkRQSDTLS::CreateServerDTLSLocal(int sockRouteOut, const YAR_ADDR_T &addrPeer) {
    COpenSSLAPI &api = OpenSSL();
    BIO *pBio = m_pSSLServer ? m_pSSLServer->SSLTrans_bio_new_dgram(sockRouteOut, 0) : nullptr;
    if (!pBio) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateServerDTLSLocal, SSLTrans_bio_new_dgram Failed, routeOut[%d]",
                        Index(), sockRouteOut);
        return 0;
    }
    SetSessionWait(pBio);
    SSL *pSSL = api.SSL_new(m_pSSLServer->GetSSLCtx(), static_cast<SSL *>(nullptr));
    if (!pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateServerDTLSLocal, SSLTrans_new Failed", Index());
        api.BIO_free(pBio, 0);
        return 0;
    }
    api.SSL_set_bio(pSSL, pBio, pBio);
    // Through SSL_set_options: OpenSSL 3 no longer knows the options command of SSL_ctrl.
    api.SSL_set_options(pSSL, kCookieExchange, (uint64_t)0);
    const std::string strKey = Morva_AddrToString(&addrPeer);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::CreateServerDTLSLocal, pSSL[0x%X], Addr[%s]", Index(),
                    MORVA_PTR_ARG(pSSL), strKey.c_str());
    auto *pItem = static_cast<INTER_DTLS_LINK_MSG *>(NewArray(sizeof(INTER_DTLS_LINK_MSG)));
    if (!pItem) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateServerDTLSLocal, New pInterDTLSLinkMsg Failed, size[%d]",
                        Index(), (int)sizeof(INTER_DTLS_LINK_MSG));
        FreeSession(pSSL);
        return 0;
    }
    *pItem = INTER_DTLS_LINK_MSG{this, addrPeer, DTLS_MSG_HANDSHAKE, 0, pSSL, nullptr, sockRouteOut};
    if (!PostItem(pItem)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::CreateServerDTLSLocal, YAR_ThreadPoolFlex_Work Failed, syserror[%d]",
                        Index(), YAR_GetSystemLastError());
        FreeItem(pItem);
        return 0;
    }
    return 1;
}

int CServerLinkRQSDTLS::PostDataToDTLSStatic(void *pUserdata, YAR_ADDR_T addrPeer) {
    auto *pLink = static_cast<CServerLinkRQSDTLS *>(pUserdata);
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::PostDataToDTLSStatic, NULL == pUserdata");
        return 0;
    }
    // While the handshake runs the record holds no session: the handshake reads the datagram.
    DTLS_INFO *pInfo = pLink->GetDtlsInfo(Morva_AddrToString(&addrPeer).c_str());
    if (!pInfo) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQSDTLS::PostDataToDTLSStatic, GetDtlsInfo Failed", pLink->Index());
        return 1;
    }
    auto *pItem = static_cast<INTER_DTLS_LINK_MSG *>(NewArray(sizeof(INTER_DTLS_LINK_MSG)));
    if (!pItem) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::PostDataToDTLSStatic, New pInterDTLSLinkMsg Failed",
                        pLink->Index());
        return 0;
    }
    *pItem = INTER_DTLS_LINK_MSG{pLink, addrPeer, DTLS_MSG_DATA, 1, nullptr, pInfo, -1};
    if (!pLink->PostItem(pItem)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::PostDataToDTLSStatic, YAR_ThreadPoolFlex_Work Failed, syserror[%d]",
                        pLink->Index(), YAR_GetSystemLastError());
        FreeItem(pItem);
        return 0;
    }
    return 1;
}

int CServerLinkRQSDTLS::SendServerDTLSDataStatic(void *pUserdata, const void *pData, int iLen, YAR_ADDR_T addrPeer) {
    auto *pLink = static_cast<CServerLinkRQSDTLS *>(pUserdata);
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_DBG, "SendServerDTLSDataStatic pUserdata is null");
        return 0;
    }
    const int iBuCount = YAR_SendTo(pLink->m_socket, pData, iLen, &addrPeer);
    if (iBuCount < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQSDTLS::SendServerDTLSDataStatic, YAR_SendTo Failed, iBuCount[%d], syserror[%d]",
                        pLink->Index(), iBuCount, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
        return 0;
    }
    return 1;
}

// ---- the work pool's items ----

int CServerLinkRQSDTLS::PostItem(INTER_DTLS_LINK_MSG *pItem) {
    std::lock_guard<std::mutex> guard(m_PendingLock);
    if (!m_hWorkPool)
        return 0;
    m_setPending.insert(pItem);
    if (YAR_ThreadPoolFlex_Work(m_hWorkPool, pItem) == 0)
        return 1;
    m_setPending.erase(pItem);
    return 0;
}

void CServerLinkRQSDTLS::FreeItem(INTER_DTLS_LINK_MSG *pItem) {
    if (pItem->iKind == DTLS_MSG_HANDSHAKE)
        pItem->pLink->FreeSession(pItem->pSSL);
    DelArray(pItem);
}

void CServerLinkRQSDTLS::FreeDroppedItems() {
    std::lock_guard<std::mutex> guard(m_PendingLock);
    for (INTER_DTLS_LINK_MSG *pItem : m_setPending)
        FreeItem(pItem);
    m_setPending.clear();
}

// ---- records and sessions ----

void CServerLinkRQSDTLS::FreeSession(SSL *pSSL) {
    if (!pSSL)
        return;
    COpenSSLAPI &api = OpenSSL();
    api.SSL_shutdown(pSSL, 0);
    api.SSL_free(pSSL);  // frees its BIO, which leaves the route's socket open
}

DTLS_INFO *CServerLinkRQSDTLS::GetDtlsInfo(const char *pKey) {
    DTLS_INFO *pRet = nullptr;
    yar::yar_guard map(&m_csMapLock);
    for (DTLS_INFO &info : m_struDtlsInfo) {
        if (info.pSSL && std::strcmp(info.szKey, pKey) == 0) {
            pRet = &info;
            break;
        }
    }
    map.Release();
    if (!pRet)
        LogModule_Write(LOG_LEVEL_DBG, "CServerLinkRQSDTLS::GetDtlsInfo, pRet == NULL");
    return pRet;
}

DTLS_INFO *CServerLinkRQSDTLS::TakeFreeRecord() {
    DTLS_INFO *pRet = nullptr;
    yar::yar_guard map(&m_csMapLock);
    for (DTLS_INFO &info : m_struDtlsInfo) {
        if (!info.bInUse && !info.pSSL) {
            info.bInUse = 1;
            pRet = &info;
            break;
        }
    }
    return pRet;
}

// Called with the record's own mutex held.
void CServerLinkRQSDTLS::ReleaseRecord(DTLS_INFO *pInfo) {
    yar::yar_guard map(&m_csMapLock);
    pInfo->pSSL = nullptr;
    pInfo->sockRoute = -1;
    std::memset(pInfo->szKey, 0, sizeof(pInfo->szKey));
    pInfo->bInUse = 0;
}

void CServerLinkRQSDTLS::FreeSessions() {
    if (!m_bInit)
        return;
    for (DTLS_INFO &info : m_struDtlsInfo) {
        yar::yar_guard record(&info.csLock);
        FreeSession(info.pSSL);
        ReleaseRecord(&info);
    }
}

int CServerLinkRQSDTLS::CountSessions() {
    int n = 0;
    yar::yar_guard map(&m_csMapLock);
    for (const DTLS_INFO &info : m_struDtlsInfo)
        n += info.pSSL != nullptr;
    return n;
}

int CServerLinkRQSDTLS::CountInUse() {
    int n = 0;
    yar::yar_guard map(&m_csMapLock);
    for (const DTLS_INFO &info : m_struDtlsInfo)
        n += info.bInUse;
    return n;
}

int CServerLinkRQSDTLS::DelDtlsInfo(const YAR_ADDR_T &struPeerAddr) {
    if (m_pServerRoute)
        m_pServerRoute->DelSingleRoute(&struPeerAddr);
    const std::string strKey = Morva_AddrToString(&struPeerAddr);
    DTLS_INFO *pInfo = GetDtlsInfo(strKey.c_str());
    if (!pInfo)
        return 0;
    int iRet = 0;
    yar::yar_guard record(&pInfo->csLock);
    // The record may have gone to another peer since the search.
    if (pInfo->pSSL && strKey == pInfo->szKey) {
        FreeSession(pInfo->pSSL);
        ReleaseRecord(pInfo);
        iRet = 1;
    }
    return iRet;
}

// ---- sending ----

int CServerLinkRQSDTLS::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::SendData, Invalid m_socket[%d]", Index(), m_socket);
        return -1;
    }
    if (!pParam || !pParam->pPeerIP) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    char szKey[SERVER_LINK_ADDR_LEN + 8];
    std::snprintf(szKey, sizeof(szKey), "%s:%d", pParam->pPeerIP, (int)pParam->wPeerPort);
    int iRet = -1;
    if (DTLS_INFO *pInfo = GetDtlsInfo(szKey)) {
        yar::yar_guard record(&pInfo->csLock);
        if (pInfo->pSSL && std::strcmp(pInfo->szKey, szKey) == 0) {
            OpenSSL().ERR_clear_error();
            iRet = OpenSSL().SSL_write(pInfo->pSSL, pParam->pData, (int)pParam->dwDataLen, -1);
        }
    }
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::SendData, Failed, syserror[%d], m_socket[%d], Addr[%s:%d]", Index(),
                        YAR_GetSystemLastError(), m_socket, pParam->pPeerIP, (int)pParam->wPeerPort);
        SetError(MORVA_ERR_SEND);
    }
    return iRet;
}

}  // namespace Vorezi
