// What the core library's files share: the controller accessor, the last-error setter and
// getter, the error codes, and the Nagle modes the transports compare against. A file that needs
// only these includes this header, not the controller's.
#pragma once

namespace Vorezi {

class CCoreGlobalCtrlBase;

// The address of the one instance; never fails.
CCoreGlobalCtrlBase *GetCoreGlobalCtrl();
inline CCoreGlobalCtrlBase *Ctrl() { return GetCoreGlobalCtrl(); }

// The calling thread's core error code, as Morva_GetLastError reports it.
void SetError(int iCode);
int LastError();

// Core error codes. The links' receive calls return them too, MORVA_ERR_SUCCESS for data.
enum {
    MORVA_ERR_SUCCESS = 0,
    MORVA_ERR_NOT_INIT = 3,
    MORVA_ERR_CONNECT = 7,
    MORVA_ERR_SEND = 8,
    MORVA_ERR_RECV = 9,
    MORVA_ERR_NO_USER = 9,  // a data callback reached without its owner
    MORVA_ERR_RECV_TIMEOUT = 10,
    MORVA_ERR_CHAR_ENCODE = 11,
    MORVA_ERR_NOT_READY = 12,  // an invalid handle, or a link without its socket
    MORVA_ERR_PARAM = 17,
    MORVA_ERR_NO_CA_PATH = 40,
    MORVA_ERR_ALLOC = 41,
    MORVA_ERR_BUFFER_SMALL = 43,
    MORVA_ERR_SOCKET = 44,
    MORVA_ERR_MEMBER_FULL = 46,
    MORVA_ERR_NO_LOCAL_IP = 53,
    MORVA_ERR_MCAST_JOIN = 70,
    MORVA_ERR_BIND = 72,
    MORVA_ERR_PEER_CLOSED = 73,
    MORVA_ERR_LISTEN = 75,
    MORVA_ERR_LOG_CFG_FILE = 103,
    MORVA_ERR_NO_POOL_PORT = 104,
    MORVA_ERR_CERT = 147,
    MORVA_ERR_LOAD_CRYPTO = 156,
    MORVA_ERR_LOAD_SSL = 157,
    MORVA_ERR_LOAD_ICONV = 158,
    MORVA_ERR_LOAD_ZLIB = 161,
    MORVA_ERR_CA_BEFORE_INIT = 162,
    MORVA_ERR_PORT_NODE = 184,
    MORVA_ERR_FUNCTION_INVALID = 186,
    MORVA_ERR_PORT_LIST_FULL = 187,
};

// The controller's Nagle modes: 18 while the Nagle flag is set, so TCP sockets keep Nagle's
// algorithm; 6 otherwise (the transports set TCP_NODELAY), and 6 before Init.
constexpr int kNagleModeOn = 18;
constexpr int kNagleModeOff = 6;

}  // namespace Vorezi
