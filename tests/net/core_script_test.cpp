// The core class family and the HTTP client's share: which class names the
// family makes (exactly, with case), the stateless HTTP classes, and the
// host-whitelist decision with its override.
#include "runtime/script/core_script.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "net/web_get.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_center_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

struct Made {
    int32 Answer = 0;
    Interop_InvokeFunc Invoke = nullptr;
    Interop_ReleaseFunc Release = nullptr;
    Interop_ProcessFunc Process = nullptr;
    void *User = nullptr;
    std::string Id;
};

int32 PageExecute(void *, const char *, const char *, void *) { return TRUE; }

Made CreateDirect(const char *ClassName, const char *Id = "page-id") {
    Made Result;
    char Buffer[INTEROP_ID_SIZE];
    String_CopyLength(Buffer, Id, (int32)sizeof(Buffer));
    // Outputs start non-null to show that the family clears them.
    Result.Invoke = reinterpret_cast<Interop_InvokeFunc>(1);
    Result.User = &Result;
    Result.Answer = CoreInterop_CreateInstance(ClassName, Buffer, (int32)sizeof(Buffer), &Result, PageExecute,
                                               &Result.Invoke, &Result.Release, &Result.Process, &Result.User);
    Result.Id = Buffer;
    return Result;
}

class CoreScriptTest : public RuntimeTest {
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

int32 AllowAll(const char *Url) { return strcmp(Url, "https://allowed.example/") == 0 ? 1 : 5; }

} // namespace

TEST_F(CoreScriptTest, MakesItsClassesByExactName) {
    Made Center = CreateDirect("TQX.NotificationCenter");
    EXPECT_EQ(Center.Answer, 1);
    EXPECT_EQ(Center.Invoke, NotificationCenter_Invoke);
    EXPECT_NE(Center.Release, nullptr);
    EXPECT_EQ(Center.Process, nullptr);
    ASSERT_NE(Center.User, nullptr); // the page's registration
    EXPECT_EQ(Center.Id, "page-id");
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 1);
    Center.Release(&Center.User, Center.Id.c_str());
    EXPECT_EQ(Center.User, nullptr);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 0);

    for (const char *Name : {"TQX.WebGet", "TQX.Analytics", "TQX.FileSystem", "TQX.Registry", "TQX.Platform"}) {
        Made Stateless = CreateDirect(Name, "");
        EXPECT_EQ(Stateless.Answer, 1) << Name;
        EXPECT_NE(Stateless.Invoke, nullptr);
        EXPECT_EQ(Stateless.Release, nullptr);
        EXPECT_EQ(Stateless.User, nullptr);
        EXPECT_EQ(Stateless.Id, "");
    }

    // One native object per instance, named by its own id (not the page's),
    // ticked and released through the family's functions.
    for (const char *Name : {"TQX.Process", "TQX.Pipe"}) {
        Made Object = CreateDirect(Name);
        EXPECT_EQ(Object.Answer, 1) << Name;
        EXPECT_NE(Object.Invoke, nullptr);
        EXPECT_NE(Object.Process, nullptr);
        ASSERT_NE(Object.User, nullptr);
        EXPECT_EQ(Object.Id.size(), 32u);
        // A Pipe is found by its id, which is how a Process takes it as a stream.
        if (strcmp(Name, "TQX.Pipe") == 0) {
            EXPECT_EQ(Class_ConvertFromInstanceId(Object.Id.c_str()), Object.User);
        }
        EXPECT_EQ(Object.Process(Object.User), 1);
        Object.Release(&Object.User, Object.Id.c_str());
        EXPECT_EQ(Object.User, nullptr);
    }

    // Other letter case, and classes of subsystems this host does not have.
    for (const char *Name : {"tqx.notificationcenter", "tqx.filesystem", "tqx.registry", "tqx.process", "TQX.PIPE",
                             "TQX.Nothing"}) {
        Made Refused = CreateDirect(Name);
        EXPECT_EQ(Refused.Answer, 0) << Name;
        EXPECT_EQ(Refused.Invoke, nullptr);
        EXPECT_EQ(Refused.User, nullptr);
        EXPECT_EQ(Refused.Id, "page-id");
    }
    EXPECT_EQ(CoreInterop_SetOverride("Debug_Print", nullptr), 1);
    EXPECT_EQ(CoreInterop_SetOption("a", "b"), 1);
}

TEST_F(CoreScriptTest, HttpClassesThroughTheBridgeKnowNoMethod) {
    ASSERT_NE(Interop_Add("host", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance,
                          CoreInterop_SetOverride, CoreInterop_SetOption),
              nullptr);
    for (const char *Name : {"TQX.WebGet", "TQX.Analytics"}) {
        char Id[INTEROP_ID_SIZE] = "";
        ASSERT_TRUE(Interop_DispatchCreateInstance(Name, Id, (int32)sizeof(Id), nullptr, nullptr, nullptr));
        EXPECT_EQ(strlen(Id), 32u);
        MemoryStream *Stream = nullptr;
        MemoryStream_Create(&Stream);
        MemoryStream_SetAutoGrow(Stream, TRUE);
        EXPECT_EQ(Interop_DispatchInvokeJSON(Id, "{\"method\":\"get\",\"url\":\"https://a/\"}", Stream), 0);
        EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
        MemoryStream_Release(&Stream);
        EXPECT_TRUE(Interop_DispatchReleaseInstance(Id));
    }
    EXPECT_EQ(Captured.find("ERROR"), std::string::npos) << Captured;
    Interop_Process();
}

TEST_F(CoreScriptTest, HostWhitelistDecision) {
    EXPECT_EQ(WebGet_Authorize("example.com/path"), 0);
    EXPECT_NE(Captured.find("Malformed url (example.com/path)\n"), std::string::npos);
    EXPECT_EQ(WebGet_Authorize("https://user:pw@Host.Example:8443/x?y#z"), 0);
    EXPECT_NE(Captured.find("Hostname not found in whitelist (host.example)\n"), std::string::npos);
    EXPECT_EQ(WebGet_Authorize("file:///tmp/x"), 0);

    // A family's copy forwards to the host's decision, unchanged.
    WebGet_AuthorizeOverride(AllowAll);
    EXPECT_EQ(WebGet_Authorize("https://allowed.example/"), 1);
    EXPECT_EQ(WebGet_Authorize("https://other.example/"), 5);
    WebGet_AuthorizeOverride(nullptr);
    EXPECT_EQ(WebGet_Authorize("https://allowed.example/"), 0);
}
