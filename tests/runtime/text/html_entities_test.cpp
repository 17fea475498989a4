// HTML references against Python's html.unescape (the listed names, decimal
// and hex references with ";"), the rules of the system's own decoder that
// Python does not share, and the decimal-reference encoder against
// Python's xmlcharrefreplace.
#include "runtime/text/html_entities.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using HtmlEntitiesTest = RuntimeTest;

std::string DecodeHtml(const std::string &Text, int32 *Result = nullptr, int32 Size = -1) {
    if (Size < 0) Size = int32(Text.size() * 4 + 1);
    std::vector<char> out(size_t(Size) + 1, '#');
    const int32 result = StringUtf8_DecodeHtml(Text.c_str(), out.data(), Size);
    if (Result) *Result = result;
    EXPECT_EQ(out[size_t(Size)], '#') << "wrote past the destination";
    return out.data();
}

std::u16string DecodeHtml16(const std::u16string &Text, int32 *Result = nullptr, int32 Units = -1) {
    if (Units < 0) Units = int32(Text.size() * 2 + 1);
    std::vector<uint16> out(size_t(Units) + 1, '#');
    const int32 result = StringUtf16_DecodeHtml(reinterpret_cast<const uint16 *>(Text.c_str()), out.data(), Units);
    if (Result) *Result = result;
    EXPECT_EQ(out[size_t(Units)], '#') << "wrote past the destination";
    return reinterpret_cast<const char16_t *>(out.data());
}

std::string Encode(const std::string &Text, int32 Size = -1) {
    if (Size < 0) Size = int32(Text.size() * 10 + 1);
    std::vector<char> out(size_t(Size) + 1, '#');
    EXPECT_EQ(StringUtf8_EncodeString(Text.c_str(), out.data(), Size), 1);
    EXPECT_EQ(out[size_t(Size)], '#') << "wrote past the destination";
    return out.data();
}

std::string DecodeString(const std::string &Text, int32 Size = -1) {
    if (Size < 0) Size = int32(Text.size() * 4 + 1);
    std::vector<char> out(size_t(Size) + 1, '#');
    EXPECT_EQ(StringUtf8_DecodeString(Text.c_str(), out.data(), Size), 1);
    EXPECT_EQ(out[size_t(Size)], '#') << "wrote past the destination";
    return out.data();
}

std::u16string Utf16(const std::string &Ascii) { return std::u16string(Ascii.begin(), Ascii.end()); }

// Python answers one line of hex per input line: the UTF-8 and the UTF-16
// form of html.unescape, or "skip" for code points Python remaps or drops.
std::vector<std::pair<std::string, std::string>> PythonUnescape(const std::string &Lines) {
    const std::string output = RunPython(
        "import html, sys\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    if line.startswith('&#'):\n"
        "        number = line[2:-1]\n"
        "        value = int(number[1:], 16) if number[0] in 'xX' else int(number)\n"
        "        if value == 0 or value in html._invalid_charrefs or value in html._invalid_codepoints:\n"
        "            print('skip skip'); continue\n"
        "    text = html.unescape(line)\n"
        "    print(text.encode('utf-8').hex(), text.encode('utf-16-le').hex())\n",
        Lines);
    std::vector<std::pair<std::string, std::string>> results;
    std::istringstream stream(output);
    std::string utf8, utf16;
    while (stream >> utf8 >> utf16) results.emplace_back(utf8, utf16);
    return results;
}

std::string Utf16Hex(const std::u16string &Text) {
    std::string bytes;
    for (char16_t unit : Text) {
        bytes.push_back(char(unit & 0xFF));
        bytes.push_back(char(unit >> 8));
    }
    return ToHex(bytes);
}

}  // namespace

TEST_F(HtmlEntitiesTest, ListedNamesMatchPython) {
    // The table holds the HTML 4 names with "apos", less these twelve.
    const std::string script =
        "import html.entities\n"
        "left_out = {'alefsym', 'dArr', 'frasl', 'hArr', 'image', 'lArr', 'lang', 'rArr', 'rang', 'real',\n"
        "            'uArr', 'weierp'}\n"
        "for name in sorted(set(html.entities.name2codepoint) - left_out) + ['apos']:\n"
        "    print(name)\n";
    std::istringstream names(RunPython(script));
    std::string lines;
    std::vector<std::string> texts;
    for (std::string name; names >> name;) {
        texts.push_back("x&" + name + ";y");
        lines += texts.back() + "\n";
    }
    ASSERT_EQ(texts.size(), 241u);
    const auto expected = PythonUnescape(lines);
    ASSERT_EQ(expected.size(), texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        int32 result = 0;
        EXPECT_EQ(ToHex(DecodeHtml(texts[i], &result)), expected[i].first) << texts[i];
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Utf16Hex(DecodeHtml16(Utf16(texts[i]), &result)), expected[i].second) << texts[i];
        EXPECT_EQ(result, 1);
    }
}

TEST_F(HtmlEntitiesTest, NumericReferencesMatchPython) {
    // Every code point below U+3000, then random ones up to past U+10FFFF
    // (surrogates and out-of-range values included), decimal and hex.
    std::mt19937 random(2125);
    std::vector<uint32> codePoints;
    for (uint32 c = 1; c < 0x3000; c++) codePoints.push_back(c);
    for (int32 i = 0; i < 3000; i++) codePoints.push_back(random() % 0x120000);
    codePoints.push_back(0xD800);
    codePoints.push_back(0xDFFF);
    codePoints.push_back(0x10FFFF);
    codePoints.push_back(0x110000);
    std::vector<std::string> texts;
    std::string lines;
    char text[32];
    for (uint32 c : codePoints) {
        snprintf(text, sizeof(text), "&#%u;", c);
        texts.push_back(text);
        snprintf(text, sizeof(text), (c & 1) ? "&#x%X;" : "&#X%x;", c);
        texts.push_back(text);
    }
    texts.push_back("&#99999999999999999999;");
    texts.push_back("&#x7FFFFFFFFFFF;");
    for (const std::string &t : texts) lines += t + "\n";
    const auto expected = PythonUnescape(lines);
    ASSERT_EQ(expected.size(), texts.size());
    int32 compared = 0;
    for (size_t i = 0; i < texts.size(); i++) {
        if (expected[i].first == "skip") continue;
        compared++;
        EXPECT_EQ(ToHex(DecodeHtml(texts[i])), expected[i].first) << texts[i];
        EXPECT_EQ(Utf16Hex(DecodeHtml16(Utf16(texts[i]))), expected[i].second) << texts[i];
    }
    EXPECT_GT(compared, 10000);
}

TEST_F(HtmlEntitiesTest, DecodesTheSystemsOwnRules) {
    struct Case {
        const char *Text;
        const char *Decoded;
    } cases[] = {
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&AMP;", "&"},                       // without case when no exact match
        {"&eacute;", "\xc3\xa9"},             // exact case first: not "Eacute"
        {"&Eacute;", "\xc3\x89"},
        {"&EACUTE;", "\xc3\x89"},             // first row without case
        {"&trade;", "\xe2\x84\xa2"},
        {"&frac12;", "\xc2\xbd"},
        {"&#233;", "\xc3\xa9"},
        {"&&233;", "\xc3\xa9"},
        {"&#&#233;", "\xc3\xa9"},
        {"&#amp;", "&"},                      // "&" and "#" in front of a name are skipped
        {"a &b c", "a &b c"},                 // no ";"
        {"AT&T;", "AT&T;"},                   // no such name
        {"line1\r\nline2", "line1line2"},
        {"&;", "\r"},
        {"a&<br>;b&<BR />;c&<bR/>;d", "a\nb\nc\nd"},
        {"&#x41;&#X42;", "AB"},               // hex references
        {"&#0x43;", "C"},                     // the "0x" form of the number reader
        {"a&#0;b", "a&#0;b"},                 // a reference to 0 stays text
        {"&#;x", "\rx"},                      // an empty name after "&#" is the CR row
        {"&#xZ;", "&#xZ;"},
        {"&#128512;", "\xf0\x9f\x98\x80"},    // whole code points
        {"&#xD800;", "\xef\xbf\xbd"},         // no scalar value
        {"&#1114112;", "\xef\xbf\xbd"},
        {"&#-65;", "\xef\xbf\xbd"},
        {"&#128;", "\xc2\x80"},               // no Windows-1252 remapping
        {"&#65abc; d", "A d"},                // continues behind the ";"
        {"&ampere;", "&ampere;"},
        {"&abcdefghijklmnopqrstuvwxyz01234567;", "&abcdefghijklmnopqrstuvwxyz01234567;"},
        {"caf\xc3\xa9 &lt;\xe2\x82\xac&gt;", "caf\xc3\xa9 <\xe2\x82\xac>"},
    };
    for (const Case &c : cases) {
        int32 result = 0;
        EXPECT_EQ(DecodeHtml(c.Text, &result), c.Decoded) << c.Text;
        EXPECT_EQ(result, 1) << c.Text;
    }
    EXPECT_EQ(DecodeHtml16(u"&#128512;&eacute;\r\n&;"), u"\U0001F600\u00e9\r");
    EXPECT_EQ(DecodeHtml16(u"\U0001F600&#0;"), u"\U0001F600&#0;");
    // A name of 31 bytes is looked up, a longer one is not; 31 "a"s do not
    // name anything, so the reference stays either way.
    EXPECT_EQ(DecodeHtml("&" + std::string(31, 'a') + ";"), "&" + std::string(31, 'a') + ";");
}

TEST_F(HtmlEntitiesTest, StopsWhenTheDestinationIsFull) {
    int32 result = -1;
    EXPECT_EQ(DecodeHtml("abcdef", &result, 4), "abc");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml("abc", &result, 4), "abc");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(DecodeHtml("abc\r\n", &result, 4), "abc");  // dropped bytes need no room
    EXPECT_EQ(result, 1);
    EXPECT_EQ(DecodeHtml("a&eacute;", &result, 3), "a");  // a character fits whole or not at all
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml("a\xc3\xa9", &result, 3), "a");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml("ab", &result, 1), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml16(u"a&#128512;", &result, 3), u"a");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml16(u"a\U0001F600", &result, 3), u"a");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DecodeHtml16(u"abcdef", &result, 4), u"abc");
    EXPECT_EQ(result, 0);

    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(StringUtf8_DecodeHtml("abc", out, 0), 0);
    EXPECT_EQ(out[0], '#');
}

TEST_F(HtmlEntitiesTest, ManyAmpersandsDecodeInLinearTime) {
    // Quadratic scanning for ";" would take minutes here.
    std::string text(2000000, '&');
    int32 result = 0;
    const std::string decoded = DecodeHtml(text, &result, int32(text.size()) + 1);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(decoded, text);
    text.back() = ';';  // now every "&" has a ";" ahead: the run is one reference (CR)
    EXPECT_EQ(DecodeHtml(text, &result, int32(text.size()) + 1), "\r");
}

TEST_F(HtmlEntitiesTest, EncodeStringMatchesPython) {
    // Random texts of ASCII, BMP and non-BMP characters and broken bytes.
    std::mt19937 random(88);
    std::vector<std::string> texts = {"\xc3\xa9\xe2\x82\xac", "plain", "", "\xed\xa0\x80x", "\xf0\x9f\x98", "\xc0\xaf"};
    for (int32 i = 0; i < 300; i++) {
        std::string text;
        const int32 length = int32(random() % 40);
        for (int32 j = 0; j < length; j++) {
            switch (random() % 5) {
                case 0: text += char(1 + random() % 0x7F); break;
                case 1: text += "\xc3\xa9"; break;
                case 2: text += "\xe2\x82\xac"; break;
                case 3: text += "\xf0\x9f\x98\x80"; break;
                default: text += char(0x80 + random() % 0x80); break;
            }
        }
        texts.push_back(text);
    }
    std::string lines;
    for (const std::string &t : texts) lines += ToHex(t) + "\n";
    const std::string output = RunPython(
        "import sys\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    text = bytes.fromhex(line).decode('utf-8', 'replace')\n"
        "    print('>' + text.encode('ascii', 'xmlcharrefreplace').hex())\n",
        lines);
    std::istringstream stream(output);
    for (const std::string &text : texts) {
        std::string expected;
        ASSERT_TRUE(std::getline(stream, expected));
        EXPECT_EQ(">" + ToHex(Encode(text)), expected) << ToHex(text);
    }
    EXPECT_EQ(Encode("\xc3\xa9\xe2\x82\xac"), "&#233;&#8364;");
    EXPECT_EQ(DecodeString("&#233;&#8364;"), "\xc3\xa9\xe2\x82\xac");
}

TEST_F(HtmlEntitiesTest, EncodeAndDecodeStringRoundTrip) {
    std::mt19937 random(404);
    for (int32 i = 0; i < 500; i++) {
        std::u32string codePoints;
        std::string text;
        const int32 length = int32(random() % 30);
        for (int32 j = 0; j < length; j++) {
            uint32 c = random() % 3 == 0 ? 0x20 + random() % 0x5F : 0x80 + random() % 0x10FF80;
            if (c == '&' || c == '#' || (c >= 0xD800 && c <= 0xDFFF)) c = 'z';
            char bytes[4];
            int32 n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            if (n == 1) bytes[0] = char(c);
            else {
                for (int32 k = n - 1; k > 0; k--, c >>= 6) bytes[k] = char(0x80 | (c & 63));
                bytes[0] = char((0xF00 >> n) | c);
            }
            text.append(bytes, size_t(n));
        }
        const std::string encoded = Encode(text);
        for (char c : encoded) ASSERT_LT(uint8(c), 0x80);
        EXPECT_EQ(DecodeString(encoded), text) << encoded;
    }
}

TEST_F(HtmlEntitiesTest, EncodeAndDecodeStringEdges) {
    // A reference that does not fit is left out; the text stays terminated.
    EXPECT_EQ(Encode("a\xc3\xa9", 7), "a");
    EXPECT_EQ(Encode("a\xc3\xa9", 8), "a&#233;");
    EXPECT_EQ(Encode("abc", 2), "a");
    EXPECT_EQ(Encode("abc", 1), "");
    struct Case {
        const char *Text;
        const char *Decoded;
    } cases[] = {
        {"&#65 hello; x", "A x"},   // runs through the next ";"
        {"&#66", "B"},              // or to the end
        {"##67;", "C"},
        {"&#0x44;", "D"},
        {"a&#0;b", "a&#0;b"},       // 0 stays text
        {"##0;", "##0;"},
        {"&#x45;", "&#x45;"},       // decimal only (and String_AtoI's "0x")
        {"&#128512;", "\xf0\x9f\x98\x80"},
        {"&#55296;", "\xef\xbf\xbd"},
        {"a & b # c", "a & b # c"},
    };
    for (const Case &c : cases) EXPECT_EQ(DecodeString(c.Text), c.Decoded) << c.Text;
    EXPECT_EQ(DecodeString("\xc3\xa9&#233;", 4), "\xc3\xa9");
    EXPECT_EQ(DecodeString("abcdef", 4), "abc");
}

TEST(HtmlEntitiesDeath, NullPointersStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char out[8];
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            StringUtf8_DecodeHtml(nullptr, out, 8);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            StringUtf8_EncodeString("a", nullptr, 8);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
