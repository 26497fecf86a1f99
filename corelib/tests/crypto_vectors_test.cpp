// Digests, HMAC, PBKDF2 and ciphers of the shared crypto instance against published vectors:
// RFC 1321, FIPS 180-4, RFC 2202, RFC 4231, RFC 7914, GB/T 32905, GB/T 32907, FIPS-197,
// SP 800-38A and RFC 8439; and the length and capacity checks around them.
#include <climits>
#include <cstring>

#include "crypto/OpenSSLAPI.h"
#include "ssl_test_util.h"

using namespace Vorezi;
using namespace cryptotest;

namespace {

class CryptoVectors : public CryptoTest {};

struct DigestCase {
    const char *pName;
    unsigned char *(CSSLTrans::*fn)(const BYTE *, size_t, BYTE *);
    std::string input;
    const char *pDigest;
};

TEST_F(CryptoVectors, DigestsMatchPublishedValues) {
    const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string digits;
    for (int i = 0; i < 8; i++)
        digits += "1234567890";
    const DigestCase kCases[] = {
        {"md5 empty", &CSSLTrans::SSLTrans_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"md5 a", &CSSLTrans::SSLTrans_MD5, "a", "0cc175b9c0f1b6a831c399e269772661"},
        {"md5 abc", &CSSLTrans::SSLTrans_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"md5 message digest", &CSSLTrans::SSLTrans_MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"md5 a-z", &CSSLTrans::SSLTrans_MD5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"md5 alnum", &CSSLTrans::SSLTrans_MD5, kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"md5 digits", &CSSLTrans::SSLTrans_MD5, digits, "57edf4a22be3c955ac49da2e2107b67a"},
        {"sha256 abc", &CSSLTrans::SSLTrans_SHA256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"sha256 two blocks", &CSSLTrans::SSLTrans_SHA256,
         "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"sha384 abc", &CSSLTrans::SSLTrans_SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {"sha512 abc", &CSSLTrans::SSLTrans_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d44236"
         "43ce80e2a9ac94fa54ca49f"},
    };
    for (const DigestCase &c : kCases) {
        Bytes out(64, 0xEE);
        Bytes in = Text(c.input);
        EXPECT_EQ((m_pTrans->*c.fn)(in.data(), in.size(), out.data()), out.data()) << c.pName;
        out.resize(strlen(c.pDigest) / 2);
        EXPECT_EQ(ToHex(out), c.pDigest) << c.pName;
    }
}

TEST_F(CryptoVectors, Sm3MatchesGbT32905) {
    std::string abcd;
    for (int i = 0; i < 16; i++)
        abcd += "abcd";
    const std::pair<std::string, const char *> kCases[] = {
        {"abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
        {abcd, "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
    };
    for (const auto &c : kCases) {
        Bytes out(32);
        Bytes in = Text(c.first);
        ASSERT_EQ(m_pTrans->SSLTrans_SM3(in.data(), static_cast<int>(in.size()), out.data()), 1);
        EXPECT_EQ(ToHex(out), c.second);
    }
}

TEST_F(CryptoVectors, Sha256StepsEqualOneShot) {
    alignas(16) unsigned char ctx[256] = {};
    Bytes msg = Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    ASSERT_EQ(m_pTrans->SSLTrans_SHA256_Init(ctx), 1);
    for (size_t i = 0; i < msg.size(); i += 7)
        ASSERT_EQ(m_pTrans->SSLTrans_SHA256_Update(ctx, msg.data() + i, std::min<size_t>(7, msg.size() - i)), 1);
    Bytes out(32);
    ASSERT_EQ(m_pTrans->SSLTrans_SHA256_Final(out.data(), ctx), 1);
    EXPECT_EQ(ToHex(out), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

struct HmacCase {
    int iType;  // 0: HMAC-SM3
    Bytes key;
    std::string data;
    const char *pMac;
};

TEST_F(CryptoVectors, HmacMatchesRfc2202AndRfc4231) {
    const std::string kLarge = "Test Using Larger Than Block-Size Key - Hash Key First";
    Bytes key25;
    for (unsigned char b = 1; b <= 25; b++)
        key25.push_back(b);
    // HMAC-SHA-1: all seven of RFC 2202 (case 5 untruncated: the library never truncates).
    const HmacCase kCases[] = {
        {2, Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {2, Text("Jefe"), "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {2, Bytes(20, 0xaa), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {2, key25, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {2, Bytes(20, 0x0c), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {2, Bytes(80, 0xaa), kLarge, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {2, Bytes(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
        {1, Bytes(20, 0x0b), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {1, Text("Jefe"), "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {1, Bytes(131, 0xaa), kLarge, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {7, Bytes(20, 0x0b), "Hi There",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {7, Text("Jefe"), "what do ya want for nothing?",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {7, Bytes(131, 0xaa), kLarge,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {0, Text("key"), "abc", "28e63256e7c5a087b1f073265dc53092163f7b82729735d06f28f10af9d52393"},
    };
    for (const HmacCase &c : kCases) {
        Bytes out(64);
        unsigned int uLen = 0;
        Bytes data = Text(c.data);
        unsigned char *pRet =
            c.iType ? m_pTrans->SSLTrans_HMAC_SHA(c.iType, c.key.data(), static_cast<int>(c.key.size()), data.data(),
                                                  static_cast<int>(data.size()), out.data(), &uLen)
                    : m_pTrans->SSLTrans_HMAC_SM3(c.key.data(), static_cast<int>(c.key.size()), data.data(),
                                                  static_cast<int>(data.size()), out.data(), &uLen);
        ASSERT_EQ(pRet, out.data()) << c.pMac;
        out.resize(uLen);
        EXPECT_EQ(ToHex(out), c.pMac);
    }
    Bytes out(64);
    unsigned int uLen = 0;
    EXPECT_EQ(m_pTrans->SSLTrans_HMAC_SHA(3, "k", 1, out.data(), 1, out.data(), &uLen), nullptr);
}

TEST_F(CryptoVectors, Pbkdf2MatchesRfc7914) {
    // RFC 6070's vectors are PBKDF2-HMAC-SHA1, which the library does not offer; these are the
    // SHA-256 ones.
    struct Case {
        const char *pPass;
        const char *pSalt;
        int iIter;
        const char *pKey;
    } const kCases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc49ca9cccf179b645991664b39d77ef317c71b845b1e3"
         "0bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56a1d425a1225833549adb841b51c9b3176a272bdebba1"
         "d078478f62b397f33c8d"},
        {"password", "salt", 4096, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
    };
    for (const Case &c : kCases) {
        Bytes out(strlen(c.pKey) / 2);
        ASSERT_EQ(m_pTrans->SSLTrans_PKCS5_PBKDF2_HMAC_SHA256(
                      c.pPass, static_cast<int>(strlen(c.pPass)), reinterpret_cast<const BYTE *>(c.pSalt),
                      static_cast<int>(strlen(c.pSalt)), c.iIter, static_cast<int>(out.size()), out.data()),
                  1);
        EXPECT_EQ(ToHex(out), c.pKey);
    }
}

struct AesCase {
    const char *pName;
    const char *pKey;
    const char *pIv;  // null: ECB
    const char *pPlain;
    const char *pCipher;
};

TEST_F(CryptoVectors, AesMatchesFips197AndSp80038a) {
    const AesCase kCases[] = {
        {"FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", nullptr, "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"FIPS-197 C.2", "000102030405060708090a0b0c0d0e0f1011121314151617", nullptr,
         "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"FIPS-197 C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", nullptr,
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        {"SP 800-38A F.1.1", "2b7e151628aed2a6abf7158809cf4f3c", nullptr,
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"},
        {"SP 800-38A F.2.1", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"},
        {"SP 800-38A F.2.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "000102030405060708090a0b0c0d0e0f", "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"},
    };
    for (const AesCase &c : kCases) {
        Bytes key = Hex(c.pKey), plain = Hex(c.pPlain);
        int iLen = static_cast<int>(plain.size()), iKeyLen = static_cast<int>(key.size());
        Bytes cipher(plain.size()), back(plain.size());
        if (c.pIv) {
            Bytes iv = Hex(c.pIv);
            ASSERT_EQ(m_pTrans->SSLTrans_AesCbcEncrypt(key.data(), plain.data(), cipher.data(), iLen, iKeyLen,
                                                       iv.data(), iLen),
                      1)
                << c.pName;
            // The IV moves on to the last cipher block; decryption leaves the caller's IV alone.
            EXPECT_EQ(ToHex(iv), ToHex(cipher).substr(ToHex(cipher).size() - 32)) << c.pName;
            iv = Hex(c.pIv);
            ASSERT_EQ(m_pTrans->SSLTrans_AesCbcDecrypt(key.data(), cipher.data(), back.data(), iLen, iKeyLen,
                                                       iv.data(), iLen),
                      1);
            EXPECT_EQ(ToHex(iv), c.pIv);
        } else {
            ASSERT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), plain.data(), cipher.data(), iLen, iKeyLen, iLen), 1)
                << c.pName;
            ASSERT_EQ(m_pTrans->SSLTrans_AesEcbDecrypt(key.data(), cipher.data(), back.data(), iLen, iKeyLen, iLen), 1);
        }
        EXPECT_EQ(ToHex(cipher), c.pCipher) << c.pName;
        EXPECT_EQ(back, plain) << c.pName;
    }
}

TEST_F(CryptoVectors, AesRefusesBadKeyLengthsShortOutputsAndPartialBlocks) {
    Bytes key(32, 0x11), iv(16, 0x22), in(20, 0x33), out(64, 0);
    for (int iKeyLen : {0, 8, 15, 20, 31, 33, 64})
        EXPECT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), in.data(), out.data(), 16, iKeyLen, 64), 0) << iKeyLen;
    // Twenty bytes come out as 32: the output must hold them.
    EXPECT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), in.data(), out.data(), 20, 16, 31), 0);
    EXPECT_EQ(m_pTrans->SSLTrans_AesCbcEncrypt(key.data(), in.data(), out.data(), 20, 16, iv.data(), 31), 0);
    Bytes guard(64, 0xA5);
    ASSERT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), in.data(), guard.data(), 20, 16, 32), 1);
    EXPECT_EQ(guard[32], 0xA5);
    Bytes zeroPadded(in);
    zeroPadded.resize(32, 0);
    Bytes expect(32);
    ASSERT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), zeroPadded.data(), expect.data(), 32, 16, 32), 1);
    EXPECT_EQ(ToHex(guard.data(), 32), ToHex(expect));
    // Decryption needs whole blocks and room for them.
    EXPECT_EQ(m_pTrans->SSLTrans_AesEcbDecrypt(key.data(), in.data(), out.data(), 20, 16, 64), 0);
    EXPECT_EQ(m_pTrans->SSLTrans_AesCbcDecrypt(key.data(), in.data(), out.data(), 20, 16, iv.data(), 64), 0);
    EXPECT_EQ(m_pTrans->SSLTrans_AesCbcDecrypt(key.data(), out.data(), out.data() + 32, 32, 16, iv.data(), 16), 0);
    // A length whose whole-block rounding overflows fits no output, however large it claims to be.
    for (int iHuge : {INT_MAX, INT_MAX - 14}) {
        EXPECT_EQ(m_pTrans->SSLTrans_AesEcbEncrypt(key.data(), in.data(), out.data(), iHuge, 16, INT_MAX), 0);
        EXPECT_EQ(m_pTrans->SSLTrans_AesCbcEncrypt(key.data(), in.data(), out.data(), iHuge, 16, iv.data(), 64), 0);
    }
}

TEST_F(CryptoVectors, Sm4MatchesGbT32907AndChecksCapacity) {
    Bytes key = Hex("0123456789abcdeffedcba9876543210");
    Bytes plain = key;
    Bytes cipher(32), back(32);
    MORVA_SM4_PARAM p = {};
    p.pInputBuf = plain.data();
    p.iInputBufLen = 16;
    p.pOutputBuf = cipher.data();
    p.iOutputBufLen = 31;  // PKCS#7 adds a whole block to 16 bytes
    p.pKey = key.data();
    p.iKeyLen = 16;
    p.iMode = SM4_MODE_ECB;
    EXPECT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 0);
    p.iOutputBufLen = 32;
    ASSERT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 1);
    EXPECT_EQ(p.iOutputBufLen, 32);
    EXPECT_EQ(ToHex(cipher).substr(0, 32), "681edf34d206965e86b3e94f536e4246");
    MORVA_SM4_PARAM d = p;
    d.pInputBuf = cipher.data();
    d.iInputBufLen = 32;
    d.pOutputBuf = back.data();
    d.iOutputBufLen = 32;
    ASSERT_EQ(m_pTrans->SSLTrans_SM4(&d, 0), 1);
    EXPECT_EQ(d.iOutputBufLen, 16);
    EXPECT_EQ(ToHex(back.data(), 16), ToHex(plain));
    // Modes with an IV refuse to run without one; unknown modes are refused.
    p.iMode = SM4_MODE_CBC;
    EXPECT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 0);
    p.iMode = 9;
    p.iOutputBufLen = 32;
    EXPECT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 0);
    // An input so long that its padded length overflows is refused, not encrypted into 32 bytes.
    p.iMode = SM4_MODE_ECB;
    p.iInputBufLen = INT_MAX - 8;
    EXPECT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 0);
}

TEST_F(CryptoVectors, Sm4ShortKeyAndIvAreZeroPaddedNotOverRead) {
    Bytes plain = Text("short keys here!");
    // SM4-CBC of the plain text; an empty result when refused.
    auto Encrypt = [&](unsigned char *pKey, int iKeyLen, unsigned char *pIv, int iIvLen) {
        Bytes out(32);
        MORVA_SM4_PARAM p = {nullptr, plain.data(), 16, out.data(), 32, pKey, iKeyLen, pIv, iIvLen, {}, SM4_MODE_CBC};
        return m_pTrans->SSLTrans_SM4(&p, 1) == 1 ? ToHex(out) : std::string();
    };
    // An 8-byte key and IV at the very end of readable memory, then the same zero-padded to 16.
    GuardedBuffer key(8), iv(8);
    memset(key.Data(), 0x5A, 8);
    memset(iv.Data(), 0x3C, 8);
    Bytes key16(16, 0), iv16(16, 0);
    memset(key16.data(), 0x5A, 8);
    memset(iv16.data(), 0x3C, 8);
    const std::string padded = Encrypt(key16.data(), 16, iv16.data(), 16);
    ASSERT_FALSE(padded.empty());
    EXPECT_EQ(Encrypt(key.Data(), 8, iv.Data(), 8), padded);
    EXPECT_EQ(Encrypt(key.Data(), 0, iv.Data(), 8), "");
}

TEST_F(CryptoVectors, ChaCha20MatchesRfc8439Vector1) {
    Bytes key(32, 0), nonce(12, 0), zeros(64, 0), out(64);
    int iOutLen = 64;
    ASSERT_EQ(m_pTrans->SSLTrans_ChaCha20(out.data(), &iOutLen, zeros.data(), 64, key.data(), 0, nonce.data()), 1);
    EXPECT_EQ(iOutLen, 64);
    EXPECT_EQ(ToHex(out),
              "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7da41597c5157488d7724e03fb8d84a376a43b8f"
              "41518a11cc387b669b2ee6586");
    // Counter 255 wraps to the counter bytes of 0.
    Bytes wrapped(64);
    iOutLen = 64;
    ASSERT_EQ(m_pTrans->SSLTrans_ChaCha20(wrapped.data(), &iOutLen, zeros.data(), 64, key.data(), 255, nonce.data()),
              1);
    EXPECT_EQ(wrapped, out);
    iOutLen = 63;
    EXPECT_EQ(m_pTrans->SSLTrans_ChaCha20(out.data(), &iOutLen, zeros.data(), 64, key.data(), 0, nonce.data()), 0);
}

TEST_F(CryptoVectors, AesGcmRoundTripDetectsTamperingAndChecksCapacity) {
    Bytes key(16, 0x42), plain = Text("a message under AES-128-GCM"), cipher(plain.size()), tag(16);
    int iLen = static_cast<int>(plain.size());
    int iOutLen = iLen;
    ASSERT_EQ(m_pTrans->SSLTrans_AesGcmEncrypt(cipher.data(), &iOutLen, tag.data(), 0, 0, key.data(), plain.data(), iLen),
              1);
    EXPECT_EQ(iOutLen, iLen);
    EXPECT_NE(cipher, plain);
    Bytes back(plain.size());
    int iBackLen = iLen;
    ASSERT_EQ(m_pTrans->SSLTrans_AesGcmDecrypt(back.data(), &iBackLen, tag.data(), 16, 0, key.data(), cipher.data(), iLen),
              1);
    EXPECT_EQ(back, plain);
    cipher[3] ^= 1;
    iBackLen = iLen;
    EXPECT_EQ(m_pTrans->SSLTrans_AesGcmDecrypt(back.data(), &iBackLen, tag.data(), 16, 0, key.data(), cipher.data(), iLen),
              0);
    iOutLen = iLen - 1;
    EXPECT_EQ(m_pTrans->SSLTrans_AesGcmEncrypt(cipher.data(), &iOutLen, tag.data(), 0, 0, key.data(), plain.data(), iLen),
              0);
    iOutLen = iLen;
    EXPECT_EQ(m_pTrans->SSLTrans_AesGcmEncrypt(cipher.data(), &iOutLen, tag.data(), 0, 1, key.data(), plain.data(), iLen),
              0);
}

TEST_F(CryptoVectors, RandomBytesAndOctetStrings) {
    Bytes a(32, 0), b(32, 0);
    ASSERT_EQ(m_pTrans->SSLTrans_RAND_Bytes(a.data(), 32), 1);
    ASSERT_EQ(m_pTrans->SSLTrans_RAND_Bytes(b.data(), 32), 1);
    EXPECT_NE(a, b);

    Bytes der(8);
    Bytes abc = Text("abc");
    ASSERT_EQ(m_pTrans->SSLTrans_ASN1_OCTET_STRING_Encode(abc.data(), 3, der.data(), 5), 5);
    EXPECT_EQ(ToHex(der.data(), 5), "0403616263");
    EXPECT_EQ(m_pTrans->SSLTrans_ASN1_OCTET_STRING_Encode(abc.data(), 3, der.data(), 4), -1);
    Bytes out(3);
    ASSERT_EQ(m_pTrans->SSLTrans_ASN1_OCTET_STRING_Decode(der.data(), 5, out.data(), 3), 3);
    EXPECT_EQ(out, abc);
    EXPECT_EQ(m_pTrans->SSLTrans_ASN1_OCTET_STRING_Decode(der.data(), 5, out.data(), 2), -1);
    EXPECT_EQ(m_pTrans->SSLTrans_ASN1_OCTET_STRING_Decode(der.data(), 4, out.data(), 3), -1);
}

// Unbinds one entry of the process's OpenSSL table for its lifetime.
template <class F>
class Unbound {
public:
    Unbound(F &entry, bool bUnbind) : m_Entry(entry), m_Saved(entry) {
        if (bUnbind)
            m_Entry = nullptr;
    }
    ~Unbound() { m_Entry = m_Saved; }

private:
    F &m_Entry;
    F m_Saved;
};

BYTE g_byKey[32] = {1, 2, 3}, g_byIv[16] = {4, 5, 6}, g_byData[32] = {7, 8, 9};

// An EVP step whose name did not bind gives -1: the digest or cipher must fail rather than report
// success over output it never wrote.
TEST_F(CryptoVectors, AnUnboundEvpStepFailsTheCall) {
    const struct {
        const char *pName;
        int (*fnRun)(CSSLTrans *, bool bUnbind);
    } kCases[] = {
        {"SM3 without EVP_DigestUpdate",
         [](CSSLTrans *p, bool b) {
             Unbound entry(OpenSSL().m_fnEvpDigestUpdate, b);
             BYTE out[32];
             return p->SSLTrans_SM3(g_byData, sizeof(g_byData), out);
         }},
        {"SM4 without EVP_EncryptFinal_ex",
         [](CSSLTrans *p, bool b) {
             Unbound entry(OpenSSL().m_fnEvpEncryptFinalEx, b);
             BYTE out[64];
             MORVA_SM4_PARAM param = {nullptr, g_byData, 32, out, 64, g_byKey, 16, g_byIv, 16, {0, 0}, 0};
             return p->SSLTrans_SM4(&param, 1);
         }},
        {"AES-GCM without EVP_EncryptUpdate",
         [](CSSLTrans *p, bool b) {
             Unbound entry(OpenSSL().m_fnEvpEncryptUpdate, b);
             BYTE out[32], tag[16];
             int iOutLen = sizeof(out);
             return p->SSLTrans_AesGcmEncrypt(out, &iOutLen, tag, 0, 0, g_byKey, g_byData, sizeof(g_byData));
         }},
        {"ChaCha20 without EVP_DecryptUpdate",
         [](CSSLTrans *p, bool b) {
             Unbound entry(OpenSSL().m_fnEvpDecryptUpdate, b);
             BYTE out[32];
             int iOutLen = sizeof(out);
             return p->SSLTrans_ChaCha20(out, &iOutLen, g_byData, sizeof(g_byData), g_byKey, 1, g_byIv);
         }},
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(c.fnRun(m_pTrans, false), 1) << c.pName << ", bound";
        EXPECT_EQ(c.fnRun(m_pTrans, true), 0) << c.pName;
    }
}

}  // namespace
