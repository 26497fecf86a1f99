// The secure link's C entry points inside the core library; Morva_Secure* forward to them.
#pragma once

#include "morva/MorvaSecureLink.h"

namespace Vorezi {

int32_t Interim_SecureCreate(const SECURE_CREATE_FUNS *pFuns, int32_t iAddressType, int32_t iTransportMode);
int Interim_SecureClose(int32_t iListenHandle);
int Interim_SecureBind(int32_t iListenHandle, const SECURE_SOCK_ADDR *pAddr);
int Interim_SecureGetSockBuffSize(int32_t iListenHandle, int32_t *piSendBufferSize, int32_t *piRecvBufferSize);
int Interim_SecureSetSockBuffSize(int32_t iListenHandle, int32_t iSendBufferSize, int32_t iRecvBufferSize);
int Interim_SecureSetMTUSize(int32_t iListenHandle, uint16_t usMTUSize);
int Interim_SecureSetNoBlock(int32_t iListenHandle, int32_t bYesNo);
int Interim_SecureSetReuseAddr(int32_t iListenHandle, int32_t bYesNo);
int Interim_SecureShutDown(int32_t iListenHandle, int32_t iHow);
int Interim_SecureServSetRecvFun(int32_t iListenHandle, SECURE_DATA_CALLBACK fnServRecvDataCB, void *pUserData);
int Interim_SecureServCloseRemote(int32_t iListenHandle, int32_t iSecureHandle);
int Interim_SecureServSendTo(int32_t iListenHandle, const SECURE_SEND_DATA *pSendData);
int Interim_SecureServRecvFrom(int32_t iSecureHandle, void *pBuf, int32_t iBufLen, uint32_t nTimeOut);
int Interim_SecureSetInfo(int32_t iSecureHandle, uint32_t dwCommand, void *pBuf, int32_t iBufLen);

} // namespace Vorezi
