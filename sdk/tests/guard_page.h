// Bytes placed so that their end touches a page that may not be read: a read past them faults at
// once, also inside libraries that no sanitizer instruments (TinyXML is Debian's own build).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace sdktest {

class GuardedBytes {
public:
    explicit GuardedBytes(const std::string &bytes) {
        size_t page = size_t(sysconf(_SC_PAGESIZE));
        m_size = (bytes.size() + page - 1) / page * page + page;
        void *map = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_map = map == MAP_FAILED ? nullptr : static_cast<char *>(map);
        if (!m_map)
            return;
        char *guard = m_map + m_size - page;
        mprotect(guard, page, PROT_NONE);
        m_data = guard - bytes.size();
        std::memcpy(m_data, bytes.data(), bytes.size());
    }
    ~GuardedBytes() {
        if (m_map)
            munmap(m_map, m_size);
    }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;

    char *data() const { return m_data; }

private:
    char *m_map = nullptr;
    char *m_data = nullptr;
    size_t m_size = 0;
};

}  // namespace sdktest
