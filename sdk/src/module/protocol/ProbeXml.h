// Parsing of received Probe texts. A datagram is any bytes from the network: it is parsed from a
// terminated copy, and texts nested deeper than any Probe are refused before the recursive parser
// could run out of stack.
#pragma once

#include <tinyxml.h>

#include <cstdint>

namespace ZEVA {

constexpr int PROBE_MAX_DEPTH = 32;

// The root element "Probe" of the text, or null when the text is no Probe.
const TiXmlElement *ParseProbe(const char *pData, uint32_t dwLen, TiXmlDocument &doc);
// The text of the root's child element, or null when it is missing or empty.
const char *ProbeChildText(const TiXmlElement *pRoot, const char *pName);

}  // namespace ZEVA
