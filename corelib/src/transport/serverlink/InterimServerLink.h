// The C entry points that act on a server link by its handle; the Morva_* server-link functions
// forward to them, and the MQTT listen sessions call them directly.
#pragma once

#include "morva/MorvaServerLink.h"

namespace Vorezi {

int Interim_CreateServerLink(const SERVER_LINK_COND *pCond);
int Interim_DestroyServerLink(int iLinkHandle);
int Interim_CloseServerLink(int iLinkHandle);
int Interim_CloseAcceptHandle(int iLinkHandle, int iAcceptHandle);
int Interim_ServerLinkSendData(int iLinkHandle, const SERVER_LINK_SEND_PARAM *pParam);
int Interim_SetInfo(int iLinkHandle, int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen);
int Interim_ExitRecvThread(int iListenLink, int iStreamLink);
int Interim_ExitRecvThreadEx(int iListenLink, YAR_ADDR_T struPeerAddr);
void Interim_SetPreviewHandle(int iListenLink, int iStreamLink, int iPreviewHandle);
void Interim_WaitRecvThread(int iListenLink, int iStreamLink);

}  // namespace Vorezi
