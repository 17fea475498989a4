#include "tests/support/bridge.h"

#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/thread.h"

void StartBridge() {
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Interop_Init();
}

void EndBridge() {
    Interop_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
}

std::string InvokeJson(const std::string &Id, const std::string &Json) {
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    std::string Text;
    if (Interop_DispatchInvokeJSON(Id.c_str(), Json.c_str(), Stream) == 1) {
        const char *Pointer = nullptr;
        MemoryStream_GetPointer(Stream, &Pointer);
        Text.assign(Pointer, (size_t)MemoryStream_GetUsed(Stream));
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);
    return Text;
}
