// A received datagram, as a service's receive thread hands it to the dispatcher.
#include <cstddef>
#include <cstdint>

#include "module/device/Service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ZEVA::CService service(0);
    service.ProcessUdpData(reinterpret_cast<const char *>(data), uint32_t(size), ZEVA::SOURCE_MULTICAST);
    return 0;
}
