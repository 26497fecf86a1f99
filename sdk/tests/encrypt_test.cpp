// The encryption facade against published vectors and the openssl command as the outside reference.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "module/crypto/Encrypt.h"
#include "morva/ComInterfaceMorva.h"
#include "netns/shell.h"
#include "sdk_test_util.h"

using namespace ZEVA;
using zeva::test::Sh;

namespace {

std::string Unhex(const std::string &hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

using sdktest::Hex;

const uint8_t *Bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// The crypt objects live in the core library's state.
class Encrypt : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, Morva_Init()); }
    void TearDown() override { Morva_Fini(); }

    // openssl's output for the input under the given arguments, read from a file. dgst takes its
    // input file without a flag.
    std::string Openssl(const std::string &args, const std::string &input, const std::string &inFlag = "-in ") {
        sdktest::WriteFile(dir / "in", input);
        auto r = Sh("openssl " + args + " -out " + dir / "out" + " " + inFlag + dir / "in");
        EXPECT_EQ(0, r.status) << args << ": " << r.out;
        return sdktest::ReadFile(dir / "out");
    }

    std::string CbcEncrypt(const std::string &plain, const std::string &key, const std::string &iv, int pad) {
        std::string out(1040, '\0');
        int outLen = -1;
        if (!enc.AesCbcEncrypt(Bytes(plain), int(plain.size()), reinterpret_cast<uint8_t *>(&out[0]),
                               int(out.size()), &outLen, Bytes(key), 16, Bytes(iv), 16, pad))
            return "refused";
        return out.substr(0, size_t(outLen));
    }

    std::string CbcDecrypt(const std::string &cipher, const std::string &key, const std::string &iv) {
        std::string out(1040, '\0');
        int outLen = -1;
        if (!enc.AesCbcDecrypt(Bytes(cipher), int(cipher.size()), reinterpret_cast<uint8_t *>(&out[0]),
                               int(out.size()), &outLen, Bytes(key), 16, Bytes(iv), 16))
            return "refused";
        return out.substr(0, size_t(outLen));
    }

    std::string Ecb(bool encrypt, const std::string &in, const std::string &key) {
        std::string out((in.size() + 15) / 16 * 16, '\0');
        auto op = encrypt ? &CEncrypt::AesEcbEncrypt : &CEncrypt::AesEcbDecrypt;
        if (!(enc.*op)(Bytes(in), int(in.size()), reinterpret_cast<uint8_t *>(&out[0]), int(out.size()), Bytes(key),
                       int(key.size())))
            return "refused";
        return out;
    }

    // The C module's form: pads inside the input buffer, so it gets room for the padded length.
    std::string Ecb128(const std::string &in, const std::string &key) {
        std::string buf = in, out(in.size() + 16, '\0');
        int padded = int(in.size() / 16 * 16 + 16);
        buf.resize(size_t(padded));
        int outLen = -1;
        if (enc.AesEcbEncrypt128(reinterpret_cast<uint8_t *>(&buf[0]), padded, int(in.size()),
                                 reinterpret_cast<uint8_t *>(&out[0]), int(out.size()), &outLen, Bytes(key)) != 1)
            return "refused";
        return out.substr(0, size_t(outLen));
    }

    CEncrypt enc;
    sdktest::ScratchDir dir;
};

const char kSpKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kSpPlain[] = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

TEST_F(Encrypt, AesAgainstPublishedVectorsAndOpenssl) {
    struct {
        const char *name, *key, *iv, *plain, *cipher;  // iv null: ECB
    } vectors[] = {
        {"FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", nullptr, "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"SP 800-38A F.1.1", kSpKey, nullptr, kSpPlain,
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
        {"SP 800-38A F.2.1", kSpKey, "000102030405060708090a0b0c0d0e0f", kSpPlain,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    };
    for (const auto &v : vectors) {
        SCOPED_TRACE(v.name);
        std::string key = Unhex(v.key), plain = Unhex(v.plain), cipher = Unhex(v.cipher);
        if (v.iv) {
            std::string iv = Unhex(v.iv);
            EXPECT_EQ(v.cipher, Hex(CbcEncrypt(plain, key, iv, 1)));
            EXPECT_EQ(v.plain, Hex(CbcDecrypt(cipher, key, iv)));
            EXPECT_EQ(v.cipher, Hex(Openssl(std::string("enc -aes-128-cbc -nopad -K ") + v.key + " -iv " + v.iv,
                                            plain)));
        } else {
            EXPECT_EQ(v.cipher, Hex(Ecb(true, plain, key)));
            EXPECT_EQ(v.cipher, Hex(Ecb128(plain, key)));
            EXPECT_EQ(v.plain, Hex(Ecb(false, cipher, key)));
            EXPECT_EQ(v.cipher, Hex(Openssl(std::string("enc -aes-128-ecb -nopad -K ") + v.key, plain)));
        }
    }
}

TEST_F(Encrypt, AesPaddingAndBounds) {
    const std::string key = Unhex(kSpKey), iv(16, '\x5a'), ivHex = Hex(iv);
    const std::string s16(16, 'a'), s17(17, 'b'), s1024(1024, 'c');
    // The pad-flag-1 rule is PKCS#7 for a partial block, which openssl's default padding writes.
    EXPECT_EQ(Hex(Openssl("enc -aes-128-cbc -K " + std::string(kSpKey) + " -iv " + ivHex, s17)),
              Hex(CbcEncrypt(s17, key, iv, 1)));
    EXPECT_EQ(s17 + std::string(15, '\x0f'), CbcDecrypt(CbcEncrypt(s17, key, iv, 1), key, iv));
    EXPECT_EQ(s17 + std::string(15, '\0'), CbcDecrypt(CbcEncrypt(s17, key, iv, 0), key, iv));
    EXPECT_EQ(16u, CbcEncrypt(s16, key, iv, 1).size()) << "whole blocks get no padding block";
    const std::string c1024 = CbcEncrypt(s1024, key, iv, 1);
    EXPECT_EQ(Hex(Openssl("enc -aes-128-cbc -nopad -K " + std::string(kSpKey) + " -iv " + ivHex, s1024)), Hex(c1024));
    EXPECT_EQ(s1024, CbcDecrypt(c1024, key, iv));
    EXPECT_EQ("refused", CbcEncrypt(s1024 + "d", key, iv, 1)) << "past the 1024-byte copy";
    EXPECT_EQ("refused", CbcDecrypt(c1024 + std::string(16, 'e'), key, iv)) << "past the 1024-byte copy";
    EXPECT_EQ("refused", CbcDecrypt(s17, key, iv)) << "not whole blocks";
    EXPECT_EQ("refused", Ecb(false, s17, key)) << "not whole blocks";
    // ECB zero-pads a partial block in both encryption forms; an empty input is one block for the C module.
    const std::string zeroPadded =
        Openssl("enc -aes-128-ecb -nopad -K " + std::string(kSpKey), s17 + std::string(15, '\0'));
    EXPECT_EQ(Hex(zeroPadded), Hex(Ecb(true, s17, key)));
    EXPECT_EQ(Hex(zeroPadded), Hex(Ecb128(s17, key)));
    EXPECT_EQ(Hex(Openssl("enc -aes-128-ecb -nopad -K " + std::string(kSpKey), std::string(16, '\0'))),
              Hex(Ecb128("", key)));
    uint8_t small[17] = {}, out[32];
    int outLen = 0;
    EXPECT_EQ(0, enc.AesEcbEncrypt128(small, 17, 17, out, 32, &outLen, Bytes(key)))
        << "an input buffer without room for the padding";
}

// The public key as openssl reads it, and text that openssl encrypts under it.
struct RsaPeer {
    std::string bits, cipher;
};

RsaPeer OpensslRsaEncrypt(const sdktest::ScratchDir &dir, const std::string &publicDer, const std::string &plain) {
    sdktest::WriteFile(dir / "pub.der", publicDer);
    sdktest::WriteFile(dir / "plain", plain);
    RsaPeer peer;
    peer.bits = Sh("openssl rsa -RSAPublicKey_in -inform DER -in " + dir / "pub.der" + " -text -noout").out;
    auto r = Sh("openssl rsa -RSAPublicKey_in -inform DER -in " + dir / "pub.der" + " -pubout -out " + dir / "pub.pem" +
                " && openssl pkeyutl -encrypt -pubin -inkey " + dir / "pub.pem" +
                " -pkeyopt rsa_padding_mode:pkcs1 -in " + dir / "plain" + " -out " + dir / "cipher");
    EXPECT_EQ(0, r.status) << r.out;
    peer.cipher = sdktest::ReadFile(dir / "cipher");
    return peer;
}

TEST_F(Encrypt, Rsa1024KeyReadAndDecryptedAgainstOpenssl) {
    uint8_t pub[512];
    int pubLen = sizeof pub;
    ASSERT_EQ(1, enc.GetRsaPublicKey1024(pub, &pubLen));
    const std::string secret = "0123456789abcdef-random";
    RsaPeer peer = OpensslRsaEncrypt(dir, std::string(reinterpret_cast<char *>(pub), size_t(pubLen)), secret);
    EXPECT_NE(std::string::npos, peer.bits.find("1024 bit")) << peer.bits;
    ASSERT_EQ(128u, peer.cipher.size());
    uint8_t plain[CEncrypt::kRsa1024Len];
    std::memset(plain, 0x77, sizeof plain);
    ASSERT_EQ(1, enc.RsaDecryptByPrivateKey(Bytes(peer.cipher), int(peer.cipher.size()), plain));
    EXPECT_STREQ(secret.c_str(), reinterpret_cast<char *>(plain)) << "decrypted into a zeroed buffer";
    std::string flipped = peer.cipher;
    flipped[5] ^= 1;
    EXPECT_EQ(0, enc.RsaDecryptByPrivateKey(Bytes(flipped), int(flipped.size()), plain));
    int tooSmall = 60;
    EXPECT_EQ(0, enc.GetRsaPublicKey1024(pub, &tooSmall)) << "the length is the capacity";
}

TEST_F(Encrypt, Rsa2048PairReadAndDecryptedAgainstOpenssl) {
    uint8_t pub[512], pri[2048];
    int pubLen = sizeof pub, priLen = sizeof pri;
    ASSERT_EQ(1, enc.GetRsaKey2048(pub, &pubLen, pri, &priLen));
    const std::string secret(16, 'R');
    RsaPeer peer = OpensslRsaEncrypt(dir, std::string(reinterpret_cast<char *>(pub), size_t(pubLen)), secret);
    EXPECT_NE(std::string::npos, peer.bits.find("2048 bit")) << peer.bits;
    uint8_t plain[CEncrypt::kRsa2048Len];
    std::memset(plain, 0x77, sizeof plain);
    int outLen = sizeof plain;
    ASSERT_EQ(1, enc.RsaDecryptByPrivateKey2048(Bytes(peer.cipher), int(peer.cipher.size()), pri, priLen, plain,
                                                &outLen));
    EXPECT_STREQ(secret.c_str(), reinterpret_cast<char *>(plain));
    outLen = CEncrypt::kRsa2048Len - 1;
    EXPECT_EQ(0, enc.RsaDecryptByPrivateKey2048(Bytes(peer.cipher), int(peer.cipher.size()), pri, priLen, plain,
                                                &outLen))
        << "an output below the key size";
}

TEST_F(Encrypt, DigestsAgainstPublishedVectorsAndOpenssl) {
    std::string random = Sh("head -c 1000 /dev/urandom | base64 -w0").out;
    struct {
        std::string input;
        const char *md5, *sha256;  // null: openssl dgst gives the expectation
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", nullptr},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a", nullptr},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", nullptr,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {random, nullptr, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input.substr(0, 20));
        auto dgst = [&](const char *alg) { return Hex(Openssl(std::string("dgst -binary -") + alg, row.input, "")); };
        uint8_t md5[16], sha[32];
        char shaHex[65];
        ASSERT_EQ(1, enc.MD5(Bytes(row.input), int(row.input.size()), md5));
        ASSERT_EQ(1, enc.SHA256(Bytes(row.input), int(row.input.size()), sha));
        ASSERT_EQ(1, enc.SHA256Hex(Bytes(row.input), int(row.input.size()), shaHex));
        EXPECT_EQ(row.md5 ? row.md5 : dgst("md5"), Hex(std::string(reinterpret_cast<char *>(md5), 16)));
        EXPECT_EQ(row.sha256 ? row.sha256 : dgst("sha256"), Hex(std::string(reinterpret_cast<char *>(sha), 32)));
        EXPECT_EQ(Hex(std::string(reinterpret_cast<char *>(sha), 32)), shaHex);
    }
}

TEST(EncryptRandom, TwoTextsOfTheSameSecondDiffer) {
    char a[33], b[33];
    std::memset(a, '#', sizeof a);
    std::memset(b, '#', sizeof b);
    CEncrypt::GetRandomHexString(a);
    CEncrypt::GetRandomHexString(b);
    EXPECT_EQ('#', a[32]) << "no terminator";
    a[32] = b[32] = '\0';
    EXPECT_EQ(32u, std::strspn(a, "0123456789abcdef")) << a;
    EXPECT_STRNE(a, b);
}

}  // namespace
