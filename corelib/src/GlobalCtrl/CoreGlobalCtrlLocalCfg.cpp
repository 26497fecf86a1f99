// Local configuration of the global controller: port ranges and their pools, port multiplexing,
// proxy table, CA path, log callback, and the single values with their own setters.
#include <algorithm>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"

namespace Vorezi {

namespace {

enum {
    LOCAL_CFG_TCP_PORT_RANGE = 0,
    LOCAL_CFG_UDP_PORT_RANGE = 1,
    LOCAL_CFG_RESERVED_8 = 8,
    LOCAL_CFG_CHAR_CONVERT = 13,
    LOCAL_CFG_PROXY_TABLE = 14,
    LOCAL_CFG_LOG_CALLBACK = 15,
    LOCAL_CFG_CA_PATH = 20,
    LOCAL_CFG_PORT_MULTI = 21,
    LOCAL_CFG_CUSTOM_TIMING = 22,
};

constexpr DWORD kMinConnectTimeOut = 300;
constexpr DWORD kMaxConnectTimeOut = 75000;
constexpr DWORD kMinRecvTimeOut = 1000;

constexpr const char kCipherList[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-RSA-AES256-GCM-SHA384:DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-DSS-AES128-GCM-SHA256:"
    "DHE-DSS-AES256-GCM-SHA384:DH-DSS-AES128-GCM-SHA256:DH-DSS-AES256-GCM-SHA384:DH-RSA-AES128-GCM-SHA256:"
    "DH-RSA-AES256-GCM-SHA384:ECDH-ECDSA-AES128-GCM-SHA256:ECDH-ECDSA-AES256-GCM-SHA384:"
    "ECDH-RSA-AES128-GCM-SHA256:ECDH-RSA-AES256-GCM-SHA384:AES128-GCM-SHA256:AES256-GCM-SHA384";

}  // namespace

// ---- local configuration records ----

int CCoreGlobalCtrlBase::SetSDKLocalCfg(DWORD dwType, const void *pInBuff) {
    if (!pInBuff) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetSDKLocalCfg, pInBuff == NULL");
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
    switch (dwType) {
    case LOCAL_CFG_TCP_PORT_RANGE:
        return SetPortRangeCfg(true, pInBuff);
    case LOCAL_CFG_UDP_PORT_RANGE:
        return SetPortRangeCfg(false, pInBuff);
    case LOCAL_CFG_CHAR_CONVERT: {
        // The record is the callback itself, a native pointer.
        CHAR_CONVERT_CALLBACK fnConvert;
        std::memcpy(&fnConvert, pInBuff, sizeof(fnConvert));
        SetCharConvertCallBack(fnConvert);
        return 1;
    }
    case LOCAL_CFG_PROXY_TABLE:
        return SetProxyTable(pInBuff);
    case LOCAL_CFG_LOG_CALLBACK:
        return SetLogCallBackCfg(static_cast<const MORVA_LOG_CALLBACK_CFG *>(pInBuff));
    case LOCAL_CFG_CA_PATH:
        return SetCAPathCfg(pInBuff);
    case LOCAL_CFG_PORT_MULTI: {
        DWORD dwSwitch;
        std::memcpy(&dwSwitch, pInBuff, sizeof(dwSwitch));
        return SetPortMultiCfg(dwSwitch);
    }
    case LOCAL_CFG_CUSTOM_TIMING: {
        DWORD dwCustom;
        std::memcpy(&dwCustom, pInBuff, sizeof(dwCustom));
        SetCustomTiming(dwCustom);
        return 1;
    }
    default:
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetSDKLocalCfg, Invalid dwType[%d]", (int)dwType);
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
}

int CCoreGlobalCtrlBase::GetSDKLocalCfg(DWORD dwType, void *pOutBuff) {
    if (!pOutBuff) {
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
    switch (dwType) {
    case LOCAL_CFG_TCP_PORT_RANGE:
        std::memcpy(pOutBuff, &m_TcpPortRange, sizeof(m_TcpPortRange));
        return 1;
    case LOCAL_CFG_UDP_PORT_RANGE:
        std::memcpy(pOutBuff, &m_UdpPortRange, sizeof(m_UdpPortRange));
        return 1;
    case LOCAL_CFG_RESERVED_8:
        return 1;
    case LOCAL_CFG_CHAR_CONVERT: {
        CHAR_CONVERT_CALLBACK fnConvert = GetCharConvertCallBack();
        std::memcpy(pOutBuff, &fnConvert, sizeof(fnConvert));
        return 1;
    }
    case LOCAL_CFG_PROXY_TABLE:
        GetProxyTable(pOutBuff);
        return 1;
    case LOCAL_CFG_CA_PATH:
        if (!SSLLibLock())
            return 0;
        std::memcpy(pOutBuff, &m_CAPathCfg, sizeof(m_CAPathCfg));
        SSLLibUnlock();
        return 1;
    case LOCAL_CFG_PORT_MULTI:
        std::memcpy(pOutBuff, &m_bPortMultiList, sizeof(m_bPortMultiList));
        return 1;
    case LOCAL_CFG_CUSTOM_TIMING: {
        DWORD dwCustom = IsCustomTiming();
        std::memcpy(pOutBuff, &dwCustom, sizeof(dwCustom));
        return 1;
    }
    default:
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetSDKLocalCfg, Invalid dwType[%d]", (int)dwType);
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
}

int CCoreGlobalCtrlBase::SetPortRangeCfg(bool bTcp, const void *pInBuff) {
    MORVA_PORT_RANGE_CFG range;
    std::memcpy(&range, pInBuff, sizeof(range));
    if (range.wMaxPort < range.wMinPort || (range.wMinPort == 0 && range.wMaxPort != 0)) {
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
    // The range is stored before its pool is made, also when making the pool fails.
    (bTcp ? m_TcpPortRange : m_UdpPortRange) = range;
    DWORD &bPool = bTcp ? m_bTcpPortPool : m_bUdpPortPool;
    if (range.wMinPort == 0 && range.wMaxPort == 0) {
        bPool = 0;
        if (bTcp)
            m_TcpPortPool.Reset();
        else
            m_UdpPortPool.Reset();
        return 1;
    }
    if ((bTcp ? CreateTcpPortPool() : CreateUdpPortPool()) != 0) {
        LogModule_Write(LOG_LEVEL_DBG, bTcp ? "CCoreGlobalCtrlBase::SetSDKLocalCfg, CreateTcpPortPool failed"
                                            : "CCoreGlobalCtrlBase::SetSDKLocalCfg, CreateUdpPortPool failed");
        return 0;
    }
    bPool = 1;
    return 1;
}

int CCoreGlobalCtrlBase::SetCAPathCfg(const void *pInBuff) {
    MORVA_CA_PATH_CFG cfg;
    std::memcpy(&cfg, pInBuff, sizeof(cfg));
    cfg.szCAPath[sizeof(cfg.szCAPath) - 1] = '\0';
    size_t nLen = std::strlen(cfg.szCAPath);
    if (nLen > 0 && cfg.szCAPath[nLen - 1] != '/') {
        // The separator and the terminator must both fit in the field.
        if (nLen + 2 > sizeof(cfg.szCAPath)) {
            SetLastError(MORVA_ERR_PARAM);
            return 0;
        }
        cfg.szCAPath[nLen] = '/';
        cfg.szCAPath[nLen + 1] = '\0';
    }
    if (!SSLLibLock())
        return 0;
    m_CAPathCfg = cfg;
    int iResult = RefreshCA();
    SSLLibUnlock();
    return iResult;
}

int CCoreGlobalCtrlBase::SetPortMultiCfg(DWORD dwSwitch) {
    if (dwSwitch) {
        if (!CreatPortMultiList()) {
            LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::SetSDKLocalCfg, CreatPortMultiList failed");
            return 0;
        }
    } else if (!DestroyPortMultiList()) {
        LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::SetSDKLocalCfg, DestroyPortMultiList failed");
        return 0;
    }
    m_bPortMultiList = dwSwitch;
    return 1;
}

// ---- single values ----

int CCoreGlobalCtrlBase::SetConnectTimeOut(DWORD dwTimeOut, DWORD dwSecond) {
    if (IsCustomTiming()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetConnectTimeOut, VOREZI_ERR_FUNCTION_INVALID");
        SetLastError(MORVA_ERR_FUNCTION_INVALID);
        return 0;
    }
    m_dwConnectTimeOut = std::min(std::max(dwTimeOut, kMinConnectTimeOut), kMaxConnectTimeOut);
    m_dwConnectSecond = dwSecond;
    return 1;
}

int CCoreGlobalCtrlBase::GetConnectTimeOut(DWORD *pTimeOut, int *pSecond) {
    if (pTimeOut)
        *pTimeOut = m_dwConnectTimeOut;
    if (pSecond)
        *pSecond = (int)m_dwConnectSecond;
    return 0;
}

int CCoreGlobalCtrlBase::SetDefaultRecvTimeOut(DWORD dwTimeOut) {
    m_dwRecvTimeOut = std::max(dwTimeOut, kMinRecvTimeOut);
    return 1;
}

DWORD CCoreGlobalCtrlBase::GetDefaultRecvTimeOut() {
    return m_dwRecvTimeOut;
}

int CCoreGlobalCtrlBase::SetNagleFlag(DWORD dwFlag) {
    m_bNagle = dwFlag;
    return 1;
}

int CCoreGlobalCtrlBase::GetNagleFlag(DWORD *pFlag) {
    if (!pFlag)
        return 0;
    *pFlag = m_bNagle;
    return 1;
}

int CCoreGlobalCtrlBase::GetNagleMode() {
    return m_bNagle ? kNagleModeOn : kNagleModeOff;
}

void CCoreGlobalCtrlBase::SetAsyncIO(DWORD bAsync) {
    m_bAsyncIO = bAsync;
}

DWORD CCoreGlobalCtrlBase::IsAsyncIO() {
    return m_bAsyncIO;
}

int CCoreGlobalCtrlBase::GetProxyByID(int iHandle, void *pOut) {
    if (iHandle < 0 || iHandle >= MORVA_PROXY_COUNT || !pOut) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetProxyByID, Invalid iHandle[%d]", iHandle);
        return 0;
    }
    std::memcpy(pOut, m_byProxyTable + iHandle * MORVA_PROXY_RECORD_LEN, MORVA_PROXY_RECORD_LEN);
    return 1;
}

int CCoreGlobalCtrlBase::SetProxyTable(const void *pTable) {
    std::memcpy(m_byProxyTable, pTable, sizeof(m_byProxyTable));
    return 1;
}

void CCoreGlobalCtrlBase::GetProxyTable(void *pTable) {
    std::memcpy(pTable, m_byProxyTable, sizeof(m_byProxyTable));
}

const char *CCoreGlobalCtrlBase::GetCipherList() {
    return kCipherList;
}

// ---- port pools ----

int CCoreGlobalCtrlBase::CreateTcpPortPool() {
    if (!m_TcpPortRange.wMinPort || !m_TcpPortRange.wMaxPort)
        return -1;
    return m_TcpPortPool.SetPortRange(m_TcpPortRange.wMinPort, m_TcpPortRange.wMaxPort);
}

int CCoreGlobalCtrlBase::CreateUdpPortPool() {
    if (!m_UdpPortRange.wMinPort || !m_UdpPortRange.wMaxPort) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CCoreGlobalCtrlBase::CreateUdpPortPool, Invalid Param, m_wUdpMinPort[%d], m_wUdpMaxPort[%d]",
                        m_UdpPortRange.wMinPort, m_UdpPortRange.wMaxPort);
        return -1;
    }
    return m_UdpPortPool.SetPortRange(m_UdpPortRange.wMinPort, m_UdpPortRange.wMaxPort);
}

void CCoreGlobalCtrlBase::SetTcpPortRange(WORD wMin, WORD wMax) {
    m_TcpPortRange = {wMin, wMax};
}

void CCoreGlobalCtrlBase::SetUdpPortRange(WORD wMin, WORD wMax) {
    m_UdpPortRange = {wMin, wMax};
}

void CCoreGlobalCtrlBase::GetTcpPortRange(WORD *pMin, WORD *pMax) {
    *pMin = m_TcpPortRange.wMinPort;
    *pMax = m_TcpPortRange.wMaxPort;
}

void CCoreGlobalCtrlBase::GetUdpPortRange(WORD *pMin, WORD *pMax) {
    *pMin = m_UdpPortRange.wMinPort;
    *pMax = m_UdpPortRange.wMaxPort;
}

DWORD CCoreGlobalCtrlBase::IsTcpPortPool() {
    return m_bTcpPortPool ? 1 : 0;
}

DWORD CCoreGlobalCtrlBase::IsUdpPortPool() {
    return m_bUdpPortPool ? 1 : 0;
}

WORD CCoreGlobalCtrlBase::GetTcpPort(int iFamily) {
    return m_TcpPortPool.GetPort(iFamily);
}

WORD CCoreGlobalCtrlBase::GetUdpPort(int iFamily) {
    return m_UdpPortPool.GetPort(iFamily);
}

void CCoreGlobalCtrlBase::ReleaseTcpPort(WORD wPort) {
    m_TcpPortPool.ReleasePort(wPort);
}

void CCoreGlobalCtrlBase::ReleaseUdpPort(WORD wPort) {
    m_UdpPortPool.ReleasePort(wPort);
}

void CCoreGlobalCtrlBase::ReleasePort(int iFlag, WORD wPort) {
    if (iFlag == 0)
        ReleaseTcpPort(wPort);
    else
        ReleaseUdpPort(wPort);
}

void CCoreGlobalCtrlBase::ClearTcpPortPool() {
    m_TcpPortPool.Reset();
}

void CCoreGlobalCtrlBase::ClearUdpPortPool() {
    m_UdpPortPool.Reset();
}

// ---- port-multiplex lists ----

int CCoreGlobalCtrlBase::CreatPortMultiList() {
    if (!m_TcpPortList.CreatList())
        return 0;
    m_bTcpListCreated = 1;
    if (m_UdpPortList.CreatList()) {
        m_bUdpListCreated = 1;
        return 1;
    }
    if (!m_TcpPortList.DestroyList())
        LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::CreatPortMultiList, TcpPortList DeleteList Failed");
    m_bTcpListCreated = 0;
    return 0;
}

int CCoreGlobalCtrlBase::DestroyPortMultiList() {
    if (!m_bPortMultiList)
        return 1;
    if (!m_TcpPortList.DestroyList()) {
        LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::DestroyPortMultiList, TcpPortList DeleteList Failed");
        return 0;
    }
    m_bTcpListCreated = 0;
    if (!m_UdpPortList.DestroyList()) {
        LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::DestroyPortMultiList, UdpPortList DeleteList Failed");
        return 0;
    }
    m_bUdpListCreated = 0;
    return 1;
}

DWORD CCoreGlobalCtrlBase::IsPortMultiList() {
    return m_bPortMultiList ? 1 : 0;
}

int CCoreGlobalCtrlBase::InsertPortList(int iFlag, WORD wPort, const BYTE *pKey) {
    return PortList(iFlag).InsertNode(wPort, pKey);
}

int CCoreGlobalCtrlBase::DeletePortList(int iFlag, const BYTE *pKey, WORD wPort, int *pNodeRemoved) {
    return PortList(iFlag).DeleteNode(pKey, wPort, pNodeRemoved);
}

int CCoreGlobalCtrlBase::FindPortList(int iFlag, const BYTE *pKey, WORD *pPort) {
    return PortList(iFlag).FindPort(pKey, pPort);
}

int CCoreGlobalCtrlBase::GetPortMultiTotalNum(int iFlag) {
    return PortList(iFlag).GetNodeCount();
}

}  // namespace Vorezi
