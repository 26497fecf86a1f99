#include "transport/longlink/BaseProtocol.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/LinkFactory.h"
#include "yar/yar_addr.h"

namespace Vorezi {

namespace {
constexpr int kUseMemPool = 1;
}  // namespace

const LINK_COND *WidenAddrCond(const LINK_ADDR_COND *pAddr, LINK_COND *pCond) {
    if (!pAddr)
        return nullptr;
    const LINK_ADDR_COND &struAddr = *pAddr;
    std::memset(pCond, 0, sizeof(*pCond));
    pCond->dwConnectTimeout = struAddr.dwConnectTimeout;
    pCond->dwRecvTimeout = struAddr.dwRecvTimeout;
    pCond->dwSendTimeout = struAddr.dwSendTimeout;
    pCond->iServerPort = struAddr.iServerPort;
    pCond->byProxyID = struAddr.byProxyID;
    pCond->pServerIP = struAddr.pServerIP;
    pCond->dwRes2 = struAddr.dwRes2;
    pCond->iKind = struAddr.iKind;
    pCond->dwUserID = struAddr.dwUserID;
    return pCond;
}

CBaseProtocol::CBaseProtocol() {
    ClearBuffer();
}

CBaseProtocol::~CBaseProtocol() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CBaseProtocol::~CBaseProtocol, m_pLink[0x%X]", MORVA_PTR_ARG(this),
                    MORVA_PTR_ARG(Link()));
    if (Link())
        Link_DestroyLink(Link());
}

// Only the length is reset: the buffer is never read past what the last receive put into it, and
// zeroing its 32 KiB would cost every link the time and the resident pages, also the asynchronous
// links that never receive into it.
void CBaseProtocol::ClearBuffer() {
    m_dwRecvLen = 0;
}

int CBaseProtocol::IsUseAsyncIO() {
    return GetCoreGlobalCtrl()->IsAsyncIO() && m_bUseAsyn;
}

int CBaseProtocol::CreateLink(const char *pServerIP, int iPort, const LINK_ADDR_COND *pAddr, DWORD dwCommand) {
    LINK_COND struCond;
    return CreateLinkEx(pServerIP, iPort, WidenAddrCond(pAddr, &struCond), dwCommand);
}

int CBaseProtocol::CreateLinkByCond(DWORD dwCommand, void *pIgnored, const LINK_ADDR_COND *pAddr) {
    LINK_COND struCond;
    return CreateLinkEx(dwCommand, pIgnored, WidenAddrCond(pAddr, &struCond));
}

int CBaseProtocol::CreateLinkEx(const char *pServerIP, int iPort, const LINK_COND *pCond, DWORD dwCommand) {
    CLinkBase *pLink = Interim_CreateLinkByIPEx(pServerIP, iPort, pCond, dwCommand);
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CBaseProtocol::CreateLinkEx, Interim_CreateLinkByIPEx Failed, dwCommand[%d]",
                        MORVA_PTR_ARG(this), dwCommand);
        return 0;
    }
    m_pLink = pLink;
    return 1;
}

int CBaseProtocol::CreateLinkEx(DWORD dwCommand, void *, const LINK_COND *pCond) {
    if (!pCond)  // the creator logs and sets the error
        return CreateLinkEx(nullptr, 0, nullptr, dwCommand);
    return CreateLinkEx(pCond->pServerIP, pCond->iServerPort, pCond, dwCommand);
}

int CBaseProtocol::CloseLinkSocket() {
    if (!Link())
        return 0;
    Link_CloseLinkSocket(Link());
    ClearBuffer();
    return 1;
}

int CBaseProtocol::DestroyLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CBaseProtocol::DestroyLink, m_pLink[0x%X]", MORVA_PTR_ARG(this),
                    MORVA_PTR_ARG(Link()));
    if (!Link())
        return 0;
    Link_DestroyLink(m_pLink.exchange(nullptr));
    ClearBuffer();
    return 1;
}

CLinkBase *CBaseProtocol::GetLink() {
    return Link();
}

int CBaseProtocol::SetLink(CLinkBase *pLink) {
    if (Link())
        DestroyLink();
    m_pLink = pLink;
    m_bUseAsyn = 1;
    return 1;
}

int CBaseProtocol::GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) {
    if (!Link())
        return 0;
    return Link_GetLinkParam(Link(), dwParamID, pIn, dwInLen, pOut, pOutLen);
}

int CBaseProtocol::CreateGeneralLink(const LINK_CREATE_PARAM *pParam, int bUseAsyn) {
    CLinkBase *pLink = pParam ? Link_CreateLinkEx(pParam, kUseMemPool, nullptr) : nullptr;
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CBaseProtocol::CreateGeneralLink, Link_CreateLinkEx Failed, bUseAsyn[%d]",
                        MORVA_PTR_ARG(this), bUseAsyn);
        return 0;
    }
    m_pLink = pLink;
    m_bUseAsyn = (DWORD)bUseAsyn;
    return 1;
}

int CBaseProtocol::SetLinkForceClose() {
    return Link() ? Link()->SetLinkForceClose() : 0;
}

void CBaseProtocol::GetRemoteAddr(char *pIP, WORD *pPort, DWORD dwLen) {
    if (!Link() || !pIP || !pPort || dwLen < (DWORD)LINK_ADDR_TEXT_LEN)
        return;
    std::memcpy(pIP, Link()->GetServerIPText(), LINK_ADDR_TEXT_LEN);
    *pPort = Link()->GetServerPort();
}

void CBaseProtocol::GetLocalAddr(char *pIP, WORD *pPort, DWORD dwLen) {
    if (!Link() || !pIP || !pPort || dwLen < (DWORD)LINK_ADDR_TEXT_LEN)
        return;
    YAR_ADDR_T struLocal = {}, struPeer = {};
    if (YAR_GetAddrBySockFd(Link()->GetSocket(), &struLocal, &struPeer) != 0)
        return;
    Utils_AddrToIPPort(struLocal, pIP, (int)dwLen, pPort);
}

char *CBaseProtocol::RecvData(DWORD *pLen, int *pStatus, DWORD dwTimeOut, int bFirstData) {
    m_dwRecvLen = 0;
    if (!Link_RecvData(Link(), m_szRecvBuf, m_dwRecvBufSize, &m_dwRecvLen, dwTimeOut, bFirstData))
        *pStatus = (int)LastError();
    else if (m_dwRecvLen == 0)
        *pStatus = MORVA_ERR_RECV_TIMEOUT;
    *pLen = m_dwRecvLen;
    return m_szRecvBuf;
}

int CBaseProtocol::CreateAcceptedLink(int sockAccepted, int enumLinkType, const char *pFailText) {
    LINK_CREATE_PARAM struParam;
    std::memset(&struParam, 0, sizeof(struParam));
    struParam.enumLinkType = enumLinkType;
    struParam.dwServerMode = 1;
    struParam.iSocket = sockAccepted;
    CLinkBase *pLink = Link_CreateLink(&struParam, kUseMemPool, nullptr);
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, pFailText, MORVA_PTR_ARG(this), sockAccepted);
        return 0;
    }
    m_pLink = pLink;
    return 1;
}

int CBaseProtocol::CreatePushLink(int sockAccepted) {
    return CreateAcceptedLink(sockAccepted, LINK_TYPE_TCP,
                              "[0x%X]CBaseProtocol::CreatePushLink, Link_CreateLink Failed, sockListen[%d]");
}

int CBaseProtocol::CreateSocks5PushLink(int sockAccepted) {
    return CreateAcceptedLink(sockAccepted, LINK_TYPE_SOCKS5_SERVER,
                              "[0x%X]CBaseProtocol::CreateSocks5PushLink, Link_CreateLink Failed, sockListen[%d]");
}

int CBaseProtocol::EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult) {
    if (!Link()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CBaseProtocol::EnlargeBufferSize, pLinkInstance == NULL, dwSndMult[%d], dwRcvMult[%d]",
                        MORVA_PTR_ARG(this), dwSndMult, dwRcvMult);
        return 0;
    }
    const int bRet = Link()->SetBuffSize(dwSndMult, dwRcvMult);
    LogModule_Write(LOG_LEVEL_DBG,
                    "[0x%X]CBaseProtocol::EnlargeBufferSize, SetBuffSize bRet[%d], dwSndMult[%d], dwRcvMult[%d]",
                    MORVA_PTR_ARG(this), bRet, dwSndMult, dwRcvMult);
    return bRet;
}

int CBaseProtocol::SetRecvTimeout(DWORD dwTime) {
    if (!Link())
        return 0;
    Link()->SetRecvTimeout(dwTime);
    return 1;
}

int CBaseProtocol::GetLocalIPInfo(LINK_LOCAL_IP_INFO *pInfo) {
    return Link() ? Link()->GetIPAddrInfo(pInfo) : 0;
}

int CBaseProtocol::RestSocketByNoClose() {
    if (!Link())
        return 0;
    Link()->RestSocketByNoClose();
    return 1;
}

int CBaseProtocol::SendData(const PROTOCOL_SEND_DATA *pData, DWORD dwTimeOut) {
    if (!Link() || !pData)
        return -1;
    return Link_SendDataByLink(Link(), pData->pData, pData->dwLen, dwTimeOut);
}

int CBaseProtocol::ResetLink(const char *pServerIP) {
    if (!Link() || !pServerIP)
        return 0;
    Link()->Stop();
    if (!Link()->SetServerIPText(pServerIP))
        return 0;
    return Link_ResetLink(Link());
}

int CBaseProtocol::GetProxyLinkDstAddr(char *pHost, WORD *pPort) {
    return Link() ? Link()->GetRequestHost(pHost, pPort) : 0;
}

}  // namespace Vorezi
