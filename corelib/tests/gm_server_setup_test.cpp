// A GM TLS server needs the SM suites: a TLS library without them leaves the server not set up
// (alone in its program: the TLS server context is set up once per process).
#include "ssl_test_util.h"

using namespace Vorezi;
using namespace cryptotest;

namespace {

using GmServerSetUp = CryptoTest;

TEST_F(GmServerSetUp, RefusedGmSuitesFailTheSetUp) {
    ScratchDir dir;
    ASSERT_EQ(RunTool("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
                      dir.File("k.pem") + " -out " + dir.File("c.pem") + " -days 1 -subj /CN=gm"),
              0);
    std::string cert = dir.File("c.pem"), key = dir.File("k.pem");
    MORVA_SSL_PARAM param{};
    param.pUserCertificateFile = cert.c_str();
    param.pUserPrivateKeyFile = key.c_str();

    CSSLTrans *pServer = Interim_CreateSSLServerGMEx(6, 0);
    ASSERT_NE(pServer, nullptr);
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(i);
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(Interim_SetSSLServerParam(pServer, &param, sizeof(param)), 0);
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
        EXPECT_EQ(CSSLTrans::GetCtxRecord(SSL_CTX_KIND_TLS_SERVER).bSetUp, 0);
    }
    Interim_DestroySSLTrans(pServer);
}

}  // namespace
