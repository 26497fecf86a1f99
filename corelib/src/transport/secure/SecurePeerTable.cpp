#include "transport/secure/SecurePeerTable.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"

namespace Vorezi {
namespace secure {

bool CSecurePeerTable::Create() {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        SECURE_LINK_INFO free = {};
        free.iVRUDPHandle = -1;
        m_entries.assign(SECURE_MAX_SESSIONS, free);
        m_timePos.assign(SECURE_MAX_SESSIONS, m_byTime.end());
        m_inTimeList.assign(SECURE_MAX_SESSIONS, 0);
        m_withoutVRUDP.assign(SECURE_MAX_SESSIONS, 0);
    } catch (const std::bad_alloc &) {
        m_entries.clear();
        return false;
    }
    return true;
}

void CSecurePeerTable::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SECURE_LINK_INFO>().swap(m_entries);
    m_byVRUDPHandle.clear();
    m_byAddr.clear();
    m_byTime.clear();
    m_timePos.clear();
    m_inTimeList.clear();
    m_withoutVRUDP.clear();
}

std::string CSecurePeerTable::AddrKey(const char *pAddr, uint16_t wPort) {
    // The whole text and the port: 127.0.0.1 never matches 127.0.0.12.
    std::string key(pAddr, strnlen(pAddr, SECURE_ADDR_LEN));
    key.push_back('\0');
    key.push_back(char(wPort >> 8));
    key.push_back(char(wPort & 0xFF));
    return key;
}

bool CSecurePeerTable::ValidHandle(int iSecureHandle, const char *pFunc) const {
    if (iSecureHandle >= 0 && iSecureHandle < int(m_entries.size()))
        return true;
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::%s, Invalid iSecureHandle[%d]", m_iOwner, pFunc,
                    iSecureHandle);
    Utils_Assert();
    return false;
}

bool CSecurePeerTable::Add(int iSecureHandle, const SECURE_LINK_INFO &info, bool bWithoutVRUDP) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ValidHandle(iSecureHandle, "AddHandle"))
        return false;
    const size_t i = size_t(iSecureHandle);
    if (m_entries[i].bUsed)
        Unlink(iSecureHandle);
    SECURE_LINK_INFO &e = m_entries[i];
    e = info;
    e.szAddr[SECURE_ADDR_LEN - 1] = '\0';
    e.bUsed = 1;
    e.dwLastProcessTime = 0;
    m_withoutVRUDP[i] = bWithoutVRUDP ? 1 : 0;
    if (bWithoutVRUDP)
        m_byAddr[AddrKey(e.szAddr, e.wPort)] = iSecureHandle;
    else
        m_byVRUDPHandle[e.iVRUDPHandle] = iSecureHandle;
    LogModule_WriteDebug(7, "[%d]CSecureLinkListenSession::AddHandle, iSecureHandle[%d], iVRUDPHandle[%d], Addr[%s:%d]",
                         m_iOwner, iSecureHandle, e.iVRUDPHandle, e.szAddr, e.wPort);
    return true;
}

// Drops the entry from the indexes; the caller holds the mutex.
void CSecurePeerTable::Unlink(int iSecureHandle) {
    const size_t i = size_t(iSecureHandle);
    SECURE_LINK_INFO &e = m_entries[i];
    if (m_withoutVRUDP[i]) {
        auto it = m_byAddr.find(AddrKey(e.szAddr, e.wPort));
        if (it != m_byAddr.end() && it->second == iSecureHandle)
            m_byAddr.erase(it);
    } else {
        auto it = m_byVRUDPHandle.find(e.iVRUDPHandle);
        if (it != m_byVRUDPHandle.end() && it->second == iSecureHandle)
            m_byVRUDPHandle.erase(it);
    }
    if (m_inTimeList[i]) {
        m_byTime.erase(m_timePos[i]);
        m_inTimeList[i] = 0;
    }
    memset(&e, 0, sizeof(e));
    e.iVRUDPHandle = -1;
}

bool CSecurePeerTable::Del(int iSecureHandle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ValidHandle(iSecureHandle, "DelHandle"))
        return false;
    if (!m_entries[size_t(iSecureHandle)].bUsed)
        return false;
    const int iVRUDPHandle = m_entries[size_t(iSecureHandle)].iVRUDPHandle;
    Unlink(iSecureHandle);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureLinkListenSession::DelHandle, SUCC, iSecureHandle[%d], iVRUDPHandle[%d]",
                    m_iOwner, iSecureHandle, iVRUDPHandle);
    return true;
}

int CSecurePeerTable::Find(int iVRUDPHandle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_byVRUDPHandle.find(iVRUDPHandle);
    if (it != m_byVRUDPHandle.end())
        return it->second;
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureLinkListenSession::FindHandle, Failed, iVRUDPHandle[%d]", m_iOwner,
                    iVRUDPHandle);
    return -1;
}

int CSecurePeerTable::FindWithAddr(const char *pAddr, uint16_t wPort) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_byAddr.find(AddrKey(pAddr, wPort));
    if (it != m_byAddr.end())
        return it->second;
    LogModule_WriteDebug(7, "[%d]CSecureLinkListenSession::FindHandleWithAddr, Failed, Addr[%s:%d]", m_iOwner, pAddr,
                         wPort);
    return -1;
}

void CSecurePeerTable::Touch(int iSecureHandle, uint32_t dwNow) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (iSecureHandle < 0 || iSecureHandle >= int(m_entries.size()) || !m_entries[size_t(iSecureHandle)].bUsed)
        return;
    const size_t i = size_t(iSecureHandle);
    // A zero tick would read as "never kept alive".
    m_entries[i].dwLastProcessTime = dwNow == 0 ? 1 : dwNow;
    if (m_inTimeList[i])
        m_byTime.erase(m_timePos[i]);
    m_timePos[i] = m_byTime.insert(m_byTime.end(), iSecureHandle);
    m_inTimeList[i] = 1;
}

std::vector<int> CSecurePeerTable::TakeExpired(uint32_t dwNow, uint32_t dwLimit) {
    std::vector<int> expired;
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_byTime.empty()) {
        const int h = m_byTime.front();
        const uint32_t dwLast = m_entries[size_t(h)].dwLastProcessTime;
        if (dwNow - dwLast <= dwLimit)
            break;
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CSecureLinkListenSession::ClearTimeOutLinkSession, dwLastProcessTime[%d], Destroy, "
                        "iSecureHandle[%d]",
                        m_iOwner, int(dwLast), h);
        Unlink(h);
        expired.push_back(h);
    }
    return expired;
}

std::vector<int> CSecurePeerTable::TakeAll() {
    std::vector<int> all;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_entries.size(); i++) {
        if (!m_entries[i].bUsed)
            continue;
        LogModule_Write(LOG_LEVEL_DBG, "CSecureLinkListenSession::CleanParam, Destroy, iSecureHandle[%d], iVRUDPHandle[%d]",
                        int(i), m_entries[i].iVRUDPHandle);
        Unlink(int(i));
        all.push_back(int(i));
    }
    return all;
}

} // namespace secure
} // namespace Vorezi
