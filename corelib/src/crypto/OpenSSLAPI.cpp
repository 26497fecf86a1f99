// Binding of the OpenSSL table by name, and the generation of the loaded library.
#include "crypto/OpenSSLAPI.h"

#include <cstdio>
#include <cstring>

#include "Module/Log/LogModule.h"
#include "yar/yar_dso.h"

namespace Vorezi {

namespace {

// The pointers that must be bound for the library to count as complete, in checking order.
// Names OpenSSL 3 dropped or turned into macros (the 1.0.2 initialisation, locking and
// registration calls, the SSLv2/v3/v23 methods) are not required.
const char *const kRequiredFunctions[] = {
    "OpenSSL_version", "OpenSSL_version_num", "SSL_CTX_set_ssl_version", "TLSv1_method", "TLSv1_client_method",
    "TLSv1_server_method", "TLSv1_1_method", "TLSv1_1_client_method", "TLSv1_1_server_method", "TLSv1_2_method",
    "TLSv1_2_client_method", "TLSv1_2_server_method", "TLS_method", "TLS_client_method", "TLS_server_method",
    "SSL_CTX_load_verify_locations", "SSL_CTX_set_verify", "SSL_set_verify", "SSL_set_verify_depth",
    "SSL_CTX_set_default_verify_paths", "SSL_CTX_set_session_id_context", "SSL_CTX_use_PrivateKey_file",
    "SSL_use_PrivateKey_file", "SSL_CTX_use_certificate_file", "SSL_use_certificate_file",
    "SSL_CTX_check_private_key", "SSL_check_private_key", "SSL_CTX_set_alpn_protos", "SSL_set_alpn_protos",
    "SSL_CTX_set_alpn_select_cb", "SSL_get0_alpn_selected", "SSL_select_next_proto", "SSL_CTX_set_cipher_list",
    "SSL_set_cipher_list", "SSL_CTX_set_cookie_generate_cb", "SSL_CTX_set_cookie_verify_cb", "SSL_CTX_set_timeout",
    "SSL_CTX_new", "SSL_new", "SSL_CTX_free", "SSL_free", "SSL_CTX_ctrl", "SSL_CTX_set_options", "SSL_ctrl",
    "SSL_set_options", "SSL_set_fd", "SSL_connect", "SSL_shutdown", "SSL_write", "SSL_read", "SSL_accept",
    "SSL_get_error", "SSL_pending", "BIO_new", "BIO_free", "BIO_s_mem", "SSL_set_bio", "BIO_read", "BIO_write",
    "BIO_ctrl", "BIO_new_mem_buf", "BIO_new_dgram", "SSL_get_rbio", "SSL_get_wbio", "BIO_int_ctrl", "CRYPTO_free",
    "SSL_CTX_get_cert_store", "SSL_CTX_set_cert_store", "X509_free", "X509_getm_notBefore", "X509_getm_notAfter",
    "X509_STORE_CTX_get_current_cert", "X509_STORE_new", "X509_STORE_CTX_cleanup", "X509_STORE_add_cert",
    "X509_verify_cert", "X509_get_issuer_name", "X509_NAME_oneline", "X509_get_subject_name", "EVP_sha1",
    "EVP_sha256", "EVP_sha384", "HMAC", "SHA256", "SHA256_Init", "SHA256_Update", "SHA256_Final", "SHA384",
    "SHA512", "MD5", "PKCS5_PBKDF2_HMAC", "BN_new", "BN_free", "BN_set_word", "RSA_new", "RSA_free",
    "RSA_generate_key_ex", "i2d_RSAPublicKey", "i2d_RSAPrivateKey", "d2i_RSAPrivateKey", "RSA_private_decrypt",
    "AES_set_encrypt_key", "AES_set_decrypt_key", "AES_cbc_encrypt", "AES_ecb_encrypt", "d2i_PKCS12_bio",
    "PKCS12_parse", "PKCS12_free", "RAND_bytes", "ERR_error_string", "ERR_get_error", "EVP_CIPHER_CTX_new",
    "EVP_aes_128_gcm", "EVP_aes_256_gcm", "EVP_chacha20", "EVP_EncryptInit_ex", "EVP_DecryptInit_ex",
    "EVP_CIPHER_CTX_ctrl", "EVP_EncryptUpdate", "EVP_DecryptUpdate", "EVP_EncryptFinal_ex", "EVP_DecryptFinal_ex",
    "EVP_CIPHER_CTX_free", "EC_KEY_new", "EC_KEY_new_by_curve_name", "EC_KEY_free", "EC_POINT_free",
    "EC_KEY_generate_key", "EC_KEY_get0_public_key", "EC_KEY_get0_private_key", "EC_KEY_set_public_key",
    "EC_KEY_set_private_key", "EC_KEY_get0_group", "EC_GROUP_get_degree", "EC_POINT_new", "EC_POINT_oct2point",
    "EC_POINT_point2oct", "EC_POINT_point2bn", "EC_POINT_bn2point", "d2i_ECPrivateKey", "i2d_ECPrivateKey",
    "ECDH_compute_key", "i2d_EC_PUBKEY", "d2i_EC_PUBKEY",
};

const char *OrEmpty(const char *pText) {
    return pText ? pText : "";
}

template <class F>
void Bind(F &fn, void *hLib, const char *pName) {
    fn = reinterpret_cast<F>(YAR_GetDsoSym(hLib, pName));
}

}  // namespace

COpenSSLAPI::COpenSSLAPI() : m_dwOpenSSLVeresion(0) {
#define OSSL_FN(lib, rule, ret, name, member, params) m_fn##member = nullptr;
#define OSSL_FN_ALIAS(lib, ret, symbol, member, params) m_fn##member = nullptr;
#include "crypto/OpenSSLFunctions.def"
#undef OSSL_FN
#undef OSSL_FN_ALIAS
}

COpenSSLAPI *COpenSSLAPI::GetInstance() {
    static COpenSSLAPI s_API;
    return &s_API;
}

int COpenSSLAPI::LoadAPI(void *hSSLCom, void *hEAYCom) {
    if (!hSSLCom || !hEAYCom) {
        LogModule_Write(LOG_LEVEL_ERR, "COpenSSLAPI::LoadAPI, hSSLCom[%d], hEAYCom[%d]", MORVA_PTR_ARG(hSSLCom),
                        MORVA_PTR_ARG(hEAYCom));
        return 0;
    }
    void *hSSL = hSSLCom;
    void *hEAY = hEAYCom;
#define OSSL_FN(lib, rule, ret, name, member, params) Bind(m_fn##member, h##lib, #name);
#define OSSL_FN_ALIAS(lib, ret, symbol, member, params) Bind(m_fn##member, h##lib, symbol);
#include "crypto/OpenSSLFunctions.def"
#undef OSSL_FN
#undef OSSL_FN_ALIAS
    if (!GetOpenSSLVersion(&m_dwOpenSSLVeresion))
        LogModule_Write(LOG_LEVEL_ERR, "COpenSSLAPI::LoadAPI, GetOpenSSLVersion Failed, m_dwOpenSSLVeresion[0x%X]",
                        m_dwOpenSSLVeresion);
    else
        LogModule_Write(LOG_LEVEL_DBG, "COpenSSLAPI::LoadAPI, m_dwOpenSSLVeresion[0x%X]", m_dwOpenSSLVeresion);
    return 1;
}

// Finds "<pBase><letter>" in the text; the letter's position counts in steps of 0x10 from dwBase.
int COpenSSLAPI::ParseVersionText(const char *pText, const char *pBase, DWORD dwBase, DWORD *pVersion) {
    if (!pText)
        return 0;
    char szNeedle[8] = {};
    size_t uBaseLen = strlen(pBase);
    memcpy(szNeedle, pBase, uBaseLen);
    for (char c = 'a'; c <= 'z'; c++) {
        szNeedle[uBaseLen] = c;
        if (strstr(pText, szNeedle)) {
            *pVersion = dwBase + 0x10 * static_cast<DWORD>(c - 'a');
            return 1;
        }
    }
    return 0;
}

int COpenSSLAPI::GetOpenSSLVersion(DWORD *pVersion) {
    if (m_fnOpenSSLVersionNum) {
        *pVersion = static_cast<DWORD>(m_fnOpenSSLVersionNum());
        LogModule_Write(LOG_LEVEL_DBG, "COpenSSLAPI::GetOpenSSLVersion, m_fnOpenSSLVersionNum, OpensslVersion[0x%X]",
                        *pVersion);
        return 1;
    }
    if (m_fnOpenSSLVersion) {
        const char *pText = m_fnOpenSSLVersion(0);
        LogModule_Write(LOG_LEVEL_DBG, "COpenSSLAPI::GetOpenSSLVersion, m_fnOpenSSLVersion, OpensslVersion[%s]",
                        OrEmpty(pText));
        if (ParseVersionText(pText, "1.1.1", OPENSSL_VERSION_1_1_1A, pVersion))
            return 1;
    } else if (m_fnSSLeayVersion) {
        const char *pText = m_fnSSLeayVersion(0);
        LogModule_Write(LOG_LEVEL_DBG, "COpenSSLAPI::GetOpenSSLVersion, m_fnSSLeayVersion, OpensslVersion[%s]",
                        OrEmpty(pText));
        if (ParseVersionText(pText, "1.0.2", 0x1000201F, pVersion))
            return 1;
    }
    LogModule_Write(LOG_LEVEL_ERR,
                    "COpenSSLAPI::GetOpenSSLVersion, m_fnSSLeayVersion[0x%X] or m_fnOpenSSLVersion[0x%X] or "
                    "m_fnOpenSSLVersionNum[0x%X] Unload",
                    MORVA_PTR_ARG(m_fnSSLeayVersion), MORVA_PTR_ARG(m_fnOpenSSLVersion),
                    MORVA_PTR_ARG(m_fnOpenSSLVersionNum));
    return 0;
}

const void *COpenSSLAPI::FindFunction(const char *pName) const {
#define OSSL_FN(lib, rule, ret, name, member, params)                                              \
    if (strcmp(pName, #name) == 0)                                                                 \
        return reinterpret_cast<const void *>(m_fn##member);
#define OSSL_FN_ALIAS(lib, ret, symbol, member, params)
#include "crypto/OpenSSLFunctions.def"
#undef OSSL_FN
#undef OSSL_FN_ALIAS
    return nullptr;
}

int COpenSSLAPI::IsAllAPILoaded() {
    for (const char *pName : kRequiredFunctions) {
        if (!FindFunction(pName)) {
            bool bPrivKey = strcmp(pName, "SSL_CTX_use_PrivateKey_file") == 0;
            LogModule_Write(LOG_LEVEL_DBG, "COpenSSLAPI::IsAllAPILoaded, Function[%s] Unload",
                            bPrivKey ? "m_fnCTXUsePrivateKeyFile" : pName);
            return 0;
        }
    }
    return 1;
}

void COpenSSLAPI::PrintVersion(int bRaw) {
    char szLine[512];
    if (m_fnOpenSSLVersion)
        snprintf(szLine, sizeof(szLine), "OpenSSL: OpenSSL Version[%s]", OrEmpty(m_fnOpenSSLVersion(0)));
    else if (m_fnSSLeayVersion)
        snprintf(szLine, sizeof(szLine), "OpenSSL: SSLeay Version[%s]", OrEmpty(m_fnSSLeayVersion(0)));
    else
        snprintf(szLine, sizeof(szLine), "OpenSSL: m_fnSSLeayVersion[0x%X], m_fnOpenSSLVersion[0x%X] Unload",
                 MORVA_PTR_ARG(m_fnSSLeayVersion), MORVA_PTR_ARG(m_fnOpenSSLVersion));
    if (bRaw)
        LogModule_WriteRaw("%s", szLine);
    else
        LogModule_Write(LOG_LEVEL_DBG, "%s", szLine);
}

}  // namespace Vorezi
