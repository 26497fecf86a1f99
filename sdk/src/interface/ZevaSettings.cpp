// The exports that report and set: the last error, the version, the inquiry and its interval,
// the device filter and the log.
#include "interface/ExportCall.h"
#include "morva/ComInterfaceMorva.h"
#include "utils/SdkLog.h"

using namespace ZEVA;

DWORD ZEVA_GetLastError(void) {
    uint32_t code = CGlobalCtrl::GetInstance()->GetLastError();
    ZEVA_LOG_INF(ZEVA_DASHES "[GetLastError]" ZEVA_DASHES "[%d]", code);
    return code;
}

DWORD ZEVA_GetVersion(void) {
    CExportScope scope;
    CGlobalCtrl::GetInstance()->SetLastError(ZEVA_NOERROR);
    ZEVA_LOG_INF(ZEVA_DASHES "[GetVersion]" ZEVA_DASHES);
    ZEVA_LOG_INF("version:%s", ZEVA_VERSION_BANNER);
    return 0x04040038;
}

BOOL ZEVA_SendInquiry(void) {
    CLockedExport call("SendInquiry");
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    if (!ctrl->SendInquiry())
        return 0;
    ctrl->SetLastError(ZEVA_NOERROR);
    return 1;
}

BOOL ZEVA_InquirySpecificSubnet(ZEVA_SUBNET_INFO *pSubnetInfo) {
    CExportScope scope;
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    if (!pSubnetInfo)
        return FailArgument("[InquirySpecificSubnet] pSubnetInfo is Null");
    CLockedExport call("InquirySpecificSubnet");
    return ctrl->InquirySpecificSubnet(pSubnetInfo);
}

BOOL ZEVA_ParseData(void *lpInBuffer, DWORD dwInBuffSize) {
    CExportScope scope;
    if (!lpInBuffer || dwInBuffSize == 0)
        return FailArgument("[ParseData] lpInBuffer is Null or dwInBuffSize <= 0");
    CLockedExport call("ParseData");
    return CGlobalCtrl::GetInstance()->ParseData(static_cast<const char *>(lpInBuffer), dwInBuffSize);
}

DWORD ZEVA_SetAutoRequestInterval(DWORD dwInterval) {
    CExportScope scope;
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    ZEVA_LOG_INF(ZEVA_DASHES "[SetAutoRequestInterval]" ZEVA_DASHES);
    ZEVA_LOG_INF("[SetAutoRequestInterval] dwInterval[%d]", dwInterval);
    return ctrl->SetAutoRequestInterval(dwInterval);
}

BOOL ZEVA_SetDeviceFilterRule(int32_t dwFilterRule, void *lpInBuff, DWORD dwInBufLen) {
    CExportScope scope;
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    ZEVA_LOG_INF(ZEVA_DASHES "[SetDeviceFilterRule]" ZEVA_DASHES);
    ZEVA_LOG_INF("[SetDeviceFilterRule] dwFilterRule[%x]", uint32_t(dwFilterRule));
    return ctrl->SetDeviceFilterRule(dwFilterRule, lpInBuff, dwInBufLen);
}

BOOL ZEVA_SetLogToFile(int32_t nLogLevel, const char *strLogDir, BOOL bAutoDel) {
    CExportScope scope;
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    ZEVA_LOG_INF(ZEVA_DASHES "[SetLogToFile]" ZEVA_DASHES);
    if (!ctrl->IsStarted())
        return ctrl->SetLogParam(nLogLevel, strLogDir, uint32_t(bAutoDel));
    if (Morva_SetLogFile(nLogLevel, strLogDir, bAutoDel))
        return 1;
    ctrl->SetLastError(uint32_t(Morva_GetLastError()));
    return 0;
}
