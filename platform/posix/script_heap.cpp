// The capped script heap: every block carries its size in front, so the
// bytes in use are known without asking the allocator.
#include "platform/posix/script_heap.h"

#include <stdlib.h>
#include <time.h>

namespace {

struct alignas(16) Block {
    size_t Size;
};

// The interpreter checks the deadline between instructions only: a built-in
// such as join over a sparse array of 10^9 slots runs for hours inside one
// instruction, allocating as it goes. Past the deadline a large allocation
// fails, which throws inside that built-in and ends it; small ones still
// pass, so that the error itself can be made.
constexpr size_t LateAllocationLimit = 16u << 10;

// Whether growing by Growth bytes is refused; a refusal for the cap is noted.
bool Refuses(ScriptHeap *Heap, size_t Growth) {
    if (Heap->Closing) return true;
    if (Growth > Heap->Limit || Heap->InUse + Growth > Heap->Limit) {
        Heap->Refused = true;
        return true;
    }
    const int64_t Deadline = __atomic_load_n(&Heap->Deadline, __ATOMIC_RELAXED);
    return Growth > LateAllocationLimit && Deadline != 0 && ScriptHeap_Now() > Deadline;
}

} // namespace

int64_t ScriptHeap_Now(void) {
    timespec Now;
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return (int64_t)Now.tv_sec * 1000000000 + Now.tv_nsec;
}

void *ScriptHeap_Allocate(void *User, duk_size_t Size) {
    auto *Heap = static_cast<ScriptHeap *>(User);
    if (Size == 0 || Refuses(Heap, Size)) return nullptr;
    auto *Made = static_cast<Block *>(malloc(sizeof(Block) + Size));
    if (Made == nullptr) return nullptr;
    Made->Size = Size;
    Heap->InUse += Size;
    return Made + 1;
}

void ScriptHeap_Free(void *User, void *Pointer) {
    if (Pointer == nullptr) return;
    Block *Made = static_cast<Block *>(Pointer) - 1;
    static_cast<ScriptHeap *>(User)->InUse -= Made->Size;
    free(Made);
}

void *ScriptHeap_Reallocate(void *User, void *Pointer, duk_size_t Size) {
    auto *Heap = static_cast<ScriptHeap *>(User);
    if (Pointer == nullptr) return ScriptHeap_Allocate(User, Size);
    if (Size == 0) {
        ScriptHeap_Free(User, Pointer);
        return nullptr;
    }
    Block *Made = static_cast<Block *>(Pointer) - 1;
    const size_t Old = Made->Size;
    if (Size > Old && Refuses(Heap, Size - Old)) return nullptr;
    auto *Moved = static_cast<Block *>(realloc(Made, sizeof(Block) + Size));
    if (Moved == nullptr) return nullptr;
    Moved->Size = Size;
    Heap->InUse = Heap->InUse - Old + Size;
    return Moved + 1;
}
