#include "transport/link/Socks5Wire.h"

#include <cstring>

#include "yar/yar_addr.h"

namespace Vorezi {
namespace socks5 {

DWORD BuildMethodRequest(BYTE *pBuf) {
    pBuf[0] = kVersion;
    pBuf[1] = 1;
    pBuf[2] = kMethodPrivate;
    return pBuf[1] + 2u;
}

int BuildConnectRequest(const char *pDstText, WORD wPort, BYTE *pBuf, DWORD dwSize, DWORD *pLen) {
    if (!pDstText || dwSize < kConnectRequestMax)
        return 0;
    const bool bIPv6 = std::strchr(pDstText, ':') != nullptr;
    BYTE byAddr[16];
    if (YAR_InetPton(bIPv6 ? YAR_AF_INET6 : YAR_AF_INET, pDstText, byAddr) != 0)
        return 0;
    const DWORD dwAddrLen = bIPv6 ? 16 : 4;
    pBuf[0] = kVersion;
    pBuf[1] = kCmdConnect;
    pBuf[2] = 0;
    pBuf[3] = bIPv6 ? kAtypIPv6 : kAtypIPv4;
    std::memcpy(pBuf + kHeadLen, byAddr, dwAddrLen);
    pBuf[kHeadLen + dwAddrLen] = (BYTE)(wPort >> 8);
    pBuf[kHeadLen + dwAddrLen + 1] = (BYTE)(wPort & 0xFF);
    *pLen = kHeadLen + dwAddrLen + kPortLen;
    return 1;
}

int CheckMethodReply(const BYTE *pReply, BYTE *pMethod) {
    *pMethod = pReply[1];
    return pReply[0] == kVersion && (pReply[1] == kMethodNone || pReply[1] == kMethodPrivate);
}

int CheckConnectReplyHead(const BYTE *pHead, BYTE byMethod, DWORD *pMore) {
    const BYTE byRep = pHead[1];
    if (pHead[0] != kVersion ||
        !(byRep == kRepSucceeded || (byRep == kRepGeneralFailure && byMethod == kMethodPrivate)))
        return 0;
    switch (pHead[3]) {
    case kAtypIPv4:
        *pMore = 4 + kPortLen;
        return 1;
    case kAtypIPv6:
        *pMore = 16 + kPortLen;
        return 1;
    case kAtypDomain:
        *pMore = 1;
        return 1;
    default:  // the length of what follows is unknown: the stream cannot be trusted
        return 0;
    }
}

int SelectMethod(const BYTE *pMethods, DWORD dwCount) {
    int iSelected = -1;
    for (DWORD i = 0; i < dwCount; i++) {
        if (pMethods[i] == kMethodPrivate)
            return kMethodPrivate;
        if (pMethods[i] == kMethodNone)
            iSelected = kMethodNone;
    }
    return iSelected;
}

BYTE GrantedReply(BYTE byMethod) {
    return byMethod == kMethodPrivate ? kRepGeneralFailure : kRepSucceeded;
}

void BuildServerReply(BYTE byRep, BYTE *pOut) {
    std::memset(pOut, 0, kServerReplyLen);
    pOut[0] = kVersion;
    pOut[1] = byRep;
    pOut[3] = kAtypIPv4;
}

}  // namespace socks5
}  // namespace Vorezi
