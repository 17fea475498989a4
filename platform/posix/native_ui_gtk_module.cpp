#include "platform/posix/native_ui_gtk_module.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <string>

#include "platform/posix/gtk/native_ui_gtk.h"
#include "platform/posix/native_ui_backend.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"

namespace {

constexpr char ModuleName[] = "velmarsh_gtk.so";
constexpr char ModuleEntry[] = "NativeUIGtk_ModuleCreate";

std::string GlobalModulePath;

bool Named(const char *Variable) {
    const char *Value = getenv(Variable);
    return Value != nullptr && Value[0] != 0;
}

NativeUIBackend *CreateFromModule() {
    if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY")) return nullptr;
    std::string Path = GlobalModulePath;
    if (Path.empty()) {
        char Directory[MAX_PATH_SIZE] = "";
        Platform_GetModuleDirectory(nullptr, Directory, sizeof(Directory));
        Path = std::string(Directory) + ModuleName;
    }
    // Never unloaded: GTK cannot be, and the backend lives to the end.
    void *Module = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (Module == nullptr) {
        Log_Warning("The GTK backend could not be loaded (%s)\n", dlerror());
        return nullptr;
    }
    using CreateFunc = NativeUIBackend *(*)(NativeUIGtk_LogFunc);
    auto Create = reinterpret_cast<CreateFunc>(dlsym(Module, ModuleEntry));
    if (Create == nullptr) {
        Log_Warning("The GTK backend %s has no entry %s\n", Path.c_str(), ModuleEntry);
        return nullptr;
    }
    return Create(Log_PrintInt);
}

} // namespace

int32 NativeUIGtkModule_Register(const char *Path) {
    GlobalModulePath = Path != nullptr ? Path : "";
    return NativeUI_SetDisplayBackendFactory(CreateFromModule);
}
