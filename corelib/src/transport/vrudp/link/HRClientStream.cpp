#include "transport/vrudp/link/HRClientStream.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPWire.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr uint32_t kWorkerStack = 262144;
constexpr uint32_t kWorkerSleepMs = 5;
constexpr uint32_t kConnectWaitMs = 300;
constexpr uint32_t kFastResendScore = 14;
constexpr uint32_t kScoreStep = 5;
constexpr uint32_t kRateSampleMs = 1000;
constexpr uint32_t kDevFloor = 200;
constexpr uint32_t kProbeExtra = 20480;

HR_STORED_HEAD LoadHead(const uint8_t *p) {
    HR_STORED_HEAD h;
    std::memcpy(&h, p, sizeof h);
    return h;
}
void StoreHead(uint8_t *p, const HR_STORED_HEAD &h) {
    std::memcpy(p, &h, sizeof h);
}

// Rate-limited paths refuse for a moment; the packet goes out on a later pass.
bool IsTransient(int iSysErr) {
    return iSysErr == YAR_SYSERR_WSAEWOULDBLOCK || iSysErr == YAR_SYSERR_WSAENOBUFS ||
           iSysErr == YAR_SYSERR_NETWORK_ACCESS_DENIED;
}

struct Level {
    uint32_t dwRate, dwWnd, dwNear, dwResend, dwBufSize;
};
// Bit-rate levels; a buffer size of 0 leaves the size as it is.
const Level kLevels[] = {
    {300, 25, 5, 3, 0},           {512, 50, 10, 5, 0},          {1024, 100, 20, 10, 0},
    {2048, 200, 40, 12, 0},       {4096, 400, 80, 24, 4194304}, {UINT32_MAX, 800, 160, 48, 6291456},
};

uint32_t BitrateBand(uint32_t dwRate) {
    return dwRate < 250 ? 50 : dwRate < 500 ? 100 : dwRate < 1000 ? 200 : dwRate < 2000 ? 400 : 800;
}
}  // namespace

CHRClientStream::CHRClientStream() = default;

CHRClientStream::~CHRClientStream() {
    Stop();
    if (m_bCreatedSem)
        YAR_SemDestroy(&m_SemSignal);
    if (m_bCreatedACK)
        YAR_MutexDestroy(&m_csACK);
}

int CHRClientStream::Start(bool bRunWorker) {
    if (!m_oSendBuf.CheckInit()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::Start, CheckResouce Failed", MORVA_PTR_ARG(this));
        return -1;
    }
    if (!m_bCreatedACK) {
        if (YAR_MutexCreate(&m_csACK, 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::Start, YAR_MutexCreate m_csACK Failed, syserror[%d]",
                            MORVA_PTR_ARG(this), YAR_GetSystemLastError());
            return -1;
        }
        m_bCreatedACK = 1;
    }
    if (!m_bCreatedSem) {
        if (YAR_SemCreate(&m_SemSignal, 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::Start, YAR_SemCreate m_SemSignal Failed, syserror[%d]",
                            MORVA_PTR_ARG(this), YAR_GetSystemLastError());
            return -1;
        }
        m_bCreatedSem = 1;
    }
    if (m_hWorker)
        return 0;
    m_bStop = 0;
    m_bClosedReported = 0;
    {
        CRWLockGuard lock(&m_oSendBuf, 0);
        if (!m_pRSendBuf) {
            m_dwAllocSize = m_dwRBufSize;
            m_pRSendBuf.reset(new (std::nothrow) uint8_t[m_dwAllocSize]);
            if (!m_pRSendBuf) {
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::Start, New m_pRSendBuf Failed, m_dwRBufSize[%d]",
                                MORVA_PTR_ARG(this), m_dwAllocSize);
                m_dwAllocSize = 0;
                Stop();
                return -1;
            }
            m_dwRBufDataLen = 0;
        }
    }
    if (!bRunWorker)
        return 0;
    m_hWorker = YAR_Thread_Create(WorkerProc, this, kWorkerStack, 0, 0, 0);
    if (!m_hWorker) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::Start, YAR_Thread_Create Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
        Stop();
        return -1;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::Start, SUCC", MORVA_PTR_ARG(this));
    return 0;
}

// The semaphore and the ACK mutex live until destruction: the link's receive thread may still
// hand over a packet while a failed connect stops the stream.
void CHRClientStream::Stop() {
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]CHRClientStream::Stop", MORVA_PTR_ARG(this));
    m_bStop = 1;
    if (m_hWorker) {
        YAR_Thread_Wait(m_hWorker);
        m_hWorker = nullptr;
    }
    CRWLockGuard lock(&m_oSendBuf, 0);
    m_pRSendBuf.reset();
    m_dwAllocSize = 0;
    m_dwRBufDataLen = 0;
}

void CHRClientStream::SetCloseCallback(HR_STREAM_CLOSED_CB fnClosed, void *pUser) {
    m_fnClosed = fnClosed;
    m_pClosedUser = pUser;
}

void CHRClientStream::ReportClosed() {
    m_bStop = 1;
    if (m_bClosedReported.exchange(1) == 0 && m_fnClosed)
        m_fnClosed(m_pClosedUser);
}

uint32_t CHRClientStream::WorkerProc(void *pParam) {
    auto *pThis = static_cast<CHRClientStream *>(pParam);
    while (!pThis->m_bStop) {
        pThis->RemoveAfterRecvSeq();
        if (pThis->CheckAndResendData() < 0)
            break;
        YAR_Sleep(kWorkerSleepMs);
        pThis->m_dwLoopCount++;
    }
    return 0;
}

// ---- sending ----

uint32_t CHRClientStream::SendVideoData(const uint8_t *pbyData, uint32_t dwDataLength) {
    if (dwDataLength > kMaxPayload) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::SendVideoData, dwDataLength[%d] > dwBufLen[%d]",
                        MORVA_PTR_ARG(this), dwDataLength, kMaxPayload);
        return 0;
    }
    if (!pbyData || dwDataLength == 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::SendVideoData, pbyData[0x%X], dwDataLength[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pbyData), dwDataLength);
        return 0;
    }
    return ProductDatatoSendBuf(pbyData, dwDataLength);
}

// The packet is built in place at the end of the buffer: one copy, sent from there.
uint32_t CHRClientStream::ProductDatatoSendBuf(const uint8_t *pbyData, uint32_t dwDataLength) {
    CRWLockGuard lock(&m_oSendBuf, 0);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ProductDatatoSendBuf, Lock m_oSendBuf Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    uint32_t dwPacketLen = kStreamHeadLen + dwDataLength;
    if (!m_pRSendBuf) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::PutDataToRBufEnd, NULL == m_pRSendBuf", MORVA_PTR_ARG(this));
        return 0;
    }
    if (m_dwAllocSize - m_dwRBufDataLen < dwPacketLen + kHeadStoreLen) {
        m_dwDropBytes += dwDataLength;
        return dwDataLength;
    }
    uint8_t *pPacket = m_pRSendBuf.get() + m_dwRBufDataLen + kHeadStoreLen;
    uint32_t dwSeq = m_dwSequence++;
    BuildStreamDataHead(pPacket, uint16_t(m_iRemoteSessionId.load()), uint16_t(dwDataLength), dwSeq);
    std::memcpy(pPacket + kStreamHeadLen, pbyData, dwDataLength);
    PutDataToRBufEnd(dwPacketLen, dwSeq);
    return dwPacketLen;
}

int CHRClientStream::CanSendNew(uint32_t dwSeq, uint32_t dwWndLimit) const {
    int32_t iAhead = SeqDiff(dwSeq, m_dwNeedSeq);
    return m_dwHadReSendNum < m_dwResendCountMax && iAhead < int32_t(dwWndLimit) && m_dwHadSendNum < m_dwSendWndMax;
}

// Called with the write lock and the packet already behind the head's place.
void CHRClientStream::PutDataToRBufEnd(uint32_t dwPacketLen, uint32_t dwSeq) {
    uint32_t dwOffset = m_dwRBufDataLen;
    HR_STORED_HEAD h = {};
    h.wLen = uint16_t(dwPacketLen);
    h.dwSeq = dwSeq;
    h.dwValue3 = 3;
    StoreHead(m_pRSendBuf.get() + dwOffset, h);
    m_dwRBufDataLen += kHeadStoreLen + dwPacketLen;
    if (CanSendNew(dwSeq, m_dwSendWndMax))
        SendStored(dwOffset, "PutDataToRBufEnd");
}

int CHRClientStream::SendRaw(const uint8_t *pData, int iLen, const char *pFunc) {
    if (YAR_SendTo(m_socketUDP, pData, iLen, &m_RemoteAddr) == iLen)
        return 1;
    int iErr = YAR_GetSystemLastError();
    if (IsTransient(iErr))
        return 0;
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::%s, YAR_SendTo Failed, m_socketUDP[%d], syserror[%d], dwDataLen[%d]",
                    MORVA_PTR_ARG(this), pFunc, m_socketUDP.load(), iErr, iLen);
    SetError(MORVA_ERR_SEND);
    ReportClosed();
    return -1;
}

int CHRClientStream::SendStored(uint32_t dwOffset, const char *pFunc) {
    uint8_t *pStored = m_pRSendBuf.get() + dwOffset;
    HR_STORED_HEAD h = LoadHead(pStored);
    uint8_t *pPacket = pStored + kHeadStoreLen;
    if (h.bySendCount >= 1)
        pPacket[3] = 1;
    int iRet = SendRaw(pPacket, h.wLen, pFunc);
    if (iRet <= 0)
        return iRet;
    m_dwSentBytes += h.wLen;
    if (pPacket[8] == 1)
        m_dwFourthBytes += h.wLen;
    UpdateSendStatus(&h);
    StoreHead(pStored, h);
    return 1;
}

void CHRClientStream::UpdateSendStatus(HR_STORED_HEAD *pHead) {
    m_dwHadSendNum++;
    pHead->dwNeedResendTime = 0;
    if (++pHead->bySendCount > 1)
        m_dwHadReSendNum++;
    uint32_t dwNow = VRUDP_GetTickMs();
    pHead->dwLastSend = dwNow;
    if (pHead->byState == 0)
        pHead->dwFirstSend = dwNow;
    pHead->byState = 1;
}

// ---- the worker's steps ----

int CHRClientStream::CopyAckTable(uint32_t *pTable) {
    yar::yar_guard ack(m_bCreatedACK ? &m_csACK : nullptr);
    if (!ack.IsLocked())
        return 0;
    int n = m_wACKNum;
    if (n >= 1 && n <= 10)
        std::memcpy(pTable, m_adwACK, sizeof(uint32_t) * size_t(n));
    return n;
}

void CHRClientStream::RemoveAfterRecvSeq() {
    uint32_t adwACK[10];
    int n = CopyAckTable(adwACK);
    if (n < 1 || n > 10) {
        if (n != 0)
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::RemoveAfterRecvSeq, Invalid m_wACKNum[%d], dwACK[%d]",
                            MORVA_PTR_ARG(this), n, 0);
        return;
    }
    if (n < 2)
        return;
    uint32_t dwNeed = adwACK[1];
    CRWLockGuard lock(&m_oSendBuf, 0);
    if (!lock.IsLocked() || !m_pRSendBuf)
        return;
    m_dwNeedSeq = dwNeed;
    uint32_t dwRemoved = 0;
    while (dwRemoved < m_dwRBufDataLen) {
        HR_STORED_HEAD h = LoadHead(m_pRSendBuf.get() + dwRemoved);
        if (SeqDiff(dwNeed, h.dwSeq) <= 0)
            break;
        dwRemoved += kHeadStoreLen + h.wLen;
        m_dwHadSendNum -= h.bySendCount < m_dwHadSendNum ? h.bySendCount : m_dwHadSendNum;
        uint32_t dwResends = h.bySendCount > 1 ? h.bySendCount - 1u : 0u;
        m_dwHadReSendNum -= dwResends < m_dwHadReSendNum ? dwResends : m_dwHadReSendNum;
    }
    if (dwRemoved == 0)
        return;
    uint32_t dwRest = m_dwRBufDataLen - dwRemoved;
    std::memmove(m_pRSendBuf.get(), m_pRSendBuf.get() + dwRemoved, dwRest);
    std::memset(m_pRSendBuf.get() + dwRest, 0, dwRemoved);
    m_dwRBufDataLen = dwRest;
    m_dwAckedBytes += dwRemoved;
}

int CHRClientStream::CheckAndResendData() {
    if (m_bStopResend)
        return 0;
    CRWLockGuard lock(&m_oSendBuf, 0);
    if (!lock.IsLocked())
        return 0;
    if (!m_pRSendBuf) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::CheckAndResendData, NULL == m_pRSendBuf", MORVA_PTR_ARG(this));
        return -1;
    }
    uint32_t dwNow = VRUDP_GetTickMs();
    for (uint32_t dwOff = 0; dwOff < m_dwRBufDataLen;) {
        HR_STORED_HEAD h = LoadHead(m_pRSendBuf.get() + dwOff);
        uint32_t dwNext = dwOff + kHeadStoreLen + h.wLen;
        bool bTimedOut = h.dwSeq == m_dwNeedSeq && dwNow - h.dwLastSend >= m_dwRTO;
        bool bSend = false;
        if (h.byState == 1 && h.bySendCount == 1) {
            if (h.dwNeedResendTime > kFastResendScore) {
                LogModule_Write(LOG_LEVEL_DBG,
                                "[0x%X]CHRClientStream::CheckAndResendData, First Resend dwSeq[%d], dwNeedResendTime[%d], "
                                "LocalNeedResendTime[%d]",
                                MORVA_PTR_ARG(this), h.dwSeq, h.dwNeedResendTime, kFastResendScore);
                bSend = true;
            } else if (bTimedOut) {
                LogModule_Write(LOG_LEVEL_DBG,
                                "[0x%X]CHRClientStream::CheckAndResendData, First Resend dwSeq[%d], dwRTO[%d], "
                                "LocalNeedResendTime[%d]",
                                MORVA_PTR_ARG(this), h.dwSeq, m_dwRTO, dwNow - h.dwLastSend);
                bSend = true;
            }
        } else if (h.byState == 1) {
            if (bTimedOut) {
                LogModule_Write(LOG_LEVEL_DBG,
                                "[0x%X]CHRClientStream::CheckAndResendData, bySendCount[%d], dwSeq[%d], dwRTO[%d], "
                                "LocalNeedResendTime[%d]",
                                MORVA_PTR_ARG(this), h.bySendCount, h.dwSeq, m_dwRTO, dwNow - h.dwLastSend);
                bSend = true;
            }
        } else if (h.byState == 0) {
            bSend = SeqDiff(h.dwSeq, m_dwNeedSeq) < int32_t(m_dwNearDistance) || CanSendNew(h.dwSeq, m_dwSendWndMax / 2);
        }
        if (bSend) {
            int iRet = SendStored(dwOff, "SendData");
            if (iRet < 0)
                return -1;
            if (iRet == 0)
                break;  // the path refuses for now; the rest waits for the next pass
        }
        dwOff = dwNext;
    }
    return 0;
}

// ---- the receiver's answers ----

int CHRClientStream::ParseSynRet(const uint8_t *pbyData, uint32_t dwDataLength) {
    if (dwDataLength <= 7) {
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::ParseSynRet, Invalid dwDataLength[%d]", MORVA_PTR_ARG(this),
                        dwDataLength);
        return -1;
    }
    if (pbyData[2] != LINK_INIT_ACK) {
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::ParseSynRet, Invalid pbyData[%d]", MORVA_PTR_ARG(this),
                        pbyData[2]);
        return -1;
    }
    m_iRemoteSessionId = GetBE16(pbyData + 4);
    m_bHadSendData = 1;
    if (m_bCreatedSem)
        YAR_SemPost(&m_SemSignal);
    return 0;
}

int CHRClientStream::ParseAck(const uint8_t *pbyData, uint32_t dwDataLength) {
    if (dwDataLength <= 11) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ParseAck, Invalid dwDataLength[%d]", MORVA_PTR_ARG(this),
                        dwDataLength);
        return -1;
    }
    if (pbyData[2] != LINK_ACK) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ParseAck, Invalid pbyData[%d]", MORVA_PTR_ARG(this),
                        pbyData[2]);
        return -1;
    }
    if (!m_bHadSendData) {
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::ParseAck, Invalid m_bHadSendData[%d]", MORVA_PTR_ARG(this),
                        m_bHadSendData.load());
        return -1;
    }
    uint32_t dwCode = GetBE32(pbyData + 6);
    if (dwCode != m_dwRecognizeCode) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ParseAck, dwRecognizeCode[%d] != m_dwRecognizeCode[%d]",
                        MORVA_PTR_ARG(this), dwCode, m_dwRecognizeCode.load());
        return -1;
    }
    int iCount = GetBE16(pbyData + 10);
    yar::yar_guard ack(m_bCreatedACK ? &m_csACK : nullptr);
    if (!ack.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ParseAck, Lock m_csACK Failed", MORVA_PTR_ARG(this));
        return -1;
    }
    // A table that does not fit its packet or the 10 entries is refused whole and leaves the
    // previous one in place.
    if (dwDataLength < uint32_t(kStreamAckHeadLen + 4 * iCount) || iCount < 1 || iCount > kStreamAckMaxEntries) {
        ack.Release();
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ParseAck, Invalid dwDataLength[%d], m_wACKNum[%d]",
                        MORVA_PTR_ARG(this), dwDataLength, iCount);
        return -1;
    }
    m_wACKNum = iCount;
    for (int i = 0; i < iCount; i++)
        m_adwACK[i] = GetBE32(pbyData + kStreamAckHeadLen + 4 * i);
    uint32_t dwMax = m_adwACK[0];
    ack.Release();
    UpdateRTT(dwMax);
    FastResend();
    return 0;
}

void CHRClientStream::FastResend() {
    uint32_t adwACK[10];
    int n = CopyAckTable(adwACK);
    if (n < 1 || n > 10) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::FastResend, Invalid m_wACKNum[%d]", MORVA_PTR_ARG(this), n);
        return;
    }
    if (n < 2)
        return;
    uint32_t dwNeed = adwACK[1];
    bool bLate = SeqDiff(dwNeed, adwACK[0]) < 0;
    CRWLockGuard lock(&m_oSendBuf, 0);
    if (!lock.IsLocked() || !m_pRSendBuf)
        return;
    int iCursor = 1;
    for (uint32_t dwOff = 0; dwOff < m_dwRBufDataLen && iCursor < n;) {
        HR_STORED_HEAD h = LoadHead(m_pRSendBuf.get() + dwOff);
        if (h.byState == 0)
            break;
        if (h.byState == 1 && h.dwSeq == adwACK[iCursor]) {
            h.dwNeedResendTime += kScoreStep;
            if (bLate && h.bySendCount > 1)
                h.byForced = 1;
            StoreHead(m_pRSendBuf.get() + dwOff, h);
            iCursor++;
        }
        dwOff += kHeadStoreLen + h.wLen;
    }
}

int64_t CHRClientStream::FindStored(uint32_t dwSeq) const {
    if (!m_pRSendBuf)
        return -1;
    for (uint32_t dwOff = 0; dwOff < m_dwRBufDataLen;) {
        HR_STORED_HEAD h = LoadHead(m_pRSendBuf.get() + dwOff);
        if (h.dwSeq == dwSeq)
            return dwOff;
        dwOff += kHeadStoreLen + h.wLen;
    }
    return -1;
}

int CHRClientStream::PeekStored(uint32_t dwSeq, HR_STORED_HEAD *pHead) {
    CRWLockGuard lock(&m_oSendBuf, 1);
    int64_t iOff = lock.IsLocked() ? FindStored(dwSeq) : -1;
    if (iOff < 0)
        return 0;
    *pHead = LoadHead(m_pRSendBuf.get() + iOff);
    return 1;
}

void CHRClientStream::UpdateRTT(uint32_t dwSeq) {
    CRWLockGuard lock(&m_oSendBuf, 0);
    int64_t iOff = lock.IsLocked() ? FindStored(dwSeq) : -1;
    if (iOff < 0)
        return;
    HR_STORED_HEAD h = LoadHead(m_pRSendBuf.get() + iOff);
    if (h.bySampled || h.byForced || h.byState != 1)
        return;
    h.bySampled = 1;
    StoreHead(m_pRSendBuf.get() + iOff, h);
    uint32_t dwNow = VRUDP_GetTickMs();
    uint32_t dwSample = dwNow - h.dwFirstSend;
    if (dwSample < 1)
        dwSample = 1;
    m_afRTT[m_dwRTTPos] = float(dwSample);
    m_dwRTTPos = (m_dwRTTPos + 1) % 10;
    if (!m_bRTTSampled) {
        m_bRTTSampled = 1;
        m_dwSmoothRTT8 = dwSample * 8;
        m_dwMeanDev4 = dwSample * 2;
        m_dwDevMax = m_dwMeanDev4 <= kDevFloor ? kDevFloor : m_dwMeanDev4;
        m_dwRTTVar = m_dwDevMax;
        m_dwRTTRoundStamp = dwNow;
    } else {
        int32_t m = int32_t(dwSample) - int32_t(m_dwSmoothRTT8 / 8);
        m_dwSmoothRTT8 += uint32_t(m);
        if (m < 0) {
            m = -m - int32_t(m_dwMeanDev4 / 4);
            if (m > 0)
                m >>= 3;
        } else {
            m -= int32_t(m_dwMeanDev4 / 4);
        }
        m_dwMeanDev4 += uint32_t(m);
        if (m_dwMeanDev4 > m_dwDevMax) {
            m_dwDevMax = m_dwMeanDev4;
            if (m_dwDevMax > m_dwRTTVar)
                m_dwRTTVar = m_dwDevMax;
        }
    }
    if (m_dwSmoothRTT8 / 8 < dwNow - m_dwRTTRoundStamp) {
        if (m_dwDevMax < m_dwRTTVar)
            m_dwRTTVar -= (m_dwRTTVar - m_dwDevMax) >> 2;
        m_dwRTTRoundStamp = dwNow;
        m_dwDevMax = kDevFloor;
    }
    uint32_t dwRTO = m_dwSmoothRTT8 / 8 + m_dwRTTVar;
    m_dwRTO = dwRTO > m_dwMaxRTO ? m_dwMaxRTO : dwRTO;
}

float CHRClientStream::AverageRTT() const {
    float fSum = 0;
    int n = 0;
    for (float f : m_afRTT) {
        if (f != 0) {
            fSum += f;
            n++;
        }
    }
    return n ? fSum / float(n) : 0;
}

// ---- connecting ----

int CHRClientStream::ConnectRemote(int iLocalLink, uint32_t dwRecognizeCode, uint32_t nTimeOut) {
    m_dwRecognizeCode = dwRecognizeCode;
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::ConnectRemote, iLocalLink[%d]", MORVA_PTR_ARG(this), iLocalLink);
    if (nTimeOut == 0 || !m_bCreatedSem)
        return -1;
    uint8_t abyConnect[kStreamConnectLen];
    int iLen = BuildStreamConnect(abyConnect, uint16_t(iLocalLink), dwRecognizeCode, m_dwSendWndMax);
    uint32_t dwBase = VRUDP_GetTickMs();
    for (;;) {
        if (YAR_SendTo(m_socketUDP, abyConnect, iLen, &m_RemoteAddr) != iLen) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CHRClientStream::SendConnect, YAR_SendTo Failed, iLocalLink[%d], dwSendLen[%d], "
                            "syserror[%d], m_socketUDP[%d]",
                            MORVA_PTR_ARG(this), iLocalLink, iLen, YAR_GetSystemLastError(), m_socketUDP.load());
            SetError(MORVA_ERR_SEND);
        }
        uint32_t dwNow = VRUDP_GetTickMs();
        if (dwNow - dwBase >= nTimeOut) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CHRClientStream::ConnectRemote, Invalid iTimeCount[%d], iTimeCountBase[%d], nTimeOut[%d]",
                            MORVA_PTR_ARG(this), dwNow, dwBase, nTimeOut);
            return -1;
        }
        YAR_SemTimedWait(&m_SemSignal, int32_t(kConnectWaitMs));
        if (m_bHadSendData)
            return 0;
    }
}

// ---- settings and rate control ----

void CHRClientStream::SetAjustParam(uint32_t dwSendWndMax, uint32_t dwNearDistance, uint32_t dwResendCountMax,
                                    uint32_t dwMaxRTO) {
    CRWLockGuard lock(&m_oSendBuf, 0);
    m_dwSendWndMax = dwSendWndMax;
    m_dwNearDistance = dwNearDistance;
    m_dwResendCountMax = dwResendCountMax;
    m_dwMaxRTO = dwMaxRTO;
    m_dwRBufSize = dwSendWndMax < 400 ? 2097152u : dwSendWndMax >= 600 ? 6291456u : 4194304u;
}

void CHRClientStream::SetBitrate(uint32_t dwBitrate) {
    if (dwBitrate > kMaxBitrate)
        return;
    CRWLockGuard lock(&m_oSendBuf, 0);
    uint32_t dwOld = m_dwSmoothBitrate;
    bool bFirst = dwOld == 0;
    m_dwSmoothBitrate = bFirst ? dwBitrate : (dwBitrate + 7 * dwOld) >> 3;
    uint32_t dwNew = m_dwSmoothBitrate;
    if (!bFirst) {
        uint32_t dwChange = dwNew > dwOld ? dwNew - dwOld : dwOld - dwNew;
        if (dwChange <= BitrateBand(dwNew))
            return;
    }
    for (const Level &level : kLevels) {
        if (dwNew <= level.dwRate) {
            m_dwSendWndMax = level.dwWnd;
            m_dwNearDistance = level.dwNear;
            m_dwResendCountMax = level.dwResend;
            if (level.dwBufSize)
                m_dwRBufSize = level.dwBufSize;
            break;
        }
    }
}

int CHRClientStream::SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize) {
    if (YAR_SetBuffSize(m_socketUDP, iSndBuffSize, iRcvBuffSize) != 0)
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CHRClientStream::SetSockBuffSize, YAR_SetBuffSize Failed, m_socketUDP[%d], iSndBuffSize[%d], "
                        "iRcvBuffSize[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socketUDP.load(), iSndBuffSize, iRcvBuffSize, YAR_GetSystemLastError());
    return 0;
}

void CHRClientStream::AdjustBlockWnd(uint32_t dwRemoveNum, int bLost, uint32_t dwHadSendWaitRemoveNum) {
    m_dwSendWndBlockCtrl = dwRemoveNum;
    if (bLost) {
        if (dwRemoveNum >= dwHadSendWaitRemoveNum)
            m_dwSendWndBlockCtrl = dwRemoveNum + 1;
        LogModule_Write(LOG_LEVEL_DBG,
                        "[0x%X]CHRClientStream::AdjustBlockWnd, m_dwSendWndBlockCtrl[%d], dwRemoveNum[%d], "
                        "dwHadSendWaitRemoveNum[%d]",
                        MORVA_PTR_ARG(this), m_dwSendWndBlockCtrl, dwRemoveNum, dwHadSendWaitRemoveNum);
    } else {
        uint32_t dwDouble = 2 * dwRemoveNum;
        m_dwSendWndBlockCtrl = dwDouble < m_dwSendWndMax ? dwDouble : m_dwSendWndMax;
    }
}

int CHRClientStream::SampleRate(uint32_t dwNowMs) {
    uint32_t dwElapsed = dwNowMs - m_dwPrevRateTick;
    if (dwElapsed < kRateSampleMs)
        return 0;
    CRWLockGuard lock(&m_oSendBuf, 1);
    m_adwRateRing[m_dwRatePos] = uint32_t(uint64_t(m_dwAckedBytes - m_dwPrevAcked) * 1000 / dwElapsed);
    m_adwBufLenRing[m_dwRatePos] = m_dwRBufDataLen;
    m_dwRatePos = (m_dwRatePos + 1) % 5;
    m_dwPrevAcked = m_dwAckedBytes;
    m_dwPrevRateTick = dwNowMs;
    return 1;
}

uint32_t CHRClientStream::AverageRate() const {
    uint64_t qwSum = 0;
    for (uint32_t r : m_adwRateRing)
        qwSum += r;
    return uint32_t(qwSum / 5);
}

int CHRClientStream::ComputeIncSendRate(int bFirst) {
    uint32_t dwAverage = AverageRate();
    if (bFirst) {
        if (m_dwExpectRate < dwAverage) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRClientStream::ComputeIncSendRate, dwAverageRate[%d] > m_dwExpectRate[%d]",
                            MORVA_PTR_ARG(this), dwAverage, m_dwExpectRate);
            return 0;
        }
        uint32_t dwTarget = dwAverage + dwAverage / 10;
        if (dwTarget > m_dwExpectRate)
            dwTarget = m_dwExpectRate;
        m_dwDetectDataSendRate = dwTarget - dwAverage;
        m_dwBaseRate = dwAverage;
        return 1;
    }
    uint32_t dwInc = m_dwDetectDataSendRate;
    uint32_t dwNewRate = 2 * dwInc + dwAverage;
    if (m_dwExpectRate < dwNewRate) {
        m_dwDetectDataSendRate = 2 * (m_dwExpectRate - dwAverage) + kProbeExtra;
        LogModule_Write(LOG_LEVEL_DBG,
                        "[0x%X]CHRClientStream::ComputeIncSendRate, m_dwDetectDataSendRate[%d], dwAverageRate[%d], "
                        "dwNewRate[%d], m_dwExpectRate[%d]",
                        MORVA_PTR_ARG(this), m_dwDetectDataSendRate, dwAverage, dwNewRate, m_dwExpectRate);
    } else {
        m_dwDetectDataSendRate = 3 * dwInc;
        LogModule_Write(LOG_LEVEL_DBG,
                        "[0x%X]CHRClientStream::ComputeIncSendRate, 2 m_dwDetectDataSendRate[%d], dwAverageRate[%d], "
                        "dwNewRate[%d], m_dwExpectRate[%d]",
                        MORVA_PTR_ARG(this), m_dwDetectDataSendRate, dwAverage, dwNewRate, m_dwExpectRate);
    }
    return 1;
}

void CHRClientStream::AdjustEncodeRate() {
    CRWLockGuard lock(&m_oSendBuf, 1);
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRClientStream::AdjustEncodeRate, m_dwRBufDataLen[%d], m_dwSequence[%d]",
                    MORVA_PTR_ARG(this), m_dwRBufDataLen, m_dwSequence);
}

int CHRClientStream::GetStatistics(HR_CLIENT_STREAM_STAT *pStat) {
    CRWLockGuard lock(&m_oSendBuf, 1);
    pStat->dwRBufDataLen = m_dwRBufDataLen;
    pStat->dwAckedBytes = m_dwAckedBytes;
    pStat->dwSentBytes = m_dwSentBytes;
    pStat->dwFourthBytes = m_dwFourthBytes;
    return 0;
}

}  // namespace Vorezi
