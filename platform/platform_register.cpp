// The platform services' registrations with the runtime. See
// platform_register.h.
#include "platform/platform_register.h"

#include "platform/path_script.h"
#include "platform/pipe.h"
#include "platform/pipe_script.h"
#include "platform/platform_script.h"
#include "platform/process.h"
#include "platform/process_script.h"
#include "platform/registry.h"
#include "platform/registry_script.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/string_expand.h"

namespace {

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

} // namespace

int32 PlatformServices_Register(void) {
    CoreInterop_AddClass("TQX.Process", Process_Invoke, ReleaseProcess, TickProcess, CreateProcess);
    CoreInterop_AddClass("TQX.Pipe", Pipe_Invoke, ReleasePipe, TickPipe, CreatePipe);
    CoreInterop_AddClass("TQX.Platform", Platform_Invoke, nullptr, nullptr, nullptr);
    CoreInterop_AddClass("TQX.FileSystem", Path_Invoke, nullptr, nullptr, nullptr);
    CoreInterop_AddClass("TQX.Registry", Registry_Invoke, nullptr, nullptr, nullptr);
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_REGISTRY, Registry_ExpandKey);
    Interop_SetHandOver("Registry_Authorize", (void *)Registry_Authorize, [](void *Function) {
        return Registry_AuthorizeOverride(reinterpret_cast<Registry_AuthorizeFunc>(Function));
    });
    return TRUE;
}
