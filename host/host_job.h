// The host's main job: run one workflow through the workflow manager and
// end with one JSON summary line on standard output.
//
// The workflow is added as a "global" run; the job ticks the application and
// the manager every 15 ms. When the first "state" (or "start" without
// "state") completes, the first of the wanted tasks that the workflow offers
// is queued. The job unloads when that task completes, when "state"/"start"
// completes with nothing to queue, when "load" fails or the workflow has
// neither "state" nor "start", when the workflow says it could be retried
// (the fetch failed), on the first ending signal (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGUSR1), or on the forced
// "WorkflowApp"/"Shutdown". The first signal also stops the HTTP pool: the
// requests in flight end, and no request starts after it. While "load" or
// "unload" runs, which cannot be cancelled, the first signal waits for it.
// A second signal ends the process at once (see HostJob_InstallSignals). Except
// after a signal, a forced shutdown or a document that cannot be fetched, the
// unload waits until nothing that was added is under way
// (WorkflowManager_IsSettled), the page has seen its batches (but those of
// the engine's own loop alone) and a document's delayed fires went out
// (hastened once nothing else is left), so that it cancels no run a page
// added; when the job's own run ended first (past the
// process's run budget, say), the job unloads once the others settle. With the
// manager's flow switched off (by a page) and nothing under way, the run fails
// and unloads. A run that starts after the unload is unloaded too. It stops
// when the run has completed and no run is active.
//
// Summary: {"successful", "exitCode", "progress", "errors", "warnings"}. The
// job holds its run by the task the runs' module made for its request (the
// request's id names that run alone) and reads the outcome from that task's
// record once it completed, never from what it hears; other runs (a page's)
// are logged, and one that failed adds a warning. The outcome is that of what
// ran for the user: the queued task (a failed
// "state" only chose it), else "state" or "start"; an event that completes
// unsuccessfully fails the run even without an error, and a run that ended
// before its entry ran fails, saying so. The exit code is the
// one a workflow recorded when not 0 (cut to its low 8 bits, with a warning,
// when outside 0-255, and never 0 for a failed run); else 0 on success, 1 on
// failure, 130 when interrupted. The summary's exitCode is that status.
//
// Standard error: one line per retry of a remote document, one for a
// document that could not be loaded (the hint at --disablesecurity only for
// one that is not signed), one for each task of the document that cannot
// be made and one for an event of a run that failed without naming an
// error; at the end, one for every other error the summary carries; on a
// terminal, the progress line (host_progress.h). The errors of a "load"
// that still succeeded go into the summary without failing it.
#pragma once

#include <signal.h>

#include "runtime/types.h"

#define HOSTJOB_EXIT_USAGE 2
#define HOSTJOB_EXIT_INTERRUPTED 130

RUNTIME_EXTERN_C_BEGIN

// Turns the --workflow value into a URL: a path (relative to the working
// directory) or a local file:// URL into an absolute file:// URL of an
// existing regular file; http:// URLs pass; anything else is refused with a
// one-line reason. 1 when usable.
int32 HostJob_ResolveWorkflow(const char *Value, char *Url, int32 Size, char *Reason, int32 ReasonSize);

// Installs the handlers of the ending signals and lets them through (Remove
// restores the defaults). The
// second signal ends the process from the handler itself, whatever the main
// thread is doing: it clears the progress line, writes the summary of an
// interrupt (the last progress, the error "Host_Error_Interrupted") while the
// job still owes its summary, and exits with 130.
int32 HostJob_InstallSignals(void);
int32 HostJob_RemoveSignals(void);
// The signals that end a run as an interrupt does: SIGINT, SIGTERM, SIGHUP
// (a terminal or connection that went), SIGQUIT and SIGUSR1, but for those
// ignored when the program started (nohup), which stay ignored.
void HostJob_EndingSignals(sigset_t *Set);
// Run first of all: holds those signals until HostJob_InstallSignals takes
// them (one that comes meanwhile is taken then, not lost and not fatal),
// and makes a write to a closed pipe fail instead of ending the program.
void HostJob_HoldSignals(void);

// Runs the job (the runtime, the application and the manager are started)
// and keeps the summary line; answers the process exit code. Tasks: the
// comma-separated --task list, or null. While it runs it watches the
// runtime's fatal stops: memory the system refuses where nothing can unwind
// ends the program with a line on standard error, the summary of that
// (error "Host_Error_OutOfMemory") and exit 1.
int32 HostJob_Run(const char *Url, const char *Tasks);

// A failure of the exit sequence after the job (an implode path that cannot
// be removed): told on standard error and added to the kept summary, which
// becomes unsuccessful. Answers the exit code from then on (ExitCode when
// no summary is kept).
int32 HostJob_NoteFailure(const char *Text, int32 ExitCode);
// A signal after the summary was kept (one that stopped the page's onUnload,
// or came while the program ends) still says it: the kept summary becomes
// an interrupted one, "Host_Error_Interrupted" on standard error once.
// Answers the exit code from then on (ExitCode when nothing changed).
int32 HostJob_NoteInterrupt(int32 ExitCode);

// Keeps the summary of a run that could not start, with the reason as its
// one error; answers the exit code (1). After a signal (one that stopped a
// loading page) "Host_Error_Interrupted" comes first and the code is 130.
int32 HostJob_Fail(const char *Reason);

// Prints the kept summary line on standard output (after the runtime ended),
// with the signals held meanwhile; from then on a second signal writes none.
int32 HostJob_PrintSummary(void);

RUNTIME_EXTERN_C_END
