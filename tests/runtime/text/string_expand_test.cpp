// Macro expansion: scanning rules (innermost first, what is plain text,
// case-less names, argument splitting, provider order), every built-in
// function (arithmetic and time against Python), the platform values against
// the system's own answers, and the bounds that keep hostile texts from
// overflowing the stack, looping or being cut: nesting, cycles, values that
// do not fit, a provider output filled to the last byte.
#include "runtime/text/string_expand.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/command_line.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/posix/platform_stand_in.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// A callback answering from a table and counting what it was asked.
struct Answers {
    std::map<std::string, std::string> Values;
    std::vector<std::pair<std::string, std::string>> Asked; // name, argument ("<none>" for null)
    int32 Result = 1;
};

int32 AnswerFromTable(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    Answers *Table = static_cast<Answers *>(User);
    Table->Asked.emplace_back(Name, Argument != nullptr ? Argument : "<none>");
    auto Found = Table->Values.find(Name);
    if (Found == Table->Values.end()) return 0;
    EXPECT_EQ(Size, STRING_EXPAND_RESULT_SIZE);
    snprintf(Output, (size_t)Size, "%s", Found->second.c_str());
    return Table->Result;
}

class StringExpandTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    // The expanded text (in a buffer of Size bytes) and the result.
    static std::pair<std::string, int32> Run(const std::string &Text, Answers *Table = nullptr, int32 Size = 8192) {
        std::vector<char> Buffer(std::max<size_t>((size_t)Size, Text.size() + 1), 0);
        memcpy(Buffer.data(), Text.c_str(), Text.size() + 1);
        int32 Result = String_Expand(Buffer.data(), Size, Table, Table != nullptr ? AnswerFromTable : nullptr);
        return {std::string(Buffer.data()), Result};
    }
    static std::string Expand(const std::string &Text, Answers *Table = nullptr) {
        auto [Expanded, Result] = Run(Text, Table);
        EXPECT_EQ(Result, 1) << Text;
        return Expanded;
    }
    static void ExpectFailsUnchanged(const std::string &Text, Answers *Table, const char *LogPart) {
        auto [Expanded, Result] = Run(Text, Table);
        EXPECT_EQ(Result, 0);
        EXPECT_EQ(Expanded, Text);
        EXPECT_NE(Captured.find(LogPart), std::string::npos) << Captured;
    }
};

std::string SpecialPath(int32 Id) {
    char Path[MAX_PATH_SIZE];
    EXPECT_EQ(Platform_GetSpecialPath(Id, Path, sizeof(Path)), 1);
    return Path;
}

std::string Nest(const std::string &Name, int32 Depth, const std::string &Inside) {
    std::string Text;
    for (int32 i = 0; i < Depth; i++) Text += "{" + Name + ":";
    return Text + Inside + std::string((size_t)Depth, '}');
}

} // namespace

TEST_F(StringExpandTest, PlainTextAndUnknownNamesStay) {
    for (const char *Text : {"", "plain text", "{ not a macro}", "{}", "{Unknown}", "a{b", "a}b", "{{", "}}", "{-x}",
                             "{Unknown:arg,with:colon}", "{\xC3\xA9t\xC3\xA9}"})
        EXPECT_EQ(Expand(Text), Text);
    EXPECT_EQ(Expand("}{Upper:x}{"), "}X{");
    EXPECT_EQ(Expand("{ {Upper:x}"), "{ X");
    EXPECT_EQ(Expand("{_x}{Upper:y}"), "{_x}Y");
}

TEST_F(StringExpandTest, NamesAreCaseLessAndPlatformValuesComeFirst) {
    TempDirectory Own; // a temporary folder of this user's alone is used as it is
    ScopedEnv Tmpdir("TMPDIR", Own.Path.c_str());
    std::string Temp = SpecialPath(PLATFORM_PATH_TEMP);
    EXPECT_EQ(Temp, Own.Path + "/");
    EXPECT_EQ(Expand("{Temp}log.txt"), Temp + "log.txt");
    EXPECT_EQ(Expand("{temp}log.txt"), Temp + "log.txt");
    EXPECT_EQ(Expand("{TEMP}"), Temp);
    EXPECT_EQ(Expand("{uPPER:abc}"), "ABC");
    // The callback is asked last: it cannot shadow a platform value or a built-in.
    Answers Table;
    Table.Values = {{"Temp", "mine"}, {"Upper", "mine"}, {"Mine", "value"}};
    EXPECT_EQ(Expand("{Temp}{Upper:a}{Mine}{mine}", &Table), Temp + "A" + "value{mine}");
    ASSERT_EQ(Table.Asked.size(), 2u);
    // Only an answer of exactly 1 counts.
    Table.Result = 2;
    EXPECT_EQ(Expand("{Mine}", &Table), "{Mine}");
}

TEST_F(StringExpandTest, NameSplitsAtTheFirstColon) {
    Answers Table;
    Table.Values = {{"Foo", "f"}};
    EXPECT_EQ(Expand("{Foo}{Foo:}{Foo:a:b,c}{Foo:::}", &Table), "ffff");
    std::vector<std::pair<std::string, std::string>> Expected = {
        {"Foo", "<none>"}, {"Foo", ""}, {"Foo", "a:b,c"}, {"Foo", "::"}};
    EXPECT_EQ(Table.Asked, Expected);
    EXPECT_EQ(Expand("{Copy:a:b,c}"), "a:b,c");
}

TEST_F(StringExpandTest, InnermostFirst) {
    EXPECT_EQ(Expand("{Upper:{Lower:AbC}}"), "ABC");
    EXPECT_EQ(Expand("<{Copy:{Upper:a}{Lower:B}-{Upper:c}}>"), "<Ab-C>");
    EXPECT_EQ(Expand(Nest("Copy", 5, "{Upper:deep}")), "DEEP");
    // A "{" that starts no macro inside a macro is passed over; the name
    // then runs to the first "}".
    Answers Table;
    Table.Values = {{"Outer", "o"}};
    EXPECT_EQ(Expand("{Outer:{ x}}", &Table), "o}");
    EXPECT_EQ(Table.Asked.back(), std::make_pair(std::string("Outer"), std::string("{ x")));
    // Values of inner macros are part of the outer argument.
    Table.Values["Inner"] = "1,2";
    EXPECT_EQ(Expand("{Add:{Inner}}", &Table), "3");
}

TEST_F(StringExpandTest, ChangedValuesAreScannedAgainUnchangedOnesAreNot) {
    Answers Table;
    Table.Values = {{"Self", "{Self}"}, {"Swap", "{Next}"}, {"Next", "{Upper:ok}"}, {"Empty", ""}};
    // A value equal to its macro leaves the span's CRC unchanged: asked once.
    EXPECT_EQ(Expand("a{Self}b", &Table), "a{Self}b");
    EXPECT_EQ(Table.Asked.size(), 1u);
    // A value of the same length but other bytes is scanned again.
    EXPECT_EQ(Expand("{Swap}", &Table), "OK");
    EXPECT_EQ(Expand("[{Empty}]", &Table), "[]");
    // An empty value pulls the next, identical macro into the same span:
    // the span's CRC is unchanged, but the text is not.
    EXPECT_EQ(Expand("[{Empty}{Empty}{Empty}]", &Table), "[]");
    EXPECT_EQ(Expand("{Copy:{Empty}{Empty}x}", &Table), "x");
    // An unchanged inner macro lets the scan go on behind it.
    Table.Asked.clear();
    EXPECT_EQ(Expand("{Outer:{Self}}", &Table), "{Outer:{Self}}");
    EXPECT_EQ(Table.Asked.size(), 2u);
}

TEST_F(StringExpandTest, TextFunctions) {
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {"{Copy:abc}", "abc"},
        {"{Substring:1,3,abcdef}", "bc"},
        {"{Substring:2,-1,abcdef}", "cdef"},
        {"{SubCopy:0,100,abc}", "abc"},
        {"{Substring:3,1,abcdef}", ""},
        {"{Substring:6,-1,abcdef}", ""},
        {"{Substring:-2,2,abcdef}", "ab"},
        {"{Substring:1,3,a,b,c}", ",b"},
        {"{Replace:a,xy,banana}", "bxynxynxy"},
        {"{Replace:na,,banana}", "ba"},
        {"{Replace:,x,abc}", "abc"},
        {"{Replace:a,b,x,a,y}", "x,b,y"},
        {"{Replace:a,aa,}", ""},
        {"{FromHex:414243}", "ABC"},
        {"{FromHex:0x4a4B}", "JK"},
        {"{FromHex:41zz42}", "A"},
        {"{ToHex:AB}", "4142"},
        {"{ToHex:\xff}", "FF"},
        {"{Limit:3,abcdef}", "abc"},
        {"{Limit:abcdef}", ""},
        {"{Limit:10,ab}", "ab"},
        {"{Limit:-1,ab}", ""},
        {"{Trim:xy,xxhixyy}", "hi"},
        {"{Trim:x,xxx}", ""},
        {"{Trim: \t padded \r\n}", "padded"},
        {"{Trim:-,-a,b-}", "a,b"},
        {"{Upper:aBc1\xc3\xa0}", "ABC1\xc3\xa0"},
        {"{Lower:\xc3\x80XY}", "\xc3\x80xy"},
        {"{Capitalize:hello}", "Hello"},
        {"{Capitalize:1abc}", "1abc"},
        {"{Uncapitalize:Hello}", "hello"},
        {"{IndexOf:na,banana}", "2"},
        {"{LastIndexOf:na,banana}", "4"},
        {"{IndexOf:x,banana}", "-1"},
        {"{LastIndexOf:,abc}", "3"},
        {"{If:yes,A,B}", "A"},
        {"{If:0,A,B}", "B"},
        {"{If:maybe,A}", ""},
        {"{If:TRUE,A,B,C}", "A"},
        {"{If:off,A,B,C}", "B,C"},
        {"{Equals:abc,abc}", "1"},
        {"{Equals:abc,ABC}", "0"},
        {"{Equals:a,b,a,b}", "0"},
        {"{VersionCompare:1.2.3,>,1.2}", "1"},
        {"{VersionCompare:1.2,<,1.10}", "1"},
        {"{VersionCompare:1.2,==,1.2.0.0}", "1"},
        {"{VersionCompare:1.2,!=,1.3}", "0"},
        {"{VersionCompare:x,>,1}", ""},
        {"{This}", ""},
        {"abc{This}", "abcabc"},
        {"x{Upper:y}{This}", "xYxY"},
    };
    for (const auto &[Text, Expected] : Cases) EXPECT_EQ(Expand(Text), Expected) << Text;
}

TEST_F(StringExpandTest, FunctionsWithoutTheirArgumentFallThrough) {
    Answers Table;
    Table.Values = {{"Copy", "callback"}, {"Upper", "callback"}, {"SubjectLine", "callback"}, {"Math", "callback"}};
    EXPECT_EQ(Expand("{Copy}|{Upper}|{SubjectLine:hello}|{Math:add,1}|{TimeStamp}", &Table),
              "callback|callback|callback|callback|{TimeStamp}");
}

TEST_F(StringExpandTest, HexAndComparisonFunctions) {
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {"{Int32ToHex:1}", "01000000"},
        {"{Int32ToHex:-1}", "FFFFFFFF"},
        {"{UInt32ToHex:0xFFFFFFFE}", "FEFFFFFF"},
        {"{Int32ToHex:4294967297}", "01000000"},
        {"{Int64ToHex:1}", "0100000000000000"},
        {"{Int64ToHex:-2}", "FEFFFFFFFFFFFFFF"},
        {"{UInt64ToHex:18446744073709551615}", "FFFFFFFFFFFFFFFF"},
        {"{Int64Compare:-1,<,0}", "1"},
        {"{UInt64Compare:-1,<,0}", "0"},
        {"{UInt64Compare:0xFFFFFFFFFFFFFFFF,>,1}", "1"},
        {"{Int64Compare:0xFFFFFFFFFFFFFFFF,>,1}", "0"},
        {"{Int64Compare:5,>=,5}", "1"},
        {"{Int64Compare:4,<=,5}", "1"},
        {"{Int64Compare:5,=,5}", "1"},
        {"{Int64Compare:5,==,5}", "1"},
        {"{Int64Compare:5,!=,6}", "0"},
        {"{Int64Compare:5, >,1}", "0"},
    };
    for (const auto &[Text, Expected] : Cases) EXPECT_EQ(Expand(Text), Expected) << Text;
}

TEST_F(StringExpandTest, ArithmeticOfThePart) {
    EXPECT_EQ(Expand("{Math:div,7,0}"), "0");
    EXPECT_EQ(Expand("{Math:mod,7,0}"), "0");
    EXPECT_EQ(Expand("{Add:2,3}"), "5");
    EXPECT_EQ(Expand("{Math:mul,3,4}"), "12");
    EXPECT_EQ(Expand("{Math:Multiply,3,4}"), "12");
    EXPECT_EQ(Expand("{Math:mod,7,3}"), "1");
    EXPECT_EQ(Expand("{Math:Subtract,2,5}"), "-3");
    EXPECT_EQ(Expand("{Sub:0x10,1}"), "15");
    EXPECT_EQ(Expand("{Div:-7,2}"), "-3");
    EXPECT_EQ(Expand("{Modulo:-7,2}"), "-1");
    EXPECT_EQ(Expand("{Math:pow,2,3}"), "0");
    // A name beginning like an operator is arithmetic before the callback.
    Answers Table;
    Table.Values = {{"SubjectLine", "callback"}};
    EXPECT_EQ(Expand("{SubjectLine:7,2}", &Table), "5");
    EXPECT_TRUE(Table.Asked.empty());
}

// INT64_MIN / -1 and overflowing sums trap or are undefined in signed
// arithmetic; UBSan runs stop on either.
TEST_F(StringExpandTest, ArithmeticWrapsLikePython) {
    EXPECT_EQ(Expand("{Div:-9223372036854775808,-1}"), "-9223372036854775808");
    EXPECT_EQ(Expand("{Mod:-9223372036854775808,-1}"), "0");
    EXPECT_EQ(Expand("{Add:9223372036854775807,1}"), "-9223372036854775808");
    EXPECT_EQ(Expand("{Sub:-9223372036854775808,1}"), "9223372036854775807");
    EXPECT_EQ(Expand("{Math:mul,9223372036854775807,2}"), "-2");

    std::mt19937_64 Random(1121);
    std::vector<std::pair<int64, int64>> Pairs = {{INT64_MIN, -1}, {INT64_MIN, 1}, {INT64_MAX, -1}, {0, 0},
                                                  {INT64_MIN, INT64_MIN}, {-5, 3}, {5, -3}};
    for (int i = 0; i < 150; i++) {
        int64 A = (int64)Random(), B = (int64)Random();
        if (i % 3 == 0) B = (int64)(Random() % 2001) - 1000;
        Pairs.emplace_back(A, B);
    }
    std::ostringstream Input;
    for (auto [A, B] : Pairs) Input << A << " " << B << "\n";
    std::string Output = RunPython(R"(
import sys
M = 2**64
w = lambda x: (x % M) - M if x % M >= 2**63 else x % M
def cdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q
for line in sys.stdin:
    a, b = map(int, line.split())
    d = 0 if b == 0 else w(cdiv(a, b))
    m = 0 if b == 0 else w(a - cdiv(a, b) * b)
    print(w(a + b), w(a - b), w(a * b), d, m)
)",
                                   Input.str());
    std::istringstream Expected(Output);
    for (auto [A, B] : Pairs) {
        std::string Sum, Difference, Product, Quotient, Remainder;
        ASSERT_TRUE(Expected >> Sum >> Difference >> Product >> Quotient >> Remainder);
        std::string Operands = std::to_string(A) + "," + std::to_string(B) + "}";
        EXPECT_EQ(Expand("{Add:" + Operands), Sum);
        EXPECT_EQ(Expand("{Math:sub," + Operands), Difference);
        EXPECT_EQ(Expand("{Math:mul," + Operands), Product);
        EXPECT_EQ(Expand("{Div:" + Operands), Quotient) << Operands;
        EXPECT_EQ(Expand("{Mod:" + Operands), Remainder) << Operands;
    }
}

TEST_F(StringExpandTest, RandomAndGuid) {
    std::string A = Expand("{Random}"), B = Expand("{random}");
    EXPECT_EQ(A.size(), 120u);
    EXPECT_EQ(A.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ123456789"), std::string::npos);
    EXPECT_NE(A, B);
    std::string Guid = Expand("{Guid}");
    EXPECT_EQ(Guid.size(), 32u);
    EXPECT_EQ(Guid.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(Guid, Expand("{Guid}"));
}

TEST_F(StringExpandTest, CommandLine) {
    CommandLine_Init("prog --alpha=one -x \"two words\"");
    EXPECT_EQ(Expand("{CommandLine}"), "--alpha=one -x \"two words\"");
    EXPECT_EQ(Expand("{CommandLine:alpha}"), "one");
    EXPECT_EQ(Expand("{CommandLine:ALPHA}"), "one");
    EXPECT_EQ(Expand("[{CommandLine:missing}]"), "[]");
    CommandLine_Remove();
}

TEST_F(StringExpandTest, TimeFunctions) {
    time_t Before = time(nullptr);
    int64 Now = std::stoll(Expand("{Time}"));
    int64 Minute = std::stoll(Expand("{Time60}"));
    time_t After = time(nullptr);
    EXPECT_GE(Now, Before);
    EXPECT_LE(Now, After);
    EXPECT_EQ(Minute % 60, 0);
    EXPECT_LE(Minute, After);
    EXPECT_GT(Minute, Before - 60);
    EXPECT_EQ(Expand("{TimeStamp:951782400}"), "20000229000000");
    EXPECT_EQ(Expand("{TimeStamp:0}"), "19700101000000");

    std::mt19937_64 Random(1778);
    std::vector<int64> Seconds = {31536000, 4107542399, 4107542400, 946684799, 1700000000};
    for (int i = 0; i < 100; i++) Seconds.push_back(31536000 + (int64)(Random() % (4102444800ull - 31536000ull)));
    std::ostringstream Input;
    for (int64 Value : Seconds) Input << Value << "\n";
    std::string Output = RunPython(R"(
import sys, datetime
for line in sys.stdin:
    t = datetime.datetime.fromtimestamp(int(line), datetime.timezone.utc)
    print(t.strftime('%Y%m%d%H%M%S'))
)",
                                   Input.str());
    std::istringstream Expected(Output);
    for (int64 Value : Seconds) {
        std::string Stamp;
        ASSERT_TRUE(Expected >> Stamp);
        EXPECT_EQ(Expand("{TimeStamp:" + std::to_string(Value) + "}"), Stamp) << Value;
    }
}

TEST_F(StringExpandTest, PlatformFoldersAndModule) {
    EXPECT_EQ(Expand("{UserHome}"), SpecialPath(PLATFORM_PATH_USERHOME));
    EXPECT_EQ(Expand("{WorkingDirectory}"), SpecialPath(PLATFORM_PATH_WORKINGDIRECTORY));
    EXPECT_EQ(Expand("{ModulePath}"), SpecialPath(PLATFORM_PATH_MODULEPATH));
    char Executable[MAX_PATH_SIZE] = "";
    ASSERT_GT(readlink("/proc/self/exe", Executable, sizeof(Executable) - 1), 0);
    std::string File = strrchr(Executable, '/') + 1;
    EXPECT_EQ(Expand("{ModuleFileName}"), File);
    EXPECT_EQ(Expand("{ModuleFileTitle}"), File.substr(0, File.rfind('.')));
    char LogDirectory[MAX_PATH_SIZE];
    ASSERT_EQ(Platform_GetModuleLogDirectory(nullptr, LogDirectory, sizeof(LogDirectory)), 1);
    EXPECT_EQ(Expand("{ModuleLogDirectory}"), LogDirectory);
    EXPECT_EQ(Expand("{ModuleBitness}|{ToolSuffix}|{BundleSuffix}|{LibraryPrefix}|{LibraryExtension}"),
              "64||.app|lib|dylib");
    EXPECT_EQ(Expand("{ProcessId}"), std::to_string(getpid()));
    EXPECT_EQ(Expand("{ModuleElevated}"), geteuid() == 0 ? "1" : "0");
    EXPECT_EQ(Expand("{SystemBitness}"), "64");
    EXPECT_EQ(Expand("{SystemShortName}"), "mac");
    TempDirectory Own;
    ScopedEnv Tmpdir("TMPDIR", Own.Path.c_str());
    char Path[STRING_EXPAND_RESULT_SIZE];
    EXPECT_EQ(String_ExpandPlatform("temp", nullptr, Path), 1);
    EXPECT_EQ(String_ExpandPlatform("NoSuchName", nullptr, Path), 0);
}

TEST_F(StringExpandTest, PlatformFactsFromLinux) {
    EXPECT_EQ(Expand("{CPUCount}"), std::to_string(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_EQ(Expand("{SystemMemory}"), std::to_string((long long)sysconf(_SC_PHYS_PAGES) * sysconf(_SC_PAGESIZE)));
    std::string CpuInfo = RunPython(R"(
import re
text = open('/proc/cpuinfo').read()
name = re.search(r'^model name\s*:\s?(.*)$', text, re.M)
mhz = re.search(r'^cpu MHz\s*:\s*([0-9.]+)', text, re.M)
print(name.group(1) if name else '')
freq = None
for f in ('base_frequency', 'cpuinfo_max_freq'):
    try:
        freq = freq or int(open('/sys/devices/system/cpu/cpu0/cpufreq/' + f).read()) // 1000
    except OSError:
        pass
print(freq or (int(float(mhz.group(1))) if mhz else 0))
)");
    std::string Model = CpuInfo.substr(0, CpuInfo.find('\n'));
    EXPECT_EQ(Expand("{CPUDescription}"), Model);
    size_t VendorEnd = Model.find_first_of(" (");
    EXPECT_EQ(Expand("{CPUVendor}"), VendorEnd == std::string::npos ? std::string() : Model.substr(0, VendorEnd));
    EXPECT_EQ(Expand("{CPUSpeed}"), CpuInfo.substr(CpuInfo.find('\n') + 1, CpuInfo.size() - CpuInfo.find('\n') - 2));

    struct passwd *User = getpwuid(geteuid());
    ASSERT_NE(User, nullptr);
    EXPECT_EQ(Expand("{UserName}"), User->pw_name);
    // No graphics, adapter or security-product facts on this system.
    EXPECT_EQ(Expand("[{OpenGLVersion}|{DirectXVersion}|{VideoCardType}|{VideoCardMemory:0}|{AntiVirusList}]"),
              "[||||]");

    EXPECT_TRUE(FreeSpaceMatchesStatvfs("/tmp/", [&] { return (uint64_t)std::stoull(Expand("{DiskSpace:/tmp/}")); }));
    EXPECT_EQ(Expand("[{DiskSpace:/tmp}]"), "[]");
    EXPECT_NE(Captured.find("Path is invalid (/tmp)"), std::string::npos);
    EXPECT_EQ(Expand("{DiskSerial:/no/such/path}"), "{DiskSerial:/no/such/path}");
    EXPECT_EQ(Expand("{DiskImage:/no/such/path}"), "{DiskImage:/no/such/path}");
}

TEST_F(StringExpandTest, EnvironmentAndLocale) {
    ScopedEnv Value("EXPAND_TEST_VALUE", "v:1,2");
    EXPECT_EQ(Expand("{Env:EXPAND_TEST_VALUE}"), "v:1,2");
    // A missing variable is left to the later providers.
    ScopedEnv Missing("EXPAND_TEST_MISSING", nullptr);
    Answers Table;
    Table.Values = {{"Env", "fallback"}};
    EXPECT_EQ(Expand("{Env:EXPAND_TEST_MISSING}", &Table), "fallback");
    EXPECT_EQ(Expand("{Env:EXPAND_TEST_MISSING}"), "{Env:EXPAND_TEST_MISSING}");

    ScopedEnv All("LC_ALL", nullptr), Messages("LC_MESSAGES", nullptr), Language("LANG", "fr_CA.UTF-8");
    EXPECT_EQ(Expand("{UserISO639LangName}-{UserISO3166CountryName}"), "fr-CA");
    setenv("LC_ALL", "de_AT@euro", 1);
    EXPECT_EQ(Expand("{UserISO639LangName}-{UserISO3166CountryName}"), "de-AT");
    unsetenv("LC_ALL");
    // Without a country, both come from the system's locale (en_US unless set).
    PlatformStandIn_Set("LOCALE_CONF", "/nonexistent");
    setenv("LANG", "fr", 1);
    EXPECT_EQ(Expand("{UserISO639LangName}-{UserISO3166CountryName}"), "en-US");
    setenv("LANG", "C.UTF-8", 1);
    EXPECT_EQ(Expand("{UserISO639LangName}-{UserISO3166CountryName}"), "en-US");
    PlatformStandIn_Set("LOCALE_CONF", nullptr);
}

TEST_F(StringExpandTest, ModuleProvidersAnswerBeforeTheCallback) {
    Answers Table;
    Table.Values = {{"ToBase64", "callback"}};
    EXPECT_EQ(Expand("{ToBase64:abc}|{base64encode:abcd}|{FromBase64:YWJj}", &Table), "YWJj|YWJjZA==|abc");
    EXPECT_TRUE(Table.Asked.empty());
}

// A Base64 value of 6,105 bytes needs 8,140 characters: one more than a value
// may have. It must come out cut and terminated, never read past.
TEST_F(StringExpandTest, ToBase64OfAnOversizedArgument) {
    for (int32 Length : {6102, 6105}) {
        std::string Argument((size_t)Length, 'q');
        std::string Expected = RunPython("import base64,sys; print(base64.b64encode(sys.stdin.read().encode()).decode())",
                                         Argument);
        Expected.pop_back();
        std::string Expanded = Expand("{ToBase64:" + Argument + "}");
        EXPECT_LE(Expanded.size(), (size_t)STRING_EXPAND_RESULT_SIZE - 1);
        EXPECT_EQ(Expanded, Expected.substr(0, Expanded.size()));
        if (Length == 6102) {
            EXPECT_EQ(Expanded, Expected);
        }
    }
}

TEST_F(StringExpandTest, AProviderFillingItsOutputIsCutNotOverread) {
    auto Fill = [](void *, const char *Name, const char *, char *Output, int32 Size) -> int32 {
        if (strcmp(Name, "Fill") != 0) return 0;
        memset(Output, 'f', (size_t)Size);
        return 1;
    };
    char Text[8192] = "{Fill}";
    EXPECT_EQ(String_Expand(Text, sizeof(Text), nullptr, Fill), 1);
    EXPECT_EQ(std::string(Text), std::string(STRING_EXPAND_RESULT_SIZE - 1, 'f'));
}

TEST_F(StringExpandTest, AValueThatDoesNotFitFailsAndLeavesTheText) {
    Answers Table;
    Table.Values = {{"Big", std::string(6000, 'b')}};
    // 2,191 bytes of text around the value still fit: 8,191 in all.
    std::string Exact = std::string(2000, 'p') + "{Big}" + std::string(191, 's');
    EXPECT_EQ(Expand(Exact, &Table).size(), 8191u);
    ExpectFailsUnchanged(Exact + "s", &Table, "String expansion failed for Big [6000 > 6192]");
    // Built-ins whose value outgrows a value's room.
    Captured.clear();
    ExpectFailsUnchanged("{ToHex:" + std::string(4100, 'x') + "}", nullptr, "String expansion failed for ToHex");
    ExpectFailsUnchanged("{Replace:a,aaaa,banana " + std::string(3000, 'a') + "}", nullptr,
                         "String expansion failed for Replace");
    // A nested failure fails the whole expansion.
    ExpectFailsUnchanged("ok {Upper:ok} {Lower:{ToHex:" + std::string(4100, 'x') + "}}", nullptr,
                         "String expansion failed for ToHex");
}

TEST_F(StringExpandTest, CopyBackIsCutAtTheCallersSize) {
    Answers Table;
    Table.Values = {{"Long", "0123456789abcdefghij"}};
    auto [Expanded, Result] = Run("{Long}", &Table, 16);
    EXPECT_EQ(Result, 1);
    EXPECT_EQ(Expanded, "0123456789abcde");
    // Texts are taken into the working buffer up to 8,191 bytes.
    auto [Long, LongResult] = Run(std::string(9000, 'l'), nullptr, 9001);
    EXPECT_EQ(LongResult, 1);
    EXPECT_EQ(Long.size(), 8191u);
    char Empty[1] = "";
    EXPECT_EQ(String_Expand(Empty, 0, nullptr, nullptr), 0);
}

TEST_F(StringExpandTest, NestingDeeperThan32Fails) {
    EXPECT_EQ(Expand(Nest("Copy", 32, "x")), "x");
    ExpectFailsUnchanged(Nest("Copy", 33, "x"), nullptr, "macros nested deeper than 32");
    // Thousands of levels would need ~25 KB of stack each in a naive expander.
    ExpectFailsUnchanged(Nest("a", 2000, "x"), nullptr, "nested deeper");
    ExpectFailsUnchanged(Nest("a", 2700, ""), nullptr, "nested deeper");
}

TEST_F(StringExpandTest, CyclesEndAfter1000Replacements) {
    Answers Table;
    Table.Values = {{"A", "{B}"}, {"B", "{A}"}};
    ExpectFailsUnchanged("x{A}y", &Table, "String expansion failed for");
    EXPECT_NE(Captured.find("more than 1000 replacements"), std::string::npos);
    EXPECT_EQ(Table.Asked.size(), 1001u);
    // A value that grows around itself ends too.
    Table.Values = {{"Grow", "+{Grow}"}};
    ExpectFailsUnchanged("{Grow}", &Table, "more than 1000 replacements");
    // 1,000 replacements are allowed, the 1,001st is not.
    Table.Values = {{"N", ""}};
    std::string Thousand;
    for (int i = 0; i < 1000; i++) Thousand += "{N}";
    EXPECT_EQ(Expand(Thousand + "end", &Table), "end");
    ExpectFailsUnchanged(Thousand + "{N}", &Table, "more than 1000 replacements");
}

TEST_F(StringExpandTest, ExpandInternalExpandsOneMacroInAWorkingBuffer) {
    std::vector<char> Work(STRING_EXPAND_WORK_SIZE, 0);
    strcpy(Work.data(), "pre{Upper:{Lower:AB}x}post{Upper:y}");
    EXPECT_EQ(String_ExpandInternal(Work.data(), Work.data() + 3, nullptr, nullptr), 1);
    EXPECT_STREQ(Work.data(), "preABXpost{Upper:y}");
}

TEST_F(StringExpandTest, ExpansionsOnSeveralThreadsShareNothing) {
    std::vector<std::thread> Threads;
    std::vector<int> Failures(4, 0);
    for (int t = 0; t < 4; t++)
        Threads.emplace_back([t, &Failures] {
            for (int i = 0; i < 300; i++) {
                char Text[256];
                snprintf(Text, sizeof(Text), "{Add:%d,%d}-{Upper:{Lower:T%d}}", t, i, t);
                char Expected[256];
                snprintf(Expected, sizeof(Expected), "%d-T%d", t + i, t);
                if (String_Expand(Text, sizeof(Text), nullptr, nullptr) != 1 || strcmp(Text, Expected) != 0)
                    Failures[(size_t)t]++;
            }
        });
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_EQ(Failures, std::vector<int>(4, 0));
}

TEST_F(StringExpandTest, DictionaryStringsAreExpandedThroughTheTree) {
    Answers Table;
    Table.Values = {{"Big", std::string(3000, 'b')}, {"A", "{B}"}, {"B", "{A}"}};
    Dictionary *Root = nullptr, *Child = nullptr, *List = nullptr;
    Dictionary_Create(&Root);
    DictionaryItem *Plain = nullptr, *Number = nullptr, *Grown = nullptr, *Long = nullptr, *Huge = nullptr,
                   *Cycle = nullptr, *Nested = nullptr, *Member = nullptr;
    Dictionary_AddString(Root, "plain", "{Upper:a}-{Unknown}", &Plain);
    Dictionary_AddInt64(Root, "number", 5, &Number);
    Dictionary_AddString(Root, "grown", "{Big}", &Grown);
    std::string LongText = std::string(3000, 'l') + "{Upper:x}" + std::string(3000, 'l');
    Dictionary_AddString(Root, "long", LongText.c_str(), &Long);
    std::string HugeText = std::string(9000, 'h') + "{Upper:x}";
    Dictionary_AddString(Root, "huge", HugeText.c_str(), &Huge);
    Dictionary_AddString(Root, "cycle", "{A}", &Cycle);
    Dictionary_AddDictionary(Root, "child", &Child, nullptr);
    Dictionary_AddString(Child, "nested", "{Lower:NESTED}", &Nested);
    Dictionary_AddList(Child, "list", &List, nullptr);
    Dictionary_AddString(List, nullptr, "{Add:1,1}", &Member);

    EXPECT_EQ(String_ExpandDictionary(Root, &Table, AnswerFromTable), 1);
    auto Text = [](Dictionary *Owner, DictionaryItem *Item) {
        const char *Value = nullptr;
        int32 Length = 0;
        Dictionary_ItemGetBufferPtr(Owner, Item, &Value, &Length);
        return std::string(Value != nullptr ? Value : "", (size_t)Length);
    };
    EXPECT_EQ(Text(Root, Plain), "A-{Unknown}");
    EXPECT_EQ(Text(Root, Number), "5");
    EXPECT_EQ(Text(Root, Grown), std::string(3000, 'b'));  // whole, not cut at 2,047 bytes
    EXPECT_EQ(Text(Root, Long), std::string(3000, 'l') + "X" + std::string(3000, 'l'));
    EXPECT_EQ(Text(Root, Huge), HugeText);
    EXPECT_EQ(Text(Root, Cycle), "{A}");
    EXPECT_EQ(Text(Child, Nested), "nested");
    EXPECT_EQ(Text(List, Member), "2");
    Dictionary_Release(&Root);
}

TEST_F(StringExpandTest, NamesTheMacroThatStaysForGood) {
    // Text, values, the name reported ("" for none) and the text after.
    struct Case {
        const char *Text;
        std::map<std::string, std::string> Values;
        const char *Stuck;
        const char *After;
    };
    const Case Cases[] = {
        {"a {Self} b", {{"Self", "{Self}"}}, "Self", "a {Self} b"},
        {"{Twice}", {{"Twice", "{Twice}{Twice}"}}, "Twice", "{Twice}"},
        {"{A}", {{"A", "{B}"}, {"B", "{A}"}}, "A", "{A}"},
        {"{Fine} {Unknown}", {{"Fine", "ok"}}, "", "ok {Unknown}"},
    };
    for (const Case &Each : Cases) {
        Answers Table;
        Table.Values = Each.Values;
        char Text[256], Stuck[16];
        snprintf(Text, sizeof(Text), "%s", Each.Text);
        String_ExpandNamingStuck(Text, (int32)sizeof(Text), &Table, AnswerFromTable, Stuck, (int32)sizeof(Stuck));
        EXPECT_STREQ(Stuck, Each.Stuck) << Each.Text;
        EXPECT_STREQ(Text, Each.After) << Each.Text;
    }
}

TEST_F(StringExpandTest, KeepThisLeavesItAsWritten) {
    // Without the flag {This} copies the text in front of it; with it, every
    // spelling stays, while the other macros still expand.
    const std::pair<const char *, const char *> Cases[] = {
        {"XYZ{this}|abc{this}{this}", "XYZ{this}|abc{this}{this}"},
        {"keep{THIS}", "keep{THIS}"},
        {"a{This:x}{Upper:b}", "a{This:x}B"},
    };
    for (const auto &[Input, Expected] : Cases) {
        char Text[128];
        snprintf(Text, sizeof(Text), "%s", Input);
        EXPECT_EQ(String_ExpandEx(Text, (int32)sizeof(Text), nullptr, nullptr, STRING_EXPAND_KEEP_THIS, nullptr, 0), 1);
        EXPECT_STREQ(Text, Expected) << Input;
    }
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    Dictionary_SetStringByKey(Root, "path", "keep{this}");
    String_ExpandDictionaryEx(Root, nullptr, nullptr, STRING_EXPAND_KEEP_THIS);
    const char *Path = nullptr;
    Dictionary_GetStringPtrByKey(Root, "path", &Path);
    EXPECT_STREQ(Path, "keep{this}");
    Dictionary_Release(&Root);
}
