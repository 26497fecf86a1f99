// Bytes placed so that their end touches a page that may not be read: a read past them faults at
// once, also inside libraries that no sanitizer instruments (TinyXML is Debian's own build).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace sdktest {

// A mapping whose last page may not be read, and the n bytes in front of that page.
struct GuardedMapping {
    char *map = nullptr, *data = nullptr;
    size_t size = 0;

    static GuardedMapping Make(size_t n) {
        size_t page = size_t(sysconf(_SC_PAGESIZE));
        size_t size = (n + page - 1) / page * page + page;
        void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return {};
        char *guard = static_cast<char *>(map) + size - page;
        mprotect(guard, page, PROT_NONE);
        return {static_cast<char *>(map), guard - n, size};
    }
    void Unmap() {
        if (map)
            munmap(map, size);
        *this = {};
    }
};

class GuardedBytes {
public:
    explicit GuardedBytes(const std::string &bytes) : m_mapping(GuardedMapping::Make(bytes.size())) {
        if (m_mapping.data)
            std::memcpy(m_mapping.data, bytes.data(), bytes.size());
    }
    ~GuardedBytes() { m_mapping.Unmap(); }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;

    char *data() const { return m_mapping.data; }

private:
    GuardedMapping m_mapping;
};

}  // namespace sdktest
