// A received raw frame, as the service's frame reader hands it to the codec: parsed as it came,
// then once more with its checksums made right, so the fuzzer reaches what lies past them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "module/protocol/PcapProtocol.h"

namespace {

void ParseAndFill(ZEVA::CPcapProtocol &codec, const uint8_t *frame, size_t size) {
    if (!codec.ParsePacket(uint32_t(size), frame, 0))
        return;
    ZEVA_DEVICE_INFO dev;
    codec.FillDeviceInfo(&dev);
    uint32_t len = 0;
    if (codec.GetReplyDataLen(&len) && len > ZEVA::FRAME_MAX_DATA)
        __builtin_trap();
}

void PutChecksum(uint8_t *block, size_t covered, size_t at) {
    block[at] = block[at + 1] = 0;
    uint16_t sum = ZEVA::CPacketSender::CheckSum(block, uint32_t(covered));
    block[at] = uint8_t(sum >> 8);
    block[at + 1] = uint8_t(sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ZEVA::CPcapProtocol codec;
    ParseAndFill(codec, data, size);
    if (size < 52 || size > 1024)
        return 0;
    uint8_t frame[1024];
    std::memcpy(frame, data, size);
    PutChecksum(frame + 14, std::min<size_t>(frame[17], size - 14), 12);
    if (size > 261 && size <= 416)
        PutChecksum(frame + 260, std::min<size_t>(frame[261], size - 260), 2);
    ParseAndFill(codec, frame, size);
    return 0;
}
