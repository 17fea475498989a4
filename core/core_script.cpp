// The core class family: which class names it makes, with which functions.
#include "core/core_script.h"

#include <string.h>

#include "core/notification_center_script.h"
#include "core/path_script.h"
#include "core/pipe.h"
#include "core/pipe_script.h"
#include "core/platform_script.h"
#include "core/process.h"
#include "core/process_script.h"
#include "core/registry_script.h"
#include "core/web_get.h"

namespace {

// A page's "TQX.NotificationCenter" instance holds one share of the page's
// registration; releasing the instance gives that share back.
int32 ReleaseRegistration(void **UserAddress, const char *InstanceId) {
    (void)InstanceId;
    return Interop_RemoveExecuteCallback(reinterpret_cast<InteropExecuteCallback **>(UserAddress));
}

// Each "TQX.Process" and "TQX.Pipe" instance is a native object of its own,
// named by the object's instance id and ticked at every process step.
int32 ReleaseProcess(void **UserAddress, const char *InstanceId) {
    (void)InstanceId;
    return Process_Release(reinterpret_cast<Process **>(UserAddress));
}
int32 TickProcess(void *User) { return Process_Process(static_cast<Process *>(User)); }
void *CreateProcess() {
    Process *Object = nullptr;
    Process_Create(&Object);
    return Object;
}

int32 ReleasePipe(void **UserAddress, const char *InstanceId) {
    (void)InstanceId;
    return Pipe_Release(reinterpret_cast<Pipe **>(UserAddress));
}
int32 TickPipe(void *User) { return Pipe_Process(static_cast<Pipe *>(User)); }
void *CreatePipe() {
    Pipe *Object = nullptr;
    Pipe_Create(&Object);
    return Object;
}

enum class ClassKind { Stateless, PageRegistration, NativeObject };

struct CoreClass {
    const char *Name;
    Interop_InvokeFunc Invoke;
    Interop_ReleaseFunc Release;
    ClassKind Kind;
    Interop_ProcessFunc Process = nullptr;
    void *(*Create)() = nullptr;
};

const CoreClass CoreClasses[] = {
    {"TQX.Process", Process_Invoke, ReleaseProcess, ClassKind::NativeObject, TickProcess, CreateProcess},
    {"TQX.Pipe", Pipe_Invoke, ReleasePipe, ClassKind::NativeObject, TickPipe, CreatePipe},
    {"TQX.Platform", Platform_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.FileSystem", Path_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.Registry", Registry_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.NotificationCenter", NotificationCenter_Invoke, ReleaseRegistration, ClassKind::PageRegistration},
    {"TQX.Analytics", Analytics_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.WebGet", WebGet_Invoke, nullptr, ClassKind::Stateless},
};

} // namespace

int32 CoreInterop_CreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                 Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                 Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process, void **User) {
    Debug_CheckPointer(Invoke);
    Debug_CheckPointer(Release);
    Debug_CheckPointer(Process);
    Debug_CheckPointer(User);
    *Invoke = nullptr;
    *Release = nullptr;
    *Process = nullptr;
    *User = nullptr;
    if (ClassName == nullptr) return FALSE;
    for (const CoreClass &Class : CoreClasses) {
        if (strcmp(ClassName, Class.Name) != 0) continue;
        if (Class.Kind == ClassKind::NativeObject) {
            // The instance is named by the object's own id, not the page's.
            void *Object = Class.Create();
            if (IdBuffer != nullptr && IdSize > 0) Class_CopyInstanceId(Object, IdBuffer, IdSize);
            *User = Object;
            *Process = Class.Process;
        } else if (Class.Kind == ClassKind::PageRegistration) {
            InteropExecuteCallback *Registration = nullptr;
            Interop_AddExecuteCallback(&Registration, ExecuteUser, ExecuteFunction);
            *User = Registration;
        }
        *Invoke = Class.Invoke;
        *Release = Class.Release;
        return TRUE;
    }
    return FALSE;
}

int32 CoreInterop_SetOverride(const char *Name, void *Function) {
    (void)Name;
    (void)Function;
    return TRUE;
}

int32 CoreInterop_SetOption(const char *Name, const char *Value) {
    (void)Name;
    (void)Value;
    return TRUE;
}

int32 CoreInterop_Init(void) { return TRUE; }

int32 CoreInterop_Remove(void) { return TRUE; }
