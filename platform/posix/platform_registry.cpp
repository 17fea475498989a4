// Registry primitives over the preferences domain: key handles hold a copy of
// one top-level preference, note each change they make, and replay those
// changes into the stored preference when they close.
#include "platform/posix/platform_registry.h"

#include <string.h>

#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/preference_store.h"
#include "runtime/class.h"
#include "runtime/log.h"
#include "runtime/memory.h"

namespace {

using Kind = PreferenceValue::Kind;

// Paths longer than this name no key a caller could have been allowed.
constexpr size_t MaximumPathLength = 1024;

// One change a handle made to its copy, replayed on close into what the
// store holds then, so that names other processes wrote meanwhile stay.
struct Change {
    enum class Step { Ensure, SetValue, RemoveValue, RemoveKey };
    Step Op;
    std::vector<std::string> Where; // dictionaries below the top-level preference
    std::string Name;               // empty for Ensure
    PreferenceValue Value;          // for SetValue
};

struct RegistryKey {
    ClassStruct Class;
    std::string KeyPath;       // the top-level preference changed on close
    bool HasRoot = false;
    PreferenceValue Root;      // copy of that preference (or of all, for a root handle)
    PreferenceValue *Current = nullptr; // the key's own dictionary inside Root
    std::vector<std::string> SubPath;   // where Current is below Root
    std::optional<std::vector<std::string>> KeyNames, ValueNames;
    std::vector<Change> Changes;
};

int32 DeleteKeyHandle(void *HandleAddress);

RegistryKey *NewKey() {
    auto *Key = new (Memory_New(RegistryKey)) RegistryKey();
    Class_InitHeader(Key, PLATFORMREGISTRY_CLASSID, DeleteKeyHandle);
    return Key;
}

void FreeKey(RegistryKey *Key) {
    Key->~RegistryKey();
    Memory_Delete(Key);
}

int32 DeleteKeyHandle(void *HandleAddress) {
    auto **Key = static_cast<RegistryKey **>(HandleAddress);
    FreeKey(*Key);
    *Key = nullptr;
    return TRUE;
}

RegistryKey *Checked(void *Handle) {
    Class_CheckHandle(Handle, PLATFORMREGISTRY_CLASSID);
    return static_cast<RegistryKey *>(Handle);
}

// The path with "\" as "/" and one leading separator dropped; false for a
// path too long to be a key.
bool Normalise(const char *Path, std::string &Out) {
    Out = Path;
    if (Out.size() > MaximumPathLength) return false;
    for (char &Ch : Out)
        if (Ch == '\\') Ch = '/';
    if (!Out.empty() && Out[0] == '/') Out.erase(0, 1);
    return true;
}

// The non-empty segments; false when one is "." or "..", which would make
// the key differ from the path its caller was allowed.
bool Split(const std::string &Path, std::vector<std::string> &Segments) {
    Segments.clear();
    for (size_t Start = 0; Start <= Path.size();) {
        size_t End = Path.find('/', Start);
        if (End == std::string::npos) End = Path.size();
        std::string Segment = Path.substr(Start, End - Start);
        if (Segment == "." || Segment == "..") return false;
        if (!Segment.empty()) Segments.push_back(std::move(Segment));
        Start = End + 1;
    }
    return true;
}

// CF-style numbers of the stored kinds, for log lines.
constexpr const char *KindNames[] = {"dictionary", "array", "string", "data", "integer", "real", "boolean", "date"};
constexpr int32 NumberInt32 = 3, NumberInt64 = 4, NumberFloat64 = 6, NumberUInt64 = 17;

int32 LogUnexpected(const char *Operation, const PreferenceValue &Value, const char *Name) {
    Log_Debug("%s: Unexpected data type %d (%s) for value \"%s\"\n", Operation, (int32)Value.Type,
              KindNames[(int32)Value.Type], Name);
    return 0;
}

bool FitsInt32(const PreferenceValue &Value) {
    return !Value.Unsigned && Value.Number >= INT32_MIN && Value.Number <= INT32_MAX;
}

// Decodes Value into Buffer (or, with Buffer null, only sizes it); Wanted 11
// asks for an integer as 64 bits. Answers the decoded type, 0 on failure.
int32 Platform_RegistryGetValue(const char *Name, const PreferenceValue &Value, int32 Wanted, void *Buffer,
                                int32 Length, int32 *Size) {
    constexpr const char *Operation = "Platform_RegistryGetValue";
    *Size = 0;
    switch (Value.Type) {
    case Kind::String: {
        int32 Bytes = (int32)Value.Text.size();
        if (Buffer == nullptr) {
            *Size = Bytes + 1;
        } else {
            if (Length < 1) return LogUnexpected(Operation, Value, Name);
            int32 Copied = Bytes < Length - 1 ? Bytes : Length - 1;
            memcpy(Buffer, Value.Text.data(), (size_t)Copied);
            static_cast<char *>(Buffer)[Copied] = 0;
            *Size = Copied + 1;
        }
        return PLATFORM_REGISTRYTYPE_STRING;
    }
    case Kind::Data: {
        int32 Bytes = (int32)Value.Text.size();
        if (Buffer != nullptr && Bytes > Length) Bytes = Length < 0 ? 0 : Length;
        if (Buffer != nullptr) memcpy(Buffer, Value.Text.data(), (size_t)Bytes);
        *Size = Bytes;
        return PLATFORM_REGISTRYTYPE_BINARY;
    }
    case Kind::Integer:
    case Kind::Boolean:
    case Kind::Date: {
        bool Wide = Wanted == PLATFORM_REGISTRYTYPE_INT64 || (Wanted == 0 && !FitsInt32(Value));
        int32 Needed = Wide ? 8 : 4;
        if (Buffer != nullptr && Length < Needed) return LogUnexpected(Operation, Value, Name);
        if ((Wide && Value.Unsigned) || (!Wide && !FitsInt32(Value))) {
            Log_Debug("%s: Bad number type for requested value \"%s\" (type [0x%.8X != 0x%.8X])\n", Operation, Name,
                      (uint32)(Value.Unsigned ? NumberUInt64 : NumberInt64),
                      (uint32)(Wide ? NumberInt64 : NumberInt32));
            return 0;
        }
        if (Buffer != nullptr) {
            if (Wide) {
                int64 Number = Value.Number;
                memcpy(Buffer, &Number, 8);
            } else {
                int32 Number = (int32)Value.Number;
                memcpy(Buffer, &Number, 4);
            }
        }
        *Size = Needed;
        return Wide ? PLATFORM_REGISTRYTYPE_INT64 : PLATFORM_REGISTRYTYPE_INT32;
    }
    case Kind::Real:
        Log_Debug("%s: Bad number type for requested value \"%s\" (type [0x%.8X != 0x%.8X])\n", Operation, Name,
                  (uint32)NumberFloat64, (uint32)NumberInt32);
        return 0;
    default:
        return LogUnexpected(Operation, Value, Name);
    }
}

// Where values are read: the key's dictionary, or for a root handle the
// top-level preferences.
const PreferenceValue &Values(const RegistryKey *Key) { return Key->Current != nullptr ? *Key->Current : Key->Root; }

// Checks and changes top-level preferences in one step under the writers'
// lock, so no other process's change falls between the two.
bool ChangeTopLevel(const std::function<bool(PreferenceValue &Root)> &Change) {
    return PreferenceStore_Update(PreferenceStore_UserPath(), false, Change);
}

void NoteValueName(RegistryKey *Key, const char *Name) {
    if (!Key->ValueNames) return;
    for (const std::string &Known : *Key->ValueNames)
        if (Known == Name) return;
    Key->ValueNames->push_back(Name);
}

void ForgetName(std::optional<std::vector<std::string>> &List, const char *Name) {
    if (!List) return;
    for (auto At = List->begin(); At != List->end(); ++At)
        if (*At == Name) {
            List->erase(At);
            return;
        }
}

// Copies a name, cut to fit and terminated.
void CopyName(const std::string &Name, char *Buffer, int32 Length) {
    if (Buffer == nullptr || Length < 1) return;
    size_t Count = Name.size() < (size_t)Length - 1 ? Name.size() : (size_t)Length - 1;
    memcpy(Buffer, Name.data(), Count);
    Buffer[Count] = 0;
}

// Notes a change; a value set or removed again replaces its earlier note,
// so a handle's notes stay as many as the names it touched.
void Note(RegistryKey *Key, Change::Step Op, std::vector<std::string> Where, std::string Name,
          PreferenceValue Value = PreferenceValue()) {
    const bool OfValue = Op == Change::Step::SetValue || Op == Change::Step::RemoveValue;
    if (OfValue)
        std::erase_if(Key->Changes, [&](const Change &Earlier) {
            return (Earlier.Op == Change::Step::SetValue || Earlier.Op == Change::Step::RemoveValue) &&
                   Earlier.Name == Name && Earlier.Where == Where;
        });
    Key->Changes.push_back(Change{Op, std::move(Where), std::move(Name), std::move(Value)});
}

// Applies the handle's changes to the store's current top-level
// preferences. A dictionary on the way that is gone is made again (the
// handle's changes are kept, as before); false when a name on the way or a
// changed name now holds something of the other kind.
bool Replay(const RegistryKey *Key, PreferenceValue &Root) {
    bool Whole = true;
    PreferenceValue *Top = Root.Find(Key->KeyPath);
    if (Top == nullptr) {
        // Seeded from the any-user preference of that name, so its other
        // values stay visible once the user's own copy exists.
        PreferenceValue Seed;
        if (!PreferenceStore_CopyValue(Key->KeyPath, Seed) || !Seed.IsDictionary()) Seed = PreferenceValue();
        Top = &Root.Set(Key->KeyPath, std::move(Seed));
    }
    if (!Top->IsDictionary()) return false;
    for (const Change &Step : Key->Changes) {
        PreferenceValue *At = Top;
        for (const std::string &Segment : Step.Where) {
            PreferenceValue *Child = At->Find(Segment);
            if (Child == nullptr) Child = &At->Set(Segment, PreferenceValue());
            if (!Child->IsDictionary()) {
                At = nullptr;
                break;
            }
            At = Child;
        }
        if (At == nullptr) {
            Whole = false;
            continue;
        }
        const PreferenceValue *Existing = Step.Name.empty() ? nullptr : At->Find(Step.Name);
        switch (Step.Op) {
        case Change::Step::Ensure: break;
        case Change::Step::SetValue:
            if (Existing != nullptr && Existing->IsDictionary())
                Whole = false;
            else
                At->Set(Step.Name, Step.Value);
            break;
        case Change::Step::RemoveValue:
            if (Existing != nullptr && !Existing->IsDictionary()) At->Remove(Step.Name);
            break;
        case Change::Step::RemoveKey:
            if (Existing != nullptr && Existing->IsDictionary()) At->Remove(Step.Name);
            break;
        }
    }
    return Whole;
}

void RebuildLists(RegistryKey *Key) {
    std::vector<std::string> Keys, Values;
    for (const PreferenceMember &Member : Key->Current->Members)
        (Member.Value.IsDictionary() ? Keys : Values).push_back(Member.Key);
    Key->KeyNames.reset();
    Key->ValueNames.reset();
    if (!Keys.empty()) Key->KeyNames = std::move(Keys);
    if (!Values.empty()) Key->ValueNames = std::move(Values);
}

} // namespace

extern "C" int32 Platform_RegistryOpen(void **Handle, int32 Class, int32 View, const char *Path) {
    (void)Class;
    (void)View;
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(Path);
    *Handle = nullptr;
    std::string Text;
    std::vector<std::string> Segments;
    if (!Normalise(Path, Text) || !Split(Text, Segments)) return FALSE;
    RegistryKey *Key = NewKey();
    if (Segments.empty()) {
        Key->HasRoot = PreferenceStore_CopyAll(Key->Root);
        *Handle = Key;
        return TRUE;
    }
    // A top-level preference whose own name holds "/" is found whole first.
    if (PreferenceStore_CopyValue(Text, Key->Root) && Key->Root.IsDictionary()) {
        Key->KeyPath = Text;
    } else if (PreferenceStore_CopyValue(Segments[0], Key->Root) && Key->Root.IsDictionary()) {
        Key->KeyPath = Segments[0];
    } else {
        FreeKey(Key);
        return FALSE;
    }
    Key->HasRoot = true;
    Key->Current = &Key->Root;
    for (size_t Index = Key->KeyPath == Text ? Segments.size() : 1; Index < Segments.size(); Index++) {
        PreferenceValue *Child = Key->Current->Find(Segments[Index]);
        if (Child == nullptr || !Child->IsDictionary()) {
            FreeKey(Key);
            return FALSE;
        }
        Key->Current = Child;
        Key->SubPath.push_back(Segments[Index]);
    }
    *Handle = Key;
    return TRUE;
}

extern "C" int32 Platform_RegistryCreate(void **Handle, int32 Class, int32 View, const char *Path) {
    if (Platform_RegistryOpen(Handle, Class, View, Path)) return TRUE;
    std::string Text;
    std::vector<std::string> Segments;
    if (!Normalise(Path, Text) || !Split(Text, Segments) || Segments.empty()) return FALSE;
    size_t Slash = Text.rfind('/');
    if (Slash == std::string::npos) {
        // A top-level key, added under the writers' lock unless another
        // process made it meanwhile; a value of that name is not replaced.
        PreferenceValue Existing;
        if (PreferenceStore_CopyValue(Text, Existing) && !Existing.IsDictionary()) return FALSE;
        ChangeTopLevel([&](PreferenceValue &Root) {
            if (Root.Find(Text) != nullptr) return false;
            Root.Set(Text, PreferenceValue());
            return true;
        });
        if (!Platform_RegistryOpen(Handle, Class, View, Text.c_str())) return FALSE;
        Note(Checked(*Handle), Change::Step::Ensure, {}, "");
        return TRUE;
    }
    if (Slash + 1 == Text.size()) return FALSE;
    std::string ParentPath = Text.substr(0, Slash), Last = Text.substr(Slash + 1);
    void *Parent = nullptr;
    if (!Platform_RegistryCreate(&Parent, Class, View, ParentPath.c_str())) return FALSE;
    if (!Platform_RegistryClose(&Parent) || !Platform_RegistryOpen(&Parent, Class, View, ParentPath.c_str()))
        return FALSE;
    RegistryKey *Key = Checked(Parent);
    // Another writer may have made the key since it was looked for: then it
    // is opened as it is. A value of that name is not replaced.
    PreferenceValue *Made = Key->Current != nullptr ? Key->Current->Find(Last) : nullptr;
    if (Key->Current == nullptr || (Made != nullptr && !Made->IsDictionary())) {
        Platform_RegistryClose(&Parent);
        return FALSE;
    }
    Key->Current = Made != nullptr ? Made : &Key->Current->Set(Last, PreferenceValue());
    Key->SubPath.push_back(Last);
    Key->KeyNames.reset();
    Key->ValueNames.reset();
    Note(Key, Change::Step::Ensure, Key->SubPath, "");
    *Handle = Key;
    return TRUE;
}

extern "C" int32 Platform_RegistryClose(void **Handle) {
    Debug_CheckPointer(Handle);
    RegistryKey *Key = Checked(*Handle);
    int32 Result = TRUE;
    if (Key->HasRoot && !Key->Changes.empty() && !Key->KeyPath.empty()) {
        bool Whole = true;
        bool Stored = ChangeTopLevel([&](PreferenceValue &Root) {
            Whole = Replay(Key, Root);
            return true;
        });
        if (!Stored || !Whole) {
            Log_Error("Unable to store registry key (%s)\n", Key->KeyPath.c_str());
            Result = FALSE;
        }
    }
    FreeKey(Key);
    *Handle = nullptr;
    return Result;
}

extern "C" int32 Platform_RegistrySetSecurity(void *Handle, const char *Descriptor) {
    (void)Checked(Handle);
    (void)Descriptor;
    return TRUE;
}

extern "C" int32 Platform_RegistrySetType(void *Handle, int32 Type, const char *Name, const void *Data,
                                          int32 Length) {
    RegistryKey *Key = Checked(Handle);
    Debug_CheckPointer(Name);
    if (Length > 0) Debug_CheckPointer(Data);
    if (Key->Current == nullptr || Length < 0) return FALSE;
    std::string_view Bytes(static_cast<const char *>(Data), Data != nullptr ? (size_t)Length : 0);
    PreferenceValue Value;
    switch (Type) {
    case PLATFORM_REGISTRYTYPE_STRING:
    case PLATFORM_REGISTRYTYPE_EXPANDSTRING:
    case PLATFORM_REGISTRYTYPE_MULTISTRING:
        if (!Bytes.empty() && Bytes.back() == 0) Bytes.remove_suffix(1);
        Value = PreferenceValue::MakeString(Bytes);
        break;
    case PLATFORM_REGISTRYTYPE_BINARY:
        Value = PreferenceValue::MakeData(Bytes);
        break;
    case PLATFORM_REGISTRYTYPE_INT32: {
        if (Length != 4) return FALSE;
        int32 Number;
        memcpy(&Number, Data, 4);
        Value = PreferenceValue::MakeInteger(Number);
        break;
    }
    case PLATFORM_REGISTRYTYPE_INT64: {
        if (Length != 8) return FALSE;
        int64 Number;
        memcpy(&Number, Data, 8);
        Value = PreferenceValue::MakeInteger(Number);
        break;
    }
    default:
        return FALSE;
    }
    // The store is an XML document: texts it cannot hold are refused here
    // rather than written into a file no reader accepts.
    if (!PreferenceText_IsValid(Name) || (Value.Type == Kind::String && !PreferenceText_IsValid(Value.Text))) {
        Log_Debug("%s: Value \"%s\" is not storable text\n", "Platform_RegistrySetType", Name);
        return FALSE;
    }
    if (const PreferenceValue *Existing = Key->Current->Find(Name); Existing != nullptr && Existing->IsDictionary())
        return FALSE;
    Key->Current->Set(Name, Value);
    Note(Key, Change::Step::SetValue, Key->SubPath, Name, std::move(Value));
    NoteValueName(Key, Name);
    return TRUE;
}

extern "C" int32 Platform_RegistryGetType(void *Handle, int32 Type, const char *Name, void *Buffer, int32 Length,
                                          int32 *Size) {
    RegistryKey *Key = Checked(Handle);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Size);
    *Size = 0;
    const PreferenceValue *Value = Values(Key).Find(Name);
    if (Value == nullptr || Value->IsDictionary()) return FALSE;
    int32 Decoded = Platform_RegistryGetValue(Name, *Value, Type, Buffer, Length, Size);
    if (Decoded == 0) return FALSE;
    if (Decoded != Type) {
        Log_Debug("%s: Bad type for '%s' [0x%.8X != 0x%.8X]\n", "Platform_RegistryGetType", Name, (uint32)Decoded,
                  (uint32)Type);
        *Size = 0;
    }
    return *Size != 0 ? TRUE : FALSE;
}

extern "C" int32 Platform_RegistryGetSize(void *Handle, const char *Name, int32 *Size) {
    RegistryKey *Key = Checked(Handle);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Size);
    *Size = 0;
    const PreferenceValue *Value = Values(Key).Find(Name);
    if (Value == nullptr) return FALSE;
    int64 UsedLength = 0;
    switch (Value->Type) {
    case Kind::String:
    case Kind::Data: UsedLength = (int64)Value->Text.size(); break;
    case Kind::Integer:
    case Kind::Boolean:
    case Kind::Date: UsedLength = FitsInt32(*Value) ? 4 : 8; break;
    default: break;
    }
    Debug_Assert(UsedLength < INT32_MAX, "Value is too long.\n");
    if (UsedLength == 0) return LogUnexpected("Platform_RegistryGetSize", *Value, Name);
    *Size = (int32)UsedLength;
    return TRUE;
}

extern "C" int32 Platform_RegistryDeleteValue(void *Handle, const char *Name) {
    RegistryKey *Key = Checked(Handle);
    Debug_CheckPointer(Name);
    if (Key->Current != nullptr) {
        const PreferenceValue *Value = Key->Current->Find(Name);
        if (Value == nullptr || Value->IsDictionary()) return FALSE;
        Key->Current->Remove(Name);
        ForgetName(Key->ValueNames, Name);
        Note(Key, Change::Step::RemoveValue, Key->SubPath, Name);
        return TRUE;
    }
    // A root handle: the top-level value leaves the file at once (as the
    // file has it now, not as this handle's copy has it).
    bool Removed = ChangeTopLevel([&](PreferenceValue &Root) {
        const PreferenceValue *Value = Root.Find(Name);
        return Value != nullptr && !Value->IsDictionary() && Root.Remove(Name);
    });
    if (Removed) Key->Root.Remove(Name);
    return Removed ? TRUE : FALSE;
}

extern "C" int32 Platform_RegistryDeleteKey(void *Handle, const char *Name) {
    RegistryKey *Key = Checked(Handle);
    Debug_CheckPointer(Name);
    if (Name[0] == '/' || Name[0] == '\\') Name++;
    if (Key->Current != nullptr) {
        const PreferenceValue *Value = Key->Current->Find(Name);
        if (Value == nullptr || !Value->IsDictionary()) return FALSE;
        Key->Current->Remove(Name);
        ForgetName(Key->KeyNames, Name);
        Note(Key, Change::Step::RemoveKey, Key->SubPath, Name);
        return TRUE;
    }
    bool Removed = ChangeTopLevel([&](PreferenceValue &Root) {
        const PreferenceValue *Value = Root.Find(Name);
        return Value != nullptr && Value->IsDictionary() && Root.Remove(Name);
    });
    if (Removed) Key->Root.Remove(Name);
    return Removed ? TRUE : FALSE;
}

extern "C" int32 Platform_RegistryEnumKey(void *Handle, int32 Index, char *Buffer, int32 Length) {
    RegistryKey *Key = Checked(Handle);
    if (Buffer != nullptr && Length > 0) Buffer[0] = 0;
    if (Index != 0 && !Key->KeyNames) {
        Log_Debug("%s: Enum value should be zero for the first call\n", "Platform_RegistryEnumKey");
        return FALSE;
    }
    if (Index == 0) {
        if (Key->Current == nullptr) {
            Log_Debug("%s: Enum property keys is not supported for plist\n", "Platform_RegistryEnumKey");
            return FALSE;
        }
        RebuildLists(Key);
        if (!Key->KeyNames) return TRUE;
    }
    int32 Count = (int32)Key->KeyNames->size();
    if (Index == Count) return FALSE;
    if (Index < 0 || Index > Count) {
        Log_Debug("%s: Enum value is out of the array bound\n", "Platform_RegistryEnumKey");
        return FALSE;
    }
    CopyName((*Key->KeyNames)[(size_t)Index], Buffer, Length);
    return TRUE;
}

extern "C" int32 Platform_RegistryEnumValue(void *Handle, int32 Index, char *NameBuffer, int32 NameLength,
                                            void *DataBuffer, int32 DataLength, int32 *Size, int32 *Type) {
    RegistryKey *Key = Checked(Handle);
    if (NameBuffer != nullptr && NameLength > 0) NameBuffer[0] = 0;
    if (Size != nullptr) *Size = 0;
    if (Type != nullptr) *Type = 0;
    if (Index != 0 && !Key->ValueNames) {
        Log_Debug("%s: Enum value should be zero for the first call\n", "Platform_RegistryEnumValue");
        return FALSE;
    }
    if (Index == 0) {
        if (Key->Current == nullptr) {
            Log_Debug("%s: Enum property values is not supported for plist\n", "Platform_RegistryEnumValue");
            return FALSE;
        }
        RebuildLists(Key);
        if (!Key->ValueNames) return TRUE;
    }
    if (Index < 0) {
        Log_Debug("%s: Enum value is out of the array bound\n", "Platform_RegistryEnumValue");
        return FALSE;
    }
    if (Index >= (int32)Key->ValueNames->size()) return TRUE;
    const std::string &Name = (*Key->ValueNames)[(size_t)Index];
    CopyName(Name, NameBuffer, NameLength);
    const PreferenceValue *Value = Key->Current->Find(Name);
    if (Value == nullptr) return FALSE;
    int32 Decoded = 0, Bytes = 0;
    Decoded = Platform_RegistryGetValue(Name.c_str(), *Value, 0, DataBuffer, DataLength, &Bytes);
    if (Size != nullptr) *Size = Bytes;
    if (Type != nullptr) *Type = Decoded;
    return Decoded != 0 ? TRUE : FALSE;
}
