// The link factory and the plain functions that drive a link: creation by link type (from the
// library's link memory pool or the heap), the link's operations wrapped with null checks, logs
// and library error codes.
#pragma once

#include <cstddef>

#include "morva/MorvaLink.h"
#include "transport/link/LinkBase.h"

namespace Vorezi {

CLinkBase *Link_CreateLinkEx(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP);
// Reads only the fields before ext of the record.
CLinkBase *Link_CreateLink(const LINK_CREATE_PARAM *pShort, int bUseMemPool, const char *pDestIP);
CLinkBase *Interim_CreateLinkByIPEx(const char *pServerIP, int iPort, const LINK_COND *pLinkCond, DWORD dwCommand);
void Link_DestroyLink(CLinkBase *pLink);
int Link_CloseLinkSocket(CLinkBase *pLink);
int Link_GetLinkParam(CLinkBase *pLink, DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen);
int Link_GetSockByLink(CLinkBase *pLink);
int Link_RecvData(CLinkBase *pLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData);
int Link_SendDataByLink(CLinkBase *pLink, const char *pBuf, DWORD uiSendLen, DWORD dwTimeOut);
int Link_ResetLink(CLinkBase *pLink);
int Link_AdjustRecvTimeOut(CLinkBase *pLink, int iRecvTimeOut);
int Link_ChangeConnectTypeByLink(CLinkBase *pLink);
// The size of the largest link class: the unit of the link memory pool.
DWORD Link_GetMaxLinkSize();

}  // namespace Vorezi
