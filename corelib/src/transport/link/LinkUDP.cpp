// Datagram links: a connected UDP socket, and the multicast link that joins a group.
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/LinkBase.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

int CLinkUDP::OpenLink() {
    const char *pFail = nullptr;
    if (!CreateSocket())
        pFail = "[0x%X]CLinkUDP::OpenLink, CreateSocket Failed, syserror[%d]";
    else if (!ProcessLocalIPAndPort())
        pFail = "[0x%X]CLinkUDP::OpenLink, ProcessLocalIPAndPort Failed, syserror[%d]";
    else if (!DoConnect())
        pFail = "[0x%X]CLinkUDP::OpenLink, DoConnect Failed, syserror[%d]";
    if (!pFail)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, pFail, MORVA_PTR_ARG(this), YAR_GetSystemLastError());
    Cleanup();
    return 0;
}

int CLinkUDP::SendData(const char *pBuf, DWORD dwLen, DWORD) {
    if (m_bBindSocket) {
        if (m_LinkAsyncIO.SendData(pBuf, dwLen) <= 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkUDP::SendData, m_LinkAsyncIO.SendData Failed, uiSendLen[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), dwLen, YAR_GetSystemLastError());
            return -1;
        }
        return (int)dwLen;
    }
    return SendTo(m_szServerIP, m_wServerPort, pBuf, dwLen,
                  "[0x%X]CLinkUDP::SendData, YAR_SendTo Failed, m_socket[%d], uiSendLen[%d], syserror[%d]");
}

// One datagram; a short send is logged with the caller's text and sets error 8.
int CLinkUDP::SendTo(const char *pIP, WORD wPort, const char *pBuf, DWORD dwLen, const char *pFailText) {
    YAR_ADDR_T struAddr;
    Utils_MakeAddr(m_iAf, pIP, wPort, &struAddr);
    const int iSent = YAR_SendTo(m_socket, pBuf, (int)dwLen, &struAddr);
    if (iSent != (int)dwLen) {
        LogModule_Write(LOG_LEVEL_ERR, pFailText, MORVA_PTR_ARG(this), m_socket, dwLen, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
    }
    return iSent;
}

int CLinkMcast::MakeGroupAddr(YAR_ADDR_T *pGroup) {
    const int iAf = YAR_GetAddrType(&m_struLocalAddr) == YAR_AF_INET6 ? YAR_AF_INET6 : YAR_AF_INET;
    return Utils_MakeAddr(iAf, m_szGroupIP, m_wGroupPort, pGroup);
}

int CLinkMcast::OpenLink() {
    if (m_iAf == YAR_AF_INET6) {
        BYTE byAddr[16] = {0};
        GetCoreGlobalCtrl()->GetLocalIPv6Addr(byAddr);
        YAR_MakeAddr6(byAddr, m_wGroupPort, &m_struLocalAddr);
    } else {
        char szIP[16] = {0};
        GetCoreGlobalCtrl()->GetLocalIPv4Str(szIP);
        Utils_MakeAddr(YAR_AF_INET, szIP, m_wGroupPort, &m_struLocalAddr);
    }
    if (!CreateSocket()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkMcast::OpenLink, CreateSocket Failed", MORVA_PTR_ARG(this));
        Cleanup();
        return 0;
    }
    LINK_LOCAL_IP_INFO struInfo;
    GetIPAddrInfo(&struInfo);
    YAR_ADDR_T struBind, struGroup;
    Utils_MakeAddr(struInfo.bIPv6 ? YAR_AF_INET6 : YAR_AF_INET, struInfo.bIPv6 ? "::" : "0.0.0.0", m_wGroupPort,
                   &struBind);
    MakeGroupAddr(&struGroup);
    char szLocal[64] = {0}, szGroup[64] = {0};
    YAR_GetAddrStringEx(&m_struLocalAddr, szLocal, sizeof(szLocal));
    YAR_GetAddrStringEx(&struGroup, szGroup, sizeof(szGroup));
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]CLinkMcast::OpenLink, m_socket[%d], Addr[%s:%d][%s:%d]", MORVA_PTR_ARG(this),
                    m_socket, szLocal, m_wGroupPort, szGroup, m_wGroupPort);
    if (YAR_Bind(m_socket, &struBind) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkMcast::OpenLink, YAR_Bind Failed, m_socket[%d], Addr[%s:%d][%s:%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, szLocal, m_wGroupPort, szGroup, m_wGroupPort,
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_BIND);
        Cleanup();
        return 0;
    }
    if (YAR_JoinMultiCastGroup(m_socket, &m_struLocalAddr, &struGroup) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkMcast::OpenLink, YAR_JoinMultiCastGroup Failed, m_socket[%d], Addr[%s:%d][%s:%d], "
                        "syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, szLocal, m_wGroupPort, szGroup, m_wGroupPort,
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_MCAST_JOIN);
        Cleanup();
        return 0;
    }
    return 1;
}

int CLinkMcast::SendData(const char *pBuf, DWORD dwLen, DWORD) {
    return SendTo(m_szGroupIP, m_wGroupPort, pBuf, dwLen,
                  "[0x%X]CLinkMcast::OpenLink, m_socket[%d], uiSendLen[%d], syserror[%d]");
}

int CLinkMcast::Stop() {
    if (m_socket != -1) {
        YAR_ADDR_T struGroup;
        if (MakeGroupAddr(&struGroup) == 0)
            YAR_LeaveMultiCastGroup(m_socket, &m_struLocalAddr, &struGroup);
    }
    return CLinkBase::Stop();
}

}  // namespace Vorezi
