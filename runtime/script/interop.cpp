// The script bridge's singleton: start, settings, the process step and the
// end. Families, instances and the page batch live in interop_*.cpp.
#include "runtime/script/interop.h"

#include "runtime/critical_section.h"
#include "runtime/event_queue.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/script/interop_internal.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

InteropStruct *GlobalInterop = nullptr;

// The log's verbose level of "Interop" above which the bridge logs its work.
constexpr int32 VerboseLevelThreshold = 5;

InteropStruct *Interop_Global(void) {
    InteropStruct *Global = GlobalInterop;
    if (Global == nullptr) Debug_Abort("Pointer is NULL\n");
    return Global;
}

void Interop_CheckMainThread(const char *File, int32 Line) {
    if (Thread_GetMainId() != Thread_GetCurrentId())
        Debug_AbortInt(File, Line, "Assertion failed (Thread_GetMainId() == Thread_GetCurrentId())\n"
                                   "Function not on main thread");
}

void Interop_PostProcess(void) { EventQueue_AddProcess(nullptr, GlobalInterop, Interop_ProcessEvent); }

int32 Interop_Init(void) {
    if (GlobalInterop != nullptr) return TRUE;
    InteropStruct *Global = Memory_New(InteropStruct);
    int32 Level = 0;
    Log_GetVerboseLevel("Interop", &Level);
    Global->Verbose = Level > VerboseLevelThreshold ? 1 : 0;

    Pool_Create(&Global->CallbackPool);
    Pool_SetMemorySize(Global->CallbackPool, (uint32)sizeof(InteropCallback));
    Pool_SetChunkSize(Global->CallbackPool, InteropPoolChunk);
    Global->Pending = new InteropPending;

    JSON_Create(&Global->Writer);
    JSON_SetPrivateKeys(Global->Writer, FALSE);

    Global->Saved.Advance = TRUE;
    Interop_CreateInstanceTable(Global);
    CriticalSection_Create(&Global->Lock);
    GlobalInterop = Global;
    return TRUE;
}

int32 Interop_Remove(void) {
    InteropStruct *Global = GlobalInterop;
    if (Global == nullptr) return FALSE;
    EventQueue_RemoveInstance(nullptr, Global);
    Interop_RemoveLibraries();
    Interop_RemoveBatch(Global);
    Interop_DeleteInstanceTable(Global);
    JSON_Delete(&Global->Writer);
    CriticalSection_Delete(&Global->Lock);
    delete Global->Pending;
    Pool_Delete(&Global->CallbackPool);
    GlobalInterop = nullptr;
    Memory_Delete(Global);
    return TRUE;
}

int32 Interop_SetConfigHandle(Dictionary *Config) {
    Interop_Global()->Config = Config;
    return TRUE;
}

int32 Interop_GetConfigHandle(Dictionary **Config) {
    Debug_CheckPointer(Config);
    *Config = Interop_Global()->Config;
    return *Config != nullptr;
}

int32 Interop_SetVerbose(uint32 Flag) {
    Interop_Global()->Verbose = Flag;
    return TRUE;
}

int32 Interop_GetVerbose(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = Interop_Global()->Verbose;
    return TRUE;
}

int32 Interop_GenerateInstanceId(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    return String_Guid(Buffer, Size, FALSE);
}

int32 Interop_IsInitialized(void) { return GlobalInterop != nullptr; }

int32 Interop_Process(void) {
    Interop_AssertMainThread();
    Interop_Global();
    Interop_ProcessInstances(Time_GetCurrent());
    Interop_ProcessLibraries();
    // Callbacks have a second budget; the batch was written as it came.
    Interop_ProcessCallbacks(Time_GetCurrent());
    Interop_ProcessBatch();
    return TRUE;
}

int32 Interop_ProcessEvent(void *Instance) {
    (void)Instance;
    Interop_AssertMainThread();
    if (GlobalInterop == nullptr) return FALSE;
    return Interop_Process();
}
