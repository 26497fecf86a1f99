// The module's big numbers against OpenSSL's BIGNUM on random operands, its prime tests, and RSA
// key pairs checked from outside by the openssl command-line tool.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crypto_test_util.h"
#include "morva/MorvaRsa.h"

namespace {

using Digits = std::vector<BIG_DIGIT>;

struct BnDeleter {
    void operator()(BIGNUM *p) const { BN_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn ToBn(const Digits &a) {
    std::vector<uint8_t> bytes(a.size() * 4);
    Big_Encode(bytes.data(), static_cast<int>(bytes.size()), a.data(), static_cast<int>(a.size()));
    return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

std::string Text(const Digits &a) {
    char *p = BN_bn2hex(ToBn(a).get());
    std::string s(p);
    OPENSSL_free(p);
    return s;
}

std::string Text(const BIGNUM *p) {
    char *t = BN_bn2hex(p);
    std::string s(t);
    OPENSSL_free(t);
    return s;
}

// Random numbers of n words with a random number of significant words and special top words.
Digits Random(std::mt19937 &rng, int n, bool bNonZero = false) {
    Digits a(static_cast<size_t>(n), 0);
    const int iUsed = 1 + static_cast<int>(rng() % static_cast<unsigned>(n));
    for (int i = 0; i < iUsed; ++i) a[static_cast<size_t>(i)] = rng();
    switch (rng() % 4) {
        case 0: a[static_cast<size_t>(iUsed - 1)] |= 0x80000000u; break;
        case 1: a[static_cast<size_t>(iUsed - 1)] = 0xffffffffu; break;
        case 2: a[static_cast<size_t>(iUsed - 1)] &= 0xffu; break;
        default: break;
    }
    if (bNonZero && Big_IsZero(a.data(), n)) a[0] = 1;
    return a;
}

TEST(BigNum, ArithmeticMatchesOpenSSL) {
    std::mt19937 rng(11);
    BN_CTX *ctx = BN_CTX_new();
    for (int iRound = 0; iRound < 400; ++iRound) {
        const int n = 1 + static_cast<int>(rng() % BIG_MAX_DIGITS);
        SCOPED_TRACE(n);
        const Digits b = Random(rng, n), c = Random(rng, n, true);
        Bn bb = ToBn(b), bc = ToBn(c), r(BN_new()), q(BN_new());

        Digits prod(2 * static_cast<size_t>(n));
        Big_Mult(prod.data(), b.data(), c.data(), n);
        BN_mul(r.get(), bb.get(), bc.get(), ctx);
        ASSERT_EQ(Text(prod), Text(r.get()));

        // The full product divided by c gives back b with no remainder; b divided by c in general.
        Digits quot(2 * static_cast<size_t>(n)), rem(static_cast<size_t>(n));
        Big_Div(quot.data(), rem.data(), prod.data(), 2 * n, c.data(), n);
        ASSERT_EQ(Text(quot), Text(bb.get()));
        ASSERT_TRUE(Big_IsZero(rem.data(), n));
        Big_Div(quot.data(), rem.data(), b.data(), n, c.data(), n);
        BN_div(q.get(), r.get(), bb.get(), bc.get(), ctx);
        ASSERT_EQ(Text(Digits(quot.begin(), quot.begin() + n)), Text(q.get()));
        ASSERT_EQ(Text(rem), Text(r.get()));

        Digits sum(static_cast<size_t>(n)), diff(static_cast<size_t>(n));
        const BIG_DIGIT carry = Big_Add(sum.data(), b.data(), c.data(), n);
        const BIG_DIGIT borrow = Big_Sub(diff.data(), sum.data(), c.data(), n);
        ASSERT_EQ(diff, b);
        ASSERT_EQ(carry, borrow);  // the carry out is exactly what the subtraction borrows back

        const unsigned uShift = rng() % 32;
        Digits shifted(static_cast<size_t>(n)), back(static_cast<size_t>(n));
        const BIG_DIGIT out = Big_LShift(shifted.data(), b.data(), uShift, n);
        Big_RShift(back.data(), shifted.data(), uShift, n);
        back[static_cast<size_t>(n - 1)] |= uShift ? out << (32 - uShift) : 0;
        ASSERT_EQ(back, b);
    }
    BN_CTX_free(ctx);
}

TEST(BigNum, ModularOperationsMatchOpenSSL) {
    std::mt19937 rng(5);
    BN_CTX *ctx = BN_CTX_new();
    for (int iRound = 0; iRound < 60; ++iRound) {
        const int n = 1 + static_cast<int>(rng() % 17);
        SCOPED_TRACE(n);
        Digits d = Random(rng, n, true);
        d[0] |= 1;  // odd moduli, as in RSA
        Digits b = Random(rng, n), e = Random(rng, n);
        Big_Mod(b.data(), b.data(), n, d.data(), n);
        Bn bb = ToBn(b), be = ToBn(e), bd = ToBn(d), r(BN_new());

        Digits a(static_cast<size_t>(n));
        Big_ModExp(a.data(), b.data(), e.data(), n, d.data(), n);
        BN_mod_exp(r.get(), bb.get(), be.get(), bd.get(), ctx);
        ASSERT_EQ(Text(a), Text(r.get()));

        Big_Gcd(a.data(), b.data(), d.data(), n);
        BN_gcd(r.get(), bb.get(), bd.get(), ctx);
        ASSERT_EQ(Text(a), Text(r.get()));
        if (BN_is_one(r.get()) && !BN_is_one(bd.get())) {
            Big_ModInv(a.data(), b.data(), d.data(), n);
            BN_mod_inverse(r.get(), bb.get(), bd.get(), ctx);
            ASSERT_EQ(Text(a), Text(r.get()));
        }
    }
    BN_CTX_free(ctx);
}

TEST(BigNum, EdgeCases) {
    // Compare by the high word first.
    const Digits a = {0xffffffffu, 1}, b = {0, 2};
    EXPECT_EQ(Big_Cmp(a.data(), b.data(), 2), -1);
    EXPECT_EQ(Big_Cmp(b.data(), a.data(), 2), 1);
    EXPECT_EQ(Big_Cmp(a.data(), a.data(), 2), 0);
    // A zero divisor gives zeros instead of faulting; an exponent of 0 gives 1.
    Digits q = {7, 7}, r = {7, 7};
    const Digits zero = {0, 0};
    Big_Div(q.data(), r.data(), a.data(), 2, zero.data(), 2);
    EXPECT_EQ(q, zero);
    EXPECT_EQ(r, zero);
    Digits x(2);
    Big_ModExp(x.data(), a.data(), zero.data(), 2, b.data(), 2);
    EXPECT_EQ(x, (Digits{1, 0}));
    // Byte form: right-aligned big-endian, high bytes zero.
    uint8_t bytes[10];
    Big_Encode(bytes, 10, a.data(), 2);
    EXPECT_EQ(ToHex(bytes, 10), "000000000001ffffffff");
    Digits y(3);
    Big_Decode(y.data(), 3, bytes, 10);
    EXPECT_EQ(y, (Digits{0xffffffffu, 1, 0}));
    EXPECT_EQ(Big_Bits(a.data(), 2), 33u);
    EXPECT_EQ(Big_Digits(zero.data(), 2), 0u);
    BIG_DIGIT w[2];
    Word_Mult(w, 0xffffffffu, 0xffffffffu);
    EXPECT_EQ(w[1], 0xfffffffeu);
    EXPECT_EQ(w[0], 1u);
    Big_Assign2Exp(x.data(), 64, 2);  // does not fit: 0
    EXPECT_EQ(x, zero);
}

TEST(Prime, ProbablePrimeTest) {
    const struct {
        std::vector<BIG_DIGIT> value;
        int iExpect;
    } kCases[] = {
        {{3}, 1},         {{8191}, 1},       {{65537}, 1},        {{8193}, 0},  // 3 x 2731
        {{341}, 0},       // a Fermat liar to base 2, caught by trial division
        {{1}, 0},         {{9}, 0},          {{2147483647u}, 1},  {{0xffffffffu, 0x1fffffffu}, 1},  // 2^61 - 1
        {{0xfffffffdu, 0xffffffffu}, 0},  // 2^64 - 3 = 5 x 3689348814741910323
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(Prime_IsProbable(c.value.data(), static_cast<int>(c.value.size())), c.iExpect) << Text(c.value);
    }
}

MORVA_RAND_POOL SeededPool(uint8_t bySeed) {
    MORVA_RAND_POOL pool;
    Rand_Init(&pool);
    std::vector<uint8_t> seed(RAND_POOL_UPDATE_SEED, bySeed);
    Rand_Update(&pool, seed.data(), static_cast<uint32_t>(seed.size()));
    return pool;
}

TEST(Prime, GenerateInRangesWithAndWithoutPrimes) {
    MORVA_RAND_POOL pool = SeededPool(1);
    const BIG_DIGIT lower24 = 24, upper28 = 28, two = 2, lower100 = 100, upper200 = 200;
    BIG_DIGIT a = 0;
    EXPECT_EQ(Prime_Generate(&a, &lower24, &upper28, &two, 1, &pool), RSA_ERR_NO_PRIME);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Prime_Generate(&a, &lower100, &upper200, &two, 1, &pool), 0);
        EXPECT_GE(a, 100u);
        EXPECT_LE(a, 200u);
        EXPECT_EQ(Prime_IsProbable(&a, 1), 1) << a;
    }
    MORVA_RAND_POOL unseeded;
    Rand_Init(&unseeded);
    EXPECT_EQ(Prime_Generate(&a, &lower100, &upper200, &two, 1, &unseeded), RAND_ERR_NEED_SEED);
    const BIG_DIGIT upperSmall = 1;
    EXPECT_EQ(Prime_Generate(&a, &lower100, &upperSmall, &two, 1, &pool), -1);  // empty range
}

// DER of an RSAPrivateKey built from the record, for the openssl tool.
std::vector<uint8_t> DerLength(size_t uLen) {
    if (uLen < 128) return {static_cast<uint8_t>(uLen)};
    std::vector<uint8_t> out;
    for (size_t u = uLen; u; u >>= 8) out.insert(out.begin(), static_cast<uint8_t>(u));
    out.insert(out.begin(), static_cast<uint8_t>(0x80 | out.size()));
    return out;
}

void DerAppend(std::vector<uint8_t> &out, uint8_t byTag, std::vector<uint8_t> body) {
    out.push_back(byTag);
    const std::vector<uint8_t> len = DerLength(body.size());
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), body.begin(), body.end());
}

void DerInteger(std::vector<uint8_t> &out, const uint8_t *p, size_t uLen) {
    while (uLen > 1 && *p == 0) ++p, --uLen;
    std::vector<uint8_t> body(p, p + uLen);
    if (body[0] & 0x80) body.insert(body.begin(), 0);
    DerAppend(out, 0x02, body);
}

std::vector<uint8_t> PrivateKeyDer(const RsaPrivateKey &k) {
    std::vector<uint8_t> body;
    const uint8_t zero = 0;
    DerInteger(body, &zero, 1);
    DerInteger(body, k.byModulus, sizeof(k.byModulus));
    DerInteger(body, k.byPublicExponent, sizeof(k.byPublicExponent));
    DerInteger(body, k.byExponent, sizeof(k.byExponent));
    for (const auto *p : {k.byPrime[0], k.byPrime[1], k.byPrimeExponent[0], k.byPrimeExponent[1], k.byCoefficient}) {
        DerInteger(body, p, RSA_MAX_PRIME_LEN);
    }
    std::vector<uint8_t> der;
    DerAppend(der, 0x30, body);
    return der;
}

std::string TempPath(const char *pName) {
    return std::string(::testing::TempDir()) + "rsa_" + std::to_string(getpid()) + "_" + pName;
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Run(const std::string &command) {
    std::string out;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    char buf[256];
    while (p && fgets(buf, sizeof(buf), p)) out += buf;
    if (p) pclose(p);
    return out;
}

TEST(Rsa, ModulusLengthBounds) {
    MORVA_RAND_POOL pool = SeededPool(2);
    RsaPublicKey pub;
    RsaPrivateKey priv;
    std::memset(&pub, 0xa5, sizeof(pub));
    std::memset(&priv, 0xa5, sizeof(priv));
    for (uint32_t dwBits : {0u, 507u, 1025u, 4096u}) {
        const RsaProtoKey proto = {dwBits, 1};
        EXPECT_EQ(RSA_GenerateKeys(&pub, &priv, &proto, &pool), RSA_ERR_MODULUS_LEN) << dwBits;
        EXPECT_EQ(RSA_GenerateKeyPair(&pub, &priv, &proto), -1);
    }
    MORVA_RAND_POOL unseeded;
    Rand_Init(&unseeded);
    const RsaProtoKey proto = {512, 1};
    EXPECT_EQ(RSA_GenerateKeys(&pub, &priv, &proto, &unseeded), RAND_ERR_NEED_SEED);
    // Failures leave the records as they were.
    EXPECT_EQ(pub.wBits, 0xa5a5);
    EXPECT_EQ(priv.byCoefficient[63], 0xa5);
    for (uint32_t dwBits : {508u, 520u}) {  // 520: the primes take one word more than half the modulus
        const RsaProtoKey ok = {dwBits, 0};
        ASSERT_EQ(RSA_GenerateKeys(&pub, &priv, &ok, &pool), 0) << dwBits;
        EXPECT_EQ(pub.wBits, dwBits);
        Digits n(BIG_MAX_DIGITS);
        Big_Decode(n.data(), BIG_MAX_DIGITS, pub.byModulus, RSA_MAX_MODULUS_LEN);
        EXPECT_EQ(Big_Bits(n.data(), BIG_MAX_DIGITS), dwBits);
    }
}

// A generated pair, checked by `openssl rsa -check`, then used by `openssl pkeyutl` to encrypt a
// block that we decrypt with d.
void CheckPairWithOpenSSL(uint32_t dwUseF4, const char *pExponentTail) {
    const RsaProtoKey proto = {1024, dwUseF4};
    RsaPublicKey pub;
    RsaPrivateKey priv;
    ASSERT_EQ(RSA_GenerateKeyPair(&pub, &priv, &proto), 0);
    EXPECT_EQ(pub.wBits, 1024);
    EXPECT_GE(pub.byModulus[0], 0x80);
    EXPECT_EQ(0, std::memcmp(pub.byModulus, priv.byModulus, RSA_MAX_MODULUS_LEN));
    const std::string tail = pExponentTail;
    EXPECT_EQ(ToHex(pub.byExponent + RSA_MAX_MODULUS_LEN - tail.size() / 2, tail.size() / 2), tail);
    EXPECT_EQ(ToHex(pub.byExponent, RSA_MAX_MODULUS_LEN - tail.size() / 2),
              std::string(2 * RSA_MAX_MODULUS_LEN - tail.size(), '0'));
    EXPECT_GT(std::memcmp(priv.byPrime[0], priv.byPrime[1], RSA_MAX_PRIME_LEN), 0);  // p > q

    // d e = 1 mod (p-1)(q-1), reckoned with OpenSSL.
    Bn p(BN_bin2bn(priv.byPrime[0], 64, nullptr)), q(BN_bin2bn(priv.byPrime[1], 64, nullptr));
    Bn d(BN_bin2bn(priv.byExponent, 128, nullptr)), e(BN_bin2bn(priv.byPublicExponent, 128, nullptr));
    Bn phi(BN_new()), t(BN_new());
    BN_CTX *ctx = BN_CTX_new();
    BN_sub_word(p.get(), 1);
    BN_sub_word(q.get(), 1);
    BN_mul(phi.get(), p.get(), q.get(), ctx);
    BN_mod_mul(t.get(), d.get(), e.get(), phi.get(), ctx);
    EXPECT_TRUE(BN_is_one(t.get()));
    BN_CTX_free(ctx);

    const std::string keyPath = TempPath("key.der"), inPath = TempPath("in.bin"), outPath = TempPath("out.bin");
    WriteFile(keyPath, PrivateKeyDer(priv));
    EXPECT_NE(Run("openssl rsa -inform DER -in " + keyPath + " -check -noout").find("RSA key ok"), std::string::npos);

    std::vector<uint8_t> message(128);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 13 + 1);
    message[0] = 0x01;  // below the modulus
    WriteFile(inPath, message);
    const std::string out = Run("openssl pkeyutl -encrypt -keyform DER -inkey " + keyPath + " -in " + inPath +
                                " -out " + outPath + " -pkeyopt rsa_padding_mode:none");
    const std::vector<uint8_t> cipher = ReadFile(outPath);
    ASSERT_EQ(cipher.size(), 128u) << out;
    Digits c(BIG_MAX_DIGITS), dd(BIG_MAX_DIGITS), n(BIG_MAX_DIGITS), plain(BIG_MAX_DIGITS);
    Big_Decode(c.data(), 32, cipher.data(), 128);
    Big_Decode(dd.data(), 32, priv.byExponent, 128);
    Big_Decode(n.data(), 32, priv.byModulus, 128);
    Big_ModExp(plain.data(), c.data(), dd.data(), 32, n.data(), 32);
    std::vector<uint8_t> decrypted(128);
    Big_Encode(decrypted.data(), 128, plain.data(), 32);
    EXPECT_EQ(decrypted, message);
    for (const std::string &path : {keyPath, inPath, outPath}) std::remove(path.c_str());
}

TEST(Rsa, PairWithF4PassesOpenSSLCheck) { CheckPairWithOpenSSL(1, "010001"); }

TEST(Rsa, PairWithExponentThreePassesOpenSSLCheck) { CheckPairWithOpenSSL(0, "03"); }

}  // namespace
