// Writer-preferring reader/writer lock over one section and two conditions.
#include <new>

#include "yar/yar_rwlock.h"

YAR_RWLOCK_S::YAR_RWLOCK_S() {
    YAR_MutexCreate(&m_section, 0);
    if (YAR_CondCreate(&m_readerCond) != 0)
        m_readerCond = nullptr;
    if (YAR_CondCreate(&m_writerCond) != 0)
        m_writerCond = nullptr;
}

YAR_RWLOCK_S::~YAR_RWLOCK_S() {
    if (m_writerCond)
        YAR_CondDestroy(&m_writerCond);
    if (m_readerCond)
        YAR_CondDestroy(&m_readerCond);
    YAR_MutexDestroy(&m_section);
}

int YAR_RWLOCK_S::ReadLock() {
    yar::yar_guard lock(&m_section);
    while (m_writer || m_waitingWriters != 0)
        YAR_CondWait(&m_readerCond, &m_section);
    ++m_readers;
    return 0;
}

int YAR_RWLOCK_S::TryReadLock() {
    yar::yar_guard lock(&m_section);
    if (m_writer || m_waitingWriters != 0)
        return -1;
    ++m_readers;
    return 0;
}

int YAR_RWLOCK_S::ReadUnlock() {
    yar::yar_guard lock(&m_section);
    if (m_readers == 0)
        return -1;  // not read-locked: the count must not go negative
    if (m_readers-- == 1 && m_waitingWriters != 0)
        YAR_CondSignal(&m_writerCond);
    return 0;
}

int YAR_RWLOCK_S::WriteLock() {
    yar::yar_guard lock(&m_section);
    bool counted = false;
    while (m_readers != 0 || m_writer) {
        if (!counted) {
            ++m_waitingWriters;
            counted = true;
        }
        YAR_CondWait(&m_writerCond, &m_section);
    }
    if (counted)
        --m_waitingWriters;
    m_writer = true;
    return 0;
}

int YAR_RWLOCK_S::TryWriteLock() {
    yar::yar_guard lock(&m_section);
    if (m_readers != 0 || m_writer)
        return -1;
    m_writer = true;
    return 0;
}

int YAR_RWLOCK_S::WriteUnlock() {
    yar::yar_guard lock(&m_section);
    if (!m_writer)
        return -1;  // not write-locked: waking anyone now would break the exclusion
    m_writer = false;
    if (m_waitingWriters != 0)
        YAR_CondSignal(&m_writerCond);
    else
        YAR_CondBroadcast(&m_readerCond);
    return 0;
}

namespace {

YAR_RWLOCK_S *Held(YAR_RWLOCK_T *lock) {
    return lock ? *lock : nullptr;
}

int Call(YAR_RWLOCK_T *lock, int (YAR_RWLOCK_S::*operation)()) {
    YAR_RWLOCK_S *held = Held(lock);
    return held ? (held->*operation)() : -1;
}

}  // namespace

extern "C" {

int YAR_RWLock_Create(YAR_RWLOCK_T *lock) {
    if (!lock || *lock)
        return -1;
    *lock = new (std::nothrow) YAR_RWLOCK_S;
    return *lock ? 0 : -1;
}

int YAR_RWLock_Destroy(YAR_RWLOCK_T *lock) {
    YAR_RWLOCK_S *held = Held(lock);
    if (!held)
        return -1;
    delete held;
    *lock = nullptr;
    return 0;
}

int YAR_RWLock_ReadLock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::ReadLock); }
int YAR_RWLock_TryReadLock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::TryReadLock); }
int YAR_RWLock_ReadUnlock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::ReadUnlock); }
int YAR_RWLock_WriteLock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::WriteLock); }
int YAR_RWLock_TryWriteLock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::TryWriteLock); }
int YAR_RWLock_WriteUnlock(YAR_RWLOCK_T *lock) { return Call(lock, &YAR_RWLOCK_S::WriteUnlock); }

}  // extern "C"
