// The property-list codec against Python's plistlib in both directions, and
// the XML rules it shares with expat.
#include "platform/posix/preference_value.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/python.h"

namespace {

using Kind = PreferenceValue::Kind;

std::string Wrap(const std::string &Body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + Body + "</plist>";
}

// Python objects drawn from a fixed seed: nested dictionaries and arrays of
// every kind plistlib writes, texts with markup characters, carriage
// returns and characters beyond the BMP, integers up to 2**64 - 1.
const char *Generator = R"(
import datetime, plistlib, random
rng = random.Random(20261207)
alphabet = 'abc <>&"\'\r\n\t]]>é€😀\u2028'
def text():
    return ''.join(rng.choice(alphabet) for _ in range(rng.randrange(0, 12)))
def value(depth):
    k = rng.randrange(9 if depth < 4 else 7)
    if k == 0: return text()
    if k == 1: return bytes(rng.randrange(256) for _ in range(rng.randrange(0, 40)))
    if k == 2: return rng.choice([0, -1, 1, 2**31, -2**31 - 1, 2**63 - 1, -2**63, 2**64 - 1, rng.randrange(-10**12, 10**12)])
    if k == 3: return rng.choice([0.0, -0.5, 1e308, 5e-324, 0.1, float('inf'), -float('inf'), rng.uniform(-1e9, 1e9)])
    if k == 4: return rng.choice([True, False])
    if k == 5: return datetime.datetime(rng.randrange(1, 10000), rng.randrange(1, 13), rng.randrange(1, 29), rng.randrange(24), rng.randrange(60), rng.randrange(60))
    if k == 6: return text()
    if k == 7: return [value(depth + 1) for _ in range(rng.randrange(0, 4))]
    return {text(): value(depth + 1) for _ in range(rng.randrange(0, 5))}
def documents():
    return [{text(): value(0) for _ in range(rng.randrange(0, 6))} for _ in range(300)]
)";

} // namespace

TEST(PreferenceCodec, PlistlibDocumentsReadAndWriteBack) {
    std::string Generated = RunPython(std::string(Generator) + R"(
for d in documents():
    print(plistlib.dumps(d, sort_keys=False).hex())
)");
    std::istringstream Lines(Generated);
    std::string Line, Ours;
    int32 Count = 0;
    while (std::getline(Lines, Line)) {
        PreferenceValue Value;
        std::string Error;
        ASSERT_TRUE(PreferenceCodec_Read(FromHex(Line), Value, &Error)) << Error << "\n" << FromHex(Line);
        Ours += ToHex(PreferenceCodec_Write(Value)) + "\n";
        Count++;
    }
    ASSERT_EQ(Count, 300);
    // plistlib reads our text back as the objects it reads from its own
    // (plistlib itself writes a carriage return as a line feed).
    EXPECT_EQ(RunPython(std::string(Generator) + R"(
import sys
ours = sys.stdin.read().split()
bad = [i for i, d in enumerate(documents())
       if plistlib.loads(bytes.fromhex(ours[i])) != plistlib.loads(plistlib.dumps(d, sort_keys=False))]
print(len(ours), bad)
)",
                        Ours),
              "300 []\n");
}

TEST(PreferenceCodec, ValuesAsTheyAreRead) {
    PreferenceValue Value;
    ASSERT_TRUE(PreferenceCodec_Read(Wrap(R"(<dict>
        <key>s</key><string>a&amp;b&#x1F600;&#13;<![CDATA[<x>]]></string>
        <key>e</key><string/>
        <key>n</key><integer> -9223372036854775808 </integer>
        <key>u</key><integer>18446744073709551615</integer>
        <key>h</key><integer>0x10</integer>
        <key>r</key><real>+1.5e3</real>
        <key>t</key><true/>
        <key>d</key><date>1970-01-02T00:00:01Z</date>
        <key>y</key><date>2000Z</date>
        <key>b</key><data>
            aGk=
        </data>
        <key>a</key><array><dict/><array/></array>
        <key>s</key><string>last wins</string>
        <!-- a comment -->
    </dict>)"),
                                    Value));
    ASSERT_EQ(Value.Members.size(), 11u);
    EXPECT_EQ(Value.Find("s")->Text, "last wins");
    EXPECT_EQ(Value.Members[0].Key + Value.Members[1].Key + Value.Members[10].Key, "sea"); // "s" where it first stood
    EXPECT_EQ(Value.Find("e")->Text, "");
    EXPECT_EQ(Value.Find("n")->Number, INT64_MIN);
    EXPECT_TRUE(Value.Find("u")->Unsigned);
    EXPECT_EQ((uint64)Value.Find("u")->Number, UINT64_MAX);
    EXPECT_EQ(Value.Find("h")->Number, 16);
    EXPECT_EQ(Value.Find("r")->Real, 1500.0);
    EXPECT_EQ(Value.Find("t")->Type, Kind::Boolean);
    EXPECT_EQ(Value.Find("d")->Number, 86401);
    EXPECT_EQ(Value.Find("y")->Number, 946684800);
    EXPECT_EQ(Value.Find("b")->Text, "hi");
    EXPECT_EQ(Value.Find("a")->Items.size(), 2u);
    ASSERT_TRUE(PreferenceCodec_Read(Wrap("<string>a&amp;b&#x1F600;&#13;<![CDATA[<x>]]>\r\nz</string>"), Value));
    EXPECT_EQ(Value.Text, "a&b\xF0\x9F\x98\x80\r<x>\nz");
}

TEST(PreferenceCodec, RefusesWhatXmlRefuses) {
    const char *Bad[] = {
        "",
        "<plist>",
        "<plist></plist>",
        "<dict/>",
        "<plist><dict/><dict/></plist>",
        "<plist><dict/></plist>junk",
        "<plist><dict><string>x</string></dict></plist>",
        "<plist><dict><key>k</key></dict></plist>",
        "<plist><string>a&bogus;</string></plist>",
        "<plist><string>a&#0;</string></plist>",
        "<plist><string>a&#xD800;</string></plist>",
        "<plist><string>\x01</string></plist>",
        "<plist><string>\xC3\x28</string></plist>",
        "<plist><string>\xC0\xAF</string></plist>",
        "<plist><string>a]]>b</string></plist>",
        "<plist><string>a<b/></string></plist>",
        "<plist><string>a</strin></plist>",
        "<plist><integer>1.5</integer></plist>",
        "<plist><integer>18446744073709551616</integer></plist>",
        "<plist><integer>-9223372036854775809</integer></plist>",
        "<plist><integer/></plist>",
        "<plist><real>x</real></plist>",
        "<plist><date>2020-02-30T00:00:00Z</date></plist>",
        "<plist><date>0000-01-01T00:00:00Z</date></plist>",
        "<plist><date>2020-01-01</date></plist>",
        "<plist><data>@@@@</data></plist>",
        "<plist><true>x</true></plist>",
        "<plist><unknown/></plist>",
        "<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>",
        "<plist><string>unterminated",
        "<plist a=1><true/></plist>",
    };
    for (const char *Document : Bad) {
        PreferenceValue Value = PreferenceValue::MakeString("kept");
        std::string Error;
        EXPECT_FALSE(PreferenceCodec_Read(Document, Value, &Error)) << Document;
        EXPECT_FALSE(Error.empty()) << Document;
        EXPECT_EQ(Value.Text, "kept") << Document;
    }
    // Depth is bounded, not recursed into without end.
    std::string Deep = "<plist>";
    for (int32 Index = 0; Index < 100000; Index++) Deep += "<array>";
    PreferenceValue Value;
    EXPECT_FALSE(PreferenceCodec_Read(Deep, Value));
    std::string Fits = "<plist>", Close;
    for (int32 Index = 0; Index < PREFERENCE_MAX_DEPTH; Index++) Fits += "<array>", Close += "</array>";
    EXPECT_TRUE(PreferenceCodec_Read(Fits + Close + "</plist>", Value));
}

TEST(PreferenceCodec, TextCheckMatchesXmlCharacters) {
    struct Case {
        std::string Text;
        bool Valid;
    };
    const Case Cases[] = {
        {"", true},          {"plain \t\r\n", true},  {std::string("a\0b", 3), false}, {"\x7F", true},
        {"\x1F", false},     {"\xEF\xBF\xBE", false}, {"\xEF\xBF\xBD", true},           {"\xED\xA0\x80", false},
        {"\xF4\x90\x80\x80", false}, {"\xF0\x9F\x98\x80", true}, {"\xE2\x82", false},   {"\x80", false},
    };
    for (const Case &Row : Cases) EXPECT_EQ(PreferenceText_IsValid(Row.Text), Row.Valid) << ToHex(Row.Text);
}
