// Session keys set from the key-search event: payloads and the will decrypted, host sends
// encrypted, checked against `openssl enc` with the NIST SP 800-38A F.2.1 (AES-128-CBC) and
// GB/T 32907-2016 A.1 (SM4) vectors; the clear-topic filter and the "/1100/" topics.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "mqtt_session_util.h"

using namespace Vorezi;
using namespace mqtttest;

namespace {

Bytes Hex(const std::string &hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// `openssl enc` run as the client's side of the cipher.
Bytes OpenSsl(const std::string &args, const Bytes &input) {
    char path[] = "/tmp/mqtt_crypto_XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, input.data(), input.size()), ssize_t(input.size()));
    ::close(fd);
    const std::string cmd = "openssl enc " + args + " -in " + path;
    FILE *pipe = ::popen(cmd.c_str(), "r");
    Bytes out;
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        out.push_back(uint8_t(c));
    EXPECT_EQ(pipe ? ::pclose(pipe) : -1, 0) << cmd;
    ::unlink(path);
    return out;
}

struct Cipher {
    const char *name;
    DWORD command;           // how the host sets the key
    const char *openssl;     // the same cipher for openssl enc
    std::string key, iv;     // hex
    std::string block, out;  // a standard plaintext block and its first ciphertext block
};

// Key record of 97 bytes: key text (first 16 bytes used), then by command the algorithm with second
// key and IV, or the IV in hexadecimal and the algorithm.
Bytes KeyRecord(const Cipher &c) {
    Bytes rec = Hex(c.key);
    rec.resize(64, 0);
    if (c.command == MQTT_CMD_SETINFO_SESSIONKEY)
        return rec + Bytes{1} + Hex(c.iv) + Hex(c.iv);
    const Bytes ivText(c.iv.begin(), c.iv.end());
    return rec + ivText + Bytes{std::string(c.openssl) == "-sm4-cbc" ? uint8_t(1) : uint8_t(0)};
}

const Cipher kCiphers[] = {
    {"AES-128-CBC", MQTT_CMD_SETINFO_SESSIONKEY_AND_IV, "-aes-128-cbc", "2b7e151628aed2a6abf7158809cf4f3c",
     "000102030405060708090a0b0c0d0e0f", "6bc1bee22e409f96e93d7e117393172a", "7649abac8119b246cee98e9b12e9197d"},
    {"SM4-CBC", MQTT_CMD_SETINFO_SESSIONKEY, "-sm4-cbc", "0123456789abcdeffedcba9876543210",
     "00000000000000000000000000000000", "0123456789abcdeffedcba9876543210", "681edf34d206965e86b3e94f536e4246"},
};

class MqttSessionCrypto : public SessionTest, public ::testing::WithParamInterface<Cipher> {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        const Bytes rec = KeyRecord(GetParam());
        const DWORD command = GetParam().command;
        m_Host.onKeySearch = [rec, command](MORVA_MQTT_MSG *pMsg) {
            Bytes copy = rec;
            ASSERT_EQ(copy.size(), 97u);
            EXPECT_EQ(pMsg->fnSetInfo(command, copy.data(), DWORD(copy.size()), pMsg->pSession), 0);
            const char filter[] = "clear/";
            EXPECT_EQ(pMsg->fnSetInfo(MQTT_CMD_SETINFO_UNCRYPFILTER, const_cast<char *>(filter), 6, pMsg->pSession), 0);
        };
    }
    std::string Args(bool bDecrypt) const {
        return std::string(GetParam().openssl) + (bDecrypt ? " -d" : "") + " -K " + GetParam().key + " -iv " +
               GetParam().iv;
    }
    Bytes Encrypt(const std::string &text) { return OpenSsl(Args(false), Raw(text)); }
};

TEST_P(MqttSessionCrypto, HostSendsAreEncrypted) {
    Start();
    ConnectClient();
    // A 16-byte payload goes out as 32 bytes; the first block is the standard's.
    const Bytes block = Hex(GetParam().block);
    const Bytes data = Str("down") + block;
    ASSERT_GT(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 0), 0);
    const Bytes frame = ReadFrame();
    ASSERT_EQ(frame.size(), 2u + 6u + 32u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8), (Bytes{0x30, 38} + Str("down")));
    const Bytes cipher(frame.begin() + 8, frame.end());
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 16), Hex(GetParam().out));
    // Raw sends stay as they are.
    ASSERT_GT(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 1), 0);
    EXPECT_EQ(ReadFrame(), Frame(0x30, data));
    // The openssl tool runs once the session is done: on a loaded machine it can take longer
    // than the session's silent limit.
    EXPECT_EQ(OpenSsl(Args(true), cipher), block);
}

TEST_P(MqttSessionCrypto, PayloadsAndWillAreDecrypted) {
    // Cipher texts are made before the session starts, so no slow openssl run falls between two
    // frames and trips the session's silent limit.
    const Bytes will = Encrypt("last words"), hello = Encrypt("hello from the client"),
                status = Encrypt("status"), hidden = Encrypt("hidden");
    Start();
    ConnectSpec spec(4, 0xAE, 60, "dev", "will/t", std::string(will.begin(), will.end()));
    ConnectClient(spec);
    ASSERT_EQ(m_Host.Types(), (std::vector<int>{MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_CONNECT}));
    EXPECT_EQ(m_Host.Events()[1].data, "last words");
    m_Host.Clear();

    ASSERT_EQ(Deliver(Publish("up", hello, 1, 3)), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x40, 0x02, 0x00, 0x03}));
    ASSERT_EQ(Deliver(Publish("clear/x", Raw("plain"))), 1);
    ASSERT_EQ(Deliver(Publish("/1100/12345", status)), 1);
    ASSERT_EQ(Deliver(Publish("/1100/other", hidden, 1, 4)), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x40, 0x02, 0x00, 0x04}));  // acknowledged, not reported
    ASSERT_EQ(Deliver(Subscribe("cmd/#")), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x90, 0x03, 0x00, 0x07, 0x01}));

    std::vector<Event> events = m_Host.Events();
    ASSERT_EQ(m_Host.Types(),
              (std::vector<int>{MSG_PUBLISH, MSG_PUBLISH, MSG_PRIVATE_STREAM_ENCRYPT_STATUS, MSG_SUBSCRIBE}));
    EXPECT_EQ(events[0].data, "hello from the client");
    EXPECT_EQ(events[1].data, "plain");
    EXPECT_EQ(events[2].data, "status");
    EXPECT_EQ(events[2].topic, "/1100/12345");
    EXPECT_EQ(events[3].data, "last words");
    EXPECT_EQ(events[3].bWillDelivered, 1);

    // A payload that is not a cipher text fails the session.
    ASSERT_EQ(Deliver(Publish("up", Raw("not encrypted"))), 0);
    EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u);
    EXPECT_EQ(m_Host.Events().back().iStatus, 11);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, MqttSessionCrypto, ::testing::ValuesIn(kCiphers),
                         [](const ::testing::TestParamInfo<Cipher> &info) {
                             return std::string(info.param.name).substr(0, 3);
                         });

}  // namespace
