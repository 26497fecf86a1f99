// Send- and receive-queue operations decoded from the input, one byte of operation code followed
// by its arguments, checking what the queues promise: all-or-nothing queuing, released blocks in
// sequence order, and reads of whole messages only.
#include <cstdint>
#include <cstring>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/RecvQueue.h"
#include "transport/vrudp/SndQueue.h"
#include "transport/vrudp/VRUDPWire.h"

using namespace Vorezi;
using namespace Vorezi::vrudp;

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint32_t Take(int iBytes) {
        uint32_t v = 0;
        for (int i = 0; i < iBytes; i++) {
            v = (v << 8) | (n ? *p : 0);
            if (n) {
                p++;
                n--;
            }
        }
        return v;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static bool bInit = GetCoreGlobalCtrl()->Init() == 1;
    (void)bInit;
    CSndQueue snd;
    CRecvQueue rcv;
    if (snd.InitQueue() != 1 || rcv.InitQueue(1) != 1)
        return 0;
    static std::vector<uint8_t> data(200000, 0x5A), out(200000);
    uint32_t need = 0;
    Reader r{pData, uSize};
    while (r.n) {
        switch (r.Take(1) % 10) {
        case 0: {
            int len = int(r.Take(3) % data.size());
            int before = snd.FreeBlockCount();
            int ret = snd.InsertDataToSendList(data.data(), len, 1, 2, uint8_t(r.Take(1) % 3), 7);
            if (ret != 0 && snd.FreeBlockCount() != before)
                __builtin_trap();  // a refused message must leave nothing behind
            break;
        }
        case 1:
            if (snd.getSendBlock())
                snd.NextCur();
            break;
        case 2:
            snd.UpdateWindow(r.Take(4));
            break;
        case 3:
            snd.ResetResendCursor();
            snd.getResendBlock();
            break;
        case 4:
            snd.getBlockBySeq(r.Take(2));
            break;
        case 5:
        case 6: {
            VRUDP_RECV_NODE *node = rcv.GetEmptyBuffer();
            if (!node)
                break;
            uint8_t ver = uint8_t(r.Take(1) % 3);
            DataHead h{ver, uint8_t(r.Take(1) & 3), 1, need + r.Take(1) % 130, 0, 1, 7};
            int hl = BuildDataHead(node->pBuf, h);
            uint32_t payload = r.Take(2) % uint32_t(rcv.GetOneDataSize() + 1);
            node->dwLen = uint32_t(hl) + payload;
            node->byUnitPos = h.byUnitPos;
            node->dwSeq = h.dwSeq;
            rcv.InsertArray(node, &need, h.dwSeq == need);
            break;
        }
        case 7:
            rcv.ReadPacket(out.data(), int(r.Take(3) % out.size()));
            break;
        case 8: {
            uint32_t lost[64];
            rcv.GetLostSeq(lost, int(r.Take(1) % sizeof lost), need);
            break;
        }
        case 9:
            rcv.IsStalled();
            break;
        }
    }
    return 0;
}
