// The listen session's peer table: one entry per server session, indexed by the secure handle.
// Beside the table it keeps three indexes, so that no lookup scans the 20480 entries while the
// mutex is held: connection peers by their reliable-UDP handle, datagram peers by address text
// and port, and the kept-alive datagram peers in the order of their last processing time, which
// lets the time-out sweep stop at the first peer that is still fresh.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "transport/secure/SecureLinkRecords.h"

namespace Vorezi {
namespace secure {

class CSecurePeerTable {
public:
    // False when the table could not be allocated.
    bool Create();
    bool IsCreated() const { return !m_entries.empty(); }
    // The listen session's handle, for log lines.
    void SetOwner(int iOwner) { m_iOwner = iOwner; }

    // Datagram peers are found by address and port, connection peers by their handle.
    bool Add(int iSecureHandle, const SECURE_LINK_INFO &info, bool bWithoutVRUDP);
    // False when the entry was not in use, so that only one caller destroys its session.
    bool Del(int iSecureHandle);
    int Find(int iVRUDPHandle);
    int FindWithAddr(const char *pAddr, uint16_t wPort);
    void Touch(int iSecureHandle, uint32_t dwNow);
    // Frees the datagram peers kept alive more than dwLimit ms ago and gives their handles.
    std::vector<int> TakeExpired(uint32_t dwNow, uint32_t dwLimit);
    // Frees every entry and gives the handles (the table itself stays).
    std::vector<int> TakeAll();
    void Release();

private:
    static std::string AddrKey(const char *pAddr, uint16_t wPort);
    bool ValidHandle(int iSecureHandle, const char *pFunc) const;
    void Unlink(int iSecureHandle);

    std::mutex m_mutex;
    int m_iOwner = -1;
    std::vector<SECURE_LINK_INFO> m_entries;
    std::unordered_map<int, int> m_byVRUDPHandle;
    std::unordered_map<std::string, int> m_byAddr;
    std::list<int> m_byTime; // oldest first
    std::vector<std::list<int>::iterator> m_timePos;
    std::vector<uint8_t> m_inTimeList;
    std::vector<uint8_t> m_withoutVRUDP;
};

} // namespace secure
} // namespace Vorezi
