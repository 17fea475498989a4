// Property lists: the typed mapping, values by path, the written layout,
// unsupported and broken elements, binary and non-plist files refused and
// left alone, and Python's plistlib both ways on generated lists (strings
// with blanks at their ends, markup characters and text above U+FFFF, 64-bit
// integers, reals bit for bit, nested arrays and dicts, empty ones too).
#include "formats/plist.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/command_line.h"
#include "runtime/text/string_print.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/log_capture.h"
#include "tests/support/dictionary_canon.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using PlistTest = RuntimeTest;

void WriteAll(const std::string &Path, const std::string &Text) {
    std::ofstream Output(Path, std::ios::binary);
    Output << Text;
}

// Canonical numbers: I<decimal> integers, R<bits of the double in hex>
// reals; the Python side writes the same.
std::string PlistNumber(Dictionary *Container, DictionaryItem *Item, int32 Type) {
    if (Type == DICTIONARY_TYPE_INT64) {
        int64 Value = 0;
        Dictionary_ItemGetInt64(Container, Item, &Value);
        return "I" + std::to_string(Value);
    }
    float64 Value = 0;
    Dictionary_ItemGetFloat64(Container, Item, &Value);
    uint64 Bits = 0;
    memcpy(&Bits, &Value, sizeof(Bits));
    char Text[24];
    String_Print(Text, (int32)sizeof(Text), "R%016llx", (unsigned long long)Bits);
    return Text;
}

const char *PythonCanon = R"PY(
import plistlib, struct, random, sys
def canon(v):
    if isinstance(v, bool): return 'T' if v else 'F'
    if isinstance(v, int): return 'I%d' % v
    if isinstance(v, float): return 'R%016x' % struct.unpack('<Q', struct.pack('<d', v))[0]
    if isinstance(v, str): return 'S' + v.encode('utf-8').hex()
    if isinstance(v, list): return '[' + ''.join(canon(x) + ',' for x in v) + ']'
    if isinstance(v, dict): return '{' + ''.join('K' + k.encode('utf-8').hex() + '=' + canon(x) + ',' for k, x in v.items()) + '}'
    raise TypeError(repr(v))

def same(a, b):
    if type(a) is not type(b): return False
    if isinstance(a, float): return struct.pack('<d', a) == struct.pack('<d', b)
    if isinstance(a, list): return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict): return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b

def generate(seed):
    rnd = random.Random(seed)
    def char():
        r = rnd.random()
        if r < 0.5: return chr(rnd.randint(0x20, 0x7E))
        if r < 0.6: return rnd.choice('&<>"\'')
        if r < 0.7: return rnd.choice(' \t\n')
        if r < 0.85:
            c = rnd.randint(0xA0, 0xFFFD)
            return chr(c) if not 0xD800 <= c <= 0xDFFF else 'e'
        return chr(rnd.randint(0x10000, 0x10FFFF))
    def text():
        r = rnd.random()
        if r < 0.1: return ''
        if r < 0.25: return rnd.choice(['true', 'false', '123', '-1.5e3', 'null', ' padded ', '\tx\n', '&amp;', '<a/>'])
        return ''.join(char() for _ in range(rnd.randint(1, 12)))
    def real():
        r = rnd.random()
        if r < 0.2: return rnd.choice([0.0, -0.0, 3.14159265, 1e300, 5e-324, 1.7976931348623157e308, float('inf'), float('-inf'), 0.1, 1e16, 123456.0])
        return struct.unpack('<d', struct.pack('<Q', rnd.getrandbits(64)))[0] if r < 0.5 else rnd.uniform(-1e9, 1e9)
    def value(depth):
        r = rnd.random()
        if depth < 5 and r < 0.15: return [value(depth + 1) for _ in range(rnd.randint(0, 4))]
        if depth < 5 and r < 0.3: return dictionary(depth + 1)
        if r < 0.5: return text()
        if r < 0.65: return rnd.choice([0, 1, -1, 2**63 - 1, -2**63, rnd.randint(-2**63, 2**63 - 1), rnd.randint(-1000, 1000)])
        if r < 0.8:
            v = real()
            return v if v == v else 0.5
        return rnd.random() < 0.5
    def dictionary(depth):
        d = {}
        for _ in range(rnd.randint(0, 5)):
            d[text()] = value(depth)
        return d
    top = dictionary(0)
    top['k%d' % seed] = value(0)
    return top
)PY";

// A Plist object with its own Dictionary and captured messages.
class Doc {
  public:
    Doc() {
        Plist_Create(&List);
        Dictionary_Create(&Dict);
        Plist_SetDictionaryHandle(List, Dict);
        Plist_SetPrintCallback(List, &Lines, CapturePrintLine);
    }
    ~Doc() {
        Plist_Release(&List);
        Dictionary_Release(&Dict);
    }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;

    std::string Canon() const { return CanonText(Dict, PlistNumber); }
    bool Logged(const std::string &Text) const {
        for (const std::string &Line : Lines)
            if (Line.find(Text) != std::string::npos) return true;
        return false;
    }

    Plist *List = nullptr;
    Dictionary *Dict = nullptr;
    std::vector<std::string> Lines;
};

const char *Header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

// ---- Mapping and values ----

TEST_F(PlistTest, LoadsTheTopDictAsOneKeylessItem) {
    TempDirectory Dir;
    WriteAll(Dir / "a.plist", std::string(Header) +
                                  "<plist version=\"1.0\">\n<dict>\n\t<key>a</key>\n\t<string>x</string>\n"
                                  "\t<key>n</key><integer>-42</integer><key>r</key><real>2.5</real>\n"
                                  "\t<key>t</key><true/><key>f</key><false/>\n"
                                  "\t<key>l</key><array><string>1</string><integer>2</integer><array/></array>\n"
                                  "\t<key>d</key><dict><key>in</key><string> sp &amp; ce </string></dict>\n"
                                  "\t<key>e</key><string></string><key>e2</key><string/><key>empty</key><dict/>\n"
                                  "</dict>\n</plist>\n");
    Doc D;
    ASSERT_EQ(Plist_Load(D.List, (Dir / "a.plist").c_str()), 1);
    EXPECT_EQ(RenderDictionary(D.Dict),
              "{{a:x,n:-42,r:2.5,t:true,f:false,l:[1,2,[]],d:{in: sp & ce },e:,e2:,empty:{}}}");
    char Text[16];
    EXPECT_EQ(Plist_GetValue(D.List, "a", Text, (int32)sizeof(Text)), 1);
    EXPECT_STREQ(Text, "x");
    EXPECT_EQ(Plist_GetValue(D.List, "d.in", Text, 4), 1);
    EXPECT_STREQ(Text, " sp");
    EXPECT_EQ(Plist_GetValue(D.List, "t", Text, (int32)sizeof(Text)), 1);
    EXPECT_STREQ(Text, "true");
    EXPECT_EQ(Plist_GetValue(D.List, "missing", Text, (int32)sizeof(Text)), 0);
    EXPECT_STREQ(Text, "");
    uint32 Flag = 7;
    EXPECT_EQ(Plist_GetValueBoolean(D.List, "t", &Flag), 1);
    EXPECT_EQ(Flag, 1u);
    EXPECT_EQ(Plist_GetValueBoolean(D.List, "a", &Flag), 0);
    EXPECT_EQ(Flag, 0u);
    int64 Number = 0;
    EXPECT_EQ(Plist_GetValueInt64(D.List, "n", &Number), 1);
    EXPECT_EQ(Number, -42);
    float64 Real = 0;
    EXPECT_EQ(Plist_GetValueFloat64(D.List, "r", &Real), 1);
    EXPECT_EQ(Real, 2.5);
    EXPECT_EQ(Plist_HasKey(D.List, "l"), 1);
    EXPECT_EQ(Plist_HasKey(D.List, "zz"), 0);

    // A second load adds; a reset empties.
    ASSERT_EQ(Plist_Load(D.List, (Dir / "a.plist").c_str()), 1);
    int32 Count = 0;
    Dictionary_ItemGetCount(D.Dict, &Count);
    EXPECT_EQ(Count, 2);
    Plist_Reset(D.List);
    Dictionary_ItemGetCount(D.Dict, &Count);
    EXPECT_EQ(Count, 0);
}

// With the verbose switch naming the class at level 1 a load dumps the tree
// through the object's own print routine.
TEST(PlistVerbose, LoadDumpsThroughTheObject) {
    ASSERT_EQ(CommandLine_Init("test --verbose=1Plist"), 1);
    {
        RuntimeScope Scope;
        TempDirectory Dir;
        WriteAll(Dir / "a.plist", "<plist><dict><key>name</key><string>dumped value</string></dict></plist>");
        Doc D;
        ASSERT_EQ(Plist_Load(D.List, (Dir / "a.plist").c_str()), 1);
        EXPECT_TRUE(D.Logged("dumped value")) << D.Lines.size();
    }
    CommandLine_Remove();
}

TEST_F(PlistTest, SetAndSaveKeepsOneTopDict) {
    TempDirectory Dir;
    WriteAll(Dir / "a.plist", std::string(Header) +
                                  "<plist version=\"1.0\"><dict><key>a</key><string>x</string>"
                                  "<key>n</key><integer>1</integer></dict></plist>");
    Doc D;
    ASSERT_EQ(Plist_Load(D.List, (Dir / "a.plist").c_str()), 1);
    EXPECT_EQ(Plist_SetValue(D.List, "a", "y"), 1);
    EXPECT_EQ(Plist_SetValue(D.List, "b", "new"), 1);
    EXPECT_EQ(Plist_SetValueInt64(D.List, "n", INT64_MIN), 1);
    EXPECT_EQ(Plist_SetValueBoolean(D.List, "ok", 1), 1);
    EXPECT_EQ(Plist_SetValueFloat64(D.List, "pi", 3.14159265), 1);
    EXPECT_EQ(Plist_SetValueFloat64(D.List, "n2", 0.1), 1);
    ASSERT_EQ(Plist_Save(D.List, (Dir / "a.plist").c_str()), 1);
    EXPECT_EQ(ReadFile(Dir / "a.plist"),
              std::string(Header) +
                  "<plist version=\"1.0\">\n"
                  "    <dict>\n"
                  "        <key>a</key>\n        <string>y</string>\n"
                  "        <key>n</key>\n        <integer>-9223372036854775808</integer>\n"
                  "        <key>b</key>\n        <string>new</string>\n"
                  "        <key>ok</key>\n        <true>\n        </true>\n"
                  "        <key>pi</key>\n        <real>3.14159265</real>\n"
                  "        <key>n2</key>\n        <real>0.1</real>\n"
                  "    </dict>\n"
                  "</plist>\n");
    Doc Again;
    ASSERT_EQ(Plist_Load(Again.List, (Dir / "a.plist").c_str()), 1);
    EXPECT_EQ(Again.Canon(), D.Canon());

    // Minified, and a List of two Strings as one array.
    Doc L;
    Dictionary *List = nullptr;
    Dictionary_AddList(L.Dict, "l", &List, nullptr);
    Dictionary_AddString(List, nullptr, "1", nullptr);
    Dictionary_AddString(List, nullptr, "2", nullptr);
    Plist_SetMinify(L.List, 1);
    ASSERT_EQ(Plist_Save(L.List, (Dir / "l.plist").c_str()), 1);
    EXPECT_EQ(ReadFile(Dir / "l.plist"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist version=\"1.0\"><dict><key>l</key>"
              "<array><string>1</string><string>2</string></array></dict></plist>");
}

TEST_F(PlistTest, UnsupportedAndBrokenValuesFail) {
    TempDirectory Dir;
    struct Case {
        std::string Body;
        const char *Message;
    } Cases[] = {
        {"<dict><key>d</key><data>AAAA</data></dict>", "Unsupported data type encountered [data]"},
        {"<dict><key>d</key><date>2020-01-01T00:00:00Z</date></dict>", "Unsupported data type encountered [date]"},
        {"<dict><key>i</key><integer></integer></dict>", "Error while trying to parse plist"},
        {"<dict><key>i</key><integer>12x</integer></dict>", "Error while trying to parse plist"},
        {"<dict><key>i</key><integer>9223372036854775808</integer></dict>", "Error while trying to parse plist"},
        {"<dict><key>r</key><real></real></dict>", "Error while trying to parse plist"},
        {"<dict><key>r</key><real>1.5.5</real></dict>", "Error while trying to parse plist"},
        {"<dict><key>s</key><string>a<b/>c</string></dict>", "Error while trying to parse plist"},
        {"<dict><key>a</key><array>junk</array></dict>", "Error while trying to parse plist"},
        // A key that no Dictionary keeps whole is refused, never cut.
        {"<dict><key>" + std::string(120, 'k') + "</key><true/></dict>",
         "Key of 120 bytes exceeds the 119-byte key limit"},
    };
    for (const Case &Each : Cases) {
        WriteAll(Dir / "b.plist", std::string("<plist version=\"1.0\">") + Each.Body + "</plist>");
        Doc D;
        EXPECT_EQ(Plist_Load(D.List, (Dir / "b.plist").c_str()), 0) << Each.Body;
        EXPECT_TRUE(D.Logged(Each.Message)) << Each.Body;
        EXPECT_TRUE(D.Logged("Error while trying to parse plist")) << Each.Body;
    }
    // Numbers with blanks and a plus sign read as their values.
    WriteAll(Dir / "c.plist", "<plist><dict><key>i</key><integer> +7 </integer><key>r</key><real>\n-1e3\n</real>"
                              "<key>x</key><real>inf</real></dict></plist>");
    Doc D;
    ASSERT_EQ(Plist_Load(D.List, (Dir / "c.plist").c_str()), 1);
    EXPECT_EQ(RenderDictionary(D.Dict), "{{i:7,r:-1000,x:inf}}");
}

TEST_F(PlistTest, UnsupportedItemsFailTheSaveAndLeaveTheFile) {
    TempDirectory Dir;
    const std::string Path = Dir / "keep.plist";
    WriteAll(Path, "original");
    for (int32 Type : {DICTIONARY_TYPE_NULL, DICTIONARY_TYPE_UNKNOWN}) {
        Doc D;
        Dictionary_AddString(D.Dict, "a", "x", nullptr);
        DictionaryItem *Item = nullptr;
        Dictionary *Inner = nullptr;
        Dictionary_AddDictionary(D.Dict, "d", &Inner, nullptr);
        Dictionary_Add(Inner, "bad", &Item);
        Dictionary_ItemSetType(Inner, Item, Type);
        EXPECT_EQ(Plist_Save(D.List, Path.c_str()), 0);
        EXPECT_TRUE(D.Logged("Unsupported data type encountered [" + std::to_string(Type) + "]"));
        EXPECT_EQ(ReadFile(Path), "original");
    }
    Plist *Bare = nullptr;
    Plist_Create(&Bare);
    EXPECT_EQ(Plist_Save(Bare, Path.c_str()), 0);
    EXPECT_EQ(Plist_Load(Bare, Path.c_str()), 0);
    EXPECT_EQ(Plist_SetValue(Bare, "a", "b"), 0);
    char Text[4] = "xy";
    EXPECT_EQ(Plist_GetValue(Bare, "a", Text, (int32)sizeof(Text)), 0);
    EXPECT_STREQ(Text, "");
    Plist_Release(&Bare);
}

TEST_F(PlistTest, BinaryAndOtherFilesAreRefusedAndLeftAlone) {
    TempDirectory Dir;
    const std::string Binary = Dir / "binary.plist";
    RunPython("import plistlib\nopen('" + Binary +
              "', 'wb').write(plistlib.dumps({'a': 'x', 'fake': '<plist><dict><key>b</key><string>y</string>"
              "</dict></plist>'}, fmt=plistlib.FMT_BINARY))\n");
    const std::string Before = ReadFile(Binary);
    ASSERT_EQ(Before.compare(0, 6, "bplist"), 0);
    struct Case {
        std::string Path;
        std::string Content;
    } Cases[] = {
        {Binary, ""},
        {Dir / "other.xml", "<?xml version=\"1.0\"?><config><a>1</a></config>"},
        {Dir / "text.plist", "just words"},
        {Dir / "empty.plist", ""},
    };
    for (const Case &Each : Cases) {
        if (!Each.Content.empty() || Each.Path != Binary) WriteAll(Each.Path, Each.Content);
        const std::string Was = ReadFile(Each.Path);
        Doc D;
        EXPECT_EQ(Plist_Load(D.List, Each.Path.c_str()), 0) << Each.Path;
        int32 Count = -1;
        Dictionary_ItemGetCount(D.Dict, &Count);
        EXPECT_EQ(Count, 0) << Each.Path;
        if (Each.Path != Dir / "empty.plist") {
            EXPECT_TRUE(D.Logged("Failed to find plist doctype [" + Each.Path + "]"));
        }
        EXPECT_EQ(ReadFile(Each.Path), Was);
    }
    Doc D;
    EXPECT_EQ(Plist_Load(D.List, (Dir / "missing.plist").c_str()), 0);
    EXPECT_TRUE(D.Logged("Unable to open file"));
}

TEST_F(PlistTest, TopLevelArrayRoundTrips) {
    TempDirectory Dir;
    RunPython("import plistlib\nopen('" + (Dir / "a.plist") +
              "', 'wb').write(plistlib.dumps([1, 'two', {'three': 3.0}], fmt=plistlib.FMT_XML))\n");
    Doc D;
    ASSERT_EQ(Plist_Load(D.List, (Dir / "a.plist").c_str()), 1);
    EXPECT_EQ(RenderDictionary(D.Dict), "{[1,two,{three:3}]}");
    ASSERT_EQ(Plist_Save(D.List, (Dir / "b.plist").c_str()), 1);
    EXPECT_EQ(RunPython("import plistlib\nprint(plistlib.load(open('" + (Dir / "b.plist") + "', 'rb')))\n"),
              "[1, 'two', {'three': 3.0}]\n");
}

// ---- Against plistlib ----

TEST_F(PlistTest, PlistlibListsLoadAndOurSavesLoadInPlistlib) {
    TempDirectory Dir;
    constexpr int32 Count = 60;
    const std::string Expected = RunPython(std::string(PythonCanon) + R"PY(
import os
d = sys.stdin.read().strip()
for seed in range(60):
    top = generate(seed)
    with open(os.path.join(d, '%d.plist' % seed), 'wb') as f:
        f.write(plistlib.dumps(top, fmt=plistlib.FMT_XML, sort_keys=False))
    print(canon(top))
)PY",
                                           Dir.Path);
    std::istringstream Lines(Expected);
    for (int32 Seed = 0; Seed < Count; Seed++) {
        std::string Line;
        ASSERT_TRUE(std::getline(Lines, Line)) << Seed;
        Doc D;
        const std::string Path = Dir / (std::to_string(Seed) + ".plist");
        ASSERT_EQ(Plist_Load(D.List, Path.c_str()), 1) << Seed;
        EXPECT_EQ(D.Canon(), Line) << Seed;
        Plist_SetMinify(D.List, Seed % 2);
        ASSERT_EQ(Plist_Save(D.List, (Dir / (std::to_string(Seed) + ".out.plist")).c_str()), 1) << Seed;
        // And back through our own reader.
        Doc Again;
        ASSERT_EQ(Plist_Load(Again.List, (Dir / (std::to_string(Seed) + ".out.plist")).c_str()), 1) << Seed;
        EXPECT_EQ(Again.Canon(), Line) << Seed;
    }
    const std::string Checked = RunPython(std::string(PythonCanon) + R"PY(
import os
d = sys.stdin.read().strip()
bad = [seed for seed in range(60)
       if not same(plistlib.load(open(os.path.join(d, '%d.out.plist' % seed), 'rb')), generate(seed))]
print('mismatches', bad)
)PY",
                                          Dir.Path);
    EXPECT_EQ(Checked, "mismatches []\n");
}

TEST_F(PlistTest, ControlCharactersRoundTripThroughOurReader) {
    TempDirectory Dir;
    Doc D;
    const std::string Text("\x01\x02 \r\n\x1f\x7f end\r", 11);
    DictionaryItem *Item = nullptr;
    Dictionary_Add(D.Dict, "c", &Item);
    Dictionary_ItemSetType(D.Dict, Item, DICTIONARY_TYPE_STRING);
    Dictionary_ItemSetBuffer(D.Dict, Item, Text.data(), (int32)Text.size());
    ASSERT_EQ(Plist_Save(D.List, (Dir / "c.plist").c_str()), 1);
    Doc Again;
    ASSERT_EQ(Plist_Load(Again.List, (Dir / "c.plist").c_str()), 1);
    const char *Back = nullptr;
    int32 Length = 0;
    Dictionary *Root = nullptr;
    Dictionary_SkipRoot(Again.Dict, &Root);
    ASSERT_EQ(Dictionary_GetBufferPtrByKey(Root, "c", &Back, &Length), 1);
    EXPECT_EQ(std::string(Back, (size_t)Length), Text);
}

} // namespace
