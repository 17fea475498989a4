// Process facts of the workflow application (see workflow_app_facts.h).
#include "workflow/app/workflow_app_facts.h"

#include <string.h>

#include "net/analytics.h"
#include "runtime/command_line.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/streams/meter.h"
#include "runtime/text/html_entities.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_config.h"
#include "workflow/app/workflow_app_tick.h"

namespace {

uint32 PreventShutdown = 1;

MeterRW *Meters(bool Local) {
    MeterRW *Handle = nullptr;
    if (Local) WorkflowApp_GetLocalMeterRWHandle(&Handle);
    else WorkflowApp_GetRemoteMeterRWHandle(&Handle);
    return Handle;
}

int32 SetLimit(bool Local, bool Read, int32 Limit) {
    MeterRW *Handle = Meters(Local);
    return Handle != nullptr && Meter_SetLimitBandwidth(Read ? Handle->Read : Handle->Write, Limit);
}

int32 GetLimit(bool Local, bool Read, int32 *Limit) {
    Debug_CheckPointer(Limit);
    *Limit = 0;
    MeterRW *Handle = Meters(Local);
    return Handle != nullptr && Meter_GetLimitBandwidth(Read ? Handle->Read : Handle->Write, Limit);
}

} // namespace

int32 WorkflowApp_GetCurrentTime(float64 *Seconds) {
    Debug_CheckPointer(Seconds);
    *Seconds = Time_GetCurrent();
    return TRUE;
}

int32 WorkflowApp_GetCommandLine(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    const char *Line = nullptr;
    CommandLine_Get(&Line);
    String_CopyLength(Buffer, Line != nullptr ? Line : "", Size);
    return Line != nullptr;
}

int32 WorkflowApp_GetCommandFieldCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    return CommandLine_GetFieldCount(nullptr, Count);
}

int32 WorkflowApp_GetCommandField(int32 Index, char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    return Index >= 0 && CommandLine_GetField(nullptr, Index, Buffer, Size);
}

int32 WorkflowApp_IsCommandFieldSet(const char *Name) {
    Debug_CheckPointer(Name);
    return CommandLine_IsFieldSet(nullptr, Name);
}

int32 WorkflowApp_GetCommandFieldByName(const char *Name, char *Buffer, int32 Size) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    return CommandLine_GetFieldByName(nullptr, Name, Buffer, Size);
}

int32 WorkflowApp_GetDebugFilename(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    return Log_GetFilename(Buffer, Size);
}

int32 WorkflowApp_GetDebugFlags(uint32 *Flags) {
    Debug_CheckPointer(Flags);
    *Flags = Debug_Flags();
    return TRUE;
}

int32 WorkflowApp_SetDebugLogging(const char *Filename, uint32 Flags) {
    Debug_CheckPointer(Filename);
    // The log reads the flags when it takes the name, so they go first.
    return Debug_SetFlags(Flags) && Log_SetFilename(Filename);
}

int32 WorkflowApp_DebugPrint(const char *Text) {
    Debug_CheckPointer(Text);
    return Log_PrintStringWithTimeStamp(Text);
}

int32 WorkflowApp_ConvertToEntitizedString(const char *Source, char *Target, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    return StringUtf8_EncodeString(Source, Target, Size);
}

int32 WorkflowApp_ConvertFromEntitizedString(const char *Source, char *Target, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    return StringUtf8_DecodeString(Source, Target, Size);
}

int32 WorkflowApp_SetLocalReadBandwidth(int32 Limit) { return SetLimit(true, true, Limit); }
int32 WorkflowApp_SetLocalWriteBandwidth(int32 Limit) { return SetLimit(true, false, Limit); }
int32 WorkflowApp_SetRemoteReadBandwidth(int32 Limit) { return SetLimit(false, true, Limit); }
int32 WorkflowApp_SetRemoteWriteBandwidth(int32 Limit) { return SetLimit(false, false, Limit); }
int32 WorkflowApp_GetLocalReadBandwidth(int32 *Limit) { return GetLimit(true, true, Limit); }
int32 WorkflowApp_GetLocalWriteBandwidth(int32 *Limit) { return GetLimit(true, false, Limit); }
int32 WorkflowApp_GetRemoteReadBandwidth(int32 *Limit) { return GetLimit(false, true, Limit); }
int32 WorkflowApp_GetRemoteWriteBandwidth(int32 *Limit) { return GetLimit(false, false, Limit); }

int32 WorkflowApp_IsElevated(void) {
    int32 Elevated = 0;
    return Platform_IsElevated(&Elevated) && Elevated;
}

int32 WorkflowApp_SetPreventSystemShutdown(uint32 Flag) {
    PreventShutdown = Flag ? 1 : 0;
    return TRUE;
}

int32 WorkflowApp_GetPreventSystemShutdown(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = PreventShutdown;
    return TRUE;
}

int32 WorkflowApp_FillCrashEvent(const char *Format, Dictionary *Info) {
    Debug_CheckPointer(Format);
    Debug_CheckPointer(Info);
    return Analytics_FillCrashEvent(Format, WORKFLOWAPP_LIBRARY_VERSION, Info, WorkflowApp_GetMacroDictionaryHandle());
}

int32 WorkflowApp_SendCrashEvent(const char *Format, Dictionary *Info) {
    Debug_CheckPointer(Format);
    Debug_CheckPointer(Info);
    if (!Analytics_IsEnabled() || !Analytics_IsCrashDumpEnabled()) return TRUE;
    WorkflowApp_FillCrashEvent(Format, Info);
    return Analytics_SendEvent("CrashDump", Info);
}

int32 WorkflowApp_SendCrashEventInterop(const char *Format, const char *JsonText) {
    Debug_CheckPointer(Format);
    Debug_CheckPointer(JsonText);
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Parsed);
    int32 Result = JSON_LoadBuffer(Reader, JsonText, (int32)strlen(JsonText));
    JSON_Release(&Reader);
    Dictionary *Inner = nullptr;
    if (Result && Dictionary_SkipRoot(Parsed, &Inner) && Inner != nullptr)
        Result = WorkflowApp_SendCrashEvent(Format, Inner);
    else Result = FALSE;
    Dictionary_Release(&Parsed);
    return Result;
}
