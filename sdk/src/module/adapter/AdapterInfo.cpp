#include "module/adapter/AdapterInfo.h"

#include <cstring>

#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"
#include "yar/yar_adapter.h"

namespace ZEVA {

namespace {

std::mutex g_instanceLock;
// Deleted only by DestroyInstance: like the controller, the table is not torn down at exit, where
// threads a host leaves behind may still read it.
CAdapterInfo *g_instance = nullptr;

// Copies at most size - 1 characters and terminates.
void CopyText(char *pDst, size_t size, const char *pSrc) {
    size_t n = strnlen(pSrc, size - 1);
    std::memcpy(pDst, pSrc, n);
    pDst[n] = '\0';
}

bool IsUsableIPv4(const char *pText) {
    return pText[0] != '\0' && std::strcmp(pText, "0.0.0.0") != 0 && std::strcmp(pText, "127.0.0.1") != 0;
}

// Fills the entry from the runtime's adapter; false when the adapter is not usable.
bool FillEntry(const YAR_ADAPTER_INFO_T &a, ADAPTER_ENTRY &e) {
    std::memset(&e, 0, sizeof e);
    CopyText(e.szAdapterName, sizeof e.szAdapterName, a.name);
    CopyText(e.szDesc, sizeof e.szDesc, a.description);
    if (a.ipv4)
        CopyText(e.szIPv4, sizeof e.szIPv4, a.ipv4->u.text.address);
    if (!IsUsableIPv4(e.szIPv4))
        return false;
    if (a.ipv6)
        std::memcpy(e.byIPv6, a.ipv6->u.ip6, sizeof e.byIPv6);
    uint8_t mac[6] = {};
    std::memcpy(mac, a.mac, a.macLen < 6 ? a.macLen : 6);
    MacToString(e.szMAC, mac);
    if (std::strcmp(e.szMAC, "00-00-00-00-00-00") == 0)
        return false;
    e.dwIndex = a.index;
    e.bNotLan = a.type == YAR_IF_TYPE_ETHERNET || a.type == YAR_IF_TYPE_IEEE80211 ? 0 : 1;
    return true;
}

// True when every new entry's address is found among the old ones, in the same order.
bool SameIPv4Order(const ADAPTER_TABLE &oldT, const ADAPTER_TABLE &newT) {
    int from = 0;
    for (int i = 0; i < newT.wCount; ++i) {
        while (from < oldT.wCount && std::strcmp(oldT.struEntry[from].szIPv4, newT.struEntry[i].szIPv4) != 0)
            ++from;
        if (from == oldT.wCount)
            return false;
    }
    return true;
}

bool AllIPv6Known(const ADAPTER_TABLE &oldT, const ADAPTER_TABLE &newT) {
    for (int i = 0; i < newT.wCount; ++i) {
        bool found = false;
        for (int j = 0; j < oldT.wCount && !found; ++j)
            found = std::memcmp(oldT.struEntry[j].byIPv6, newT.struEntry[i].byIPv6, 16) == 0;
        if (!found)
            return false;
    }
    return true;
}

int InvalidParameter(const char *pLine) {
    ZEVA_LOG_ERR("%s", pLine);
    SetSdkLastError(ZEVA_ERR_PARAM);
    return -1;
}

}  // namespace

CAdapterInfo::CAdapterInfo() { GetAdapterInfo(&m_table); }

CAdapterInfo *CAdapterInfo::GetInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (!g_instance)
        g_instance = new CAdapterInfo;
    return g_instance;
}

void CAdapterInfo::DestroyInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    delete g_instance;
    g_instance = nullptr;
}

int CAdapterInfo::GetAdapterInfo(ADAPTER_TABLE *pTable) {
    std::memset(pTable, 0, sizeof *pTable);
    YAR_ADAPTER_INFO_T *list = nullptr;
    if (YAR_GetAdapterInfo(&list) != 0) {
        ZEVA_LOG_ERR("[CAdapterInfo::GetAdapterInfo] YAR_GetAdapterInfo failed");
        SetSdkLastError(ZEVA_ERR_ADAPTER_ENUM);
        return 0;
    }
    int usable = 0;
    for (const YAR_ADAPTER_INFO_T *a = list; a; a = a->next) {
        ADAPTER_ENTRY entry;
        if (!FillEntry(*a, entry))
            continue;
        if (usable++ < MAX_ADAPTER_NUM)
            pTable->struEntry[pTable->wCount++] = entry;
    }
    YAR_FreeAdapterInfo(list);
    if (usable > MAX_ADAPTER_NUM)
        ZEVA_LOG_ERR("[CAdapterInfo::GetAdapterInfo] %d usable adapters, the first %d are used", usable,
                     MAX_ADAPTER_NUM);
    return 1;
}

int CAdapterInfo::IsAdapterChanged(int bTestIPv4, int bTestIPv6) {
    ADAPTER_TABLE fresh;
    GetAdapterInfo(&fresh);
    std::lock_guard<std::mutex> guard(m_lock);
    bool changed = (bTestIPv4 && !SameIPv4Order(m_table, fresh)) || (bTestIPv6 && !AllIPv6Known(m_table, fresh));
    if (changed)
        m_table = fresh;
    return changed ? 1 : 0;
}

int CAdapterInfo::GetAdapterNum() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_table.wCount;
}

bool CAdapterInfo::GetAdapter(int iIndex, ADAPTER_ENTRY *pEntry) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (iIndex < 0 || iIndex >= m_table.wCount)
        return false;
    *pEntry = m_table.struEntry[iIndex];
    return true;
}

int CAdapterInfo::GetCurAdapterName(int iIndex, char *pOut) {
    ADAPTER_ENTRY e;
    if (!pOut || !GetAdapter(iIndex, &e))
        return InvalidParameter("[CAdapterInfo::GetCurAdapterMAC] Invalid parameter!");
    std::memcpy(pOut, e.szAdapterName, sizeof e.szAdapterName);
    return 0;
}

int CAdapterInfo::GetCurAdapterIPv4(int iIndex, char *pOut) {
    ADAPTER_ENTRY e;
    if (!pOut || !GetAdapter(iIndex, &e))
        return InvalidParameter("[CAdapterInfo::GetCurAdapterMAC] Invalid parameter!");
    std::memcpy(pOut, e.szIPv4, sizeof e.szIPv4);
    return 0;
}

int CAdapterInfo::GetCurAdapterIPv6(int iIndex, uint8_t *pOut) {
    ADAPTER_ENTRY e;
    if (!pOut || !GetAdapter(iIndex, &e))
        return InvalidParameter("[CAdapterInfo::GetCurAdapterIPv6] Invalid parameter!");
    std::memcpy(pOut, e.byIPv6, sizeof e.byIPv6);
    return 0;
}

int CAdapterInfo::GetCurAdapterMAC(int iIndex, char *pOut) {
    if (!pOut)
        return InvalidParameter("[CAdapterInfo::GetCurAdapterMAC] Invalid parameter!");
    ADAPTER_ENTRY e;
    if (!GetAdapter(iIndex, &e)) {
        ZEVA_LOG_ERR("[CAdapterInfo::GetCurAdapterMAC] Invalid parameter, AdapterIndex %d is wrong!", iIndex);
        SetSdkLastError(ZEVA_ERR_PARAM);
        return -1;
    }
    char *p = pOut;
    for (const char *m = e.szMAC; *m; ++m)
        if (*m != '-')
            *p++ = *m;
    *p = '\0';
    return 0;
}

int CAdapterInfo::GetCurAdapterDesc(int iIndex, char *pOut) {
    ADAPTER_ENTRY e;
    if (!pOut || !GetAdapter(iIndex, &e)) {
        InvalidParameter("[CAdapterInfo::GetCurAdapterMAC] Invalid parameter!");
        return 0;
    }
    CopyText(pOut, sizeof e.szDesc, e.szDesc);
    return 0;
}

int CAdapterInfo::SetCurAdapterIPv4List(int iCount, const char (*pIPv4)[16]) {
    if (iCount < 0 || iCount > MAX_ADAPTER_NUM || (iCount > 0 && !pIPv4)) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_table.wCount = uint16_t(iCount);
    for (int i = 0; i < iCount; ++i)
        CopyText(m_table.struEntry[i].szIPv4, sizeof m_table.struEntry[i].szIPv4, pIPv4[i]);
    return 1;
}

}  // namespace ZEVA
