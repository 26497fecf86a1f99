// The suite hello against OpenSSL as the peer: the DER public key handed out, the AES key
// encrypted under it with PKCS#1 v1.5, and the answers of every refusal.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/SecureHandshake.h"

using namespace Vorezi::secure;

namespace {

using Bytes = std::vector<uint8_t>;

class InitedLibrary : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(1, Vorezi::GetCoreGlobalCtrl()->Init()); }
    void TearDown() override { Vorezi::GetCoreGlobalCtrl()->Fini(); }
};
const auto *g_pLibrary = ::testing::AddGlobalTestEnvironment(new InitedLibrary);

const uint8_t kLinkKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                              0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

Bytes Hello(uint8_t byType, uint32_t dwWords = 1, const Bytes &key = Bytes(), int iKeyLen = -1) {
    Bytes p(36, 0);
    memcpy(p.data(), "QDSC", 4);
    p[5] = 36;
    p[7] = byType;
    for (int i = 0; i < 3; ++i) p[11 + 4 * i] = uint8_t((dwWords >> i) & 1);
    if (byType == SECURE_HELLO_KEY_EXCHANGE) {
        uint16_t wLen = uint16_t(iKeyLen < 0 ? key.size() : size_t(iKeyLen));
        p.push_back(uint8_t(wLen >> 8));
        p.push_back(uint8_t(wLen));
        p.insert(p.end(), key.begin(), key.end());
    }
    return p;
}

uint32_t Status(const Bytes &answer) {
    return (uint32_t(answer[20]) << 24) | (uint32_t(answer[21]) << 16) | (uint32_t(answer[22]) << 8) | answer[23];
}

// The peer's side: read the DER PKCS#1 key and encrypt the link key under it.
Bytes EncryptUnder(const Bytes &der, const uint8_t *pKey, size_t dwLen) {
    const unsigned char *p = der.data();
    EVP_PKEY *pkey = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(der.size()));
    EXPECT_NE(nullptr, pkey);
    if (pkey == nullptr) return Bytes();
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    size_t n = 0;
    EVP_PKEY_encrypt(ctx, nullptr, &n, pKey, dwLen);
    Bytes out(n);
    EXPECT_EQ(1, EVP_PKEY_encrypt(ctx, out.data(), &n, pKey, dwLen));
    out.resize(n);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(pkey);
    return out;
}

struct Peer {
    CSecureLinkCipher cipher;
    CSecureHandshake hs;
    Bytes answer;
    uint32_t dwParse = 0;

    CSecureHandshake::Outcome Send(const Bytes &p) {
        return hs.Process(p.data(), uint32_t(p.size()), cipher, &answer, &dwParse);
    }
    Bytes PublicKey() {
        EXPECT_EQ(CSecureHandshake::Outcome::Answered, Send(Hello(SECURE_HELLO_CAPABILITY, 7)));
        EXPECT_EQ(178u, answer.size());
        if (answer.size() < 38) return Bytes();
        return Bytes(answer.begin() + 38, answer.end());
    }
};

} // namespace

TEST(SecureHandshake, CapabilityHelloHandsOutTheDerKeyAndTheKeyExchangeTurnsEncryptionOn) {
    Peer peer;
    Bytes der = peer.PublicKey();
    ASSERT_EQ(140u, der.size());
    EXPECT_EQ(140, (peer.answer[36] << 8) | peer.answer[37]);
    EXPECT_EQ(100u, Status(peer.answer));
    EXPECT_EQ(1, peer.answer[8]) << "flags least significant byte first";
    EXPECT_FALSE(peer.cipher.IsOn());

    ASSERT_EQ(CSecureHandshake::Outcome::Answered,
              peer.Send(Hello(SECURE_HELLO_KEY_EXCHANGE, 7, EncryptUnder(der, kLinkKey, 16))));
    EXPECT_EQ(SECURE_HELLO_OK, peer.dwParse);
    ASSERT_EQ(36u, peer.answer.size());
    EXPECT_EQ(200u, Status(peer.answer));
    EXPECT_TRUE(peer.cipher.IsOn());
    EXPECT_TRUE(peer.hs.IsSecureFraming());
    // The link key is the NIST one: its vector comes out.
    const uint8_t plain[16] = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96,
                               0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93, 0x17, 0x2a};
    uint8_t out[16];
    ASSERT_TRUE(peer.cipher.Encrypt(plain, 16, out));
    EXPECT_EQ(0x3a, out[0]);
    EXPECT_EQ(0x97, out[15]);
}

TEST(SecureHandshake, RefusalsAnswerTheBareHeadWithStatus100AndStayPlain) {
    struct Row {
        const char *name;
        bool bCapabilityFirst;
        Bytes (*make)(const Bytes &der);
        uint32_t dwParse;
    } rows[] = {
        {"capability word 2 without bit 0", false, [](const Bytes &) { return Hello(0, 5); },
         SECURE_HELLO_NO_CAPABILITY + 1},
        {"hello of 35 bytes", false, [](const Bytes &) { Bytes p = Hello(0, 7); p.pop_back(); return p; },
         SECURE_HELLO_REFUSED},
        {"unknown package type", false, [](const Bytes &) { return Hello(2, 7); }, SECURE_HELLO_REFUSED},
        {"key length 129", true, [](const Bytes &) { return Hello(1, 7, Bytes(129, 1)); }, SECURE_HELLO_REFUSED},
        {"key length past the packet", true, [](const Bytes &) { return Hello(1, 7, Bytes(100, 1), 128); },
         SECURE_HELLO_REFUSED},
        {"head length past the packet", true,
         [](const Bytes &der) {
             Bytes p = Hello(1, 7, EncryptUnder(der, kLinkKey, 16));
             p[4] = 0x7f;
             return p;
         },
         SECURE_HELLO_REFUSED},
        {"ciphertext OpenSSL rejects", true, [](const Bytes &) { return Hello(1, 7, Bytes(128, 0x5a)); },
         SECURE_HELLO_REFUSED},
        {"key exchange before any public key", false,
         [](const Bytes &) { return Hello(1, 7, Bytes(128, 0x5a)); }, SECURE_HELLO_REFUSED},
    };
    for (const Row &r : rows) {
        Peer peer;
        Bytes der = r.bCapabilityFirst ? peer.PublicKey() : Bytes();
        ASSERT_EQ(CSecureHandshake::Outcome::Answered, peer.Send(r.make(der))) << r.name;
        EXPECT_EQ(r.dwParse, peer.dwParse) << r.name;
        ASSERT_EQ(36u, peer.answer.size()) << r.name;
        EXPECT_EQ(100u, Status(peer.answer)) << r.name;
        EXPECT_FALSE(peer.cipher.IsOn()) << r.name;
        EXPECT_FALSE(peer.hs.IsSecureFraming()) << r.name;
    }
}
