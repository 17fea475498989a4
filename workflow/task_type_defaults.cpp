// The default task types in their fixed table order.
#include "workflow/task_type_list.h"
#include "workflow/tasks/control_task.h"
#include "workflow/tasks/unavailable_task.h"
#include "workflow/workflow_run.h"

const TaskInterface *const GlobalDefaultTaskInterfaces[TASKTYPELIST_DEFAULT_COUNT + 1] = {
    &InteropLoad_INTERFACE,      &InteropUnload_INTERFACE,    &CertStoreLoad_INTERFACE,
    &Queue_INTERFACE,            &Aggregate_INTERFACE,        &End_INTERFACE,
    &Error_INTERFACE,            &Shutdown_INTERFACE,         &Implode_INTERFACE,
    &Sleep_INTERFACE,            &Log_INTERFACE,              &Notification_INTERFACE,
    &Status_INTERFACE,           &StringContains_INTERFACE,   &StringCompare_INTERFACE,
    &NumberCompare_INTERFACE,    &VersionCompare_INTERFACE,   &Singleton_INTERFACE,
    &Environment_INTERFACE,      &EnvironmentGet_INTERFACE,   &EnvironmentSet_INTERFACE,
    &Macro_INTERFACE,            &PlistWrite_INTERFACE,       &PlistRead_INTERFACE,
    &FileCopy_INTERFACE,         &FileMove_INTERFACE,         &FileDelete_INTERFACE,
    &FileExists_INTERFACE,       &FileTruncate_INTERFACE,     &FileHash_INTERFACE,
    &FileAuthenticate_INTERFACE, &DirectoryCreate_INTERFACE,  &DirectoryCopy_INTERFACE,
    &DirectoryMove_INTERFACE,    &DirectoryDelete_INTERFACE,  &DirectoryExists_INTERFACE,
    &DirectoryList_INTERFACE,    &DirectoryIsEmpty_INTERFACE, &DirectoryIsWritable_INTERFACE,
    &DiskSpaceCheck_INTERFACE,   &RepositoryCheck_INTERFACE,  &RepositoryFileCheck_INTERFACE,
    &RepositorySync_INTERFACE,   &RepositoryErase_INTERFACE,  &Open_INTERFACE,
    &ProgramOpen_INTERFACE,      &ProcessOpen_INTERFACE,      &ProgramIsOpen_INTERFACE,
    &ProcessIsOpen_INTERFACE,    &ProgramClose_INTERFACE,     &ProcessClose_INTERFACE,
    &ProcessList_INTERFACE,      &Launch_INTERFACE,           &RegistryKeyWrite_INTERFACE,
    &RegistryKeyRead_INTERFACE,  &RegistryKeyCreate_INTERFACE, &RegistryKeyDelete_INTERFACE,
    &RegistryKeyExists_INTERFACE, &DMGMount_INTERFACE,        &DMGUnmount_INTERFACE,
    &PKG_INTERFACE,              &ShortcutCreate_INTERFACE,   &ShortcutDelete_INTERFACE,
    &URLRedirect_INTERFACE,      &URLRedirectMacro_INTERFACE, &Unzip_INTERFACE,
    &Download_INTERFACE,         &IniRead_INTERFACE,          &IniWrite_INTERFACE,
    &XMLRead_INTERFACE,          &XMLWrite_INTERFACE,         &JSONRead_INTERFACE,
    &JSONWrite_INTERFACE,        &Analytics_INTERFACE,        &Progress_INTERFACE,
    &WorkflowRun_INTERFACE,      nullptr,
};
