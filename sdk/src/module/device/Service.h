// CService, the SDK's network face on one adapter: its multicast sockets on ports 37020 and 35090,
// the local relay socket, the subnet socket, the raw-frame capture, one receive thread on each,
// the relay of everything heard on 37020 to the local group, and the requests it sends.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "module/device/RelayQueue.h"
#include "module/io/IOEthernet.h"
#include "module/io/IOMulticast.h"
#include "module/io/IOUDP.h"
#include "module/protocol/MulticastProtocol_V31.h"
#include "module/protocol/PcapProtocol.h"
#include "yar/yar_thread.h"

namespace ZEVA {

struct DEVICE_COMMAND;
struct DEVICE_LIST_ITEM;

constexpr uint16_t MULTICAST_PORT = 37020;
constexpr uint16_t MULTICAST_PORT_35090 = 35090;
constexpr uint16_t RELAY_PORT = 47020;
constexpr uint16_t SUBNET_INQUIRY_PORT = 37019;
constexpr uint32_t SUBNET_MAX_SPAN = 4096;  // end - start: 4097 addresses at most
constexpr const char *MULTICAST_GROUP = "239.255.255.250";
constexpr const char *RELAY_GROUP = "239.255.255.251";
constexpr uint32_t RECV_BUFFER_LEN = 10240;

// The source tag a datagram reaches the dispatcher with: a multicast socket's, or a unicast
// one's (the subnet socket, and the host's ParseData). Nothing is decided by it.
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
    // "inquiry_v32" to every address of the range, port 37019; the answers come to the subnet
    // thread. 0 with 2048 for a range that is no range.
    int InquirySpecificSubnet(const ZEVA_SUBNET_INFO *pSubnetInfo);
    // Dispatches one received Probe text (any bytes: the text need not be terminated).
    void ProcessUdpData(const char *pData, uint32_t dwLen, int iSource);

    // Requests to one device, sent to both multicast ports. pExchangeCode is the device's
    // random string as its exchange-code answer carried it. 1 when sent; the answer reaches the
    // controller through ProcessUdpData.
    int GetExchangeCode(const DEVICE_LIST_ITEM &dev, uint8_t byProtocol);
    int ActiveDev(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pPassword);
    int ModifyNetParam(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pUserName,
                       const char *pPassword, const ZEVA_NET_PARAM *pParam);
    int ResetPassword(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const ZEVA_RESET_PARAM *pParam);
    int GetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                        uint32_t dwCommand, const void *pIn);
    int SetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                        uint32_t dwCommand, const void *pIn);
    // Raw-frame requests to one device by its MAC text.
    int ModifyNetParamByPcap(const char *pMAC, const char *pPassword, const ZEVA_NET_PARAM *pParam);
    int ResetPasswordEthernet(const char *pMAC, const char *pIPv4First, const char *pIPv4Second,
                              const ZEVA_RESET_PARAM *pParam);
    // The request whose answer is awaited: its Uuid, the device's MAC and the text sent, which
    // must not come back as the answer.
    void SetPending(const char *pUuid, const char *pMAC, const char *pText, uint32_t dwLen);

private:
    struct RECV_LOOP;

    // The log lines of one request operation.
    struct REQUEST_LINES {
        const char *pFailLine;     // "... failed sys_err = %d"
        const char *pSentLine;     // "... Send XML is %s"
        const char *pPackageFailLine;  // "... [%d] Package failed", or null
    };
    int SendInquiryByMulticast();
    // Builds with the row's builder for the device's protocol and sends; the pending identity is
    // in place before the first byte goes out. 0 with the last error when either step fails.
    int SendRequest(const DEVICE_LIST_ITEM &dev, const DEVICE_COMMAND &cmd, PROBE_REQUEST &req,
                    const REQUEST_LINES &lines, int iArg = 0);
    int SendConfig(const DEVICE_LIST_ITEM &dev, const DEVICE_COMMAND &cmd, const char *pUserName,
                   const char *pExchangeCode, const void *pIn, const REQUEST_LINES &lines);
    // Takes the answer when it belongs to the pending request (and is not our own request come
    // back): the pending Uuid is cleared, so a copy of it is dropped.
    bool TakeAnswer(const TiXmlElement *pRoot, const char *pType, const char *pData, uint32_t dwLen);
    void DispatchAnswer(const TiXmlElement *pRoot, const char *pType);
    // Sent only while the capture is open, so a service without one leaves no error behind.
    int SendInquiryByPcap();
    int SendFrame(const char *pDstMAC, const char *pIPv4First, const char *pIPv4Second, uint8_t byOp,
                  uint8_t bySubCode, uint32_t dwSequence, const uint8_t *pData, uint32_t dwDataLen);
    void ReplyOnlineFrame();
    void ProcessFrame();
    void EthernetLoop();
    int SendXmlData(const char *pText, uint32_t dwLen);
    // What the relay queue sends with.
    struct RELAY_SEND {
        CService *pService;
        void operator()(const DATAGRAM *pDatagrams, uint32_t dwCount) const { pService->Relay(pDatagrams, dwCount); }
    };

    // Fills the batch: the first datagram waits as the socket's RecvData waits, the rest are what
    // is queued behind it. False when nothing came.
    bool ReceiveBatch(CIOSocket &io, CDatagramBatch &batch, bool bRelay);
    void ReceiveLoop(CIOSocket &io, const RECV_LOOP &loop);
    // Sends datagrams on to the local relay group, each failure logged.
    void Relay(const DATAGRAM *pDatagrams, uint32_t dwCount);
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
    CMulticastProtocol_V31 m_Protocol;
    uint16_t m_wAdapterIndex;
    YAR_ADDR_T m_RelayAddr;
    CRelayQueue m_RelayQueue;
    YAR_HANDLE m_hEthernetThreadId = nullptr;
    YAR_HANDLE m_hMulticastThreadId = nullptr;
    YAR_HANDLE m_hMulticastThreadId_35090 = nullptr;
    YAR_HANDLE m_hUdpSubnetThreadId = nullptr;
    YAR_HANDLE m_hMulticastLocalThreadId = nullptr;
    std::atomic<uint32_t> m_bStopThread{1};

    // The request that waits for its answer, and its text, which must not come back as the answer.
    std::mutex m_PendingLock;
    char m_szPendingUuid[40] = {};
    char m_szPendingMAC[20] = {};
    std::string m_LastRequest;
};

}  // namespace ZEVA
