// The bytes a client control link still holds unacknowledged, for the stream tools.
#pragma once

#include <cstdint>

#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/link/HRClientStream.h"
#include "transport/vrudp/link/VRUDPLink.h"

inline uint32_t ClientBuffered(int iLink) {
    Vorezi::CRWGuard guard(iLink);
    auto *pLink = dynamic_cast<Vorezi::CVRUDPLink *>(guard.Member());
    Vorezi::HR_CLIENT_STREAM_STAT st = {};
    if (pLink && pLink->GetClientStream())
        pLink->GetClientStream()->GetStatistics(&st);
    return st.dwRBufDataLen;
}
