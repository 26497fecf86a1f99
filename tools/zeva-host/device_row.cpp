#include "device_row.h"

#include <cstdio>
#include <cstring>

#include "json_text.h"

namespace zevahost {

namespace {

// A record's text field, which need not be terminated when the value fills it.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::string Row(const char *status, const std::string &serial, const std::string &mac, const std::string &ipv4,
                const std::string &model, const std::string &version) {
    char line[512];
    std::snprintf(line, sizeof line, "%-8s %-36s %-17s %-15s %-20s %s", status, serial.c_str(), mac.c_str(),
                  ipv4.c_str(), model.c_str(), version.c_str());
    return line;
}

// The fields both records share, in the same order in both kinds of line.
template <typename Record>
JsonObject &AddAddresses(JsonObject &line, const Record &dev) {
    return line.Text("ipv4", Field(dev.szIPv4Address))
        .Text("mask", Field(dev.szIPv4SubnetMask))
        .Text("gateway", Field(dev.szIPv4Gateway))
        .Text("ipv6", Field(dev.szIPv6Address))
        .Text("model", Field(dev.szDevDesc))
        .Bool("dhcpEnabled", dev.byDhcpEnabled == 1);
}

}  // namespace

std::string StatusName(int32_t iResult) {
    switch (iResult) {
    case ZEVA_DEVICE_ONLINE: return "new";
    case ZEVA_DEVICE_CHANGED: return "changed";
    case ZEVA_DEVICE_OFFLINE: return "offline";
    default: return std::to_string(iResult);
    }
}

std::string TableHeader() { return Row("STATUS", "SERIAL", "MAC", "IPV4", "MODEL", "VERSION"); }

std::string TableRow(const ZEVA_DEVICE_INFO &dev) {
    return Row(StatusName(dev.iResult).c_str(), Field(dev.szSerialNOEx), Field(dev.szMAC), Field(dev.szIPv4Address),
               Field(dev.szDevDesc), Field(dev.szDeviceSoftwareVersion));
}

std::string JsonLine(const ZEVA_DEVICE_INFO &dev) {
    JsonObject line;
    line.Text("status", StatusName(dev.iResult)).Text("serial", Field(dev.szSerialNOEx)).Text("mac", Field(dev.szMAC));
    // An offline report holds only the device's identity: the rest of its record is zero.
    if (dev.iResult == ZEVA_DEVICE_OFFLINE)
        return line.Str();
    AddAddresses(line, dev)
        .Text("version", Field(dev.szDeviceSoftwareVersion))
        .Number("cmdPort", dev.dwCmdPort)
        .Number("httpPort", dev.wHttpPort)
        .Bool("activated", dev.byActivated == 0)  // the byte is 1 for a device not yet activated
        .Text("source", dev.byDataFromMulticast ? "probe answer" : "raw frame");
    return line.Str();
}

std::string SubnetTableRow(const ZEVA_SUBNET_DEVICE_INFO &dev) {
    return Row("subnet", Field(dev.szSerialNOEx), "", Field(dev.szIPv4Address), Field(dev.szDevDesc), "");
}

std::string SubnetJsonLine(const ZEVA_SUBNET_DEVICE_INFO &dev) {
    JsonObject line;
    line.Text("status", "subnet").Text("serial", Field(dev.szSerialNOEx));
    return AddAddresses(line, dev).Number("deviceType", dev.dwDeviceType).Str();
}

}  // namespace zevahost
