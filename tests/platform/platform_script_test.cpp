// "TQX.Platform" end to end through the bridge: selectors against zlib.crc32
// for the methods this build answers, and their answers checked against
// Python (os.environ, os.readlink, os.uname, email.utils, pwd, plistlib) or
// fixed texts; missing parameters answer the defaults. Credentials are also
// read and written as another user (nobody) under setpriv.
#include "platform/platform_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "runtime/posix/platform_stand_in.h"
#include "runtime/script/api_gen.h"
#include "runtime/text/crc.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"
#include "tests/support/system.h"

namespace {

constexpr ScriptSelector Selectors[] = {
    {"getName", 0x58437bd7},        {"getBitness", 0x4699d37b},       {"getEnvironmentVariable", 0x6f5a6d98},
    {"setEnvironmentVariable", 0x9a0cb4d9}, {"translateError", 0xe8cdf3b8}, {"timeToRFC1123", 0x07bfa61d},
    {"access", 0x06692b54},         {"getProcessPath", 0x3bef935b},   {"findProcess", 0xead8c82e},
    {"findWindow", 0x48a1ac89},     {"shellOpen", 0xf3559519},        {"preventSystemSleep", 0xcd62c621},
    {"reboot", 0xc153848c},         {"createShortcut", 0x81fe2bb0},   {"removeShortcut", 0xe3b8dbed},
    {"authenticateX509", 0x4ad55b1c},
    {"getShortName", 0x59fc4220},   {"getSystemTheme", 0xfb7dba32},   {"getUserName", 0x4cd17bcc},
    {"getUserLanguage", 0x1ed34f4b}, {"getUserCountry", 0xe18fbd97},
    {"getCredential", 0x2b56d600},  {"setCredential", 0x5fe81a4c},    {"removeCredential", 0x943cbedd},
    {"getWebCredential", 0xcf618ab4}, {"setWebCredential", 0xfd77f8ad}, {"removeWebCredential", 0x4a734581},
    {"getDataStore", 0x453a06f7},   {"getFileDataStore", 0xd3ee7032},
};

int32 Reboots = 0;
int32 RecordReboot(void) {
    Reboots++;
    return TRUE;
}

class PlatformScriptTest : public ScriptPageTest {
  protected:
    PlatformScriptTest() : ScriptPageTest("TQX.Platform") {}
    void SetUp() override {
        ScriptPageTest::SetUp();
        Platform_SetRebootSink(RecordReboot);
    }
    void TearDown() override {
        Platform_SetRebootSink(nullptr);
        ScriptPageTest::TearDown();
    }
};

TEST_F(PlatformScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(PlatformScriptTest, AnswersAgainstReferences) {
    const std::string Self = std::to_string(getpid());
    const std::string Reference = RunPython(
        "import os, platform, email.utils\n"
        "print(os.readlink('/proc/" + Self + "/exe'))\n"
        "print(64 if os.uname().machine.lower() == 'x86_64' else 32)\n"
        "print(email.utils.formatdate(0, usegmt=True))\n"
        "print(email.utils.formatdate(784111777, usegmt=True))\n");
    std::vector<std::string> Lines;
    size_t At = 0;
    for (size_t Next; (Next = Reference.find('\n', At)) != std::string::npos; At = Next + 1)
        Lines.push_back(Reference.substr(At, Next - At));
    ASSERT_EQ(Lines.size(), 4u);
    const struct {
        std::string Request, Answer;
    } Cases[] = {
        {R"({"method":"getProcessPath","id":)" + Self + "}", R"({"returnValue":)" + JsonQuote(Lines[0]) + "}"},
        {R"({"method":"getBitness"})", R"({"returnValue":)" + Lines[1] + "}"},
        {R"({"method":"timeToRFC1123","date":0})", R"({"returnValue":)" + JsonQuote(Lines[2]) + "}"},
        {R"({"method":"timeToRFC1123","date":784111777})", R"({"returnValue":)" + JsonQuote(Lines[3]) + "}"},
        {R"({"method":"setEnvironmentVariable","name":"PLATFORM_SCRIPT_X","value":"v1"})", R"({"returnValue":true})"},
        {R"({"method":"getEnvironmentVariable","name":"PLATFORM_SCRIPT_X"})", R"({"returnValue":"v1"})"},
        {R"({"method":"translateError","error":0})", R"({"returnValue":"None"})"},
        {R"({"method":"translateError"})", ""},
        {R"({"method":"findProcess","path":"no-such-process-anywhere-*"})", R"({"returnValue":-1})"},
        {R"({"method":"findProcess"})", ""},
        {R"({"method":"access","path":"/","permissions":0,"recurse":false})", R"({"returnValue":true})"},
        {R"({"method":"findWindow","caption":"","className":"","searchOnlyVisible":true})",
         R"({"returnValue":false})"},
        {R"({"method":"preventSystemSleep","prevent":true})", R"({"returnValue":true})"},
        {R"({"method":"preventSystemSleep","prevent":false})", R"({"returnValue":true})"},
        {R"({"method":"reboot"})", R"({"returnValue":true})"},
        {R"({"method":"createShortcut","executable":"a","parameter":"b","iconId":0,"location":"c",)"
         R"("description":"d","iconLocation":"e","flags":0})",
         R"({"returnValue":false})"},
        {R"({"method":"createShortcut","executable":"a","parameter":"b","iconId":0,"location":"c",)"
         R"("description":"d","flags":0})",
         ""},
        {R"({"method":"removeShortcut","location":"c","description":"d"})", R"({"returnValue":false})"},
        {R"({"method":"authenticateX509","certStoreName":"app","path":"/bin/true"})", R"({"returnValue":false})"},
        {R"({"method":"noSuchMethod"})", ""},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Call(Case.Request), Case.Answer) << Case.Request;
    EXPECT_EQ(Reboots, 1);
    EXPECT_NE(Captured.find("Parameter missing (Platform.createShortcut::iconLocation)"), std::string::npos);
    // A process running this program is found by its path: this one, or
    // another test of the same program that the runner started beside it.
    std::string Found = Call(R"({"method":"findProcess","path":)" + JsonQuote(Lines[0]) + "}");
    const std::string Prefix = R"({"returnValue":)";
    ASSERT_EQ(Found.compare(0, Prefix.size(), Prefix), 0) << Found;
    std::string Pid = Found.substr(Prefix.size(), Found.size() - Prefix.size() - 1);
    char Exe[4096] = {};
    // (That other one may have ended since.)
    if (Pid != Self && readlink(("/proc/" + Pid + "/exe").c_str(), Exe, sizeof(Exe) - 1) <= 0) return;
    if (Pid == Self) strncpy(Exe, Lines[0].c_str(), sizeof(Exe) - 1);
    EXPECT_EQ(std::string(Exe), Lines[0]) << Found;
}

TEST_F(PlatformScriptTest, UserFactsAgainstPython) {
    ScopedEnv All("LC_ALL", nullptr), Messages("LC_MESSAGES", "fr_CA.UTF-8@euro"), Lang("LANG", "de_AT.UTF-8");
    PlatformStandIn_Set("THEME", "Dark");
    const std::string Reference = RunPython(
        "import os, pwd\n"
        "print(pwd.getpwuid(os.geteuid()).pw_name)\n"
        "v = next(os.environ[k] for k in ('LC_ALL', 'LC_MESSAGES', 'LANG') if os.environ.get(k))\n"
        "lang, country = v.split('.')[0].split('@')[0].split('_')\n"
        "print(lang)\nprint(country)\n");
    std::string Answered;
    for (const char *Method : {"getShortName", "getSystemTheme", "getUserName", "getUserLanguage", "getUserCountry"}) {
        std::string Answer = Call(std::string(R"({"method":")") + Method + "\"}");
        const std::string Prefix = R"({"returnValue":")";
        const bool Texted = Answer.size() >= Prefix.size() + 2 && Answer.compare(0, Prefix.size(), Prefix) == 0;
        Answered += (Texted ? Answer.substr(Prefix.size(), Answer.size() - Prefix.size() - 2) : Answer) + "\n";
    }
    PlatformStandIn_Set("THEME", nullptr);
    EXPECT_EQ(Answered, "mac\ndark\n" + Reference);
    EXPECT_EQ(Call(R"({"method":"getSystemTheme"})"), R"({"returnValue":"light"})");
    // A locale without "_" gives the system's language and country, not its own.
    TempDirectory Temp;
    std::ofstream(Temp / "locale") << "LANG=\"pt_BR.UTF-8\"\n";
    ScopedEnv Short("LC_MESSAGES", "fr");
    PlatformStandIn_Set("LOCALE_CONF", (Temp / "locale").c_str());
    const std::string Language = Call(R"({"method":"getUserLanguage"})");
    const std::string Country = Call(R"({"method":"getUserCountry"})");
    PlatformStandIn_Set("LOCALE_CONF", nullptr);
    EXPECT_EQ(Language, R"({"returnValue":"pt"})");
    EXPECT_EQ(Country, R"({"returnValue":"BR"})");
}

TEST_F(PlatformScriptTest, DataStoresAnswerInBase64OrNull) {
    TempDirectory Temp;
    // A versioned, zlib-compressed store in an ELF section stamped by objcopy.
    const std::string Encoded = RunPython(
        "import base64, struct, subprocess, sys, zlib\n"
        "d = sys.stdin.read()\n"
        "text = b'{\"data\": \"' + b'x' * 9000 + b'\"}'\n"
        "data = zlib.compress(text)\n"
        "head = b'TQXDS3' + struct.pack('>HII', 1, len(data), len(text))\n"
        "area = data.ljust(1024, b'\\0')\n"
        "open(d + '/blob', 'wb').write(head + struct.pack('>I', zlib.crc32(head + bytes(4) + area)) + area)\n"
        "subprocess.run(['objcopy', '--add-section', '.datastore=' + d + '/blob', '/bin/true', d + '/stamped'],"
        " check=True)\n"
        "print(base64.b64encode(text).decode(), end='')\n",
        Temp.Path);
    ASSERT_GT(Encoded.size(), (size_t)APIGEN_TEXT_SIZE) << "the answer outgrows the text buffer";
    EXPECT_EQ(Call(R"({"method":"getFileDataStore","path":)" + JsonQuote(Temp / "stamped") + "}"),
              R"({"returnValue":)" + JsonQuote(Encoded) + "}");
    EXPECT_EQ(Call(R"({"method":"getFileDataStore","path":"/bin/true"})"), R"({"returnValue":null})");
    EXPECT_EQ(Call(R"({"method":"getFileDataStore","path":)" + JsonQuote(Temp / "missing") + "}"),
              R"({"returnValue":null})");
    EXPECT_EQ(Call(R"({"method":"getFileDataStore"})"), "");
    // This test program carries no store.
    EXPECT_EQ(Call(R"({"method":"getDataStore"})"), R"({"returnValue":null})");
}

// Credentials in a store of their own; the file is read back with plistlib.
class PlatformScriptCredentialTest : public PlatformScriptTest {
  protected:
    // Anyone may walk down to the store: only its own modes keep others out.
    SharedDirectory Temp;
    ScopedEnv Data{"XDG_DATA_HOME", (Temp / "data").c_str()};
    std::string Store() {
        return RunPython("import glob, plistlib, sys\n"
                         "d = plistlib.load(open(glob.glob(sys.stdin.read() + '/*/credentials.plist')[0], 'rb'))\n"
                         "print(sorted((i['service'], i['account'], i['secret'].decode()) for i in d.get('generic', [])))\n"
                         "print(sorted((i['protocol'], i['server'], i['port'], i['securityDomain'], i['account'],"
                         " i['secret'].decode()) for i in d.get('internet', [])))\n",
                         Temp / "data");
    }
};

// 0 when the command, run as nobody, succeeds; its output in Output.
int AsNobody(const std::string &Command, std::string *Output = nullptr) {
    std::string Text;
    int Status = -1;
    if (FILE *Pipe = popen(("setpriv --reuid=65534 --regid=65534 --clear-groups " + Command + " 2>&1").c_str(), "r")) {
        char Buffer[4096];
        for (size_t Count; (Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0;) Text.append(Buffer, Count);
        Status = pclose(Pipe);
    }
    if (Output != nullptr) *Output = Text;
    return Status;
}

TEST_F(PlatformScriptCredentialTest, StoredReadBackAndRemoved) {
    const std::string Empty = R"({"returnValue":false,"username":"","password":""})";
    const struct {
        std::string Request, Answer;
    } Cases[] = {
        {R"({"method":"getCredential","target":"svc"})", Empty},
        {R"({"method":"removeCredential","target":"svc"})", R"({"returnValue":false})"},
        {R"({"method":"setCredential","target":"svc","username":"ada","password":"p\"w\u00e4"})",
         R"({"returnValue":true})"},
        {R"({"method":"setCredential","target":"old","username":"bob","password":"x"})", R"({"returnValue":true})"},
        {R"({"method":"setCredential","target":"old","username":"bob2","password":"y"})", R"({"returnValue":true})"},
        {R"({"method":"getCredential","target":"svc"})",
         R"({"returnValue":true,"username":"ada","password":"p\"w\u00E4"})"},
        // A missing or mistyped parameter is refused before the store is touched.
        {R"({"method":"setCredential","target":"svc","username":"ada"})", ""},
        {R"({"method":"setCredential","target":"svc","username":"ada","password":7})", ""},
        {R"({"method":"getCredential"})", ""},
        {R"({"method":"setWebCredential","accessType":0,"host":"example.org","realm":"r","username":"u",)"
         R"("password":"w1"})",
         R"({"returnValue":true})"},
        {R"({"method":"setWebCredential","accessType":0,"host":"example.org","realm":"r","username":"u2",)"
         R"("password":"w2"})",
         R"({"returnValue":true})"},
        {R"({"method":"setWebCredential","accessType":1,"host":"proxy:8080","realm":"","username":"p",)"
         R"("password":"pp"})",
         R"({"returnValue":true})"},
        {R"({"method":"getWebCredential","accessType":0,"host":"example.org:80","realm":"r"})",
         R"({"returnValue":true,"username":"u2","password":"w2"})"},
        {R"({"method":"getWebCredential","accessType":1,"host":"example.org","realm":"r"})", Empty},
        {R"({"method":"getWebCredential","accessType":1,"host":"proxy:8080","realm":""})",
         R"({"returnValue":true,"username":"p","password":"pp"})"},
        {R"({"method":"setWebCredential","accessType":9,"host":"h","realm":"","username":"u","password":"w"})",
         R"({"returnValue":false})"},
        {R"({"method":"getWebCredential","accessType":-1,"host":"h","realm":""})", Empty},
        {R"({"method":"getWebCredential","accessType":0,"host":"example.org"})", ""},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Call(Case.Request), Case.Answer) << Case.Request;
    EXPECT_NE(Captured.find("Parameter missing (Platform.setCredential::password)"), std::string::npos);
    EXPECT_EQ(Store(), "[('old', 'bob2', 'y'), ('svc', 'ada', 'p\"w\u00e4')]\n"
                       "[('htps', 'example.org', 80, 'r', 'u2', 'w2'), ('htpx', 'proxy', 8080, '', 'p', 'pp'), "
                       "('htsx', 'proxy', 8080, '', 'p', 'pp'), ('http', 'example.org', 80, 'r', 'u2', 'w2')]\n");
    EXPECT_EQ(Call(R"({"method":"removeCredential","target":"svc"})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"removeWebCredential","accessType":0,"host":"example.org","realm":"r"})"),
              R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"removeWebCredential","accessType":0,"host":"example.org","realm":"r"})"),
              R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"getCredential","target":"svc"})"), Empty);
    EXPECT_EQ(Store(), "[('old', 'bob2', 'y')]\n"
                       "[('htpx', 'proxy', 8080, '', 'p', 'pp'), ('htsx', 'proxy', 8080, '', 'p', 'pp')]\n");
}

TEST_F(PlatformScriptCredentialTest, AnotherUserNeitherReadsNorWritesTheStore) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    ASSERT_EQ(Call(R"({"method":"setCredential","target":"svc","username":"ada","password":"secret"})"),
              R"({"returnValue":true})");
    // A copy of this program, where the user nobody reaches it.
    const std::string Child = "'" + Temp.Copy(SelfExecutable()) +
                              "' --gtest_also_run_disabled_tests --gtest_filter=PlatformScriptOtherUser.DISABLED_";
    std::string Output;
    // Through the bridge as nobody, against root's store: nothing is read or written.
    EXPECT_EQ(AsNobody(Child + "Refused", &Output), 0) << Output;
    EXPECT_EQ(AsNobody("cat " + Temp.Path + "/data/*/credentials.plist"), 256);
    EXPECT_EQ(Store(), "[('svc', 'ada', 'secret')]\n[]\n");
    // In a store of its own, nobody keeps a credential only it can read.
    const std::string Own = Temp / "nobody";
    ASSERT_EQ(mkdir(Own.c_str(), 0777), 0);
    ASSERT_EQ(chmod(Own.c_str(), 0777), 0);
    EXPECT_EQ(AsNobody("env XDG_DATA_HOME=" + Own + " " + Child + "Own", &Output), 0) << Output;
    EXPECT_EQ(RunPython("import glob, os, plistlib, stat, sys\n"
                        "p = glob.glob(sys.stdin.read() + '/*/credentials.plist')[0]\n"
                        "s = os.stat(p)\n"
                        "print(s.st_uid, oct(stat.S_IMODE(s.st_mode)), oct(stat.S_IMODE(os.stat(os.path.dirname(p)).st_mode)))\n"
                        "print([(i['service'], i['account'], i['secret']) for i in plistlib.load(open(p, 'rb'))['generic']])\n",
                        Own),
              "65534 0o600 0o700\n[('mine', 'nob', b'pw')]\n");
}

// Run as nobody by the test above.
class PlatformScriptOtherUser : public PlatformScriptTest {};

TEST_F(PlatformScriptOtherUser, DISABLED_Refused) {
    EXPECT_EQ(Call(R"({"method":"getCredential","target":"svc"})"),
              R"({"returnValue":false,"username":"","password":""})");
    EXPECT_EQ(Call(R"({"method":"setCredential","target":"svc","username":"eve","password":"x"})"),
              R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"removeCredential","target":"svc"})"), R"({"returnValue":false})");
}

TEST_F(PlatformScriptOtherUser, DISABLED_Own) {
    EXPECT_EQ(Call(R"({"method":"setCredential","target":"mine","username":"nob","password":"pw"})"),
              R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"getCredential","target":"mine"})"),
              R"({"returnValue":true,"username":"nob","password":"pw"})");
}

} // namespace
