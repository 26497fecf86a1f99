// Datagrams into a father link's dispatch, all from one fixed source: control packets, stream
// data and ACKs. Input: records (see vrudp_fuzz_util.h). A link id of 0x4FFE stands for the
// father's first child (its real handle varies from run to run).
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/link/VRUDPLink.h"
#include "vrudp_fuzz_util.h"

using namespace Vorezi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static bool bInit = GetCoreGlobalCtrl()->Init() == 1;
    static FuzzSink sink;
    if (!bInit)
        return 0;
    int h = FuzzBoundServer(ENUM_VRUDP_TYPE_LINK);
    if (h < 0)
        return 0;
    {
        CRWGuard guard(h);
        auto *pFather = dynamic_cast<CVRUDPLink *>(guard.Member());
        for (auto &pkt : FuzzRecords(pData, uSize)) {
            if (!pFather)
                break;
            if (pkt.size() >= 6 && ((pkt[4] << 8) | pkt[5]) == 0x4FFE) {
                int iChild = pFather->GetAcceptEntry(0);
                pkt[4] = uint8_t(iChild >> 8);
                pkt[5] = uint8_t(iChild);
            }
            pFather->Dispatch(pkt.data(), int(pkt.size()), sink.addr);
        }
    }
    COM_VRUDP_Close(h);
    sink.Drain();
    return 0;
}
