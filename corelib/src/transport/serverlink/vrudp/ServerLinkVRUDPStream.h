// The reliable-UDP stream server link: a listening control link (a father) of the reliable-UDP
// handle interface. Each remote client becomes a child with its own accept handle; the owner's
// callback names a stream handle for it on the first data, and the later data and the stop
// records of that child carry the same stream handle.
#pragma once

#include <atomic>

#include "transport/serverlink/ServerLinkBase.h"
#include "transport/vrudp/ComVRUDP.h"

namespace Vorezi {

// One stream handle per reliable-UDP accept handle (0 to 0x4fff).
constexpr int SERVER_LINK_VRUDP_STREAMS = 0x5000;

class CServerLinkVRUDPStream : public CServerLinkBase {
public:
    CServerLinkVRUDPStream();
    ~CServerLinkVRUDPStream() override;

    int CloseAcceptHandle(int iAcceptHandle) override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override;
    int OpenLink() override;
    int CloseLink() override;
    int CreateSocket() override { return 1; }
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

    // The listen callback of the reliable-UDP father; pUser is the server link.
    static void RecvVRUDPDataCB(void *pUser, VRUDP_RECV_DATA *pData);
    int ProcessRecvedData(const VRUDP_RECV_DATA *pStruData);
    int GetVRUDPHandle() const { return m_iHandle.load(); }

private:
    int CreateVRUDPLink();
    bool IsOwnChild(int iAcceptHandle) const;
    void FillRecord(SERVER_LINK_DATA *pData, const VRUDP_RECV_DATA &src, DWORD dwMsgType, DWORD dwKind,
                    int iStreamHandle, int iAcceptHandle);
    int ProcessNewStream(const VRUDP_RECV_DATA &src);
    int ProcessStreamData(const VRUDP_RECV_DATA &src, bool bStop);

    std::atomic<int> m_iHandle{-1};
    // Written by the new-stream path and CloseAcceptHandle, read by the data paths on other
    // threads.
    std::atomic<int> m_aiStreamHandle[SERVER_LINK_VRUDP_STREAMS];
};

}  // namespace Vorezi
