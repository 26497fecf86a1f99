// The two ends of the DTLS loss test (dtls_loss.sh), one per namespace.
//   dtls_loss_tool server ADDR PORT SECONDS     the RQS-over-DTLS server link, echoing every record
//   dtls_loss_tool client ADDR PORT CLIENTS LINES
// Each client is an openssl s_client -dtls1_2 whose handshake must complete across the loss (in at
// most three attempts); it then sends numbered lines one at a time, giving each a second for its echo. Lines and echoes
// may be lost, but every echo that arrives is a whole line that was sent, and at least half come
// back. Exit 0 when everything held.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dtls_test_util.h"

using namespace Vorezi;
using namespace srvtest;
using namespace dtlstest;

namespace {

constexpr int kAttempts = 3;

int Serve(const char *pAddr, int iPort, int iSeconds) {
    cryptotest::TlsPki pki;
    if (!pki.Ok() || !Interim_GetCryptionIns()) {
        std::fprintf(stderr, "server: no PKI or no TLS library\n");
        return 1;
    }
    Recorder rec;
    SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_RQS_DTLS, pAddr, (WORD)iPort, &rec);
    SetExt(&c, ServerExt(pki));
    const int h = rec.Create(&c);
    if (h < 0) {
        std::fprintf(stderr, "server: cannot listen on %s:%d\n", pAddr, iPort);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(iSeconds);
    size_t uDone = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        servicetest::WaitFor([&] { return rec.Records().size() > uDone; }, 200);
        const std::vector<Record> all = rec.Records();
        for (; uDone < all.size(); uDone++) {
            const Record &r = all[uDone];
            if (r.data.empty())
                continue;
            SERVER_LINK_SEND_PARAM s{};
            s.pPeerIP = r.peer.c_str();
            s.wPeerPort = (WORD)r.iPeerPort;
            s.pData = r.data.data();
            s.dwDataLen = (DWORD)r.data.size();
            Morva_ServerLinkSendData(h, &s);
        }
    }
    return 0;
}

int Client(const char *pAddr, int iPort, int iClients, int iLines) {
    int iFailed = 0;
    for (int c = 0; c < iClients; c++) {
        // A flight lost again and again can outlast the link's 10-s handshake deadline, which then
        // ends the attempt; the client starts over, as a real one would.
        std::unique_ptr<SClient> pClient;
        int iAttempt = 0;
        const auto t0 = std::chrono::steady_clock::now();
        while (!pClient && iAttempt++ < kAttempts) {
            pClient = std::make_unique<SClient>(iPort, pAddr);
            if (!pClient->WaitConnected(30000)) {
                std::fprintf(stderr, "client %d: attempt %d without a handshake\n%s\n", c, iAttempt,
                             pClient->Output().c_str());
                pClient.reset();
            }
        }
        if (!pClient) {
            iFailed++;
            continue;
        }
        SClient &client = *pClient;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        std::vector<std::string> lines;
        for (int i = 0; i < iLines; i++) {
            lines.push_back("client " + std::to_string(c) + " line " + std::to_string(i) + " " +
                            std::string(size_t(20 + i * 37 % 900), char('a' + i % 26)) + " end");
            client.Write(lines.back() + "\n");
            client.WaitOutput(lines.back() + "\n", 1000);
        }
        const std::string out = client.Output();
        int iEchoed = 0;
        for (const std::string &line : lines)
            iEchoed += out.find(line + "\n") != std::string::npos;
        std::printf("client %d: handshake %lld ms in %d attempts, %d of %d echoed\n", c, (long long)ms.count(), iAttempt,
                    iEchoed, iLines);
        if (2 * iEchoed < iLines) {
            std::fprintf(stderr, "client %d: too few echoes\n", c);
            iFailed++;
        }
    }
    return iFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5 || GetCoreGlobalCtrl()->Init() != 1)
        return 2;
    const int iRet = std::strcmp(argv[1], "server") == 0
                         ? Serve(argv[2], std::atoi(argv[3]), std::atoi(argv[4]))
                         : (argc < 6 ? 2 : Client(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])));
    GetCoreGlobalCtrl()->Fini();
    return iRet;
}
