// The SOCKS5 handshake messages (RFC 1928, no authentication sub-negotiation), built and checked
// byte by byte. The links only know the methods 0x00 (none) and the private method 0x80.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {
namespace socks5 {

constexpr BYTE kVersion = 0x05;
constexpr BYTE kMethodNone = 0x00;
constexpr BYTE kMethodPrivate = 0x80;
constexpr BYTE kMethodRefused = 0xFF;
constexpr BYTE kCmdConnect = 0x01;
constexpr BYTE kAtypIPv4 = 0x01;
constexpr BYTE kAtypDomain = 0x03;
constexpr BYTE kAtypIPv6 = 0x04;
constexpr BYTE kRepSucceeded = 0x00;
constexpr BYTE kRepGeneralFailure = 0x01;
constexpr BYTE kRepCmdNotSupported = 0x07;
constexpr BYTE kRepAtypNotSupported = 0x08;

constexpr DWORD kMethodRequestLen = 3;
constexpr DWORD kMethodReplyLen = 2;
constexpr DWORD kConnectRequestMax = 22;
constexpr DWORD kHeadLen = 4;  // VER, CMD or REP, RSV, ATYP
constexpr DWORD kPortLen = 2;
constexpr DWORD kServerReplyLen = 10;
constexpr DWORD kMaxDomainLen = 128;

// VER 5, one method, 0x80; the length, 3.
DWORD BuildMethodRequest(BYTE *pBuf);

// A CONNECT to the address text (IPv4 dotted or IPv6) and port (host order). 0 for a buffer
// shorter than 22 or a text that is no address (a host name is never sent).
int BuildConnectRequest(const char *pDstText, WORD wPort, BYTE *pBuf, DWORD dwSize, DWORD *pLen);

// A method reply: 1 with the method when VER is 5 and the method one of ours.
int CheckMethodReply(const BYTE *pReply, BYTE *pMethod);

// The head of a CONNECT reply: 1 when VER is 5 and REP means success (0x00, or 0x01 after the
// private method, which our own server answers), with *pMore the bytes still to read: 6 or 18,
// or 1 for a domain (its length byte; then DomainTailLen). 0 otherwise.
int CheckConnectReplyHead(const BYTE *pHead, BYTE byMethod, DWORD *pMore);
inline DWORD DomainTailLen(BYTE byLen) { return (DWORD)byLen + kPortLen; }

// The method the server takes from the client's list: the first 0x80, else 0x00; -1 for none.
int SelectMethod(const BYTE *pMethods, DWORD dwCount);

// The server's REP for a granted request: 0x00 after method 0x00; 0x01 after the private method,
// whose clients expect it.
BYTE GrantedReply(BYTE byMethod);
// VER, REP, RSV, ATYP 1, then six zero bytes.
void BuildServerReply(BYTE byRep, BYTE *pOut);

}  // namespace socks5
}  // namespace Vorezi
