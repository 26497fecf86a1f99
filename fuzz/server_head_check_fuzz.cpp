// The TCP server link's command-head check over receives cut where the input says. Byte 0 is
// the number of cuts (low 3 bits), the next bytes their lengths; the rest is the stream. What is
// delivered must equal the stream less one valid head (or all of it when it has none), and a
// head with a short length byte must end the connection with nothing delivered.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"

using namespace Vorezi;

namespace {

CServerLinkTCP *Link() {
    static CServerLinkTCP *pLink = [] {
        GetCoreGlobalCtrl()->Init();
        return new (-1) CServerLinkTCP;
    }();
    return pLink;
}

std::string Expected(const std::string &stream, bool *pbBad) {
    *pbBad = false;
    if (stream.size() < SERVER_LINK_HEAD_LEN || stream.compare(0, 4, "QDBD") != 0)
        return stream;
    if ((unsigned char)stream[12] < SERVER_LINK_HEAD_LEN) {
        *pbBad = true;
        return "";
    }
    return stream.substr(SERVER_LINK_HEAD_LEN);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t nCuts = data[0] & 7;
    size_t pos = 1;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < nCuts && pos < size; i++)
        cuts.push_back(1 + data[pos++] % 64);
    const std::string stream(reinterpret_cast<const char *>(data + pos), size - pos);

    CHeadCheck head(Link(), 1);
    std::string delivered;
    bool bEnded = false;
    size_t at = 0;
    for (size_t c = 0; at < stream.size() && !bEnded; c++) {
        const size_t len = c < cuts.size() ? std::min(cuts[c], stream.size() - at) : stream.size() - at;
        std::vector<char> buf(SERVER_LINK_HEAD_ROOM + len);
        std::memcpy(buf.data() + SERVER_LINK_HEAD_ROOM, stream.data() + at, len);
        at += len;
        char *pOut;
        DWORD dwOut;
        const BYTE *pAreaB;
        const int r = head.Take(buf.data() + SERVER_LINK_HEAD_ROOM, (DWORD)len, &pOut, &dwOut, &pAreaB);
        if (r == CHeadCheck::HEAD_BAD)
            bEnded = true;
        else if (r == CHeadCheck::HEAD_DELIVER)
            delivered.append(pOut, dwOut);
    }
    bool bBad;
    const std::string expected = Expected(stream, &bBad);
    // A stream that ends before deciding delivers nothing yet: a prefix of a head.
    const bool bUndecided = !bEnded && delivered.empty() && stream.size() < SERVER_LINK_HEAD_LEN &&
                            (stream.size() < 4 || stream.compare(0, 4, "QDBD") == 0);
    if (bEnded != bBad || (!bUndecided && delivered != expected))
        __builtin_trap();
    return 0;
}
