// How the endpoint takes RUDP packets apart: INIT handling (rate limit, repeat answers, history)
// and the routing of every other packet to its connection.
#include <cstring>

#include "Module/Log/LogModule.h"
#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"

namespace Vorezi {

using namespace vrudp;

void CHRUdpCommand::ProccessRUDPData(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    VRUDP_SOCK_ADDR stAddr = {};
    YAR_GetAddrStringEx(&stFrom, stAddr.szAddr, sizeof stAddr.szAddr);
    stAddr.wPort = YAR_GetAddrPort(&stFrom);
    if (iLen <= 11) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ProccessRUDPData, dwDataLen[%d] < [%d], pData[0x%X], Addr[%s:%d]",
                        m_iHandle, iLen, kCommonHeadLen, MORVA_PTR_ARG(pData), stAddr.szAddr, stAddr.wPort);
        return;
    }
    CommonHead h = ParseCommonHead(pData);
    if (h.byType > PKT_RESET) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::ProccessRUDPData, Invalid byPacketType[%d], dwDataLen[%d], Addr[%s:%d]",
                        m_iHandle, h.byType, iLen, stAddr.szAddr, stAddr.wPort);
        return;
    }
    if (h.byType != PKT_INIT) {
        ProcessForConnection(pData, iLen, stFrom, stAddr);
        return;
    }
    if (!PassInitRate()) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdpCommand::ProccessRUDPData, INIT Rate Limit, Drop, Addr[%s:%d]", m_iHandle,
                        stAddr.szAddr, stAddr.wPort);
        return;
    }
    if (AnswerRepeatedInit(stAddr, h.wSession, h.dwWord) || SynFloodContrl(pData, iLen))
        return;
    m_byRemoteVersion = h.byTopBits;
    m_wRemoteSessionId = h.wSession;
    m_dwRecognizeCode = h.dwWord;
    LogModule_Write(LOG_LEVEL_INF,
                    "[%d]CHRUdpCommand::ProccessRUDPData, VRUDP_S_INIT_PACKET, m_wRemoteSessionId[%d], "
                    "m_dwRecognizeCode[%u], m_byRemoteVersion[%d], Addr[%s:%d]",
                    m_iHandle, m_wRemoteSessionId, h.dwWord, m_byRemoteVersion, stAddr.szAddr, stAddr.wPort);
    ManageInitPacket(stAddr);
}

// The INIT that opens a window of more than 200 ms passes, and up to 20 more inside it.
bool CHRUdpCommand::PassInitRate() {
    if (m_dwInitCount < kInitBurst) {
        m_dwInitCount++;
        return true;
    }
    uint32_t dwNow = VRUDP_GetTickMs();
    if (dwNow - m_dwInitWindowStart <= kInitWindowMs)
        return false;
    m_dwInitCount = 0;
    m_dwInitWindowStart = dwNow;
    return true;
}

// True when the INIT's first 12 bytes were seen before; otherwise they are remembered.
bool CHRUdpCommand::SynFloodContrl(const uint8_t *pData, int iLen) {
    for (int i = 0; i < kInitHistory; i++) {
        if (std::memcmp(m_abyInitHistory[i], pData, kCommonHeadLen) == 0) {
            LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdpCommand::SynFloodContrl, iIndex[%d], pSynData[0x%X], dwLength[%d]",
                            m_iHandle, i, MORVA_PTR_ARG(pData), iLen);
            return true;
        }
    }
    std::memcpy(m_abyInitHistory[m_iInitHistoryNext], pData, kCommonHeadLen);
    m_iInitHistoryNext = (m_iInitHistoryNext + 1) % kInitHistory;
    return false;
}

bool CHRUdpCommand::AnswerRepeatedInit(const VRUDP_SOCK_ADDR &stAddr, uint16_t wSession, uint32_t dwCode) {
    if (m_iMode != ENUM_VRUDP_MODE_SERVER)
        return false;
    int iHandle = FindHRUdpId(stAddr);
    if (iHandle < 0)
        return false;
    CRWGuard guard(iHandle);
    auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
    if (!pConn || !pConn->CheckSameRemote(dwCode) || pConn->GetRemoteSessionId() != wSession)
        return false;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::ProccessRUDPData, Repeated INIT, iVRUDPHandle[%d], Addr[%s:%d]",
                    m_iHandle, iHandle, stAddr.szAddr, stAddr.wPort);
    pConn->SendInitAckData();
    return true;
}

void CHRUdpCommand::ManageInitPacket(const VRUDP_SOCK_ADDR &stAddr) {
    int iHandle = CreateHRObj(stAddr);
    if (iHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ManageInitPacket, CreateHRObj Failed, Addr[%s:%d]", m_iHandle,
                        stAddr.szAddr, stAddr.wPort);
        return;
    }
    CRWGuard guard(iHandle);
    if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
        pConn->SendInitAckData();
    else
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ManageInitPacket, Invalid iSessionId[%d], Addr[%s:%d]", m_iHandle,
                        iHandle, stAddr.szAddr, stAddr.wPort);
}

void CHRUdpCommand::ProcessForConnection(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom,
                                         const VRUDP_SOCK_ADDR &stAddr) {
    CommonHead h = ParseCommonHead(pData);
    if (h.wSession > kMaxHandle) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::ProccessRUDPData, Invalid iVRUDPHandle[%d], dwDataLen[%d], byPacketType[%d], "
                        "Addr[%s:%d]",
                        m_iHandle, h.wSession, iLen, h.byType, stAddr.szAddr, stAddr.wPort);
        return;
    }
    bool bData = h.byType == PKT_DATA;
    CRWGuard guard(h.wSession);
    auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
    if (!pConn) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::ProccessRUDPData, poHRUdp is NULL, iVRUDPHandle[%d], dwDataLen[%d], "
                        "byPacketType[%d], Addr[%s:%d]",
                        m_iHandle, h.wSession, iLen, h.byType, stAddr.szAddr, stAddr.wPort);
        if (bData && h.byHeadLen > 16)
            SendReset(pData, iLen, stFrom, stAddr);
        return;
    }
    // A handle is small and easy to guess: only the connection's own peer, on this endpoint, may
    // reach it.
    if (pConn->GetFatherLink() != m_iHandle || !pConn->CheckAddr(stAddr.szAddr, stAddr.wPort)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::ProccessRUDPData, Foreign Sender, iVRUDPHandle[%d], byPacketType[%d], "
                        "Addr[%s:%d]",
                        m_iHandle, h.wSession, h.byType, stAddr.szAddr, stAddr.wPort);
        return;
    }
    if (bData && h.byHeadLen > 20) {
        uint32_t dwCode = iLen >= 24 ? GetBE32(pData + 20) : 0;
        if (iLen < 24 || !pConn->CheckSameRemote(dwCode)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdpCommand::ProccessRUDPData, CheckSameRemote Failed, dwRecognizeCode[%u], "
                            "iVRUDPHandle[%d], Addr[%s:%d]",
                            m_iHandle, dwCode, h.wSession, stAddr.szAddr, stAddr.wPort);
            SendReset(pData, iLen, stFrom, stAddr);
            return;
        }
    }
    if (pConn->IsFin()) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdpCommand::ProccessRUDPData, m_bFin is TRUE, dwDataLen[%d], Addr[%s:%d]",
                        m_iHandle, iLen, stAddr.szAddr, stAddr.wPort);
        return;
    }
    int bHasData = 0, iDataNum = 0;
    if (pConn->ManageRecvData(pData, iLen, &bHasData, &iDataNum) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ProccessRUDPData, ManageRecvData Failed, iVRUDPHandle[%d], Addr[%s:%d]",
                        m_iHandle, h.wSession, stAddr.szAddr, stAddr.wPort);
        return;
    }
    if (!bHasData)
        return;
    if (m_fnRecvCB.load())
        StoreRecvData(h.wSession, iDataNum);
    else
        pConn->Signal();
}

void CHRUdpCommand::SendReset(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom, const VRUDP_SOCK_ADDR &stAddr) {
    uint8_t abyReset[kCommonHeadLen];
    if (BuildReset(abyReset, pData, size_t(iLen)) == 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::ProccessRUDPData, Invalid byHeadLength[%d], iVRUDPHandle[%d], dwDataLen[%d], "
                        "byPacketType[%d], Addr[%s:%d]",
                        m_iHandle, pData[4], GetBE16(pData + 6), iLen, pData[5] & 0x3F, stAddr.szAddr, stAddr.wPort);
        return;
    }
    m_oSocket.SendData(abyReset, kCommonHeadLen, stFrom);
}

}  // namespace Vorezi
