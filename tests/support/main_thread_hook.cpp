#include "tests/support/main_thread_hook.h"

#include <mutex>

#include "runtime/event_queue.h"
#include "runtime/thread.h"
#include "runtime/time.h"

namespace {

std::mutex HookMutex;
HookList HookCalls;

int32 RecordingHook(uint32 ThreadId, int32 IsEvent) {
    std::lock_guard<std::mutex> Guard(HookMutex);
    HookCalls.emplace_back(ThreadId, IsEvent);
    return 1;
}

} // namespace

HookList TakeHookCalls() {
    std::lock_guard<std::mutex> Guard(HookMutex);
    return std::exchange(HookCalls, {});
}

void StartThreads() {
    Thread_Init();
    EventQueue_Init();
    Thread_SetUnhandledSignal(RecordingHook);
    TakeHookCalls();
}

void EndThreads() {
    EventQueue_Remove();
    Thread_Remove();
    Time_TestClockStop();
}
