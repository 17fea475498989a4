// The comparison types: StringContains runs "found" or "notFound"; the
// three-way ones run "equalTo", or "notEqualTo" and then "greaterThan" or
// "lessThan" handed the result of "notEqualTo".
#include <utility>

#include "runtime/text/string.h"
#include "runtime/version.h"
#include "workflow/task_internal.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/control_task.h"

#define COMPARE_FIELDS                                                                                        \
    ClassStruct Class;                                                                                         \
    Task *Owner;                                                                                               \
    int32 Order;                                                                                               \
    Dictionary *Failure; /* a copy of the failed "notEqualTo" result */

struct StringContains {
    COMPARE_FIELDS
};
struct StringCompare {
    COMPARE_FIELDS
};
struct NumberCompare {
    COMPARE_FIELDS
};
struct VersionCompare {
    COMPARE_FIELDS
};

namespace {

constexpr int32 StringSize = 1024;
constexpr int32 VersionSize = 240;

struct CompareHead {
    COMPARE_FIELDS
};

// The second branch runs whatever the first gave, but a failed first one
// stays the outcome: the second's success must not hide it.
int32 AfterOrdered(Task *Owner, void *User, Dictionary *Result) {
    CompareHead *Self = static_cast<CompareHead *>(User);
    if (Self->Failure == nullptr) return Task_Complete(Owner, Result);
    Dictionary *Failure = Self->Failure;
    Self->Failure = nullptr;
    int32 Done = Task_Complete(Owner, Failure);
    Dictionary_Release(&Failure);
    return Done;
}

int32 AfterNotEqual(Task *Owner, void *User, Dictionary *Result) {
    CompareHead *Self = static_cast<CompareHead *>(User);
    const char *Next = Self->Order > 0 ? "greaterThan" : "lessThan";
    uint32 Successful = TRUE;
    if (Result != nullptr) Dictionary_GetBooleanByKey(Result, "successful", &Successful);
    if (!Successful && Self->Failure == nullptr) {
        Dictionary_Create(&Self->Failure);
        Dictionary_Merge(Self->Failure, Result, DICTIONARY_MERGE_OVERWRITE);
    }
    return Task_RunSubActionNext(Owner, Next, Result, Self, AfterOrdered);
}

int32 Branch(CompareHead *Self, int32 Order) {
    Self->Order = Order;
    if (Order == 0) return Task_RunSubAction(Self->Owner, "equalTo", nullptr, Task_SubAction_Complete);
    return Task_RunSubAction(Self->Owner, "notEqualTo", Self, AfterNotEqual);
}

// Both strings or the first missing one's report; 0 when one was missing.
int32 ReadTwo(Task *Owner, const char *One, const char *Two, char *First, char *Second, int32 Size) {
    for (auto [Name, Buffer] : {std::pair{One, First}, std::pair{Two, Second}}) {
        if (Task_GetStringArgument(Owner, Name, Buffer, Size)) continue;
        if (Task_IsArgumentRefused(Owner)) Task_Complete(Owner, nullptr);
        else TaskType_MissingArgument(Owner, Name);
        return FALSE;
    }
    return TRUE;
}

int32 OnContainsStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<CompareHead *>(User)->Owner;
    char One[StringSize], Two[StringSize];
    One[0] = Two[0] = 0;
    if (!ReadTwo(Owner, "stringOne", "stringTwo", One, Two, StringSize)) return TRUE;
    uint32 IgnoreCase = FALSE;
    Task_GetBooleanArgument(Owner, "ignoreCase", &IgnoreCase);
    int32 Found = IgnoreCase ? String_ContainsStringWithoutCase(One, Two) : String_ContainsString(One, Two);
    Task_Print(Owner, "String %s contains %s = %d\n", One, Two, Found ? 1 : 0);
    return Task_RunSubAction(Owner, Found ? "found" : "notFound", nullptr, Task_SubAction_Complete);
}

int32 OnStringStart(void *User, const char *, const char *, const char *, Dictionary *) {
    CompareHead *Self = static_cast<CompareHead *>(User);
    char One[StringSize], Two[StringSize];
    One[0] = Two[0] = 0;
    if (!ReadTwo(Self->Owner, "stringOne", "stringTwo", One, Two, StringSize)) return TRUE;
    uint32 IgnoreCase = FALSE;
    Task_GetBooleanArgument(Self->Owner, "ignoreCase", &IgnoreCase);
    int32 Order = IgnoreCase ? String_CompareWithoutCaseReturn(One, Two) : String_CompareReturn(One, Two);
    Order = (Order > 0) - (Order < 0);
    Task_Print(Self->Owner, "Compare string %s to %s = %d\n", One, Two, Order);
    return Branch(Self, Order);
}

int32 OnNumberStart(void *User, const char *, const char *, const char *, Dictionary *) {
    CompareHead *Self = static_cast<CompareHead *>(User);
    Task *Owner = Self->Owner;
    float64 Values[2] = {0, 0};
    const char *Names[2] = {"numberOne", "numberTwo"};
    for (int32 Index = 0; Index < 2; Index++) {
        if (!Task_HasArgument(Owner, Names[Index])) return TaskType_MissingArgument(Owner, Names[Index]);
        if (!Task_GetNumberArgument(Owner, Names[Index], &Values[Index])) {
            Task_Print(Owner, "%s argument is not numeric\n", Names[Index]);
            Task_AddError(Owner, "%s", "Task_Error_InvalidArg");
            return Task_Complete(Owner, nullptr);
        }
    }
    Task_Print(Owner, "Compare number %f to %f\n", Values[0], Values[1]);
    return Branch(Self, (Values[0] > Values[1]) - (Values[0] < Values[1]));
}

int32 OnVersionStart(void *User, const char *, const char *, const char *, Dictionary *) {
    CompareHead *Self = static_cast<CompareHead *>(User);
    char One[VersionSize], Two[VersionSize];
    if (!ReadTwo(Self->Owner, "versionOne", "versionTwo", One, Two, VersionSize)) return TRUE;
    int32 Order = 0;
    if (!String_CompareVersion(One, Two, &Order)) {
        Task_Print(Self->Owner, "versionOne or versionTwo has incorrect format\n");
        TaskInt_RefuseArgument(Self->Owner, "versionOne or versionTwo",
                               "is no version: its parts are whole numbers of at most 2147483647");
        return Task_Complete(Self->Owner, nullptr);
    }
    Order = (Order > 0) - (Order < 0);
    Task_Print(Self->Owner, "Compare version %s to %s = %d\n", One, Two, Order);
    return Branch(Self, Order);
}

template <typename T> void FreeNothing(T *) {}

template <typename T> void FreeCompare(T *Self) {
    if (Self->Failure != nullptr) Dictionary_Release(&Self->Failure);
}

} // namespace

TASKTYPE_OBJECT_DEFINE(StringContains, StringContains, STRINGCONTAINS_CLASSID, OnContainsStart,
                       FreeNothing<StringContains>)
TASKTYPE_OBJECT_DEFINE(StringCompare, StringCompare, STRINGCOMPARE_CLASSID, OnStringStart, FreeCompare<StringCompare>)
TASKTYPE_OBJECT_DEFINE(NumberCompare, NumberCompare, NUMBERCOMPARE_CLASSID, OnNumberStart, FreeCompare<NumberCompare>)
TASKTYPE_OBJECT_DEFINE(VersionCompare, VersionCompare, VERSIONCOMPARE_CLASSID, OnVersionStart,
                       FreeCompare<VersionCompare>)
TASKTYPE_INTERFACE_DEFINE(StringContains, StringContains)
TASKTYPE_INTERFACE_DEFINE(StringCompare, StringCompare)
TASKTYPE_INTERFACE_DEFINE(NumberCompare, NumberCompare)
TASKTYPE_INTERFACE_DEFINE(VersionCompare, VersionCompare)
