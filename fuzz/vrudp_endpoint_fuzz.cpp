// Several datagrams into a listening server endpoint's packet processing, all from one fixed
// source, so handshakes and data sequences are reached. Input: records of a big-endian u16
// length and that many bytes. A session id of 0x4FFE stands for the connection the endpoint
// holds in its first entry (its real handle varies from run to run).
#include <cstdint>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "vrudp_fuzz_util.h"

using namespace Vorezi;

namespace {

constexpr uint16_t kEntryZero = 0x4FFE;

}  // namespace

// One listening endpoint serves every input; each input starts a new INIT-rate window and ends
// with the endpoint's connections destroyed, so inputs do not depend on one another's
// connections.
int MakeEndpoint() {
    return GetCoreGlobalCtrl()->Init() == 1 ? FuzzBoundServer(ENUM_VRUDP_TYPE_ENDPOINT) : -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static int h = MakeEndpoint();
    static FuzzSink sink;
    CRWGuard guard(h);
    auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member());
    if (!pEndpoint)
        return 0;
    VRUDP_AdvanceTickForTest(CHRUdpCommand::kInitWindowMs + 1);
    for (auto &pkt : FuzzRecords(pData, uSize)) {
        if (pkt.size() >= 8 && ((pkt[6] << 8) | pkt[7]) == kEntryZero) {
            int iConn = pEndpoint->GetEntry(0);
            pkt[6] = uint8_t(iConn >> 8);
            pkt[7] = uint8_t(iConn);
        }
        pEndpoint->ProccessRUDPData(pkt.data(), int(pkt.size()), sink.addr);
    }
    for (int i = 0; i < CHRUdpCommand::kMaxLinks && pEndpoint->GetLinkCount() > 0; i++) {
        int iConn = pEndpoint->GetEntry(i);
        if (iConn >= 0)
            pEndpoint->CloseHRObj(iConn, 0);
    }
    sink.Drain();
    return 0;
}
