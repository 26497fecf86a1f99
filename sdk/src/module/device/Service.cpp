#include "module/device/Service.h"

#include <cstring>

#include "base/GlobalCtrl.h"
#include "module/adapter/AdapterInfo.h"
#include "module/protocol/ProbeXml.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/SdkThread.h"
#include "utils/Utils.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace ZEVA {

// What tells the receive threads apart.
struct CService::RECV_LOOP {
    const char *pAllocLine;  // logged when the receive buffer cannot be had
    const char *pExitLine;
    int iSource;             // the source tag handed to the dispatcher
    uint32_t dwPauseMs;      // before each receive
    bool bRelay;             // pass every datagram on to the local relay group
    bool bSendsRelays;       // the relay socket's thread: sends the relays handed to it
};

namespace {

YAR_ADDR_T GroupAddr(const char *pGroup, uint16_t wPort) {
    YAR_ADDR_T addr;
    YAR_MakeAddrByString(YAR_AF_INET, pGroup, wPort, &addr);
    return addr;
}

const char *TypeWord(const TiXmlElement *root) {
    const TiXmlElement *types = root->FirstChildElement("Types");
    if (!types) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] no Types node");
        return nullptr;
    }
    if (!types->GetText()) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] Types node text is NULL");
        return nullptr;
    }
    return types->GetText();
}

// The bytes a receive thread processes, held for as long as the claim lives.
class CAnswerClaim {
public:
    CAnswerClaim(CGlobalCtrl *pCtrl, const ANSWER_DIGEST &digest)
        : m_pCtrl(pCtrl), m_Digest(digest), m_bHeld(pCtrl->ClaimAnswer(digest)) {}
    ~CAnswerClaim() {
        if (m_bHeld)
            m_pCtrl->ReleaseAnswer(m_Digest);
    }
    CAnswerClaim(const CAnswerClaim &) = delete;
    CAnswerClaim &operator=(const CAnswerClaim &) = delete;
    bool Held() const { return m_bHeld; }

private:
    CGlobalCtrl *m_pCtrl;
    ANSWER_DIGEST m_Digest;
    bool m_bHeld;
};

// A range text, which need not be terminated in its field, as an address in host order.
bool SubnetAddress(const char *pField, uint32_t *pAddr) {
    const size_t width = sizeof(ZEVA_SUBNET_INFO::szStartSubnetIP);
    char text[width + 1] = {};
    std::memcpy(text, pField, strnlen(pField, width));
    uint8_t bytes[4];
    if (YAR_InetPton(YAR_AF_INET, text, bytes) != 0) {
        ZEVA_LOG_ERR("[CService::InquirySpecificSubnet] szStartSubnetIP[%s]", text);
        SetSdkLastError(ZEVA_ERR_SUBNET_RANGE);
        return false;
    }
    *pAddr = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    return true;
}

}  // namespace

CService::CService(uint16_t wAdapterIndex)
    : m_wAdapterIndex(wAdapterIndex), m_RelayAddr(GroupAddr(RELAY_GROUP, RELAY_PORT)) {}

CService::~CService() { Stop(); }

int CService::Start(uint32_t bMulticast, uint32_t bPcap) {
    if (bPcap && !m_IoEthernet.Init(m_wAdapterIndex, 0)) {
        ZEVA_LOG_ERR("[CService::Start] m_IoEthernet.Init() failed!");
        bPcap = 0;
    }
    if (bMulticast) {
        if (!m_IoMulticast.Init(m_wAdapterIndex, MULTICAST_PORT) ||
            !m_IoMulticast_35090.Init(m_wAdapterIndex, MULTICAST_PORT_35090)) {
            ZEVA_LOG_ERR("[CService::Start] m_IoMulticast.Init() failed!");
            Stop();
            return 0;
        }
        if (!m_IoMulticastLocal.InitLocal(m_wAdapterIndex, RELAY_PORT, RELAY_GROUP)) {
            ZEVA_LOG_ERR("[CService::Start] m_IoMulticastLocal.Init() failed!");
            Stop();
            return 0;
        }
    }
    if (!m_IoUdpSubnet.Init(m_wAdapterIndex, 0)) {
        ZEVA_LOG_ERR("[CService::Start] m_IoUdpSubnet.Init() failed!");
        Stop();
        return 0;
    }
    m_bStopThread.store(0);
    if (!StartThreads(bMulticast, bPcap)) {
        Stop();
        return 0;
    }
    return 1;
}

int CService::StartThreads(uint32_t bMulticast, uint32_t bPcap) {
    if (bPcap) {
        m_hEthernetThreadId = YAR_Thread_Create(LocalCaptureThreadByEthernet, this, 0, 0, 0, 0);
        if (!m_hEthernetThreadId) {
            ZEVA_LOG_ERR("[CService::Start] PCAP YAR_Thread_Create failed!");
            return 0;
        }
    }
    if (bMulticast) {
        m_hMulticastThreadId = YAR_Thread_Create(LocalCaptureThreadByMulticast, this, 0, 0, 0, 0);
        m_hMulticastThreadId_35090 = YAR_Thread_Create(LocalCaptureThreadByMulticast_35090, this, 0, 0, 0, 0);
        if (!m_hMulticastThreadId || !m_hMulticastThreadId_35090) {
            ZEVA_LOG_ERR("[CService::Start] Multicast YAR_Thread_Create failed!");
            return 0;
        }
        m_hMulticastLocalThreadId = YAR_Thread_Create(LocalCaptureThreadByMulticastLocal, this, 0, 0, 0, 0);
        if (!m_hMulticastLocalThreadId) {
            ZEVA_LOG_ERR("[CService::Start] Multicast Local YAR_Thread_Create failed!");
            return 0;
        }
        m_RelayQueue.Open();
    }
    m_hUdpSubnetThreadId = YAR_Thread_Create(LocalCaptureThreadByUdpSubnet, this, 0, 0, 0, 0);
    if (!m_hUdpSubnetThreadId) {
        ZEVA_LOG_ERR("[CService::Start] Udp Subnet YAR_Thread_Create failed!");
        return 0;
    }
    return 1;
}

int CService::Stop() {
    m_bStopThread.store(1);
    // Each reader is joined before its socket closes, so no descriptor is reused under it. The
    // multicast readers see the flag within their 1-s wait; the subnet reader blocks without
    // one and is woken by shutting its socket down (a shut-down socket polls readable but
    // yields nothing, which would keep the waiting readers spinning until their time-out). The
    // frame reader is woken through its capture.
    m_IoUdpSubnet.Wake();
    m_IoEthernet.Wake();
    JoinThreadLogged(m_hEthernetThreadId, "CService::Stop", "m_hEthernetThreadId");
    JoinThreadLogged(m_hMulticastThreadId, "CService::Stop", "m_hMulticastThreadId");
    JoinThreadLogged(m_hMulticastThreadId_35090, "CService::Stop", "m_hMulticastThreadId_35090");
    JoinThreadLogged(m_hUdpSubnetThreadId, "CService::Stop", "m_hUdpSubnetThreadId");
    JoinThreadLogged(m_hMulticastLocalThreadId, "CService::Stop", "m_hMulticastLocalThreadId");
    m_IoEthernet.Fini();
    m_IoMulticast.Fini();
    m_IoMulticast_35090.Fini();
    m_IoMulticastLocal.Fini();
    m_IoUdpSubnet.Fini();
    return 1;
}

void CService::LogAdapterIPv4(const char *pFormat) {
    ADAPTER_ENTRY entry{};
    CAdapterInfo::GetInstance()->GetAdapter(m_wAdapterIndex, &entry);
    ZEVA_LOG_INF(pFormat, entry.szIPv4);
}

int CService::SendInquiry() {
    int multicast = SendInquiryByMulticast();
    int frame = SendInquiryByPcap();
    return multicast || frame;
}

int CService::SendInquiryByMulticast() {
    char uuid[40] = {};
    char text[PROBE_BUFFER_LEN] = {};
    uint32_t len = 0;
    int ok = CreateUuidString(uuid, sizeof uuid) == 0 && m_Protocol.PackageInquiry(uuid, text, sizeof text, &len) &&
             SendXmlData(text, len);
    LogAdapterIPv4(ok ? "[Multicast][%s] Inquiry success!" : "[Multicast][%s] Inquiry  failed!");
    return ok;
}

int CService::InquirySpecificSubnet(const ZEVA_SUBNET_INFO *pSubnetInfo) {
    uint32_t start = 0, end = 0;
    if (!SubnetAddress(pSubnetInfo->szStartSubnetIP, &start) || !SubnetAddress(pSubnetInfo->szEndSubnetIP, &end))
        return 0;
    if (end - start > SUBNET_MAX_SPAN) {
        ZEVA_LOG_ERR("[CService::InquirySpecificSubnet] iIPNum[%d]", int(end - start));
        SetSdkLastError(ZEVA_ERR_SUBNET_RANGE);
        return 0;
    }
    for (uint32_t addr = start;; ++addr) {
        char uuid[40] = {};
        char text[PROBE_BUFFER_LEN] = {};
        uint32_t len = 0;
        if (CreateUuidString(uuid, sizeof uuid) != 0 || !m_Protocol.PackageInquiry_V32(uuid, text, sizeof text, &len))
            return 0;
        uint8_t bytes[4] = {uint8_t(addr >> 24), uint8_t(addr >> 16), uint8_t(addr >> 8), uint8_t(addr)};
        char ip[16] = {};
        YAR_ADDR_T to;
        if (!YAR_InetNtop(YAR_AF_INET, bytes, ip, sizeof ip) ||
            YAR_MakeAddrByString(YAR_AF_INET, ip, SUBNET_INQUIRY_PORT, &to) != 0) {
            ZEVA_LOG_ERR("[CService::InquirySpecificSubnet] YAR_InetNtop failed");
        } else if (!m_IoUdpSubnet.SendData(text, len, &to)) {
            ZEVA_LOG_ERR("[CService::InquirySpecificSubnet] Send Inquiry_v32 failed sys_err = %d",
                         YAR_GetSystemLastError());
            return 0;
        }
        if (addr == end)
            return 1;
    }
}

int CService::SendXmlData(const char *pText, uint32_t dwLen) {
    YAR_ADDR_T to37020 = GroupAddr(MULTICAST_GROUP, MULTICAST_PORT);
    YAR_ADDR_T to35090 = GroupAddr(MULTICAST_GROUP, MULTICAST_PORT_35090);
    return m_IoMulticast.SendData(pText, dwLen, &to37020) && m_IoMulticast_35090.SendData(pText, dwLen, &to35090);
}

void CService::ProcessUdpData(const char *pData, uint32_t dwLen, int /*iSource*/) {
    if (!pData)
        return;
    // Copies of an answer already in the list (other port, relays, other adapters) stop here,
    // and so do copies another thread is processing at this moment.
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ANSWER_DIGEST digest = ctrl->DigestAnswer(pData, dwLen);
    if (ctrl->TakeAnswerCopy(digest))
        return;
    CAnswerClaim claim(ctrl, digest);
    if (!claim.Held())
        return;
    TiXmlDocument doc;
    const TiXmlElement *root = ParseProbe(pData, dwLen, doc);
    const char *type = root ? TypeWord(root) : nullptr;
    if (!type)
        return;
    if (std::strcmp(type, "hello") == 0 || std::strcmp(type, "inquiry") == 0) {
        ZEVA_DEVICE_INFO dev;
        char salt[SALT_FIELD_LEN];
        char salt2[SALT_FIELD_LEN];
        uint8_t protocol = 1;
        if (m_Protocol.ParseDeviceInfo(root, &dev, salt, salt2, &protocol) != 0)
            return;
        dev.byDataFromMulticast = 1;
        ctrl->UpdateDevList(&dev, m_wAdapterIndex, salt, salt2, protocol, &digest);
        return;
    }
    if (std::strcmp(type, "inquiry_v32") == 0) {
        ZEVA_SUBNET_DEVICE_INFO dev;
        if (CMulticastProtocol::ParseSubnetDeviceInfo(root, &dev) == 0)
            ctrl->UpdateSubnetDevList(&dev, m_wAdapterIndex);
        return;
    }
    if (TakeAnswer(root, type, pData, dwLen))
        DispatchAnswer(root, type);
}

void CService::Relay(const DATAGRAM *pDatagrams, uint32_t dwCount) {
    for (uint32_t i = 0; i < dwCount; ++i) {
        i += m_IoMulticastLocal.SendBatch(pDatagrams + i, dwCount - i, m_RelayAddr);
        if (i < dwCount && !m_IoMulticastLocal.SendData(pDatagrams[i].pData, pDatagrams[i].dwLen, &m_RelayAddr))
            ZEVA_LOG_INF("[CService::LocalCaptureThreadByMulticast] m_IoMulticastLocal SendData failed");
    }
}

bool CService::ReceiveBatch(CIOSocket &io, CDatagramBatch &batch, bool bRelay) {
    // After a full batch a burst is on: what is queued is taken without a wait first.
    bool burst = batch.Full();
    batch.Clear();
    if (burst)
        io.TakeQueued(batch);
    if (batch.Count())
        return true;
    if (bRelay)
        m_RelayQueue.Flush(RELAY_SEND{this});
    uint32_t len = 0;
    if (!io.RecvData(batch.Data(0), batch.SlotLen(), &len))
        return false;
    batch.SetFirst(len);
    io.TakeQueued(batch);
    return true;
}

void CService::ReceiveLoop(CIOSocket &io, const RECV_LOOP &loop) {
    // A datagram fills at most the receive buffer less a terminator.
    CDatagramBatch batch(RECV_BUFFER_LEN - 1);
    if (!batch.Valid()) {
        ZEVA_LOG_ERR("%s", loop.pAllocLine);
        return;
    }
    DATAGRAM datagrams[CDatagramBatch::MAX_DATAGRAMS];
    while (!m_bStopThread.load()) {
        if (loop.bSendsRelays)
            m_RelayQueue.SendQueued(RELAY_SEND{this});
        if (loop.dwPauseMs)
            YAR_Sleep(loop.dwPauseMs);
        if (!ReceiveBatch(io, batch, loop.bRelay))
            continue;
        for (uint32_t i = 0; i < batch.Count(); ++i) {
            datagrams[i] = batch.Datagram(i);
            ProcessUdpData(datagrams[i].pData, datagrams[i].dwLen, loop.iSource);
        }
        // Each datagram goes on after its own processing.
        if (loop.bRelay)
            m_RelayQueue.Hand(datagrams, batch.Count(), RELAY_SEND{this});
    }
    ZEVA_LOG_INF("%s", loop.pExitLine);
}

uint32_t CService::LocalCaptureThreadByMulticast(void *pParam) {
    static const RECV_LOOP loop{"[CService::LocalCaptureThreadByMulticast] new failed thread exit",
                                "[CService::LocalCaptureThreadByMulticast] Exit multicast recv thread",
                                SOURCE_MULTICAST, 0, true, false};
    CService *self = static_cast<CService *>(pParam);
    self->ReceiveLoop(self->m_IoMulticast, loop);
    return 0;
}

uint32_t CService::LocalCaptureThreadByMulticast_35090(void *pParam) {
    static const RECV_LOOP loop{"[CService::LocalCaptureThreadByMulticast_35090] new failed thread exit",
                                "[CService::LocalCaptureThreadByMulticast_35090] Exit multicast recv thread",
                                SOURCE_MULTICAST, 0, false, false};
    CService *self = static_cast<CService *>(pParam);
    self->ReceiveLoop(self->m_IoMulticast_35090, loop);
    return 0;
}

uint32_t CService::LocalCaptureThreadByMulticastLocal(void *pParam) {
    static const RECV_LOOP loop{"[CService::LocalCaptureThreadByMulticastLocal] new failed thread exit",
                                "[CService::LocalCaptureThreadByMulticastLocal] Exit multicast local recv thread",
                                SOURCE_MULTICAST, 0, false, true};
    CService *self = static_cast<CService *>(pParam);
    self->ReceiveLoop(self->m_IoMulticastLocal, loop);
    self->m_RelayQueue.Close(RELAY_SEND{self});
    return 0;
}

uint32_t CService::LocalCaptureThreadByUdpSubnet(void *pParam) {
    static const RECV_LOOP loop{"[CService::LocalCaptureThreadByUdpSubnet] new failed thread exit",
                                "[CService::LocalCaptureThreadByUdp] Exit udp recv thread", SOURCE_UNICAST, 10,
                                false, false};
    CService *self = static_cast<CService *>(pParam);
    self->ReceiveLoop(self->m_IoUdpSubnet, loop);
    return 0;
}

}  // namespace ZEVA
