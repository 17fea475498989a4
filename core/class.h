// The class header that begins every object, and the handle check that every
// public operation runs first. Because InstanceId is the first field, a
// pointer to an object is also a pointer to its instance-id text.
#pragma once

#include "core/debug.h"
#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Class_DeleteFunc)(void *HandleAddress);

typedef struct ClassStruct {
    char InstanceId[36];
    uint32 ClassId;
    int32 RefCount;
    Class_DeleteFunc Delete;
} ClassStruct;

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
static_assert(offsetof(ClassStruct, InstanceId) == 0);
static_assert(offsetof(ClassStruct, ClassId) == 36);
static_assert(offsetof(ClassStruct, RefCount) == 40);
static_assert(offsetof(ClassStruct, Delete) == 48);
static_assert(sizeof(ClassStruct) == 56);
#endif

// A null handle or one of another type is a fatal stop at the caller's line.
#define Class_CheckHandle(Handle, ExpectedClassId)                                                    \
    do {                                                                                              \
        if ((Handle) == nullptr) Debug_AbortInt(__FILE__, __LINE__, "Pointer is NULL\n");            \
        if (((const ClassStruct *)(Handle))->ClassId != (uint32)(ExpectedClassId))                   \
            Debug_AbortInt(__FILE__, __LINE__, "Class mismatch pointer (0x%p: expected 0x%08x but was 0x%08x)\n", \
                           (const void *)(Handle), (uint32)(ExpectedClassId),                        \
                           ((const ClassStruct *)(Handle))->ClassId);                                \
    } while (0)
