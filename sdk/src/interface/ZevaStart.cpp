// The exports that start and stop the SDK.
#include "interface/ExportCall.h"
#include "utils/SdkLog.h"

using namespace ZEVA;

BOOL ZEVA_Start_V30(pDeviceFindCallBack pDeviceFindCallBack, void * /*pReserved*/, void *pUserData) {
    CExportScope scope;
    if (!pDeviceFindCallBack)
        return FailArgument("[Start_V30] pDeviceFindCallBack is Null ");
    return ZEVA_Start_V60(pDeviceFindCallBack, nullptr, nullptr, pUserData);
}

BOOL ZEVA_Start_V40(pDeviceFindCallBack pDeviceFindCallBack, void * /*pReserved*/, void *pUserData) {
    CExportScope scope;
    if (!pDeviceFindCallBack)
        return FailArgument("[Start_V40] pDeviceFindCallBack is Null ");
    return ZEVA_Start_V60(nullptr, pDeviceFindCallBack, nullptr, pUserData);
}

BOOL ZEVA_Start_V50(ZEVA_START_PARAM *pStartParam) {
    CExportScope scope;
    if (!pStartParam || !pStartParam->fnDevCB)
        return FailArgument("[Start_V50] NULL == pStartParam || NULL == pStartParam->fnDevCB");
    return ZEVA_Start_V60(nullptr, pStartParam->fnDevCB, pStartParam->fnSubnetCB, pStartParam->pUserData);
}

BOOL ZEVA_Start_V60(pDeviceFindCallBack fnOldDevCB, pDeviceFindCallBack fnNewDevCB,
                    pSubnetDeviceFindCallBack fnSubnetCB, void *pUserData) {
    CLockedExport call("Start_V60");
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    if (!ctrl->Init(fnOldDevCB, fnNewDevCB, fnSubnetCB, pUserData))
        return 0;
    ZEVA_LOG_INF("[Start_V60]  Success!");
    ctrl->SendInquiry();
    ctrl->SetLastError(ZEVA_NOERROR);
    return 1;
}

BOOL ZEVA_Stop(void) {
    CLockedExport call("Stop");
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    return ctrl->Fini();
}

BOOL ZEVA_Clearup(void) {
    CLockedExport call("Clearup");
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetLastError(ZEVA_NOERROR);
    return ctrl->Cleanup();
}
