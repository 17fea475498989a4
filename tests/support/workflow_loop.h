// The tick loop every workflow test runs on, the runtime set up for the
// engine, and a scriptable test task type.
//
// RunMainLoopUntil flushes the main event queue and runs the notification
// step (and the extra tick, once the application has one) until the
// condition holds or the time-out passes on the monotonic clock; between
// passes it waits on the main thread's event signal for at most a few
// milliseconds, so worker-thread posts wake it at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/runtime.h"
#include "workflow/task.h"

// True when Condition held before TimeoutSeconds passed. The default leaves
// room for a sanitizer build on a loaded machine: a condition that holds
// returns at once, whatever the bound.
bool RunMainLoopUntil(const std::function<bool()> &Condition, double TimeoutSeconds = 20.0);
// Runs the loop for a number of passes (lets pending steps settle).
void RunMainLoopPasses(int Passes);
// An extra step run on every pass (e.g. the application's process step).
void SetMainLoopTick(std::function<void()> Tick);

// The threads, the main event queue, the notification center, the trust
// registry and the application's task-type list, started and ended per test.
class WorkflowTest : public RuntimeTest {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// The "Test" task type. Its "outcome" argument decides what a start does:
// "success" (or none) completes at once, "fail" adds "Test_Error_Failed" and
// completes, "hold" waits for the test (Task_Complete or a cancel). Every
// start is recorded as the task's name, in order; completions the same.
extern const TaskInterface TestTask_INTERFACE;
std::vector<std::string> &TestTaskStarts();
std::vector<std::string> &TestTaskCompletions();
