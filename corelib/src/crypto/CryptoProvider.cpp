#include "crypto/CryptoProvider.h"

#include <cstring>
#include <vector>

#include "Module/Log/LogModule.h"
#include "crypto/FreshSSLTrans.h"

namespace Vorezi {

namespace {

constexpr DWORD kBlock = 16;
constexpr int kKeyLen = 16;

// The IV of a call: the caller's 16 bytes whenever a pointer is given, for both directions,
// else the fixed default (eight printable characters, eight zero bytes).
void SelectIv(const BYTE *pIv, BYTE *pOut) {
    if (pIv != nullptr) {
        std::memcpy(pOut, pIv, kBlock);
        return;
    }
    const char szPrintable[] = {'V', 'o', 'r', 'e', 'z', 'i', 'I', 'V'};
    std::memset(pOut, 0, kBlock);
    std::memcpy(pOut, szPrintable, sizeof(szPrintable));
}

bool CheckParam(const char *pName, const MORVA_CRYPTO_PARAM *pParam) {
    if (pParam == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::%s, pParam == NULL", pName);
        return false;
    }
    if (pParam->pInputData == nullptr || pParam->dwInputDataLen == 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::%s, Invalid Param, pInputData[0x%X], dwInputDataLen[%d]",
                        pName, MORVA_PTR_ARG(pParam->pInputData), int(pParam->dwInputDataLen));
        return false;
    }
    if (pParam->pOutputData == nullptr || pParam->dwOutputDataSize == 0 || pParam->pOutputDataLen == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CCryptoProvider::%s, Invalid Param, pOutputData[0x%X], dwOutputDataSize[%d], "
                        "pOutputDataLen[0x%X]",
                        pName, MORVA_PTR_ARG(pParam->pOutputData), int(pParam->dwOutputDataSize),
                        MORVA_PTR_ARG(pParam->pOutputDataLen));
        return false;
    }
    if (pParam->pKey == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::%s, Invalid Param, pKey == NULL", pName);
        return false;
    }
    return true;
}

// SM4 in mode 0 on a fresh instance; the output length through pOutLen.
int RunSM4(CSSLTrans *pTrans, const MORVA_CRYPTO_PARAM *pParam, BYTE *pIv, int bEncrypt, DWORD *pOutLen) {
    MORVA_SM4_PARAM sm4 = {};
    sm4.pInputBuf = const_cast<BYTE *>(pParam->pInputData);
    sm4.iInputBufLen = int(pParam->dwInputDataLen);
    sm4.pOutputBuf = pParam->pOutputData;
    sm4.iOutputBufLen = int(pParam->dwOutputDataSize);
    sm4.pKey = const_cast<BYTE *>(pParam->pKey);
    sm4.iKeyLen = kKeyLen;
    sm4.pIv = pIv;
    sm4.iIvLen = int(kBlock);
    sm4.iMode = 0;
    if (!pTrans->SSLTrans_SM4(&sm4, bEncrypt)) return 0;
    *pOutLen = DWORD(sm4.iOutputBufLen);
    return 1;
}

}  // namespace

DWORD CCryptoProvider::GetPaddingLen(BYTE, DWORD dwLen) { return kBlock - dwLen % kBlock; }

int CCryptoProvider::Encrypt(MORVA_CRYPTO_PARAM *pParam) {
    if (!CheckParam("Encrypt", pParam)) return 0;
    BYTE byIv[kBlock];
    SelectIv(pParam->pIv, byIv);

    const DWORD dwLen = pParam->dwInputDataLen;
    std::vector<BYTE> padded;
    if (pParam->byCryptoType == CRYPTO_TYPE_AES_128_CBC) {
        if (pParam->byPaddingType != CRYPTO_PADDING_ZERO && pParam->byPaddingType != CRYPTO_PADDING_COUNT) {
            LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::Encrypt, Invalid Param, byPaddingType[%d]",
                            pParam->byPaddingType);
            return 0;
        }
        const DWORD dwPad = GetPaddingLen(pParam->byPaddingType, dwLen);
        // The cipher takes an int length: anything longer is refused before the copy.
        if (dwLen > 0x7FFFFFFFu - kBlock || pParam->dwOutputDataSize < dwLen + dwPad) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Encrypt, Invalid Param, dwOutputDataSize[%d]",
                            pParam->iTag, int(pParam->dwOutputDataSize));
            return 0;
        }
        // The caller's input stays as it is: the padding goes into a private copy.
        padded.assign(pParam->pInputData, pParam->pInputData + dwLen);
        padded.resize(dwLen + dwPad, pParam->byPaddingType == CRYPTO_PADDING_COUNT ? BYTE(dwPad) : BYTE(0));
    } else if (pParam->byCryptoType == CRYPTO_TYPE_SM4_CBC) {
        if (dwLen > 0x7FFFFFFFu - kBlock || pParam->dwOutputDataSize < dwLen + kBlock) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Encrypt, Invalid Param, dwOutputDataSize[%d]",
                            pParam->iTag, int(pParam->dwOutputDataSize));
            return 0;
        }
    } else {
        LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::Encrypt, Invalid Param, byCryptoType[%d]",
                        pParam->byCryptoType);
        return 0;
    }

    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Encrypt, Morva_CreateSSLTransEx Failed", pParam->iTag);
        return 0;
    }
    if (pParam->byCryptoType == CRYPTO_TYPE_AES_128_CBC) {
        if (!trans->SSLTrans_AesCbcEncrypt(pParam->pKey, padded.data(), pParam->pOutputData, int(padded.size()),
                                           kKeyLen, byIv, int(pParam->dwOutputDataSize))) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CCryptoProvider::Encrypt, SSLTrans_AesCbcEncrypt Failed, pSSLInterface[0x%X]",
                            pParam->iTag, MORVA_PTR_ARG(trans.Get()));
            return 0;
        }
        *pParam->pOutputDataLen = DWORD(padded.size());
        return 1;
    }
    if (!RunSM4(trans.Get(), pParam, byIv, 1, pParam->pOutputDataLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Encrypt, SSLTrans_SM4 Failed, pSSLInterface[0x%X]",
                        pParam->iTag, MORVA_PTR_ARG(trans.Get()));
        return 0;
    }
    return 1;
}

int CCryptoProvider::Decrypt(MORVA_CRYPTO_PARAM *pParam) {
    if (!CheckParam("Decrypt", pParam)) return 0;
    const DWORD dwLen = pParam->dwInputDataLen;
    if (dwLen % kBlock != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CCryptoProvider::Decrypt, Invalid Param, dwInputDataLen[%d]", int(dwLen));
        return 0;
    }
    if (pParam->dwOutputDataSize < dwLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Decrypt, Invalid Param, dwOutputDataSize[%d]",
                        pParam->iTag, int(pParam->dwOutputDataSize));
        return 0;
    }
    BYTE byIv[kBlock];
    SelectIv(pParam->pIv, byIv);

    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Decrypt, Morva_CreateSSLTransEx Failed", pParam->iTag);
        return 0;
    }
    if (pParam->byCryptoType == CRYPTO_TYPE_SM4_CBC) {
        if (!RunSM4(trans.Get(), pParam, byIv, 0, pParam->pOutputDataLen)) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Decrypt, SSLTrans_SM4 Failed, pSSLInterface[0x%X]",
                            pParam->iTag, MORVA_PTR_ARG(trans.Get()));
            return 0;
        }
        return 1;
    }
    if (pParam->byCryptoType != CRYPTO_TYPE_AES_128_CBC) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Decrypt, Invalid byCryptoType[%d]", pParam->iTag,
                        pParam->byCryptoType);
        return 0;
    }
    if (!trans->SSLTrans_AesCbcDecrypt(pParam->pKey, pParam->pInputData, pParam->pOutputData, int(dwLen), kKeyLen,
                                       byIv, int(pParam->dwOutputDataSize))) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CCryptoProvider::Decrypt, SSLTrans_AesCbcDecrypt Failed, pSSLInterface[0x%X]",
                        pParam->iTag, MORVA_PTR_ARG(trans.Get()));
        return 0;
    }
    *pParam->pOutputDataLen = dwLen;
    if (pParam->byPaddingType != CRYPTO_PADDING_COUNT) return 1;

    const BYTE byPad = pParam->pOutputData[dwLen - 1];
    if (byPad < 1 || byPad > kBlock) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CCryptoProvider::Decrypt, Invalid byPaddingChar[%d], dwInputDataLen[%d]",
                        pParam->iTag, byPad, int(dwLen));
        return 0;
    }
    for (DWORD i = 1; i <= byPad; ++i) {
        const BYTE byOther = pParam->pOutputData[dwLen - i];
        if (byOther != byPad) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CCryptoProvider::Decrypt, byOtherChar[%d] != byPaddingChar[%d], dwInputDataLen[%d], "
                            "i[%d]",
                            pParam->iTag, byOther, byPad, int(dwLen), int(i));
            return 0;
        }
    }
    *pParam->pOutputDataLen = dwLen - byPad;
    return 1;
}

}  // namespace Vorezi
