// The device answers: "hello" and "inquiry" into ZEVA_DEVICE_INFO, "inquiry_v32" into
// ZEVA_SUBNET_DEVICE_INFO. Texts are cut to their field; a text that fills its field has no
// terminator there, which is the interface.
#include <cstring>

#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"
#include "utils/SdkLog.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

const uint8_t kAnswerKey[] = "TRUVOLMEZDAKPINQ";  // the one fixed key of the device answers

// The field is zero-filled beforehand; a text as long as the field fills it without terminator.
void CopyBounded(char *pField, size_t dwWidth, const char *pText) {
    std::memcpy(pField, pText, strnlen(pText, dwWidth));
}

// The element names the answers are read by.
const char *const kElementNames[] = {
    "Activated", "AnalogChannelNum", "BootTime", "CommandPort", "ControllerType", "DHCP", "DHCPAbility",
    "DRAVVersion", "DSPVersion", "DSPVersionEncrypt", "DetailOEMCode", "DeviceDescription", "DeviceLock",
    "DeviceSN", "DeviceType", "DigitalChannelNum", "DiskNumber", "Encrypt", "HttpPort", "HttpsPort",
    "IPv4Address", "IPv4DHCP", "IPv4DHCPAbility", "IPv4Gateway", "IPv4SubnetMask", "IPv6Address",
    "IPv6Gateway", "IPv6MaskLen", "IsModifyVerificationCode", "KWPlatformEnable", "Licensed", "MAC",
    "MaxBindNum", "OEMCode", "OEMInfo", "OEMInfoEncrypt", "PasswordResetAbility", "PasswordResetModeSecond",
    "QadraVer", "ResetAbility", "SDKOverTLSPort", "SDKOverTLSServerStatus", "SDKServerStatus", "Salt", "Salt2",
    "SecurityMode", "SoftwareVersion", "SoftwareVersionEncrypt", "SpecificDeviceType", "SupportBind",
    "SupportChannelDefaultPassword", "SupportGUID", "SupportKWPlatform", "SupportMailBox",
    "SupportPasswordResetType", "SupportResetPwByPhoneNo", "SupportRestoreInactive", "SupportSecurityQuestion",
    "SyncIPCPassword", "SystemMode", "TOVUKBindStatus", "TOVUKCode", "UserName", "WifiMAC", "codeEncrypt",
    "currentwifiRegion", "enableWifiEnhancement", "manufacturer", "physicalAccessVerification", "supportIPv6",
    "supportModifyIPv6", "supportSSIDAndPasswordCfg", "supportTovukUnbind", "supportTovukUserToken",
    "supportWifiEnhancement", "supportwifiRegion",
};
constexpr size_t ELEMENT_NUM = sizeof kElementNames / sizeof *kElementNames;

// The names by hash: a look-up costs one hash of the name and mostly one comparison.
class CElementTable {
public:
    CElementTable() {
        for (int &slot : m_Slots)
            slot = -1;
        for (size_t i = 0; i < ELEMENT_NUM; ++i) {
            uint32_t at = Hash(kElementNames[i]);
            while (m_Slots[at & (SLOTS - 1)] >= 0)
                ++at;
            m_Slots[at & (SLOTS - 1)] = int(i);
        }
    }
    int Index(const char *pName) const {
        for (uint32_t at = Hash(pName);; ++at) {
            int i = m_Slots[at & (SLOTS - 1)];
            if (i < 0 || std::strcmp(kElementNames[i], pName) == 0)
                return i;
        }
    }

private:
    static constexpr uint32_t SLOTS = 256;  // a third full at most
    static_assert(ELEMENT_NUM * 3 <= SLOTS, "room in the name table");

    static uint32_t Hash(const char *p) {
        uint32_t h = 2166136261u;
        for (; *p; ++p)
            h = (h ^ uint8_t(*p)) * 16777619u;
        return h;
    }
    int m_Slots[SLOTS];
};

int ElementIndex(const char *pName) {
    static const CElementTable table;
    return table.Index(pName);
}

// An answer's children, looked up by name. They are filed once by name, so reading some seventy
// elements does not search the children seventy times; the first child of a name counts.
class CAnswer {
public:
    explicit CAnswer(const TiXmlElement *pRoot) : m_pRoot(pRoot) {
        for (const TiXmlElement *e = pRoot->FirstChildElement(); e; e = e->NextSiblingElement()) {
            int i = ElementIndex(e->Value());
            if (i >= 0 && !m_pElements[i])
                m_pElements[i] = e;
        }
    }

    const TiXmlElement *Element(const char *pName) const {
        int i = ElementIndex(pName);
        return i >= 0 ? m_pElements[i] : m_pRoot->FirstChildElement(pName);
    }
    const char *Text(const char *pName) const {
        const TiXmlElement *e = Element(pName);
        return e ? e->GetText() : nullptr;
    }
    bool Has(const char *pName) const { return Element(pName) != nullptr; }
    bool Is(const char *pName, const char *pWord) const {
        const char *t = Text(pName);
        return t && std::strcmp(t, pWord) == 0;
    }

    template <size_t N>
    void Copy(const char *pName, char (&field)[N]) const {
        if (const char *t = Text(pName))
            CopyBounded(field, N, t);
    }
    template <typename T>
    void Number(const char *pName, T &field) const {
        if (const char *t = Text(pName))
            field = T(YAR_Atoi32(t));
    }
    // 1 for "true", else 0, when the element is there.
    void True(const char *pName, uint8_t &field) const {
        if (Has(pName))
            field = Is(pName, "true") ? 1 : 0;
    }
    // 1 for "true", 2 for any other text, 0 when absent.
    uint8_t TrueOther(const char *pName) const {
        if (!Has(pName))
            return 0;
        return Is(pName, "true") ? 1 : 2;
    }
    void Bit(const char *pName, uint8_t &field, uint8_t mask) const {
        if (Is(pName, "true"))
            field |= mask;
    }
    // Set for "true", cleared for another text, kept when absent.
    void BitKept(const char *pName, uint8_t &field, uint8_t mask) const {
        if (Has(pName))
            field = Is(pName, "true") ? uint8_t(field | mask) : uint8_t(field & ~mask);
    }
    // The index of the word in the list, when the element holds one of them.
    void Word(const char *pName, uint8_t &field, const char *const *pWords, uint8_t count, uint8_t first) const {
        const char *t = Text(pName);
        for (uint8_t i = 0; t && i < count; ++i)
            if (std::strcmp(t, pWords[i]) == 0)
                field = uint8_t(first + i);
    }

private:
    const TiXmlElement *m_pRoot;
    const TiXmlElement *m_pElements[ELEMENT_NUM] = {};
};

// A salt of at most 64 characters; a longer one leaves the field empty.
void CopySalt(const CAnswer &answer, const char *pName, char *pSalt) {
    std::memset(pSalt, 0, SALT_FIELD_LEN);
    const char *t = answer.Text(pName);
    if (t && std::strlen(t) < SALT_FIELD_LEN)
        std::memcpy(pSalt, t, std::strlen(t));
}

// Both answer records name their address fields alike.
template <typename Record>
void ParseAddresses(const CAnswer &a, Record &dev) {
    a.Copy("IPv4Address", dev.szIPv4Address);
    a.Copy("IPv4SubnetMask", dev.szIPv4SubnetMask);
    a.Copy("IPv4Gateway", dev.szIPv4Gateway);
    a.Copy("IPv6Address", dev.szIPv6Address);
    a.Copy("IPv6Gateway", dev.szIPv6Gateway);
    a.Number("IPv6MaskLen", dev.byIPv6MaskLen);
}

void ParseSupportBits(const CAnswer &a, ZEVA_DEVICE_INFO &dev) {
    a.BitKept("supportIPv6", dev.bySupport, 0x01);
    a.BitKept("supportModifyIPv6", dev.bySupport, 0x02);
    a.BitKept("DHCPAbility", dev.bySupport, 0x04);
    a.Bit("Encrypt", dev.bySupport, 0x10);
    a.Bit("ResetAbility", dev.bySupport, 0x20);
    a.Bit("PasswordResetAbility", dev.bySupport, 0x40);
    a.Bit("SyncIPCPassword", dev.bySupport, 0x80);
    static const char *const kSupport1[] = {"PasswordResetModeSecond", "DeviceLock", "SupportGUID",
                                            "SupportSecurityQuestion", nullptr, "SupportBind",
                                            "SupportRestoreInactive", "supportWifiEnhancement"};
    for (int bit = 0; bit < 8; ++bit)
        if (kSupport1[bit])
            a.Bit(kSupport1[bit], dev.bySupport1, uint8_t(1 << bit));
    a.Bit("SupportChannelDefaultPassword", dev.bySupport2, 0x01);
    a.Bit("SupportMailBox", dev.bySupport2, 0x02);
    a.Bit("supportSSIDAndPasswordCfg", dev.bySupport2, 0x04);
}

void ParseWifi(const CAnswer &a, ZEVA_DEVICE_INFO &dev) {
    static const char *const kRegions[] = {"default", "china", "europe", "nothAmerica", "japan", "world"};
    if (const char *t = a.Text("supportwifiRegion"))
        for (int i = 0; i < 6; ++i)
            if (std::strstr(t, kRegions[i]))
                dev.bySupportWifiRegion |= uint8_t(1 << i);
    a.True("enableWifiEnhancement", dev.byEnableWifiEnhancement);
    a.Word("currentwifiRegion", dev.byWifiRegion, kRegions, 6, 0);
}

void ParseModes(const CAnswer &a, ZEVA_DEVICE_INFO &dev) {
    if (a.Is("Licensed", "true"))
        dev.byLicensed = 2;
    else if (a.Is("Licensed", "false"))
        dev.byLicensed = 1;
    static const char *const kSystemModes[] = {"singleControl", "doubleControl", "singleCluster", "doubleCluster"};
    a.Word("SystemMode", dev.bySystemMode, kSystemModes, 4, 1);
    static const char *const kControllers[] = {"A", "B"};
    a.Word("ControllerType", dev.byControllerType, kControllers, 2, 1);
    a.Copy("QadraVer", dev.szQadraVersion);
    if (a.Has("SpecificDeviceType")) {
        dev.bySpecificDeviceType = a.Is("SpecificDeviceType", "Neutral") ? 1 : 0;
        if (!dev.bySpecificDeviceType)
            ZEVA_LOG_ERR("[CMulticastProtocol::The node about IsNeutralType return is error]");
    }
    static const char *const kSecurityModes[] = {"standard", "high-A", "high-B", "custom"};
    a.Word("SecurityMode", dev.bySecurityMode, kSecurityModes, 4, 0);
    if (a.Is("SDKServerStatus", "true"))
        dev.bySDKServerStatus = 0;
    else if (a.Is("SDKServerStatus", "false"))
        dev.bySDKServerStatus = 1;
    if (a.Has("SDKOverTLSServerStatus"))
        dev.bySDKOverTLSServerStatus = a.Is("SDKOverTLSServerStatus", "true") ? 1 : 0;
    a.Number("SDKOverTLSPort", dev.dwSDKOverTLSPort);
}

uint8_t ProtocolByte(const CAnswer &a) {
    if (a.Is("DRAVVersion", "3.0,3.1"))
        return 2;
    if (a.Is("DRAVVersion", "3.1"))
        return 3;
    return 1;
}

}  // namespace

// Base64 text, AES-128-ECB under the answer key, into a zero-filled block of dwBlock bytes; the
// plain text is replaced only when all of it worked.
void CMulticastProtocol::DecryptAnswerText(const char *pText, uint32_t dwBlock, char *pField, uint32_t dwFieldLen) {
    if (!pText)
        return;
    uint8_t cipher[48] = {};
    int len = CEncrypt::Base64_Decode(pText, uint32_t(std::strlen(pText)), cipher, sizeof cipher);
    if (len < 1 || uint32_t(len) >= dwBlock)
        return;
    uint8_t plain[49] = {};
    if (!m_Encrypt.AesEcbDecrypt(cipher, int(dwBlock), plain, int(dwBlock), kAnswerKey, 16))
        return;
    std::memset(pField, 0, dwFieldLen);
    CopyBounded(pField, dwFieldLen, reinterpret_cast<const char *>(plain));
}

int CMulticastProtocol::ParseDeviceInfo(const TiXmlElement *pRoot, ZEVA_DEVICE_INFO *pDev, char *pSalt, char *pSalt2,
                                        uint8_t *pProtocol) {
    if (!pRoot || !pDev)
        return -1;
    ZEVA_DEVICE_INFO &dev = *pDev;
    std::memset(&dev, 0, sizeof dev);
    dev.bySupport = 0x0F;
    CAnswer a(pRoot);
    a.Number("DeviceType", dev.dwDeviceType);
    a.Copy("DeviceDescription", dev.szDevDescShort);
    a.Copy("DeviceDescription", dev.szDevDesc);
    a.Copy("DeviceSN", dev.szSerialNO);
    a.Copy("DeviceSN", dev.szSerialNOEx);
    a.Number("CommandPort", dev.dwCmdPort);
    a.Number("HttpPort", dev.wHttpPort);
    if (!a.Has("MAC"))
        return -1;
    a.Copy("MAC", dev.szMAC);

    ParseAddresses(a, dev);
    dev.byDhcpEnabled = a.Is("DHCP", "true") ? 1 : 0;
    a.Number("AnalogChannelNum", dev.dwAnalogChannelNum);
    a.Number("DigitalChannelNum", dev.wDigitalChannelNum);
    a.Copy("SoftwareVersion", dev.szDeviceSoftwareVersion);
    a.Copy("DSPVersion", dev.szDSPVersion);
    a.Copy("BootTime", dev.szBootTime);
    if (const char *t = a.Text("DiskNumber"))
        dev.dwDiskNumber = uint16_t(YAR_Atoi32(t));
    a.Copy("OEMInfo", dev.szOEMinfo);
    dev.byOemCode = a.Is("OEMCode", "true") ? 1 : 0;
    a.Number("DetailOEMCode", dev.dwDetailOEMCode);
    DecryptAnswerText(a.Text("SoftwareVersionEncrypt"), 48, dev.szDeviceSoftwareVersion,
                      sizeof dev.szDeviceSoftwareVersion);
    DecryptAnswerText(a.Text("DSPVersionEncrypt"), 48, dev.szDSPVersion, sizeof dev.szDSPVersion);
    DecryptAnswerText(a.Text("OEMInfoEncrypt"), 32, dev.szOEMinfo, sizeof dev.szOEMinfo);
    dev.byActivated = a.Is("Activated", "false") ? 1 : 0;
    dev.byDeviceAbility = 1;
    ParseSupportBits(a, dev);
    dev.byKWPlatform = a.TrueOther("SupportKWPlatform");
    dev.byEnableKWPlatform = a.TrueOther("KWPlatformEnable");
    dev.byTOVUKCode = a.Is("TOVUKCode", "true") ? 1 : 0;
    dev.byModifyVerificationCode = a.TrueOther("IsModifyVerificationCode");
    a.Number("MaxBindNum", dev.byMaxBindNum);
    if (pSalt)
        CopySalt(a, "Salt", pSalt);
    if (pSalt2)
        CopySalt(a, "Salt2", pSalt2);
    ParseWifi(a, dev);
    ParseModes(a, dev);
    a.Copy("UserName", dev.szUserName);
    a.Copy("WifiMAC", dev.szWifiMAC);
    a.True("supportTovukUnbind", dev.bySupportTovukUnbind);
    a.True("codeEncrypt", dev.bySupportCodeEncrypt);
    a.True("SupportPasswordResetType", dev.bySupportPasswordResetType);
    a.Number("TOVUKBindStatus", dev.byTOVUKBindStatus);
    a.Copy("physicalAccessVerification", dev.szPhysicalAccessVerification);
    a.Number("HttpsPort", dev.wHttpsPort);
    a.True("supportTovukUserToken", dev.bySupportTovukUserToken);
    a.Copy("manufacturer", dev.szManufacturer);
    a.True("SupportResetPwByPhoneNo", dev.bySupportResetPwByPhoneNo);
    if (pProtocol)
        *pProtocol = ProtocolByte(a);
    return 0;
}

int CMulticastProtocol::ParseSubnetDeviceInfo(const TiXmlElement *pRoot, ZEVA_SUBNET_DEVICE_INFO *pDev) {
    if (!pRoot || !pDev)
        return -1;
    ZEVA_SUBNET_DEVICE_INFO &dev = *pDev;
    std::memset(&dev, 0, sizeof dev);
    CAnswer a(pRoot);
    a.Number("DeviceType", dev.dwDeviceType);
    a.Copy("DeviceDescription", dev.szDevDesc);
    a.Copy("DeviceSN", dev.szSerialNOEx);
    ParseAddresses(a, dev);
    a.True("supportIPv6", dev.bySupportIPv6);
    a.True("supportModifyIPv6", dev.bySupportModifyIPv6);
    a.True("IPv4DHCPAbility", dev.bySupportDhcp);
    a.True("IPv4DHCP", dev.byDhcpEnabled);
    return 0;
}

}  // namespace ZEVA
