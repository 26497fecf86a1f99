// The receive side of framed data: reassembles "QDBD" packets, checks each head against the bytes
// held, learns or checks the device token and decrypts the data behind an optional info block.
// Nothing is written or read outside its two 8192-byte buffers, and any framing error empties the
// reassembly buffer so that the next packet starts clean.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "transport/secure/SecureLinkCipher.h"
#include "transport/secure/SecurePacket.h"

namespace Vorezi {
namespace secure {

constexpr uint32_t SECURE_RECV_BUF_LEN = 8192;

enum class SecureReadResult {
    Ok,
    BufferNotEnough, // the packet does not fit behind what is held
    CheckHeadLen,    // fewer than 52 bytes held
    ParseHeadFailed, // no data head at the start of what is held
    InvalidLength,   // dwLength past the bytes held, or below the head length
    PlainTooLong,    // plain length above the encrypted data it stands for
    NoSpace,         // info block and data do not fit in the decrypted buffer
    DecryptFailed,
    TokenMismatch, // the head's token differs from the learned or set one
};

// The peer's 16-byte token: learned from the first data head or set by the owner.
class CSecureDeviceToken {
public:
    // Learns the token when none is known; false when it differs from the known one.
    bool Accept(const uint8_t *pToken);
    void Set(const char *pText, uint32_t dwLen);
    // Copies the known token (zeros when none); false when none is known.
    bool Get(uint8_t *pToken) const;

private:
    mutable std::mutex m_mutex;
    bool m_bKnown = false;
    uint8_t m_byToken[SECURE_TOKEN_LEN] = {};
};

// Frames the owner's data: the head, then the data zero-padded and encrypted, the known token
// encrypted at offset 32. The head's lengths are filled in here.
bool BuildDataFrame(SecureDataHead head, const uint8_t *pData, uint32_t dwLen, const CSecureLinkCipher &cipher,
                    const CSecureDeviceToken &token, std::vector<uint8_t> *pFrame);

class CSecureCommandReader {
public:
    CSecureCommandReader();

    // One received "QDBD" packet. On Ok the decrypted data (with info blocks) of every complete
    // head are available until Drop; on any other result nothing was delivered.
    SecureReadResult Input(const uint8_t *pData, uint32_t dwLen, const CSecureLinkCipher &cipher,
                           CSecureDeviceToken &token);

    const uint8_t *Data() const { return m_decrypted.data(); }
    uint32_t DataLen() const { return m_dwDecryptDataLen; }
    void Drop();

    uint32_t RecvOffset() const { return m_dwRecvOffset; }
    // The last head parsed, for log lines.
    const SecureDataHead &LastHead() const { return m_lastHead; }
    uint32_t TokenMismatches() const { return m_dwTokenMismatches; }

private:
    SecureReadResult ReadOneHead(const CSecureLinkCipher &cipher, CSecureDeviceToken &token, uint32_t *pUsed);
    SecureReadResult Fail(SecureReadResult result);

    std::vector<uint8_t> m_recv;
    std::vector<uint8_t> m_decrypted;
    uint32_t m_dwRecvOffset = 0;
    uint32_t m_dwDecryptDataLen = 0;
    uint32_t m_dwTokenMismatches = 0;
    SecureDataHead m_lastHead;
};

} // namespace secure
} // namespace Vorezi
