// Frames a server session sends: acknowledgements, the host's sends, encrypted PUBLISH.
#include <cstring>
#include <memory>
#include <new>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/CryptoProvider.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/MqttServerSession.h"

namespace Vorezi {

namespace {

constexpr DWORD kMaxRemainingLength = 268435455;  // four length bytes
constexpr DWORD kBlock = 16;

}  // namespace

int CMqttServerSession::SendToClient(BYTE byHeader, const BYTE *pData, DWORD dwLen) {
    const int iIndex = GetMemberIndex();
    if (dwLen > kMaxRemainingLength || (dwLen != 0 && !pData)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SendToClient, Invalid Param, pData[0x%X], dwLen[%u]",
                        iIndex, MORVA_PTR_ARG(pData), dwLen);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    BYTE byHead[1 + 4];
    byHead[0] = byHeader;
    const int iHeadLen = 1 + int(MqttEncodeRemainingLength(dwLen, byHead + 1));
    yar::yar_guard send(m_SendLock.Native());
    if (!send.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SendToClient, Lock Failed, syserror[%d]", iIndex,
                        Utils_GetSysLastError());
        return -1;
    }
    int iResult = -1;
    const int iActLen = m_bLinkOpen.load() ? m_pLink->SendNakeData(byHead, DWORD(iHeadLen)) : -1;
    if (iActLen != iHeadLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::SendToClient, SendNakeData Failed, error[%d], iActLen[%d], iHeadLen[%d]",
                        iIndex, Utils_GetSysLastError(), iActLen, iHeadLen);
    } else if (dwLen == 0) {
        iResult = iHeadLen;
    } else {
        const int iDataLen = m_pLink->SendNakeData(pData, dwLen);
        if (iDataLen == int(dwLen))
            iResult = iHeadLen + iDataLen;
        else
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CMqttServerSession::SendToClient, SendNakeData 2 Failed, error[%d], iActLen[%d], "
                            "iHeadLen[%d]",
                            iIndex, Utils_GetSysLastError(), iDataLen, iHeadLen);
    }
    send.Release();
    if (iResult < 0)
        SetError(MORVA_ERR_SEND);
    return iResult;
}

int CMqttServerSession::SendConnectAck(BYTE byReturnCode) {
    const BYTE byAck[2] = {0, byReturnCode};
    return SendToClient(MqttFixedHeader(MSG_CONNACK), byAck, sizeof(byAck));
}

// PUBACK and UNSUBACK: the message identifier alone.
int CMqttServerSession::SendIdAck(BYTE byHeader, WORD wMessageID, const char *pName) {
    const BYTE byId[2] = {BYTE(wMessageID >> 8), BYTE(wMessageID)};
    const int iSent = SendToClient(byHeader, byId, sizeof(byId));
    if (iSent < 0)
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::%s, SendToClient Failed, wMessageID[0x%X]",
                        GetMemberIndex(), pName, wMessageID);
    else
        LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::%s, SUCC, wMessageID[0x%X]", GetMemberIndex(), pName,
                        wMessageID);
    return iSent;
}

int CMqttServerSession::Send(int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw) {
    const int iState = m_enumState.load();
    if (iState != MQTT_STATE_SUBSCRIBED && iState != MQTT_STATE_CONNECTED) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Send, Invalid byMsgType[%d] and m_enumState[%d]",
                        GetMemberIndex(), iMsgType, iState);
        SetError(MORVA_ERR_NOT_READY);
        return -1;
    }
    // Only the wire types fit the four bits of the fixed header.
    if (iMsgType < MSG_CONNECT || iMsgType > MSG_DISCONNECT) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Send, Invalid byMsgType[%d]", GetMemberIndex(),
                        iMsgType);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (iMsgType == MSG_PUBLISH && !bRaw)
        return SendPublish(pData, dwLen);
    return SendToClient(MqttFixedHeader(iMsgType), pData, dwLen);
}

// pData: topic length (big-endian), topic, payload. The payload goes out encrypted with the
// session key, in a QoS 0 PUBLISH.
int CMqttServerSession::SendPublish(const BYTE *pData, DWORD dwLen) {
    const int iIndex = GetMemberIndex();
    // Without a key the client would get data no one can read.
    if (!GetKeys().bKeySet) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SendPublish, Session Key Not Set", iIndex);
        SetError(MORVA_ERR_NOT_READY);
        return -1;
    }
    WORD wTopicLen = 0;
    if (!m_Parser.ReadLength(pData, &wTopicLen, dwLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SendPublish, ReadLength Failed, dwDataLen[%d]", iIndex,
                        int(dwLen));
        SetError(MORVA_ERR_CHAR_ENCODE);
        return -1;
    }
    const DWORD dwPrefix = 2 + DWORD(wTopicLen);
    const DWORD dwPayload = dwLen - dwPrefix;
    const DWORD dwPadding = CCryptoProvider::GetPaddingLen(CRYPTO_PADDING_COUNT, dwPayload);
    // Room for a whole block more than the payload: what either cipher may add.
    const DWORD dwOutSize = dwPayload + kBlock;
    std::unique_ptr<BYTE[]> pEncData(dwPayload <= kMaxRemainingLength - kBlock - dwPrefix
                                         ? new (std::nothrow) BYTE[dwPrefix + dwOutSize]
                                         : nullptr);
    if (!pEncData) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::SendPublish, NewArray Failed, pEncData[0x%X], pBufTmp[0x%X], "
                        "dwPaddingLen[%d], dwTopicLen[%d]",
                        iIndex, 0u, 0u, int(dwPadding), int(wTopicLen));
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    std::memcpy(pEncData.get(), pData, dwPrefix);
    DWORD dwEncLen = 0;
    if (!RunCipher(1, pData + dwPrefix, dwPayload, pEncData.get() + dwPrefix, dwOutSize, &dwEncLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::SendPublish, Encrypt Failed", iIndex);
        SetError(MORVA_ERR_CHAR_ENCODE);
        return -1;
    }
    return SendToClient(MqttFixedHeader(MSG_PUBLISH), pEncData.get(), dwPrefix + dwEncLen);
}

}  // namespace Vorezi
