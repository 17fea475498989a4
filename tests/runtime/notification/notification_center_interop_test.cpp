// Notification center script observers: notifications reach the pages as
// items of the bridge's batch ("type", "notification", "sender",
// "callbackId", "retained", "info", in that order), reference announcements
// never do, and removal by a callback id that several observers share drops
// the record of the named key's observer.
//
// The gtest thread is the main thread; a recording execute registration
// stands for the page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/thread.h"
#include "tests/support/bridge.h"
#include "tests/support/runtime.h"

namespace {

std::vector<std::string> Batches;

int32 RecordBatch(void *, const char *, const char *Batch, void *) {
    Batches.emplace_back(Batch);
    return TRUE;
}

std::vector<std::string> TakeBatches() {
    Interop_Process();
    std::vector<std::string> Taken;
    Taken.swap(Batches);
    return Taken;
}

class NotificationCenterInteropTest : public RuntimeTest {
  protected:
    InteropExecuteCallback *Page = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        StartBridge();
        Interop_AddExecuteCallback(&Page, this, RecordBatch);
        Batches.clear();
    }
    void TearDown() override {
        Interop_RemoveExecuteCallback(&Page);
        EndBridge();
        RuntimeTest::TearDown();
    }
};

TEST_F(NotificationCenterInteropTest, NotificationsBecomeBatchItemsInMemberOrder) {
    ASSERT_EQ(NotificationCenter_AddObserverInterop("Task", "Status", "c1"), 1);
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetStringByKey(Info, "state", "done");
    NotificationCenter_Fire("task", "STATUS", "abc", Info);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    Dictionary_Release(&Info);
    EXPECT_EQ(TakeBatches(),
              (std::vector<std::string>{
                  "[{\"type\":\"Task\",\"notification\":\"Status\",\"sender\":\"abc\",\"callbackId\":\"c1\","
                  "\"info\":{\"state\":\"done\"}},{\"type\":\"Task\",\"notification\":\"Status\",\"sender\":"
                  "\"Global\",\"callbackId\":\"c1\",\"info\":{}}]"}));
    EXPECT_EQ(NotificationCenter_RemoveObserverInterop("Task", "Status", "C1"), 1);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_TRUE(TakeBatches().empty());
}

TEST_F(NotificationCenterInteropTest, WildcardPageObserversSeeFiredNamesButNoReferenceEvents) {
    ASSERT_EQ(NotificationCenter_AddObserverInterop("Global", "Global", "all"), 1);
    NotificationCenter_AddRefInteropReference("0123456789abcdef0123456789abcdef");
    NotificationCenter_ReleaseInteropReference("0123456789abcdef0123456789abcdef");
    NotificationCenter_FireInterop("Repository", "UpToDate", "r1", "{\"files\":2}");
    EXPECT_EQ(TakeBatches(), (std::vector<std::string>{
                                 "[{\"type\":\"Repository\",\"notification\":\"UpToDate\",\"sender\":\"r1\","
                                 "\"callbackId\":\"all\",\"info\":{\"files\":2}}]"}));
    NotificationCenter_RemoveObserverInterop("Global", "Global", "all");
}

TEST_F(NotificationCenterInteropTest, RetainedSendersAreMarkedAndReferencedOncePerPage) {
    static std::vector<uint32> Announced;
    Announced.clear();
    auto Watch = [](void *, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        uint32 Flag = 2;
        Dictionary_GetBooleanByKey(Info, "addRef", &Flag);
        Announced.push_back(Flag);
        return TRUE;
    };
    const char *Id = "00112233445566778899aabbccddeeff";
    NotificationCenter_AddInteropObserver(Id, nullptr, Watch);
    NotificationCenter_AddInstanceObserverInterop("Process", "Complete", Id, "p1");
    NotificationCenter_Fire("Process", "Complete", Id, nullptr);
    EXPECT_EQ(TakeBatches(), (std::vector<std::string>{"[{\"type\":\"Process\",\"notification\":\"Complete\","
                                                       "\"sender\":\"00112233445566778899aabbccddeeff\","
                                                       "\"callbackId\":\"p1\",\"retained\":true,\"info\":{}}]"}));
    // The one page holds one reference, announced once; its release ends it.
    EXPECT_EQ(Announced, (std::vector<uint32>{1}));
    NotificationCenter_ReleaseInteropReference(Id);
    EXPECT_EQ(Announced, (std::vector<uint32>{1, 0}));
    NotificationCenter_RemoveInstanceObserverInterop("Process", "Complete", Id, "p1");
    NotificationCenter_RemoveInteropObserver(Id, nullptr, Watch);
}

TEST_F(NotificationCenterInteropTest, ReferenceMessagesAreTakenOnlyWhereTheCountBearsThemOut) {
    // The observer counts the changes it takes, as a task's AddRef/Release.
    static uint32 Held;
    static int32 Count;
    Held = FALSE;
    Count = 0;
    auto Take = [](void *, const char *, const char *, const char *Instance, Dictionary *Info) -> int32 {
        uint32 AddRef = 0;
        if (NotificationCenter_TakeInteropReferenceChange(Instance, Info, &Held, &AddRef)) Count += AddRef ? 1 : -1;
        return TRUE;
    };
    const char *Id = "ffeeddccbbaa99887766554433221100";
    NotificationCenter_AddInteropObserver(Id, nullptr, Take);
    auto Forge = [&](const char *Json) {
        NotificationCenter_FireInterop("NotificationCenter", "Interop", Id, Json);
        NotificationCenter_Process();
    };
    // Forged messages of every shape change nothing, held or not.
    for (const char *Json : {"{\"addRef\":false}", "{}", "{\"addRef\":\"no\"}", "{\"addRef\":true}"}) Forge(Json);
    EXPECT_EQ(Count, 0);
    NotificationCenter_AddRefInteropReference(Id);
    NotificationCenter_AddRefInteropReference(Id);
    EXPECT_EQ(Count, 1);
    for (const char *Json : {"{\"addRef\":false}", "{}", "{\"addRef\":true}"}) Forge(Json);
    EXPECT_EQ(Count, 1);
    NotificationCenter_ReleaseInteropReference(Id);
    NotificationCenter_ReleaseInteropReference(Id);
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(Held, FALSE);
    NotificationCenter_RemoveInteropObserver(Id, nullptr, Take);
}

TEST_F(NotificationCenterInteropTest, RemovalByASharedIdTakesTheNamedKeysObserver) {
    ASSERT_EQ(NotificationCenter_AddObserverInterop("Task", "Status", "shared"), 1);
    ASSERT_EQ(NotificationCenter_AddObserverInterop("Task", "Progress", "shared"), 1);
    EXPECT_EQ(NotificationCenter_RemoveObserverInterop("Task", "Progress", "shared"), 1);
    // Gone from that key only; a second removal finds nothing there.
    EXPECT_EQ(NotificationCenter_RemoveObserverInterop("Task", "Progress", "shared"), 0);
    EXPECT_EQ(NotificationCenter_RemoveObserverInterop("Task", "Status", "never-registered"), 0);
    NotificationCenter_Process();
    Interop_Process(); // frees released callback records
    NotificationCenter_Fire("Task", "Progress", nullptr, nullptr);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeBatches(), (std::vector<std::string>{"[{\"type\":\"Task\",\"notification\":\"Status\",\"sender\":"
                                                       "\"Global\",\"callbackId\":\"shared\",\"info\":{}}]"}));
    EXPECT_EQ(NotificationCenter_RemoveObserverInterop("Task", "Status", "shared"), 1);
}

} // namespace
