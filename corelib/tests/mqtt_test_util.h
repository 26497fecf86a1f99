// Builders of MQTT 3.1.1 frames for the MQTT tests, written from the standard, and the fixtures
// captured from real clients.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mqtttest {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes U16(unsigned v) { return {uint8_t(v >> 8), uint8_t(v)}; }

// A length-prefixed string.
inline Bytes Str(const std::string &s) {
    Bytes out{uint8_t(s.size() >> 8), uint8_t(s.size())};
    for (char c : s)
        out.push_back(uint8_t(c));
    return out;
}

inline Bytes Raw(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline Bytes Frame(uint8_t byHeader, const Bytes &body) {
    Bytes out{byHeader};
    size_t n = body.size();
    do {
        uint8_t digit = uint8_t(n % 128);
        n /= 128;
        if (n)
            digit |= 0x80;
        out.push_back(digit);
    } while (n);
    return out + body;
}

struct ConnectSpec {
    // Flags 0x82: user name, clean session.
    ConnectSpec(uint8_t level = 4, uint8_t flags = 0x82, unsigned keepAlive = 60, std::string clientId = "client",
                std::string topic = "", std::string message = "", std::string userName = "user",
                std::string pass = "")
        : byLevel(level), byFlags(flags), wKeepAlive(keepAlive), id(std::move(clientId)), willTopic(std::move(topic)),
          willMessage(std::move(message)), user(std::move(userName)), password(std::move(pass)) {}
    uint8_t byLevel;
    uint8_t byFlags;
    unsigned wKeepAlive;
    std::string id, willTopic, willMessage, user, password;
};

inline Bytes Connect(const ConnectSpec &c) {
    Bytes body = Str("MQTT") + Bytes{c.byLevel, c.byFlags} + U16(c.wKeepAlive) + Str(c.id);
    if (c.byFlags & 0x04)
        body = body + Str(c.willTopic) + Str(c.willMessage);
    if (c.byFlags & 0x80)
        body = body + Str(c.user);
    if (c.byFlags & 0x40)
        body = body + Str(c.password);
    return Frame(0x10, body);
}

inline Bytes Publish(const std::string &topic, const Bytes &payload, int qos = 0, unsigned id = 1) {
    Bytes body = Str(topic);
    if (qos)
        body = body + U16(id);
    return Frame(uint8_t(0x30 | (qos << 1)), body + payload);
}

inline Bytes Subscribe(const std::string &filter, uint8_t qos = 1, unsigned id = 7) {
    return Frame(0x82, U16(id) + Str(filter) + Bytes{qos});
}

inline const Bytes kPingReq{0xC0, 0x00};
inline const Bytes kDisconnect{0xE0, 0x00};

// A byte stream captured from a real client (mqtt_fixtures/capture_client_frames.py): the checked-in
// one, or a fresh capture in MQTT_FIXTURE_DIR.
inline Bytes Fixture(const std::string &name) {
    std::string dir = __FILE__;
    dir = dir.substr(0, dir.find_last_of('/')) + "/mqtt_fixtures";
    if (const char *fresh = std::getenv("MQTT_FIXTURE_DIR"))
        dir = fresh;
    std::ifstream in(dir + "/" + name + ".bin", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace mqtttest
