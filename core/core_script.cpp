// The core class family: which class names it makes, with which functions.
#include "core/core_script.h"

#include <string.h>

#include "core/notification_center_script.h"
#include "core/path_script.h"
#include "core/web_get.h"

namespace {

// A page's "TQX.NotificationCenter" instance holds one share of the page's
// registration; releasing the instance gives that share back.
int32 ReleaseRegistration(void **UserAddress, const char *InstanceId) {
    (void)InstanceId;
    return Interop_RemoveExecuteCallback(reinterpret_cast<InteropExecuteCallback **>(UserAddress));
}

enum class ClassKind { Stateless, PageRegistration };

struct CoreClass {
    const char *Name;
    Interop_InvokeFunc Invoke;
    Interop_ReleaseFunc Release;
    ClassKind Kind;
};

const CoreClass CoreClasses[] = {
    {"TQX.FileSystem", Path_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.NotificationCenter", NotificationCenter_Invoke, ReleaseRegistration, ClassKind::PageRegistration},
    {"TQX.Analytics", Analytics_Invoke, nullptr, ClassKind::Stateless},
    {"TQX.WebGet", WebGet_Invoke, nullptr, ClassKind::Stateless},
};

} // namespace

int32 CoreInterop_CreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                 Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                 Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process, void **User) {
    (void)IdBuffer; // stateless classes and page registrations keep the page's id (or get a GUID)
    (void)IdSize;
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
        if (Class.Kind == ClassKind::PageRegistration) {
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
