// The server end of one peer's secure link: the suite hello and key exchange, the framed and
// encrypted data both ways, and the device token. Made by a listen session on the peer's first
// packet; InputData runs on the reliable-UDP receive threads, SendData and SetInfo on the
// owner's threads, each under the member's read lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Module/Member/MemberBase.h"
#include "transport/secure/SecureCommandReader.h"
#include "transport/secure/SecureHandshake.h"
#include "transport/secure/SecureLinkRecords.h"

namespace Vorezi {
namespace secure {

class CSecureServerLinkSession : public CMemberBase {
public:
    CSecureServerLinkSession() = default;
    ~CSecureServerLinkSession() override;

    int Start(void *pParam) override;
    int Stop() override;

    // One ENUM_PROCDATA_* result.
    int InputData(const SECURE_RECV_DATA *pRecvData);
    // The bytes sent, or -1.
    int SendData(const SECURE_SEND_DATA *pSecureSendData);
    int SetInfo(uint32_t dwCommand, const void *pBuf, int32_t iBufLen);
    void SetDataCB(SECURE_DATA_CALLBACK fnDataCB, void *pUserData);

    int ListenHandle() const { return m_stParam.iListenHandle; }
    // The peer's reliable-UDP link is already gone: the session must not close that handle,
    // which the endpoint may have handed to a new connection.
    void MarkLinkGone() { m_bLinkGone.store(true); }
    // A close asked for by the owner from inside this session's own callback; carried out when
    // the callback returns.
    void RequestClose() { m_bCloseRequested.store(true); }
    uint32_t TokenMismatches() const { return m_reader.TokenMismatches(); }
    // The session whose data callback runs on the calling thread, or -1.
    static int CallbackHandleOnThisThread();

private:
    int ProcSuiteCommuHello(const SECURE_RECV_DATA &recv);
    int ProcCommandData(const SECURE_RECV_DATA &recv);
    void LogReadFailure(SecureReadResult result, const SECURE_RECV_DATA &recv);
    // The callback's record back: true when it asked for the session to end.
    bool DataCallBack(const uint8_t *pData, uint32_t dwLen, int32_t *piStatus);
    int SendNakeData(const uint8_t *pData, uint32_t dwLen);
    void CleanupResource();
    // No device identifier is carried by this link; log lines keep the field empty.
    static const char *DeviceID() { return ""; }

    SECURE_SERVER_CREATE m_stParam = {};
    int m_iOwnHandle = -1;
    int m_iVRUDPHandle = -1;
    std::atomic<SECURE_DATA_CALLBACK> m_fnDataCB{nullptr};
    std::atomic<void *> m_pUserData{nullptr};
    std::atomic<bool> m_bLinkGone{false};
    std::atomic<bool> m_bCloseRequested{false};
    bool m_bStarted = false;

    // Receive path: one packet at a time.
    std::mutex m_recvMutex;
    CSecureLinkCipher m_cipher;
    CSecureHandshake m_handshake;
    CSecureDeviceToken m_token;
    CSecureCommandReader m_reader;
};

} // namespace secure
} // namespace Vorezi
