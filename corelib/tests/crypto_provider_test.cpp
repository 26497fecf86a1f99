// Buffer encryption with padding against OpenSSL's own AES-128-CBC (PKCS#7 for padding type 1)
// and SM4-CBC, with the padding checks, the IV rule and the buffer checks.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "crypto/CryptoProvider.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class CryptoProvider : public servicetest::InitedTest {};

const BYTE kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const BYTE kIv[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

std::vector<BYTE> Evp(const EVP_CIPHER *pCipher, const std::vector<BYTE> &in, const BYTE *pIv, bool bPad) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::vector<BYTE> out(in.size() + 16);
    int l = 0, f = 0;
    EVP_EncryptInit_ex(ctx, pCipher, nullptr, kKey, pIv);
    EVP_CIPHER_CTX_set_padding(ctx, bPad ? 1 : 0);
    EVP_EncryptUpdate(ctx, out.data(), &l, in.data(), int(in.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + l, &f);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(l + f));
    return out;
}

// One call's record over its own output; the input must outlive it.
struct Call {
    MORVA_CRYPTO_PARAM param{};
    std::vector<BYTE> out;
    DWORD dwOutLen = 0;
    Call(BYTE byType, BYTE byPadding, const std::vector<BYTE> &in, const BYTE *pIv, DWORD dwOutSize) : out(dwOutSize) {
        param.byCryptoType = byType;
        param.iTag = 7;
        param.pKey = kKey;
        param.pIv = pIv;
        param.pInputData = in.data();
        param.dwInputDataLen = DWORD(in.size());
        param.pOutputData = out.data();
        param.dwOutputDataSize = dwOutSize;
        param.pOutputDataLen = &dwOutLen;
        param.byPaddingType = byPadding;
    }
    std::vector<BYTE> Result() const { return std::vector<BYTE>(out.begin(), out.begin() + dwOutLen); }
};

TEST(CryptoProviderPadding, LengthIsUpToOneWholeBlock) {
    EXPECT_EQ(16u, CCryptoProvider::GetPaddingLen(1, 32));
    EXPECT_EQ(15u, CCryptoProvider::GetPaddingLen(0, 33));
    EXPECT_EQ(1u, CCryptoProvider::GetPaddingLen(1, 15));
}

TEST_F(CryptoProvider, AgreesWithOpenSSLAndRoundTrips) {
    struct Case {
        BYTE byType, byPadding;
        size_t uLen;
        const BYTE *pIv;
    } cases[] = {
        {CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, 16, kIv}, {CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, 33, kIv},
        {CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_ZERO, 20, kIv},  {CRYPTO_TYPE_SM4_CBC, 0, 16, kIv},
        {CRYPTO_TYPE_SM4_CBC, 0, 45, kIv},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.byType) << "/" << int(c.byPadding) << "/" << c.uLen);
        std::vector<BYTE> in(c.uLen);
        for (size_t i = 0; i < in.size(); ++i) in[i] = BYTE(i * 7 + 1);
        const std::vector<BYTE> original(in);
        Call enc(c.byType, c.byPadding, in, c.pIv, DWORD(c.uLen + 16));
        ASSERT_EQ(1, CCryptoProvider::Encrypt(&enc.param));
        EXPECT_EQ(original, in) << "the caller's input is not touched";

        std::vector<BYTE> expected;
        if (c.byType == CRYPTO_TYPE_SM4_CBC) {
            expected = Evp(EVP_sm4_cbc(), in, c.pIv, true);
        } else if (c.byPadding == CRYPTO_PADDING_COUNT) {
            expected = Evp(EVP_aes_128_cbc(), in, c.pIv, true);
        } else {
            std::vector<BYTE> zeroPadded(in);
            zeroPadded.resize((in.size() / 16 + 1) * 16, 0);
            expected = Evp(EVP_aes_128_cbc(), zeroPadded, c.pIv, false);
        }
        ASSERT_EQ(expected, enc.Result());

        const std::vector<BYTE> cipher = enc.Result();
        Call dec(c.byType, c.byPadding, cipher, c.pIv, DWORD(cipher.size()));
        ASSERT_EQ(1, CCryptoProvider::Decrypt(&dec.param));
        std::vector<BYTE> back = dec.Result();
        if (c.byType == CRYPTO_TYPE_AES_128_CBC && c.byPadding == CRYPTO_PADDING_ZERO) back.resize(in.size());
        EXPECT_EQ(in, back);
    }
}

TEST_F(CryptoProvider, SixteenBytesGainAWholePaddingBlock) {
    const std::vector<BYTE> in(16, 0x41);
    Call enc(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, in, kIv, 32);
    ASSERT_EQ(1, CCryptoProvider::Encrypt(&enc.param));
    ASSERT_EQ(32u, enc.dwOutLen);
    // Decrypted without the padding check, the last block is sixteen bytes of 16.
    const std::vector<BYTE> cipher = enc.Result();
    Call raw(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_ZERO, cipher, kIv, 32);
    ASSERT_EQ(1, CCryptoProvider::Decrypt(&raw.param));
    EXPECT_EQ(std::vector<BYTE>(16, 16), std::vector<BYTE>(raw.out.begin() + 16, raw.out.end()));
}

TEST_F(CryptoProvider, TheSameIvRuleBothWays) {
    // A null IV selects the default for both; an IV whose first byte is 0 is used as it is.
    BYTE zeroFirst[16];
    std::copy(kIv, kIv + 16, zeroFirst);
    for (const BYTE *pIv : {static_cast<const BYTE *>(nullptr), static_cast<const BYTE *>(zeroFirst)}) {
        const std::vector<BYTE> in(40, 0x33);
        Call enc(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, in, pIv, 48);
        ASSERT_EQ(1, CCryptoProvider::Encrypt(&enc.param));
        const std::vector<BYTE> cipher = enc.Result();
        Call dec(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, cipher, pIv, 48);
        ASSERT_EQ(1, CCryptoProvider::Decrypt(&dec.param));
        EXPECT_EQ(in, dec.Result());
    }
}

TEST_F(CryptoProvider, Refusals) {
    const std::vector<BYTE> in(20, 1), block(32, 9);
    servicetest::LogCapture log;
    struct Case {
        const char *pName;
        bool bEncrypt;
        Call call;
    } cases[] = {
        {"output below the padded length", true, Call(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, in, kIv, 31)},
        {"SM4 output without room for padding", true, Call(CRYPTO_TYPE_SM4_CBC, 0, in, kIv, 32)},
        {"unknown padding type", true, Call(CRYPTO_TYPE_AES_128_CBC, 2, in, kIv, 64)},
        {"unknown crypto type", true, Call(5, 0, in, kIv, 64)},
        {"decrypting a partial block", false, Call(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, in, kIv, 64)},
        {"decrypt output too small", false, Call(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_ZERO, block, kIv, 16)},
    };
    for (Case &c : cases) {
        EXPECT_EQ(0, c.bEncrypt ? CCryptoProvider::Encrypt(&c.call.param) : CCryptoProvider::Decrypt(&c.call.param))
            << c.pName;
    }
    EXPECT_EQ(0, CCryptoProvider::Encrypt(nullptr));
    // A length that the cipher's int cannot carry is refused before any copy, whatever room is claimed.
    for (BYTE byType : {CRYPTO_TYPE_AES_128_CBC, CRYPTO_TYPE_SM4_CBC}) {
        Call huge(byType, CRYPTO_PADDING_ZERO, in, kIv, 64);
        huge.param.dwInputDataLen = 0x80000000u;
        huge.param.dwOutputDataSize = 0xFFFFFFFFu;
        EXPECT_EQ(0, CCryptoProvider::Encrypt(&huge.param)) << int(byType);
    }
    EXPECT_EQ(1u, log.Matching("CCryptoProvider::Decrypt, Invalid Param, dwInputDataLen[20]").size());

    // Last bytes of 0 and of 17 are no padding of type 1.
    for (BYTE byLast : {BYTE(0), BYTE(17)}) {
        std::vector<BYTE> plain(32, byLast);
        Call enc(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_ZERO, plain, kIv, 48);
        ASSERT_EQ(1, CCryptoProvider::Encrypt(&enc.param));
        std::vector<BYTE> cipher = enc.Result();
        cipher.resize(32);  // drop the zero block so the plain text ends in byLast
        Call dec(CRYPTO_TYPE_AES_128_CBC, CRYPTO_PADDING_COUNT, cipher, kIv, 32);
        EXPECT_EQ(0, CCryptoProvider::Decrypt(&dec.param)) << int(byLast);
    }
}

}  // namespace
