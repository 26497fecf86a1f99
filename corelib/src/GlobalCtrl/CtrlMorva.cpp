#include "GlobalCtrl/CtrlMorva.h"

#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_error.h"
#include "yar/yar_mutex.h"
#include "yar/yar_string.h"

namespace Vorezi {

class CCtrlBasePrivate {
public:
    CCtrlBasePrivate() {
        if (YAR_MutexCreate(&m_Mutex, 0) == 0)
            m_bMutexCreated = 1;
        else
            LogModule_Write(LOG_LEVEL_ERR, "CCtrlBasePrivate::CCtrlBasePrivate, YAR_MutexCreate Failed, syserror[%d]",
                            YAR_GetSystemLastError());
    }
    virtual ~CCtrlBasePrivate() {
        if (m_bMutexCreated)
            YAR_MutexDestroy(&m_Mutex);
    }

    YAR_MUTEX_T m_Mutex;
    DWORD m_bMutexCreated = 0;
    DWORD m_dwInitCount = 0;
    std::atomic<int32_t> m_iBusyCount{0};
};

namespace {
constexpr int kIdlePollMs = 5;
}

CCtrlMorva::CCtrlMorva() : m_pPrivate(new (std::nothrow) CCtrlBasePrivate) {}

CCtrlMorva::~CCtrlMorva() = default;

int CCtrlMorva::CheckPrivate() {
    if (m_pPrivate && m_pPrivate->m_bMutexCreated)
        return 1;
    SetError(MORVA_ERR_ALLOC);
    return 0;
}

int CCtrlMorva::Init() {
    if (!CheckPrivate())
        return 0;
    yar::yar_guard lock(&m_pPrivate->m_Mutex);
    if (!lock.IsLocked()) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (m_pPrivate->m_dwInitCount == 0 && !InitAllResource()) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_pPrivate->m_dwInitCount++;
    return 1;
}

int CCtrlMorva::Fini() {
    if (!m_pPrivate || !m_pPrivate->m_bMutexCreated) {
        SetError(MORVA_ERR_NOT_INIT);
        return 0;
    }
    // A lock that cannot be taken is a failure, never a success code.
    yar::yar_guard lock(&m_pPrivate->m_Mutex);
    if (!lock.IsLocked()) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (m_pPrivate->m_dwInitCount == 0) {
        lock.Release();
        SetError(MORVA_ERR_NOT_INIT);
        return 0;
    }
    if (--m_pPrivate->m_dwInitCount > 0) {
        SetError(MORVA_ERR_SUCCESS);
    } else {
        WaitIdle();
        ReleaseAllResource();
    }
    return 1;
}

int CCtrlMorva::CheckInit() {
    if (!CheckPrivate())
        return 0;
    DWORD dwInitCount;
    int32_t iBusy;
    {
        yar::yar_guard lock(&m_pPrivate->m_Mutex);
        if (!lock.IsLocked()) {
            SetError(MORVA_ERR_NOT_INIT);
            return 0;
        }
        dwInitCount = m_pPrivate->m_dwInitCount;
        iBusy = m_pPrivate->m_iBusyCount.load();
    }
    if (dwInitCount == 0) {
        SetError(MORVA_ERR_NOT_INIT);
        return 0;
    }
    if (iBusy < 0) {
        Utils_Assert();
        return 0;
    }
    return 1;
}

int CCtrlMorva::Lock() {
    if (!CheckPrivate())
        return 0;
    return YAR_MutexLock(&m_pPrivate->m_Mutex) == 0 ? 1 : 0;
}

int CCtrlMorva::Unlock() {
    if (!CheckPrivate())
        return 0;
    return YAR_MutexUnlock(&m_pPrivate->m_Mutex) == 0 ? 1 : 0;
}

void CCtrlMorva::WaitIdle() {
    while (m_pPrivate && m_pPrivate->m_iBusyCount.load() != 0)
        YAR_Sleep(kIdlePollMs);
}

std::atomic<int32_t> *CCtrlMorva::GetBusyCounter() {
    return m_pPrivate ? &m_pPrivate->m_iBusyCount : nullptr;
}

}  // namespace Vorezi
