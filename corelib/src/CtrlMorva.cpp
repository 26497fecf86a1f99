#include "CtrlMorva.h"

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "CoreGlobalCtrl.h"
#include "Utils.h"

namespace Vorezi {

class CCtrlBasePrivate {
public:
    virtual ~CCtrlBasePrivate() = default;

    std::recursive_mutex m_Mutex;
    DWORD m_bMutexCreated = 1;
    DWORD m_dwInitCount = 0;
    std::atomic<int32_t> m_iBusyCount{0};
};

namespace {
constexpr int kIdlePollMs = 5;
}

CCtrlMorva::CCtrlMorva() : m_pPrivate(new (std::nothrow) CCtrlBasePrivate) {}

CCtrlMorva::~CCtrlMorva() {
    delete m_pPrivate;
}

int CCtrlMorva::CheckPrivate() {
    if (m_pPrivate && m_pPrivate->m_bMutexCreated)
        return 1;
    GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_ALLOC);
    return 0;
}

int CCtrlMorva::Init() {
    if (!CheckPrivate())
        return 0;
    std::lock_guard<std::recursive_mutex> guard(m_pPrivate->m_Mutex);
    if (m_pPrivate->m_dwInitCount == 0 && !InitAllResource()) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_pPrivate->m_dwInitCount++;
    return 1;
}

int CCtrlMorva::Fini() {
    if (!m_pPrivate || !m_pPrivate->m_bMutexCreated) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_NOT_INIT);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(m_pPrivate->m_Mutex);
    if (m_pPrivate->m_dwInitCount == 0) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_NOT_INIT);
        return 0;
    }
    if (--m_pPrivate->m_dwInitCount > 0) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_SUCCESS);
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
        std::lock_guard<std::recursive_mutex> guard(m_pPrivate->m_Mutex);
        dwInitCount = m_pPrivate->m_dwInitCount;
        iBusy = m_pPrivate->m_iBusyCount.load();
    }
    if (dwInitCount == 0) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_NOT_INIT);
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
    m_pPrivate->m_Mutex.lock();
    return 1;
}

int CCtrlMorva::Unlock() {
    if (!CheckPrivate())
        return 0;
    m_pPrivate->m_Mutex.unlock();
    return 1;
}

void CCtrlMorva::WaitIdle() {
    while (m_pPrivate && m_pPrivate->m_iBusyCount.load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdlePollMs));
}

std::atomic<int32_t> *CCtrlMorva::GetBusyCounter() {
    return m_pPrivate ? &m_pPrivate->m_iBusyCount : nullptr;
}

}  // namespace Vorezi
