// What the workflow application tells scripts and tasks about the process:
// the clock, the command line, the log, entitized text, the bandwidth limits
// of its two meters, elevation, the prevent-system-shutdown flag, crash
// events to analytics.
//
// Text outputs are cut to the caller's buffer; a null out-pointer is a fatal
// stop, as everywhere.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 WorkflowApp_GetCurrentTime(float64 *Seconds);

// The process command line (the runtime's), its fields and switches.
int32 WorkflowApp_GetCommandLine(char *Buffer, int32 Size);
int32 WorkflowApp_GetCommandFieldCount(int32 *Count);
int32 WorkflowApp_GetCommandField(int32 Index, char *Buffer, int32 Size);
int32 WorkflowApp_IsCommandFieldSet(const char *Name);
int32 WorkflowApp_GetCommandFieldByName(const char *Name, char *Buffer, int32 Size);

int32 WorkflowApp_GetDebugFilename(char *Buffer, int32 Size);
int32 WorkflowApp_GetDebugFlags(uint32 *Flags);
// Logs the text as it stands (never as a format), with a time stamp.
int32 WorkflowApp_SetDebugLogging(const char *Filename, uint32 Flags);
int32 WorkflowApp_DebugPrint(const char *Text);

// Non-ASCII characters to and from numeric references "&#%d;".
int32 WorkflowApp_ConvertToEntitizedString(const char *Source, char *Target, int32 Size);
int32 WorkflowApp_ConvertFromEntitizedString(const char *Source, char *Target, int32 Size);

// One limit of the local or remote meter, the other kept; 0 before the
// application exists.
int32 WorkflowApp_SetLocalReadBandwidth(int32 Limit);
int32 WorkflowApp_SetLocalWriteBandwidth(int32 Limit);
int32 WorkflowApp_SetRemoteReadBandwidth(int32 Limit);
int32 WorkflowApp_SetRemoteWriteBandwidth(int32 Limit);
int32 WorkflowApp_GetLocalReadBandwidth(int32 *Limit);
int32 WorkflowApp_GetLocalWriteBandwidth(int32 *Limit);
int32 WorkflowApp_GetRemoteReadBandwidth(int32 *Limit);
int32 WorkflowApp_GetRemoteWriteBandwidth(int32 *Limit);

// Whether the process runs as root.
int32 WorkflowApp_IsElevated(void);
// Starts as 1; the workflow manager keeps the system awake while it is set.
int32 WorkflowApp_SetPreventSystemShutdown(uint32 Flag);
int32 WorkflowApp_GetPreventSystemShutdown(uint32 *Flag);

// A crash record: the format, the library's version and the application
// macros merged into Info. Send queues it as "CrashDump" when analytics and
// crash reports are both on (1 without doing anything otherwise); the
// Interop form takes the info as JSON text (0 when it does not parse).
int32 WorkflowApp_FillCrashEvent(const char *Format, Dictionary *Info);
int32 WorkflowApp_SendCrashEvent(const char *Format, Dictionary *Info);
int32 WorkflowApp_SendCrashEventInterop(const char *Format, const char *JsonText);

RUNTIME_EXTERN_C_END
