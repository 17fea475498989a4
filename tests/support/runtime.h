// Starts the runtime for one test and ends it again, so that every test runs
// Debug_Init ... Debug_Remove afresh. The flags given are ORed with external
// print (0x800), and every log line is mirrored to stderr; fatal-stop messages
// reach stderr in any case, where death tests read them.
#pragma once

#include <gtest/gtest.h>

#include "runtime/debug.h"

class RuntimeTest : public ::testing::Test {
  protected:
    // Flags for Debug_Init; tests override before SetUp runs.
    uint32 Flags = 0;
    void SetUp() override;
    void TearDown() override;
};

// Starts and ends the runtime around a scope (for tests without a fixture).
class RuntimeScope {
  public:
    explicit RuntimeScope(uint32 Flags = 0);
    ~RuntimeScope();
    RuntimeScope(const RuntimeScope &) = delete;
    RuntimeScope &operator=(const RuntimeScope &) = delete;
};
