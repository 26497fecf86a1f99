// CService, the SDK's network face on one adapter: its multicast sockets on ports 37020 and 35090,
// the local relay socket, the subnet socket, the raw-frame capture, one receive thread on each,
// the relay of everything heard on 37020 to the local group, and the requests it sends.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/io/IOEthernet.h"
#include "module/io/IOMulticast.h"
#include "module/io/IOUDP.h"
#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/PcapProtocol.h"
#include "yar/yar_thread.h"

namespace ZEVA {

constexpr uint16_t MULTICAST_PORT = 37020;
constexpr uint16_t MULTICAST_PORT_35090 = 35090;
constexpr uint16_t RELAY_PORT = 47020;
constexpr const char *MULTICAST_GROUP = "239.255.255.250";
constexpr const char *RELAY_GROUP = "239.255.255.251";
constexpr uint32_t RECV_BUFFER_LEN = 10240;

// Where a datagram came from, for the dispatcher.
enum { SOURCE_MULTICAST = 1, SOURCE_UNICAST = 2 };

class CService {
public:
    explicit CService(uint16_t wAdapterIndex);
    ~CService();
    CService(const CService &) = delete;
    CService &operator=(const CService &) = delete;

    // Opens the sockets (and with bPcap the raw-frame capture, when it can) and starts the
    // receive threads; a failure has already stopped again.
    int Start(uint32_t bMulticast, uint32_t bPcap);
    // Ends the threads and closes the sockets; may run any number of times.
    int Stop();
    int SendInquiry();
    // Dispatches one received Probe text (any bytes: the text need not be terminated).
    void ProcessUdpData(const char *pData, uint32_t dwLen, int iSource);

    // Raw-frame requests to one device by its MAC text. The net-parameter record is laid out as
    // ZEVA_NET_PARAM, the reset record as ZEVA_RESET_PARAM.
    int ModifyNetParamByPcap(const char *pMAC, const char *pPassword, const uint8_t *pNetParam);
    int ResetPasswordEthernet(const char *pMAC, const char *pIPv4First, const char *pIPv4Second,
                              const uint8_t *pResetParam);

private:
    struct RECV_LOOP;

    int SendInquiryByMulticast();
    // Sent only while the capture is open, so a service without one leaves no error behind.
    int SendInquiryByPcap();
    int SendFrame(const char *pDstMAC, const char *pIPv4First, const char *pIPv4Second, uint8_t byOp,
                  uint8_t bySubCode, uint32_t dwSequence, const uint8_t *pData, uint32_t dwDataLen);
    void ReplyOnlineFrame();
    void ProcessFrame();
    void EthernetLoop();
    int SendXmlData(const char *pText, uint32_t dwLen);
    void ReceiveLoop(CIOBase &io, const RECV_LOOP &loop);
    int StartThreads(uint32_t bMulticast, uint32_t bPcap);
    void LogAdapterIPv4(const char *pFormat);

    static uint32_t LocalCaptureThreadByMulticast(void *pParam);
    static uint32_t LocalCaptureThreadByMulticast_35090(void *pParam);
    static uint32_t LocalCaptureThreadByMulticastLocal(void *pParam);
    static uint32_t LocalCaptureThreadByUdpSubnet(void *pParam);
    static uint32_t LocalCaptureThreadByEthernet(void *pParam);

    CIOEthernet m_IoEthernet;
    CIOMulticast m_IoMulticast;
    CIOMulticast m_IoMulticast_35090;
    CIOMulticast m_IoMulticastLocal;
    CIOUDP m_IoUdpSubnet;
    CPcapProtocol m_PcapProtocol;
    CMulticastProtocol m_Protocol;
    uint16_t m_wAdapterIndex;
    YAR_HANDLE m_hEthernetThreadId = nullptr;
    YAR_HANDLE m_hMulticastThreadId = nullptr;
    YAR_HANDLE m_hMulticastThreadId_35090 = nullptr;
    YAR_HANDLE m_hUdpSubnetThreadId = nullptr;
    YAR_HANDLE m_hMulticastLocalThreadId = nullptr;
    std::atomic<uint32_t> m_bStopThread{1};
};

}  // namespace ZEVA
