// Received texts are parsed only when their nesting stays within what the parser's recursion may
// take: the walk that decides it must meet the text as the parser does, whatever the text hides
// in comments, values, declarations or broken UTF-8.
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "base/GlobalCtrl.h"
#include "guard_page.h"
#include "module/protocol/ProbeXml.h"

using namespace ZEVA;

namespace {

// The parser's copy of a text is made inside ParseProbe: to see the parser read past it, the
// next allocation of this thread can be placed with its end against a page that may not be read.
struct GuardedAllocation {
    bool armed = false;
    size_t size = 0;
    sdktest::GuardedMapping mapping;
};
thread_local GuardedAllocation t_guarded;

}  // namespace

void *operator new(size_t n) {
    if (t_guarded.armed) {
        t_guarded = {false, n, sdktest::GuardedMapping::Make(n)};
        if (!t_guarded.mapping.data)
            throw std::bad_alloc();
        return t_guarded.mapping.data;
    }
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept {
    if (p && p == t_guarded.mapping.data)
        t_guarded.mapping.Unmap();
    else
        std::free(p);
}

void operator delete(void *p, size_t) noexcept { operator delete(p); }

namespace {

bool Parses(const std::string &text) {
    TiXmlDocument doc;
    return ParseProbe(text.data(), uint32_t(text.size()), doc) != nullptr;
}

std::string Repeat(const std::string &piece, size_t bytes) {
    std::string out;
    while (out.size() < bytes)
        out += piece;
    return out;
}

std::string Probe(const std::string &inner) { return "<Probe><Types>hello</Types>" + inner + "</Probe>"; }

std::string Nested(int levels) {
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
        open += "<a>";
        close += "</a>";
    }
    return open + close;
}

TEST(ProbeNesting, AnswersWithHiddenMarkupStillParse) {
    const std::string hidden = Repeat("<a>", 300);
    const struct {
        const char *why;
        std::string text;
    } rows[] = {
        {"declaration", "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + Probe("")},
        {"comment", Probe("<!--" + hidden + "-->")},
        {"CDATA", Probe("<x><![CDATA[" + hidden + "]]></x>")},
        {"quoted value", Probe("<x v=\"" + hidden + "\" w='" + hidden + "'/>")},
        {"empty elements", Probe(Repeat("<x/><y a=\"1\" />", 3000))},
        {"UTF-8 texts", Probe("<DeviceDescription>\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba</DeviceDescription>")},
        {"deepest allowed", Probe(Nested(PROBE_MAX_DEPTH - 1))},
    };
    for (const auto &row : rows)
        EXPECT_TRUE(Parses(row.text)) << row.why;
}

// A megabyte of each: every one nests an element per repetition as the parser reads it, which
// would run the host's stack out if it reached the parser.
TEST(ProbeNesting, DeepTextsAreRefusedHoweverTheyHideIt) {
    const struct {
        const char *why;
        std::string piece;
    } rows[] = {
        {"plain", "<a>"},
        {"'/>' in a value", "<a x=\"/>\">"},
        {"'</' in a value", "<a x='</a>'>"},
        {"'</' swallowed by a broken UTF-8 sequence", "<a>\xF0</a>"},
        {"value swallowed past its quote", "<a x=\"\xF0\"></a>\">"},
        {"'</' in a declaration's value", "<a><?xml version=\"></a>\"?>"},
        {"byte-order mark as a blank in a tag", "<a \xEF\xBB\xBF>"},
        {"one level too deep", ""},
    };
    for (const auto &row : rows) {
        std::string inner = row.piece.empty() ? Nested(PROBE_MAX_DEPTH) : Repeat(row.piece, 1 << 20);
        EXPECT_FALSE(Parses(Probe(inner))) << row.why;
    }
}

// The parser steps over a whole UTF-8 sequence, also over the zero byte that ends the text: what
// follows that byte must never reach it (under AddressSanitizer a read past the copy shows too).
// A text that ends inside a UTF-8 sequence makes the parser step past the terminator of its
// copy: it must stay inside the copy, which ends against a page that may not be read.
TEST(ProbeNesting, ParserStaysInsideTheCopy) {
    const std::string texts[] = {
        "<Probe><Types>hello</Types><x>world<a>\xF0",
        "<Probe><Types>hello</Types><x>world<a>\xE0",
        "<Probe><Types>hello</Types><x a=\"\xF0",
        "\xF0",
    };
    for (const std::string &text : texts) {
        TiXmlDocument doc;
        t_guarded.armed = true;
        EXPECT_EQ(nullptr, ParseProbe(text.data(), uint32_t(text.size()), doc)) << text;
        EXPECT_FALSE(t_guarded.armed) << "the copy was not the first allocation";
        EXPECT_GT(t_guarded.size, text.size()) << text;
    }
}

// The configuration file's text goes through the same copy: a file that ends inside a UTF-8
// sequence or an entity must not lead the parser past it.
TEST(ConfigText, ParserStaysInsideTheCopy) {
    const std::string texts[] = {
        "<ZEVASDK><logDirectory>\xE7",
        "<ZEVASDK><logDirectory>\xF0",
        "<ZEVASDK><logDirectory>&\xE7",
        "<ZEVASDK a=\"\xF0",
    };
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    for (const std::string &text : texts) {
        t_guarded.armed = true;
        ctrl->ParseConfigText(text.data(), uint32_t(text.size()));
        EXPECT_FALSE(t_guarded.armed) << "the copy was not the first allocation";
        EXPECT_GT(t_guarded.size, text.size()) << text;
    }
}

TEST(ProbeNesting, TextEndsAtItsFirstZeroByte) {
    const std::string broken = "<Probe><Types>hello</Types><x>world<a>\xF0";
    EXPECT_FALSE(Parses(broken + ">"));
    EXPECT_FALSE(Parses(broken + std::string(1, '\0') + Repeat("<a>", 1 << 20)));
    EXPECT_TRUE(Parses(Probe("") + std::string(1, '\0') + Repeat("<a>", 1 << 20)));
}

}  // namespace
