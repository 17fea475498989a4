// Bytes held under the process's memory budget (runtime/memory.h) for as
// long as they exist: a body as it arrives, a file as it is read, a copy
// kept for later. Every block the container takes is charged before it is
// made and given back when it goes, so a growth that would pass the budget
// never takes the memory: it throws MemoryBudgetRefused (a std::bad_alloc)
// instead. A growth holds the old and the new block at once, and both are
// charged while they are.
#pragma once

#include <stddef.h>

#include <new>
#include <vector>

#include "runtime/memory.h"

// A block the budget could not hold; the rest of std::bad_alloc is memory
// the system refused.
class MemoryBudgetRefused : public std::bad_alloc {
  public:
    const char *what() const noexcept override { return "past the memory budget"; }
};

template <typename T> struct ChargedAllocator {
    using value_type = T;
    ChargedAllocator() noexcept = default;
    template <typename U> ChargedAllocator(const ChargedAllocator<U> &) noexcept {}

    T *allocate(size_t Count) {
        const int64 Bytes = (int64)(Count * sizeof(T));
        if (!MemoryBudget_Take(Bytes)) throw MemoryBudgetRefused();
        try {
            return std::allocator<T>().allocate(Count);
        } catch (...) {
            MemoryBudget_Give(Bytes);
            throw;
        }
    }
    void deallocate(T *Block, size_t Count) noexcept {
        std::allocator<T>().deallocate(Block, Count);
        MemoryBudget_Give((int64)(Count * sizeof(T)));
    }
    template <typename U> bool operator==(const ChargedAllocator<U> &) const noexcept { return true; }
    template <typename U> bool operator!=(const ChargedAllocator<U> &) const noexcept { return false; }
};

using ChargedBytes = std::vector<uint8, ChargedAllocator<uint8>>;
