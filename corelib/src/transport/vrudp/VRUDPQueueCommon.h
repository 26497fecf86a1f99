// Sizes shared by the receive and the send queue. Nodes hold pointers, so their sizes come from
// sizeof; the byte accounting of a group and the free-block estimate both use GroupBytes, so the
// estimate and the growth limit can never disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "transport/vrudp/VRUDPWire.h"

namespace Vorezi {
namespace vrudp {

constexpr int kGroupNodes = 16;
constexpr int kMaxGroups = 128;
constexpr int kRingSlots = 128;
constexpr int kDefaultQueueBytes = 262144;
constexpr int kDefaultMTU = 1500;
constexpr int kMTUOverhead = 62;
constexpr int kNoEnoughBuf = 10009;  // VRUDP_NOENOUGH_BUF
constexpr int kDefaultOneDataSize = kDefaultMTU - kMTUOverhead;  // 1438

// Buffer bytes of one node: the largest head plus one payload.
inline int NodeBufBytes(int iOneDataSize) {
    return iOneDataSize + kMaxHeadLen;
}
// Bytes one group of nodes of this size costs against the queue limit.
inline int GroupBytes(int iNodeSize, int iOneDataSize) {
    return kGroupNodes * (iNodeSize + NodeBufBytes(iOneDataSize));
}

// One zeroed allocation of 16 nodes followed by their buffers, linked as a ring, stored in the
// first free entry of the group table. False (nothing kept) when allocation fails or the table
// is full; *pbAllocFailed tells the two apart.
template <class Node>
bool AddNodeGroup(uint8_t *(&apGroups)[kMaxGroups], int iOneDataSize, Node **ppFirst, Node **ppLast,
                  bool *pbAllocFailed) {
    int iBufBytes = NodeBufBytes(iOneDataSize);
    uint8_t *pGroup = new (std::nothrow) uint8_t[size_t(kGroupNodes) * (sizeof(Node) + size_t(iBufBytes))]();
    *pbAllocFailed = pGroup == nullptr;
    if (!pGroup)
        return false;
    auto *pNodes = reinterpret_cast<Node *>(pGroup);
    uint8_t *pBufs = pGroup + size_t(kGroupNodes) * sizeof(Node);
    for (int i = 0; i < kGroupNodes; i++) {
        pNodes[i].pBuf = pBufs + size_t(i) * size_t(iBufBytes);
        pNodes[i].pNext = &pNodes[(i + 1) % kGroupNodes];
    }
    for (auto &pSlot : apGroups) {
        if (!pSlot) {
            pSlot = pGroup;
            *ppFirst = &pNodes[0];
            *ppLast = &pNodes[kGroupNodes - 1];
            return true;
        }
    }
    delete[] pGroup;
    return false;
}

}  // namespace vrudp
}  // namespace Vorezi
