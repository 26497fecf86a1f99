#include "transport/secure/SecurePacket.h"

#include <cstring>

#include "transport/vrudp/VRUDPWire.h"

namespace Vorezi {
namespace secure {
namespace {

const uint8_t kHelloMagic[4] = {'Q', 'D', 'S', 'C'};
const uint8_t kDataMagic[4] = {'Q', 'D', 'B', 'D'};

// The big-endian helpers are the reliable-UDP wire's; the answer's flags are the one field
// written least significant byte first.
using vrudp::GetBE16;
using vrudp::GetBE32;
using vrudp::PutBE16;
using vrudp::PutBE32;

void PutLE32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

SecurePacketKind ClassifySecurePacket(const uint8_t *pData, size_t dwLen) {
    if (pData == nullptr || dwLen < sizeof(kHelloMagic)) {
        return SecurePacketKind::Other;
    }
    if (memcmp(pData, kHelloMagic, sizeof(kHelloMagic)) == 0) {
        return SecurePacketKind::Hello;
    }
    if (memcmp(pData, kDataMagic, sizeof(kDataMagic)) == 0) {
        return SecurePacketKind::Data;
    }
    return SecurePacketKind::Other;
}

bool ParseHelloHead(const uint8_t *pData, size_t dwLen, SecureHelloHead *pHead) {
    if (dwLen < SECURE_HELLO_HEAD_LEN || ClassifySecurePacket(pData, dwLen) != SecurePacketKind::Hello) {
        return false;
    }
    pHead->wHeadLen = GetBE16(pData + 4);
    pHead->byPackageType = pData[7];
    for (int i = 0; i < 3; ++i) {
        pHead->dwCapability[i] = GetBE32(pData + 8 + 4 * i);
    }
    pHead->dwStatus = GetBE32(pData + 20);
    return true;
}

bool ParseKeyBlock(const uint8_t *pData, size_t dwLen, const SecureHelloHead &head, const uint8_t **ppKey,
                   uint16_t *pKeyLen) {
    size_t dwOffset = head.wHeadLen;
    if (dwOffset + 2 > dwLen) {
        return false;
    }
    uint16_t wKeyLen = GetBE16(pData + dwOffset);
    if (dwOffset + 2 + wKeyLen > dwLen) {
        return false;
    }
    *ppKey = pData + dwOffset + 2;
    *pKeyLen = wKeyLen;
    return true;
}

void BuildHelloAnswer(uint8_t *pOut, const uint32_t dwFlags[3], uint32_t dwStatus) {
    memset(pOut, 0, SECURE_HELLO_HEAD_LEN);
    memcpy(pOut, kHelloMagic, sizeof(kHelloMagic));
    PutBE16(pOut + 4, SECURE_HELLO_HEAD_LEN);
    pOut[6] = 1;
    pOut[7] = SECURE_HELLO_CAPABILITY;
    for (int i = 0; i < 3; ++i) {
        PutLE32(pOut + 8 + 4 * i, dwFlags[i]);
    }
    PutBE32(pOut + 20, dwStatus);
}

bool ParseDataHead(const uint8_t *pData, size_t dwLen, SecureDataHead *pHead) {
    if (dwLen < SECURE_DATA_HEAD_LEN || ClassifySecurePacket(pData, dwLen) != SecurePacketKind::Data) {
        return false;
    }
    pHead->dwLength = GetBE32(pData + 4);
    pHead->dwPlainLen = GetBE32(pData + 8);
    pHead->byCmdHeadLen = pData[12];
    pHead->byVersion = pData[13];
    pHead->byInfoFlag = pData[14];
    pHead->bySenderByte = pData[15];
    pHead->dwSequence = GetBE32(pData + 16);
    pHead->dwCommand = GetBE32(pData + 24);
    pHead->dwValue = GetBE32(pData + 28);
    memcpy(pHead->byToken, pData + 32, SECURE_TOKEN_LEN);
    return true;
}

void BuildDataHead(const SecureDataHead &head, uint8_t *pOut) {
    memset(pOut, 0, SECURE_DATA_HEAD_LEN);
    memcpy(pOut, kDataMagic, sizeof(kDataMagic));
    PutBE32(pOut + 4, head.dwLength);
    PutBE32(pOut + 8, head.dwPlainLen);
    pOut[12] = head.byCmdHeadLen;
    pOut[13] = head.byVersion;
    pOut[14] = head.byInfoFlag;
    pOut[15] = head.bySenderByte;
    PutBE32(pOut + 16, head.dwSequence);
    PutBE32(pOut + 24, head.dwCommand);
    PutBE32(pOut + 28, head.dwValue);
    memcpy(pOut + 32, head.byToken, SECURE_TOKEN_LEN);
}

void BuildInfoBlock(const SecureDataHead &head, uint8_t *pOut) {
    memset(pOut, 0, SECURE_INFO_BLOCK_LEN);
    memcpy(pOut, kDataMagic, sizeof(kDataMagic));
    memcpy(pOut + 4, &head.dwCommand, sizeof(uint32_t));
    memcpy(pOut + 8, &head.dwSequence, sizeof(uint32_t));
    memcpy(pOut + 12, &head.dwValue, sizeof(uint32_t));
    pOut[20] = head.bySenderByte;
    // Head bytes 32 to 43: the first twelve bytes of the (decrypted) token.
    memcpy(pOut + 21, head.byToken, 12);
    pOut[277] = head.byVersion;
}

} // namespace secure
} // namespace Vorezi
