// Device requests of the controller: the one road every request takes (find the device, fetch
// its random string where secrets go, let every service send, wait for the answer, copy its data,
// map its code to the last error) and what differs per request.
#include <cstring>
#include <string>

#include "base/GlobalCtrl.h"
#include "module/device/DeviceCommands.h"
#include "module/device/Service.h"
#include "utils/SdkLog.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

constexpr uint32_t POLL_MS = 100;

const struct {
    int iCode;
    uint32_t dwError;
    const char *pLine;
} kAnswerCodes[] = {
    {0, ZEVA_ERR_DEVICE_DENY, "[CGlobalCtrl::ParseDevResponse] Device deny!"},
    {1, ZEVA_NOERROR, "[CGlobalCtrl::ParseDevResponse] Succ!"},
    {2, ZEVA_ERR_DEVICE_LOCK, "[CGlobalCtrl::ParseDevResponse] Device lock!"},
    {3, ZEVA_ERR_RISK_PASSWORD, "[CGlobalCtrl::ParseDevResponse] Risk password!"},
    {4, ZEVA_ERR_HAS_ACTIVATED, "[CGlobalCtrl::ParseDevResponse] Has activated!"},
    {5, ZEVA_ERR_NOT_ACTIVATED, "[CGlobalCtrl::ParseDevResponse] No activated!"},
    {6, ZEVA_ERR_EMPTY_ENCRYPT_STRING, "[CGlobalCtrl::ParseDevResponse] Empty encrypt string!"},
    {7, ZEVA_ERR_EXPORT_OVERDUE, "[CGlobalCtrl::ParseDevResponse] Export file overdue!"},
    {8, ZEVA_ERR_PASSWORD, "[CGlobalCtrl::ParseDevResponse] Password error!"},
    {9, ZEVA_ERR_LONG_ANSWER, "[CGlobalCtrl::ParseDevResponse] Long answer!"},
    {10, ZEVA_ERR_QUESTION_NUM, "[CGlobalCtrl::ParseDevResponse] Question num error!"},
    {11, ZEVA_ERR_INVALID_GUID, "[CGlobalCtrl::ParseDevResponse] Invalid guid!"},
    {12, ZEVA_ERR_ANSWER, "[CGlobalCtrl::ParseDevResponse] Answer error!"},
    {13, ZEVA_ERR_VERIFICATION_CODE, "[CGlobalCtrl::ParseDevResponse] Illegal verification code!"},
    {14, ZEVA_ERR_BIND_ERROR_DEV, "[CGlobalCtrl::ParseDevResponse] Bind error device!"},
    {15, ZEVA_ERR_MAX_BIND_NUM, "[CGlobalCtrl::ParseDevResponse] Exted max bind num!"},
    {16, ZEVA_ERR_MAILBOX_NOT_EXIST, "[CGlobalCtrl::ParseDevResponse] Mailbox not exist!"},
    {17, ZEVA_ERR_MAILBOX_NOT_SET, "[CGlobalCtrl::ParseDevResponse] Mailbox not set!"},
    {18, ZEVA_ERR_RESET_CODE, "[CGlobalCtrl::ParseDevResponse] Invalid reset code!"},
    {19, ZEVA_ERR_PHONE_NOT_SET, "[CGlobalCtrl::ParseDevResponse] Phone not set!"},
    {20, ZEVA_ERR_BUFFER_TOO_SMALL, "[CGlobalCtrl::ParseDevResponse] buffer size not enough!"},
    {ANSWER_DECRYPT_FAILED, ZEVA_ERR_ENCRYPT, "[CGlobalCtrl::ParseDevResponse] Answer does not decrypt!"},
};

// The answer block of a command's row; none without a row.
AnswerKind KindOf(const DEVICE_COMMAND *pRow) { return pRow ? pRow->kind : ANSWER_NONE; }

uint32_t U32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

void CGlobalCtrl::SetDevResponse(int iCode) { m_iDevResponse.store(iCode); }

void CGlobalCtrl::StoreDevAnswer(AnswerKind kind, const uint8_t *pBlock, int iCode) {
    if (kind != ANSWER_NONE) {
        yar::yar_guard guard(&m_hAnswerMutex);
        std::memcpy(m_byAnswer[kind], pBlock, ANSWER_BLOCK_SIZE[kind]);
    }
    SetDevResponse(iCode);
}

void CGlobalCtrl::ReadAnswer(AnswerKind kind, uint32_t dwOffset, void *pOut, uint32_t dwLen) {
    yar::yar_guard guard(&m_hAnswerMutex);
    std::memcpy(pOut, m_byAnswer[kind] + dwOffset, dwLen);
}

int CGlobalCtrl::WaitDevResponse() {
    for (uint32_t i = 0; i < m_dwTimeout * 10 && m_iDevResponse.load() == ANSWER_WAITING; ++i)
        YAR_Sleep(POLL_MS);
    return m_iDevResponse.load() != ANSWER_WAITING;
}

template <typename Send>
void CGlobalCtrl::SendAndWait(std::initializer_list<AnswerKind> kinds, Send send) {
    m_iDevResponse.store(ANSWER_WAITING);
    SetLastError(ZEVA_NOERROR);
    {
        yar::yar_guard guard(&m_hAnswerMutex);
        for (AnswerKind k : kinds)
            if (k != ANSWER_NONE)
                std::memset(m_byAnswer[k], 0, ANSWER_BLOCK_SIZE[k]);
    }
    bool sent = false;
    for (uint32_t i = 0; i < m_dwServiceNum; ++i)
        if (m_pService[i] && send(*m_pService[i]))
            sent = true;
    if (!sent) {
        m_iDevResponse.store(ANSWER_NOT_SENT);
        return;
    }
    WaitDevResponse();
    // An answer that comes after the wait must not be taken for the next request's.
    for (uint32_t i = 0; i < m_dwServiceNum; ++i)
        if (m_pService[i])
            m_pService[i]->SetPending("", "", "", 0);
}

int CGlobalCtrl::ParseDevResponse() {
    int code = m_iDevResponse.load();
    if (code == ANSWER_NOT_SENT) {
        ZEVA_LOG_ERR("[CGlobalCtrl::ParseDevResponse] SDK Error!");
        return 0;
    }
    for (const auto &row : kAnswerCodes) {
        if (row.iCode == code) {
            ZEVA_LOG_ERR("%s", row.pLine);
            SetLastError(row.dwError);
            return code == 1;
        }
    }
    ZEVA_LOG_ERR("[CGlobalCtrl::ParseDevResponse] Device time out!");
    SetLastError(ZEVA_ERR_DEVICE_TIMEOUT);
    return 0;
}

int CGlobalCtrl::FindForRequest(const char *pFunc, uint32_t bySelect, const char *pId, DEVICE_LIST_ITEM *pOut) {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("[CGlobalCtrl::%s] ZEVA not start", pFunc);
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    int found = bySelect == 1 ? SearchDeviceBySN(pId, pOut) : SearchDevice(pId, pOut);
    if (!found) {
        ZEVA_LOG_ERR("[CGlobalCtrl::%s] Search Device failed", pFunc);
        SetLastError(ZEVA_ERR_PARAM);
    }
    return found;
}

int CGlobalCtrl::GetExchangecode(const DEVICE_LIST_ITEM &dev, uint8_t byProtocol) {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("[CGlobalCtrl::GetExchangecode] ZEVA not start");
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    SendAndWait({ANSWER_EXCHANGE_CODE}, [&](CService &s) { return s.GetExchangeCode(dev, byProtocol); });
    return ParseDevResponse();
}

// The device's random string into pCode (EXCHANGE_CODE_MAX + 1 bytes), when the request needs
// one; false when the exchange failed.
bool CGlobalCtrl::ExchangeFirst(const DEVICE_LIST_ITEM &dev, Exchange exchange, char *pCode) {
    std::memset(pCode, 0, EXCHANGE_CODE_MAX + 1);
    uint8_t protocol = 0;
    if (!NeedsExchange(exchange, dev.byProtocol, &protocol))
        return true;
    if (!GetExchangecode(dev, protocol))
        return false;
    ReadAnswer(ANSWER_EXCHANGE_CODE, 4, pCode, EXCHANGE_CODE_MAX);
    return true;
}

int CGlobalCtrl::Active(const char *pSerial, const char *pPassword) {
    DEVICE_LIST_ITEM dev;
    char code[EXCHANGE_CODE_MAX + 1];
    if (!FindForRequest("Active", 1, pSerial, &dev) || !ExchangeFirst(dev, ACTIVATE_REQUEST.exchange, code))
        return 0;
    SendAndWait({ACTIVATE_REQUEST.kind}, [&](CService &s) { return s.ActiveDev(dev, code, pPassword); });
    return ParseDevResponse();
}

int CGlobalCtrl::GetUserName(const char *pMAC, char *pOut) {
    DEVICE_LIST_ITEM dev;
    pOut[0] = '\0';
    if (!SearchDevice(pMAC, &dev))
        return 0;
    const ZEVA_DEVICE_INFO &info = dev.struDevInfo;
    size_t len = strnlen(info.szUserName, sizeof info.szUserName);
    if (len) {
        std::memcpy(pOut, info.szUserName, len);
        pOut[len] = '\0';
        return 1;
    }
    if (info.bySecurityMode == 0) {
        std::strcpy(pOut, "admin");
        return 1;
    }
    ZEVA_LOG_ERR("[CGlobalCtrl::GetUserName] username is null!");
    SetLastError(ZEVA_ERR_USER_NAME);
    return 0;
}

int CGlobalCtrl::ModifyDeviceNetParam(const char *pMAC, const char *pPassword, const ZEVA_NET_PARAM *pParam,
                                      void *pRet) {
    DEVICE_LIST_ITEM dev;
    if (!FindForRequest("ModifyDeviceNetParam", 0, pMAC, &dev))
        return 0;
    char user[33];
    if (!GetUserName(pMAC, user)) {
        ZEVA_LOG_ERR("[CGlobalCtrl::ModifyNetParamV40] GetUserName failed!");
        SetLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    char code[EXCHANGE_CODE_MAX + 1];
    if (!ExchangeFirst(dev, UPDATE_REQUEST.exchange, code))
        return 0;
    // Devices that cannot take the change as a Probe get it as a raw frame; its answer fills the
    // same block.
    AnswerKind kind = UPDATE_REQUEST.kind;
    if (dev.bySupportFlag[0] != 1)
        SendAndWait({kind}, [&](CService &s) { return s.ModifyNetParamByPcap(pMAC, pPassword, pParam); });
    else
        SendAndWait({kind}, [&](CService &s) { return s.ModifyNetParam(dev, code, user, pPassword, pParam); });
    ReadAnswer(kind, 0, pRet, 2);
    return ParseDevResponse();
}

int CGlobalCtrl::ResetPasswd(const char *pSerial, const ZEVA_RESET_PARAM *pParam, void *pRet) {
    DEVICE_LIST_ITEM dev;
    if (!FindForRequest("ResetPasswd", 1, pSerial, &dev))
        return 0;
    uint8_t type = pParam->byResetType;
    ZEVA_LOG_ERR("[CGlobalCtrl::ResetPasswd] byResetType[%d] byResetPWUP[%d] byResetPassWord[%d] "
                 "byResetPassWordModeSecond[%d] bySupportCodeEncrypt[%d]",
                 type, dev.bySupportFlag[1], dev.bySupportFlag[2], dev.bySupportFlag[3],
                 dev.struDevInfo.bySupportCodeEncrypt);
    // A 3.0 device's reset always fetches a random string first, by raw frame (type 1) and for an
    // unknown type too; a 3.1 device's only where its row says so.
    const DEVICE_COMMAND *row = FindResetType(type);
    char code[EXCHANGE_CODE_MAX + 1];
    if (!ExchangeFirst(dev, row ? row->exchange : EXCHANGE_30_DEVICES, code))
        return 0;
    const ZEVA_DEVICE_INFO &info = dev.struDevInfo;
    if (type == 1)
        SendAndWait({ANSWER_COMMON}, [&](CService &s) {
            return s.ResetPasswordEthernet(info.szMAC, info.szIPv4Address, info.szIPv4SubnetMask, pParam);
        });
    else
        SendAndWait({ANSWER_COMMON}, [&](CService &s) { return s.ResetPassword(dev, code, pParam); });
    ReadAnswer(ANSWER_COMMON, 0, pRet, 2);
    return ParseDevResponse();
}

void CGlobalCtrl::CopyGetResult(uint32_t dwCommand, const DEVICE_LIST_ITEM &dev, void *pOut, uint32_t dwOutSize) {
    auto *out = static_cast<uint8_t *>(pOut);
    AnswerKind kind = KindOf(FindGetCommand(dwCommand));
    if (kind == ANSWER_NONE || !out)
        return;
    uint8_t block[ANSWER_BLOCK_MAX];
    ReadAnswer(kind, 0, block, ANSWER_BLOCK_SIZE[kind]);
    uint32_t len = U32(block);
    // A length the caller's record cannot hold ends the request with "buffer size not enough".
    auto tooLong = [&](uint32_t n) {
        ZEVA_LOG_ERR("[CGlobalCtrl::GetDeviceConfig] invalid DeviceCode length[%d]", n);
        m_iDevResponse.store(ANSWER_TOO_LONG);
    };
    switch (dwCommand) {
    case 1:
        if (len > 128)
            return tooLong(len);
        std::memcpy(out, block, 4 + len);
        return;
    case 2: {
        size_t sn = strnlen(dev.struDevInfo.szSerialNO, sizeof dev.struDevInfo.szSerialNO);
        if (len + sn > 256)
            return tooLong(uint32_t(len + sn));
        uint32_t total = uint32_t(len + sn);
        std::memcpy(out, &total, 4);
        std::memcpy(out + 4, block + 4, len);
        std::memcpy(out + 4 + len, dev.struDevInfo.szSerialNO, sn);
        return;
    }
    case 5:
        if (len > 128)
            return tooLong(len);
        std::memcpy(out, block, 4 + len);
        out[132] = block[GUID_RETRY_OFFSET];
        out[133] = block[GUID_RETRY_OFFSET + 1];
        return;
    case 21: {
        if (len > 255)
            return tooLong(len);
        std::memcpy(out, block, 12);
        std::memcpy(out + 12, block + QR_TEXT_OFFSET, 256);
        std::memcpy(out + 268, block + QR_MAILBOX_OFFSET, 128);
        std::memcpy(out + 396, block + QR_SERVICE_MAILBOX_OFFSET, 128);
        return;
    }
    case 27:
        std::memcpy(out, block, 64);
        std::memcpy(out + 64, block + 64, 4);
        std::memcpy(out + 72, block + 72, 4);
        return;
    case 32: {
        const uint8_t *g = block + 4;
        ZEVA_LOG_INF("[CGlobalCtrl::GetDeviceConfig] GUIDSize[%d] GUID[%x%x%x%x][%x%x%x%x][%x%x%x%x][%x%x%x%x]",
                     len, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13],
                     g[14], g[15]);
        break;
    }
    case 33:
        ZEVA_LOG_INF("[CGlobalCtrl::GetDeviceConfig] szQrCodes[%.1024s]",
                     reinterpret_cast<const char *>(block + QR_TEXT_OFFSET));
        break;
    default:
        break;
    }
    std::memcpy(out, block, dwOutSize < ANSWER_BLOCK_SIZE[kind] ? dwOutSize : ANSWER_BLOCK_SIZE[kind]);
}

int CGlobalCtrl::GetDeviceConfig(uint32_t bySelect, const char *pId, uint32_t dwCommand, const void *pIn,
                                 uint32_t /*dwInSize*/, void *pOut, uint32_t dwOutSize) {
    DEVICE_LIST_ITEM dev;
    if (!FindForRequest("GetDeviceConfig", bySelect, pId, &dev))
        return 0;
    const DEVICE_COMMAND *row = FindGetCommand(dwCommand);
    char code[EXCHANGE_CODE_MAX + 1];
    if (!ExchangeFirst(dev, row ? row->exchange : EXCHANGE_NONE, code))
        return 0;
    const char *mac = dev.struDevInfo.szMAC;
    std::string macText(mac, strnlen(mac, sizeof dev.struDevInfo.szMAC));
    SendAndWait({KindOf(row)}, [&](CService &s) {
        char user[33];
        GetUserName(macText.c_str(), user);
        return s.GetDeviceConfig(dev, user, code, dwCommand, pIn);
    });
    CopyGetResult(dwCommand, dev, pOut, dwOutSize);
    return ParseDevResponse();
}

int CGlobalCtrl::SetDeviceConfig(uint32_t bySelect, const char *pId, uint32_t dwCommand, const void *pIn,
                                 uint32_t /*dwInSize*/, void *pOut, uint32_t dwOutSize) {
    DEVICE_LIST_ITEM dev;
    if (!FindForRequest("SetDeviceConfig", bySelect, pId, &dev))
        return 0;
    const DEVICE_COMMAND *row = FindSetCommand(dwCommand);
    char code[EXCHANGE_CODE_MAX + 1];
    if (!ExchangeFirst(dev, row ? row->exchange : EXCHANGE_NONE, code))
        return 0;
    AnswerKind kind = KindOf(row);
    std::string macText(dev.struDevInfo.szMAC, strnlen(dev.struDevInfo.szMAC, sizeof dev.struDevInfo.szMAC));
    SendAndWait({kind}, [&](CService &s) {
        char user[33];
        GetUserName(macText.c_str(), user);
        return s.SetDeviceConfig(dev, user, code, dwCommand, pIn);
    });
    // A command without an output record (the Wi-Fi messages) leaves the caller's buffer alone.
    if (pOut && kind != ANSWER_NONE && row->dwOutSize)
        ReadAnswer(kind, 0, pOut, dwOutSize < ANSWER_BLOCK_SIZE[kind] ? dwOutSize : ANSWER_BLOCK_SIZE[kind]);
    return ParseDevResponse();
}

}  // namespace ZEVA
