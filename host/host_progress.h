// The host's progress line: while a workflow runs and standard error is a
// terminal, one line there shows the overall progress and the task running
// now, redrawn in place ("\r", then the text, then erase to the end of the
// line) whenever either changes, and cut to the terminal's width so that it
// never wraps. When standard error is no terminal nothing is written, so that
// scripts and the JSON summary see what they always saw.
//
// Lines the host prints on standard error meanwhile go through
// HostProgress_Say, which clears the progress line first and draws it again
// after. Main thread only.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Starts the line when the descriptor is a terminal; 1 when it is shown.
int32 HostProgress_Begin(int32 Descriptor);
// Percent below 0: none known yet. Task: the name of the task running now
// (null or empty: none). Redraws only when the text changed.
int32 HostProgress_Update(int32 Percent, const char *Task);
// One line of text on standard error, above the progress line; control
// characters in it are shown as '?'.
int32 HostProgress_Say(const char *Text);
// Clears the line and stops.
int32 HostProgress_End(void);
// Clears the line, if one is shown, with one write: async-signal-safe, for
// a process that ends from a signal handler.
void HostProgress_ClearAtOnce(void);

RUNTIME_EXTERN_C_END
