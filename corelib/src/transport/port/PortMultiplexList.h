// Port multiplexing: per local port, the destinations already connected from it, so that one
// local port carries links to many destinations but never two to the same one.
#pragma once

#include <atomic>
#include <memory>

#include "Module/Member/RWLock.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// Destination key: IPv4 address, IPv6 address, four zero bytes, port (network order), two zero
// bytes. Compared as raw bytes, so callers zero it before filling.
constexpr int PORT_MULTI_KEY_LEN = 28;
constexpr int PORT_MULTI_MAX_KEYS = 256;
constexpr int PORT_MULTI_MAX_NODES = 400;

class CPortMultiplexList {
public:
    CPortMultiplexList() = default;
    ~CPortMultiplexList();
    CPortMultiplexList(const CPortMultiplexList &) = delete;
    CPortMultiplexList &operator=(const CPortMultiplexList &) = delete;

    int CreateLock();
    int DestroyLock();
    int CreatList();
    int DestroyList();
    int InsertNode(WORD wPort, const BYTE *pKey);
    int DeleteNode(const BYTE *pKey, WORD wPort, int *pNodeRemoved);
    int FindPort(const BYTE *pKey, WORD *pPort);
    int GetNodeCount();
    void PrintList();

private:
    struct Node {
        WORD wPort;  // in the head: the number of port nodes
        BYTE byKeys[PORT_MULTI_MAX_KEYS][PORT_MULTI_KEY_LEN];
        std::atomic<DWORD> dwCount;
        YAR_MUTEX_T Mutex;
        Node *pNext;
    };
    static Node *NewNode(const char *pAllocFail, int iAllocError, const char *pMutexFail);
    static void FreeNode(Node *pNode);
    static bool TryAddKey(Node *pNode, const BYTE *pKey);
    void FreeAll();

    Node *m_pHead = nullptr;
    std::unique_ptr<CRWLock> m_pLock;
};

}  // namespace Vorezi
