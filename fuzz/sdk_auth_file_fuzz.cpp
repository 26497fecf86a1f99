// An auth file of any bytes: its reset code is at most 512 bytes and ends before its line end.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "module/protocol/MulticastProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char path[] = "/tmp/zeva_auth_fuzz_XXXXXX";
    static int fd = mkstemp(path);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    char code[513];
    if (ZEVA::CMulticastProtocol::ReadAuthFile(path, code, sizeof code, "fuzz") && strnlen(code, sizeof code) > 512)
        abort();  // the code always ends inside its buffer
    return 0;
}
