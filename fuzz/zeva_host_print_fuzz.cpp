// What zeva-host prints from device data: a get command's output record (first byte: the
// command, the rest: the record, cut or padded to its size) and the same bytes as a device text.
// Nothing is read outside the record, and the JSON text holds no raw control character.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "json_text.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    uint32_t command = data[0] % 40;
    // Exactly the record on the heap, so a read past it is caught; sizes run to get 6's 13076.
    for (size_t recordSize : {size - 1, size_t(260), size_t(13076), size_t(900)}) {
        std::unique_ptr<uint8_t[]> record(new uint8_t[recordSize]());
        std::copy(data + 1, data + std::min(size, recordSize + 1), record.get());
        zevahost::DecodeGetRecord(command, record.get(), recordSize);
        zevahost::DecodeResultWord(record.get(), recordSize);
    }
    std::string json = zevahost::JsonText(std::string(reinterpret_cast<const char *>(data + 1), size - 1));
    for (unsigned char c : json)
        if (c < 0x20)
            std::abort();
    return 0;
}
