// Flat forwarders of the client links: an initialised library, then the Link_* function.
#include "morva/MorvaLink.h"

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/link/LinkFactory.h"

using namespace Vorezi;

namespace {
bool Inited() { return GetCoreGlobalCtrl()->CheckInit() != 0; }
CLinkBase *Link(MORVA_LINK hLink) { return reinterpret_cast<CLinkBase *>(hLink); }
MORVA_LINK Handle(CLinkBase *pLink) { return reinterpret_cast<MORVA_LINK>(pLink); }
}  // namespace

MORVA_LINK Morva_CreateLink(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP) {
    return Inited() ? Handle(Link_CreateLink(pParam, bUseMemPool, pDestIP)) : nullptr;
}

MORVA_LINK Morva_CreateLinkEx(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP) {
    return Inited() ? Handle(Link_CreateLinkEx(pParam, bUseMemPool, pDestIP)) : nullptr;
}

void Morva_DestroyLink(MORVA_LINK hLink) {
    if (Inited())
        Link_DestroyLink(Link(hLink));
}

void Morva_CloseLinkSocket(MORVA_LINK hLink) {
    if (Inited())
        Link_CloseLinkSocket(Link(hLink));
}

int Morva_ChangeConnectTypeByLink(MORVA_LINK hLink) {
    return Inited() ? Link_ChangeConnectTypeByLink(Link(hLink)) : 0;
}

int Morva_GetLinkParam(MORVA_LINK hLink, DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) {
    return Inited() ? Link_GetLinkParam(Link(hLink), dwParamID, pIn, dwInLen, pOut, pOutLen) : 0;
}

int Morva_GetSockByLink(MORVA_LINK hLink) {
    return Inited() ? Link_GetSockByLink(Link(hLink)) : -1;
}

int Morva_SendDataByLink(MORVA_LINK hLink, const char *pData, DWORD dwLen, DWORD dwTimeOut) {
    return Inited() ? Link_SendDataByLink(Link(hLink), pData, dwLen, dwTimeOut) : -1;
}

int Morva_RecvData(MORVA_LINK hLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, const DWORD *pOption) {
    if (!Inited())
        return 0;
    if (!pOption) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return Link_RecvData(Link(hLink), pBuf, dwSize, pRecvLen, pOption[2], (int)pOption[0]);
}

int Morva_RecvByLink(MORVA_LINK hLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwFirstData) {
    DWORD dwOption[MORVA_RECV_OPTION_WORDS] = {dwFirstData};
    return Morva_RecvData(hLink, pBuf, dwSize, pRecvLen, dwOption);
}

int Morva_ResetLink(MORVA_LINK hLink) {
    return Inited() ? Link_ResetLink(Link(hLink)) : 0;
}
