#include "transport/vrudp/VRUDPWire.h"

#include <cstring>

namespace Vorezi {
namespace vrudp {

namespace {
const uint8_t kMagic[4] = {'R', 'U', 'D', 'P'};
}

int DataHeadLen(uint8_t byVersion) {
    switch (byVersion) {
    case 0:
        return 16;
    case 1:
        return 20;
    default:
        return 28;
    }
}

bool CheckDataHRUdp(const uint8_t *pData, size_t uLen) {
    return pData && uLen > 11 && std::memcmp(pData, kMagic, 4) == 0;
}

CommonHead ParseCommonHead(const uint8_t *p) {
    CommonHead h;
    h.byHeadLen = p[4];
    h.byType = p[5] & 0x3F;
    h.byTopBits = uint8_t(p[5] >> 6);
    h.wSession = GetBE16(p + 6);
    h.dwWord = GetBE32(p + 8);
    return h;
}

void BuildCommonHead(uint8_t *pOut, uint8_t byHeadLen, uint8_t byType, uint8_t byTopBits, uint16_t wSession,
                     uint32_t dwWord) {
    std::memcpy(pOut, kMagic, 4);
    pOut[4] = byHeadLen;
    pOut[5] = uint8_t((byTopBits << 6) | (byType & 0x3F));
    PutBE16(pOut + 6, wSession);
    PutBE32(pOut + 8, dwWord);
}

int BuildDataHead(uint8_t *pOut, const DataHead &h) {
    int iLen = DataHeadLen(h.byVersion);
    BuildCommonHead(pOut, uint8_t(iLen), PKT_DATA, h.byUnitPos, h.wRemoteSession, h.dwSeq);
    PutBE32(pOut + 12, h.dwAck);
    if (iLen >= 20) {
        PutBE16(pOut + 16, h.wOwnSession);
        pOut[18] = uint8_t((pOut[18] & 0xF0) | (h.byVersion & 0x0F));
    }
    if (iLen >= 28)
        PutBE32(pOut + 20, h.dwRecognize);
    return iLen;
}

int BuildInit(uint8_t *pOut, uint8_t byVersion, uint16_t wOwnSession, uint32_t dwCode) {
    BuildCommonHead(pOut, kCommonHeadLen, PKT_INIT, byVersion, wOwnSession, dwCode);
    return kCommonHeadLen;
}

int BuildInitAck(uint8_t *pOut, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode, uint16_t wOwnSession) {
    BuildCommonHead(pOut, kCommonHeadLen, PKT_INIT_ACK, byVersion, wRemoteSession, dwCode);
    PutBE16(pOut + 12, wOwnSession);
    return kInitAckLen;
}

int BuildAck(uint8_t *pOut, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode, uint32_t dwHighest,
             uint32_t dwCumAck) {
    BuildCommonHead(pOut, kCommonHeadLen, PKT_ACK, byVersion, wRemoteSession, dwCode);
    PutBE32(pOut + 12, dwHighest);
    PutBE32(pOut + 16, dwCumAck);
    return kAckLen;
}

int BuildPlain(uint8_t *pOut, uint8_t byType, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode) {
    BuildCommonHead(pOut, kCommonHeadLen, byType, byVersion, wRemoteSession, dwCode);
    return kCommonHeadLen;
}

int BuildReset(uint8_t *pOut, const uint8_t *pOff, size_t uLen) {
    uint8_t byHeadLen = pOff[4];
    if ((byHeadLen != 20 && byHeadLen != 28) || uLen < byHeadLen)
        return 0;
    uint32_t dwCode = byHeadLen == 28 ? GetBE32(pOff + 20) : 0xFFFFFFFFu;
    BuildCommonHead(pOut, kCommonHeadLen, PKT_RESET, uint8_t(pOff[18] & 0x03), GetBE16(pOff + 16), dwCode);
    return kCommonHeadLen;
}

uint32_t LinkCode(const uint8_t *pData, uint8_t byType) {
    switch (byType) {
    case LINK_HEART:
    case LINK_HEART_RET:
        return GetBE32(pData + 8);
    case LINK_FIN:
    case LINK_FIN_RET:
        return GetBE32(pData + 12);
    case LINK_NEW:
    case LINK_INIT_ACK:
        return GetBE32(pData + 16);
    default:
        return GetBE32(pData + 6);
    }
}

namespace {
void LinkHead(uint8_t *pOut, uint16_t wHeadLen, uint8_t byType, uint16_t wLinkId) {
    PutBE16(pOut, wHeadLen);
    pOut[2] = byType;
    pOut[3] = 0;
    PutBE16(pOut + 4, wLinkId);
}
}  // namespace

int BuildLinkPlain(uint8_t *pOut, uint8_t byType, uint16_t wLinkId, uint32_t dwCode) {
    int iLen = byType == LINK_FIN || byType == LINK_FIN_RET ? kLinkFinLen : kLinkHeartLen;
    std::memset(pOut, 0, size_t(iLen));
    LinkHead(pOut, uint16_t(iLen), byType, wLinkId);
    PutBE32(pOut + iLen - 4, dwCode);
    return iLen;
}

int BuildLinkInitAck(uint8_t *pOut, uint16_t wLocalLink, uint16_t wRemoteLink, uint32_t dwCode) {
    std::memset(pOut, 0, kLinkInitAckLen);
    LinkHead(pOut, kLinkInitAckHeadLen, LINK_INIT_ACK, wLocalLink);
    PutBE16(pOut + 6, wRemoteLink);
    PutBE32(pOut + 16, dwCode);
    return kLinkInitAckLen;
}

int BuildLinkUpperData(uint8_t *pOut, uint16_t wLinkId, uint32_t dwCode, const uint8_t *pData, int iLen) {
    if (iLen < 0 || iLen > kLinkUpperMax)
        return 0;
    LinkHead(pOut, kLinkUpperHeadLen, LINK_UPPER_DATA, wLinkId);
    PutBE32(pOut + 6, dwCode);
    if (iLen > 0)
        std::memcpy(pOut + kLinkUpperHeadLen, pData, size_t(iLen));
    return kLinkUpperHeadLen + iLen;
}

void BuildStreamDataHead(uint8_t *pOut, uint16_t wSession, uint16_t wPayloadLen, uint32_t dwSeq) {
    LinkHead(pOut, kStreamHeadLen, LINK_STREAM_DATA, wSession);
    PutBE16(pOut + 6, wPayloadLen);
    PutBE32(pOut + 8, dwSeq);
    PutBE32(pOut + 12, dwSeq);
}

int BuildStreamConnect(uint8_t *pOut, uint16_t wLocalLink, uint32_t dwCode, uint32_t dwWindow) {
    std::memset(pOut, 0, kStreamConnectLen);
    LinkHead(pOut, 16, LINK_NEW, wLocalLink);
    PutBE32(pOut + 12, 1048576);
    PutBE32(pOut + 16, dwCode);
    PutBE32(pOut + 20, dwWindow);
    return kStreamConnectLen;
}

int BuildStreamAck(uint8_t *pOut, uint16_t wLinkId, uint32_t dwCode, const uint32_t *pEntries, int iCount) {
    int iLen = kStreamAckHeadLen + 4 * iCount;
    LinkHead(pOut, uint16_t(iLen), LINK_ACK, wLinkId);
    PutBE32(pOut + 6, dwCode);
    PutBE16(pOut + 10, uint16_t(iCount));
    for (int i = 0; i < iCount; i++)
        PutBE32(pOut + kStreamAckHeadLen + 4 * i, pEntries[i]);
    return iLen;
}

}  // namespace vrudp
}  // namespace Vorezi
