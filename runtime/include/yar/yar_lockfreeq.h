/* Unbounded first-in first-out queue of reference-counted items, linked with compare-and-swap.
 * Each item carries the trace context (yar_trace.h) of the thread that queued it, and the thread
 * that takes it out takes that context over. */
#ifndef YAR_LOCKFREEQ_H
#define YAR_LOCKFREEQ_H

#include "yar_base.h"
#include "yar_trace.h"

#ifdef __cplusplus
#include <atomic>

namespace yar {

/* Base of every reference-counted object here, inherited as a virtual base so that an object has
 * one count whatever its classes. The count starts at 0; the release that takes it from 1 to 0
 * destroys the object. */
class yar_refobj {
public:
    yar_refobj() = default;
    virtual ~yar_refobj() = default;
    yar_refobj(const yar_refobj &) = delete;
    yar_refobj &operator=(const yar_refobj &) = delete;

    virtual void DestroySelf() { delete this; }
    int32_t AddRef() { return ++m_refCount; }
    int32_t Release() {
        const int32_t count = --m_refCount;
        if (count == 0)
            DestroySelf();
        return count;
    }
    int32_t RefCount() const { return m_refCount; }

private:
    std::atomic<int32_t> m_refCount{0};
};

/* A counted pointer: holds one reference to its target. */
template <class T>
class yar_refptr {
public:
    yar_refptr() = default;
    yar_refptr(T *target) : m_target(target) { Acquire(); }
    yar_refptr(const yar_refptr &other) : m_target(other.m_target) { Acquire(); }
    ~yar_refptr() { Reset(); }
    yar_refptr &operator=(const yar_refptr &other) {
        T *old = m_target;
        m_target = other.m_target;
        Acquire();
        if (old)
            old->Release();
        return *this;
    }
    void Reset() {
        T *old = m_target;
        m_target = nullptr;
        if (old)
            old->Release();
    }
    T *Get() const { return m_target; }
    T *operator->() const { return m_target; }
    explicit operator bool() const { return m_target != nullptr; }

private:
    void Acquire() {
        if (m_target)
            m_target->AddRef();
    }
    T *m_target = nullptr;
};

/* What the queue holds: the queue writes the pusher's trace record into it. */
class yar_lockfreeQItem : public virtual yar_refobj {
public:
    YAR_TRACE_INFO_T m_traceInfo = {};
};

typedef yar_refptr<yar_lockfreeQItem> yar_lockfreeQItemPtr;

class yar_lockfreeQImpl;

class yar_lockfreeQ : public virtual yar_refobj {
public:
    yar_lockfreeQ();
    ~yar_lockfreeQ() override;

    /* Copies the caller's trace context into the item and appends it; without an implementation
     * the item is not queued. */
    void Push(const yar_lockfreeQItemPtr &item);
    /* The oldest item (null when empty); its trace context becomes the caller's. */
    yar_lockfreeQItemPtr Pop();
    bool IsEmpty() const;
    /* -1 without an implementation. The count follows the links, so it may briefly lag them. */
    int32_t GetCount() const;

private:
    yar_lockfreeQImpl *m_impl;
};

}  // namespace yar
#endif

#endif
