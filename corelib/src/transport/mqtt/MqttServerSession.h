// The server side of one accepted MQTT client: frames in through the parser, a small state machine
// (standard CONNECT or a private authentication exchange), payload decryption and encryption with
// the session key, acknowledgements, and every event reported to the host's callback.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "Module/Member/MemberBase.h"
#include "morva/MorvaMqtt.h"
#include "morva/MorvaTypes.h"
#include "transport/mqtt/MqttClientLink.h"
#include "transport/mqtt/MqttParser.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// What the manager hands a session at start (28 bytes of int32 on the 32-bit build; the callback
// and the user data are native pointers here).
struct MQTT_SERVER_PARAM {
    int32_t iSocket;
    DWORD dwIntervalTime;       // send time-out, ms
    DWORD dwAliveTimeout;       // receive time-out and silent limit, ms
    DWORD dwHeartbeatInterval;  // ms
    MORVA_MQTT_SERVER_CB fnCB;
    void *pUserData;
    int32_t iListenHandle;
};

// Drives the private authentication exchange of one session; installed by the host with
// MQTT_CMD_SETINFO_AUTHENTICATOR and owned by the session from then on.
class CMqttAuthenticator {
public:
    virtual ~CMqttAuthenticator() = default;
    // Non-zero accepts the frame. pFrame points to a MqttFrame of sizeof(MqttFrame) bytes.
    virtual int HandleFrame(int iSession, MqttFrame *pFrame, MORVA_MQTT_SETINFO_PROXY fnSetInfo,
                            MORVA_MQTT_SEND_PROXY fnSend, void *pSession) = 0;
};

enum MQTT_SESSION_STATE {
    MQTT_STATE_INIT = 0,
    MQTT_STATE_CONNECTING = 1,
    MQTT_STATE_AUTH_INIT = 2,
    MQTT_STATE_AUTHENTICATING = 3,
    MQTT_STATE_AUTHENTICATED = 4,
    MQTT_STATE_SUBSCRIBED = 5,
    MQTT_STATE_CONNECTED = 6,
};

class CMqttServerSession : public CMemberBase {
public:
    CMqttServerSession();
    ~CMqttServerSession() override;
    CMqttServerSession(const CMqttServerSession &) = delete;
    CMqttServerSession &operator=(const CMqttServerSession &) = delete;

    // Starts the session on the link made from the accepted socket and registers it with the
    // heartbeat proxy iHeartbeatProxy: 1, or 0.
    int StartOnLink(const MQTT_SERVER_PARAM *pServerParam, std::unique_ptr<CMqttClientLink> pLink,
                    int iHeartbeatProxy);
    // Starts the session on a long link made from the record's socket (pParam: MQTT_SERVER_PARAM),
    // registered with the heartbeat proxy given by SetHeartbeatProxy: 1, or 0.
    int Start(void *pParam) override;
    // The heartbeat proxy of the manager that makes this session.
    void SetHeartbeatProxy(int iProxy) { m_iMgrHeartbeatProxy = iProxy; }
    int Stop() override;

    // Bytes sent, or -1.
    int Send(int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw);
    int SetInfo(DWORD dwCommand, void *pData, DWORD dwLength);
    int SetBuffSize(DWORD dwSndMult, DWORD dwRcvMult);
    // One frame: the header byte, the encoded remaining length, the data. Bytes sent, or -1.
    int SendToClient(BYTE byHeader, const BYTE *pData, DWORD dwLen);

    static int SetInfoProxy(DWORD dwCommand, void *pData, DWORD dwLength, void *pSession);
    static int SendToClientProxy(BYTE byHeader, const BYTE *pData, DWORD dwLength, void *pSession);
    // The link's data callback.
    static int ProMqttClientDataCBStatic(void *pSession, const BYTE *pData, DWORD dwLen, DWORD dwStatus);
    // The heartbeat proxy's callback; 0 ends the registration.
    static int HeartbeatProxy(void *pSession);

    // Whether this thread runs a session's delivery or heartbeat call right now: a close asked for
    // there must not wait for that very call to end, so the manager defers it.
    static bool InSessionCallback();
    // The session whose call this thread runs, or null.
    static CMqttServerSession *CallbackSession();
    // Ends all reporting and reading at once and marks the session for its deferred close.
    void RequestClose();
    // Ends reporting, the heartbeat and the link. When it returns, no callback of the session runs
    // any more (except the one it is called from). Safe under the member's read lock, which the
    // callbacks may take as well; Stop under the write lock then has nothing left to wait for.
    // bForce skips the graceful close, which waits up to 3 s for the client.
    void Shut(int bForce = 0);
    int IsCloseRequested() const { return m_bCloseRequested.load(); }

    int GetListenHandle() const { return m_Param.iListenHandle; }
    int GetHeartbeatRegistration() const { return m_iHeartbeatRegID.load(); }
    int GetState() const { return m_enumState.load(); }

private:
    // Key material and identity, read by the receive, heartbeat and sending threads.
    struct Keys {
        BYTE byAlgorithm = 0;
        char szSessionKey[65] = {};
        BYTE bySecondKey[16] = {};
        BYTE byIV[16] = {};
        int bIVSet = 0;  // until set, the crypto provider's default IV applies
        int bKeySet = 0;
    };
    enum DecryptResult { DECRYPT_OK, DECRYPT_NO_MEMORY, DECRYPT_FAILED };

    // Silent heartbeat ticks allowed: alive time-out / heartbeat interval, at least 1.
    static DWORD LimitCount(DWORD dwAliveTimeout, DWORD dwHeartbeatInterval);

    int ProMqttClientDataCB(const BYTE *pData, DWORD dwLen, DWORD dwStatus);
    int ProcessFrameData();
    int ProcessOneFrame(MqttFrame &frame);
    int IsMqttConnect(const MqttFrame &frame) const;
    int InitAuthContext(MqttFrame &frame);
    int ProcessAuthenticating(MqttFrame &frame);
    int ProcessConnectting(MqttFrame &frame);
    int AcceptConnect();
    int ProcessMqttData(MqttFrame &frame);
    int DecryptPublish(MqttFrame &frame, const char *pTopic);
    int AnswerFrame(const MqttFrame &frame);
    int DoExchange();
    void ResetTimeoutCounter();
    void UnregisterHeartbeat();
    int RegisterToHeartbeatProxy(int iHeartbeatProxy);

    int PostMqttMessage(int iMsgType, const MqttFrame *pFrame, int iStatus);
    int PostAuthMessage(int iMsgType, MqttFrame *pFrame, int iStatus);
    int CheckPostGuard(const char *pName, int iMsgType, int iStatus);

    Keys GetKeys();
    int RunCipher(int bEncrypt, const BYTE *pIn, DWORD dwInLen, BYTE *pOut, DWORD dwOutSize, DWORD *pOutLen);
    DecryptResult DecryptPart(MqttFrame &frame, DWORD dwOffset, DWORD *pLen);
    int SendPublish(const BYTE *pData, DWORD dwLen);
    int SendConnectAck(BYTE byReturnCode);
    int SendIdAck(BYTE byHeader, WORD wMessageID, const char *pName);
    int SetSessionKey(const BYTE *pData, DWORD dwLength);
    int SetSessionKeyAndIV(const BYTE *pData, DWORD dwLength);
    int SetAliveTimeout(const BYTE *pData, DWORD dwLength);
    int SetUncrypFilter(const char *pData, DWORD dwLength);
    int SetAuthenticator(CMqttAuthenticator *pAuthenticator);

    WORD m_wRemotePort = 0;
    char m_szRemoteAddr[128] = {};
    char m_szLocalAddr[128] = {};
    WORD m_wLocalPort = 0;
    std::atomic<int> m_bCloseCallBack{0};
    std::atomic<int> m_bCloseRequested{0};
    MQTT_SERVER_PARAM m_Param = {};
    std::unique_ptr<CMqttClientLink> m_pLink;
    std::atomic<int> m_bLinkOpen{0};
    std::atomic<DWORD> m_dwLimitCnt{1};
    std::atomic<DWORD> m_dwRecvTimeOutCnt{0};
    int m_iMgrHeartbeatProxy = -1;
    int m_iHeartbeatProxy = -1;
    std::atomic<int> m_iHeartbeatRegID{-1};
    int m_dwLastStats = 0;
    CMqttParser m_Parser;
    std::atomic<int> m_enumState{MQTT_STATE_INIT};
    std::atomic<int> m_bWillDelivered{0};
    MqttFrame m_SavedConnect;

    std::mutex m_InfoLock;  // guards m_Keys, the identity texts and the filter
    Keys m_Keys;
    char m_szClientId[MQTT_FIELD_LEN + 1] = {};
    char m_szUserName[MQTT_FIELD_LEN + 1] = {};
    char m_szUncrypFilter[MQTT_FIELD_LEN + 1] = {};

    std::unique_ptr<CMqttAuthenticator> m_pAuthenticator;
    yar::yar_mutex m_SendLock;  // one frame at a time: a header and its body go out together
};

}  // namespace Vorezi
