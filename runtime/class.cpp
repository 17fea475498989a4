// Reference counting, instance ids, the process-wide instance table and the
// diagnostic print record shared by all types; see class.h.
//
// The instance table keys are the id texts inside the tracked objects (the
// table stores pointers, not copies), so an object must be untracked before
// it is freed. Every table operation runs under the table's lock; an
// installed override replaces the operation entirely.
#include "runtime/class.h"

#include <string.h>

#include "runtime/containers/probe_table.h"
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"

namespace {

// A tracked object under its id text, which the table points at, not copies.
struct TrackedInstance {
    const char *Id;
    void *Object;
    bool Free() const { return Id == nullptr; }
};

struct ClassGlobalStruct {
    // A workflow's many live tasks and events are all instances here, and
    // each is tracked and untracked once: the slot holds the id's hash, the
    // id's address and the object, and the id text is most often the
    // object's own header, which its owner has just touched.
    ProbeTable<TrackedInstance> *Instances;
    void *Lock;
};

constexpr int32 PrintBufferSize = 2048;
constexpr int32 IndentBufferSize = 80;
constexpr int32 IndentStep = 4;

ClassGlobalStruct *GlobalClass = nullptr;

// The instance table's hash: ids are 36-character texts made and dropped
// for every task and event, and the table's byte-at-a-time text hash cost
// several times the rest of a track or untrack. Eight bytes a step, each
// step mixed so that ids differing in any one byte land apart.
uint64 InstanceIdHash(const char *Text) {
    const size_t Length = strlen(Text);
    constexpr uint64 Multiplier = 0xff51afd7ed558ccdull;
    uint64 Hash = 0x9e3779b97f4a7c15ull ^ Length;
    size_t At = 0;
    for (; At + 8 <= Length; At += 8) {
        uint64 Word;
        memcpy(&Word, Text + At, sizeof(Word));
        Hash = (Hash ^ Word) * Multiplier;
        Hash ^= Hash >> 32;
    }
    if (At < Length) {
        uint64 Word = 0;
        memcpy(&Word, Text + At, Length - At);
        Hash = (Hash ^ Word) * Multiplier;
    }
    Hash ^= Hash >> 29;
    Hash *= 0xc4ceb9fe1a85ec53ull;
    return Hash ^ (Hash >> 32);
}

// Ids compare with case; an id looked up through the very text its entry
// points at (an owner untracking itself) is settled by the address.
auto SameId(const char *Id) {
    return [Id](const TrackedInstance &Stored) { return Stored.Id == Id || strcmp(Stored.Id, Id) == 0; };
}

// The hooks outlive Class_Init/Class_Remove of a loaded library's copy only
// until its Class_Remove; they are read without a lock (installed at start).
Class_ConvertFromInstanceIdFunc ConvertFromHook = nullptr;
Class_ConvertToInstanceIdFunc ConvertToHook = nullptr;
Class_TrackInstanceFunc TrackHook = nullptr;
Class_UntrackInstanceFunc UntrackHook = nullptr;

// Printers known to write only to the log. Entries are appended once and
// never removed, so a reader scans the published prefix without a lock.
// Direct ones write nothing but the log's stamped debug line of what they
// are handed, so that line can be composed here in their place.
struct LogOnlyEntry {
    ClassPrint_Func Function;
    ClassPrint_LogOnlyFunc Check;
    bool Direct;
};
constexpr uint32 LogOnlyCapacity = 64;
LogOnlyEntry LogOnlyTable[LogOnlyCapacity];
uint32 LogOnlyCount = 0;
uint8 LogOnlyBusy = 0;

const LogOnlyEntry *FindLogOnly(ClassPrint_Func Function) {
    const uint32 Count = __atomic_load_n(&LogOnlyCount, __ATOMIC_ACQUIRE);
    for (uint32 Index = 0; Index < Count; Index++)
        if (LogOnlyTable[Index].Function == Function) return &LogOnlyTable[Index];
    return nullptr;
}

// The entry of a printer that, for this user value, writes only to the log.
const LogOnlyEntry *LogOnlyFor(ClassPrint_Func Function, void *User) {
    const LogOnlyEntry *Entry = FindLogOnly(Function);
    if (Entry == nullptr || (Entry->Check != nullptr && Entry->Check(User) == 0)) return nullptr;
    return Entry;
}

int32 MarkPrinter(ClassPrint_Func Function, ClassPrint_LogOnlyFunc Check, bool Direct) {
    Debug_CheckPointer(Function);
    if (FindLogOnly(Function) != nullptr) return TRUE;
    while (__atomic_exchange_n(&LogOnlyBusy, (uint8)1, __ATOMIC_ACQUIRE) != 0) {
    }
    int32 Result = TRUE;
    const uint32 Count = __atomic_load_n(&LogOnlyCount, __ATOMIC_RELAXED);
    if (FindLogOnly(Function) == nullptr) {
        if (Count < LogOnlyCapacity) {
            LogOnlyTable[Count] = {Function, Check, Direct};
            __atomic_store_n(&LogOnlyCount, Count + 1, __ATOMIC_RELEASE);
        } else {
            Result = FALSE;
        }
    }
    __atomic_store_n(&LogOnlyBusy, (uint8)0, __ATOMIC_RELEASE);
    return Result;
}

template <typename T> T LoadHook(T &Hook) { return __atomic_load_n(&Hook, __ATOMIC_ACQUIRE); }
template <typename T> void StoreHook(T &Hook, T Value) { __atomic_store_n(&Hook, Value, __ATOMIC_RELEASE); }

template <typename T> T LoadField(T &Field) { return __atomic_load_n(&Field, __ATOMIC_RELAXED); }
template <typename T> void StoreField(T &Field, T Value) { __atomic_store_n(&Field, Value, __ATOMIC_RELAXED); }

bool IsLineBreak(char Character) { return Character == '\r' || Character == '\n'; }

int64 IndentSpaces(int32 Indent) {
    const int64 Length = Indent > 0 ? (int64)Indent * IndentStep : 0;
    return Length > IndentBufferSize - 1 ? IndentBufferSize - 1 : Length;
}

// The common line: an id of eight or more characters (no padding) and a
// message of one line, perhaps ended by breaks. The message is formatted
// straight behind its prefix into Line (Size bytes), the same bytes the
// general path below joins. The line's length without breaks; 0 for breaks
// alone, which make no line at all; -1 leaves everything else (no id,
// several lines, a line that does not fit) to the general path.
int64 ComposeOneLine(char *Line, size_t Size, const char *ClassName, const char *IdText, const char *Identifier,
                     int32 Indent, const char *Format, va_list Arguments) {
    if (IdText == nullptr) return -1;
    const size_t IdLength = strlen(IdText);
    if (IdLength < 8) return -1;
    size_t Used = 0;
    auto Add = [&](const char *Piece, size_t Length) {
        if (Used + Length >= Size) return false;
        memcpy(Line + Used, Piece, Length);
        Used += Length;
        return true;
    };
    auto AddText = [&](const char *Piece) { return Add(Piece, strlen(Piece)); };
    const int64 Spaces = IndentSpaces(Indent);
    if (!AddText(ClassName != nullptr ? ClassName : "") || !Add(".", 1) || !Add(IdText, IdLength)) return -1;
    if (Identifier != nullptr && (!Add(".", 1) || !AddText(Identifier))) return -1;
    if (!Add(" - ", 3) || Used + (size_t)Spaces >= Size) return -1;
    memset(Line + Used, ' ', (size_t)Spaces);
    Used += (size_t)Spaces;
    char *Message = Line + Used;
    int32 Length = 0;
    if (!StringPrint_VPrintFits(Message, (int32)(Size - Used), Format, Arguments, &Length)) return -1;
    const size_t Text = strcspn(Message, "\r\n");
    if (Text < (size_t)Length) {
        for (int32 i = (int32)Text; i < Length; i++)
            if (!IsLineBreak(Message[i])) return -1;
        if (Text == 0) return 0;
        Message[Text] = 0;
    }
    return (int64)(Used + Text);
}

// The common line handed to the printer whole.
bool PrintOneLine(ClassPrint_Func Function, void *User, const char *ClassName, const char *IdText,
                  const char *Identifier, int32 Indent, const char *Format, va_list Arguments) {
    char Line[PrintBufferSize];
    const int64 Length = ComposeOneLine(Line, sizeof(Line), ClassName, IdText, Identifier, Indent, Format, Arguments);
    if (Length < 0) return false;
    if (Length > 0) Function(User, "%s\n", Line);
    return true;
}

// The common line of a direct log printer, composed behind the log's own
// line start and written as the printer would write it: the message is
// formatted once, and the bounds are those of PrintOneLine, so a line
// either path cannot take goes the general way in both.
bool LogOneLine(const char *ClassName, const char *IdText, const char *Identifier, int32 Indent,
                const char *Format, va_list Arguments) {
    char Text[LOG_LINE_SIZE];
    const int32 Start = Log_BeginLine(LOG_DEBUG, 0, Text);
    // Room for the longest common line, its break and terminator; a level
    // name long enough to cut that line is the printer's business.
    if (Start + PrintBufferSize + 1 > LOG_LINE_SIZE) return false;
    const int64 Length =
        ComposeOneLine(Text + Start, PrintBufferSize, ClassName, IdText, Identifier, Indent, Format, Arguments);
    if (Length < 0) return false;
    if (Length == 0) return true;
    Text[Start + Length] = '\n';
    Text[Start + Length + 1] = 0;
    Log_WriteString(Text, 0, TRUE);
    return true;
}

} // namespace

void *Class_AddRef(void *Object) {
    if (Object == nullptr) return nullptr;
    __atomic_add_fetch(&static_cast<ClassStruct *>(Object)->RefCount, 1, __ATOMIC_SEQ_CST);
    return Object;
}

int32 Class_Release(void *HandleAddress) {
    Debug_CheckPointer(HandleAddress);
    void **Handle = static_cast<void **>(HandleAddress);
    // Releasing through an empty handle is a caller error; stop at once
    // rather than write through a null object.
    ClassStruct *Object = static_cast<ClassStruct *>(*Handle);
    Debug_CheckPointer(Object);
    int32 Count = __atomic_sub_fetch(&Object->RefCount, 1, __ATOMIC_SEQ_CST);
    if (Count == 0) {
        if (Object->Delete == nullptr)
            Debug_Assert(FALSE, "Class delete function pointer is null [%s]", Object->InstanceId);
        Object->Delete(HandleAddress);
    }
    *Handle = nullptr;
    return Count;
}

int32 Class_HasOneRef(void *Object) {
    Debug_CheckPointer(Object);
    int32 *Count = &static_cast<ClassStruct *>(Object)->RefCount;
    return __sync_val_compare_and_swap(Count, 1, 1) == 1;
}

int32 Class_SetDeleteCallback(void *Object, Class_DeleteFunc Function) {
    Debug_CheckPointer(Object);
    static_cast<ClassStruct *>(Object)->Delete = Function;
    return TRUE;
}

int32 Class_GetDeleteCallback(void *Object, Class_DeleteFunc *Function) {
    Debug_CheckPointer(Object);
    Debug_CheckPointer(Function);
    *Function = static_cast<ClassStruct *>(Object)->Delete;
    return TRUE;
}

int32 Class_GenerateInstanceIdReal(void *Object) {
    Debug_CheckPointer(Object);
    ClassStruct *Header = static_cast<ClassStruct *>(Object);
    return String_Guid(Header->InstanceId, (int32)sizeof(Header->InstanceId), FALSE);
}

int32 Class_TrackInstance(void *Object, const char *InstanceId) {
    if (auto Hook = LoadHook(TrackHook)) return Hook(Object, InstanceId);
    Debug_CheckPointer(GlobalClass);
    Debug_CheckPointer(Object);
    Debug_CheckPointer(InstanceId);
    const uint64 Hash = InstanceIdHash(InstanceId);
    CriticalSection_Lock(GlobalClass->Lock);
    // A second track of an id moves it to the new object.
    if (TrackedInstance *Tracked = GlobalClass->Instances->Find(Hash, SameId(InstanceId)))
        Tracked->Object = Object;
    else
        GlobalClass->Instances->Add(Hash, TrackedInstance{InstanceId, Object});
    CriticalSection_Unlock(GlobalClass->Lock);
    return TRUE;
}

int32 Class_UntrackInstance(const char *InstanceId) {
    if (auto Hook = LoadHook(UntrackHook)) return Hook(InstanceId);
    Debug_CheckPointer(GlobalClass);
    Debug_CheckPointer(InstanceId);
    const uint64 Hash = InstanceIdHash(InstanceId);
    CriticalSection_Lock(GlobalClass->Lock);
    const bool Removed = GlobalClass->Instances->Erase(Hash, SameId(InstanceId));
    CriticalSection_Unlock(GlobalClass->Lock);
    if (!Removed) Debug_Abort("Unable to remove instance from class instance hash table");
    return TRUE;
}

void *Class_ConvertFromInstanceId(const char *InstanceId) {
    if (auto Hook = LoadHook(ConvertFromHook)) return Hook(InstanceId);
    if (InstanceId == nullptr || GlobalClass == nullptr) return nullptr;
    const uint64 Hash = InstanceIdHash(InstanceId);
    CriticalSection_Lock(GlobalClass->Lock);
    void *Object = GlobalClass->Instances->Get(Hash, SameId(InstanceId)).Object;
    CriticalSection_Unlock(GlobalClass->Lock);
    return Object;
}

const char *Class_ConvertToInstanceId(void *Object) {
    if (auto Hook = LoadHook(ConvertToHook)) return Hook(Object);
    return static_cast<const char *>(Object);
}

int32 Class_ConvertFromInstanceIdOverride(Class_ConvertFromInstanceIdFunc Function) {
    StoreHook(ConvertFromHook, Function);
    return TRUE;
}

int32 Class_ConvertToInstanceIdOverride(Class_ConvertToInstanceIdFunc Function) {
    StoreHook(ConvertToHook, Function);
    return TRUE;
}

int32 Class_TrackInstanceOverride(Class_TrackInstanceFunc Function) {
    StoreHook(TrackHook, Function);
    return TRUE;
}

int32 Class_UntrackInstanceOverride(Class_UntrackInstanceFunc Function) {
    StoreHook(UntrackHook, Function);
    return TRUE;
}

int32 Class_Init(void) {
    Debug_Assert(GlobalClass == NULL, "Class already initialized");
    ClassGlobalStruct *Global = Memory_New(ClassGlobalStruct);
    Global->Instances = new ProbeTable<TrackedInstance>;
    CriticalSection_Create(&Global->Lock);
    Debug_CheckPointer(Global->Lock);
    GlobalClass = Global;
    return TRUE;
}

int32 Class_Remove(void) {
    if (GlobalClass == nullptr) return FALSE;
    ClassGlobalStruct *Global = GlobalClass;
    GlobalClass = nullptr;
    delete Global->Instances;
    CriticalSection_Delete(&Global->Lock);
    Memory_Delete(Global);
    StoreHook(ConvertFromHook, (Class_ConvertFromInstanceIdFunc) nullptr);
    StoreHook(ConvertToHook, (Class_ConvertToInstanceIdFunc) nullptr);
    StoreHook(TrackHook, (Class_TrackInstanceFunc) nullptr);
    StoreHook(UntrackHook, (Class_UntrackInstanceFunc) nullptr);
    return TRUE;
}

int32 Class_CopyInstanceId(const void *Object, char *Output, int32 Size) {
    Debug_CheckPointer(Object);
    if (Output == nullptr || Size < 1) return FALSE;
    const char *Id = static_cast<const ClassStruct *>(Object)->InstanceId;
    size_t Limit = (size_t)Size - 1 < sizeof(ClassStruct::InstanceId) - 1 ? (size_t)Size - 1
                                                                             : sizeof(ClassStruct::InstanceId) - 1;
    size_t Length = strnlen(Id, Limit);
    memcpy(Output, Id, Length);
    Output[Length] = 0;
    return TRUE;
}

void ClassPrint_InstallDefaults(ClassPrintStruct *Print, void *Object, const char *ClassName,
                                ClassPrint_Func Printer) {
    Debug_CheckPointer(Print);
    if (LoadField(Print->PrintFunction) == nullptr) {
        ClassPrint_MarkLogLine(Printer, nullptr);
        StoreField(Print->PrintUser, Object);
        StoreField(Print->PrintFunction, Printer);
    }
    if (LoadField(Print->ClassName) == nullptr) StoreField(Print->ClassName, ClassName);
    if (LoadField(Print->InstanceIdText) == nullptr) StoreField(Print->InstanceIdText, (const char *)Object);
}

int32 ClassPrint_MarkLogOnly(ClassPrint_Func Function, ClassPrint_LogOnlyFunc Check) {
    return MarkPrinter(Function, Check, false);
}

int32 ClassPrint_MarkLogLine(ClassPrint_Func Function, ClassPrint_LogOnlyFunc Check) {
    return MarkPrinter(Function, Check, true);
}

int32 ClassPrint_IsVerboseLevel(ClassPrintStruct *Print, int32 Level) {
    Debug_CheckPointer(Print);
    if (__atomic_load_n(&Print->Looked, __ATOMIC_ACQUIRE) == 0) {
        const char *Name = LoadField(Print->ClassName);
        int32 ListedLevel = 0;
        int32 Listed = Log_GetVerboseLevel(Name != nullptr ? Name : "", &ListedLevel);
        StoreField(Print->VerboseListed, Listed);
        StoreField(Print->VerboseLevel, ListedLevel);
        __atomic_store_n(&Print->Looked, (uint8)1, __ATOMIC_RELEASE);
    }
    if (LoadField(Print->Verbose) == 0 && LoadField(Print->VerboseListed) == 0) return FALSE;
    return LoadField(Print->VerboseLevel) >= Level;
}

int32 ClassPrint_VPrint(ClassPrintStruct *Print, int32 Indent, const char *Format, va_list Arguments) {
    Debug_CheckPointer(Print);
    ClassPrint_Func Function = LoadField(Print->PrintFunction);
    if (Function == nullptr) return FALSE;
    void *User = LoadField(Print->PrintUser);
    const char *ClassName = LoadField(Print->ClassName);
    const char *IdText = LoadField(Print->InstanceIdText);
    const char *Identifier = Print->PrintIdentifier;
    if (const LogOnlyEntry *Entry = LogOnlyFor(Function, User)) {
        if (!Log_IsEnabled()) return TRUE;
        if (Entry->Direct && LogOneLine(ClassName, IdText, Identifier, Indent, Format, Arguments)) return TRUE;
    }
    if (PrintOneLine(Function, User, ClassName, IdText, Identifier, Indent, Format, Arguments)) return TRUE;

    char Message[PrintBufferSize];
    String_VPrint(Message, (int32)sizeof(Message), Format, Arguments);

    char IndentText[IndentBufferSize];
    const int64 IndentLength = IndentSpaces(Indent);
    memset(IndentText, ' ', (size_t)IndentLength);
    IndentText[IndentLength] = 0;

    const bool HasId = IdText != nullptr && IdText[0] != 0;
    auto Emit = [&](const char *Line) {
        const char *Name = ClassName != nullptr ? ClassName : "";
        const char *Dot = Identifier != nullptr ? "." : "";
        const char *Ident = Identifier != nullptr ? Identifier : "";
        // An id of eight or more characters needs no padding: the line is
        // then joined here, the same bytes the format gives, and handed on
        // whole rather than formatted piece by piece once more.
        if (HasId) {
            const char *Pieces[] = {Name, ".", IdText, Dot, Ident, " - ", IndentText, Line};
            char Joined[PrintBufferSize];
            size_t Used = 0;
            bool Fits = strlen(IdText) >= 8;
            for (const char *Piece : Pieces) {
                const size_t Length = Fits ? strlen(Piece) : 0;
                if (!Fits || Used + Length >= sizeof(Joined)) {
                    Fits = false;
                    break;
                }
                memcpy(Joined + Used, Piece, Length);
                Used += Length;
            }
            if (Fits) {
                Joined[Used] = 0;
                Function(User, "%s\n", Joined);
                return;
            }
            Function(User, "%s.%8s%s%s - %s%s\n", Name, IdText, Dot, Ident, IndentText, Line);
            return;
        }
        Function(User, "%s.%08x%s%s - %s%s\n", Name, (uint32)reinterpret_cast<uintptr>(IdText), Dot, Ident,
                 IndentText, Line);
    };

    // A message without line breaks prints whole, even empty; otherwise each
    // non-empty piece between breaks is one line and runs of breaks are skipped.
    if (strpbrk(Message, "\r\n") == nullptr) {
        Emit(Message);
        return TRUE;
    }
    char *Cursor = Message;
    while (*Cursor != 0) {
        char *End = Cursor;
        while (*End != 0 && !IsLineBreak(*End)) End++;
        const bool AtBreak = *End != 0;
        *End = 0;
        if (End != Cursor) Emit(Cursor);
        Cursor = AtBreak ? End + 1 : End;
    }
    return TRUE;
}
