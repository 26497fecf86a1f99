// A fixed-capacity byte container with a read position, the storage of one MQTT frame.
#pragma once

#include <memory>

#include "morva/MorvaTypes.h"

namespace Vorezi {

class CBuffer {
public:
    // Zeroed storage of dwCapacity bytes; none for 0 or when allocation fails (IsValid is 0).
    explicit CBuffer(DWORD dwCapacity);
    // Same capacity, length and position; IsValid is 0 when the copy could not be allocated.
    CBuffer(const CBuffer &other);
    CBuffer &operator=(const CBuffer &) = delete;

    // 1 when the bytes fit behind the data, else 0 and nothing is appended.
    int Append(const BYTE *pData, DWORD dwLen);
    int IsValid() const { return m_pData != nullptr; }
    // The byte i places after the read position, or null past the data.
    BYTE *GetPtrAt(DWORD i);
    // The byte i places after the read position, or -1 past the data.
    int GetByteAt(DWORD i) const;
    // Moves the read position on by n, at most to the end of the data.
    void Skip(DWORD n);
    DWORD Remaining() const { return m_dwReadPos < m_dwLength ? m_dwLength - m_dwReadPos : 0; }
    void ResetReadPos() { m_dwReadPos = 0; }
    DWORD GetReadPos() const { return m_dwReadPos; }
    BYTE *GetData() { return m_pData.get(); }
    const BYTE *GetData() const { return m_pData.get(); }
    DWORD GetLength() const { return m_dwLength; }
    DWORD GetCapacity() const { return m_dwCapacity; }

private:
    DWORD m_dwCapacity;
    DWORD m_dwLength = 0;
    DWORD m_dwReadPos = 0;
    std::unique_ptr<BYTE[]> m_pData;
};

}  // namespace Vorezi
