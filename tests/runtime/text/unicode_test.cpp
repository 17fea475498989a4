// Unicode and Windows-1252 conversions against Python's codecs: random BMP
// and non-BMP texts through UTF-8, UTF-16 and UTF-32; invalid UTF-8 against
// decode("utf-8", "replace"); lone surrogates against the UTF-16 codec's
// "replace"; every Windows-1252 byte against cp1252 (latin-1 for its five
// undefined bytes); and bounded copies that must stop without overrun.
#include <signal.h>
#include <string.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/text/unicode.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class UnicodeTest : public RuntimeTest {};

// UTF-16 literals as the runtime's 16-bit units.
const uint16 *W(const char16_t *Text) { return reinterpret_cast<const uint16 *>(Text); }

std::string Bytes16(const std::vector<uint16> &Units) {
    return std::string((const char *)Units.data(), Units.size() * 2);
}
std::string Bytes32(const std::vector<uint32> &Units) {
    return std::string((const char *)Units.data(), Units.size() * 4);
}

// Checks lines of hex fields with a Python snippet that sets "ok" per line.
void CheckWithPython(const std::string &Lines, const std::string &Check) {
    const std::string Script = "import sys\nbad = 0\nfor line in sys.stdin:\n"
                               "    f = [bytes.fromhex(x) for x in line.rstrip('\\n').split(' ')]\n" +
                               Check +
                               "    if not ok:\n        bad += 1\n        print('mismatch', line.strip())\n"
                               "print('bad', bad)\n";
    EXPECT_EQ(RunPython(Script, Lines), "bad 0\n");
}

// ---- Single characters ----

TEST_F(UnicodeTest, CharacterLengthsAndEncoding) {
    const char Leads[] = "\x41\x80\xBF\xC0\xDF\xE0\xEF\xF0\xF7\xF8\xFB\xFC\xFD\xFE\xFF";
    const int32 Expected[] = {1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 1, 1};
    for (size_t i = 0; i < sizeof Expected / sizeof Expected[0]; i++)
        EXPECT_EQ(CharUtf8_Length(Leads + i), Expected[i]) << i;

    struct Case {
        uint32 CodePoint;
        const char *Utf8;
    } Cases[] = {{0x41, "A"},
                 {0x7F, "\x7F"},
                 {0x80, "\xC2\x80"},
                 {0x7FF, "\xDF\xBF"},
                 {0x800, "\xE0\xA0\x80"},
                 {0x20AC, "\xE2\x82\xAC"},
                 {0xFFFF, "\xEF\xBF\xBF"},
                 {0x10000, "\xF0\x90\x80\x80"},
                 {0x1F600, "\xF0\x9F\x98\x80"},
                 {0x1FFFFF, "\xF7\xBF\xBF\xBF"},
                 {0x200000, "\xF8\x88\x80\x80\x80"},
                 {0x3FFFFFF, "\xFB\xBF\xBF\xBF\xBF"},
                 {0x4000000, "\xFC\x84\x80\x80\x80\x80"},
                 {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"}};
    for (const Case &C : Cases) {
        char Out[8] = {};
        int32 Bytes = -1;
        EXPECT_EQ(CharUtf64_CopyToUtf8(C.CodePoint, Out, sizeof Out, &Bytes), 1);
        EXPECT_EQ(std::string(Out, (size_t)Bytes), C.Utf8) << std::hex << C.CodePoint;
        EXPECT_EQ(CharUtf64_LengthUtf8(C.CodePoint), (int32)strlen(C.Utf8));
    }
    char Out[4] = {'Z', 'Z', 'Z', 'Z'};
    int32 Bytes = -1;
    EXPECT_EQ(CharUtf64_CopyToUtf8(0x20AC, Out, 2, &Bytes), 1);
    EXPECT_EQ(Bytes, 0);
    EXPECT_EQ(Out[0], 'Z');
    EXPECT_EQ(CharUtf64_CopyToUtf8(0x80000000u, Out, 4, &Bytes), 0);
    EXPECT_EQ(Bytes, 0);
    EXPECT_EQ(CharUtf64_LengthUtf8(0x80000000u), 0);
}

TEST_F(UnicodeTest, OneCharacterToOneUnit) {
    uint16 Unit = 0;
    int32 Length = 0;
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xC3\xA9", &Unit, &Length), 1);
    EXPECT_EQ(Unit, 0xE9);
    EXPECT_EQ(Length, 2);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xE2\x82\xAC", &Unit, &Length), 1);
    EXPECT_EQ(Unit, 0x20AC);
    // A character above U+FFFF does not fit one unit: the replacement, never its low 16 bits.
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xF0\x9F\x98\x80", &Unit, &Length), 1);
    EXPECT_EQ(Unit, 0xFFFD);
    EXPECT_EQ(Length, 4);
    // Broken sequences answer 0 with the replacement and the bytes to skip.
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xC3\x41", &Unit, &Length), 0);
    EXPECT_EQ(Unit, 0xFFFD);
    EXPECT_EQ(Length, 1);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xAF", &Unit, &Length), 0);  // not "/"
    EXPECT_EQ(Unit, 0xFFFD);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\x80", &Unit, &Length), 0);  // not NUL
    EXPECT_EQ(Unit, 0xFFFD);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xE2\x82", &Unit, &Length), 0);
    EXPECT_EQ(Length, 2);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("\xED\xA0\x80", &Unit, &Length), 0);  // encoded surrogate
    EXPECT_EQ(Length, 1);
    EXPECT_EQ(CharUtf8_ConvertToUtf16("A", &Unit, &Length), 1);
    EXPECT_EQ(Unit, 'A');
}

// ---- Fixed cases ----

TEST_F(UnicodeTest, NonBmpCharactersAreCarriedWhole) {
    uint16 Utf16[8];
    EXPECT_EQ(StringUtf8_CopyToUtf16(Utf16, "a\xF0\x9F\x98\x80", 8), 3);
    EXPECT_EQ(Utf16[1], 0xD83D);
    EXPECT_EQ(Utf16[2], 0xDE00);
    EXPECT_EQ(Utf16[3], 0);
    uint32 Wide[8];
    EXPECT_EQ(StringUtf8_CopyToUtf32(Wide, "a\xF0\x9F\x98\x80", 8), 2);
    EXPECT_EQ(Wide[1], 0x1F600u);
    char Utf8[16];
    const uint16 Pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(StringUtf16_CopyToUtf8(Utf8, Pair, sizeof Utf8), 4);
    EXPECT_STREQ(Utf8, "\xF0\x9F\x98\x80");
    EXPECT_EQ(StringUtf16_LengthUtf8(Pair), 4);
    const uint32 Letters[] = {0x41, 0x42, 0};
    uint16 Out[4];
    EXPECT_EQ(StringUtf32_CopyToUtf16(Out, Letters, 4), 2);
    EXPECT_EQ(Out[0], 0x41);
    EXPECT_EQ(Out[1], 0x42);
    const uint32 Emoji[] = {0x1F600, 0};
    EXPECT_EQ(StringUtf32_CopyToUtf16(Out, Emoji, 4), 2);
    EXPECT_EQ(Out[0], 0xD83D);
    EXPECT_EQ(Out[1], 0xDE00);
    // A broken sequence inside a text becomes U+FFFD and the copy goes on.
    EXPECT_EQ(StringUtf8_CopyToUtf16(Utf16, "a\xC3" "Ab", 8), 4);
    EXPECT_EQ(Utf16[1], 0xFFFD);
    EXPECT_EQ(Utf16[2], 'A');
}

TEST_F(UnicodeTest, WindowsCodePageBytes) {
    char Out[8];
    int32 Bytes;
    EXPECT_EQ(CharAnsi_CopyToUtf8(0x80, Out, sizeof Out, &Bytes), 1);
    EXPECT_EQ(std::string(Out, (size_t)Bytes), "\xE2\x82\xAC");
    EXPECT_EQ(CharAnsi_CopyToUtf8(0xE9, Out, sizeof Out, &Bytes), 1);
    EXPECT_EQ(std::string(Out, (size_t)Bytes), "\xC3\xA9");
    EXPECT_EQ(CharAnsi_CopyToUtf8(0x81, Out, sizeof Out, &Bytes), 1);
    EXPECT_EQ(std::string(Out, (size_t)Bytes), "\xC2\x81");
    EXPECT_EQ(CharAnsi_LengthUtf8('a'), 1);
    EXPECT_EQ(CharAnsi_LengthUtf8(0xE9), 2);
    EXPECT_EQ(CharAnsi_LengthUtf8(0x80), 3);

    // Every byte against Python: cp1252 where defined, latin-1 for the five gaps.
    std::string All;
    for (int Byte = 1; Byte < 256; Byte++) All += (char)Byte;
    std::vector<char> Utf8(1024);
    const int32 Length = StringAnsi_CopyToUtf8(Utf8.data(), All.c_str(), (int32)Utf8.size());
    EXPECT_EQ(Length, StringAnsi_LengthUtf8(All.c_str()));
    std::string Lines;
    for (int Byte = 1; Byte < 256; Byte++) {
        char One[2] = {(char)Byte, 0};
        char Char[8];
        const int32 N = StringAnsi_CopyToUtf8(Char, One, sizeof Char);
        EXPECT_EQ(N, CharAnsi_LengthUtf8((uint8)Byte));
        Lines += ToHex(One) + " " + ToHex(std::string(Char, (size_t)N)) + "\n";
    }
    Lines += ToHex(All) + " " + ToHex(std::string(Utf8.data(), (size_t)Length)) + "\n";
    CheckWithPython(Lines, R"(
    text = ''.join(bytes([b]).decode('cp1252') if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)
                   else bytes([b]).decode('latin-1') for b in f[0])
    ok = text.encode('utf-8') == f[1]
)");
    char *Copy = nullptr;
    EXPECT_EQ(StringAnsi_CreateUtf8("caf\xE9 \x80", &Copy), 1);
    EXPECT_STREQ(Copy, "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(StringAnsi_DeleteUtf8(&Copy), 1);
    EXPECT_EQ(Copy, nullptr);
}

// ---- Generated texts against Python ----

std::vector<uint32> RandomCodePoints(std::mt19937 &Random, int MaxLength) {
    std::vector<uint32> Points;
    const int Length = (int)(Random() % (uint32)MaxLength);
    for (int i = 0; i < Length; i++) {
        uint32 CodePoint;
        switch (Random() % 4) {
            case 0: CodePoint = 1 + Random() % 0x7F; break;
            case 1: CodePoint = 0x80 + Random() % 0x780; break;
            case 2: CodePoint = 0x800 + Random() % 0xF800; break;
            default: CodePoint = 0x10000 + Random() % 0x100000; break;
        }
        if (CodePoint >= 0xD800 && CodePoint <= 0xDFFF) CodePoint -= 0x1000;
        Points.push_back(CodePoint);
    }
    return Points;
}

TEST_F(UnicodeTest, RandomTextsMatchPythonCodecs) {
    std::mt19937 Random(0xC0DEC);
    std::ostringstream Lines;
    for (int Case = 0; Case < 500; Case++) {
        std::vector<uint32> Points = RandomCodePoints(Random, 40);
        Points.push_back(0);
        const int32 Size = StringUtf32_LengthUtf8(Points.data()) + 1;
        std::string Utf8((size_t)Size, '\0');
        ASSERT_EQ(StringUtf32_CopyToUtf8(Utf8.data(), Points.data(), Size), Size - 1);
        Utf8.resize((size_t)Size - 1);

        std::vector<uint16> Utf16(Utf8.size() + 1);
        const int32 Units16 = StringUtf8_CopyToUtf16(Utf16.data(), Utf8.c_str(), (int32)Utf16.size());
        Utf16.resize((size_t)Units16);
        std::vector<uint32> Utf32(Utf8.size() + 1);
        const int32 Units32 = StringUtf8_CopyToUtf32(Utf32.data(), Utf8.c_str(), (int32)Utf32.size());
        Utf32.resize((size_t)Units32);

        Utf16.push_back(0);
        ASSERT_EQ(StringUtf16_LengthUtf8(Utf16.data()), Size - 1);
        std::string Back((size_t)Size, '\0');
        ASSERT_EQ(StringUtf16_CopyToUtf8(Back.data(), Utf16.data(), Size), Size - 1);
        Back.resize((size_t)Size - 1);
        Utf16.pop_back();
        // Big-endian UTF-16 through the swapped-unit reader.
        std::vector<uint16> Swapped;
        for (uint16 Unit : Utf16) Swapped.push_back((uint16)((Unit >> 8) | (Unit << 8)));
        Swapped.push_back(0);
        std::string FromSwapped((size_t)Size, '\0');
        ASSERT_EQ(StringUtf16_ESCopyLengthToUtf8(FromSwapped.data(), Size, Swapped.data(), (int32)Swapped.size() - 1),
                  Size - 1);
        FromSwapped.resize((size_t)Size - 1);

        Points.pop_back();
        Lines << ToHex(Bytes32(Points)) << ' ' << ToHex(Utf8) << ' ' << ToHex(Bytes16(Utf16)) << ' '
              << ToHex(Bytes32(Utf32)) << ' ' << ToHex(Back) << ' ' << ToHex(FromSwapped) << '\n';
    }
    CheckWithPython(Lines.str(), R"(
    text = f[0].decode('utf-32-le')
    ok = (f[1] == text.encode('utf-8') and f[2] == text.encode('utf-16-le') and
          f[3] == text.encode('utf-32-le') and f[4] == f[1] and f[5] == f[1])
)");
}

TEST_F(UnicodeTest, InvalidUtf8MatchesPythonReplace) {
    std::mt19937 Random(0xBADB1);
    std::ostringstream Lines;
    const uint8 Interesting[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0,
                                 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF8, 0xFC, 0xFE, 0xFF, 'a'};
    for (int Case = 0; Case < 2000; Case++) {
        std::string Bytes;
        const int Length = 1 + (int)(Random() % 16);
        for (int i = 0; i < Length; i++)
            Bytes += (char)(Random() % 2 ? Interesting[Random() % sizeof Interesting] : 1 + Random() % 255);
        std::vector<uint32> Utf32(Bytes.size() + 1);
        Utf32.resize((size_t)StringUtf8_CopyToUtf32(Utf32.data(), Bytes.c_str(), (int32)Utf32.size()));
        std::vector<uint16> Utf16(Bytes.size() * 2 + 1);
        Utf16.resize((size_t)StringUtf8_CopyToUtf16(Utf16.data(), Bytes.c_str(), (int32)Utf16.size()));
        // A cut through LastIndex ends in a truncated sequence: also one U+FFFD.
        const int32 Cut = (int32)(Random() % Bytes.size());
        std::vector<uint16> Prefix(Bytes.size() * 2 + 1);
        Prefix.resize((size_t)StringUtf8_CopyLengthToUtf16(Prefix.data(), (int32)Prefix.size(), Bytes.c_str(), Cut));
        Lines << ToHex(Bytes) << ' ' << ToHex(Bytes32(Utf32)) << ' ' << ToHex(Bytes16(Utf16)) << ' '
              << ToHex(Bytes.substr(0, (size_t)Cut + 1)) << ' ' << ToHex(Bytes16(Prefix)) << '\n';
    }
    CheckWithPython(Lines.str(), R"(
    text = f[0].decode('utf-8', 'replace')
    prefix = f[3].decode('utf-8', 'replace')
    ok = (f[1] == text.encode('utf-32-le') and f[2] == text.encode('utf-16-le') and
          f[4] == prefix.encode('utf-16-le'))
)");
}

TEST_F(UnicodeTest, LoneSurrogatesMatchPythonReplace) {
    std::mt19937 Random(0x5A11);
    std::ostringstream Lines;
    const uint16 Interesting[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 'a', 0xE9, 0xFFFF};
    for (int Case = 0; Case < 1000; Case++) {
        std::vector<uint16> Units;
        const int Length = 1 + (int)(Random() % 12);
        for (int i = 0; i < Length; i++)
            Units.push_back(Random() % 3 ? Interesting[Random() % 9] : (uint16)(1 + Random() % 0xFFFF));
        Units.push_back(0);
        const int32 Size = StringUtf16_LengthUtf8(Units.data()) + 1;
        std::string Utf8((size_t)Size, '\0');
        ASSERT_EQ(StringUtf16_CopyToUtf8(Utf8.data(), Units.data(), Size), Size - 1);
        Utf8.resize((size_t)Size - 1);
        Units.pop_back();
        // 32-bit texts holding surrogate values get U+FFFD as well.
        std::vector<uint32> Wide(Units.begin(), Units.end());
        Wide.push_back(0);
        std::string FromWide((size_t)StringUtf32_LengthUtf8(Wide.data()) + 1, '\0');
        FromWide.resize((size_t)StringUtf32_CopyToUtf8(FromWide.data(), Wide.data(), (int32)FromWide.size()));
        Lines << ToHex(Bytes16(Units)) << ' ' << ToHex(Utf8) << ' ' << ToHex(FromWide) << '\n';
    }
    CheckWithPython(Lines.str(), R"(
    text = f[0].decode('utf-16-le', 'replace')
    each = ''.join('\ufffd' if 0xD800 <= u <= 0xDFFF else chr(u)
                   for u in (int.from_bytes(f[0][i:i+2], 'little') for i in range(0, len(f[0]), 2)))
    ok = f[1] == text.encode('utf-8') and f[2] == each.encode('utf-8')
)");
}

// ---- Bounded copies ----

TEST_F(UnicodeTest, BoundedCopiesStopBeforeWhatDoesNotFit) {
    const char *Text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // 1 + 2 + 3 + 4 + 1 bytes
    const std::vector<uint16> Full16 = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z'};
    for (int32 Units = 0; Units <= 8; Units++) {
        uint16 Out[16];
        for (uint16 &U : Out) U = 0x5A5A;
        const int32 N = StringUtf8_CopyToUtf16(Out, Text, Units);
        // Never a half pair: 3 units of room hold "a", U+00E9 and the terminator only.
        const int32 Expected = Units <= 1 ? 0 : Units <= 4 ? Units - 1 : Units == 5 ? 3 : Units == 6 ? 5 : 6;
        ASSERT_EQ(N, Expected) << Units;
        if (Units > 0) {
            ASSERT_EQ(Out[N], 0);
        }
        for (int32 i = 0; i < N; i++) ASSERT_EQ(Out[i], Full16[(size_t)i]);
        for (int32 i = Units; i < 16; i++) ASSERT_EQ(Out[i], 0x5A5A) << "overrun at " << Units;
    }
    const uint16 Source[] = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z', 0};
    const std::string Full8 = Text;
    for (int32 Size = 0; Size <= 14; Size++) {
        char Out[20];
        memset(Out, 'Z', sizeof Out);
        const int32 N = StringUtf16_CopyToUtf8(Out, Source, Size);
        // Sizes cut between characters: the result is the longest fitting prefix.
        const int32 Expected = Size < 2 ? 0 : Size < 4 ? 1 : Size < 7 ? 3 : Size < 11 ? 6 : Size < 12 ? 10 : 11;
        ASSERT_EQ(N, Expected) << Size;
        if (Size > 0) {
            ASSERT_EQ(std::string(Out), Full8.substr(0, (size_t)N));
        }
        for (int32 i = Size; i < 20; i++) ASSERT_EQ(Out[i], 'Z') << "overrun at " << Size;
    }
    // Count and LastIndex limit the source.
    char Out[16];
    EXPECT_EQ(StringUtf16_CopyLengthToUtf8(Out, sizeof Out, Source, 2), 3);
    EXPECT_STREQ(Out, "a\xC3\xA9");
    EXPECT_EQ(StringUtf16_CopyLengthToUtf8(Out, sizeof Out, Source, 4), 6 + 3);  // half a pair is U+FFFD
    EXPECT_EQ(StringUtf16_CopyLengthToUtf8(Out, sizeof Out, Source, -1), 0);
    EXPECT_STREQ(Out, "");
    uint32 Wide[8];
    EXPECT_EQ(StringUtf8_CopyLengthToUtf32(Wide, 8, Text, 2), 2);
    EXPECT_EQ(Wide[1], 0xE9u);
    EXPECT_EQ(StringUtf8_CopyLengthToUtf32(Wide, 8, Text, -1), 0);
    EXPECT_EQ(Wide[0], 0u);
    EXPECT_EQ(StringUtf8_CopyLengthToUtf32(Wide, 0, Text, 5), 0);
    const uint32 Points[] = {'x', 0x1F600, 'y', 0};
    uint16 Units[8];
    EXPECT_EQ(StringUtf32_CopyLengthToUtf16(Units, 8, Points, 0), 1);
    EXPECT_EQ(StringUtf32_CopyLengthToUtf16(Units, 3, Points, 2), 1);  // the pair needs three with the terminator
    EXPECT_EQ(StringUtf32_CopyLengthToUtf8(Out, sizeof Out, Points, 2), 5);
    EXPECT_EQ(StringUtf32_Length(Points), 3);
}

TEST_F(UnicodeTest, AllOrNothingConversions) {
    uint16 Out[8];
    for (uint16 &U : Out) U = 0x5A5A;
    EXPECT_EQ(String_CopyToUtf16(Out, "abc\xF0\x9F\x98\x80", 6), 5);
    EXPECT_EQ(Out[4], 0xDE00);
    EXPECT_EQ(String_CopyToUtf16(Out, "abc\xF0\x9F\x98\x80", 5), 0);
    EXPECT_EQ(Out[0], 0);
    EXPECT_EQ(String_CopyLengthToUtf16(Out, 8, "abcdef", 2), 2);
    EXPECT_EQ(Out[2], 0);
    // These go through the strict platform converters: invalid input fails whole.
    Out[0] = 'q';
    EXPECT_EQ(String_CopyToUtf16(Out, "a\xC3(", 8), 0);
    EXPECT_EQ(Out[0], 0);
    char Ascii[8];
    const uint16 Text[] = {'h', 0xE9, 0};
    EXPECT_EQ(StringUtf16_CopyToAscii(Ascii, Text, 4), 3);
    EXPECT_STREQ(Ascii, "h\xC3\xA9");
    EXPECT_EQ(StringUtf16_CopyToAscii(Ascii, Text, 3), 0);
    EXPECT_STREQ(Ascii, "");
    EXPECT_EQ(StringUtf16_CopyLengthToAscii(Ascii, 8, Text, 1), 1);
    EXPECT_STREQ(Ascii, "h");
    const uint16 Lone[] = {'h', 0xDC00, 0};
    EXPECT_EQ(StringUtf16_CopyToAscii(Ascii, Lone, 8), 0);
    EXPECT_STREQ(Ascii, "");
}

TEST_F(UnicodeTest, AllocatedCopies) {
    uint16 *Utf16 = nullptr;
    ASSERT_EQ(StringUtf8_CreateUtf16("x\xF0\x9F\x98\x80", &Utf16), 1);
    EXPECT_EQ(StringUtf16_Length(Utf16), 3);
    char *Utf8 = nullptr;
    ASSERT_EQ(StringUtf16_CreateUtf8(Utf16, &Utf8), 1);
    EXPECT_STREQ(Utf8, "x\xF0\x9F\x98\x80");
    EXPECT_EQ(StringUtf16_DeleteUtf8(&Utf8), 1);
    EXPECT_EQ(Utf8, nullptr);
    ASSERT_EQ(StringUtf16_CreateUtf8Length(Utf16, 3, &Utf8), 1);
    EXPECT_STREQ(Utf8, "x");
    StringUtf16_DeleteUtf8(&Utf8);
    EXPECT_EQ(StringUtf8_DeleteUtf16(&Utf16), 1);
    EXPECT_EQ(Utf16, nullptr);
    EXPECT_EQ(StringUtf8_DeleteUtf16(&Utf16), 1);  // deleting none is allowed

    uint32 *Wide = nullptr;
    ASSERT_EQ(StringUtf8_CreateWide("\xC3\xA9t\xC3\xA9", &Wide), 1);
    EXPECT_EQ(StringUtf32_Length(Wide), 3);
    EXPECT_EQ(Wide[0], 0xE9u);
    ASSERT_EQ(WideString_CreateUtf8(Wide, &Utf8), 1);
    EXPECT_STREQ(Utf8, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(WideString_DeleteUtf8(&Utf8), 1);
    ASSERT_EQ(WideString_CreateUtf8Length(Wide, 4, &Utf8), 1);
    EXPECT_STREQ(Utf8, "\xC3\xA9t");
    WideString_DeleteUtf8(&Utf8);
    EXPECT_EQ(StringUtf8_DeleteWide(&Wide), 1);
    ASSERT_EQ(StringUtf8_CreateWideLength("abcdef", 3, &Wide), 1);
    EXPECT_EQ(StringUtf32_Length(Wide), 2);
    StringUtf8_DeleteWide(&Wide);
    ASSERT_EQ(StringUtf8_CreateUtf16Length("abcdef", 4, &Utf16), 1);
    EXPECT_EQ(StringUtf16_Length(Utf16), 3);
    StringUtf8_DeleteUtf16(&Utf16);

    ASSERT_EQ(WideString_CreateLength(4, &Wide), 1);
    EXPECT_EQ(Wide[3], 0u);
    EXPECT_EQ(WideString_DeleteLength(&Wide), 1);
    EXPECT_EQ(WideString_CreateLength(0, &Wide), 0);
    EXPECT_EQ(Wide, nullptr);
}

// ---- UTF-16 string functions ----

TEST_F(UnicodeTest, Utf16CopyAndSearch) {
    uint16 Buffer[16];
    EXPECT_EQ(StringUtf16_Copy(Buffer, W(u"hello")), 5);
    EXPECT_EQ(StringUtf16_Cat(Buffer, W(u", you")), 5);
    EXPECT_EQ(StringUtf16_Compare(Buffer, W(u"hello, you")), 1);
    EXPECT_EQ(StringUtf16_CopyLength(Buffer, W(u"abcdef"), 4), 3);
    EXPECT_EQ(StringUtf16_Compare(Buffer, W(u"abc")), 1);
    EXPECT_EQ(StringUtf16_CatLength(Buffer, W(u"defgh"), 6), 2);
    EXPECT_EQ(StringUtf16_Compare(Buffer, W(u"abcde")), 1);
    EXPECT_EQ(StringUtf16_CatLength(Buffer, W(u"x"), 6), 0);
    EXPECT_EQ(StringUtf16_Reverse(Buffer), 1);
    EXPECT_EQ(StringUtf16_Compare(Buffer, W(u"edcba")), 1);

    const uint16 *Text = W(u"a.b.c");
    const uint16 *Position = nullptr;
    EXPECT_EQ(StringUtf16_FindChar(Text, '.', &Position), 1);
    EXPECT_EQ(Position, Text + 1);
    EXPECT_EQ(StringUtf16_FindChar(Text, 0, &Position), 0);
    EXPECT_EQ(Position, nullptr);
    EXPECT_EQ(StringUtf16_FindCharReverse(Text, '.', &Position), 1);
    EXPECT_EQ(Position, Text + 3);
    EXPECT_EQ(StringUtf16_FindCharReverse(Text, 0, &Position), 1);
    EXPECT_EQ(Position, Text + 5);
    EXPECT_EQ(StringUtf16_FindCharReverseAt(Text, '.', 2, &Position), 1);
    EXPECT_EQ(Position, Text + 1);
    EXPECT_EQ(StringUtf16_FindCharReverseAt(Text, '.', 99, &Position), 1);
    EXPECT_EQ(Position, Text + 3);
    EXPECT_EQ(StringUtf16_FindCharReverseAt(Text, '.', -1, &Position), 0);
    EXPECT_EQ(StringUtf16_FindCharReverseAt(W(u""), 'a', 0, nullptr), 0);
    EXPECT_EQ(StringUtf16_FindString(W(u"Hello World"), W(u"World"), &Position), 1);
    EXPECT_EQ(StringUtf16_FindString(W(u"Hello World"), W(u"world"), nullptr), 0);
    EXPECT_EQ(StringUtf16_FindStringWithoutCase(W(u"Hello World"), W(u"wORLD"), nullptr), 1);
    EXPECT_EQ(StringUtf16_FindString(W(u""), W(u""), nullptr), 0);
    EXPECT_EQ(StringUtf16_FindString(W(u"x"), W(u""), &Position), 1);
    // Case folding is ASCII only.
    EXPECT_EQ(StringUtf16_CompareWithoutCase(W(u"\u00e9A"), W(u"\u00c9a")), 0);
    EXPECT_EQ(StringUtf16_CompareWithoutCase(W(u"\u00e9A"), W(u"\u00e9a")), 1);

    uint16 Writable[] = {'x', 'y', 0};
    uint16 *Found = nullptr;
    EXPECT_EQ(StringUtf16_FindChar(Writable, 'y', &Found), 1);
    *Found = 'z';
    EXPECT_EQ(StringUtf16_Compare(Writable, W(u"xz")), 1);
}

TEST_F(UnicodeTest, Utf16Comparisons) {
    EXPECT_EQ(StringUtf16_Compare(W(u"abc"), W(u"abc")), 1);
    EXPECT_EQ(StringUtf16_Compare(W(u"abc"), W(u"abcd")), 0);
    EXPECT_EQ(StringUtf16_Compare(W(u"abcd"), W(u"abc")), 0);
    EXPECT_EQ(StringUtf16_CompareLength(W(u"abcX"), W(u"abcY"), 3), 1);
    EXPECT_EQ(StringUtf16_CompareLength(W(u"ab"), W(u"ab"), 5), 1);
    EXPECT_EQ(StringUtf16_CompareLength(W(u"ab"), W(u"abc"), 5), 0);
    EXPECT_EQ(StringUtf16_CompareLength(W(u"x"), W(u"y"), 0), 1);
    EXPECT_EQ(StringUtf16_CompareLengthWithoutCase(W(u"ABcX"), W(u"abCY"), 3), 1);
    EXPECT_EQ(StringUtf16_CompareBeginning(W(u"file.txt"), W(u"file")), 1);
    EXPECT_EQ(StringUtf16_CompareBeginning(W(u"fi"), W(u"file")), 0);
    EXPECT_EQ(StringUtf16_CompareBeginning(W(u"x"), W(u"")), 1);
    EXPECT_EQ(StringUtf16_CompareBeginningWithoutCase(W(u"FILE.txt"), W(u"file")), 1);
    EXPECT_EQ(StringUtf16_CompareEnding(W(u"file.txt"), W(u".txt")), 1);
    EXPECT_EQ(StringUtf16_CompareEnding(W(u"file.doc"), W(u".txt")), 0);
    // A shorter text does not end with a longer suffix.
    EXPECT_EQ(StringUtf16_CompareEnding(W(u"xt"), W(u".txt")), 0);
    EXPECT_EQ(StringUtf16_CompareEnding(W(u"e.com"), W(u".example.com")), 0);
    EXPECT_EQ(StringUtf16_CompareEnding(W(u""), W(u".txt")), 0);
    EXPECT_EQ(StringUtf16_CompareEnding(W(u""), W(u"")), 1);
    EXPECT_EQ(StringUtf16_CompareEndingWithoutCase(W(u"FILE.TXT"), W(u".txt")), 1);
}

TEST_F(UnicodeTest, Utf16Numbers) {
    EXPECT_EQ(StringUtf16_AtoI64(W(u"-42x")), -42);
    EXPECT_EQ(StringUtf16_AtoI64(W(u"+7")), 7);
    EXPECT_EQ(StringUtf16_AtoI64(W(u"0x1F")), 0);  // decimal only
    EXPECT_EQ(StringUtf16_AtoI64(W(u"")), 0);
    EXPECT_EQ(StringUtf16_AtoI64(nullptr), 0);
    EXPECT_EQ(StringUtf16_AtoI64(W(u"9223372036854775808")), INT64_MIN);  // wraps
    EXPECT_EQ(StringUtf16_AtoI(W(u"4294967297")), 1);
    EXPECT_EQ(StringUtf16_AtoI(W(u"-2147483648")), INT32_MIN);
}

TEST_F(UnicodeTest, MissingPointersAreFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    uint16 Units[4];
    EXPECT_EXIT(StringUtf8_CopyToUtf16(Units, nullptr, 4), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(StringUtf16_Length(nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(StringUtf8_DeleteUtf16(nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

}  // namespace
