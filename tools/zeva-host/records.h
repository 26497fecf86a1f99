// The output records of the device requests, decoded by the layouts of zeva/ZevaSdk.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zevahost {

// The get command's output record as one JSON object; empty when the command has no known
// layout or the size is not the record's.
std::string DecodeGetRecord(uint32_t command, const uint8_t *data, size_t size);
// The result word that resets, network-parameter changes and set commands hand back.
std::string DecodeResultWord(const uint8_t *data, size_t size);
std::string Hex(const uint8_t *data, size_t size);

}  // namespace zevahost
