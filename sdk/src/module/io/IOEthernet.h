// The raw-frame capture of one adapter: discovery frames (EtherType 0x8033) read and sent through
// the packet-capture library. It needs CAP_NET_RAW; without the library or the right, Init fails
// and the service goes on without raw frames.
#pragma once

#include <atomic>
#include <mutex>

#include <pcap/pcap.h>

#include "module/io/IOBase.h"

namespace ZEVA {

constexpr uint32_t RAW_FRAME_MIN_LEN = 80;
constexpr uint32_t RAW_FRAME_MAX_LEN = 500;

class CIOEthernet : public CIOBase {
public:
    CIOEthernet() = default;
    ~CIOEthernet();
    CIOEthernet(const CIOEthernet &) = delete;
    CIOEthernet &operator=(const CIOEthernet &) = delete;

    // Opens the adapter's interface, not promiscuous, reading only frames that come in; the port
    // is not used.
    int Init(uint16_t wAdapterIndex, uint16_t wPort) override;
    // The reader must have ended: the capture it reads from is closed here.
    int Fini() override;
    // Ends the reader's wait (at once, or the next one when it is not waiting): its RecvData
    // fails. Linux's capture ring waits past the read time-out while nothing arrives.
    void Wake();
    // Sends one whole frame; the address is not used.
    int SendData(const void *pData, uint32_t dwDataLen, const YAR_ADDR_T *pAddr) override;
    // Waits for one frame (or the read time-out once something arrived). A frame outside 80..500
    // bytes (or larger than the buffer) and a time-out give 1 with length 0; 0 only when the
    // capture failed.
    int RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) override;
    bool IsOpen() const { return m_bInit.load() != 0; }

private:
    int OpenCapture(const char *pAdapterName);

    std::atomic<pcap_t *> m_pPcapHandle{nullptr};
    std::mutex m_sendLock;  // a send never meets a close
};

}  // namespace ZEVA
