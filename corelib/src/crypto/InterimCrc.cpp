#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Zlib/ZlibAPI.h"
#include "crypto/Interim.h"

namespace Vorezi {

int Interim_CRC32(DWORD dwCrc, const BYTE *pBuf, DWORD dwLen, DWORD *pResult) {
    if (pResult == nullptr || (pBuf == nullptr && dwLen != 0)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CRC32, Invalid Param, pBuf[0x%X], dwLen[%u], pResult[0x%X]",
                        MORVA_PTR_ARG(pBuf), dwLen, MORVA_PTR_ARG(pResult));
        return 0;
    }
    CZlibAPI *pZlib = GetZlibAPI();
    if (pZlib == nullptr || !pZlib->IsLoaded()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CRC32, GetZlibAPI Failed");
        return 0;
    }
    // 0xFFFFFFFF is a real CRC as well, so the binding decides, not the value.
    if (!pZlib->IsCrc32Bound()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CRC32, ZlibCrc32 Failed");
        return 0;
    }
    *pResult = static_cast<DWORD>(pZlib->Crc32(dwCrc, pBuf, dwLen, 0xFFFFFFFFul));
    return 1;
}

}  // namespace Vorezi
