// The SOCKS5 client link: reaches its server through a proxy of the library's proxy table,
// which it asks for a CONNECT to the link's server address (or to the destination text, when
// one is given). The proxy is reached over IPv4; the target may be IPv4 or IPv6.
#pragma once

#include "morva/MorvaLink.h"
#include "transport/link/LinkBase.h"

namespace Vorezi {

class CLinkTCPSocks5 : public CLinkTCP {
public:
    explicit CLinkTCPSocks5(BYTE byProxyID);

    int OpenLink() override;
    int DoConnect() override;
    virtual DWORD BuildMethodRequest(BYTE *pBuf);
    virtual int BuildConnectRequest(BYTE *pBuf, DWORD dwSize, DWORD *pLen);

private:
    // The address text the CONNECT names.
    const char *TargetText() const;
    int ConnectProxy();
    int Handshake();
    int SendAll(const BYTE *pBuf, DWORD dwLen);
    int RecvExactly(BYTE *pBuf, DWORD dwLen, DWORD dwTimeOut);

    int m_iProxyFamily;
    BYTE m_bySelectMethod = 0;
    MORVA_PROXY_RECORD m_struProxy;
};

}  // namespace Vorezi
