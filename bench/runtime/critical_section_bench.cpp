// Critical sections beside std::recursive_mutex: an uncontended lock and
// unlock, a re-entry of a held section, and four threads taking turns on one
// section around a shared counter.
#include <benchmark/benchmark.h>

#include <mutex>

#include "runtime/critical_section.h"
#include "runtime/debug.h"

namespace {

struct Section {
    void *Handle = nullptr;
    Section() {
        Debug_Init("/tmp/critical-section-bench.log", nullptr, DEBUG_FLAG_CMDLINE);
        CriticalSection_Create(&Handle);
    }
    ~Section() {
        CriticalSection_Delete(&Handle);
        Debug_Remove();
    }
};

void BM_SectionLockUnlock(benchmark::State &State) {
    Section Lock;
    for (auto _ : State) {
        CriticalSection_Lock(Lock.Handle);
        CriticalSection_Unlock(Lock.Handle);
    }
}
BENCHMARK(BM_SectionLockUnlock);

void BM_RecursiveMutexLockUnlock(benchmark::State &State) {
    std::recursive_mutex Lock;
    for (auto _ : State) {
        Lock.lock();
        Lock.unlock();
    }
}
BENCHMARK(BM_RecursiveMutexLockUnlock);

void BM_SectionReenter(benchmark::State &State) {
    Section Lock;
    CriticalSection_Lock(Lock.Handle);
    for (auto _ : State) {
        CriticalSection_Lock(Lock.Handle);
        CriticalSection_Unlock(Lock.Handle);
    }
    CriticalSection_Unlock(Lock.Handle);
}
BENCHMARK(BM_SectionReenter);

void BM_RecursiveMutexReenter(benchmark::State &State) {
    std::recursive_mutex Lock;
    Lock.lock();
    for (auto _ : State) {
        Lock.lock();
        Lock.unlock();
    }
    Lock.unlock();
}
BENCHMARK(BM_RecursiveMutexReenter);

// Shared between the benchmark's threads; thread 0 makes and frees them.
void *SharedSection = nullptr;
std::recursive_mutex SharedMutex;
int64_t SharedCounter = 0;

void BM_SectionFourThreads(benchmark::State &State) {
    if (State.thread_index() == 0) {
        Debug_Init("/tmp/critical-section-bench.log", nullptr, DEBUG_FLAG_CMDLINE);
        CriticalSection_Create(&SharedSection);
    }
    for (auto _ : State) {
        CriticalSection_Lock(SharedSection);
        SharedCounter++;
        CriticalSection_Unlock(SharedSection);
    }
    if (State.thread_index() == 0) {
        CriticalSection_Delete(&SharedSection);
        Debug_Remove();
    }
}
BENCHMARK(BM_SectionFourThreads)->Threads(4)->UseRealTime();

void BM_RecursiveMutexFourThreads(benchmark::State &State) {
    for (auto _ : State) {
        std::lock_guard<std::recursive_mutex> Guard(SharedMutex);
        SharedCounter++;
    }
}
BENCHMARK(BM_RecursiveMutexFourThreads)->Threads(4)->UseRealTime();

} // namespace
