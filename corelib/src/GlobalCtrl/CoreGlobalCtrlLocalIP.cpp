// Local address tables of the global controller: read from the adapter list, at most every 4 s,
// and the selection of the address and MAC that links use.
#include <cstdio>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/Utils.h"
#include "yar/yar_adapter.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int64_t kIPRefreshUs = 4000000;
constexpr DWORD kLoopbackIPv4 = 0x7F000001;

bool IsZero16(const BYTE *p) {
    for (int i = 0; i < 16; i++) {
        if (p[i])
            return false;
    }
    return true;
}

}  // namespace

void CCoreGlobalCtrlBase::ClearLocalIPTables() {
    std::memset(m_LocalIPv4, 0, sizeof(m_LocalIPv4));
    std::memset(m_LocalIPv6, 0, sizeof(m_LocalIPv6));
}

// Tables, selection and update time back to their start: the first reading after a new Init
// then happens at once instead of up to 4 s later.
void CCoreGlobalCtrlBase::ResetLocalIP() {
    ClearLocalIPTables();
    m_dwIPv4Index = 0;
    m_dwIPv6Index = 0;
    m_bBindLocalIP = 0;
    m_dwPinnedFamily = 0;
    m_llLastIPUpdate.store(0);
}

void CCoreGlobalCtrlBase::StoreAdapterIPv4(const YAR_ADAPTER_INFO_T *pAdapter, int *pPos) {
    for (const YAR_ADDR_NODE_T *pNode = pAdapter->ipv4; pNode && *pPos < MORVA_MAX_LOCAL_IP; pNode = pNode->next) {
        const char *pText = pNode->u.text.address;
        if (std::strcmp(pText, "127.0.0.1") == 0 || std::strcmp(pText, "0.0.0.0") == 0 || !Utils_IsValidIPv4(pText))
            continue;
        MORVA_LOCAL_IPV4 &entry = m_LocalIPv4[*pPos];
        std::memset(&entry, 0, sizeof(entry));
        std::snprintf(entry.szIP, sizeof(entry.szIP), "%s", pText);
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(pText, "%u.%u.%u.%u", &a, &b, &c, &d);
        entry.dwAddr = (a << 24) | (b << 16) | (c << 8) | d;
        std::memcpy(entry.byMac, pAdapter->mac, sizeof(entry.byMac));
        entry.byValid = 1;
        LogModule_Write(LOG_LEVEL_INF, "CCoreGlobalCtrlBase::UpdateLocalIP, IPv4 No.%d [%#08x:%s]", *pPos,
                        entry.dwAddr, entry.szIP);
        (*pPos)++;
    }
}

void CCoreGlobalCtrlBase::StoreAdapterIPv6(const YAR_ADAPTER_INFO_T *pAdapter, int *pPos) {
    for (const YAR_ADDR_NODE_T *pNode = pAdapter->ipv6; pNode && *pPos < MORVA_MAX_LOCAL_IP; pNode = pNode->next) {
        const BYTE *a = pNode->u.ip6;
        if (IsZero16(a))
            continue;
        MORVA_LOCAL_IPV6 &entry = m_LocalIPv6[*pPos];
        std::memset(&entry, 0, sizeof(entry));
        std::memcpy(entry.byAddr, a, sizeof(entry.byAddr));
        std::memcpy(entry.byMac, pAdapter->mac, sizeof(entry.byMac));
        entry.byValid = 1;
        LogModule_Write(LOG_LEVEL_INF,
                        "GetLocalIP IPv6 No.%d "
                        "[%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x:%02x%02x]",
                        *pPos, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13],
                        a[14], a[15]);
        (*pPos)++;
    }
}

int CCoreGlobalCtrlBase::UpdateLocalIP() {
    YAR_ADAPTER_INFO_T *pList = nullptr;
    if (YAR_GetAdapterInfo(&pList) != 0) {
        SetLastError(MORVA_ERR_NO_LOCAL_IP);
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::UpdateLocalIP, YAR_GetAdapterInfo Failed");
        return -1;
    }
    // A whole rebuild: an address that vanished must not stay selectable behind the new entries.
    ClearLocalIPTables();
    int nIPv4 = 0;
    for (const YAR_ADAPTER_INFO_T *p = pList; p && nIPv4 < MORVA_MAX_LOCAL_IP; p = p->next)
        StoreAdapterIPv4(p, &nIPv4);
    if (nIPv4 == 0)
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::UpdateLocalIP, Failed to retrieve valid ip address");
    int nIPv6 = 0;
    for (const YAR_ADAPTER_INFO_T *p = pList; p && nIPv6 < MORVA_MAX_LOCAL_IP; p = p->next)
        StoreAdapterIPv6(p, &nIPv6);
    YAR_FreeAdapterInfo(pList);
    if (nIPv4 == 0 && nIPv6 == 0) {
        SetLastError(MORVA_ERR_NO_LOCAL_IP);
        return -1;
    }
    return 0;
}

int CCoreGlobalCtrlBase::CheckUpdateLocalIP() {
    int64_t llNow = YAR_TimeNow();
    int64_t llLast = m_llLastIPUpdate.load();
    if (llNow - llLast < kIPRefreshUs)
        return 0;
    m_llLastIPUpdate.store(llNow);
    if (!LocalIPLock())
        return -1;
    int iResult = UpdateLocalIP();
    LocalIPUnlock();
    return iResult;
}

// Pins entry dwIPIndex (0..15, valid) of one table: 0, or -1 with error 17.
int CCoreGlobalCtrlBase::PinLocalIP(bool bIPv6, DWORD dwIPIndex, DWORD bEnableBind) {
    if (!LocalIPLock())
        return -1;
    bool bValid = dwIPIndex < MORVA_MAX_LOCAL_IP_LIST &&
                  (bIPv6 ? m_LocalIPv6[dwIPIndex].byValid : m_LocalIPv4[dwIPIndex].byValid);
    if (bValid) {
        (bIPv6 ? m_dwIPv6Index : m_dwIPv4Index) = dwIPIndex;
        m_bBindLocalIP = bEnableBind;
        m_dwPinnedFamily = bIPv6 ? 1 : 0;
    }
    LocalIPUnlock();
    if (!bValid) {
        SetLastError(MORVA_ERR_PARAM);
        return -1;
    }
    return 0;
}

int CCoreGlobalCtrlBase::SetDefaultIPv4Index(DWORD dwIPIndex, DWORD bEnableBind) {
    return PinLocalIP(false, dwIPIndex, bEnableBind);
}

int CCoreGlobalCtrlBase::SetDefaultIPv6Index(DWORD dwIPIndex, DWORD bEnableBind) {
    return PinLocalIP(true, dwIPIndex, bEnableBind);
}

DWORD CCoreGlobalCtrlBase::IsBindLocalIP() {
    return m_bBindLocalIP;
}

// Copies the selected entry's field under the local-IP mutex: 0, or -1.
template <class F>
int CCoreGlobalCtrlBase::ReadSelected(void *pOut, F fnCopy) {
    if (!pOut || !LocalIPLock())
        return -1;
    fnCopy();
    LocalIPUnlock();
    return 0;
}

int CCoreGlobalCtrlBase::GetLocalIPv4Addr(DWORD *pAddr) {
    return ReadSelected(pAddr, [&] { *pAddr = m_LocalIPv4[m_dwIPv4Index].dwAddr; });
}

int CCoreGlobalCtrlBase::GetLocalIPv4Str(char *pText) {
    return ReadSelected(pText, [&] { std::memcpy(pText, m_LocalIPv4[m_dwIPv4Index].szIP, 16); });
}

int CCoreGlobalCtrlBase::GetLocalIPv6Addr(BYTE *pAddr) {
    return ReadSelected(pAddr, [&] { std::memcpy(pAddr, m_LocalIPv6[m_dwIPv6Index].byAddr, 16); });
}

int CCoreGlobalCtrlBase::GetLocalIPv4List(char *pBuf, int *pCount, int *pBind) {
    if (!pBuf || !LocalIPLock())
        return -1;
    std::memset(pBuf, 0, MORVA_MAX_LOCAL_IP_LIST * 16);
    int n = 0;
    while (n < MORVA_MAX_LOCAL_IP_LIST && m_LocalIPv4[n].byValid) {
        std::memcpy(pBuf + n * 16, m_LocalIPv4[n].szIP, 16);
        n++;
    }
    if (pCount)
        *pCount = n;
    if (pBind)
        *pBind = (int)m_bBindLocalIP;
    LocalIPUnlock();
    return 0;
}

int CCoreGlobalCtrlBase::GetLocalIPv6List(BYTE *pBuf, int *pCount, int *pBind) {
    if (!pBuf || !pCount || !pBind || !LocalIPLock())
        return -1;
    std::memset(pBuf, 0, MORVA_MAX_LOCAL_IP_LIST * 16);
    int n = 0;
    while (n < MORVA_MAX_LOCAL_IP_LIST && m_LocalIPv6[n].byValid) {
        std::memcpy(pBuf + n * 16, m_LocalIPv6[n].byAddr, 16);
        n++;
    }
    *pCount = n;
    *pBind = (int)m_bBindLocalIP;
    LocalIPUnlock();
    return 0;
}

int CCoreGlobalCtrlBase::SelectLocalIP(const BYTE *pIPv6, DWORD dwIPv4, int bIPv6) {
    if (!LocalIPLock())
        return 0;
    int iResult = 0;
    if (bIPv6) {
        for (DWORD i = 0; pIPv6 && i < MORVA_MAX_LOCAL_IP && !iResult; i++) {
            if (m_LocalIPv6[i].byValid && std::memcmp(m_LocalIPv6[i].byAddr, pIPv6, 16) == 0) {
                m_dwIPv6Index = i;
                iResult = 1;
            }
        }
    } else {
        for (DWORD i = 0; i < MORVA_MAX_LOCAL_IP && !iResult; i++) {
            if (m_LocalIPv4[i].byValid && m_LocalIPv4[i].dwAddr == dwIPv4) {
                m_dwIPv4Index = i;
                iResult = 1;
            }
        }
        if (!iResult && dwIPv4 == kLoopbackIPv4) {
            m_dwIPv4Index = 0;
            iResult = 1;
        }
    }
    LocalIPUnlock();
    return iResult;
}

int CCoreGlobalCtrlBase::GetMacAddr(BYTE *pMac, const BYTE *pIPv6, DWORD dwIPv4, int bIPv6) {
    if (!m_bBindLocalIP && !SelectLocalIP(pIPv6, dwIPv4, bIPv6)) {
        CheckUpdateLocalIP();
        SelectLocalIP(pIPv6, dwIPv4, bIPv6);
    }
    if (!pMac || !LocalIPLock())
        return 1;
    std::memcpy(pMac, bIPv6 ? m_LocalIPv6[m_dwIPv6Index].byMac : m_LocalIPv4[m_dwIPv4Index].byMac, 6);
    LocalIPUnlock();
    return 1;
}

}  // namespace Vorezi
