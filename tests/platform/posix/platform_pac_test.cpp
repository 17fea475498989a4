// Proxy auto-config evaluation: every utility function against a Python
// reference with a fixed clock and time zone, cross-checked in node; URLs as
// values (no script injection); hostile scripts (throw, endless loop, huge
// answers, runaway memory); the host parser.
#include <arpa/inet.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/platform_proxy.h"
#include "runtime/posix/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

double ProcessSeconds() {
    timespec Now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
    return (double)Now.tv_sec + (double)Now.tv_nsec / 1e9;
}

class PacTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        PlatformJSCore_Remove(); // a fresh heap per test
        // Evaluations end by what they compute, never by time: an hour lets
        // a loaded machine take as long as it needs. The time limit has a
        // case of its own.
        PlatformJSCore_SetTimeLimit(3600 * 1000);
    }
    void TearDown() override {
        PlatformJSCore_SetTimeLimit(0);
        PlatformJSCore_Remove();
        RuntimeTest::TearDown();
    }
    // The answer, or "<0>" when the evaluation answered 0.
    std::string Evaluate(const std::string &Script, const std::string &URL = "http://example.com/", int32 Size = 1 << 20) {
        std::string Buffer((size_t)Size, '\0');
        if (!Platform_ProxyGetForURLWithScript(Script.c_str(), nullptr, URL.c_str(), Buffer.data(), Size)) {
            EXPECT_EQ(Buffer[0], 0);
            return "<0>";
        }
        return Buffer.c_str();
    }
};

TEST_F(PacTest, TheFunctionReceivesURLAndHostAsValues) {
    const std::string Script = "function FindProxyForURL(url, host) { return 'PROXY ' + host + ' ' + url; }";
    EXPECT_EQ(Evaluate(Script, "https://user:pw@Example.org:8443/a?b#c"),
              "PROXY Example.org https://user:pw@Example.org:8443/a?b#c");
    // A URL holding quotes cannot run as script, nor redefine the function.
    const std::string Hostile = "http://x/\");FindProxyForURL=function(){return \"PROXY e:1\"};(\"";
    EXPECT_EQ(Evaluate(Script, Hostile), "PROXY x " + Hostile);
    EXPECT_EQ(Evaluate("", "http://a/"), "PROXY a http://a/"); // definitions stay in the heap
}

TEST_F(PacTest, HostileScriptsAnswerZeroWithAMessage) {
    EXPECT_EQ(Evaluate("var calls = 0; function FindProxyForURL() { calls++; return 'DIRECT'; }"), "DIRECT");
    EXPECT_EQ(Evaluate("throw new Error('broken');"), "<0>");
    EXPECT_NE(Captured.find("PAC script failed: broken"), std::string::npos) << Captured;
    EXPECT_EQ(Evaluate("FindProxyForURL = function() { return 'C' + calls; };"), "C1"); // not called when it threw
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return 42; }"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { }"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { throw 'inside'; }"), "<0>");
    EXPECT_NE(Captured.find("FindProxyForURL failed: inside"), std::string::npos);
    EXPECT_EQ(Evaluate("FindProxyForURL = 7;"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return isResolvableEx('a') ? 'A' : 'B'; }"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return timeRange(1, 2, 3) ? 'A' : 'B'; }"), "<0>");
    EXPECT_NE(Captured.find("timeRange: bad number of arguments"), std::string::npos);
    EXPECT_EQ(Evaluate("this is not script"), "<0>");
}

TEST_F(PacTest, EndlessLoopsAreCutAtTheTimeLimit) {
    PlatformJSCore_SetTimeLimit(200);
    // The processor time spent stays well under the default limit's 5 s
    // however loaded the machine is: it cannot pass the wall clock's.
    const double Start = ProcessSeconds();
    EXPECT_EQ(Evaluate("for (;;) {}"), "<0>");
    // A loop that catches the timeout still ends.
    EXPECT_EQ(Evaluate("function FindProxyForURL() { for (;;) { try { for (;;) {} } catch (e) {} } }"), "<0>");
    // A built-in that runs long inside one instruction (found by the fuzzer).
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return '' + new Array(1e9); }"), "<0>");
    EXPECT_LT(ProcessSeconds() - Start, 5);
    EXPECT_NE(Captured.find("execution timeout"), std::string::npos) << Captured;
    // The heap is still usable afterwards.
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return 'DIRECT'; }"), "DIRECT");
}

TEST_F(PacTest, HugeAnswersAreCutAndRunawayMemoryFails) {
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return new Array(1 << 20).join('x'); }", "http://a/", 16),
              std::string(15, 'x'));
    EXPECT_EQ(Evaluate("function FindProxyForURL() { var s = 'xx'; for (;;) s = s + s; }"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { var a = []; for (;;) a.push({}); }"), "<0>");
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return 'DIRECT'; }"), "DIRECT");
    // A script that keeps the heap full: the call cannot even take its
    // arguments and fails instead of ending the process; the full context
    // is then dropped.
    EXPECT_EQ(Evaluate("var keep = [], size = 1 << 20;\n"
                       "while (size >= 64) { try { for (;;) keep.push(new Uint8Array(size)); } catch (e) { size >>= 1; } }\n"
                       "function FindProxyForURL(url) { return url.length > 0 ? 'FULL' : 'EMPTY'; }",
                       "http://a/" + std::string(1 << 20, 'u')),
              "<0>");
    EXPECT_NE(Captured.find("the script context is reset"), std::string::npos);
    EXPECT_EQ(Evaluate("keep = null;"), "<0>"); // a fresh context: its definitions are gone
    EXPECT_EQ(Evaluate("function FindProxyForURL(url) { return 'FRESH'; }", "http://a/" + std::string(1 << 20, 'u')),
              "FRESH");
    char Tiny[1];
    EXPECT_EQ(Platform_ProxyGetForURLWithScript("", nullptr, "http://a/", Tiny, 0), 0);
}

TEST_F(PacTest, NativeResolverAndOwnAddress) {
    EXPECT_EQ(Evaluate("function FindProxyForURL() { return [dnsResolve('localhost'), typeof dnsResolve(), "
                       "typeof dnsResolve(1), typeof dnsResolve('a', 'b'), typeof dnsResolve('no-such-host.invalid'),"
                       " isResolvable('localhost'), isInNet('localhost', '127.0.0.0', '255.0.0.0')].join(); }"),
              "127.0.0.1,undefined,undefined,undefined,undefined,true,true");
    std::string Own = Evaluate("function FindProxyForURL() { return myIpAddress(); }");
    in_addr Address;
    EXPECT_EQ(inet_pton(AF_INET, Own.c_str(), &Address), 1) << Own;
}

// ---- Utility functions against Python and node ----

// Random calls of every utility function, as a JSON array of [name, args...].
std::string Cases() {
    std::mt19937 Random(3);
    auto Pick = [&](std::vector<std::string> From) { return From[Random() % From.size()]; };
    auto Word = [&](const std::string &Alphabet, int Max) {
        std::string Text;
        for (int Count = (int)(Random() % (Max + 1)); Count > 0; Count--) Text += Alphabet[Random() % Alphabet.size()];
        return Text;
    };
    auto Quote = [](const std::string &Text) { return "\"" + Text + "\""; };
    auto Ip = [&]() {
        if (Random() % 5 == 0) return Word("0123456789.", 12);
        std::string Text;
        for (int Part = 0; Part < 4; Part++) Text += (Part ? "." : "") + std::to_string(Random() % (Random() % 4 ? 256 : 300));
        return Text;
    };
    auto ValidIp = [&]() {
        return std::to_string(Random() % 256) + "." + std::to_string(Random() % 256) + "." +
               std::to_string(Random() % 256) + "." + std::to_string(Random() % 256);
    };
    auto Mask = [&]() {
        uint32 Bits = Random() % 33;
        uint32 Value = Bits == 0 ? 0 : 0xffffffffu << (32 - Bits);
        if (Random() % 6 == 0) Value = Random();
        return std::to_string(Value >> 24) + "." + std::to_string((Value >> 16) & 255) + "." +
               std::to_string((Value >> 8) & 255) + "." + std::to_string(Value & 255);
    };
    const std::vector<std::string> Days = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT", "sun", "XYZ"};
    const std::vector<std::string> Months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    auto DateValue = [&](char Kind) {
        if (Kind == 'D') return std::to_string(1 + Random() % 31);
        if (Kind == 'M') return Quote(Pick(Months));
        return std::to_string(2020 + Random() % 10);
    };
    std::string Out = "[";
    auto Add = [&](const std::string &Call) { Out += (Out.size() > 1 ? "," : "") + Call; };
    for (int Index = 0; Index < 300; Index++) {
        const std::string A = Word("ab.", 6), B = Word("ab.", 4);
        Add("[\"dnsDomainIs\"," + Quote(A) + "," + Quote(B) + "]");
        Add("[\"dnsDomainLevels\"," + Quote(A) + "]");
        Add("[\"isPlainHostName\"," + Quote(A) + "]");
        Add("[\"localHostOrDomainIs\"," + Quote(B) + "," + Quote(A) + "]");
        Add("[\"shExpMatch\"," + Quote(Word("ab.+(", 6)) + "," + Quote(Word("ab.*?+(", 5)) + "]");
        const std::string Address = Ip();
        Add("[\"isValidIpAddress\"," + Quote(Address) + "]");
        // Addresses only: names are resolved, which the node stand-in cannot.
        Add("[\"isInNet\"," + Quote(ValidIp()) + "," + Quote(Ip()) + "," + Quote(Mask()) + "]");
        Add("[\"weekdayRange\"," + Quote(Pick(Days)) + (Random() % 2 ? "," + Quote(Pick(Days)) : "") +
            (Random() % 2 ? ",\"GMT\"" : "") + "]");
        const std::vector<std::string> Shapes = {"D", "M", "Y", "DM", "MY", "DMY"};
        const std::string Shape = Pick(Shapes);
        std::string Args;
        const int Groups = Random() % 4 == 0 ? 1 : 2;
        for (int Group = 0; Group < Groups; Group++)
            for (char Kind : (Groups == 1 ? Shape.substr(0, 1) : Shape)) Args += "," + DateValue(Kind);
        Add("[\"dateRange\"" + Args + (Random() % 2 ? ",\"GMT\"" : "") + "]");
        const int Count = Pick({"1", "2", "4", "6"})[0] - '0';
        std::string Times;
        for (int Value = 0; Value < Count; Value++)
            Times += "," + std::to_string(Random() % ((Count == 1 || Count == 2 || Value % (Count / 2) == 0) ? 24 : 60));
        Add("[\"timeRange\"" + Times + (Random() % 2 ? ",\"GMT\"" : "") + "]");
    }
    return Out + "]";
}

// Fixed clocks (UTC milliseconds) and the zone the tests run in: five hours
// west of UTC, without daylight saving.
const long long Clocks[] = {1700000000000LL, 1704067199000LL, 1719791999000LL, 1735689600000LL + 3600000LL * 3};

std::string Harness(long long Clock, const std::string &Calls) {
    return "var __RealDate = Date; Date = function () { return new __RealDate(" + std::to_string(Clock) +
           "); };\nvar __cases = " + Calls +
           ";\nfunction FindProxyForURL(url, host) { var out = []; for (var i = 0; i < __cases.length; i++) {"
           " var c = __cases[i]; try { out.push(eval(c[0]).apply(null, c.slice(1))); } catch (e) { out.push('throw'); } }"
           " return JSON.stringify(out); }\n";
}

const char *Reference = R"PY(
import datetime, fnmatch, ipaddress, json, re, sys
clock, cases, ours = json.loads(sys.stdin.read())
utc = datetime.datetime.fromtimestamp(clock / 1000, datetime.timezone.utc)
local = utc - datetime.timedelta(hours=5)
DAYS = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT']
MONTHS = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC']
def within(s, n, e): return s <= n <= e if s <= e else (n >= s or n <= e)
def valid(t):
    p = t.split('.')
    return len(p) == 4 and all(re.fullmatch('[0-9]{1,3}', x) and int(x) <= 255 for x in p)
def addr(t): return int(ipaddress.IPv4Address(bytes(int(x) for x in t.split('.'))))
def isInNet(a, p, m):
    if not valid(p) or not valid(m) or not valid(a): return False
    return addr(a) & addr(m) == addr(p) & addr(m)
def split_gmt(args):
    gmt = len(args) > 0 and args[-1] == 'GMT'
    return (args[:-1] if gmt else args), (utc if gmt else local)
def weekdayRange(*args):
    args, now = split_gmt(list(args))
    if len(args) not in (1, 2): return False
    if any(a not in DAYS for a in args): return False
    first = DAYS.index(args[0]); last = DAYS.index(args[-1])
    return within(first, now.isoweekday() % 7, last)
def group(values):
    kinds, key = '', 0
    for v in values:
        if v in MONTHS:
            if 'M' in kinds or 'Y' in kinds: return None
            kinds += 'M'; key += MONTHS.index(v) * 100
        elif isinstance(v, int) and v >= 32:
            if 'Y' in kinds: return None
            kinds += 'Y'; key += v * 10000
        elif isinstance(v, int) and v >= 1:
            if kinds: return None
            kinds += 'D'; key += v
        else: return None
    return kinds, key
def datekey(kinds, now):
    return ((now.day if 'D' in kinds else 0) + ((now.month - 1) * 100 if 'M' in kinds else 0)
            + (now.year * 10000 if 'Y' in kinds else 0))
def dateRange(*args):
    args, now = split_gmt(list(args))
    if len(args) < 1 or len(args) > 6 or (len(args) > 1 and len(args) % 2): return False
    if len(args) == 1:
        g = group(args)
        return g is not None and datekey(g[0], now) == g[1]
    a, b = group(args[:len(args) // 2]), group(args[len(args) // 2:])
    if a is None or b is None or a[0] != b[0]: return False
    return within(a[1], datekey(a[0], now), b[1])
def timeRange(*args):
    args, now = split_gmt(list(args))
    s = now.hour * 3600 + now.minute * 60 + now.second
    if len(args) == 1: return now.hour == args[0]
    if len(args) == 2: return within(args[0] * 3600, s, args[1] * 3600 + 3599)
    if len(args) == 4: return within(args[0] * 3600 + args[1] * 60, s, args[2] * 3600 + args[3] * 60 + 59)
    if len(args) == 6: return within(args[0] * 3600 + args[1] * 60 + args[2], s, args[3] * 3600 + args[4] * 60 + args[5])
    return 'throw'
F = {
    'dnsDomainIs': lambda h, d: h.endswith(d),
    'dnsDomainLevels': lambda h: h.count('.'),
    'isPlainHostName': lambda h: '.' not in h,
    'localHostOrDomainIs': lambda h, d: h == d or d.startswith(h + '.'),
    'shExpMatch': lambda t, p: fnmatch.fnmatchcase(t, p),
    'isValidIpAddress': lambda t: bool(valid(t)),
    'isInNet': isInNet, 'weekdayRange': weekdayRange, 'dateRange': dateRange, 'timeRange': timeRange,
}
wrong = [(c, o, F[c[0]](*c[1:])) for c, o in zip(cases, ours) if o != F[c[0]](*c[1:])]
print('ok' if len(ours) == len(cases) and not wrong else repr(wrong[:10]))
)PY";

TEST_F(PacTest, UtilityFunctionsMatchPythonAndNode) {
    setenv("TZ", "XST5", 1);
    tzset();
    const std::string Calls = Cases();
    const bool HaveNode = RequirePart(HaveCommand("node"), "node (the cross-check in node)");
    TempDirectory Temp;
    for (long long Clock : Clocks) {
        PlatformJSCore_Remove();
        const std::string Script = Harness(Clock, Calls);
        const std::string Ours = Evaluate(Script);
        ASSERT_EQ(RunPython(Reference, "[" + std::to_string(Clock) + "," + Calls + "," + Ours + "]"), "ok\n") << Clock;
        if (!HaveNode) continue;
        const std::string File = Temp / "pac.js";
        std::ofstream(File) << "function dnsResolve(h) { return null; }\nfunction myIpAddress() { return '127.0.0.1'; }\n"
                            << PlatformJSCore_GetUtilityScript() << Script
                            << "\nprocess.stdout.write(FindProxyForURL('http://a/', 'a'));\n";
        FILE *Pipe = popen(("TZ=XST5 node " + File).c_str(), "r");
        std::string Node;
        char Chunk[65536];
        for (size_t Count; (Count = fread(Chunk, 1, sizeof(Chunk), Pipe)) > 0;) Node.append(Chunk, Count);
        pclose(Pipe);
        EXPECT_EQ(Node, Ours) << "node disagrees at " << Clock;
    }
    unsetenv("TZ");
    tzset();
}

TEST_F(PacTest, HooksOfTheProxyResolver) {
    char Buffer[64] = "x";
    int32 Found = 7;
    EXPECT_EQ(Platform_ProxyGetForURL("http://a/", Buffer, sizeof(Buffer), 0, &Found), 1);
    EXPECT_EQ(Found, 0);
    static int32 Resets = 0;
    Platform_ProxyGetForURLOverride([](const char *URL, char *Out, int32 Length, int32 Selector, int32 *OutFound) {
        snprintf(Out, (size_t)Length, "%s|%d", URL, Selector);
        *OutFound = 1;
        return (int32)2;
    });
    Platform_ProxyResetOverride([]() { return ++Resets; });
    EXPECT_EQ(Platform_ProxyGetForURL("http://b/", Buffer, sizeof(Buffer), 9, &Found), 2);
    EXPECT_STREQ(Buffer, "http://b/|9");
    EXPECT_EQ(Found, 1);
    EXPECT_EQ(Platform_ProxyReset(), 1);
    EXPECT_EQ(Resets, 1);
    Platform_ProxyGetForURLOverride(nullptr);
    Platform_ProxyResetOverride(nullptr);
    EXPECT_EQ(Platform_ProxyReset(), 1);
    EXPECT_EQ(Resets, 1);
}

} // namespace
