#include "base/AnswerCopies.h"

#include <cstring>

#include "yar/yar_mutex.h"
#include "yar/yar_string.h"

namespace ZEVA {

CAnswerCopies::CAnswerCopies() {
    const YAR_MUTEX_T unlocked = YAR_MUTEX_INITIALIZER;
    for (YAR_MUTEX_T &lock : m_Locks)
        lock = unlocked;
    m_InFlightLock = unlocked;
    YAR_GUID_T random[2];
    if (YAR_CreateGUID(&random[0]) == 0 && YAR_CreateGUID(&random[1]) == 0)
        std::memcpy(&m_Key, random, sizeof m_Key);
}

ANSWER_DIGEST CAnswerCopies::Digest(const char *pData, uint32_t dwLen) const {
    return {SipHash13(m_Key, pData, dwLen), dwLen};
}

bool CAnswerCopies::Find(const ANSWER_DIGEST &digest, uint32_t *pSlot, uint32_t *pVersion) {
    uint32_t index = SetIndex(digest);
    yar::yar_guard guard(&m_Locks[index % STRIPES]);
    for (const ENTRY &e : m_Sets[index].ways) {
        if (e.used && e.hash == digest.hash && e.len == digest.len) {
            *pSlot = e.slot;
            *pVersion = e.version;
            return true;
        }
    }
    return false;
}

void CAnswerCopies::Remember(const ANSWER_DIGEST &digest, uint32_t dwSlot, uint32_t dwVersion) {
    uint32_t index = SetIndex(digest);
    yar::yar_guard guard(&m_Locks[index % STRIPES]);
    SET &set = m_Sets[index];
    ENTRY *target = nullptr;
    for (ENTRY &e : set.ways)
        if (e.used && e.hash == digest.hash && e.len == digest.len)
            target = &e;
    if (!target) {
        target = &set.ways[set.next];
        set.next = (set.next + 1) % WAYS;
    }
    *target = {digest.hash, digest.len, dwSlot, dwVersion, 1};
}

void CAnswerCopies::Clear() {
    for (uint32_t index = 0; index < SETS; ++index) {
        yar::yar_guard guard(&m_Locks[index % STRIPES]);
        m_Sets[index] = {};
    }
}

bool CAnswerCopies::Claim(const ANSWER_DIGEST &digest) {
    yar::yar_guard guard(&m_InFlightLock);
    for (uint32_t i = 0; i < m_dwInFlight; ++i)
        if (m_InFlight[i].hash == digest.hash && m_InFlight[i].len == digest.len)
            return false;
    if (m_dwInFlight < IN_FLIGHT)
        m_InFlight[m_dwInFlight++] = digest;
    return true;
}

void CAnswerCopies::Release(const ANSWER_DIGEST &digest) {
    yar::yar_guard guard(&m_InFlightLock);
    for (uint32_t i = 0; i < m_dwInFlight; ++i) {
        if (m_InFlight[i].hash == digest.hash && m_InFlight[i].len == digest.len) {
            m_InFlight[i] = m_InFlight[--m_dwInFlight];
            return;
        }
    }
}

}  // namespace ZEVA
