// Probe texts of protocol 3.1: the same format as 3.0, with the requests that only 3.1 devices
// answer. Secrets travel AES-128-CBC under a key derived by SHA-256 from the device's random
// string (exchanged under an RSA-2048 key of this object), the type word and a salted password
// digest, with a fresh random IV sent beside them.
#pragma once

#include "module/protocol/MulticastProtocol.h"

namespace ZEVA {

class CMulticastProtocol_V31 : public CMulticastProtocol {
public:
    static constexpr uint32_t RSA_KEY_BUFFER_LEN = 2048;
    static constexpr uint32_t IV_TEXT_LEN = 32;
    static constexpr uint32_t AES_BLOCK = 16;

    // "inquiry_v32": asks the device that holds the address it is sent to.
    int PackageInquiry_V32(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    // -- building blocks: 1 on success, 0 on failure.
    // R: the first 16 bytes of the random string the device encrypted under our public key.
    int DecryptExchangeCode_V31(const char *pExchangeCode, uint8_t *pRandom);
    // 32 raw bytes; the password is a 16-byte field.
    int DigestPassword_V31(const char *pUserName, const char *pPassword, const char *pSalt, const char *pSalt2,
                           uint8_t *pOut);
    // 16 bytes of SHA-256 over R, the type word and the digest, each as a zero-terminated text.
    int CreateKey_V31(const uint8_t *pRandom, const char *pType, const uint8_t *pDigest, uint8_t *pOut);
    // AES-128-CBC with zero padding, then Base64 into pOut.
    int AesEncrypt_Base64(const uint8_t *pIn, uint32_t dwLen, const uint8_t *pKey, const uint8_t *pIv, char *pOut,
                          uint32_t dwOutSize);
    // R followed by the plaintext, under the derived key and a fresh IV (kept for the answer);
    // pIvText receives the IV's 32 characters and a terminator.
    int EncryptConfig_V31(const uint8_t *pPlain, uint32_t dwLen, const char *pType, const char *pUserName,
                          const char *pPassword, const char *pSalt, const char *pSalt2, const char *pExchangeCode,
                          char *pOut, uint32_t dwOutSize, char *pIvText);
    // A fresh IV: 32 lower-case hexadecimal characters with a terminator, and its 16 bytes.
    static int CreateIv_V31(char *pIvText, uint8_t *pIv);

    // -- protocol-3.1 requests: 1 with the text and its length, or 0 with the last error set.
    int PackageExchangeCode_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageActivate_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageExportGUID_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageTovukUnbind_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageRestoreInactive_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageTovukUserToken_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageSetKWPlatform_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageSetMailBox_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageSetSecurityQuestion_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageAnswerReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageUpdateData_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageGUIDReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageMailReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackagePhoneNoReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    int PackageGetCode_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageGetEncryptString_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageGetQRcodes_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    // "GetQRcodes_v31": as the 3.0 answer, but the QR text comes as it is.
    static int ParseQRcodes(const TiXmlElement *pRoot, uint8_t *pOut);
    // "ExportGUID_v31": the GUID decrypted with the key and IV of the request.
    int ParseExportGUID_V31(const TiXmlElement *pRoot, uint8_t *pOut);

private:
    // Resets whose key is SHA-256 over the IV and a secret text (GUID, mail or phone code).
    int PackageIvReset(const PROBE_REQUEST &req, const char *pWord, const std::string &secret, bool bSyncElement,
                       char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackagePlain_V31(const PROBE_REQUEST &req, const char *pWord, char *pOut, uint32_t dwOutSize,
                         uint32_t *pOutLen);
    int DeriveKey_V31(const char *pExchangeCode, const char *pType, const char *pUserName, const char *pPassword,
                      const char *pSalt, const char *pSalt2, const char *pFunc, uint8_t *pRandom, char *pIvText);
    int RandomAndIv(const char *pExchangeCode, const char *pFunc, uint8_t *pRandom, char *pIvText, uint8_t *pIv);
    int PackagePasswordOnly_V31(const PROBE_REQUEST &req, const char *pWord, const char *pKeyWord, bool bIv,
                                char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    // EncryptConfig_V31 of an empty plaintext: the Password element of the plain 3.1 requests.
    int EncryptPasswordOnly(const PROBE_REQUEST &req, const char *pKeyWord, const char *pPassword, char (&pw)[64],
                            char (&iv)[IV_TEXT_LEN + 1]);

    uint8_t m_byPriKey[RSA_KEY_BUFFER_LEN] = {};
    uint32_t m_dwPriKeyLen = 0;
    uint8_t m_byPubKey[RSA_KEY_BUFFER_LEN] = {};
    uint32_t m_dwPubKeyLen = 0;
    uint8_t m_byKey[AES_BLOCK + 1] = {};
    uint8_t m_byIv[AES_BLOCK + 1] = {};
};

}  // namespace ZEVA
