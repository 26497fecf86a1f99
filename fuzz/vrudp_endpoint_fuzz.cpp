// Several datagrams into a listening server endpoint's packet processing, all from one fixed
// source, so handshakes and data sequences are reached. Input: records of a big-endian u16
// length and that many bytes. A session id of 0x4FFE stands for the connection the endpoint
// holds in its first entry (its real handle varies from run to run).

#include <cstdint>
#include <cstring>
#include <vector>

#include "CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "vrudp_fuzz_util.h"

using namespace Vorezi;

namespace {

constexpr uint16_t kEntryZero = 0x4FFE;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static bool bInit = GetCoreGlobalCtrl()->Init() == 1;
    static FuzzSink sink;
    if (!bInit)
        return 0;
    int h = FuzzBoundServer(ENUM_VRUDP_TYPE_ENDPOINT);
    if (h < 0)
        return 0;
    {
        CRWGuard guard(h);
        auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member());
        for (auto &pkt : FuzzRecords(pData, uSize)) {
            if (!pEndpoint)
                break;
            if (pkt.size() >= 8 && ((pkt[6] << 8) | pkt[7]) == kEntryZero) {
                int iConn = pEndpoint->GetEntry(0);
                pkt[6] = uint8_t(iConn >> 8);
                pkt[7] = uint8_t(iConn);
            }
            pEndpoint->ProccessRUDPData(pkt.data(), int(pkt.size()), sink.addr);
        }
    }
    COM_VRUDP_Close(h);
    sink.Drain();
    return 0;
}
