// Our stand-in for the closed QoS library: it keeps instances, records every call for the tests,
// returns the results the tests set and hands input data straight back through the registered
// callback. It does no traffic shaping of any kind.
#include "DAVaz.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxCalls = 4096;
constexpr const char *kDefaultVersion = "V1.3.0 build 20240101";

struct Instance {
    RQS_DATA_CALLBACK fnCallBack = nullptr;
    void *pUser = nullptr;
};

struct State {
    std::mutex lock;
    std::map<std::string, int> results;
    std::map<int, Instance> instances;
    std::vector<RQSSTUB_CALL> calls;
    std::string version = kDefaultVersion;
    int iNextHandle = 0;
};

State &S() {
    static State s;
    return s;
}

const char *const kEntries[] = {
    "RQS_Create",   "RQS_Destroy",  "RQS_Start",   "RQS_Stop",           "RQS_RegisterDataCallBack", "RQS_InputData",
    "RQS_InputRawData", "RQS_SetParam", "RQS_GetStat", "RQS_SetNotifyParam", "RQS_GetVersion",
};

bool KnownEntry(const char *pEntry) {
    for (const char *p : kEntries)
        if (std::strcmp(p, pEntry) == 0)
            return true;
    return false;
}

// One call under the state lock: logged with its arguments and the result it gives.
class Call {
public:
    Call(const char *pEntry, int iHandle, std::initializer_list<uintptr_t> args) : m_Guard(S().lock) {
        std::memset(&m_Rec, 0, sizeof(m_Rec));
        std::strncpy(m_Rec.szEntry, pEntry, sizeof(m_Rec.szEntry) - 1);
        m_Rec.iHandle = iHandle;
        size_t i = 0;
        for (uintptr_t u : args)
            m_Rec.uArg[i++] = u;
        auto it = S().results.find(pEntry);
        m_iSet = it == S().results.end() ? 0 : it->second;
    }
    ~Call() {
        if (S().calls.size() < kMaxCalls)
            S().calls.push_back(m_Rec);
    }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    // The result the test set for this entry, 0 when none.
    int SetResult() const { return m_iSet; }
    // The instance of the call's handle, or null.
    Instance *Find() {
        auto it = S().instances.find(m_Rec.iHandle);
        return it == S().instances.end() ? nullptr : &it->second;
    }
    void Copy(const void *pData, size_t uLen) { std::memcpy(m_Rec.byCopy, pData, uLen); }
    int Result(int iResult) { return m_Rec.iResult = iResult; }
    // The set result when there is one, else an unknown handle's error, else 0.
    int Check() {
        if (m_iSet != 0)
            return Result(m_iSet);
        return Result(Find() ? 0 : static_cast<int>(RQS_ERR_HANDLE));
    }

private:
    std::lock_guard<std::mutex> m_Guard;
    RQSSTUB_CALL m_Rec;
    int m_iSet = 0;
};

uintptr_t U(const void *p) {
    return reinterpret_cast<uintptr_t>(p);
}

}  // namespace

extern "C" {

int RQS_Create(uintptr_t uArg) {
    Call call("RQS_Create", -1, {uArg});
    if (call.SetResult() != 0)
        return call.Result(call.SetResult());
    int iHandle = S().iNextHandle++;
    S().instances[iHandle] = Instance{};
    return call.Result(iHandle);
}

int RQS_Destroy(int iHandle) {
    Call call("RQS_Destroy", iHandle, {});
    int iRet = call.Check();
    if (iRet == 0)
        S().instances.erase(iHandle);
    return iRet;
}

#ifndef DAVAZ_PARTIAL
int RQS_Start(int iHandle) {
    Call call("RQS_Start", iHandle, {});
    return call.Check();
}
#endif

int RQS_Stop(int iHandle) {
    Call call("RQS_Stop", iHandle, {});
    return call.Check();
}

int RQS_RegisterDataCallBack(int iHandle, RQS_DATA_CALLBACK fnCallBack, void *pUser) {
    Call call("RQS_RegisterDataCallBack", iHandle, {reinterpret_cast<uintptr_t>(fnCallBack), U(pUser)});
    int iRet = call.Check();
    if (iRet == 0) {
        call.Find()->fnCallBack = fnCallBack;
        call.Find()->pUser = pUser;
    }
    return iRet;
}

int RQS_InputData(int iHandle, uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3) {
    Call call("RQS_InputData", iHandle, {uArg1, uArg2, uArg3});
    return call.Check();
}

int RQS_InputRawData(int iHandle, const RQS_PACK_PARAM *pPack, const RQS_DATA_BLOCK *pBlock) {
    Instance inst;
    RQS_DATA_BLOCK block = {};
    {
        Call call("RQS_InputRawData", iHandle,
                  {U(pPack), U(pBlock), pBlock ? U(pBlock->pData) : 0, pBlock ? pBlock->dwLength : 0});
        if (!pPack || !pBlock)
            return call.Result(static_cast<int>(RQS_ERR_GENERAL));
        call.Copy(pPack, sizeof(*pPack));
        if (int iRet = call.Check())
            return iRet;
        inst = *call.Find();
        block = *pBlock;
    }
    // Outside the lock: the owner may call the library again from its callback.
    if (inst.fnCallBack)
        inst.fnCallBack(iHandle, block.pData, block.dwLength, inst.pUser);
    return 0;
}

int RQS_SetParam(int iHandle, const RQS_SERVICE_PARAM *pParam) {
    Call call("RQS_SetParam", iHandle, {U(pParam)});
    if (!pParam)
        return call.Result(static_cast<int>(RQS_ERR_GENERAL));
    call.Copy(pParam, sizeof(*pParam));
    return call.Check();
}

int RQS_GetStat(int iHandle, uintptr_t uArg1, uintptr_t uArg2) {
    Call call("RQS_GetStat", iHandle, {uArg1, uArg2});
    return call.Check();
}

int RQS_SetNotifyParam(int iHandle, uintptr_t uArg) {
    Call call("RQS_SetNotifyParam", iHandle, {uArg});
    return call.Check();
}

#ifndef DAVAZ_PARTIAL
int RQS_GetVersion(char *pBuf, int iSize) {
    Call call("RQS_GetVersion", -1, {U(pBuf), static_cast<uintptr_t>(iSize)});
    if (!pBuf || iSize <= 0)
        return call.Result(static_cast<int>(RQS_ERR_GENERAL));
    if (call.SetResult() != 0)
        return call.Result(call.SetResult());
    size_t uLen = std::min(S().version.size(), static_cast<size_t>(iSize) - 1);
    std::memcpy(pBuf, S().version.data(), uLen);
    pBuf[uLen] = '\0';
    return call.Result(0);
}
#endif

int RQSSTUB_SetResult(const char *pEntry, int iResult) {
    if (!pEntry || !KnownEntry(pEntry))
        return -1;
    std::lock_guard<std::mutex> guard(S().lock);
    S().results[pEntry] = iResult;
    return 0;
}

void RQSSTUB_SetVersionText(const char *pText) {
    std::lock_guard<std::mutex> guard(S().lock);
    S().version.assign(pText ? pText : "", pText ? strnlen(pText, 255) : 0);
}

int RQSSTUB_GetCallLog(RQSSTUB_CALL *pCalls, int iMax) {
    std::lock_guard<std::mutex> guard(S().lock);
    int n = static_cast<int>(S().calls.size());
    for (int i = 0; pCalls && i < n && i < iMax; i++)
        pCalls[i] = S().calls[i];
    return n;
}

void RQSSTUB_Reset(void) {
    std::lock_guard<std::mutex> guard(S().lock);
    S().results.clear();
    S().instances.clear();
    S().calls.clear();
    S().version = kDefaultVersion;
    S().iNextHandle = 0;
}

}  // extern "C"
