// CService, the SDK's network face on one adapter: its multicast sockets on ports 37020 and 35090,
// the local relay socket, the subnet socket, one receive thread on each, the relay of everything
// heard on 37020 to the local group, and the requests it sends.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/io/IOMulticast.h"
#include "module/io/IOUDP.h"
#include "module/protocol/MulticastProtocol_V31.h"
#include "yar/yar_thread.h"

namespace ZEVA {

constexpr uint16_t MULTICAST_PORT = 37020;
constexpr uint16_t MULTICAST_PORT_35090 = 35090;
constexpr uint16_t RELAY_PORT = 47020;
constexpr uint16_t SUBNET_INQUIRY_PORT = 37019;
constexpr uint32_t SUBNET_MAX_SPAN = 4096;  // end - start: 4097 addresses at most
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

    // Opens the sockets and starts the receive threads; a failure has already stopped again.
    // The raw-frame path is not opened by this build: bPcap is accepted and not used.
    int Start(uint32_t bMulticast, uint32_t bPcap);
    // Ends the threads and closes the sockets; may run any number of times.
    int Stop();
    int SendInquiry();
    // "inquiry_v32" to every address of the range, port 37019; the answers come to the subnet
    // thread. 0 with 2048 for a range that is no range.
    int InquirySpecificSubnet(const ZEVA_SUBNET_INFO *pSubnetInfo);
    // Dispatches one received Probe text (any bytes: the text need not be terminated).
    void ProcessUdpData(const char *pData, uint32_t dwLen, int iSource);

private:
    struct RECV_LOOP;

    int SendInquiryByMulticast();
    int SendXmlData(const char *pText, uint32_t dwLen);
    void ReceiveLoop(CIOBase &io, const RECV_LOOP &loop);
    int StartThreads(uint32_t bMulticast);
    void LogAdapterIPv4(const char *pFormat);

    static uint32_t LocalCaptureThreadByMulticast(void *pParam);
    static uint32_t LocalCaptureThreadByMulticast_35090(void *pParam);
    static uint32_t LocalCaptureThreadByMulticastLocal(void *pParam);
    static uint32_t LocalCaptureThreadByUdpSubnet(void *pParam);

    CIOMulticast m_IoMulticast;
    CIOMulticast m_IoMulticast_35090;
    CIOMulticast m_IoMulticastLocal;
    CIOUDP m_IoUdpSubnet;
    CMulticastProtocol_V31 m_Protocol;
    uint16_t m_wAdapterIndex;
    YAR_HANDLE m_hMulticastThreadId = nullptr;
    YAR_HANDLE m_hMulticastThreadId_35090 = nullptr;
    YAR_HANDLE m_hUdpSubnetThreadId = nullptr;
    YAR_HANDLE m_hMulticastLocalThreadId = nullptr;
    std::atomic<uint32_t> m_bStopThread{1};
};

}  // namespace ZEVA
