// Notification center: 100,000 fires to 10 observers on the owner thread
// (delivered at once: three key look-ups and ten calls each), and the same
// number queued for the process step (pending records from the pool, one
// walk per step); and one fire queued and delivered a step while 100,000
// delayed fires wait (a document's flood of them: a step walks none of the
// fires it left before, until the first is due).
#include <benchmark/benchmark.h>

#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"

namespace {

constexpr int64_t FiresPerBatch = 100000;
constexpr int ObserverCount = 10;

struct Runtime {
    Runtime() {
        Debug_Init("/tmp/notification-center-bench.log", nullptr, 0);
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
    }
    ~Runtime() {
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
        Debug_Remove();
    }
};

int32 Count(void *User, const char *, const char *, const char *, Dictionary *) {
    ++*static_cast<int64_t *>(User);
    return TRUE;
}

// Ten observers: one of everything, six of the type and name, three of the
// sender, so every fire walks all three groups.
void AddObservers(int64_t *Calls) {
    NotificationCenter_AddObserver(nullptr, nullptr, Calls, Count);
    for (int Index = 0; Index < 6; Index++) NotificationCenter_AddObserver("Task", "Status", Calls, Count);
    for (int Index = 0; Index < 3; Index++)
        NotificationCenter_AddInstanceObserver("Task", "Status", "0123456789abcdef0123456789abcdef", Calls, Count);
}

void FireImmediate(benchmark::State &State) {
    Runtime Scope;
    int64_t Calls = 0;
    AddObservers(&Calls);
    for (auto _ : State) {
        for (int64_t Fire = 0; Fire < FiresPerBatch; Fire++)
            NotificationCenter_Fire("Task", "Status", "0123456789abcdef0123456789abcdef", nullptr);
    }
    benchmark::DoNotOptimize(Calls);
    if (Calls != State.iterations() * FiresPerBatch * ObserverCount) State.SkipWithError("observer calls missing");
    State.SetItemsProcessed(State.iterations() * FiresPerBatch);
}

void FireQueued(benchmark::State &State) {
    Runtime Scope;
    int64_t Calls = 0;
    AddObservers(&Calls);
    for (auto _ : State) {
        const int64_t Target = Calls + FiresPerBatch * ObserverCount;
        for (int64_t Fire = 0; Fire < FiresPerBatch; Fire++)
            NotificationCenter_FireAfterDelay("Task", "Status", "0123456789abcdef0123456789abcdef", 0, nullptr);
        // The step stops after 0.1 s and continues at the next one.
        while (Calls < Target) NotificationCenter_Process();
        EventQueue_Flush(nullptr);
    }
    benchmark::DoNotOptimize(Calls);
    State.SetItemsProcessed(State.iterations() * FiresPerBatch);
}

void FireBesideDelayed(benchmark::State &State) {
    Runtime Scope;
    int64_t Calls = 0;
    AddObservers(&Calls);
    for (int64_t Fire = 0; Fire < FiresPerBatch; Fire++)
        NotificationCenter_FireAfterDelay("Task", "Status", "0123456789abcdef0123456789abcdef", INT32_MAX, nullptr);
    NotificationCenter_Process();
    for (auto _ : State) {
        NotificationCenter_FireAfterDelay("Task", "Status", "0123456789abcdef0123456789abcdef", 0, nullptr);
        NotificationCenter_Process();
    }
    EventQueue_Flush(nullptr);
    if (Calls != State.iterations() * ObserverCount) State.SkipWithError("observer calls missing");
    State.SetItemsProcessed(State.iterations());
}

} // namespace

BENCHMARK(FireImmediate)->Unit(benchmark::kMillisecond);
BENCHMARK(FireQueued)->Unit(benchmark::kMillisecond);
BENCHMARK(FireBesideDelayed)->Unit(benchmark::kMicrosecond);
