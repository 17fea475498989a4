// Bytes held under the memory budget: every block the container holds is
// charged while it lives, the old and the new together while it grows, and
// a growth past the budget is refused without taking the memory.
#include "runtime/charged_bytes.h"

#include <gtest/gtest.h>

namespace {

TEST(ChargedBytes, HoldsItsBlocksAndIsRefusedPastTheBudget) {
    const int64 Held = MemoryBudget_GetUsed(), Limit = MemoryBudget_GetLimit();
    {
        ChargedBytes Body;
        Body.reserve(1 << 20);
        EXPECT_EQ(MemoryBudget_GetUsed() - Held, 1 << 20);
        // Room for the new block alone, not beside the old one.
        MemoryBudget_SetLimit(Held + (2 << 20) - 1);
        EXPECT_THROW(Body.reserve(1 << 20 | 1), MemoryBudgetRefused);
        EXPECT_EQ(Body.capacity(), (size_t)1 << 20);
        MemoryBudget_SetLimit(Held + (3 << 20));
        Body.reserve(2 << 20);
        EXPECT_EQ(MemoryBudget_GetUsed() - Held, 2 << 20);
    }
    EXPECT_EQ(MemoryBudget_GetUsed(), Held);
    MemoryBudget_SetLimit(Limit);
}

} // namespace
