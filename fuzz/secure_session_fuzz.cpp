// Datagrams into one peer's secure-link state: the first byte picks a plain session or one that
// already holds a fixed link key (so the encrypted paths are reached), then each datagram is a
// big-endian u16 length and its bytes. Hellos go to the key exchange, data packets to the framing
// reader; the reader never holds or delivers more than its buffers.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/SecureCommandReader.h"
#include "transport/secure/SecureHandshake.h"

using namespace Vorezi;
using namespace Vorezi::secure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t dwSize) {
    static const bool bInited = GetCoreGlobalCtrl()->Init() == 1;
    if (!bInited || dwSize == 0) {
        return 0;
    }
    CSecureLinkCipher cipher;
    if (pData[0] & 1) {
        const uint8_t byKey[SECURE_AES_BLOCK] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                                 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
        cipher.SetKey(byKey);
    }
    CSecureHandshake handshake;
    CSecureDeviceToken token;
    CSecureCommandReader reader;
    std::vector<uint8_t> answer;
    size_t i = 1;
    while (i + 2 <= dwSize) {
        size_t dwLen = (size_t(pData[i]) << 8) | pData[i + 1];
        i += 2;
        if (dwLen > dwSize - i) {
            dwLen = dwSize - i;
        }
        // A copy of exactly the datagram, so that any read past it is caught.
        std::vector<uint8_t> datagram(pData + i, pData + i + dwLen);
        i += dwLen;
        switch (ClassifySecurePacket(datagram.data(), datagram.size())) {
        case SecurePacketKind::Hello: {
            uint32_t dwParse = 0;
            handshake.Process(datagram.data(), uint32_t(datagram.size()), cipher, &answer, &dwParse);
            break;
        }
        case SecurePacketKind::Data:
            if (reader.Input(datagram.data(), uint32_t(datagram.size()), cipher, token) == SecureReadResult::Ok) {
                volatile uint8_t bySum = 0;
                for (uint32_t k = 0; k < reader.DataLen(); ++k) bySum = uint8_t(bySum + reader.Data()[k]);
            }
            if (reader.DataLen() > SECURE_RECV_BUF_LEN || reader.RecvOffset() > SECURE_RECV_BUF_LEN) {
                abort();
            }
            reader.Drop();
            break;
        case SecurePacketKind::Other:
            break;
        }
    }
    return 0;
}
