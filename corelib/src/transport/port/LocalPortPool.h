// Local port pools of outgoing links: the TCP and UDP pools the global controller fills from the
// configured port ranges. Each pool hands out a port only after a test bind succeeded.
#pragma once

#include <cstdint>

#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// Ring of ports; one slot always stays free, so it holds at most 599.
class CPortRingQueue {
public:
    static constexpr int kSlots = 600;

    CPortRingQueue();
    ~CPortRingQueue();
    CPortRingQueue(const CPortRingQueue &) = delete;
    CPortRingQueue &operator=(const CPortRingQueue &) = delete;

    bool Push(int iPort);
    int Front();  // 0 when empty
    void Pop();
    int Count();
    void Clear();

private:
    int m_iPorts[kSlots] = {};
    uint32_t m_dwHead = 0;
    uint32_t m_dwTail = 0;
    YAR_MUTEX_T m_Mutex;
    bool m_bMutex = false;
};

// The shared behaviour of the TCP and the UDP pool; they differ in socket kind and log texts.
class CLocalPortPool {
public:
    int SetPortRange(WORD wStart, WORD wEnd);
    void Reset();
    WORD GetPort(int iFamily);
    void ReleasePort(WORD wPort);

protected:
    struct Kind {
        int iSockType;
        int iProtocol;
        const char *pGotText;  // "Get tcp port %d" / "Get udp port %d"
    };
    CLocalPortPool(const Kind &kind, const char *pMutexFailText);
    ~CLocalPortPool();

private:
    // The pool mutex; null when it could not be created.
    YAR_MUTEX_T *Mutex();
    int BindTest(int iSock, int iFamily, WORD wPort);

    const Kind m_Kind;
    CPortRingQueue m_Queue;
    YAR_MUTEX_T m_Mutex;
    bool m_bMutex = false;
    WORD m_wMaxPort = 0;
    WORD m_wMinPort = 0;
};

class CTcpPortPool : public CLocalPortPool {
public:
    CTcpPortPool();
};

class CUdpPortPool : public CLocalPortPool {
public:
    CUdpPortPool();
};

}  // namespace Vorezi
