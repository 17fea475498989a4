// Number and text conversions: integer and float readers against Python's
// int() and glibc's strtod, grouped numbers against format(x, ",.Nf"), IPv4
// texts against the ipaddress module, hex, metric sizes, tokens and GUIDs.
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/text/string.h"
#include "runtime/text/string_internal.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class StringNumberTest : public RuntimeTest {};

// ---- Integers ----

TEST_F(StringNumberTest, AtoI64Rules) {
    EXPECT_EQ(String_AtoI64("-42x"), -42);
    EXPECT_EQ(String_AtoI64("0x1F"), 31);
    EXPECT_EQ(String_AtoI64("0X1f"), 31);
    EXPECT_EQ(String_AtoI64("-0x10"), 16);  // a hex value keeps no sign
    EXPECT_EQ(String_AtoI64("+7"), 7);
    EXPECT_EQ(String_AtoI64(""), 0);
    EXPECT_EQ(String_AtoI64(nullptr), 0);
    EXPECT_EQ(String_AtoI64("abc"), 0);
    EXPECT_EQ(String_AtoI64(" 5"), 0);
    EXPECT_EQ(String_AtoI64("0x"), 0);
    EXPECT_EQ(String_AtoI64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(String_AtoI64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(String_AtoI64("9223372036854775808"), INT64_MIN);  // wraps
    EXPECT_EQ(String_AtoI64("0xFFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(String_AtoU64("-5"), 0u);
    EXPECT_EQ(String_AtoU64("+5"), 5u);
    EXPECT_EQ(String_AtoU64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(String_AtoU64("0xff"), 255u);
    EXPECT_EQ(String_AtoU64(nullptr), 0u);
    EXPECT_EQ(String_AtoI("4294967297"), 1);
    EXPECT_EQ(String_AtoI("-1"), -1);
    EXPECT_EQ(String_AtoU("4294967295"), 4294967295u);
    EXPECT_EQ(String_AtoP("0x7fff0000"), (uintptr)0x7fff0000);
}

TEST_F(StringNumberTest, AtoI64AgreesWithPythonIntWrapped) {
    std::mt19937_64 Random(99);
    std::vector<std::string> Texts;
    std::string Input;
    for (int Round = 0; Round < 3000; Round++) {
        std::string Text;
        int Sign = Random() % 3;
        if (Sign == 1) Text += '-';
        if (Sign == 2) Text += '+';
        bool Hex = Random() % 4 == 0;
        if (Hex) Text += Random() % 2 ? "0x" : "0X";
        const char *Digits = Hex ? "0123456789abcdefABCDEF" : "0123456789";
        int Count = Random() % 26;
        for (int Index = 0; Index < Count; Index++) Text += Digits[Random() % strlen(Digits)];
        if (Random() % 3 == 0) Text += "z9";
        Texts.push_back(Text);
        Input += Text + "\n";
    }
    std::string Output = RunPython(
        "import sys, re\n"
        "for line in sys.stdin:\n"
        "    t = line.rstrip('\\n')\n"
        "    m = re.match(r'([+-]?)(0[xX])([0-9a-fA-F]*)', t)\n"
        "    if m:\n"
        "        v = int(m.group(3) or '0', 16)\n"
        "    else:\n"
        "        m = re.match(r'([+-]?)([0-9]*)', t)\n"
        "        v = int(m.group(2) or '0') * (-1 if m.group(1) == '-' else 1)\n"
        "    v %= 2**64\n"
        "    print(v - 2**64 if v >= 2**63 else v)\n",
        Input);
    std::istringstream Lines(Output);
    for (auto &Text : Texts) {
        long long Expected = 0;
        ASSERT_TRUE(Lines >> Expected) << "missing reference output";
        EXPECT_EQ(String_AtoI64(Text.c_str()), (int64)Expected) << Text;
    }
}

TEST_F(StringNumberTest, HexInternalAndIsNumeric) {
    uint64 Value = 99;
    EXPECT_EQ(String_ConvertToHexInternal("0x", &Value), 1);
    EXPECT_EQ(Value, 0u);
    EXPECT_EQ(String_ConvertToHexInternal("0xBeEf!", &Value), 1);
    EXPECT_EQ(Value, 0xbeefu);
    EXPECT_EQ(String_ConvertToHexInternal("12", &Value), 0);
    EXPECT_EQ(Value, 0u);
    EXPECT_EQ(String_ConvertToHexInternal("-0x1", &Value), 0);

    EXPECT_EQ(String_IsNumeric("12.5"), 1);
    EXPECT_EQ(String_IsNumeric("-1.2.3"), 1);
    EXPECT_EQ(String_IsNumeric(""), 1);
    EXPECT_EQ(String_IsNumeric("-"), 1);
    EXPECT_EQ(String_IsNumeric("--1"), 0);
    EXPECT_EQ(String_IsNumeric("+1"), 0);
    EXPECT_EQ(String_IsNumeric("1e5"), 0);
    EXPECT_EQ(String_IsNumeric("1 "), 0);
}

// ---- Floating point ----

TEST_F(StringNumberTest, AtoFRules) {
    EXPECT_EQ(String_AtoF("1.5e3"), 1500.0);
    EXPECT_EQ(String_AtoF("-2.5"), -2.5);
    EXPECT_EQ(String_AtoF("1e-2"), 0.01);
    EXPECT_EQ(String_AtoF("0.5"), 0.5);
    EXPECT_EQ(String_AtoF("1500"), 1500.0);
    EXPECT_EQ(String_AtoF("+1"), 0.0);
    EXPECT_EQ(String_AtoF(nullptr), 0.0);
    EXPECT_EQ(String_AtoF(""), 0.0);
    EXPECT_EQ(String_AtoF("0x10"), 16.0);
    EXPECT_EQ(String_AtoF("-0x10"), 16.0);
    EXPECT_EQ(String_AtoF("1.2.3"), 12.3);  // the last dot places the point
    EXPECT_EQ(String_AtoF("1e+2"), 100.0);
    EXPECT_EQ(String_AtoF("1E2"), 100.0);
    EXPECT_EQ(String_AtoF("1e0x2"), 100.0);  // the exponent is a number text itself
    EXPECT_EQ(String_AtoF("2e1e1"), 2e10);
    EXPECT_DOUBLE_EQ(String_AtoF("1e0.5"), sqrt(10.0));
    EXPECT_EQ(String_AtoF(".5"), 0.5);
    EXPECT_EQ(String_AtoF("5."), 5.0);
    EXPECT_EQ(String_AtoF("12abc"), 12.0);
    EXPECT_TRUE(isinf(String_AtoF("1e400")));
    EXPECT_EQ(String_AtoF("1e-400"), 0.0);
    EXPECT_EQ(String_AtoF("0.000e999999999999"), 0.0);
    EXPECT_TRUE(signbit(String_AtoF("-0")));
    // A long chain of exponents is read without deep recursion.
    std::string Chain = "1" + std::string(200000, 'e');
    EXPECT_EQ(String_AtoF(Chain.c_str()), 1.0);
}

// Distance in units in the last place between two finite doubles.
int64 UlpDistance(double A, double B) {
    int64 X, Y;
    memcpy(&X, &A, 8);
    memcpy(&Y, &B, 8);
    if (X < 0) X = INT64_MIN - X;
    if (Y < 0) Y = INT64_MIN - Y;
    return X > Y ? X - Y : Y - X;
}

TEST_F(StringNumberTest, AtoFAgreesWithStrtod) {
    std::mt19937_64 Random(5);
    for (int Round = 0; Round < 20000; Round++) {
        std::string Text;
        if (Random() % 2) Text += '-';
        for (int Index = 1 + Random() % 20; Index > 0; Index--) Text += (char)('0' + Random() % 10);
        if (Random() % 2) {
            Text += '.';
            for (int Index = Random() % 20; Index > 0; Index--) Text += (char)('0' + Random() % 10);
        }
        if (Random() % 2) {
            Text += Random() % 2 ? 'e' : 'E';
            if (Random() % 3 == 0) Text += '-';
            Text += std::to_string(Random() % 330);
        }
        double Expected = strtod(Text.c_str(), nullptr);
        double Actual = String_AtoF(Text.c_str());
        if (isinf(Expected) || Expected == 0) {
            EXPECT_EQ(Actual, Expected) << Text;
            continue;
        }
        EXPECT_LE(UlpDistance(Actual, Expected), 2) << Text;
    }
}

// ---- Hex and bytes ----

TEST_F(StringNumberTest, ConvertToHex) {
    const uint8 Bytes[] = {0x01, 0xAB};
    char Out[8];
    memset(Out, 'Z', sizeof(Out));
    EXPECT_EQ(String_ConvertToHex(Bytes, 2, 0, Out, 5), 1);
    EXPECT_STREQ(Out, "01AB");
    memset(Out, 'Z', sizeof(Out));
    EXPECT_EQ(String_ConvertToHex(Bytes, 2, 0, Out, 4), 0);
    EXPECT_STREQ(Out, "01");
    EXPECT_EQ(Out[4], 'Z');
    EXPECT_EQ(String_ConvertToHex(Bytes, 2, 1, Out, 8), 1);
    EXPECT_STREQ(Out, "01ab");
    EXPECT_EQ(String_ConvertToHex(Bytes, 0, 1, Out, 1), 1);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(String_ConvertToHex(Bytes, 1, 1, Out, 1), 0);
    EXPECT_STREQ(Out, "");

    std::string All;
    for (int Byte = 0; Byte < 256; Byte++) All.push_back((char)Byte);
    char Long[513];
    EXPECT_EQ(String_ConvertToHex(All.data(), 256, 1, Long, sizeof(Long)), 1);
    EXPECT_EQ(std::string(Long), ToHex(All));
}

TEST_F(StringNumberTest, ConvertToHexWithoutRoomIsAFatalStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char Out[4];
    const uint8 Byte = 1;
    EXPECT_EXIT(String_ConvertToHex(&Byte, 1, 1, Out, 0), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(MaxHex > 0\\)\nUnable to null terminate hex string");
}

TEST_F(StringNumberTest, ConvertFromHex) {
    uint8 Out[8];
    int32 Length = -1;
    memset(Out, 0x55, sizeof(Out));
    EXPECT_EQ(String_ConvertFromHex("0x41 42", Out, sizeof(Out), &Length), 0);
    EXPECT_EQ(Out[0], 'A');
    EXPECT_EQ(Out[1], 0);
    EXPECT_EQ(Length, 1);

    memset(Out, 0x55, sizeof(Out));
    EXPECT_EQ(String_ConvertFromHex("4142aB", Out, sizeof(Out), &Length), 1);
    EXPECT_EQ(Length, 3);
    EXPECT_EQ(memcmp(Out, "AB\xab\0", 4), 0);

    EXPECT_EQ(String_ConvertFromHex("414", Out, sizeof(Out), &Length), 0);  // odd digit
    EXPECT_EQ(Length, 1);
    EXPECT_EQ(String_ConvertFromHex("", Out, sizeof(Out), &Length), 1);
    EXPECT_EQ(Length, 0);

    // Output used up: exactly filled, no terminator written behind it.
    memset(Out, 0x55, sizeof(Out));
    EXPECT_EQ(String_ConvertFromHex("41424344", Out, 4, &Length), 1);
    EXPECT_EQ(Length, 4);
    EXPECT_EQ(Out[4], 0x55);
    EXPECT_EQ(String_ConvertFromHex("4142434445", Out, 4, &Length), 0);
    EXPECT_EQ(Length, 4);
    EXPECT_EQ(Out[4], 0x55);

    EXPECT_EQ(String_ConvertFromHexLength("41424344", 4, Out, sizeof(Out), nullptr), 1);
    EXPECT_EQ(memcmp(Out, "AB\0", 3), 0);

    std::string All;
    for (int Byte = 0; Byte < 256; Byte++) All.push_back((char)Byte);
    uint8 Back[256];
    EXPECT_EQ(String_ConvertFromHex(ToHex(All).c_str(), Back, sizeof(Back), &Length), 1);
    EXPECT_EQ(Length, 256);
    EXPECT_EQ(memcmp(Back, All.data(), 256), 0);
}

// ---- IPv4 ----

TEST_F(StringNumberTest, ConvertToIPRules) {
    uint32 Address = 0;
    int32 Port = -1;
    auto Bytes = [&Address]() {
        uint8 Out[4];
        memcpy(Out, &Address, 4);
        return std::to_string(Out[0]) + "." + std::to_string(Out[1]) + "." + std::to_string(Out[2]) + "." +
               std::to_string(Out[3]);
    };
    EXPECT_EQ(String_ConvertToIP("10.1.2.3:8080", &Address, &Port), 1);
    EXPECT_EQ(Bytes(), "10.1.2.3");
    EXPECT_EQ(Port, 8080);
    EXPECT_EQ(String_ConvertToIP("10.1.2", &Address, &Port), 0);
    EXPECT_EQ(String_ConvertToIP("::1", &Address, &Port), 1);
    EXPECT_EQ(Bytes(), "127.0.0.1");
    EXPECT_EQ(Port, 0);
    EXPECT_EQ(String_ConvertToIP("192.168.0.1", &Address, nullptr), 1);
    EXPECT_EQ(Bytes(), "192.168.0.1");
    const char *Rejected[] = {"256.1.1.1", "1.2.3.300", "1.2.3.4.5", "a.b.c.d", "", " 1.2.3.4", "1.2.3.4 ",
                              "1..2.3", "1.2.3.", "+1.2.3.4", "0x1.2.3.4", "1.2.3.4:", "1.2.3.4:65536",
                              "18446744073709551617.1.1.1", "1.2.3.4:x", "-1.2.3.4"};
    for (const char *Text : Rejected) EXPECT_EQ(String_ConvertToIP(Text, &Address, &Port), 0) << Text;
    // Leading zeros are read as decimal.
    EXPECT_EQ(String_ConvertToIP("010.001.000.9:0080", &Address, &Port), 1);
    EXPECT_EQ(Bytes(), "10.1.0.9");
    EXPECT_EQ(Port, 80);
}

TEST_F(StringNumberTest, ConvertToIPAgreesWithIpaddress) {
    std::mt19937 Random(31);
    std::vector<std::string> Texts;
    std::string Input;
    for (int Round = 0; Round < 3000; Round++) {
        std::string Text;
        int Parts = 3 + Random() % 3;
        if (Random() % 5 != 0) Parts = 4;
        for (int Part = 0; Part < Parts; Part++) {
            if (Part) Text += '.';
            int Kind = Random() % 10;
            if (Kind == 0) continue;  // empty part
            int Value = Kind < 7 ? Random() % 256 : Random() % 1200;
            Text += std::to_string(Value);
        }
        if (Random() % 4 == 0) Text += ":" + std::to_string(Random() % 70000);
        if (Random() % 10 == 0) Text.insert(Random() % (Text.size() + 1), 1, " x:/"[Random() % 4]);
        Texts.push_back(Text);
        Input += Text + "\n";
    }
    std::string Output = RunPython(
        "import sys, ipaddress\n"
        "for line in sys.stdin:\n"
        "    t = line.rstrip('\\n')\n"
        "    host, sep, port = t.partition(':')\n"
        "    try:\n"
        "        packed = ipaddress.IPv4Address(host).packed\n"
        "        if sep and not (port.isdigit() and int(port) <= 65535):\n"
        "            raise ValueError\n"
        "        print('ok', '.'.join(str(b) for b in packed), int(port) if sep else 0)\n"
        "    except ValueError:\n"
        "        print('no - -')\n",
        Input);
    std::istringstream Lines(Output);
    for (auto &Text : Texts) {
        std::string Verdict, Dotted, PortText;
        ASSERT_TRUE(Lines >> Verdict >> Dotted >> PortText) << "missing reference output";
        uint32 Address = 0;
        int32 Port = -1;
        int32 Result = String_ConvertToIP(Text.c_str(), &Address, &Port);
        EXPECT_EQ(Result, Verdict == "ok" ? 1 : 0) << Text;
        if (Result && Verdict == "ok") {
            uint8 Out[4];
            memcpy(Out, &Address, 4);
            std::string Got = std::to_string(Out[0]) + "." + std::to_string(Out[1]) + "." +
                              std::to_string(Out[2]) + "." + std::to_string(Out[3]);
            EXPECT_EQ(Got, Dotted) << Text;
            EXPECT_EQ(Port, std::stoi(PortText)) << Text;
        }
    }
}

TEST_F(StringNumberTest, ConvertFromIP) {
    const uint8 Bytes[4] = {10, 0, 0, 1};
    uint32 Address;
    memcpy(&Address, Bytes, 4);
    char Out[32];
    EXPECT_EQ(String_ConvertFromIP(&Address, 0, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "10.0.0.1");
    EXPECT_EQ(String_ConvertFromIP(&Address, 8080, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "10.0.0.1:8080");
    uint32 Back = 0;
    int32 Port = 0;
    EXPECT_EQ(String_ConvertToIP(Out, &Back, &Port), 1);
    EXPECT_EQ(Back, Address);
    EXPECT_EQ(Port, 8080);
}

// ---- Formatting ----

TEST_F(StringNumberTest, NumberToStringRules) {
    char Out[64];
    String_NumberToString(Out, sizeof(Out), 1, 2, 1, 1234567.0);
    EXPECT_STREQ(Out, "1,234,567");
    String_NumberToString(Out, sizeof(Out), 1, 0, 0, -123);
    EXPECT_STREQ(Out, "-123");
    String_NumberToString(Out, sizeof(Out), 1, 1, 0, -1234567.5);
    EXPECT_STREQ(Out, "-1,234,567.5");
    String_NumberToString(Out, sizeof(Out), 0, 3, 1, 2.50);
    EXPECT_STREQ(Out, "2.5");
    String_NumberToString(Out, sizeof(Out), 1, 3, 0, 999.5);
    EXPECT_STREQ(Out, "999.500");
    String_NumberToString(Out, sizeof(Out), 1, 12, 0, 1234.25);  // beyond 8 decimals: "%.0f"
    EXPECT_STREQ(Out, "1,234");
    String_NumberToString(Out, sizeof(Out), 0, 0, 1, 100);  // trimming needs decimals
    EXPECT_STREQ(Out, "100");
    char Small[5];
    memset(Small, 'Z', sizeof(Small));
    String_NumberToString(Small, 4, 1, 0, 0, 1234567);
    EXPECT_STREQ(Small, "1,2");
    EXPECT_EQ(Small[4], 'Z');
}

// Values from 1e38 up keep every integer digit: the engine's 16 significant
// digits, then zeros, never a shorter (smaller) number.
TEST_F(StringNumberTest, NumberToStringKeepsLargeValuesWhole) {
    char Out[512];
    String_NumberToString(Out, sizeof(Out), 1, 0, 0, 1e40);
    EXPECT_STREQ(Out, "10,000,000,000,000,000,000,000,000,000,000,000,000,000");
    std::string Expected = "-1";
    for (int32 Group = 0; Group < 100; Group++) Expected += ",000";
    String_NumberToString(Out, sizeof(Out), 1, 2, 1, -1e300);
    EXPECT_EQ(std::string(Out), Expected);
    // The largest double with 8 decimals: sign, 309 digits, point, 8 digits.
    String_NumberToString(Out, sizeof(Out), 0, 8, 0, -1.7976931348623157e308);
    ASSERT_EQ(strlen(Out), 319u);
    EXPECT_EQ(std::string(Out, 17), "-1797693134862315");
    EXPECT_EQ(std::string(Out + 309, 10), "0.00000000");
    EXPECT_DOUBLE_EQ(String_AtoF(Out), -1.797693134862315e308);
}

TEST_F(StringNumberTest, NumberToStringAgreesWithPythonFormat) {
    std::string Output = RunPython(
        "import random\n"
        "from decimal import Decimal\n"
        "random.seed(17)\n"
        "n = 0\n"
        "while n < 3000:\n"
        "    digits = random.randint(0, 8)\n"
        "    x = round(random.uniform(-1e6, 1e6), random.randint(0, 9))\n"
        "    if random.random() < 0.2: x = float(random.randint(-10**12, 10**12))\n"
        "    scaled = Decimal(x) * (10 ** digits)\n"
        "    frac = abs(scaled - scaled.to_integral_value(rounding='ROUND_FLOOR'))\n"
        "    if abs(frac - Decimal('0.5')) < Decimal('1e-6'): continue\n"
        "    group = random.randint(0, 1)\n"
        "    trim = random.randint(0, 1)\n"
        "    text = format(x, (',' if group else '') + '.%df' % digits)\n"
        "    if trim and digits > 0:\n"
        "        text = text.rstrip('0').rstrip('.')\n"
        "    print(repr(x), digits, group, trim, text)\n"
        "    n += 1\n");
    std::istringstream Lines(Output);
    std::string Value, Expected;
    int32 Digits, Group, Trim, Count = 0;
    while (Lines >> Value >> Digits >> Group >> Trim >> Expected) {
        char Out[64];
        String_NumberToString(Out, sizeof(Out), Group, Digits, Trim, strtod(Value.c_str(), nullptr));
        EXPECT_EQ(std::string(Out), Expected) << Value << " " << Digits << " " << Group << " " << Trim;
        Count++;
    }
    EXPECT_EQ(Count, 3000);
}

TEST_F(StringNumberTest, FormatMetric) {
    struct {
        uint64 Value, Unit;
        int32 Style;
        const char *Expected;
    } Cases[] = {
        {1024, 0, 2, "1024 B/s"},
        {1536, 0, 2, "1.50 KB/s"},
        {100, 0, 3, "800 b/s"},
        {512, 0, 2, "512 B/s"},
        {1572864, 0, 2, "1.50 MB/s"},
        {268435456, 0, 3, "2.00 Gb/s"},
        {1025, 0, 1, "1.00 KB"},
        {5ull << 30, 0, 1, "5.00 GB"},
        {1048576, 0, 1, "1024.00 KB"},  // strictly above a unit picks it
        {3ull << 30, 1048576, 2, "3072.00 MB/s"},
        {2048, 1000, 2, "2048 B/s"},  // not one of the three units
        {1000, 1048576, 2, "1000 B/s"},  // not above 1,024
        {0, 0, 2, "0 B/s"},
    };
    for (auto &Case : Cases) {
        char Out[64];
        EXPECT_EQ(String_FormatMetric(Out, sizeof(Out), Case.Value, Case.Unit, Case.Style), 1);
        EXPECT_STREQ(Out, Case.Expected) << Case.Value << " " << Case.Unit << " " << Case.Style;
    }
}

// ---- Tokens and identifiers ----

TEST_F(StringNumberTest, RandomTokensUseTheDocumentedAlphabet) {
    const std::string Alphabet = "aBcDeFgHiJkLmNoPqRsTuVwXyZ123456789";
    char Out[4001];
    EXPECT_EQ(String_Random(Out, sizeof(Out)), 1);
    ASSERT_EQ(strlen(Out), 4000u);
    std::set<char> Seen(Out, Out + 4000);
    for (char Ch : Seen) EXPECT_NE(Alphabet.find(Ch), std::string::npos) << Ch;
    EXPECT_EQ(Seen.size(), Alphabet.size());  // 4000 draws reach all 35 values

    char Other[4001];
    String_Random(Other, sizeof(Other));
    EXPECT_STRNE(Out, Other);

    char One[2] = {'Z', 'Z'};
    EXPECT_EQ(String_Random(One, 1), 1);
    EXPECT_EQ(One[0], 0);
    EXPECT_EQ(One[1], 'Z');
    EXPECT_EQ(String_Random(One, 0), 1);
}

// An id's digits, four bytes a word, are what printing each byte as two
// lower-case hex digits gives: nibbles at and around 9/10, both ends.
TEST_F(StringNumberTest, HexDigitsOfFourBytesArePrintedBytes) {
    const std::vector<std::vector<unsigned char>> Cases = {
        {0x00, 0x00, 0x00, 0x00}, {0xff, 0xff, 0xff, 0xff}, {0x09, 0x0a, 0x90, 0xa0},
        {0x9f, 0xf9, 0xa9, 0x9a}, {0x01, 0x23, 0x45, 0x67}, {0x89, 0xab, 0xcd, 0xef},
        {0x10, 0x0f, 0xf0, 0x5a}};
    std::mt19937 Random(35);
    std::vector<std::vector<unsigned char>> All = Cases;
    for (int32 Round = 0; Round < 200; Round++)
        All.push_back({(unsigned char)Random(), (unsigned char)Random(), (unsigned char)Random(),
                       (unsigned char)Random()});
    for (const auto &Bytes : All) {
        char Expected[9], Got[9] = {};
        snprintf(Expected, sizeof(Expected), "%02x%02x%02x%02x", Bytes[0], Bytes[1], Bytes[2], Bytes[3]);
        string_detail::HexDigits4(Bytes.data(), Got);
        EXPECT_STREQ(Got, Expected);
    }
}

TEST_F(StringNumberTest, GuidTexts) {
    char Plain[64], Dashed[64], Second[64];
    EXPECT_EQ(String_Guid(Plain, sizeof(Plain), 0), 1);
    EXPECT_EQ(strlen(Plain), 32u);
    EXPECT_EQ(strspn(Plain, "0123456789abcdef"), 32u);
    EXPECT_EQ(String_Guid(Dashed, sizeof(Dashed), 1), 1);
    ASSERT_EQ(strlen(Dashed), 35u);
    for (int Index : {8, 13, 18}) EXPECT_EQ(Dashed[Index], '-') << Dashed;
    std::string Digits(Dashed);
    Digits.erase(std::remove(Digits.begin(), Digits.end(), '-'), Digits.end());
    EXPECT_EQ(Digits.size(), 32u);
    EXPECT_EQ(strspn(Digits.c_str(), "0123456789abcdef"), 32u);
    String_Guid(Second, sizeof(Second), 0);
    EXPECT_STRNE(Plain, Second);
    char Short[9];
    String_Guid(Short, sizeof(Short), 1);
    EXPECT_EQ(strlen(Short), 8u);
    // The version and variant digits of random ids sit where the byte order
    // puts them: a nibble or byte out of place moves them.
    for (int Round = 0; Round < 200; Round++) {
        String_Guid(Plain, sizeof(Plain), 0);
        String_Guid(Dashed, sizeof(Dashed), 1);
        EXPECT_EQ(Plain[12], '4') << Plain;
        EXPECT_NE(strchr("89ab", Plain[16]), nullptr) << Plain;
        EXPECT_EQ(Dashed[14], '4') << Dashed;
        EXPECT_NE(strchr("89ab", Dashed[19]), nullptr) << Dashed;
    }
}

}  // namespace
