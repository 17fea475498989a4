#include "tests/support/bridge.h"

#include "core/event_queue.h"
#include "core/interop.h"
#include "core/memory_stream.h"
#include "core/notification_center.h"
#include "core/thread.h"

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
