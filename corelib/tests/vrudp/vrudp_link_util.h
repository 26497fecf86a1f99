// Control-link and stream packets written byte by byte, as an independent peer writes them.
#pragma once

#include <cstdint>
#include <vector>

#include "vrudp_test_util.h"

namespace vrudptest {

inline void Put16(std::vector<uint8_t> &p, size_t off, uint32_t v) {
    p[off] = uint8_t(v >> 8);
    p[off + 1] = uint8_t(v);
}
inline void Put32(std::vector<uint8_t> &p, size_t off, uint32_t v) {
    for (int i = 0; i < 4; i++)
        p[off + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// New link (24 bytes; 20 leaves the window out).
inline std::vector<uint8_t> NewLinkPkt(uint16_t wClient, uint32_t dwCode, uint32_t dwWnd, size_t uLen = 24) {
    std::vector<uint8_t> p(24, 0);
    Put16(p, 0, 16);
    p[2] = 5;
    Put16(p, 4, wClient);
    Put32(p, 12, 1048576);
    Put32(p, 16, dwCode);
    Put32(p, 20, dwWnd);
    p.resize(uLen);
    return p;
}
// HEART, HEART-RET (12 bytes), FIN, FIN-RET (16 bytes): the code in the last four.
inline std::vector<uint8_t> PlainPkt(uint8_t byType, uint16_t wLink, uint32_t dwCode) {
    size_t n = byType >= 7 ? 16 : 12;
    std::vector<uint8_t> p(n, 0);
    Put16(p, 0, uint32_t(n));
    p[2] = byType;
    Put16(p, 4, wLink);
    Put32(p, n - 4, dwCode);
    return p;
}
inline std::vector<uint8_t> InitAckPkt(uint16_t wChild, uint16_t wClient, uint32_t dwCode) {
    std::vector<uint8_t> p(20, 0);
    Put16(p, 0, 16);
    p[2] = 6;
    Put16(p, 4, wChild);
    Put16(p, 6, wClient);
    Put32(p, 16, dwCode);
    return p;
}
inline std::vector<uint8_t> UpperPkt(uint16_t wLink, uint32_t dwCode, size_t uPayload) {
    std::vector<uint8_t> p(10 + uPayload, 0x5A);
    Put16(p, 0, 10);
    p[2] = 9;
    p[3] = 0;
    Put16(p, 4, wLink);
    Put32(p, 6, dwCode);
    return p;
}
inline std::vector<uint8_t> DataPacket(uint32_t dwSeq, size_t uPayload, uint16_t wSession = 7) {
    std::vector<uint8_t> p(16 + uPayload, uint8_t(dwSeq));
    Put16(p, 0, 16);
    p[2] = 3;
    p[3] = 0;
    Put16(p, 4, wSession);
    Put16(p, 6, uint32_t(uPayload));
    Put32(p, 8, dwSeq);
    Put32(p, 12, dwSeq);
    return p;
}
inline std::vector<uint8_t> AckPkt(uint32_t dwCode, const std::vector<uint32_t> &entries) {
    std::vector<uint8_t> p(12 + 4 * entries.size());
    Put16(p, 0, uint32_t(p.size()));
    p[2] = 4;
    Put32(p, 6, dwCode);
    Put16(p, 10, uint32_t(entries.size()));
    for (size_t e = 0; e < entries.size(); e++)
        Put32(p, 12 + 4 * e, entries[e]);
    return p;
}
// An acknowledgement's entries, or empty when the datagram is none.
inline std::vector<uint32_t> AckEntries(const std::vector<uint8_t> &p) {
    std::vector<uint32_t> v;
    if (p.size() < 12 || p[2] != 4)
        return v;
    for (size_t i = 0; i < Be16(p, 10) && 12 + 4 * i + 4 <= p.size(); i++)
        v.push_back(Be32(p, 12 + 4 * i));
    return v;
}

inline int MakeLink(int iMode, int iAf = 2) {
    VRUDP_CREATE_COND c = {};
    c.iAf = iAf;
    c.enumType = ENUM_VRUDP_TYPE_LINK;
    c.enumMode = iMode;
    return COM_VRUDP_Create(&c);
}

}  // namespace vrudptest
