// The host's workflow-worker role ("--wfworker --wfendpoint=<file>", the
// file holding the parent's URL): the elevated copy of the program that a
// windowed process starts for its elevated workflow runs. Its end point
// starts on the first tick and subscribes to the parent's URL once it
// listens; runs arrive from the
// parent as start requests and report back over the same end point. The
// loop ticks the application and the manager every 15 ms until the end
// point has lost its parent and no run is left (or a second SIGINT/SIGTERM
// arrives); the worker prints no summary.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 1 when the command line asks for the worker role.
int32 HostWorker_IsRequested(void);
// Runs the loop (the runtime, the application and the manager are started);
// answers the process exit code.
int32 HostWorker_Run(void);

RUNTIME_EXTERN_C_END
