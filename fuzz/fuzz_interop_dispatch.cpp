// The script bridge on what a page sends it: arbitrary bytes as the JSON
// request of a method call, to the notification-center class (whose "fire"
// carries its own JSON payload in "info") and to the classes that answer no
// method, and the same bytes as the payload of a notification fired from
// script, delivered to a page observer. Each input runs on a fresh bridge so
// that observers and queued fires do not pile up. Checks: answers are 1 or
// 0; an answered call leaves exactly one JSON object in the result stream;
// every batch a page receives is a JSON array our reader loads again.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/script/core_script.h"
#include "runtime/debug.h"
#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/documents/json.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

// Loads a text with our JSON reader: 1 when it is a whole document.
int32 Loads(const char *Text, size_t Length) {
    JSON *Reader = nullptr;
    Dictionary *Tree = nullptr;
    JSON_Create(&Reader);
    JSON_SetPrintCallback(Reader, nullptr, Quiet);
    Dictionary_Create(&Tree);
    JSON_SetDictionaryHandle(Reader, Tree);
    int32 Answer = JSON_LoadBuffer(Reader, Text, (int32)Length);
    JSON_Release(&Reader);
    Dictionary_Release(&Tree);
    return Answer;
}

int Window = 0;

int32 PageExecute(void *, const char *, const char *Batch, void *) {
    Check(Batch != nullptr && Batch[0] == '[');
    Check(Loads(Batch, strlen(Batch)) == 1);
    return TRUE;
}

// Calls a method with the JSON text; checks the answer's shape.
void Call(const char *Id, const std::string &Json) {
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    int32 Answer = Interop_DispatchInvokeJSON(Id, Json.c_str(), Stream);
    Check(Answer == 0 || Answer == 1);
    if (Answer == 1) {
        const char *Pointer = nullptr;
        MemoryStream_GetPointer(Stream, &Pointer);
        int32 Used = MemoryStream_GetUsed(Stream);
        Check(Used > 1 && Pointer[0] == '{');
        Check(Loads(Pointer, (size_t)Used) == 1);
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/fuzz-interop-dispatch.log", nullptr, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
    if (Length < 1 || Length > 1 << 16) return 0;
    const uint8_t Mode = Data[0];
    std::string Text(reinterpret_cast<const char *>(Data + 1), Length - 1);
    Text.resize(strnlen(Text.c_str(), Text.size()));

    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Interop_Init();
    Interop_Add("fuzz", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                CoreInterop_SetOption);
    static const char *const Classes[] = {"TQX.NotificationCenter", "TQX.Analytics", "TQX.WebGet"};
    char Center[INTEROP_ID_SIZE] = "undefined";
    Check(Interop_DispatchCreateInstance(Classes[0], Center, (int32)sizeof(Center), &Window, &Window, PageExecute));
    // The page observes everything, so any fire reaches a batch.
    Call(Center, R"({"method":"addObserver","type":"Global","notification":"Global","callbackId":"all"})");

    char Other[INTEROP_ID_SIZE] = "undefined";
    const char *Target = Center;
    if (Mode % 4 == 1 || Mode % 4 == 2) {
        Check(Interop_DispatchCreateInstance(Classes[Mode % 4], Other, (int32)sizeof(Other), &Window, &Window,
                                             PageExecute));
        Target = Other;
    } else if (Mode % 4 == 3) {
        Target = "no-such-instance";
    }
    Call(Target, Text);
    // The same bytes as a notification payload fired from script.
    int32 Fired = NotificationCenter_FireInterop("Task", "Status", "Fuzz", Text.c_str());
    Check(Fired == 0 || Fired == 1);

    EventQueue_Flush(nullptr);
    NotificationCenter_Process();
    Interop_Process();
    Interop_RemoveInstancesActiveInRequester(nullptr);
    Interop_RemoveInstancesActiveInRequester(&Window);
    Interop_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    return 0;
}
