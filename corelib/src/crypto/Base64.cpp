#include "crypto/Base64.h"

namespace Vorezi {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLinePosLimit = 76;  // a break follows the group that takes the position past this

int DecodeChar(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

int Base64Encode(const BYTE *pInput, int iInputLen, char *pOutput, int iOutputSize) {
    if (pInput == nullptr || pOutput == nullptr || iInputLen <= 0 || iOutputSize <= 0) {
        return -1;
    }
    int iOut = 0;
    int iLinePos = 0;
    int i = 0;
    for (; i + 3 <= iInputLen; i += 3) {
        if (iOutputSize - iOut < 4) {
            return -1;
        }
        const uint32_t v = (uint32_t(pInput[i]) << 16) | (uint32_t(pInput[i + 1]) << 8) | pInput[i + 2];
        pOutput[iOut++] = kAlphabet[(v >> 18) & 0x3f];
        pOutput[iOut++] = kAlphabet[(v >> 12) & 0x3f];
        pOutput[iOut++] = kAlphabet[(v >> 6) & 0x3f];
        pOutput[iOut++] = kAlphabet[v & 0x3f];
        iLinePos += 4;
        if (iLinePos > kLinePosLimit) {
            if (iOutputSize - iOut < 2) {
                return -1;
            }
            pOutput[iOut++] = '\r';
            pOutput[iOut++] = '\n';
            iLinePos = 0;
        }
    }
    const int iRest = iInputLen - i;
    if (iRest > 0) {
        if (iOutputSize - iOut < 4) {
            return -1;
        }
        const uint32_t v = (uint32_t(pInput[i]) << 16) | (iRest == 2 ? uint32_t(pInput[i + 1]) << 8 : 0);
        pOutput[iOut++] = kAlphabet[(v >> 18) & 0x3f];
        pOutput[iOut++] = kAlphabet[(v >> 12) & 0x3f];
        pOutput[iOut++] = iRest == 2 ? kAlphabet[(v >> 6) & 0x3f] : '=';
        pOutput[iOut++] = '=';
    }
    return iOut;
}

int Base64Decode(const char *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    if (pInput == nullptr || pOutput == nullptr || iInputLen <= 0 || iOutputSize <= 0) {
        return -1;
    }
    int iOut = 0;
    int iPos = 0;
    bool bPadded = false;  // only line breaks may follow a group with padding
    while (iPos < iInputLen) {
        if (IsLineBreak(pInput[iPos])) {
            ++iPos;
            continue;
        }
        if (bPadded) {
            return -1;
        }
        // Gather the four characters of the group, never reading beyond iInputLen.
        char cGroup[4];
        int iHave = 0;
        while (iHave < 4 && iPos < iInputLen) {
            const char c = pInput[iPos++];
            if (!IsLineBreak(c)) {
                cGroup[iHave++] = c;
            }
        }
        if (iHave < 4) {
            return -1;
        }
        int iValue[4];
        for (int k = 0; k < 4; ++k) {
            iValue[k] = cGroup[k] == '=' ? 0 : DecodeChar(cGroup[k]);
        }
        const int iBytes = cGroup[2] == '=' ? (cGroup[3] == '=' ? 1 : -1) : (cGroup[3] == '=' ? 2 : 3);
        if (iBytes < 0 || iValue[0] < 0 || iValue[1] < 0 || iValue[2] < 0 || iValue[3] < 0 || cGroup[0] == '=' ||
            cGroup[1] == '=') {
            return -1;
        }
        if (iOutputSize - iOut < iBytes) {
            return -1;
        }
        const uint32_t v = (uint32_t(iValue[0]) << 18) | (uint32_t(iValue[1]) << 12) | (uint32_t(iValue[2]) << 6) |
                           uint32_t(iValue[3]);
        pOutput[iOut++] = static_cast<BYTE>(v >> 16);
        if (iBytes > 1) pOutput[iOut++] = static_cast<BYTE>(v >> 8);
        if (iBytes > 2) pOutput[iOut++] = static_cast<BYTE>(v);
        bPadded = iBytes < 3;
    }
    if (iOut >= iOutputSize) {
        return -1;
    }
    pOutput[iOut] = 0;
    return iOut;
}

}  // namespace Vorezi
