// The device answers already taken into the found-device list, by a keyed hash of their bytes.
// One answer reaches the dispatchers many times (both ports, the relay of every service, every
// adapter); a copy whose device slot has not changed since is known before it is parsed. What is
// remembered is the slot and the slot's version at that time: a copy counts only while the slot
// still holds what the first one left there.
#pragma once

#include <cstdint>

#include "utils/SipHash.h"
#include "yar/yar_mutex.h"

namespace ZEVA {

struct ANSWER_DIGEST {
    uint64_t hash;
    uint32_t len;
};

class CAnswerCopies {
public:
    // Under a secret key of its own, drawn here.
    CAnswerCopies();
    CAnswerCopies(const CAnswerCopies &) = delete;
    CAnswerCopies &operator=(const CAnswerCopies &) = delete;

    ANSWER_DIGEST Digest(const char *pData, uint32_t dwLen) const;
    // The slot and version remembered for the bytes.
    bool Find(const ANSWER_DIGEST &digest, uint32_t *pSlot, uint32_t *pVersion);
    void Remember(const ANSWER_DIGEST &digest, uint32_t dwSlot, uint32_t dwVersion);
    void Clear();

    // The bytes a receive thread is processing now. Every adapter hears an answer at about the
    // same moment, before any copy of it is remembered: a thread that finds the very same bytes
    // in hand on another thread drops them, as processing them would come to the same end
    // there. False when they are in hand elsewhere; otherwise they are this thread's until
    // Release.
    bool Claim(const ANSWER_DIGEST &digest);
    void Release(const ANSWER_DIGEST &digest);

private:
    // Four answers a set; a full set gives up its oldest. Twice the answers of a full list
    // (an inquiry answer and a hello each) fit with room to spare.
    static constexpr uint32_t SETS = 8192;
    static constexpr uint32_t WAYS = 4;
    static constexpr uint32_t STRIPES = 64;  // locks, each over every 64th set

    struct ENTRY {
        uint64_t hash;
        uint32_t len;
        uint32_t slot;
        uint32_t version;
        uint32_t used;  // 0: free
    };
    struct SET {
        ENTRY ways[WAYS];
        uint32_t next;  // the way to give up next
    };

    static constexpr uint32_t IN_FLIGHT = 64;  // claims beyond that many threads are not recorded

    static uint32_t SetIndex(const ANSWER_DIGEST &digest) { return uint32_t(digest.hash) & (SETS - 1); }

    SIPHASH_KEY m_Key{};
    YAR_MUTEX_T m_Locks[STRIPES];
    SET m_Sets[SETS] = {};
    YAR_MUTEX_T m_InFlightLock;
    ANSWER_DIGEST m_InFlight[IN_FLIGHT] = {};
    uint32_t m_dwInFlight = 0;
};

}  // namespace ZEVA
