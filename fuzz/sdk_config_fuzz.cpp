// ZEVASDK.xml text: any bytes are read as the first 1024 bytes of the file.
#include <cstddef>
#include <cstdint>

#include "base/GlobalCtrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ZEVA::CGlobalCtrl::GetInstance()->ParseConfigText(reinterpret_cast<const char *>(data), uint32_t(size));
    return 0;
}
