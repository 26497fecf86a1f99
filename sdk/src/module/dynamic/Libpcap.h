// The packet-capture library (libpcap.so.0.8), loaded when a raw-frame capture is first opened.
// Only the types come from <pcap/pcap.h>; the library itself is never linked. Debian's libpcap
// has no remote-capture pcap_open, so captures open with pcap_open_live on the interface name.
#pragma once

#include <pcap/pcap.h>

#include "module/dynamic/DynamicLoadBase.h"

namespace ZEVA {

class CLibpcap : public DynamicLoadBase {
public:
    CLibpcap() = default;
    ~CLibpcap() override;

    int LoadAPI() override;
    int IsAllAPILoaded() override;

    decltype(&::pcap_open_live) m_pcap_open_live = nullptr;
    decltype(&::pcap_compile) m_pcap_compile = nullptr;
    decltype(&::pcap_setfilter) m_pcap_setfilter = nullptr;
    decltype(&::pcap_sendpacket) m_pcap_sendpacket = nullptr;
    decltype(&::pcap_lib_version) m_pcap_lib_version = nullptr;
    decltype(&::pcap_close) m_pcap_close = nullptr;
    decltype(&::pcap_next_ex) m_pcap_next_ex = nullptr;
    decltype(&::pcap_freecode) m_pcap_freecode = nullptr;
    decltype(&::pcap_breakloop) m_pcap_breakloop = nullptr;
    // Optional: without it a capture also reads the frames it sends.
    decltype(&::pcap_setdirection) m_pcap_setdirection = nullptr;

private:
    void ClearAPI();
};

// Makes sure the capture library is loaded (configured path, then the fallbacks); 1 or 0.
int LibpcapLoad();

// Forwarders to the loaded library, for callers that had LibpcapLoad succeed. Without a loaded
// library they fail as libpcap would (null, -1, an empty version).
pcap_t *Pcap_OpenLive(const char *pDevice, int iSnapLen, int iPromisc, int iTimeoutMs, char *pErrBuf);
int Pcap_Compile(pcap_t *pHandle, bpf_program *pProgram, const char *pFilter, int iOptimize, bpf_u_int32 dwNetmask);
int Pcap_SetFilter(pcap_t *pHandle, bpf_program *pProgram);
int Pcap_SendPacket(pcap_t *pHandle, const u_char *pData, int iLen);
int Pcap_NextEx(pcap_t *pHandle, pcap_pkthdr **ppHeader, const u_char **ppData);
void Pcap_Close(pcap_t *pHandle);
void Pcap_FreeCode(bpf_program *pProgram);
void Pcap_BreakLoop(pcap_t *pHandle);
// -1 also when the library has no pcap_setdirection.
int Pcap_SetDirection(pcap_t *pHandle, pcap_direction_t eDirection);
const char *Pcap_LibVersion();

}  // namespace ZEVA
