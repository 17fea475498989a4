// JSON against Python's json module, with fixed seeds: generated documents
// (random nesting, every escape form, number forms, Unicode above U+FFFF,
// ensure_ascii on and off) parse to the values Python reads; whole loads,
// every split point through JSON_Scan and byte-by-byte feeding agree; our
// writer's output on those documents and on random Dictionary trees parses in
// strict json.loads to the same values in the same order; each proper prefix
// fails; error positions match Python's on broken documents.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "tests/runtime/documents/json_test_util.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using jsontest::Capture;
using jsontest::Doc;

using JsonPythonTest = RuntimeTest;

const char *Generator = R"PY(
import json, random, sys
rnd = random.Random(int(sys.argv[1]) if len(sys.argv) > 1 else 20240611)

def char():
    r = rnd.random()
    if r < 0.45: return chr(rnd.randint(0x20, 0x7E))
    if r < 0.55: return chr(rnd.randint(0, 0x1F))
    if r < 0.65: return rnd.choice('"\\/\x7f')
    if r < 0.85:
        c = rnd.randint(0x80, 0xFFFD)
        return chr(c) if not 0xD800 <= c <= 0xDFFF else '\u00e9'
    return chr(rnd.randint(0x10000, 0x10FFFF))

def text(most):
    return ''.join(char() for _ in range(rnd.randint(0, most)))

def unit(u):
    return ('\\u%04x' if rnd.random() < 0.5 else '\\u%04X') % u

SHORT = {'"': '\\"', '\\': '\\\\', '\b': '\\b', '\f': '\\f', '\n': '\\n', '\r': '\\r', '\t': '\\t'}

def quote(s, ascii_only):
    out = ['"']
    for c in s:
        o = ord(c)
        if c in SHORT and rnd.random() < 0.8: out.append(SHORT[c])
        elif c == '/' and rnd.random() < 0.5: out.append('\\/')
        elif o < 0x20 or c in '"\\' or (o > 0x7E and (ascii_only or rnd.random() < 0.2)) or rnd.random() < 0.05:
            if o >= 0x10000:
                v = o - 0x10000
                out.append(unit(0xD800 + (v >> 10)) + unit(0xDC00 + (v & 0x3FF)))
            else:
                out.append(unit(o))
        else: out.append(c)
    out.append('"')
    return ''.join(out)

NUMBERS = ['0', '-0', '1', '-1', '123', '1e5', '1E5', '1e+5', '1E-5', '1e05', '-0.0', '0.5', '-2.5e-3',
           '12345678901234567890123', '1.7976931348623157e308', '5e-324', '3.14159', '100E+00']
def number():
    r = rnd.random()
    if r < 0.3: return rnd.choice(NUMBERS)
    if r < 0.6: return str(rnd.randint(-10**12, 10**12))
    if r < 0.8: return repr(rnd.uniform(-1e6, 1e6))
    m = str(rnd.randint(0, 999)) + ('.' + str(rnd.randint(0, 999)) if rnd.random() < 0.5 else '')
    sign = '-' if rnd.random() < 0.3 else ''
    return sign + m + rnd.choice('eE') + rnd.choice(['', '+', '-']) + str(rnd.randint(0, 40))

def blank():
    return ''.join(rnd.choice(' \t\n\r') for _ in range(rnd.choice([0, 0, 0, 1, 2])))

def key():
    while True:
        k = ''.join(c for c in text(10) if c not in '\\\x00')
        if not k.startswith(('.', '#')): return k

def value(depth, ascii_only):
    r = rnd.random()
    if depth > 0 and r < 0.35:
        items = [value(depth - 1, ascii_only) for _ in range(rnd.randint(0, 5))]
        return ('[' + blank() + (',' + blank()).join(t + blank() for t, _ in items) + ']',
                '[' + ''.join(c + ',' for _, c in items) + ']')
    if depth > 0 and r < 0.7:
        keys = []
        for _ in range(rnd.randint(0, 5)):
            k = key()
            if k not in keys: keys.append(k)
        members = [(k, value(depth - 1, ascii_only)) for k in keys]
        return ('{' + blank() + (',' + blank()).join(quote(k, ascii_only) + blank() + ':' + blank() + t + blank()
                                                      for k, (t, _) in members) + '}',
                '{' + ''.join('K' + k.encode().hex() + '=' + c + ',' for k, (_, c) in members) + '}')
    r = rnd.random()
    if r < 0.4:
        s = text(12)
        return quote(s, ascii_only), 'S' + s.encode().hex()
    if r < 0.7:
        n = number()
        return n, 'N' + n
    return rnd.choice([('true', 'T'), ('false', 'F'), ('null', 'Z')])

CANON_FROM_PYTHON

def emit(doc, expected, tag='D'):
    assert canon(strict(doc)) == expected, (doc, expected)
    print(tag, doc.encode().hex(), expected)

for i in range(300):
    ascii_only = i % 2 == 0
    while True:
        t, c = value(rnd.randint(1, 6), ascii_only)
        if t[0] in '[{': break
    emit(blank() + t if i % 3 else t, c)
for i in range(20):
    t, c = value(0, i % 2 == 0)
    emit(t, c, 'V')
deep_t, deep_c = '7', 'N7'
for level in range(31):
    if level % 2:
        deep_t, deep_c = '[' + deep_t + ']', '[' + deep_c + ',]'
    else:
        deep_t, deep_c = '{"k%d":%s}' % (level, deep_t), '{K' + ('k%d' % level).encode().hex() + '=' + deep_c + ',}'
emit(deep_t, deep_c)

# Broken documents: one blank between tokens becomes "@"; Python's position.
for i in range(150):
    t, _ = value(rnd.randint(1, 4), True)
    doc = json.dumps(json.loads(t), indent=rnd.choice([None, 1, 2]), ensure_ascii=True)
    places, inside, escape = [], False, False
    for p, c in enumerate(doc):
        if inside:
            if escape: escape = False
            elif c == '\\': escape = True
            elif c == '"': inside = False
        elif c == '"': inside = True
        elif c in ' \n': places.append(p)
    if not places: continue
    p = rnd.choice(places)
    bad = doc[:p] + '@' + doc[p + 1:]
    try:
        json.loads(bad)
        raise AssertionError(bad)
    except json.JSONDecodeError as e:
        print('E', bad.encode().hex(), e.lineno, e.colno)
)PY";

struct Sample {
    std::string Tag, Text, Canon;
    int32 Line = 0, Column = 0;
};

std::vector<Sample> Generate() {
    std::string Script = Generator;
    Script.replace(Script.find("CANON_FROM_PYTHON"), strlen("CANON_FROM_PYTHON"), jsontest::PythonCanon);
    std::istringstream Lines(RunPython(Script));
    std::vector<Sample> Samples;
    std::string Line;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        Sample Item;
        std::string Hex;
        Fields >> Item.Tag >> Hex;
        Item.Text = FromHex(Hex);
        if (Item.Tag == "E")
            Fields >> Item.Line >> Item.Column;
        else
            Fields >> Item.Canon;
        Samples.push_back(Item);
    }
    return Samples;
}

const std::vector<Sample> &Samples() {
    static const std::vector<Sample> Cached = Generate();
    return Cached;
}

// Python's strict reading of each text, one canonical line per text.
std::vector<std::string> StrictCanon(const std::vector<std::string> &Texts) {
    std::string Input;
    for (const std::string &Text : Texts) Input += ToHex(Text) + "\n";
    const std::string Script = std::string(jsontest::PythonCanon) + R"PY(
import sys
for line in sys.stdin:
    text = bytes.fromhex(line.strip()).decode('utf-8')
    try:
        print(canon(strict(text)))
    except ValueError as e:
        print('REJECTED', repr(e))
)PY";
    std::istringstream Lines(RunPython(Script, Input));
    std::vector<std::string> Out;
    std::string Line;
    while (std::getline(Lines, Line)) Out.push_back(Line);
    return Out;
}

TEST_F(JsonPythonTest, GeneratedDocumentsReadAsPythonReadsThem) {
    ASSERT_GT(Samples().size(), 400u);
    int32 Checked = 0;
    for (const Sample &Item : Samples()) {
        if (Item.Tag == "E") continue;
        Doc D;
        ASSERT_EQ(D.Load(Item.Text), 1) << Item.Text;
        EXPECT_EQ(D.Canon(), Item.Canon) << Item.Text;
        Checked++;
    }
    EXPECT_GT(Checked, 300);
}

TEST_F(JsonPythonTest, EverySplitPointGivesTheOnePieceResult) {
    std::mt19937 Random(77);
    int32 Documents = 0;
    for (const Sample &Item : Samples()) {
        if (Item.Tag != "D") continue;
        const std::string &Text = Item.Text;
        Doc D;
        if (Documents++ < 80) {
            // Every split point of smaller documents, 64 random ones of larger.
            const bool Every = Text.size() <= 1500;
            for (size_t Step = 1; Step < (Every ? Text.size() : 65); Step++) {
                const size_t Split = Every ? Step : std::uniform_int_distribution<size_t>(1, Text.size() - 1)(Random);
                ASSERT_EQ(D.Feed({Text.substr(0, Split), Text.substr(Split)}), 2u) << Split << " " << Text;
                ASSERT_EQ(D.Error(), 0) << Split << " " << Text;
                ASSERT_EQ(D.Canon(), Item.Canon) << Split << " " << Text;
            }
        }
        // Random pieces for every document, single bytes for some.
        std::vector<std::string> Pieces;
        const bool Bytes = Documents % 10 == 0;
        for (size_t At = 0; At < Text.size();) {
            const size_t Length = Bytes ? 1 : std::uniform_int_distribution<size_t>(1, 9)(Random);
            Pieces.push_back(Text.substr(At, Length));
            At += Length;
        }
        EXPECT_EQ(D.Feed(Pieces), Pieces.size()) << Text;
        EXPECT_EQ(D.Error(), 0) << Text;
        EXPECT_EQ(D.Canon(), Item.Canon) << Text;
    }
}

TEST_F(JsonPythonTest, ProperPrefixesFail) {
    int32 Documents = 0;
    for (const Sample &Item : Samples()) {
        if (Item.Tag != "D" || Item.Text.empty() || Item.Text[0] == ' ' || Item.Text[0] == '\t' ||
            Item.Text[0] == '\n' || Item.Text[0] == '\r')
            continue;
        if (Item.Text.size() > 3000) continue;
        if (++Documents > 40) break;
        Doc D;
        D.Quiet();
        for (size_t Length = 1; Length < Item.Text.size(); Length++) {
            EXPECT_EQ(D.Load(Item.Text.substr(0, Length)), 0) << Item.Text.substr(0, Length);
            EXPECT_NE(D.Error(), 0);
        }
    }
}

TEST_F(JsonPythonTest, WriterOutputReadsBackStrictlyInOrder) {
    std::vector<std::string> Texts, Expected;
    int32 Index = 0;
    for (const Sample &Item : Samples()) {
        if (Item.Tag == "E") continue;
        Doc D;
        ASSERT_EQ(D.Load(Item.Text), 1);
        JSON_SetMinify(D.Json, Index++ % 2);
        int32 Result = 0;
        const std::string Saved = D.Save(&Result);
        ASSERT_EQ(Result, 1) << Item.Text;
        // Our own reader takes our output back unchanged.
        Doc Again;
        ASSERT_EQ(Again.Load(Saved), 1) << Saved;
        EXPECT_EQ(Again.Canon(), Item.Canon) << Saved;
        Texts.push_back(Saved);
        Expected.push_back(Item.Canon);
    }
    const std::vector<std::string> Strict = StrictCanon(Texts);
    ASSERT_EQ(Strict.size(), Texts.size());
    for (size_t i = 0; i < Texts.size(); i++) EXPECT_EQ(Strict[i], Expected[i]) << Texts[i];
}

// Valid UTF-8 of random characters: controls, quotes, backslashes, the BMP
// without surrogates and everything above U+FFFF.
std::string RandomText(std::mt19937 &Random, int32 Most) {
    std::string Out;
    const int32 Count = std::uniform_int_distribution<int32>(0, Most)(Random);
    for (int32 i = 0; i < Count; i++) {
        uint32 Code = 0;
        switch (Random() % 6) {
            case 0: Code = Random() % 0x20; break;
            case 1: Code = "\"\\/\x7f"[Random() % 4]; break;
            case 2: Code = 0x20 + Random() % 0x5F; break;
            case 3: Code = 0x80 + Random() % 0x780; break;
            case 4: Code = 0x800 + Random() % (0xFFFE - 0x800); break;
            default: Code = 0x10000 + Random() % 0x100000; break;
        }
        if (Code >= 0xD800 && Code <= 0xDFFF) Code = 0xE9;
        if (Code == 0) Code = 1;
        char Bytes[4];
        int32 Length = 0;
        if (Code < 0x80) {
            Bytes[Length++] = (char)Code;
        } else if (Code < 0x800) {
            Bytes[Length++] = (char)(0xC0 | Code >> 6);
            Bytes[Length++] = (char)(0x80 | (Code & 0x3F));
        } else if (Code < 0x10000) {
            Bytes[Length++] = (char)(0xE0 | Code >> 12);
            Bytes[Length++] = (char)(0x80 | (Code >> 6 & 0x3F));
            Bytes[Length++] = (char)(0x80 | (Code & 0x3F));
        } else {
            Bytes[Length++] = (char)(0xF0 | Code >> 18);
            Bytes[Length++] = (char)(0x80 | (Code >> 12 & 0x3F));
            Bytes[Length++] = (char)(0x80 | (Code >> 6 & 0x3F));
            Bytes[Length++] = (char)(0x80 | (Code & 0x3F));
        }
        Out.append(Bytes, (size_t)Length);
    }
    return Out;
}

void RandomTree(std::mt19937 &Random, Dictionary *Container, bool IsList, int32 Depth, int32 Forced) {
    const int32 Count = Forced > 0 ? 1 : std::uniform_int_distribution<int32>(0, 5)(Random);
    for (int32 i = 0; i < Count; i++) {
        std::string Key;
        if (!IsList) {
            do Key = RandomText(Random, 8);
            while (!Key.empty() && (Key[0] == '.' || Key[0] == '#'));
            // Our reader keeps a key's text after its last backslash.
            std::erase(Key, '\\');
            if (Dictionary_ContainsKey(Container, Key.c_str())) continue;
        }
        const char *KeyText = IsList ? nullptr : Key.c_str();
        const uint32 Kind = Forced > 0 ? 0 : Random() % 9;
        Dictionary *Child = nullptr;
        if (Kind < 2 && (Depth > 0 || Forced > 0)) {
            const bool ChildList = Forced > 0 ? Forced % 2 == 0 : Kind == 0;
            if (ChildList)
                Dictionary_AddList(Container, KeyText, &Child, nullptr);
            else
                Dictionary_AddDictionary(Container, KeyText, &Child, nullptr);
            RandomTree(Random, Child, ChildList, Depth - 1, Forced - 1);
            continue;
        }
        switch (Kind) {
            case 2:
            case 3: Dictionary_AddString(Container, KeyText, RandomText(Random, 12).c_str(), nullptr); break;
            case 4: Dictionary_AddInt64(Container, KeyText, (int64)((uint64)Random() << 32 | Random()), nullptr); break;
            case 5:
                Dictionary_AddFloat64(Container, KeyText,
                                      std::uniform_real_distribution<float64>(-1e9, 1e9)(Random) *
                                          (Random() % 2 ? 1e-12 : 1e12),
                                      nullptr);
                break;
            case 6: Dictionary_AddBoolean(Container, KeyText, Random() % 2, nullptr); break;
            default: Dictionary_AddNull(Container, KeyText, nullptr); break;
        }
    }
}

TEST_F(JsonPythonTest, RandomTreesSurviveTheWriter) {
    std::mt19937 Random(4242);
    std::vector<std::string> Texts, Expected;
    for (int32 Tree = 0; Tree < 200; Tree++) {
        Doc D;
        const bool IsList = Tree % 2 == 1;
        Dictionary *Top = nullptr;
        if (IsList)
            Dictionary_AddList(D.Dict, nullptr, &Top, nullptr);
        else
            Dictionary_AddDictionary(D.Dict, nullptr, &Top, nullptr);
        // One tree of 31 levels; the others up to 6.
        RandomTree(Random, Top, IsList, 5, Tree == 0 ? 30 : 0);
        JSON_SetMinify(D.Json, Tree % 3 != 0);
        int32 Result = 0;
        Texts.push_back(D.Save(&Result));
        ASSERT_EQ(Result, 1);
        Expected.push_back(D.Canon());
        Doc Again;
        ASSERT_EQ(Again.Load(Texts.back()), 1) << Texts.back();
        EXPECT_EQ(Again.Canon(), Expected.back());
    }
    const std::vector<std::string> Strict = StrictCanon(Texts);
    ASSERT_EQ(Strict.size(), Texts.size());
    for (size_t i = 0; i < Texts.size(); i++) EXPECT_EQ(Strict[i], Expected[i]) << Texts[i];
}

// A seekable stream over a text that hands out at most Limit bytes a read,
// so that pieces end anywhere inside tokens.
struct ShortReads {
    StreamStruct Record{};
    std::string Text;
    size_t At = 0;
    uint32 Limit = 1;

    ShortReads(const std::string &Source, uint32 Most) : Text(Source), Limit(Most) {
        Record.Handle = this;
        Record.Read = [](void *Handle, void *Buffer, uint32 Length, uint32 *Count) -> int32 {
            auto *Self = static_cast<ShortReads *>(Handle);
            const size_t Bytes = std::min<size_t>({Length, Self->Limit, Self->Text.size() - Self->At});
            memcpy(Buffer, Self->Text.data() + Self->At, Bytes);
            Self->At += Bytes;
            *Count = (uint32)Bytes;
            return Bytes > 0;
        };
        Record.Seek = [](void *Handle, int64 Offset, int32 Origin) -> int32 {
            auto *Self = static_cast<ShortReads *>(Handle);
            Self->At = (size_t)((Origin == STREAM_SEEK_CUR ? (int64)Self->At : 0) + Offset);
            return 1;
        };
        Record.Length = [](void *Handle, int64 *Length) -> int32 {
            *Length = (int64)static_cast<ShortReads *>(Handle)->Text.size();
            return 1;
        };
    }
};

// Every value the callback sees, with a check that its text is terminated.
int32 Watch(JSON *, void *User, const char *Path, int32 Kind, const char *Text, int32 Length, int64 Position, int32,
            int32, int32 *) {
    *static_cast<std::string *>(User) += std::string(Path) + "|" + std::to_string(Kind) + "|" +
                                         ToHex(std::string(Text, (size_t)Length)) + "|" + std::to_string(Position) +
                                         (Text[Length] == 0 ? "\n" : "UNTERMINATED\n");
    return 1;
}

// The messages without the object's name in front.
std::string Messages(const Capture &Lines) {
    std::string Out;
    for (const std::string &Line : Lines.Lines) Out += Line.substr(Line.find(" - ") + 3);
    return Out;
}

// A buffer load reads the caller's bytes where they lie; a stream that hands
// out short pieces and a load watched by a value callback go through copied
// pieces. All three give the same items, result, error and messages, and
// the callback sees the same values whatever the pieces.
TEST_F(JsonPythonTest, InPlaceStreamedAndWatchedLoadsAgree) {
    std::mt19937 Random(19);
    int32 Checked = 0;
    for (const Sample &Item : Samples()) {
        Doc Whole, Streamed, Watched;
        Capture WholeLines(Whole.Json), StreamedLines(Streamed.Json), WatchedLines(Watched.Json);
        const int32 Loaded = Whole.Load(Item.Text);
        ShortReads Pieces(Item.Text, std::uniform_int_distribution<uint32>(1, 40)(Random));
        EXPECT_EQ(JSON_LoadStream(Streamed.Json, &Pieces.Record), Loaded) << Item.Text;
        std::string Seen, SeenInPieces;
        JSON_SetValueCallback(Watched.Json, &Seen, Watch);
        EXPECT_EQ(Watched.Load(Item.Text), Loaded) << Item.Text;
        for (const Doc *Other : {&Streamed, &Watched}) {
            EXPECT_EQ(Other->Error(), Whole.Error()) << Item.Text;
            EXPECT_EQ(Other->Canon(), Whole.Canon()) << Item.Text;
        }
        EXPECT_EQ(Messages(StreamedLines), Messages(WholeLines)) << Item.Text;
        EXPECT_EQ(Messages(WatchedLines), Messages(WholeLines)) << Item.Text;
        if (Item.Tag != "E") {
            EXPECT_EQ(Whole.Canon(), Item.Canon) << Item.Text;
        }
        JSON_SetValueCallback(Streamed.Json, &SeenInPieces, Watch);
        ShortReads Again(Item.Text, std::uniform_int_distribution<uint32>(1, 40)(Random));
        JSON_LoadStream(Streamed.Json, &Again.Record);
        EXPECT_EQ(SeenInPieces, Seen) << Item.Text;
        EXPECT_EQ(Seen.find("UNTERMINATED"), std::string::npos) << Item.Text;
        Checked++;
    }
    EXPECT_GT(Checked, 400);
}

TEST_F(JsonPythonTest, ErrorPositionsMatchPython) {
    int32 Checked = 0;
    for (const Sample &Item : Samples()) {
        if (Item.Tag != "E") continue;
        Doc D;
        Capture Lines(D.Json);
        EXPECT_EQ(D.Load(Item.Text), 0) << Item.Text;
        EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE) << Item.Text;
        int32 Line = 0, Column = 0;
        ASSERT_TRUE(jsontest::LastPosition(Lines, &Line, &Column)) << Lines.All();
        EXPECT_EQ(Line, Item.Line) << Item.Text;
        EXPECT_EQ(Column, Item.Column) << Item.Text;
        Checked++;
    }
    EXPECT_GT(Checked, 50);
}

} // namespace
