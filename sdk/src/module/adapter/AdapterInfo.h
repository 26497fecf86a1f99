// The table of the machine's usable network adapters: up, with an IPv4 address other than
// 0.0.0.0 and 127.0.0.1, and a MAC other than all zeros; at most 10, in interface-index order.
// One service runs per entry. The address-check thread replaces the table when the addresses
// change, so readers take copies under the table's lock and never see it half replaced.
#pragma once

#include <cstdint>
#include <mutex>

namespace ZEVA {

constexpr int MAX_ADAPTER_NUM = 10;

struct ADAPTER_ENTRY {
    char szAdapterName[128];  // capture-device name: the plain interface name
    char szIPv4[16];
    char szMAC[20];           // "00-1a-2b-3c-4d-5e"
    uint32_t dwIndex;         // interface index
    uint32_t bNotLan;         // 0 for Ethernet and IEEE 802.11, else 1
    uint8_t byIPv6[16];       // zero when the adapter has none
    char szDesc[128];
};

struct ADAPTER_TABLE {
    uint16_t wCount;
    ADAPTER_ENTRY struEntry[MAX_ADAPTER_NUM];
};

class CAdapterInfo {
public:
    static CAdapterInfo *GetInstance();
    static void DestroyInstance();

    // Enumerates into a caller's table: 1, or 0 with an empty table and 2004.
    static int GetAdapterInfo(ADAPTER_TABLE *pTable);
    // Enumerates anew and replaces the table when an address was lost or moved: 1, else 0.
    int IsAdapterChanged(int bTestIPv4, int bTestIPv6);

    int GetAdapterNum();
    // A copy of the entry; false for an index outside the table.
    bool GetAdapter(int iIndex, ADAPTER_ENTRY *pEntry);

    int GetCurAdapterName(int iIndex, char *pOut);
    int GetCurAdapterIPv4(int iIndex, char *pOut);
    int GetCurAdapterIPv6(int iIndex, uint8_t *pOut);
    int GetCurAdapterMAC(int iIndex, char *pOut);
    int GetCurAdapterDesc(int iIndex, char *pOut);
    int SetCurAdapterIPv4List(int iCount, const char (*pIPv4)[16]);

private:
    CAdapterInfo();

    std::mutex m_lock;
    ADAPTER_TABLE m_table;
};

}  // namespace ZEVA
