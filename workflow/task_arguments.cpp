// The declaration of every task type's arguments, and the one check of a
// definition against them (see task_arguments.h).
#include "workflow/task_arguments.h"

#include <math.h>
#include <string.h>

#include <string>

#include "runtime/documents/json.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/version.h"
#include "workflow/task_internal.h"

namespace {

using K = TaskArgumentKind;

// A number written as a text is read within the width of any single value.
constexpr int64 NumberTextLimit = 319;

// Every declaration below is one line of a fixed shape: the table test
// reads them from this file and tries each argument at its limit, one past
// it, with a NUL written and through a macro, and with a value of another
// kind. Limits are the widths the types read into, less the NUL.
constexpr TaskArgument Common[] = {
    {.Name = "ignoreError", .Kind = K::Flags, .Limit = 319},
    {.Name = "success", .Kind = K::Branch, .Limit = 511},
    {.Name = "failure", .Kind = K::Branch, .Limit = 511},
    {.Name = "complete", .Kind = K::Branch, .Limit = 511},
    {.Name = "title", .Kind = K::Text, .Limit = 1023},
    {.Name = "status", .Kind = K::TextOrTexts, .Limit = 1023},
};

constexpr TaskArgument EndArguments[] = {
    {.Name = "exitCode", .Kind = K::Whole, .Limit = 2147483647, .Least = -2147483648LL},
    {.Name = "error", .Kind = K::Text, .Limit = 319},
};
constexpr TaskArgument ErrorArguments[] = {
    {.Name = "exitCode", .Kind = K::Whole, .Limit = 2147483647, .Least = -2147483648LL},
    {.Name = "message", .Kind = K::Text, .Limit = 319},
};
constexpr TaskArgument ShutdownArguments[] = {
    {.Name = "exitCode", .Kind = K::Whole, .Limit = 2147483647, .Least = -2147483648LL},
    {.Name = "selfUpdate", .Kind = K::Boolean, .Limit = 319},
};
constexpr TaskArgument ImplodeArguments[] = {
    {.Name = "path", .Kind = K::Path, .Limit = 319},
};
constexpr TaskArgument SleepArguments[] = {
    {.Name = "seconds", .Kind = K::Number, .Limit = 319, .Required = true},
};
constexpr TaskArgument LogArguments[] = {
    {.Name = "message", .Kind = K::TextOrTexts, .Limit = 4095, .Required = true},
};
constexpr TaskArgument NotificationArguments[] = {
    {.Name = "event", .Kind = K::Text, .Limit = 319, .Required = true},
    {.Name = "delay", .Kind = K::Whole, .Limit = 2147483647, .Least = -2147483648LL},
    {.Name = "content", .Kind = K::Payload, .Limit = 8190},
};
constexpr TaskArgument StatusArguments[] = {
    {.Name = "target", .Kind = K::Text, .Limit = 311, .AsWritten = true},
};
constexpr TaskArgument StringContainsArguments[] = {
    {.Name = "stringOne", .Kind = K::Text, .Limit = 1023, .Required = true},
    {.Name = "stringTwo", .Kind = K::Text, .Limit = 1023, .Required = true},
    {.Name = "ignoreCase", .Kind = K::Boolean, .Limit = 319},
    {.Name = "found", .Kind = K::Branch, .Limit = 511},
    {.Name = "notFound", .Kind = K::Branch, .Limit = 511},
};
constexpr TaskArgument StringCompareArguments[] = {
    {.Name = "stringOne", .Kind = K::Text, .Limit = 1023, .Required = true},
    {.Name = "stringTwo", .Kind = K::Text, .Limit = 1023, .Required = true},
    {.Name = "ignoreCase", .Kind = K::Boolean, .Limit = 319},
    {.Name = "equalTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "notEqualTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "greaterThan", .Kind = K::Branch, .Limit = 511},
    {.Name = "lessThan", .Kind = K::Branch, .Limit = 511},
};
constexpr TaskArgument NumberCompareArguments[] = {
    {.Name = "numberOne", .Kind = K::Number, .Limit = 319, .Required = true},
    {.Name = "numberTwo", .Kind = K::Number, .Limit = 319, .Required = true},
    {.Name = "equalTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "notEqualTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "greaterThan", .Kind = K::Branch, .Limit = 511},
    {.Name = "lessThan", .Kind = K::Branch, .Limit = 511},
};
constexpr TaskArgument VersionCompareArguments[] = {
    {.Name = "versionOne", .Kind = K::Version, .Limit = 239, .Required = true},
    {.Name = "versionTwo", .Kind = K::Version, .Limit = 239, .Required = true},
    {.Name = "equalTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "notEqualTo", .Kind = K::Branch, .Limit = 511},
    {.Name = "greaterThan", .Kind = K::Branch, .Limit = 511},
    {.Name = "lessThan", .Kind = K::Branch, .Limit = 511},
};
// The mark holds a name of at most 119 bytes: a longer one would share the
// mark of the name its first 119 bytes make.
constexpr TaskArgument SingletonArguments[] = {
    {.Name = "name", .Kind = K::Text, .Limit = 119, .Required = true, .NotEmpty = true},
    {.Name = "missing", .Kind = K::Branch, .Limit = 511},
    {.Name = "exists", .Kind = K::Branch, .Limit = 511},
};
constexpr TaskArgument EnvironmentArguments[] = {
    {.Name = "key", .Kind = K::Text, .Limit = 119},
    {.Name = "value", .Kind = K::Text, .Limit = 4095},
    {.Name = "keyValuePairs", .Kind = K::Pairs, .Limit = 4095},
};
constexpr TaskArgument MacroArguments[] = {
    {.Name = "global", .Kind = K::Boolean, .Limit = 319},
    {.Name = "url", .Kind = K::Url, .Limit = 4095},
    {.Name = "key", .Kind = K::Text, .Limit = 119, .AsWritten = true},
    {.Name = "value", .Kind = K::Text, .Limit = 1023},
    {.Name = "keyValuePairs", .Kind = K::Pairs, .Limit = 8139},
    {.Name = "cache", .Kind = K::Text, .Limit = 59},
    {.Name = "authenticate", .Kind = K::Text, .Limit = 319},
    {.Name = "timeout", .Kind = K::Number, .Limit = 319},
    {.Name = "allowGzip", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowProxy", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowResume", .Kind = K::Boolean, .Limit = 319},
    {.Name = "limitBodySize", .Kind = K::Number, .Limit = 319},
    {.Name = "headers", .Kind = K::Headers, .Limit = 8139},
    {.Name = "cookies", .Kind = K::Object, .Limit = 8139},
};
constexpr TaskArgument AggregateArguments[] = {
    {.Name = "url", .Kind = K::Url, .Limit = 4095},
    {.Name = "content", .Kind = K::Content, .Limit = 8190},
    {.Name = "source", .Kind = K::Text, .Limit = 119},
    {.Name = "target", .Kind = K::Text, .Limit = 319},
    {.Name = "concurrentTasks", .Kind = K::Whole, .Limit = 2147483647, .Least = -1},
    {.Name = "concurrentActions", .Kind = K::Whole, .Limit = 2147483647, .Least = -1},
    {.Name = "cache", .Kind = K::Text, .Limit = 59},
    {.Name = "authenticate", .Kind = K::Text, .Limit = 319},
    {.Name = "timeout", .Kind = K::Number, .Limit = 319},
    {.Name = "allowGzip", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowProxy", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowResume", .Kind = K::Boolean, .Limit = 319},
    {.Name = "limitBodySize", .Kind = K::Number, .Limit = 319},
    {.Name = "headers", .Kind = K::Headers, .Limit = 8139},
    {.Name = "cookies", .Kind = K::Object, .Limit = 8139},
};
constexpr TaskArgument QueueArguments[] = {
    {.Name = "actions", .Kind = K::Texts, .Limit = 119, .Required = true},
    {.Name = "concurrentTasks", .Kind = K::Whole, .Limit = 2147483647, .Least = -1},
    {.Name = "concurrentActions", .Kind = K::Whole, .Limit = 2147483647, .Least = -1},
};
constexpr TaskArgument ProgressArguments[] = {
    {.Name = "actions", .Kind = K::Texts, .Limit = 119},
    {.Name = "maxPercentage", .Kind = K::Number, .Limit = 319},
    {.Name = "maxChainDepth", .Kind = K::Number, .Limit = 319},
};
constexpr TaskArgument WorkflowRunArguments[] = {
    {.Name = "url", .Kind = K::Url, .Limit = 4095, .Required = true},
    {.Name = "start", .Kind = K::Text, .Limit = 319},
    {.Name = "load", .Kind = K::Text, .Limit = 319},
    {.Name = "unload", .Kind = K::Text, .Limit = 319},
    {.Name = "arguments", .Kind = K::Text, .Limit = 4095},
    {.Name = "macros", .Kind = K::Pairs, .Limit = 8139},
    {.Name = "elevated", .Kind = K::Boolean, .Limit = 319},
    {.Name = "isRemote", .Kind = K::Boolean, .Limit = 319},
    {.Name = "cache", .Kind = K::Text, .Limit = 59},
    {.Name = "authenticate", .Kind = K::Text, .Limit = 319},
    {.Name = "timeout", .Kind = K::Number, .Limit = 319},
    {.Name = "allowGzip", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowProxy", .Kind = K::Boolean, .Limit = 319},
    {.Name = "allowResume", .Kind = K::Boolean, .Limit = 319},
    {.Name = "limitBodySize", .Kind = K::Number, .Limit = 319},
    {.Name = "headers", .Kind = K::Headers, .Limit = 8139},
    {.Name = "cookies", .Kind = K::Object, .Limit = 8139},
};

// The completion steps among them, in the order the check reads them
// (the bits of Task::StepsRefused).
constexpr int32 Steps[] = {1, 2, 3};
static_assert(Common[1].Name[0] == 's' && Common[2].Name[0] == 'f' && Common[3].Name[0] == 'c');

struct TypeArguments {
    const char *Type;
    std::span<const TaskArgument> Arguments;
};

constexpr TypeArguments Types[] = {
    {"End", EndArguments},
    {"Error", ErrorArguments},
    {"Shutdown", ShutdownArguments},
    {"Implode", ImplodeArguments},
    {"Sleep", SleepArguments},
    {"Log", LogArguments},
    {"Notification", NotificationArguments},
    {"Status", StatusArguments},
    {"StringContains", StringContainsArguments},
    {"StringCompare", StringCompareArguments},
    {"NumberCompare", NumberCompareArguments},
    {"VersionCompare", VersionCompareArguments},
    {"Singleton", SingletonArguments},
    {"Environment", EnvironmentArguments},
    {"EnvironmentGet", EnvironmentArguments},
    {"EnvironmentSet", EnvironmentArguments},
    {"Macro", MacroArguments},
    {"Aggregate", AggregateArguments},
    {"Queue", QueueArguments},
    {"Progress", ProgressArguments},
    {"WorkflowRun", WorkflowRunArguments},
};

// One to four parts of digits joined by "."; none empty, none past 2^31 - 1.
bool IsVersion(const char *Text) {
    int32 Parts = 0;
    for (const char *At = Text;; At++) {
        const char *Start = At;
        int64 Part = 0;
        while (*At >= '0' && *At <= '9' && Part <= 2147483647) Part = Part * 10 + (*At++ - '0');
        if (At == Start || Part > 2147483647 || ++Parts > 4) return false;
        if (*At == 0) return true;
        if (*At != '.') return false;
    }
}

// A header's name as RFC 9110 has it: one or more token characters.
bool IsHeaderName(const char *Name) {
    if (Name[0] == 0) return false;
    for (const char *At = Name; *At != 0; At++)
        if (!((*At >= '0' && *At <= '9') || (*At >= 'a' && *At <= 'z') || (*At >= 'A' && *At <= 'Z') ||
              strchr("!#$%&'*+-.^_`|~", *At) != nullptr))
            return false;
    return true;
}

// Whether Text is one JSON object or list, with nothing after it; Into (when
// not null) then takes what a reader of the argument merges: the object's
// members, or the list as one unnamed member.
bool ParseJsonContainer(const char *Text, Dictionary *Into) {
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Parsed);
    size_t Start = strspn(Text, " \t\r\n");
    bool Container = (Text[Start] == '{' || Text[Start] == '[') &&
                     JSON_LoadBufferWhole(Reader, Text, (int32)strlen(Text)) != 0;
    JSON_Release(&Reader);
    Dictionary *Inner = Parsed;
    if (Container && Into != nullptr) {
        Dictionary_SkipRoot(Parsed, &Inner);
        Dictionary_Merge(Into, Inner, DICTIONARY_MERGE_OVERWRITE);
    }
    Dictionary_Release(&Parsed);
    return Container;
}

// One argument's check. Each refusal goes through TaskInt_RefuseArgument,
// which marks the task; a missing required one is told by the caller.
class Check {
public:
    explicit Check(Task *Handle) : Handle(Handle) {}
    ~Check() {
        if (Kept != nullptr) Dictionary_Release(&Kept);
    }

    // What the check read that the definition does not hold as it stands:
    // the task's to keep (null when nothing was).
    Dictionary *Take() {
        Dictionary *Made = Kept;
        Kept = nullptr;
        return Made;
    }

    // False when the argument is required and missing.
    bool Run(const TaskArgument &Argument) {
        Declared = &Argument;
        DictionaryItem *Item = nullptr;
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        if (!Dictionary_ItemFindByKey(Handle->Definition, Argument.Name, nullptr, &Item) || Item == nullptr ||
            !Dictionary_ItemGetType(Handle->Definition, Item, &Type) || Type == DICTIONARY_TYPE_NULL)
            return !Argument.Required;
        // Labelled only once present: most declared arguments are absent,
        // and a task reads a dozen of them.
        String_Print(What, (int32)sizeof(What), "\"%s\"", Argument.Name);
        Value(Handle->Definition, Item, Type, Argument.Kind, true);
        return true;
    }

private:
    bool Refuse(const char *Why) {
        TaskInt_RefuseArgument(Handle, What, Why);
        return false;
    }

    static bool IsContainer(int32 Type) { return Type == DICTIONARY_TYPE_LIST || Type == DICTIONARY_TYPE_DICTIONARY; }
    static bool IsNumber(int32 Type) { return Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64; }

    // The item's text, expanded unless declared as written, within Limit
    // bytes and without a NUL; false when refused.
    bool Text(Dictionary *Owner, DictionaryItem *Item, int64 Limit, bool Expand, std::string &Out) {
        const char *Stored = nullptr;
        int32 Length = 0;
        if (!Dictionary_ItemGetBufferPtr(Owner, Item, &Stored, &Length) || Stored == nullptr) Stored = "", Length = 0;
        const int32 Size = (int32)Limit + 1;
        MemoryScope<char> Buffer(Size);
        LastExpandable = Expand && memchr(Stored, '{', (size_t)Length) != nullptr;
        if (!TaskInt_ReadText(Handle, What, Stored, Length, Buffer.Get(), Size, Expand)) return false;
        Out.assign(Buffer.Get());
        Last = Out;
        return true;
    }

    bool Value(Dictionary *Owner, DictionaryItem *Item, int32 Type, K Kind, bool Top) {
        const TaskArgument &A = *Declared;
        std::string Read;
        switch (Kind) {
        case K::Text:
        case K::Path:
        case K::Url:
        case K::Version:
        case K::TaskName: {
            if (IsContainer(Type)) return Refuse("is a list or object, not a text");
            if ((Kind == K::Path || Kind == K::Url) && Type != DICTIONARY_TYPE_STRING) return Refuse("is not a text");
            if (!Text(Owner, Item, A.Limit, !A.AsWritten, Read)) return false;
            if ((A.NotEmpty || Kind == K::TaskName || Kind == K::Url) && Read.empty()) return Refuse("is empty");
            if (Kind == K::Version && !IsVersion(Read.c_str()))
                return Refuse("is no version: one to four whole numbers of at most 2147483647 joined by \".\"");
            if (Top && !A.AsWritten) Keep(Read);
            return true;
        }
        case K::Branch: {
            if (Type == DICTIONARY_TYPE_STRING) return Text(Owner, Item, A.Limit, true, Read);
            Dictionary *Action = nullptr;
            DictionaryItem *Named = nullptr;
            int32 NamedType = DICTIONARY_TYPE_UNKNOWN;
            if (Type != DICTIONARY_TYPE_DICTIONARY || !Dictionary_ItemGetDictionaryHandle(Owner, Item, &Action) ||
                !Dictionary_ItemFindByKey(Action, "action", nullptr, &Named) || Named == nullptr ||
                !Dictionary_ItemGetType(Action, Named, &NamedType) || NamedType != DICTIONARY_TYPE_STRING)
                return Refuse("is neither a task name nor an object whose \"action\" names one");
            return Text(Action, Named, A.Limit, true, Read);
        }
        case K::Number:
        case K::Whole: {
            float64 Number = 0;
            // An empty text is no number: read as 0 it would decide an
            // outcome nobody wrote (an exit code of success).
            if (Type == DICTIONARY_TYPE_STRING && (!Text(Owner, Item, NumberTextLimit, true, Read) || Read.empty()))
                return Read.empty() && !Task_IsArgumentRefused(Handle) ? Refuse("is empty, not a number") : false;
            if (!TaskInt_ReadNumber(Handle, A.Name, &Number, true)) return false;
            // A number written with digits that reads as 0 (1e-400) is not the
            // number written. A text is judged as expanded, the value read:
            // "{x1}" is no number with digits, and "{tiny}" may be one.
            const char *Stored = nullptr;
            if (Type == DICTIONARY_TYPE_STRING) Stored = Read.c_str();
            else if (!Dictionary_ItemGetBufferPtr(Owner, Item, &Stored, nullptr) || Stored == nullptr)
                Stored = nullptr;
            // Judged whatever its length: a number written with 400 digits
            // that reads as 0 is as far from 0 as 1e-400.
            if (Number == 0 && Stored != nullptr && TaskInt_IsTooSmall(Stored))
                return Refuse("is too small to be told from 0");
            if (Kind == K::Whole && (Number != trunc(Number) || Number < (float64)A.Least || Number > (float64)A.Limit)) {
                char Written[72], Why[192];
                if (Stored != nullptr && Type != DICTIONARY_TYPE_STRING && strlen(Stored) < sizeof(Written))
                    String_CopyLength(Written, Stored, 72);
                else snprintf(Written, sizeof(Written), "%.17g", Number);
                String_Print(Why, (int32)sizeof(Why), "is %s: a whole number from %lld to %lld is asked", Written,
                             (long long)A.Least, (long long)A.Limit);
                return Refuse(Why);
            }
            if (Type == DICTIONARY_TYPE_STRING) {
                char Text[64];
                String_Print(Text, (int32)sizeof(Text), "%.17g", Number);
                Keep(Text);
            }
            return true;
        }
        case K::Boolean:
            if (IsContainer(Type)) return Refuse("is a list or object, not a boolean");
            if (!Text(Owner, Item, A.Limit, true, Read)) return false;
            if (!IsNumber(Type) && Type != DICTIONARY_TYPE_BOOLEAN && !String_DecodeBoolean(Read.c_str(), nullptr, 0))
                return Refuse("is not a boolean (true, false, yes, no, on, off, 1 or 0)");
            if (Type == DICTIONARY_TYPE_STRING) Keep(Read);
            return true;
        case K::Flags:
            if (Type == DICTIONARY_TYPE_LIST) return Elements(Owner, Item, K::Text);
            return Value(Owner, Item, Type, K::Boolean, false);
        case K::TextOrTexts:
            if (Type == DICTIONARY_TYPE_LIST) return Elements(Owner, Item, K::Text, false, KeptList(Top));
            return Value(Owner, Item, Type, K::Text, Top);
        case K::Texts:
            if (Type != DICTIONARY_TYPE_LIST) return Refuse("is not a list");
            return Elements(Owner, Item, K::Text, true, KeptList(Top));
        case K::Object:
        case K::Headers:
        case K::Pairs: {
            if (Type != DICTIONARY_TYPE_DICTIONARY) return Refuse("is not an object");
            // What the type reads: the members as checked, texts expanded.
            Dictionary *Copy = nullptr;
            if (Top) Dictionary_AddDictionary(KeptRoot(), A.Name, &Copy, nullptr);
            return Members(Owner, Item, Kind, Copy);
        }
        case K::Content:
        case K::Payload: {
            // A container of a Content is handed on as written: each task
            // it makes checks its own arguments.
            if (Kind == K::Content && IsContainer(Type)) return true;
            // The type sends what this check made, never the definition
            // again: each text in it judged (and, written in place, expanded)
            // as any text argument is.
            Dictionary *Made = nullptr;
            if (Top) Dictionary_AddDictionary(KeptRoot(), A.Name, &Made, nullptr);
            else Dictionary_Create(&Made);
            bool Passed = true;
            if (IsContainer(Type)) {
                Dictionary *Child = nullptr, *List = nullptr;
                Dictionary_ItemGetDictionaryHandle(Owner, Item, &Child);
                if (Type == DICTIONARY_TYPE_LIST) Dictionary_AddList(Made, nullptr, &List, nullptr);
                Dictionary_Merge(List != nullptr ? List : Made, Child,
                                 DICTIONARY_MERGE_OVERWRITE | (List != nullptr ? DICTIONARY_MERGE_LISTS : 0));
                Passed = ContentTexts(Made, true);
            } else if (!Text(Owner, Item, A.Limit, true, Read)) {
                Passed = false;
            } else if (!ParseJsonContainer(Read.c_str(), Made)) {
                Passed = Refuse("is no object or list: the text does not parse whole");
            } else {
                // Expanded once, as a whole: a text in it that a JSON escape
                // made is judged as it stands.
                Passed = ContentTexts(Made, false);
            }
            if (!Top) Dictionary_Release(&Made);
            return Passed;
        }
        }
        return true;
    }

    // Every text in a content's tree, judged as a text argument is and left
    // as read (expanded when Expand).
    bool ContentTexts(Dictionary *Tree, bool Expand) {
        char Outer[sizeof(What)];
        memcpy(Outer, What, sizeof(Outer));
        String_Print(What, (int32)sizeof(What), "a text of %s", Outer);
        bool Passed = ContentLevel(Tree, Expand);
        memcpy(What, Outer, sizeof(What));
        return Passed;
    }

    bool ContentLevel(Dictionary *Tree, bool Expand) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Tree, &Item); Item != nullptr; Dictionary_ItemGetNext(Tree, Item, &Item)) {
            Dictionary *Child = nullptr;
            int32 Type = DICTIONARY_TYPE_UNKNOWN;
            Dictionary_ItemGetType(Tree, Item, &Type);
            if (IsContainer(Type) && Dictionary_ItemGetDictionaryHandle(Tree, Item, &Child) && Child != nullptr) {
                if (!ContentLevel(Child, Expand)) return false;
                continue;
            }
            if (Type != DICTIONARY_TYPE_STRING) continue;
            std::string Read;
            if (!Text(Tree, Item, Declared->Limit, Expand, Read)) return false;
            if (Expand) Dictionary_ItemSetBuffer(Tree, Item, Read.data(), (int32)Read.size());
        }
        return true;
    }

    Dictionary *KeptRoot() {
        if (Kept == nullptr) Dictionary_Create(&Kept);
        return Kept;
    }

    // A single value as read, kept only when its text may read otherwise
    // from the definition: one written with no "{" reads there as it was
    // read here, and a record kept for each task that needs none costs
    // more than the rest of its check.
    void Keep(const std::string &Read) {
        if (LastExpandable) Dictionary_SetStringByKey(KeptRoot(), Declared->Name, Read.c_str());
    }

    // The list the type reads of a top-level argument: its texts as checked.
    Dictionary *KeptList(bool Top) {
        Dictionary *List = nullptr;
        if (Top) Dictionary_AddList(KeptRoot(), Declared->Name, &List, nullptr);
        return List;
    }

    // Every element of a list, each a single value of the kind; Copy (when
    // not null) takes the texts among them as read, expanded.
    bool Elements(Dictionary *Owner, DictionaryItem *Item, K Kind, bool TextsOnly = true, Dictionary *Copy = nullptr) {
        Dictionary *List = nullptr;
        Dictionary_ItemGetDictionaryHandle(Owner, Item, &List);
        char Outer[sizeof(What)];
        memcpy(Outer, What, sizeof(Outer));
        String_Print(What, (int32)sizeof(What), "an element of %s", Outer);
        DictionaryItem *Element = nullptr;
        bool Passed = true;
        for (Dictionary_ItemGetFirst(List, &Element); Passed && Element != nullptr;
             Dictionary_ItemGetNext(List, Element, &Element)) {
            int32 Type = DICTIONARY_TYPE_UNKNOWN;
            Dictionary_ItemGetType(List, Element, &Type);
            // A list of names holds texts only (its reader passes anything
            // else over, and would run less than it names); a list of
            // messages may hold single values, read as their texts.
            const bool Single = Type != DICTIONARY_TYPE_NULL && !IsContainer(Type);
            Passed = Type == DICTIONARY_TYPE_STRING || (Single && !TextsOnly) ? Value(List, Element, Type, Kind, false)
                                                                              : Refuse("is not a text");
            if (Passed && Copy != nullptr && Type == DICTIONARY_TYPE_STRING)
                Dictionary_AddString(Copy, nullptr, Last.c_str(), nullptr);
        }
        memcpy(What, Outer, sizeof(What));
        return Passed;
    }

    // Every member of an object: a single value (Pairs pass lists and
    // objects over, as the macros they set do), and for headers a name
    // that is a header's.
    // Copy (when not null) takes each member as checked: a text as expanded,
    // another single value as it is; lists and objects passed over are left
    // out, as the types that read pairs pass them over too.
    bool Members(Dictionary *Owner, DictionaryItem *Item, K Kind, Dictionary *Copy) {
        Dictionary *Object = nullptr;
        Dictionary_ItemGetDictionaryHandle(Owner, Item, &Object);
        char Outer[sizeof(What)];
        memcpy(Outer, What, sizeof(Outer));
        DictionaryItem *Member = nullptr;
        bool Passed = true;
        for (Dictionary_ItemGetFirst(Object, &Member); Passed && Member != nullptr;
             Dictionary_ItemGetNext(Object, Member, &Member)) {
            const char *Key = nullptr;
            Dictionary_ItemGetKeyPtr(Object, Member, &Key);
            String_Print(What, (int32)sizeof(What), "%s of %s", Key != nullptr ? "a member" : "an unnamed member", Outer);
            if (Kind == K::Headers && (Key == nullptr || !IsHeaderName(Key))) {
                Passed = Refuse("has a name that is no header's");
                break;
            }
            int32 Type = DICTIONARY_TYPE_UNKNOWN;
            Dictionary_ItemGetType(Object, Member, &Type);
            if (Kind == K::Pairs && IsContainer(Type)) continue;
            if (IsContainer(Type)) Passed = Refuse("is a list or object, not a text");
            else if (Type != DICTIONARY_TYPE_NULL) Passed = Value(Object, Member, Type, K::Text, false);
            if (!Passed || Copy == nullptr || Key == nullptr) continue;
            Dictionary_MergeItem(Copy, Object, Member, DICTIONARY_MERGE_OVERWRITE);
            if (Type == DICTIONARY_TYPE_STRING) Dictionary_SetStringByKey(Copy, Key, Last.c_str());
        }
        memcpy(What, Outer, sizeof(What));
        return Passed;
    }

    Task *Handle;
    Dictionary *Kept = nullptr;
    bool LastExpandable = false; // the last Text() read could expand
    const TaskArgument *Declared = nullptr;
    std::string Last; // the text the last Text() read
    char What[192] = "";
};

} // namespace

std::span<const TaskArgument> TaskArguments_Of(const char *Type) {
    for (const TypeArguments &Each : Types)
        if (Type != nullptr && String_CompareWithoutCase(Each.Type, Type)) return Each.Arguments;
    return {};
}

std::span<const TaskArgument> TaskArguments_Common() { return Common; }

bool TaskInt_IsTooSmall(const char *Text) { return strcspn(Text, "123456789") < strcspn(Text, "eE"); }

Dictionary *TaskInt_GetCheckedList(Task *Handle, const char *Name) {
    Dictionary *List = nullptr;
    if (Handle->Checked == nullptr || !Dictionary_GetListByKey(Handle->Checked, Name, &List)) return nullptr;
    return List;
}

Dictionary *TaskInt_GetCheckedObject(Task *Handle, const char *Name) {
    Dictionary *Object = nullptr;
    if (Handle->Checked == nullptr || !Dictionary_GetDictionaryByKey(Handle->Checked, Name, &Object)) return nullptr;
    return Object;
}

void TaskInt_ForgetCheckedArguments(Task *Handle) {
    if (Handle->Checked != nullptr) Dictionary_Release(&Handle->Checked);
}

namespace {

// A task whose checked arguments the memory budget cannot hold acts on none.
bool RefuseCopy(Task *Handle, int64 Bytes) {
    char Why[224], Text[TASK_NAME_SIZE + 256];
    TaskInt_BudgetWords(Why, (int32)sizeof(Why), Bytes);
    String_Print(Text, (int32)sizeof(Text), "task \"%s\" not started: %s", Task_GetNamePtr(Handle), Why);
    Task_Print(Handle, "%s\n", Text);
    Task_AddErrorAlways(Handle, TASK_ERROR_TOO_MANY);
    Task_AddErrorAlways(Handle, Text);
    Task_Complete(Handle, nullptr);
    return false;
}

} // namespace

bool TaskInt_CheckArguments(Task *Handle) {
    TaskInt_ForgetCheckedArguments(Handle);
    // The checked copy is kept beside the definition while the task lives:
    // room for it (at most the definition's, but for what an expansion
    // adds) is taken from the memory budget before it is made.
    int64 Room = 0;
    if (Handle->Definition != nullptr) Dictionary_GetCost(Handle->Definition, &Room);
    if (!MemoryBudget_Take(Room)) return RefuseCopy(Handle, Room);
    Check One(Handle);
    const TaskArgument *Missing = nullptr;
    // A text the start itself read ("title", "status") may have been refused
    // already: that one refusal stands alone, and no step was checked.
    int32 Reached = Task_IsArgumentRefused(Handle) ? 0 : (int32)std::size(Steps);
    for (std::span<const TaskArgument> Table : {TaskArguments_Common(), TaskArguments_Of(Task_GetType(Handle))}) {
        if (Task_IsArgumentRefused(Handle)) break;
        for (const TaskArgument &Argument : Table) {
            if (!One.Run(Argument) && Missing == nullptr) Missing = &Argument;
            if (!Task_IsArgumentRefused(Handle)) continue;
            // The steps from the refused one on were refused or not read.
            for (int32 Index = (int32)std::size(Steps) - 1; Index >= 0 && Table.data() == Common; Index--)
                if (Steps[Index] >= &Argument - Common) Reached = Index;
            break;
        }
        if (Task_IsArgumentRefused(Handle)) break;
    }
    for (int32 Index = Reached; Index < (int32)std::size(Steps); Index++) Handle->StepsRefused |= (uint8)(1u << Index);
    if (Task_IsArgumentRefused(Handle) || Missing != nullptr) {
        if (!Task_IsArgumentRefused(Handle)) {
            Task_Print(Handle, "\"%s\" argument not defined\n", Missing->Name);
            char Quoted[64];
            String_Print(Quoted, (int32)sizeof(Quoted), "\"%s\"", Missing->Name);
            Task_AddMissingArgumentError(Handle, Quoted);
        }
        MemoryBudget_Give(Room);
        Task_Complete(Handle, nullptr);
        return false;
    }
    Handle->Checked = One.Take();
    int64 Cost = 0;
    if (Handle->Checked != nullptr) Dictionary_GetCost(Handle->Checked, &Cost);
    if (Cost > Room && !MemoryBudget_Take(Cost - Room)) {
        MemoryBudget_Give(Room);
        TaskInt_ForgetCheckedArguments(Handle);
        return RefuseCopy(Handle, Cost);
    }
    if (Cost < Room) MemoryBudget_Give(Room - Cost);
    if (Handle->Checked != nullptr) Dictionary_HoldCharge(Handle->Checked, Cost);
    return true;
}
