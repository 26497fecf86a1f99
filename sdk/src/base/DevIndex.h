// An index of the found-device list by one text field of its records (the MAC, the serial): a
// text leads to the lowest slot that holds it, as a scan from slot 0 would find it. The storage is
// fixed, so keeping the index in step costs no allocation under the list lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ZEVA {

struct DEVICE_LIST_ITEM;

class CDevIndex {
public:
    // The field at dwOffset of the device record, dwWidth bytes, of the records in ppSlots.
    CDevIndex(const std::unique_ptr<DEVICE_LIST_ITEM> *ppSlots, size_t dwOffset, size_t dwWidth);
    CDevIndex(const CDevIndex &) = delete;
    CDevIndex &operator=(const CDevIndex &) = delete;

    // The lowest slot whose field holds exactly the text (len bytes, at most the field's
    // width), or -1.
    int Find(const char *pText, size_t len) const;
    // The slot's record holds its field: it is indexed, ahead of higher slots with the same text.
    void Add(uint32_t dwSlot);
    // The slot's record is about to lose its field; dwCount is the number of slots in use, among
    // which the next one with the same text takes its place.
    void Remove(uint32_t dwSlot, uint32_t dwCount);
    void Clear();

private:
    // Enough for every slot of the list at a load below two thirds.
    static constexpr uint32_t CAPACITY = 8192;

    struct ENTRY {
        uint32_t hash;
        int32_t slot;  // -1: free
    };

    const char *Field(uint32_t dwSlot) const;
    size_t FieldLength(uint32_t dwSlot) const;
    bool Holds(uint32_t dwSlot, const char *pText, size_t len) const;
    // The entry of the text, or the free entry where it would go.
    uint32_t Position(uint32_t hash, const char *pText, size_t len) const;
    void Erase(uint32_t pos);

    const std::unique_ptr<DEVICE_LIST_ITEM> *m_ppSlots;
    size_t m_dwOffset;
    size_t m_dwWidth;
    ENTRY m_Entries[CAPACITY];
};

}  // namespace ZEVA
