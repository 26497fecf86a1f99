// Flat forwarders of the port pools: the numbered pools of the port-pool manager and the
// controller's global TCP and UDP pools. Each needs an initialised library.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "morva/MorvaNetwork.h"
#include "transport/port/PortPoolMgr.h"

using namespace Vorezi;

namespace {
constexpr WORD kTypeTcp = 1;
constexpr WORD kNoPort = 0xFFFF;

bool Inited() { return Ctrl()->CheckInit() != 0; }

CPortPoolMgr *PoolMgr(const char *pFailText) {
    CPortPoolMgr *pMgr = Ctrl()->GetPortPoolMgr();
    if (!pMgr)
        LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
    return pMgr;
}
}  // namespace

int Morva_CreateTcpPortPoolEx(const char *pLocalAddr, WORD wMinPort, WORD wMaxPort, DWORD bIPv6) {
    if (!Inited())
        return -1;
    CPortPoolMgr *pMgr = PoolMgr("Morva_CreateTcpPortPoolEx, GetPortPoolMgr Failed");
    return pMgr ? pMgr->CreatePortPool(pLocalAddr, bIPv6 ? 23 : 2, kTypeTcp, wMinPort, wMaxPort) : -1;
}

WORD Morva_GetTcpPortEx(int nPortPool) {
    if (!Inited())
        return 0;
    CPortPoolMgr *pMgr = PoolMgr("Morva_GetTcpPortEx, GetPortPoolMgr Failed");
    return pMgr ? pMgr->GetPort(nPortPool) : 0;
}

void Morva_ResuseTcpPortEx(int nPortPool, WORD wPort) {
    if (!Inited())
        return;
    if (CPortPoolMgr *pMgr = PoolMgr("Morva_ResuseTcpPortEx, GetPortPoolMgr Failed"))
        pMgr->ResusePort(nPortPool, wPort);
}

int Morva_DestroyTcpPortPoolEx(int nPortPool) {
    if (!Inited())
        return 0;
    CPortPoolMgr *pMgr = PoolMgr("Morva_DestroyTcpPortPoolEx, GetPortPoolMgr Failed");
    return pMgr ? pMgr->DestroyPortPool(nPortPool) : 0;
}

int Morva_CreateTcpPortPool(void) { return Inited() ? Ctrl()->CreateTcpPortPool() : -1; }
int Morva_CreateUdpPortPool(void) { return Inited() ? Ctrl()->CreateUdpPortPool() : -1; }

int Morva_ClearTcpPortPool(void) {
    if (!Inited())
        return 0;
    Ctrl()->ClearTcpPortPool();
    return 1;
}

int Morva_ClearUdpPortPool(void) {
    if (!Inited())
        return 0;
    Ctrl()->ClearUdpPortPool();
    return 1;
}

WORD Morva_GetTcpPort(WORD wAddrFamily) { return Inited() ? Ctrl()->GetTcpPort(wAddrFamily) : kNoPort; }
WORD Morva_GetUdpPort(WORD wAddrFamily) { return Inited() ? Ctrl()->GetUdpPort(wAddrFamily) : kNoPort; }

int Morva_ReleaseTcpPort(WORD wPort) {
    if (!Inited())
        return 0;
    Ctrl()->ReleaseTcpPort(wPort);
    return 1;
}

int Morva_ReleaseUdpPort(WORD wPort) {
    if (!Inited())
        return 0;
    Ctrl()->ReleaseUdpPort(wPort);
    return 1;
}

void Morva_GetTcpPortRange(WORD *pMin, WORD *pMax) {
    if (Inited() && pMin && pMax)
        Ctrl()->GetTcpPortRange(pMin, pMax);
}

void Morva_SetTcpPortRange(WORD wMin, WORD wMax) {
    if (Inited())
        Ctrl()->SetTcpPortRange(wMin, wMax);
}

void Morva_SetPortRange(WORD wMin, WORD wMax) {
    Morva_SetTcpPortRange(wMin, wMax);
}

void Morva_SetTcpPortRangeEx(const WORD *pMin, const WORD *pMax) {
    if (pMin && pMax)
        Ctrl()->SetTcpPortRange(*pMin, *pMax);
}

DWORD Morva_IsTcpPortPool(void) { return Inited() ? Ctrl()->IsTcpPortPool() : 0; }
DWORD Morva_IsUdpPortPool(void) { return Inited() ? Ctrl()->IsUdpPortPool() : 0; }
