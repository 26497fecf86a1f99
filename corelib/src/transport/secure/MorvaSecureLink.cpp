// Flat forwarders of the secure link: each checks that the core library is initialised.
#include "morva/MorvaSecureLink.h"

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/InterimSecureLink.h"

namespace {

bool Inited() {
    return Vorezi::GetCoreGlobalCtrl()->CheckInit() != 0;
}

} // namespace

int32_t Morva_SecureCreate(const SECURE_CREATE_FUNS *pFuns, int32_t iAddressType, int32_t iTransportMode) {
    return Inited() ? Vorezi::Interim_SecureCreate(pFuns, iAddressType, iTransportMode) : -1;
}

int Morva_SecureClose(int32_t iListenHandle) {
    return Inited() ? Vorezi::Interim_SecureClose(iListenHandle) : 0;
}

int Morva_SecureBind(int32_t iListenHandle, const SECURE_SOCK_ADDR *pAddr) {
    return Inited() ? Vorezi::Interim_SecureBind(iListenHandle, pAddr) : 0;
}

int Morva_SecureGetSockBuffSize(int32_t iListenHandle, int32_t *piSendBufferSize, int32_t *piRecvBufferSize) {
    return Inited() ? Vorezi::Interim_SecureGetSockBuffSize(iListenHandle, piSendBufferSize, piRecvBufferSize) : 0;
}

int Morva_SecureSetSockBuffSize(int32_t iListenHandle, int32_t iSendBufferSize, int32_t iRecvBufferSize) {
    return Inited() ? Vorezi::Interim_SecureSetSockBuffSize(iListenHandle, iSendBufferSize, iRecvBufferSize) : 0;
}

int Morva_SecureSetMTUSize(int32_t iListenHandle, uint16_t usMTUSize) {
    return Inited() ? Vorezi::Interim_SecureSetMTUSize(iListenHandle, usMTUSize) : 0;
}

int Morva_SecureSetNoBlock(int32_t iListenHandle, int32_t bYesNo) {
    return Inited() ? Vorezi::Interim_SecureSetNoBlock(iListenHandle, bYesNo) : 0;
}

int Morva_SecureSetReuseAddr(int32_t iListenHandle, int32_t bYesNo) {
    return Inited() ? Vorezi::Interim_SecureSetReuseAddr(iListenHandle, bYesNo) : 0;
}

int Morva_SecureShutDown(int32_t iListenHandle, int32_t iHow) {
    return Inited() ? Vorezi::Interim_SecureShutDown(iListenHandle, iHow) : 0;
}

int Morva_SecureServSetRecvFun(int32_t iListenHandle, SECURE_DATA_CALLBACK fnServRecvDataCB, void *pUserData) {
    return Inited() ? Vorezi::Interim_SecureServSetRecvFun(iListenHandle, fnServRecvDataCB, pUserData) : 0;
}

int Morva_SecureServCloseRemote(int32_t iListenHandle, int32_t iSecureHandle) {
    return Inited() ? Vorezi::Interim_SecureServCloseRemote(iListenHandle, iSecureHandle) : 0;
}

int Morva_SecureServSendTo(int32_t iListenHandle, const SECURE_SEND_DATA *pSendData) {
    return Inited() ? Vorezi::Interim_SecureServSendTo(iListenHandle, pSendData) : -1;
}

int Morva_SecureServRecvFrom(int32_t iSecureHandle, void *pBuf, int32_t iBufLen, uint32_t nTimeOut) {
    return Inited() ? Vorezi::Interim_SecureServRecvFrom(iSecureHandle, pBuf, iBufLen, nTimeOut) : -1;
}

int Morva_SecureSetInfo(int32_t iSecureHandle, uint32_t dwCommand, void *pBuf, int32_t iBufLen) {
    return Inited() ? Vorezi::Interim_SecureSetInfo(iSecureHandle, dwCommand, pBuf, iBufLen) : -1;
}
