// The stream sender's acknowledgement handling (ParseAck, with FastResend and the RTT update)
// on a sender holding stored packets, with its removal and resend passes between them. Input:
// records (see vrudp_fuzz_util.h); the first byte of each picks: 0 store a packet of the rest,
// 1 run removal and resend, anything else hand the rest over as an acknowledgement.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/link/HRClientStream.h"
#include "vrudp_fuzz_util.h"

using namespace Vorezi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static bool bInit = GetCoreGlobalCtrl()->Init() == 1;
    static FuzzSink sink;
    if (!bInit)
        return 0;
    CHRClientStream stream;
    stream.SetSocket(sink.fd);
    stream.SetRemoteAddr(sink.addr);
    if (stream.Start(false) != 0)
        return 0;
    const uint8_t initAck[8] = {0, 16, 6, 0, 0, 1, 0, 0};
    stream.ParseSynRet(initAck, sizeof initAck);
    stream.ConnectRemote(1, 0x01020304, 0);  // sets the code only
    const uint8_t payload[64] = {};
    for (int i = 0; i < 8; i++)
        stream.SendVideoData(payload, sizeof payload);
    for (auto &rec : FuzzRecords(pData, uSize)) {
        if (rec.empty())
            continue;
        if (rec[0] == 0) {
            if (rec.size() > 1)
                stream.SendVideoData(rec.data() + 1, uint32_t(rec.size() - 1));
        } else if (rec[0] == 1) {
            stream.RemoveAfterRecvSeq();
            stream.CheckAndResendData();
        } else {
            stream.ParseAck(rec.data() + 1, uint32_t(rec.size() - 1));
        }
    }
    stream.Stop();
    sink.Drain();
    return 0;
}
