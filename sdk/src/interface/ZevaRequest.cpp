// The exports of the device requests: argument checks (the record sizes come from the device
// commands' rows), the conversions of the older reset records, then the controller.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "interface/ExportCall.h"
#include "module/device/DeviceCommands.h"
#include "utils/SdkLog.h"

using namespace ZEVA;

namespace {

CGlobalCtrl *Ctrl() { return CGlobalCtrl::GetInstance(); }

// FailArgument with a formatted line.
__attribute__((format(printf, 1, 2))) int FailArgumentF(const char *pFormat, ...) {
    char line[256];
    va_list args;
    va_start(args, pFormat);
    std::vsnprintf(line, sizeof line, pFormat, args);
    va_end(args);
    return FailArgument(line);
}

bool Empty(const char *p) { return !p || !p[0]; }

int CheckGetCommand(uint32_t dwCommand, const void *lpOutBuffer, uint32_t dwOutBuffSize) {
    if (dwCommand != ZEVA_GET_DISK_LOCATE && (!lpOutBuffer || dwOutBuffSize == 0)) {
        Ctrl()->SetLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    const DEVICE_COMMAND *row = FindGetCommand(dwCommand);
    if (!row)
        return FailArgumentF("[GetDeviceConfig_V20] No support dwCommand[%d]", dwCommand);
    if (dwCommand == ZEVA_GET_DISK_LOCATE || row->dwOutSize == dwOutBuffSize)
        return 1;
    if (dwCommand == ZEVA_GET_DEVICE_CODE || dwCommand == ZEVA_GET_QRCODES || dwCommand == ZEVA_GET_QRCODES_V31)
        return FailArgument("[GetDeviceConfig_V20] dwOutBuffSize error");
    return FailArgumentF("[GetDeviceConfig_V20] dwOutBuffSize error,the lenth of dwOutBuffSize is %d",
                         dwOutBuffSize);
}

const char *MissingBufferLine(uint32_t dwCommand) {
    switch (dwCommand) {
    case ZEVA_SET_SECURITY_QUESTIONS:
        return "[SetDeviceConfig] lpInBuffer or lpOutBuffer is Null, dwInBuffSize or dwOutBuffSize is 0!";
    case ZEVA_SET_VERIFICATION_CODE:
        return "[SetDeviceConfig] _sDestMAC is Null!";
    case ZEVA_SET_QADRA_ENABLE:
        return "[SetDeviceConfig] _sDestMAC or lpInBuffer or lpOutBuffer or pSalt is Null, dwInBuffSize or "
               "dwOutBuffSize is 0!";
    default:
        return "[SetDeviceConfig] _sDestMAC or lpInBuffer or lpOutBuffer is Null, dwInBuffSize or dwOutBuffSize is 0!";
    }
}

int CheckSetCommand(uint32_t dwCommand, const void *lpInBuffer, uint32_t dwInBuffSize, const void *lpOutBuffer,
                    uint32_t dwOutBuffSize) {
    // A row without an input record is sent by no export (command 4).
    const DEVICE_COMMAND *row = FindSetCommand(dwCommand);
    if (!row || row->dwInSize == 0)
        return FailArgumentF("[SetDeviceConfig] No support dwCommand[%d]", dwCommand);
    bool needsOut = row->dwOutSize != 0;
    if (!lpInBuffer || dwInBuffSize == 0 || (needsOut && (!lpOutBuffer || dwOutBuffSize == 0)))
        return FailArgument(MissingBufferLine(dwCommand));
    if (dwInBuffSize != row->dwInSize)
        return FailArgumentF("[SetDeviceConfig] dwInBuffSize error,the lenth of dwInBuffSize is %d", dwInBuffSize);
    if (needsOut && dwOutBuffSize != row->dwOutSize)
        return FailArgumentF("[SetDeviceConfig] dwOutBuffSize error,the lenth of dwOutBuffSize is %d", dwOutBuffSize);
    if (dwCommand == ZEVA_SET_MAILBOX && static_cast<const ZEVA_MAILBOX_CFG *>(lpInBuffer)->szMailBoxAddr[0] == '\0')
        return FailArgument("[SetDeviceConfig] szMailBoxAddr error");
    if (dwCommand == ZEVA_SET_WIFI_PARAM || dwCommand == ZEVA_SET_WIFI_PARAM_CHECK) {
        auto *wifi = static_cast<const ZEVA_WIFI_PARAM *>(lpInBuffer);
        if (wifi->szSSID[0] == '\0' || wifi->szPassword[0] == '\0')
            return FailArgument("[SetDeviceConfig] szSSID or szPassword error");
    }
    return 1;
}

int WifiParam(const char *pName, uint32_t dwCommand, const char *sMAC, const char *sSSID, const char *sPassword) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (!sMAC || !sSSID || !sPassword)
        return FailArgumentF("[%s] sMAC or sSSID or sPassword is Null", pName);
    size_t ssidLen = std::strlen(sSSID);
    size_t pwLen = std::strlen(sPassword);
    if (ssidLen > 64 || pwLen > 64)
        return FailArgument("[WifiParamCfg] sSSID or sPassword is too long");
    CLockedExport call(pName);
    ZEVA_WIFI_PARAM param{};
    param.dwSize = sizeof param;
    std::memcpy(param.szSSID, sSSID, ssidLen);
    std::memcpy(param.szPassword, sPassword, pwLen);
    return Ctrl()->SetDeviceConfig(0, sMAC, dwCommand, &param, sizeof param, nullptr, 0);
}

int ResetV50(const char *pName, const char *sDevSerialNO, const ZEVA_RESET_PARAM *pParam, void *pRet) {
    CLockedExport call(pName);
    ZEVA_LOG_INF("[%s] sDevSerialNO[%s] byEnableSyncIPCPW[%d] byResetType[%d] szAuthFile[%.260s] szCode[%.256s] "
                 "szGUID[%.128s]",
                 pName, sDevSerialNO, pParam->byEnableSyncIPCPW, pParam->byResetType, pParam->szAuthFile,
                 pParam->szCode, pParam->szGUID);
    return Ctrl()->ResetPasswd(sDevSerialNO, pParam, pRet);
}

}  // namespace

BOOL ZEVA_ActivateDevice(const char *sDevSerialNO, const char *sCommand) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (!sDevSerialNO || !sCommand)
        return FailArgument("[ActivateDevice] sDevSerialNO or sCommand is Null");
    if (!sDevSerialNO[0])
        return FailArgument("[ActivateDevice] sDevSerialNO is Null ");
    CLockedExport call("ActivateDevice", sDevSerialNO);
    ZEVA_LOG_INF("[ActivateDevice] sDevSerialNO[%s] ", sDevSerialNO);
    return Ctrl()->Active(sDevSerialNO, sCommand);
}

BOOL ZEVA_ModifyDeviceNetParam(const char *sMAC, const char *sPassword, ZEVA_NET_PARAM *lpNetParam) {
    ZEVA_LOG_INF(ZEVA_DASHES "[ModifyDeviceNetParam]" ZEVA_DASHES);
    uint8_t result[128] = {};
    return ZEVA_ModifyDeviceNetParam_V40(sMAC, sPassword, lpNetParam, result, sizeof result);
}

BOOL ZEVA_ModifyDeviceNetParam_V40(const char *sMAC, const char *sPassword, ZEVA_NET_PARAM *lpNetParam,
                                   void *lpRetNetParam, DWORD dwOutBuffSize) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (!sMAC || !sPassword || !lpNetParam || !lpRetNetParam || dwOutBuffSize == 0)
        // The separators are the GB2312 bytes A1 A2, as hosts find them in the log.
        return FailArgument("[ModifyDeviceNetParam_V40] sMAC\xA1\xA2 sPassword\xA1\xA2 lpNetParam or lpRetNetParam  is "
                            "Null or dwOutBuffSize is 0! ");
    if (dwOutBuffSize != 128)
        return FailArgumentF("[ModifyDeviceNetParam_V40] dwOutBuffSize error,the lenth of dwOutBuffSize is %d",
                             dwOutBuffSize);
    CLockedExport call("ModifyDeviceNetParam_V40");
    const ZEVA_NET_PARAM &p = *lpNetParam;
    ZEVA_LOG_INF("[ModifyDeviceNetParam_V40] sMAC[%s] byDhcpEnable[%d] byIPv6MaskLen[%d] dwSDKOverTLSPort[%d] "
                 "szIPv4Address[%.16s] szIPv4Gateway[%.16s] szIPv4SubNetMask[%.16s] szIPv6Address[%.128s] "
                 "szIPv6Gateway[%.128s] wCmdPort[%d] wHttpPort[%d]",
                 sMAC, p.byDhcpEnable, p.byIPv6MaskLen, p.dwSDKOverTLSPort, p.szIPv4Address, p.szIPv4Gateway,
                 p.szIPv4SubNetMask, p.szIPv6Address, p.szIPv6Gateway, p.wCmdPort, p.wHttpPort);
    return Ctrl()->ModifyDeviceNetParam(sMAC, sPassword, lpNetParam, lpRetNetParam);
}

BOOL ZEVA_ResetDefaultPasswd(const char *sDevSerialNO, const char *sCommand) {
    ZEVA_LOG_INF(ZEVA_DASHES "[ResetDefaultPasswd]" ZEVA_DASHES);
    if (!sDevSerialNO || !sCommand) {
        CExportScope scope;
        return FailArgument("[ResetPasswd_V40] sDevSerialNO or sCommand is Null");
    }
    ZEVA_RESET_CODE_PARAM param{};
    std::memcpy(param.szCode, sCommand, sizeof param.szCode);
    return ZEVA_ResetPasswd(sDevSerialNO, &param);
}

BOOL ZEVA_ResetPasswd(const char *sDevSerialNO, ZEVA_RESET_CODE_PARAM *pResetParam) {
    ZEVA_LOG_INF(ZEVA_DASHES "[ResetPasswd]" ZEVA_DASHES);
    if (!sDevSerialNO || !pResetParam) {
        CExportScope scope;
        return FailArgument("[ResetPasswd_V40] sDevSerialNO or pResetParam is Null");
    }
    ZEVA_RESET_PARAM_V40 v40{};
    v40.dwSize = sizeof v40;
    v40.byResetType = pResetParam->szAuthFile[0] ? 2 : 1;
    v40.byEnableSyncIPCPW = pResetParam->byEnableSyncIPCPW;
    std::memcpy(v40.szPassword, pResetParam->szPassword, sizeof v40.szPassword);
    std::memcpy(v40.szCode, pResetParam->szCode, sizeof v40.szCode);
    std::memcpy(v40.szAuthFile, pResetParam->szAuthFile, sizeof v40.szAuthFile);
    uint8_t result[256] = {};
    return ZEVA_ResetPasswd_V40(sDevSerialNO, &v40, result);
}

BOOL ZEVA_ResetPasswd_V40(const char *sDevSerialNO, ZEVA_RESET_PARAM_V40 *pResetParam, void *pRetResetParam) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (!sDevSerialNO || !pResetParam || !pRetResetParam)
        return FailArgument("[ResetPasswd_V40] sDevSerialNO or pResetParam or pRetResetParam is Null");
    if (!sDevSerialNO[0])
        return FailArgument("[ResetPasswd_V40] sDevSerialNO  is Null");
    // A 15516-byte record is too large for a thread's stack of the host.
    std::unique_ptr<ZEVA_RESET_PARAM> param(new ZEVA_RESET_PARAM());
    param->dwSize = sizeof *param;
    param->byResetType = pResetParam->byResetType;
    param->byEnableSyncIPCPW = pResetParam->byEnableSyncIPCPW;
    std::memcpy(param->szPassword, pResetParam->szPassword, sizeof pResetParam->szPassword);
    std::memcpy(param->szCode, pResetParam->szCode, sizeof param->szCode);
    std::memcpy(param->szAuthFile, pResetParam->szAuthFile, sizeof param->szAuthFile);
    std::memcpy(param->szGUID, pResetParam->szGUID, sizeof param->szGUID);
    param->struSecurityQuestion = pResetParam->struSecurityQuestion;
    uint8_t result[128] = {};
    int ok = ResetV50("ResetPasswd_V40", sDevSerialNO, param.get(), result);
    std::memcpy(pRetResetParam, result, 2);
    return ok;
}

BOOL ZEVA_ResetPasswd_V50(const char *sDevSerialNO, ZEVA_RESET_PARAM *pResetParam, void *pRetResetParam) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (!sDevSerialNO || !pResetParam || !pRetResetParam)
        return FailArgument("[ResetPasswd_V50] sDevSerialNO or pResetParam or pRetResetParam is Null");
    if (!sDevSerialNO[0])
        return FailArgument("[ResetPasswd_V50] sDevSerialNO  is empty");
    return ResetV50("ResetPasswd_V50", sDevSerialNO, pResetParam, pRetResetParam);
}

BOOL ZEVA_GetDeviceConfig(const char *sDevSerialNO, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                          void *lpOutBuffer, DWORD dwOutBuffSize) {
    return ZEVA_GetDeviceConfig_V20(1, sDevSerialNO, dwCommand, lpInBuffer, dwInBuffSize, lpOutBuffer, dwOutBuffSize);
}

BOOL ZEVA_GetDeviceConfigByMAC(const char *sMAC, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                               void *lpOutBuffer, DWORD dwOutBuffSize) {
    return ZEVA_GetDeviceConfig_V20(0, sMAC, dwCommand, lpInBuffer, dwInBuffSize, lpOutBuffer, dwOutBuffSize);
}

BOOL ZEVA_GetDeviceConfig_V20(DWORD bySelect, const char *sDevSNOrMAC, DWORD dwCommand, void *lpInBuffer,
                              DWORD dwInBuffSize, void *lpOutBuffer, DWORD dwOutBuffSize) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (Empty(sDevSNOrMAC))
        return FailArgument("[GetDeviceConfig_V20] sDevSNOrMAC is Null");
    if (!CheckGetCommand(dwCommand, lpOutBuffer, dwOutBuffSize))
        return 0;
    CLockedExport call("GetDeviceConfig_V20");
    ZEVA_LOG_INF("[GetDeviceConfig_V20] sDevSNOrMAC[%s] dwCommand[%d] lpInBuffer[0x%x] dwInBuffSize[%d] "
                 "lpOutBuffer[0x%x] dwOutBuffSize[%d]",
                 sDevSNOrMAC, dwCommand, ZEVA_PTR_ARG(lpInBuffer), dwInBuffSize, ZEVA_PTR_ARG(lpOutBuffer),
                 dwOutBuffSize);
    return Ctrl()->GetDeviceConfig(bySelect, sDevSNOrMAC, dwCommand, lpInBuffer, dwInBuffSize, lpOutBuffer,
                                   dwOutBuffSize);
}

BOOL ZEVA_SetDeviceConfig(const char *sDevSerialNO, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                          void *lpOutBuffer, DWORD dwOutBuffSize) {
    CExportScope scope;
    Ctrl()->SetLastError(ZEVA_NOERROR);
    if (Empty(sDevSerialNO))
        return FailArgument("[SetDeviceConfig] sDevSerialNO is Null");
    if (!CheckSetCommand(dwCommand, lpInBuffer, dwInBuffSize, lpOutBuffer, dwOutBuffSize))
        return 0;
    CLockedExport call("SetDeviceConfig");
    ZEVA_LOG_INF("[SetDeviceConfig] sDevSerialNO[%s] dwCommand[%d] lpInBuffer[0x%x] dwInBuffSize[%d] "
                 "lpOutBuffer[0x%x] dwOutBuffSize[%d]",
                 sDevSerialNO, dwCommand, ZEVA_PTR_ARG(lpInBuffer), dwInBuffSize, ZEVA_PTR_ARG(lpOutBuffer),
                 dwOutBuffSize);
    return Ctrl()->SetDeviceConfig(1, sDevSerialNO, dwCommand, lpInBuffer, dwInBuffSize, lpOutBuffer, dwOutBuffSize);
}

BOOL ZEVA_WifiParamCfg(const char *sMAC, const char *sSSID, const char *sPassword) {
    return WifiParam("WifiParamCfg", ZEVA_SET_WIFI_PARAM, sMAC, sSSID, sPassword);
}

BOOL ZEVA_WifiParamCheck(const char *sMAC, const char *sSSID, const char *sPassword) {
    return WifiParam("WifiParamCheck", ZEVA_SET_WIFI_PARAM_CHECK, sMAC, sSSID, sPassword);
}
