// The core class family: which class names it makes, with which functions.
#include "runtime/script/core_script.h"

#include <string.h>

#include "runtime/notification/notification_center_script.h"

namespace {

// A page's "TQX.NotificationCenter" instance holds one share of the page's
// registration; releasing the instance gives that share back.
int32 ReleaseRegistration(void **UserAddress, const char *InstanceId) {
    (void)InstanceId;
    return Interop_RemoveExecuteCallback(reinterpret_cast<InteropExecuteCallback **>(UserAddress));
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

// The notification center's class is the runtime's own; the others are added
// by their modules at start-up (CoreInterop_AddClass). Names are unique, so
// the order of the table does not matter.
constexpr int32 ClassCapacity = 16;
CoreClass CoreClasses[ClassCapacity] = {
    {"TQX.NotificationCenter", NotificationCenter_Invoke, ReleaseRegistration, ClassKind::PageRegistration},
};
int32 ClassCount = 1;

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
    int32 Count = __atomic_load_n(&ClassCount, __ATOMIC_ACQUIRE);
    for (int32 Index = 0; Index < Count; ++Index) {
        const CoreClass &Class = CoreClasses[Index];
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

int32 CoreInterop_AddClass(const char *ClassName, Interop_InvokeFunc Invoke, Interop_ReleaseFunc Release,
                           Interop_ProcessFunc Process, void *(*Create)(void)) {
    Debug_CheckPointer(ClassName);
    Debug_CheckPointer(Invoke);
    int32 Count = __atomic_load_n(&ClassCount, __ATOMIC_ACQUIRE);
    // Every start-up adds the same classes again: a name already there stays.
    for (int32 Index = 0; Index < Count; ++Index)
        if (strcmp(CoreClasses[Index].Name, ClassName) == 0) return TRUE;
    if (Count >= ClassCapacity) return FALSE;
    CoreClasses[Count] = {ClassName, Invoke, Release, Create != nullptr ? ClassKind::NativeObject : ClassKind::Stateless,
                          Process, Create};
    __atomic_store_n(&ClassCount, Count + 1, __ATOMIC_RELEASE);
    return TRUE;
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
