// The main thread's wake-up through an eventfd (see host_signal.h).
#include "host/host_signal.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/ui/native_ui.h"
#include "runtime/event_queue.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/thread.h"
#include "runtime/time.h"

namespace {

// While work keeps coming, the loop still looks at the descriptor (and the
// windowing system's events) this often: a busy workflow stepped once per
// task made three system calls a step for its own posts.
constexpr int32 BusyStepsPerPoll = 32;
constexpr float64 BusySecondsPerPoll = 0.001;

struct HostSignalState {
    int32 Descriptor = -1;          // eventfd; set and cleared on the main thread only
    int32 FlushOutstanding = 0;     // 1 from scheduling until the loop takes the flush
    int32 ProcessStepRunning = 0;
    int32 FlushIncomplete = 0;      // the last flush ran out of budget (main thread only)
    uint32 LoopThread = 0;          // the thread that made the descriptor and steps the loop
    // The loop's own thread posted since its last step: it is awake, and its
    // next step flushes without waiting; no wake-up goes through the
    // descriptor. Read and written on that thread only.
    int32 PostedHere = 0;
    int32 BusySteps = 0; // steps since the descriptor was last polled (loop thread)
    float64 PolledAt = 0;
};

HostSignalState GlobalHostSignal;

int32 LoadDescriptor() { return __atomic_load_n(&GlobalHostSignal.Descriptor, __ATOMIC_ACQUIRE); }

void Drain(int32 Descriptor) {
    uint64 Count = 0;
    while (read(Descriptor, &Count, sizeof(Count)) < 0 && errno == EINTR) {
    }
}

} // namespace

int32 Host_MainThreadSignalInit(void) {
    if (LoadDescriptor() >= 0) return TRUE;
    int Descriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Descriptor < 0) {
        Log_Error("Unable to create the main thread's wake-up [LE: %d]\n", Platform_GetLastError());
        return FALSE;
    }
    __atomic_store_n(&GlobalHostSignal.FlushOutstanding, 0, __ATOMIC_SEQ_CST);
    GlobalHostSignal.FlushIncomplete = 0;
    GlobalHostSignal.PostedHere = 0;
    GlobalHostSignal.BusySteps = 0;
    GlobalHostSignal.LoopThread = Thread_GetCurrentId();
    __atomic_store_n(&GlobalHostSignal.Descriptor, Descriptor, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Host_MainThreadSignalRemove(void) {
    int32 Descriptor = LoadDescriptor();
    if (Descriptor < 0) return FALSE;
    __atomic_store_n(&GlobalHostSignal.Descriptor, -1, __ATOMIC_RELEASE);
    close(Descriptor);
    return TRUE;
}

int32 Host_PlatformMainThreadSignal(uint32 ThreadId, int32 IsEvent) {
    (void)ThreadId;
    if (IsEvent != 1) return TRUE;
    if (__atomic_load_n(&GlobalHostSignal.ProcessStepRunning, __ATOMIC_ACQUIRE) != 0) return TRUE;
    int32 Descriptor = LoadDescriptor();
    if (Descriptor < 0) return TRUE;
    if (ThreadId == GlobalHostSignal.LoopThread && Thread_GetCurrentId() == ThreadId) {
        GlobalHostSignal.PostedHere = 1;
        return TRUE;
    }
    if (Platform_CAS(&GlobalHostSignal.FlushOutstanding, 1, 0) != 0) return TRUE;
    uint64 One = 1;
    while (write(Descriptor, &One, sizeof(One)) < 0 && errno == EINTR) {
    }
    return TRUE;
}

int32 Host_SetProcessStepRunning(int32 Running) {
    __atomic_store_n(&GlobalHostSignal.ProcessStepRunning, Running == 1 ? 1 : 0, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Host_MainLoopStep(int32 TimeoutMS) {
    HostSignalState &State = GlobalHostSignal;
    int32 Descriptor = LoadDescriptor();
    const bool Busy = State.FlushIncomplete || State.PostedHere;
    State.PostedHere = 0;
    // A busy step never waits, and polls only now and then: a wake-up left
    // unread keeps the descriptor readable, and the flush below runs what
    // other threads posted either way.
    if (Descriptor >= 0 &&
        (!Busy || ++State.BusySteps >= BusyStepsPerPoll || Time_GetCurrent() - State.PolledAt >= BusySecondsPerPoll)) {
        // The wait runs the windowing system's events too, so windows stay
        // live while the loop has no work.
        int Wait = Busy ? 0 : (TimeoutMS < 0 ? -1 : TimeoutMS);
        if (NativeUI_Poll(Descriptor, Wait)) Drain(Descriptor);
        State.BusySteps = 0;
        State.PolledAt = Time_GetCurrent();
    }
    // Cleared before the flush: a post that the flush does not see schedules the next one.
    Platform_CAS(&GlobalHostSignal.FlushOutstanding, 0, 1);
    int32 Result = EventQueue_Flush(nullptr);
    GlobalHostSignal.FlushIncomplete = Result ? 0 : 1;
    return Result;
}

int32 Host_MainThreadSignalDescriptor(void) { return LoadDescriptor(); }
