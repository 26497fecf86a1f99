// What the two UDP transports share: the socket's creation with its receive buffer and address
// reuse, its close, and sending.
#pragma once

#include "module/io/DatagramBatch.h"
#include "module/io/IOBase.h"

namespace ZEVA {

class CIOSocket : public CIOBase {
public:
    int Fini() override;
    int SendData(const void *pData, uint32_t dwDataLen, const YAR_ADDR_T *pAddr) override;
    // Wakes a thread blocked in RecvData without closing the socket: the owner joins its
    // reader first and closes afterwards, so the descriptor is never reused under the reader.
    void Wake();
    // Adds to the batch what is queued behind the datagram its first slot holds.
    void TakeQueued(CDatagramBatch &batch);
    // Sends the datagrams in order to one IPv4 address in as few calls as it can; the number
    // sent before the first one refused, which is the caller's to retry through SendData (that
    // reports the failure).
    uint32_t SendBatch(const DATAGRAM *pDatagrams, uint32_t dwCount, const YAR_ADDR_T &to);

protected:
    // pClass and pSocketName name the object in its log lines ("[CIOUDP::Fini] m_hUdpSocket[%d]").
    CIOSocket(const char *pClass, const char *pSocketName) : m_pClass(pClass), m_pSocketName(pSocketName) {}
    ~CIOSocket();

    // Creates the UDP socket with an 8 MiB receive buffer and address reuse; pWhere names the
    // calling step in the log. False (error 2012) closes the socket again.
    bool OpenSocket(const char *pWhere);
    // Binds the wildcard address on the port; false (error 2013) closes the socket.
    bool BindPort(const char *pWhere, const char *pLogIP);
    void Fail(uint32_t dwError);
    // The checks every RecvData starts with; false (2005 for bad arguments) when it cannot read.
    bool CanRecv(const void *pBuf, uint32_t dwBufLen, const uint32_t *pRecvLen);

    int m_hSocket = -1;
    // The adapter's address: the interface of a multicast join, and the address in the log lines.
    // The sockets themselves bind the wildcard address.
    char m_szIP[16] = {};
    uint16_t m_wPort = 0;

private:
    const char *m_pClass;
    const char *m_pSocketName;
};

}  // namespace ZEVA
