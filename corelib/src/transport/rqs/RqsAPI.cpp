// The QoS library's entry points, bound by name into one process-wide table.
#include <atomic>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/rqs/RqsTrans.h"
#include "yar/yar_dso.h"

namespace Vorezi {

namespace {

// Filled once under the RQS library lock; atomic because a transport made by the controller's
// getter may call while another thread binds.
struct RqsEntryTable {
    std::atomic<decltype(&RQS_Create)> fnCreate{nullptr};
    std::atomic<decltype(&RQS_Destroy)> fnDestroy{nullptr};
    std::atomic<decltype(&RQS_Start)> fnStart{nullptr};
    std::atomic<decltype(&RQS_Stop)> fnStop{nullptr};
    std::atomic<decltype(&RQS_RegisterDataCallBack)> fnRegisterDataCallBack{nullptr};
    std::atomic<decltype(&RQS_InputData)> fnInputData{nullptr};
    std::atomic<decltype(&RQS_InputRawData)> fnInputRawData{nullptr};
    std::atomic<decltype(&RQS_SetParam)> fnSetParam{nullptr};
    std::atomic<decltype(&RQS_GetStat)> fnGetStat{nullptr};
    std::atomic<decltype(&RQS_SetNotifyParam)> fnSetNotifyParam{nullptr};
    std::atomic<decltype(&RQS_GetVersion)> fnGetVersion{nullptr};
};

RqsEntryTable g_RqsTable;

template <class F>
void Bind(void *hRqsCom, std::atomic<F> &entry, const char *pName) {
    entry.store(reinterpret_cast<F>(YAR_GetDsoSym(hRqsCom, pName)), std::memory_order_release);
}

template <class F, class... Args>
int CallEntry(const std::atomic<F> &entry, Args... args) {
    F fn = entry.load(std::memory_order_acquire);
    return fn ? fn(args...) : -1;
}

}  // namespace

int CRqsAPI::LoadAPI(void *hRqsCom) {
    if (hRqsCom == YAR_INVALID_HANDLE) {
        LogModule_Write(LOG_LEVEL_ERR, "CRqsAPI::LoadAPI, hRqsCom == YAR_INVALID_HANDLE");
        SetError(MORVA_ERR_RQS_NO_HANDLE);
        return 0;
    }
    RqsEntryTable &t = g_RqsTable;
    Bind(hRqsCom, t.fnCreate, "RQS_Create");
    Bind(hRqsCom, t.fnDestroy, "RQS_Destroy");
    Bind(hRqsCom, t.fnStart, "RQS_Start");
    Bind(hRqsCom, t.fnStop, "RQS_Stop");
    Bind(hRqsCom, t.fnRegisterDataCallBack, "RQS_RegisterDataCallBack");
    Bind(hRqsCom, t.fnInputData, "RQS_InputData");
    Bind(hRqsCom, t.fnInputRawData, "RQS_InputRawData");
    Bind(hRqsCom, t.fnSetParam, "RQS_SetParam");
    Bind(hRqsCom, t.fnGetStat, "RQS_GetStat");
    Bind(hRqsCom, t.fnSetNotifyParam, "RQS_SetNotifyParam");
    Bind(hRqsCom, t.fnGetVersion, "RQS_GetVersion");
    return 1;
}

int CRqsAPI::Create(uintptr_t uArg) {
    return CallEntry(g_RqsTable.fnCreate, uArg);
}

int CRqsAPI::Destroy(int iHandle) {
    return CallEntry(g_RqsTable.fnDestroy, iHandle);
}

int CRqsAPI::Start(int iHandle) {
    return CallEntry(g_RqsTable.fnStart, iHandle);
}

int CRqsAPI::Stop(int iHandle) {
    return CallEntry(g_RqsTable.fnStop, iHandle);
}

int CRqsAPI::RegisterDataCallBack(int iHandle, RQS_DATA_CALLBACK fnCallBack, void *pUser) {
    return CallEntry(g_RqsTable.fnRegisterDataCallBack, iHandle, fnCallBack, pUser);
}

int CRqsAPI::InputData(int iHandle, uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3) {
    return CallEntry(g_RqsTable.fnInputData, iHandle, uArg1, uArg2, uArg3);
}

int CRqsAPI::InputRawData(int iHandle, const RQS_PACK_PARAM *pPack, const RQS_DATA_BLOCK *pBlock) {
    return CallEntry(g_RqsTable.fnInputRawData, iHandle, pPack, pBlock);
}

int CRqsAPI::SetParam(int iHandle, const RQS_SERVICE_PARAM *pParam) {
    return CallEntry(g_RqsTable.fnSetParam, iHandle, pParam);
}

int CRqsAPI::GetStat(int iHandle, uintptr_t uArg1, uintptr_t uArg2) {
    return CallEntry(g_RqsTable.fnGetStat, iHandle, uArg1, uArg2);
}

int CRqsAPI::SetNotifyParam(int iHandle, uintptr_t uArg) {
    return CallEntry(g_RqsTable.fnSetNotifyParam, iHandle, uArg);
}

int CRqsAPI::GetVersion(char *pBuf, int iSize) {
    return CallEntry(g_RqsTable.fnGetVersion, pBuf, iSize);
}

}  // namespace Vorezi
