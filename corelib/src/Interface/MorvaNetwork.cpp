// Flat forwarders to the controller's local addresses, time-outs and flags, and the splitting
// sends and data dumps.
#include "morva/MorvaNetwork.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/ComInterfaceMorva.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_time.h"

namespace Vorezi {
namespace {

constexpr int kSendPiece = 1460;
constexpr int kDumpHexMax = 128;
constexpr int kDumpTextPiece = 500;

int Pin(bool bIPv6, DWORD dwIPIndex, DWORD bEnableBind) {
    if (!Ctrl()->CheckInit()) return 0;
    const int iResult = bIPv6 ? Ctrl()->SetDefaultIPv6Index(dwIPIndex, bEnableBind)
                              : Ctrl()->SetDefaultIPv4Index(dwIPIndex, bEnableBind);
    if (iResult != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, %s Failed, dwIPIndex[%d], bEnableBind[%d]",
                        bIPv6 ? "Morva_SetLocalIPv6" : "Morva_SetValidIP",
                        bIPv6 ? "SetDefaultIPv6Index" : "SetDefaultIPv4Index", int(dwIPIndex), int(bEnableBind));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

template <class F>
int List(const void *pBuf, F fnList) {
    if (!Ctrl()->CheckInit()) return 0;
    if (pBuf == nullptr) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    Ctrl()->CheckUpdateLocalIP();
    if (fnList() != 0) return 0;
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

}  // namespace
}  // namespace Vorezi

using namespace Vorezi;

// ---- Local addresses, time-outs and flags ----

int Morva_SetValidIP(DWORD dwIPIndex, DWORD bEnableBind) { return Pin(false, dwIPIndex, bEnableBind); }
int Morva_SetLocalIPv6(DWORD dwIPIndex, DWORD bEnableBind) { return Pin(true, dwIPIndex, bEnableBind); }

int Morva_GetLocalIPv4List(char *pBuf, int *pCount, int *pBind) {
    return List(pBuf, [&] { return Ctrl()->GetLocalIPv4List(pBuf, pCount, pBind); });
}

int Morva_GetLocalIPv6List(BYTE *pBuf, int *pCount, int *pBind) {
    int iCount = 0, iBind = 0;  // the table walk needs both outputs
    const int bOk = List(pBuf, [&] { return Ctrl()->GetLocalIPv6List(pBuf, &iCount, &iBind); });
    if (bOk && pCount) *pCount = iCount;
    if (bOk && pBind) *pBind = iBind;
    return bOk;
}

int Morva_GetLocalIPv4Str(char *pText) { return Ctrl()->CheckInit() ? Ctrl()->GetLocalIPv4Str(pText) : -1; }
int Morva_GetLocalIPv6Addr(BYTE *pAddr) { return Ctrl()->CheckInit() ? Ctrl()->GetLocalIPv6Addr(pAddr) : -1; }
int Morva_UpdateLocalIP(void) { return Ctrl()->CheckInit() ? Ctrl()->CheckUpdateLocalIP() : 0; }
DWORD Morva_IsBindLocalIP(void) { return Ctrl()->CheckInit() ? Ctrl()->IsBindLocalIP() : 0; }

int Morva_SetConnectTimeOut(DWORD dwTimeOut, DWORD dwSecond) {
    return Ctrl()->CheckInit() ? Ctrl()->SetConnectTimeOut(dwTimeOut, dwSecond) : 0;
}

int Morva_GetConnectTimeOut(DWORD *pTimeOut, int *pSecond) {
    if (!Ctrl()->CheckInit()) return 0;
    Ctrl()->GetConnectTimeOut(pTimeOut, pSecond);
    return 1;
}

int Morva_SetDefaultRecvTimeOut(DWORD dwTimeOut) {
    return Ctrl()->CheckInit() ? Ctrl()->SetDefaultRecvTimeOut(dwTimeOut) : 0;
}

DWORD Morva_GetDefaultRecvTimeOut(void) { return Ctrl()->CheckInit() ? Ctrl()->GetDefaultRecvTimeOut() : 0; }

int Morva_SetNagleFlag(DWORD dwFlag) {
    if (!Ctrl()->CheckInit()) return 0;
    if (dwFlag > 1) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return Ctrl()->SetNagleFlag(dwFlag);
}

int Morva_GetNagleFlag(DWORD *pFlag) { return Ctrl()->CheckInit() ? Ctrl()->GetNagleFlag(pFlag) : 0; }
int Morva_GetNagleMode(void) { return Ctrl()->CheckInit() ? Ctrl()->GetNagleMode() : kNagleModeOff; }
DWORD Morva_IsCustomTiming(void) { return Ctrl()->CheckInit() ? Ctrl()->IsCustomTiming() : 0; }
DWORD Morva_IsAsyncIO(void) { return Ctrl()->CheckInit() ? Ctrl()->IsAsyncIO() : 0; }

// ---- Sending ----

int Morva_SplittingSendWithTimeout(int iSockFd, const char *pBuf, int iBufLen, int iTimeOut) {
    if (iSockFd == -1 || pBuf == nullptr || iBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_INF,
                        "Morva_SplittingSendWithTimeout, Invalid Param, iSockFd[%d], pBuf[0x%X], iBufLen[%d]", iSockFd,
                        MORVA_PTR_ARG(pBuf), iBufLen);
        return -1;
    }
    const bool bUnlimited = iTimeOut == -1;
    int64_t llTimeLeft = iTimeOut;
    int iSent = 0;
    while ((bUnlimited || llTimeLeft > 0) && iSent < iBufLen) {
        const int iSendOnce = std::min(kSendPiece, iBufLen - iSent);
        const uint64_t ullStart = YAR_GetTimeTick();
        const int iResult = YAR_Sendn(iSockFd, pBuf + iSent, iSendOnce,
                                      bUnlimited ? YAR_INFINITE_TIMEOUT : uint32_t(llTimeLeft));
        if (iResult == -1) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "Morva_SplittingSendWithTimeout, YAR_Sendn Failed, iSockFd[%d], pBuf[0x%X], iSendOnce[%d], "
                            "iTimeOutLeft[%d], syserror[%d]",
                            iSockFd, MORVA_PTR_ARG(pBuf), iSendOnce, int(llTimeLeft), YAR_GetSystemLastError());
            SetError(MORVA_ERR_SEND);
            return -1;
        }
        if (iResult == 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "Morva_SplittingSendWithTimeout, YAR_Sendn Failed, iSockFd[%d], pBuf[0x%X], iSendOnce[%d], "
                            "iSentLen[%d], iTimeOutLeft[%d], syserror[%d]",
                            iSockFd, MORVA_PTR_ARG(pBuf), iSendOnce, iSent, int(llTimeLeft), YAR_GetSystemLastError());
            break;
        }
        iSent += iResult;
        if (!bUnlimited) llTimeLeft -= int64_t(YAR_GetTimeTick() - ullStart);
        if (iResult < iSendOnce) break;  // the time ran out within this piece
    }
    return iSent;
}

int Morva_SplittingSend(int iSockFd, const char *pBuf, int iBufLen) {
    if (iSockFd == -1 || pBuf == nullptr || iBufLen <= 0) return -1;
    int iSent = 0;
    while (iSent < iBufLen) {
        const int iResult = YAR_Send(iSockFd, pBuf + iSent, std::min(kSendPiece, iBufLen - iSent));
        if (iResult < 0) {
            SetError(MORVA_ERR_SEND);
            return -1;
        }
        if (iResult == 0) break;
        iSent += iResult;
    }
    return iSent;
}

// ---- Dumps ----

int Morva_DumpDataByHex(const BYTE *pData, int iLen) {
    if (pData == nullptr || iLen <= 0) return 0;
    const int iShown = std::min(iLen, kDumpHexMax);
    char szHex[kDumpHexMax * 3 + 1] = {};
    for (int i = 0; i < iShown; ++i) std::snprintf(szHex + 3 * i, 4, "%02X ", pData[i]);
    Morva_LogPrint(LOG_LEVEL_DBG, "Morva_DumpDataByHex[%d][0x%X][%d][%d][%s]", int(gettid()), MORVA_PTR_ARG(pData),
                   iLen, iShown, szHex);
    return 1;
}

int Morva_DumpDataByString(DWORD dwCategory, const char *pData, int iLen) {
    if (pData == nullptr || iLen <= 0 || !Ctrl()->IsDebugCategoryEnabled(dwCategory)) return 0;
    for (int iPos = 0; iPos < iLen; iPos += kDumpTextPiece) {
        const int iPiece = std::min(kDumpTextPiece, iLen - iPos);
        Morva_LogPrint(LOG_LEVEL_DBG, "Morva_DumpDataByString[0x%X][%d][%d][%.*s]", MORVA_PTR_ARG(pData), iLen, iPiece,
                       iPiece, pData + iPos);
    }
    return 0;
}
