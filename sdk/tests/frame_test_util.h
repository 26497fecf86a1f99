// Discovery frames (EtherType 0x8033) as the tests build and read them, with their own checksum
// code: a device's frames byte by byte, and the fields of the frames the SDK sends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sdktest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kBroadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// One's complement of the little-endian 16-bit words, folded until no carry is left.
inline uint16_t OnesComplement(const uint8_t *p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += i % 2 ? static_cast<uint64_t>(p[i]) << 8 : p[i];
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

inline void PutBE(Bytes &f, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

inline uint32_t GetBE(const Bytes &f, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | f[at + i];
    return v;
}

// Writes the header checksum over the number of bytes at offset 17 (those present).
inline void Seal(Bytes &f) {
    f[26] = f[27] = 0;
    size_t covered = std::min<size_t>(f[17], f.size() - 14);
    PutBE(f, 26, OnesComplement(f.data() + 14, covered), 2);
}

// A device frame: header, data block of dataLen bytes (0x20 + i unless given) and, when ext is
// given, the 156-byte extended block at 260 with its own checksum.
inline Bytes DeviceFrame(const uint8_t *dst, const uint8_t *src, uint8_t op, uint8_t sub, uint32_t seq,
                         const uint8_t *senderIp, size_t dataLen = 208, const Bytes *ext = nullptr,
                         const Bytes *data = nullptr) {
    Bytes f(52 + dataLen + (ext ? 156 : 0), 0);
    std::copy(dst, dst + 6, f.begin());
    std::copy(src, src + 6, f.begin() + 6);
    PutBE(f, 12, 0x8033, 2);
    f[14] = 0x21;
    f[15] = 2;
    f[16] = 1;
    f[17] = static_cast<uint8_t>(std::min<size_t>(38 + dataLen, 246));
    PutBE(f, 18, seq, 4);
    f[22] = 6;
    f[23] = 4;
    f[24] = op;
    f[25] = sub;
    std::copy(src, src + 6, f.begin() + 28);
    std::copy(senderIp, senderIp + 4, f.begin() + 34);
    std::copy(dst, dst + 6, f.begin() + 38);
    std::copy(senderIp, senderIp + 4, f.begin() + 44);
    f[48] = 255, f[49] = 255, f[50] = 255, f[51] = 0;
    for (size_t i = 0; i < dataLen; ++i)
        f[52 + i] = data && i < data->size() ? (*data)[i] : static_cast<uint8_t>(0x20 + i % 90);
    if (ext) {
        size_t at = 52 + dataLen;
        f[at] = 2;
        f[at + 1] = 156;
        std::copy(ext->begin(), ext->begin() + std::min<size_t>(ext->size(), 152), f.begin() + at + 4);
        PutBE(f, at + 2, OnesComplement(f.data() + at, 156), 2);
    }
    Seal(f);
    return f;
}

inline std::string Hex(const Bytes &b) {
    std::string s;
    char two[3];
    for (uint8_t c : b) {
        std::snprintf(two, sizeof two, "%02x", c);
        s += two;
    }
    return s;
}

inline Bytes FromHex(const std::string &s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
    return b;
}

}  // namespace sdktest
