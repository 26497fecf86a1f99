// The completion key of the asynchronous links: the pointer-sized user value the runtime hands
// back with every completion. It names the slot (17 bits cover the 81920 slots), the operation,
// the low bits of the socket, and the slot's generation at the time of the post: Linux reuses
// descriptor numbers at once, so only the generation tells a slot's previous occupant apart.
#pragma once

#include <cstdint>

namespace Vorezi {

enum AsyncOpType : uint32_t {
    ASYNC_OP_RECV = 0,
    ASYNC_OP_SEND = 1,
    ASYNC_OP_CONNECT = 3,
};

struct AsyncKey {
    static constexpr unsigned kHandleBits = 17;
    static constexpr unsigned kTypeShift = 17;
    static constexpr unsigned kSocketShift = 19;
    static constexpr unsigned kSocketBits = 14;
    static constexpr unsigned kGenShift = 33;

    static uintptr_t Make(int iHandle, uint32_t uType, int iSocket, uint32_t uGeneration) {
        return (uintptr_t(uint32_t(iHandle)) & ((1u << kHandleBits) - 1)) | (uintptr_t(uType & 3) << kTypeShift) |
               (uintptr_t(uint32_t(iSocket) & ((1u << kSocketBits) - 1)) << kSocketShift) |
               (uintptr_t(uGeneration & 0x7FFFFFFFu) << kGenShift);
    }
    static int Handle(uintptr_t uKey) { return int(uKey & ((1u << kHandleBits) - 1)); }
    static uint32_t Type(uintptr_t uKey) { return uint32_t(uKey >> kTypeShift) & 3; }
    static int SocketBits(uintptr_t uKey) { return int((uKey >> kSocketShift) & ((1u << kSocketBits) - 1)); }
    static uint32_t Generation(uintptr_t uKey) { return uint32_t(uKey >> kGenShift) & 0x7FFFFFFFu; }
};
static_assert(sizeof(uintptr_t) == 8, "the completion key needs a 64-bit user value");

}  // namespace Vorezi
