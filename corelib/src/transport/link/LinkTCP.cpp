#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "morva/MorvaNetwork.h"
#include "transport/link/LinkBase.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

int CLinkTCP::OpenLink() {
    if (!CreateSocket()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::OpenLink, CreateSocket Failed", MORVA_PTR_ARG(this));
        Cleanup();
        return 0;
    }
    if (YAR_LingerOn(m_socket, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::OpenLink, YAR_LingerOn Failed, m_socket[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        Cleanup();
        return 0;
    }
    if (!ProcessLocalIPAndPort()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::OpenLink, ProcessLocalIPAndPort Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        Cleanup();
        return 0;
    }
    if (!DoConnect()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::OpenLink, DoConnect Failed, m_socket[%d]", MORVA_PTR_ARG(this),
                        m_socket);
        Cleanup();
        return 0;
    }
    return 1;
}

int CLinkTCP::SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) {
    const DWORD dwSendTimeout = EffectiveSendTimeout(dwTimeOut);
    if (m_bAsyncCmd && m_bBindSocket) {
        const int iSent = m_LinkAsyncIO.SendCmdDataSync(pBuf, dwLen, dwSendTimeout);
        if (iSent <= 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCP::SendData, SendCmdDataSync Failed, m_socket[%d], Addr[%s:%d]",
                            MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
            return 0;
        }
        return iSent;
    }
    if (m_bBindSocket && !(m_struExt.byLinkMode == 2 && m_struExt.bySyncSend == 1)) {
        if (m_LinkAsyncIO.SendData(pBuf, dwLen) <= 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCP::SendData, SendData Failed, m_socket[%d], Addr[%s:%d]",
                            MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
            return -1;
        }
        return (int)dwLen;
    }
    const int iSent = Morva_SplittingSendWithTimeout(m_socket, pBuf, (int)dwLen, (int)dwSendTimeout);
    if (iSent < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkTCP::SendData, Morva_SplittingSendWithTimeout Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        SetError(MORVA_ERR_SEND);
    } else if (iSent == 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkTCP::SendData, Morva_SplittingSendWithTimeout iSendLen==0, m_socket[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), m_socket, m_szServerIP, m_wServerPort);
    }
    return iSent;
}

// An idle probe before the close: whatever the peer still sends within the probe time is read
// and dropped.
void CLinkTCP::ProbeBeforeClose() {
    if (m_bForceClose || m_socket == -1 || m_struExt.byLinkMode != 2 || !m_struExt.dwProbeRecvTimeout)
        return;
    char byProbe[4];
    DWORD dwLen = 0;
    DoRecvForRealRecv(m_socket, byProbe, sizeof(byProbe), &dwLen, m_struExt.dwProbeRecvTimeout, &m_bCloseSocket, this, 1,
                      0);
}

}  // namespace Vorezi
