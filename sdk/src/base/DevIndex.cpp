#include "base/DevIndex.h"

#include <cstring>

#include "base/GlobalCtrl.h"

namespace ZEVA {

namespace {

// FNV-1a: the texts are short and the table keeps the hash, so probes rarely compare texts.
uint32_t TextHash(const char *pText, size_t len) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < len; ++i)
        h = (h ^ uint8_t(pText[i])) * 16777619u;
    return h;
}

}  // namespace

CDevIndex::CDevIndex(const std::unique_ptr<DEVICE_LIST_ITEM> *ppSlots, size_t dwOffset, size_t dwWidth)
    : m_ppSlots(ppSlots), m_dwOffset(dwOffset), m_dwWidth(dwWidth) {
    static_assert(CAPACITY * 2 / 3 > MAX_DEVICE_NUM, "the index holds every slot");
    Clear();
}

const char *CDevIndex::Field(uint32_t dwSlot) const {
    return reinterpret_cast<const char *>(&m_ppSlots[dwSlot]->struDevInfo) + m_dwOffset;
}

size_t CDevIndex::FieldLength(uint32_t dwSlot) const { return strnlen(Field(dwSlot), m_dwWidth); }

bool CDevIndex::Holds(uint32_t dwSlot, const char *pText, size_t len) const {
    return m_ppSlots[dwSlot] && FieldLength(dwSlot) == len && std::memcmp(Field(dwSlot), pText, len) == 0;
}

uint32_t CDevIndex::Position(uint32_t hash, const char *pText, size_t len) const {
    uint32_t pos = hash & (CAPACITY - 1);
    while (m_Entries[pos].slot >= 0 &&
           (m_Entries[pos].hash != hash || !Holds(uint32_t(m_Entries[pos].slot), pText, len)))
        pos = (pos + 1) & (CAPACITY - 1);
    return pos;
}

int CDevIndex::Find(const char *pText, size_t len) const {
    if (len > m_dwWidth)
        return -1;
    return m_Entries[Position(TextHash(pText, len), pText, len)].slot;
}

void CDevIndex::Add(uint32_t dwSlot) {
    size_t len = FieldLength(dwSlot);
    uint32_t hash = TextHash(Field(dwSlot), len);
    ENTRY &e = m_Entries[Position(hash, Field(dwSlot), len)];
    if (e.slot < 0 || uint32_t(e.slot) > dwSlot)
        e = {hash, int32_t(dwSlot)};
}

void CDevIndex::Remove(uint32_t dwSlot, uint32_t dwCount) {
    const char *text = Field(dwSlot);
    size_t len = FieldLength(dwSlot);
    uint32_t pos = Position(TextHash(text, len), text, len);
    if (m_Entries[pos].slot != int32_t(dwSlot))
        return;  // a lower slot holds the text as well
    // Rare (a device that changes the indexed text): the next slot with the text is looked for.
    for (uint32_t i = dwSlot + 1; i < dwCount; ++i) {
        if (Holds(i, text, len)) {
            m_Entries[pos].slot = int32_t(i);
            return;
        }
    }
    Erase(pos);
}

// Linear probing without tombstones: the entries after the freed one that may no longer be
// reached from their home position move back into the gap.
void CDevIndex::Erase(uint32_t pos) {
    uint32_t gap = pos;
    for (uint32_t next = (gap + 1) & (CAPACITY - 1); m_Entries[next].slot >= 0; next = (next + 1) & (CAPACITY - 1)) {
        uint32_t home = m_Entries[next].hash & (CAPACITY - 1);
        // Movable when its home does not lie cyclically in (gap, next].
        bool reachable = gap <= next ? (home > gap && home <= next) : (home > gap || home <= next);
        if (!reachable) {
            m_Entries[gap] = m_Entries[next];
            gap = next;
        }
    }
    m_Entries[gap].slot = -1;
}

void CDevIndex::Clear() {
    for (ENTRY &e : m_Entries)
        e = {0, -1};
}

}  // namespace ZEVA
