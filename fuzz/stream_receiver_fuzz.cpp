// The stream receiver: stream data packets into slot 1 and bytes of the control stream. Input:
// a 1-byte window (times 5, so the clamp above 1024 is reached), then records (see vrudp_fuzz_util.h) whose first byte picks the path (even:
// slot 1, odd: the control stream).
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/link/VRUDPStream.h"
#include "vrudp_fuzz_util.h"

using namespace Vorezi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static bool bInit = GetCoreGlobalCtrl()->Init() == 1;
    static FuzzSink sink;
    if (!bInit || uSize < 1)
        return 0;
    CVRUDPStream stream;
    stream.SetSocket(sink.fd);
    VRUDP_SOCK_ADDR remote = {"127.0.0.1", YAR_GetAddrPort(&sink.addr)};
    stream.SetRemoteIP(&remote);
    stream.SetRecvDataCallback([](const uint8_t *, uint32_t, int, void *) { return 1; }, nullptr);
    stream.SetRemoteWndSize(uint32_t(pData[0]) * 5);
    for (auto &rec : FuzzRecords(pData + 1, uSize - 1)) {
        if (rec.empty())
            continue;
        if (rec[0] & 1)
            stream.RecvTCPDataCB(rec.data() + 1, uint32_t(rec.size() - 1), 0);
        else
            stream.PushDateToGetStreamCB(rec.data() + 1, 0, uint32_t(rec.size() - 1), 0);
    }
    sink.Drain();
    return 0;
}
