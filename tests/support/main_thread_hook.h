// The thread module and the main event queue started on the test's main
// thread, with a recording hook in place of the host's main-thread signal, so
// tests can see which wake-ups were asked for: (thread id, is event) pairs.
#pragma once

#include <utility>
#include <vector>

#include "runtime/types.h"

using HookList = std::vector<std::pair<uint32, int32>>;

// The calls the hook recorded since the last take, cleared.
HookList TakeHookCalls();

void StartThreads();
// Ends the queue and the threads, and stops the test clock.
void EndThreads();
