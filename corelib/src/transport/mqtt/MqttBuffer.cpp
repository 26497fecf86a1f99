#include "transport/mqtt/MqttBuffer.h"

#include <cstring>
#include <new>

namespace Vorezi {

CBuffer::CBuffer(DWORD dwCapacity) : m_dwCapacity(dwCapacity) {
    if (dwCapacity != 0)
        m_pData.reset(new (std::nothrow) BYTE[dwCapacity]());
    if (!m_pData)
        m_dwCapacity = 0;
}

CBuffer::CBuffer(const CBuffer &other) : CBuffer(other.m_dwCapacity) {
    if (!m_pData)
        return;
    std::memcpy(m_pData.get(), other.m_pData.get(), m_dwCapacity);
    m_dwLength = other.m_dwLength;
    m_dwReadPos = other.m_dwReadPos;
}

int CBuffer::Append(const BYTE *pData, DWORD dwLen) {
    if (!m_pData || dwLen > m_dwCapacity - m_dwLength || (dwLen != 0 && !pData))
        return 0;
    if (dwLen != 0)
        std::memcpy(m_pData.get() + m_dwLength, pData, dwLen);
    m_dwLength += dwLen;
    return 1;
}

BYTE *CBuffer::GetPtrAt(DWORD i) {
    if (i >= Remaining())
        return nullptr;
    return m_pData.get() + m_dwReadPos + i;
}

int CBuffer::GetByteAt(DWORD i) const {
    if (i >= Remaining())
        return -1;
    return m_pData[m_dwReadPos + i];
}

void CBuffer::Skip(DWORD n) { m_dwReadPos = n < Remaining() ? m_dwReadPos + n : m_dwLength; }

}  // namespace Vorezi
