// The worker of one accepted TCP connection: the new-connection record, the receive loop with
// the command-head check, and the end record.
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"
#include "transport/link/LinkBase.h"
#include "transport/link/SocketEnd.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr int kRecvBufLen = 10240;
constexpr BYTE kHeadMagic[4] = {'Q', 'D', 'B', 'D'};
constexpr int kHeadLenByte = 12;

}  // namespace

int32_t CServerLinkTCP::TCPLinkProc(void *pItem) {
    if (!pItem) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkTCP::TCPLinkProc, pItem == NULL");
        return 0;
    }
    INTER_LINK_MSG struMsg;
    std::memcpy(&struMsg, pItem, sizeof(struMsg));
    DelArray(pItem);
    CServerLinkTCP *pLink = struMsg.pServerLink;
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkTCP::TCPLinkProc, pServerLink == NULL, socket[%d]", struMsg.iSocket);
        YAR_CloseSocket(struMsg.iSocket, 1);
        return 0;
    }
    pLink->TaskTaken();
    pLink->ServeConnection(struMsg.iLinkIndex, struMsg.iSocket);
    // The link may be deleted from here on.
    pLink->m_nInFlight.fetch_sub(1);
    return 0;
}

void CServerLinkTCP::ServeConnection(int iIndex, int sockAccept) {
    const bool bOwnerReads = m_byManagerMode == 1;
    // An item that waited through a stop (or an owner's end) is closed unheard.
    if (m_bStop.load() || (!bOwnerReads && !m_bSlotInUse[iIndex].load())) {
        FinishSlot(iIndex, sockAccept);
        return;
    }
    SERVER_LINK_DATA struData;
    InitRecord(&struData, SERVER_LINK_MSG_NEW, SERVER_LINK_PRO_TCP, -1, iIndex);
    struData.iSocket = sockAccept;
    if (PushDataToCallBack(&struData) == 0) {
        YAR_ShutDown(sockAccept, 2);
        YAR_Sleep(5);
        FinishSlot(iIndex, sockAccept);
        return;
    }
    if (bOwnerReads) {
        FinishSlot(iIndex, -1);
        return;
    }
    SetAcceptSlot(iIndex, struData.iStreamHandle);
    YAR_LingerOn(sockAccept, 0);
    int iLastResult = 0;
    ReceiveLoop(iIndex, sockAccept, &iLastResult);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkTCP::TCPLinkProc, Stop Real Recv, YAR_CloseSocket[%d]", Index(),
                    sockAccept);
    PushRecord(iIndex, SERVER_LINK_MSG_END, nullptr, 0, iLastResult, nullptr, sockAccept);
    m_iStreamHandle[iIndex].store(-1);
    SetError(iLastResult);
    // An end of stream (the client's or the owner's) lets the replies drain before the close
    // resets; a receive error, a bad head or a stop resets at once.
    if (iLastResult == MORVA_ERR_PEER_CLOSED)
        SocketDrainSendQueue(sockAccept, SOCKET_DRAIN_STALL_MS, &m_bStop);
    FinishSlot(iIndex, sockAccept);
}

int CHeadCheck::Take(char *pRecv, DWORD dwLen, char **ppOut, DWORD *pdwOutLen, const BYTE **ppAreaB) {
    *ppOut = pRecv;
    *pdwOutLen = dwLen;
    *ppAreaB = nullptr;
    if (!m_bCheckHead)
        return HEAD_DELIVER;
    const DWORD dwCollected = m_dwHeadLen;
    BYTE byShift = 0;
    const int iCheck = m_pLink->CheckHeadData(pRecv, dwLen, m_byHead, &m_dwHeadLen, &byShift);
    if (iCheck == 1)
        return HEAD_BAD;
    if (iCheck == 2)
        return HEAD_WAIT;
    m_bCheckHead = 0;
    if (byShift) {
        *ppOut = pRecv + byShift;
        *pdwOutLen = dwLen - byShift;
        *ppAreaB = m_byHead + SERVER_LINK_HEAD_AREA_B;
    } else {
        // No head: the bytes held back while deciding (at most 3, since four decide) go first.
        *ppOut = pRecv - dwCollected;
        std::memcpy(*ppOut, m_byHead, dwCollected);
        *pdwOutLen = dwLen + dwCollected;
    }
    return HEAD_DELIVER;
}

// Return on the first data: otherwise each delivery would wait for a full buffer or the time-out.
void CServerLinkTCP::ReceiveLoop(int iIndex, int sockAccept, int *pLastResult) {
    char szBuf[SERVER_LINK_HEAD_ROOM + kRecvBufLen];
    char *pRecv = szBuf + SERVER_LINK_HEAD_ROOM;
    CHeadCheck head(this, m_bCheckHead);
    const DWORD dwTimeOut = GetCoreGlobalCtrl()->GetDefaultRecvTimeOut();
    while (!m_bStop.load() && m_bSlotInUse[iIndex].load()) {
        DWORD dwLen = 0;
        const int iResult =
            CLinkBase::DoRecvForRealRecv(sockAccept, pRecv, kRecvBufLen, &dwLen, dwTimeOut, nullptr, nullptr, 1, 0);
        if (iResult != MORVA_ERR_SUCCESS) {
            *pLastResult = iResult;
            PushRecord(iIndex, SERVER_LINK_MSG_DATA, pRecv, dwLen, iResult, nullptr, sockAccept);
            if (iResult == MORVA_ERR_PEER_CLOSED)
                break;
            if (iResult == MORVA_ERR_RECV) {
                LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::TCPLinkProc, DoRecvForRealRecv Failed, iLinkIndex[%d], socket[%d]",
                                Index(), iIndex, sockAccept);
                break;
            }
            continue;
        }
        char *pOut;
        DWORD dwOutLen;
        const BYTE *pAreaB;
        const int iTake = head.Take(pRecv, dwLen, &pOut, &dwOutLen, &pAreaB);
        if (iTake == CHeadCheck::HEAD_BAD)
            break;
        if (iTake == CHeadCheck::HEAD_DELIVER)
            PushRecord(iIndex, SERVER_LINK_MSG_DATA, pOut, dwOutLen, 0, pAreaB, sockAccept);
    }
}

void CServerLinkTCP::PushRecord(int iIndex, DWORD dwMsgType, char *pData, DWORD dwLen, int iStatus, const BYTE *pAreaB,
                                int sockAccept) {
    SERVER_LINK_DATA struData;
    InitRecord(&struData, dwMsgType, SERVER_LINK_PRO_TCP, m_iStreamHandle[iIndex].load(), iIndex);
    struData.pData = pData;
    struData.dwDataLen = dwLen;
    struData.iStatus = iStatus;
    struData.iSocket = sockAccept;
    if (pAreaB)
        std::memcpy(struData.byAreaB, pAreaB, SERVER_LINK_HEAD_AREA_B_LEN);
    PushDataToCallBack(&struData);
}

int CServerLinkTCP::CheckHeadData(const char *pBuffer, DWORD dwLen, BYTE *pHead, DWORD *pCurCmdLen, BYTE *pShiftLen) {
    if (!pBuffer || !pShiftLen || !pHead || !pCurCmdLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::CheckHeadData, Invalid Param, pBuffer[0x%X], pShiftLen[0x%X]",
                        Index(), MORVA_PTR_ARG(pBuffer), MORVA_PTR_ARG(pShiftLen));
        return 1;
    }
    *pShiftLen = 0;
    if (*pCurCmdLen >= SERVER_LINK_HEAD_LEN) {
        Utils_Assert();
        return 0;
    }
    const DWORD dwNeed = SERVER_LINK_HEAD_LEN - *pCurCmdLen;
    if (dwLen >= dwNeed) {
        std::memcpy(pHead + *pCurCmdLen, pBuffer, dwNeed);
        *pCurCmdLen = SERVER_LINK_HEAD_LEN;
        if (std::memcmp(pHead, kHeadMagic, sizeof(kHeadMagic)) != 0)
            return 0;
        if (pHead[kHeadLenByte] < SERVER_LINK_HEAD_LEN) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::TCPLinkProc, Invalid byCmdHeadLen[%d]", Index(),
                            pHead[kHeadLenByte]);
            return 1;
        }
        *pShiftLen = (BYTE)dwNeed;
        return 0;
    }
    std::memcpy(pHead + *pCurCmdLen, pBuffer, dwLen);
    *pCurCmdLen += dwLen;
    if (*pCurCmdLen < sizeof(kHeadMagic) || std::memcmp(pHead, kHeadMagic, sizeof(kHeadMagic)) == 0)
        return 2;
    return 0;
}

}  // namespace Vorezi
