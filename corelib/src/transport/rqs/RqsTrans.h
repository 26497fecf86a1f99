// The RQS transport: one instance of the QoS library (DAVaz, dependent-library slot 4) per
// object. The library is loaded once per process under the controller's RQS library lock and its
// entry points are bound by name; the transport passes its arguments through and maps its results
// to core error codes. One owner drives each transport; its calls take no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "DAVaz.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

// Core error codes of the QoS library.
enum {
    MORVA_ERR_RQS_LIB = 256,           // not loaded, entry missing, or a library result of -1
    MORVA_ERR_RQS_RESULT_BASE = 8000,  // library results 0x80000001..0x80000005 give 8001..8005
    MORVA_ERR_RQS_NO_HANDLE = 8101,
};

class CRqsTransInterface {
public:
    virtual ~CRqsTransInterface() = default;
    virtual int StartRqsService(uintptr_t uCreateArg, DWORD dwParam1, RQS_DATA_CALLBACK fnCallBack, void *pUser,
                                DWORD dwParam5) = 0;
    virtual int StopRqsService() = 0;
    virtual int InputData(uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3) = 0;
    virtual int InputRawData(const RQS_PACK_PARAM *pPackParam, const void *pData, DWORD dwLength) = 0;
    virtual int GetState(uintptr_t uArg1, uintptr_t uArg2) = 0;
    virtual int SetNotifyParam(uintptr_t uArg) = 0;
    // Four bytes: up to three version numbers, and in byte 3 0 for V1.3.0, else 3 (a fourth
    // number, when the text has one, takes its place).
    virtual int GetVersion(BYTE *pVersion) = 0;
};

// All operations give 1, or 0 with the core error code set.
class CRqsTrans : public CRqsTransInterface {
public:
    CRqsTrans() = default;
    ~CRqsTrans() override;
    CRqsTrans(const CRqsTrans &) = delete;
    CRqsTrans &operator=(const CRqsTrans &) = delete;

    int StartRqsService(uintptr_t uCreateArg, DWORD dwParam1, RQS_DATA_CALLBACK fnCallBack, void *pUser,
                        DWORD dwParam5) override;
    int StopRqsService() override;
    int InputData(uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3) override;
    int InputRawData(const RQS_PACK_PARAM *pPackParam, const void *pData, DWORD dwLength) override;
    int GetState(uintptr_t uArg1, uintptr_t uArg2) override;
    int SetNotifyParam(uintptr_t uArg) override;
    int GetVersion(BYTE *pVersion) override;

    // Loads the library under the RQS library lock (taken here, re-entrantly).
    static int CreateRqsTrans();
    // Called with the RQS library lock held. Once loaded the library stays for the process; a
    // library that lacks entries counts as loaded.
    static int LoadRqsLib();
    static int MapError(int iRqsRet);

private:
    // 1 with a library instance; else logs the text with the handle and sets 12.
    int HasInstance(const char *pInvalidText) const;
    // 1 for a library success; else logs the text (when given) with handle and result, and sets
    // the mapped error.
    int CheckResult(int iRqsRet, const char *pFailedText) const;

    int m_iRqsHandle = -1;
    int m_bStarted = 0;

    static void *s_hRqsCom;
    static std::atomic<int> s_bLoaded;
};

// The bound entry points: one table per process. A missing entry gives -1 without a call.
class CRqsAPI {
public:
    // Binds every entry by name; 0 with error 8101 for a null handle.
    static int LoadAPI(void *hRqsCom);

    static int Create(uintptr_t uArg);
    static int Destroy(int iHandle);
    static int Start(int iHandle);
    static int Stop(int iHandle);
    static int RegisterDataCallBack(int iHandle, RQS_DATA_CALLBACK fnCallBack, void *pUser);
    static int InputData(int iHandle, uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3);
    static int InputRawData(int iHandle, const RQS_PACK_PARAM *pPack, const RQS_DATA_BLOCK *pBlock);
    static int SetParam(int iHandle, const RQS_SERVICE_PARAM *pParam);
    static int GetStat(int iHandle, uintptr_t uArg1, uintptr_t uArg2);
    static int SetNotifyParam(int iHandle, uintptr_t uArg);
    static int GetVersion(char *pBuf, int iSize);
};

// Null when the core library is not initialised or the QoS library cannot be loaded.
CRqsTrans *Morva_CreateRqsTrans();
void Morva_DestroyRqsTrans(CRqsTransInterface *pRqsTrans);

}  // namespace Vorezi
