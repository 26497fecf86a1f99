// The secure link's packet formats: the "QDSC" hello head with its key block and the "QDBD" data
// head. Every field is written and read through byte helpers, so no packed struct stands for a
// head, and every parser checks the lengths it is given before it reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vorezi {
namespace secure {

constexpr uint32_t SECURE_HELLO_HEAD_LEN = 36;
constexpr uint32_t SECURE_DATA_HEAD_LEN = 52;
constexpr uint32_t SECURE_INFO_BLOCK_LEN = 280;
constexpr uint32_t SECURE_TOKEN_LEN = 16;
constexpr uint32_t SECURE_MAX_LINK_KEY_LEN = 128;
constexpr uint32_t SECURE_AES_BLOCK = 16;

constexpr uint32_t SECURE_STATUS_HELLO = 100;
constexpr uint32_t SECURE_STATUS_KEY_ACCEPTED = 200;
constexpr uint32_t SECURE_CMD_HEARTBEAT = 4097;

constexpr uint8_t SECURE_HELLO_CAPABILITY = 0;
constexpr uint8_t SECURE_HELLO_KEY_EXCHANGE = 1;

enum class SecurePacketKind { Other, Hello, Data };

// By the four magic bytes; anything shorter than a magic is Other.
SecurePacketKind ClassifySecurePacket(const uint8_t *pData, size_t dwLen);

struct SecureHelloHead {
    uint16_t wHeadLen = SECURE_HELLO_HEAD_LEN; // where the key block starts
    uint8_t byPackageType = SECURE_HELLO_CAPABILITY;
    uint32_t dwCapability[3] = {0, 0, 0};
    uint32_t dwStatus = 0;
};

// A hello needs the whole 36-byte head; the peer's words are big-endian.
bool ParseHelloHead(const uint8_t *pData, size_t dwLen, SecureHelloHead *pHead);

// The key block of a key exchange: taken only when head length + 2 + key length lies inside the
// packet. The key length itself is not limited here; the session refuses keys above 128 bytes.
bool ParseKeyBlock(const uint8_t *pData, size_t dwLen, const SecureHelloHead &head, const uint8_t **ppKey,
                   uint16_t *pKeyLen);

// The library's answer head: length 36, byte 6 = 1, the session's flags least significant byte
// first (what peers read), the status big-endian.
void BuildHelloAnswer(uint8_t *pOut, const uint32_t dwFlags[3], uint32_t dwStatus);

struct SecureDataHead {
    uint32_t dwLength = 0;   // head plus encrypted data
    uint32_t dwPlainLen = 0; // data before padding
    uint8_t byCmdHeadLen = SECURE_DATA_HEAD_LEN;
    uint8_t byVersion = 4;
    uint8_t byInfoFlag = 0;
    uint8_t bySenderByte = 0;
    uint32_t dwSequence = 0;
    uint32_t dwCommand = 0;
    uint32_t dwValue = 0; // the sender's word at offset 28
    uint8_t byToken[SECURE_TOKEN_LEN] = {};
};

// Reads the 52 bytes of a data head; fails on a short buffer or a wrong magic.
bool ParseDataHead(const uint8_t *pData, size_t dwLen, SecureDataHead *pHead);
void BuildDataHead(const SecureDataHead &head, uint8_t *pOut);

// Zero padding of the data part: a whole block is added to an aligned length, nothing to none.
inline uint32_t SecurePaddedLen(uint32_t dwLen) {
    return dwLen == 0 ? 0 : (dwLen / SECURE_AES_BLOCK + 1) * SECURE_AES_BLOCK;
}

// The 280-byte block that precedes delivered data when a head asks for it. It stays inside the
// process, so its numbers are in host order at fixed offsets.
void BuildInfoBlock(const SecureDataHead &head, uint8_t *pOut);

} // namespace secure
} // namespace Vorezi
