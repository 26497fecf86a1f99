// Records passed between the secure link's listen sessions, server sessions and managers. Those
// with pointers are natural structs; the peer-table entry has none and keeps its layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "morva/MorvaSecureLink.h"

namespace Vorezi {
namespace secure {

constexpr int SECURE_MAX_SESSIONS = 20480;
constexpr uint32_t SECURE_PEER_TIMEOUT_MS = 300000;

// Results of a server session's InputData, acted on by its listen session.
enum {
    ENUM_PROCDATA_SUCC = 0,
    ENUM_PROCDATA_DESTROY_SESSION = 1,
    ENUM_PROCDATA_PARAM_ERROR = 2,
    ENUM_PROCDATA_KEEP_ALIVE = 3,
};

// The listen session's copy of what Interim_SecureCreate was given, copied as a whole record so
// that no pointer is cut.
struct SECURE_LISTEN_PARAM {
    SECURE_CREATE_FUNS stFuns;
    int32_t iAddressType;
    int32_t iTransportMode;
};

// Kind of a received packet: the reliable-UDP link of the peer closed.
constexpr int32_t SECURE_RECV_LINK_CLOSED = 2;

struct SECURE_RECV_DATA {
    int32_t iKind;
    int32_t iVRUDPHandle; // the peer's connection, or the listening handle for a datagram
    const uint8_t *pData;
    uint32_t dwDataLen;
    const char *pDeviceID;
    char szAddr[SECURE_ADDR_LEN];
    uint16_t wPort;
    uint32_t dwSequence;
    int32_t bWithoutVRUDP;
};

struct SECURE_SERVER_CREATE {
    int32_t iReserved;
    int32_t iListenHandle;
    char szAddr[SECURE_ADDR_LEN];
    uint16_t wPort;
    uint8_t bWithoutVRUDP;
    const uint8_t *pData;
    uint32_t dwDataLen;
    SECURE_DATA_CALLBACK fnDataCB;
    void *pUserData;
    int32_t iVRUDPHandle;
};

struct SECURE_LINK_INFO {
    int32_t bUsed;
    int32_t iVRUDPHandle;
    char szAddr[SECURE_ADDR_LEN];
    uint16_t wPort;
    uint32_t dwLastProcessTime; // ms ticks; 0 = never kept alive
};
static_assert(sizeof(SECURE_LINK_INFO) == 144, "peer entry is 144 bytes");
static_assert(offsetof(SECURE_LINK_INFO, iVRUDPHandle) == 4 && offsetof(SECURE_LINK_INFO, szAddr) == 8 &&
                  offsetof(SECURE_LINK_INFO, wPort) == 136 && offsetof(SECURE_LINK_INFO, dwLastProcessTime) == 140,
              "peer entry offsets");

} // namespace secure
} // namespace Vorezi
