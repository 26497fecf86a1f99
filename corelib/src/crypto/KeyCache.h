// The two key caches of the global controller: one RSA-1024 and one RSA-2048 pair, and one ECDH
// key set per curve, each renewed by its own refresh thread every 60 seconds.
#pragma once

#include <atomic>

#include "morva/MorvaCrypto.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"

namespace Vorezi {

// The mutex, refresh thread and stop flag that both caches share. The owner's Create routine runs
// at Start and then once per period on the refresh thread.
class CKeyRefresher {
public:
    typedef int (*CREATE_ROUTINE)(void *pOwner);

    CKeyRefresher(const char *pOwnerName, const char *pCreateName, CREATE_ROUTINE fnCreate, void *pOwner);
    ~CKeyRefresher();
    CKeyRefresher(const CKeyRefresher &) = delete;
    CKeyRefresher &operator=(const CKeyRefresher &) = delete;

    int Start();
    void Stop();
    int IsInitSucc() const { return m_bInitSucc.load(std::memory_order_acquire); }
    // Guards the owner's keys.
    YAR_MUTEX_T *Mutex() { return &m_hMutex; }

    // The refresh period for every cache started afterwards; 60000 ms unless a test shortens it.
    static void SetUpdatePeriod(DWORD dwMilliseconds);

private:
    static uint32_t UpdateKey(void *pSelf);

    const char *m_pOwnerName;
    const char *m_pCreateName;
    CREATE_ROUTINE m_fnCreate;
    void *m_pOwner;
    YAR_MUTEX_T m_hMutex;
    bool m_bMutexCreated = false;
    YAR_HANDLE m_hThread = nullptr;
    std::atomic<int> m_bStop{0};
    std::atomic<int> m_bInitSucc{0};
    DWORD m_dwPeriodSteps = 0;
};

class CRSAKey {
public:
    CRSAKey();
    virtual ~CRSAKey();
    CRSAKey(const CRSAKey &) = delete;
    CRSAKey &operator=(const CRSAKey &) = delete;

    int Start();
    // Copies the cached pair; the buffers hold 256 and 1024 bytes (512 and 2048 for RSA-2048).
    int GetRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
    int GetRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
    // PKCS#1 v1.5 decryption with the caller's DER private key; pOutputBufLen must be given.
    int DecryptData(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, DWORD dwInputBufLen, BYTE *pOutputBuf,
                    int *pOutputBufLen);
    int DecryptData2048(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, DWORD dwInputBufLen,
                        BYTE *pOutputBuf, int *pOutputBufLen);

private:
    static int CreateRSAKey(void *pSelf);
    // The cached lengths are read under the lock, as the refresh thread writes them.
    int CopyPair(const char *pName, const BYTE *pPub, const int &iPubLen, const BYTE *pPri, const int &iPriLen,
                 BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);

    BYTE m_byPubKey1024[256];
    BYTE m_byPriKey1024[1024];
    int m_iPubKeyLen1024 = 0;
    int m_iPriKeyLen1024 = 0;
    BYTE m_byPubKey2048[512];
    BYTE m_byPriKey2048[2048];
    int m_iPubKeyLen2048 = 0;
    int m_iPriKeyLen2048 = 0;
    CKeyRefresher m_Refresher;
};

class CECDHKey {
public:
    CECDHKey();
    virtual ~CECDHKey();
    CECDHKey(const CECDHKey &) = delete;
    CECDHKey &operator=(const CECDHKey &) = delete;

    int Start();
    int GetECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey);

private:
    static int CreateECDHKey(void *pSelf);

    // One curve's keys; the DER public key only for P-256, the second form only for SM2.
    struct KeySet {
        BYTE byPoint[512];
        BYTE byDerPub[512];
        BYTE byPriKey[512];
        int iPointLen;
        int iDerPubLen;
        int iPriKeyLen;
    };
    KeySet m_P256 = {};
    KeySet m_P384 = {};
    KeySet m_SM2 = {};
    CKeyRefresher m_Refresher;
};

}  // namespace Vorezi
