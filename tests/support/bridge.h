// The script bridge and what it stands on, for tests that drive it: the
// thread module, the main event queue, the notification center and the
// bridge itself, started on the calling (main) thread and ended in reverse.
#pragma once

#include <string>

void StartBridge();
void EndBridge();

// Dispatches a JSON request to an instance and returns the answer text, or ""
// when the dispatch fails.
std::string InvokeJson(const std::string &Id, const std::string &Json);
