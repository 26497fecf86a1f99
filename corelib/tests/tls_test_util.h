// TLS test fixtures shared by the session and link tests: a small PKI made with the openssl tool,
// and `openssl s_server -rev` on loopback.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ssl_test_util.h"

namespace cryptotest {

// CA "TestCA" signs the server and one client; "OtherCA" signs a second client and is the wrong CA.
class TlsPki {
public:
    TlsPki() {
        m_bOk = Ca("ca", "TestCA") && Ca("other", "OtherCA") && Leaf("srv", "localhost", "ca") &&
                Leaf("cli", "client", "ca") && Leaf("bad", "badclient", "other");
        Run("mkdir " + m_Dir.File("cadir") + " " + m_Dir.File("otherdir") + " && cp " + m_Dir.File("ca.pem") + " " +
            m_Dir.File("cadir/") + " && cp " + m_Dir.File("other.pem") + " " + m_Dir.File("otherdir/"));
    }
    bool Ok() const { return m_bOk; }
    std::string File(const std::string &name) const { return m_Dir.File(name); }

private:
    bool Run(const std::string &cmd) {
        std::string out;
        return RunTool("cd " + m_Dir.File("") + " && " + cmd, &out) == 0;
    }
    bool Ca(const std::string &name, const std::string &cn) {
        return Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + name +
                   ".key -out " + name + ".pem -days 30 -subj /CN=" + cn);
    }
    bool Leaf(const std::string &name, const std::string &cn, const std::string &ca) {
        return Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + name + ".key -out " +
                   name + ".csr -subj /CN=" + cn) &&
               Run("openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca + ".key -CAcreateserial -out " +
                   name + ".pem -days 30");
    }
    ScratchDir m_Dir;
    bool m_bOk = false;
};

// `openssl s_server -rev` (and the extra options) in the background on a port the kernel picks,
// stopped with the object.
class ReverseServer {
public:
    explicit ReverseServer(const TlsPki &pki, const std::string &extra = "") {
        std::string pidFile = pki.File("server.pid"), outFile = pki.File("server.out");
        unlink(outFile.c_str());  // the background shell creates it anew; never read the last server's
        std::system(("openssl s_server -accept 127.0.0.1:0 -cert " + pki.File("srv.pem") + " -key " + pki.File("srv.key") +
                     " -rev " + extra + " >" + outFile + " 2>/dev/null & echo $! > " + pidFile)
                        .c_str());
        m_iPid = std::stoi(FirstLine(pidFile, ""));
        // The tool prints "ACCEPT 127.0.0.1:<port>" once it listens.
        std::string accept = FirstLine(outFile, "ACCEPT ");
        size_t colon = accept.rfind(':');
        m_iPort = colon == std::string::npos ? 0 : std::atoi(accept.c_str() + colon + 1);
    }
    ~ReverseServer() { Stop(); }
    void Stop() {
        if (m_iPid > 0)
            kill(m_iPid, SIGTERM);
        m_iPid = 0;
    }
    int Port() const { return m_iPort; }

private:
    // The first line of the file that starts with the prefix, waiting for it to appear.
    static std::string FirstLine(const std::string &path, const std::string &prefix) {
        for (int i = 0; i < 1000; i++) {
            std::ifstream in(path);
            std::string s;
            while (std::getline(in, s))
                if (!s.empty() && s.compare(0, prefix.size(), prefix) == 0)
                    return s;
            usleep(20 * 1000);
        }
        return "0";
    }
    int m_iPort = 0;
    int m_iPid = 0;
};

// The library initialised with the test PKI; the CA directory of local configuration item 20 is
// reset after each test.
class TlsTest : public CryptoTest {
protected:
    void SetUp() override {
        CryptoTest::SetUp();
        ASSERT_TRUE(Pki().Ok());
    }
    void TearDown() override {
        Vorezi::MORVA_CA_PATH_CFG cfg{};
        Vorezi::GetCoreGlobalCtrl()->SetSDKLocalCfg(20, &cfg);
        CryptoTest::TearDown();
    }
    void SetCADir(const std::string &dir, Vorezi::MORVA_VERIFY_CALLBACK fnVerify = nullptr, void *pUser = nullptr) {
        Vorezi::MORVA_CA_PATH_CFG cfg{};
        snprintf(cfg.szCAPath, sizeof(cfg.szCAPath), "%s", Pki().File(dir).c_str());
        cfg.fnVerifyCallBack = fnVerify;
        cfg.pUser = pUser;
        ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->SetSDKLocalCfg(20, &cfg), 1);
    }
    // One set of files for the process: the shared server context keeps the first certificate.
    static TlsPki &Pki() {
        static TlsPki pki;
        return pki;
    }
};

}  // namespace cryptotest
