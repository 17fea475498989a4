// Interop libraries: the fixture family (tests/fixtures) is a shared object
// with its own copy of the runtime. Loaded through the bridge it exports only
// the five entry points, logs into the host's log, publishes its objects in
// the host's instance table, fires into the host's notification center, keeps
// its own memory state, and is unloaded only once every load has been matched
// by an unload request and its last instance is gone.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>

#include "runtime/class.h"
#include "runtime/event_queue.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

const std::string FixturePath = std::string(RUNTIME_BINARY_DIR) + "/tests/fixtures/interop_fixture.so";

std::string Create(const char *ClassName) {
    char Buffer[INTEROP_ID_SIZE] = "";
    if (!Interop_DispatchCreateInstance(ClassName, Buffer, (int32)sizeof(Buffer), nullptr, nullptr, nullptr))
        return "";
    return Buffer;
}

bool FixtureMapped() {
    void *Handle = dlopen(FixturePath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (Handle == nullptr) return false;
    dlclose(Handle);
    return true;
}

// Polls the process step until the unload thread has closed the object and
// a step has freed the record; the step itself never waits. (A request made
// while the family unloads changes nothing.)
bool UnloadCompletes() {
    for (int Spin = 0; Spin < 200000; Spin++) {
        Interop_Process();
        if (!FixtureMapped() && !Interop_FreeLibraryByName(FixturePath.c_str())) return true;
        sched_yield();
    }
    return false;
}

std::string Fired;
int32 RecordFire(void *, const char *Type, const char *Name, const char *Instance, Dictionary *) {
    Fired = std::string(Type) + "/" + Name + "/" + Instance;
    return TRUE;
}

class InteropLibraryTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        StartBridge();
    }
    void TearDown() override {
        EndBridge();
        RuntimeTest::TearDown();
    }
};

} // namespace

TEST(InteropLibraryExports, OnlyTheFiveEntryPointsAreExported) {
    FILE *Pipe = popen(("nm -D --defined-only '" + FixturePath + "'").c_str(), "r");
    ASSERT_NE(Pipe, nullptr);
    std::set<std::string> Names;
    char Line[512];
    while (fgets(Line, sizeof(Line), Pipe) != nullptr) {
        std::string Text(Line);
        size_t Space = Text.find_last_of(' ');
        Names.insert(Text.substr(Space + 1, Text.size() - Space - 2));
    }
    ASSERT_EQ(pclose(Pipe), 0);
    EXPECT_EQ(Names, (std::set<std::string>{"Interop_CreateInstance", "Interop_Load", "Interop_SetOption",
                                            "Interop_SetOverride", "Interop_Unload"}));
    // Nor does the host offer its runtime to loaded objects.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "Log_PrintInt"), nullptr);
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "Interop_SetOverride"), nullptr);
}

TEST_F(InteropLibraryTest, FamilySharesTheHostsLogInstancesAndNotifications) {
    Dictionary *Config = nullptr;
    Dictionary_Create(&Config);
    Dictionary_SetStringByKey(Config, "mode", "fast");
    Interop_SetConfigHandle(Config);
    InteropLibrary *Library = Interop_LoadLibrary(FixturePath.c_str());
    ASSERT_NE(Library, nullptr);
    Interop_SetConfigHandle(nullptr);
    Dictionary_Release(&Config);
    EXPECT_NE(Captured.find("Fixture family loaded\n"), std::string::npos);

    std::string Id = Create("Fixture.Counter");
    ASSERT_EQ(Id.size(), 32u);
    EXPECT_NE(Captured.find("Fixture counter created (" + Id + ")\n"), std::string::npos);
    // The object's id went into the host's instance table.
    void *Object = Class_ConvertFromInstanceId(Id.c_str());
    ASSERT_NE(Object, nullptr);
    EXPECT_EQ(std::string(static_cast<const char *>(Object)), Id);

    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"add\",\"value\":5}"), "{\"returnValue\":5}");
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"add\",\"value\":7}"), "{\"returnValue\":12}");
    Interop_Process();
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"ticks\"}"), "{\"returnValue\":1}");
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"lastOption\"}"), "{\"returnValue\":\"mode=fast\"}");
    Interop_SetLibraryOption(Library, "fixture.level", "2");
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"lastOption\"}"), "{\"returnValue\":\"fixture.level=2\"}");

    // Its own memory state, not the host's.
    char Host[64];
    String_Print(Host, (int32)sizeof(Host), "%p", (void *)GlobalMemory);
    std::string Answer = InvokeJson(Id, "{\"method\":\"memoryState\"}");
    EXPECT_EQ(Answer.rfind("{\"returnValue\":\"", 0), 0u) << Answer;
    EXPECT_EQ(Answer.find(Host), std::string::npos) << Answer << " " << Host;

    NotificationCenter_AddObserver("Fixture", "Fired", &Fired, RecordFire);
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"fire\"}"), "{\"returnValue\":true}");
    EXPECT_EQ(Fired, "Fixture/Fired/" + Id);
    NotificationCenter_RemoveObserver("Fixture", "Fired", &Fired, RecordFire);

    Interop_DispatchReleaseInstance(Id.c_str());
    Interop_Process();
    EXPECT_NE(Captured.find("Fixture counter released (" + Id + ")\n"), std::string::npos);
    EXPECT_EQ(Class_ConvertFromInstanceId(Id.c_str()), nullptr);
}

TEST_F(InteropLibraryTest, LoadedTwiceNeedsTwoUnloadRequests) {
    InteropLibrary *First = Interop_LoadLibrary(FixturePath.c_str());
    InteropLibrary *Second = Interop_LoadLibrary(FixturePath.c_str());
    ASSERT_NE(First, nullptr);
    EXPECT_EQ(Second, First);

    Interop_FreeLibrary(First);
    for (int Step = 0; Step < 5; Step++) Interop_Process();
    EXPECT_EQ(Captured.find("Fixture family unloaded\n"), std::string::npos);
    std::string Id = Create("Fixture.Counter");
    ASSERT_FALSE(Id.empty());

    // The last request waits for the last instance.
    Interop_FreeLibrary(First);
    for (int Step = 0; Step < 5; Step++) Interop_Process();
    EXPECT_EQ(Captured.find("Fixture family unloaded\n"), std::string::npos);
    EXPECT_TRUE(FixtureMapped());

    Interop_DispatchReleaseInstance(Id.c_str());
    ASSERT_TRUE(UnloadCompletes());
    EXPECT_NE(Captured.find("Fixture family unloaded\n"), std::string::npos);
    EXPECT_EQ(Captured.find("Not all memory"), std::string::npos);
    // One dlclose was enough: the object is gone from the process.
    EXPECT_FALSE(FixtureMapped());
    EXPECT_EQ(Create("Fixture.Counter"), "");
}

TEST_F(InteropLibraryTest, LoadFailuresAreReportedAndClosed) {
    EXPECT_EQ(Interop_LoadLibrary("/nonexistent/interop.so"), nullptr);
    EXPECT_NE(Captured.find("Unable to load library (/nonexistent/interop.so)"), std::string::npos);
    EXPECT_NE(Captured.find("Failed to load interop (/nonexistent/interop.so)\n"), std::string::npos);

    // A shared object without the entry points.
    EXPECT_EQ(Interop_LoadLibrary("libz.so.1"), nullptr);
    size_t Create = Captured.find("Failed to load interop: Interop_CreateInstance not found.\n");
    size_t Unload = Captured.find("Failed to load interop: Interop_Unload not found.\n");
    ASSERT_NE(Create, std::string::npos);
    ASSERT_NE(Unload, std::string::npos);
    EXPECT_LT(Create, Unload);
    EXPECT_NE(Captured.find("Failed to load interop (libz.so.1)\n"), std::string::npos);
}

TEST_F(InteropLibraryTest, RemoveUnloadsALoadedFamily) {
    ASSERT_NE(Interop_LoadLibrary(FixturePath.c_str()), nullptr);
    Interop_Remove();
    EXPECT_NE(Captured.find("Fixture family unloaded\n"), std::string::npos);
    EXPECT_FALSE(FixtureMapped());
    Interop_Init();
}
