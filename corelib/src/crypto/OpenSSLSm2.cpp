// SM2 public-key encryption (GB/T 32918.4) on the curve NID_sm2, built from OpenSSL's big-number,
// EC and digest primitives so that it also works where only the primitives exist. Integers and
// coordinates are 32-byte big-endian; points are 0x04 || X || Y.
#include <cstring>
#include <memory>
#include <new>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"

namespace Vorezi {

namespace {

// What one SM2 operation made; everything goes back whichever step failed.
struct Sm2Scope {
    explicit Sm2Scope(COpenSSLAPI &api) : m_API(api) {}
    ~Sm2Scope() {
        for (EC_POINT *pPoint : m_pPoints)
            m_API.EC_POINT_free(pPoint);
        if (m_pGroup && m_API.m_fnEcGroupFree)
            m_API.m_fnEcGroupFree(m_pGroup);
        if (m_pCtx) {
            if (m_bStarted && m_API.m_fnBnCtxEnd)
                m_API.m_fnBnCtxEnd(m_pCtx);
            if (m_API.m_fnBnCtxFree)
                m_API.m_fnBnCtxFree(m_pCtx);
        }
        m_API.EVP_MD_CTX_free(m_pMdCtx);
    }
    bool NewCtx(bool bSecure) {
        auto fn = bSecure ? m_API.m_fnBnCtxSecureNew : m_API.m_fnBnCtxNew;
        m_pCtx = fn ? fn() : nullptr;
        if (m_pCtx && m_API.m_fnBnCtxStart) {
            m_API.m_fnBnCtxStart(m_pCtx);
            m_bStarted = true;
        }
        return m_bStarted;
    }
    // n numbers from the context; false when any is missing.
    bool GetNumbers(BIGNUM **ppOut, int n) {
        for (int i = 0; i < n; i++) {
            ppOut[i] = m_API.m_fnBnCtxGet ? m_API.m_fnBnCtxGet(m_pCtx) : nullptr;
            if (!ppOut[i])
                return false;
        }
        return true;
    }
    bool NewGroup() {
        m_pGroup = m_API.m_fnEcGroupNewByCurveName ? m_API.m_fnEcGroupNewByCurveName(OSSL_NID_SM2) : nullptr;
        return m_pGroup != nullptr;
    }
    EC_POINT *NewPoint() {
        EC_POINT *pPoint = m_API.EC_POINT_new(m_pGroup);
        if (pPoint)
            m_pPoints[m_iPoints++] = pPoint;
        return pPoint;
    }
    bool NewMdCtx() {
        m_pMdCtx = m_API.EVP_MD_CTX_new();
        return m_pMdCtx != nullptr;
    }

    COpenSSLAPI &m_API;
    BN_CTX *m_pCtx = nullptr;
    bool m_bStarted = false;
    EC_GROUP *m_pGroup = nullptr;
    EC_POINT *m_pPoints[4] = {};
    int m_iPoints = 0;
    EVP_MD_CTX *m_pMdCtx = nullptr;
};

bool Fail(const char *pText) {
    LogModule_Write(LOG_LEVEL_ERR, "%s", pText);
    return false;
}

bool AllZero(const BYTE *p, int iLen) {
    for (int i = 0; i < iLen; i++)
        if (p[i])
            return false;
    return true;
}

template <class F, class... A>
bool Call(F fn, A... a) {
    return fn && fn(a...) == 1;
}

}  // namespace

bool COpenSSLAPI::Sm2Kdf(const BYTE *pX2, const BYTE *pY2, BYTE *pOut, int iLen) {
    BYTE byZ[2 * SM2_SCALAR_LEN];
    memcpy(byZ, pX2, SM2_SCALAR_LEN);
    memcpy(byZ + SM2_SCALAR_LEN, pY2, SM2_SCALAR_LEN);
    const EVP_MD *pMd = EVP_sm3();
    return pMd && Call(m_fnEcdhKdfX962, pOut, static_cast<size_t>(iLen), byZ, sizeof(byZ),
                       static_cast<const unsigned char *>(nullptr), static_cast<size_t>(0), pMd);
}

// SM3(x2 || M || y2).
bool COpenSSLAPI::Sm2Hash(EVP_MD_CTX *pCtx, const BYTE *pX2, const BYTE *pMsg, int iMsgLen, const BYTE *pY2,
                          BYTE *pOut) {
    const EVP_MD *pMd = EVP_sm3();
    return pMd && EVP_DigestInit_ex(pCtx, pMd, nullptr) == 1 && EVP_DigestUpdate(pCtx, pX2, SM2_SCALAR_LEN) == 1 &&
           EVP_DigestUpdate(pCtx, pMsg, static_cast<size_t>(iMsgLen)) == 1 &&
           EVP_DigestUpdate(pCtx, pY2, SM2_SCALAR_LEN) == 1 && EVP_DigestFinal_ex(pCtx, pOut, nullptr) == 1;
}

int COpenSSLAPI::SSLTrans_SM2CreateKeyPair(BYTE *pOut) {
    Sm2Scope s(*this);
    BIGNUM *pBn[3];  // d, x, y
    if (!s.NewCtx(true))
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair, m_fnBnCtxSecureNew failed");
    if (!s.GetNumbers(pBn, 3))
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnBnCtxGet failed");
    if (!s.NewGroup())
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnEcGroupNewByCurveName failed");
    const BIGNUM *pOrder = m_fnEcGroupGet0Order ? m_fnEcGroupGet0Order(s.m_pGroup) : nullptr;
    if (!pOrder)
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnEcGroupGet0Order failed");
    EC_POINT *pPoint = s.NewPoint();
    if (!pPoint)
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnEcPointNew failed");
    do {
        if (!Call(m_fnBnRandRange, pBn[0], pOrder))
            return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnBnRandRange failed");
    } while (m_fnBnIsZero && m_fnBnIsZero(pBn[0]));
    if (!Call(m_fnEcPointMul, s.m_pGroup, pPoint, pBn[0], static_cast<const EC_POINT *>(nullptr),
              static_cast<const BIGNUM *>(nullptr), s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnEcPointMul failed");
    if (!Call(m_fnEcPointGetAffineCoordinatesGfp, s.m_pGroup, pPoint, pBn[1], pBn[2], s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnEcPointGetAffineCoordinatesGfp failed");
    static const char *const kPadFailed[] = {
        "COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnBnBn2binpad pBnd failed",
        "COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnBnBn2binpad pBnX failed",
        "COpenSSLAPI::SSLTrans_SM2CreateKeyPair,m_fnBnBn2binpad pBnY failed",
    };
    static const int kOffset[] = {0, SM2_SCALAR_LEN + 1, 2 * SM2_SCALAR_LEN + 1};
    for (int i = 0; i < 3; i++)
        if (!m_fnBnBn2binpad || m_fnBnBn2binpad(pBn[i], pOut + kOffset[i], SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
            return Fail(kPadFailed[i]);
    pOut[SM2_SCALAR_LEN] = 0x04;
    return 1;
}

int COpenSSLAPI::SSLTrans_SM2Encrypt(const BYTE *pMsg, int iMsgLen, const BYTE *pPubKey, BYTE *pC1, BYTE *pC3,
                                     BYTE *pC2) {
    // An empty message has an all-zero key stream by definition: the k loop would never end.
    if (!pMsg || iMsgLen <= 0 || !pPubKey || !pC1 || !pC3 || !pC2)
        return 0;
    std::unique_ptr<BYTE[]> t(new (std::nothrow) BYTE[iMsgLen]);
    if (!t)
        return 0;
    Sm2Scope s(*this);
    BIGNUM *pBn[7];  // public X, public Y, k, x1, y1, x2, y2
    if (!s.NewCtx(false))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnCtxNew get pCtx failed");
    if (!s.GetNumbers(pBn, 7))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnCtxGet pBnY2 failed");
    if (!s.NewGroup())
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcGroupNewByCurveName failed");
    EC_POINT *pPubPt = s.NewPoint();
    if (!pPubPt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointNew get pPubKeyPt  failed");
    EC_POINT *pC1Pt = s.NewPoint();
    if (!pC1Pt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointNew get pC1Pt failed");
    EC_POINT *pSPt = s.NewPoint();
    if (!pSPt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointNew get pSPt failed");
    EC_POINT *pEcPt = s.NewPoint();
    if (!pEcPt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointNew get pEcPt failed");
    if (!s.NewMdCtx())
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEVP_MD_CTX_new failed");
    if (!m_fnBnBin2bn || !m_fnBnBin2bn(pPubKey + 1, SM2_SCALAR_LEN, pBn[0]))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBin2bn szPubKeyX failed");
    if (!m_fnBnBin2bn(pPubKey + 1 + SM2_SCALAR_LEN, SM2_SCALAR_LEN, pBn[1]))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBin2bn  szPubKeyY failed");
    const BIGNUM *pOrder = m_fnEcGroupGet0Order ? m_fnEcGroupGet0Order(s.m_pGroup) : nullptr;
    if (!pOrder)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcGroupGet0Order failed");
    const BIGNUM *pCofactor = m_fnEcGroupGet0Cofactor ? m_fnEcGroupGet0Cofactor(s.m_pGroup) : nullptr;
    if (!pCofactor)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcGroupGet0Cofactor get pBnCofactor failed");
    const EC_POINT *pGenerator = m_fnEcGroupGet0Generator ? m_fnEcGroupGet0Generator(s.m_pGroup) : nullptr;
    if (!pGenerator)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcGroupGet0Generator get pGenerator failed");
    if (!Call(m_fnEcPointSetAffineCoordinatesGfp, s.m_pGroup, pPubPt, pBn[0], pBn[1], s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointSetAffineCoordinatesGfp failed");
    const BIGNUM *pNoBn = nullptr;
    const EC_POINT *pNoPt = nullptr;
    if (!Call(m_fnEcPointMul, s.m_pGroup, pSPt, pNoBn, static_cast<const EC_POINT *>(pPubPt), pCofactor, s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointMul pSPt failed");
    if (!m_fnEcPointIsAtInfinity || m_fnEcPointIsAtInfinity(s.m_pGroup, pSPt))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointIsAtInfinity failed");
    BYTE byX2[SM2_SCALAR_LEN];
    BYTE byY2[SM2_SCALAR_LEN];
    do {
        do {
            if (!Call(m_fnBnRandRange, pBn[2], pOrder))
                return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnRandRange failed");
        } while (m_fnBnIsZero && m_fnBnIsZero(pBn[2]));
        if (!Call(m_fnEcPointMul, s.m_pGroup, pC1Pt, static_cast<const BIGNUM *>(pBn[2]), pNoPt, pNoBn, s.m_pCtx))
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointMul pC1Pt failed");
        if (!Call(m_fnEcPointMul, s.m_pGroup, pEcPt, pNoBn, static_cast<const EC_POINT *>(pPubPt),
                  static_cast<const BIGNUM *>(pBn[2]), s.m_pCtx))
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointMul pEcPt failed");
        if (!Call(m_fnEcPointGetAffineCoordinatesGfp, s.m_pGroup, static_cast<const EC_POINT *>(pEcPt), pBn[5],
                  pBn[6], s.m_pCtx))
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointGetAffineCoordinatesGfp pEcPt failed");
        if (!m_fnBnBn2binpad || m_fnBnBn2binpad(pBn[5], byX2, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBn2binpad pBnX2 failed");
        if (m_fnBnBn2binpad(pBn[6], byY2, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBn2binpad pBnY2 failed");
        if (!Sm2Kdf(byX2, byY2, t.get(), iMsgLen))
            return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcdhKdfX962 failed");
    } while (AllZero(t.get(), iMsgLen));
    if (!Call(m_fnEcPointGetAffineCoordinatesGfp, s.m_pGroup, static_cast<const EC_POINT *>(pC1Pt), pBn[3], pBn[4],
              s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnEcPointGetAffineCoordinatesGfp pC1Pt failed");
    pC1[0] = 0x04;
    if (m_fnBnBn2binpad(pBn[3], pC1 + 1, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBn2binpad pBnC1X failed");
    if (m_fnBnBn2binpad(pBn[4], pC1 + 1 + SM2_SCALAR_LEN, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
        return Fail("COpenSSLAPI::SSLTrans_SM2Encrypt,m_fnBnBn2binpad pBnC1Y failed");
    if (!Sm2Hash(s.m_pMdCtx, byX2, pMsg, iMsgLen, byY2, pC3))
        return 0;
    for (int i = 0; i < iMsgLen; i++)
        pC2[i] = pMsg[i] ^ t[i];
    return 1;
}

int COpenSSLAPI::SSLTrans_SM2Decrypt(const BYTE *pC1, const BYTE *pC3, const BYTE *pC2, int iC2Len,
                                     const BYTE *pPriKey, BYTE *pOut) {
    if (!pC1 || !pC3 || !pC2 || iC2Len <= 0 || !pPriKey || !pOut)
        return 0;
    Sm2Scope s(*this);
    BIGNUM *pBn[5];  // d, x1, y1, x2, y2
    if (!s.NewCtx(false))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnCtxNew get pCtx failed");
    if (!s.GetNumbers(pBn, 5))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnCtxGet get pBnY2 failed");
    if (!s.NewGroup())
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcGroupNewByCurveName failed");
    EC_POINT *pC1Pt = s.NewPoint();
    if (!pC1Pt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointNew get pC1Pt failed");
    EC_POINT *pSPt = s.NewPoint();
    if (!pSPt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointNew get pSPt failed");
    EC_POINT *pEcPt = s.NewPoint();
    if (!pEcPt)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointNew get pEcPt failed");
    if (!s.NewMdCtx())
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEVP_MD_CTX_new failed");
    if (!m_fnBnBin2bn || !m_fnBnBin2bn(pPriKey, SM2_SCALAR_LEN, pBn[0]))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnBin2bn szPriKey failed");
    if (!m_fnBnBin2bn(pC1 + 1, SM2_SCALAR_LEN, pBn[1]))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnBin2bn szC1X failed");
    if (!m_fnBnBin2bn(pC1 + 1 + SM2_SCALAR_LEN, SM2_SCALAR_LEN, pBn[2]))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnBin2bn szC1Y failed");
    if (!Call(m_fnEcPointSetAffineCoordinatesGfp, s.m_pGroup, pC1Pt, pBn[1], pBn[2], s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointSetAffineCoordinatesGfp failed");
    if (!Call(m_fnEcPointIsOnCurve, s.m_pGroup, static_cast<const EC_POINT *>(pC1Pt), s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointIsOnCurve failed");
    const BIGNUM *pCofactor = m_fnEcGroupGet0Cofactor ? m_fnEcGroupGet0Cofactor(s.m_pGroup) : nullptr;
    if (!pCofactor)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcGroupGet0Cofactor failed");
    const BIGNUM *pNoBn = nullptr;
    if (!Call(m_fnEcPointMul, s.m_pGroup, pSPt, pNoBn, static_cast<const EC_POINT *>(pC1Pt), pCofactor, s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointMul pSPt failed");
    if (!m_fnEcPointIsAtInfinity || m_fnEcPointIsAtInfinity(s.m_pGroup, pSPt))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointIsAtInfinity failed");
    if (!Call(m_fnEcPointMul, s.m_pGroup, pEcPt, pNoBn, static_cast<const EC_POINT *>(pC1Pt),
              static_cast<const BIGNUM *>(pBn[0]), s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointMul pEcPt failed");
    if (!Call(m_fnEcPointGetAffineCoordinatesGfp, s.m_pGroup, static_cast<const EC_POINT *>(pEcPt), pBn[3], pBn[4],
              s.m_pCtx))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcPointGetAffineCoordinatesGfp failed");
    BYTE byX2[SM2_SCALAR_LEN];
    BYTE byY2[SM2_SCALAR_LEN];
    if (!m_fnBnBn2binpad || m_fnBnBn2binpad(pBn[3], byX2, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnBn2binpad pBnX2 failed");
    if (m_fnBnBn2binpad(pBn[4], byY2, SM2_SCALAR_LEN) != SM2_SCALAR_LEN)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnBnBn2binpad pBnY2 failed");
    std::unique_ptr<BYTE[]> t(new (std::nothrow) BYTE[iC2Len]);
    if (!t)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,Morva_NewArray t failed");
    if (!Sm2Kdf(byX2, byY2, t.get(), iC2Len))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,m_fnEcdhKdfX962 failed");
    if (AllZero(t.get(), iC2Len))
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,flag is wrong");
    std::unique_ptr<BYTE[]> m(new (std::nothrow) BYTE[iC2Len]);
    if (!m)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,Morva_NewArray M failed");
    for (int i = 0; i < iC2Len; i++)
        m[i] = pC2[i] ^ t[i];
    BYTE byU[SM2_C3_LEN];
    if (!Sm2Hash(s.m_pMdCtx, byX2, m.get(), iC2Len, byY2, byU) || memcmp(byU, pC3, SM2_C3_LEN) != 0)
        return Fail("COpenSSLAPI::SSLTrans_SM2Decrypt,memcmp failed");
    memcpy(pOut, m.get(), static_cast<size_t>(iC2Len));
    return 1;
}

}  // namespace Vorezi
