#pragma once
// Process-wide objects made on first request. A caller arriving while another makes the instance
// waits on the mutex and finds it made; the instance lives until the process ends.
#include <QMutex>
#include <QMutexLocker>
#include <atomic>

namespace Base {

template <class T>
class CSingleton {
public:
    static T* GetInstance()
    {
        T* instance = s_instance.load(std::memory_order_acquire);
        if (!instance) {
            QMutexLocker lock(&s_mutex);
            instance = s_instance.load(std::memory_order_relaxed);
            if (!instance) {
                instance = new T;
                s_instance.store(instance, std::memory_order_release);
            }
        }
        return instance;
    }

protected:
    CSingleton() = default;

private:
    static inline QMutex s_mutex;
    static inline std::atomic<T*> s_instance{nullptr};
};

}  // namespace Base
