// Collects what the runtime prints, for tests that read their log lines.
// Install CaptureLog with Debug_PrintCallback after the runtime starts (or
// CaptureLogMirrored, which also copies each piece to stderr as the runtime
// fixture's own callback does); the test reads and clears Captured.
#pragma once

#include <string>

#include "core/types.h"

extern std::string Captured;

int32 CaptureLog(const char *Text);
int32 CaptureLogMirrored(const char *Text);
