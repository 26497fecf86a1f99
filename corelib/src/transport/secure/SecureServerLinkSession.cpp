#include "transport/secure/SecureServerLinkSession.h"

#include <cstring>
#include <vector>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/ComVRUDP.h"
#include "yar/yar_error.h"

namespace Vorezi {
namespace secure {
namespace {

constexpr uint32_t kSendTimeOutMs = 5000;
constexpr uint32_t kLogCategory = 7;
thread_local int t_iCallbackHandle = -1;

// Marks the calling thread as inside a session's callback for the callback's duration.
class CCallbackMark {
public:
    explicit CCallbackMark(int iHandle) : m_iPrev(t_iCallbackHandle) { t_iCallbackHandle = iHandle; }
    ~CCallbackMark() { t_iCallbackHandle = m_iPrev; }
    CCallbackMark(const CCallbackMark &) = delete;
    CCallbackMark &operator=(const CCallbackMark &) = delete;

private:
    int m_iPrev;
};

} // namespace

int CSecureServerLinkSession::CallbackHandleOnThisThread() {
    return t_iCallbackHandle;
}

CSecureServerLinkSession::~CSecureServerLinkSession() {
    CleanupResource();
}

int CSecureServerLinkSession::Start(void *pParam) {
    m_iOwnHandle = GetMemberIndex();
    if (pParam == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureServerLinkSession::Start, NULL == pParams", m_iOwnHandle);
        return 0;
    }
    m_stParam = *static_cast<const SECURE_SERVER_CREATE *>(pParam);
    m_stParam.szAddr[SECURE_ADDR_LEN - 1] = '\0';
    m_stParam.pData = nullptr; // valid only during the create call
    m_stParam.dwDataLen = 0;
    m_fnDataCB.store(m_stParam.fnDataCB);
    m_pUserData.store(m_stParam.pUserData);
    m_iVRUDPHandle = m_stParam.iVRUDPHandle;
    m_bStarted = true;
    if (!m_cipher.IsValid()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureServerLinkSession::Start, Interim_CreateVORNEncrypt Failed, Addr[%s:%d]",
                        m_iOwnHandle, m_stParam.szAddr, m_stParam.wPort);
        CleanupResource();
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureServerLinkSession::Start, m_iVRUDPHandle[%d], Addr[%s:%d]", m_iOwnHandle,
                    m_iVRUDPHandle, m_stParam.szAddr, m_stParam.wPort);
    return 1;
}

int CSecureServerLinkSession::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureServerLinkSession::Stop, m_iVRUDPHandle[%d], Addr[%s:%d]", m_iOwnHandle,
                    m_iVRUDPHandle, m_stParam.szAddr, m_stParam.wPort);
    CleanupResource();
    return 1;
}

// A datagram peer's handle is the listening endpoint, which its listen session owns: only a
// peer's own connection is closed here.
void CSecureServerLinkSession::CleanupResource() {
    if (!m_bStarted)
        return;
    m_bStarted = false;
    if (!m_stParam.bWithoutVRUDP && m_iVRUDPHandle >= 0 && !m_bLinkGone.load()) {
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CSecureServerLinkSession::CleanupResource, No VRUDP, COM_VRUDP_Close m_iVRUDPHandle[%d], "
                        "Addr[%s:%d]",
                        m_iOwnHandle, m_iVRUDPHandle, m_stParam.szAddr, m_stParam.wPort);
        COM_VRUDP_Close(m_iVRUDPHandle);
    }
    m_iVRUDPHandle = -1;
    m_fnDataCB.store(nullptr);
    m_pUserData.store(nullptr);
}

void CSecureServerLinkSession::SetDataCB(SECURE_DATA_CALLBACK fnDataCB, void *pUserData) {
    m_pUserData.store(pUserData);
    m_fnDataCB.store(fnDataCB);
}

int CSecureServerLinkSession::InputData(const SECURE_RECV_DATA *pRecvData) {
    if (pRecvData == nullptr || pRecvData->pData == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcData, pMsgContent is NULL, ENUM_PROCDATA_PARAM_ERROR, "
                        "m_iVRUDPHandle[%d]",
                        m_iOwnHandle, m_iVRUDPHandle);
        return ENUM_PROCDATA_PARAM_ERROR;
    }
    const SECURE_RECV_DATA &recv = *pRecvData;
    std::lock_guard<std::mutex> lock(m_recvMutex);
    int32_t iStatus = 0;
    switch (ClassifySecurePacket(recv.pData, recv.dwDataLen)) {
    case SecurePacketKind::Hello:
        if (!ProcSuiteCommuHello(recv)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CSecureServerLinkSession::InputData, ProcSuiteCommuHello Failed, "
                            "ENUM_PROCDATA_DESTROY_SESSION, m_iVRUDPHandle[%d], dwSequence[0x%X], Addr[%s:%d]",
                            m_iOwnHandle, m_iVRUDPHandle, recv.dwSequence, recv.szAddr, recv.wPort);
            return ENUM_PROCDATA_DESTROY_SESSION;
        }
        return ENUM_PROCDATA_SUCC;
    case SecurePacketKind::Data:
        if (!ProcCommandData(recv)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CSecureServerLinkSession::InputData, ProcCommandData Failed, ENUM_PROCDATA_PARAM_ERROR, "
                            "m_iVRUDPHandle[%d], dwSequence[0x%X], dwContentLen[%d], Addr[%s:%d]",
                            m_iOwnHandle, m_iVRUDPHandle, recv.dwSequence, int(recv.dwDataLen), recv.szAddr, recv.wPort);
            return ENUM_PROCDATA_PARAM_ERROR;
        }
        if (DataCallBack(m_reader.Data(), m_reader.DataLen(), &iStatus)) {
            LogModule_Write(LOG_LEVEL_DBG,
                            "[%d]CSecureServerLinkSession::InputData, After DataCallBack, ENUM_PROCDATA_DESTROY_SESSION, "
                            "m_iVRUDPHandle[%d], dwSequence[0x%X], Addr[%s:%d]",
                            m_iOwnHandle, m_iVRUDPHandle, recv.dwSequence, recv.szAddr, recv.wPort);
            m_reader.Drop();
            return ENUM_PROCDATA_DESTROY_SESSION;
        }
        m_reader.Drop();
        return iStatus == SECURE_STATUS_KEEP_ALIVE ? ENUM_PROCDATA_KEEP_ALIVE : ENUM_PROCDATA_SUCC;
    case SecurePacketKind::Other:
        break;
    }
    if (DataCallBack(recv.pData, recv.dwDataLen, &iStatus)) {
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CSecureServerLinkSession::InputData, 2 After DataCallBack, ENUM_PROCDATA_DESTROY_SESSION, "
                        "m_iVRUDPHandle[%d], dwSequence[0x%X], Addr[%s:%d]",
                        m_iOwnHandle, m_iVRUDPHandle, recv.dwSequence, recv.szAddr, recv.wPort);
        return ENUM_PROCDATA_DESTROY_SESSION;
    }
    return ENUM_PROCDATA_SUCC;
}

bool CSecureServerLinkSession::DataCallBack(const uint8_t *pData, uint32_t dwLen, int32_t *piStatus) {
    SECURE_DATA_CALLBACK fnDataCB = m_fnDataCB.load();
    if (fnDataCB == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkSession::DataCallBack, NULL == m_fnDataCB || NULL == pRecvData");
        Utils_Assert();
        return m_bCloseRequested.load();
    }
    SECURE_CALLBACK_DATA data;
    memset(&data, 0, sizeof(data));
    data.pData = pData;
    data.dwDataLen = dwLen;
    memcpy(data.szAddr, m_stParam.szAddr, sizeof(data.szAddr));
    data.wPort = m_stParam.wPort;
    m_token.Get(data.byInfo);
    {
        CCallbackMark mark(m_iOwnHandle);
        fnDataCB(m_iOwnHandle, &data, m_pUserData.load());
    }
    *piStatus = data.iStatus;
    return data.bDestroy != 0 || m_bCloseRequested.load();
}

int CSecureServerLinkSession::ProcSuiteCommuHello(const SECURE_RECV_DATA &recv) {
    std::vector<uint8_t> answer;
    uint32_t dwRet = 0;
    const CSecureHandshake::Outcome outcome =
        m_handshake.Process(recv.pData, recv.dwDataLen, m_cipher, &answer, &dwRet);
    LogModule_WriteDebug(kLogCategory,
                         "[%d]CSecureServerLinkSession::ProcSuiteCommuHello, ParseSuiteCommuHello, dwRet[%d], "
                         "byPackageType[%d], m_iVRUDPHandle[%d], Addr[%s:%d]",
                         m_iOwnHandle, int(dwRet), m_handshake.PackageType(), m_iVRUDPHandle, recv.szAddr, recv.wPort);
    if (outcome == CSecureHandshake::Outcome::NoKeyCache) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcSuiteCommuHello, GetRSAEncrypt Failed, m_iVRUDPHandle[%d], "
                        "Addr[%s:%d], DeviceID[%s]",
                        m_iOwnHandle, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
        return 0;
    }
    if (outcome == CSecureHandshake::Outcome::NoKeyPair) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcSuiteCommuHello, GetRSAKey Failed, m_iVRUDPHandle[%d], "
                        "Addr[%s:%d], DeviceID[%s]",
                        m_iOwnHandle, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
        return 0;
    }
    if (dwRet == SECURE_HELLO_REFUSED)
        LogRefusedHello(recv);
    SendNakeData(answer.data(), uint32_t(answer.size()));
    return 1;
}

void CSecureServerLinkSession::LogRefusedHello(const SECURE_RECV_DATA &recv) {
    SecureHelloHead head;
    const uint8_t *pKey = nullptr;
    uint16_t wKeyLen = 0;
    const bool bHead = ParseHelloHead(recv.pData, recv.dwDataLen, &head);
    if (bHead && head.byPackageType != SECURE_HELLO_CAPABILITY && head.byPackageType != SECURE_HELLO_KEY_EXCHANGE) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ParseSuiteCommuHello, ERRORDATA, byPackageType[%d], "
                        "m_iVRUDPHandle[%d], Addr[%s:%d], DeviceID[%s]",
                        m_iOwnHandle, head.byPackageType, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
    } else if (bHead && ParseKeyBlock(recv.pData, recv.dwDataLen, head, &pKey, &wKeyLen) &&
               wKeyLen > SECURE_MAX_LINK_KEY_LEN) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ParseSuiteCommuHello, Invalid dwKeyLen[%d], m_iVRUDPHandle[%d], "
                        "Addr[%s:%d], DeviceID[%s]",
                        m_iOwnHandle, wKeyLen, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
    } else {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ParseSuiteCommuHello, DecryptData Failed, m_iVRUDPHandle[%d], "
                        "Addr[%s:%d], DeviceID[%s]",
                        m_iOwnHandle, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
    }
}

int CSecureServerLinkSession::ProcCommandData(const SECURE_RECV_DATA &recv) {
    const SecureReadResult result = m_reader.Input(recv.pData, recv.dwDataLen, m_cipher, m_token);
    if (result != SecureReadResult::Ok) {
        LogReadFailure(result, recv);
        return 0;
    }
    const SecureDataHead &head = m_reader.LastHead();
    if (head.dwCommand == SECURE_CMD_HEARTBEAT)
        LogModule_WriteDebug(kLogCategory,
                             "[%d]CSecureServerLinkSession::ParseCommandHead, HeartBeat, dwSequence[0x%X], "
                             "m_iVRUDPHandle[%d], Addr[%s:%d], DeviceID[%s]",
                             m_iOwnHandle, head.dwSequence, m_iVRUDPHandle, recv.szAddr, recv.wPort, DeviceID());
    return 1;
}

void CSecureServerLinkSession::LogReadFailure(SecureReadResult result, const SECURE_RECV_DATA &recv) {
    const SecureDataHead &head = m_reader.LastHead();
    switch (result) {
    case SecureReadResult::BufferNotEnough:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, Buffer Not Enough, m_dwRecvOffset[%d], "
                        "m_dwRecvBufLen[%d], Addr[%s:%d], m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, int(m_reader.RecvOffset()), int(SECURE_RECV_BUF_LEN), recv.szAddr, recv.wPort,
                        m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::CheckHeadLen:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, CheckHeadLen Failed, Addr[%s:%d], "
                        "m_dwRecvOffset[%d], m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, recv.szAddr, recv.wPort, int(recv.dwDataLen), m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::ParseHeadFailed:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, ParseCommandHead Failed, Addr[%s:%d], "
                        "m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, recv.szAddr, recv.wPort, m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::InvalidLength:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, Invalid Length, dwLength[%d], dwInBufLen[%d], "
                        "byCmdHeadLen[%d], Addr[%s:%d], m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, int(head.dwLength), int(recv.dwDataLen), head.byCmdHeadLen, recv.szAddr,
                        recv.wPort, m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::PlainTooLong:
    case SecureReadResult::NoSpace:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, Data Error, dwPlainLen[%d], dwLength[%d], "
                        "m_dwDecryptDataLen[%d], Addr[%s:%d], m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, int(head.dwPlainLen), int(head.dwLength), int(m_reader.DataLen()), recv.szAddr,
                        recv.wPort, m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::DecryptFailed:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ProcCommandData, DecryptData Failed, dwDataLen[%d], Addr[%s:%d], "
                        "m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, int(head.dwLength), recv.szAddr, recv.wPort, m_iVRUDPHandle, DeviceID());
        break;
    case SecureReadResult::TokenMismatch: {
        char szSdk[SECURE_TOKEN_LEN + 1] = {};
        char szDev[SECURE_TOKEN_LEN + 1] = {};
        uint8_t byKnown[SECURE_TOKEN_LEN];
        m_token.Get(byKnown);
        memcpy(szSdk, byKnown, SECURE_TOKEN_LEN);
        memcpy(szDev, head.byToken, SECURE_TOKEN_LEN);
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::ParseCommandHead, Token CheckFailed Error, SDK[%s] vs Dev[%s], "
                        "dwSequence[0x%X], Addr[%s:%d], m_iVRUDPHandle[%d], DeviceID[%s]",
                        m_iOwnHandle, szSdk, szDev, head.dwSequence, recv.szAddr, recv.wPort, m_iVRUDPHandle,
                        DeviceID());
        break;
    }
    case SecureReadResult::Ok:
        break;
    }
}

int CSecureServerLinkSession::SendNakeData(const uint8_t *pData, uint32_t dwLen) {
    VRUDP_SOCK_ADDR addr;
    const VRUDP_SOCK_ADDR *pAddr = nullptr;
    if (m_stParam.bWithoutVRUDP) {
        memset(&addr, 0, sizeof(addr));
        memcpy(addr.szAddr, m_stParam.szAddr, sizeof(addr.szAddr));
        addr.wPort = m_stParam.wPort;
        pAddr = &addr;
    }
    return COM_VRUDP_SendTo(m_iVRUDPHandle, pData, int(dwLen), pAddr, kSendTimeOutMs);
}

int CSecureServerLinkSession::SendData(const SECURE_SEND_DATA *pSecureSendData) {
    if (pSecureSendData == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureServerLinkSession::SendData, pSecureSendData == NULL, m_iVRUDPHandle[%d]",
                        m_iOwnHandle, m_iVRUDPHandle);
        return -1;
    }
    const SECURE_SEND_DATA &send = *pSecureSendData;
    if (send.pData == nullptr && send.dwDataLen != 0)
        return -1;
    if (!m_handshake.IsSecureFraming() || send.byRaw) {
        const int iRet = SendNakeData(send.pData, send.dwDataLen);
        if (iRet < 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CSecureServerLinkSession::SendData, SendNakeData Failed, syserror[%d], iBufLen[%d], "
                            "Addr[%s:%d], m_iVRUDPHandle[%d]",
                            m_iOwnHandle, YAR_GetSystemLastError(), int(send.dwDataLen), m_stParam.szAddr,
                            m_stParam.wPort, m_iVRUDPHandle);
            SetError(MORVA_ERR_SEND);
            return -1;
        }
        return iRet;
    }
    SecureDataHead head;
    head.byInfoFlag = send.byInfoFlag;
    head.bySenderByte = send.bySenderByte;
    head.dwSequence = send.dwSequence;
    head.dwCommand = send.dwCommand;
    head.dwValue = send.dwValue;
    std::vector<uint8_t> frame;
    if (!BuildDataFrame(head, send.pData, send.dwDataLen, m_cipher, m_token, &frame)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureClientLinkSession::SendData, EncryptData Failed, dwDataLen[%d], m_iVRUDPHandle[%d], "
                        "dwSequence[0x%X]",
                        m_iOwnHandle, int(send.dwDataLen), m_iVRUDPHandle, send.dwSequence);
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    const int iRet = SendNakeData(frame.data(), uint32_t(frame.size()));
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::SendData, 2 SendNakeData Failed, syserror[%d], iBufLen[%d], "
                        "Addr[%s:%d], m_iVRUDPHandle[%d], dwSequence[0x%X]",
                        m_iOwnHandle, YAR_GetSystemLastError(), int(frame.size()), m_stParam.szAddr, m_stParam.wPort,
                        m_iVRUDPHandle, send.dwSequence);
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    if (size_t(iRet) != frame.size()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureClientLinkSession::SendData, Invalid Length, iRet[%d] != dwBufLen[%d], "
                        "m_iVRUDPHandle[%d], dwSequence[0x%X]",
                        m_iOwnHandle, iRet, int(frame.size()), m_iVRUDPHandle, send.dwSequence);
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    return iRet;
}

int CSecureServerLinkSession::SetInfo(uint32_t dwCommand, const void *pBuf, int32_t iBufLen) {
    if (dwCommand != SECURE_CMD_SETINFO_USE_TOKEN) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureServerLinkSession::SetInfo, Invalid dwCommand[%d], iBufLen[%d]",
                        m_iOwnHandle, int(dwCommand), iBufLen);
        return 3;
    }
    if (pBuf == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureServerLinkSession::SetInfo, SECURE_CMD_SETINFO_USE_TOKEN, pBuf == NULL",
                        m_iOwnHandle);
        return 1;
    }
    if (iBufLen < 0 || iBufLen > int32_t(SECURE_TOKEN_LEN)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureServerLinkSession::SetInfo, SECURE_CMD_SETINFO_USE_TOKEN, Invalid iBufLen[%d]",
                        m_iOwnHandle, iBufLen);
        return 2;
    }
    // A text: what follows its end is not part of the token.
    const char *pText = static_cast<const char *>(pBuf);
    m_token.Set(pText, uint32_t(strnlen(pText, size_t(iBufLen))));
    LogModule_WriteDebug(kLogCategory, "[%d]CSecureServerLinkSession::SetInfo, SECURE_CMD_SETINFO_USE_TOKEN",
                         m_iOwnHandle);
    return 0;
}

} // namespace secure
} // namespace Vorezi
