// Helpers of the OpenSSL-backed crypto tests: the library initialised with the shared CSSLTrans, and
// running the openssl command-line tool on files in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto_test_util.h"
#include "crypto/SSLTrans.h"

namespace cryptotest {

using Bytes = std::vector<unsigned char>;

inline Bytes Text(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

// The library initialised, with the shared crypto instance.
class CryptoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->Init(), 1);
        m_pTrans = Vorezi::Interim_GetCryptionIns();
        ASSERT_NE(m_pTrans, nullptr);
    }
    void TearDown() override { Vorezi::GetCoreGlobalCtrl()->Fini(); }
    Vorezi::CSSLTrans *m_pTrans = nullptr;
};

// A scratch directory removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        char szTemplate[] = "/tmp/crypto_test_XXXXXX";
        m_Path = mkdtemp(szTemplate);
    }
    ~ScratchDir() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
    std::string File(const std::string &name) const { return m_Path + "/" + name; }
    void Write(const std::string &name, const Bytes &data) const {
        std::ofstream(File(name), std::ios::binary).write(reinterpret_cast<const char *>(data.data()), data.size());
    }
    Bytes Read(const std::string &name) const {
        std::ifstream in(File(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_Path;
};

// n bytes that end where an inaccessible page begins: a library (which no sanitizer watches)
// writing or reading one byte too many faults at once.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t n) : m_uPage(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
        m_uMapped = (n + m_uPage - 1) / m_uPage * m_uPage + m_uPage;
        void *p = mmap(nullptr, m_uMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_pBase = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
        if (m_pBase)
            mprotect(m_pBase + m_uMapped - m_uPage, m_uPage, PROT_NONE);
        m_pData = m_pBase ? m_pBase + m_uMapped - m_uPage - n : nullptr;
    }
    ~GuardedBuffer() {
        if (m_pBase)
            munmap(m_pBase, m_uMapped);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;
    unsigned char *Data() const { return m_pData; }

private:
    size_t m_uPage;
    size_t m_uMapped = 0;
    unsigned char *m_pBase = nullptr;
    unsigned char *m_pData = nullptr;
};

// Runs a shell command; its exit status, and its standard output through pOut.
inline int RunTool(const std::string &command, std::string *pOut = nullptr) {
    FILE *pPipe = popen((command + " 2>&1").c_str(), "r");
    if (!pPipe)
        return -1;
    std::string out;
    char szBuf[512];
    while (size_t n = fread(szBuf, 1, sizeof(szBuf), pPipe))
        out.append(szBuf, n);
    int iStatus = pclose(pPipe);
    if (pOut)
        *pOut = out;
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

}  // namespace cryptotest
