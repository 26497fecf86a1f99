// The secure link's packet formats and framing: hello and data heads byte for byte, the key-block
// bounds, AES-ECB against the NIST vector and OpenSSL, frames written and read back, and a table
// of hostile data packets.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/SecureCommandReader.h"
#include "transport/secure/SecureLinkCipher.h"
#include "transport/secure/SecurePacket.h"

using namespace Vorezi::secure;

namespace {

using Bytes = std::vector<uint8_t>;

// Sessions live only while the library is initialised; so does its crypt layer.
class InitedLibrary : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(1, Vorezi::GetCoreGlobalCtrl()->Init()); }
    void TearDown() override { Vorezi::GetCoreGlobalCtrl()->Fini(); }
};
const auto *g_pLibrary = ::testing::AddGlobalTestEnvironment(new InitedLibrary);

const uint8_t kNistKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                              0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

Bytes OpenSslEcb(bool bEncrypt, const uint8_t *pKey, const Bytes &in) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, pKey, nullptr, bEncrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(in.size() + 16);
    int n = 0, m = 0;
    EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n + m));
    return out;
}

Bytes Hello(uint8_t byType, uint32_t w1, uint32_t w2, uint32_t w3) {
    Bytes p(36, 0);
    memcpy(p.data(), "QDSC", 4);
    p[5] = 36;
    p[6] = 1;
    p[7] = byType;
    uint32_t w[3] = {w1, w2, w3};
    for (int i = 0; i < 3; ++i) {
        for (int b = 0; b < 4; ++b) p[8 + 4 * i + b] = uint8_t(w[i] >> (24 - 8 * b));
    }
    return p;
}

// A data packet as a peer writes it: plain numbers big-endian, token and data under the key.
Bytes PeerFrame(const uint8_t *pKey, const std::string &token, const std::string &data, uint8_t byInfo = 0,
                uint32_t dwCommand = 7, uint32_t dwPlainOverride = UINT32_MAX) {
    Bytes body(data.begin(), data.end());
    body.resize(SecurePaddedLen(uint32_t(data.size())), 0);
    Bytes tok(16, 0);
    memcpy(tok.data(), token.data(), token.size());
    if (pKey != nullptr) {
        body = body.empty() ? body : OpenSslEcb(true, pKey, body);
        tok = OpenSslEcb(true, pKey, tok);
    }
    SecureDataHead head;
    head.dwLength = uint32_t(52 + body.size());
    head.dwPlainLen = dwPlainOverride == UINT32_MAX ? uint32_t(data.size()) : dwPlainOverride;
    head.byInfoFlag = byInfo;
    head.bySenderByte = 0x5a;
    head.dwSequence = 0x01020304;
    head.dwCommand = dwCommand;
    head.dwValue = 0xa0b0c0d0;
    memcpy(head.byToken, tok.data(), 16);
    Bytes p(52);
    BuildDataHead(head, p.data());
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

void PutBE32(Bytes &p, size_t off, uint32_t v) {
    for (int b = 0; b < 4; ++b) p.at(off + b) = uint8_t(v >> (24 - 8 * b));
}

} // namespace

TEST(SecurePacket, HelloAnswerWritesFlagsLeastSignificantByteFirstAndStatusBigEndian) {
    uint32_t flags[3] = {1, 0, 1};
    uint8_t out[36];
    BuildHelloAnswer(out, flags, SECURE_STATUS_KEY_ACCEPTED);
    const uint8_t expect[36] = {'Q', 'D', 'S', 'C', 0, 36, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0,
                                0,   0,   0,   0,   0, 200};
    EXPECT_EQ(0, memcmp(out, expect, 36));
    SecureHelloHead head;
    ASSERT_TRUE(ParseHelloHead(out, 36, &head));
    EXPECT_EQ(200u, head.dwStatus);
    EXPECT_EQ(0x01000000u, head.dwCapability[0]); // the peer's words are read big-endian
}

TEST(SecurePacket, HelloAndKeyBlockBounds) {
    Bytes hello = Hello(1, 1, 1, 1);
    SecureHelloHead head;
    EXPECT_FALSE(ParseHelloHead(hello.data(), 35, &head));
    ASSERT_TRUE(ParseHelloHead(hello.data(), 36, &head));
    const uint8_t *pKey = nullptr;
    uint16_t wKeyLen = 0;
    EXPECT_FALSE(ParseKeyBlock(hello.data(), hello.size(), head, &pKey, &wKeyLen)) << "no key block";
    struct Row {
        uint16_t wHeadLen;
        uint16_t wKeyLen;
        size_t dwKeyBytes;
        bool bTaken;
    } rows[] = {{36, 128, 128, true}, {36, 0, 0, true}, {36, 129, 128, false}, {0xffff, 1, 1, false},
                {40, 4, 0, false},   {36, 0xffff, 4, false}};
    for (const Row &r : rows) {
        Bytes p = hello;
        p.resize(36 + r.dwKeyBytes + 2, 0);
        p[4] = uint8_t(r.wHeadLen >> 8);
        p[5] = uint8_t(r.wHeadLen);
        p[36] = uint8_t(r.wKeyLen >> 8);
        p[37] = uint8_t(r.wKeyLen);
        ASSERT_TRUE(ParseHelloHead(p.data(), p.size(), &head));
        EXPECT_EQ(r.bTaken, ParseKeyBlock(p.data(), p.size(), head, &pKey, &wKeyLen))
            << "head length " << r.wHeadLen << ", key length " << r.wKeyLen;
    }
}

TEST(SecurePacket, ClassifiesByMagic) {
    EXPECT_EQ(SecurePacketKind::Hello, ClassifySecurePacket(reinterpret_cast<const uint8_t *>("QDSC"), 4));
    EXPECT_EQ(SecurePacketKind::Data, ClassifySecurePacket(reinterpret_cast<const uint8_t *>("QDBDx"), 5));
    EXPECT_EQ(SecurePacketKind::Other, ClassifySecurePacket(reinterpret_cast<const uint8_t *>("QDB"), 3));
    EXPECT_EQ(SecurePacketKind::Other, ClassifySecurePacket(reinterpret_cast<const uint8_t *>("HELLO"), 5));
}

TEST(SecurePacket, PaddingAddsAWholeBlockToAlignedLengths) {
    EXPECT_EQ(0u, SecurePaddedLen(0));
    EXPECT_EQ(16u, SecurePaddedLen(1));
    EXPECT_EQ(16u, SecurePaddedLen(15));
    EXPECT_EQ(32u, SecurePaddedLen(16));
    EXPECT_EQ(48u, SecurePaddedLen(33));
}

TEST(SecureCipher, MatchesNistVectorAndWritesOnlyTheGivenLength) {
    CSecureLinkCipher cipher;
    ASSERT_TRUE(cipher.IsValid());
    const uint8_t plain[16] = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96,
                               0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93, 0x17, 0x2a};
    const uint8_t expect[16] = {0x3a, 0xd7, 0x7b, 0xb4, 0x0d, 0x7a, 0x36, 0x60,
                                0xa8, 0x9e, 0xca, 0xf3, 0x24, 0x66, 0xef, 0x97};
    uint8_t out[16];
    ASSERT_TRUE(cipher.Encrypt(plain, 16, out));
    EXPECT_EQ(0, memcmp(out, plain, 16)) << "plain until a key is set";
    cipher.SetKey(kNistKey);
    ASSERT_TRUE(cipher.Encrypt(plain, 16, out));
    EXPECT_EQ(0, memcmp(out, expect, 16));
    uint8_t back[20];
    memset(back, 0xee, sizeof(back));
    ASSERT_TRUE(cipher.Decrypt(expect, 5, back));
    for (size_t i = 5; i < sizeof(back); ++i) EXPECT_EQ(0xee, back[i]) << "byte " << i;
}

TEST(SecureFraming, FramesOfTheOwnerHaveTheSpecifiedSizesAndDecryptWithOpenSsl) {
    CSecureLinkCipher cipher;
    cipher.SetKey(kNistKey);
    CSecureDeviceToken token;
    token.Set("0123456789abcdef", 16);
    SecureDataHead head;
    head.dwCommand = 9;
    Bytes frame;
    std::string data(16, 'd');
    ASSERT_TRUE(BuildDataFrame(head, reinterpret_cast<const uint8_t *>(data.data()), 16, cipher, token, &frame));
    ASSERT_EQ(52u + 32u, frame.size());
    Bytes body = OpenSslEcb(false, kNistKey, Bytes(frame.begin() + 52, frame.end()));
    EXPECT_EQ(data, std::string(body.begin(), body.begin() + 16));
    EXPECT_EQ(Bytes(16, 0), Bytes(body.begin() + 16, body.end()));
    Bytes tok = OpenSslEcb(false, kNistKey, Bytes(frame.begin() + 32, frame.begin() + 48));
    EXPECT_EQ("0123456789abcdef", std::string(tok.begin(), tok.end()));
    SecureDataHead parsed;
    ASSERT_TRUE(ParseDataHead(frame.data(), frame.size(), &parsed));
    EXPECT_EQ(84u, parsed.dwLength);
    EXPECT_EQ(16u, parsed.dwPlainLen);
    EXPECT_EQ(4, parsed.byVersion);
    ASSERT_TRUE(BuildDataFrame(head, nullptr, 0, cipher, token, &frame));
    EXPECT_EQ(52u, frame.size());
}

TEST(SecureFraming, ReaderDeliversDataAndInfoBlockAndLearnsTheToken) {
    CSecureLinkCipher cipher;
    cipher.SetKey(kNistKey);
    CSecureDeviceToken token;
    CSecureCommandReader reader;
    Bytes p = PeerFrame(kNistKey, "tok-A", "hello device", 1);
    ASSERT_EQ(SecureReadResult::Ok, reader.Input(p.data(), uint32_t(p.size()), cipher, token));
    ASSERT_EQ(280u + 12u, reader.DataLen());
    const uint8_t *d = reader.Data();
    EXPECT_EQ(0, memcmp(d, "QDBD", 4));
    uint32_t v;
    memcpy(&v, d + 4, 4);
    EXPECT_EQ(7u, v);
    memcpy(&v, d + 8, 4);
    EXPECT_EQ(0x01020304u, v);
    memcpy(&v, d + 12, 4);
    EXPECT_EQ(0xa0b0c0d0u, v);
    EXPECT_EQ(0x5a, d[20]);
    EXPECT_EQ(0, memcmp(d + 21, "tok-A", 5));
    EXPECT_EQ(4, d[277]);
    EXPECT_EQ("hello device", std::string(reinterpret_cast<const char *>(d + 280), 12));
    reader.Drop();
    uint8_t learned[16];
    ASSERT_TRUE(token.Get(learned));
    EXPECT_EQ(0, memcmp(learned, "tok-A", 6));

    // The owner's frame goes through a reader of the other side unchanged.
    SecureDataHead head;
    Bytes frame;
    ASSERT_TRUE(BuildDataFrame(head, reinterpret_cast<const uint8_t *>("xyz"), 3, cipher, token, &frame));
    ASSERT_EQ(SecureReadResult::Ok, reader.Input(frame.data(), uint32_t(frame.size()), cipher, token));
    EXPECT_EQ("xyz", std::string(reinterpret_cast<const char *>(reader.Data()), reader.DataLen()));
}

TEST(SecureFraming, HostileDataPackets) {
    struct Row {
        const char *name;
        Bytes packet;
        SecureReadResult result;
    };
    Bytes ok = PeerFrame(kNistKey, "tok", std::string(20, 'x'));
    auto with = [&](size_t off, uint32_t v) {
        Bytes p = ok;
        PutBE32(p, off, v);
        return p;
    };
    Bytes shortLen = with(4, 51);
    Bytes pastPacket = with(4, uint32_t(ok.size() + 1));
    Bytes headLenPast = ok;
    headLenPast[12] = 200;
    Bytes bigHead = ok;
    bigHead.resize(4000, 0);
    bigHead[12] = 255;
    PutBE32(bigHead, 4, 100);
    Bytes wrongMagic = ok;
    wrongMagic[3] = 'X';
    Row rows[] = {
        {"51 bytes", Bytes(ok.begin(), ok.begin() + 51), SecureReadResult::CheckHeadLen},
        {"dwLength below the head length", shortLen, SecureReadResult::InvalidLength},
        {"dwLength past the packet", pastPacket, SecureReadResult::InvalidLength},
        {"head length past the packet", headLenPast, SecureReadResult::InvalidLength},
        {"head length above dwLength", bigHead, SecureReadResult::InvalidLength},
        {"plain length above the data", with(8, 33), SecureReadResult::PlainTooLong},
        {"plain length 0xFFFFFF00", with(8, 0xFFFFFF00u), SecureReadResult::PlainTooLong},
        {"wrong magic", wrongMagic, SecureReadResult::ParseHeadFailed},
        {"longer than the buffer", Bytes(8193, 0), SecureReadResult::BufferNotEnough},
    };
    for (const Row &r : rows) {
        CSecureLinkCipher cipher;
        cipher.SetKey(kNistKey);
        CSecureDeviceToken token;
        CSecureCommandReader reader;
        EXPECT_EQ(r.result, reader.Input(r.packet.data(), uint32_t(r.packet.size()), cipher, token)) << r.name;
        EXPECT_EQ(0u, reader.DataLen()) << r.name;
        EXPECT_EQ(0u, reader.RecvOffset()) << r.name << ": a framing error empties the buffer";
        // The session is not left broken: a valid packet goes through next.
        EXPECT_EQ(SecureReadResult::Ok, reader.Input(ok.data(), uint32_t(ok.size()), cipher, token)) << r.name;
        EXPECT_EQ(20u, reader.DataLen()) << r.name;
    }
}

TEST(SecureFraming, InfoHeadsThatOverflowTheDecryptedBufferAreRefused) {
    // 157 heads with the info flag fill an 8192-byte packet; their info blocks alone need 43960 bytes.
    CSecureLinkCipher cipher;
    CSecureDeviceToken token;
    CSecureCommandReader reader;
    Bytes one = PeerFrame(nullptr, "t", "", 1);
    Bytes many;
    for (int i = 0; i < 157; ++i) many.insert(many.end(), one.begin(), one.end());
    ASSERT_LE(many.size(), 8192u);
    EXPECT_EQ(SecureReadResult::NoSpace, reader.Input(many.data(), uint32_t(many.size()), cipher, token));
    EXPECT_EQ(0u, reader.DataLen());
    // As many heads as fit are delivered together.
    Bytes fit;
    for (int i = 0; i < 29; ++i) fit.insert(fit.end(), one.begin(), one.end());
    ASSERT_EQ(SecureReadResult::Ok, reader.Input(fit.data(), uint32_t(fit.size()), cipher, token));
    EXPECT_EQ(29u * 280u, reader.DataLen());
}

TEST(SecureFraming, ATokenThatDiffersFromTheKnownOneDropsThePacket) {
    CSecureLinkCipher cipher;
    cipher.SetKey(kNistKey);
    CSecureDeviceToken token;
    token.Set("set-by-owner", 12);
    CSecureCommandReader reader;
    Bytes other = PeerFrame(kNistKey, "someone-else", "data");
    EXPECT_EQ(SecureReadResult::TokenMismatch, reader.Input(other.data(), uint32_t(other.size()), cipher, token));
    EXPECT_EQ(1u, reader.TokenMismatches());
    EXPECT_EQ(0u, reader.DataLen());
    Bytes same = PeerFrame(kNistKey, "set-by-owner", "data");
    EXPECT_EQ(SecureReadResult::Ok, reader.Input(same.data(), uint32_t(same.size()), cipher, token));
    EXPECT_EQ(4u, reader.DataLen());
}

TEST(SecureCipher, ASendRacingAKeyChangeEncryptsUnderOneWholeKey) {
    CSecureLinkCipher cipher;
    uint8_t keyB[16];
    for (int i = 0; i < 16; ++i) keyB[i] = uint8_t(0xf0 ^ i);
    const Bytes plain(16, 0x42);
    const Bytes underA = OpenSslEcb(true, kNistKey, plain);
    const Bytes underB = OpenSslEcb(true, keyB, plain);
    cipher.SetKey(kNistKey);
    std::thread setter([&] {
        for (int i = 0; i < 2000; ++i) cipher.SetKey(i % 2 ? kNistKey : keyB);
    });
    int iMixed = 0;
    for (int i = 0; i < 2000; ++i) {
        Bytes out(16);
        ASSERT_TRUE(cipher.Encrypt(plain.data(), 16, out.data()));
        iMixed += out != underA && out != underB;
    }
    setter.join();
    EXPECT_EQ(0, iMixed);
}
