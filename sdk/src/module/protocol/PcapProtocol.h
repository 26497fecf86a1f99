// The binary discovery protocol carried directly over Ethernet (EtherType 0x8033). CPacketSender
// builds frames and hands out their sequence numbers; CPcapProtocol checks and unpacks a received
// frame and makes a device record of it. Frames are read and written byte by byte with numbers
// most significant byte first, never through a struct laid over the buffer.
#pragma once

#include <atomic>
#include <cstdint>

#include "zeva/ZevaSdk.h"

namespace ZEVA {

constexpr uint16_t ETHERTYPE_DISCOVERY = 0x8033;
constexpr uint32_t FRAME_DATA_OFFSET = 52;     // Ethernet header (14) and discovery header (38)
constexpr uint32_t FRAME_MIN_DATA = 28;        // sent data blocks are padded to this
constexpr uint32_t FRAME_MAX_DATA = 208;       // data block of a received frame
constexpr uint32_t FRAME_EXT_OFFSET = 260;
constexpr uint32_t FRAME_EXT_LEN = 156;        // extended block: 4 bytes of its own, then the data
constexpr uint32_t FRAME_EXT_DATA_LEN = 152;
constexpr uint32_t FRAME_BUFFER_LEN = 512;     // the largest frame PackageData writes
constexpr uint32_t MODIFY_BLOCK_LEN = 184;

enum enumPcapOp : uint8_t {
    PCAP_OP_ONLINE = 1,
    PCAP_OP_ONLINE_REPLY = 2,
    PCAP_OP_INQUIRY = 3,
    PCAP_OP_INQUIRY_ANSWER = 4,
    PCAP_OP_MODIFY = 6,
    PCAP_OP_MODIFY_ANSWER = 7,
    PCAP_OP_RESET = 10,
    PCAP_OP_RESET_ANSWER = 11,
};

// The discovery header of a received frame, numbers in host order.
struct PCAP_HEADER {
    uint8_t byChecksumLen;
    uint32_t dwSequence;
    uint8_t byOp;
    uint8_t bySubCode;
    uint8_t bySenderMAC[6];
    uint8_t bySenderIPv4[4];
    uint8_t byTargetMAC[6];    // a parsed frame holds its Ethernet source here: where replies go
    uint8_t byIPv4First[4];
    uint8_t byIPv4Second[4];
};

class CPacketSender {
public:
    CPacketSender();

    // The one's complement of the sum of 16-bit words whose first byte is the low one (a final
    // odd byte adds as a low byte), carries folded twice.
    static uint16_t CheckSum(const uint8_t *pData, uint32_t dwLen);

    // Writes one frame from the adapter of the index into pOut (FRAME_BUFFER_LEN bytes) and
    // returns its length, 0 on failure. The data block is padded to 28 bytes; data longer than
    // the buffer allows is refused. A first IPv4 text that does not parse gives 0.0.0.0, a
    // second one repeats the first.
    uint32_t PackageData(const char *pDstMAC, const char *pIPv4First, const char *pIPv4Second, uint8_t byOp,
                         uint8_t bySubCode, uint32_t dwSequence, const uint8_t *pData, uint32_t dwDataLen,
                         uint16_t wAdapterIndex, uint8_t *pOut);

    // The number for the next frame of a request (op 3, 6 or 10); the numbers only grow.
    uint32_t TakeSequence() { return m_dwSequence.fetch_add(1); }
    // The sequence number of the last op 3, 6 or 10 frame built; 0 before any, and for other ops.
    uint32_t GetLastSequence(uint8_t byOp) const;

private:
    std::atomic<uint32_t> *LastSequence(uint8_t byOp);

    std::atomic<uint32_t> m_dwSequence;
    std::atomic<uint32_t> m_dwInquirySequence{0};
    std::atomic<uint32_t> m_dwModifySequence{0};
    std::atomic<uint32_t> m_dwResetSequence{0};
};

// The codec of one service. Parsing keeps the last frame's unpacked copy, so only one thread (the
// service's frame reader) parses; building may run on any thread.
class CPcapProtocol : public CPacketSender {
public:
    CPcapProtocol() = default;

    // Checks and unpacks a received frame: 1 when it is a discovery frame with a good header
    // checksum, to the broadcast address or this adapter, and with sound lengths; else 0.
    int ParsePacket(uint32_t dwLen, const uint8_t *pFrame, uint16_t wAdapterIndex);
    // The device record of the last parsed frame (zeroed first).
    void FillDeviceInfo(ZEVA_DEVICE_INFO *pDev) const;
    // How many bytes of the data block the reply to an online frame echoes: 0 when the frame's
    // lengths give a number outside 0..the data received, and the frame must be dropped.
    int GetReplyDataLen(uint32_t *pLen) const;

    const PCAP_HEADER &GetHeader() const { return m_struHeader; }
    const uint8_t *GetData() const { return m_byData; }
    bool HasExtended() const { return m_bExtended; }

private:
    int ParseExtended(uint32_t dwLen, const uint8_t *pFrame);

    PCAP_HEADER m_struHeader{};
    uint8_t m_byData[FRAME_MAX_DATA] = {};
    uint32_t m_dwDataLen = 0;
    bool m_bExtended = false;
    uint8_t m_byExtChecksumLen = 0;
    uint8_t m_byExtData[FRAME_EXT_DATA_LEN] = {};  // zero when its checksum did not match
};

}  // namespace ZEVA
