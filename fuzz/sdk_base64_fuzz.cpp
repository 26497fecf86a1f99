// Base64 texts from devices: the decoder never writes past the capacity it is given (the first
// byte of the input), and what the encoder writes decodes back to the bytes encoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "module/crypto/Encrypt.h"

using ZEVA::CEncrypt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    uint32_t capacity = data[0];
    const char *text = reinterpret_cast<const char *>(data + 1);
    uint32_t len = uint32_t(size - 1);
    // Exactly the capacity on the heap, so a write past it is caught.
    std::unique_ptr<uint8_t[]> out(new uint8_t[capacity + 1]);
    int n = CEncrypt::Base64_Decode(text, len, out.get(), capacity);
    if (n > int(capacity))
        std::abort();

    std::unique_ptr<char[]> encoded(new char[(len + 2) / 3 * 4 + 1]);
    uint32_t encodedLen = len ? CEncrypt::Base64_Encode(data + 1, len, encoded.get(), (len + 2) / 3 * 4 + 1) : 0;
    std::unique_ptr<uint8_t[]> back(new uint8_t[len + 1]);
    if (len && (int(len) != CEncrypt::Base64_Decode(encoded.get(), encodedLen, back.get(), len) ||
                std::memcmp(back.get(), data + 1, len) != 0))
        std::abort();
    return 0;
}
