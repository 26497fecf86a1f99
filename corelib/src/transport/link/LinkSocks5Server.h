// The proxy side of the SOCKS5 handshake on an accepted socket: reads the client's method offer
// and CONNECT request and answers them; the owner then reads the requested host and port
// (GetRequestHost) and relays.
#pragma once

#include "transport/link/LinkBase.h"

namespace Vorezi {

class CLinkTCPSocks5Server : public CLinkTCP {
public:
    static constexpr DWORD kHostLen = 129;
    static constexpr DWORD kServerCommand = (DWORD)-2;

    CLinkTCPSocks5Server();

    int Start(const CONNECT_COND *pCond) override;
    int OpenLink() override;
    int CloseLink() override;
    int DoConnect() override;
    // The requested host: an IPv4 request as dotted text, a domain request as its name, an IPv6
    // request as the 16 address bytes; the port in network order, as received. Always 1.
    int GetRequestHost(char *pHost /* kHostLen */, WORD *pPort) override;

private:
    int RecvExactly(BYTE *pBuf, DWORD dwLen);
    int SendReply(BYTE byRep);
    int ReadMethods();
    int ReadRequest();
    int Refuse(BYTE byRep, const char *pWhat, int iValue);

    BYTE m_byRequestIPv4[4];
    char m_szRequestHost[kHostLen];
    WORD m_wRequestPort = 0;
    BYTE m_bySelectMethod = 0;
};

}  // namespace Vorezi
