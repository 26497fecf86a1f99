// The TLS links: CLinkTCPSSL runs TLS over a TCP link, as the client of an outgoing link
// (verification, ALPN and SNI from the link's LINK_EXT_PARAM) or as the server on an accepted
// socket (dwServerMode 1). CLinkTCPTLS opens in clear text and moves to TLS on request.
#pragma once

#include <memory>
#include <mutex>

#include "crypto/OpenSSLTypes.h"
#include "transport/link/LinkBase.h"

namespace Vorezi {

class CSSLTrans;

class CLinkTCPSSL : public CLinkTCP {
public:
    explicit CLinkTCPSSL(int bGM = 0);
    ~CLinkTCPSSL() override;

    int Start(const CONNECT_COND *pCond) override;
    int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) override;
    int RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) override;
    int RecvRaw(char *pBuf, int iSize) override;
    int CloseLink() override;
    int GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) override;
    int OpenLink() override;
    void PrepareRecv() override;

    // The server side's ALPN choice; pArg is the link.
    static int AlpnSelectCallback(SSL *pSSL, const unsigned char **ppOut, unsigned char *pOutLen,
                                  const unsigned char *pIn, unsigned int uInLen, void *pArg);

protected:
    int CheckVerifyMode();
    int CreateSSL();
    int DoSSLConnect();
    int DoSSLAccept();
    void DestroySSL();
    int SSLSend(const char *pBuf, DWORD dwLen, DWORD dwTimeOut);
    int SSLRecv(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData);

    DWORD m_bSelect = 1;
    DWORD m_dwRes = 0;
    DWORD m_bH2 = 0;
    CSSLTrans *m_pSSLTrans = nullptr;
    unsigned char m_byAlpnSelect[256] = {0};
    std::mutex m_WriteLock;
    int m_bGM;

private:
    // Bytes the TLS object already decrypted and holds, handed out without waiting on the socket.
    DWORD TakeHeld(char *pBuf, DWORD dwSize, int *pbFailed);
    int AsyncSend(const char *pBuf, DWORD dwLen);
    int Seal(const char *pBuf, DWORD dwLen, std::unique_ptr<char[]> *ppOut);
    int SendThroughBIO(const char *pBuf, DWORD dwLen, DWORD dwTimeOut);
    int ReadSession(char *pBuf, int iSize, const char *pIn, int iInLen, int *pbFailed);
    int RecvThroughBIO(char *pBuf, int iSize);
};

class CLinkTCPTLS : public CLinkTCPSSL {
public:
    int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) override;
    int RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) override;
    int RecvRaw(char *pBuf, int iSize) override;
    int OpenLink() override;
    void PrepareRecv() override;
    int ChangeConnectType();

private:
    DWORD m_dwConnectType = 0;  // 0 clear text, 1 TLS
};

}  // namespace Vorezi
