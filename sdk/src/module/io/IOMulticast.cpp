#include "module/io/IOMulticast.h"

#include <cstring>

#include "module/adapter/AdapterInfo.h"
#include "module/io/SocketOptions.h"
#include "utils/SdkError.h"
#include "utils/SdkLog.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

void CopyAddrText(char (&dst)[16], const char *src) {
    size_t n = strnlen(src, sizeof dst - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

int CIOMulticast::Init(uint16_t wAdapterIndex, uint16_t wPort) {
    m_wAdapterIndex = wAdapterIndex;
    ADAPTER_ENTRY entry{};
    CAdapterInfo::GetInstance()->GetAdapter(wAdapterIndex, &entry);
    CopyAddrText(m_szIP, entry.szIPv4);
    m_wPort = wPort;
    CopyAddrText(m_szMulticastIP, "239.255.255.250");
    if (!CreateServerSocket(entry.szAdapterName, false))
        return 0;
    m_bInit.store(1);
    return 1;
}

int CIOMulticast::InitLocal(uint16_t wAdapterIndex, uint16_t wPort, const char *pGroup) {
    m_wAdapterIndex = wAdapterIndex;
    CopyAddrText(m_szIP, "127.0.0.1");
    m_wPort = wPort;
    CopyAddrText(m_szMulticastIP, pGroup);
    if (!CreateServerSocket("lo", true))
        return 0;
    m_bInit.store(1);
    return 1;
}

int CIOMulticast::CreateServerSocket(const char *pIfName, bool bLoop) {
    const char *where = "CIOMulticast::CreateServerSocket";
    if (!OpenSocket(where))
        return 0;
    ZEVA_LOG_INF("[CIOMulticast::CreateServerSocket] Bind IP[%s]", m_szIP);
    if (!BindPort(where, m_szIP))
        return 0;
    YAR_ADDR_T local, group;
    YAR_MakeAddrByString(YAR_AF_INET, m_szIP, m_wPort, &local);
    YAR_MakeAddrByString(YAR_AF_INET, m_szMulticastIP, m_wPort, &group);
    if (YAR_JoinMultiCastGroup(m_hSocket, &local, &group) != 0) {
        ZEVA_LOG_ERR("[CIOMulticast::CreateServerSocket] YAR_JoinMultiCastGroup failed, sys_err[%d] LocalIp[%s]",
                     YAR_GetSystemLastError(), m_szIP);
        Fail(ZEVA_ERR_MULTICAST_JOIN);
        return 0;
    }
    // Unprivileged processes may not bind to a device; the join alone still works then.
    BindToDevice(m_hSocket, pIfName);
    SetMulticastLoop(m_hSocket, bLoop);
    ZEVA_LOG_INF("[CIOMulticast::CreateServerSocket] Create server success, m_hUdpServer[%d] LocalIp[%s]", m_hSocket,
                 m_szIP);
    return 1;
}

int CIOMulticast::RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) {
    if (!CanRecv(pBuf, dwBufLen, pRecvLen))
        return 0;
    int n = YAR_RecvWithTimeOut(m_hSocket, pBuf, int(dwBufLen), 1000);
    if (n > 0) {
        *pRecvLen = uint32_t(n);
        return 1;
    }
    if (n < 0) {
        YAR_Sleep(100);
        ZEVA_LOG_ERR("[CIOMulticast::RecvData] Select failed, sys_err[%d] m_hMulticastServer[%d]",
                     YAR_GetSystemLastError(), m_hSocket);
    }
    return 0;
}

}  // namespace ZEVA
