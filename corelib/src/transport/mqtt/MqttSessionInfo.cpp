// Settings of a server session (SetInfo), its keys, and payload decryption.
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/CryptoProvider.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/MqttServerSession.h"

namespace Vorezi {

namespace {

constexpr DWORD kKeyRecordLen = 97;
constexpr DWORD kKeyTextLen = 64;
constexpr DWORD kIVLen = 16;
constexpr BYTE kAlgorithmWithIV = 1;

int WrongLength(int iIndex, const char *pName, DWORD dwLength, int iLimit) {
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SetInfo, %s, iBufLen[%d], Limit:[%d]", iIndex, pName,
                    int(dwLength), iLimit);
    return -1;
}

}  // namespace

int CMqttServerSession::SetInfo(DWORD dwCommand, void *pData, DWORD dwLength) {
    if (!pData)
        return -1;
    const BYTE *pBytes = static_cast<const BYTE *>(pData);
    switch (dwCommand) {
    case MQTT_CMD_SETINFO_SESSIONKEY: return SetSessionKey(pBytes, dwLength);
    case MQTT_CMD_SETINFO_ALIVE_TIMEOUT: return SetAliveTimeout(pBytes, dwLength);
    case MQTT_CMD_SETINFO_SESSIONKEY_AND_IV: return SetSessionKeyAndIV(pBytes, dwLength);
    case MQTT_CMD_SETINFO_AUTHENTICATOR: return SetAuthenticator(static_cast<CMqttAuthenticator *>(pData));
    case MQTT_CMD_SETINFO_UNCRYPFILTER: return SetUncrypFilter(static_cast<const char *>(pData), dwLength);
    case MQTT_CMD_SETINFO_WILL_DELIVERED: {
        int32_t iValue = 0;
        if (dwLength != sizeof(iValue))
            return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_WILL_DELIVERED", dwLength, int(sizeof(iValue)));
        std::memcpy(&iValue, pBytes, sizeof(iValue));
        m_bWillDelivered = iValue;
        return 0;
    }
    case MQTT_CMD_SETINFO_KEY2_AND_IV: {
        if (dwLength != 2 * kIVLen)
            return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_KEY2_AND_IV", dwLength, int(2 * kIVLen));
        std::lock_guard<std::mutex> guard(m_InfoLock);
        std::memcpy(m_Keys.bySecondKey, pBytes, kIVLen);
        std::memcpy(m_Keys.byIV, pBytes + kIVLen, kIVLen);
        m_Keys.bIVSet = 1;
        return 0;
    }
    default:
        LogModule_Write(LOG_LEVEL_INF, "[%d]CMqttServerSession::SetInfo, dwCommand:%d not support!", GetMemberIndex(),
                        int(dwCommand));
        return 0;
    }
}

int CMqttServerSession::SetSessionKey(const BYTE *pData, DWORD dwLength) {
    if (dwLength != kKeyRecordLen)
        return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_SESSIONKEY", dwLength, 65);
    std::lock_guard<std::mutex> guard(m_InfoLock);
    std::memcpy(m_Keys.szSessionKey, pData, kKeyTextLen);
    m_Keys.szSessionKey[kKeyTextLen] = '\0';
    m_Keys.byAlgorithm = pData[kKeyTextLen];
    if (m_Keys.byAlgorithm == kAlgorithmWithIV) {
        std::memcpy(m_Keys.bySecondKey, pData + kKeyTextLen + 1, kIVLen);
        std::memcpy(m_Keys.byIV, pData + kKeyTextLen + 1 + kIVLen, kIVLen);
        m_Keys.bIVSet = 1;
    }
    m_Keys.bKeySet = 1;
    return 0;
}

// Key text, then 32 hexadecimal characters for the second key and IV, then the algorithm.
int CMqttServerSession::SetSessionKeyAndIV(const BYTE *pData, DWORD dwLength) {
    if (dwLength != kKeyRecordLen)
        return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_SESSIONKEY_AND_IV", dwLength, 65);
    BYTE byIV[kIVLen] = {};
    HexStringToByteArray(reinterpret_cast<const char *>(pData + kKeyTextLen), int(2 * kIVLen), byIV, int(kIVLen));
    std::lock_guard<std::mutex> guard(m_InfoLock);
    std::memcpy(m_Keys.szSessionKey, pData, kKeyTextLen);
    m_Keys.szSessionKey[kKeyTextLen] = '\0';
    std::memcpy(m_Keys.bySecondKey, byIV, kIVLen);
    std::memcpy(m_Keys.byIV, byIV, kIVLen);
    m_Keys.bIVSet = 1;
    m_Keys.byAlgorithm = pData[kKeyTextLen + 2 * kIVLen];
    m_Keys.bKeySet = 1;
    return 0;
}

int CMqttServerSession::SetAliveTimeout(const BYTE *pData, DWORD dwLength) {
    DWORD dwTimeout = 0;
    if (dwLength != sizeof(dwTimeout))
        return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_ALIVE_TIMEOUT", dwLength, int(sizeof(dwTimeout)));
    std::memcpy(&dwTimeout, pData, sizeof(dwTimeout));
    m_dwLimitCnt = LimitCount(dwTimeout, m_Param.dwHeartbeatInterval);
    m_dwRecvTimeOutCnt = 0;
    return 0;
}

int CMqttServerSession::SetUncrypFilter(const char *pData, DWORD dwLength) {
    if (dwLength > MQTT_FIELD_LEN)
        return WrongLength(GetMemberIndex(), "MQTT_CMD_SETINFO_UNCRYPFILTER", dwLength, int(MQTT_FIELD_LEN));
    std::lock_guard<std::mutex> guard(m_InfoLock);
    std::memcpy(m_szUncrypFilter, pData, dwLength);
    m_szUncrypFilter[dwLength] = '\0';
    return 0;
}

int CMqttServerSession::SetAuthenticator(CMqttAuthenticator *pAuthenticator) {
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::SetInfo, MQTT_CMD_SETINFO_AUTHENTICATOR, m_pAuthenticator[0x%x]",
                    GetMemberIndex(), MORVA_PTR_ARG(pAuthenticator));
    m_pAuthenticator.reset(pAuthenticator);
    return 0;
}

int CMqttServerSession::SetBuffSize(DWORD dwSndMult, DWORD dwRcvMult) {
    if (!m_pLink || !m_bLinkOpen.load()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SetBuffSize Failed, dwSndMult[%d], dwRcvMult[%d]",
                        GetMemberIndex(), int(dwSndMult), int(dwRcvMult));
        return 0;
    }
    return m_pLink->EnlargeBufferSize(dwSndMult, dwRcvMult) ? 1 : 0;
}

int CMqttServerSession::SetInfoProxy(DWORD dwCommand, void *pData, DWORD dwLength, void *pSession) {
    if (!pSession) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerSession::SetInfoProxy, pSession NULL");
        return -1;
    }
    return static_cast<CMqttServerSession *>(pSession)->SetInfo(dwCommand, pData, dwLength);
}

int CMqttServerSession::SendToClientProxy(BYTE byHeader, const BYTE *pData, DWORD dwLength, void *pSession) {
    if (!pSession) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerSession::SendToClientProxy, pSession NULL");
        return -1;
    }
    return static_cast<CMqttServerSession *>(pSession)->SendToClient(byHeader, pData, dwLength);
}

// One call of the crypto provider with the session's algorithm, key and IV; count padding.
int CMqttServerSession::RunCipher(int bEncrypt, const BYTE *pIn, DWORD dwInLen, BYTE *pOut, DWORD dwOutSize,
                                  DWORD *pOutLen) {
    const Keys keys = GetKeys();
    MORVA_CRYPTO_PARAM param = {};
    param.byCryptoType = keys.byAlgorithm;
    param.iTag = GetMemberIndex();
    param.pKey = reinterpret_cast<const BYTE *>(keys.szSessionKey);
    param.pIv = keys.bIVSet ? keys.byIV : nullptr;
    param.pInputData = pIn;
    param.dwInputDataLen = dwInLen;
    param.pOutputData = pOut;
    param.dwOutputDataSize = dwOutSize;
    param.pOutputDataLen = pOutLen;
    param.byPaddingType = CRYPTO_PADDING_COUNT;
    return bEncrypt ? CCryptoProvider::Encrypt(&param) : CCryptoProvider::Decrypt(&param);
}

CMqttServerSession::Keys CMqttServerSession::GetKeys() {
    std::lock_guard<std::mutex> guard(m_InfoLock);
    return m_Keys;
}

// Decrypts *pLen bytes at dwOffset of the frame into a copy of its buffer, at the same place; the
// copy replaces the frame's buffer and *pLen becomes the plaintext length.
CMqttServerSession::DecryptResult CMqttServerSession::DecryptPart(MqttFrame &frame, DWORD dwOffset, DWORD *pLen) {
    std::unique_ptr<CBuffer> pCopy(new (std::nothrow) CBuffer(*frame.pData));
    if (!pCopy || !pCopy->IsValid()) {
        SetError(MORVA_ERR_ALLOC);
        return DECRYPT_NO_MEMORY;
    }
    DWORD dwOutLen = 0;
    if (!RunCipher(0, frame.pData->GetData() + dwOffset, *pLen, pCopy->GetData() + dwOffset,
                   pCopy->GetLength() - dwOffset, &dwOutLen) ||
        dwOutLen > *pLen) {
        SetError(MORVA_ERR_CHAR_ENCODE);
        return DECRYPT_FAILED;
    }
    frame.pData = std::move(pCopy);
    *pLen = dwOutLen;
    return DECRYPT_OK;
}

}  // namespace Vorezi
