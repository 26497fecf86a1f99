#include "interface/ExportCall.h"

#include "utils/SdkLog.h"

namespace ZEVA {

CLockedExport::CLockedExport(const char *pName, const char *pDetail) : m_pName(pName), m_pDetail(pDetail) {
    CGlobalCtrl::InterfaceLock().Lock();
    if (m_pDetail)
        ZEVA_LOG_INF(ZEVA_DASHES "[%s] in [%s]" ZEVA_DASHES, m_pName, m_pDetail);
    else
        ZEVA_LOG_INF(ZEVA_DASHES "[%s] in" ZEVA_DASHES, m_pName);
}

CLockedExport::~CLockedExport() {
    if (m_pDetail)
        ZEVA_LOG_INF(ZEVA_DASHES "[%s] out [%s]" ZEVA_DASHES, m_pName, m_pDetail);
    else
        ZEVA_LOG_INF(ZEVA_DASHES "[%s] out" ZEVA_DASHES, m_pName);
    CGlobalCtrl::InterfaceLock().Unlock();
}

int FailArgument(const char *pLine) {
    ZEVA_LOG_ERR("%s", pLine);
    CGlobalCtrl::GetInstance()->SetLastError(ZEVA_ERR_PARAM);
    return 0;
}

}  // namespace ZEVA
