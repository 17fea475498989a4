// Registry primitives over the preferences file: the file is read and written
// by Python's plistlib, writers in several processes lose nothing, a writer
// killed mid-write leaves a readable store.
#include "platform/posix/platform_registry.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/posix/preference_store.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

extern char **environ;

namespace {

class PlatformRegistryTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    TempDirectory Temp;
    ScopedEnv Config{"XDG_CONFIG_HOME", (Temp / "config").c_str()};
    ScopedEnv System{"XDG_CONFIG_DIRS", (Temp / "system").c_str()};
    std::string Store() const { return PreferenceStore_UserPath(); }

    // The store as plistlib reads it, printed as Python's repr.
    std::string PythonView() {
        return RunPython("import plistlib,sys\nprint(plistlib.load(open(sys.stdin.read(),'rb')))", Store());
    }
    void PythonWrite(const std::string &Literal, const std::string &Path = "") {
        RunPython("import plistlib,sys,datetime,os\np=sys.stdin.read()\nos.makedirs(os.path.dirname(p),exist_ok=True)\n"
                  "plistlib.dump(" + Literal + ", open(p,'wb'), sort_keys=False)",
                  Path.empty() ? Store() : Path);
    }
};

void *OpenKey(const char *Path) {
    void *Key = nullptr;
    return Platform_RegistryOpen(&Key, 1, 0, Path) ? Key : nullptr;
}

void *CreateKey(const char *Path) {
    void *Key = nullptr;
    return Platform_RegistryCreate(&Key, 1, 0, Path) ? Key : nullptr;
}

void SetString(void *Key, const char *Name, const std::string &Text, int32 Type = 1) {
    ASSERT_TRUE(Platform_RegistrySetType(Key, Type, Name, Text.data(), (int32)Text.size())) << Name;
}

// A child that runs one of the helper tests below, with extra environment.
pid_t Spawn(const std::string &Filter, const std::vector<std::string> &Environment) {
    std::vector<std::string> Texts;
    for (char **At = environ; *At != nullptr; At++) Texts.emplace_back(*At);
    for (const std::string &Extra : Environment) Texts.push_back(Extra);
    std::vector<char *> Env;
    for (std::string &Text : Texts) Env.push_back(Text.data());
    Env.push_back(nullptr);
    std::string Self = SelfExecutable(), Argument = "--gtest_filter=" + Filter, Disabled = "--gtest_also_run_disabled_tests";
    char *Argv[] = {Self.data(), Argument.data(), Disabled.data(), nullptr};
    pid_t Child = -1;
    EXPECT_EQ(posix_spawn(&Child, Self.c_str(), nullptr, nullptr, Argv, Env.data()), 0);
    return Child;
}

int WaitFor(pid_t Child) {
    int Status = 0;
    waitpid(Child, &Status, 0);
    return Status;
}

} // namespace

TEST_F(PlatformRegistryTest, KeysOpenCreateAndWriteBackThroughPlistlib) {
    EXPECT_EQ(OpenKey("A/B"), nullptr);
    void *Key = CreateKey("A/B");
    ASSERT_NE(Key, nullptr);
    EXPECT_EQ(OpenKey("A/B"), nullptr) << "a created key reaches the file when it closes";
    ASSERT_TRUE(Platform_RegistryClose(&Key));
    EXPECT_EQ(Key, nullptr);
    EXPECT_EQ(PythonView(), "{'A': {'B': {}}}\n");
    // "\" separates as "/" does; one leading separator and empty segments are skipped.
    for (const char *Path : {"A/B", "A\\B", "/A/B", "\\A\\B", "A//B/"}) {
        void *Same = OpenKey(Path);
        EXPECT_NE(Same, nullptr) << Path;
        if (Same != nullptr) Platform_RegistryClose(&Same);
    }
    // "." and ".." name no key, also when creating.
    for (const char *Path : {"A/./B", "A/B/..", "../A", "A/../A/B"}) {
        EXPECT_EQ(OpenKey(Path), nullptr) << Path;
        EXPECT_EQ(CreateKey(Path), nullptr) << Path;
    }
    EXPECT_EQ(CreateKey("Z/"), nullptr);

    Key = OpenKey("A/B");
    ASSERT_NE(Key, nullptr);
    SetString(Key, "text", "a<b>&c\r\n\xE2\x82\xAC");
    SetString(Key, "expand", std::string("%HOME%\0", 7), 2);
    int32 Small = -5;
    int64 Wide = 5000000000LL;
    ASSERT_TRUE(Platform_RegistrySetType(Key, 4, "small", &Small, 4));
    ASSERT_TRUE(Platform_RegistrySetType(Key, 11, "wide", &Wide, 8));
    ASSERT_TRUE(Platform_RegistrySetType(Key, 3, "data", "\x00\x01\xFF", 3));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 4, "bad", &Small, 3));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 5, "bad", &Small, 4));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 6, "bad", &Small, 4));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 12, "bad", &Small, 4));
    // Texts the XML store cannot hold are refused, not written into a file no reader accepts.
    EXPECT_FALSE(Platform_RegistrySetType(Key, 1, "ctl", "a\x01", 2));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 1, "utf", "\xC3\x28", 2));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 1, "bad\x02name", "a", 1));
    ASSERT_TRUE(Platform_RegistryClose(&Key));
    EXPECT_EQ(PythonView(), "{'A': {'B': {'text': 'a<b>&c\\r\\n€', 'expand': '%HOME%', 'small': -5, 'wide': "
                            "5000000000, 'data': b'\\x00\\x01\\xff'}}}\n");
    struct stat Status;
    ASSERT_EQ(stat(Store().c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((Temp / "config").c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0700u);
}

TEST_F(PlatformRegistryTest, ValuesWrittenByPlistlibDecode) {
    PythonWrite("{'K': {'s': 'abc', 'd': b'xyz', 'i': -7, 'big': 5000000000, 'huge': 2**64 - 1, 't': True, "
                "'f': False, 'when': datetime.datetime(2001, 2, 3, 4, 5, 6), 'r': 1.5, 'list': [1], "
                "'e': '', 'sub': {}, 'nine': 9}}");
    void *Key = OpenKey("K");
    ASSERT_NE(Key, nullptr);
    char Buffer[16];
    int32 Size = 0, Number = 0;
    int64 Wide = 0;
    EXPECT_TRUE(Platform_RegistryGetType(Key, 1, "s", Buffer, sizeof(Buffer), &Size));
    EXPECT_EQ(Size, 4);
    EXPECT_STREQ(Buffer, "abc");
    EXPECT_TRUE(Platform_RegistryGetSize(Key, "s", &Size));
    EXPECT_EQ(Size, 3);
    // Cut texts are still terminated.
    EXPECT_TRUE(Platform_RegistryGetType(Key, 1, "s", Buffer, 3, &Size));
    EXPECT_EQ(Size, 3);
    EXPECT_STREQ(Buffer, "ab");
    EXPECT_TRUE(Platform_RegistryGetType(Key, 3, "d", Buffer, sizeof(Buffer), &Size));
    EXPECT_EQ(std::string(Buffer, (size_t)Size), "xyz");
    EXPECT_TRUE(Platform_RegistryGetType(Key, 3, "d", nullptr, 0, &Size)) << "size query";
    EXPECT_EQ(Size, 3);
    struct IntCase {
        const char *Name;
        int32 Value;
    };
    for (const IntCase &Row : {IntCase{"i", -7}, {"t", 1}, {"f", 0}, {"when", 981173106}, {"nine", 9}}) {
        EXPECT_TRUE(Platform_RegistryGetType(Key, 4, Row.Name, &Number, 4, &Size)) << Row.Name;
        EXPECT_EQ(Number, Row.Value) << Row.Name;
        EXPECT_TRUE(Platform_RegistryGetType(Key, 11, Row.Name, &Wide, 8, &Size)) << Row.Name;
        EXPECT_EQ(Wide, Row.Value) << Row.Name;
    }
    EXPECT_FALSE(Platform_RegistryGetType(Key, 4, "big", &Number, 4, &Size));
    EXPECT_NE(Captured.find("Platform_RegistryGetValue: Bad number type for requested value \"big\""),
              std::string::npos);
    EXPECT_TRUE(Platform_RegistryGetType(Key, 11, "big", &Wide, 8, &Size));
    EXPECT_EQ(Wide, 5000000000LL);
    EXPECT_FALSE(Platform_RegistryGetType(Key, 11, "huge", &Wide, 8, &Size));
    EXPECT_FALSE(Platform_RegistryGetType(Key, 4, "r", &Number, 4, &Size));
    Captured.clear();
    EXPECT_FALSE(Platform_RegistryGetType(Key, 1, "list", Buffer, sizeof(Buffer), &Size));
    EXPECT_NE(Captured.find("Platform_RegistryGetValue: Unexpected data type 1 (array) for value \"list\""),
              std::string::npos);
    EXPECT_FALSE(Platform_RegistryGetSize(Key, "e", &Size));
    EXPECT_FALSE(Platform_RegistryGetType(Key, 1, "sub", Buffer, sizeof(Buffer), &Size));
    EXPECT_FALSE(Platform_RegistryGetType(Key, 4, "i", &Number, 3, &Size)) << "too small a buffer";
    // Read with the wrong type: the size is 0 and the answer 0.
    Captured.clear();
    EXPECT_FALSE(Platform_RegistryGetType(Key, 2, "s", Buffer, sizeof(Buffer), &Size));
    EXPECT_EQ(Size, 0);
    EXPECT_NE(Captured.find("Platform_RegistryGetType: Bad type for 's' [0x00000001 != 0x00000002]"),
              std::string::npos);

    // Enumeration in the key's own order; values end with an empty name, keys with 0.
    std::vector<std::string> Keys, Values;
    for (int32 Index = 0;; Index++) {
        char Name[32];
        if (!Platform_RegistryEnumKey(Key, Index, Name, sizeof(Name))) break;
        Keys.emplace_back(Name);
    }
    EXPECT_EQ(Keys, (std::vector<std::string>{"sub"}));
    for (int32 Index = 0;; Index++) {
        char Name[32];
        uint8 Data[16];
        int32 Type = 0;
        Platform_RegistryEnumValue(Key, Index, Name, sizeof(Name), Data, sizeof(Data), &Size, &Type);
        if (Name[0] == 0) break;
        Values.push_back(std::string(Name) + ":" + std::to_string(Type));
    }
    EXPECT_EQ(Values, (std::vector<std::string>{"s:1", "d:3", "i:4", "big:11", "huge:0", "t:4", "f:4", "when:4",
                                                "r:0", "list:0", "e:1", "nine:4"}));
    Captured.clear();
    char Name[32];
    EXPECT_FALSE(Platform_RegistryEnumKey(Key, 2, Name, sizeof(Name)));
    EXPECT_NE(Captured.find("Platform_RegistryEnumKey: Enum value is out of the array bound"), std::string::npos);
    EXPECT_FALSE(Platform_RegistryEnumValue(Key, -1, Name, sizeof(Name), nullptr, 0, &Size, &Number));
    EXPECT_TRUE(Platform_RegistryEnumValue(Key, 99, Name, sizeof(Name), nullptr, 0, &Size, &Number));
    EXPECT_STREQ(Name, "");

    // Deleting: values only by value, keys only by key; a value never replaces a key.
    EXPECT_FALSE(Platform_RegistryDeleteValue(Key, "sub"));
    EXPECT_FALSE(Platform_RegistryDeleteKey(Key, "s"));
    EXPECT_FALSE(Platform_RegistrySetType(Key, 1, "sub", "x", 1));
    EXPECT_TRUE(Platform_RegistryDeleteValue(Key, "s"));
    EXPECT_TRUE(Platform_RegistryDeleteKey(Key, "/sub"));
    EXPECT_EQ(CreateKey("K/d"), nullptr) << "a value is not replaced by a new key";
    ASSERT_TRUE(Platform_RegistryClose(&Key));
    EXPECT_EQ(RunPython("import plistlib,sys\nprint(sorted(plistlib.load(open(sys.stdin.read(),'rb'))['K']))", Store()),
              "['big', 'd', 'e', 'f', 'huge', 'i', 'list', 'nine', 'r', 't', 'when']\n");
}

TEST_F(PlatformRegistryTest, RootHandleAndAnyUserPreferences) {
    // With no file of the user, the any-user file answers.
    ASSERT_EQ(mkdir((Temp / "system").c_str(), 0755), 0);
    PythonWrite("{'Shared': {'v': 'from system'}, 'Top': 'value'}", PreferenceStore_AnyUserPath());
    void *Key = OpenKey("Shared");
    ASSERT_NE(Key, nullptr);
    char Buffer[32];
    int32 Size = 0;
    EXPECT_TRUE(Platform_RegistryGetType(Key, 1, "v", Buffer, sizeof(Buffer), &Size));
    EXPECT_STREQ(Buffer, "from system");
    SetString(Key, "v", "mine");
    ASSERT_TRUE(Platform_RegistryClose(&Key));
    EXPECT_EQ(PythonView(), "{'Shared': {'v': 'mine'}}\n") << "changes go to the user's file";

    void *Root = OpenKey("");
    ASSERT_NE(Root, nullptr);
    Captured.clear();
    EXPECT_FALSE(Platform_RegistryEnumKey(Root, 0, Buffer, sizeof(Buffer)));
    EXPECT_NE(Captured.find("Platform_RegistryEnumKey: Enum property keys is not supported for plist"),
              std::string::npos);
    EXPECT_FALSE(Platform_RegistrySetType(Root, 1, "x", "y", 1));
    EXPECT_TRUE(Platform_RegistryDeleteKey(Root, "Shared"));
    EXPECT_EQ(PythonView(), "{}\n") << "a root handle deletes at once";
    EXPECT_TRUE(Platform_RegistryClose(&Root));

    Key = CreateKey("Solo");
    ASSERT_NE(Key, nullptr);
    EXPECT_EQ(PythonView(), "{'Solo': {}}\n") << "a top-level key is stored when created";
    Platform_RegistryClose(&Key);
    PythonWrite("{'Top': 'value', 'T': {}}");
    Root = OpenKey("/");
    ASSERT_NE(Root, nullptr);
    EXPECT_TRUE(Platform_RegistryGetType(Root, 1, "Top", Buffer, sizeof(Buffer), &Size));
    EXPECT_FALSE(Platform_RegistryDeleteValue(Root, "T"));
    EXPECT_TRUE(Platform_RegistryDeleteValue(Root, "Top"));
    Platform_RegistryClose(&Root);
    EXPECT_EQ(CreateKey("Top/x"), nullptr) << "nor is a top-level value replaced";
    EXPECT_EQ(PythonView(), "{'T': {}}\n");
}

TEST_F(PlatformRegistryTest, ClosingWritesBackOnlyItsOwnKey) {
    void *Key = CreateKey("Mine");
    ASSERT_NE(Key, nullptr);
    Platform_RegistryClose(&Key);
    Key = OpenKey("Mine");
    ASSERT_NE(Key, nullptr);
    SetString(Key, "v", "1");
    // Another process writes another key meanwhile.
    RunPython("import plistlib,sys\np=sys.stdin.read()\nd=plistlib.load(open(p,'rb'))\nd['Theirs']={'w':2}\n"
              "plistlib.dump(d,open(p,'wb'))",
              Store());
    ASSERT_TRUE(Platform_RegistryClose(&Key));
    EXPECT_EQ(PythonView(), "{'Mine': {'v': '1'}, 'Theirs': {'w': 2}}\n");

    // A store that does not parse is moved aside, not overwritten.
    FILE *File = fopen(Store().c_str(), "w");
    fputs("<plist><dict>", File);
    fclose(File);
    EXPECT_EQ(OpenKey("Mine"), nullptr);
    Key = CreateKey("Fresh");
    ASSERT_NE(Key, nullptr);
    Platform_RegistryClose(&Key);
    EXPECT_EQ(PythonView(), "{'Fresh': {}}\n");
    EXPECT_EQ(RunPython("import sys\nprint(open(sys.stdin.read()).read())", Store() + ".unreadable"),
              "<plist><dict>\n");
}

// Run as a child: writes its own top-level key 100 times.
TEST(PlatformRegistryChild, DISABLED_Writer) {
    const char *Name = getenv("REGISTRY_CHILD_KEY");
    ASSERT_NE(Name, nullptr) << "runs as a child of ConcurrentWritersLoseNothing";
    RuntimeScope Runtime;
    const char *Size = getenv("REGISTRY_CHILD_SIZE");
    std::string Payload(Size != nullptr ? (size_t)atol(Size) : 16, 'p');
    for (int32 Round = 0; Round < 100 || getenv("REGISTRY_CHILD_FOREVER") != nullptr; Round++) {
        void *Key = nullptr;
        ASSERT_TRUE(Platform_RegistryCreate(&Key, 1, 0, Name));
        ASSERT_TRUE(Platform_RegistrySetType(Key, 4, "round", &Round, 4));
        ASSERT_TRUE(Platform_RegistrySetType(Key, 3, "payload", Payload.data(), (int32)Payload.size()));
        ASSERT_TRUE(Platform_RegistryClose(&Key));
    }
}

TEST_F(PlatformRegistryTest, ConcurrentWritersLoseNothing) {
    std::string Home = "XDG_CONFIG_HOME=" + Temp / "config";
    std::vector<pid_t> Children;
    for (const char *Name : {"First", "Second", "Third"})
        Children.push_back(Spawn("PlatformRegistryChild.DISABLED_Writer", {Home, std::string("REGISTRY_CHILD_KEY=") + Name}));
    // Readers take no lock and still always find a whole file.
    int32 Reads = 0;
    bool Running = true;
    while (Running) {
        PreferenceValue Root;
        EXPECT_NE(PreferenceStore_Load(Store(), Root), PreferenceLoad::Unreadable);
        Reads++;
        Running = false;
        for (pid_t Child : Children) Running = Running || waitpid(Child, nullptr, WNOHANG) == 0;
    }
    for (pid_t Child : Children) waitpid(Child, nullptr, 0);
    EXPECT_GT(Reads, 0);
    EXPECT_EQ(RunPython("import plistlib,sys\nd=plistlib.load(open(sys.stdin.read(),'rb'))\n"
                        "print(sorted((k, v['round']) for k, v in d.items()))",
                        Store()),
              "[('First', 99), ('Second', 99), ('Third', 99)]\n");
}

// Run as a child: sets values of its own names under one shared key, each
// through its own handle (as a page's setString does), in many rounds.
void WriteNames(const std::string &Prefix) {
    for (int32 Round = 0; Round < 60; Round++) {
        void *Key = nullptr;
        ASSERT_TRUE(Platform_RegistryCreate(&Key, 1, 0, "Software\\Probe"));
        const std::string Name = Prefix + std::to_string(Round);
        ASSERT_TRUE(Platform_RegistrySetType(Key, 1, Name.c_str(), Name.data(), (int32)Name.size()));
        ASSERT_TRUE(Platform_RegistryClose(&Key)) << Name;
    }
}

TEST(PlatformRegistryChild, DISABLED_NameWriter) {
    const char *Prefix = getenv("REGISTRY_CHILD_PREFIX");
    ASSERT_NE(Prefix, nullptr) << "runs as a child of WritersOfOneKeyKeepEachOthersValues";
    RuntimeScope Runtime;
    WriteNames(Prefix);
}

// Two processes and two threads write disjoint names under one key at once:
// a close applies only what its handle changed, so every write stays.
TEST_F(PlatformRegistryTest, WritersOfOneKeyKeepEachOthersValues) {
    std::string Home = "XDG_CONFIG_HOME=" + Temp / "config";
    std::vector<pid_t> Children;
    for (const char *Prefix : {"a", "b"})
        Children.push_back(Spawn("PlatformRegistryChild.DISABLED_NameWriter", {Home, std::string("REGISTRY_CHILD_PREFIX=") + Prefix}));
    std::thread First(WriteNames, "c"), Second(WriteNames, "d");
    First.join();
    Second.join();
    for (pid_t Child : Children) {
        int Status = WaitFor(Child);
        EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    }
    EXPECT_EQ(RunPython("import plistlib,sys\nd=plistlib.load(open(sys.stdin.read(),'rb'))['Software']['Probe']\n"
                        "print(len(d), all(k == v for k, v in d.items()))",
                        Store()),
              "240 True\n");
    // A name another writer turned into a key meanwhile is not overwritten:
    // the close says the value was not stored.
    void *Key = OpenKey("Software/Probe");
    ASSERT_NE(Key, nullptr);
    SetString(Key, "late", "value");
    void *Other = CreateKey("Software/Probe/late");
    ASSERT_NE(Other, nullptr);
    ASSERT_TRUE(Platform_RegistryClose(&Other));
    EXPECT_FALSE(Platform_RegistryClose(&Key));
    EXPECT_EQ(RunPython("import plistlib,sys\nprint(plistlib.load(open(sys.stdin.read(),'rb'))['Software']['Probe']['late'])",
                        Store()),
              "{}\n");
}

TEST_F(PlatformRegistryTest, WriterKilledMidWriteLeavesAReadableStore) {
    void *Key = CreateKey("Before");
    ASSERT_NE(Key, nullptr);
    Platform_RegistryClose(&Key);
    pid_t Child = Spawn("PlatformRegistryChild.DISABLED_Writer", {"XDG_CONFIG_HOME=" + Temp / "config",
                                                          "REGISTRY_CHILD_KEY=Big", "REGISTRY_CHILD_SIZE=8000000",
                                                          "REGISTRY_CHILD_FOREVER=1"});
    // Kill it while a temporary file of its is being written.
    bool Seen = false;
    while (!Seen && waitpid(Child, nullptr, WNOHANG) == 0) {
        DIR *Folder = opendir((Temp / "config").c_str());
        while (dirent *Entry = Folder != nullptr ? readdir(Folder) : nullptr)
            if (strstr(Entry->d_name, ".plist.") != nullptr && strstr(Entry->d_name, ".lock") == nullptr &&
                strstr(Entry->d_name, ".unreadable") == nullptr)
                Seen = true;
        if (Folder != nullptr) closedir(Folder);
    }
    kill(Child, SIGKILL);
    int Status = WaitFor(Child);
    ASSERT_TRUE(Seen);
    EXPECT_TRUE(WIFSIGNALED(Status));
    PreferenceValue Root;
    EXPECT_EQ(PreferenceStore_Load(Store(), Root), PreferenceLoad::Loaded);
    EXPECT_NE(Root.Find("Before"), nullptr);
    EXPECT_EQ(RunPython("import plistlib,sys\nprint('Before' in plistlib.load(open(sys.stdin.read(),'rb')))", Store()),
              "True\n");
    // The next writer is not held up by the dead one's lock, and removes the
    // temporary file the dead one left.
    Key = CreateKey("After");
    ASSERT_NE(Key, nullptr);
    EXPECT_TRUE(Platform_RegistryClose(&Key));
    std::string Left;
    DIR *Folder = opendir((Temp / "config").c_str());
    while (dirent *Entry = Folder != nullptr ? readdir(Folder) : nullptr)
        if (strstr(Entry->d_name, ".plist.") != nullptr && strstr(Entry->d_name, ".lock") == nullptr) Left += Entry->d_name;
    if (Folder != nullptr) closedir(Folder);
    EXPECT_EQ(Left, "");
}

// A FIFO at the preferences path is refused without blocking (an alarm
// bounds a read that would block); a link there is not followed.
TEST_F(PlatformRegistryTest, PathsThatHoldNoRegularFileAreRefused) {
    PythonWrite("{'Kept': {'a': 1}}", Temp / "outside.plist");
    for (const char *Make : {"mkfifo \"$F\"", "ln -s \"$O\" \"$F\""}) {
        SCOPED_TRACE(Make);
        const std::string Command = "mkdir -p '" + Temp / "config" + "' && rm -f '" + Store() + "'; F='" + Store() +
                                    "' O='" + Temp / "outside.plist" + "'; " + Make;
        ASSERT_EQ(system(Command.c_str()), 0);
        alarm(20);
        PreferenceValue Root;
        EXPECT_EQ(PreferenceStore_Load(Store(), Root), PreferenceLoad::Refused);
        EXPECT_EQ(OpenKey("Kept"), nullptr);
        const PreferenceValue Value = PreferenceValue::MakeString("x");
        EXPECT_FALSE(PreferenceStore_SetValue("New", &Value));
        alarm(0);
        EXPECT_NE(Captured.find("not a regular file"), std::string::npos);
    }
    EXPECT_EQ(PythonView().find("New"), std::string::npos);
}
