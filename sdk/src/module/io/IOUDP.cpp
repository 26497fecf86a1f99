#include "module/io/IOUDP.h"

#include <cstring>

#include "module/adapter/AdapterInfo.h"
#include "utils/SdkLog.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace ZEVA {

int CIOUDP::Init(uint16_t wAdapterIndex, uint16_t wPort) {
    m_wAdapterIndex = wAdapterIndex;
    ADAPTER_ENTRY entry{};
    CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &entry);
    std::memcpy(m_szIP, entry.szIPv4, sizeof m_szIP);
    m_wPort = wPort;
    if (!OpenSocket("CIOUDP::Init"))
        return 0;
    if (wPort != 0 && !BindPort("CIOUDP::Init", m_szIP))
        return 0;
    ZEVA_LOG_INF("[CIOUDP::Init] Create client success, m_hUdpSocket[%d] m_szIP[%s]", m_hSocket, m_szIP);
    m_bInit.store(1);
    return 1;
}

int CIOUDP::RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) {
    if (!CanRecv(pBuf, dwBufLen, pRecvLen))
        return 0;
    YAR_ADDR_T from;
    int n = YAR_RecvFrom(m_hSocket, pBuf, int(dwBufLen), &from);
    if (n > 0) {
        *pRecvLen = uint32_t(n);
        return 1;
    }
    YAR_Sleep(10);
    return 0;
}

}  // namespace ZEVA
