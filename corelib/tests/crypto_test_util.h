// Hex helpers shared by the self-contained crypto module's tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::vector<uint8_t> Hex(const std::string &text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string ToHex(const uint8_t *pData, size_t uLen) {
    std::string out;
    char buf[3];
    for (size_t i = 0; i < uLen; ++i) {
        std::snprintf(buf, sizeof(buf), "%02x", pData[i]);
        out += buf;
    }
    return out;
}

inline std::string ToHex(const std::vector<uint8_t> &data) { return ToHex(data.data(), data.size()); }
