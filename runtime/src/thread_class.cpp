#include "yar/yar_thread.h"

namespace yar {

int yar_thread::Create(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize, int32_t suspended,
                       uint32_t unused1, uint32_t unused2) {
    m_handle = YAR_Thread_Create(routine, param, stackSize, suspended, unused1, unused2);
    return m_handle ? 0 : -1;
}

int yar_thread::Join() {
    int result = YAR_Thread_Wait(m_handle);
    if (result == 0)
        m_handle = YAR_INVALID_THREAD;  // released by the wait; a second join must not touch it
    return result;
}

int yar_thread::Suspend() { return YAR_Thread_Suspend(m_handle); }
int yar_thread::Resume() { return YAR_Thread_Resume(m_handle); }
int yar_thread::SetPriority(int32_t priority) { return YAR_Thread_SetPriority(m_handle, priority); }

int yar_thread::SetPriorityClass(uint32_t priorityClass) {
    return m_handle ? YAR_Thread_SetPriorityClass(priorityClass) : -1;
}

}  // namespace yar
