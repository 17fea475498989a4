// Event queues under load: one owner flushing while other threads post (the
// pattern of completions reaching the main thread), and a single thread
// posting to and flushing its own queue as the baseline.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <string.h>
#include <thread>
#include <vector>

#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/thread.h"

namespace {

constexpr int EventsPerPoster = 1000;

std::atomic<int64> Consumed{0};

int32 Consume(void *, void *Payload) {
    Consumed.fetch_add(*static_cast<int32 *>(Payload), std::memory_order_relaxed);
    return 1;
}

struct RuntimeRun {
    RuntimeRun() {
        Debug_Init("/tmp/event-queue-bench.log", nullptr, DEBUG_FLAG_CMDLINE);
        Thread_Init();
        EventQueue_Init();
    }
    ~RuntimeRun() {
        EventQueue_Remove();
        Thread_Remove();
        Debug_Remove();
    }
};

// Posters post to the main queue while the main thread flushes it; one
// iteration is EventsPerPoster events from each poster, all consumed.
void BM_PostersAndOwner(benchmark::State &State) {
    RuntimeRun Runtime;
    const int Posters = (int)State.range(0);
    for (auto _ : State) {
        Consumed = 0;
        std::vector<std::thread> Threads;
        for (int Poster = 0; Poster < Posters; Poster++)
            Threads.emplace_back([] {
                int32 One = 1;
                for (int Index = 0; Index < EventsPerPoster; Index++)
                    EventQueue_Add(nullptr, nullptr, &One, sizeof(One), Consume);
            });
        const int64 Expected = (int64)Posters * EventsPerPoster;
        for (;;) {
            EventQueue_Flush(nullptr);
            if (Consumed.load(std::memory_order_relaxed) >= Expected) break;
            Thread_Wait(1000); // every post wakes the main thread
        }
        for (std::thread &Thread : Threads) Thread.join();
    }
    State.SetItemsProcessed(State.iterations() * Posters * EventsPerPoster);
}
BENCHMARK(BM_PostersAndOwner)->Arg(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Four started threads in a ring, each posting to the next one's queue and
// flushing its own (Thread_Tick), until each has received its share.
struct RingMember {
    RingMember *Next = nullptr;
    std::atomic<uint32> Id{0};
    std::atomic<int> Received{0};
};

int32 RingReceive(void *Instance, void *) {
    static_cast<RingMember *>(Instance)->Received.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

int32 RingRun(void *User) {
    auto *Self = static_cast<RingMember *>(User);
    while (Self->Next->Id.load() == 0) std::this_thread::yield();
    EventQueue *Next = Thread_GetEventQueueHandle(Self->Next->Id.load());
    int Sent = 0;
    while (Sent < EventsPerPoster || Self->Received.load(std::memory_order_relaxed) < EventsPerPoster) {
        for (int Burst = 0; Burst < 16 && Sent < EventsPerPoster; Burst++, Sent++)
            EventQueue_Add(Next, Self->Next, nullptr, 0, RingReceive);
        Thread_Tick();
        if (Sent >= EventsPerPoster && Self->Received.load(std::memory_order_relaxed) < EventsPerPoster)
            Thread_Wait(1000); // every post to this thread wakes it
    }
    EventQueue_Release(&Next);
    return 0;
}

void BM_FourThreadsInARing(benchmark::State &State) {
    RuntimeRun Runtime;
    constexpr int Ring = 4;
    for (auto _ : State) {
        RingMember Members[Ring];
        Thread *Handles[Ring] = {};
        for (int Index = 0; Index < Ring; Index++) Members[Index].Next = &Members[(Index + 1) % Ring];
        for (int Index = 0; Index < Ring; Index++) {
            Thread_Begin(&Handles[Index], &Members[Index], RingRun);
            Members[Index].Id = Thread_GetId(Handles[Index]);
        }
        for (Thread *&Handle : Handles) Thread_Join(-1, &Handle);
    }
    State.SetItemsProcessed(State.iterations() * Ring * EventsPerPoster);
}
BENCHMARK(BM_FourThreadsInARing)->UseRealTime()->Unit(benchmark::kMillisecond);

// Baseline: post a batch to a queue of one's own, then flush it.
void BM_PostThenFlushOneThread(benchmark::State &State) {
    RuntimeRun Runtime;
    EventQueue *Queue = nullptr;
    EventQueue_Create(&Queue);
    for (auto _ : State) {
        int32 One = 1;
        for (int Index = 0; Index < EventsPerPoster; Index++)
            EventQueue_Add(Queue, nullptr, &One, sizeof(One), Consume);
        EventQueue_Flush(Queue);
    }
    EventQueue_Release(&Queue);
    State.SetItemsProcessed(State.iterations() * EventsPerPoster);
}
BENCHMARK(BM_PostThenFlushOneThread)->Unit(benchmark::kMicrosecond);

// The yardstick for the one above: a mutex and a vector of records holding
// the same function, instance and copied payload, flushed by taking the
// vector out under the lock and running it.
struct PlainEvent {
    int32 (*Function)(void *, void *);
    void *Instance;
    int32 Size;
    alignas(16) uint8 Payload[EVENTQUEUE_MAXPAYLOADSIZE];
};

struct PlainQueue {
    std::mutex Lock;
    std::vector<PlainEvent> Events;
    std::vector<PlainEvent> Running;

    void Add(void *Instance, const void *Payload, int32 Size, int32 (*Function)(void *, void *)) {
        std::lock_guard<std::mutex> Guard(Lock);
        PlainEvent &Event = Events.emplace_back();
        Event.Function = Function;
        Event.Instance = Instance;
        Event.Size = Size;
        if (Payload != nullptr && Size > 0) memcpy(Event.Payload, Payload, (size_t)Size);
    }
    void Flush() {
        {
            std::lock_guard<std::mutex> Guard(Lock);
            Running.swap(Events);
        }
        for (PlainEvent &Event : Running) Event.Function(Event.Instance, Event.Size > 0 ? Event.Payload : nullptr);
        Running.clear();
    }
};

void BM_MutexVectorOneThread(benchmark::State &State) {
    PlainQueue Queue;
    for (auto _ : State) {
        int32 One = 1;
        for (int Index = 0; Index < EventsPerPoster; Index++) Queue.Add(nullptr, &One, sizeof(One), Consume);
        Queue.Flush();
    }
    State.SetItemsProcessed(State.iterations() * EventsPerPoster);
}
BENCHMARK(BM_MutexVectorOneThread)->Unit(benchmark::kMicrosecond);

} // namespace
