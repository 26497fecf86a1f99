// A client CSSLTrans made for one operation and destroyed with it, so that operations on it
// share no OpenSSL state.
#pragma once

#include "crypto/SSLTrans.h"

namespace Vorezi {

class FreshSSLTrans {
public:
    FreshSSLTrans() : m_pTrans(Interim_CreateSSLTransEx(0)) {}
    ~FreshSSLTrans() {
        if (m_pTrans) Interim_DestroySSLTrans(m_pTrans);
    }
    FreshSSLTrans(const FreshSSLTrans &) = delete;
    FreshSSLTrans &operator=(const FreshSSLTrans &) = delete;
    CSSLTrans *operator->() const { return m_pTrans; }
    CSSLTrans *Get() const { return m_pTrans; }
    explicit operator bool() const { return m_pTrans != nullptr; }

private:
    CSSLTrans *m_pTrans;
};

}  // namespace Vorezi
