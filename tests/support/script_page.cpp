#include "tests/support/script_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/crc.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"

namespace {

int Window = 0;

int32 PageExecute(void *User, const char *, const char *Batch, void *) {
    static_cast<ScriptPage *>(User)->Batches.emplace_back(Batch);
    return TRUE;
}

} // namespace

ScriptPage::ScriptPage() {
    Interop_Add("host", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                CoreInterop_SetOption);
}

ScriptPage::~ScriptPage() { Interop_RemoveInstancesActiveInRequester(&Window); }

std::string ScriptPage::Create(const char *ClassName) {
    char Id[INTEROP_ID_SIZE] = "";
    if (!Interop_DispatchCreateInstance(ClassName, Id, (int32)sizeof(Id), &Window, this, PageExecute)) return "";
    return Id;
}

std::string ScriptPage::Call(const std::string &Id, const std::string &Json) { return InvokeJson(Id, Json); }

std::string ScriptPage::PumpUntil(const std::string &Text, int Steps) {
    std::string All;
    for (int Step = 0; Step < Steps; Step++) {
        EventQueue_Flush(nullptr);
        NotificationCenter_Process();
        Interop_Process();
        All.clear();
        for (const std::string &Batch : Batches) All += Batch + "\n";
        if (All.find(Text) != std::string::npos) break;
        usleep(1000);
    }
    return All;
}

void ExpectSelectors(std::span<const ScriptSelector> Selectors) {
    std::string Names, Ours;
    for (const ScriptSelector &Row : Selectors) {
        Names += std::string(Row.Method) + "\n";
        Ours += std::to_string(Row.Value) + "\n";
        EXPECT_EQ(Crc32Const(Row.Method), Row.Value) << Row.Method;
    }
    EXPECT_EQ(RunPython("import sys,zlib\nfor n in sys.stdin.read().split():\n    print(zlib.crc32(n.encode()))", Names),
              Ours);
}

void ScriptPageTest::SetUp() {
    RuntimeTest::SetUp();
    Debug_PrintCallback(CaptureLogMirrored);
    Captured.clear();
    StartBridge();
    Page = new ScriptPage();
    Id = Page->Create(ClassName);
    ASSERT_EQ(Id.size(), 32u);
}

void ScriptPageTest::TearDown() {
    // The test's own instance goes as a page lets it go: what the page's end
    // still finds (and logs as forcibly removed) is only what a test left.
    if (!Id.empty() && Interop_DispatchHasInstance(Id.c_str()) && Interop_DispatchReleaseInstance(Id.c_str()))
        Interop_Process();
    delete Page;
    EndBridge();
    RuntimeTest::TearDown();
}

std::string JsonQuote(const std::string &Text) {
    std::string Out = "\"";
    for (char Ch : Text) {
        if (Ch == '"' || Ch == '\\') Out += '\\';
        Out += Ch;
    }
    return Out + "\"";
}
