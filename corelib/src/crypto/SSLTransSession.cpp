// One TLS or DTLS session of a CSSLTrans: handshakes over a socket (blocking or with a time-out),
// data on the socket or through a pair of memory BIOs, and the pass-throughs that configure the
// session and the instance's shared context.
#include <sys/select.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/QuietSocketBio.h"
#include "crypto/SSLTrans.h"
#include "crypto/SigPipeGuard.h"
#include "internal/MorvaInternal.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int SSL_ERROR_NONE = 0;
constexpr int SSL_ERROR_WANT_READ = 2;
constexpr int SSL_ERROR_WANT_WRITE = 3;
constexpr int SSL_ERROR_SYSCALL = 5;
constexpr int SSL_ERROR_ZERO_RETURN = 6;
constexpr int BIO_CTRL_PENDING = 10;
constexpr int SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
constexpr int SSL_CTRL_SET_ECDH_AUTO = 94;
constexpr int RETRY_SLEEP_MS = 10;
constexpr int READ_WORK_LEN = 1024;
constexpr int MAX_RECORD_PLAIN = 16384;

int SysError() {
    return static_cast<int>(YAR_GetSystemLastError());
}

// Linux: the socket BIO leaves errno as the failed send or receive set it.
bool SocketWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Waits until the socket is readable or writable as asked; the select result.
int WaitSocket(int fdSocket, bool bRead, bool bWrite, int iTimeoutMs) {
    // An fd_set holds descriptors below FD_SETSIZE only: FD_SET past it writes beyond the set.
    if (fdSocket < 0 || fdSocket >= FD_SETSIZE) {
        YAR_SetSystemLastError(YAR_SYSERR_WSAEINVAL);
        return -1;
    }
    fd_set readSet, writeSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    if (bRead)
        FD_SET(fdSocket, &readSet);
    if (bWrite)
        FD_SET(fdSocket, &writeSet);
    struct timeval tv;
    tv.tv_sec = iTimeoutMs / 1000;
    tv.tv_usec = (iTimeoutMs % 1000) * 1000;
    return YAR_Select(fdSocket + 1, bRead ? &readSet : nullptr, bWrite ? &writeSet : nullptr, nullptr, &tv);
}

bool Elapsed(uint64_t ullStart, int iTimeoutMs) {
    return YAR_GetTimeTick() - ullStart >= static_cast<uint64_t>(iTimeoutMs < 0 ? 0 : iTimeoutMs);
}

// What is left of a time-out that began at ullStart; 0 once it has passed.
int RemainingMs(uint64_t ullStart, int iTimeoutMs) {
    uint64_t ullSpent = YAR_GetTimeTick() - ullStart;
    return ullSpent >= static_cast<uint64_t>(iTimeoutMs) ? 0 : iTimeoutMs - static_cast<int>(ullSpent);
}

}  // namespace

// ---- Session ----

int CSSLTrans::SSLTrans_new() {
    if (!m_pSelfCtx) {
        LogModule_Write(LOG_LEVEL_INF, "CSSLTrans::SSLTrans_new, NULL == m_pSelfCtx");
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    if (m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_new, m_pSSL[0x%X] != NULL", MORVA_PTR_ARG(m_pSSL));
        SetError(MORVA_ERR_NOT_READY);
        SSLTrans_free();  // the old session goes, not leaks
    }
    m_pSSL = OpenSSL().SSL_new(m_pSelfCtx, static_cast<SSL *>(nullptr));
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_new, SSLTrans_new, Failed, m_pSelfCtx[0x%X]",
                        MORVA_PTR_ARG(m_pSelfCtx));
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::SSLTrans_new, m_pSSL[0x%X], m_pSelfCtx[0x%X]",
                         MORVA_PTR_ARG(m_pSSL), MORVA_PTR_ARG(m_pSelfCtx));
    return 1;
}

int CSSLTrans::SSLTrans_shutdown() {
    int bRet = SSLTrans_free();
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_shutdown, m_iSocket[%d], bRet[%d]",
                         MORVA_PTR_ARG(this), m_iSocket, bRet);
    return 1;
}

int CSSLTrans::NewDataBuf() {
    m_pDataBuf.reset(new (std::nothrow) BYTE[m_dwDataBufLen]);
    m_dwDataHeld = 0;
    if (!m_pDataBuf)
        return 0;
    memset(m_pDataBuf.get(), 0, m_dwDataBufLen);
    return 1;
}

int CSSLTrans::BindSocket(int fdSocket) {
    if (!QuietSocketBioAvailable())
        return OpenSSL().SSL_set_fd(m_pSSL, fdSocket, 0) == 1;
    BIO *pBio = NewQuietSocketBio(fdSocket);
    if (!pBio)
        return 0;
    OpenSSL().SSL_set_bio(m_pSSL, pBio, pBio);
    return 1;
}

// ---- Handshakes ----

int CSSLTrans::SSLTrans_connect(int fdSocket) {
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_INF, "CSSLTrans::SSLTrans_connect, m_pSSL == NULL, fdSocket[%d]", fdSocket);
        return 0;
    }
    SigPipeGuard noSigPipe;
    if (!NewDataBuf()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_connect, New m_pDataBuf Failed, m_dwDataBufLen[%d], fdSocket[%d]",
                        static_cast<int>(m_dwDataBufLen), fdSocket);
    } else if (!BindSocket(fdSocket)) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_connect, SSLTrans_set_fd Failed, fdSocket[%d], m_pSSL[0x%X]",
                        fdSocket, MORVA_PTR_ARG(m_pSSL));
    } else if (OpenSSL().SSL_connect(m_pSSL, -1) == 1) {
        // 0 is a handshake the peer shut down: not a session.
        m_iSocket = fdSocket;
        LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::SSLTrans_connect, SUCC, m_iSocket[%d], m_pSSL[0x%X]",
                             m_iSocket, MORVA_PTR_ARG(m_pSSL));
        return 1;
    } else {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_connect, SSLTrans_connect Failed, m_pSSL[0x%X], fdSocket[%d]",
                        MORVA_PTR_ARG(m_pSSL), fdSocket);
    }
    SSLTrans_free();
    return 0;
}

int CSSLTrans::SSLTrans_connect_with_timeout(int fdSocket, int iTimeout) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, NULL == m_pSSL", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!NewDataBuf()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, New m_pDataBuf Failed, m_dwDataBufLen[%d]",
                        MORVA_PTR_ARG(this), static_cast<int>(m_dwDataBufLen));
        return 0;
    }
    SigPipeGuard noSigPipe;
    YAR_SetNonBlock(fdSocket, 1);
    if (!BindSocket(fdSocket)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, SSLTrans_set_fd Failed, m_pSSL[0x%X], fdSocket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket);
        SSLTrans_free();
        return 0;
    }
    api.SSL_ctrl(m_pSSL, OSSL_SSL_CTRL_MODE, OSSL_SSL_MODE_AUTO_RETRY, nullptr, 0L);
    uint64_t ullStart = YAR_GetTimeTick();
    int iWant = SSL_ERROR_NONE;
    for (;;) {
        if (Elapsed(ullStart, iTimeout)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, Timeout, m_pSSL[0x%X], fdSocket[%d], iTimeout[%d]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket, iTimeout);
            break;
        }
        if (iWant != SSL_ERROR_NONE) {
            int iReady = WaitSocket(fdSocket, iWant == SSL_ERROR_WANT_READ, iWant == SSL_ERROR_WANT_WRITE,
                                    RemainingMs(ullStart, iTimeout));
            if (iReady < 0) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, select Failed, m_pSSL[0x%X], fdSocket[%d], iTimeout[%d], syserror[%d]",
                                MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket, iTimeout, SysError());
                break;
            }
            if (iReady == 0) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, select Timeout, m_pSSL[0x%X], fdSocket[%d], iTimeout[%d]",
                                MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket, iTimeout);
                break;
            }
        }
        int iRet = api.SSL_connect(m_pSSL, -1);
        int iSSLError = api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL);
        if (iRet == 1) {
            m_iSocket = fdSocket;
            LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, SUCC, m_pSSL[0x%X], fdSocket[%d]",
                                 MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket);
            return 1;
        }
        if (iSSLError != SSL_ERROR_WANT_READ && iSSLError != SSL_ERROR_WANT_WRITE) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CSSLTrans::SSLTrans_connect_with_timeout, SSLTrans_connect Failed, iSSLError[%d], m_pSSL[0x%X], fdSocket[%d], iTimeout[%d]",
                            MORVA_PTR_ARG(this), iSSLError, MORVA_PTR_ARG(m_pSSL), fdSocket, iTimeout);
            break;
        }
        iWant = iSSLError;
    }
    SSLTrans_free();
    return 0;
}

int CSSLTrans::SSLTrans_accept(int fdSocket) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]CSSLTrans::SSLTrans_accept, m_pSSL == NULL", MORVA_PTR_ARG(this));
        return 0;
    }
    SigPipeGuard noSigPipe;
    if (!NewDataBuf()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_accept, New m_pDataBuf Failed, m_dwDataBufLen[%d]",
                        MORVA_PTR_ARG(this), static_cast<int>(m_dwDataBufLen));
    } else if (!m_bDTLS && !BindSocket(fdSocket)) {
        // A DTLS session keeps the datagram BIOs its link has set.
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_accept, SSLTrans_set_fd Failed, m_pSSL[%d], fdSocket[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket);
    } else {
        int iRet = api.SSL_accept(m_pSSL, -1);
        if (iRet != 1) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CSSLTrans::SSLTrans_accept, SSLTrans_accept Failed, m_pSSL[0x%X], iRet:%d, iSSLError:%d, systemerr:%d",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), iRet,
                            api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL), SysError());
        } else if (!SSL_BIO_set_read_write()) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_accept, SSL_BIO_set_read_write Failed, m_pSSL[0x%X]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL));
        } else {
            m_iSocket = fdSocket;
            LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_accept, SUCC, m_iSocket[%d]",
                                 MORVA_PTR_ARG(this), m_iSocket);
            return 1;
        }
    }
    SSLTrans_free();
    return 0;
}

namespace {

// The texts of the two accepting loops.
struct AcceptTexts {
    const char *pNoBuf;
    const char *pSetFd;
    const char *pFailed;
    const char *pTimeout;
    const char *pSucc;  // null: continue as SSLTrans_accept does (memory BIOs)
};

const AcceptTexts kAcceptTexts = {
    "[0x%X]CSSLTrans::SSLTrans_accept_with_timeout, New m_pDataBuf Failed, m_dwDataBufLen[%d]",
    "[0x%X]CSSLTrans::SSLTrans_accept_with_timeout, SSLTrans_set_fd Failed, m_pSSL[%d], fdSocket[%d]",
    "[0x%X]CSSLTrans::SSLTrans_accept_with_timeout, SSLTrans_accept Failed, iSSLError[%d], m_pSSL[0x%X], fdSocket[%d], iTimeout[%d], systemerr[%d]",
    "[0x%X]CSSLTrans::SSLTrans_accept_with_timeout, Timeout, m_pSSL[0x%X], fdSocket[%d], iTimeout[%d]",
    nullptr};

const AcceptTexts kSynAcceptTexts = {
    "[0x%X]CSSLTrans::SSLTrans_SynAccept_with_timeout, New m_pDataBuf Failed, m_dwDataBufLen[%d]",
    "[0x%X]CSSLTrans::SSLTrans_SynAccept_with_timeout, SSLTrans_set_fd Failed, m_pSSL[%d], fdSocket[%d]",
    "[0x%X]CSSLTrans::SSLTrans_SynAccept_with_timeout, SSLTrans_accept Failed, iSSLError[%d], m_pSSL[0x%X], fdSocket[%d], iTimeout[%d], systemerr[%d]",
    "[0x%X]CSSLTrans::SSLTrans_SynAccept_with_timeout, Timeout, m_pSSL[0x%X], fdSocket[%d], iTimeout[%d]",
    "[0x%X]CSSLTrans::SSLTrans_SynAccept_with_timeout, SUCC, m_iSocket[%d]"};

}  // namespace

int CSSLTrans::AcceptLoop(int fdSocket, int iTimeout, bool bKeepSocket) {
    const AcceptTexts &texts = bKeepSocket ? kSynAcceptTexts : kAcceptTexts;
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_accept_with_timeout, m_pSSL == NULL, fdSocket:%d",
                        MORVA_PTR_ARG(this), fdSocket);
        return 0;
    }
    if (!NewDataBuf()) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pNoBuf, MORVA_PTR_ARG(this), static_cast<int>(m_dwDataBufLen));
        return 0;
    }
    SigPipeGuard noSigPipe;
    YAR_SetNonBlock(fdSocket, 1);
    if (!BindSocket(fdSocket)) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pSetFd, MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket);
        SSLTrans_free();
        return 0;
    }
    uint64_t ullStart = YAR_GetTimeTick();
    while (!Elapsed(ullStart, iTimeout)) {
        int iRet = api.SSL_accept(m_pSSL, -1);
        if (iRet == 1) {
            if (!texts.pSucc && !SSL_BIO_set_read_write()) {
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_accept, SSL_BIO_set_read_write Failed, m_pSSL[0x%X]",
                                MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL));
                SSLTrans_free();
                return 0;
            }
            m_iSocket = fdSocket;
            LogModule_WriteDebug(LOG_CATEGORY_SSL, texts.pSucc ? texts.pSucc : "[0x%X]CSSLTrans::SSLTrans_accept, SUCC, m_iSocket[%d]",
                                 MORVA_PTR_ARG(this), m_iSocket);
            return 1;
        }
        int iSSLError = api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL);
        if (iSSLError != SSL_ERROR_WANT_READ && iSSLError != SSL_ERROR_WANT_WRITE) {
            LogModule_Write(LOG_LEVEL_ERR, texts.pFailed, MORVA_PTR_ARG(this), iSSLError, MORVA_PTR_ARG(m_pSSL), fdSocket,
                            iTimeout, SysError());
            SSLTrans_free();
            return 0;
        }
        // The pause ends as soon as the socket is ready: a fixed sleep costs every handshake
        // one to two pauses. A descriptor select cannot watch keeps the plain pause.
        if (WaitSocket(fdSocket, iSSLError == SSL_ERROR_WANT_READ, iSSLError == SSL_ERROR_WANT_WRITE, RETRY_SLEEP_MS) < 0)
            YAR_Sleep(RETRY_SLEEP_MS);
    }
    LogModule_Write(LOG_LEVEL_ERR, texts.pTimeout, MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL), fdSocket, iTimeout);
    SSLTrans_free();
    return 0;
}

int CSSLTrans::SSLTrans_accept_with_timeout(int fdSocket, int iTimeout) {
    return AcceptLoop(fdSocket, iTimeout, false);
}

int CSSLTrans::SSLTrans_SynAccept_with_timeout(int fdSocket, int iTimeout) {
    return AcceptLoop(fdSocket, iTimeout, true);
}

int CSSLTrans::SSL_BIO_set_read_write() {
    COpenSSLAPI &api = OpenSSL();
    if (m_pReadBio && m_pWriteBio)
        return 1;
    m_pReadBio = api.BIO_new(api.BIO_s_mem(static_cast<const BIO_METHOD *>(nullptr)), static_cast<BIO *>(nullptr));
    if (!m_pReadBio) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSL_BIO_set_read_write, SSLTrans_bio_mem Recv Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    m_pWriteBio = api.BIO_new(api.BIO_s_mem(static_cast<const BIO_METHOD *>(nullptr)), static_cast<BIO *>(nullptr));
    if (!m_pWriteBio) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSL_BIO_set_read_write, SSLTrans_bio_mem Send Failed", MORVA_PTR_ARG(this));
        api.BIO_free(m_pReadBio, 0);
        m_pReadBio = nullptr;
        return 0;
    }
    api.SSL_set_bio(m_pSSL, m_pReadBio, m_pWriteBio);
    return 1;
}

// ---- Data on the socket ----

int CSSLTrans::SSLTrans_write(const void *pData, int iLen) {
    COpenSSLAPI &api = OpenSSL();
    if (m_iSocket < 0 || !m_pSSL) {
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]CSSLTrans::SSLTrans_write, Invalid Param, m_iSocket[%d], m_pSSL[0x%X]",
                        MORVA_PTR_ARG(this), m_iSocket, MORVA_PTR_ARG(m_pSSL));
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (!pData || iLen < 0)
        return -1;
    SigPipeGuard noSigPipe;
    const BYTE *p = static_cast<const BYTE *>(pData);
    int iDone = 0;
    while (iDone < iLen) {
        int iRet = api.SSL_write(m_pSSL, p + iDone, iLen - iDone, -1);
        if (iRet > 0) {
            iDone += iRet;
            continue;
        }
        int iSSLError = api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL);
        if (iSSLError == SSL_ERROR_WANT_WRITE || (iSSLError == SSL_ERROR_SYSCALL && SocketWouldBlock())) {
            YAR_Sleep(RETRY_SLEEP_MS);
            continue;
        }
        return -1;
    }
    return iLen;
}

// Fills the receive buffer with one record; the bytes held, or 0 / -1 for a would-block or a
// failure with nothing held.
int CSSLTrans::FillDataBuf() {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pDataBuf && !NewDataBuf())
        return -1;
    int iAsk = 4;
    bool bRetried = false;
    for (;;) {
        int iRet = api.SSL_read(m_pSSL, m_pDataBuf.get() + m_dwDataHeld, iAsk, -1);
        if (iRet > 0) {
            m_dwDataHeld += iRet;
            int iPending = api.SSL_pending(m_pSSL, 0);
            iAsk = iPending < static_cast<int>(m_dwDataBufLen - m_dwDataHeld) ? iPending
                                                                              : static_cast<int>(m_dwDataBufLen - m_dwDataHeld);
            if (iAsk <= 0)
                break;
            continue;
        }
        int iSSLError = api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL);
        if (iSSLError == SSL_ERROR_WANT_READ) {
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CSSLTrans::SSLTrans_read, SSL_ERROR_WANT_READ, m_pSSL[0x%X]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL));
            if (bRetried || m_dwDataHeld > 0)
                break;
            bRetried = true;
            YAR_Sleep(RETRY_SLEEP_MS);
            continue;
        }
        if (m_dwDataHeld > 0)
            break;  // deliver what came before the failure
        if (iSSLError == SSL_ERROR_NONE) {
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CSSLTrans::SSLTrans_read, SSL_ERROR_NONE, m_pSSL[0x%X]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL));
            break;
        }
        if (iSSLError == SSL_ERROR_SYSCALL) {
            if (iRet < 0 && SocketWouldBlock())
                return 0;
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read, SSL_ERROR_SYSCALL, syserror[%d]",
                            MORVA_PTR_ARG(this), errno);
            return -1;
        }
        // A closed session (close notify or end of stream) ends the link, never looks like no data.
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read, SSLTrans_read Failed, iSSLError[%d]",
                        MORVA_PTR_ARG(this), iSSLError);
        return -1;
    }
    return static_cast<int>(m_dwDataHeld);
}

int CSSLTrans::DeliverData(void *pBuf, int iSize, int *pbAll) {
    int iHeld = static_cast<int>(m_dwDataHeld);
    if (iHeld > iSize) {
        memcpy(pBuf, m_pDataBuf.get(), iSize);
        memmove(m_pDataBuf.get(), m_pDataBuf.get() + iSize, iHeld - iSize);
        m_dwDataHeld -= iSize;
        if (pbAll)
            *pbAll = 0;
        return iSize;
    }
    if (iHeld > 0)
        memcpy(pBuf, m_pDataBuf.get(), iHeld);
    m_dwDataHeld = 0;
    if (pbAll)
        *pbAll = 1;
    return iHeld;
}

int CSSLTrans::SSLTrans_read(void *pBuf, int iSize, int *pbAll) {
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read, NULL == m_pSSL", MORVA_PTR_ARG(this));
        return -1;
    }
    if (!pBuf || iSize <= 0)
        return -1;
    if (m_dwDataHeld == 0) {
        SigPipeGuard noSigPipe;
        int iRet = FillDataBuf();
        if (iRet <= 0) {
            if (pbAll)
                *pbAll = 1;
            return iRet;
        }
    }
    return DeliverData(pBuf, iSize, pbAll);
}

int CSSLTrans::SSLTrans_write_with_timeout(int fdSocket, const void *pSendData, int iDataLen, int iTimeout) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, NULL == m_pSSL", MORVA_PTR_ARG(this));
        return -1;
    }
    if (m_iSocket < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, Invalid m_iSocket[%d]",
                        MORVA_PTR_ARG(this), m_iSocket);
        return -1;
    }
    if (!pSendData || iDataLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, Invalid Param, pSendData[0x%X], iDataLen[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pSendData), iDataLen);
        return -1;
    }
    SigPipeGuard noSigPipe;
    const BYTE *p = static_cast<const BYTE *>(pSendData);
    int iDone = 0;
    bool bWantRead = false;
    // One deadline for the call: a peer that takes a little at a time must not restart it.
    uint64_t ullStart = YAR_GetTimeTick();
    bool bWait = false;  // the socket is known to be full (or the session wants input): wait first
    while (iDone < iDataLen) {
        int iWaitMs = iTimeout == -1 ? RETRY_SLEEP_MS : RemainingMs(ullStart, iTimeout);
        int iReady = bWait ? WaitSocket(fdSocket, bWantRead, true, iWaitMs) : 1;
        if (iReady < 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, select Failed, fdSocket[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), fdSocket, SysError());
            return -1;
        }
        if (iReady == 0) {
            if (iTimeout == -1)
                continue;
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, select Timeout, fdSocket[%d], iTimeout[%d]",
                            MORVA_PTR_ARG(this), fdSocket, iTimeout);
            break;
        }
        // At most one record per call: SSL_write reports nothing of a longer buffer until all of it
        // has gone, so a time-out would hide the records already sent. A retry after a want passes
        // the same bytes again, as OpenSSL requires.
        int iChunk = iDataLen - iDone < MAX_RECORD_PLAIN ? iDataLen - iDone : MAX_RECORD_PLAIN;
        int iRet = api.SSL_write(m_pSSL, p + iDone, iChunk, -1);
        int iError = api.SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL);
        bWantRead = iError == SSL_ERROR_WANT_READ;
        bWait = bWantRead || iError == SSL_ERROR_WANT_WRITE;
        if (iRet > 0 && iError == SSL_ERROR_NONE) {
            iDone += iRet;
        } else if (!bWait) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CSSLTrans::SSLTrans_write_with_timeout, SSLTrans_write Failed, fdSocket[%d], iResult[%d], iError[%d]",
                            MORVA_PTR_ARG(this), fdSocket, iRet, iError);
            return -1;
        }
    }
    return iDone;
}

int CSSLTrans::SSLTrans_read_with_timeout(int fdSocket, void *pRecvBuf, int iBufLen, int iTimeout) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, NULL == m_pSSL", MORVA_PTR_ARG(this));
        return -1;
    }
    if (m_iSocket < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, Invalid m_iSocket[%d]",
                        MORVA_PTR_ARG(this), m_iSocket);
        return -1;
    }
    if (!pRecvBuf) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, NULL == pRecvBuf, fdSocket[%d]",
                        MORVA_PTR_ARG(this), fdSocket);
        return -1;
    }
    if (iBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, Buffer Not Enough, iBufLen[%d], iOffset[%d], iResult[%d], fdSocket[%d]",
                        MORVA_PTR_ARG(this), iBufLen, 0, 0, fdSocket);
        return -1;
    }
    SigPipeGuard noSigPipe;
    BYTE work[READ_WORK_LEN];
    BYTE *pOut = static_cast<BYTE *>(pRecvBuf);
    int iOffset = 0;
    bool bWantWrite = false;
    // One deadline for the call: a peer that trickles a record byte by byte must not restart it.
    uint64_t ullStart = YAR_GetTimeTick();
    for (;;) {
        // Records already decrypted need no wait on the socket.
        if (api.SSL_pending(m_pSSL, 0) <= 0) {
            int iWaitMs = iTimeout == -1 ? 0 : RemainingMs(ullStart, iTimeout);
            int iReady = WaitSocket(fdSocket, true, bWantWrite, iWaitMs);
            if (iReady < 0) {
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, select Failed, syserror[%d], fdSocket[%d]",
                                MORVA_PTR_ARG(this), SysError(), fdSocket);
                return -1;
            }
            if (iReady == 0) {
                LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, select time out, iTimeout[%d], fdSocket[%d]",
                                MORVA_PTR_ARG(this), iTimeout, fdSocket);
                return iOffset;  // bytes already taken from the session are the caller's
            }
        }
        // Never take more from the session than the caller has room for: the rest stays pending.
        int iRoom = iBufLen - iOffset;
        if (iRoom <= 0)
            return iOffset;
        int iResult = api.SSL_read(m_pSSL, work, iRoom < READ_WORK_LEN ? iRoom : READ_WORK_LEN, -1);
        if (iResult < 0)
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, SSLTrans_read Failed, syserror[%d], fdSocket[%d]",
                            MORVA_PTR_ARG(this), errno, fdSocket);
        int iSSLError = api.SSL_get_error(m_pSSL, iResult, SSL_ERROR_SYSCALL);
        bWantWrite = false;
        if (iSSLError == SSL_ERROR_NONE && iResult > 0) {
            memcpy(pOut + iOffset, work, iResult);
            iOffset += iResult;
            if (api.SSL_pending(m_pSSL, 0) == 0)
                return iOffset;
        } else if (iSSLError == SSL_ERROR_ZERO_RETURN) {
            return iOffset;
        } else if (iSSLError == SSL_ERROR_WANT_WRITE) {
            bWantWrite = true;
        } else if (iSSLError != SSL_ERROR_WANT_READ) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_timeout, Other Error, iSSLError[%d], fdSocket[%d]",
                            MORVA_PTR_ARG(this), iSSLError, fdSocket);
            return -1;
        }
    }
}

// ---- Data through the memory BIOs ----

int CSSLTrans::SSLTrans_read_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize, int *pbMore) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL || !m_pReadBio || !pOut || !pbMore)
        return -1;
    bool bFresh = *pbMore <= 0;
    if (bFresh) {
        int iBytes = api.BIO_write(m_pReadBio, pIn, iInLen, -1);
        if (iBytes != iInLen) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_BIO, SSLTrans_bio_write Failed, bytes[%d] != in_len[%d]",
                            MORVA_PTR_ARG(this), iBytes, iInLen);
            *pbMore = 0;
            return 0;
        }
    }
    // Plain text a blocking read decrypted before the switch to memory BIOs comes first.
    if (m_dwDataHeld > 0) {
        *pbMore = 1;
        return DeliverData(pOut, iOutSize, nullptr);
    }
    int iBytes = api.SSL_read(m_pSSL, pOut, iOutSize, -1);
    if (iBytes > 0) {
        *pbMore = 1;
        return iBytes;
    }
    *pbMore = 0;
    if (iBytes < 0) {
        if (bFresh)
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CSSLTrans::SSLTrans_read_with_BIO, SSLTrans_read Failed, bytes[%d] < 0",
                            MORVA_PTR_ARG(this), iBytes);
        return -1;
    }
    if (bFresh)
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_read_with_BIO, SSLTrans_read Failed, bytes[%d]",
                        MORVA_PTR_ARG(this), iBytes);
    else
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]CSSLTrans::SSLTrans_read_with_BIO, SSLTrans_read Failed", MORVA_PTR_ARG(this));
    return 0;
}

int CSSLTrans::SSLTrans_holds_data() {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL)
        return 0;
    if (m_dwDataHeld > 0 || api.SSL_pending(m_pSSL, 0) > 0)
        return 1;
    return m_pReadBio && api.BIO_ctrl(m_pReadBio, BIO_CTRL_PENDING, 0, nullptr, 0) > 0 ? 1 : 0;
}

int CSSLTrans::SSLTrans_read_wants_input(int iRet) {
    return m_pSSL && OpenSSL().SSL_get_error(m_pSSL, iRet, SSL_ERROR_SYSCALL) == SSL_ERROR_WANT_READ ? 1 : 0;
}

int CSSLTrans::SSLTrans_write_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL || !m_pWriteBio || !pOut)
        return 0;
    api.SSL_write(m_pSSL, pIn, iInLen, -1);
    int nBIORead = api.BIO_read(m_pWriteBio, pOut, iOutSize, -1);
    if (nBIORead > 0)
        return nBIORead;
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_write_with_BIO, SSLTrans_bio_read Failed, nBIORead[%d], iSSLError[%d]",
                    MORVA_PTR_ARG(this), nBIORead, api.SSL_get_error(m_pSSL, nBIORead, SSL_ERROR_SYSCALL));
    return 0;
}

// ---- Pass-throughs ----

BIO *CSSLTrans::SSLTrans_BIO_new(const BIO_METHOD *pMethod) {
    return OpenSSL().BIO_new(pMethod, static_cast<BIO *>(nullptr));
}

const BIO_METHOD *CSSLTrans::SSLTrans_BIO_s_mem() {
    return OpenSSL().BIO_s_mem(static_cast<const BIO_METHOD *>(nullptr));
}

void CSSLTrans::SSLTrans_set_bio(SSL *pSSL, BIO *pReadBio, BIO *pWriteBio) {
    OpenSSL().SSL_set_bio(pSSL, pReadBio, pWriteBio);
}

int CSSLTrans::SSLTrans_bio_read(BIO *pBio, void *pBuf, int iLen) {
    return OpenSSL().BIO_read(pBio, pBuf, iLen, -1);
}

int CSSLTrans::SSLTrans_bio_write(BIO *pBio, const void *pData, int iLen) {
    return OpenSSL().BIO_write(pBio, pData, iLen, -1);
}

BIO *CSSLTrans::SSLTrans_bio_new_dgram(int fdSocket, int iCloseFlag) {
    return OpenSSL().BIO_new_dgram(fdSocket, iCloseFlag);
}

int CSSLTrans::SSLTrans_CTX_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) {
    return OpenSSL().SSL_CTX_set_alpn_protos(m_pSelfCtx, pProtos, uLen, 1);
}

// The session settings below refuse without a session: OpenSSL takes no null session.
int CSSLTrans::SSLTrans_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) {
    if (!m_pSSL)
        return 1;  // OpenSSL's failure result here
    return OpenSSL().SSL_set_alpn_protos(m_pSSL, pProtos, uLen, 1);
}

// The name is also the one the server's certificate must carry: a verifying session checks it
// (a session that does not verify ignores the result).
long CSSLTrans::SSLTrans_set_tlsext_host_name(const char *pName) {
    if (!m_pSSL)
        return 0;
    if (pName && OpenSSL().SSL_set1_host(m_pSSL, pName, 0) != 1)
        return 0;
    return OpenSSL().SSL_ctrl(m_pSSL, SSL_CTRL_SET_TLSEXT_HOSTNAME, 0L, const_cast<char *>(pName), 0L);
}

void CSSLTrans::SSLTrans_CTX_set_alpn_select_cb(OSSL_ALPN_SELECT_CB fnCb, void *pArg) {
    OpenSSL().SSL_CTX_set_alpn_select_cb(m_pSelfCtx, fnCb, pArg);
}

int CSSLTrans::SSLTrans_select_next_proto(unsigned char **ppOut, unsigned char *pOutLen, const unsigned char *pServer,
                                          unsigned int uServerLen, const unsigned char *pClient,
                                          unsigned int uClientLen) {
    return OpenSSL().SSL_select_next_proto(ppOut, pOutLen, pServer, uServerLen, pClient, uClientLen, 0);
}

void CSSLTrans::SSLTrans_get0_alpn_selected(const unsigned char **ppData, unsigned int *pLen) {
    if (!m_pSSL) {
        *ppData = nullptr;
        *pLen = 0;
        return;
    }
    OpenSSL().SSL_get0_alpn_selected(m_pSSL, ppData, pLen);
}

int CSSLTrans::SSLTrans_CTX_use_certificate_file(const char *pFile, int iType) {
    if (pFile)
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]SSLTrans_CTX_use_certificate_file, pFile[0x%X], iType[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pFile), iType);
    return OpenSSL().SSL_CTX_use_certificate_file(m_pSelfCtx, pFile, iType, -1);
}

int CSSLTrans::SSLTrans_CTX_use_PrivateKey_file(const char *pFile, int iType) {
    if (pFile)
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]SSLTrans_CTX_use_PrivateKey_file, pFile[0x%X], iType[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pFile), iType);
    return OpenSSL().SSL_CTX_use_PrivateKey_file(m_pSelfCtx, pFile, iType, -1);
}

int CSSLTrans::SSLTrans_CTX_check_private_key() {
    return OpenSSL().SSL_CTX_check_private_key(m_pSelfCtx, -1);
}

void CSSLTrans::SSLTrans_CTX_set_verify(int iMode, OSSL_VERIFY_CB fnCb) {
    OpenSSL().SSL_CTX_set_verify(m_pSelfCtx, iMode, fnCb);
}

int CSSLTrans::SSLTrans_CTX_load_verify_locations(const char *pFile) {
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]SSLTrans_CTX_load_verify_locations, pPath[%s]", MORVA_PTR_ARG(this),
                    pFile ? pFile : "");
    return OpenSSL().SSL_CTX_load_verify_locations(m_pSelfCtx, pFile, static_cast<const char *>(nullptr), -1);
}

long CSSLTrans::SSLTrans_CTX_ctrl(int iCmd, long lArg, void *pArg) {
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_CTX_ctrl, cmd[%d]", MORVA_PTR_ARG(this), iCmd);
    return OpenSSL().SSL_CTX_ctrl(m_pSelfCtx, iCmd, lArg, pArg, -1L);
}

int CSSLTrans::SSLTrans_set_cipher_list(const char *pList) {
    COpenSSLAPI &api = OpenSSL();
    if (!m_pSSL)
        return 0;
    int iRet = api.SSL_set_cipher_list(m_pSSL, pList, 0);
    if (api.GetVersionNum() >= OPENSSL_VERSION_1_1_1A)
        api.SSL_set_options(m_pSSL, static_cast<uint64_t>(OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE), static_cast<uint64_t>(0));
    else
        api.SSL_ctrl(m_pSSL, static_cast<int>(OSSL_SSL_CTRL_OPTIONS), static_cast<long>(OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE),
                     nullptr, 0L);
    return iRet;
}

int CSSLTrans::SSLTrans_CTX_set_ecdhparam() {
    COpenSSLAPI &api = OpenSSL();
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_CTX_set_ecdhparam", MORVA_PTR_ARG(this));
    if (api.GetVersionNum() >= OPENSSL_VERSION_1_1_1A) {
        api.SSL_CTX_set_options(m_pSelfCtx, static_cast<uint64_t>(0), static_cast<uint64_t>(0));
    } else {
        api.SSL_CTX_ctrl(m_pSelfCtx, static_cast<int>(OSSL_SSL_CTRL_OPTIONS), 0L, nullptr, 0L);
        api.SSL_CTX_ctrl(m_pSelfCtx, SSL_CTRL_SET_ECDH_AUTO, 1L, nullptr, 0L);
    }
    return 1;
}

void CSSLTrans::SSLTrans_CTX_set_cookie_generate_cb(OSSL_COOKIE_GENERATE_CB fnCb) {
    OpenSSL().SSL_CTX_set_cookie_generate_cb(m_pSelfCtx, fnCb);
}

void CSSLTrans::SSLTrans_CTX_set_cookie_verify_cb(OSSL_COOKIE_VERIFY_CB fnCb) {
    OpenSSL().SSL_CTX_set_cookie_verify_cb(m_pSelfCtx, fnCb);
}

}  // namespace Vorezi
