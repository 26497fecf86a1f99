#include "module/protocol/ProbeXml.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace ZEVA {

namespace {

constexpr size_t kProbeZeros = 8;  // the terminator and the zeros behind it

// TinyXML's parser (UTF-8 mode) recurses once per open element. NestingWithin follows a text the
// way that parser meets it and counts the open elements. Comments, CDATA sections, declarations,
// other markup, attribute values and texts may hold "<", "</" and "/>" that open or close
// nothing, so each is passed over exactly as the parser passes it: texts and quoted values a
// whole UTF-8 sequence at a time, as the parser reads them, even where the sequence is broken.
// Where the parser stops with an error the walk ends too: nothing after that point is parsed.

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
// The parser takes every byte from 127 up for a letter.
bool IsNameStart(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 127 || std::isalpha(u) || c == '_';
}
bool IsNameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 127 || std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == ':';
}
// Bytes the parser reads as one character of a text or a quoted value.
size_t CharLength(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0xC2 && u <= 0xDF ? 2 : u >= 0xE0 && u <= 0xEF ? 3 : u >= 0xF0 && u <= 0xF4 ? 4 : 1;
}

struct CCursor {
    const char *p;
    const char *end;

    bool AtEnd() const { return p >= end; }
    bool At(const char *pLiteral, bool bIgnoreCase = false) const {
        for (const char *q = p; *pLiteral; ++q, ++pLiteral) {
            if (q >= end)
                return false;
            char c = bIgnoreCase ? char(std::tolower(static_cast<unsigned char>(*q))) : *q;
            if (c != *pLiteral)
                return false;
        }
        return true;
    }
    void Step(size_t n) { p = size_t(end - p) > n ? p + n : end; }
    void StepChar() { Step(CharLength(*p)); }
    // Past the first pLiteral from here, or to the end.
    void Pass(const char *pLiteral) {
        while (!AtEnd() && !At(pLiteral))
            ++p;
        Step(std::strlen(pLiteral));
    }
    // Blanks, and the byte-order marks the parser skips with them.
    void SkipSpace() {
        while (!AtEnd()) {
            if (At("\xEF\xBB\xBF") || At("\xEF\xBF\xBE") || At("\xEF\xBF\xBF"))
                Step(3);
            else if (IsSpace(*p))
                ++p;
            else
                break;
        }
    }
    void SkipName() {
        while (!AtEnd() && IsNameChar(*p))
            ++p;
    }
    // name = value, the value quoted or not; false where the parser fails.
    bool SkipAttribute() {
        if (AtEnd() || !IsNameStart(*p))
            return false;
        SkipName();
        SkipSpace();
        if (AtEnd() || *p != '=')
            return false;
        ++p;
        SkipSpace();
        if (AtEnd())
            return false;
        if (*p == '"' || *p == '\'') {
            char quote = *p++;
            while (!AtEnd() && *p != quote)
                StepChar();
            Step(1);
            return true;
        }
        for (; !AtEnd() && !IsSpace(*p) && *p != '/' && *p != '>'; ++p)
            if (*p == '"' || *p == '\'')
                return false;
        return true;
    }
    // After "<name": 1 for an open element, 0 for an empty one ("/>"), -1 where the parser fails.
    int SkipTag() {
        SkipName();
        for (;;) {
            SkipSpace();
            if (AtEnd())
                return -1;
            if (*p == '/') {
                Step(1);
                if (AtEnd() || *p != '>')
                    return -1;
                Step(1);
                return 0;
            }
            if (*p == '>') {
                Step(1);
                return 1;
            }
            if (!SkipAttribute())
                return -1;
        }
    }
    // After "<?xml": only its version, encoding and standalone values are read as quoted.
    void SkipDeclaration() {
        while (!AtEnd() && *p != '>') {
            SkipSpace();
            if (At("version", true) || At("encoding", true) || At("standalone", true)) {
                if (!SkipAttribute())
                    p = end;
            } else {
                while (!AtEnd() && *p != '>' && !IsSpace(*p))
                    ++p;
            }
        }
        Step(1);
    }
};

bool NestingWithin(const char *pText, size_t len, int iLimit) {
    CCursor c{pText, pText + len};
    int depth = 0;
    while (!c.AtEnd()) {
        if (*c.p != '<') {
            c.StepChar();
        } else if (c.At("<!--")) {
            c.Step(4);
            c.Pass("-->");
        } else if (c.At("<![CDATA[")) {
            c.Step(9);
            c.Pass("]]>");
        } else if (c.At("<?xml", true)) {
            c.Step(5);
            c.SkipDeclaration();
        } else if (c.At("</")) {
            depth -= depth > 0;
            c.Pass(">");
        } else if (c.p + 1 < c.end && IsNameStart(c.p[1])) {
            c.Step(1);
            int open = c.SkipTag();
            if (open < 0)
                return true;
            if (open && ++depth > iLimit)
                return false;
        } else {
            c.Step(1);
            c.Pass(">");
        }
    }
    return true;
}

}  // namespace

std::vector<char> ParserCopy(const char *pText, uint32_t dwLen) {
    size_t len = strnlen(pText, dwLen);
    std::vector<char> text(len + kProbeZeros);
    std::memcpy(text.data(), pText, len);
    return text;
}

const TiXmlElement *ParseProbe(const char *pData, uint32_t dwLen, TiXmlDocument &doc) {
    if (!pData)
        return nullptr;
    std::vector<char> text = ParserCopy(pData, dwLen);
    if (!NestingWithin(text.data(), text.size() - kProbeZeros, PROBE_MAX_DEPTH))
        return nullptr;
    doc.SetTabSize(0);  // no row and column for every node: nothing reads them
    doc.Parse(text.data(), nullptr, TIXML_ENCODING_UTF8);
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
