// The sending side of a reliable-UDP media stream. Every packet stays in one linear send buffer
// until the receiver acknowledges it; a 5-ms worker removes what was acknowledged, sends within
// the window and resends on time-out (RTO from an RTT estimator) and on repeated gap reports.
// Window, resend limit and buffer size follow the configured bit rate.
//
// Locking: m_csACK (the acknowledgement table) is always taken before m_oSendBuf. Every walk that
// changes a stored packet's head or the counters holds m_oSendBuf for writing; only the
// statistics read under the read lock.
//
// The socket is the owning link's: the stream never closes it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Module/Member/RWLock.h"
#include "transport/vrudp/ComVRUDP.h"
#include "yar/yar_addr.h"
#include "yar/yar_thread.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// Statistics slot: buffered bytes, bytes acknowledged, bytes sent, bytes of packets whose
// sequence's top byte is 1.
struct HR_CLIENT_STREAM_STAT {
    uint32_t dwRBufDataLen;
    uint32_t dwAckedBytes;
    uint32_t dwSentBytes;
    uint32_t dwFourthBytes;
};

// Called once when the stream stopped on a send error it cannot recover from.
typedef void (*HR_STREAM_CLOSED_CB)(void *pUser);

// The head in front of each stored packet. Packed after packets of any length, so it is read and
// written by copy, never through a cast.
struct HR_STORED_HEAD {
    uint16_t wLen;
    uint8_t byState;      // 0 never sent, 1 sent and waiting, 2 skipped by every walk
    uint8_t bySendCount;
    uint32_t dwSeq;
    uint32_t dwNeedResendTime;
    uint32_t dwLastSend;
    uint8_t byForced;
    uint8_t bySampled;
    uint8_t byRes[2];
    uint32_t dwValue3;
    uint32_t dwFirstSend;
};
static_assert(sizeof(HR_STORED_HEAD) == 28, "stored head is 28 bytes");
static_assert(offsetof(HR_STORED_HEAD, bySendCount) == 3 && offsetof(HR_STORED_HEAD, dwSeq) == 4 &&
                  offsetof(HR_STORED_HEAD, dwNeedResendTime) == 8 && offsetof(HR_STORED_HEAD, dwLastSend) == 12 &&
                  offsetof(HR_STORED_HEAD, byForced) == 16 && offsetof(HR_STORED_HEAD, bySampled) == 17 &&
                  offsetof(HR_STORED_HEAD, dwValue3) == 20 && offsetof(HR_STORED_HEAD, dwFirstSend) == 24,
              "stored head offsets");

class CHRClientStream {
public:
    static constexpr uint32_t kHeadStoreLen = sizeof(HR_STORED_HEAD);
    // 16-byte head plus this payload is a 1500-byte datagram, which the receiver can still hold
    // out of order. Callers that must avoid IP fragments keep to 1456 bytes.
    static constexpr uint32_t kMaxPayload = 1484;
    static constexpr uint32_t kDefaultRBufSize = 2097152;
    static constexpr uint32_t kMaxBitrate = 20000;

    CHRClientStream();
    virtual ~CHRClientStream();
    CHRClientStream(const CHRClientStream &) = delete;
    CHRClientStream &operator=(const CHRClientStream &) = delete;

    virtual int GetStatistics(HR_CLIENT_STREAM_STAT *pStat);

    // Tests drive the worker's two steps themselves with bRunWorker false.
    int Start(bool bRunWorker = true);
    void Stop();
    int ConnectRemote(int iLocalLink, uint32_t dwRecognizeCode, uint32_t nTimeOut);
    // 16 + dwLength when taken; dwLength when the buffer was full and the data dropped; 0 on error.
    uint32_t SendVideoData(const uint8_t *pbyData, uint32_t dwDataLength);
    int ParseSynRet(const uint8_t *pbyData, uint32_t dwDataLength);
    int ParseAck(const uint8_t *pbyData, uint32_t dwDataLength);

    void SetSocket(int iSocket) { m_socketUDP = iSocket; }
    void SetRemoteAddr(const YAR_ADDR_T &stAddr) { m_RemoteAddr = stAddr; }
    void SetCloseCallback(HR_STREAM_CLOSED_CB fnClosed, void *pUser);
    void SetAjustParam(uint32_t dwSendWndMax, uint32_t dwNearDistance, uint32_t dwResendCountMax, uint32_t dwMaxRTO);
    void SetBitrate(uint32_t dwBitrate);
    void StopResend() { m_bStopResend = 1; }
    int SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize);
    int GetRemoteSessionId() const { return m_iRemoteSessionId; }
    int IsConnected() const { return m_bHadSendData; }

    // Rate control.
    void AdjustBlockWnd(uint32_t dwRemoveNum, int bLost, uint32_t dwHadSendWaitRemoveNum);
    // One sample per second at most: 1 when one was taken.
    int SampleRate(uint32_t dwNowMs);
    uint32_t AverageRate() const;
    int ComputeIncSendRate(int bFirst);
    void AdjustEncodeRate();
    void SetExpectRate(uint32_t dwRate) { m_dwExpectRate = dwRate; }
    float AverageRTT() const;

    // The worker's two steps, also driven directly by tests.
    void RemoveAfterRecvSeq();
    int CheckAndResendData();

    // Read-outs for tests and statistics.
    uint32_t GetSendWndMax() const { return m_dwSendWndMax; }
    uint32_t GetNearDistance() const { return m_dwNearDistance; }
    uint32_t GetResendCountMax() const { return m_dwResendCountMax; }
    uint32_t GetRBufSize() const { return m_dwRBufSize; }
    uint32_t GetSendWndBlockCtrl() const { return m_dwSendWndBlockCtrl; }
    uint32_t GetDetectDataSendRate() const { return m_dwDetectDataSendRate; }
    uint32_t GetRTO() const { return m_dwRTO; }
    uint32_t GetDropBytes() const { return m_dwDropBytes; }
    uint32_t GetSmoothedBitrate() const { return m_dwSmoothBitrate; }
    // The stored head of a sequence; 0 when none is stored.
    int PeekStored(uint32_t dwSeq, HR_STORED_HEAD *pHead);

private:
    static uint32_t WorkerProc(void *pParam);
    uint32_t ProductDatatoSendBuf(const uint8_t *pbyData, uint32_t dwDataLength);
    void PutDataToRBufEnd(uint32_t dwPacketLen, uint32_t dwSeq);
    int CanSendNew(uint32_t dwSeq, uint32_t dwWndLimit) const;
    // 1 sent, 0 a transient refusal (the packet keeps its state), -1 fatal (the stream stops).
    int SendStored(uint32_t dwOffset, const char *pFunc);
    int SendRaw(const uint8_t *pData, int iLen, const char *pFunc);
    void UpdateSendStatus(HR_STORED_HEAD *pHead);
    void UpdateRTT(uint32_t dwSeq);
    void FastResend();
    int CopyAckTable(uint32_t *pTable);
    // Offset of the stored packet of a sequence, or -1.
    int64_t FindStored(uint32_t dwSeq) const;
    void ReportClosed();

    std::atomic<int> m_socketUDP{-1};
    YAR_HANDLE m_hWorker = nullptr;
    std::atomic<int> m_bStop{1};
    std::unique_ptr<uint8_t[]> m_pRSendBuf;
    uint32_t m_dwAllocSize = 0;
    std::atomic<uint32_t> m_dwRBufSize{kDefaultRBufSize};
    uint32_t m_dwRBufDataLen = 0;
    uint32_t m_adwBufLenRing[5] = {};
    uint32_t m_dwSequence = 0;
    uint32_t m_dwSendWndMax = 25;
    uint32_t m_dwSendWndBlockCtrl = 25;
    uint32_t m_dwResendCountMax = 3;
    uint32_t m_dwNearDistance = 5;
    uint32_t m_dwMaxRTO = 500;
    uint32_t m_dwHadSendNum = 0;
    uint32_t m_dwHadReSendNum = 0;
    CRWLock m_oSendBuf;
    uint32_t m_dwSentBytes = 0;
    uint32_t m_dwFourthBytes = 0;
    uint32_t m_dwAckedBytes = 0;
    uint32_t m_dwDropBytes = 0;
    uint32_t m_dwPrevAcked = 0;
    uint32_t m_dwPrevRateTick = 0;
    uint32_t m_dwExpectRate = 0;
    uint32_t m_adwRateRing[5] = {};
    uint32_t m_dwRatePos = 0;
    uint32_t m_dwBaseRate = 0;
    uint32_t m_dwDetectDataSendRate = 0;
    YAR_MUTEX_T m_csACK;
    int m_bCreatedACK = 0;
    int m_wACKNum = 0;
    uint32_t m_adwACK[10] = {};
    std::atomic<int> m_bHadSendData{0};
    std::atomic<int> m_iRemoteSessionId{-1};
    uint32_t m_dwLoopCount = 0;
    float m_afRTT[10] = {};
    uint32_t m_dwRTTPos = 0;
    YAR_ADDR_T m_RemoteAddr = {};
    std::atomic<uint32_t> m_dwRecognizeCode{0};
    std::atomic<int> m_bStopResend{0};
    uint32_t m_dwNeedSeq = 0;
    uint32_t m_dwSmoothRTT8 = 0;
    uint32_t m_dwMeanDev4 = 0;
    uint32_t m_dwDevMax = 0;
    uint32_t m_dwRTTVar = 0;
    uint32_t m_dwRTTRoundStamp = 0;
    uint32_t m_dwRTO = 300;
    int m_bRTTSampled = 0;
    uint32_t m_dwSmoothBitrate = 0;
    YAR_SEM_T m_SemSignal = nullptr;
    int m_bCreatedSem = 0;
    HR_STREAM_CLOSED_CB m_fnClosed = nullptr;
    void *m_pClosedUser = nullptr;
    std::atomic<int> m_bClosedReported{0};
};

}  // namespace Vorezi
