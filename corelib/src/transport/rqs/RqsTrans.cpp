// The RQS transport's operations over one library instance.
#include "transport/rqs/RqsTrans.h"

#include <strings.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Utils/Utils.h"

namespace Vorezi {

// The parameter record crosses into the library: its byte layout is the contract.
static_assert(sizeof(RQS_SERVICE_PARAM) == 276, "service parameter record is 276 bytes");
static_assert(offsetof(RQS_SERVICE_PARAM, dwRes0) == 0 && offsetof(RQS_SERVICE_PARAM, dwParam1) == 4 &&
                  offsetof(RQS_SERVICE_PARAM, dwEnable1) == 8 && offsetof(RQS_SERVICE_PARAM, dwRes1) == 12 &&
                  offsetof(RQS_SERVICE_PARAM, dwEnable2) == 16 && offsetof(RQS_SERVICE_PARAM, dwParam5) == 20 &&
                  offsetof(RQS_SERVICE_PARAM, dwEnable3) == 164,
              "service parameter word offsets");

namespace {

constexpr int kVersionTextLen = 128;
constexpr int kVersionBytes = 4;
constexpr int kVersionDigits = 3;

// The integer at the front of a version number: leading blanks and a sign, then at most three
// digits. The text comes from an outside library, so nothing longer is read.
int ParseVersionNumber(const char *p, const char *pEnd) {
    while (p < pEnd && (*p == ' ' || *p == '\t'))
        p++;
    int iSign = 1;
    if (p < pEnd && (*p == '+' || *p == '-'))
        iSign = *p++ == '-' ? -1 : 1;
    int iValue = 0;
    for (int i = 0; i < kVersionDigits && p < pEnd && *p >= '0' && *p <= '9'; i++)
        iValue = iValue * 10 + (*p++ - '0');
    return iSign * iValue;
}

// Stores the numbers behind the version letter, separated by '.' and ended by " build", into at
// most four bytes; further numbers are ignored.
void ParseVersionNumbers(const char *pText, BYTE *pOut) {
    int iIndex = 0;
    for (const char *p = pText; iIndex < kVersionBytes;) {
        const char *pSep = std::strchr(p, '.');
        size_t uSepLen = 1;
        if (!pSep) {
            pSep = std::strstr(p, " build");
            uSepLen = std::strlen(" build");
        }
        if (!pSep)
            break;
        pOut[iIndex++] = static_cast<BYTE>(ParseVersionNumber(p, pSep));
        p = pSep + uSepLen;
    }
}

}  // namespace

void *CRqsTrans::s_hRqsCom = nullptr;
std::atomic<int> CRqsTrans::s_bLoaded{0};

int CRqsTrans::MapError(int iRqsRet) {
    auto uRet = static_cast<uint32_t>(iRqsRet);
    if (uRet >= 0x80000001u && uRet <= 0x80000005u)
        return MORVA_ERR_RQS_RESULT_BASE + static_cast<int>(uRet & 0xFFu);
    if (iRqsRet == -1)
        return MORVA_ERR_RQS_LIB;
    return iRqsRet;
}

int CRqsTrans::LoadRqsLib() {
    if (s_bLoaded.load(std::memory_order_acquire))
        return 1;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!s_hRqsCom) {
        s_hRqsCom = pCtrl->LoadDSo(BASE_DLL_RQS);
        if (!s_hRqsCom) {
            LogModule_Write(LOG_LEVEL_ERR, "CRqsTrans::LoadRqsLib, LoadDSo BASE_DLL_RQS Failed, syserror[%d]",
                            Utils_GetSysLastError());
            SetError(MORVA_ERR_RQS_LIB);
            return 0;
        }
    }
    if (!CRqsAPI::LoadAPI(s_hRqsCom))
        LogModule_Write(LOG_LEVEL_ERR, "CRqsTrans::LoadRqsLib, LoadAPI Failed");
    s_bLoaded.store(1, std::memory_order_release);
    return 1;
}

int CRqsTrans::CreateRqsTrans() {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->RqsLibLock()) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsTrans::CreateRqsTrans, RqsLibLock Failed");
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    int bLoaded = LoadRqsLib();  // sets 256 when it fails
    pCtrl->RqsLibUnlock();
    return bLoaded;
}

CRqsTrans *Morva_CreateRqsTrans() {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->CheckInit())
        return nullptr;
    if (!pCtrl->RqsLibLock()) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateRqsTrans, RqsLibLock Failed 1, syserror[%d]",
                        Utils_GetSysLastError());
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
    if (!CRqsTrans::CreateRqsTrans()) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateRqsTrans, CreateRqsTrans Failed");
        pCtrl->RqsLibUnlock();
        return nullptr;
    }
    auto *pRqsTrans = new (std::nothrow) CRqsTrans;
    if (!pCtrl->RqsLibUnlock())
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateRqsTrans, RqsLibUnlock Failed 2, syserror[%d]",
                        Utils_GetSysLastError());
    if (pRqsTrans) {
        LogModule_Write(LOG_LEVEL_DBG, "Morva_CreateRqsTrans, SUCC, pRqsTrans[0x%X]", MORVA_PTR_ARG(pRqsTrans));
    } else {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateRqsTrans, New pRqsTrans Failed, size[%d]",
                        static_cast<int>(sizeof(CRqsTrans)));
        SetError(MORVA_ERR_ALLOC);
    }
    return pRqsTrans;
}

void Morva_DestroyRqsTrans(CRqsTransInterface *pRqsTrans) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->CheckInit())
        return;
    // The object is deleted even when the lock cannot be had: it must not leak.
    int bLocked = pCtrl->RqsLibLock();
    if (!bLocked) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_DestroyRqsTrans, RqsLibLock Failed, syserror[%d]",
                        Utils_GetSysLastError());
        SetError(MORVA_ERR_ALLOC);
    }
    auto *pTrans = dynamic_cast<CRqsTrans *>(pRqsTrans);
    if (!pTrans) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_DestroyRqsTrans, pRqsTrans == NULL");
        Utils_Assert();
    } else {
        delete pTrans;
    }
    if (bLocked && !pCtrl->RqsLibUnlock())
        LogModule_Write(LOG_LEVEL_ERR, "Morva_DestroyRqsTrans, RqsLibUnlock Failed, syserror[%d]",
                        Utils_GetSysLastError());
}

CRqsTrans::~CRqsTrans() {
    if (m_iRqsHandle == -1)
        return;
    if (m_bStarted)
        CRqsAPI::Stop(m_iRqsHandle);
    CRqsAPI::Destroy(m_iRqsHandle);
    m_iRqsHandle = -1;
}

int CRqsTrans::HasInstance(const char *pInvalidText) const {
    if (m_iRqsHandle != -1)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, pInvalidText, m_iRqsHandle);
    SetError(MORVA_ERR_NOT_READY);
    return 0;
}

int CRqsTrans::CheckResult(int iRqsRet, const char *pFailedText) const {
    if (iRqsRet == 0)
        return 1;
    if (pFailedText)
        LogModule_Write(LOG_LEVEL_ERR, pFailedText, m_iRqsHandle, iRqsRet);
    SetError(MapError(iRqsRet));
    return 0;
}

int CRqsTrans::StartRqsService(uintptr_t uCreateArg, DWORD dwParam1, RQS_DATA_CALLBACK fnCallBack, void *pUser,
                               DWORD dwParam5) {
    m_iRqsHandle = CRqsAPI::Create(uCreateArg);
    if (m_iRqsHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsInterface::StartRqsService, pRqs_Create Failed, m_iRqsHandle[%d]",
                        m_iRqsHandle);
        SetError(MORVA_ERR_RQS_LIB);
        return 0;
    }
    RQS_SERVICE_PARAM param;
    std::memset(&param, 0, sizeof(param));
    param.dwParam1 = dwParam1;
    param.dwEnable1 = 1;
    param.dwEnable2 = 1;
    param.dwParam5 = dwParam5;
    param.dwEnable3 = 1;
    int iRqsRet = CRqsAPI::SetParam(m_iRqsHandle, &param);
    if (iRqsRet != 0)
        LogModule_Write(LOG_LEVEL_ERR,
                        "CRqsInterface::StartRqsService, pRqs_SetParam Failed, m_iRqsHandle[%d], iRqsRet[%d]",
                        m_iRqsHandle, iRqsRet);
    // A failed step keeps the handle for StopRqsService or the destructor.
    if (!CheckResult(CRqsAPI::RegisterDataCallBack(m_iRqsHandle, fnCallBack, pUser),
                     "CRqsInterface::StartRqsService, pRqs_RegisterDataCallBack Failed, m_iRqsHandle[%d], iRqsRet[%d]") ||
        !CheckResult(CRqsAPI::Start(m_iRqsHandle),
                     "CRqsInterface::StartRqsService, pRqs_Start Failed, m_iRqsHandle[%d], iRqsRet[%d]"))
        return 0;
    m_bStarted = 1;
    return 1;
}

int CRqsTrans::StopRqsService() {
    if (m_iRqsHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsInterface::StopRqsService, Invalid m_iRqsHandle[%d]", m_iRqsHandle);
        // An error of the failed step before this one is the more useful one to keep.
        if (LastError() == 0)
            SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    if (m_bStarted) {
        if (!CheckResult(CRqsAPI::Stop(m_iRqsHandle),
                         "CRqsInterface::StopRqsService, pRqs_Stop Failed, m_iRqsHandle[%d], iRqsRet[%d]"))
            return 0;
        m_bStarted = 0;
    }
    if (!CheckResult(CRqsAPI::Destroy(m_iRqsHandle),
                     "CRqsInterface::StopRqsService, pRqs_Destroy Failed, m_iRqsHandle[%d], iRqsRet[%d]"))
        return 0;
    m_iRqsHandle = -1;
    return 1;
}

int CRqsTrans::InputData(uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3) {
    return HasInstance("CRqsInterface::InputData, Invalid m_iRqsHandle[%d]") &&
           CheckResult(CRqsAPI::InputData(m_iRqsHandle, uArg1, uArg2, uArg3), nullptr);
}

int CRqsTrans::InputRawData(const RQS_PACK_PARAM *pPackParam, const void *pData, DWORD dwLength) {
    if (!pPackParam || !pData || dwLength == 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsInterface::InputRawData, Invalid Param, lpPackParam[0x%X], pData[0x%X]",
                        MORVA_PTR_ARG(pPackParam), MORVA_PTR_ARG(pData));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!HasInstance("CRqsInterface::InputRawData, Invalid m_iRqsHandle[%d]"))
        return 0;
    RQS_PACK_PARAM pack;
    std::memcpy(&pack, pPackParam, sizeof(pack));
    RQS_DATA_BLOCK block = {pData, dwLength};
    return CheckResult(CRqsAPI::InputRawData(m_iRqsHandle, &pack, &block),
                       "CRqsInterface::InputRawData, pRqs_InputRawData Failed, m_iRqsHandle[%d], iRqsRet[%d]");
}

int CRqsTrans::GetState(uintptr_t uArg1, uintptr_t uArg2) {
    return HasInstance("CRqsInterface::GetState, Invalid m_iRqsHandle[%d]") &&
           CheckResult(CRqsAPI::GetStat(m_iRqsHandle, uArg1, uArg2),
                       "CRqsInterface::GetState, pRqs_GetStat Failed, m_iRqsHandle[%d], iRqsRet[%d]");
}

int CRqsTrans::SetNotifyParam(uintptr_t uArg) {
    return HasInstance("CRqsInterface::SetNotifyParam, Invalid m_iRqsHandle[%d]") &&
           CheckResult(CRqsAPI::SetNotifyParam(m_iRqsHandle, uArg),
                       "CRqsInterface::SetNotifyParam, pRqs_SetNotifyParam Failed, m_iRqsHandle[%d], iRqsRet[%d]");
}

int CRqsTrans::GetVersion(BYTE *pVersion) {
    if (!pVersion) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsInterface::GetVersion, pVersion is NULL");
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    char szRqsVersion[kVersionTextLen] = {0};
    if (!CheckResult(CRqsAPI::GetVersion(szRqsVersion, kVersionTextLen),
                     "CRqsInterface::GetVersion, pRqs_GetVersion Failed, m_iRqsHandle[%d], iRqsRet[%d]"))
        return 0;
    szRqsVersion[kVersionTextLen - 1] = '\0';  // the library's text is not trusted to end
    const char *pV = std::strpbrk(szRqsVersion, "vV");
    if (!pV) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsInterface::GetVersion, No v, m_iRqsHandle[%d]", m_iRqsHandle);
        return 0;
    }
    BYTE byVersion[kVersionBytes] = {0};
    if (strncasecmp(pV, "V1.3.0", 6) == 0) {
        byVersion[3] = 0;
    } else {
        byVersion[3] = 3;
        LogModule_Write(LOG_LEVEL_INF, "CRqsInterface::GetVersion, szRqsVersion[%s]", szRqsVersion);
    }
    ParseVersionNumbers(pV + 1, byVersion);
    std::memcpy(pVersion, byVersion, kVersionBytes);
    return 1;
}

}  // namespace Vorezi
