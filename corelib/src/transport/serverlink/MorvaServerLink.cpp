// Flat forwarders of the server links.
#include "morva/MorvaServerLink.h"

#include "transport/serverlink/InterimServerLink.h"

int Morva_CreateServerLink(const SERVER_LINK_COND *pCond) {
    return Vorezi::Interim_CreateServerLink(pCond);
}

int Morva_DestroyServerLink(int iLinkHandle) {
    return Vorezi::Interim_DestroyServerLink(iLinkHandle);
}

int Morva_CloseServerLink(int iLinkHandle) {
    return Vorezi::Interim_CloseServerLink(iLinkHandle);
}

int Morva_CloseAcceptHandle(int iLinkHandle, int iAcceptHandle) {
    return Vorezi::Interim_CloseAcceptHandle(iLinkHandle, iAcceptHandle);
}

int Morva_ServerLinkSendData(int iLinkHandle, const SERVER_LINK_SEND_PARAM *pParam) {
    return Vorezi::Interim_ServerLinkSendData(iLinkHandle, pParam);
}

int Morva_ExitRecvThread(int iListenLink, int iStreamLink) {
    return Vorezi::Interim_ExitRecvThread(iListenLink, iStreamLink);
}

int Morva_ExitRecvThreadEx(int iListenLink, YAR_ADDR_T struPeerAddr) {
    return Vorezi::Interim_ExitRecvThreadEx(iListenLink, struPeerAddr);
}

void Morva_WaitRecvThread(int iListenLink, int iStreamLink) {
    Vorezi::Interim_WaitRecvThread(iListenLink, iStreamLink);
}

int Morva_SetInfo(int iLinkHandle, int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) {
    return Vorezi::Interim_SetInfo(iLinkHandle, iAcceptHandle, dwCommand, pBuf, iBufLen);
}

void Morva_SetPreviewHandle(int iListenLink, int iStreamLink, int iPreviewHandle) {
    Vorezi::Interim_SetPreviewHandle(iListenLink, iStreamLink, iPreviewHandle);
}
