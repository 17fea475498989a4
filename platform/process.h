// Process: starts one external program and watches it to its end, announcing
// each step as a notification of the class "Process" for its instance id:
// "Start" at every launch, "Ready" {"id"} once per launch (when the child has
// run 0.25 seconds, or ends sooner), "Complete" {"successful","exitCode"}
// ("true" and the exit code whenever the child ran, "false" and 0 for every
// failure before or at the start). It is driven by ticks (Process_Process)
// on the main thread.
//
// Before the start it can check a file's SHA-1 digest (a slice per tick) and
// authenticate a file against a certificate store ("app" unless set) on a
// worker thread (AuthenticateAsync); the program starts only when the file
// is authentic or authentication is off.
//
// A second launch while one is under way is refused ("Complete" false); the
// child of the first is no longer watched but still collected, so none is
// left a zombie.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define PROCESS_CLASSID 0xd2245880u
#define PROCESS_PATH_SIZE 320
#define PROCESS_ARGUMENTS_SIZE 4096

#define PROCESS_RIGHTS_USER 0
#define PROCESS_RIGHTS_ELEVATED 1
#define PROCESS_RIGHTS_ASINVOKER 2
#define PROCESS_RIGHTS_COUNT 3

#define PROCESS_STATE_IDLE 0
#define PROCESS_STATE_DIGEST 1
#define PROCESS_STATE_AUTHENTICATE 2
#define PROCESS_STATE_RUNNING 3

RUNTIME_EXTERN_C_BEGIN

typedef struct Process Process;

int32 Process_Create(Process **Handle);
int32 Process_Delete(Process **Handle);
CLASS_DECLARE_REFERENCE(Process, Process)
CLASSPRINT_DECLARE(Process, Process)
int32 Process_VerboseLog(Process *Handle, const char *Format, ...);

#define PROCESS_DECLARE_TEXT(Field)                                                       \
    int32 Process_Set##Field(Process *Handle, const char *Text);                          \
    int32 Process_Get##Field(Process *Handle, char *Output, int32 Length);                \
    int32 Process_Get##Field##Ptr(Process *Handle, const char **Text);
PROCESS_DECLARE_TEXT(ApplicationName)
PROCESS_DECLARE_TEXT(Arguments)
PROCESS_DECLARE_TEXT(WorkingDirectory)
PROCESS_DECLARE_TEXT(SHA1)
PROCESS_DECLARE_TEXT(SHA1Target)
PROCESS_DECLARE_TEXT(AuthenticateTarget)
#undef PROCESS_DECLARE_TEXT

int32 Process_SetShowWindow(Process *Handle, uint32 Show);
int32 Process_GetShowWindow(Process *Handle, uint32 *Show);
int32 Process_SetElevationRights(Process *Handle, uint32 Rights);
int32 Process_GetElevationRights(Process *Handle, uint32 *Rights);
int32 Process_GetShortApplicationName(Process *Handle, char *Output, int32 Length);
int32 Process_GetRunningTime(Process *Handle, float64 *Seconds);
int32 Process_GetId(Process *Handle, int32 *Id);
int32 Process_GetState(Process *Handle, uint32 *State);
// The exit code of the last launch, once Process_Process has seen it end;
// 0 before.
int32 Process_GetExitCode(Process *Handle, int32 *Code);
// The store the authenticate target is checked against ("app" from creation).
int32 Process_SetCertStoreHandle(Process *Handle, CertStoreInterface *Store);

// Standard streams by the "instanceId" of a Pipe in a caller's Dictionary.
// Set: an id naming no Pipe answers 0 and changes nothing; a missing or
// empty id removes the pipe. Get: adds "instanceId" when a pipe is set.
int32 Process_SetStdin(Process *Handle, Dictionary *Value);
int32 Process_SetStdout(Process *Handle, Dictionary *Value);
int32 Process_SetStderr(Process *Handle, Dictionary *Value);
int32 Process_GetStdin(Process *Handle, Dictionary *Value);
int32 Process_GetStdout(Process *Handle, Dictionary *Value);
int32 Process_GetStderr(Process *Handle, Dictionary *Value);

// The names of the rights numbers, in order.
extern const char *const Process_RightsStringTable[PROCESS_RIGHTS_COUNT];
// "User", "Elevated", "AsInvoker"; unknown numbers give "User", unknown
// names (compared without case) give 0.
const char *Process_TranslateRights(uint32 Rights);
uint32 Process_TranslateRightsString(const char *Name);
// The launcher flags for the rights and window setting.
int32 Process_GetLaunchFlags(Process *Handle);

int32 Process_Launch(Process *Handle);
int32 Process_Process(Process *Handle);
int32 Process_Dump(Process *Handle);

RUNTIME_EXTERN_C_END
