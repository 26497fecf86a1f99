// OpenSSL bound at run time: one table of function pointers resolved by name from the loaded TLS
// and crypto libraries, the generation of the library, a null-safe wrapper per called function,
// and SM2 (GB/T 32918) public-key encryption on OpenSSL's EC, BN and digest primitives.
// Never include OpenSSL's headers next to this one: some wrapper names are macros there.
#pragma once

#include <cstddef>
#include <tuple>
#include <utility>

#include "crypto/OpenSSLTypes.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

// The first version that needs neither the explicit library initialisation nor the lock array.
constexpr DWORD OPENSSL_VERSION_1_1_1A = 0x1010101F;
constexpr DWORD OPENSSL_VERSION_1_1_0 = 0x10100000;

// SM2 sizes: private scalar, uncompressed point, the digest C3, and C1 || C3 around C2.
enum {
    SM2_SCALAR_LEN = 32,
    SM2_POINT_LEN = 65,
    SM2_C3_LEN = 32,
    SM2_CIPHER_OVERHEAD = SM2_POINT_LEN + SM2_C3_LEN,
    SM2_KEY_PAIR_LEN = SM2_SCALAR_LEN + SM2_POINT_LEN,
};

class COpenSSLAPI {
public:
    COpenSSLAPI();
    COpenSSLAPI(const COpenSSLAPI &) = delete;
    COpenSSLAPI &operator=(const COpenSSLAPI &) = delete;

    static COpenSSLAPI *GetInstance();

    int LoadAPI(void *hSSLCom, void *hEAYCom);
    int GetOpenSSLVersion(DWORD *pVersion);
    int IsAllAPILoaded();
    DWORD GetVersionNum() const { return m_dwOpenSSLVeresion; }
    void PrintVersion(int bRaw);
    // The bound entry of a name (the crypto library's for CRYPTO_free), null when unbound or unknown.
    const void *FindFunction(const char *pName) const;

    // out: d (32) || 0x04 || X || Y.
    int SSLTrans_SM2CreateKeyPair(BYTE *pOut /* 97 bytes */);
    int SSLTrans_SM2Encrypt(const BYTE *pMsg, int iMsgLen, const BYTE *pPubKey /* 65 */, BYTE *pC1 /* 65 */,
                            BYTE *pC3 /* 32 */, BYTE *pC2 /* iMsgLen */);
    int SSLTrans_SM2Decrypt(const BYTE *pC1, const BYTE *pC3, const BYTE *pC2, int iC2Len, const BYTE *pPriKey /* 32 */,
                            BYTE *pOut /* iC2Len */);

    // The wrappers, one per called function, named like it; see OpenSSLFunctions.def for the
    // parameters. Unbound, each gives its rule's value; CALLER wrappers take the default last.
#define OSSL_WRAP_CALLER(ret, name, member)                                                        \
    template <class... A>                                                                          \
    ret name(A... a) {                                                                             \
        return CallOrDefault<ret>(m_fn##member, a...);                                             \
    }
#define OSSL_WRAP_NUL(ret, name, member)                                                           \
    template <class... A>                                                                          \
    ret name(A... a) {                                                                             \
        return m_fn##member ? m_fn##member(a...) : nullptr;                                       \
    }
#define OSSL_WRAP_NEG(ret, name, member)                                                           \
    template <class... A>                                                                          \
    ret name(A... a) {                                                                             \
        return m_fn##member ? m_fn##member(a...) : static_cast<ret>(-1);                           \
    }
#define OSSL_WRAP_VOID(ret, name, member)                                                          \
    template <class... A>                                                                          \
    void name(A... a) {                                                                            \
        if (m_fn##member)                                                                          \
            m_fn##member(a...);                                                                    \
    }
#define OSSL_WRAP_PTR(ret, name, member)
#define OSSL_FN(lib, rule, ret, name, member, params) OSSL_WRAP_##rule(ret, name, member)
#define OSSL_FN_ALIAS(lib, ret, symbol, member, params)
#include "crypto/OpenSSLFunctions.def"
#undef OSSL_FN
#undef OSSL_FN_ALIAS
#undef OSSL_WRAP_CALLER
#undef OSSL_WRAP_NUL
#undef OSSL_WRAP_NEG
#undef OSSL_WRAP_VOID
#undef OSSL_WRAP_PTR

    DWORD m_dwOpenSSLVeresion;
#define OSSL_FN(lib, rule, ret, name, member, params) ret(*m_fn##member) params;
#define OSSL_FN_ALIAS(lib, ret, symbol, member, params) ret(*m_fn##member) params;
#include "crypto/OpenSSLFunctions.def"
#undef OSSL_FN
#undef OSSL_FN_ALIAS

private:
    template <class R, class F, class T, size_t... I>
    static R CallPrefix(F fn, T &args, std::index_sequence<I...>) {
        return fn(std::get<I>(args)...);
    }
    // Calls fn with all arguments but the last, which is the result when fn is unbound.
    template <class R, class F, class... A>
    static R CallOrDefault(F fn, A... a) {
        static_assert(sizeof...(A) >= 1, "the default comes last");
        std::tuple<A...> args(a...);
        constexpr size_t N = sizeof...(A) - 1;
        if (!fn)
            return static_cast<R>(std::get<N>(args));
        return CallPrefix<R>(fn, args, std::make_index_sequence<N>{});
    }

    int ParseVersionText(const char *pText, const char *pBase, DWORD dwBase, DWORD *pVersion);
    bool Sm2Kdf(const BYTE *pX2, const BYTE *pY2, BYTE *pOut, int iLen);
    bool Sm2Hash(EVP_MD_CTX *pCtx, const BYTE *pX2, const BYTE *pMsg, int iMsgLen, const BYTE *pY2, BYTE *pOut);
};

// The process's one table.
inline COpenSSLAPI &OpenSSL() {
    return *COpenSSLAPI::GetInstance();
}

}  // namespace Vorezi
