// MQTT 3.1.1 frames as the OASIS standard writes them, for the benchmarks' clients (nothing of
// the library's own encoder).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mqttwire {

using Bytes = std::vector<uint8_t>;

// Remaining length (2.2.3): seven bits a byte, lowest group first, the top bit saying more follow.
inline void PutLength(Bytes &out, size_t n) {
    do {
        const uint8_t digit = uint8_t(n % 128);
        n /= 128;
        out.push_back(uint8_t(digit | (n ? 0x80 : 0)));
    } while (n);
}

// A UTF-8 string (1.5.3): two bytes of length, most significant first, then the bytes.
inline void PutString(Bytes &out, const std::string &s) {
    out.push_back(uint8_t(s.size() >> 8));
    out.push_back(uint8_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

inline Bytes Frame(uint8_t header, const Bytes &body) {
    Bytes out{header};
    PutLength(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// CONNECT (3.1): protocol name "MQTT", level 4, flags user name and clean session, keep alive
// 60 s; the payload holds the client id and the user name.
inline Bytes Connect(const std::string &clientId, const std::string &userName) {
    Bytes body;
    PutString(body, "MQTT");
    body.push_back(4);
    body.push_back(0x82);
    body.push_back(0);
    body.push_back(60);
    PutString(body, clientId);
    PutString(body, userName);
    return Frame(0x10, body);
}

// PUBLISH (3.3) with a packet identifier of 0 under QoS 1 at idOffset, for the sender to fill in.
struct Publish {
    Bytes frame;
    size_t idOffset = 0;
};

inline Publish MakePublish(int qos, const std::string &topic, const Bytes &payload) {
    Bytes body;
    PutString(body, topic);
    const size_t idAt = body.size();
    if (qos) {
        body.push_back(0);
        body.push_back(0);
    }
    body.insert(body.end(), payload.begin(), payload.end());
    Publish p;
    p.frame = Frame(uint8_t(0x30 | (qos << 1)), body);
    p.idOffset = p.frame.size() - body.size() + idAt;
    return p;
}

const Bytes kPingReq = {0xC0, 0x00};
const Bytes kDisconnect = {0xE0, 0x00};

}  // namespace mqttwire
