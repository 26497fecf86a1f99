// The member manager of the MQTT server sessions: one session per accepted client, addressed by its
// index, all sharing one heartbeat timer proxy. Closes asked for on a session's own callback
// thread are carried out by reaper threads once that callback has returned; as a close may wait
// for its client, each queued close gets a reaper of its own, up to kMaxReapers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Module/Member/MemberBase.h"
#include "transport/mqtt/MqttServerSession.h"

namespace Vorezi {

class CMqttServerMgr : public CMemberMgrBase {
public:
    static constexpr DWORD kHeartbeatPeriod = 5000;  // ms
    static constexpr size_t kMaxReapers = 64;

    explicit CMqttServerMgr(DWORD dwMaxNum);
    ~CMqttServerMgr() override;
    CMqttServerMgr(const CMqttServerMgr &) = delete;
    CMqttServerMgr &operator=(const CMqttServerMgr &) = delete;

    int CheckResource() override;
    CMemberBase *NewMemoryObject(void *pParam) override;

    // A session handle, or -1.
    int Create(const MQTT_SERVER_PARAM *pServerParam);
    // 1, or 0. On a session callback thread the close is deferred (1 when it was queued).
    int Destroy(int iHandle);
    int CheckHandle(int iHandle);

    // Tests shorten the heartbeat period of managers made afterwards (below 1000 ms needs custom
    // timing); 0 restores the default.
    static void SetHeartbeatPeriodForTest(DWORD dwPeriod);

private:
    int CreateProxy(DWORD dwMaxNum);
    void DestroyProxy();
    int DeferDestroy(int iHandle);
    bool ShutSession(int iHandle, bool bRequested, int bForce);
    void ReaperLoop();
    void AddReaperIfAllBusy();
    void StopReaper();

    int m_iTimeOutProxyID = -1;
    std::atomic<int> m_iHeartbeatInterval{5000};
    int m_bInitSucc = 0;

    std::mutex m_ReapLock;
    std::condition_variable m_ReapCond;
    std::deque<int> m_ReapQueue;
    bool m_bReapStop = false;
    size_t m_nIdleReapers = 0;
    std::vector<std::thread> m_Reapers;
};

// The controller's manager; made only while the library is initialised.
CMqttServerMgr *GetMqttServerMgr();
// The controller's manager if it exists; never makes one.
CMqttServerMgr *FindMqttServerMgr();

}  // namespace Vorezi
