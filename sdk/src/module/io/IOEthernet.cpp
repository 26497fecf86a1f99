#include "module/io/IOEthernet.h"

#include <cerrno>
#include <cstring>

#include "module/adapter/AdapterInfo.h"
#include "module/dynamic/Libpcap.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"

namespace ZEVA {

namespace {

constexpr int SNAPSHOT_LEN = 65535;
constexpr int READ_TIMEOUT_MS = 1000;
constexpr bpf_u_int32 FILTER_NETMASK = 0xFFFFFF;

}  // namespace

CIOEthernet::~CIOEthernet() { Fini(); }

int CIOEthernet::Init(uint16_t wAdapterIndex, uint16_t /*wPort*/) {
    m_wAdapterIndex = wAdapterIndex;
    if (!LibpcapLoad())
        return 0;
    ADAPTER_ENTRY entry{};
    if (!CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &entry) || entry.bNotLan) {
        ZEVA_LOG_ERR("[CIOEthernet::Init] wAapterIndex < 0");
        return 0;
    }
    if (!OpenCapture(entry.szAdapterName))
        return 0;
    ZEVA_LOG_INF("[CIOEthernet::Init] succ[%d]", wAdapterIndex);
    m_bInit.store(1);
    return 1;
}

int CIOEthernet::OpenCapture(const char *pAdapterName) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t *handle = Pcap_OpenLive(pAdapterName, SNAPSHOT_LEN, 0, READ_TIMEOUT_MS, errbuf);
    if (!handle) {
        ZEVA_LOG_ERR("[CIOEthernet::Init]  m_wAdapterIndex[%d], pPcapHandle[%x], syserr[%d], szErrbuf[%s], "
                     "szAdapterName[%s]",
                     m_wAdapterIndex, 0u, errno, errbuf, pAdapterName);
        return 0;
    }
    bpf_program program{};
    if (Pcap_Compile(handle, &program, "ether proto 0x8033", 0, FILTER_NETMASK) == -1) {
        ZEVA_LOG_ERR("[CIOEthernet::Init] pcap_compile failed");
        Pcap_Close(handle);
        return 0;
    }
    int set = Pcap_SetFilter(handle, &program);
    Pcap_FreeCode(&program);
    if (set == -1) {
        ZEVA_LOG_ERR("[CIOEthernet::Init] pcap_setfilter failed");
        Pcap_Close(handle);
        return 0;
    }
    // Linux also captures what this handle sends; the SDK's own frames are no answers.
    Pcap_SetDirection(handle, PCAP_D_IN);
    m_pPcapHandle.store(handle);
    return 1;
}

int CIOEthernet::Fini() {
    m_bInit.store(0);
    std::lock_guard<std::mutex> guard(m_sendLock);
    if (pcap_t *handle = m_pPcapHandle.exchange(nullptr)) {
        ZEVA_LOG_INF("[CIOEthernet::Fini] pcap_close 1");
        Pcap_Close(handle);
        ZEVA_LOG_INF("[CIOEthernet::Fini] pcap_close 2");
    }
    return 1;
}

void CIOEthernet::Wake() {
    if (pcap_t *handle = m_pPcapHandle.load())
        Pcap_BreakLoop(handle);
}

int CIOEthernet::SendData(const void *pData, uint32_t dwDataLen, const YAR_ADDR_T * /*pAddr*/) {
    std::lock_guard<std::mutex> guard(m_sendLock);
    pcap_t *handle = m_pPcapHandle.load();
    if (!m_bInit.load() || !handle) {
        SetSdkLastError(ZEVA_ERR_PCAP);
        ZEVA_LOG_ERR("[CIOEthernet::SendData] no init");
        return 0;
    }
    if (!pData || dwDataLen == 0) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("[CIOEthernet::SendData] pData is Null or dwDataLen <= 0");
        return 0;
    }
    if (Pcap_SendPacket(handle, static_cast<const u_char *>(pData), static_cast<int>(dwDataLen)) == -1) {
        ZEVA_LOG_ERR("[CIOEthernet::SendData] pcap_sendpacket failed");
        SetSdkLastError(ZEVA_ERR_PCAP);
        return 0;
    }
    return 1;
}

int CIOEthernet::RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) {
    pcap_t *handle = m_pPcapHandle.load();
    if (!m_bInit.load() || !handle) {
        SetSdkLastError(ZEVA_ERR_PCAP);
        ZEVA_LOG_ERR("[CIOEthernet::RecvData] no init");
        return 0;
    }
    if (!pBuf || dwBufLen == 0 || !pRecvLen) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("[CIOEthernet::RecvData] pBuf is Null or dwBufLen <= 0");
        return 0;
    }
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int got = Pcap_NextEx(handle, &header, &data);
    *pRecvLen = 0;
    if (got < 0)
        return 0;
    if (got == 0)
        return 1;
    if (got != 1)
        return 0;
    uint32_t len = header->caplen;
    if (len >= RAW_FRAME_MIN_LEN && len <= RAW_FRAME_MAX_LEN && len <= dwBufLen) {
        std::memcpy(pBuf, data, len);
        *pRecvLen = len;
    }
    return 1;
}

}  // namespace ZEVA
