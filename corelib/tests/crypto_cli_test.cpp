// Keys and ciphers checked from outside with the openssl tool: RSA keys made here pass its key
// check and decrypt what it encrypted under our public key; SM2 cipher texts cross both ways
// after the C1 || C3 || C2 <-> DER conversion; the GM/T SM2 example decrypts; SM4-CBC, ChaCha20
// with a counter and ECDH agree with it.
#include <climits>
#include <cstring>

#include "ssl_test_util.h"

using namespace Vorezi;
using namespace cryptotest;

namespace {

class CryptoCli : public CryptoTest {
protected:
    ScratchDir m_Dir;
    std::string Path(const std::string &name) { return m_Dir.File(name); }
};

// ---- DER of OpenSSL's SM2 cipher text: SEQUENCE { INTEGER x1, INTEGER y1, OCTET STRING C3, OCTET STRING C2 } ----

Bytes DerLength(size_t n) {
    if (n < 0x80)
        return {static_cast<unsigned char>(n)};
    if (n < 0x100)
        return {0x81, static_cast<unsigned char>(n)};
    return {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
}

Bytes DerItem(unsigned char tag, const Bytes &content) {
    Bytes out{tag};
    Bytes len = DerLength(content.size());
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes DerInteger(const unsigned char *p, size_t n) {
    while (n > 1 && *p == 0) {
        p++;
        n--;
    }
    Bytes content;
    if (*p & 0x80)
        content.push_back(0);
    content.insert(content.end(), p, p + n);
    return DerItem(0x02, content);
}

// Reads one item of the given tag at pos; its content.
Bytes DerRead(const Bytes &der, size_t &pos, unsigned char tag) {
    EXPECT_EQ(der.at(pos), tag);
    pos++;
    size_t n = der.at(pos++);
    if (n & 0x80) {
        int iBytes = n & 0x7f;
        n = 0;
        while (iBytes--)
            n = (n << 8) | der.at(pos++);
    }
    Bytes content(der.begin() + pos, der.begin() + pos + n);
    pos += n;
    return content;
}

Bytes Sm2ToDer(const Bytes &raw) {
    Bytes seq;
    for (const Bytes &part : {DerInteger(&raw[1], 32), DerInteger(&raw[33], 32),
                              DerItem(0x04, Bytes(raw.begin() + 65, raw.begin() + 97)),
                              DerItem(0x04, Bytes(raw.begin() + 97, raw.end()))})
        seq.insert(seq.end(), part.begin(), part.end());
    return DerItem(0x30, seq);
}

Bytes Sm2FromDer(const Bytes &der) {
    size_t pos = 0;
    Bytes seq = DerRead(der, pos, 0x30);
    pos = 0;
    Bytes raw{0x04};
    for (int i = 0; i < 2; i++) {
        Bytes n = DerRead(seq, pos, 0x02);
        while (n.size() > 32)
            n.erase(n.begin());
        raw.insert(raw.end(), 32 - n.size(), 0);
        raw.insert(raw.end(), n.begin(), n.end());
    }
    for (int i = 0; i < 2; i++) {
        Bytes s = DerRead(seq, pos, 0x04);
        raw.insert(raw.end(), s.begin(), s.end());
    }
    return raw;
}

// ---- RSA ----

struct RsaCase {
    bool b2048;
    int iPubLen;
};

TEST_F(CryptoCli, RsaKeysPassTheToolsCheckAndDecryptItsCipherText) {
    for (RsaCase c : {RsaCase{false, 140}, RsaCase{true, 270}}) {
        Bytes pub(2048), pri(2048);
        int iPubLen = 0, iPriLen = 0;
        int iRet = c.b2048 ? m_pTrans->SSLTrans_GeneralRSAKey2048(pub.data(), &iPubLen, pri.data(), &iPriLen)
                           : m_pTrans->SSLTrans_GeneralRSAKey(pub.data(), &iPubLen, pri.data(), &iPriLen);
        ASSERT_EQ(iRet, 1);
        EXPECT_EQ(iPubLen, c.iPubLen);
        pub.resize(iPubLen);
        pri.resize(iPriLen);
        m_Dir.Write("pri.der", pri);
        m_Dir.Write("pub.der", pub);
        std::string out;
        ASSERT_EQ(RunTool("openssl rsa -inform DER -in " + Path("pri.der") + " -check -noout", &out), 0) << out;
        EXPECT_NE(out.find("RSA key ok"), std::string::npos) << out;
        ASSERT_EQ(RunTool("openssl rsa -RSAPublicKey_in -pubin -inform DER -in " + Path("pub.der") + " -out " +
                      Path("pub.pem")),
                  0);
        Bytes secret = Text("sixteen byte key");
        m_Dir.Write("msg", secret);
        ASSERT_EQ(RunTool("openssl pkeyutl -encrypt -pubin -inkey " + Path("pub.pem") +
                      " -pkeyopt rsa_padding_mode:pkcs1 -in " + Path("msg") + " -out " + Path("ct")),
                  0);
        Bytes ct = m_Dir.Read("ct");
        Bytes plain(256, 0);
        iRet = c.b2048 ? m_pTrans->SSLTrans_DecryptByPrivateKey2048(static_cast<int>(ct.size()), ct.data(),
                                                                    plain.data(), pri.data(), iPriLen)
                       : m_pTrans->SSLTrans_DecryptByPrivateKey(static_cast<int>(ct.size()), ct.data(), plain.data(),
                                                                pri.data(), iPriLen);
        ASSERT_EQ(iRet, 1);
        EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 16), secret);
        // A buffer that holds just the plain text is enough: nothing is written beyond it.
        GuardedBuffer exact(secret.size());
        ASSERT_NE(exact.Data(), nullptr);
        iRet = c.b2048 ? m_pTrans->SSLTrans_DecryptByPrivateKey2048(static_cast<int>(ct.size()), ct.data(),
                                                                    exact.Data(), pri.data(), iPriLen)
                       : m_pTrans->SSLTrans_DecryptByPrivateKey(static_cast<int>(ct.size()), ct.data(), exact.Data(),
                                                                pri.data(), iPriLen);
        ASSERT_EQ(iRet, 1);
        EXPECT_EQ(Bytes(exact.Data(), exact.Data() + secret.size()), secret);
        // A damaged cipher text or key is refused.
        ct[ct.size() / 2] ^= 0x40;
        EXPECT_EQ(m_pTrans->SSLTrans_DecryptByPrivateKey(static_cast<int>(ct.size()), ct.data(), plain.data(),
                                                         pri.data(), iPriLen),
                  0);
        EXPECT_EQ(m_pTrans->SSLTrans_DecryptByPrivateKey(static_cast<int>(ct.size()), ct.data(), plain.data(),
                                                         pri.data(), 20),
                  0);
    }
}

// ---- SM2 ----

TEST_F(CryptoCli, Sm2DecryptsTheGmtWorkedExample) {
    Bytes pri = Hex("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
    Bytes ct = Hex("04"
                   "04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
                   "E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
                   "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766"
                   "21886CA989CA9C7D58087307CA93092D651EFA");
    Bytes out(32);
    MORVA_SM2_PARAM p = {nullptr, ct.data(), static_cast<int>(ct.size()), out.data(), 32, pri.data(), 32};
    ASSERT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&p), 1);
    EXPECT_EQ(p.iOutputBufLen, 19);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 19), "encryption standard");
}

TEST_F(CryptoCli, Sm2RoundTripAndRefusals) {
    Bytes pub(65), pri(32);
    int iPubLen = 0, iPriLen = 0;
    ASSERT_EQ(m_pTrans->SSLTrans_GenerateSM2Key(pub.data(), &iPubLen, pri.data(), &iPriLen), 1);
    EXPECT_EQ(iPubLen, 65);
    EXPECT_EQ(iPriLen, 32);
    EXPECT_EQ(pub[0], 0x04);
    Bytes msg = Text("sixteen byte msg"), ct(113), back(16);
    MORVA_SM2_PARAM enc = {nullptr, msg.data(), 16, ct.data(), 112, pub.data(), 65};
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 0);  // no room for C1 || C3 || C2
    enc.iOutputBufLen = 113;
    ASSERT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 1);
    EXPECT_EQ(enc.iOutputBufLen, 113);
    MORVA_SM2_PARAM dec = {nullptr, ct.data(), 113, back.data(), 16, pri.data(), 32};
    ASSERT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 1);
    EXPECT_EQ(back, msg);
    // Damage to C2, C3 or C1 is detected.
    for (size_t at : {size_t(100), size_t(70), size_t(10)}) {
        Bytes bad = ct;
        bad[at] ^= 1;
        dec.pInputBuf = bad.data();
        EXPECT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 0) << at;
    }
    // A truncated message (no C2) or an empty one is refused before any parsing.
    dec.pInputBuf = ct.data();
    dec.iInputBufLen = 97;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 0);
    dec.iInputBufLen = 40;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 0);
    enc.iInputBufLen = 0;
    enc.iOutputBufLen = 113;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 0);
    // Keys shorter than a point or a scalar, at the end of readable memory, are refused unread;
    // so is a message whose cipher text length overflows.
    GuardedBuffer shortKey(16);
    memcpy(shortKey.Data(), pub.data(), 16);
    enc.iInputBufLen = 16;
    enc.pKey = shortKey.Data();
    enc.iKeyLen = 16;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 0);
    dec.iInputBufLen = 113;
    dec.pKey = shortKey.Data();
    dec.iKeyLen = 16;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 0);
    enc.pKey = pub.data();
    enc.iKeyLen = 65;
    enc.iInputBufLen = INT_MAX - 10;
    enc.iOutputBufLen = INT_MAX;
    EXPECT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 0);
}

TEST_F(CryptoCli, Sm2CipherTextsCrossWithTheTool) {
    ASSERT_EQ(RunTool("openssl genpkey -algorithm SM2 -out " + Path("k.pem")), 0);
    ASSERT_EQ(RunTool("openssl pkey -in " + Path("k.pem") + " -pubout -out " + Path("pub.pem")), 0);
    ASSERT_EQ(RunTool("openssl ec -in " + Path("k.pem") + " -outform DER -out " + Path("k.der")), 0);
    // ECPrivateKey of a 256-bit curve: the scalar at 7, the point in the last 65 bytes.
    Bytes der = m_Dir.Read("k.der");
    ASSERT_EQ(der.size(), 121u);
    Bytes pri(der.begin() + 7, der.begin() + 39), pub(der.end() - 65, der.end());
    ASSERT_EQ(pub[0], 0x04);

    Bytes msg = Text("a message that crosses both ways");
    m_Dir.Write("msg", msg);
    ASSERT_EQ(RunTool("openssl pkeyutl -encrypt -pubin -inkey " + Path("pub.pem") + " -in " + Path("msg") + " -out " +
                  Path("theirs.der")),
              0);
    Bytes raw = Sm2FromDer(m_Dir.Read("theirs.der"));
    ASSERT_EQ(raw.size(), msg.size() + 97);
    Bytes back(msg.size());
    MORVA_SM2_PARAM dec = {nullptr, raw.data(), static_cast<int>(raw.size()), back.data(),
                           static_cast<int>(back.size()), pri.data(), 32};
    ASSERT_EQ(m_pTrans->SSLTrans_SM2Decrypt(&dec), 1);
    EXPECT_EQ(back, msg);

    Bytes ours(msg.size() + 97);
    MORVA_SM2_PARAM enc = {nullptr, msg.data(), static_cast<int>(msg.size()), ours.data(),
                           static_cast<int>(ours.size()), pub.data(), 65};
    ASSERT_EQ(m_pTrans->SSLTrans_SM2Encrypt(&enc), 1);
    m_Dir.Write("ours.der", Sm2ToDer(ours));
    ASSERT_EQ(RunTool("openssl pkeyutl -decrypt -inkey " + Path("k.pem") + " -in " + Path("ours.der") + " -out " +
                  Path("plain")),
              0);
    EXPECT_EQ(m_Dir.Read("plain"), msg);
}

// ---- Symmetric ciphers against openssl enc ----

TEST_F(CryptoCli, Sm4CbcAndChaCha20CounterAgreeWithTheTool) {
    Bytes key = Hex("0123456789abcdeffedcba9876543210"), iv = Hex("000102030405060708090a0b0c0d0e0f");
    Bytes msg = Text("thirty-seven bytes of SM4 plain text!");
    m_Dir.Write("msg", msg);
    ASSERT_EQ(RunTool("openssl enc -sm4-cbc -K " + ToHex(key) + " -iv " + ToHex(iv) + " -in " + Path("msg") + " -out " +
                  Path("sm4")),
              0);
    Bytes out(msg.size() + 16);
    MORVA_SM4_PARAM p = {};
    p.pInputBuf = msg.data();
    p.iInputBufLen = static_cast<int>(msg.size());
    p.pOutputBuf = out.data();
    p.iOutputBufLen = static_cast<int>(out.size());
    p.pKey = key.data();
    p.iKeyLen = 16;
    p.pIv = iv.data();
    p.iIvLen = 16;
    p.iMode = SM4_MODE_CBC;
    ASSERT_EQ(m_pTrans->SSLTrans_SM4(&p, 1), 1);
    out.resize(p.iOutputBufLen);
    EXPECT_EQ(out, m_Dir.Read("sm4"));

    // Counter 256 gives the counter bytes 01 01 01 01 in front of the nonce.
    Bytes ckey(32), nonce = Hex("000000090000004a00000000");
    for (int i = 0; i < 32; i++)
        ckey[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(RunTool("openssl enc -chacha20 -K " + ToHex(ckey) + " -iv 01010101" + ToHex(nonce) + " -in " +
                  Path("msg") + " -out " + Path("chacha")),
              0);
    Bytes stream(msg.size());
    int iOutLen = static_cast<int>(stream.size());
    ASSERT_EQ(m_pTrans->SSLTrans_ChaCha20(stream.data(), &iOutLen, msg.data(), static_cast<int>(msg.size()),
                                          ckey.data(), 256, nonce.data()),
              1);
    EXPECT_EQ(stream, m_Dir.Read("chacha"));
}

// ---- ECDH ----

TEST_F(CryptoCli, EcdhAgreesBothWaysAndWithTheTool) {
    struct Party {
        Bytes pub = Bytes(512), pri = Bytes(512), spki = Bytes(512);
        int iPub = 0, iPri = 0, iSpki = 0;
    } a, b;
    for (Party *p : {&a, &b}) {
        ASSERT_EQ(m_pTrans->SSLTrans_GenerateECDHPubPriKey(TYPE_SECP_256_R1, p->pub.data(), &p->iPub, p->pri.data(),
                                                           &p->iPri, p->spki.data(), &p->iSpki),
                  1);
        EXPECT_EQ(p->iPub, 65);
        EXPECT_EQ(p->iSpki, 91);
    }
    Bytes s1(256), s2(256), s3(256);
    int i1 = 0, i2 = 0, i3 = 0;
    ASSERT_EQ(m_pTrans->SSLTrans_ECDHComputeShareKey(TYPE_SECP_256_R1, s1.data(), &i1, a.pri.data(), a.iPri,
                                                     b.pub.data(), b.iPub),
              1);
    ASSERT_EQ(m_pTrans->SSLTrans_ECDHComputeShareKey(TYPE_SECP_256_R1, s2.data(), &i2, b.pri.data(), b.iPri,
                                                     a.pub.data(), a.iPub),
              1);
    ASSERT_EQ(m_pTrans->SSLTrans_ECCDHComputeShareKey(TYPE_SECP_256_R1, s3.data(), &i3, a.pri.data(), a.iPri,
                                                      b.spki.data(), b.iSpki),
              1);
    ASSERT_EQ(i1, 32);
    EXPECT_EQ(ToHex(s1.data(), 32), ToHex(s2.data(), 32));
    EXPECT_EQ(ToHex(s1.data(), 32), ToHex(s3.data(), 32));

    m_Dir.Write("a.der", Bytes(a.pri.begin(), a.pri.begin() + a.iPri));
    m_Dir.Write("b.spki", Bytes(b.spki.begin(), b.spki.begin() + b.iSpki));
    ASSERT_EQ(RunTool("openssl ec -inform DER -in " + Path("a.der") + " -out " + Path("a.pem")), 0);
    ASSERT_EQ(RunTool("openssl pkey -pubin -inform DER -in " + Path("b.spki") + " -out " + Path("b.pem")), 0);
    ASSERT_EQ(RunTool("openssl pkeyutl -derive -inkey " + Path("a.pem") + " -peerkey " + Path("b.pem") + " -out " +
                  Path("secret")),
              0);
    EXPECT_EQ(ToHex(m_Dir.Read("secret")), ToHex(s1.data(), 32));

    // P-384 and SM2 keys have no DER public key here; a peer point off the curve is refused.
    Bytes untouched(512, 0xC3);
    int iUntouched = -7;
    ASSERT_EQ(m_pTrans->SSLTrans_GenerateECDHPubPriKey(TYPE_SECP_384_R1, a.pub.data(), &a.iPub, a.pri.data(),
                                                       &a.iPri, untouched.data(), &iUntouched),
              1);
    EXPECT_EQ(a.iPub, 97);
    EXPECT_EQ(iUntouched, -7);
    EXPECT_EQ(untouched[0], 0xC3);
    Bytes offCurve = b.pub;
    offCurve[40] ^= 1;
    EXPECT_EQ(m_pTrans->SSLTrans_ECDHComputeShareKey(TYPE_SECP_256_R1, s1.data(), &i1, b.pri.data(), b.iPri,
                                                     offCurve.data(), 65),
              0);
}

}  // namespace
