// The main thread's wake-up through an eventfd (see host_signal.h).
#include "host/host_signal.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/event_queue.h"
#include "core/log.h"
#include "core/native_ui.h"
#include "core/posix/platform.h"

namespace {

struct HostSignalState {
    int32 Descriptor = -1;          // eventfd; set and cleared on the main thread only
    int32 FlushOutstanding = 0;     // 1 from scheduling until the loop takes the flush
    int32 ProcessStepRunning = 0;
    int32 FlushIncomplete = 0;      // the last flush ran out of budget (main thread only)
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
    int32 Descriptor = LoadDescriptor();
    if (Descriptor >= 0) {
        // The wait runs the windowing system's events too, so windows stay
        // live while the loop has no work.
        int Wait = GlobalHostSignal.FlushIncomplete ? 0 : (TimeoutMS < 0 ? -1 : TimeoutMS);
        if (NativeUI_Poll(Descriptor, Wait)) Drain(Descriptor);
    }
    // Cleared before the flush: a post that the flush does not see schedules the next one.
    Platform_CAS(&GlobalHostSignal.FlushOutstanding, 0, 1);
    int32 Result = EventQueue_Flush(nullptr);
    GlobalHostSignal.FlushIncomplete = Result ? 0 : 1;
    return Result;
}

int32 Host_MainThreadSignalDescriptor(void) { return LoadDescriptor(); }
