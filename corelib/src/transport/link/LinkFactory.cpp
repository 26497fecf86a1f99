#include "transport/link/LinkFactory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/LinkSocks5.h"
#include "transport/link/LinkSocks5Server.h"
#include "transport/link/LinkTCPSSL.h"

namespace Vorezi {

namespace {

template <class T>
CLinkBase *NewLink(int nIndex, const LINK_CREATE_PARAM *) {
    return new (nIndex) T;
}

CLinkBase *NewSocks5Link(int nIndex, const LINK_CREATE_PARAM *pParam) {
    return new (nIndex) CLinkTCPSocks5(pParam->byProxyID);
}

CLinkBase *NewGMLink(int nIndex, const LINK_CREATE_PARAM *) {
    return new (nIndex) CLinkTCPSSL(1);
}

// One row per link type; a row without a constructor is a type whose class is not built.
struct LinkClass {
    int32_t enumLinkType;
    CLinkBase *(*fnNew)(int nIndex, const LINK_CREATE_PARAM *pParam);
    size_t uSize;
};

constexpr LinkClass kLinkClasses[] = {
    {LINK_TYPE_TCP, NewLink<CLinkTCP>, sizeof(CLinkTCP)},
    {LINK_TYPE_UDP, NewLink<CLinkUDP>, sizeof(CLinkUDP)},
    {LINK_TYPE_MCAST, NewLink<CLinkMcast>, sizeof(CLinkMcast)},
    {LINK_TYPE_SOCKS5, NewSocks5Link, sizeof(CLinkTCPSocks5)},
    {LINK_TYPE_SOCKS5_SERVER, NewLink<CLinkTCPSocks5Server>, sizeof(CLinkTCPSocks5Server)},
    {LINK_TYPE_SSL, NewLink<CLinkTCPSSL>, sizeof(CLinkTCPSSL)},
    {LINK_TYPE_TLS, NewLink<CLinkTCPTLS>, sizeof(CLinkTCPTLS)},
    {LINK_TYPE_SSL_GM, NewGMLink, sizeof(CLinkTCPSSL)},
};

constexpr size_t MaxLinkClassSize() {
    size_t uMax = 0;
    for (const LinkClass &c : kLinkClasses)
        uMax = std::max(uMax, c.uSize);
    return uMax;
}
constexpr size_t kMaxLinkSize = MaxLinkClassSize();

constexpr bool AllClassesFit() {
    for (const LinkClass &c : kLinkClasses)
        if (c.uSize > kMaxLinkSize)
            return false;
    return true;
}
static_assert(AllClassesFit() && kMaxLinkSize >= sizeof(CLinkTCP), "every link class fits a link pool unit");

const LinkClass *FindLinkClass(int32_t enumLinkType) {
    for (const LinkClass &c : kLinkClasses)
        if (c.enumLinkType == enumLinkType && c.fnNew)
            return &c;
    return nullptr;
}

CONNECT_COND MakeConnectCond(const LINK_CREATE_PARAM &p, const char *pDestIP) {
    CONNECT_COND cond;
    std::memset(&cond, 0, sizeof(cond));
    cond.pServerIP = p.pServerIP;
    cond.wServerPort = p.wServerPort;
    cond.pSecondIP = p.pSecondIP;
    cond.wSecondPort = p.wSecondPort;
    cond.pDestIP = pDestIP;
    cond.dwConnectTimeout = p.dwConnectTimeout;
    cond.dwRecvTimeout = p.dwRecvTimeout;
    cond.dwSendTimeout = p.dwSendTimeout;
    cond.dwCommand = p.dwCommand;
    cond.dwServerMode = p.dwServerMode;
    cond.iSocket = p.iSocket;
    cond.ext = p.ext;
    return cond;
}

}  // namespace

DWORD Link_GetMaxLinkSize() {
    return (DWORD)kMaxLinkSize;
}

CLinkBase *Link_CreateLinkEx(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP) {
    if (!pParam) {
        Utils_Assert();
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    const int32_t enumLinkType = pParam->enumLinkType;
    const CONNECT_COND cond = MakeConnectCond(*pParam, pDestIP);
    const LinkClass *pClass = FindLinkClass(enumLinkType);
    const int nIndex = bUseMemPool ? Ctrl()->GetLinkMemPoolIndex() : -1;
    CLinkBase *pLink = nullptr;
    if (!pClass) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_CreateLinkEx, Invalid enumLinkType[%d], bUseMemPool[%d]", enumLinkType,
                        bUseMemPool);
    } else {
        try {
            pLink = pClass->fnNew(nIndex, pParam);
        } catch (...) {
            LogModule_Write(LOG_LEVEL_ERR, "Link_CreateLinkEx, new CLink exception!!, bUseMemPool[%d], enumLinkType[%d]",
                            bUseMemPool, enumLinkType);
            SetError(MORVA_ERR_ALLOC);
            return nullptr;
        }
    }
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_CreateLinkEx, new CLink Failed!, enumLinkType[%d]", enumLinkType);
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
    if (!pLink->Start(&cond)) {
        delete pLink;
        return nullptr;
    }
    pLink->KeepAdoptedSocket();
    return pLink;
}

CLinkBase *Link_CreateLink(const LINK_CREATE_PARAM *pShort, int bUseMemPool, const char *pDestIP) {
    if (!pShort) {
        Utils_Assert();
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    LINK_CREATE_PARAM struParam;
    std::memset(&struParam, 0, sizeof(struParam));
    std::memcpy(&struParam, pShort, offsetof(LINK_CREATE_PARAM, ext));
    return Link_CreateLinkEx(&struParam, bUseMemPool, pDestIP);
}

CLinkBase *Interim_CreateLinkByIPEx(const char *pServerIP, int iPort, const LINK_COND *pLinkCond, DWORD dwCommand) {
    if (!pLinkCond) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateLinkByIPEx pLinkCond is NULL");
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    LINK_CREATE_PARAM struParam;
    std::memset(&struParam, 0, sizeof(struParam));
    struParam.pServerIP = pServerIP;
    struParam.wServerPort = (WORD)iPort;
    struParam.dwConnectTimeout = pLinkCond->dwConnectTimeout;
    struParam.dwRecvTimeout = pLinkCond->dwRecvTimeout;
    struParam.dwSendTimeout = pLinkCond->dwSendTimeout;
    struParam.dwCommand = dwCommand;
    struParam.dwUserID = pLinkCond->dwUserID;
    struParam.ext = pLinkCond->ext;
    struParam.ext.dwUserID = pLinkCond->dwUserID;
    switch (pLinkCond->iKind) {
    case 11:
    case 12:
    case 19:
        struParam.enumLinkType = pLinkCond->iKind;
        break;
    case 14:
    case 15:
        struParam.enumLinkType = pLinkCond->iKind;
        struParam.byProxyID = pLinkCond->byProxyID;
        break;
    default:
        struParam.enumLinkType = LINK_TYPE_TCP;
    }
    CLinkBase *pLink = Link_CreateLinkEx(&struParam, 1, nullptr);
    if (!pLink)
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateLinkByIPEx, Link_CreateLinkEx Failed, enumLinkType[%d]",
                        struParam.enumLinkType);
    return pLink;
}

void Link_DestroyLink(CLinkBase *pLink) {
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_DestroyLink, pLink == NULL");
        Utils_Assert();
        return;
    }
    pLink->Stop();
    LogModule_Write(LOG_LEVEL_ERR, "Link_DestroyLink, SUCC, pLink[0x%X]", MORVA_PTR_ARG(pLink));
    delete pLink;
}

int Link_CloseLinkSocket(CLinkBase *pLink) {
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_CloseLinkSocket, pLink == NULL");
        Utils_Assert();
        return 0;
    }
    return pLink->CloseLink();
}

int Link_GetLinkParam(CLinkBase *pLink, DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) {
    if (!pLink) {
        Utils_Assert();
        return 0;
    }
    return pLink->GetLinkParam(dwParamID, pIn, dwInLen, pOut, pOutLen);
}

int Link_GetSockByLink(CLinkBase *pLink) {
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_GetSockByLink, pLink == NULL");
        return -1;
    }
    return pLink->GetSocket();
}

int Link_RecvData(CLinkBase *pLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) {
    DWORD dwIgnored = 0;
    if (pLink && pLink->RecvData(pBuf, dwSize, pRecvLen ? pRecvLen : &dwIgnored, dwTimeOut, bFirstData))
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "Link_RecvData Failed, pLink[0x%X], dwTimeout[%d]", MORVA_PTR_ARG(pLink), dwTimeOut);
    return 0;
}

int Link_SendDataByLink(CLinkBase *pLink, const char *pBuf, DWORD uiSendLen, DWORD dwTimeOut) {
    if (!pLink) {
        Utils_Assert();
        return -1;
    }
    const int iSendLen = pLink->SendData(pBuf, uiSendLen, dwTimeOut);
    if (iSendLen != (int)uiSendLen) {
        LogModule_Write(LOG_LEVEL_INF,
                        "Link_SendDataByLink Failed, pLinkInstance[0x%X], iSendLen[%d] != uiSendLen[%d], dwTimeout[%d]",
                        MORVA_PTR_ARG(pLink), iSendLen, uiSendLen, dwTimeOut);
        SetError(MORVA_ERR_SEND);
    }
    return iSendLen;
}

int Link_ResetLink(CLinkBase *pLink) {
    if (pLink && pLink->ResetConnect())
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "Link_ResetLink Failed, pLink[0x%X]", MORVA_PTR_ARG(pLink));
    return 0;
}

int Link_AdjustRecvTimeOut(CLinkBase *pLink, int iRecvTimeOut) {
    if (!pLink) {
        Utils_Assert();
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "Link_AdjustRecvTimeOut, pLink[0x%X], iRecvTimeOut[%d]", MORVA_PTR_ARG(pLink),
                    iRecvTimeOut);
    pLink->SetRecvTimeout((DWORD)iRecvTimeOut);
    return 1;
}

// Only the switchable TLS link changes its connect type.
int Link_ChangeConnectTypeByLink(CLinkBase *pLink) {
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "Link_ChangeConnectTypeByLink, pLink == NULL");
        return 0;
    }
    if (auto *pTLS = dynamic_cast<CLinkTCPTLS *>(pLink))
        return pTLS->ChangeConnectType();
    LogModule_Write(LOG_LEVEL_ERR, "Link_ChangeConnectTypeByLink, Invalid Param, pLink[0x%X]", MORVA_PTR_ARG(pLink));
    SetError(MORVA_ERR_PARAM);
    return 0;
}

}  // namespace Vorezi
