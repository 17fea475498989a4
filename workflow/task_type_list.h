// TaskTypeList: task-type records (workflow/task.h TaskInterface) held by
// name. The application holds one list with the default types; every
// workflow holds its own for types registered on it. Lookups compare names
// without case and find the first match from the head.
//
// The list copies each record and its name (at most 39 characters); the
// pointer Find hands out stays valid until that node is removed. The remove
// callback runs just before a node goes, so an owner can drop the tasks
// that still use the record.
#pragma once

#include "workflow/task.h"

#define TASKTYPELIST_CLASSID 0x22f704cdu
#define TASKTYPELIST_NAME_SIZE 40
// Records in the default table.
#define TASKTYPELIST_DEFAULT_COUNT 76

RUNTIME_EXTERN_C_BEGIN

typedef struct TaskTypeList TaskTypeList;
typedef int32 (*TaskTypeList_RemoveFunc)(void *User, const TaskInterface *Record);

// The default records in table order, ending with a null pointer.
extern const TaskInterface *const GlobalDefaultTaskInterfaces[TASKTYPELIST_DEFAULT_COUNT + 1];

int32 TaskTypeList_Create(TaskTypeList **Handle);
int32 TaskTypeList_Delete(TaskTypeList **Handle);
CLASS_DECLARE_REFERENCE(TaskTypeList, TaskTypeList)
// A record with the same name text and operations is not added again (1).
int32 TaskTypeList_Add(TaskTypeList *Handle, const TaskInterface *Record);
int32 TaskTypeList_Find(TaskTypeList *Handle, const char *Name, const TaskInterface **Record);
int32 TaskTypeList_Remove(TaskTypeList *Handle, const TaskInterface *Record);
int32 TaskTypeList_RemoveByName(TaskTypeList *Handle, const char *Name);
int32 TaskTypeList_Reset(TaskTypeList *Handle);
int32 TaskTypeList_GetCount(TaskTypeList *Handle, int32 *Count);
int32 TaskTypeList_SetRemoveCallback(TaskTypeList *Handle, void *User, TaskTypeList_RemoveFunc Function);
int32 TaskTypeList_AddDefaultTasks(TaskTypeList *Handle);
// Removes the default records in reverse table order.
int32 TaskTypeList_RemoveDefaultTasks(TaskTypeList *Handle);

RUNTIME_EXTERN_C_END
