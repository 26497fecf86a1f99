// The trace registry: it holds the one counted reference to every live thread context, while each
// thread's slot holds an uncounted pointer to its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "yar/yar_mutex.h"
#include "yar/yar_trace.h"

namespace yar {

// Base of the runtime's reference-counted objects; deletes itself once, at the last release.
class shared_object {
public:
    virtual ~shared_object() = default;
    void AddRef() { m_refs.fetch_add(1); }
    void Release() {
        if (m_refs.fetch_sub(1) == 1 && !m_released.exchange(true))
            delete this;
    }

private:
    std::atomic<int32_t> m_refs{0};
    std::atomic<bool> m_released{false};
};

// A counted handle; its own lock guards the pointer, so handles may be copied across threads.
class yar_shared_ptr {
public:
    explicit yar_shared_ptr(shared_object *target = nullptr);
    yar_shared_ptr(const yar_shared_ptr &other);
    yar_shared_ptr &operator=(const yar_shared_ptr &other);
    ~yar_shared_ptr();
    shared_object *get() const { return m_target; }

private:
    shared_object *m_target;
    mutable YAR_MUTEX_T m_lock;
};

class CTraceInfo_context : public shared_object {
public:
    std::string trace1, trace2, trace3;
    uint8_t flag1 = 0, flag2 = 0;
};

class yar_tlsTraceInfoOperImpl {
public:
    yar_tlsTraceInfoOperImpl();
    virtual ~yar_tlsTraceInfoOperImpl();

    int SetThreadTraceInfo(const YAR_TRACE_INFO_T *info);
    int ClearThreadTraceInfo();
    // Drops a context from the map (the thread-exit path of a slot that still holds one).
    void Forget(CTraceInfo_context *context);
    size_t EntryCount();

private:
    std::map<CTraceInfo_context *, yar_shared_ptr> m_entries;
    size_t m_count = 0;
    YAR_MUTEX_T m_lock;
};

// Allocates the trace slot when the library is loaded and frees it at process end.
class CBeforeMain {
public:
    CBeforeMain();
    virtual ~CBeforeMain();
};

}  // namespace yar
