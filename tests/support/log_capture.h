// Collects what the runtime prints, for tests that read their log lines.
// Install CaptureLog with Debug_PrintCallback after the runtime starts (or
// CaptureLogMirrored, which also copies each piece to stderr as the runtime
// fixture's own callback does); the test reads and clears Captured.
// CapturePrintLine serves as one object's print callback instead.
#pragma once

#include <string>
#include <vector>

#include "runtime/types.h"

extern std::string Captured;

int32 CaptureLog(const char *Text);
int32 CaptureLogMirrored(const char *Text);

// A print callback for one object: each call adds its formatted line to the
// std::vector<std::string> given as User.
int32 CapturePrintLine(void *User, const char *Format, ...);
