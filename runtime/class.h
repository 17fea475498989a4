// The class header that begins every object, and the handle check that every
// public operation runs first. Because InstanceId is the first field, a
// pointer to an object is also a pointer to its instance-id text.
//
// Reference counts change only by atomic additions; the last Class_Release
// calls the type's Delete with the caller's handle address. Releasing through
// an empty handle is a fatal stop ("Pointer is NULL\n"). Objects that
// scripts can name carry an instance id (32 lower-case hex digits) and are
// kept in the process-wide instance table, which maps the id text stored in
// the object itself (not a copy) to the object. Loaded interop libraries
// install the host's table operations as overrides, so one process has one
// table.
//
// Types that print diagnostics put a ClassPrint record directly behind the
// header; CLASSPRINT_DECLARE / CLASSPRINT_DEFINE give such a type its print
// family (SetVerbose ... PrintTabbed) without writing it out again.
#pragma once

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Class_DeleteFunc)(void *HandleAddress);

typedef struct ClassStruct {
    char InstanceId[36];
    uint32 ClassId;
    int32 RefCount;
    Class_DeleteFunc Delete;
} ClassStruct;

// A formatted-print function: the user value first, then a format and its
// arguments (the same shape as the log's printers).
typedef int32 (*ClassPrint_Func)(void *User, const char *Format, ...);

// Diagnostic print state, directly behind the class header. Filled lazily
// without a lock: concurrent first uses write the same values.
typedef struct ClassPrintStruct {
    const char *InstanceIdText;  // the object itself once set
    const char *ClassName;       // the type's constant name
    const char *PrintIdentifier; // the caller's text, null for none
    int32 Verbose;               // set by the type's SetVerbose
    int32 VerboseLevel;          // from the verbose list
    int32 VerboseListed;         // from the verbose list
    uint8 Looked;                // 1 once the verbose list was consulted
    void *PrintUser;
    ClassPrint_Func PrintFunction;
} ClassPrintStruct;

typedef void *(*Class_ConvertFromInstanceIdFunc)(const char *InstanceId);
typedef const char *(*Class_ConvertToInstanceIdFunc)(void *Object);
typedef int32 (*Class_TrackInstanceFunc)(void *Object, const char *InstanceId);
typedef int32 (*Class_UntrackInstanceFunc)(const char *InstanceId);

void *Class_AddRef(void *Object);
int32 Class_Release(void *HandleAddress);
int32 Class_HasOneRef(void *Object);
int32 Class_SetDeleteCallback(void *Object, Class_DeleteFunc Function);
int32 Class_GetDeleteCallback(void *Object, Class_DeleteFunc *Function);

int32 Class_GenerateInstanceIdReal(void *Object);
int32 Class_TrackInstance(void *Object, const char *InstanceId);
int32 Class_UntrackInstance(const char *InstanceId);
void *Class_ConvertFromInstanceId(const char *InstanceId);
const char *Class_ConvertToInstanceId(void *Object);

int32 Class_ConvertFromInstanceIdOverride(Class_ConvertFromInstanceIdFunc Function);
int32 Class_ConvertToInstanceIdOverride(Class_ConvertToInstanceIdFunc Function);
int32 Class_TrackInstanceOverride(Class_TrackInstanceFunc Function);
int32 Class_UntrackInstanceOverride(Class_UntrackInstanceFunc Function);

int32 Class_Init(void);
int32 Class_Remove(void);

int32 ClassPrint_IsVerboseLevel(ClassPrintStruct *Print, int32 Level);
int32 ClassPrint_VPrint(ClassPrintStruct *Print, int32 Indent, const char *Format, va_list Arguments);

// Copies an object's instance id for the types' GetInstanceId: at most 36
// bytes and never more than Size - 1 characters, always terminated; 0 for a
// missing output or a size below 1.
int32 Class_CopyInstanceId(const void *Object, char *Output, int32 Size);

// Installs the print defaults of a type (its printer, the object as user
// value, the class name and the id text) into the fields still empty. The
// printer must write only the log's stamped debug lines (MarkLogLine).
void ClassPrint_InstallDefaults(ClassPrintStruct *Print, void *Object, const char *ClassName,
                                ClassPrint_Func Printer);

// Marks Function as a printer whose lines reach nothing but the log (when
// Check is null, or while Check(User) answers nonzero): while the log is
// disabled such lines are dropped before they are formatted. The types'
// default printers are marked when installed; 0 once the table is full.
typedef int32 (*ClassPrint_LogOnlyFunc)(void *User);
int32 ClassPrint_MarkLogOnly(ClassPrint_Func Function, ClassPrint_LogOnlyFunc Check);
// Marks Function, as above, as a printer that moreover does nothing but
// write each line it is handed as the log's stamped debug line at indent 0
// (Log_PrintVInt(LOG_DEBUG, ..., 0, Format, TRUE, ...)): the common lines
// are then composed straight into the log's line, formatted once, and
// Function is not called for them. A function keeps the first of its marks.
int32 ClassPrint_MarkLogLine(ClassPrint_Func Function, ClassPrint_LogOnlyFunc Check);

RUNTIME_EXTERN_C_END

#define Class_GenerateInstanceId(Object) Class_GenerateInstanceIdReal((void *)(Object))

#ifdef __cplusplus
static_assert(offsetof(ClassStruct, InstanceId) == 0);
static_assert(offsetof(ClassStruct, ClassId) == 36);
static_assert(offsetof(ClassStruct, RefCount) == 40);
static_assert(offsetof(ClassStruct, Delete) == 48);
static_assert(sizeof(ClassStruct) == 56);
static_assert(offsetof(ClassPrintStruct, Looked) == 36);
static_assert(offsetof(ClassPrintStruct, PrintFunction) == 48);
static_assert(sizeof(ClassPrintStruct) == 56);
#endif

// A null record, or one whose tag field is not the expected value, is a
// fatal stop at File and Line. Records that carry their own tag rather than
// the class header check through this too, so every mismatch reads alike.
#define Class_CheckTagAt(Record, TagField, Expected, File, Line)                                      \
    do {                                                                                              \
        if ((Record) == nullptr) Debug_AbortInt(File, Line, "Pointer is NULL\n");                    \
        if ((Record)->TagField != (uint32)(Expected))                                                 \
            Debug_AbortInt(File, Line, "Class mismatch pointer (0x%p: expected 0x%08x but was 0x%08x)\n", \
                           (const void *)(Record), (uint32)(Expected), (uint32)(Record)->TagField);  \
    } while (0)
#define Class_CheckTag(Record, TagField, Expected) Class_CheckTagAt(Record, TagField, Expected, __FILE__, __LINE__)

// A null handle or one of another type is a fatal stop at the caller's line.
#define Class_CheckHandle(Handle, ExpectedClassId) \
    Class_CheckTag((const ClassStruct *)(Handle), ClassId, ExpectedClassId)

// Sets ClassId and RefCount = 1 in one 64-bit store and the delete function,
// as every create does on its new (not yet shared) zero-filled object.
static inline void Class_InitHeader(void *Object, uint32 ClassId, Class_DeleteFunc Delete) {
    ClassStruct *Header = (ClassStruct *)Object;
    uint64 Pair = (uint64)ClassId | ((uint64)1 << 32);
    __builtin_memcpy(&Header->ClassId, &Pair, sizeof(Pair));
    Header->Delete = Delete;
}

// The reference family of a type: Prefix_AddRef, Prefix_Release and
// Prefix_GetInstanceId. Declare in the type's header, define in its source.
#define CLASS_DECLARE_REFERENCE(Prefix, Type)                                                         \
    Type *Prefix##_AddRef(Type *Handle);                                                              \
    int32 Prefix##_Release(Type **Handle);                                                            \
    int32 Prefix##_GetInstanceId(Type *Handle, char *Output, int32 Size);

#define CLASS_DEFINE_REFERENCE(Prefix, Type, ClassIdValue)                                            \
    Type *Prefix##_AddRef(Type *Handle) {                                                             \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        return (Type *)Class_AddRef(Handle);                                                          \
    }                                                                                                 \
    int32 Prefix##_Release(Type **Handle) {                                                           \
        Debug_CheckPointer(Handle);                                                                   \
        Class_CheckHandle(*Handle, ClassIdValue);                                                     \
        return Class_Release(Handle);                                                                 \
    }                                                                                                 \
    int32 Prefix##_GetInstanceId(Type *Handle, char *Output, int32 Size) {                            \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        return Class_CopyInstanceId(Handle, Output, Size);                                            \
    }

// The print family of a diagnostic type. Print writes at indent 0,
// PrintTabbed at the given indent; neither filters by verbose level (callers
// ask IsVerboseLevel first).
#define CLASSPRINT_DECLARE(Prefix, Type)                                                              \
    int32 Prefix##_SetVerbose(Type *Handle, int32 Verbose);                                           \
    int32 Prefix##_GetVerbose(Type *Handle, int32 *Verbose);                                          \
    int32 Prefix##_SetPrintCallback(Type *Handle, void *User, ClassPrint_Func Function);              \
    int32 Prefix##_GetPrintCallback(Type *Handle, void **User, ClassPrint_Func *Function);            \
    int32 Prefix##_SetPrintIdentifier(Type *Handle, const char *Identifier);                          \
    int32 Prefix##_IsVerboseLevel(Type *Handle, int32 Level);                                         \
    int32 Prefix##_VPrint(Type *Handle, int32 Indent, const char *Format, va_list Arguments);         \
    int32 Prefix##_Print(Type *Handle, const char *Format, ...);                                      \
    int32 Prefix##_PrintTabbed(Type *Handle, int32 Indent, const char *Format, ...);

// Expand once in the type's source, where Type is complete and PrintField
// names its ClassPrintStruct member (directly behind the header). The
// module's printer writes stamped level-3 lines attributed to that source.
#define CLASSPRINT_DEFINE(Prefix, Type, ClassIdValue, ClassNameText, PrintField)                      \
    static_assert(offsetof(Type, PrintField) == sizeof(ClassStruct), "print record follows header"); \
    static int32 Prefix##_ModulePrinter(void *User, const char *Format, ...) {                        \
        (void)User;                                                                                   \
        va_list Arguments;                                                                            \
        va_start(Arguments, Format);                                                                  \
        int32 Result = Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);      \
        va_end(Arguments);                                                                            \
        return Result;                                                                                \
    }                                                                                                 \
    static ClassPrintStruct *Prefix##_PrintRecord(Type *Handle) {                                     \
        ClassPrint_InstallDefaults(&Handle->PrintField, Handle, ClassNameText, Prefix##_ModulePrinter); \
        return &Handle->PrintField;                                                                   \
    }                                                                                                 \
    int32 Prefix##_SetVerbose(Type *Handle, int32 Verbose) {                                          \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        __atomic_store_n(&Handle->PrintField.Verbose, Verbose, __ATOMIC_RELAXED);                     \
        return TRUE;                                                                                  \
    }                                                                                                 \
    int32 Prefix##_GetVerbose(Type *Handle, int32 *Verbose) {                                        \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        Debug_CheckPointer(Verbose);                                                                  \
        *Verbose = __atomic_load_n(&Handle->PrintField.Verbose, __ATOMIC_RELAXED);                    \
        return TRUE;                                                                                  \
    }                                                                                                 \
    int32 Prefix##_SetPrintCallback(Type *Handle, void *User, ClassPrint_Func Function) {             \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        Handle->PrintField.PrintUser = User;                                                          \
        Handle->PrintField.PrintFunction = Function;                                                  \
        return TRUE;                                                                                  \
    }                                                                                                 \
    int32 Prefix##_GetPrintCallback(Type *Handle, void **User, ClassPrint_Func *Function) {           \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        if (User != nullptr) *User = Handle->PrintField.PrintUser;                                    \
        if (Function != nullptr) *Function = Handle->PrintField.PrintFunction;                        \
        return TRUE;                                                                                  \
    }                                                                                                 \
    int32 Prefix##_SetPrintIdentifier(Type *Handle, const char *Identifier) {                         \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        Handle->PrintField.PrintIdentifier = Identifier;                                              \
        return TRUE;                                                                                  \
    }                                                                                                 \
    int32 Prefix##_IsVerboseLevel(Type *Handle, int32 Level) {                                        \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        return ClassPrint_IsVerboseLevel(Prefix##_PrintRecord(Handle), Level);                        \
    }                                                                                                 \
    int32 Prefix##_VPrint(Type *Handle, int32 Indent, const char *Format, va_list Arguments) {        \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        return ClassPrint_VPrint(Prefix##_PrintRecord(Handle), Indent, Format, Arguments);            \
    }                                                                                                 \
    int32 Prefix##_Print(Type *Handle, const char *Format, ...) {                                     \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        va_list Arguments;                                                                            \
        va_start(Arguments, Format);                                                                  \
        int32 Result = ClassPrint_VPrint(Prefix##_PrintRecord(Handle), 0, Format, Arguments);         \
        va_end(Arguments);                                                                            \
        return Result;                                                                                \
    }                                                                                                 \
    int32 Prefix##_PrintTabbed(Type *Handle, int32 Indent, const char *Format, ...) {                 \
        Class_CheckHandle(Handle, ClassIdValue);                                                      \
        va_list Arguments;                                                                            \
        va_start(Arguments, Format);                                                                  \
        int32 Result = ClassPrint_VPrint(Prefix##_PrintRecord(Handle), Indent, Format, Arguments);    \
        va_end(Arguments);                                                                            \
        return Result;                                                                                \
    }
