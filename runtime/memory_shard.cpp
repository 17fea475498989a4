// The shards the allocator counts on: which thread owns which, the list
// locks and the counts brought together. What every allocation runs (its
// count, taking and letting go of its list's lock) is inline in
// memory_internal.h.
//
// Invariants:
// - Each thread owns one shard (a cache line of counts and, with tracking, a
//   list with its lock). Without tracking only the owner writes the counts,
//   with plain loads and stores; a block freed on another thread than the
//   one that made it leaves one shard below zero and the sum right.
// - Threads beyond the shard count share one more shard whose counts change
//   by atomic additions.
// - A thread holds at most one list lock at a time, except through LockAll,
//   which takes the state's critical section and then every list lock in
//   order. A thread that needs all of them while it holds one (a failing
//   tracker check dumping the lists) lets its own go first, so two threads
//   never wait for each other.
#include <pthread.h>
#include <sched.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "runtime/critical_section.h"
#include "runtime/memory_internal.h"

namespace MemoryInt {

Shard Shards[ShardTotal];

constinit thread_local Shard *OwnShard = &Shards[SharedShard];
constinit thread_local bool LookedForShard = false;
constinit thread_local char ThreadMark = 0;

namespace {

thread_local uint32 AllDepth = 0;        // LockAll nesting of this thread
thread_local Shard *HeldShard = nullptr; // the list lock LockAll let go for a while
thread_local uint32 HeldDepth = 0;        // and its depth

// ---- Thread exit: the shard goes back for the next thread ----

pthread_key_t ShardKey;
bool ShardKeyMade = false; // read by any thread, also while the library is unloaded
pthread_once_t ShardKeyOnce = PTHREAD_ONCE_INIT;

void ReleaseShard(void *Value) {
    Shard &Of = *static_cast<Shard *>(Value);
    // A tracked batch joins the state's counts, so the maxima other threads
    // raise do not miss it.
    MemoryStateStruct *State = __atomic_load_n(&Hot.State, __ATOMIC_ACQUIRE);
    if (State != nullptr && State->Tracking == 1) {
        LockShard(Of);
        BringIn(State, Of);
        UnlockShard(Of);
    }
    OwnShard = &Shards[SharedShard];
    LookedForShard = false;
    __atomic_store_n(&Of.Owned, 0u, __ATOMIC_RELEASE);
}

void MakeShardKey() { StoreRelaxed(ShardKeyMade, pthread_key_create(&ShardKey, ReleaseShard) == 0); }

// A copy of the runtime inside a library that is unloaded must not leave its
// thread-exit function registered behind it.
[[gnu::destructor]] void DeleteShardKey() {
    if (LoadRelaxed(ShardKeyMade)) pthread_key_delete(ShardKey);
    StoreRelaxed(ShardKeyMade, false);
}

} // namespace

[[gnu::noinline]] Shard *TakeShard() {
    LookedForShard = true;
    pthread_once(&ShardKeyOnce, MakeShardKey);
    static uint32 Hint = 0;
    const uint32 First = __atomic_fetch_add(&Hint, 1, __ATOMIC_RELAXED);
    for (uint32 i = 0; LoadRelaxed(ShardKeyMade) && i < OwnedShards; i++) {
        Shard &Candidate = Shards[(First + i) % OwnedShards];
        uint32 Free = 0;
        if (LoadRelaxed(Candidate.Owned) == 0 &&
            __atomic_compare_exchange_n(&Candidate.Owned, &Free, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            pthread_setspecific(ShardKey, &Candidate);
            return OwnShard = &Candidate;
        }
    }
    return OwnShard = &Shards[SharedShard];
}

// Counts on the shared shard, by atomic additions, once the thread found no
// shard of its own.
[[gnu::noinline]] void CountShared(int64 Delta, int64 BlockSize) {
    Shard &Own = MyShard();
    if (&Own != &Shards[SharedShard]) {
        StoreRelaxed(Own.Allocations, LoadRelaxed(Own.Allocations) + Delta);
        StoreRelaxed(Own.Bytes, LoadRelaxed(Own.Bytes) + Delta * BlockSize);
        return;
    }
    __atomic_add_fetch(&Own.Allocations, Delta, __ATOMIC_RELAXED);
    __atomic_add_fetch(&Own.Bytes, Delta * BlockSize, __ATOMIC_RELAXED);
}

// ---- List locks ----

[[gnu::noinline]] void LockShardSlowly(Shard &Of, uintptr Self) {
    if (LoadRelaxed(Of.Holder) == Self) {
        Of.Depth++;
        return;
    }
    for (uint32 Spins = 0;; Spins++) {
        uintptr Free = 0;
        if (LoadRelaxed(Of.Holder) == 0 &&
            __atomic_compare_exchange_n(&Of.Holder, &Free, Self, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            break;
        if (Spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
            _mm_pause();
#endif
        } else {
            sched_yield();
        }
    }
    Of.Depth = 1;
}

// Every list at once, for walks over all records; nests.
void LockAll(MemoryStateStruct *State) {
    if (AllDepth++ > 0) return;
    // Waiting for the others while holding one (a failing tracker check
    // dumping the lists) could deadlock with a thread that already holds the
    // lower ones, so the held one goes first and comes back at the end.
    const uintptr Self = (uintptr)&ThreadMark;
    HeldShard = nullptr;
    for (Shard &Of : Shards)
        if (LoadRelaxed(Of.Holder) == Self) {
            HeldShard = &Of;
            HeldDepth = Of.Depth;
            Of.Depth = 0;
            __atomic_store_n(&Of.Holder, (uintptr)0, __ATOMIC_RELEASE);
        }
    CriticalSection_Lock(State->Lock);
    for (Shard &Of : Shards) LockShard(Of);
}

void UnlockAll(MemoryStateStruct *State) {
    if (--AllDepth > 0) return;
    for (Shard &Of : Shards) UnlockShard(Of);
    CriticalSection_Unlock(State->Lock);
    if (Shard *Held = HeldShard) {
        LockShard(*Held);
        Held->Depth = HeldDepth;
        HeldShard = nullptr;
    }
}

// ---- Tracked counts, bounds and order ----

// Moves a shard's batch into the state's counts; under the shard's lock.
void BringIn(MemoryStateStruct *State, Shard &Of) {
    if (Of.Allocations != 0) __atomic_add_fetch(&State->Allocations, Of.Allocations, __ATOMIC_RELAXED);
    if (Of.Bytes != 0) __atomic_add_fetch(&State->Bytes, Of.Bytes, __ATOMIC_RELAXED);
    StoreRelaxed(Of.Allocations, (int64)0);
    StoreRelaxed(Of.Bytes, (int64)0);
}

void CurrentCounts(MemoryStateStruct *State, int64 *Allocations, int64 *Bytes) {
    int64 SumAllocations = LoadRelaxed(State->Allocations), SumBytes = LoadRelaxed(State->Bytes);
    for (Shard &Of : Shards) {
        SumAllocations += LoadRelaxed(Of.Allocations);
        SumBytes += LoadRelaxed(Of.Bytes);
    }
    *Allocations = SumAllocations;
    *Bytes = SumBytes;
}

} // namespace MemoryInt
