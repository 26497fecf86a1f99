// Roots of the core library's heap objects. Their allocation operators take a memory-pool index:
// a negative index allocates from the heap, any other from that pool of the memory manager, and
// delete returns each block to where it came from.
//
//   CFoo *p = new (nIndex) CFoo(...);   // null when no memory could be had
//   delete p;
//
// Each CObjectBase also owns an allocation record (a bare CObjectBasePrivate) that remembers the
// object's origin. The operators never touch the object's storage outside its lifetime (the
// compiler may drop stores made before a constructor starts): operator new hands its results to
// the root constructor, and the root destructor hands them to operator delete, through per-thread
// slots.
#pragma once

#include <cstddef>

#include "morva/MorvaTypes.h"

namespace Vorezi {

class CObjectBasePrivate {
public:
    CObjectBasePrivate();
    virtual ~CObjectBasePrivate();

    static void *operator new(size_t uSize, int nIndex) noexcept;
    // Barred: an allocation must say where it comes from.
    static void *operator new(size_t uSize) noexcept;
    static void operator delete(void *p) noexcept;
    // Reached only when a constructor throws after operator new(size, nIndex).
    static void operator delete(void *p, int nIndex) noexcept;

    DWORD m_bObjFromPool;  // in an allocation record: the owning object came from a pool
    DWORD m_bFromPool;     // this block came from a pool
};

class CObjectBase {
public:
    CObjectBase();
    virtual ~CObjectBase();

    static void *operator new(size_t uSize, int nIndex) noexcept;
    static void *operator new(size_t uSize) noexcept;
    static void operator delete(void *p) noexcept;
    static void operator delete(void *p, int nIndex) noexcept;

protected:
    CObjectBasePrivate *m_pAllocRecord;
};

}  // namespace Vorezi
