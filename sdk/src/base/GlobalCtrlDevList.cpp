// The found-device list: every parsed device answer passes UpdateDevList, which decides whether
// the device is new, changed, back online or unchanged, stores it and reports it to the host; the
// inquiry thread's sweep reports the devices that stopped answering.
#include <cstddef>
#include <cstring>
#include <new>

#include "base/GlobalCtrl.h"
#include "module/adapter/AdapterInfo.h"
#include "utils/LogLine.h"
#include "utils/SdkLog.h"

namespace ZEVA {

namespace {

constexpr uint16_t OFFLINE_MISSES = 3;

struct TEXT_FIELD {
    size_t offset;
    size_t width;
};

#define ZEVA_TEXT_FIELD(name) {offsetof(ZEVA_DEVICE_INFO, name), sizeof(ZEVA_DEVICE_INFO::name)}
const TEXT_FIELD kTextFields[] = {
    ZEVA_TEXT_FIELD(szSerialNO), ZEVA_TEXT_FIELD(szMAC), ZEVA_TEXT_FIELD(szIPv4Address),
    ZEVA_TEXT_FIELD(szIPv4SubnetMask), ZEVA_TEXT_FIELD(szDeviceSoftwareVersion), ZEVA_TEXT_FIELD(szDSPVersion),
    ZEVA_TEXT_FIELD(szBootTime), ZEVA_TEXT_FIELD(szDevDescShort), ZEVA_TEXT_FIELD(szOEMinfo),
    ZEVA_TEXT_FIELD(szIPv4Gateway), ZEVA_TEXT_FIELD(szIPv6Address), ZEVA_TEXT_FIELD(szIPv6Gateway),
    ZEVA_TEXT_FIELD(szQadraVersion), ZEVA_TEXT_FIELD(szUserName), ZEVA_TEXT_FIELD(szWifiMAC),
    ZEVA_TEXT_FIELD(szPhysicalAccessVerification), ZEVA_TEXT_FIELD(szDevDesc), ZEVA_TEXT_FIELD(szSerialNOEx),
    ZEVA_TEXT_FIELD(szManufacturer),
};
#undef ZEVA_TEXT_FIELD

// The stored form of a record: what the list keeps and compares. The result code and the
// trailing reserved bytes are not kept; texts keep their whole field (a value that fills it has
// no terminator) and nothing after their end, so two records of the same answer compare equal
// whatever bytes a parser left behind a terminator.
void StoredForm(const ZEVA_DEVICE_INFO &in, ZEVA_DEVICE_INFO &out) {
    std::memcpy(&out, &in, sizeof out);
    out.iResult = 0;
    out.byReserved5 = 0;
    out.byReserved6 = 0;
    std::memset(out.byReserved7, 0, sizeof out.byReserved7);
    char *base = reinterpret_cast<char *>(&out);
    for (const TEXT_FIELD &f : kTextFields) {
        size_t len = strnlen(base + f.offset, f.width);
        std::memset(base + f.offset + len, 0, f.width - len);
    }
}

void DecodeSupportFlags(const ZEVA_DEVICE_INFO &dev, uint8_t *pFlags) {
    pFlags[0] = (dev.bySupport & 0x08) || dev.byDataFromMulticast == 1;  // network changes over XML
    pFlags[1] = (dev.bySupport & 0x20) != 0;                              // byResetPWUP
    pFlags[2] = (dev.bySupport & 0x40) != 0;                              // byResetPassWord
    static const uint8_t kSupport1[] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x40, 0x80};
    for (size_t i = 0; i < sizeof kSupport1; ++i)
        pFlags[3 + i] = (dev.bySupport1 & kSupport1[i]) != 0;
    for (int i = 0; i < 3; ++i)
        pFlags[10 + i] = (dev.bySupport2 >> i) & 1;
    pFlags[13] = (dev.bySupport & 0x10) != 0;
}

bool SameText(const char *a, const char *b, size_t width) { return std::strncmp(a, b, width) == 0; }

template <size_t N>
bool SameField(const char (&a)[N], const char (&b)[N]) {
    return std::memcmp(a, b, N) == 0;
}

bool SameSalt(const char *stored, const char *given) {
    return SameText(stored, given ? given : "", SALT_TEXT_LEN);
}

void CopySalt(char *pDst, const char *pSalt) {
    std::memset(pDst, 0, SALT_TEXT_LEN + 1);
    if (pSalt)
        std::memcpy(pDst, pSalt, strnlen(pSalt, SALT_TEXT_LEN));
}

bool BeginsWithCS(const ZEVA_DEVICE_INFO &dev) { return std::strncmp(dev.szDevDescShort, "CS", 2) == 0; }

}  // namespace

bool CGlobalCtrl::IsRuleOneFiltered(const ZEVA_DEVICE_INFO &dev) { return dev.byTOVUKCode == 1 || BeginsWithCS(dev); }

int CGlobalCtrl::IsDeviceFilter(const ZEVA_DEVICE_INFO *pDev) {
    if (!pDev) {
        ZEVA_LOG_ERR("[IsDeviceFilter] pDeviceInfo is Null");
        return 0;
    }
    const ZEVA_DEVICE_INFO &dev = *pDev;
    if (dev.szSerialNO[0] == 'T' && dev.szSerialNO[1] == 'V' && dev.szSerialNO[3] == '-')
        return 1;
    switch (m_iFilterRule.load()) {
    case 1: return IsRuleOneFiltered(dev);
    case 2: return dev.byOemCode == 1;
    case 3: return IsRuleOneFiltered(dev) || dev.byOemCode == 1;
    case -2: return !IsRuleOneFiltered(dev);
    case -3: {
        if (dev.byOemCode != 1)
            return 1;
        uint32_t detail = m_dwOEMDetailCode.load();
        return detail != 0 && dev.dwDetailOEMCode != detail;
    }
    default: return 0;
    }
}

int CGlobalCtrl::CompareDevInfo(uint32_t dwIndex, const ZEVA_DEVICE_INFO *pDev, const char *pSalt,
                                const char *pSalt2, uint8_t byProtocol) {
    const DEVICE_LIST_ITEM *item = m_pDevList[dwIndex].get();
    if (!item)
        return 0;
    ZEVA_DEVICE_INFO stored;
    StoredForm(*pDev, stored);
    return std::memcmp(&stored, &item->struDevInfo, sizeof stored) == 0 && SameSalt(item->szSalt, pSalt) &&
           SameSalt(item->szSalt2, pSalt2) && item->byProtocol == byProtocol;
}

void CGlobalCtrl::KeepSpareItem() {
    if (m_pSpareItem.load())
        return;
    DEVICE_LIST_ITEM *item = new (std::nothrow) DEVICE_LIST_ITEM;
    DEVICE_LIST_ITEM *none = nullptr;
    if (item && !m_pSpareItem.compare_exchange_strong(none, item))
        delete item;
}

int CGlobalCtrl::UpdateDevInfo(uint32_t dwIndex, const ZEVA_DEVICE_INFO *pDev, const char *pSalt, const char *pSalt2,
                               uint8_t byProtocol) {
    std::unique_ptr<DEVICE_LIST_ITEM> &slot = m_pDevList[dwIndex];
    bool listed = slot && dwIndex < m_dwDeviceNum;
    if (!slot)
        slot.reset(m_pSpareItem.exchange(nullptr));
    // Another receive thread took the spare since this one made sure of it: the record is had
    // here, under the lock, rather than the device reported and not kept.
    if (!slot)
        slot.reset(new (std::nothrow) DEVICE_LIST_ITEM);
    if (!slot)
        return 0;
    DEVICE_LIST_ITEM *item = slot.get();
    ZEVA_DEVICE_INFO stored;
    StoredForm(*pDev, stored);
    // An index entry follows its text: a listed slot whose text changes leaves the old one first.
    bool macMoves = !listed || !SameField(item->struDevInfo.szMAC, stored.szMAC);
    bool serialMoves = !listed || !SameField(item->struDevInfo.szSerialNOEx, stored.szSerialNOEx);
    if (listed && macMoves)
        m_MacIndex.Remove(dwIndex, m_dwDeviceNum);
    if (listed && serialMoves)
        m_SerialIndex.Remove(dwIndex, m_dwDeviceNum);
    std::memset(item, 0, sizeof *item);
    item->struDevInfo = stored;
    DecodeSupportFlags(*pDev, item->bySupportFlag);
    item->wMissCount = 0;
    item->dwOnline = 1;
    CopySalt(item->szSalt, pSalt);
    CopySalt(item->szSalt2, pSalt2);
    item->byProtocol = byProtocol;
    if (macMoves)
        m_MacIndex.Add(dwIndex);
    if (serialMoves)
        m_SerialIndex.Add(dwIndex);
    ChangeSlotVersion(dwIndex);
    return 1;
}

// Filter, then the old and the new callback; the list mutex is held.
void CGlobalCtrl::ReportDevice(ZEVA_DEVICE_INFO *pDev) {
    if (IsDeviceFilter(pDev)) {
        ZEVA_LOG_DBG("[CGlobalCtrl::CallbackDev] Filter IP:%.*s, seriaNO:%.*s, Mac:%.*s",
                     int(sizeof pDev->szIPv4Address), pDev->szIPv4Address, int(sizeof pDev->szSerialNOEx),
                     pDev->szSerialNOEx, int(sizeof pDev->szMAC), pDev->szMAC);
        return;
    }
    CallbackDev(pDev);
}

int CGlobalCtrl::CallbackDev(ZEVA_DEVICE_INFO *pDev) {
    if (m_fnOldDevCB)
        m_fnOldDevCB(pDev, m_pUserData);
    if (m_fnNewDevCB)
        m_fnNewDevCB(pDev, m_pUserData);
    return 1;
}

void CGlobalCtrl::UpdateDevList(ZEVA_DEVICE_INFO *pDev, uint16_t wAdapterIndex, const char *pSalt,
                                const char *pSalt2, uint8_t byProtocol, const ANSWER_DIGEST *pDigest) {
    if (!pDev || !IsStarted())
        return;
    KeepSpareItem();
    int slot = -1;
    bool holds = false;  // the slot holds this answer afterwards
    uint32_t version = 0;
    {
        yar::yar_guard guard(&m_hListMutex);
        slot = m_MacIndex.Find(pDev->szMAC, strnlen(pDev->szMAC, sizeof pDev->szMAC));
        bool report = true;
        if (slot >= 0) {
            DEVICE_LIST_ITEM *item = m_pDevList[slot].get();
            item->wMissCount = 0;
            bool wasOffline = item->dwOnline == 0;
            bool rawAfterXml = pDev->byDataFromMulticast == 0 && item->struDevInfo.byDataFromMulticast == 1;
            holds = !rawAfterXml;
            if (rawAfterXml || (!wasOffline && CompareDevInfo(uint32_t(slot), pDev, pSalt, pSalt2, byProtocol))) {
                report = false;
            } else {
                UpdateDevInfo(uint32_t(slot), pDev, pSalt, pSalt2, byProtocol);
                pDev->iResult = wasOffline ? 1 : 2;
            }
        } else if (m_dwDeviceNum < uint32_t(MAX_DEVICE_NUM)) {
            // A record that cannot be had leaves its slot free and uncounted: the next device takes it.
            if (UpdateDevInfo(m_dwDeviceNum, pDev, pSalt, pSalt2, byProtocol)) {
                slot = int(m_dwDeviceNum++);
                holds = true;
            }
            pDev->iResult = 1;
        } else {
            ZEVA_LOG_ERR("[CGlobalCtrl::UpdateDevList] MAX_DEV_NUM <= m_dwDeviceNum [%d][%d]", MAX_DEVICE_NUM,
                         m_dwDeviceNum);
            report = false;
        }
        version = holds ? SlotVersion(uint32_t(slot)) : 0;
        // The host's callbacks run with the list mutex held.
        if (report) {
            PrintDevInfo(wAdapterIndex, pDev);
            ReportDevice(pDev);
        }
    }
    // A slot that has changed again meanwhile has another version: this entry then never counts.
    if (pDigest && holds)
        m_AnswerCopies.Remember(*pDigest, uint32_t(slot), version);
}

bool CGlobalCtrl::TakeAnswerCopy(const ANSWER_DIGEST &digest) {
    uint32_t slot = 0, version = 0;
    if (!IsStarted() || !m_AnswerCopies.Find(digest, &slot, &version))
        return false;
    std::atomic<uint32_t> &state = m_dwSlotState[slot];
    uint32_t s = state.load();
    while (s >> 1 == version) {
        if ((s & 1) || state.compare_exchange_weak(s, s | 1))
            return true;
    }
    return false;
}

// Under the list mutex. The answered bit and the change of version are taken in one step, so a
// copy either counts before the device is found offline or finds the version changed and goes
// the whole way (and brings the device back).
bool CGlobalCtrl::CountMissedCycle(uint32_t dwSlot) {
    DEVICE_LIST_ITEM *item = m_pDevList[dwSlot].get();
    std::atomic<uint32_t> &state = m_dwSlotState[dwSlot];
    uint32_t s = state.load();
    for (;;) {
        uint16_t misses = (s & 1) ? 0 : item->wMissCount;
        if (misses < UINT16_MAX)
            ++misses;
        bool gone = misses >= OFFLINE_MISSES && item->dwOnline == 1;
        uint32_t next = gone ? ((s >> 1) + 1) << 1 : s & ~1u;
        if (state.compare_exchange_weak(s, next)) {
            item->wMissCount = misses;
            return gone;
        }
    }
}

void CGlobalCtrl::OfflineSweep() {
    yar::yar_guard guard(&m_hListMutex);
    for (uint32_t i = 0; i < m_dwDeviceNum; ++i) {
        DEVICE_LIST_ITEM *item = m_pDevList[i].get();
        if (!item || !CountMissedCycle(i))
            continue;
        item->dwOnline = 0;
        ZEVA_DEVICE_INFO gone{};
        const ZEVA_DEVICE_INFO &dev = item->struDevInfo;
        std::memcpy(gone.szSerialNO, dev.szSerialNO, sizeof gone.szSerialNO);
        std::memcpy(gone.szSerialNOEx, dev.szSerialNOEx, sizeof gone.szSerialNOEx);
        std::memcpy(gone.szMAC, dev.szMAC, sizeof gone.szMAC);
        gone.iResult = 3;
        ZEVA_LOG_INF("[CGlobalCtrl::LocalSendInquiryThread] The device offline mac[%.*s] sn[%.*s]",
                     int(sizeof gone.szMAC), gone.szMAC, int(sizeof gone.szSerialNOEx), gone.szSerialNOEx);
        ReportDevice(&gone);
    }
}

void CGlobalCtrl::FreeDevList() {
    {
        yar::yar_guard guard(&m_hListMutex);
        for (uint32_t i = 0; i < MAX_DEVICE_NUM; ++i) {
            m_pDevList[i].reset();
            if (i < m_dwDeviceNum)
                ChangeSlotVersion(i);
        }
        m_dwDeviceNum = 0;
        m_MacIndex.Clear();
        m_SerialIndex.Clear();
    }
    delete m_pSpareItem.exchange(nullptr);
    m_AnswerCopies.Clear();
}

int CGlobalCtrl::FindDevice(const char *pText, size_t offset, size_t width, const char *pFunc,
                            DEVICE_LIST_ITEM *pOut) {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("[CGlobalCtrl::%s] ZEVA not start", pFunc);
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    if (!pText || !pOut) {
        ZEVA_LOG_ERR("[CGlobalCtrl::%s] Invalid parameter!", pFunc);
        SetLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    const CDevIndex &index = offset == offsetof(ZEVA_DEVICE_INFO, szMAC) ? m_MacIndex : m_SerialIndex;
    {
        yar::yar_guard guard(&m_hListMutex);
        int slot = index.Find(pText, strnlen(pText, width + 1));
        if (slot >= 0) {
            std::memcpy(pOut, m_pDevList[slot].get(), sizeof *pOut);
            return 1;
        }
        ZEVA_LOG_ERR("[CGlobalCtrl::%s] can not find this mac!", pFunc);
        for (uint32_t i = 0; i < m_dwDeviceNum && m_pDevList[i]; ++i)
            ZEVA_LOG_INF("[CGlobalCtrl::SearchDeviceBySN] [%d][%.*s]", i, int(width),
                         reinterpret_cast<const char *>(&m_pDevList[i]->struDevInfo) + offset);
    }
    SetLastError(ZEVA_ERR_PARAM);
    return 0;
}

int CGlobalCtrl::SearchDevice(const char *pMAC, DEVICE_LIST_ITEM *pOut) {
    return FindDevice(pMAC, offsetof(ZEVA_DEVICE_INFO, szMAC), sizeof(ZEVA_DEVICE_INFO::szMAC), "SearchDevice", pOut);
}

int CGlobalCtrl::SearchDeviceBySN(const char *pSerial, DEVICE_LIST_ITEM *pOut) {
    return FindDevice(pSerial, offsetof(ZEVA_DEVICE_INFO, szSerialNOEx), sizeof(ZEVA_DEVICE_INFO::szSerialNOEx),
                      "SearchDeviceBySN", pOut);
}

int CGlobalCtrl::CallbackSubnetDev(ZEVA_SUBNET_DEVICE_INFO *pDev) {
    if (m_fnSubnetCB)
        m_fnSubnetCB(pDev, m_pUserData);
    return 1;
}

void CGlobalCtrl::UpdateSubnetDevList(ZEVA_SUBNET_DEVICE_INFO *pDev, uint16_t wAdapterIndex) {
    if (!pDev)
        return;
    ADAPTER_ENTRY e{};
    CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &e);
    ZEVA_LOG_INF("----Subnet--- Adapter[%s] szIPv4Address[%.16s] szSerialNOEx[%.128s] dwDeviceType[%d] "
                 "szIPv4SubnetMask[%.16s] szIPv4Gateway[%.16s] szIPv6Address[%.46s] szIPv6Gateway[%.46s] "
                 "byIPv6MaskLen[%d] bySupportIPv6[%d] bySupportModifyIPv6[%d] bySupportDhcp[%d] byDhcpEnabled[%d]",
                 e.szIPv4, pDev->szIPv4Address, pDev->szSerialNOEx, pDev->dwDeviceType, pDev->szIPv4SubnetMask,
                 pDev->szIPv4Gateway, pDev->szIPv6Address, pDev->szIPv6Gateway, pDev->byIPv6MaskLen,
                 pDev->bySupportIPv6, pDev->bySupportModifyIPv6, pDev->bySupportDhcp, pDev->byDhcpEnabled);
    if (!m_fnSubnetCB)
        return;
    CallbackSubnetDev(pDev);
    ZEVA_LOG_DBG("[CGlobalCtrl::CallbackSubnetDev] IP:%.16s, seriaNO:%.128s", pDev->szIPv4Address, pDev->szSerialNOEx);
}

void CGlobalCtrl::PrintDevInfo(uint16_t wAdapterIndex, const ZEVA_DEVICE_INFO *pDev) {
    if (!LogTakesInformation())
        return;
    ADAPTER_ENTRY e{};
    CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &e);
    const ZEVA_DEVICE_INFO &d = *pDev;
    CLogLine line;
    line.Text("----Dev Online---byDataFromMulticast[").Dec(d.byDataFromMulticast);
    line.Text("] Adapter[").Field(e.szIPv4, sizeof e.szIPv4).Text("] iResult:[").Dec(d.iResult);
    line.Text("] szIPv4Address[").Field(d.szIPv4Address, 16).Text("] szSerialNOEx[").Field(d.szSerialNOEx, 128);
    line.Text("] szMAC[").Field(d.szMAC, 20);
    const struct {
        const char *pName;
        uint8_t byFlags;
        int iBits;
    } flags[] = {{"] bySupport[", d.bySupport, 8}, {"] bySupport1[", d.bySupport1, 8}, {"] bySupport2[", d.bySupport2, 3}};
    for (const auto &f : flags) {
        line.Text(f.pName);
        for (int bit = 0; bit < f.iBits; ++bit)
            line.Text(bit ? ":" : "").Hex(f.byFlags & (1u << bit));
    }
    line.Text("] dwDeviceType[").Dec(d.dwDeviceType).Text("] dwCmdPort[").Dec(d.dwCmdPort);
    line.Text("] szDevDesc[").Field(d.szDevDesc, 64).Text("] szIPv4Gateway[").Field(d.szIPv4Gateway, 16);
    line.Text("] szIPv6Address[").Field(d.szIPv6Address, 46).Text("] byDhcpEnabled[").Dec(d.byDhcpEnabled);
    line.Text("] byDeviceAbility[").Dec(d.byDeviceAbility).Text("] wHttpPort[").Dec(d.wHttpPort);
    line.Text("] byOemCode[").Dec(d.byOemCode).Text("] byActivated[").Dec(d.byActivated);
    line.Text("] byKWPlatform[").Dec(d.byKWPlatform).Text("] byEnableKWPlatform[").Dec(d.byEnableKWPlatform);
    line.Text("] byTOVUKCode[").Dec(d.byTOVUKCode).Text("] dwDetailOEMCode[").Dec(d.dwDetailOEMCode);
    line.Text("] byModifyVerificationCode[").Dec(d.byModifyVerificationCode);
    line.Text("] bySupportTovukUnbind[").Dec(d.bySupportTovukUnbind);
    line.Text("] byTOVUKBindStatus[").Dec(d.byTOVUKBindStatus).Text("]");
    if (const char *text = line.Line())
        ZEVA_LOG_TEXT(3, text);
}

}  // namespace ZEVA
