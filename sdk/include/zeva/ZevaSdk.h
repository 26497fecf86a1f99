/* ZEVA, the device-discovery SDK: the C interface of libZEVA.so, for C99 and C++ hosts.
 *
 * A host starts discovery with one of the ZEVA_Start_* functions, receives every device that is
 * found, changes or goes offline through its callback, and stops with ZEVA_Stop. Every function
 * returns 1 on success and 0 on failure (except where said); ZEVA_GetLastError then gives the
 * reason, one of the ZEVA_ERR_* codes. The records below are byte-exact: hosts may keep them in
 * files or pass them on. Text arguments are zero-terminated and only read.
 *
 * Loading the library writes one line to standard error ("yar tls index{N}"). A start writes the
 * SDK log into ./sdklog/ of the working directory, making it, unless ZEVA_SetLogToFile or
 * ZEVASDK.xml names another directory or log level 0. */
#ifndef ZEVA_SDK_H
#define ZEVA_SDK_H

#include <stddef.h>
#include <stdint.h>

#define ZEVA_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define ZEVA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZEVA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else /* C99: a negative array size stops the build */
#define ZEVA_ASSERT_NAME2(line) zeva_static_assert_##line
#define ZEVA_ASSERT_NAME(line) ZEVA_ASSERT_NAME2(line)
#define ZEVA_STATIC_ASSERT(cond, msg) typedef char ZEVA_ASSERT_NAME(__LINE__)[(cond) ? 1 : -1]
#endif

/* The Windows type names the interface was specified with; DWORD is 32-bit here as there. */
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t BOOL;

/* The codes ZEVA_GetLastError gives. They have DWORD's type (unsigned int), so they compare with
 * its result without a cast, in C and C++ alike. Other codes of 2001 to 2048 are never given. */
#define ZEVA_NOERROR                  0u
#define ZEVA_ERR_INIT                 2001u /* core library, thread or capture library; a request not built */
#define ZEVA_ERR_NOT_START            2002u /* the SDK is not started */
#define ZEVA_ERR_NO_ADAPTER           2003u /* no usable adapter (up, IPv4, a MAC) */
#define ZEVA_ERR_ADAPTER_ENUM         2004u /* listing the adapters failed */
#define ZEVA_ERR_PARAM                2005u /* invalid argument, device not listed, command not supported */
#define ZEVA_ERR_PCAP                 2007u /* the raw-frame transport is closed or its send failed */
#define ZEVA_ERR_DEVICE_DENY          2009u /* the device refused */
#define ZEVA_ERR_DEVICE_TIMEOUT       2011u /* no answer within the configured time-out */
#define ZEVA_ERR_SOCKET_CREATE        2012u /* a socket could not be made or set to reuse its address */
#define ZEVA_ERR_SOCKET_BIND          2013u /* a socket could not be bound (port taken) */
#define ZEVA_ERR_MULTICAST_JOIN       2014u /* joining the multicast group failed */
#define ZEVA_ERR_SEND                 2015u /* sending failed */
#define ZEVA_ERR_CONFIG_FILE          2017u /* ZEVASDK.xml is not well-formed (the start goes on without it) */
#define ZEVA_ERR_DEVICE_LOCK          2018u /* the device is locked after too many wrong secrets */
#define ZEVA_ERR_NOT_ACTIVATED        2019u /* the device is not activated */
#define ZEVA_ERR_RISK_PASSWORD        2020u /* the password is too weak */
#define ZEVA_ERR_HAS_ACTIVATED        2021u /* the device is activated already */
#define ZEVA_ERR_EMPTY_ENCRYPT_STRING 2022u /* the device's encrypt string is empty */
#define ZEVA_ERR_EXPORT_OVERDUE       2023u /* the exported file is overdue */
#define ZEVA_ERR_PASSWORD             2024u /* wrong password */
#define ZEVA_ERR_LONG_ANSWER          2025u /* answer too long */
#define ZEVA_ERR_INVALID_GUID         2026u /* invalid GUID */
#define ZEVA_ERR_ANSWER               2027u /* wrong security answer */
#define ZEVA_ERR_QUESTION_NUM         2028u /* not three security questions */
#define ZEVA_ERR_VERIFICATION_CODE    2033u /* illegal verification code */
#define ZEVA_ERR_BIND_ERROR_DEV       2034u /* bind error device */
#define ZEVA_ERR_MAX_BIND_NUM         2035u /* the maximum number of bound devices is reached */
#define ZEVA_ERR_MAILBOX_NOT_EXIST    2036u /* the mailbox does not exist */
#define ZEVA_ERR_USER_NAME            2037u /* the device announced no user name */
#define ZEVA_ERR_MAILBOX_NOT_SET      2038u /* no mailbox is set on the device */
#define ZEVA_ERR_RESET_CODE           2039u /* invalid reset code */
#define ZEVA_ERR_NO_PERMISSION        2040u /* no permission to send */
#define ZEVA_ERR_RSA_KEY              2042u /* the RSA key for the exchange code could not be made */
#define ZEVA_ERR_BASE64               2043u /* Base64 encoding failed */
#define ZEVA_ERR_ENCRYPT              2045u /* encrypting with the device's random string failed */
#define ZEVA_ERR_PHONE_NOT_SET        2046u /* no phone number is set on the device */
#define ZEVA_ERR_BUFFER_TOO_SMALL     2047u /* the device's answer is longer than the record takes */
#define ZEVA_ERR_SUBNET_RANGE         2048u /* not an address, end below start, or over 4097 addresses */
/* The core library's own code, left by a start or ZEVA_SetLogToFile whose log settings it refuses
 * (a level outside 0 to 3, a directory over 200 characters). */
#define ZEVA_ERR_CORE_PARAM           17u

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

/* ZEVA_DEVICE_INFO.iResult: why the device callbacks were called. */
#define ZEVA_DEVICE_ONLINE  1 /* found, or back after being offline */
#define ZEVA_DEVICE_CHANGED 2 /* any field changed, the salt alone included */
#define ZEVA_DEVICE_OFFLINE 3 /* missed three periodic inquiries; only szMAC, szSerialNO and szSerialNOEx are set */

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
 * callbacks run on the SDK's receive and inquiry threads with its device list locked, and ZEVA_Stop
 * waits for those threads while it holds the interface lock: a callback must not call an export
 * that takes that lock (all but ZEVA_GetLastError, ZEVA_GetVersion, ZEVA_SetAutoRequestInterval,
 * ZEVA_SetDeviceFilterRule and ZEVA_SetLogToFile). Copy what you need and return. */
typedef void (*pDeviceFindCallBack)(ZEVA_DEVICE_INFO *pDeviceInfo, void *pUserData);
/* Subnet callback: the answers to ZEVA_InquirySpecificSubnet. It runs on the same receive threads
 * under the same rule as the device callbacks (the device list is not locked for it). */
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

/* Start and stop. A start reads ZEVASDK.xml, opens the services on every adapter and sends one
 * inquiry. The four starts differ only in the callbacks they take:
 *   ZEVA_Start_V30  an old-form device callback
 *   ZEVA_Start_V40  a new-form device callback (find_devices.c takes this one)
 *   ZEVA_Start_V50  a new-form device callback and a subnet callback, in a ZEVA_START_PARAM
 *   ZEVA_Start_V60  an old-form, a new-form and a subnet callback, each may be NULL
 * The two forms have the same type and receive the same records; with both set, the old form is
 * called first. For discovery take ZEVA_Start_V40, for subnet inquiries too ZEVA_Start_V50.
 * pReserved is not read: pass NULL. Starts count: a second start only counts (its callbacks are
 * not taken), and each successful start needs one ZEVA_Stop; the last one stops every thread and
 * empties the device list. */
ZEVA_API BOOL ZEVA_Start_V30(pDeviceFindCallBack pDeviceFindCallBack, void *pReserved, void *pUserData);
ZEVA_API BOOL ZEVA_Start_V40(pDeviceFindCallBack pDeviceFindCallBack, void *pReserved, void *pUserData);
ZEVA_API BOOL ZEVA_Start_V50(ZEVA_START_PARAM *pStartParam);
ZEVA_API BOOL ZEVA_Start_V60(pDeviceFindCallBack fnOldDevCB, pDeviceFindCallBack fnNewDevCB,
                             pSubnetDeviceFindCallBack fnSubnetCB, void *pUserData);
ZEVA_API BOOL ZEVA_Stop(void);
/* Empties the list of found devices, so every device is reported as new again. */
ZEVA_API BOOL ZEVA_Clearup(void);

/* The code the last export call left, one for the whole process (read it right after the call
 * that failed): ZEVA_NOERROR, a ZEVA_ERR_* code of 2001 to 2048, or the core library's
 * ZEVA_ERR_CORE_PARAM (17). */
ZEVA_API DWORD ZEVA_GetLastError(void);
/* 0x04040038: one byte each of 4, 4, 0, 56, highest first. */
ZEVA_API DWORD ZEVA_GetVersion(void);

/* Discovery settings. */
ZEVA_API BOOL ZEVA_SendInquiry(void);
/* Seconds between periodic inquiries (60), 0 for none, which also ends the offline reports;
 * returns the value given. */
ZEVA_API DWORD ZEVA_SetAutoRequestInterval(DWORD dwInterval);

/* Filter rules of ZEVA_SetDeviceFilterRule: which devices the callbacks are told of. Serial
 * numbers of the form "TV?-..." are never reported. */
#define ZEVA_FILTER_NONE              0    /* every device (the default) */
#define ZEVA_FILTER_HIDE_TOVUK_CS     1    /* hides byTOVUKCode 1 or a szDevDescShort beginning "CS" */
#define ZEVA_FILTER_HIDE_OEM          2    /* hides byOemCode 1 */
#define ZEVA_FILTER_HIDE_TOVUK_CS_OEM 3    /* hides both */
#define ZEVA_FILTER_ONLY_TOVUK_CS     (-2) /* reports only what ZEVA_FILTER_HIDE_TOVUK_CS hides */
#define ZEVA_FILTER_ONLY_OEM          (-3) /* reports only byOemCode 1; see below */
/* Any rule applies at once, before a start too. ZEVA_FILTER_ONLY_OEM takes a 36-byte lpInBuff
 * (else 2005): when its first 32-bit number is not 0, dwDetailOEMCode must also equal it. Other
 * rules do not read the buffer: pass NULL and 0. */
ZEVA_API BOOL ZEVA_SetDeviceFilterRule(int32_t dwFilterRule, void *lpInBuff, DWORD dwInBufLen);
/* Hands a device answer the host received by other means to the SDK, as if it had arrived on
 * every adapter: device answers are reported through the callbacks as usual, on the calling
 * thread. The text need not be terminated; texts nested deeper than any answer are refused
 * unparsed. */
ZEVA_API BOOL ZEVA_ParseData(void *lpInBuffer, DWORD dwInBuffSize);
/* Sends a subnet inquiry to every address from the start to the end of the range (at most 4097
 * addresses; more, an end below the start or a text that is no address give 2048 and send
 * nothing), on every adapter, to port 37019. Devices that hold one of the addresses answer
 * through the subnet callback. A range that includes a broadcast address of an adapter fails
 * there (the system refuses the send) and returns 0 with the addresses before it sent. */
ZEVA_API BOOL ZEVA_InquirySpecificSubnet(ZEVA_SUBNET_INFO *pSubnetInfo);
/* Log level 0 to 3, directory, auto-delete. Before a start: kept for the start (the configuration
 * file overrides them); after a start: applied at once. */
ZEVA_API BOOL ZEVA_SetLogToFile(int32_t nLogLevel, const char *strLogDir, BOOL bAutoDel);

/* ---- Device requests: the records of activation, password reset, network parameters and the
 * device configuration commands. All are byte-exact and hold no pointers. ---- */
#pragma pack(push, 1)

/* Input of ZEVA_ResetPasswd. */
typedef struct ZEVA_RESET_CODE_PARAM {
    char szCode[256];
    char szAuthFile[260];   /* a file holding the code; its one line end is dropped */
    char szPassword[16];
    BYTE byEnableSyncIPCPW; /* 1: also set the password of the connected cameras */
    BYTE byRes[511];
} ZEVA_RESET_CODE_PARAM;

/* One security question: its identifier, the answer and whether it is answered. */
typedef struct ZEVA_SECURITY_QUESTION {
    BYTE byRes1[4];
    DWORD dwID;
    char szAnswer[256];
    BYTE byMark; /* non-zero: answered (exactly three are sent) */
    BYTE byRes2[127];
} ZEVA_SECURITY_QUESTION;

/* Set command 7 input and get command 6 output; also part of the reset records. */
#define ZEVA_GET_SECURITY_QUESTIONS 6u
#define ZEVA_SET_SECURITY_QUESTIONS 7u /* output: 256 bytes */
typedef struct ZEVA_SECURITY_QUESTION_CFG {
    DWORD dwSize;
    ZEVA_SECURITY_QUESTION struQuestion[32];
    char szPassword[16]; /* the device password (set command 7) */
    BYTE byRes[512];
} ZEVA_SECURITY_QUESTION_CFG;

/* byResetType of ZEVA_RESET_PARAM_V40 and ZEVA_RESET_PARAM: how the password is reset. */
#define ZEVA_RESET_BY_FRAME      1 /* szCode as a raw frame (this build: 2007) */
#define ZEVA_RESET_BY_CODE       2 /* the reset code: of the file szAuthFile names, else szCode */
#define ZEVA_RESET_BY_AUTH_FILE  3 /* taken as ZEVA_RESET_BY_CODE */
#define ZEVA_RESET_BY_GUID       4 /* szGUID, the text of an exported GUID file */
#define ZEVA_RESET_BY_QUESTIONS  5 /* three answered security questions */
#define ZEVA_RESET_BY_MAIL_CODE  6 /* szCode, the code sent to the device's mailbox */
#define ZEVA_RESET_BY_PHONE_CODE 7 /* szCode, the code sent to the device's phone number */

/* Input of ZEVA_ResetPasswd_V40. */
typedef struct ZEVA_RESET_PARAM_V40 {
    DWORD dwSize; /* 14256 */
    BYTE byResetType;
    BYTE byEnableSyncIPCPW;
    BYTE byRes1[2];
    char szPassword[16];
    char szCode[256];
    char szAuthFile[260];
    char szGUID[128];
    ZEVA_SECURITY_QUESTION_CFG struSecurityQuestion;
    BYTE byRes2[512];
} ZEVA_RESET_PARAM_V40;

/* Input of ZEVA_ResetPasswd_V50. Only the first 16 bytes of szPassword are used. */
typedef struct ZEVA_RESET_PARAM {
    DWORD dwSize; /* 15516 */
    char szPassword[128];
    char szCode[256];
    BYTE byRes1[768];
    char szAuthFile[260];
    char szGUID[128];
    BYTE byRes2[384];
    ZEVA_SECURITY_QUESTION_CFG struSecurityQuestion;
    BYTE byResetType;
    BYTE byEnableSyncIPCPW;
    BYTE byRes3[510];
} ZEVA_RESET_PARAM;

/* Set commands 22 and 23 (ZEVA_WifiParamCfg, ZEVA_WifiParamCheck); no output. */
#define ZEVA_SET_WIFI_PARAM       22u
#define ZEVA_SET_WIFI_PARAM_CHECK 23u
typedef struct ZEVA_WIFI_PARAM {
    DWORD dwSize; /* 200 */
    char szSSID[64];
    char szPassword[64];
    BYTE byWifiMode; /* 1 station, 2 access point, else default */
    BYTE byRes[67];
} ZEVA_WIFI_PARAM;

/* Input of ZEVA_ModifyDeviceNetParam(_V40). Empty IPv6 texts are sent as "::"; ports of 0 are
 * left out. */
typedef struct ZEVA_NET_PARAM {
    char szIPv4Address[16];
    char szIPv4SubNetMask[16];
    char szIPv4Gateway[16];
    char szIPv6Address[128];
    char szIPv6Gateway[128];
    WORD wCmdPort;
    BYTE byIPv6MaskLen;
    BYTE byDhcpEnable; /* 1 on */
    WORD wHttpPort;
    BYTE byRes[2];
    DWORD dwSDKOverTLSPort;
} ZEVA_NET_PARAM;

/* Set command inputs, each after its command; the output is 128 bytes. The password fields are
 * the device's current password. */
#define ZEVA_SET_KWPLATFORM_STATUS 8u
typedef struct ZEVA_KWPLATFORM_STATUS_CFG {
    DWORD dwSize;
    BYTE byEnable; /* 1 enable */
    BYTE byRes1[3];
    char szPassword[16];
    BYTE byRes2[128];
} ZEVA_KWPLATFORM_STATUS_CFG;

#define ZEVA_SET_VERIFICATION_CODE 9u
typedef struct ZEVA_VERIFICATION_CODE_CFG {
    DWORD dwSize;
    char szVerificationCode[12];
    char szPassword[16];
    BYTE byRes[128];
} ZEVA_VERIFICATION_CODE_CFG;

typedef struct ZEVA_BIND_DEVICE {
    char szSerialNO[64];
    BYTE byInUse;
    BYTE byRes[127];
} ZEVA_BIND_DEVICE;

#define ZEVA_GET_BIND_LIST 12u
#define ZEVA_SET_BIND_LIST 13u
typedef struct ZEVA_BIND_LIST_CFG {
    ZEVA_BIND_DEVICE struDevice[32];
    char szPassword[16];
    DWORD dwUnbindAll;
    BYTE byRes[124];
} ZEVA_BIND_LIST_CFG;

#define ZEVA_SET_RESTORE_INACTIVE 14u
typedef struct ZEVA_RESTORE_INACTIVE_CFG {
    char szPassword[16];
    BYTE byRes[128];
} ZEVA_RESTORE_INACTIVE_CFG;

#define ZEVA_SET_WIFI_REGION 15u
typedef struct ZEVA_WIFI_REGION_CFG {
    BYTE byMode;        /* 1 region, 2 enhancement */
    BYTE byWifiRegion;  /* 0 default, 1 china, 2 north America, 3 japan, 4 europe, 5 world */
    BYTE byEnableWifiEnhancement;
    BYTE byRes1;
    char szPassword[16];
    BYTE byRes2[128];
} ZEVA_WIFI_REGION_CFG;

#define ZEVA_SET_CHANNEL_DEFAULT_PASSWORD 16u
typedef struct ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG {
    char szPassword[16];
    char szDefaultPassword[16];
    BYTE byRes[128];
} ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG;

#define ZEVA_SET_QADRA_ENABLE 19u
typedef struct ZEVA_QADRA_ENABLE_CFG {
    DWORD dwSize;
    char szDevID[16];
    char szQadraKey[16];
    char szPassword[16];
    BYTE byRes[64];
} ZEVA_QADRA_ENABLE_CFG;

#define ZEVA_SET_MAILBOX 20u
typedef struct ZEVA_MAILBOX_CFG {
    DWORD dwSize;
    char szPassword[16];
    char szMailBoxAddr[128];
    BYTE byRes[128];
} ZEVA_MAILBOX_CFG;

#define ZEVA_SET_TOVUK_UNBIND 25u
typedef struct ZEVA_TOVUK_UNBIND_CFG {
    char szPassword[16];
    BYTE byRes[256];
} ZEVA_TOVUK_UNBIND_CFG;

#define ZEVA_SET_TOVUK_UNBIND_DEL_USERS 26u
typedef struct ZEVA_TOVUK_UNBIND_DEL_USERS_CFG { /* the code at most 240 characters */
    DWORD dwSize;
    char szCode[256];
    BYTE byRes[512];
} ZEVA_TOVUK_UNBIND_DEL_USERS_CFG;

#define ZEVA_SET_USER_TOKEN 28u
typedef struct ZEVA_USER_TOKEN_CFG {
    DWORD dwSize;
    char szUserToken[16];
    char szPassword[16];
    BYTE byRes[256];
} ZEVA_USER_TOKEN_CFG;

/* Get command outputs, each after its command. Commands 1, 2, 5 and 21 reach only protocol-3.0
 * devices; 30 to 33 take their place with any device. Commands 1, 2 and 5 write only the length
 * and that many bytes: the text is not zero-terminated and the rest of the record keeps what the
 * caller left there (zero it first, or read the length's bytes). The others write the whole
 * record. */
#define ZEVA_GET_DEVICE_CODE 1u /* no input: NULL and 0 */
typedef struct ZEVA_DEVICE_CODE {
    DWORD dwCodeLen;
    char szCode[256]; /* a code over 128 characters gives 2047, although the field holds 256 */
} ZEVA_DEVICE_CODE;

#define ZEVA_GET_ENCRYPT_STRING 2u
typedef struct ZEVA_ENCRYPT_STRING { /* the encrypt string, then the serial number */
    DWORD dwEncryptStringLen;
    char szEncryptString[384]; /* over 256 bytes in all gives 2047, although the field holds 384 */
} ZEVA_ENCRYPT_STRING;

#define ZEVA_GET_DEVICE_TYPE_UNLOCK_CODE 3u
typedef struct ZEVA_DEVICE_TYPE_UNLOCK_CODE {
    DWORD dwCodeLen;
    char szCode[256];
    BYTE byRes[128];
} ZEVA_DEVICE_TYPE_UNLOCK_CODE;

#define ZEVA_GET_GUID 5u /* input: the device password, 16 bytes */
typedef struct ZEVA_GUID_INFO {
    DWORD dwGUIDLen;
    BYTE byGUID[128]; /* dwGUIDLen bytes; over 128 gives 2047 */
    BYTE byRetryTimes;
    BYTE bySurplusLockTime;
    BYTE byRes[254];
} ZEVA_GUID_INFO;

#define ZEVA_GET_SELF_CHECK 17u
typedef struct ZEVA_SELF_CHECK {
    DWORD dwSize; /* 212 */
    int32_t iTotalDisk;
    int32_t iGoodDisk;
    char szCPU[32];
    char szMemory[32];
    BYTE byProgress;
    BYTE byTemperatureState; /* 1 normal, 2 abnormal */
    BYTE byFanState;
    BYTE byPowerState;
    BYTE bySASConnectState;  /* 1 connected, 2 unconnected */
    BYTE byTotalNetworkPort;
    BYTE byConnectNetworkPort;
    BYTE byRes[129];
} ZEVA_SELF_CHECK;

#define ZEVA_GET_DISK_LOCATE 18u /* the disk-locate request; no output */
#define ZEVA_GET_QRCODES 21u
typedef struct ZEVA_QRCODES {
    DWORD dwQRCodeLen;
    DWORD dwMailBoxLen;
    DWORD dwServiceMailBoxLen;
    char szQRCode[256];
    char szMailBoxAddr[128];
    char szServiceMailBoxAddr[128];
    BYTE byRes[128];
} ZEVA_QRCODES;

#define ZEVA_GET_UNBIND_STATUS 24u
typedef struct ZEVA_UNBIND_STATUS {
    BYTE byStatus; /* 1 bound, 2 not bound, 3 platform disabled, 4 platform offline */
    BYTE byRes[127];
} ZEVA_UNBIND_STATUS;

#define ZEVA_GET_PASSWORD_RESET_TYPE 27u
typedef struct ZEVA_PASSWORD_RESET_TYPE { /* 1 enabled, 0 not */
    DWORD dwSize;
    BYTE byPasswordResetTypeEnabled;
    BYTE byGuidFileDataEnabled;
    BYTE bySecurityQuestionEnabled;
    BYTE bySecurityEmailEnabled;
    BYTE byKWVerificationCodeEnabled;
    BYTE byRes[67];
} ZEVA_PASSWORD_RESET_TYPE;

#define ZEVA_GET_PHONE_QRCODE 29u
typedef struct ZEVA_PHONE_QRCODE {
    DWORD dwSize;
    char szDomainName[256];
    char szDevModel[32];
    char szQRCode[1024];
    BYTE byRes[128];
} ZEVA_PHONE_QRCODE;

#define ZEVA_GET_DEVICE_CODE_V31 30u
typedef struct ZEVA_DEVICE_CODE_V31 {
    DWORD dwCodeLen;
    char szCode[1024];
} ZEVA_DEVICE_CODE_V31;

#define ZEVA_GET_ENCRYPT_STRING_V31 31u
typedef struct ZEVA_ENCRYPT_STRING_V31 {
    DWORD dwEncryptStringLen;
    char szEncryptString[1536];
} ZEVA_ENCRYPT_STRING_V31;

#define ZEVA_GET_GUID_V31 32u /* input: the device password, 16 bytes */
typedef struct ZEVA_GUID_INFO_V31 {
    DWORD dwGUIDLen;
    BYTE byGUID[512];
    BYTE byRetryTimes;
    BYTE bySurplusLockTime;
    BYTE byRes[382];
} ZEVA_GUID_INFO_V31;

#define ZEVA_GET_QRCODES_V31 33u
typedef struct ZEVA_QRCODES_V31 {
    DWORD dwQRCodeLen;
    DWORD dwMailBoxLen;
    DWORD dwServiceMailBoxLen;
    char szQRCode[1024];
    char szMailBoxAddr[128];
    char szServiceMailBoxAddr[128];
    BYTE byRes[256];
} ZEVA_QRCODES_V31;

#pragma pack(pop)

ZEVA_STATIC_ASSERT(sizeof(ZEVA_RESET_CODE_PARAM) == 1044, "ZEVA_RESET_CODE_PARAM size");
ZEVA_CHECK_FIELD(ZEVA_RESET_CODE_PARAM, szAuthFile, 256);
ZEVA_CHECK_FIELD(ZEVA_RESET_CODE_PARAM, szPassword, 516);
ZEVA_CHECK_FIELD(ZEVA_RESET_CODE_PARAM, byEnableSyncIPCPW, 532);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_SECURITY_QUESTION) == 392, "ZEVA_SECURITY_QUESTION size");
ZEVA_CHECK_FIELD(ZEVA_SECURITY_QUESTION, dwID, 4);
ZEVA_CHECK_FIELD(ZEVA_SECURITY_QUESTION, szAnswer, 8);
ZEVA_CHECK_FIELD(ZEVA_SECURITY_QUESTION, byMark, 264);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_SECURITY_QUESTION_CFG) == 13076, "ZEVA_SECURITY_QUESTION_CFG size");
ZEVA_CHECK_FIELD(ZEVA_SECURITY_QUESTION_CFG, struQuestion, 4);
ZEVA_CHECK_FIELD(ZEVA_SECURITY_QUESTION_CFG, szPassword, 12548);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_RESET_PARAM_V40) == 14256, "ZEVA_RESET_PARAM_V40 size");
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, byResetType, 4);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, byEnableSyncIPCPW, 5);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, szPassword, 8);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, szCode, 24);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, szAuthFile, 280);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, szGUID, 540);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, struSecurityQuestion, 668);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM_V40, byRes2, 13744);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_RESET_PARAM) == 15516, "ZEVA_RESET_PARAM size");
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, szPassword, 4);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, szCode, 132);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, byRes1, 388);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, szAuthFile, 1156);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, szGUID, 1416);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, byRes2, 1544);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, struSecurityQuestion, 1928);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, byResetType, 15004);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, byEnableSyncIPCPW, 15005);
ZEVA_CHECK_FIELD(ZEVA_RESET_PARAM, byRes3, 15006);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_WIFI_PARAM) == 200, "ZEVA_WIFI_PARAM size");
ZEVA_CHECK_FIELD(ZEVA_WIFI_PARAM, szSSID, 4);
ZEVA_CHECK_FIELD(ZEVA_WIFI_PARAM, szPassword, 68);
ZEVA_CHECK_FIELD(ZEVA_WIFI_PARAM, byWifiMode, 132);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_NET_PARAM) == 316, "ZEVA_NET_PARAM size");
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, szIPv4SubNetMask, 16);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, szIPv4Gateway, 32);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, szIPv6Address, 48);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, szIPv6Gateway, 176);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, wCmdPort, 304);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, byIPv6MaskLen, 306);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, byDhcpEnable, 307);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, wHttpPort, 308);
ZEVA_CHECK_FIELD(ZEVA_NET_PARAM, dwSDKOverTLSPort, 312);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_KWPLATFORM_STATUS_CFG) == 152, "set command 8 size");
ZEVA_CHECK_FIELD(ZEVA_KWPLATFORM_STATUS_CFG, byEnable, 4);
ZEVA_CHECK_FIELD(ZEVA_KWPLATFORM_STATUS_CFG, szPassword, 8);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_VERIFICATION_CODE_CFG) == 160, "set command 9 size");
ZEVA_CHECK_FIELD(ZEVA_VERIFICATION_CODE_CFG, szVerificationCode, 4);
ZEVA_CHECK_FIELD(ZEVA_VERIFICATION_CODE_CFG, szPassword, 16);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_BIND_DEVICE) == 192, "bind-list entry size");
ZEVA_CHECK_FIELD(ZEVA_BIND_DEVICE, byInUse, 64);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_BIND_LIST_CFG) == 6288, "bind list size");
ZEVA_CHECK_FIELD(ZEVA_BIND_LIST_CFG, szPassword, 6144);
ZEVA_CHECK_FIELD(ZEVA_BIND_LIST_CFG, dwUnbindAll, 6160);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_RESTORE_INACTIVE_CFG) == 144, "set command 14 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_WIFI_REGION_CFG) == 148, "set command 15 size");
ZEVA_CHECK_FIELD(ZEVA_WIFI_REGION_CFG, byWifiRegion, 1);
ZEVA_CHECK_FIELD(ZEVA_WIFI_REGION_CFG, byEnableWifiEnhancement, 2);
ZEVA_CHECK_FIELD(ZEVA_WIFI_REGION_CFG, szPassword, 4);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG) == 160, "set command 16 size");
ZEVA_CHECK_FIELD(ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG, szDefaultPassword, 16);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_QADRA_ENABLE_CFG) == 116, "set command 19 size");
ZEVA_CHECK_FIELD(ZEVA_QADRA_ENABLE_CFG, szDevID, 4);
ZEVA_CHECK_FIELD(ZEVA_QADRA_ENABLE_CFG, szQadraKey, 20);
ZEVA_CHECK_FIELD(ZEVA_QADRA_ENABLE_CFG, szPassword, 36);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_MAILBOX_CFG) == 276, "set command 20 size");
ZEVA_CHECK_FIELD(ZEVA_MAILBOX_CFG, szPassword, 4);
ZEVA_CHECK_FIELD(ZEVA_MAILBOX_CFG, szMailBoxAddr, 20);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_TOVUK_UNBIND_CFG) == 272, "set command 25 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_TOVUK_UNBIND_DEL_USERS_CFG) == 772, "set command 26 size");
ZEVA_CHECK_FIELD(ZEVA_TOVUK_UNBIND_DEL_USERS_CFG, szCode, 4);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_USER_TOKEN_CFG) == 292, "set command 28 size");
ZEVA_CHECK_FIELD(ZEVA_USER_TOKEN_CFG, szUserToken, 4);
ZEVA_CHECK_FIELD(ZEVA_USER_TOKEN_CFG, szPassword, 20);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_DEVICE_CODE) == 260, "get command 1 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_ENCRYPT_STRING) == 388, "get command 2 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_DEVICE_TYPE_UNLOCK_CODE) == 388, "get command 3 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_GUID_INFO) == 388, "get command 5 size");
ZEVA_CHECK_FIELD(ZEVA_GUID_INFO, byRetryTimes, 132);
ZEVA_CHECK_FIELD(ZEVA_GUID_INFO, bySurplusLockTime, 133);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_SELF_CHECK) == 212, "get command 17 size");
ZEVA_CHECK_FIELD(ZEVA_SELF_CHECK, szCPU, 12);
ZEVA_CHECK_FIELD(ZEVA_SELF_CHECK, szMemory, 44);
ZEVA_CHECK_FIELD(ZEVA_SELF_CHECK, byProgress, 76);
ZEVA_CHECK_FIELD(ZEVA_SELF_CHECK, bySASConnectState, 80);
ZEVA_CHECK_FIELD(ZEVA_SELF_CHECK, byConnectNetworkPort, 82);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_QRCODES) == 652, "get command 21 size");
ZEVA_CHECK_FIELD(ZEVA_QRCODES, szQRCode, 12);
ZEVA_CHECK_FIELD(ZEVA_QRCODES, szMailBoxAddr, 268);
ZEVA_CHECK_FIELD(ZEVA_QRCODES, szServiceMailBoxAddr, 396);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_UNBIND_STATUS) == 128, "get command 24 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_PASSWORD_RESET_TYPE) == 76, "get command 27 size");
ZEVA_CHECK_FIELD(ZEVA_PASSWORD_RESET_TYPE, byPasswordResetTypeEnabled, 4);
ZEVA_CHECK_FIELD(ZEVA_PASSWORD_RESET_TYPE, byKWVerificationCodeEnabled, 8);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_PHONE_QRCODE) == 1444, "get command 29 size");
ZEVA_CHECK_FIELD(ZEVA_PHONE_QRCODE, szDomainName, 4);
ZEVA_CHECK_FIELD(ZEVA_PHONE_QRCODE, szDevModel, 260);
ZEVA_CHECK_FIELD(ZEVA_PHONE_QRCODE, szQRCode, 292);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_DEVICE_CODE_V31) == 1028, "get command 30 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_ENCRYPT_STRING_V31) == 1540, "get command 31 size");
ZEVA_STATIC_ASSERT(sizeof(ZEVA_GUID_INFO_V31) == 900, "get command 32 size");
ZEVA_CHECK_FIELD(ZEVA_GUID_INFO_V31, byRetryTimes, 516);
ZEVA_CHECK_FIELD(ZEVA_GUID_INFO_V31, bySurplusLockTime, 517);
ZEVA_STATIC_ASSERT(sizeof(ZEVA_QRCODES_V31) == 1548, "get command 33 size");
ZEVA_CHECK_FIELD(ZEVA_QRCODES_V31, szMailBoxAddr, 1036);
ZEVA_CHECK_FIELD(ZEVA_QRCODES_V31, szServiceMailBoxAddr, 1164);

/* Device requests. Each waits for the device's answer (up to the configured time-out, twice that
 * where an exchange code comes first) and maps the device's refusal to the last error. The device
 * is named by its serial number (szSerialNOEx) or its MAC (szMAC) as discovery listed it. The
 * 2-byte result words are the device's retry count and remaining lock time. */
ZEVA_API BOOL ZEVA_ActivateDevice(const char *sDevSerialNO, const char *sCommand);
ZEVA_API BOOL ZEVA_ModifyDeviceNetParam(const char *sMAC, const char *sPassword, ZEVA_NET_PARAM *lpNetParam);
/* lpRetNetParam: 128 bytes (dwOutBuffSize 128), the result word first. */
ZEVA_API BOOL ZEVA_ModifyDeviceNetParam_V40(const char *sMAC, const char *sPassword, ZEVA_NET_PARAM *lpNetParam,
                                            void *lpRetNetParam, DWORD dwOutBuffSize);
/* sCommand: 256 bytes, all read: the code, zero-padded. Resets by raw frame, which this build
 * does not open (2007). */
ZEVA_API BOOL ZEVA_ResetDefaultPasswd(const char *sDevSerialNO, const char *sCommand);
/* By the code of szAuthFile's file; without a file by raw frame (2007). */
ZEVA_API BOOL ZEVA_ResetPasswd(const char *sDevSerialNO, ZEVA_RESET_CODE_PARAM *pResetParam);
/* pRetResetParam: the 2-byte result word. */
ZEVA_API BOOL ZEVA_ResetPasswd_V40(const char *sDevSerialNO, ZEVA_RESET_PARAM_V40 *pResetParam,
                                   void *pRetResetParam);
ZEVA_API BOOL ZEVA_ResetPasswd_V50(const char *sDevSerialNO, ZEVA_RESET_PARAM *pResetParam, void *pRetResetParam);
/* Get commands (ZEVA_GET_*): the output size must be that of the command's record (command 18
 * needs none). */
ZEVA_API BOOL ZEVA_GetDeviceConfig(const char *sDevSerialNO, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                                   void *lpOutBuffer, DWORD dwOutBuffSize);
ZEVA_API BOOL ZEVA_GetDeviceConfigByMAC(const char *sMAC, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                                        void *lpOutBuffer, DWORD dwOutBuffSize);
/* bySelect: 1 the device by serial number, 0 by MAC. */
ZEVA_API BOOL ZEVA_GetDeviceConfig_V20(DWORD bySelect, const char *sDevSNOrMAC, DWORD dwCommand, void *lpInBuffer,
                                       DWORD dwInBuffSize, void *lpOutBuffer, DWORD dwOutBuffSize);
/* Set commands (ZEVA_SET_*): input of the command's record size, output of 128 bytes (256 for
 * command 7, none for 22 and 23). */
ZEVA_API BOOL ZEVA_SetDeviceConfig(const char *sDevSerialNO, DWORD dwCommand, void *lpInBuffer, DWORD dwInBuffSize,
                                   void *lpOutBuffer, DWORD dwOutBuffSize);
/* Set commands 22 and 23 from texts: an SSID and a password of at most 64 characters each. */
ZEVA_API BOOL ZEVA_WifiParamCfg(const char *sMAC, const char *sSSID, const char *sPassword);
ZEVA_API BOOL ZEVA_WifiParamCheck(const char *sMAC, const char *sSSID, const char *sPassword);

#ifdef __cplusplus
}
#endif

#endif
