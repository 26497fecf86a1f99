#include "GlobalCtrl/CoreSignal.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_cond.h"
#include "yar/yar_error.h"
#include "yar/yar_mutex.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {
constexpr DWORD kWaitForever = 0xFFFFFFFF;
constexpr DWORD kPollMs = 5;
}  // namespace

// ---- CCoreSignal ----

class CCoreSignalPrivate {
public:
    virtual ~CCoreSignalPrivate() {
        if (m_bCreated)
            YAR_SemDestroy(&m_hSem);
    }
    DWORD m_bCreated = 0;
    YAR_SEM_T m_hSem = nullptr;
};

CCoreSignal::CCoreSignal() : m_pPrivate(new (std::nothrow) CCoreSignalPrivate) {
    if (!m_pPrivate) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreSignal::CCoreSignal, new CCoreSignalPrivate exception!!");
        SetError(MORVA_ERR_ALLOC);
    }
}

CCoreSignal::~CCoreSignal() = default;

int CCoreSignal::Create() {
    if (!m_pPrivate)
        return 0;
    if (YAR_SemCreate(&m_pPrivate->m_hSem, 0) != 0) {
        m_pPrivate->m_bCreated = 0;
        LogModule_Write(LOG_LEVEL_ERR, "CCoreSignal::Create, YAR_SemCreate Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return 0;
    }
    m_pPrivate->m_bCreated = 1;
    return 1;
}

int CCoreSignal::Destroy() {
    if (!m_pPrivate)
        return 0;
    if (!m_pPrivate->m_bCreated)
        return 1;
    YAR_SemDestroy(&m_pPrivate->m_hSem);
    m_pPrivate->m_bCreated = 0;
    return 1;
}

int CCoreSignal::Post() {
    if (!m_pPrivate || !m_pPrivate->m_bCreated)
        return 0;
    YAR_SemPost(&m_pPrivate->m_hSem);
    return 1;
}

int CCoreSignal::TimedWait(DWORD dwMilliseconds) {
    if (!m_pPrivate || !m_pPrivate->m_bCreated)
        return 0;
    int32_t iMs = dwMilliseconds == kWaitForever ? -1
                  : dwMilliseconds > (DWORD)INT32_MAX ? INT32_MAX
                                                       : (int32_t)dwMilliseconds;
    return YAR_SemTimedWait(&m_pPrivate->m_hSem, iMs) == 0 ? 1 : 0;
}

int CCoreSignal::Wait() {
    // A signal that was never created would be waited on for ever.
    if (!m_pPrivate || !m_pPrivate->m_bCreated)
        return 0;
    while (!TimedWait(kWaitForever))
        LogModule_Write(LOG_LEVEL_INF, "CCoreSignal::Wait");
    return 1;
}

// ---- CMultiThreadControl ----

class CMultiThreadControlPrivate {
public:
    CMultiThreadControlPrivate() {
        if (YAR_MutexCreate(&m_Mutex, 0) == 0)
            m_bMutexCreated = 1;
        else
            LogModule_Write(LOG_LEVEL_ERR,
                            "CMultiThreadControlPrivate::CMultiThreadControlPrivate, YAR_MutexCreate Failed, syserror[%d]",
                            YAR_GetSystemLastError());
    }
    virtual ~CMultiThreadControlPrivate() {
        if (m_bMutexCreated)
            YAR_MutexDestroy(&m_Mutex);
    }

    DWORD m_bMutexCreated = 0;
    // Written under the mutex or by Start and Stop, polled outside it by the other side.
    std::atomic<DWORD> m_bPauseRequested{0};
    std::atomic<DWORD> m_bPaused{0};
    std::atomic<DWORD> m_bRunning{1};
    YAR_MUTEX_T m_Mutex;
    DWORD m_dwPollMs = kPollMs;
};

CMultiThreadControl::CMultiThreadControl() : m_pPrivate(new (std::nothrow) CMultiThreadControlPrivate) {
    if (!m_pPrivate) {
        LogModule_Write(LOG_LEVEL_ERR, "CMultiThreadControl::CMultiThreadControl, new CMultiThreadControlPrivate exception!!");
        SetError(MORVA_ERR_ALLOC);
    }
}

CMultiThreadControl::~CMultiThreadControl() = default;

bool CMultiThreadControl::CheckResource() const {
    return m_pPrivate && m_pPrivate->m_bMutexCreated;
}

void CMultiThreadControl::Start() {
    if (!CheckResource())
        return;
    m_pPrivate->m_bRunning = 1;
    m_pPrivate->m_bPauseRequested = 1;
}

void CMultiThreadControl::Stop() {
    if (!CheckResource())
        return;
    m_pPrivate->m_bRunning = 0;
    m_pPrivate->m_bPauseRequested = 0;
}

void CMultiThreadControl::Pause() {
    if (!CheckResource() || !m_pPrivate->m_bRunning)
        return;
    CMultiThreadControlPrivate &p = *m_pPrivate;
    {
        yar::yar_guard lock(&p.m_Mutex);
        if (p.m_bPauseRequested || p.m_bPaused)
            return;
        p.m_bPauseRequested = 1;
    }
    while (!p.m_bPaused && p.m_bRunning)
        YAR_Sleep(p.m_dwPollMs);
}

void CMultiThreadControl::Resume() {
    if (!CheckResource() || !m_pPrivate->m_bRunning)
        return;
    CMultiThreadControlPrivate &p = *m_pPrivate;
    bool bWasPaused;
    {
        yar::yar_guard lock(&p.m_Mutex);
        p.m_bPauseRequested = 0;
        bWasPaused = p.m_bPaused != 0;
    }
    while (bWasPaused && p.m_bPaused && p.m_bRunning)
        YAR_Sleep(p.m_dwPollMs);
}

void CMultiThreadControl::CheckPause() {
    if (!CheckResource() || !m_pPrivate->m_bRunning)
        return;
    CMultiThreadControlPrivate &p = *m_pPrivate;
    {
        yar::yar_guard lock(&p.m_Mutex);
        if (!p.m_bPauseRequested || p.m_bPaused)
            return;
        p.m_bPaused = 1;
    }
    // Waited out without the mutex: Resume takes it to end the pause.
    while (p.m_bPauseRequested && p.m_bRunning)
        YAR_Sleep(p.m_dwPollMs);
    yar::yar_guard lock(&p.m_Mutex);
    p.m_bPaused = 0;
}

}  // namespace Vorezi
