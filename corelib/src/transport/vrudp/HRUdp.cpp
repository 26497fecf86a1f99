#include "transport/vrudp/HRUdp.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPWire.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr uint32_t kQueueRetryMs = 100;
constexpr int kClientFinTries = 5;
constexpr uint32_t kFinPauseMs = 16;
}  // namespace

CHRUdp::CHRUdp() = default;

CHRUdp::~CHRUdp() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdp::~CHRUdp, m_iVRUDPHandle[%d]", m_iVRUDPHandle, m_iVRUDPHandle);
    Stop();
}

int CHRUdp::Start(void *) {
    int iHandle = GetMemberIndex();
    if (YAR_MutexCreate(&m_csLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::Start, YAR_MutexCreate Failed, m_iVRUDPHandle[%d], syserror[%d]",
                        iHandle, iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedLock = 1;
    if (YAR_SemCreate(&m_Sem, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::Start, YAR_SemCreate Failed, m_iVRUDPHandle[%d], syserror[%d]",
                        iHandle, iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedSem = 1;
    m_oSndQueue.SetHandle(iHandle);
    if (m_oSndQueue.InitQueue() != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::Start, m_oSndQueue InitQueue Failed, m_iVRUDPHandle[%d]", iHandle,
                        iHandle);
        Stop();
        return 0;
    }
    m_oRecvQueue.SetHandle(iHandle);
    if (m_oRecvQueue.InitQueue() != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::Start, m_oRecvQueue InitQueue Failed, m_iVRUDPHandle[%d]", iHandle,
                        iHandle);
        Stop();
        return 0;
    }
    m_iVRUDPHandle = iHandle;
    return 1;
}

int CHRUdp::Stop() {
    m_bStop = 1;
    m_oHRSocket.SetSocket(-1);
    int bDel = 0;
    if (m_iFatherLink >= 0) {
        // The father may be the thread's own write-locked member (its Stop destroys us): the
        // member lock lets that thread read it too.
        CRWGuard guard(m_iFatherLink);
        if (auto *pFather = dynamic_cast<CHRUdpCommand *>(guard.Member()))
            bDel = pFather->DeleteHandle(m_iVRUDPHandle);
    }
    if (m_iVRUDPHandle >= 0)
        LogModule_Write(LOG_LEVEL_INF,
                        "[%d]CHRUdp::Stop, m_iVRUDPHandle[%d], m_iFatherLink[%d], bDelFromFather[%d], Addr[%s:%d]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_iFatherLink, bDel, m_szRemoteAddr, m_wRemotePort);
    m_oRecvQueue.ReleaseQueue();
    m_oSndQueue.ReleaseQueue();
    if (m_bCreatedSem) {
        YAR_SemDestroy(&m_Sem);
        m_bCreatedSem = 0;
    }
    if (m_bCreatedLock) {
        YAR_MutexDestroy(&m_csLock);
        m_bCreatedLock = 0;
    }
    m_iVRUDPHandle = -1;
    m_iFatherLink = -1;
    m_szRemoteAddr[0] = 0;
    m_wRemotePort = 0;
    return 1;
}

void CHRUdp::SetRemoteAddr(const char *pAddr, uint16_t wPort) {
    YAR_Strncpy(m_szRemoteAddr, pAddr, sizeof m_szRemoteAddr - 1);
    m_wRemotePort = wPort;
    YAR_ADDR_T stAddr;
    int iAf = YAR_Strchr(m_szRemoteAddr, ':') ? YAR_AF_INET6 : YAR_AF_INET;
    if (YAR_MakeAddrByString(iAf, m_szRemoteAddr, wPort, &stAddr) == 0)
        m_oHRSocket.SetRemoteSock(stAddr);
}

bool CHRUdp::CheckAddr(const char *pAddr, uint16_t wPort) const {
    return wPort == m_wRemotePort && YAR_Strncasecmp(pAddr, m_szRemoteAddr, sizeof m_szRemoteAddr) == 0;
}

// ---- receiving ----

int CHRUdp::ManageRecvData(const uint8_t *pData, int iDataLength, int *pbHasData, int *piDataNum) {
    m_dwKeepLiveTick = 0;
    if (!m_bFirstRecvLogged) {
        m_bFirstRecvLogged = 1;
        LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdp::ManageRecvData, First Packet, iDataLength[%d], Addr[%s:%d]",
                        m_iVRUDPHandle, iDataLength, m_szRemoteAddr, m_wRemotePort);
    }
    if (!pData || iDataLength < kCommonHeadLen)
        return -1;
    CommonHead h = ParseCommonHead(pData);
    switch (h.byType) {
    case PKT_DATA:
        return DoData(pData, iDataLength, pbHasData, piDataNum);
    case PKT_INIT_ACK:
        DoInitAck(pData, iDataLength);
        break;
    case PKT_NONE:
        break;
    case PKT_ACK:
        DoAck(pData, iDataLength);
        break;
    case PKT_FIN:
        DoFin(pData, iDataLength);
        break;
    case PKT_FIN_RET:
        if (h.dwWord == m_dwRecognizeCode)
            m_bFinRetRecv = 1;
        else
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdp::DoFinRet, m_iVRUDPHandle[%d], Addr[%s:%d], iRecognizeCode[%u] != "
                            "m_dwRecognizeCode[%u]",
                            m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, h.dwWord,
                            m_dwRecognizeCode.load());
        break;
    case PKT_HEART:
        SendControl(PKT_HEART_RET, m_wRemoteSessionId);
        break;
    case PKT_HEART_RET:
        m_dwKeepLiveTick = 0;
        break;
    case PKT_RESET:
        DoReset();
        break;
    default:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::ProcessData, Invalid byPacketType[%d], m_iVRUDPHandle[%d], Addr[%s:%d], "
                        "m_dwRecognizeCode[%u]",
                        m_iVRUDPHandle, h.byType, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, m_dwRecognizeCode.load());
        break;
    }
    return 0;
}

int CHRUdp::DoData(const uint8_t *pData, int iLen, int *pbHasData, int *piDataNum) {
    int iHeadLen = pData[4];
    // The head length comes from the network: only the negotiated one, inside the packet, counts.
    if (iHeadLen != DataHeadLen(m_byVersion) || iHeadLen > iLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::DoData, Invalid byHeadLength[%d], iDataLen[%d], byVersion[%d], Addr[%s:%d]",
                        m_iVRUDPHandle, iHeadLen, iLen, m_byVersion.load(), m_szRemoteAddr, m_wRemotePort);
        return 0;
    }
    uint32_t dwSeq = GetBE32(pData + 8);
    ApplyAck(GetBE32(pData + 12), GetBE32(pData + 12));
    int32_t iAhead = SeqDiff(dwSeq, m_dwNeedSeq);
    if (iAhead >= kRingSlots) {
        // It would alias the slot of a block still missing.
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::DoData, Too Far Ahead, dwSequence[%u], m_dwNeedSeq[%u], Addr[%s:%d]",
                        m_iVRUDPHandle, dwSeq, m_dwNeedSeq, m_szRemoteAddr, m_wRemotePort);
        return 0;
    }
    if (SeqDiff(dwSeq, m_dwHighestRecv) > 0)
        m_dwHighestRecv = dwSeq;
    if (iAhead >= 0) {
        VRUDP_RECV_NODE *pNode = m_oRecvQueue.GetEmptyBuffer();
        if (!pNode || !pNode->pBuf)
            return -1;
        if (uint32_t(iLen) > pNode->dwLen) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdp::ManageRecvData, iDataLen[%d] < iDataLength[%d], m_iVRUDPHandle[%d], "
                            "Addr[%s:%d]",
                            m_iVRUDPHandle, (int)pNode->dwLen, iLen, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort);
            return -1;
        }
        std::memcpy(pNode->pBuf, pData, size_t(iLen));
        pNode->dwLen = uint32_t(iLen);
        pNode->byType = PKT_DATA;
        pNode->byUnitPos = uint8_t(pData[5] >> 6);
        pNode->dwSeq = dwSeq;
        uint32_t dwOldNeed = m_dwNeedSeq;
        if (m_oRecvQueue.InsertArray(pNode, &m_dwNeedSeq, iAhead == 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdp::DoData, InsertArray Failed, m_iVRUDPHandle[%d], Addr[%s:%d], m_dwNeedSeq[%d]",
                            m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, (int)m_dwNeedSeq);
            return -1;
        }
        if (m_dwNeedSeq != dwOldNeed) {
            m_oSndQueue.UpdateNeedSeq(m_dwNeedSeq);
            if (pbHasData)
                *pbHasData = 1;
            if (piDataNum)
                *piDataNum = int(m_dwNeedSeq - dwOldNeed);
        }
        if (m_oRecvQueue.IsStalled())
            Expire("128 Units Without End");
    }
    SendAck();
    return 0;
}

void CHRUdp::ApplyAck(uint32_t dwAck, uint32_t dwRttSeq) {
    {
        CGuard guard(&m_csLock);
        if (!guard.IsLocked())
            return;
        // Only what was really sent can be acknowledged; anything else would skip real blocks.
        if (SeqDiff(dwAck, m_dwSendBase - 1) < 0 || SeqDiff(dwAck, m_dwSentEnd - 1) > 0) {
            LogModule_Write(LOG_LEVEL_DBG,
                            "[%d]CHRUdp::ApplyAck, Ignored, dwAck[%u], m_dwSendBase[%u], m_dwSentEnd[%u], Addr[%s:%d]",
                            m_iVRUDPHandle, dwAck, m_dwSendBase, m_dwSentEnd, m_szRemoteAddr, m_wRemotePort);
            return;
        }
        UpdateRTT(dwRttSeq);
        if (SeqDiff(dwAck, m_dwSendBase) >= 0)
            m_dwSendBase = dwAck + 1;
        m_oSndQueue.UpdateWindow(dwAck);
    }
    // The window opened: new blocks need not wait for the next 80-ms pass.
    SendDataToSocket();
}

void CHRUdp::DoAck(const uint8_t *pData, int iLen) {
    if (iLen < kAckLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::DoAck, iDataLen[%d] < 20, Addr[%s:%d]", m_iVRUDPHandle, iLen,
                        m_szRemoteAddr, m_wRemotePort);
        return;
    }
    uint32_t dwCode = GetBE32(pData + 8);
    if (dwCode != m_dwRecognizeCode) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::DoAck, m_iVRUDPHandle[%d], Addr[%s:%d], iRecognizeCode[%u] != "
                        "m_dwRecognizeCode[%u], dwSequence[0x%X]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, dwCode, m_dwRecognizeCode.load(),
                        GetBE32(pData + 16));
        return;
    }
    ApplyAck(GetBE32(pData + 16), GetBE32(pData + 12));
}

void CHRUdp::DoInitAck(const uint8_t *pData, int iLen) {
    if (iLen < kInitAckLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::DoInitAck, iDataLen[%d] < 14, Addr[%s:%d]", m_iVRUDPHandle, iLen,
                        m_szRemoteAddr, m_wRemotePort);
        return;
    }
    CommonHead h = ParseCommonHead(pData);
    if (h.dwWord != m_dwRecognizeCode) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::DoInitAck, m_iVRUDPHandle[%d], Addr[%s:%d], iRecognizeCode[%u] != "
                        "m_dwRecognizeCode[%u]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, h.dwWord, m_dwRecognizeCode.load());
        return;
    }
    m_wRemoteSessionId = GetBE16(pData + 12);
    m_byVersion = h.byTopBits < m_byLocalVersion ? h.byTopBits : m_byLocalVersion;
    m_bConnected = 1;
    Signal();
}

void CHRUdp::DoFin(const uint8_t *pData, int iLen) {
    uint32_t dwCode = GetBE32(pData + 8);
    if (iLen < kCommonHeadLen || dwCode != m_dwRecognizeCode) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::DoFin, m_iVRUDPHandle[%d], Addr[%s:%d], iRecognizeCode[%u] != "
                        "m_dwRecognizeCode[%u]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, dwCode, m_dwRecognizeCode.load());
        return;
    }
    // The answer still names the peer's session, which is closed from here on.
    uint16_t wOld = m_wRemoteSessionId.exchange(kNoSession);
    m_bClosedByPeer = 1;
    SendControl(PKT_FIN_RET, wOld);
}

void CHRUdp::DoReset() {
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::DoReset, m_iVRUDPHandle[%d], Addr[%s:%d]", m_iVRUDPHandle,
                    m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort);
    m_wRemoteSessionId = kNoSession;
    m_bClosedByPeer = 1;
    m_bFinRetRecv = 1;
}

int CHRUdp::UpdateRTT(uint32_t dwSequence) {
    VRUDP_SEND_BLOCK *pBlock = m_oSndQueue.getBlockBySeq(dwSequence);
    if (!pBlock || pBlock->bySampled || pBlock->bySendCount == 0)
        return 0;
    pBlock->bySampled = 1;
    uint32_t dwNow = VRUDP_GetTickMs();
    m_Rtt.Sample(int32_t(dwNow - pBlock->dwFirstSend), dwNow);
    return 1;
}

// ---- sending ----

int CHRUdp::SendControl(uint8_t byType, uint16_t wSession) {
    uint8_t abyPkt[kCommonHeadLen];
    int iLen = BuildPlain(abyPkt, byType, m_byVersion, wSession, m_dwRecognizeCode.load());
    return m_oHRSocket.SendToRemote(abyPkt, iLen) == iLen ? 0 : -1;
}

int CHRUdp::SendAck() {
    uint8_t abyPkt[kAckLen];
    int iLen = BuildAck(abyPkt, m_byVersion, m_wRemoteSessionId, m_dwRecognizeCode, m_dwHighestRecv, m_dwNeedSeq - 1);
    return m_oHRSocket.SendToRemote(abyPkt, iLen) == iLen ? 0 : -1;
}

int CHRUdp::SendInitData() {
    uint8_t abyPkt[kCommonHeadLen];
    int iLen = BuildInit(abyPkt, m_byLocalVersion, uint16_t(m_iVRUDPHandle), m_dwRecognizeCode.load());
    return m_oHRSocket.SendToRemote(abyPkt, iLen) == iLen ? 0 : -1;
}

int CHRUdp::SendInitAckData() {
    if (m_byVersion > m_byLocalVersion)
        m_byVersion = m_byLocalVersion;
    uint8_t abyPkt[kInitAckLen];
    int iLen = BuildInitAck(abyPkt, m_byVersion, m_wRemoteSessionId, m_dwRecognizeCode, uint16_t(m_iVRUDPHandle));
    return m_oHRSocket.SendToRemote(abyPkt, iLen) == iLen ? 0 : -1;
}

int CHRUdp::QueueMessage(const uint8_t *pData, int iLen) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 0;
    uint16_t wRemote = m_wRemoteSessionId;
    if (wRemote == kNoSession) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::SendData, Remote Link Closed, m_wRemoteSessionId[%d], m_iVRUDPHandle[%d], "
                        "Addr[%s:%d]",
                        m_iVRUDPHandle, wRemote, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort);
        return -1;
    }
    return m_oSndQueue.InsertDataToSendList(pData, iLen, wRemote, uint16_t(m_iVRUDPHandle), m_byVersion,
                                            m_dwRecognizeCode.load());
}

int CHRUdp::SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *, uint32_t nTimeOut) {
    if (m_bStop) {
        SetError(MORVA_ERR_NOT_READY);
        return -1;
    }
    // A longer message could never be reassembled in the 128-slot receive ring.
    if (iBufLen > kMaxMsgBlocks * m_oSndQueue.GetOneDataSize()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::SendTo, iBufLen[%d] > Max[%d], Addr[%s:%d]", m_iVRUDPHandle,
                        iBufLen, kMaxMsgBlocks * m_oSndQueue.GetOneDataSize(), m_szRemoteAddr, m_wRemotePort);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    if (m_bKeepLiveExpired) {
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    if (!m_bFirstSend.exchange(1)) {
        LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdp::SendTo, First Send, iBufLen[%d], Addr[%s:%d]", m_iVRUDPHandle,
                        iBufLen, m_szRemoteAddr, m_wRemotePort);
    }
    int iResult = -1;
    uint32_t dwWaited = 0;
    bool bLogged = false;
    while (!m_bStop) {
        int iRet = QueueMessage(static_cast<const uint8_t *>(pData), iBufLen);
        if (iRet == 0) {
            iResult = iBufLen;
            break;
        }
        if (iRet != kNoEnoughBuf) {
            if (iRet != -1)
                LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::SendTo, InsertDataToSendList Failed, iRet[%d], Addr[%s:%d]",
                                m_iVRUDPHandle, iRet, m_szRemoteAddr, m_wRemotePort);
            break;
        }
        if (!bLogged) {
            bLogged = true;
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::SendTo, VRUDP_NOENOUGH_BUF, iBufLen[%d], Addr[%s:%d]",
                            m_iVRUDPHandle, iBufLen, m_szRemoteAddr, m_wRemotePort);
        }
        if (dwWaited >= nTimeOut)
            break;
        YAR_Sleep(kQueueRetryMs);
        dwWaited += kQueueRetryMs;
    }
    SendDataToSocket();
    return iResult;
}

int CHRUdp::SendDataToSocket() {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 0;
    while (!m_bStop) {
        VRUDP_SEND_BLOCK *pBlock = m_oSndQueue.getSendBlock();
        if (!pBlock || SeqDiff(pBlock->dwSeq, m_dwSendBase) > kSendWindow)
            break;
        uint32_t dwNow = VRUDP_GetTickMs();
        pBlock->dwLastSend = dwNow;
        if (pBlock->bySendCount == 0)
            pBlock->dwFirstSend = dwNow;
        pBlock->bySendCount++;
        // A failed send (full buffer, a netfilter drop) leaves the block for the next pass.
        if (m_oHRSocket.SendToRemote(pBlock->pBuf, int(pBlock->dwLen)) != int(pBlock->dwLen))
            break;
        if (SeqDiff(pBlock->dwSeq + 1, m_dwSentEnd) > 0)
            m_dwSentEnd = pBlock->dwSeq + 1;
        m_oSndQueue.NextCur();
    }
    return 0;
}

int CHRUdp::ResendData() {
    if (m_bClosedByPeer || m_bFin)
        return 0;
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 0;
    m_oSndQueue.ResetResendCursor();
    VRUDP_SEND_BLOCK *pBlock = m_oSndQueue.getResendBlock();
    if (!pBlock)
        return 0;
    uint32_t dwNow = VRUDP_GetTickMs();
    if (dwNow - pBlock->dwLastSend < m_Rtt.GetRTO())
        return 0;
    if (++pBlock->bySendCount >= kMaxSendCount) {
        // Releasing it as acknowledged would lose it silently; the connection ends instead.
        Expire("Resend Limit");
        return -1;
    }
    pBlock->dwLastSend = dwNow;
    int iRet = m_oHRSocket.SendToRemote(pBlock->pBuf, int(pBlock->dwLen));
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdp::ResendData, dwSequence[%u], bySendCount[%d], iRet[%d], Addr[%s:%d]",
                    m_iVRUDPHandle, pBlock->dwSeq, pBlock->bySendCount, iRet, m_szRemoteAddr, m_wRemotePort);
    return 0;
}

void CHRUdp::TransferStep() {
    ResendData();
    SendDataToSocket();
}

void CHRUdp::Expire(const char *pWhy) {
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdp::Expire, %s, m_iVRUDPHandle[%d], m_wRemoteSessionId[%d], Addr[%s:%d]",
                    m_iVRUDPHandle, pWhy, m_iVRUDPHandle, (int)m_wRemoteSessionId.load(), m_szRemoteAddr,
                    m_wRemotePort);
    m_bKeepLiveExpired = 1;
    m_bFin = 1;
}

// ---- keep-alive and close ----

void CHRUdp::CheckDoKeepLive(uint32_t dwNow) {
    if (m_bKeepLiveExpired)
        return;
    uint32_t dwTick = m_dwKeepLiveTick;
    if (dwTick == 0) {
        m_dwKeepLiveTick = dwNow;
        dwTick = dwNow;
    }
    int32_t iSilence = int32_t(dwNow - dwTick);
    if (m_iMode == ENUM_VRUDP_MODE_CLIENT) {
        if (iSilence <= int32_t(kClientHeartMs))
            return;
        if (iSilence <= int32_t(kClientExpireMs)) {
            SendControl(PKT_HEART, m_wRemoteSessionId);
            return;
        }
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::CheckDoKeepLive, Timeout, m_iVRUDPHandle[%d], Addr[%s:%d], dwNewTimeTick[%d], "
                        "m_dwKeepLiveTick[%d]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, (int)dwNow, (int)dwTick);
    } else {
        if (iSilence <= int32_t(kServerExpireMs))
            return;
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdp::ServerDoKeepAlive, Timeout, m_iVRUDPHandle[%d], Addr[%s:%d], dwNewTimeTick[%d], "
                        "m_dwKeepLiveTick[%d]",
                        m_iVRUDPHandle, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, (int)dwNow, (int)dwTick);
    }
    m_bKeepLiveExpired = 1;
    m_bFin = 1;
}

void CHRUdp::CallBackLinkClose(VRUDP_RECV_CALLBACK fnCB, void *pUser) {
    if (!fnCB)
        return;
    VRUDP_RECV_DATA stData = {};
    stData.dwMsgType = VRUDP_MSG_CLOSE;
    stData.enumDataType = 1;
    stData.iVRUDPHandle = m_iVRUDPHandle;
    YAR_Strncpy(stData.szRemoteAddr, m_szRemoteAddr, sizeof stData.szRemoteAddr - 1);
    stData.wRemotePort = m_wRemotePort;
    fnCB(pUser, &stData);
}

int CHRUdp::SendFin() {
    if (m_bFin.exchange(1))
        return 0;
    int iTries = m_iMode == ENUM_VRUDP_MODE_CLIENT ? kClientFinTries : 1;
    for (int i = 0; i < iTries && !m_bFinRetRecv; i++) {
        if (SendControl(PKT_FIN, m_wRemoteSessionId) != 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdp::SendFin, SendData Failed, iIndex[%d], m_iVRUDPHandle[%d], Addr[%s:%d], "
                            "m_dwRecognizeCode[%u]",
                            m_iVRUDPHandle, i, m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort, m_dwRecognizeCode.load());
            return 0;
        }
        if (iTries > 1)
            YAR_Sleep(kFinPauseMs);
    }
    return 1;
}

int CHRUdp::ShutDown(int iHow) {
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdp::ShutDown, iHow[%d], Addr[%s:%d]", m_iVRUDPHandle, iHow,
                    m_szRemoteAddr, m_wRemotePort);
    return m_oHRSocket.ShutDown(iHow);
}

// ---- reading ----

int CHRUdp::RecvOnePacket(uint8_t *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr) {
    if (pAddr) {
        YAR_Strncpy(pAddr->szAddr, m_szRemoteAddr, sizeof pAddr->szAddr - 1);
        pAddr->wPort = m_wRemotePort;
    }
    return m_oRecvQueue.ReadPacket(pBuf, iBufCount);
}

int CHRUdp::RecvFromWithTimeOut(uint8_t *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t dwTimeOut) {
    int iRet = RecvOnePacket(pBuf, iBufCount, pAddr);
    if (iRet != 0)
        return iRet;
    if (CondTimeWait(dwTimeOut) != 0) {
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CHRUdp::RecvFromWithTimeOut, CondTimeWait Failed, m_iVRUDPHandle[%d], dwTimeOut[%d], "
                        "Addr[%s:%d]",
                        m_iVRUDPHandle, m_iVRUDPHandle, (int)dwTimeOut, m_szRemoteAddr, m_wRemotePort);
        return 0;
    }
    return RecvOnePacket(pBuf, iBufCount, pAddr);
}

void CHRUdp::DeliverData(VRUDP_RECV_CALLBACK fnCB, void *pUser, uint8_t *pBuf, int iBufCount) {
    while (!m_bStop) {
        int iLen = m_oRecvQueue.ReadPacket(pBuf, iBufCount);
        if (iLen <= 0 || m_bFin || !fnCB)
            return;
        VRUDP_RECV_DATA stData = {};
        stData.dwMsgType = m_bFirstDelivery ? VRUDP_MSG_DATA : VRUDP_MSG_FIRST;
        m_bFirstDelivery = 1;
        stData.enumDataType = 1;
        stData.iVRUDPHandle = m_iVRUDPHandle;
        YAR_Strncpy(stData.szRemoteAddr, m_szRemoteAddr, sizeof stData.szRemoteAddr - 1);
        stData.wRemotePort = m_wRemotePort;
        stData.pData = pBuf;
        stData.iDataLen = iLen;
        fnCB(pUser, &stData);
    }
}

void CHRUdp::RequestStop() {
    m_bStop = 1;
    Signal();
}

int CHRUdp::CondTimeWait(uint32_t dwMs) {
    return m_bCreatedSem ? YAR_SemTimedWait(&m_Sem, int32_t(dwMs)) : -1;
}

void CHRUdp::Signal() {
    if (m_bCreatedSem)
        YAR_SemPost(&m_Sem);
}

}  // namespace Vorezi
