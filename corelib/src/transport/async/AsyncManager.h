// The asynchronous-I/O manager of the links: one completion queue of the runtime for the whole
// library, the runtime's pre-allocated I/O records, and the table of handle slots that links
// register in.
#pragma once

#include <atomic>
#include <cstdint>

#include "morva/MorvaTypes.h"
#include "yar/yar_asyncio.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CLinkAsyncIO;

class CAsyncManager {
public:
    static constexpr DWORD kTotalNum = 81920;
    static constexpr DWORD kCapStep = 128;

    CAsyncManager();
    virtual ~CAsyncManager();
    CAsyncManager(const CAsyncManager &) = delete;
    CAsyncManager &operator=(const CAsyncManager &) = delete;

    DWORD IsInited() const { return m_bInit; }
    YAR_IOQUEUE GetProtocolAsyncIO() const { return m_hAsyncIOQueue; }

private:
    struct Slot {
        int32_t iHandle;  // its own index while taken, -1 after release
        CLinkAsyncIO *pObject;
    };

    DWORD m_bInit = 0;
    YAR_MUTEX_T m_csLock;
    DWORD m_dwTotalNum = kTotalNum;
    uint32_t m_uiCurIndex = 0;
    DWORD m_dwCurrentCap = kCapStep;
    std::atomic<int32_t> m_dwCurrentCount{0};
    // Zeroed pages from the system: the table costs memory only where slots are used.
    DWORD *m_pSlotCreated = nullptr;
    YAR_MUTEX_T *m_pSlotMutex = nullptr;
    Slot *m_pSlots = nullptr;
    YAR_IOQUEUE m_hAsyncIOQueue = nullptr;
};

}  // namespace Vorezi
