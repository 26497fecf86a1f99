#include "Module/CycleBuffer/CycleBuffer.h"

#include <atomic>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "yar/yar_error.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

namespace {
constexpr int kPoolKind128 = 1;  // the default pool of 128-byte members

// An empty block may come with a null pointer, which memcpy must not see.
void CopyBytes(BYTE *pTo, const BYTE *pFrom, DWORD dwLen) {
    if (dwLen != 0) std::memcpy(pTo, pFrom, dwLen);
}
}  // namespace

class CCycleBufferPrivate : public CObjectBasePrivate {
public:
    explicit CCycleBufferPrivate(DWORD dwBuffSize) : m_dwBuffLen(dwBuffSize) {
        if (YAR_MutexCreate(&m_Mutex, 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "CCycleBufferPrivate::CCycleBufferPrivate, YAR_MutexCreate Failed, syserror[%d]",
                            YAR_GetSystemLastError());
            return;
        }
        m_pBuff = static_cast<BYTE *>(NewArray(m_dwBuffLen));
        if (m_pBuff == nullptr) {
            LogModule_Write(LOG_LEVEL_ERR, "CCycleBufferPrivate::CCycleBufferPrivate, New m_pBuff Failed, m_dwBuffLen[%d]",
                            m_dwBuffLen);
            YAR_MutexDestroy(&m_Mutex);
            return;
        }
        m_bInitResult = 1;
    }
    ~CCycleBufferPrivate() override {
        if (m_bInitResult) {
            DelArray(m_pBuff);
            YAR_MutexDestroy(&m_Mutex);
        }
    }

    bool HasStorage() const { return m_bInitResult && m_pBuff != nullptr && m_dwBuffLen != 0; }
    DWORD DataLen() const { return m_dwDataLen.load(std::memory_order_relaxed); }
    void AddDataLen(DWORD dwLen) { m_dwDataLen.store(DataLen() + dwLen, std::memory_order_relaxed); }
    void SubDataLen(DWORD dwLen) { m_dwDataLen.store(DataLen() - dwLen, std::memory_order_relaxed); }

    // Copies dwLen bytes starting at the read position, continuing at the start of the storage.
    void CopyOut(BYTE *pOut, DWORD dwLen) const {
        const DWORD dwFirst = dwLen < m_dwBuffLen - m_dwReadPos ? dwLen : m_dwBuffLen - m_dwReadPos;
        CopyBytes(pOut, m_pBuff + m_dwReadPos, dwFirst);
        CopyBytes(pOut + dwFirst, m_pBuff, dwLen - dwFirst);
    }

    BYTE *m_pBuff = nullptr;
    DWORD m_dwBuffLen;
    // Atomic because GetDataLen and IsEmpty read it without the lock.
    std::atomic<DWORD> m_dwDataLen{0};
    DWORD m_dwWritePos = 0;
    DWORD m_dwReadPos = 0;
    YAR_MUTEX_T m_Mutex;
    int m_bInitResult = 0;
};

static_assert(sizeof(CCycleBufferPrivate) <= 128, "the private part lives in the 128-byte pool");

CCycleBuffer::CCycleBuffer(DWORD dwBuffSize) : m_pPrivate(nullptr) {
    try {
        m_pPrivate = new (GetCoreGlobalCtrl()->GetDefaultMemPoolIndex(kPoolKind128)) CCycleBufferPrivate(dwBuffSize);
    } catch (...) {
        m_pPrivate = nullptr;
    }
    if (m_pPrivate == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::CCycleBuffer, new CCycleBufferPrivate exception!! dwBuffSize[%d]",
                        dwBuffSize);
        SetError(MORVA_ERR_ALLOC);
    }
}

CCycleBuffer::~CCycleBuffer() {
    delete m_pPrivate;
}

bool CCycleBuffer::InitCheck() const {
    return m_pPrivate != nullptr && m_pPrivate->m_bInitResult;
}

int CCycleBuffer::Write(const BYTE *pData, DWORD dwLen) {
    if (!InitCheck()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::Write, InitCheck Failed");
        return 0;
    }
    if (pData == nullptr && dwLen != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::Write, Invalid pData, dwLen[%d]", dwLen);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CCycleBufferPrivate &p = *m_pPrivate;
    yar::yar_guard lock(&p.m_Mutex);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::Write, YAR_MutexLock Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return 0;
    }
    const DWORD dwW = p.m_dwWritePos;
    const DWORD dwR = p.m_dwReadPos;
    const DWORD dwL = p.m_dwBuffLen;
    const DWORD dwData = p.DataLen();
    int iResult = 0;
    if (!p.HasStorage()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::Write, Failed, m_bInitResult[%d], m_pBuff[0x%X], m_dwBuffLen[%d]",
                        p.m_bInitResult, MORVA_PTR_ARG(p.m_pBuff), dwL);
    } else if (dwW == dwR && dwData == dwL) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CCycleBuffer::Write, Failed, m_dwWritePos[%d], m_dwReadPos[%d], m_dwDataLen[%d], m_dwBuffLen[%d]",
                        dwW, dwR, dwData, dwL);
        SetError(MORVA_ERR_BUFFER_SMALL);
    } else if (dwW < dwR) {
        // The block must end before the read position; dwR - dwW cannot wrap here.
        if (dwLen < dwR - dwW) {
            CopyBytes(p.m_pBuff + dwW, pData, dwLen);
            p.m_dwWritePos = (dwW + dwLen) % dwL;
            iResult = 1;
        } else {
            LogModule_Write(LOG_LEVEL_ERR, "CCycleBuffer::Write, Failed, m_dwWritePos[%d], m_dwReadPos[%d], dwLen[%d]",
                            dwW, dwR, dwLen);
            SetError(MORVA_ERR_BUFFER_SMALL);
        }
    } else if (dwLen <= dwL - dwW) {
        // Up to the end of the storage; ending exactly there wraps the write position to 0.
        CopyBytes(p.m_pBuff + dwW, pData, dwLen);
        p.m_dwWritePos = (dwW + dwLen) % dwL;
        iResult = 1;
    } else if (dwLen - (dwL - dwW) < dwR) {
        // Wraps: the rest must end before the read position. Compared without adding, so a huge
        // dwLen cannot wrap the sum around and pass.
        const DWORD dwFirst = dwL - dwW;
        CopyBytes(p.m_pBuff + dwW, pData, dwFirst);
        CopyBytes(p.m_pBuff, pData + dwFirst, dwLen - dwFirst);
        p.m_dwWritePos = dwLen - dwFirst;
        iResult = 1;
    } else {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CCycleBuffer::Write, Failed, m_dwWritePos[%d], m_dwReadPos[%d], dwLen[%d], m_dwBuffLen[%d]", dwW,
                        dwR, dwLen, dwL);
        SetError(MORVA_ERR_BUFFER_SMALL);
    }
    if (iResult) {
        p.AddDataLen(dwLen);
    }
    return iResult;
}

int CCycleBuffer::Read(BYTE *pOut) {
    if (!InitCheck() || pOut == nullptr) {
        return -1;
    }
    CCycleBufferPrivate &p = *m_pPrivate;
    yar::yar_guard lock(&p.m_Mutex);
    if (!lock.IsLocked()) {
        return -1;
    }
    int iCount = -1;
    if (p.HasStorage()) {
        const DWORD dwData = p.DataLen();
        p.CopyOut(pOut, dwData);
        p.m_dwReadPos = p.m_dwWritePos;
        p.SubDataLen(dwData);
        iCount = static_cast<int>(dwData);
    }
    return iCount;
}

int CCycleBuffer::ReadData(BYTE *pOut, DWORD dwLen) {
    if (!InitCheck() || (pOut == nullptr && dwLen != 0)) {
        return 0;
    }
    CCycleBufferPrivate &p = *m_pPrivate;
    yar::yar_guard lock(&p.m_Mutex);
    if (!lock.IsLocked()) {
        return 0;
    }
    int iResult = 0;
    const DWORD dwData = p.DataLen();
    if (p.HasStorage() && dwData != 0 && dwLen <= dwData) {
        p.CopyOut(pOut, dwLen);
        p.m_dwReadPos = static_cast<DWORD>((uint64_t(p.m_dwReadPos) + dwLen) % p.m_dwBuffLen);
        p.SubDataLen(dwLen);
        iResult = 1;
    }
    return iResult;
}

int CCycleBuffer::Reset() {
    if (!InitCheck()) {
        return 0;
    }
    CCycleBufferPrivate &p = *m_pPrivate;
    yar::yar_guard lock(&p.m_Mutex);
    if (!lock.IsLocked()) {
        return 0;
    }
    p.m_dwWritePos = 0;
    p.m_dwReadPos = 0;
    p.m_dwDataLen.store(0, std::memory_order_relaxed);
    return 1;
}

DWORD CCycleBuffer::GetDataLen() const {
    return InitCheck() ? m_pPrivate->DataLen() : 0;
}

bool CCycleBuffer::IsEmpty() const {
    return InitCheck() && m_pPrivate->DataLen() == 0;
}

}  // namespace Vorezi
