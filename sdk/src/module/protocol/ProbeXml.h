// Parsing of received Probe texts. A datagram is any bytes from the network: it is parsed from a
// terminated copy, and texts nested deeper than any Probe are refused before the recursive parser
// could run out of stack.
#pragma once

#include <tinyxml.h>

#include <cstdint>
#include <vector>

namespace ZEVA {

constexpr int PROBE_MAX_DEPTH = 32;

// What TinyXML may parse of a text: its bytes up to the first zero, then zeros. The parser steps
// over a UTF-8 lead byte by its sequence length, up to 4 bytes, and compares entity names, even
// past the terminator: the zeros behind it keep every such read inside the copy.
std::vector<char> ParserCopy(const char *pText, uint32_t dwLen);
// The root element "Probe" of the text, or null when the text is no Probe.
const TiXmlElement *ParseProbe(const char *pData, uint32_t dwLen, TiXmlDocument &doc);
// The text of the root's child element, or null when it is missing or empty.
const char *ProbeChildText(const TiXmlElement *pRoot, const char *pName);

}  // namespace ZEVA
