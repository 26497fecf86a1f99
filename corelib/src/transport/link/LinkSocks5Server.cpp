#include "transport/link/LinkSocks5Server.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/link/SocketEnd.h"
#include "transport/link/Socks5Wire.h"
#include "yar/yar_addr.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {
constexpr DWORD kMaxMethods = 255;
}  // namespace

CLinkTCPSocks5Server::CLinkTCPSocks5Server() {
    std::memset(m_byRequestIPv4, 0, sizeof(m_byRequestIPv4));
    std::memset(m_szRequestHost, 0, sizeof(m_szRequestHost));
}

int CLinkTCPSocks5Server::Start(const CONNECT_COND *pCond) {
    if (pCond->dwServerMode != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5Server::Start, Invalid dwServerMode[%d]", MORVA_PTR_ARG(this),
                        pCond->dwServerMode);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!CLinkBase::Start(pCond))
        return 0;
    m_dwCommand = kServerCommand;
    return OpenLink();
}

int CLinkTCPSocks5Server::OpenLink() {
    YAR_LingerOn(m_socket, 0);
    if (!DoConnect()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5Server::OpenLink, DoConnect Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        Cleanup();
        return 0;
    }
    return 1;
}

// A stream that one side ended on purpose keeps what it still has to send; an abort resets.
int CLinkTCPSocks5Server::CloseLink() {
    if (m_socket != -1 && !m_bSocketOnLoan && SocketStreamEnded(m_socket))
        SocketDrainSendQueue(m_socket, SOCKET_DRAIN_STALL_MS, nullptr);
    return CLinkTCP::CloseLink();
}

int CLinkTCPSocks5Server::DoConnect() {
    return ReadMethods() && ReadRequest();
}

int CLinkTCPSocks5Server::GetRequestHost(char *pHost, WORD *pPort) {
    std::memcpy(pHost, m_szRequestHost, kHostLen);
    *pPort = m_wRequestPort;
    return 1;
}

int CLinkTCPSocks5Server::RecvExactly(BYTE *pBuf, DWORD dwLen) {
    DWORD dwGot = 0;
    return RecvData((char *)pBuf, dwLen, &dwGot, 0, 0) && dwGot == dwLen;
}

int CLinkTCPSocks5Server::SendReply(BYTE byRep) {
    BYTE byReply[socks5::kServerReplyLen];
    socks5::BuildServerReply(byRep, byReply);
    return SendData((const char *)byReply, sizeof(byReply), m_dwSendTimeout) == (int)sizeof(byReply);
}

// Answers byRep first when it is not 0 (a refusal the client can read), then fails.
int CLinkTCPSocks5Server::Refuse(BYTE byRep, const char *pWhat, int iValue) {
    if (byRep)
        SendReply(byRep);
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5Server::DoConnect, %s[%d]", MORVA_PTR_ARG(this), pWhat, iValue);
    SetError(MORVA_ERR_RECV);
    return 0;
}

int CLinkTCPSocks5Server::ReadMethods() {
    BYTE byHead[2];
    if (!RecvExactly(byHead, sizeof(byHead)))
        return 0;
    if (byHead[0] != socks5::kVersion)
        return Refuse(0, "Invalid VER", byHead[0]);
    if (byHead[1] == 0)
        return Refuse(0, "Invalid NMETHODS", 0);
    BYTE byMethods[kMaxMethods];
    if (!RecvExactly(byMethods, byHead[1]))
        return 0;
    const int iMethod = socks5::SelectMethod(byMethods, byHead[1]);
    const BYTE byReply[2] = {socks5::kVersion, iMethod < 0 ? socks5::kMethodRefused : (BYTE)iMethod};
    if (SendData((const char *)byReply, sizeof(byReply), m_dwSendTimeout) != (int)sizeof(byReply))
        return 0;
    if (iMethod < 0)
        return Refuse(0, "No acceptable method, NMETHODS", byHead[1]);
    m_bySelectMethod = (BYTE)iMethod;
    return 1;
}

int CLinkTCPSocks5Server::ReadRequest() {
    BYTE byHead[socks5::kHeadLen];
    if (!RecvExactly(byHead, sizeof(byHead)))
        return 0;
    if (byHead[0] != socks5::kVersion)
        return Refuse(0, "Invalid request VER", byHead[0]);
    if (byHead[1] != socks5::kCmdConnect)
        return Refuse(socks5::kRepCmdNotSupported, "Unsupported CMD", byHead[1]);
    switch (byHead[3]) {
    case socks5::kAtypIPv4:
        if (!RecvExactly(m_byRequestIPv4, sizeof(m_byRequestIPv4)))
            return 0;
        YAR_InetNtop(YAR_AF_INET, m_byRequestIPv4, m_szRequestHost, kHostLen);
        break;
    case socks5::kAtypIPv6:
        if (!RecvExactly((BYTE *)m_szRequestHost, 16))
            return 0;
        break;
    case socks5::kAtypDomain: {
        BYTE byLen = 0;
        if (!RecvExactly(&byLen, 1))
            return 0;
        if (byLen == 0 || byLen > socks5::kMaxDomainLen)
            return Refuse(0, "Invalid domain length", byLen);
        if (!RecvExactly((BYTE *)m_szRequestHost, byLen))
            return 0;
        break;
    }
    default:
        return Refuse(socks5::kRepAtypNotSupported, "Unsupported ATYP", byHead[3]);
    }
    BYTE byPort[socks5::kPortLen];
    if (!RecvExactly(byPort, sizeof(byPort)))
        return 0;
    std::memcpy(&m_wRequestPort, byPort, sizeof(byPort));
    if (!SendReply(socks5::GrantedReply(m_bySelectMethod))) {
        SetError(MORVA_ERR_SEND);
        return 0;
    }
    return 1;
}

}  // namespace Vorezi
