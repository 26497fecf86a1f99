#include "device_row.h"

#include <cstdio>
#include <cstring>

namespace zevahost {

namespace {

// A record's text field, which need not be terminated when the value fills it.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::string JsonText(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Row(const char *status, const std::string &serial, const std::string &mac, const std::string &ipv4,
                const std::string &model, const std::string &version) {
    char line[512];
    std::snprintf(line, sizeof line, "%-8s %-36s %-17s %-15s %-20s %s", status, serial.c_str(), mac.c_str(),
                  ipv4.c_str(), model.c_str(), version.c_str());
    return line;
}

}  // namespace

std::string StatusName(int32_t iResult) {
    switch (iResult) {
    case 1: return "new";
    case 2: return "changed";
    case 3: return "offline";
    default: return std::to_string(iResult);
    }
}

std::string TableHeader() { return Row("STATUS", "SERIAL", "MAC", "IPV4", "MODEL", "VERSION"); }

std::string TableRow(const ZEVA_DEVICE_INFO &dev) {
    return Row(StatusName(dev.iResult).c_str(), Field(dev.szSerialNOEx), Field(dev.szMAC), Field(dev.szIPv4Address),
               Field(dev.szDevDesc), Field(dev.szDeviceSoftwareVersion));
}

std::string JsonLine(const ZEVA_DEVICE_INFO &dev) {
    return "{\"status\":" + JsonText(StatusName(dev.iResult)) + ",\"serial\":" + JsonText(Field(dev.szSerialNOEx)) +
           ",\"mac\":" + JsonText(Field(dev.szMAC)) + ",\"ipv4\":" + JsonText(Field(dev.szIPv4Address)) +
           ",\"mask\":" + JsonText(Field(dev.szIPv4SubnetMask)) + ",\"gateway\":" + JsonText(Field(dev.szIPv4Gateway)) +
           ",\"ipv6\":" + JsonText(Field(dev.szIPv6Address)) + ",\"model\":" + JsonText(Field(dev.szDevDesc)) +
           ",\"version\":" + JsonText(Field(dev.szDeviceSoftwareVersion)) + ",\"cmdPort\":" +
           std::to_string(dev.dwCmdPort) + ",\"httpPort\":" + std::to_string(dev.wHttpPort) +
           ",\"activated\":" + std::to_string(dev.byActivated) + ",\"dhcp\":" + std::to_string(dev.byDhcpEnabled) +
           ",\"multicast\":" + std::to_string(dev.byDataFromMulticast) + "}";
}

std::string SubnetTableRow(const ZEVA_SUBNET_DEVICE_INFO &dev) {
    return Row("subnet", Field(dev.szSerialNOEx), "", Field(dev.szIPv4Address), Field(dev.szDevDesc), "");
}

std::string SubnetJsonLine(const ZEVA_SUBNET_DEVICE_INFO &dev) {
    return "{\"status\":\"subnet\",\"serial\":" + JsonText(Field(dev.szSerialNOEx)) +
           ",\"ipv4\":" + JsonText(Field(dev.szIPv4Address)) + ",\"mask\":" + JsonText(Field(dev.szIPv4SubnetMask)) +
           ",\"gateway\":" + JsonText(Field(dev.szIPv4Gateway)) + ",\"model\":" + JsonText(Field(dev.szDevDesc)) +
           ",\"deviceType\":" + std::to_string(dev.dwDeviceType) + "}";
}

}  // namespace zevahost
