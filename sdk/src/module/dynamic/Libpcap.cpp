#include "module/dynamic/Libpcap.h"

#include "base/GlobalCtrl.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"

namespace ZEVA {

namespace {

template <typename Fn>
void Bind(YAR_DSO_HANDLE lib, Fn &fn, const char *pName) {
    fn = reinterpret_cast<Fn>(YAR_GetDsoSym(lib, pName));
}

// The loaded library, or null when there is none to call.
CLibpcap *Loaded() {
    CLibpcap *lib = CGlobalCtrl::GetInstance()->GetDynamicObject(LIB_TAG_PCAP);
    return lib && lib->IsLoaded() ? lib : nullptr;
}

}  // namespace

CLibpcap::~CLibpcap() { ClearAPI(); }

void CLibpcap::ClearAPI() {
    m_pcap_open_live = nullptr;
    m_pcap_compile = nullptr;
    m_pcap_setfilter = nullptr;
    m_pcap_sendpacket = nullptr;
    m_pcap_lib_version = nullptr;
    m_pcap_close = nullptr;
    m_pcap_next_ex = nullptr;
    m_pcap_freecode = nullptr;
    m_pcap_breakloop = nullptr;
    m_pcap_setdirection = nullptr;
}

int CLibpcap::LoadAPI() {
    if (!m_hLibHandle) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("%s, NULL == %s", "CLibpcap::LoadAPI", "m_hLibHandle");
        return 0;
    }
    Bind(m_hLibHandle, m_pcap_lib_version, "pcap_lib_version");
    Bind(m_hLibHandle, m_pcap_open_live, "pcap_open_live");
    Bind(m_hLibHandle, m_pcap_compile, "pcap_compile");
    Bind(m_hLibHandle, m_pcap_setfilter, "pcap_setfilter");
    Bind(m_hLibHandle, m_pcap_close, "pcap_close");
    Bind(m_hLibHandle, m_pcap_sendpacket, "pcap_sendpacket");
    Bind(m_hLibHandle, m_pcap_next_ex, "pcap_next_ex");
    Bind(m_hLibHandle, m_pcap_freecode, "pcap_freecode");
    Bind(m_hLibHandle, m_pcap_breakloop, "pcap_breakloop");
    Bind(m_hLibHandle, m_pcap_setdirection, "pcap_setdirection");
    return 1;
}

int CLibpcap::IsAllAPILoaded() {
    return IsFuncExist(reinterpret_cast<const void *>(m_pcap_open_live), "pcap_open_live") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_compile), "pcap_compile") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_setfilter), "pcap_setfilter") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_sendpacket), "pcap_sendpacket") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_lib_version), "pcap_lib_version") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_close), "pcap_close") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_next_ex), "pcap_next_ex") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_freecode), "pcap_freecode") &&
           IsFuncExist(reinterpret_cast<const void *>(m_pcap_breakloop), "pcap_breakloop");
}

int LibpcapLoad() {
    if (!CGlobalCtrl::GetInstance()->DynamicLibLoad(LIB_TAG_PCAP)) {
        ZEVA_LOG_ERR("LibpcapLoad DynamicLibLoad Failed!");
        return 0;
    }
    ZEVA_LOG_INF("%s", Pcap_LibVersion());
    return 1;
}

pcap_t *Pcap_OpenLive(const char *pDevice, int iSnapLen, int iPromisc, int iTimeoutMs, char *pErrBuf) {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_open_live(pDevice, iSnapLen, iPromisc, iTimeoutMs, pErrBuf) : nullptr;
}

int Pcap_Compile(pcap_t *pHandle, bpf_program *pProgram, const char *pFilter, int iOptimize, bpf_u_int32 dwNetmask) {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_compile(pHandle, pProgram, pFilter, iOptimize, dwNetmask) : -1;
}

int Pcap_SetFilter(pcap_t *pHandle, bpf_program *pProgram) {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_setfilter(pHandle, pProgram) : -1;
}

int Pcap_SendPacket(pcap_t *pHandle, const u_char *pData, int iLen) {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_sendpacket(pHandle, pData, iLen) : -1;
}

int Pcap_NextEx(pcap_t *pHandle, pcap_pkthdr **ppHeader, const u_char **ppData) {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_next_ex(pHandle, ppHeader, ppData) : PCAP_ERROR;
}

void Pcap_Close(pcap_t *pHandle) {
    if (CLibpcap *lib = Loaded())
        lib->m_pcap_close(pHandle);
}

void Pcap_FreeCode(bpf_program *pProgram) {
    if (CLibpcap *lib = Loaded())
        lib->m_pcap_freecode(pProgram);
}

void Pcap_BreakLoop(pcap_t *pHandle) {
    if (CLibpcap *lib = Loaded())
        lib->m_pcap_breakloop(pHandle);
}

int Pcap_SetDirection(pcap_t *pHandle, pcap_direction_t eDirection) {
    CLibpcap *lib = Loaded();
    return lib && lib->m_pcap_setdirection ? lib->m_pcap_setdirection(pHandle, eDirection) : -1;
}

const char *Pcap_LibVersion() {
    CLibpcap *lib = Loaded();
    return lib ? lib->m_pcap_lib_version() : "";
}

}  // namespace ZEVA
