// CGlobalCtrl, the SDK's one controller: configuration, start and stop, one service per network
// adapter, the found-device list, the capture-library object and two background threads (the
// periodic inquiry and the address check).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "base/AnswerCopies.h"
#include "base/DevIndex.h"
#include "module/protocol/AnswerBlocks.h"
#include "utils/SdkError.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "zeva/ZevaSdk.h"

namespace ZEVA {

class CService;
class CLibpcap;
enum Exchange : uint8_t;

enum enumLibTag { LIB_TAG_PCAP = 0, LIB_TAG_SSL = 1, LIB_TAG_CRYPTO = 2 };

constexpr int MAX_SERVICE_NUM = 10;
constexpr int MAX_DEVICE_NUM = 5000;
constexpr int CFG_PATH_LEN = 260;   // configuration texts: 259 characters and a terminator
constexpr int LIB_PATH_LEN = 257;
constexpr int CFG_FILE_READ = 1024; // bytes of ZEVASDK.xml that are read
constexpr uint32_t SALT_TEXT_LEN = 64;

extern const char *const ZEVA_VERSION_BANNER;

// One slot of the found-device list.
struct DEVICE_LIST_ITEM {
    ZEVA_DEVICE_INFO struDevInfo;
    uint16_t wMissCount;      // inquiry cycles since the device last answered
    uint32_t dwOnline;        // 1 online, 0 reported offline
    uint8_t bySupportFlag[14];
    char szSalt[65];
    char szSalt2[65];
    uint8_t byProtocol;       // 1 protocol 3.0, else 3.1
};
static_assert(sizeof(DEVICE_LIST_ITEM) == 1172, "list record size");

// Marks the calling thread as running an export while it lives: only export threads write the
// last error that ZEVA_GetLastError reports; background threads keep their codes to themselves.
class CExportScope {
public:
    CExportScope();
    ~CExportScope();
    CExportScope(const CExportScope &) = delete;
    CExportScope &operator=(const CExportScope &) = delete;
};

class CGlobalCtrl {
public:
    static CGlobalCtrl *GetInstance();
    // The interface lock: serialises the exports that act on the SDK's state.
    static yar::yar_mutex &InterfaceLock();

    int Init(pDeviceFindCallBack fnOldDevCB, pDeviceFindCallBack fnNewDevCB,
             pSubnetDeviceFindCallBack fnSubnetCB, void *pUserData);
    int Fini();
    int FreeResource();
    int Cleanup();
    int SendInquiry();
    // The subnet inquiry on every service: 1 when one of them sent it.
    int InquirySpecificSubnet(const ZEVA_SUBNET_INFO *pSubnetInfo);
    // A device answer from the host, dispatched on every service.
    int ParseData(const char *pData, uint32_t dwLen);

    // The files below the controller set the last error and report a failed send through
    // utils/SdkLastError.h, which forwards to these.
    void SetLastError(uint32_t dwError);
    uint32_t GetLastError() const { return m_dwLastError.load(); }
    // The calling thread's own last code, whichever thread it is.
    static uint32_t GetThreadLastError();
    // A socket send failed: the address-check thread looks at the adapters at once.
    void NoteSendFailed() { m_bSendFailed.store(true); }

    int SetLogParam(int32_t iLevel, const char *pDir, uint32_t bAutoDel);
    uint32_t SetAutoRequestInterval(uint32_t dwInterval);
    int SetDeviceFilterRule(int32_t iRule, const void *pInBuff, uint32_t dwInBufLen);
    bool IsStarted() const { return m_bStarted.load() != 0; }

    int ReadConfigFile();
    // The same from a given file (tests point it elsewhere).
    int ReadConfigFileAt(const char *pPath);
    // Reads the settings from the text of a configuration file (at most 1024 bytes are used).
    void ParseConfigText(const char *pText, uint32_t dwLen);
    int GetModulePath(char *pOut);

    int SetDynamicPath(int iTag, const char *pPath);
    const char *GetDynamicPath(int iTag);           // the fallback path
    const char *GetDynamicLoadPath(int iTag);       // its second form: the configured path
    CLibpcap *GetDynamicObject(int iTag);
    int DynamicLibLoad(int iTag);

    void FreeDevList();

    // The found-device list. Every parsed device answer goes through UpdateDevList, which stores
    // it and reports it as new, changed or back online; the host callbacks run with the list
    // mutex held, so they must not call an export that takes it or the interface lock. With the
    // digest of the answer's bytes, later copies of them are known (TakeAnswerCopy).
    void UpdateDevList(ZEVA_DEVICE_INFO *pDev, uint16_t wAdapterIndex, const char *pSalt, const char *pSalt2,
                       uint8_t byProtocol, const ANSWER_DIGEST *pDigest = nullptr);
    ANSWER_DIGEST DigestAnswer(const char *pData, uint32_t dwLen) const { return m_AnswerCopies.Digest(pData, dwLen); }
    // True for a copy of a device answer whose slot still holds what the answer left there: the
    // device counts as having answered (as UpdateDevList would count it), and nothing else is
    // left to do. Takes no list lock.
    bool TakeAnswerCopy(const ANSWER_DIGEST &digest);
    // The same bytes in hand on another receive thread right now are a copy as well (false).
    bool ClaimAnswer(const ANSWER_DIGEST &digest) { return m_AnswerCopies.Claim(digest); }
    void ReleaseAnswer(const ANSWER_DIGEST &digest) { m_AnswerCopies.Release(digest); }
    void UpdateSubnetDevList(ZEVA_SUBNET_DEVICE_INFO *pDev, uint16_t wAdapterIndex);
    int SearchDevice(const char *pMAC, DEVICE_LIST_ITEM *pOut);
    int SearchDeviceBySN(const char *pSerial, DEVICE_LIST_ITEM *pOut);
    int IsDeviceFilter(const ZEVA_DEVICE_INFO *pDev);
    int CompareDevInfo(uint32_t dwIndex, const ZEVA_DEVICE_INFO *pDev, const char *pSalt, const char *pSalt2,
                       uint8_t byProtocol);
    int UpdateDevInfo(uint32_t dwIndex, const ZEVA_DEVICE_INFO *pDev, const char *pSalt, const char *pSalt2,
                      uint8_t byProtocol);
    int CallbackDev(ZEVA_DEVICE_INFO *pDev);
    int CallbackSubnetDev(ZEVA_SUBNET_DEVICE_INFO *pDev);
    void PrintDevInfo(uint16_t wAdapterIndex, const ZEVA_DEVICE_INFO *pDev);
    // Run after each periodic inquiry: one more missed cycle for every device, and the offline
    // report of those that missed three.
    void OfflineSweep();

    // The settings as read, for the tests.
    int32_t GetLogLevel() const { return m_iLogLevel; }
    const char *GetLogDir() const { return m_szLogDir; }
    uint32_t GetAutoDel() const { return m_bAutoDel; }
    const char *GetCryptoPath() const { return m_szCryptoPath; }
    const char *GetSslPath() const { return m_szSslPath; }
    const char *GetPcapPath() const { return m_szPcapPath; }
    uint32_t GetPcapFlag() const { return m_bPcap; }
    uint32_t GetMulticastFlag() const { return m_bMulticast; }
    uint32_t GetCheckIPFlag() const { return m_bCheckIP; }
    uint32_t GetCheckIPInterval() const { return m_dwCheckIPInterval; }
    uint32_t GetTimeout() const { return m_dwTimeout; }

    // -- device requests: each finds the device, fetches its random string where the request
    //    carries secrets, lets every service send, waits for the answer and maps it to the
    //    last error. 1 on the device's success.
    int Active(const char *pSerial, const char *pPassword);
    int GetExchangecode(const DEVICE_LIST_ITEM &dev, uint8_t byProtocol);
    // bySelect 1: pId is the serial number, 0: the MAC.
    int GetDeviceConfig(uint32_t bySelect, const char *pId, uint32_t dwCommand, const void *pIn, uint32_t dwInSize,
                        void *pOut, uint32_t dwOutSize);
    int SetDeviceConfig(uint32_t bySelect, const char *pId, uint32_t dwCommand, const void *pIn, uint32_t dwInSize,
                        void *pOut, uint32_t dwOutSize);
    // pRet receives the 2-byte result word.
    int ModifyDeviceNetParam(const char *pMAC, const char *pPassword, const ZEVA_NET_PARAM *pParam, void *pRet);
    int ResetPasswd(const char *pSerial, const ZEVA_RESET_PARAM *pParam, void *pRet);
    // The user name of the device (at most 32 characters and a terminator into pOut).
    int GetUserName(const char *pMAC, char *pOut);
    int WaitDevResponse();
    int ParseDevResponse();
    void SetDevResponse(int iCode);
    int GetDevResponse() const { return m_iDevResponse.load(); }
    // From a service's receive thread: the answer's block of its kind, then its code.
    void StoreDevAnswer(AnswerKind kind, const uint8_t *pBlock, int iCode);

private:
    CGlobalCtrl();

    // The middle of every request: the answer code, the last error and the given answer blocks
    // are cleared, every service sends (one that succeeds is enough), then the wait for the answer.
    template <typename Send>
    void SendAndWait(std::initializer_list<AnswerKind> kinds, Send send);
    int FindForRequest(const char *pFunc, uint32_t bySelect, const char *pId, DEVICE_LIST_ITEM *pOut);
    bool ExchangeFirst(const DEVICE_LIST_ITEM &dev, Exchange exchange, char *pCode);
    // Copies bytes of an answer block to the caller.
    void ReadAnswer(AnswerKind kind, uint32_t dwOffset, void *pOut, uint32_t dwLen);
    void CopyGetResult(uint32_t dwCommand, const DEVICE_LIST_ITEM &dev, void *pOut, uint32_t dwOutSize);

    int FailInit(uint32_t dwError, const char *pLine);
    int StartServices();
    // Runs fn on every service when started: 1 when one of them succeeded.
    template <class Fn>
    int AskEveryService(const char *pNotStarted, const char *pSuccess, Fn fn);
    bool CreateQueryThread();
    bool CreateCheckIPThread();
    void StopQueryThread();
    void StopCheckIPThread();
    void SendInquiryOnServices();
    void RestartServices();
    bool WaitUnlessStopping(uint32_t dwMs);
    bool LockForRestart();
    int LoadFromPath(const char *pPath, int iStep);
    const char *PathOfTag(const char (&paths)[3][LIB_PATH_LEN], int iTag);

    static bool IsRuleOneFiltered(const ZEVA_DEVICE_INFO &dev);
    // A record for the next new slot, allocated before the list lock is taken.
    void KeepSpareItem();
    uint32_t SlotVersion(uint32_t dwSlot) const { return m_dwSlotState[dwSlot].load() >> 1; }
    void ChangeSlotVersion(uint32_t dwSlot) { m_dwSlotState[dwSlot].fetch_add(2); }
    // One more missed cycle for the slot, or the first one since it answered; true when the
    // device has now missed enough to be reported offline.
    bool CountMissedCycle(uint32_t dwSlot);
    void ReportDevice(ZEVA_DEVICE_INFO *pDev);
    int FindDevice(const char *pText, size_t offset, size_t width, const char *pFunc, DEVICE_LIST_ITEM *pOut);

    static uint32_t LocalSendInquiryThread(void *pParam);
    static uint32_t LocalCheckIPThread(void *pParam);

    std::atomic<uint32_t> m_bStarted{0};
    std::atomic<uint32_t> m_dwLastError{0};

    // Configuration, read from ZEVASDK.xml at every first start.
    int32_t m_iLogLevel;
    char m_szLogDir[CFG_PATH_LEN];
    uint32_t m_bAutoDel;
    char m_szCryptoPath[CFG_PATH_LEN];
    char m_szSslPath[CFG_PATH_LEN];
    char m_szPcapPath[CFG_PATH_LEN];
    uint32_t m_bPcap;
    uint32_t m_bMulticast;
    uint32_t m_bCheckIP;
    uint32_t m_dwCheckIPInterval;
    uint32_t m_dwTimeout;

    std::atomic<uint32_t> m_dwInitCount{0};
    uint32_t m_dwServiceNum = 0;  // services created by the running start
    std::unique_ptr<CService> m_pService[MAX_SERVICE_NUM];

    std::unique_ptr<DEVICE_LIST_ITEM> m_pDevList[MAX_DEVICE_NUM];
    uint32_t m_dwDeviceNum = 0;
    YAR_MUTEX_T m_hListMutex = YAR_MUTEX_INITIALIZER;
    // Beside the slots, under the list mutex: where each MAC and each serial is.
    CDevIndex m_MacIndex{m_pDevList, offsetof(ZEVA_DEVICE_INFO, szMAC), sizeof(ZEVA_DEVICE_INFO::szMAC)};
    CDevIndex m_SerialIndex{m_pDevList, offsetof(ZEVA_DEVICE_INFO, szSerialNOEx),
                            sizeof(ZEVA_DEVICE_INFO::szSerialNOEx)};
    // Per slot, version << 1 | answered: the version changes whenever the slot's record or its
    // online state does (so remembered answers of the slot no longer count as copies); the low
    // bit is a copy's answer since the last sweep, which the sweep counts as the device's.
    std::atomic<uint32_t> m_dwSlotState[MAX_DEVICE_NUM] = {};
    // A record made ready for the next new slot, owned here until a slot takes it.
    std::atomic<DEVICE_LIST_ITEM *> m_pSpareItem{nullptr};
    CAnswerCopies m_AnswerCopies;

    // Written under the list mutex: the receive threads report devices through them.
    pDeviceFindCallBack m_fnOldDevCB = nullptr;
    pDeviceFindCallBack m_fnNewDevCB = nullptr;
    pSubnetDeviceFindCallBack m_fnSubnetCB = nullptr;
    void *m_pUserData = nullptr;

    std::atomic<int32_t> m_iFilterRule{0};
    std::atomic<uint32_t> m_dwOEMDetailCode{0};
    std::atomic<uint32_t> m_dwAutoRequestInterval{60};

    YAR_HANDLE m_hQueryThreadId = nullptr;
    std::atomic<uint32_t> m_bStopQueryThread{1};
    YAR_HANDLE m_hCheckIPThreadId = nullptr;
    std::atomic<uint32_t> m_bStopCheckIPThread{1};
    std::atomic<bool> m_bSendFailed{false};

    YAR_MUTEX_T m_hLibLock = YAR_MUTEX_INITIALIZER;
    std::unique_ptr<CLibpcap> m_pCLibpcap;
    char m_szDynamicPath[3][LIB_PATH_LEN] = {};      // fallback paths, by library tag
    char m_szDynamicLoadPath[3][LIB_PATH_LEN] = {};  // configured paths, by library tag
    char m_szModulePath[256] = {};

    // The answer of the request that waits: a receive thread stores the block under the lock,
    // then the code; the requesting thread reads the block once the code has changed.
    std::atomic<int32_t> m_iDevResponse{ANSWER_WAITING};
    YAR_MUTEX_T m_hAnswerMutex = YAR_MUTEX_INITIALIZER;
    uint8_t m_byAnswer[ANSWER_KIND_NUM][ANSWER_BLOCK_MAX] = {};
};

}  // namespace ZEVA
