// Base fixture for Dictionary tests: every test runs with memory tracking and
// must give back every byte. A derived fixture releases its trees in its
// TearDown before calling this one's, which compares the bytes in use.
#pragma once

#include <gtest/gtest.h>

#include "runtime/memory.h"
#include "tests/support/runtime.h"

class DictionaryTrackedTest : public RuntimeTest {
  protected:
    DictionaryTrackedTest() { Flags = DEBUG_FLAG_MEMORYTRACKING; }
    int32 StartBytes = 0;
    void SetUp() override {
        RuntimeTest::SetUp();
        Memory_GetSize(&StartBytes);
    }
    void TearDown() override {
        int32 EndBytes = 0;
        Memory_GetSize(&EndBytes);
        EXPECT_EQ(EndBytes, StartBytes) << "bytes left after the test's Dictionaries were released";
        RuntimeTest::TearDown();
    }
};
