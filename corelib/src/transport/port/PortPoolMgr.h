// Numbered port pools: up to eight ranges, each for one local address, family and transport,
// handed out by number through the core library's interface.
#pragma once

#include <memory>

#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CPortPool {
public:
    CPortPool() = default;
    virtual ~CPortPool();
    CPortPool(const CPortPool &) = delete;
    CPortPool &operator=(const CPortPool &) = delete;

    // Ports wMinPort .. wMaxPort - 1; family 2 or 23, type 1 TCP or 2 UDP. 1 or 0.
    int CreatePortPool(const char *pLocalAddr, WORD wAddrFamily, WORD wType, WORD wMinPort, WORD wMaxPort);
    WORD GetPort();
    void ReleasePort(WORD wPort);
    int Overlaps(const char *pLocalAddr, int iIgnored, WORD wStart, WORD wEnd);

private:
    DWORD m_bInit = 0;
    WORD m_wMinPort = 0;
    WORD m_wMaxPort = 0;
    DWORD m_dwCursor = 0;
    char m_szLocalAddr[32] = {0};
    WORD m_wAddrFamily = 0;
    WORD m_wType = 0;
    std::unique_ptr<BYTE[]> m_pPortUsedArray;
    YAR_MUTEX_T m_Mutex;
};

class CPortPoolMgr {
public:
    static constexpr int kMaxPools = 8;

    CPortPoolMgr() = default;
    virtual ~CPortPoolMgr();
    CPortPoolMgr(const CPortPoolMgr &) = delete;
    CPortPoolMgr &operator=(const CPortPoolMgr &) = delete;

    int Init();
    int CreatePortPool(const char *pLocalAddr, WORD wAddrFamily, WORD wType, WORD wMinPort, WORD wMaxPort);
    int DestroyPortPool(int nPortPool);
    WORD GetPort(int nPortPool);
    void ResusePort(int nPortPool, WORD wPort);

private:
    DWORD m_bInit = 0;
    std::unique_ptr<CPortPool> m_pPools[kMaxPools];
    YAR_MUTEX_T m_Mutex;
};

}  // namespace Vorezi
