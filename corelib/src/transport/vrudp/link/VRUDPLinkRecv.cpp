// The control link's receive thread: control packets by type, children by link id, keep-alive
// and the father's sweep over its children.
#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "transport/vrudp/VRUDPWire.h"
#include "transport/vrudp/link/HRClientStream.h"
#include "transport/vrudp/link/VRUDPLink.h"
#include "transport/vrudp/link/VRUDPStream.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr int kRecvWaitMs = 200;
constexpr int kCloseRecordLen = 16;
// A new-link packet without a window gets the default pool (window 400 gives 500 nodes).
constexpr uint32_t kDefaultRemoteWnd = 400;

bool SameAddr(const YAR_ADDR_T &a, const YAR_ADDR_T &b) {
    if (a.family != b.family || a.port != b.port)
        return false;
    return a.family == YAR_AF_INET6 ? std::memcmp(a.addr6, b.addr6, sizeof a.addr6) == 0 : a.addr4 == b.addr4;
}

void AddrText(const YAR_ADDR_T &stAddr, char *pText, size_t uLen) {
    if (!YAR_GetAddrStringEx(&stAddr, pText, uint32_t(uLen)))
        pText[0] = '\0';
}

// Fixed head lengths by type; 0 where the length varies (stream data, ACK).
int ExpectedHeadLen(uint8_t byType) {
    switch (byType) {
    case LINK_HEART:
    case LINK_HEART_RET:
        return kLinkHeartLen;
    case LINK_NEW:
    case LINK_INIT_ACK:
    case LINK_FIN:
    case LINK_FIN_RET:
        return 16;
    case LINK_UPPER_DATA:
        return kLinkUpperHeadLen;
    default:
        return 0;
    }
}

// Whether a control packet holds what its type needs, by its length and head.
bool WellFormed(const uint8_t *pData, int iLen) {
    uint8_t byType = LinkType(pData);
    int iHead = ExpectedHeadLen(byType);
    if (iHead && LinkHeadLen(pData) != iHead)
        return false;
    switch (byType) {
    case LINK_HEART:
    case LINK_HEART_RET:
        return iLen >= kLinkHeartLen;
    case LINK_FIN:
    case LINK_FIN_RET:
        return iLen >= kLinkFinLen;
    case LINK_NEW:
        return iLen >= kLinkNewMinLen;
    case LINK_INIT_ACK:
        return iLen >= kLinkInitAckLen;
    case LINK_UPPER_DATA:
        return iLen > kLinkUpperHeadLen && iLen <= kLinkUpperHeadLen + kLinkUpperMax;
    case LINK_STREAM_DATA:
    case LINK_ACK:
        return iLen >= kStreamAckHeadLen;
    default:
        return false;
    }
}
}  // namespace

uint32_t CVRUDPLink::RecvThreadProc(void *pParam) {
    static_cast<CVRUDPLink *>(pParam)->RecvLoop();
    return 0;
}

void CVRUDPLink::RecvLoop() {
    uint8_t abyBuf[kRecvBufLen];
    while (!m_bStop) {
        uint32_t dwNow = VRUDP_GetTickMs();
        if (dwNow - m_dwLastKeepAliveCheck > kKeepAliveCheckMs) {
            m_dwLastKeepAliveCheck = dwNow;
            CheckDoKeepLive();
        }
        YAR_ADDR_T stFrom = {};
        int iLen = m_Socket.RecvData(abyBuf, sizeof abyBuf, &stFrom, kRecvWaitMs);
        if (iLen <= 0) {
            if (m_bClosePending)
                m_bStop = 1;
            else if (iLen < 0)
                YAR_Sleep(kRecvWaitMs);
            continue;
        }
        if (m_enumMode == ENUM_VRUDP_MODE_CLIENT)
            m_dwKeepLiveTick = VRUDP_GetTickMs();
        Dispatch(abyBuf, iLen, stFrom);
    }
}

void CVRUDPLink::Dispatch(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    if (!IsLinkControl(pData, size_t(iLen))) {
        CallBackPlain(pData, iLen, stFrom);
        return;
    }
    if (iLen < 4 || !WellFormed(pData, iLen))
        return;
    if (m_enumMode == ENUM_VRUDP_MODE_CLIENT) {
        DispatchClient(pData, iLen, stFrom);
        return;
    }
    switch (LinkType(pData)) {
    case LINK_NEW:
        ParseNewLink(pData, iLen, stFrom);
        break;
    case LINK_HEART:
    case LINK_STREAM_DATA:
    case LINK_FIN:
    case LINK_FIN_RET:
        DispatchToChild(pData, iLen, stFrom);
        break;
    default:
        break;
    }
}

bool CVRUDPLink::IsFromRemote(const YAR_ADDR_T &stFrom) const {
    return SameAddr(stFrom, m_RemoteAddr);
}

bool CVRUDPLink::IsChildOf(int iFather) const {
    return iFather >= 0 && m_dwFatherLink == iFather;
}

// A packet for a child: only a live child of this father, from that child's own remote.
void CVRUDPLink::DispatchToChild(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    int iHandle = LinkId(pData);
    bool bListed = false;
    for (const auto &entry : m_aLinkHandle)
        bListed = bListed || entry.load() == iHandle;
    if (!bListed)
        return;
    CRWGuard guard(iHandle);
    auto *pChild = dynamic_cast<CVRUDPLink *>(guard.Member());
    if (pChild && pChild->IsChildOf(m_iVRUDPHandle) && pChild->IsFromRemote(stFrom))
        pChild->HandleChildPacket(pData, iLen);
}

// Runs on the father's receive thread under the child's read lock.
void CVRUDPLink::HandleChildPacket(const uint8_t *pData, int iLen) {
    uint8_t byType = LinkType(pData);
    switch (byType) {
    case LINK_HEART:
        if (LinkCode(pData, byType) == m_dwRecognizeCode) {
            m_dwKeepLiveTick = VRUDP_GetTickMs();
            SendPlain(LINK_HEART_RET);
        }
        break;
    case LINK_STREAM_DATA:
        if (m_poHRStream && m_poHRStream->PushDateToGetStreamCB(pData, 0, uint32_t(iLen), 0)) {
            m_bFirstStreamData = 1;
            m_dwKeepLiveTick = VRUDP_GetTickMs();
        }
        break;
    case LINK_FIN:
    case LINK_FIN_RET:
        HandleFin(pData, iLen);
        break;
    default:
        break;
    }
}

void CVRUDPLink::DispatchClient(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    if (!IsFromRemote(stFrom) || !m_poHRClientStream)
        return;
    uint8_t byType = LinkType(pData);
    switch (byType) {
    case LINK_ACK:
        m_poHRClientStream->ParseAck(pData, uint32_t(iLen));
        break;
    case LINK_INIT_ACK:
        if (LinkCode(pData, byType) == m_dwRecognizeCode && m_poHRClientStream->ParseSynRet(pData, uint32_t(iLen)) == 0)
            m_dwRemoteLink = m_poHRClientStream->GetRemoteSessionId();
        break;
    case LINK_FIN:
    case LINK_FIN_RET:
        HandleFin(pData, iLen);
        break;
    case LINK_UPPER_DATA:
        if (LinkCode(pData, byType) == m_dwRecognizeCode)
            StoreUpperData(pData + kLinkUpperHeadLen, iLen - kLinkUpperHeadLen);
        break;
    default:
        break;  // HEART-RET only restarts the silence, which every datagram does
    }
}

// FIN and FIN-RET, alike on a client and on a child.
void CVRUDPLink::HandleFin(const uint8_t *pData, int iLen) {
    if (LinkType(pData) == LINK_FIN)
        DoFin(pData, iLen);
    else if (LinkCode(pData, LINK_FIN_RET) == m_dwRecognizeCode)
        m_bFinRetReceived = 1;
}

void CVRUDPLink::StoreUpperData(const uint8_t *pData, int iLen) {
    {
        CGuard guard(&m_csLock);
        if (!guard.IsLocked() || m_dwUpperDataLength != 0)
            return;  // earlier upper data still unread: this one is dropped
        std::memcpy(m_abyUpperData, pData, size_t(iLen));
        m_dwUpperDataLength = uint32_t(iLen);
    }
    // A reader waiting in RecvFrom returns at once.
    YAR_SemPost(&m_SemSignal);
}

void CVRUDPLink::DoFin(const uint8_t *pData, int iLen) {
    if (iLen < kLinkFinLen || LinkCode(pData, LINK_FIN) != m_dwRecognizeCode)
        return;
    m_bFinReceived = 1;
    SendPlain(LINK_FIN_RET);
    ResetStreams();
    CallBackClosed();
}

// ---- new links ----

void CVRUDPLink::ParseNewLink(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    uint32_t dwCode = LinkCode(pData, LINK_NEW);
    int iReplaced = -1;
    for (auto &entry : m_aLinkHandle) {
        int h = entry.load();
        if (h < 0)
            continue;
        CRWGuard guard(h);
        auto *pChild = dynamic_cast<CVRUDPLink *>(guard.Member());
        if (!pChild || !pChild->IsFromRemote(stFrom))
            continue;
        if (pChild->m_dwRecognizeCode == dwCode) {
            pChild->SendInitAck();
            return;
        }
        iReplaced = h;
        break;
    }
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    if (!pMgr)
        return;
    if (iReplaced >= 0 && DeleteHandle(iReplaced))
        pMgr->Destroy(iReplaced);
    VRUDP_LINK_NEW stNew = {};
    stNew.stCond.iAf = m_iChildAf;
    stNew.stCond.enumType = ENUM_VRUDP_TYPE_LINK;
    stNew.stCond.enumMode = ENUM_VRUDP_MODE_SERVER;
    stNew.iKind = 0;
    int iHandle = pMgr->Create(&stNew);
    if (iHandle < 0)
        return;
    if (!AddChild(iHandle)) {
        pMgr->Destroy(iHandle);
        return;
    }
    SetupChild(pData, iLen, stFrom, iHandle);
}

int CVRUDPLink::AddChild(int iHandle) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::ParseNewLink, m_csLock Lock Failed, syserror[%d], iVRUDPHandle[%d]",
                        m_iVRUDPHandle, YAR_GetSystemLastError(), iHandle);
        return 0;
    }
    for (auto &entry : m_aLinkHandle) {
        if (entry.load() == -1) {
            entry = iHandle;
            m_iAcceptCount++;
            return 1;
        }
    }
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::ParseNewLink, m_aLinkHandle is Full, Destroy iVRUDPHandle[%d]",
                    m_iVRUDPHandle, iHandle);
    return 0;
}

void CVRUDPLink::SetupChild(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom, int iHandle) {
    int bInit = 0;
    {
        CRWGuard guard(iHandle);
        auto *pChild = dynamic_cast<CVRUDPLink *>(guard.Member());
        if (pChild) {
            pChild->m_fnRecvCB = m_fnRecvCB.load();
            pChild->m_pUser = m_pUser.load();
            pChild->m_dwFatherLink = m_iVRUDPHandle;
            pChild->m_dwRemoteLink = LinkId(pData);
            pChild->m_dwRecognizeCode = LinkCode(pData, LINK_NEW);
            pChild->m_bBorrowedSocket = 1;
            pChild->m_Socket.SetSocket(m_Socket.GetSocket());
            pChild->m_RemoteAddr = stFrom;
            AddrText(stFrom, pChild->m_szRemoteAddr, sizeof pChild->m_szRemoteAddr);
            pChild->m_wRemotePort = YAR_GetAddrPort(&stFrom);
            pChild->m_dwKeepLiveTick = VRUDP_GetTickMs();
            CVRUDPStream *pStream = pChild->m_poHRStream.get();
            pStream->SetRecognizeCode(pChild->m_dwRecognizeCode);
            pStream->SetLinkId(uint16_t(pChild->m_dwRemoteLink.load()));
            pStream->SetSocket(m_Socket.GetSocket());
            VRUDP_SOCK_ADDR stAddr = {};
            std::memcpy(stAddr.szAddr, pChild->m_szRemoteAddr, sizeof stAddr.szAddr);
            stAddr.wPort = pChild->m_wRemotePort;
            pStream->SetRemoteIP(&stAddr);
            pStream->SetRecvDataCallback(StreamDataCB, pChild);
            pStream->SetRemoteWndSize(iLen > 23 ? GetBE32(pData + 20) : kDefaultRemoteWnd);
            pChild->SendInitAck();
            bInit = pStream->IsInited();
            LogModule_Write(LOG_LEVEL_INF,
                            "[%d]CVRUDPLink::ParseNewLink, New VRUDP Link iVRUDPHandle[%d], dwRecognizeCode[%d], "
                            "bInitHRUdp[%d]",
                            m_iVRUDPHandle, iHandle, pChild->m_dwRecognizeCode.load(), bInit);
        }
    }
    if (!bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::ParseNewLink, InitVRUDP Failed, Destroy iVRUDPHandle[%d]",
                        m_iVRUDPHandle, iHandle);
        if (DeleteHandle(iHandle))
            GetVRUDPLinkMgr()->Destroy(iHandle);
    }
}

int CVRUDPLink::SendInitAck() {
    uint8_t abyPacket[kLinkInitAckLen];
    int iLen = BuildLinkInitAck(abyPacket, uint16_t(m_iVRUDPHandle), uint16_t(m_dwRemoteLink.load()), m_dwRecognizeCode);
    return m_Socket.SendData(abyPacket, iLen, m_RemoteAddr) == iLen ? 0 : -1;
}

// ---- delivery ----

void CVRUDPLink::CallBack(VRUDP_RECV_DATA *pRecord) {
    if (VRUDP_RECV_CALLBACK fn = m_fnRecvCB.load())
        fn(m_pUser.load(), pRecord);
}

void CVRUDPLink::CallBackPlain(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom) {
    VRUDP_RECV_DATA stRecord = {};
    stRecord.dwMsgType = VRUDP_MSG_FIRST;
    stRecord.enumDataType = 0;
    stRecord.iVRUDPHandle = 0;
    AddrText(stFrom, stRecord.szRemoteAddr, sizeof stRecord.szRemoteAddr);
    stRecord.wRemotePort = YAR_GetAddrPort(&stFrom);
    stRecord.pData = pData;
    stRecord.iDataLen = iLen;
    CallBack(&stRecord);
}

void CVRUDPLink::CallBackClosed() {
    static const uint8_t kZeros[kCloseRecordLen] = {};
    VRUDP_RECV_DATA stRecord = {};
    stRecord.dwMsgType = VRUDP_MSG_CLOSE;
    stRecord.enumDataType = 1;
    stRecord.iVRUDPHandle = m_iVRUDPHandle;
    std::memcpy(stRecord.szRemoteAddr, m_szRemoteAddr, sizeof stRecord.szRemoteAddr);
    stRecord.wRemotePort = m_wRemotePort;
    stRecord.pData = kZeros;
    stRecord.iDataLen = kCloseRecordLen;
    CallBack(&stRecord);
}

int CVRUDPLink::StreamDataCB(const uint8_t *pData, uint32_t dwLen, int iFlag, void *pUser) {
    auto *pThis = static_cast<CVRUDPLink *>(pUser);
    if (!pThis->m_fnRecvCB.load())
        return 0;
    VRUDP_RECV_DATA stRecord = {};
    stRecord.dwMsgType = iFlag ? VRUDP_MSG_DATA : VRUDP_MSG_FIRST;
    stRecord.enumDataType = 1;
    stRecord.iVRUDPHandle = pThis->m_iVRUDPHandle;
    std::memcpy(stRecord.szRemoteAddr, pThis->m_szRemoteAddr, sizeof stRecord.szRemoteAddr);
    stRecord.wRemotePort = pThis->m_wRemotePort;
    stRecord.pData = pData;
    stRecord.iDataLen = int32_t(dwLen);
    pThis->CallBack(&stRecord);
    return 1;
}

// The stream stopped on a send error it cannot get past: the link is as good as closed.
void CVRUDPLink::StreamClosedCB(void *pUser) {
    static_cast<CVRUDPLink *>(pUser)->CallBackClosed();
}

// ---- keep-alive ----

void CVRUDPLink::CheckDoKeepLive() {
    uint32_t dwNow = VRUDP_GetTickMs();
    if (m_enumMode == ENUM_VRUDP_MODE_CLIENT)
        ClientDoKeepAlive(dwNow);
    else
        SweepChildren(dwNow);
}

void CVRUDPLink::ClientDoKeepAlive(uint32_t dwNow) {
    if (m_bKeepAliveExpired || !m_poHRClientStream || !m_poHRClientStream->IsConnected())
        return;
    if (m_dwKeepLiveTick == 0)
        m_dwKeepLiveTick = dwNow;
    uint32_t dwSilence = dwNow - m_dwKeepLiveTick;
    if (dwSilence > kClientHeartMs && dwSilence <= kClientExpireMs) {
        SendPlain(LINK_HEART);
    } else if (dwSilence > kClientExpireMs) {
        Expire("CheckDoKeepLive", dwNow);
    }
}

// Silence too long: the user hears of the close and the link is left for removal.
void CVRUDPLink::Expire(const char *pFunc, uint32_t dwNow) {
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::%s, dwNewTimeTick[%d], m_dwKeepLiveTick[%d]", m_iVRUDPHandle, pFunc,
                    dwNow, m_dwKeepLiveTick.load());
    CallBackClosed();
    m_bClosePending = 1;
    m_bKeepAliveExpired = 1;
    m_dwKeepLiveTick = 0;
}

void CVRUDPLink::ServerDoKeepAlive(uint32_t dwNow) {
    if (m_bKeepAliveExpired)
        return;
    if (dwNow - m_dwKeepLiveTick > kChildExpireMs)
        Expire("ServerDoKeepAlive", dwNow);
}

// Every entry is looked at, not only the first count of them: removals leave holes.
void CVRUDPLink::SweepChildren(uint32_t dwNow) {
    for (auto &entry : m_aLinkHandle) {
        int h = entry.load();
        if (h == -1)
            continue;
        int bActiveClose = h < -1;
        int iChild = bActiveClose ? -h - 2 : h;
        if (!bActiveClose) {
            CRWGuard guard(iChild);
            auto *pChild = dynamic_cast<CVRUDPLink *>(guard.Member());
            if (!pChild)
                continue;
            pChild->ServerDoKeepAlive(dwNow);
            if (!pChild->m_bClosePending)
                continue;
        }
        LogModule_Write(LOG_LEVEL_INF, "[%d]CVRUDPLink::CheckDoKeepLive, Destroy, iAcceptHandle[%d], iHandle[%d], bActiveClose[%d]",
                        m_iVRUDPHandle, iChild, h, bActiveClose);
        if (DeleteHandle(iChild))
            GetVRUDPLinkMgr()->Destroy(iChild);
    }
}

}  // namespace Vorezi
