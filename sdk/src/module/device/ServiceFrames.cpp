// The service's raw-frame side: the frame reader and the requests sent as frames.
#include <cstring>
#include <memory>
#include <new>

#include "base/GlobalCtrl.h"
#include "module/adapter/AdapterInfo.h"
#include "module/crypto/Encrypt.h"
#include "module/device/Service.h"
#include "module/protocol/AnswerBlocks.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"
#include "yar/yar_addr.h"

namespace ZEVA {

namespace {

constexpr uint32_t FRAME_RECV_BUFFER_LEN = 1024;
constexpr uint32_t PASSWORD_MAX = 16;
constexpr uint32_t RESET_CODE_SENT = 16;  // bytes of the reset code a frame carries

// Answer codes the frame answers store.
constexpr int32_t ANSWER_FAILED = 0;
constexpr int32_t ANSWER_SUCCESS = 1;
constexpr int32_t ANSWER_LOCKED = 2;
constexpr int32_t NO_CODE = -1;
// By sub-code 1, 2 and 3 of the answer frame.
constexpr int32_t MODIFY_ANSWER_CODES[3] = {ANSWER_FAILED, ANSWER_SUCCESS, ANSWER_LOCKED};
constexpr int32_t RESET_ANSWER_CODES[3] = {ANSWER_SUCCESS, ANSWER_FAILED, NO_CODE};

// A text field of a record that need not be terminated, as a terminated copy.
template <size_t N, size_t M>
const char *FieldText(char (&out)[N], const char (&field)[M]) {
    static_assert(N > M, "room for the terminator");
    size_t n = strnlen(field, M);
    std::memcpy(out, field, n);
    out[n] = '\0';
    return out;
}

template <size_t M>
void PutAddress(uint8_t *pOut, int iFamily, const char (&field)[M]) {
    char text[M + 1];
    YAR_InetPton(iFamily, FieldText(text, field), pOut);
}

// The 184-byte block of a modify frame: the password's MD5, the ports and the addresses that the
// frame's two IPv4 fields do not carry, with a checksum of its own over bytes 28 to 183.
void BuildModifyBlock(const char *pPassword, const ZEVA_NET_PARAM &net, uint8_t *pBlock) {
    std::memset(pBlock, 0, MODIFY_BLOCK_LEN);
    CEncrypt().MD5(reinterpret_cast<const uint8_t *>(pPassword), static_cast<int>(strlen(pPassword)), pBlock);
    pBlock[18] = static_cast<uint8_t>(net.wCmdPort >> 8);  // a 32-bit number
    pBlock[19] = static_cast<uint8_t>(net.wCmdPort);
    pBlock[28] = 0x02;
    pBlock[29] = 156;
    PutAddress(pBlock + 32, YAR_AF_INET, net.szIPv4Gateway);
    PutAddress(pBlock + 36, YAR_AF_INET6, net.szIPv6Address);
    PutAddress(pBlock + 52, YAR_AF_INET6, net.szIPv6Gateway);
    pBlock[68] = net.byIPv6MaskLen;
    pBlock[70] = net.byDhcpEnable;
    pBlock[100] = static_cast<uint8_t>(net.wHttpPort >> 8);
    pBlock[101] = static_cast<uint8_t>(net.wHttpPort);
    uint16_t sum = CPacketSender::CheckSum(pBlock + 28, 156);
    pBlock[30] = static_cast<uint8_t>(sum >> 8);
    pBlock[31] = static_cast<uint8_t>(sum);
}

// Only the answer to the last request frame of its kind counts.
// A modify answer also clears the network-parameter result, which a frame does not carry.
void StoreFrameAnswer(const PCAP_HEADER &h, uint32_t dwLastSequence, const int32_t (&codes)[3], AnswerKind kind) {
    if (h.dwSequence != dwLastSequence || h.bySubCode < 1 || h.bySubCode > 3 || codes[h.bySubCode - 1] == NO_CODE)
        return;
    static const uint8_t zero[ANSWER_BLOCK_MAX] = {};
    CGlobalCtrl::GetInstance()->StoreDevAnswer(kind, zero, codes[h.bySubCode - 1]);
}

}  // namespace

int CService::SendFrame(const char *pDstMAC, const char *pIPv4First, const char *pIPv4Second, uint8_t byOp,
                        uint8_t bySubCode, uint32_t dwSequence, const uint8_t *pData, uint32_t dwDataLen) {
    uint8_t frame[FRAME_BUFFER_LEN];
    uint32_t len = m_PcapProtocol.PackageData(pDstMAC, pIPv4First, pIPv4Second, byOp, bySubCode, dwSequence, pData,
                                              dwDataLen, m_wAdapterIndex, frame);
    return len && m_IoEthernet.SendData(frame, len, nullptr);
}

int CService::SendInquiryByPcap() {
    if (!m_IoEthernet.IsOpen())
        return 0;
    ADAPTER_ENTRY entry{};
    CAdapterInfo::GetInstance()->GetAdapter(m_wAdapterIndex, &entry);
    int ok = SendFrame("ff-ff-ff-ff-ff-ff", "", "", PCAP_OP_INQUIRY, 0, m_PcapProtocol.TakeSequence(), entry.byIPv6,
                       sizeof entry.byIPv6);
    ZEVA_LOG_INF(ok ? "[Pcap][%s] Inquiry success!" : "[Pcap][%s] Inquiry  failed!", entry.szIPv4);
    return ok;
}

int CService::ModifyNetParamByPcap(const char *pMAC, const char *pPassword, const ZEVA_NET_PARAM *pParam) {
    if (!pMAC || !pPassword || !pParam) {
        ZEVA_LOG_ERR("[CService::ModifyNetParamByPcap] param error!");
        SetSdkLastError(ZEVA_ERR_PARAM);
        CGlobalCtrl::GetInstance()->SetDevResponse(ANSWER_NOT_SENT);
        return 0;
    }
    if (strnlen(pPassword, PASSWORD_MAX + 1) > PASSWORD_MAX) {
        ZEVA_LOG_ERR("[CService::ModifyNetParamByPcap] Password is too long!");
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    uint8_t block[MODIFY_BLOCK_LEN];
    BuildModifyBlock(pPassword, *pParam, block);
    char address[sizeof pParam->szIPv4Address + 1];
    char mask[sizeof pParam->szIPv4SubNetMask + 1];
    if (!SendFrame(pMAC, FieldText(address, pParam->szIPv4Address), FieldText(mask, pParam->szIPv4SubNetMask),
                   PCAP_OP_MODIFY, 0, m_PcapProtocol.TakeSequence(), block, sizeof block)) {
        ZEVA_LOG_ERR("[CService::ModifyNetParamByPcap] SendDataByPcap failed");
        SetSdkLastError(ZEVA_ERR_PCAP);
        return 0;
    }
    return 1;
}

int CService::ResetPasswordEthernet(const char *pMAC, const char *pIPv4First, const char *pIPv4Second,
                                    const ZEVA_RESET_PARAM *pParam) {
    if (!pParam || !pMAC) {
        ZEVA_LOG_ERR("[CService::ResetPasswordEthernet] szCode is Null");
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    uint8_t code[FRAME_MIN_DATA] = {};
    std::memcpy(code, pParam->szCode, RESET_CODE_SENT);
    if (!SendFrame(pMAC, pIPv4First, pIPv4Second, PCAP_OP_RESET, 0, m_PcapProtocol.TakeSequence(), code,
                   sizeof code)) {
        ZEVA_LOG_ERR("[CService::ResetPasswordEthernet] SendDataByPcap failed");
        return 0;
    }
    return 1;
}

// Answers a device's online frame with its own sequence number and part of its data.
void CService::ReplyOnlineFrame() {
    const PCAP_HEADER &h = m_PcapProtocol.GetHeader();
    uint32_t len = 0;
    m_PcapProtocol.GetReplyDataLen(&len);
    char mac[20];
    char ipv4[16];
    MacToString(mac, h.byTargetMAC);
    if (!YAR_InetNtop(YAR_AF_INET, h.bySenderIPv4, ipv4, sizeof ipv4))
        ipv4[0] = '\0';
    SendFrame(mac, ipv4, "", PCAP_OP_ONLINE_REPLY, 2, h.dwSequence, m_PcapProtocol.GetData(), len);
}

void CService::ProcessFrame() {
    const PCAP_HEADER &h = m_PcapProtocol.GetHeader();
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    switch (h.byOp) {
    case PCAP_OP_ONLINE:
    case PCAP_OP_INQUIRY_ANSWER: {
        uint32_t replyLen = 0;
        if (h.byOp == PCAP_OP_ONLINE && !m_PcapProtocol.GetReplyDataLen(&replyLen))
            return;  // lengths that no device sends: not answered, not listed
        ZEVA_DEVICE_INFO dev;
        m_PcapProtocol.FillDeviceInfo(&dev);
        dev.byDataFromMulticast = 0;
        if (h.byOp == PCAP_OP_ONLINE)
            ReplyOnlineFrame();
        ctrl->UpdateDevList(&dev, m_wAdapterIndex, "", "", 0);
        return;
    }
    case PCAP_OP_MODIFY_ANSWER:
        StoreFrameAnswer(h, m_PcapProtocol.GetLastSequence(PCAP_OP_MODIFY), MODIFY_ANSWER_CODES, ANSWER_NET_PARAM);
        return;
    case PCAP_OP_RESET_ANSWER:
        StoreFrameAnswer(h, m_PcapProtocol.GetLastSequence(PCAP_OP_RESET), RESET_ANSWER_CODES, ANSWER_NONE);
        return;
    default:
        return;
    }
}

void CService::EthernetLoop() {
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[FRAME_RECV_BUFFER_LEN]);
    if (!buf)
        return;
    while (!m_bStopThread.load()) {
        uint32_t len = 0;
        if (!m_IoEthernet.RecvData(buf.get(), FRAME_RECV_BUFFER_LEN, &len))
            break;
        if (len && m_PcapProtocol.ParsePacket(len, buf.get(), m_wAdapterIndex))
            ProcessFrame();
    }
    ZEVA_LOG_INF("Exit ethernet recv thread");
}

uint32_t CService::LocalCaptureThreadByEthernet(void *pParam) {
    static_cast<CService *>(pParam)->EthernetLoop();
    return 0;
}

}  // namespace ZEVA
