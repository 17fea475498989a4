// The host's workflow-worker role ("--wfworker --wfendpoint=<file>", the
// file holding the parent's URL): the elevated copy of the program that a
// windowed process starts for its elevated workflow runs. Its end point
// starts on the first tick and subscribes to the parent's URL once it
// listens; runs arrive from the
// parent as start requests and report back over the same end point. The
// loop ticks the application and the manager every 15 ms until the end
// point has lost its parent and no run is left (or a second SIGINT/SIGTERM
// arrives); the worker prints no summary. It watches the parent process
// named by --wfparent (its id and start time): once that is gone, before
// the hand-over or after it, the worker ends at once with exit code 1 and
// starts nothing more. A run whose document cannot be fetched ends at once
// with its errors, which reach the parent.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

#define HOSTWORKER_EXIT_ORPHANED 1

// 1 when the command line asks for the worker role.
int32 HostWorker_IsRequested(void);
// At the start, before the command line is read: takes the hand-over file
// (--wfendpoint) and adds the elevated run's arguments it holds to the
// command line, where the worker's switches are then read from; they never
// stand on the process's own command line. 0, with a one-line reason, when
// the arguments do not fit; a file that is refused leaves the worker without
// a parent (it ends as an orphan once its end point runs).
int32 HostWorker_TakeHandOver(char *Reason, int32 Size);
// 1 when --wfparent names a parent, else 0 with a one-line reason.
int32 HostWorker_CheckParent(char *Reason, int32 Size);
// Runs the loop (the runtime, the application and the manager are started);
// answers the process exit code.
int32 HostWorker_Run(void);

RUNTIME_EXTERN_C_END
