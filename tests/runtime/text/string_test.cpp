// Byte-string library: bounded copies, edits, comparisons, searches, lists,
// lines and wildcards. Wildcards are checked against Python's fnmatchcase on
// generated star patterns, and pathological patterns must finish at once.
#include <ctype.h>
#include <signal.h>
#include <string.h>

#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/text/string.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class StringTest : public RuntimeTest {};

// A buffer with guard bytes behind the writable part, to see over-writes.
struct Guarded {
    char Bytes[64];
    explicit Guarded(const char *Initial = "") {
        memset(Bytes, 'Z', sizeof(Bytes));
        memcpy(Bytes, Initial, strlen(Initial) + 1);
    }
    bool GuardIntact(int32 From) const {
        for (int32 Index = From; Index < (int32)sizeof(Bytes); Index++)
            if (Bytes[Index] != 'Z') return false;
        return true;
    }
};

// ---- Copy and concatenate ----

TEST_F(StringTest, CopyLengthCutsAtSizeMinusOneAndTerminates) {
    Guarded Out;
    EXPECT_EQ(String_CopyLength(Out.Bytes, "abcdef", 4), 3);
    EXPECT_STREQ(Out.Bytes, "abc");
    EXPECT_TRUE(Out.GuardIntact(4));

    Guarded One;
    EXPECT_EQ(String_CopyLength(One.Bytes, "abcdef", 1), 0);
    EXPECT_STREQ(One.Bytes, "");
    EXPECT_TRUE(One.GuardIntact(1));

    Guarded None("q");
    EXPECT_EQ(String_CopyLength(None.Bytes, "abcdef", 0), 0);
    EXPECT_EQ(String_CopyLength(None.Bytes, "abcdef", -5), 0);
    EXPECT_STREQ(None.Bytes, "q");

    Guarded Fits;
    EXPECT_EQ(String_CopyLength(Fits.Bytes, "abc", 4), 3);
    EXPECT_STREQ(Fits.Bytes, "abc");
}

TEST_F(StringTest, CopyAndCatWholeTexts) {
    char Out[32];
    EXPECT_EQ(String_Copy(Out, "hello"), 5);
    EXPECT_EQ(String_Cat(Out, ", world"), 7);
    EXPECT_STREQ(Out, "hello, world");
    EXPECT_EQ(String_Cat(Out, ""), 0);
}

TEST_F(StringTest, CatLengthCountsTheExistingText) {
    Guarded Out("ab");
    EXPECT_EQ(String_CatLength(Out.Bytes, "cdef", 5), 2);
    EXPECT_STREQ(Out.Bytes, "abcd");
    EXPECT_TRUE(Out.GuardIntact(5));
    EXPECT_EQ(String_CatLength(Out.Bytes, "x", 5), 0);
    EXPECT_STREQ(Out.Bytes, "abcd");

    // A destination with no terminator inside the size is left alone.
    char Full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(String_CatLength(Full, "x", 4), 0);
    EXPECT_EQ(memcmp(Full, "abcd", 4), 0);
}

TEST_F(StringTest, CopyLengthSafeTakesTheSmallerBound) {
    Guarded Out;
    EXPECT_EQ(String_CopyLengthSafe(Out.Bytes, 10, "abcdef", 3), 3);
    EXPECT_STREQ(Out.Bytes, "abc");
    Guarded Small;
    EXPECT_EQ(String_CopyLengthSafe(Small.Bytes, 3, "abcdef", 5), 2);
    EXPECT_STREQ(Small.Bytes, "ab");
    EXPECT_TRUE(Small.GuardIntact(3));
    EXPECT_EQ(String_CopyLengthSafe(Out.Bytes, 10, "ab", 8), 2);
    EXPECT_STREQ(Out.Bytes, "ab");
    EXPECT_EQ(String_CopyLengthSafe(Out.Bytes, 10, "ab", -1), 0);
    EXPECT_STREQ(Out.Bytes, "");
    // The source need not be terminated within count bytes.
    const char Raw[3] = {'x', 'y', 'z'};
    EXPECT_EQ(String_CopyLengthSafe(Out.Bytes, 10, Raw, 3), 3);
    EXPECT_STREQ(Out.Bytes, "xyz");
}

TEST_F(StringTest, CopyUntilStopsAtSetOrControlByte) {
    char Out[32];
    EXPECT_EQ(String_CopyUntilChar(Out, "key=value;x", "=;"), 3);
    EXPECT_STREQ(Out, "key");
    EXPECT_EQ(String_CopyUntilChar(Out, "plain", "=;"), 5);
    EXPECT_EQ(String_CopyUntilCharLength(Out, "key=value", ";", 4), 3);
    EXPECT_STREQ(Out, "key");
    EXPECT_EQ(String_CopyUntilControl(Out, "line\x1fmore"), 4);
    // Bytes of 128 and above are UTF-8, not control bytes.
    EXPECT_EQ(String_CopyUntilControl(Out, "caf\xc3\xa9\r\n"), 5);
    EXPECT_STREQ(Out, "caf\xc3\xa9");
    EXPECT_EQ(String_CopyUntilControlLength(Out, "abcdef\n", 3), 2);
    EXPECT_STREQ(Out, "ab");
}

// ---- In-place edits ----

TEST_F(StringTest, CaseChangesTouchAsciiOnly) {
    char Text[] = "aZ\xc3\xa9\xc3\x89@[`{";
    String_Upper(Text);
    EXPECT_STREQ(Text, "AZ\xc3\xa9\xc3\x89@[`{");
    String_Lower(Text);
    EXPECT_STREQ(Text, "az\xc3\xa9\xc3\x89@[`{");
    char Reverse[] = "abcd";
    String_Reverse(Reverse);
    EXPECT_STREQ(Reverse, "dcba");
}

TEST_F(StringTest, TrimFamily) {
    char A[] = "  a b\r\n";
    String_TrimWhitespace(A);
    EXPECT_STREQ(A, "a b");
    char B[] = "x  ";
    String_TrimRightChars(B, " ");
    EXPECT_STREQ(B, "x");
    char C[] = "--a-b--";
    String_TrimChar(C, '-');
    EXPECT_STREQ(C, "a-b");
    char D[] = "xxyx";
    String_TrimLeftChar(D, 'x');
    EXPECT_STREQ(D, "yx");
    char E[] = "yxx";
    String_TrimRightChar(E, 'x');
    EXPECT_STREQ(E, "y");
    char F[] = " \tz";
    String_TrimLeftChars(F, "");
    EXPECT_STREQ(F, " \tz");
    String_TrimLeftChars(F, "\t ");
    EXPECT_STREQ(F, "z");
    char G[] = "  ";
    String_TrimWhitespace(G);
    EXPECT_STREQ(G, "");
}

TEST_F(StringTest, TrimRightCharsLengthKeepsTheFirstByte) {
    char A[] = "   ";
    int32 NewLength = -1;
    String_TrimRightCharsLength(A, " ", 3, &NewLength);
    EXPECT_STREQ(A, " ");
    EXPECT_EQ(NewLength, 1);
    char B[] = "ab  cd";
    String_TrimRightCharsLength(B, " ", 4, &NewLength);
    EXPECT_STREQ(B, "ab");
    EXPECT_EQ(NewLength, 2);
    char C[] = " ";
    String_TrimRightCharsLength(C, " ", 1, &NewLength);
    EXPECT_STREQ(C, " ");
    EXPECT_EQ(NewLength, 1);
    String_TrimRightCharsLength(B, " ", 2, nullptr);
    EXPECT_STREQ(B, "ab");
}

TEST_F(StringTest, StripKeepsPrintableAsciiOnly) {
    char Text[] = " a b\tc\x7f\xc3\xa9" "d\x01~!";
    String_Strip(Text, Text);
    EXPECT_STREQ(Text, "abcd~!");
    char Out[8];
    String_Strip(Out, "");
    EXPECT_STREQ(Out, "");
}

TEST_F(StringTest, StripCharCopiesTheByteAfterARemovedOne) {
    struct {
        const char *Text, *Expected;
    } Cases[] = {{"aab", "ab"}, {"abab", "bb"}, {"ba", "b"}, {"aaaa", "aa"}, {"xyz", "xyz"}, {"", ""}};
    for (auto &Case : Cases) {
        char Text[16];
        strcpy(Text, Case.Text);
        String_StripChar(Text, 'a');
        EXPECT_STREQ(Text, Case.Expected) << Case.Text;
    }
}

TEST_F(StringTest, ShiftLeftAndRight) {
    char Text[8] = "abc";
    EXPECT_EQ(String_ShiftLeft(Text, 0), 1);
    EXPECT_EQ(String_ShiftLeft(Text, 4), 0);
    EXPECT_STREQ(Text, "abc");
    EXPECT_EQ(String_ShiftLeft(Text, 1), 1);
    EXPECT_STREQ(Text, "bc");
    EXPECT_EQ(String_ShiftLeft(Text, 2), 1);
    EXPECT_STREQ(Text, "");

    Guarded Right("abc");
    EXPECT_EQ(String_ShiftRight(Right.Bytes, 6, 2), 1);
    EXPECT_STREQ(Right.Bytes, "  abc");
    EXPECT_TRUE(Right.GuardIntact(6));
    // Length 5 + 1 reaches the size 6: refused, text unchanged.
    EXPECT_EQ(String_ShiftRight(Right.Bytes, 6, 1), 0);
    EXPECT_STREQ(Right.Bytes, "  abc");
    EXPECT_EQ(String_ShiftRight(Right.Bytes, 6, -1), 1);
}

TEST_F(StringTest, ReplaceCharAndCount) {
    char Text[] = "a.b.c";
    String_ReplaceChar('.', '/', Text);
    EXPECT_STREQ(Text, "a/b/c");
    EXPECT_EQ(String_CountChar(Text, '/'), 2);
    EXPECT_EQ(String_CountChar(Text, 0), 0);
    EXPECT_EQ(String_CountChar(nullptr, 'a'), 0);
}

TEST_F(StringTest, ReplaceLengthWidensNarrowsAndRespectsTheSize) {
    char Text[32] = "a{x}b{x}";
    EXPECT_EQ(String_ReplaceLength("{x}", "yy", Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "ayybyy");

    char Wide[32] = "a{x}b{x}";
    EXPECT_EQ(String_ReplaceLength("{x}", "12345", Wide, sizeof(Wide)), 1);
    EXPECT_STREQ(Wide, "a12345b12345");

    // The replacement is never searched again.
    char Loop[32] = "aa";
    EXPECT_EQ(String_ReplaceLength("a", "aa", Loop, sizeof(Loop)), 1);
    EXPECT_STREQ(Loop, "aaaa");

    // First widening fits (length 9 in 10 bytes), the second does not.
    Guarded Tight("{x}b{x}");
    EXPECT_EQ(String_ReplaceLength("{x}", "12345", Tight.Bytes, 10), 0);
    EXPECT_STREQ(Tight.Bytes, "12345b{x}");
    EXPECT_TRUE(Tight.GuardIntact(10));

    char Escaped[32] = "\\{x}{x}";
    EXPECT_EQ(String_ReplaceLengthEx("{x}", "Q", '\\', Escaped, sizeof(Escaped)), 1);
    EXPECT_STREQ(Escaped, "\\{x}Q");

    char Remove[32] = "a--b--";
    EXPECT_EQ(String_ReplaceLength("--", "", Remove, sizeof(Remove)), 1);
    EXPECT_STREQ(Remove, "ab");

    char Empty[8] = "";
    EXPECT_EQ(String_ReplaceLength("x", "y", Empty, sizeof(Empty)), 0);
    EXPECT_EQ(String_ReplaceLength("", "y", Text, sizeof(Text)), 0);
}

// ---- Comparison ----

TEST_F(StringTest, CompareReturnsAndEquality) {
    EXPECT_EQ(String_Compare("abc", "abc"), 1);
    EXPECT_EQ(String_Compare("abc", "abd"), 0);
    EXPECT_EQ(String_CompareWithoutCase("HeLLo", "hello"), 1);
    EXPECT_EQ(String_CompareWithoutCase("hello", "hell"), 0);
    EXPECT_EQ(String_CompareReturn("a", "ab"), -'b');
    EXPECT_EQ(String_CompareReturn("abc", "abc"), 0);
    EXPECT_GT(String_CompareReturn("\xff", "a"), 0);  // bytes compare unsigned
    EXPECT_EQ(String_CompareWithoutCaseReturn("abc", "ABD"), -1);
    EXPECT_EQ(String_CompareWithoutCaseReturn("ABD", "abc"), 1);
    EXPECT_EQ(String_CompareWithoutCaseReturn("abc", "ABC"), 0);
    EXPECT_EQ(String_CompareWithoutCaseReturn("ab", "abc"), -1);
    EXPECT_EQ(String_CompareWithoutCaseReturn("abc", "ab"), 1);
}

TEST_F(StringTest, CaseLessComparisonFoldsAsciiLettersOnly) {
    // Folding by "| 0x20" would make these pairs equal.
    EXPECT_EQ(String_CompareWithoutCase("@", "`"), 0);
    EXPECT_EQ(String_CompareWithoutCase("[", "{"), 0);
    EXPECT_EQ(String_CompareWithoutCase("\xc3\x89", "\xc3\xa9"), 0);  // É, é
    EXPECT_EQ(String_CompareWithoutCase("\xc0", "\xe0"), 0);
    for (int Byte = 1; Byte < 256; Byte++) {
        for (int Other = 1; Other < 256; Other++) {
            char A[2] = {(char)Byte, 0}, B[2] = {(char)Other, 0};
            bool Expected = Byte == Other || (isalpha(Byte) && Byte < 128 && tolower(Byte) == tolower(Other) && Other < 128);
            ASSERT_EQ(String_CompareWithoutCase(A, B), Expected ? 1 : 0) << Byte << " " << Other;
        }
    }
}

TEST_F(StringTest, CompareLengthAndBeginning) {
    EXPECT_EQ(String_CompareLength("abcdef", "abcxyz", 3), 1);
    EXPECT_EQ(String_CompareLength("abcdef", "abcxyz", 4), 0);
    EXPECT_EQ(String_CompareLength("ab", "ab", 10), 1);
    EXPECT_EQ(String_CompareLength("ab", "abc", 10), 0);
    EXPECT_EQ(String_CompareLength("x", "y", 0), 1);
    EXPECT_EQ(String_CompareLengthWithoutCase("ABcd", "abCX", 3), 1);
    EXPECT_EQ(String_CompareLengthWithoutCase("ab", "AB", 10), 1);
    EXPECT_EQ(String_CompareLengthWithoutCase("ab", "ABC", 10), 0);
    EXPECT_EQ(String_CompareBeginning("filename", "file"), 1);
    EXPECT_EQ(String_CompareBeginning("fi", "file"), 0);
    EXPECT_EQ(String_CompareBeginning("anything", ""), 1);
    EXPECT_EQ(String_CompareBeginningWithoutCase("FileName", "fILE"), 1);
}

TEST_F(StringTest, CompareEndingNeedsTheWholeSuffix) {
    struct {
        const char *Text, *Suffix;
        int32 Expected;
    } Cases[] = {
        {"file.txt", ".txt", 1}, {"file.doc", ".txt", 0}, {"xt", ".txt", 0},
        {"e.com", ".example.com", 0}, {"www.example.com", ".example.com", 1},
        {"", ".txt", 0}, {"", "", 1}, {"abc", "", 1}, {".txt", ".txt", 1},
    };
    for (auto &Case : Cases) {
        EXPECT_EQ(String_CompareEnding(Case.Text, Case.Suffix), Case.Expected) << Case.Text << " " << Case.Suffix;
        EXPECT_EQ(String_CompareEndingWithoutCase(Case.Text, Case.Suffix), Case.Expected) << Case.Text;
    }
    EXPECT_EQ(String_CompareEndingWithoutCase("FILE.TXT", ".txt"), 1);
    EXPECT_EQ(String_CompareEnding("FILE.TXT", ".txt"), 0);
}

TEST_F(StringTest, CompareIgnoreSkipsSetBytesInBoth) {
    EXPECT_EQ(String_CompareIgnore("a-b--c", "--ab-c-", "-", 0), 1);
    EXPECT_EQ(String_CompareIgnore("a b", "AB", " ", 1), 1);
    EXPECT_EQ(String_CompareIgnore("a b", "AB", " ", 0), 0);
    EXPECT_EQ(String_CompareIgnore("abc", "ab", "", 0), 0);
    EXPECT_EQ(String_CompareIgnore("", "---", "-", 0), 1);
}

// ---- Search ----

TEST_F(StringTest, FindCharacters) {
    const char *Text = "a,b;c,d";
    const char *Position = Text;
    EXPECT_EQ(String_FindChar(Text, ',', &Position), 1);
    EXPECT_EQ(Position, Text + 1);
    EXPECT_EQ(String_FindChar(Text, 'x', &Position), 0);
    EXPECT_EQ(Position, nullptr);
    EXPECT_EQ(String_FindChar(Text, 0, &Position), 0);
    EXPECT_EQ(String_ContainsChar(Text, ';'), 1);
    EXPECT_EQ(String_FindCharLength(Text, 1, ',', &Position), 0);
    EXPECT_EQ(String_FindCharLength(Text, 2, ',', &Position), 1);
    EXPECT_EQ(String_FindCharLength("ab", 100, 'z', &Position), 0);  // stops at the terminator
    EXPECT_EQ(String_FindCharReverse(Text, ',', &Position), 1);
    EXPECT_EQ(Position, Text + 5);
    EXPECT_EQ(String_FindCharReverse(Text, 0, &Position), 1);
    EXPECT_EQ(Position, Text + 7);
    EXPECT_EQ(String_FindFirstChar(Text, ";,", &Position), 1);
    EXPECT_EQ(Position, Text + 1);
    EXPECT_EQ(String_FindFirstCharLength(Text, 3, ";", &Position), 0);
    EXPECT_EQ(String_FindFirstCharLength(Text, 4, ";", &Position), 1);
    EXPECT_EQ(Position, Text + 3);
    EXPECT_EQ(String_FindFirstCharReverse(Text, ";b", &Position), 1);
    EXPECT_EQ(Position, Text + 3);
    EXPECT_EQ(String_FindFirstChar(Text, "", &Position), 0);

    // A writable text gives a writable position.
    char Buffer[] = "k=v";
    char *Equals = nullptr;
    ASSERT_EQ(String_FindChar(Buffer, '=', &Equals), 1);
    *Equals = 0;
    EXPECT_STREQ(Buffer, "k");
}

TEST_F(StringTest, FindStrings) {
    const char *Text = "one Two one two";
    const char *Position = nullptr;
    EXPECT_EQ(String_FindString(Text, "one", &Position), 1);
    EXPECT_EQ(Position, Text);
    EXPECT_EQ(String_FindString(Text, "two", &Position), 1);
    EXPECT_EQ(Position, Text + 12);
    EXPECT_EQ(String_FindStringWithoutCase(Text, "TWO", &Position), 1);
    EXPECT_EQ(Position, Text + 4);
    EXPECT_EQ(String_ContainsStringWithoutCase(Text, "ONE T"), 1);
    EXPECT_EQ(String_ContainsString(Text, "three"), 0);
    EXPECT_EQ(String_ContainsString("", ""), 0);
    EXPECT_EQ(String_FindString(Text, "", &Position), 1);
    EXPECT_EQ(Position, Text);
    EXPECT_EQ(String_ContainsString("ab", "abc"), 0);

    EXPECT_EQ(String_FindStringLength(Text, 6, "Two", &Position), 0);
    EXPECT_EQ(String_FindStringLength(Text, 7, "Two", &Position), 1);
    EXPECT_EQ(Position, Text + 4);
    EXPECT_EQ(String_FindStringLength(Text, 2, "one", &Position), 0);

    EXPECT_EQ(String_FindStringReverse(Text, "one", &Position), 1);
    EXPECT_EQ(Position, Text + 8);
    EXPECT_EQ(String_FindStringReverseWithoutCase(Text, "TWO", &Position), 1);
    EXPECT_EQ(Position, Text + 12);
    EXPECT_EQ(String_FindStringReverse(Text, "", &Position), 1);
    EXPECT_EQ(Position, Text + strlen(Text));
    EXPECT_EQ(String_FindStringReverse("ab", "abc", &Position), 0);
    EXPECT_EQ(Position, nullptr);
    EXPECT_EQ(String_FindStringReverse("aaa", "aa", &Position), 1);
}

TEST_F(StringTest, FindStringAgreesWithStdOnGeneratedTexts) {
    std::mt19937 Random(7);
    for (int Round = 0; Round < 3000; Round++) {
        std::string Text, Sub;
        for (int Index = Random() % 12; Index > 0; Index--) Text += "abA"[Random() % 3];
        for (int Index = 1 + Random() % 3; Index > 0; Index--) Sub += "abA"[Random() % 3];
        const char *Position = nullptr;
        size_t Forward = Text.find(Sub), Backward = Text.rfind(Sub);
        EXPECT_EQ(String_FindString(Text.c_str(), Sub.c_str(), &Position), Forward != std::string::npos);
        if (Forward != std::string::npos) {
            EXPECT_EQ(Position, Text.c_str() + Forward);
        }
        EXPECT_EQ(String_FindStringReverse(Text.c_str(), Sub.c_str(), &Position), Backward != std::string::npos);
        if (Backward != std::string::npos) {
            EXPECT_EQ(Position, Text.c_str() + Backward);
        }
    }
}

// ---- Lists and lines ----

TEST_F(StringTest, ListGetMember) {
    char Out[16];
    EXPECT_EQ(String_ListGetMember("a, b,c", ',', 1, 1, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "b");
    EXPECT_EQ(String_ListGetMember("a, b,c", ',', 1, 3, Out, sizeof(Out)), 0);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(String_ListGetMember("a, b ,c", ',', 0, 1, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, " b ");
    EXPECT_EQ(String_ListGetMember("a,, c\t", ',', 1, 2, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "c");
    EXPECT_EQ(String_ListGetMember("a,,c", ',', 1, 1, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(String_ListGetMember("first,longmember", ',', 1, 1, Out, 5), 0);
    EXPECT_STREQ(Out, "long");
    EXPECT_EQ(String_ListGetMember("x,abcd   ", ',', 1, 1, Out, 5), 1);
    EXPECT_STREQ(Out, "abcd");
    EXPECT_EQ(String_ListGetMember(nullptr, ',', 1, 0, Out, sizeof(Out)), 0);
    EXPECT_EQ(String_ListGetMember("a", ',', 1, -1, Out, sizeof(Out)), 0);
}

TEST_F(StringTest, ListContainsMember) {
    EXPECT_EQ(String_ListContainsMember("gzip, deflate ,br", ',', "deflate"), 1);
    EXPECT_EQ(String_ListContainsMember("gzip, deflate ,br", ',', "br"), 1);
    EXPECT_EQ(String_ListContainsMember("gzip, deflate ,br", ',', "Deflate"), 0);
    EXPECT_EQ(String_ListContainsMember("gzip, deflate ,br", ',', "def"), 0);
    EXPECT_EQ(String_ListContainsMember("a b", ' ', "b"), 1);
    EXPECT_EQ(String_ListContainsMember("", ',', ""), 1);
}

TEST_F(StringTest, LineGetNext) {
    const char Buffer[] = "ab\r\ncd";
    char Line[16];
    int32 Consumed = -1;
    EXPECT_EQ(String_LineGetNext(Buffer, 6, Line, sizeof(Line), &Consumed), 1);
    EXPECT_STREQ(Line, "ab");
    EXPECT_EQ(Consumed, 4);
    EXPECT_EQ(String_LineGetNext(Buffer + 4, 2, Line, sizeof(Line), &Consumed), 1);
    EXPECT_STREQ(Line, "cd");
    EXPECT_EQ(Consumed, 2);

    Guarded Short;
    EXPECT_EQ(String_LineGetNext("abcdef\nx", 8, Short.Bytes, 4, &Consumed), 1);
    EXPECT_STREQ(Short.Bytes, "abc");
    EXPECT_EQ(Consumed, 7);
    EXPECT_TRUE(Short.GuardIntact(4));

    EXPECT_EQ(String_LineGetNext("\n", 1, Line, sizeof(Line), &Consumed), 1);
    EXPECT_STREQ(Line, "");
    EXPECT_EQ(Consumed, 1);
    EXPECT_EQ(String_LineGetNext("a\rb", 3, Line, sizeof(Line), nullptr), 1);
    EXPECT_STREQ(Line, "a\rb");
    EXPECT_EQ(String_LineGetNext("abc", 0, Line, sizeof(Line), &Consumed), 0);
    EXPECT_EQ(Consumed, 0);
    EXPECT_EQ(String_LineGetNext("abc", 3, Line, 0, &Consumed), 0);
    // The length bounds the search: the LF behind it is not seen.
    EXPECT_EQ(String_LineGetNext("ab\ncd", 2, Line, sizeof(Line), &Consumed), 1);
    EXPECT_STREQ(Line, "ab");
    EXPECT_EQ(Consumed, 2);
}

// ---- Wildcards ----

TEST_F(StringTest, WildcardRules) {
    struct {
        const char *Text, *Pattern;
        int32 Expected;
    } Cases[] = {
        {"a.txt", "*.txt", 1}, {"a.txt.bak", "*.txt", 0}, {"abbc", "a*c", 1}, {"ac", "a*c", 1},
        {"abc", "a?c", 0},     {"a?c", "a?c", 1},         {"*x", "\\*x", 1}, {"yx", "\\*x", 0},
        {"", "", 1},           {"", "*", 1},              {"", "**", 1},     {"a", "", 0},
        {"", "a", 0},          {"abc", "*", 1},           {"\\x", "\\x", 1}, {"a\\b", "a\\b", 1},
        {"abc", "abc*", 1},    {"abcd", "a*b*c*d", 1},    {"abcd", "a*d*", 1}, {"abd", "a*c*", 0},
        {"x*y", "x\\*y", 1},   {"xzy", "x\\*y", 0},       {"mississippi", "*sip*", 1},
    };
    for (auto &Case : Cases)
        EXPECT_EQ(String_CompareWildcard(Case.Text, Case.Pattern), Case.Expected)
            << "'" << Case.Text << "' '" << Case.Pattern << "'";
    EXPECT_EQ(String_CompareWildcardWithoutCase("FILE.TXT", "*.txt"), 1);
    EXPECT_EQ(String_CompareWildcard("FILE.TXT", "*.txt"), 0);
    EXPECT_EQ(String_CompareWildcardWithoutCase("@", "`"), 0);
    EXPECT_EQ(String_CompareWildcardInt("a.txt", "*.txt;*.doc", ';', 0), 1);
    EXPECT_EQ(String_CompareWildcardInt("a.txt", "a;", ';', 0), 0);
}

TEST_F(StringTest, WildcardLists) {
    EXPECT_EQ(String_CompareWildcardList("a.txt", "*.doc; *.txt"), 1);
    EXPECT_EQ(String_CompareWildcardList("a.doc", "*.doc; *.txt"), 1);
    EXPECT_EQ(String_CompareWildcardList("a.pdf", "*.doc; *.txt"), 0);
    EXPECT_EQ(String_CompareWildcardList("anything", "*"), 1);
    EXPECT_EQ(String_CompareWildcardList("", "*"), 1);
    EXPECT_EQ(String_CompareWildcardList("anything", ""), 0);
    EXPECT_EQ(String_CompareWildcardList("", ""), 0);
    // Blanks in front of a ";" belong to the member.
    EXPECT_EQ(String_CompareWildcardList("a", "a ;b"), 0);
    EXPECT_EQ(String_CompareWildcardList("a ", "a ;b"), 1);
    EXPECT_EQ(String_CompareWildcardList("b", "a ;   b"), 1);
    EXPECT_EQ(String_CompareWildcardList("", "a;"), 1);
    EXPECT_EQ(String_CompareWildcardList("a;b", "a;b"), 0);
    EXPECT_EQ(String_CompareWildcardListWithoutCase("A.TXT", "*.doc;*.txt"), 1);
    EXPECT_EQ(String_CompareWildcardList("A.TXT", "*.doc;*.txt"), 0);
}

TEST_F(StringTest, WildcardUtf16) {
    auto Units = [](const char *Text) {
        std::vector<uint16> Result;
        for (; *Text; Text++) Result.push_back((uint8)*Text);
        Result.push_back(0);
        return Result;
    };
    EXPECT_EQ(StringUtf16_CompareWildcard(Units("a.txt").data(), Units("*.txt").data()), 1);
    EXPECT_EQ(StringUtf16_CompareWildcard(Units("A.txt").data(), Units("a*").data()), 0);
    EXPECT_EQ(StringUtf16_CompareWildcardWithoutCase(Units("A.TXT").data(), Units("a*.txt").data()), 1);
    // No escape in the UTF-16 form: the backslash is a literal.
    EXPECT_EQ(StringUtf16_CompareWildcard(Units("\\yx").data(), Units("\\*x").data()), 1);
    // Units above 0xFF compare as themselves; case folding stays ASCII.
    std::vector<uint16> Text = {0x0130, 'x', 0}, Lower = {0x0069, '*', 0}, Same = {0x0130, '*', 0};
    EXPECT_EQ(StringUtf16_CompareWildcardWithoutCase(Text.data(), Lower.data()), 0);
    EXPECT_EQ(StringUtf16_CompareWildcard(Text.data(), Same.data()), 1);
}

TEST_F(StringTest, WildcardAgreesWithFnmatch) {
    std::mt19937 Random(20240611);
    std::vector<std::pair<std::string, std::string>> Cases;
    std::string Input;
    for (int Round = 0; Round < 4000; Round++) {
        std::string Text, Pattern;
        for (int Index = Random() % 10; Index > 0; Index--) Text += "abAB."[Random() % 5];
        for (int Index = Random() % 8; Index > 0; Index--) Pattern += "abAB.**"[Random() % 7];
        // Now and then a pattern built from the text, so that matches are common.
        if (Round % 3 == 0 && !Text.empty()) {
            Pattern = Text;
            for (int Stars = 1 + Random() % 3; Stars > 0; Stars--) {
                size_t At = Random() % (Pattern.size() + 1);
                size_t Cut = Random() % 3;
                Pattern.replace(At, std::min(Cut, Pattern.size() - At), "*");
            }
        }
        Cases.push_back({Text, Pattern});
        Input += "[" + Text + "][" + Pattern + "]\n";
    }
    std::string Output = RunPython(
        "import sys, fnmatch\n"
        "for line in sys.stdin:\n"
        "    t, p = line.rstrip('\\n')[1:-1].split('][')\n"
        "    a = fnmatch.fnmatchcase(t, p)\n"
        "    b = fnmatch.fnmatchcase(t.lower(), p.lower())\n"
        "    print(int(a), int(b))\n",
        Input);
    std::istringstream Lines(Output);
    int Matches = 0;
    for (auto &[Text, Pattern] : Cases) {
        int Expected = -1, ExpectedWithoutCase = -1;
        Lines >> Expected >> ExpectedWithoutCase;
        ASSERT_NE(Expected, -1) << "missing reference output";
        EXPECT_EQ(String_CompareWildcard(Text.c_str(), Pattern.c_str()), Expected)
            << "'" << Text << "' '" << Pattern << "'";
        EXPECT_EQ(String_CompareWildcardWithoutCase(Text.c_str(), Pattern.c_str()), ExpectedWithoutCase)
            << "'" << Text << "' '" << Pattern << "'";
        Matches += Expected;
    }
    EXPECT_GT(Matches, 500);  // the generator exercises both answers
}

TEST_F(StringTest, WildcardPathologicalPatternsFinishFast) {
    std::string Text(20000, 'a');
    std::string Pattern;
    for (int Index = 0; Index < 200; Index++) Pattern += "*a";
    Pattern += "*b";
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(String_CompareWildcard(Text.c_str(), Pattern.c_str()), 0);
    EXPECT_EQ(String_CompareWildcardWithoutCase(Text.c_str(), Pattern.c_str()), 0);
    std::string ListPattern = Pattern + ";" + Pattern;
    EXPECT_EQ(String_CompareWildcardList(Text.c_str(), ListPattern.c_str()), 0);
    Text += "b";
    EXPECT_EQ(String_CompareWildcard(Text.c_str(), Pattern.c_str()), 1);
    std::vector<uint16> Wide(Text.begin(), Text.end()), WidePattern(Pattern.begin(), Pattern.end());
    Wide.back() = 'c';
    Wide.push_back(0);
    WidePattern.push_back(0);
    EXPECT_EQ(StringUtf16_CompareWildcard(Wide.data(), WidePattern.data()), 0);
    double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    // Backtracking over every tail would not finish at all; greedy takes ms.
    EXPECT_LT(Seconds, 5.0);
}

// ---- Fatal stops ----

TEST_F(StringTest, MissingPointersAreFatalStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char Out[8];
    EXPECT_EXIT(String_CopyLength(Out, nullptr, 8), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(String_Compare(nullptr, "a"), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(String_CompareWildcard("a", nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

}  // namespace
