// The configuration file ZEVASDK.xml beside the library, the module directory and the table of
// libraries that the SDK loads by path.
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/GlobalCtrl.h"
#include "module/dynamic/Libpcap.h"
#include "module/protocol/ProbeXml.h"
#include "utils/SdkLog.h"
#include "yar/yar_file.h"
#include "yar/yar_mutex.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

const char *ChildText(const TiXmlElement *root, const char *name) {
    const TiXmlElement *e = root->FirstChildElement(name);
    return e ? e->GetText() : nullptr;
}

// A value that does not fit the field keeps what the field held.
void ReadText(const TiXmlElement *root, const char *name, char *field, size_t size) {
    const char *text = ChildText(root, name);
    if (text && std::strlen(text) < size)
        std::memcpy(field, text, std::strlen(text) + 1);
}

void ReadFlag(const TiXmlElement *root, const char *name, uint32_t &field) {
    if (const char *text = ChildText(root, name))
        field = std::strcmp(text, "true") == 0 ? 1 : 0;
}

void ReadNumber(const TiXmlElement *root, const char *name, uint32_t &field) {
    if (const char *text = ChildText(root, name))
        field = uint32_t(YAR_Atoi32(text));
}

// Compared as unsigned: a negative number is above the range.
uint32_t Clamp(uint32_t value, uint32_t low, uint32_t high) {
    return value > high ? high : value < low ? low : value;
}

}  // namespace

int CGlobalCtrl::GetModulePath(char *pOut) {
    pOut[0] = '\0';
    char path[1024];
    if (YAR_GetModulePath(reinterpret_cast<const void *>(&CGlobalCtrl::GetInstance), path, sizeof path) < 0)
        return 0;
    char *slash = std::strrchr(path, '/');
    if (!slash || size_t(slash - path) + 1 >= sizeof m_szModulePath)
        return 0;
    slash[1] = '\0';
    std::memcpy(pOut, path, std::strlen(path) + 1);
    return 1;
}

int CGlobalCtrl::ReadConfigFile() {
    char dir[sizeof m_szModulePath];
    GetModulePath(dir);
    char path[sizeof dir + 16];
    std::snprintf(path, sizeof path, "%sZEVASDK.xml", dir);
    return ReadConfigFileAt(path);
}

int CGlobalCtrl::ReadConfigFileAt(const char *pPath) {
    ZEVA_LOG_ERR("path:[%s]", pPath);
    YAR_FILE_HANDLE file = YAR_OpenFile(pPath, YAR_FILE_READ, 0);
    if (file == YAR_INVALID_FILE) {
        ZEVA_LOG_ERR("Open cfg file failed!");
        return 0;
    }
    char text[CFG_FILE_READ];
    uint32_t got = 0;
    int32_t rc = YAR_ReadFile(file, text, CFG_FILE_READ, &got);
    YAR_CloseFile(file);
    if (rc != 0)
        return 0;
    ParseConfigText(text, got);
    return 1;
}

// The text need not end with a zero: the parser reads up to one, so it gets a terminated copy.
void CGlobalCtrl::ParseConfigText(const char *pText, uint32_t dwLen) {
    const std::vector<char> text = ParserCopy(pText, dwLen < CFG_FILE_READ ? dwLen : CFG_FILE_READ);
    TiXmlDocument doc;
    doc.Parse(text.data(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement *root = doc.RootElement();
    if (doc.Error() || !root) {
        SetLastError(ZEVA_ERR_CONFIG_FILE);
        return;
    }
    if (const char *level = ChildText(root, "logLevel"))
        m_iLogLevel = YAR_Atoi32(level);
    ReadText(root, "logDirectory", m_szLogDir, sizeof m_szLogDir);
    ReadFlag(root, "autoDelete", m_bAutoDel);
    ZEVA_LOG_INF("nLogLevel:%d path:[%s] bAutoDel:%d", m_iLogLevel, m_szLogDir, m_bAutoDel);
    ReadText(root, "cryptoPath", m_szCryptoPath, sizeof m_szCryptoPath);
    ZEVA_LOG_INF("cryptoPath:[%s]", m_szCryptoPath);
    ReadText(root, "sslPath", m_szSslPath, sizeof m_szSslPath);
    ZEVA_LOG_INF("sslPath:[%s]", m_szSslPath);
    ReadFlag(root, "pcap", m_bPcap);
    ZEVA_LOG_INF("pcap:[%d]", m_bPcap);
    ReadFlag(root, "multicast", m_bMulticast);
    ZEVA_LOG_INF("multicast:[%d]", m_bMulticast);
    ReadFlag(root, "checkIP", m_bCheckIP);
    ZEVA_LOG_INF("checkIP:[%d]", m_bCheckIP);
    ReadNumber(root, "checkIPInterval", m_dwCheckIPInterval);
    m_dwCheckIPInterval = Clamp(m_dwCheckIPInterval, 5, 60);
    ZEVA_LOG_INF("checkIPInterval:[%d]", m_dwCheckIPInterval);
    ReadNumber(root, "timeout", m_dwTimeout);
    m_dwTimeout = Clamp(m_dwTimeout, 5, 20);
    ZEVA_LOG_INF("timeout:[%d]", m_dwTimeout);
    ReadText(root, "pcapPath", m_szPcapPath, sizeof m_szPcapPath);
    ZEVA_LOG_INF("pcapPath:[%s]", m_szPcapPath);
}

int CGlobalCtrl::SetDynamicPath(int iTag, const char *pPath) {
    if (!pPath || pPath[0] == '\0' || std::strlen(pPath) > LIB_PATH_LEN - 1) {
        ZEVA_LOG_ERR("CGlobalCtrl::SetDynamicPath, Parameter error");
        return 0;
    }
    ZEVA_LOG_INF("CGlobalCtrl::SetDynamicPath, enumLibTag[%d] szLoadPath[%s]", iTag, pPath);
    if (iTag != LIB_TAG_PCAP) {
        ZEVA_LOG_ERR("CGlobalCtrl::SetDynamicPath, Parameter error");
        return 0;
    }
    std::memcpy(m_szDynamicLoadPath[iTag], pPath, std::strlen(pPath) + 1);
    return 1;
}

// Both forms of GetDynamicPath: the path of the tag in one of the two sets.
const char *CGlobalCtrl::PathOfTag(const char (&paths)[3][LIB_PATH_LEN], int iTag) {
    if (iTag < 0 || iTag > LIB_TAG_CRYPTO) {
        ZEVA_LOG_ERR("CGlobalCtrl::GetDynamicPath, Invalid enumLibTag[%d]", iTag);
        SetLastError(ZEVA_ERR_PARAM);
        return nullptr;
    }
    return paths[iTag];
}

const char *CGlobalCtrl::GetDynamicPath(int iTag) { return PathOfTag(m_szDynamicPath, iTag); }

const char *CGlobalCtrl::GetDynamicLoadPath(int iTag) { return PathOfTag(m_szDynamicLoadPath, iTag); }

CLibpcap *CGlobalCtrl::GetDynamicObject(int iTag) {
    if (iTag == LIB_TAG_PCAP)
        return m_pCLibpcap.get();
    if (iTag < 0 || iTag > LIB_TAG_CRYPTO)
        ZEVA_LOG_ERR("CGlobalCtrl::GetDynamicObject, Invalid enumLibTag[%d]", iTag);
    SetLastError(ZEVA_ERR_PARAM);
    return nullptr;
}

// One load attempt under the library lock; iStep numbers the attempt in the log.
int CGlobalCtrl::LoadFromPath(const char *pPath, int iStep) {
    yar::yar_guard guard(&m_hLibLock);
    if (m_pCLibpcap->LoadLib(pPath)) {
        ZEVA_LOG_INF("CGlobalCtrl::DynamicLibLoad %d Load Lib [%s] SUCCESS", iStep, pPath);
        return 1;
    }
    ZEVA_LOG_ERR("CGlobalCtrl::DynamicLibLoad %d Load Lib [%s] Failed", iStep, pPath);
    return 0;
}

// The configured path, then the library's own directory, then the system's search by name.
int CGlobalCtrl::DynamicLibLoad(int iTag) {
    if (iTag != LIB_TAG_PCAP) {
        if (iTag < 0 || iTag > LIB_TAG_CRYPTO)
            ZEVA_LOG_ERR("CGlobalCtrl::GetDynamicObject, Invalid enumLibTag[%d]", iTag);
        SetLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    if (!m_pCLibpcap)
        return 0;
    const char *configured = m_szDynamicLoadPath[iTag];
    if (configured[0] == '\0')
        ZEVA_LOG_ERR("CGlobalCtrl::DynamicLibLoad 1 [%s] NULL", configured);
    else if (LoadFromPath(configured, 1))
        return 1;
    return LoadFromPath(m_szDynamicPath[iTag], 2) || LoadFromPath("libpcap.so.0.8", 3);
}

}  // namespace ZEVA
