/* ZEVA, the device-discovery SDK: the C interface of libZEVA.so.
 *
 * A host starts discovery with one of the ZEVA_Start_* functions, receives every device that is
 * found, changes or goes offline through its callback, and stops with ZEVA_Stop. Every function
 * returns 1 on success and 0 on failure (except where said); ZEVA_GetLastError then gives the
 * reason. The records below are byte-exact: hosts may keep them in files or pass them on. */
#ifndef ZEVA_SDK_H
#define ZEVA_SDK_H

#include <stddef.h>
#include <stdint.h>

#define ZEVA_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define ZEVA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define ZEVA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The Windows type names the interface was specified with; DWORD is 32-bit here as there. */
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t BOOL;

#pragma pack(push, 1)

/* One found device, as the device callbacks receive it. Text fields are zero-terminated unless
 * the value fills the field. */
typedef struct ZEVA_DEVICE_INFO {
    char szReserved1[12];
    char szSerialNO[48];
    char szMAC[20];
    char szIPv4Address[16];
    char szIPv4SubnetMask[16];
    DWORD dwDeviceType;
    DWORD dwCmdPort;
    DWORD dwAnalogChannelNum;
    DWORD dwDiskNumber;
    char szDeviceSoftwareVersion[48];
    char szDSPVersion[48];
    char szBootTime[48];
    int32_t iResult;
    char szDevDescShort[24];
    char szOEMinfo[24];
    char szIPv4Gateway[16];
    char szIPv6Address[46];
    char szIPv6Gateway[46];
    BYTE byIPv6MaskLen;
    BYTE bySupport;
    BYTE byDhcpEnabled;
    BYTE byDeviceAbility;
    WORD wHttpPort;
    WORD wDigitalChannelNum;
    char szReserved2[18];
    BYTE byOemCode;
    BYTE byActivated;
    char szReserved3[24];
    BYTE bySupport1;
    BYTE byKWPlatform;
    BYTE byEnableKWPlatform;
    BYTE byTOVUKCode;
    DWORD dwDetailOEMCode;
    BYTE byModifyVerificationCode;
    BYTE byMaxBindNum;
    WORD wReserved4;
    BYTE bySupportWifiRegion;
    BYTE byEnableWifiEnhancement;
    BYTE byWifiRegion;
    BYTE bySupport2;
    BYTE byLicensed;
    BYTE bySystemMode;
    BYTE byControllerType;
    char szQadraVersion[16];
    BYTE bySpecificDeviceType;
    DWORD dwSDKOverTLSPort;
    BYTE bySecurityMode;
    BYTE bySDKServerStatus;
    BYTE bySDKOverTLSServerStatus;
    char szUserName[32];
    BYTE byReserved5;
    char szWifiMAC[20];
    BYTE byDataFromMulticast;
    BYTE bySupportTovukUnbind;
    BYTE bySupportCodeEncrypt;
    BYTE bySupportPasswordResetType;
    BYTE byTOVUKBindStatus;
    char szPhysicalAccessVerification[16];
    BYTE byReserved6;
    WORD wHttpsPort;
    BYTE bySupportTovukUserToken;
    char szDevDesc[64];
    char szSerialNOEx[128];
    char szManufacturer[32];
    BYTE bySupportResetPwByPhoneNo;
    BYTE byReserved7[186];
} ZEVA_DEVICE_INFO;

/* One device that answered a subnet inquiry, as the subnet callback receives it. */
typedef struct ZEVA_SUBNET_DEVICE_INFO {
    DWORD dwDeviceType;
    char szDevDesc[64];
    char szSerialNOEx[128];
    char szIPv4Address[16];
    char szIPv4SubnetMask[16];
    char szIPv4Gateway[16];
    char szIPv6Address[46];
    char szIPv6Gateway[46];
    BYTE byIPv6MaskLen;
    BYTE bySupportIPv6;
    BYTE bySupportModifyIPv6;
    BYTE bySupportDhcp;
    BYTE byDhcpEnabled;
    BYTE byRes[1027];
} ZEVA_SUBNET_DEVICE_INFO;

#pragma pack(pop)

#define ZEVA_CHECK_FIELD(type, field, offset) \
    ZEVA_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " offset")

ZEVA_STATIC_ASSERT(sizeof(ZEVA_DEVICE_INFO) == 1016, "ZEVA_DEVICE_INFO size");
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szSerialNO, 12);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szMAC, 60);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szIPv4Address, 80);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szIPv4SubnetMask, 96);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwDeviceType, 112);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwCmdPort, 116);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwAnalogChannelNum, 120);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwDiskNumber, 124);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szDeviceSoftwareVersion, 128);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szDSPVersion, 176);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szBootTime, 224);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, iResult, 272);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szDevDescShort, 276);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szOEMinfo, 300);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szIPv4Gateway, 324);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szIPv6Address, 340);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szIPv6Gateway, 386);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byIPv6MaskLen, 432);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupport, 433);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byDhcpEnabled, 434);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byDeviceAbility, 435);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, wHttpPort, 436);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, wDigitalChannelNum, 438);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szReserved2, 440);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byOemCode, 458);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byActivated, 459);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szReserved3, 460);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupport1, 484);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byKWPlatform, 485);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byEnableKWPlatform, 486);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byTOVUKCode, 487);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwDetailOEMCode, 488);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byModifyVerificationCode, 492);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byMaxBindNum, 493);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, wReserved4, 494);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportWifiRegion, 496);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byEnableWifiEnhancement, 497);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byWifiRegion, 498);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupport2, 499);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byLicensed, 500);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySystemMode, 501);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byControllerType, 502);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szQadraVersion, 503);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySpecificDeviceType, 519);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, dwSDKOverTLSPort, 520);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySecurityMode, 524);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySDKServerStatus, 525);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySDKOverTLSServerStatus, 526);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szUserName, 527);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byReserved5, 559);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szWifiMAC, 560);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byDataFromMulticast, 580);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportTovukUnbind, 581);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportCodeEncrypt, 582);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportPasswordResetType, 583);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byTOVUKBindStatus, 584);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szPhysicalAccessVerification, 585);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byReserved6, 601);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, wHttpsPort, 602);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportTovukUserToken, 604);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szDevDesc, 605);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szSerialNOEx, 669);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, szManufacturer, 797);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, bySupportResetPwByPhoneNo, 829);
ZEVA_CHECK_FIELD(ZEVA_DEVICE_INFO, byReserved7, 830);

ZEVA_STATIC_ASSERT(sizeof(ZEVA_SUBNET_DEVICE_INFO) == 1368, "ZEVA_SUBNET_DEVICE_INFO size");
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szDevDesc, 4);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szSerialNOEx, 68);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szIPv4Address, 196);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szIPv4SubnetMask, 212);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szIPv4Gateway, 228);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szIPv6Address, 244);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, szIPv6Gateway, 290);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, byIPv6MaskLen, 336);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, bySupportIPv6, 337);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, bySupportModifyIPv6, 338);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, bySupportDhcp, 339);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, byDhcpEnabled, 340);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_DEVICE_INFO, byRes, 341);

/* Device callback (old and new form alike): the record is valid during the call only. The
 * callbacks run on the SDK's threads with its device list locked, and ZEVA_Stop waits for those
 * threads while it holds the interface lock: a callback must not call an export that takes that
 * lock (all but ZEVA_GetLastError, ZEVA_GetVersion, ZEVA_SetAutoRequestInterval,
 * ZEVA_SetDeviceFilterRule and ZEVA_SetLogToFile). */
typedef void (*pDeviceFindCallBack)(ZEVA_DEVICE_INFO *pDeviceInfo, void *pUserData);
typedef void (*pSubnetDeviceFindCallBack)(ZEVA_SUBNET_DEVICE_INFO *pDeviceInfo, void *pUserData);

/* Holds pointers, so its size follows the platform (24 bytes on x86-64). */
typedef struct ZEVA_START_PARAM {
    pDeviceFindCallBack fnDevCB;
    pSubnetDeviceFindCallBack fnSubnetCB;
    void *pUserData;
} ZEVA_START_PARAM;

/* The range of a subnet inquiry: dotted IPv4 texts; a text that fills its field needs no
 * terminator. */
typedef struct ZEVA_SUBNET_INFO {
    BYTE byRes[8]; /* not read */
    char szStartSubnetIP[48];
    char szEndSubnetIP[48];
} ZEVA_SUBNET_INFO;
ZEVA_STATIC_ASSERT(sizeof(ZEVA_SUBNET_INFO) == 104, "ZEVA_SUBNET_INFO size");
ZEVA_CHECK_FIELD(ZEVA_SUBNET_INFO, szStartSubnetIP, 8);
ZEVA_CHECK_FIELD(ZEVA_SUBNET_INFO, szEndSubnetIP, 56);

/* Start and stop. Starts count: each successful start needs one ZEVA_Stop. */
ZEVA_API BOOL ZEVA_Start_V30(pDeviceFindCallBack pDeviceFindCallBack, void *pReserved, void *pUserData);
ZEVA_API BOOL ZEVA_Start_V40(pDeviceFindCallBack pDeviceFindCallBack, void *pReserved, void *pUserData);
ZEVA_API BOOL ZEVA_Start_V50(ZEVA_START_PARAM *pStartParam);
ZEVA_API BOOL ZEVA_Start_V60(pDeviceFindCallBack fnOldDevCB, pDeviceFindCallBack fnNewDevCB,
                             pSubnetDeviceFindCallBack fnSubnetCB, void *pUserData);
ZEVA_API BOOL ZEVA_Stop(void);
/* Empties the list of found devices, so every device is reported as new again. */
ZEVA_API BOOL ZEVA_Clearup(void);

/* The reason of the last failure (2001 to 2048). */
ZEVA_API DWORD ZEVA_GetLastError(void);
/* 0x04040038: one byte each of 4, 4, 0, 56, highest first. */
ZEVA_API DWORD ZEVA_GetVersion(void);

/* Discovery settings. */
ZEVA_API BOOL ZEVA_SendInquiry(void);
/* Seconds between periodic inquiries, 0 for none; returns the value given. */
ZEVA_API DWORD ZEVA_SetAutoRequestInterval(DWORD dwInterval);
ZEVA_API BOOL ZEVA_SetDeviceFilterRule(int32_t dwFilterRule, void *lpInBuff, DWORD dwInBufLen);
/* Hands a device answer the host received by other means to the SDK, as if it had arrived on
 * every adapter: device answers are reported through the callbacks as usual. The text need not
 * be terminated; texts nested deeper than any answer are refused unparsed. */
ZEVA_API BOOL ZEVA_ParseData(void *lpInBuffer, DWORD dwInBuffSize);
/* Sends a subnet inquiry to every address from the start to the end of the range (at most 4097
 * addresses; more, an end below the start or a text that is no address give 2048 and send
 * nothing), on every adapter, to port 37019. Devices that hold one of the addresses answer
 * through the subnet callback. A range that includes a broadcast address of an adapter fails
 * there (the system refuses the send) and returns 0 with the addresses before it sent. */
ZEVA_API BOOL ZEVA_InquirySpecificSubnet(ZEVA_SUBNET_INFO *pSubnetInfo);
/* Before a start: kept for the start (the configuration file overrides them). */
ZEVA_API BOOL ZEVA_SetLogToFile(int32_t nLogLevel, const char *strLogDir, BOOL bAutoDel);

#ifdef __cplusplus
}
#endif

#endif
