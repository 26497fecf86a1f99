#include "transport/port/PortPoolMgr.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_addr.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

// ---- one pool ----

CPortPool::~CPortPool() {
    if (m_bInit)
        YAR_MutexDestroy(&m_Mutex);
}

int CPortPool::CreatePortPool(const char *pLocalAddr, WORD wAddrFamily, WORD wType, WORD wMinPort, WORD wMaxPort) {
    if (m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, Order Error");
        return 0;
    }
    if (wMinPort >= wMaxPort) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, Invalid Param, wMinPort[%d], wMaxPort[%d]",
                        wMinPort, wMaxPort);
        return 0;
    }
    if (wAddrFamily != YAR_AF_INET && wAddrFamily != YAR_AF_INET6) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, Invalid wAddrFamily[%d]", wAddrFamily);
        return 0;
    }
    if (wType != 1 && wType != 2) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, Invalid wType[%d]", wType);
        return 0;
    }
    if (YAR_MutexCreate(&m_Mutex, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, YAR_MutexCreate Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return 0;
    }
    m_pPortUsedArray.reset(new (std::nothrow) BYTE[wMaxPort - wMinPort]());
    if (!m_pPortUsedArray) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::CreatePortPool, New m_pPortUsedArray Failed");
        YAR_MutexDestroy(&m_Mutex);
        return 0;
    }
    if (pLocalAddr && pLocalAddr[0])
        std::snprintf(m_szLocalAddr, sizeof(m_szLocalAddr), "%s", pLocalAddr);
    else if (pLocalAddr)
        std::snprintf(m_szLocalAddr, sizeof(m_szLocalAddr), "%s", wAddrFamily == YAR_AF_INET6 ? "::" : "0.0.0.0");
    m_wMinPort = wMinPort;
    m_wMaxPort = wMaxPort;
    m_wAddrFamily = wAddrFamily;
    m_wType = wType;
    m_bInit = 1;
    return 1;
}

WORD CPortPool::GetPort() {
    int nCount = (int)m_wMaxPort - (int)m_wMinPort;
    if (nCount <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::GetPort, nCount[%d] <= 0", nCount);
        return 0;
    }
    yar::yar_guard lock(&m_Mutex);
    int iSock = m_wType == 1 ? YAR_CreateSocket(m_wAddrFamily, 1, 6) : YAR_CreateSocket(m_wAddrFamily, 2, 17);
    if (iSock < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPool::GetPort, YAR_CreateSocket Failed, syserror[%d], m_wType[%d]",
                        YAR_GetSystemLastError(), m_wType);
        return 0;
    }
    WORD wPort = 0;
    for (int i = 0; i < nCount && !wPort; i++, m_dwCursor++) {
        if (m_dwCursor >= (DWORD)nCount)
            m_dwCursor = 0;
        if (m_pPortUsedArray[m_dwCursor])
            continue;
        WORD wTry = (WORD)(m_wMinPort + m_dwCursor);
        YAR_ADDR_T addr;
        if (Utils_MakeAddr(m_wAddrFamily, m_szLocalAddr, wTry, &addr) == 0 && YAR_Bind(iSock, &addr) == 0) {
            LogModule_Write(LOG_LEVEL_DBG, "CPortPool::GetPort, YAR_Bind SUCC Addr[%s:%d], Get wPort[%d]",
                            m_szLocalAddr, wTry, wTry);
            m_pPortUsedArray[m_dwCursor] = 1;
            wPort = wTry;
        } else {
            LogModule_Write(LOG_LEVEL_DBG, "CPortPool::GetPort, YAR_Bind Failed Addr[%s:%d], m_wType[%d]",
                            m_szLocalAddr, wTry, m_wType);
        }
    }
    YAR_CloseSocket(iSock, 0);
    return wPort;
}

void CPortPool::ReleasePort(WORD wPort) {
    if (wPort < m_wMinPort || wPort >= m_wMaxPort)
        return;
    yar::yar_guard lock(&m_Mutex);
    m_pPortUsedArray[wPort - m_wMinPort] = 0;
}

int CPortPool::Overlaps(const char *pLocalAddr, int /*iIgnored*/, WORD wStart, WORD wEnd) {
    if (pLocalAddr && pLocalAddr[0] && std::strcmp(pLocalAddr, m_szLocalAddr) != 0)
        return 0;
    return wStart < wEnd && wStart < m_wMaxPort && wEnd >= m_wMinPort;
}

// ---- manager ----

CPortPoolMgr::~CPortPoolMgr() {
    if (!m_bInit)
        return;
    {
        yar::yar_guard lock(&m_Mutex);
        for (auto &pPool : m_pPools)
            pPool.reset();
    }
    YAR_MutexDestroy(&m_Mutex);
}

int CPortPoolMgr::Init() {
    if (m_bInit) {
        LogModule_Write(LOG_LEVEL_DBG, "CPortPoolMgr::Init, Already Inited");
        return 1;
    }
    if (YAR_MutexCreate(&m_Mutex, 0) != 0) {
        LogModule_Write(LOG_LEVEL_DBG, "CPortPoolMgr::Init, YAR_MutexCreate Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return 0;
    }
    m_bInit = 1;
    return 1;
}

int CPortPoolMgr::CreatePortPool(const char *pLocalAddr, WORD wAddrFamily, WORD wType, WORD wMinPort,
                                 WORD wMaxPort) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::CreatePortPool, Not Inited");
        return -1;
    }
    if (wMinPort >= wMaxPort) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::CreatePortPool, wMaxPort[%d] <= wMinPort[%d]", wMaxPort,
                        wMinPort);
        return -1;
    }
    int iHandle = -1;
    yar::yar_guard lock(&m_Mutex);
    for (int i = 0; i < kMaxPools; i++) {
        if (m_pPools[i])
            continue;
        std::unique_ptr<CPortPool> pPool(new (std::nothrow) CPortPool);
        if (pPool && pPool->CreatePortPool(pLocalAddr, wAddrFamily, wType, wMinPort, wMaxPort)) {
            m_pPools[i] = std::move(pPool);
            iHandle = i;
        } else {
            LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::CreatePortPool, Failed, i[%d]", i);
        }
        break;
    }
    lock.Release();
    if (iHandle < 0)
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::CreatePortPool, Failed");
    else
        LogModule_Write(LOG_LEVEL_DBG, "CPortPoolMgr::CreatePortPool, SUCC, handle[%d]", iHandle);
    return iHandle;
}

int CPortPoolMgr::DestroyPortPool(int nPortPool) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::DestroyPortPool, Not Inited");
        return 0;
    }
    if (nPortPool < 0 || nPortPool >= kMaxPools) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::DestroyPortPool, Invalid nPortPool[%d]", nPortPool);
        return 0;
    }
    // Taken out under the lock, destroyed after it.
    std::unique_ptr<CPortPool> pPool;
    {
        yar::yar_guard lock(&m_Mutex);
        pPool = std::move(m_pPools[nPortPool]);
    }
    if (!pPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::DestroyPortPool, Invalid nPortPool[%d], Not Find", nPortPool);
        return 0;
    }
    return 1;
}

WORD CPortPoolMgr::GetPort(int nPortPool) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::GetPort, Not Inited");
        return 0;
    }
    if (nPortPool < 0 || nPortPool >= kMaxPools) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::GetPort, Invalid nPortPool[%d]", nPortPool);
        return 0;
    }
    WORD wPort;
    {
        yar::yar_guard lock(&m_Mutex);
        wPort = m_pPools[nPortPool] ? m_pPools[nPortPool]->GetPort() : 0;
    }
    if (!wPort)
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::GetPort, Failed");
    return wPort;
}

void CPortPoolMgr::ResusePort(int nPortPool, WORD wPort) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::ResusePort, Not Inited");
        return;
    }
    if (nPortPool < 0 || nPortPool >= kMaxPools) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortPoolMgr::ResusePort, Invalid nPortPool[%d]", nPortPool);
        return;
    }
    yar::yar_guard lock(&m_Mutex);
    if (m_pPools[nPortPool])
        m_pPools[nPortPool]->ReleasePort(wPort);
}

}  // namespace Vorezi
