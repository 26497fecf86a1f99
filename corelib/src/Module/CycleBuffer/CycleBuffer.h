// A byte ring of fixed capacity with its own mutex: writers append blocks, a reader takes either
// everything held or an exact number of bytes.
#pragma once

#include "Module/Memory/ObjectBase.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

class CCycleBufferPrivate;

class CCycleBuffer : public CObjectBase {
public:
    explicit CCycleBuffer(DWORD dwBuffSize);
    ~CCycleBuffer() override;
    CCycleBuffer(const CCycleBuffer &) = delete;
    CCycleBuffer &operator=(const CCycleBuffer &) = delete;

    bool InitCheck() const;
    // 1, or 0 with core error 43 when the block does not fit (the ring is then unchanged).
    int Write(const BYTE *pData, DWORD dwLen);
    // Moves everything held to pOut, which must hold the capacity: the count, 0 when empty, -1 on failure.
    int Read(BYTE *pOut);
    // 1 when exactly dwLen bytes were moved to pOut; 0, with nothing moved, when fewer are held.
    int ReadData(BYTE *pOut, DWORD dwLen);
    int Reset();
    // Read without the lock: may be stale while other threads write or read.
    DWORD GetDataLen() const;
    bool IsEmpty() const;

private:
    CCycleBufferPrivate *m_pPrivate;
};

}  // namespace Vorezi
