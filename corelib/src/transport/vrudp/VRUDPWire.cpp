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

}  // namespace vrudp
}  // namespace Vorezi
