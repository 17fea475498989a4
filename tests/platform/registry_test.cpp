// The Registry module: whitelist decisions (including the two bypasses it
// must refuse), typed helpers with their defaults, 64-bit values and the
// {Registry:...} macro, all against the preferences file as plistlib reads it.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "crypto/trust/authenticate.h"
#include "platform/posix/preference_store.h"
#include "runtime/memory.h"
#include "runtime/text/string_expand.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class RegistryTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Registry_Init();
    }
    void TearDown() override {
        Registry_Remove();
        Registry_AuthorizeOverride(nullptr);
        Authenticate_SetEnabled(1);
        RuntimeTest::TearDown();
    }
    TempDirectory Temp;
    ScopedEnv Config{"XDG_CONFIG_HOME", (Temp / "config").c_str()};
    ScopedEnv System{"XDG_CONFIG_DIRS", (Temp / "system").c_str()};
    std::string View() {
        struct stat Status;
        if (stat(PreferenceStore_UserPath().c_str(), &Status) != 0) return "none";
        return RunPython("import plistlib,sys\nprint(plistlib.load(open(sys.stdin.read(),'rb')))",
                         PreferenceStore_UserPath());
    }
};

int32 AllowOnlyReads(int32 Access, int32 Class, const char *Key) {
    (void)Class;
    (void)Key;
    return Access == REGISTRY_ACCESS_READ;
}

std::string Expand(const char *Text) {
    char Buffer[8192];
    snprintf(Buffer, sizeof(Buffer), "%s", Text);
    EXPECT_TRUE(String_Expand(Buffer, (int32)sizeof(Buffer), nullptr, nullptr));
    return Buffer;
}

} // namespace

TEST_F(RegistryTest, WhitelistDecisions) {
    Captured.clear();
    EXPECT_FALSE(Registry_Authorize(0, 1, "Software/Example"));
    EXPECT_NE(Captured.find("WARNING"), std::string::npos);
    EXPECT_NE(Captured.find("Registry path not found in whitelist (0) (user/Software/Example/)"), std::string::npos);

    Registry_WhitelistAdd(0, "user\\Software\\ReadOnly");
    Registry_WhitelistAdd(1, "user/Software/Example");
    Registry_WhitelistAdd(1, "USER/software/example/"); // already present
    Registry_WhitelistAdd(1, "machine/Software/Machine/./Sub/../");
    Registry_WhitelistAdd(1, ("user/Software/Exa" + std::string(400, 'x')).c_str()); // too long: not added
    EXPECT_NE(Captured.find("Added read only registry path to whitelist (user/Software/ReadOnly/)"), std::string::npos);
    EXPECT_NE(Captured.find("Added read write registry path to whitelist (machine/Software/Machine/)"),
              std::string::npos);
    struct Case {
        int32 Access, Class;
        const char *Key;
        bool Allowed;
    };
    const std::string TooLong = "Software/Example/" + std::string(400, 'x');
    const Case Cases[] = {
        {0, 1, "Software/Example", true},        {1, 1, "Software/Example", true},
        {1, 1, "software\\EXAMPLE\\Sub", true},  {1, 1, "/Software/Example/Sub/Deeper", true},
        {1, 1, "Software/ExampleTwo", false},    {1, 1, "Software", false},
        {0, 1, "Software/Exaxxxx", false},
        {1, 3, "Software/Example", false},       {0, 1, "Software/ReadOnly/x", true},
        {1, 1, "Software/ReadOnly/x", false},    {1, 3, "Software/Machine/Sub", true},
        {1, 1, "Software//Example", true},
        // Relative segments are refused: the store would not resolve them as the whitelist does.
        {1, 1, "Outside/../Software/Example/x", false}, {0, 1, "Software/Example/./x", false},
        {0, 1, "Software/Example/..", false},
        // A path cut to fit the buffer could match an entry the whole path does not.
        {0, 1, TooLong.c_str(), false},
    };
    for (const Case &Row : Cases)
        EXPECT_EQ(Registry_Authorize(Row.Access, Row.Class, Row.Key), Row.Allowed ? 1 : 0) << Row.Key;

    // The hook replaces the decision; with authentication off everything passes.
    Registry_AuthorizeOverride(AllowOnlyReads);
    EXPECT_TRUE(Registry_Authorize(0, 2, "Anything"));
    EXPECT_FALSE(Registry_Authorize(1, 1, "Software/Example"));
    Registry_AuthorizeOverride(nullptr);
    Authenticate_SetEnabled(0);
    Captured.clear();
    EXPECT_TRUE(Registry_Authorize(1, 2, "Anything/../x"));
    EXPECT_NE(Captured.find("Skipping registry authentication (1) (2) (Anything/../x)"), std::string::npos);
    Authenticate_SetEnabled(1);
    Registry_Remove();
    EXPECT_FALSE(Registry_Authorize(0, 1, "Software/Example"));
}

TEST_F(RegistryTest, ReadOnlyEntriesAdmitNoWriteAndNoDeletion) {
    Registry_WhitelistAdd(1, "user/Software");
    ASSERT_TRUE(Registry_HelperSetString("default", "default", "user", "Software/Example/Sub", "v", "kept"));
    Registry_Remove();
    Registry_Init();
    Registry_WhitelistAdd(0, "user/Software/Example");
    void *Key = nullptr;
    EXPECT_TRUE(Registry_OpenReadOnly(&Key, 0, 1, "Software/Example"));
    Registry_Close(&Key);
    EXPECT_FALSE(Registry_Open(&Key, 0, 1, "Software/Example"));
    EXPECT_FALSE(Registry_Create(&Key, 0, 1, "Software/Example/New"));
    EXPECT_TRUE(Registry_HelperDoesExist("default", "user", "Software/Example/Sub"));
    // Deleting a key (and its subtree) takes write access to it.
    EXPECT_FALSE(Registry_HelperDeleteKey("default", "user", "Software/Example/Sub"));
    EXPECT_FALSE(Registry_HelperDeleteKey("default", "user", "Software/Example"));
    EXPECT_FALSE(Registry_HelperDeleteValue("default", "user", "Software/Example/Sub", "v"));
    EXPECT_EQ(View(), "{'Software': {'Example': {'Sub': {'v': 'kept'}}}}\n");
}

TEST_F(RegistryTest, RelativeSegmentsCannotLeaveTheWhitelist) {
    Registry_WhitelistAdd(1, "user/Software/Example");
    ASSERT_TRUE(Registry_HelperSetString("default", "default", "user", "Software/Example/x", "v", "1"));
    for (const char *Key : {"Outside/../Software/Example/x", "Software/Example/../../Outside",
                            "Software\\Example\\..\\..\\Outside", "Software/Example/./x"}) {
        EXPECT_FALSE(Registry_HelperSetString("default", "default", "user", Key, "v", "2")) << Key;
        EXPECT_FALSE(Registry_HelperCreateKey("default", "user", Key)) << Key;
        EXPECT_FALSE(Registry_HelperDeleteKey("default", "user", Key)) << Key;
        EXPECT_FALSE(Registry_DeleteKey(0, 1, Key)) << Key;
    }
    EXPECT_EQ(View(), "{'Software': {'Example': {'x': {'v': '1'}}}}\n");
    // With nothing checked, the store still takes no relative segment.
    Authenticate_SetEnabled(0);
    EXPECT_FALSE(Registry_DeleteKey(0, 1, "Software/Example/x/.."));
    EXPECT_FALSE(Registry_HelperSetString("default", "default", "user", "Outside/../Software/Example/x", "v", "2"));
    EXPECT_EQ(View(), "{'Software': {'Example': {'x': {'v': '1'}}}}\n");
}

// A view text that names no view is refused, never read as the default
// view: nothing is written, read or deleted through it.
TEST_F(RegistryTest, ViewsThatNameNoViewAreRefused) {
    Registry_WhitelistAdd(1, "user/Software/Example");
    ASSERT_TRUE(Registry_HelperSetString("default", "default", "user", "Software/Example/x", "v", "1"));
    char Text[8];
    for (const std::string &Name : {std::string(""), std::string("12abc"), std::string("../.."), std::string(1 << 20, '6')}) {
        EXPECT_FALSE(Registry_HelperSetString(Name.c_str(), "default", "user", "Software/Example", "v", "x"));
        EXPECT_FALSE(Registry_HelperCreateKey(Name.c_str(), "user", "Software/Example/Made"));
        EXPECT_FALSE(Registry_HelperDoesExist(Name.c_str(), "user", "Software/Example/x"));
        EXPECT_FALSE(Registry_HelperGetString(Name.c_str(), "user", "Software/Example/x", "v", "dflt", Text, sizeof(Text)));
        EXPECT_STREQ(Text, "dflt");
        EXPECT_FALSE(Registry_HelperDeleteValue(Name.c_str(), "user", "Software/Example/x", "v"));
        EXPECT_FALSE(Registry_HelperDeleteKey(Name.c_str(), "user", "Software/Example/x"));
    }
    EXPECT_EQ(View(), "{'Software': {'Example': {'x': {'v': '1'}}}}\n");
    EXPECT_TRUE(Registry_HelperDeleteKey("DEFAULT", "user", "Software/Example/x"));
}

TEST_F(RegistryTest, HelpersAndDefaults) {
    Registry_WhitelistAdd(1, "user/Software/Example");
    EXPECT_FALSE(Registry_HelperSetString("default", "default", "unknown", "Software/Example", "v", "x"));
    EXPECT_FALSE(Registry_HelperSetString("default", "default", "nonsense", "Software/Example", "v", "x"));
    EXPECT_EQ(View(), "none") << "nothing written";

    EXPECT_TRUE(Registry_HelperCreateKey("64", "user", "Software/Example/Made"));
    EXPECT_TRUE(Registry_HelperCreateKey("64", "user", "Software/Example/Made"));
    EXPECT_TRUE(Registry_HelperSetString("32", "O:BAG:BAD:(A;;GA;;;WD)", "User", "Software/Example", "Name", "Ada"));
    EXPECT_TRUE(Registry_HelperSetInt32("default", "default", "user", "Software/Example", "Count", -3));
    EXPECT_TRUE(Registry_HelperSetInt64("default", "default", "user", "Software/Example", "Big", 5000000000LL));
    EXPECT_TRUE(Registry_HelperSetData("default", "default", "user", "Software/Example", "Blob", "\x00\x01", 2));
    EXPECT_EQ(View(), "{'Software': {'Example': {'Made': {}, 'Name': 'Ada', 'Count': -3, 'Big': 5000000000, "
                      "'Blob': b'\\x00\\x01'}}}\n");

    char Text[64];
    struct Case {
        const char *Name, *Expected;
        int32 Answer;
    };
    for (const Case &Row : {Case{"Name", "Ada", 1}, {"Count", "-3", 1}, {"Big", "5000000000", 1}, {"None", "dflt", 0}}) {
        EXPECT_EQ(Registry_HelperGetKeyValue("default", "user", "Software/Example", Row.Name, "dflt", Text,
                                             sizeof(Text)),
                  Row.Answer)
            << Row.Name;
        EXPECT_STREQ(Text, Row.Expected) << Row.Name;
    }
    EXPECT_FALSE(Registry_HelperGetString("default", "machine", "Software/Example", "Name", "dflt", Text, sizeof(Text)));
    EXPECT_STREQ(Text, "dflt") << "not in the whitelist";
    int32 Narrow = 0;
    int64 Wide = 0;
    EXPECT_TRUE(Registry_HelperGetInt32("default", "user", "Software/Example", "Count", 7, &Narrow));
    EXPECT_EQ(Narrow, -3);
    EXPECT_FALSE(Registry_HelperGetInt32("default", "user", "Software/Example", "Big", 7, &Narrow));
    EXPECT_EQ(Narrow, 7);
    EXPECT_TRUE(Registry_HelperGetInt64("default", "user", "Software/Example", "Big", 7, &Wide));
    EXPECT_EQ(Wide, 5000000000LL);
    EXPECT_TRUE(Registry_HelperGetInt64("default", "user", "Software/Example", "Count", 7, &Wide));
    EXPECT_EQ(Wide, -3);
    EXPECT_FALSE(Registry_HelperGetInt64("default", "user", "Software/Example", "Name", 7, &Wide));
    EXPECT_EQ(Wide, 7);

    uint8 *Data = nullptr;
    int32 Length = 0;
    EXPECT_TRUE(Registry_HelperGetData("default", "user", "Software/Example", "Blob", "zz", 2, &Data, &Length));
    ASSERT_EQ(Length, 2);
    EXPECT_EQ(std::string((char *)Data, 3), std::string("\x00\x01\x00", 3));
    Registry_HelperReleaseData(nullptr, nullptr, nullptr, nullptr, nullptr, 0, &Data, &Length);
    EXPECT_EQ(Data, nullptr);
    EXPECT_FALSE(Registry_HelperGetData("default", "user", "Software/Example", "None", "zz", 2, &Data, &Length));
    EXPECT_EQ(std::string((char *)Data, 3), std::string("zz\0", 3));
    Registry_HelperReleaseData(nullptr, nullptr, nullptr, nullptr, nullptr, 0, &Data, &Length);
    EXPECT_FALSE(Registry_HelperGetData("default", "user", "Software/Example", "None", "", 0, &Data, &Length));
    EXPECT_EQ(Data, nullptr);

    EXPECT_TRUE(Registry_HelperDeleteValue("default", "user", "Software/Example", "Name"));
    EXPECT_FALSE(Registry_HelperDeleteValue("default", "user", "Software/Example", "Name"));
    EXPECT_TRUE(Registry_HelperDeleteKey("default", "user", "Software/Example/Made"));
    EXPECT_FALSE(Registry_HelperDeleteKey("default", "user", "Software/Example/Made"));
    EXPECT_EQ(View(), "{'Software': {'Example': {'Count': -3, 'Big': 5000000000, 'Blob': b'\\x00\\x01'}}}\n");
}

TEST_F(RegistryTest, NamesAndNumbers) {
    EXPECT_STREQ(Registry_ConvertClass(6), "desktopuser");
    EXPECT_STREQ(Registry_ConvertClass(4), "root");
    EXPECT_STREQ(Registry_ConvertView(2), "64");
    EXPECT_EQ(Registry_ConvertClassFromString("MACHINE"), 3);
    EXPECT_EQ(Registry_ConvertClassFromString("other"), 0);
    EXPECT_EQ(Registry_ConvertViewFromString("32"), 1);
    EXPECT_EQ(Registry_ConvertViewFromString("128"), 0);
    EXPECT_DEATH(Registry_ConvertClass(7),
                 "Assertion failed \\(Value >= 0 && Value <= PLATFORM_REGISTRYCLASS_DESKTOPUSER\\)\nRegistry class "
                 "out side of range");
    EXPECT_DEATH(Registry_ConvertView(-1), "Registry view out side of range");
}

TEST_F(RegistryTest, RegistryMacro) {
    Registry_WhitelistAdd(1, "user/Software/Example");
    Registry_WhitelistAdd(0, "user/");
    ASSERT_TRUE(Registry_HelperSetInt64("default", "default", "user", "Software/Example", "Level", 5000000000LL));
    ASSERT_TRUE(Registry_HelperSetString("default", "default", "user", "Software/Example", "Name", "a,b"));
    EXPECT_EQ(Expand("[{Registry:default,user,Software/Example/Level}]"), "[5000000000]");
    EXPECT_EQ(Expand("[{registry:64,user,Software\\Example\\Name}]"), "[a,b]");
    EXPECT_EQ(Expand("[{Registry:default,user,Software/Example/Missing}]"), "[]");
    EXPECT_EQ(Expand("[{Registry:default,machine,Software/Example/Name}]"), "[]");
    // A top-level value is read from the root key.
    RunPython("import plistlib,sys\np=sys.stdin.read()\nd=plistlib.load(open(p,'rb'))\nd['Level']=42\n"
              "plistlib.dump(d,open(p,'wb'))",
              PreferenceStore_UserPath());
    EXPECT_EQ(Expand("[{Registry:default,user,Level}]"), "[42]");
    // Without its fields the macro expands to nothing and touches nothing.
    EXPECT_EQ(Expand("[{Registry:default,user}]"), "[]");
    EXPECT_EQ(Expand("[{Registry}]"), "[]");
    char Output[16] = "garbage";
    EXPECT_EQ(Registry_ExpandKey(nullptr, "Registry", "default", Output, sizeof(Output)), 1);
    EXPECT_STREQ(Output, "");
    EXPECT_EQ(Registry_ExpandKey(nullptr, "Other", "default,user,x", Output, sizeof(Output)), 0);
}
