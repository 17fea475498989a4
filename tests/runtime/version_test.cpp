// Version texts and boolean words: the decode rules, ordering against Python's
// tuple comparison, and the boolean decoder's words and defaults.
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/text/string.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class VersionTest : public RuntimeTest {};

TEST_F(VersionTest, DecodeRules) {
    struct {
        const char *Text;
        int32 Result, Major, Minor, Build, Revision;
    } Cases[] = {
        {"V1.2", 1, 1, 2, 0, 0},
        {"v10.20.30.40", 1, 10, 20, 30, 40},
        {"1,2,3,4", 1, 1, 2, 3, 4},
        {"1.2a.3", 0, 1, 2, 3, 0},
        {"", 0, 0, 0, 0, 0},
        {"v", 0, 0, 0, 0, 0},
        {"1.2.3.4.5", 1, 1, 2, 3, 4},
        {"1.2.3.4x", 1, 1, 2, 3, 4},  // the revision's bytes are not checked
        {"1.2.3.-4", 1, 1, 2, 3, -4},
        {"-1.2", 0, -1, 2, 0, 0},
        {"1.2.3 beta", 0, 1, 2, 3, 0},
        {"2147483648.1", 0, INT32_MIN, 1, 0, 0},  // past 32 bits: stored cut, and no version
        {"1.2.3.4294967296", 0, 1, 2, 3, 0},
        {"2147483647.00000000001", 1, INT32_MAX, 1, 0, 0},
        {"7", 1, 7, 0, 0, 0},
        {"1.2,3", 1, 1, 2, 3, 0},
    };
    for (auto &Case : Cases) {
        int32 Major = -9, Minor = -9, Build = -9, Revision = -9;
        EXPECT_EQ(String_DecodeVersion(Case.Text, &Major, &Minor, &Build, &Revision), Case.Result) << Case.Text;
        EXPECT_EQ(Major, Case.Major) << Case.Text;
        EXPECT_EQ(Minor, Case.Minor) << Case.Text;
        EXPECT_EQ(Build, Case.Build) << Case.Text;
        EXPECT_EQ(Revision, Case.Revision) << Case.Text;
    }
    EXPECT_EQ(String_DecodeVersion("1.2", nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(String_DecodeVersion(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(VersionTest, CompareRules) {
    struct {
        const char *A, *B;
        int32 Result, Order;
    } Cases[] = {
        {"1.10", "1.9", 1, 1}, {"2", "2.0.0.0", 1, 0},  {"1.0.0.1", "1.0.0", 1, 1},
        {"1.9", "1.10", 1, -1}, {"v3", "V3.0", 1, 0},   {"1.2a", "1.2", 0, 0},
        {"1.2", "", 0, 0},      {"1.0.0.-1", "1", 1, -1}, {"4294967296", "1.2", 0, 0},
    };
    for (auto &Case : Cases) {
        int32 Order = 99;
        EXPECT_EQ(String_CompareVersion(Case.A, Case.B, &Order), Case.Result) << Case.A << " " << Case.B;
        EXPECT_EQ(Order, Case.Order) << Case.A << " " << Case.B;
    }
}

TEST_F(VersionTest, CompareAgreesWithPythonTuples) {
    std::mt19937 Random(3);
    std::vector<std::pair<std::string, std::string>> Pairs;
    std::string Input;
    auto Make = [&Random]() {
        std::string Text;
        for (int Part = 0, Parts = 1 + Random() % 4; Part < Parts; Part++) {
            if (Part) Text += Random() % 4 ? "." : ",";
            Text += std::to_string(Random() % 4 == 0 ? Random() % 100000 : Random() % 4);
        }
        return Text;
    };
    for (int Round = 0; Round < 2000; Round++) {
        Pairs.push_back({Make(), Make()});
        Input += Pairs.back().first + " " + Pairs.back().second + "\n";
    }
    std::string Output = RunPython(
        "import sys, re\n"
        "def parts(t):\n"
        "    p = [int(x) for x in re.split('[.,]', t)]\n"
        "    return tuple(p + [0] * (4 - len(p)))\n"
        "for line in sys.stdin:\n"
        "    a, b = line.split()\n"
        "    x, y = parts(a), parts(b)\n"
        "    print((x > y) - (x < y))\n",
        Input);
    std::istringstream Lines(Output);
    for (auto &[A, B] : Pairs) {
        int Expected = 5;
        ASSERT_TRUE(Lines >> Expected);
        int32 Order = 99;
        EXPECT_EQ(String_CompareVersion(A.c_str(), B.c_str(), &Order), 1) << A << " " << B;
        EXPECT_EQ(Order, Expected) << A << " " << B;
    }
}

TEST_F(VersionTest, EncodeAndConvert) {
    char Out[64];
    EXPECT_EQ(String_EncodeVersion(Out, sizeof(Out), 1, 2, 3, -4), 1);
    EXPECT_STREQ(Out, "1.2.3.-4");
    EXPECT_EQ(String_ConvertVersion(Out, sizeof(Out), "3.1", "%d_%d"), 1);
    EXPECT_STREQ(Out, "3_1");
    EXPECT_EQ(String_ConvertVersion(Out, sizeof(Out), "v5,6,7,8", "%d.%d.%d.%d"), 1);
    EXPECT_STREQ(Out, "5.6.7.8");
    char Small[4];
    String_EncodeVersion(Small, sizeof(Small), 10, 20, 30, 40);
    EXPECT_STREQ(Small, "10.");
}

TEST_F(VersionTest, DecodeBoolean) {
    struct {
        const char *Text;
        int32 Result, Value;
    } Cases[] = {
        {"yes", 1, 1},  {"Off", 1, 0},  {"", 1, 7},      {"maybe", 0, 7},  {"1", 1, 1},
        {"0", 1, 0},    {"TRUE", 1, 1}, {"false", 1, 0}, {"oN", 1, 1},     {"No", 1, 0},
        {"2", 0, 7},    {"yes ", 0, 7}, {" yes", 0, 7},  {"truefalse", 0, 7}, {"trueXXXXXXXXXXXX", 0, 7},
    };
    for (auto &Case : Cases) {
        int32 Value = -1;
        EXPECT_EQ(String_DecodeBoolean(Case.Text, &Value, 7), Case.Result) << Case.Text;
        EXPECT_EQ(Value, Case.Value) << Case.Text;
    }
}

}  // namespace
