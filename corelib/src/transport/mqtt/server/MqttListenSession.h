// An MQTT listener: a TCP server link whose accepted sockets each become an MQTT server session,
// and the member manager of the listeners.
#pragma once

#include <atomic>

#include "Module/Member/MemberBase.h"
#include "morva/MorvaMqtt.h"
#include "morva/MorvaServerLink.h"

namespace Vorezi {

class CMqttListenSession : public CMemberBase {
public:
    CMqttListenSession() = default;
    ~CMqttListenSession() override;

    // pParam: MORVA_MQTT_LISTEN_PARAM. Nonzero on success.
    int Start(void *pParam) override;
    int Stop() override;
    // The server-link handle of the listener, -1 when none.
    int GetListenHandle() const { return m_iListenHandle; }

    // The server link's accept callback: 1 when a session took the socket.
    static int ServerDataCallBack(void *pUserData, SERVER_LINK_DATA *pData);

private:
    int OnAccept(const SERVER_LINK_DATA &data);
    void CleanupResource();

    DWORD m_dwIntervalTime = 0;
    DWORD m_dwAliveTimeout = 0;
    DWORD m_dwHeartbeatInterval = 0;
    MORVA_MQTT_SERVER_CB m_fnCB = nullptr;
    void *m_pUserData = nullptr;
    int m_iListenHandle = -1;
    std::atomic<int> m_iWaitTime{0};
};

class CMqttListenMgr : public CMemberMgrBase {
public:
    static constexpr DWORD kMaxListen = 512;

    explicit CMqttListenMgr(DWORD dwMaxNum = kMaxListen) : CMemberMgrBase(dwMaxNum) {}
    CMemberBase *NewMemoryObject(void *pParam) override;
    // A listen handle, or -1.
    int Create(const MORVA_MQTT_LISTEN_PARAM *pParam);
    int Destroy(int iHandle) { return FreeIndex(iHandle, 1); }
};

// The controller's manager; made only while the library is initialised.
CMqttListenMgr *GetMqttListenMgr();

}  // namespace Vorezi
