#include "module/protocol/PcapProtocol.h"

#include <cstring>

#include "module/adapter/AdapterInfo.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"
#include "yar/yar_addr.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

// Offsets in the frame.
constexpr uint32_t ETH_SOURCE = 6;
constexpr uint32_t ETH_TYPE = 12;
constexpr uint32_t DISC = 14;            // the discovery header
constexpr uint32_t DISC_LEN = 38;
constexpr uint32_t CHECKSUM_AT = 12;     // in the discovery header
constexpr uint8_t MAGIC = 0x21;
constexpr uint8_t SENT_CHECKSUM_LEN = 66;
constexpr uint8_t BROADCAST[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

void Put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t *p, uint32_t v) {
    Put16(p, static_cast<uint16_t>(v >> 16));
    Put16(p + 2, static_cast<uint16_t>(v));
}

uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t Get32(const uint8_t *p) { return static_cast<uint32_t>(Get16(p)) << 16 | Get16(p + 2); }

// The checksum of a block whose two checksum bytes at iAt count as zero (when they are covered).
uint16_t CheckSumWithout(const uint8_t *pData, uint32_t dwLen, uint32_t dwAt) {
    uint8_t copy[256];
    std::memcpy(copy, pData, dwLen);
    for (uint32_t i = dwAt; i < dwAt + 2 && i < dwLen; ++i)
        copy[i] = 0;
    return CPacketSender::CheckSum(copy, dwLen);
}

// Copies at most iMax characters of a text field that need not be terminated.
void CopyText(char *pDst, const uint8_t *pSrc, size_t nMax) {
    size_t n = strnlen(reinterpret_cast<const char *>(pSrc), nMax);
    std::memcpy(pDst, pSrc, n);
    pDst[n] = '\0';
}

void IPv4Text(char *pDst, uint32_t dwCapacity, const uint8_t *pAddr) {
    if (!YAR_InetNtop(YAR_AF_INET, pAddr, pDst, dwCapacity))
        pDst[0] = '\0';
}

void IPv6Text(char *pDst, uint32_t dwCapacity, const uint8_t *pAddr) {
    if (!YAR_InetNtop(YAR_AF_INET6, pAddr, pDst, dwCapacity))
        pDst[0] = '\0';
}

}  // namespace

CPacketSender::CPacketSender() : m_dwSequence(YAR_Rand() % 10000) {}

uint16_t CPacketSender::CheckSum(const uint8_t *pData, uint32_t dwLen) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 1 < dwLen; i += 2)
        sum += static_cast<uint32_t>(pData[i]) | static_cast<uint32_t>(pData[i + 1]) << 8;
    if (dwLen % 2)
        sum += pData[dwLen - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

std::atomic<uint32_t> *CPacketSender::LastSequence(uint8_t byOp) {
    switch (byOp) {
    case PCAP_OP_INQUIRY:
        return &m_dwInquirySequence;
    case PCAP_OP_MODIFY:
        return &m_dwModifySequence;
    case PCAP_OP_RESET:
        return &m_dwResetSequence;
    default:
        return nullptr;
    }
}

uint32_t CPacketSender::GetLastSequence(uint8_t byOp) const {
    std::atomic<uint32_t> *last = const_cast<CPacketSender *>(this)->LastSequence(byOp);
    return last ? last->load() : 0;
}

uint32_t CPacketSender::PackageData(const char *pDstMAC, const char *pIPv4First, const char *pIPv4Second,
                                    uint8_t byOp, uint8_t bySubCode, uint32_t dwSequence, const uint8_t *pData,
                                    uint32_t dwDataLen, uint16_t wAdapterIndex, uint8_t *pOut) {
    if (!pOut || !pDstMAC || (!pData && dwDataLen) || dwDataLen > FRAME_BUFFER_LEN - FRAME_DATA_OFFSET) {
        ZEVA_LOG_ERR("[CPacketSender::PackageData] Invalid parameter!");
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    std::memset(pOut, 0, FRAME_BUFFER_LEN);
    ADAPTER_ENTRY adapter{};
    CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &adapter);
    uint8_t ownMAC[6] = {};
    uint8_t ownIPv4[4] = {};
    StringToMac(adapter.szMAC, ownMAC);
    StringToIPv4(adapter.szIPv4, ownIPv4);
    uint32_t len = FRAME_DATA_OFFSET + (dwDataLen >= FRAME_MIN_DATA ? dwDataLen : FRAME_MIN_DATA);

    uint8_t *disc = pOut + DISC;
    StringToMac(pDstMAC, pOut);
    std::memcpy(pOut + ETH_SOURCE, ownMAC, 6);
    Put16(pOut + ETH_TYPE, ETHERTYPE_DISCOVERY);
    disc[0] = MAGIC;
    disc[1] = 2;
    disc[2] = 1;
    disc[3] = SENT_CHECKSUM_LEN;
    Put32(disc + 4, dwSequence);
    disc[8] = 6;
    disc[9] = 4;
    disc[10] = byOp;
    disc[11] = bySubCode;
    std::memcpy(disc + 14, ownMAC, 6);
    std::memcpy(disc + 20, ownIPv4, 4);
    std::memcpy(disc + 24, pOut, 6);
    // One address variable for both texts: a text that does not parse keeps the last value.
    uint8_t addr[4] = {};
    uint8_t parsed[4];
    if (pIPv4First && StringToIPv4(pIPv4First, parsed) == 1)
        std::memcpy(addr, parsed, 4);
    std::memcpy(disc + 30, addr, 4);
    if (pIPv4Second && StringToIPv4(pIPv4Second, parsed) == 1)
        std::memcpy(addr, parsed, 4);
    std::memcpy(disc + 34, addr, 4);
    if (dwDataLen)
        std::memcpy(pOut + FRAME_DATA_OFFSET, pData, dwDataLen);
    Put16(disc + CHECKSUM_AT, CheckSum(disc, SENT_CHECKSUM_LEN));
    if (std::atomic<uint32_t> *last = LastSequence(byOp))
        last->store(dwSequence);
    return len;
}

int CPcapProtocol::ParsePacket(uint32_t dwLen, const uint8_t *pFrame, uint16_t wAdapterIndex) {
    if (!pFrame || dwLen < FRAME_DATA_OFFSET)
        return 0;
    if (Get16(pFrame + ETH_TYPE) != ETHERTYPE_DISCOVERY || pFrame[DISC] != MAGIC)
        return 0;
    const uint8_t *disc = pFrame + DISC;
    uint32_t dataLen = dwLen - FRAME_DATA_OFFSET < FRAME_MAX_DATA ? dwLen - FRAME_DATA_OFFSET : FRAME_MAX_DATA;
    // The covered bytes must include the checksum field and stay inside what was received.
    uint8_t covered = disc[3];
    if (covered < CHECKSUM_AT || covered > DISC_LEN + dataLen)
        return 0;
    char sourceText[20];
    MacToString(sourceText, pFrame + ETH_SOURCE);
    if (CheckSumWithout(disc, covered, CHECKSUM_AT) != Get16(disc + CHECKSUM_AT)) {
        ZEVA_LOG_ERR("[CPcapProtocol::ParsePacket] v1.0 check sum err, mac[%s] ", sourceText);
        return 0;
    }
    ADAPTER_ENTRY adapter{};
    uint8_t ownMAC[6] = {};
    if (CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &adapter))
        StringToMac(adapter.szMAC, ownMAC);
    if (std::memcmp(pFrame, BROADCAST, 6) != 0 && std::memcmp(pFrame, ownMAC, 6) != 0)
        return 0;
    if (!ParseExtended(dwLen, pFrame))
        return 0;

    PCAP_HEADER &h = m_struHeader;
    h.byChecksumLen = covered;
    h.dwSequence = Get32(disc + 4);
    h.byOp = disc[10];
    h.bySubCode = disc[11];
    std::memcpy(h.bySenderMAC, disc + 14, 6);
    std::memcpy(h.bySenderIPv4, disc + 20, 4);
    std::memcpy(h.byTargetMAC, pFrame + ETH_SOURCE, 6);
    std::memcpy(h.byIPv4First, disc + 30, 4);
    std::memcpy(h.byIPv4Second, disc + 34, 4);
    std::memset(m_byData, 0, sizeof m_byData);
    std::memcpy(m_byData, pFrame + FRAME_DATA_OFFSET, dataLen);
    m_dwDataLen = dataLen;
    return 1;
}

// The extended block of a frame of 261 to 416 bytes; 0 when its checksum length runs past the
// block. A block whose checksum does not match is kept as zeros.
int CPcapProtocol::ParseExtended(uint32_t dwLen, const uint8_t *pFrame) {
    uint8_t block[FRAME_EXT_LEN] = {};
    bool extended = dwLen > FRAME_EXT_OFFSET && dwLen <= FRAME_EXT_OFFSET + FRAME_EXT_LEN;
    if (extended) {
        std::memcpy(block, pFrame + FRAME_EXT_OFFSET, dwLen - FRAME_EXT_OFFSET);
        if (block[1] > FRAME_EXT_LEN)
            return 0;
    }
    m_bExtended = extended;
    m_byExtChecksumLen = block[1];
    std::memset(m_byExtData, 0, sizeof m_byExtData);
    if (!extended)
        return 1;
    if (CheckSumWithout(block, block[1], 2) == Get16(block + 2)) {
        std::memcpy(m_byExtData, block + 4, FRAME_EXT_DATA_LEN);
    } else {
        char sourceText[20];
        MacToString(sourceText, pFrame + ETH_SOURCE);
        ZEVA_LOG_DBG("[CPcapProtocol::ParsePacket] v20 check sum dismatch, [%s]", sourceText);
    }
    return 1;
}

int CPcapProtocol::GetReplyDataLen(uint32_t *pLen) const {
    int len = m_bExtended ? (m_struHeader.byChecksumLen + m_byExtChecksumLen) % 256 - static_cast<int>(DISC_LEN)
                          : static_cast<int>(FRAME_MIN_DATA);
    if (len < 0 || static_cast<uint32_t>(len) > m_dwDataLen)
        return 0;
    *pLen = static_cast<uint32_t>(len);
    return 1;
}

void CPcapProtocol::FillDeviceInfo(ZEVA_DEVICE_INFO *pDev) const {
    std::memset(pDev, 0, sizeof *pDev);
    const PCAP_HEADER &h = m_struHeader;
    MacToString(pDev->szMAC, h.bySenderMAC);
    IPv4Text(pDev->szIPv4Address, sizeof pDev->szIPv4Address, h.bySenderIPv4);
    IPv4Text(pDev->szIPv4SubnetMask, sizeof pDev->szIPv4SubnetMask, h.byIPv4Second);

    const uint8_t *d = m_byData;
    CopyText(pDev->szSerialNO, d, 47);
    CopyText(pDev->szSerialNOEx, d, 47);
    pDev->dwDeviceType = Get32(d + 48);
    pDev->dwCmdPort = Get32(d + 52);
    pDev->dwAnalogChannelNum = Get32(d + 56);
    pDev->dwDiskNumber = Get32(d + 60);
    CopyText(pDev->szDeviceSoftwareVersion, d + 64, 47);
    CopyText(pDev->szDSPVersion, d + 112, 47);
    CopyText(pDev->szBootTime, d + 160, 47);

    // The extended numbers are read most significant byte first like every other number of the
    // frame.
    const uint8_t *x = m_byExtData;
    IPv4Text(pDev->szIPv4Gateway, sizeof pDev->szIPv4Gateway, x);
    IPv6Text(pDev->szIPv6Address, sizeof pDev->szIPv6Address, x + 4);
    IPv6Text(pDev->szIPv6Gateway, sizeof pDev->szIPv6Gateway, x + 20);
    pDev->byIPv6MaskLen = x[36];
    pDev->bySupport = x[37];
    pDev->byDhcpEnabled = x[38];
    pDev->bySupport1 = x[39];
    IPv4Text(pDev->szReserved2, 16, x + 40);
    uint16_t reserved = Get16(x + 64);
    std::memcpy(pDev->szReserved2 + 16, &reserved, sizeof reserved);
    pDev->wHttpPort = Get16(x + 68);
    pDev->wDigitalChannelNum = Get16(x + 70);
    pDev->byOemCode = x[72];
    pDev->byActivated = x[73];
    pDev->byTOVUKCode = x[75];
    pDev->dwDetailOEMCode = Get32(x + 76);
    CopyText(pDev->szDevDescShort, x + 104, 23);
    CopyText(pDev->szDevDesc, x + 104, 23);
    CopyText(pDev->szOEMinfo, x + 128, 23);
    pDev->byDeviceAbility = m_bExtended ? 1 : 0;
}

}  // namespace ZEVA
