#include "transport/link/LinkSocks5.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/Socks5Wire.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

static_assert(sizeof(MORVA_PROXY_RECORD) == MORVA_PROXY_RECORD_LEN, "the proxy record is 196 bytes");

namespace {
constexpr DWORD kQuietCommand = 66048;
// Head, a domain's length byte, up to 255 name bytes and the port.
constexpr DWORD kReplyBufLen = socks5::kHeadLen + 1 + 255 + socks5::kPortLen;
constexpr DWORD kConnectBufLen = 133;
}  // namespace

CLinkTCPSocks5::CLinkTCPSocks5(BYTE byProxyID)
    : m_iProxyFamily(YAR_AF_INET) {
    std::memset(&m_struProxy, 0, sizeof(m_struProxy));
    Ctrl()->GetProxyByID(byProxyID, &m_struProxy);
    m_struProxy.szProxyIP[sizeof(m_struProxy.szProxyIP) - 1] = '\0';
}

const char *CLinkTCPSocks5::TargetText() const {
    return m_szDestIP[0] ? m_szDestIP : m_szServerIP;
}

// The target must be an address: the request has no room for a name, and a name must never
// turn into 0.0.0.0. The socket is made for the proxy's family, not the target's.
int CLinkTCPSocks5::OpenLink() {
    BYTE byProbe[socks5::kConnectRequestMax];
    DWORD dwLen = 0;
    if (!BuildConnectRequest(byProbe, sizeof(byProbe), &dwLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5::OpenLink, Invalid destination[%s]", MORVA_PTR_ARG(this),
                        TargetText());
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    m_iAf = m_iProxyFamily;
    m_bIPv6 = 0;
    return CLinkTCP::OpenLink();
}

DWORD CLinkTCPSocks5::BuildMethodRequest(BYTE *pBuf) {
    return socks5::BuildMethodRequest(pBuf);
}

int CLinkTCPSocks5::BuildConnectRequest(BYTE *pBuf, DWORD dwSize, DWORD *pLen) {
    return socks5::BuildConnectRequest(TargetText(), m_wServerPort, pBuf, dwSize, pLen);
}

int CLinkTCPSocks5::DoConnect() {
    if (!BindSockToLocalAddr())
        return 0;
    return ConnectProxy() && Handshake();
}

int CLinkTCPSocks5::ConnectProxy() {
    YAR_ADDR_T struProxy;
    if (Utils_MakeAddr(m_iProxyFamily, m_struProxy.szProxyIP, m_struProxy.wProxyPort, &struProxy) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5::DoConnect, Invalid proxy[%s:%d]", MORVA_PTR_ARG(this),
                        m_struProxy.szProxyIP, m_struProxy.wProxyPort);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!m_dwConncetTimeout)
        Ctrl()->GetConnectTimeOut(&m_dwConncetTimeout, nullptr);
    if (YAR_ConnectWithTimeOut(m_socket, &struProxy, m_dwConncetTimeout) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Private connect %s:%d sock=%d this=%#x cmd=%#x sys_err=%d", TargetText(),
                        m_wLocalPort, m_socket, MORVA_PTR_ARG(this), m_dwCommand, YAR_GetSystemLastError());
        SetError(MORVA_ERR_CONNECT);
        return 0;
    }
    YAR_ADDR_T struLocal = {};
    if (YAR_GetAddrBySockFd(m_socket, &struLocal, nullptr) == 0) {
        if (!Ctrl()->IsBindLocalIP())
            m_struLocalAddr = struLocal;
        m_wAsyncLocalPort = YAR_GetAddrPort(&struLocal);
    }
    if (m_dwCommand != kQuietCommand)
        LogModule_Write(LOG_LEVEL_INF, "Private connect %s:%d sock=%d this=%#x cmd=%#x port=%d", TargetText(),
                        m_wLocalPort, m_socket, MORVA_PTR_ARG(this), m_dwCommand, m_wAsyncLocalPort);
    return 1;
}

int CLinkTCPSocks5::SendAll(const BYTE *pBuf, DWORD dwLen) {
    if (SendData((const char *)pBuf, dwLen, m_dwSendTimeout) == (int)dwLen)
        return 1;
    SetError(MORVA_ERR_SEND);
    return 0;
}

// A receive time-out leaves error 10 and a short count.
int CLinkTCPSocks5::RecvExactly(BYTE *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    DWORD dwGot = 0;
    return RecvData((char *)pBuf, dwLen, &dwGot, dwTimeOut, 0) && dwGot == dwLen;
}

int CLinkTCPSocks5::Handshake() {
    BYTE byBuf[kReplyBufLen];
    if (!SendAll(byBuf, BuildMethodRequest(byBuf)) || !RecvExactly(byBuf, socks5::kMethodReplyLen, 0))
        return 0;
    if (!socks5::CheckMethodReply(byBuf, &m_bySelectMethod)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5::DoConnect, method refused, VER[%d], METHOD[%d]",
                        MORVA_PTR_ARG(this), byBuf[0], byBuf[1]);
        SetError(MORVA_ERR_CONNECT);
        return 0;
    }
    DWORD dwLen = 0;
    if (!BuildConnectRequest(byBuf, kConnectBufLen, &dwLen) || !SendAll(byBuf, dwLen))
        return 0;
    const DWORD dwRecvTimeout = m_dwRecvTimeout ? m_dwRecvTimeout : Ctrl()->GetDefaultRecvTimeOut();
    if (!RecvExactly(byBuf, socks5::kHeadLen, 10 * dwRecvTimeout))
        return 0;
    DWORD dwMore = 0;
    if (!socks5::CheckConnectReplyHead(byBuf, m_bySelectMethod, &dwMore)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCPSocks5::DoConnect, CONNECT refused, VER[%d], REP[%d], ATYP[%d]",
                        MORVA_PTR_ARG(this), byBuf[0], byBuf[1], byBuf[3]);
        SetError(MORVA_ERR_CONNECT);
        return 0;
    }
    BYTE *pTail = byBuf + socks5::kHeadLen;
    if (!RecvExactly(pTail, dwMore, 0))
        return 0;
    // A domain reply: after its length byte, the name and the port.
    return byBuf[3] != socks5::kAtypDomain || RecvExactly(pTail + 1, socks5::DomainTailLen(pTail[0]), 0);
}

}  // namespace Vorezi
