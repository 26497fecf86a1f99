/* DAVaz: the QoS library behind the RQS transport, as the core library calls it.
 *
 * This is the ABI our own stand-in implements and the transport binds by name. Every entry returns
 * an int, 0 for success. Handles are small integers from 0; -1 means no instance. Words that may
 * carry a pointer have native width (uintptr_t or a pointer); the records that cross over hold no
 * pointer and keep their byte layout: 32-bit little-endian words. */
#ifndef DAVAZ_H
#define DAVAZ_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(DAVAZ_BUILD)
#define DAVAZ_API __attribute__((visibility("default")))
#else
#define DAVAZ_API
#endif

/* Results the library may give besides 0; other values are possible. */
#define RQS_ERR_GENERAL 0x80000001u
#define RQS_ERR_HANDLE 0x80000002u

/* Service parameters handed over before the start: 276 bytes, zero where nothing is set. */
typedef struct RQS_SERVICE_PARAM {
    uint32_t dwRes0;
    uint32_t dwParam1;
    uint32_t dwEnable1;
    uint32_t dwRes1;
    uint32_t dwEnable2;
    uint32_t dwParam5;
    uint8_t byRes2[140];
    uint32_t dwEnable3;
    uint8_t byRes3[108];
} RQS_SERVICE_PARAM;

/* The caller's description of one packet: opaque to the transport, passed as a copy. */
typedef struct RQS_PACK_PARAM {
    uint8_t byData[112];
} RQS_PACK_PARAM;

/* One block of data: the caller's own memory and its length. */
typedef struct RQS_DATA_BLOCK {
    const void *pData;
    uint32_t dwLength;
} RQS_DATA_BLOCK;

#ifdef __cplusplus
static_assert(sizeof(RQS_SERVICE_PARAM) == 276, "service parameter record is 276 bytes");
static_assert(sizeof(RQS_PACK_PARAM) == 112, "pack parameter record is 112 bytes");
#else
_Static_assert(sizeof(RQS_SERVICE_PARAM) == 276, "service parameter record is 276 bytes");
_Static_assert(sizeof(RQS_PACK_PARAM) == 112, "pack parameter record is 112 bytes");
#endif

/* Data the library gives back to its owner: the instance, the bytes and the registered user
 * pointer. The stand-in calls it synchronously from RQS_InputRawData. */
typedef int (*RQS_DATA_CALLBACK)(int iHandle, const void *pData, uint32_t dwLength, void *pUser);

DAVAZ_API int RQS_Create(uintptr_t uArg);
DAVAZ_API int RQS_Destroy(int iHandle);
DAVAZ_API int RQS_Start(int iHandle);
DAVAZ_API int RQS_Stop(int iHandle);
DAVAZ_API int RQS_RegisterDataCallBack(int iHandle, RQS_DATA_CALLBACK fnCallBack, void *pUser);
DAVAZ_API int RQS_InputData(int iHandle, uintptr_t uArg1, uintptr_t uArg2, uintptr_t uArg3);
DAVAZ_API int RQS_InputRawData(int iHandle, const RQS_PACK_PARAM *pPack, const RQS_DATA_BLOCK *pBlock);
DAVAZ_API int RQS_SetParam(int iHandle, const RQS_SERVICE_PARAM *pParam);
DAVAZ_API int RQS_GetStat(int iHandle, uintptr_t uArg1, uintptr_t uArg2);
DAVAZ_API int RQS_SetNotifyParam(int iHandle, uintptr_t uArg);
/* Writes a NUL-terminated version text of at most iSize - 1 characters. */
DAVAZ_API int RQS_GetVersion(char *pBuf, int iSize);

/* ---- Test-only controls of the stand-in; the transport never binds these ---- */

/* One call as the stand-in saw it. uArg holds the word arguments in order (the callback and user
 * pointer, the pack and block addresses, the block's data pointer and length); byCopy holds the
 * 276 parameter bytes of RQS_SetParam or the 112 pack bytes of RQS_InputRawData. */
typedef struct RQSSTUB_CALL {
    char szEntry[32];
    int iHandle;
    int iResult;
    uintptr_t uArg[4];
    uint8_t byCopy[276];
} RQSSTUB_CALL;

/* The result an entry gives from now on (0 restores success). For RQS_Create a non-zero result is
 * returned instead of a new handle. Unknown names give -1. */
DAVAZ_API int RQSSTUB_SetResult(const char *pEntry, int iResult);
/* The text RQS_GetVersion writes, at most 255 characters. */
DAVAZ_API void RQSSTUB_SetVersionText(const char *pText);
/* Copies up to iMax calls, oldest first; gives the number of calls logged. */
DAVAZ_API int RQSSTUB_GetCallLog(RQSSTUB_CALL *pCalls, int iMax);
/* Forgets calls, results, instances and the version text; handles start from 0 again. */
DAVAZ_API void RQSSTUB_Reset(void);

#ifdef __cplusplus
}
#endif

#endif
