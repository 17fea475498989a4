// Macro expansion for a task: object paths that lead from the task to other
// tasks, its workflow and their Dictionaries ({this.args.url},
// {parent.name}, {workflow.status.progress}), then the macros of the task and
// its ancestors, then the workflow's (or the application's).
#include <string.h>

#include <string>
#include <string_view>

#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/string_print.h"
#include "workflow/task_internal.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"

namespace {

constexpr size_t SegmentLimit = 512;

struct PathWalk {
    int32 Kind = TASK_OBJECT_NONE;
    void *Object = nullptr;
    const char *Rest = nullptr; // null: the walk consumed the whole name
};

bool SegmentIs(std::string_view Segment, const char *Word) {
    return Segment.size() == strlen(Word) && String_CompareLengthWithoutCase(Segment.data(), Word, (int32)Segment.size());
}

Task *NearestAncestorNamed(Task *From, std::string_view Name) {
    for (Task *Walk = TaskInt_GetParent(From); Walk != nullptr; Walk = TaskInt_GetParent(Walk))
        if (strlen(Walk->Name) == Name.size() &&
            String_CompareLengthWithoutCase(Walk->Name, Name.data(), (int32)Name.size()))
            return Walk;
    return nullptr;
}

// Walks the leading object segments of Name. Returns false when a step led
// to no object (the caller's name is then not expandable as a path).
bool WalkPath(Task *Handle, const char *Name, PathWalk *Walk) {
    const char *Cursor = Name;
    while (*Cursor == '{') Cursor++;
    while (*Cursor != 0) {
        size_t Length = strcspn(Cursor, ".}");
        std::string_view Segment(Cursor, Length < SegmentLimit ? Length : SegmentLimit);
        const char *Next = Cursor + Length;
        if (*Next != 0) Next++;
        bool Stepped = true;
        bool NoObject = Walk->Object == nullptr;
        if (SegmentIs(Segment, "this")) {
            if (Walk->Kind == TASK_OBJECT_NONE) Walk->Object = Handle, Walk->Kind = TASK_OBJECT_TASK;
        } else if (SegmentIs(Segment, "workflow")) {
            if (Walk->Kind == TASK_OBJECT_NONE) Walk->Object = Handle->Owner, Walk->Kind = TASK_OBJECT_WORKFLOW;
        } else if (SegmentIs(Segment, "parent")) {
            if (Walk->Kind == TASK_OBJECT_TASK && !NoObject)
                Walk->Object = TaskInt_GetParent(static_cast<Task *>(Walk->Object));
        } else if (Segment.size() >= 7 && String_CompareLengthWithoutCase(Segment.data(), "parent:", 7)) {
            if (Walk->Kind == TASK_OBJECT_TASK && !NoObject)
                Walk->Object = NearestAncestorNamed(static_cast<Task *>(Walk->Object), Segment.substr(7));
        } else if (SegmentIs(Segment, "args") && !NoObject) {
            if (Walk->Kind == TASK_OBJECT_TASK)
                Walk->Object = static_cast<Task *>(Walk->Object)->Definition, Walk->Kind = TASK_OBJECT_DICTIONARY;
        } else if (SegmentIs(Segment, "status") && !NoObject) {
            if (Walk->Kind == TASK_OBJECT_TASK) {
                Walk->Object = static_cast<Task *>(Walk->Object)->Status;
                Walk->Kind = TASK_OBJECT_DICTIONARY;
            } else if (Walk->Kind == TASK_OBJECT_WORKFLOW) {
                Workflow_GetStatusDictionaryHandle(static_cast<Workflow *>(Walk->Object),
                                                   reinterpret_cast<Dictionary **>(&Walk->Object));
                Walk->Kind = TASK_OBJECT_DICTIONARY;
            }
        } else {
            Stepped = false;
        }
        if (!Stepped) {
            Walk->Rest = Cursor;
            return true;
        }
        if (Walk->Kind != TASK_OBJECT_NONE && Walk->Object == nullptr) {
            Task_Print(Handle, "Path could not be evaluated to an object (%s)\n", Name);
            return false;
        }
        Cursor = Next;
    }
    Walk->Rest = nullptr;
    return true;
}

bool CopyValue(const char *Text, char *Output, int32 Size) {
    String_CopyLength(Output, Text, Size);
    return true;
}

// A macro's value that holds a NUL, or does not fit the width a value takes,
// is refused where it is met: cut, it would stand for another value (a path
// up to its NUL). The task that expands it fails.
bool RefuseValue(Task *Handle, const char *Name, const char *Why) {
    std::string What = "macro \"" + std::string(Name).substr(0, 120) + "\"";
    TaskInt_RefuseArgument(Handle, What.c_str(), Why);
    return false;
}

bool TakeValue(Task *Handle, const char *Name, const char *Text, int32 Length, char *Output, int32 Size) {
    if (Length < 0 || strnlen(Text, (size_t)Length) != (size_t)Length) return RefuseValue(Handle, Name, "holds a NUL byte");
    if (Length >= Size) {
        char Why[96];
        String_Print(Why, (int32)sizeof(Why), "is %d bytes, past the %d a macro's value may take", Length, Size - 1);
        return RefuseValue(Handle, Name, Why);
    }
    return CopyValue(Text, Output, Size);
}

// A Dictionary path read from the object; a first capital letter is retried
// in lower case ({this.args.Url} finds "url").
bool ReadDictionaryPath(Task *Handle, const char *Name, Dictionary *Source, const char *Path, char *Output,
                        int32 Size) {
    DictionaryItem *Item = nullptr;
    Dictionary *Owner = nullptr;
    if (!Dictionary_ItemFindByPath(Source, Path, &Owner, &Item) && Path[0] >= 'A' && Path[0] <= 'Z') {
        // Whole: a path cut to a width would name another place ("[0001]" as "[0").
        std::string Lowered(Path);
        Lowered[0] = (char)(Lowered[0] - 'A' + 'a');
        Dictionary_ItemFindByPath(Source, Lowered.c_str(), &Owner, &Item);
    }
    const char *Text = nullptr;
    int32 Length = 0;
    if (Item == nullptr || Owner == nullptr || Dictionary_ItemIsContainer(Owner, Item) ||
        !Dictionary_ItemGetBufferPtr(Owner, Item, &Text, &Length) || Text == nullptr)
        return false;
    return TakeValue(Handle, Name, Text, Length, Output, Size);
}

int32 ExpandThroughTask(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    return Task_ExpandKey(static_cast<Task *>(User), Name, Argument, Output, Size);
}

} // namespace

Task *TaskInt_GetParent(Task *Handle) {
    Task *Parent = nullptr;
    if (Handle->Owner == nullptr || !Workflow_GetParentTaskHandle(Handle->Owner, Handle, &Parent)) return nullptr;
    return Parent;
}

int32 Task_ExpandString(Task *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Buffer);
    char Stuck[TASK_NAME_SIZE];
    // {this} names the task in a path ({this.name}); alone it is no value,
    // and the text in front of it, which the runtime would copy, is none either.
    int32 Result = String_ExpandEx(Buffer, Size, Handle, ExpandThroughTask, STRING_EXPAND_KEEP_THIS, Stuck,
                                   (int32)sizeof(Stuck));
    // A macro whose value leads back to itself stays in the text: the run
    // would otherwise go on with it and report nothing.
    if (Stuck[0] != 0) {
        char Text[TASK_NAME_SIZE + 96];
        String_Print(Text, (int32)sizeof(Text), "macro \"%s\" left unexpanded: its value leads back to itself or does not fit",
                     Stuck);
        if (!Task_HasWarning(Handle, Text)) TaskInt_AddWarningText(Handle, Text);
    }
    return Result;
}

int32 Task_ExpandDictionary(Task *Handle, Dictionary *Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return String_ExpandDictionaryEx(Target, Handle, ExpandThroughTask, STRING_EXPAND_KEEP_THIS);
}

int32 Task_EvaluatePathToObject(Task *Handle, const char *Path, int32 *Kind, void **Object) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Kind);
    Debug_CheckPointer(Object);
    PathWalk Walk;
    int32 Walked = WalkPath(Handle, Path, &Walk);
    *Kind = Walked ? Walk.Kind : TASK_OBJECT_NONE;
    *Object = Walked ? Walk.Object : nullptr;
    return Walked && Walk.Kind != TASK_OBJECT_NONE;
}

int32 Task_ExpandMacro(Task *Handle, const char *Name, const char *Argument, char *Output, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    (void)Argument;
    // No macro's name is longer than a key: a longer one names none (looked
    // up by its first bytes, it would find another).
    if (strlen(Name) > DICTIONARY_MAX_KEY_LENGTH) return FALSE;
    for (Task *Walk = Handle; Walk != nullptr; Walk = TaskInt_GetParent(Walk)) {
        const char *Text = nullptr;
        int32 Length = 0;
        if (Walk->Macros != nullptr && Dictionary_GetBufferPtrByKey(Walk->Macros, Name, &Text, &Length) &&
            Text != nullptr)
            return TakeValue(Handle, Name, Text, Length, Output, Size);
    }
    return FALSE;
}

int32 Task_ExpandKey(Task *Handle, const char *Name, const char *Argument, char *Output, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Output);
    PathWalk Walk;
    if (WalkPath(Handle, Name, &Walk)) {
        if (Walk.Rest == nullptr) return FALSE;
        if (Walk.Kind == TASK_OBJECT_DICTIONARY &&
            ReadDictionaryPath(Handle, Name, static_cast<Dictionary *>(Walk.Object), Walk.Rest, Output, Size))
            return TRUE;
        if (Walk.Kind == TASK_OBJECT_TASK) {
            Task *Target = static_cast<Task *>(Walk.Object);
            if (String_CompareWithoutCase(Walk.Rest, "name")) return CopyValue(Target->Name, Output, Size);
            void *User = nullptr;
            Task_ExpandStringFunc Function = nullptr;
            if (Task_GetExpandStringCallback(Target, &User, &Function) &&
                Function(Target, User, Walk.Rest, Output, Size) == 1)
                return TRUE;
        }
    }
    if (Task_ExpandMacro(Handle, Name, Argument, Output, Size)) return TRUE;
    if (Handle->RefusedArgument) return FALSE;
    // The workflow's and the application's macros are copied into Output
    // whole; one that does not fit is not copied (2, why in Output).
    int32 Answer = Handle->Owner != nullptr ? Workflow_ExpandKey(Handle->Owner, Name, Argument, Output, Size)
                                            : WorkflowApp_ExpandKey(nullptr, Name, Argument, Output, Size);
    if (Answer == 2) {
        std::string Why(Output);
        Output[0] = 0;
        return RefuseValue(Handle, Name, Why.c_str());
    }
    return Answer == 1;
}
