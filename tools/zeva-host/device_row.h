// How zeva-host prints one reported device: an aligned table row or one JSON object a line.
#pragma once

#include <string>

#include "zeva/ZevaSdk.h"

namespace zevahost {

// "new", "changed", "offline", or the number for any other report.
std::string StatusName(int32_t iResult);
std::string TableHeader();
std::string TableRow(const ZEVA_DEVICE_INFO &dev);
std::string JsonLine(const ZEVA_DEVICE_INFO &dev);
std::string SubnetJsonLine(const ZEVA_SUBNET_DEVICE_INFO &dev);
std::string SubnetTableRow(const ZEVA_SUBNET_DEVICE_INFO &dev);

}  // namespace zevahost
