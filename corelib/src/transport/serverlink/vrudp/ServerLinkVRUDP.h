// The secure reliable-UDP server link: a listen session of the secure link bound to the link's
// address. Every peer's data, decrypted, reach the owner's callback as kind 1 with the peer's
// 256-byte information block in area B; the callback's answer comes back through bytes 8 to 15
// of the MQTT block (the status, then the destroy flag).
#pragma once

#include <atomic>

#include "morva/MorvaSecureLink.h"
#include "transport/serverlink/ServerLinkBase.h"

namespace Vorezi {

class CServerLinkVRUDP : public CServerLinkBase {
public:
    CServerLinkVRUDP() = default;
    ~CServerLinkVRUDP() override;

    int Stop() override;
    int CloseAcceptHandle(int iAcceptHandle) override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override { return 1; }
    int SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) override;
    int OpenLink() override;
    int CloseLink() override;
    int CreateSocket() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;
    // The secure link's listen handle, -1 when closed.
    int SecureHandle() const { return m_lHandle.load(); }

private:
    static void RecvDataCallback(int32_t iSecureHandle, SECURE_CALLBACK_DATA *pSecureData, void *pUserData);

    std::atomic<int> m_lHandle{-1};
    SECURE_CREATE_FUNS m_stFuns = {};
};

}  // namespace Vorezi
