#include "transport/mqtt/MqttLongLink.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/MqttServerSession.h"

namespace Vorezi {

std::unique_ptr<CMqttLongLink> CMqttLongLink::Create(const MQTT_SERVER_PARAM &param, int iSession) {
    std::unique_ptr<CMqttLongLink> pLink(new CMqttLongLink());
    LINK_CREATE_PARAM struParam;
    std::memset(&struParam, 0, sizeof(struParam));
    struParam.enumLinkType = LINK_TYPE_TCP;
    struParam.dwRecvTimeout = param.dwAliveTimeout;
    struParam.dwSendTimeout = param.dwIntervalTime;
    struParam.dwServerMode = 1;
    struParam.iSocket = param.iSocket;
    struParam.ext.byLinkMode = 2;
    struParam.ext.bySyncSend = 1;  // with link mode 2: blocking sends, so a send is whole when it returns
    struParam.ext.dwProbeRecvTimeout = kProbeRecvTimeout;
    if (!pLink->m_Long.CreateGeneralLink(&struParam, 1)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::CreateLink, CreateGeneralLink Failed, error[%d], sockHandle[%d], "
                        "m_LongCtrl[0x%X]",
                        iSession, LastError(), param.iSocket, MORVA_PTR_ARG(&pLink->m_Long));
        return nullptr;
    }
    return pLink;
}

CMqttLongLink::~CMqttLongLink() {
    m_Long.Stop();
}

int CMqttLongLink::RecvEntry(void *pUser, char *pData, int iLen, int iStatus) {
    auto *self = static_cast<CMqttLongLink *>(pUser);
    return self->m_fnCB(self->m_pUser, reinterpret_cast<const BYTE *>(pData), iLen > 0 ? DWORD(iLen) : 0,
                        DWORD(iStatus));
}

int CMqttLongLink::StartRecv(MQTT_LINK_DATA_CALLBACK fnCB, void *pUser) {
    m_fnCB = fnCB;
    m_pUser = pUser;
    if (!m_Long.StartRecvThread(RecvEntry, this, kRecvBufSize))
        return 0;
    m_Long.EnableDataCallBack(1);
    return m_Long.ResumeRecvThread();
}

int CMqttLongLink::SendNakeData(const BYTE *pData, DWORD dwLen) {
    PROTOCOL_SEND_DATA struData = {reinterpret_cast<const char *>(pData), dwLen};
    const int iSent = m_Long.SendData(&struData, 0);
    return iSent == int(dwLen) ? iSent : -1;
}

void CMqttLongLink::CloseLink(int bForce) {
    if (bForce)
        m_Long.SetLinkForceClose();
    m_Long.Stop();
}

void CMqttLongLink::ForgetSocket() {
    m_Long.RestSocketByNoClose();
    m_Long.Stop();
}

int CMqttLongLink::EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult) {
    return m_Long.EnlargeBufferSize(dwSndMult, dwRcvMult);
}

void CMqttLongLink::GetLocalAddr(char *pAddr, WORD *pPort) {
    m_Long.GetLocalAddr(pAddr, pPort, 128);
}

void CMqttLongLink::GetRemoteAddr(char *pAddr, WORD *pPort) {
    m_Long.GetRemoteAddr(pAddr, pPort, 128);
}

}  // namespace Vorezi
