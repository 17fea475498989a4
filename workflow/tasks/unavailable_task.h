// The stand-in for task types that this build does not carry: the system and
// content types (file, directory, process, registry, disk image, download
// ...) and the engine's own types still to come. Every record below shares
// one type object that, on "Task"/"Start", prints "Task type <type> is not
// available in this build", records "<type>_Error_NotAvailable" (never
// ignored through "ignoreError") and completes the task unsuccessfully, so a
// workflow that names such a type fails clearly and never hangs.
//
// Each record is named after its type with the suffix "_INTERFACE"; the
// module that builds a type replaces its record here with its own.
#pragma once

#include "workflow/task.h"
#include "workflow/tasks/control_task.h"
#include "workflow/tasks/macro_task.h"
#include "workflow/tasks/progress_task.h"
#include "workflow/tasks/queue_task.h"

#define UNAVAILABLETASK_CLASSID 0x5e7a0b11u

// Types of the system and content tasks, in default-table order.
#define UNAVAILABLETASK_SYSTEM_TYPES(X)                                                                            \
    X(InteropLoad) X(InteropUnload) X(CertStoreLoad) X(PlistWrite) X(PlistRead) X(FileCopy) X(FileMove)              \
    X(FileDelete) X(FileExists) X(FileTruncate) X(FileHash) X(FileAuthenticate) X(DirectoryCreate) X(DirectoryCopy)  \
    X(DirectoryMove) X(DirectoryDelete) X(DirectoryExists) X(DirectoryList) X(DirectoryIsEmpty)                      \
    X(DirectoryIsWritable) X(DiskSpaceCheck) X(RepositoryCheck) X(RepositoryFileCheck) X(RepositorySync)             \
    X(RepositoryErase) X(Open) X(ProgramOpen) X(ProcessOpen) X(ProgramIsOpen) X(ProcessIsOpen) X(ProgramClose)       \
    X(ProcessClose) X(ProcessList) X(Launch) X(RegistryKeyWrite) X(RegistryKeyRead) X(RegistryKeyCreate)             \
    X(RegistryKeyDelete) X(RegistryKeyExists) X(DMGMount) X(DMGUnmount) X(PKG) X(ShortcutCreate) X(ShortcutDelete)   \
    X(URLRedirect) X(URLRedirectMacro) X(Unzip) X(Download) X(IniRead) X(IniWrite) X(XMLRead) X(XMLWrite)            \
    X(JSONRead) X(JSONWrite) X(Analytics)

// The engine's own types whose modules are not built yet.
#define UNAVAILABLETASK_ENGINE_TYPES(X)

RUNTIME_EXTERN_C_BEGIN

#define UNAVAILABLETASK_DECLARE(Type) extern const TaskInterface Type##_INTERFACE;
UNAVAILABLETASK_SYSTEM_TYPES(UNAVAILABLETASK_DECLARE)
UNAVAILABLETASK_ENGINE_TYPES(UNAVAILABLETASK_DECLARE)
#undef UNAVAILABLETASK_DECLARE

int32 UnavailableTask_Create(void **Handle, Task *Owner);
void *UnavailableTask_AddRef(void *Handle);
int32 UnavailableTask_Release(void **Handle);

RUNTIME_EXTERN_C_END
