// XML reader and writer: the document mapping, declarations, the absorbed
// forms of broken markup, references, the nesting limit with its position,
// bounded paths under long names, the value callback, the writer's forms and
// escapes (every text reads back byte for byte), short writes, the building
// operations and merge.
#include "formats/xml.h"

#include <gtest/gtest.h>
#include <stdarg.h>

#include <string>
#include <vector>

#include <fstream>
#include <sstream>

#include "runtime/command_line.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string_print.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using XmlTest = RuntimeTest;

// An XML object with its own Dictionary and captured messages.
class Doc {
  public:
    Doc() {
        XML_Create(&Xml);
        Dictionary_Create(&Dict);
        XML_SetDictionaryHandle(Xml, Dict);
        XML_SetPrintCallback(Xml, &Lines, CapturePrintLine);
    }
    ~Doc() {
        XML_Release(&Xml);
        Dictionary_Release(&Dict);
    }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;

    int32 Load(const std::string &Text) { return XML_LoadBuffer(Xml, Text.data(), (int32)Text.size()); }
    int32 Error() const {
        int32 Code = -1;
        XML_GetLastError(Xml, &Code);
        return Code;
    }
    std::string Render() const { return RenderDictionary(Dict); }
    std::string Save(int32 *Result = nullptr) {
        int32 Size = 0;
        XML_SaveBufferEstimate(Xml, &Size);
        std::string Out((size_t)Size + 1, '\0');
        int32 Written = 0;
        const int32 Saved = XML_SaveBuffer(Xml, Out.data(), (int32)Out.size(), &Written);
        if (Result) *Result = Saved;
        Out.resize((size_t)Written);
        return Out;
    }
    std::string Messages() const {
        std::string All;
        for (const std::string &Line : Lines) All += Line + "\n";
        return All;
    }

    XML *Xml = nullptr;
    Dictionary *Dict = nullptr;
    std::vector<std::string> Lines;
};

std::string Repeat(const std::string &Text, int32 Count) {
    std::string Out;
    for (int32 i = 0; i < Count; i++) Out += Text;
    return Out;
}

// ---- Names, options ----

TEST_F(XmlTest, ErrorNamesAndOptions) {
    EXPECT_STREQ(XML_TranslateError(0), "Unknown");
    EXPECT_STREQ(XML_TranslateError(1), "ZeroLength");
    EXPECT_STREQ(XML_TranslateError(2), "Depth");
    EXPECT_STREQ(XML_TranslateError(3), "Key");
    EXPECT_STREQ(XML_TranslateError(4), "Unknown");
    EXPECT_STREQ(XML_TranslateError(-7), "Unknown");
    XML *Xml = nullptr;
    XML_Create(&Xml);
    int32 Value = -1;
    XML_GetMinify(Xml, &Value);
    EXPECT_EQ(Value, 1);
    Dictionary *Dict = reinterpret_cast<Dictionary *>(1);
    EXPECT_EQ(XML_GetDictionaryHandle(Xml, &Dict), 0);
    EXPECT_EQ(Dict, nullptr);
    XML_SetLastError(Xml, 2);
    XML_GetLastError(Xml, &Value);
    EXPECT_EQ(Value, 2);
    EXPECT_EQ(XML_AddRef(Xml), Xml);
    XML *Second = Xml;
    XML_Release(&Second);
    XML_Delete(&Xml);
    EXPECT_EQ(Xml, nullptr);
}

// ---- Reading: the mapping ----

TEST_F(XmlTest, DocumentMapping) {
    struct Case {
        const char *Input;
        const char *Tree;
    } Cases[] = {
        {"<a>hi</a>", "{a:hi}"},
        {"<a x=\"1\">hi</a>", "{a:{-x:1,#text:hi}}"},
        {"<r><i>1</i><i>2</i></r>", "{r:{i:1,i:2}}"},
        {"<a/>", "{a:{}}"},
        {"<a />", "{a:{}}"},
        {"<a></a>", "{a:{}}"},
        {"<a>  \n\t </a>", "{a:{}}"},
        {"<a>\n  padded text \r\n</a>", "{a:padded text}"},
        {"<?xml version=\"1.0\"?><r/>", "{?xml:{-version:1.0,-?:null},r:{}}"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>", "{?xml:{-version:1.0,-encoding:UTF-8,-?:null},r:{}}"},
        {"<!DOCTYPE a b \"c\" \"d\"><r/>", "{!DOCTYPE:{-a:null,-b:null,-c:null,-d:null},r:{}}"},
        {"<a b=c>text</a>", "{a:{-b:c}}"},
        {"<?xml version=1.0?><r>t</r>", "{?xml:{-version:1.0?},r:t}"},
        {"<a x = \"1\">t</a>", "{a:{-x:null,#text:t}}"},
        {"<a checked>t</a>", "{a:{-checked:null,#text:t}}"},
        {"<a x='1' y='\"'>t</a>", "{a:{-x:1,-y:\",#text:t}}"},
        {"<a x=it's>t</a>", "{a:{-x:it's}}"},
        {"<a>head<b>x</b>tail</a>", "{a:{#text:head,b:x,#text:tail}}"},
        {"<a><b x=\"1\"/><c/></a>", "{a:{b:{-x:1},c:{}}}"},
        {"<a>hi</b>", "{hi}"},
        {"<r><a>hi</A></r>", "{r:{hi}}"},
        {"<r><a>1</a>", "{r:{a:1}}"},
        {"stray <a>t</a> more", "{a:t}"},
        {"<a>t</a> more<b/>", "{a:t,#text:more,b:{}}"},
        {"</x></x></x></x></x><a>t</a>", "{a:t}"},
        {"<!-- note here --><a/>", "{!--:{-note:null,-here:null,---:null},a:{}}"},
        {"<a\n  x=\"1\"\n  y=\"2\"\n>t</a >", "{a:{-x:1,-y:2,#text:t}}"},
        {"<a>1 &lt; 2 &amp;&amp; 3 &gt; 2 &quot;q&quot; &apos;s&apos;</a>", "{a:1 < 2 && 3 > 2 \"q\" 's'}"},
        {"<a v=\"&lt;&amp;&quot;\"/>", "{a:{-v:<&\"}}"},
        {"<a>&#65;&#x42;&#x1F600;&#233;</a>", "{a:AB\xF0\x9F\x98\x80\xC3\xA9}"},
        {"<a>&nbsp;&unknown;&#xD800;&#x110000;&#;&#x;&amp</a>", "{a:&nbsp;&unknown;&#xD800;&#x110000;&#;&#x;&amp}"},
        {"<a>&#32;x&#32;</a>", "{a: x }"},
        {"<a>\xF0\x9F\x98\x80 caf\xC3\xA9</a>", "{a:\xF0\x9F\x98\x80 caf\xC3\xA9}"},
        {"<a><b><c>deep</c></b></a>", "{a:{b:{c:deep}}}"},
        {"no markup at all", "{}"},
        {"<", "{}"},
        {"<a x=\"unterminated", "{a:{}}"},
    };
    for (const Case &Each : Cases) {
        Doc D;
        EXPECT_EQ(D.Load(Each.Input), 1) << Each.Input;
        EXPECT_EQ(D.Render(), Each.Tree) << Each.Input;
    }
}

TEST_F(XmlTest, EmptyInputFailsWithZeroLength) {
    Doc D;
    EXPECT_EQ(D.Load(""), 0);
    EXPECT_EQ(D.Error(), XML_ERROR_ZEROLENGTH);
    EXPECT_NE(D.Messages().find("[@ 1:1]"), std::string::npos) << D.Messages();
    EXPECT_EQ(D.Load("<a/>"), 1);
    EXPECT_EQ(D.Error(), 0);
}

TEST_F(XmlTest, TextKeysStayVisibleWithPrivateKeys) {
    // The attached Dictionary starts with private keys on; "#text" must
    // neither lose its "#" nor hide.
    Doc D;
    Dictionary_SetPrivateKeys(D.Dict, TRUE);
    ASSERT_EQ(D.Load("<a x=\"1\">t</a>"), 1);
    EXPECT_EQ(D.Render(), "{a:{-x:1,#text:t}}");
    ASSERT_EQ(D.Load("<a><text>x</text></a>"), 1);
    EXPECT_EQ(D.Render(), "{a:{text:x}}");
}

// ---- Nesting ----

TEST_F(XmlTest, NestingLimitFailsWithDepthAndPosition) {
    Doc D;
    std::string Open31 = Repeat("<e>", 31), Close31 = Repeat("</e>", 31);
    EXPECT_EQ(D.Load(Open31 + "x" + Close31), 1);
    std::string Leaf;
    Dictionary *At = D.Dict;
    for (int32 i = 0; i < 30; i++) ASSERT_EQ(Dictionary_GetDictionaryByKey(At, "e", &At), 1) << i;
    EXPECT_EQ(RenderDictionary(At), "{e:x}");

    EXPECT_EQ(D.Load("<r>\n" + Repeat("<e>", 39) + "</r>"), 0);
    EXPECT_EQ(D.Error(), XML_ERROR_DEPTH);
    // The 32nd open tag (r holds the first) ends at line 2, column 3 x 31.
    EXPECT_NE(D.Messages().find("Nesting limit exceeded [e @ 2:93]"), std::string::npos) << D.Messages();

    // Self-closing and declarations count while their tag is open.
    EXPECT_EQ(D.Load(Repeat("<e>", 31) + "<f/>"), 0);
    EXPECT_EQ(D.Load(Repeat("<e>", 30) + "<f/><?pi x?>"), 1);
}

TEST_F(XmlTest, LongNamesKeepTheirKeysAndBoundedPaths) {
    // 31 levels of 318-byte names read without a Dictionary: bounded paths.
    // Into a Dictionary, 31 levels of 119-byte names: each item is stored
    // under its own name, not under a cut path.
    Doc D;
    std::vector<std::string> Paths;
    XML_SetValueCallback(D.Xml, &Paths,
                         [](XML *, void *User, const char *Path, int32, const char *, int32, int64, int32, int32) {
                             static_cast<std::vector<std::string> *>(User)->push_back(Path);
                             return 1;
                         });
    std::string Text;
    for (int32 Level = 0; Level < 31; Level++) Text += "<" + std::string(318, (char)('a' + Level % 26)) + ">";
    Text += "leaf";
    XML_SetDictionaryHandle(D.Xml, nullptr);
    ASSERT_EQ(D.Load(Text), 1);
    XML_SetValueCallback(D.Xml, nullptr, nullptr);
    XML_SetDictionaryHandle(D.Xml, D.Dict);
    Text.clear();
    for (int32 Level = 0; Level < 31; Level++) Text += "<" + std::string(119, (char)('a' + Level % 26)) + ">";
    Text += "leaf";
    ASSERT_EQ(D.Load(Text), 1);
    Dictionary *At = D.Dict;
    for (int32 Level = 0; Level < 31; Level++) {
        DictionaryItem *Item = nullptr;
        ASSERT_EQ(Dictionary_ItemGetFirst(At, &Item), 1) << Level;
        const char *Key = nullptr;
        Dictionary_ItemGetKeyPtr(At, Item, &Key);
        EXPECT_EQ(std::string(Key), std::string(DICTIONARY_MAX_KEY_LENGTH, (char)('a' + Level % 26))) << Level;
        if (Level < 30) {
            ASSERT_EQ(Dictionary_ItemGetDictionaryHandle(At, Item, &At), 1);
        }
    }
    ASSERT_FALSE(Paths.empty());
    for (const std::string &Path : Paths) EXPECT_LT(Path.size(), (size_t)XML_PATH_SIZE);

    // An element or attribute name that does not fit a Dictionary key (an
    // attribute's key is "-" and its name), or holds a NUL, fails the load
    // where it stands; a word of a comment or declaration is passed over.
    const std::string Fits(119, 'n'), Long(120, 'n');
    const struct {
        std::string Text, Message;
    } Refused[] = {
        {"<r><" + Long + ">t</" + Long + "></r>", "Name of 120 bytes exceeds the 119-byte key limit [@ 1:125]"},
        {"<r><" + std::string(319, 'n') + "/></r>", "Name of 319 bytes exceeds the 119-byte key limit [@ 1:325]"},
        {"<r " + Fits + "=\"1\"/>", "Name of 120 bytes exceeds the 119-byte key limit [@ 1:123]"},
        {"<r " + Fits + "/>", "Name of 120 bytes exceeds the 119-byte key limit [@ 1:124]"},
        {std::string("<r><a\0b>t</a></r>", 18), "Name holds a NUL [@ 1:8]"},
    };
    for (const auto &Each : Refused) {
        D.Lines.clear();
        EXPECT_EQ(D.Load(Each.Text), 0) << Each.Text;
        EXPECT_EQ(D.Error(), XML_ERROR_KEY) << Each.Text;
        EXPECT_NE(D.Messages().find(Each.Message), std::string::npos) << D.Messages();
    }
    ASSERT_EQ(D.Load("<!-- " + Long + " --><r " + Fits.substr(1) + "=\"1\"/>"), 1);
    EXPECT_EQ(D.Render(), "{!--:{---:null},r:{-" + Fits.substr(1) + ":1}}");
}

// ---- Value callback and pieces ----

TEST_F(XmlTest, ValueCallbackSeesPathsKindsAndPositions) {
    struct Seen {
        std::string Path;
        int32 Kind;
        std::string Text;
        int64 Position;
    };
    std::vector<Seen> Values;
    Doc D;
    XML_SetValueCallback(D.Xml, &Values,
                         [](XML *, void *User, const char *Path, int32 Kind, const char *Text, int32 Length,
                            int64 Position, int32 NodePosition, int32 NodeSize) {
                             EXPECT_EQ(NodePosition, Length);
                             EXPECT_EQ(NodeSize, Length);
                             static_cast<std::vector<Seen> *>(User)->push_back(
                                 {Path, Kind, std::string(Text, (size_t)Length), Position});
                             return 0;  // ignored: values are stored anyway
                         });
    ASSERT_EQ(D.Load("<?xml v=\"1\"?><r a=\"x\" b><i>t &amp; u</i></r>"), 1);
    const std::vector<std::pair<std::string, int32>> Expected = {
        {"?xml", 3}, {"?xml\\-v", 1}, {"?xml\\-?", 8}, {"r", 3}, {"r\\-a", 1}, {"r\\-b", 6}, {"r\\i", 3},
        {"r\\i\\#text", 1}};
    ASSERT_EQ(Values.size(), Expected.size());
    for (size_t i = 0; i < Expected.size(); i++) {
        EXPECT_EQ(Values[i].Path, Expected[i].first) << i;
        EXPECT_EQ(Values[i].Kind, Expected[i].second) << i;
    }
    EXPECT_EQ(Values[1].Text, "1");
    EXPECT_EQ(Values[7].Text, "t & u");
    EXPECT_EQ(Values[7].Position, 27);
    EXPECT_EQ(D.Render(), "{?xml:{-v:1,-?:null},r:{-a:x,-b:null,i:t & u}}");
}

// With the verbose switch naming the class at level 9 every value is logged.
TEST(XmlVerbose, ValuesAreLoggedAtLevelNine) {
    ASSERT_EQ(CommandLine_Init("test --verbose=9XML"), 1);
    {
        RuntimeScope Scope;
        Doc D;
        ASSERT_EQ(D.Load("<r a=\"1\"><i>t</i></r>"), 1);
        EXPECT_NE(D.Messages().find("Path r\\i\\#text Depth 3 Type 1 Buf t BufSize 1 StreamPos 12 NodePos 1 NodeSize 1"),
                  std::string::npos)
            << D.Messages();
    }
    CommandLine_Remove();
}

TEST_F(XmlTest, PiecesGiveTheWholeLoadsTree) {
    const std::string Text =
        "<?xml version=\"1.0\"?>\n<r a=\"1 &amp; 2\" b>\n  <i>one</i>\n  <i x=\"y\">two &#x1F600;</i>\n"
        "  mixed <j/> tail\n</r>";
    Doc Whole;
    ASSERT_EQ(Whole.Load(Text), 1);
    for (size_t Piece = 1; Piece <= 7; Piece++) {
        Doc D;
        XML_Reset(D.Xml);
        for (size_t At = 0; At < Text.size(); At += Piece) {
            const std::string Part = Text.substr(At, Piece);
            MemoryStream *Memory = nullptr;
            MemoryStream_Create(&Memory);
            MemoryStream_SetPointer(Memory, const_cast<char *>(Part.data()), (int32)Part.size(),
                                    (int32)Part.size());
            StreamStruct *Stream = nullptr;
            MemoryStream_GetStreamHandle(Memory, &Stream);
            int32 Count = 0;
            EXPECT_EQ(XML_Scan(D.Xml, Stream, &Count), 1);
            EXPECT_EQ(Count, (int32)Part.size());
            MemoryStream_Delete(&Memory);
        }
        EXPECT_EQ(D.Render(), Whole.Render()) << Piece;
    }
}

// ---- Writing ----

TEST_F(XmlTest, WriterForms) {
    Doc D;
    ASSERT_EQ(D.Load("<?xml version=\"1.0\"?><r a=\"1\" b><s>x</s><e/><d k=\"v\">t</d></r>"), 1);
    EXPECT_EQ(D.Save(), "<?xml version=\"1.0\"?><r a=\"1\" b><s>x</s><e></e><d k=\"v\">t</d></r>");
    XML_SetMinify(D.Xml, 0);
    EXPECT_EQ(D.Save(), "<?xml version=\"1.0\"?>\n<r a=\"1\" b>\n    <s>x</s>\n    <e>\n    </e>\n"
                        "    <d k=\"v\">\n        t\n    </d>\n</r>\n");
    // Two String children: four lines.
    ASSERT_EQ(D.Load("<a><b>1</b><c>2</c></a>"), 1);
    EXPECT_EQ(D.Save(), "<a>\n    <b>1</b>\n    <c>2</c>\n</a>\n");

    // Lists become siblings; numbers, Booleans and Null are not written.
    Dictionary_Reset(D.Dict);
    Dictionary *Root = nullptr, *List = nullptr;
    Dictionary_AddDictionary(D.Dict, "r", &Root, nullptr);
    Dictionary_AddList(Root, "i", &List, nullptr);
    Dictionary_AddString(List, nullptr, "1", nullptr);
    Dictionary_AddString(List, nullptr, "2", nullptr);
    Dictionary_AddFloat64(Root, "f", 1.5, nullptr);
    Dictionary_AddBoolean(Root, "b", 1, nullptr);
    Dictionary_AddNull(Root, "n", nullptr);
    Dictionary_AddInt64(Root, "-count", 3, nullptr);
    XML_SetMinify(D.Xml, 1);
    EXPECT_EQ(D.Save(), "<r><i>1</i><i>2</i></r>");
    EXPECT_EQ(D.Load(D.Save()), 1);
    EXPECT_EQ(D.Render(), "{r:{i:1,i:2}}");
}

TEST_F(XmlTest, EveryTextReadsBackByteForByte) {
    const std::vector<std::string> Texts = {
        "plain",
        "A & B <c> \"q\" 'a'",
        "&amp; stays &amp;",
        "&lt;not a tag&gt;",
        " leading",
        "trailing ",
        "\t\r\n both \n\r\t",
        "   ",
        "inner\n\tlines\r\nkept",
        std::string("ctl\x01\x02\x1f\x7f", 7),
        std::string("nul\0byte", 8),
        "\xF0\x9F\x98\x80 above U+FFFF \xF4\x8F\xBF\xBF",
        "caf\xC3\xA9",
        "123",
        "-1.5e3",
        "true",
        "false",
        "null",
        "]]>",
        "<!-- not a comment -->",
        "&#65; literal",
    };
    for (bool Minify : {true, false}) {
        for (const std::string &Text : Texts) {
            Doc D;
            XML_SetMinify(D.Xml, Minify);
            Dictionary *Element = nullptr;
            Dictionary_AddDictionary(D.Dict, "r", &Element, nullptr);
            XML_AddAttribute(Element, "v", Text.c_str(), nullptr);
            Dictionary_SetPrivateKeys(Element, FALSE);
            DictionaryItem *Item = nullptr;
            Dictionary_Add(Element, "s", &Item);
            Dictionary_ItemSetType(Element, Item, DICTIONARY_TYPE_STRING);
            Dictionary_ItemSetBuffer(Element, Item, Text.data(), (int32)Text.size());
            Dictionary_Add(Element, "#text", &Item);
            Dictionary_ItemSetType(Element, Item, DICTIONARY_TYPE_STRING);
            Dictionary_ItemSetBuffer(Element, Item, Text.data(), (int32)Text.size());
            const std::string Saved = D.Save();
            ASSERT_EQ(D.Load(Saved), 1);
            Dictionary *Back = nullptr;
            ASSERT_EQ(Dictionary_GetDictionaryByKey(D.Dict, "r", &Back), 1) << Saved;
            for (const char *Key : {"-v", "s", "#text"}) {
                const char *Value = nullptr;
                int32 Length = 0;
                ASSERT_EQ(Dictionary_GetBufferPtrByKey(Back, Key, &Value, &Length), 1) << Key << " " << Saved;
                EXPECT_EQ(std::string(Value, (size_t)Length), Key[0] == '-' ? std::string(Text.c_str()) : Text)
                    << Key << " in " << Saved;
            }
        }
    }
}

TEST_F(XmlTest, WriterRefusesWhatCannotBeWrittenOrReadBack) {
    Doc D;
    int32 Result = -1;
    EXPECT_EQ(D.Save(&Result), "");
    EXPECT_EQ(Result, 0);
    XML *Bare = nullptr;
    XML_Create(&Bare);
    int32 Size = -1;
    EXPECT_EQ(XML_SaveBufferEstimate(Bare, &Size), 0);
    XML_Release(&Bare);

    // 31 nested elements write; 32 would not read back.
    Dictionary *At = D.Dict;
    for (int32 i = 0; i < 31; i++) Dictionary_AddDictionary(At, "e", &At, nullptr);
    EXPECT_NE(D.Save(&Result), "");
    EXPECT_EQ(Result, 1);
    Dictionary_AddString(At, "e", "x", nullptr);
    D.Save(&Result);
    EXPECT_EQ(Result, 0);

    // Lists inside Lists open no element, but their nesting is bounded too.
    Doc L;
    Dictionary *List = nullptr;
    Dictionary_AddList(L.Dict, "l", &List, nullptr);
    for (int32 i = 0; i < 300; i++) Dictionary_AddList(List, nullptr, &List, nullptr);
    Dictionary_AddString(List, nullptr, "deep", nullptr);
    L.Save(&Result);
    EXPECT_EQ(Result, 0);

    // A buffer one byte short, and a stream that refuses writes.
    ASSERT_EQ(D.Load("<a><b>text</b></a>"), 1);
    const std::string Full = D.Save();
    std::string Short(Full.size() - 1, '\0');
    int32 Written = 0;
    EXPECT_EQ(XML_SaveBuffer(D.Xml, Short.data(), (int32)Short.size(), &Written), 0);
    EXPECT_EQ(XML_SaveBuffer(D.Xml, Short.data(), 0, &Written), 0);
    std::string Exact(Full.size(), '\0');
    EXPECT_EQ(XML_SaveBuffer(D.Xml, Exact.data(), (int32)Exact.size(), &Written), 1);
    EXPECT_EQ(Exact, Full);
}

TEST_F(XmlTest, OddNamesAndWordsReadBackTheSame) {
    // Each document's tree survives save and load, minified and indented.
    const char *Documents[] = {
        "<!DOCTYPE a \"b c\" 'd\"e' f><r/>",
        "<?pi a ?><?pi b=\"1\"?><r/>",
        "<r><'q\" x=\"1\">t</'q\"></r>",
        "<r><a//><b x=\"1\"/></r>",
        "<r a=\"1\" ?>t</r>",
        "<!-- words \"in a\" comment --><r/>",
        "<r>&lt;/r&gt;<s>x</s>tail &amp; more</r>",
    };
    for (const char *Text : Documents) {
        for (int32 Minify : {1, 0}) {
            Doc D;
            ASSERT_EQ(D.Load(Text), 1) << Text;
            const std::string Tree = D.Render();
            XML_SetMinify(D.Xml, Minify);
            const std::string Saved = D.Save();
            ASSERT_EQ(D.Load(Saved), 1) << Saved;
            EXPECT_EQ(D.Render(), Tree) << Text << " -> " << Saved;
        }
    }
    Doc D;
    ASSERT_EQ(D.Load("<!DOCTYPE a \"b c\" 'd\"e' f><r/>"), 1);
    EXPECT_EQ(D.Save(), "<!DOCTYPE a \"b c\" d\"e f><r></r>");
}

// ---- Files ----

TEST_F(XmlTest, FilesLoadAndSaveWithoutStaleTails) {
    TempDirectory Dir;
    const std::string Path = Dir / "doc.xml";
    {
        std::ofstream Output(Path, std::ios::binary);
        Output << "<r>" << std::string(20000, 'x') << "</r>";
    }
    Doc D;
    ASSERT_EQ(XML_LoadFile(D.Xml, Path.c_str()), 1);
    const char *Text = nullptr;
    ASSERT_EQ(Dictionary_GetStringPtrByKey(D.Dict, "r", &Text), 1);
    EXPECT_EQ(strlen(Text), 20000u);
    Dictionary_Reset(D.Dict);
    Dictionary_AddString(D.Dict, "s", "short & sweet", nullptr);
    ASSERT_EQ(XML_SaveFile(D.Xml, Path.c_str()), 1);
    std::ifstream Input(Path, std::ios::binary);
    std::stringstream Content;
    Content << Input.rdbuf();
    EXPECT_EQ(Content.str(), "<s>short &amp; sweet</s>");

    // Nothing to write leaves the file alone; a missing file, or a file as
    // folder, fails.
    Dictionary_Reset(D.Dict);
    EXPECT_EQ(XML_SaveFile(D.Xml, Path.c_str()), 0);
    ASSERT_EQ(XML_LoadFile(D.Xml, Path.c_str()), 1);
    EXPECT_EQ(D.Render(), "{s:short & sweet}");
    EXPECT_EQ(XML_LoadFile(D.Xml, (Dir / "missing.xml").c_str()), 0);
    EXPECT_NE(D.Messages().find("Unable to open file (" + Dir / "missing.xml" + ")"), std::string::npos);
    Dictionary_AddString(D.Dict, "s", "x", nullptr);
    EXPECT_EQ(XML_SaveFile(D.Xml, (Path + "/inside.xml").c_str()), 0);
    // An empty file is an empty input.
    { std::ofstream Empty(Dir / "empty.xml"); }
    EXPECT_EQ(XML_LoadFile(D.Xml, (Dir / "empty.xml").c_str()), 0);
    EXPECT_EQ(D.Error(), XML_ERROR_ZEROLENGTH);
}

TEST_F(XmlTest, SaveToAStreamThatRefusesWrites) {
    Doc D;
    ASSERT_EQ(D.Load("<a><b>text</b></a>"), 1);
    StreamStruct Refusing = {};
    Refusing.Write = [](void *, const void *, uint32, uint32 *Count) {
        *Count = 0;
        return 0;
    };
    EXPECT_EQ(XML_SaveStream(D.Xml, &Refusing), 0);
    StreamStruct Partial = {};
    Partial.Write = [](void *, const void *, uint32 Length, uint32 *Count) {
        *Count = Length / 2;
        return 1;
    };
    EXPECT_EQ(XML_SaveStream(D.Xml, &Partial), 0);
}

// ---- Building ----

TEST_F(XmlTest, BuildingRootDocTypeAttributesAndMerge) {
    Doc D;
    Dictionary_SetPrivateKeys(D.Dict, FALSE);
    DictionaryItem *Root = nullptr;
    ASSERT_EQ(XML_EnsureRoot(D.Dict, "1.0", "UTF-8", &Root), 1);
    ASSERT_EQ(XML_EnsureDocType(D.Dict, "plist", "PUBLIC", "\"p\"", "\"s\"", nullptr), 1);
    Dictionary *Element = nullptr;
    XML_AddElement(D.Dict, "r", &Element, nullptr);
    XML_AddAttribute(Element, "a", "1", nullptr);
    XML_EnsureAttribute(Element, "a", "2");
    XML_EnsureAttribute(Element, "b", "3");
    XML_AddStringElement(Element, "s", "x", nullptr);
    XML_EnsureStringElement(Element, "s", "y");
    EXPECT_EQ(D.Save(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC \"p\" \"s\">"
                        "<r a=\"2\" b=\"3\"><s>y</s></r>");
    // Again: nothing is repeated; a null argument removes its item, and the
    // DOCTYPE holds only the new words.
    XML_EnsureRoot(D.Dict, nullptr, "ASCII", nullptr);
    XML_EnsureDocType(D.Dict, "html", "x", "y", "z", nullptr);
    EXPECT_EQ(D.Save(), "<?xml encoding=\"ASCII\"?><!DOCTYPE html x y z><r a=\"2\" b=\"3\"><s>y</s></r>");

    // DOCTYPE without a declaration goes last.
    Doc E;
    XML_AddElement(E.Dict, "r", nullptr, nullptr);
    XML_EnsureDocType(E.Dict, "a", "b", "c", "d", nullptr);
    EXPECT_EQ(E.Render(), "{r:{},!DOCTYPE:{-a:null,-b:null,-c:null,-d:null}}");

    Doc Into, From;
    ASSERT_EQ(Into.Load("<r><a>1</a></r>"), 1);
    ASSERT_EQ(From.Load("<s><a>2</a><b>3</b></s>"), 1);
    EXPECT_EQ(XML_Merge(Into.Xml, From.Xml, DICTIONARY_MERGE_OVERWRITE), 1);
    EXPECT_EQ(Into.Render(), "{r:{a:2,b:3}}");
    Doc Flat;
    ASSERT_EQ(Flat.Load("<s>text</s>"), 1);
    EXPECT_EQ(XML_Merge(Into.Xml, Flat.Xml, 1), 0);
}

TEST_F(XmlTest, EnsureDocTypeNeedsAllWords) {
    Doc D;
    EXPECT_DEATH(XML_EnsureDocType(D.Dict, "a", nullptr, "c", "d", nullptr), "NULL");
}

} // namespace
