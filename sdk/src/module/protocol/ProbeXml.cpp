#include "module/protocol/ProbeXml.h"

#include <cstring>
#include <string>

namespace ZEVA {

namespace {

// Counts element nesting the way a parser would meet it: "<x" opens, "</" and "/>" close.
bool NestingWithin(const std::string &text, int limit) {
    int depth = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '<' && text[i + 1] == '/')
            --depth;
        else if (text[i] == '/' && text[i + 1] == '>')
            --depth;
        else if (text[i] == '<' && text[i + 1] != '?' && text[i + 1] != '!' && ++depth > limit)
            return false;
    }
    return true;
}

}  // namespace

const TiXmlElement *ParseProbe(const char *pData, uint32_t dwLen, TiXmlDocument &doc) {
    if (!pData)
        return nullptr;
    std::string text(pData, dwLen);
    if (!NestingWithin(text, PROBE_MAX_DEPTH))
        return nullptr;
    // The parser steps over a UTF-8 lead byte by its sequence length, up to 4 bytes, even past
    // the terminator: zeros behind the text keep such a step inside the copy.
    text.append(4, '\0');
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement *root = doc.RootElement();
    if (doc.Error() || !root || std::strcmp(root->Value(), "Probe") != 0)
        return nullptr;
    return root;
}

const char *ProbeChildText(const TiXmlElement *pRoot, const char *pName) {
    const TiXmlElement *e = pRoot->FirstChildElement(pName);
    return e ? e->GetText() : nullptr;
}

}  // namespace ZEVA
