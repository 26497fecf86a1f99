// Delivery of the core library's exception notifications to the host: a window message to the
// host's window, or a call of the host's callback, always on a thread of the message pool so
// that the notifying thread never runs host code.
#pragma once

#include <atomic>
#include <cstdint>

#include "Module/Member/RWLock.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

typedef void (*MSG_CALLBACK)(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, void *pUser);

class CMsgCallBackBase {
public:
    CMsgCallBackBase();
    virtual ~CMsgCallBackBase();
    CMsgCallBackBase(const CMsgCallBackBase &) = delete;
    CMsgCallBackBase &operator=(const CMsgCallBackBase &) = delete;

    int IsInited() const { return m_bInit; }
    // 0, or -1 when the settings cannot be locked. A null window and a null callback switch
    // delivery off; a window takes precedence over a callback.
    int SetExceptionMessOrCallBack(UINT uMsg, void *hWnd, MSG_CALLBACK fnCallBack, void *pUser);
    // 0 when queued (or when delivery is off), -1 when the notification was lost.
    int PostMessageOrCallBack(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, int iError);

private:
    struct Job;
    static int32_t WorkCallback(void *pJob);
    static int32_t WorkMessage(void *pJob);
    int Queue(YAR_THREADPOOL_ROUTINE fnRoutine, DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, int iError);
    YAR_THREADPOOL_T *EnsurePool();

    // Read without the lock on the posting path, under the read lock on the pool threads.
    std::atomic<MSG_CALLBACK> m_fnCallBack{nullptr};
    std::atomic<UINT> m_uMsg{0};
    std::atomic<void *> m_hWnd{nullptr};
    std::atomic<void *> m_pUser{nullptr};
    std::atomic<YAR_THREADPOOL_T *> m_pPool{nullptr};
    YAR_MUTEX_T m_PoolLock;
    int m_bPoolLock = 0;
    int m_bInit = 0;
    CRWLock m_SettingsLock;
};

}  // namespace Vorezi
