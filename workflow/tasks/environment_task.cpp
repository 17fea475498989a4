// Environment (also EnvironmentGet and EnvironmentSet: one behaviour, the
// name is not consulted) and Singleton.
#include <string.h>

#include <string>

#include "platform/app_mark.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "workflow/task_internal.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/control_task.h"

struct Environment {
    ClassStruct Class;
    Task *Owner;
};

struct Singleton {
    ClassStruct Class;
    Task *Owner;
    AppMark *Mark;
};

namespace {

constexpr int32 KeySize = 120;
constexpr int32 ValueSize = 4096;
constexpr int32 NameSize = 320;
constexpr size_t LargestValue = (size_t)ValueSize << 8;

// A key that can name no variable (empty, or holding "=") is refused: the
// platform would set nothing, and the run would go on as if it had.
bool KeyNamesVariable(Task *Owner, const char *Key) {
    if (Key[0] != 0 && strchr(Key, '=') == nullptr) return true;
    Task_Print(Owner, "key argument cannot name an environment variable (%s)\n", Key);
    TaskInt_RefuseArgument(Owner, ("key \"" + std::string(Key) + "\"").c_str(),
                           "names no environment variable: it is empty or holds \"=\"");
    return false;
}

bool SetVariable(Task *Owner, const char *Key, const char *Value) {
    if (!KeyNamesVariable(Owner, Key)) return false;
    Task_Print(Owner, "Set environment variable %s = %s\n", Key, Value);
    if (Platform_SetEnvironmentVariable(Key, Value)) return true;
    TaskInt_RefuseArgument(Owner, ("environment variable \"" + std::string(Key) + "\"").c_str(), "could not be set");
    return false;
}

int32 SetPair(void *User, const char *Key, Dictionary *Container, DictionaryItem *Item) {
    Task *Owner = static_cast<Task *>(User);
    const char *Text = nullptr;
    int32 Length = 0;
    if (Key == nullptr || !Dictionary_ItemCompareType(Container, Item, DICTIONARY_TYPE_STRING) ||
        !Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length) || Text == nullptr)
        return TRUE;
    char Name[KeySize];
    MemoryScope<char> Value(ValueSize);
    if (!TaskInt_ReadText(Owner, "a key of \"keyValuePairs\"", Key, (int32)strlen(Key), Name, (int32)sizeof(Name)) ||
        !TaskInt_ReadText(Owner, "a value of \"keyValuePairs\"", Text, Length, Value.Get(), ValueSize, false))
        return FALSE;
    return SetVariable(Owner, Name, Value.Get());
}

int32 OnEnvironmentStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<Environment *>(User)->Owner;
    char Key[KeySize] = "";
    MemoryScope<char> Value(ValueSize);
    bool HasKey = Task_GetStringArgument(Owner, "key", Key, (int32)sizeof(Key));
    bool HasValue = HasKey && Task_GetStringArgument(Owner, "value", Value.Get(), ValueSize);
    if (Task_IsArgumentRefused(Owner)) return Task_Complete(Owner, nullptr);
    if (HasValue) {
        SetVariable(Owner, Key, Value.Get());
    } else if (HasKey) {
        if (KeyNamesVariable(Owner, Key)) {
            // The value is taken whole: a buffer it fills may hold it cut,
            // so a larger one is tried (the environment's values are bounded
            // by the system; past a MiB the read is refused, not cut).
            std::string Whole(ValueSize, '\0');
            bool Found = Platform_GetEnvironmentVariable(Key, Whole.data(), (int32)Whole.size()) != 0;
            while (Found && strlen(Whole.c_str()) + 1 == Whole.size() && Whole.size() < LargestValue) {
                Whole.assign(Whole.size() * 4, '\0');
                Found = Platform_GetEnvironmentVariable(Key, Whole.data(), (int32)Whole.size()) != 0;
            }
            Whole.resize(Found ? strlen(Whole.c_str()) : 0);
            Task_Print(Owner, "Get environment variable %s\n", Key);
            if (Whole.size() + 1 >= LargestValue) {
                char Why[96];
                snprintf(Why, sizeof(Why), "holds more than %d bytes: it is not read", (int32)LargestValue - 2);
                TaskInt_RefuseArgument(Owner, ("environment variable \"" + std::string(Key) + "\"").c_str(), Why);
            } else {
                Task_SetStatusString(Owner, Key, Whole.c_str());
            }
        }
    } else if (Task_HasKeyValuePairs(Owner)) {
        Task_EnumerateKeyValuePairs(Owner, Owner, SetPair);
    } else {
        Task_Print(Owner, "key/keyValuePairs argument not defined\n");
        Task_AddMissingArgumentError(Owner, "\"key\" or \"keyValuePairs\"");
    }
    return Task_Complete(Owner, nullptr);
}

// The branch's result is not passed on, but its failure is: a Singleton
// whose "missing" branch failed has not done its work.
int32 AfterBranch(Task *Owner, void *User, Dictionary *Result) {
    Singleton *Self = static_cast<Singleton *>(User);
    if (Self->Mark != nullptr) AppMark_Release(&Self->Mark);
    uint32 Successful = TRUE;
    if (Result != nullptr) Dictionary_GetBooleanByKey(Result, "successful", &Successful);
    return Task_Complete(Owner, Successful ? nullptr : Result);
}

int32 OnSingletonStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Singleton *Self = static_cast<Singleton *>(User);
    char Name[NameSize] = "";
    if (!Task_GetStringArgument(Self->Owner, "name", Name, (int32)sizeof(Name)))
        return Task_IsArgumentRefused(Self->Owner) ? Task_Complete(Self->Owner, nullptr)
                                                   : TaskType_MissingArgument(Self->Owner, "name");
    AppMark_Create(&Self->Mark);
    AppMark_SetName(Self->Mark, Name);
    if (AppMark_AcquireWithTimeout(Self->Mark, 0)) {
        Task_Print(Self->Owner, "Lock does not exist (%s)\n", Name);
        return Task_RunSubAction(Self->Owner, "missing", Self, AfterBranch);
    }
    AppMark_Release(&Self->Mark);
    Task_Print(Self->Owner, "Lock already exists (%s)\n", Name);
    return Task_RunSubAction(Self->Owner, "exists", Self, AfterBranch);
}

void FreeEnvironment(Environment *) {}

void FreeSingleton(Singleton *Self) {
    if (Self->Mark != nullptr) AppMark_Release(&Self->Mark);
}

} // namespace

TASKTYPE_OBJECT_DEFINE(Environment, Environment, ENVIRONMENT_CLASSID, OnEnvironmentStart, FreeEnvironment)
TASKTYPE_OBJECT_DEFINE(Singleton, Singleton, SINGLETON_CLASSID, OnSingletonStart, FreeSingleton)
TASKTYPE_INTERFACE_DEFINE(Environment, Environment)
TASKTYPE_INTERFACE_DEFINE(EnvironmentGet, Environment)
TASKTYPE_INTERFACE_DEFINE(EnvironmentSet, Environment)
TASKTYPE_INTERFACE_DEFINE(Singleton, Singleton)
