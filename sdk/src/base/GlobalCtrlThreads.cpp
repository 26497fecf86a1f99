// The controller's two background threads: the periodic inquiry and the address check, which
// restarts the services when the adapters' addresses change.
#include "base/GlobalCtrl.h"

#include "module/adapter/AdapterInfo.h"
#include "module/device/Service.h"
#include "utils/SdkLog.h"
#include "utils/SdkThread.h"
#include "yar/yar_addr.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace ZEVA {

namespace {

constexpr uint32_t kRestartDelayMs = 10000;  // settling time after an address change

}  // namespace

bool CGlobalCtrl::CreateQueryThread() {
    m_bStopQueryThread.store(0);
    m_hQueryThreadId = YAR_Thread_Create(LocalSendInquiryThread, this, 0, 0, 0, 0);
    return m_hQueryThreadId != nullptr;
}

bool CGlobalCtrl::CreateCheckIPThread() {
    m_bStopCheckIPThread.store(0);
    m_hCheckIPThreadId = YAR_Thread_Create(LocalCheckIPThread, this, 0, 0, 0, 0);
    return m_hCheckIPThreadId != nullptr;
}

void CGlobalCtrl::StopQueryThread() {
    m_bStopQueryThread.store(1);
    JoinThreadLogged(m_hQueryThreadId, "CGlobalCtrl::Cleanup", "m_hQueryThreadId");
}

void CGlobalCtrl::StopCheckIPThread() {
    m_bStopCheckIPThread.store(1);
    JoinThreadLogged(m_hCheckIPThreadId, "CGlobalCtrl::Cleanup", "m_hCheckIPThreadId");
}

template <class Fn>
int CGlobalCtrl::AskEveryService(const char *pNotStarted, const char *pSuccess, Fn fn) {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("%s", pNotStarted);
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    int sent = 0;
    for (const std::unique_ptr<CService> &service : m_pService) {
        if (service && fn(*service)) {
            ZEVA_LOG_INF("%s", pSuccess);
            sent = 1;
        }
    }
    return sent;
}

int CGlobalCtrl::SendInquiry() {
    return AskEveryService("[CGlobalCtrl::SendInquiry] ZEVA not start", "[SendInquiry] Success!",
                           [](CService &service) { return service.SendInquiry(); });
}

int CGlobalCtrl::InquirySpecificSubnet(const ZEVA_SUBNET_INFO *pSubnetInfo) {
    return AskEveryService("[CGlobalCtrl::InquirySpecificSubnet] ZEVA not start",
                           "[CGlobalCtrl::InquirySpecificSubnet] Success!",
                           [pSubnetInfo](CService &service) { return service.InquirySpecificSubnet(pSubnetInfo); });
}

int CGlobalCtrl::ParseData(const char *pData, uint32_t dwLen) {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("[CGlobalCtrl::ParseData] ZEVA not start");
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    for (uint32_t i = 0; i < m_dwServiceNum; ++i)
        if (m_pService[i])
            m_pService[i]->ProcessUdpData(pData, dwLen, SOURCE_UNICAST);
    return 1;
}

void CGlobalCtrl::SendInquiryOnServices() {
    for (uint32_t i = 0; i < m_dwServiceNum; ++i)
        if (m_pService[i])
            m_pService[i]->SendInquiry();
}

uint32_t CGlobalCtrl::LocalSendInquiryThread(void *pParam) {
    CGlobalCtrl *self = static_cast<CGlobalCtrl *>(pParam);
    uint64_t last = YAR_GetTimeTick();
    while (!self->m_bStopQueryThread.load()) {
        uint32_t interval = self->m_dwAutoRequestInterval.load();
        if (interval == 0) {
            YAR_Sleep(10);  // no periodic inquiry; look at the setting again shortly
            continue;
        }
        if (YAR_GetTimeTick() - last > uint64_t(interval) * 1000) {
            uint32_t devices = 0;
            {
                yar::yar_guard guard(&self->m_hListMutex);
                devices = self->m_dwDeviceNum;
            }
            ZEVA_LOG_INF("[CGlobalCtrl::LocalSendInquiryThread] m_dwDeviceNum[%d]", devices);
            self->SendInquiryOnServices();
            self->OfflineSweep();
            last = YAR_GetTimeTick();
        }
        YAR_Sleep(5);
    }
    return 0;
}

// Sleeps in short steps; false as soon as the address-check thread is told to stop.
bool CGlobalCtrl::WaitUnlessStopping(uint32_t dwMs) {
    for (uint32_t waited = 0; waited < dwMs; waited += 100) {
        if (m_bStopCheckIPThread.load())
            return false;
        YAR_Sleep(100);
    }
    return !m_bStopCheckIPThread.load();
}

// The restart runs under the interface lock, so no export sends on a service meanwhile. A stop
// holds that lock while it joins this thread, so the wait gives up once the stop flag is set.
bool CGlobalCtrl::LockForRestart() {
    while (InterfaceLock().TryLock() != 0) {
        if (m_bStopCheckIPThread.load())
            return false;
        YAR_Sleep(10);
    }
    return true;
}

void CGlobalCtrl::RestartServices() {
    if (!LockForRestart())
        return;
    StopQueryThread();
    for (const std::unique_ptr<CService> &service : m_pService)
        if (service)
            service->Stop();
    CAdapterInfo *adapters = CAdapterInfo::GetInstance();
    for (int i = 0; i < MAX_SERVICE_NUM; ++i) {
        if (!m_pService[i] || m_pService[i]->Start(m_bMulticast, 0))
            continue;
        ADAPTER_ENTRY e{};
        adapters->GetAdapter(i, &e);
        char ipv6[64] = {};
        YAR_InetNtop(YAR_AF_INET6, e.byIPv6, ipv6, sizeof ipv6);
        ZEVA_LOG_ERR("[CGlobalCtrl::LocalCheckIPThread] Start AdapterNum[%d] service failed, syestem Error is %d!  "
                     "ipv4[%s] mac[%s] ipv6[%s] desc[%s]",
                     i, Morva_GetSysLastError(), e.szIPv4, e.szMAC, ipv6, e.szDesc);
    }
    // The inquiry thread comes back once the services are running again.
    if (!CreateQueryThread())
        ZEVA_LOG_ERR("[CGlobalCtrl::LocalCheckIPThread] YAR_Thread_Create Query failed!");
    InterfaceLock().Unlock();
}

uint32_t CGlobalCtrl::LocalCheckIPThread(void *pParam) {
    CGlobalCtrl *self = static_cast<CGlobalCtrl *>(pParam);
    uint64_t last = YAR_GetTimeTick();
    while (!self->m_bStopCheckIPThread.load()) {
        bool due = YAR_GetTimeTick() - last > uint64_t(self->m_dwCheckIPInterval) * 1000;
        if (self->m_bSendFailed.exchange(false) || due) {
            last = YAR_GetTimeTick();
            if (CAdapterInfo::GetInstance()->IsAdapterChanged(1, 0)) {
                if (!self->WaitUnlessStopping(kRestartDelayMs))
                    break;
                ZEVA_LOG_INF("[CGlobalCtrl::LocalCheckIPThread] IP address changed[%d]", 1);
                self->RestartServices();
            }
        }
        YAR_Sleep(100);
    }
    return 0;
}

}  // namespace ZEVA
