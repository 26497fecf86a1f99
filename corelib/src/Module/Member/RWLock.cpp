#include "Module/Member/RWLock.h"

#include "Utils/Utils.h"
#include "yar/yar_string.h"

namespace Vorezi {

CRWLock::CRWLock() {
    m_bInit = YAR_MutexCreate(&m_Mutex, 0) == 0 ? 1 : 0;
}

CRWLock::~CRWLock() {
    if (!m_bInit)
        return;
    if (m_iReaderCount != 0 || m_iWriterCount != 0)
        Utils_Assert();
    YAR_MutexDestroy(&m_Mutex);
}

int CRWLock::ReadLock() {
    if (!m_bInit || YAR_MutexLock(&m_Mutex) != 0)
        return 0;
    m_iReaderCount++;
    YAR_MutexUnlock(&m_Mutex);
    return 1;
}

int CRWLock::ReadUnlock() {
    if (!m_bInit || YAR_MutexLock(&m_Mutex) != 0)
        return 0;
    if (--m_iReaderCount < 0)
        Utils_Assert();
    YAR_MutexUnlock(&m_Mutex);
    return 1;
}

int CRWLock::WriteLock() {
    if (!m_bInit)
        return 0;
    for (;;) {
        if (YAR_MutexLock(&m_Mutex) != 0)
            return 0;
        if (m_iReaderCount == 0) {
            m_iWriterCount++;
            return 1;
        }
        YAR_MutexUnlock(&m_Mutex);
        YAR_Sleep(1);
    }
}

int CRWLock::TryWriteLock() {
    if (!m_bInit || YAR_MutexTryLock(&m_Mutex) != 0)
        return 0;
    if (m_iReaderCount != 0) {
        YAR_MutexUnlock(&m_Mutex);
        return 0;
    }
    m_iWriterCount++;
    return 1;
}

// Only the thread that holds the write lock may call this: it owns the mutex. Without a writer
// there is no mutex to leave, so nothing changes.
int CRWLock::WriteUnlock() {
    if (!m_bInit)
        return 0;
    if (m_iWriterCount == 0) {
        Utils_Assert();
        return 0;
    }
    m_iWriterCount--;
    YAR_MutexUnlock(&m_Mutex);
    return 1;
}

int CRWLock::Lock(int iMode) {
    if (iMode == 0)
        return 1;
    return iMode == 1 ? ReadLock() : WriteLock();
}

int CRWLock::Unlock(int iMode) {
    if (iMode == 0)
        return 1;
    return iMode == 1 ? ReadUnlock() : WriteUnlock();
}

CRWLockGuard::CRWLockGuard(CRWLock *pLock, int bRead) {
    if (!pLock || !pLock->CheckInit())
        return;
    if (bRead ? pLock->ReadLock() : pLock->WriteLock()) {
        m_pLock = pLock;
        m_bRead = bRead;
        m_bLocked = 1;
    }
}

CRWLockGuard::~CRWLockGuard() {
    if (!m_bLocked)
        return;
    if (m_bRead)
        m_pLock->ReadUnlock();
    else
        m_pLock->WriteUnlock();
    m_pLock = nullptr;
}

}  // namespace Vorezi
