// The page batch: 10,000 queued notification items written as one JSON
// array and handed to a page, as the bridge's process step does when a busy
// workflow reports to its window. The step may split the work at its 0.1 s
// budget; the benchmark runs steps until every item has been delivered, so
// the time is that of all items (the JSON writing dominates). Also: one
// JSON method call through the bridge, the path of every page request.
#include <benchmark/benchmark.h>
#include <string.h>

#include <vector>

#include "runtime/script/core_script.h"
#include "runtime/debug.h"
#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/script/interop.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"

namespace {

void StartRuntime() {
    static const bool Started = [] {
        Crypto_Register();
        PlatformServices_Register();
        Content_Register();
        Net_Register();
        Debug_Init("/tmp/interop-bench.log", nullptr, 0);
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
        Interop_Init();
        Interop_Add("bench", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance,
                    CoreInterop_SetOverride, CoreInterop_SetOption);
        return true;
    }();
    (void)Started;
}

int64_t DeliveredBytes = 0;
int64_t DeliveredItems = 0;

// The page's side: it sees every item once (each has one "callbackId").
int32 CountBatch(void *, const char *, const char *Batch, void *) {
    DeliveredBytes += (int64_t)strlen(Batch);
    for (const char *At = strstr(Batch, "\"callbackId\""); At != nullptr; At = strstr(At + 1, "\"callbackId\""))
        DeliveredItems++;
    return TRUE;
}

// An item as a notification observer builds it for the pages.
Dictionary *MakeItem(int32 Index) {
    Dictionary *Item = nullptr, *Info = nullptr;
    Dictionary_Create(&Item);
    Dictionary_AddString(Item, "type", "Task", nullptr);
    Dictionary_AddString(Item, "notification", "Status", nullptr);
    Dictionary_AddString(Item, "sender", "0123456789abcdef0123456789abcdef", nullptr);
    Dictionary_AddString(Item, "callbackId", "cb-17", nullptr);
    Dictionary_AddDictionary(Item, "info", &Info, nullptr);
    Dictionary_AddInt32(Info, "progress", Index, nullptr);
    Dictionary_AddString(Info, "state", "running \"step\"", nullptr);
    return Item;
}

void BM_PageBatch(benchmark::State &State) {
    StartRuntime();
    const int32 Count = (int32)State.range(0);
    InteropExecuteCallback *Page = nullptr;
    Interop_AddExecuteCallback(&Page, nullptr, CountBatch);
    std::vector<Dictionary *> Items;
    for (int32 Index = 0; Index < Count; Index++) Items.push_back(MakeItem(Index));
    DeliveredBytes = 0;
    for (auto _ : State) {
        DeliveredItems = 0;
        for (Dictionary *Item : Items) Interop_Execute(nullptr, Item);
        // A step that runs out of budget leaves the rest for the next one.
        while (DeliveredItems < Count) Interop_Process();
        EventQueue_Flush(nullptr);
    }
    for (Dictionary *&Item : Items) Dictionary_Release(&Item);
    Interop_RemoveExecuteCallback(&Page);
    State.SetItemsProcessed((int64_t)State.iterations() * Count);
    State.SetBytesProcessed(DeliveredBytes);
}

void BM_InvokeJson(benchmark::State &State) {
    StartRuntime();
    char Id[INTEROP_ID_SIZE] = "";
    Interop_DispatchCreateInstance("TQX.NotificationCenter", Id, (int32)sizeof(Id), nullptr, nullptr, CountBatch);
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    const char *Request =
        "{\"method\":\"releaseInteropReference\",\"instanceId\":\"0123456789abcdef0123456789abcdef\"}";
    for (auto _ : State) benchmark::DoNotOptimize(Interop_DispatchInvokeJSON(Id, Request, Stream));
    MemoryStream_Release(&Stream);
    Interop_DispatchReleaseInstance(Id);
    Interop_Process();
}

BENCHMARK(BM_PageBatch)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InvokeJson)->Unit(benchmark::kMicrosecond);

} // namespace
