// The request road of a service: building a request by the device's protocol, sending it with
// its pending identity in place, and taking the one answer that belongs to it. What each request
// is comes from its row (DeviceCommands.h).
#include <cstring>
#include <vector>

#include "base/GlobalCtrl.h"
#include "module/device/DeviceCommands.h"
#include "module/device/Service.h"
#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/ProbeXml.h"
#include "morva/ComInterfaceMorva.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"

namespace ZEVA {

// -- sending ---------------------------------------------------------------------------------

int CService::SendRequest(const DEVICE_LIST_ITEM &dev, const DEVICE_COMMAND &cmd, PROBE_REQUEST &req,
                          const REQUEST_LINES &lines, int iArg) {
    CMulticastProtocol::Builder build = dev.byProtocol == PROTOCOL_30 ? cmd.build30 : cmd.build31;
    if (!build) {
        ZEVA_LOG_ERR("[CService::SendRequest] protocol[%d] of the device not supported", dev.byProtocol);
        SetSdkLastError(ZEVA_ERR_PARAM);
    }
    char uuid[40] = {};
    CreateUuidString(uuid, sizeof uuid);
    std::string mac(dev.struDevInfo.szMAC, strnlen(dev.struDevInfo.szMAC, sizeof dev.struDevInfo.szMAC));
    req.pUuid = uuid;
    req.pMAC = mac.c_str();
    std::vector<char> text(REQUEST_BUFFER_LEN);
    uint32_t len = 0;
    if (!build || !(m_Protocol.*build)(req, text.data(), REQUEST_BUFFER_LEN, &len)) {
        if (lines.pPackageFailLine)
            ZEVA_LOG_ERR(lines.pPackageFailLine, iArg);
        return 0;
    }
    // A fast device may answer before the send returns.
    SetPending(uuid, mac.c_str(), text.data(), len);
    if (!SendXmlData(text.data(), len)) {
        SetPending("", mac.c_str(), text.data(), len);
        SetSdkLastError(ZEVA_ERR_SEND);
        ZEVA_LOG_ERR(lines.pFailLine, Morva_GetSysLastError());
        return 0;
    }
    ZEVA_LOG_DBG(lines.pSentLine, text.data());
    return 1;
}

int CService::GetExchangeCode(const DEVICE_LIST_ITEM &dev, uint8_t byProtocol) {
    static const REQUEST_LINES lines{"[CService::GetExchangeCode] Send exchange code failed sys_err = %d",
                                     "[CService::GetExchangeCode] Send XML is %s", nullptr};
    // The exchange follows the protocol asked for, not the device's.
    DEVICE_LIST_ITEM asked = dev;
    asked.byProtocol = byProtocol == PROTOCOL_30 ? PROTOCOL_30 : 2;
    PROBE_REQUEST req;
    return SendRequest(asked, EXCHANGE_REQUEST, req, lines);
}

int CService::ActiveDev(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pPassword) {
    static const REQUEST_LINES lines{"[CService::ActiveDev] Send active failed sys_err = %d",
                                     "[CService::ActiveDev] Send XML is %s", nullptr};
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pPassword = pPassword;
    return SendRequest(dev, ACTIVATE_REQUEST, req, lines);
}

int CService::ModifyNetParam(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pUserName,
                             const char *pPassword, const ZEVA_NET_PARAM *pParam) {
    static const REQUEST_LINES lines{"[CService::ModifyNetParam] Send modify failed sys_err = %d",
                                     "[CService::ModifyNetParam] Send XML is %s", nullptr};
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pUserName = pUserName;
    req.pPassword = pPassword;
    req.pIn = reinterpret_cast<const uint8_t *>(pParam);
    req.pSalt = dev.szSalt;
    req.pSalt2 = dev.szSalt2;
    req.bySupport = dev.struDevInfo.bySupport;
    return SendRequest(dev, UPDATE_REQUEST, req, lines);
}

int CService::ResetPassword(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const ZEVA_RESET_PARAM *pParam) {
    static const REQUEST_LINES lines{"[CService::ResetPassword] Send Reset Password failed sys_err = %d",
                                     "[CService::ResetPassword] Send XML is %s",
                                     "[CService::ResetPassword] byResetType[%d] Package failed"};
    const DEVICE_COMMAND *row = FindResetType(pParam->byResetType);
    if (!row) {
        ZEVA_LOG_ERR("[CService::ResetPassword] invalid byResetType[%d]", pParam->byResetType);
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR(lines.pPackageFailLine, pParam->byResetType);
        return 0;
    }
    if (pParam->byResetType == 4) {
        const uint8_t *g = reinterpret_cast<const uint8_t *>(pParam->szGUID);
        ZEVA_LOG_INF("[CService::ResetPassword] GUID[%x%x%x%x][%x%x%x%x][%x%x%x%x][%x%x%x%x]", g[0], g[1], g[2], g[3],
                     g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    }
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pIn = reinterpret_cast<const uint8_t *>(pParam);
    req.bySupportCodeEncrypt = dev.struDevInfo.bySupportCodeEncrypt;
    return SendRequest(dev, *row, req, lines, pParam->byResetType);
}

int CService::SendConfig(const DEVICE_LIST_ITEM &dev, const DEVICE_COMMAND &cmd, const char *pUserName,
                         const char *pExchangeCode, const void *pIn, const REQUEST_LINES &lines) {
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pUserName = pUserName;
    req.pIn = static_cast<const uint8_t *>(pIn);
    req.pType = cmd.pWord;
    req.pSalt = dev.szSalt;
    req.pSalt2 = dev.szSalt2;
    return SendRequest(dev, cmd, req, lines, int(cmd.dwNumber));
}

int CService::GetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                              uint32_t dwCommand, const void *pIn) {
    static const REQUEST_LINES lines{"[CService::GetDeviceConfig] Send Get Device Config failed sys_err = %d",
                                     "[CService::GetDeviceConfig] Send XML is %s",
                                     "[CService::GetDeviceConfig] command[%d] Package failed"};
    const DEVICE_COMMAND *row = FindGetCommand(dwCommand);
    if (!row) {
        ZEVA_LOG_ERR("[CService::GetDeviceConfig] invalid command[%d]", dwCommand);
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    if (dev.byProtocol != PROTOCOL_30 && row->dwUseInstead) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("[CService::GetDeviceConfig] v3.1 device use command[%d]", row->dwUseInstead);
        ZEVA_LOG_ERR(lines.pPackageFailLine, dwCommand);
        return 0;
    }
    return SendConfig(dev, *row, pUserName, pExchangeCode, pIn, lines);
}

int CService::SetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                              uint32_t dwCommand, const void *pIn) {
    static const REQUEST_LINES lines{"[CService::SetDeviceConfig] Send set device config failed sys_err = %d",
                                     "[CService::SetDeviceConfig] Send XML is %s",
                                     "[CService::SetDeviceConfig] command[%d] Package failed"};
    if (const DEVICE_COMMAND *row = FindSetCommand(dwCommand))
        return SendConfig(dev, *row, pUserName, pExchangeCode, pIn, lines);
    ZEVA_LOG_ERR("[CService::SetDeviceConfig] invalid command[%d]", dwCommand);
    SetSdkLastError(ZEVA_ERR_PARAM);
    ZEVA_LOG_ERR(lines.pPackageFailLine, dwCommand);
    return 0;
}

// -- answers ---------------------------------------------------------------------------------

void CService::SetPending(const char *pUuid, const char *pMAC, const char *pText, uint32_t dwLen) {
    std::lock_guard<std::mutex> lock(m_PendingLock);
    std::snprintf(m_szPendingUuid, sizeof m_szPendingUuid, "%s", pUuid);
    std::snprintf(m_szPendingMAC, sizeof m_szPendingMAC, "%s", pMAC);
    m_LastRequest.assign(pText, dwLen);
}

bool CService::TakeAnswer(const TiXmlElement *pRoot, const char *pType, const char *pData, uint32_t dwLen) {
    const TiXmlElement *uuid = pRoot->FirstChildElement("Uuid");
    if (!uuid) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] no Uuid node");
        return false;
    }
    const TiXmlElement *macNode = pRoot->FirstChildElement("MAC");
    std::lock_guard<std::mutex> lock(m_PendingLock);
    // Our own request, come back by the relay or a second adapter, is no answer.
    if (m_LastRequest.size() == dwLen && std::memcmp(m_LastRequest.data(), pData, dwLen) == 0)
        return false;
    if (!macNode) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] Type[%s] no MAC node", pType);
    } else if (const char *mac = macNode->GetText()) {
        if (std::strncmp(mac, m_szPendingMAC, std::strlen(m_szPendingMAC)) != 0) {
            ZEVA_LOG_DBG("[CService::ProcessUdpData] Type[%s] [%s]!=[%s]", pType, m_szPendingMAC, mac);
            return false;
        }
    }
    const char *text = uuid->GetText();
    if (!text || !m_szPendingUuid[0] || std::strcmp(text, m_szPendingUuid) != 0)
        return false;
    m_szPendingUuid[0] = '\0';
    return true;
}

void CService::DispatchAnswer(const TiXmlElement *pRoot, const char *pType) {
    const ANSWER_ROUTE *route = FindAnswer(pType);
    if (!route) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] type[%s] result[%d]", pType, -1);
        return;
    }
    std::vector<uint8_t> block(route->kind == ANSWER_NONE ? 1 : ANSWER_BLOCK_SIZE[route->kind]);
    int code = route->parse(m_Protocol, pRoot, block.data());
    CGlobalCtrl::GetInstance()->StoreDevAnswer(route->kind, block.data(), code);
    ZEVA_LOG_DBG("[CService::ProcessUdpData] type[%s] result[%d]", pType, code);
}

}  // namespace ZEVA
