#include "transport/link/LinkTCPSSL.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "crypto/SSLTrans.h"
#include "morva/MorvaNetwork.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {
constexpr int kAcceptTimeoutMs = 5000;
constexpr int kAlpnNoAck = 3;  // SSL_TLSEXT_ERR_NOACK: go on without ALPN
constexpr int kAlpnOk = 0;
constexpr int kNpnNegotiated = 1;
constexpr int kErrSSLCreate = 148;  // the TLS layer could not make the object and said why
constexpr int kErrTLSConnect = 159;
// One socket read fed to the session over memory BIOs: a whole record of the largest size.
constexpr int kBIORecvChunk = 16384 + 512;
// RFC 7301 wire format: the length byte, then the protocol ID.
const unsigned char kHttp11Alpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

// The ALPN callback sits on the server context that all server sessions share, so its argument
// cannot name the link: each accepting link registers its session here for the handshake.
class AcceptingLinks {
public:
    static AcceptingLinks &Get() {
        static AcceptingLinks s;
        return s;
    }
    void Add(SSL *pSSL, CLinkTCPSSL *pLink) {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Links[pSSL] = pLink;
    }
    void Remove(SSL *pSSL) {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Links.erase(pSSL);
    }
    CLinkTCPSSL *Find(SSL *pSSL) {
        std::lock_guard<std::mutex> lock(m_Lock);
        auto it = m_Links.find(pSSL);
        return it == m_Links.end() ? nullptr : it->second;
    }

private:
    std::mutex m_Lock;
    std::map<SSL *, CLinkTCPSSL *> m_Links;
};

// Registers a session for the length of one handshake.
class AcceptScope {
public:
    AcceptScope(SSL *pSSL, CLinkTCPSSL *pLink) : m_pSSL(pSSL) { AcceptingLinks::Get().Add(pSSL, pLink); }
    ~AcceptScope() { AcceptingLinks::Get().Remove(m_pSSL); }
    AcceptScope(const AcceptScope &) = delete;
    AcceptScope &operator=(const AcceptScope &) = delete;

private:
    SSL *m_pSSL;
};

DWORD IsH2(const unsigned char *pProto, unsigned int uLen) {
    return uLen == 2 && std::memcmp(pProto, "h2", 2) == 0 ? 1 : 0;
}

MORVA_SSL_PARAM MakeSSLParam(const LINK_EXT_PARAM &ext, bool bFiles) {
    MORVA_SSL_PARAM param;
    std::memset(&param, 0, sizeof(param));
    param.byVerifyMode = ext.byVerifyMode;
    param.pCACertificateFile = ext.pCACertificateFile;
    if (bFiles) {
        param.byCertificateFileType = ext.byCertificateFileType;
        param.byPrivateKeyFileType = ext.byPrivateKeyFileType;
        param.pUserCertificateFile = ext.pUserCertificateFile;
        param.pUserPrivateKeyFile = ext.pUserPrivateKeyFile;
    }
    return param;
}
}  // namespace

CLinkTCPSSL::CLinkTCPSSL(int bGM) : m_bGM(bGM) {}

CLinkTCPSSL::~CLinkTCPSSL() {
    // The receive registration may still reach the TLS object: it goes first.
    Cleanup();
    DestroySSL();
}

void CLinkTCPSSL::DestroySSL() {
    m_LinkAsyncIO.SetSSLTrans(nullptr);
    if (m_pSSLTrans)
        Interim_DestroySSLTrans(m_pSSLTrans);
    m_pSSLTrans = nullptr;
}

// ---- client ----

int CLinkTCPSSL::CreateSSL() {
    DestroySSL();
    m_pSSLTrans = Interim_CreateSSLTransEx((DWORD)m_struExt.iTLSKind);
    if (m_pSSLTrans)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::OpenLink, Interim_CreateSSLTransEx Failed, m_socket[%d], Addr[%s:%d]",
                    MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
    if (LastError() != kErrSSLCreate)
        SetError(MORVA_ERR_ALLOC);
    return 0;
}

int CLinkTCPSSL::CheckVerifyMode() {
    if (m_struExt.byVerifyMode <= 2)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLConnect, Invalid byVerifyMode[%d], m_pSSLTrans[0x%X], m_socket[%d]",
                    MORVA_PTR_ARG(this), m_struExt.byVerifyMode, MORVA_PTR_ARG(m_pSSLTrans), m_socket);
    SetError(MORVA_ERR_PARAM);
    return 0;
}

int CLinkTCPSSL::OpenLink() {
    // A verify mode we cannot serve fails before anything reaches the peer.
    if (!CheckVerifyMode() || !CreateSSL())
        return 0;
    if (!CLinkTCP::OpenLink()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::OpenLink, CLinkTCP::OpenLink Failed, m_socket[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
        return 0;
    }
    if (!DoSSLConnect()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::OpenLink, DoSSLConnect Failed, m_socket[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPSSL::OpenLink, SUCC, m_socket[%d], Addr[%s:%d]", MORVA_PTR_ARG(this),
                    m_socket, m_szServerIP, m_wServerPort);
    return 1;
}

int CLinkTCPSSL::DoSSLConnect() {
    if (!m_pSSLTrans || !m_pSSLTrans->SSLTrans_new()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLConnect, SSLTrans_new Failed, m_pSSLTrans[0x%X], m_socket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket);
        CloseLink();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    const BYTE byMode = m_struExt.byVerifyMode;
    if (byMode != 0) {
        if (!CheckVerifyMode())
            return 0;
        const MORVA_SSL_PARAM param = MakeSSLParam(m_struExt, byMode == 1);
        if (!Interim_SetSSLClientParam(m_pSSLTrans, &param, sizeof(param))) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLinkTCPSSL::DoSSLConnect, Interim_SetSSLClientParam Failed, m_pSSLTrans[0x%X], m_socket[%d]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket);
            CloseLink();
            return 0;
        }
    }
    if (m_struExt.pAlpnList && m_struExt.dwAlpnLen &&
        m_pSSLTrans->SSLTrans_set_alpn_protos((const unsigned char *)m_struExt.pAlpnList, m_struExt.dwAlpnLen) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCPSSL::DoSSLConnect, SSLTrans_set_alpn_protos Failed, m_pSSLTrans[0x%X], m_socket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket);
        CloseLink();
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (m_struExt.szSNI[0] && m_pSSLTrans->SSLTrans_set_tlsext_host_name(m_struExt.szSNI) != 1)
        LogModule_Write(LOG_LEVEL_ERR, "CLinkTCPSSL::DoSSLConnect, SSLTrans_set_tlsext_host_name Failed[%s]", m_struExt.szSNI);
    m_LinkAsyncIO.SetSSLTrans(m_pSSLTrans, &m_WriteLock);
    if (!m_dwConncetTimeout)
        Ctrl()->GetConnectTimeOut(&m_dwConncetTimeout, nullptr);
    if (!m_pSSLTrans->SSLTrans_connect_with_timeout(m_socket, (int)m_dwConncetTimeout)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCPSSL::DoSSLConnect, SSLTrans_connect_with_timeout Failed, m_pSSLTrans[0x%X], m_socket[%d], "
                        "m_dwConncetTimeout[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket, m_dwConncetTimeout);
        DestroySSL();
        CloseLink();
        SetError(kErrTLSConnect);
        return 0;
    }
    const unsigned char *pSelected = nullptr;
    unsigned int uSelected = 0;
    m_pSSLTrans->SSLTrans_get0_alpn_selected(&pSelected, &uSelected);
    m_bH2 = IsH2(pSelected, uSelected);
    if (m_struExt.dwBIOMode == 1 && !m_pSSLTrans->SSL_BIO_set_read_write()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCPSSL::DoSSLConnect, SSL_BIO_set_read_write Failed, m_pSSLTrans[0x%X], m_socket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    return 1;
}

// ---- server ----

int CLinkTCPSSL::Start(const CONNECT_COND *pCond) {
    if (!pCond) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::Start, pConnectCond == NULL", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!CLinkTCP::Start(pCond)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::Start, CLinkTCP::Start Failed, m_socket[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
        return 0;
    }
    if (pCond->dwServerMode != 1) {
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPSSL::Start, SUCC, m_socket[%d], Addr[%s:%d]", MORVA_PTR_ARG(this),
                        m_socket, m_szServerIP, m_wServerPort);
        return 1;
    }
    if (!DoSSLAccept()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::Start, DoSSLAccept Failed, m_socket[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPSSL::Start, SUCC, ENUM_SERVER_TCP, m_socket[%d], Addr[%s:%d]",
                    MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
    return 1;
}

int CLinkTCPSSL::DoSSLAccept() {
    DestroySSL();
    m_pSSLTrans = m_bGM ? Interim_CreateSSLServerGMEx((DWORD)m_struExt.iTLSKind, 0)
                        : Interim_CreateSSLServerEx((DWORD)m_struExt.iTLSKind, 0);
    if (!m_pSSLTrans) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLAccept, Interim_CreateSSLServerEx Failed", MORVA_PTR_ARG(this));
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    const MORVA_SSL_PARAM param = MakeSSLParam(m_struExt, true);
    if (!Interim_SetSSLServerParam(m_pSSLTrans, &param, sizeof(param))) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLAccept, Interim_SetSSLServerParam Failed, m_pSSLTrans[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans));
        SetError(LastError() == MORVA_ERR_CERT ? MORVA_ERR_CERT : MORVA_ERR_PARAM);
        DestroySSL();
        return 0;
    }
    if (!m_pSSLTrans->SSLTrans_new()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLAccept, SSLTrans_new Failed, m_pSSLTrans[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans));
        SetError(MORVA_ERR_ALLOC);
        DestroySSL();
        return 0;
    }
    m_pSSLTrans->SSLTrans_CTX_set_alpn_select_cb(&CLinkTCPSSL::AlpnSelectCallback, nullptr);
    m_LinkAsyncIO.SetSSLTrans(m_pSSLTrans, &m_WriteLock);
    // The session stays on the socket: blocking sends and receives go through it, and the
    // receive preparation moves it to memory BIOs when asynchronous receiving starts.
    int bAccepted;
    {
        AcceptScope scope(m_pSSLTrans->GetSSL(), this);
        bAccepted = m_pSSLTrans->SSLTrans_SynAccept_with_timeout(m_socket, kAcceptTimeoutMs);
    }
    if (!bAccepted) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::DoSSLAccept, SSLTrans_accept Failed, m_pSSLTrans[0x%X], m_socket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSLTrans), m_socket);
        SetError(MORVA_ERR_CONNECT);
        DestroySSL();
        return 0;
    }
    return 1;
}

int CLinkTCPSSL::AlpnSelectCallback(SSL *pSSL, const unsigned char **ppOut, unsigned char *pOutLen,
                                    const unsigned char *pIn, unsigned int uInLen, void * /*pArg*/) {
    CLinkTCPSSL *pThis = AcceptingLinks::Get().Find(pSSL);
    if (!pThis || !pThis->m_pSSLTrans) {
        LogModule_Write(LOG_LEVEL_ERR, "CLinkTCPSSL::AlpnSelectCallback, pThis == NULL");
        return kAlpnNoAck;
    }
    CSSLTrans *pTrans = pThis->m_pSSLTrans;
    unsigned char *pSel = nullptr;
    unsigned char bySelLen = 0;
    const LINK_EXT_PARAM &ext = pThis->m_struExt;
    if (ext.pAlpnList && ext.dwAlpnLen &&
        pTrans->SSLTrans_select_next_proto(&pSel, &bySelLen, (const unsigned char *)ext.pAlpnList, ext.dwAlpnLen, pIn,
                                           uInLen) == kNpnNegotiated) {
        const char *pCiphers = CCoreGlobalCtrlBase::GetCipherList();
        if (pCiphers && *pCiphers)
            pTrans->SSLTrans_set_cipher_list(pCiphers);
    } else if (pTrans->SSLTrans_select_next_proto(&pSel, &bySelLen, kHttp11Alpn, sizeof(kHttp11Alpn), pIn, uInLen) !=
               kNpnNegotiated) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::AlpnSelectCallback, SSLTrans_select_next_proto, Failed",
                        MORVA_PTR_ARG(pThis));
        pThis->m_bH2 = 0;
        return kAlpnNoAck;
    }
    // The flag says h2, as on the client side: a match of http/1.1 in the link's list is not h2.
    pThis->m_bH2 = IsH2(pSel, bySelLen);
    std::memcpy(pThis->m_byAlpnSelect, pSel, bySelLen);
    *ppOut = pThis->m_byAlpnSelect;
    *pOutLen = bySelLen;
    return kAlpnOk;
}

// ---- data ----

int CLinkTCPSSL::SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    if (!pBuf) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::SendData, NULL == pSendBuf, m_socket[%d]", MORVA_PTR_ARG(this),
                        m_socket);
        return -1;
    }
    return SSLSend(pBuf, dwLen, dwTimeOut);
}

int CLinkTCPSSL::SSLSend(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    const DWORD dwSendTimeout = EffectiveSendTimeout(dwTimeOut);
    if (!m_pSSLTrans)
        return -1;
    if (m_LinkAsyncIO.GetSocket() != -1)
        return AsyncSend(pBuf, dwLen);
    int iSent;
    {
        std::lock_guard<std::mutex> lock(m_WriteLock);
        iSent = m_pSSLTrans->SSLTrans_uses_BIO()
                    ? SendThroughBIO(pBuf, dwLen, dwSendTimeout)
                    : m_pSSLTrans->SSLTrans_write_with_timeout(m_socket, pBuf, (int)dwLen, (int)dwSendTimeout);
    }
    if (iSent != (int)dwLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCPSSL::SendData, Failed, iSendLen[%d] != dwSendLen[%d], m_socket[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), iSent, dwLen, m_socket, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
    }
    return iSent;
}

// The records of one write out of the write BIO, in a buffer of the caller's; the write lock is
// held. The length, or -1.
int CLinkTCPSSL::Seal(const char *pBuf, DWORD dwLen, std::unique_ptr<char[]> *ppOut) {
    const DWORD dwOutLen = dwLen < 128 ? 256 : dwLen * 2;
    ppOut->reset(new (std::nothrow) char[dwOutLen]);
    if (!*ppOut) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::SendData, New pSendBufSSL Failed, nSendBufSSL[%d], m_LinkAsyncIO[0x%X]",
                        MORVA_PTR_ARG(this), dwOutLen, MORVA_PTR_ARG(&m_LinkAsyncIO));
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    const int iSealed = m_pSSLTrans->SSLTrans_write_with_BIO(pBuf, (int)dwLen, ppOut->get(), (int)dwOutLen);
    if (iSealed <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::SendData, SSLTrans_write_with_BIO, iSendLenSSL[%d] < 0, m_LinkAsyncIO[0x%X]",
                        MORVA_PTR_ARG(this), iSealed, MORVA_PTR_ARG(&m_LinkAsyncIO));
        return -1;
    }
    return iSealed;
}

// Memory BIOs before the queue takes over: the sealed records go to the socket here, or the
// write would report success while nothing left the write BIO.
int CLinkTCPSSL::SendThroughBIO(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    std::unique_ptr<char[]> pOut;
    const int iSealed = Seal(pBuf, dwLen, &pOut);
    if (iSealed <= 0)
        return -1;
    // Part of a record on the wire breaks the stream: anything short is a failure.
    return Morva_SplittingSendWithTimeout(m_socket, pOut.get(), iSealed, (int)dwTimeOut) == iSealed ? (int)dwLen : -1;
}

// Records must reach the socket in the order they were sealed: sealing and posting happen under
// one hold of the write lock.
int CLinkTCPSSL::AsyncSend(const char *pBuf, DWORD dwLen) {
    std::lock_guard<std::mutex> lock(m_WriteLock);
    std::unique_ptr<char[]> pOut;
    const int iSealed = Seal(pBuf, dwLen, &pOut);
    if (iSealed <= 0)
        return -1;
    if (m_LinkAsyncIO.SendSealed(pOut.get(), (DWORD)iSealed) <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::SendData, Failed, iSendLenSSL[%d], m_LinkAsyncIO[0x%X]",
                        MORVA_PTR_ARG(this), iSealed, MORVA_PTR_ARG(&m_LinkAsyncIO));
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPSSL::SendData, iSendLenSSL[%d], m_LinkAsyncIO[0x%X]", MORVA_PTR_ARG(this),
                    iSealed, MORVA_PTR_ARG(&m_LinkAsyncIO));
    return (int)dwLen;
}

// One read of the session: bytes, 0 when no whole record is there yet, -1 on failure (with a
// system error that is not a would-block, so the receive loop ends).
int CLinkTCPSSL::RecvRaw(char *pBuf, int iSize) {
    if (!m_pSSLTrans)
        return -1;
    if (m_pSSLTrans->SSLTrans_uses_BIO())
        return RecvThroughBIO(pBuf, iSize);
    int bAll = 1;
    const int iRead = m_pSSLTrans->SSLTrans_read(pBuf, iSize, &bAll);
    m_bSelect = bAll ? 1 : 0;
    if (iRead < 0)
        errno = ECONNRESET;
    return iRead;
}

// Plain text out of the session over memory BIOs, with the input fed first when there is some;
// reads on until the buffer is full or no whole record is left, so that nothing decrypted waits
// behind a wait on the socket.
int CLinkTCPSSL::ReadSession(char *pBuf, int iSize, const char *pIn, int iInLen, int *pbFailed) {
    std::lock_guard<std::mutex> lock(m_WriteLock);
    int bMore = pIn ? 0 : 1;
    int iGot = 0;
    while (iGot < iSize) {
        const int iRead = m_pSSLTrans->SSLTrans_read_with_BIO(pIn, iInLen, pBuf + iGot, iSize - iGot, &bMore);
        bMore = 1;  // the input goes in once
        if (iRead > 0) {
            iGot += iRead;
            continue;
        }
        if (iRead == 0 || !m_pSSLTrans->SSLTrans_read_wants_input(iRead))
            *pbFailed = 1;
        break;
    }
    m_bSelect = m_pSSLTrans->SSLTrans_holds_data() ? 0 : 1;
    return iGot;
}

// Memory BIOs before the queue takes over: what the session holds comes first, else one read
// of the socket goes into it. 0 while no whole record is there.
int CLinkTCPSSL::RecvThroughBIO(char *pBuf, int iSize) {
    int bFailed = 0;
    int iGot = ReadSession(pBuf, iSize, nullptr, 0, &bFailed);
    if (iGot == 0 && !bFailed) {
        char byIn[kBIORecvChunk];
        const int iIn = YAR_Recv(m_socket, byIn, sizeof(byIn));
        if (iIn > 0)
            iGot = ReadSession(pBuf, iSize, byIn, iIn, &bFailed);
        else if (iIn == 0 || YAR_GetSystemLastError() != YAR_SYSERR_WSAEWOULDBLOCK)
            bFailed = 1;  // the peer left, or the socket failed
    }
    if (iGot > 0 || !bFailed)
        return iGot;  // a failure after data shows on the next read
    errno = ECONNRESET;
    return -1;
}

DWORD CLinkTCPSSL::TakeHeld(char *pBuf, DWORD dwSize, int *pbFailed) {
    DWORD dwGot = 0;
    *pbFailed = 0;
    while (!m_bSelect && dwGot < dwSize) {
        const int iRead = RecvRaw(pBuf + dwGot, (int)(dwSize - dwGot));
        if (iRead < 0) {
            *pbFailed = 1;
            break;
        }
        dwGot += (DWORD)iRead;
        if (iRead == 0)
            break;
    }
    return dwGot;
}

int CLinkTCPSSL::RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) {
    if (m_bBindSocket) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::RecvData, m_bBindSocket is True", MORVA_PTR_ARG(this));
        return 0;
    }
    return SSLRecv(pBuf, dwSize, pRecvLen, dwTimeOut, bFirstData);
}

int CLinkTCPSSL::SSLRecv(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) {
    if (!dwTimeOut)
        dwTimeOut = m_dwRecvTimeout ? m_dwRecvTimeout : Ctrl()->GetDefaultRecvTimeOut();
    int bFailed = 0;
    const DWORD dwHeld = TakeHeld(pBuf, dwSize, &bFailed);
    int iResult = bFailed ? MORVA_ERR_RECV : MORVA_ERR_SUCCESS;
    DWORD dwMore = 0;
    if (!bFailed && dwHeld < dwSize && !(bFirstData && dwHeld))
        iResult = DoRecvForRealRecv(m_socket, pBuf + dwHeld, (int)(dwSize - dwHeld), &dwMore, dwTimeOut, &m_bCloseSocket,
                                    this, bFirstData, 1);
    *pRecvLen = dwHeld + dwMore;
    SetError(iResult);
    if (iResult != MORVA_ERR_SUCCESS && iResult != MORVA_ERR_RECV_TIMEOUT) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCPSSL::RecvData, DoRealRecvEx Failed, dwRet[%d], m_socket[%d], m_bCloseSocket[%d], "
                        "m_bSelect[%d], dwTimeout[%d]",
                        MORVA_PTR_ARG(this), iResult, m_socket, m_bCloseSocket, m_bSelect, dwTimeOut);
        return 0;
    }
    return 1;
}

int CLinkTCPSSL::CloseLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPSSL::CloseLink, m_socket[%d], Addr[%s:%d]", MORVA_PTR_ARG(this), m_socket,
                    m_szServerIP, m_wServerPort);
    return CLinkTCP::CloseLink();
}

int CLinkTCPSSL::GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) {
    if (dwParamID != 1)
        return CLinkTCP::GetLinkParam(dwParamID, pIn, dwInLen, pOut, pOutLen);
    if (!pOut || !pOutLen || *pOutLen != sizeof(DWORD)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSSL::GetLinkParam, Invalid Param, lpOut[0x%X], lpInOutLen[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pOut), pOutLen ? *pOutLen : 0);
        return 0;
    }
    std::memcpy(pOut, &m_bH2, sizeof(DWORD));
    return 1;
}

void CLinkTCPSSL::PrepareRecv() {
    if (m_pSSLTrans)
        m_pSSLTrans->SSL_BIO_set_read_write();
}

// ---- the switchable link ----

int CLinkTCPTLS::OpenLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkTCPTLS::OpenLink, m_socket[%d], Addr[%s:%d]", MORVA_PTR_ARG(this), m_socket,
                    m_szServerIP, m_wServerPort);
    return CLinkTCP::OpenLink();
}

int CLinkTCPTLS::ChangeConnectType() {
    m_dwConnectType = 1;
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]CLinkTCPTLS::ChangeConnectType, m_socket[%d], Addr[%s:%d]", MORVA_PTR_ARG(this),
                    m_socket, m_szServerIP, m_wServerPort);
    return CheckVerifyMode() && CreateSSL() && DoSSLConnect();
}

int CLinkTCPTLS::SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    return m_dwConnectType == 1 ? CLinkTCPSSL::SendData(pBuf, dwLen, dwTimeOut) : CLinkTCP::SendData(pBuf, dwLen, dwTimeOut);
}

int CLinkTCPTLS::RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) {
    return m_dwConnectType == 1 ? CLinkTCPSSL::RecvData(pBuf, dwSize, pRecvLen, dwTimeOut, bFirstData)
                                : CLinkTCP::RecvData(pBuf, dwSize, pRecvLen, dwTimeOut, bFirstData);
}

int CLinkTCPTLS::RecvRaw(char *pBuf, int iSize) {
    return m_dwConnectType == 1 ? CLinkTCPSSL::RecvRaw(pBuf, iSize) : CLinkTCP::RecvRaw(pBuf, iSize);
}

void CLinkTCPTLS::PrepareRecv() {
    if (m_dwConnectType == 1)
        CLinkTCPSSL::PrepareRecv();
}

}  // namespace Vorezi
