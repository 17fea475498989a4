// Dictionary paths: resolving a path text through nested containers, the
// by-path families, the path of an item and the operations on path text.
//
// A path is walked, never stored. Segments are separated by "." or a
// backslash; a segment in square brackets is a selector: an index ([2],
// [-1]), a member test ([id=7]: the container holding such a member), "next"
// (the container item's next sibling) or "last-child". Repeated keys are
// searched in turn, so a path finds the first branch that resolves whole.
//
// Paths from Dictionary_ItemGetPath resolve back to their item as long as no
// key on the way contains ".", a backslash or a bracket. Set-by-path splits
// only at the last "." (the parent part then walks as a get would).
#include <string.h>

#include <string_view>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

namespace {

using TextView = std::string_view;

// The deepest nesting a path is followed through; deeper input is not found
// rather than exhausting the stack.
constexpr int32 MaxResolveDepth = 4096;

bool IsPathSeparator(char Ch) { return Ch == '.' || Ch == '\\' || Ch == '[' || Ch == ']'; }

bool EqualsWithoutCase(TextView Text, TextView Word) {
    return Text.size() == Word.size() && String_CompareLengthWithoutCase(Text.data(), Word.data(), (int32)Word.size());
}

// An optional "-", then only digits and "." (the empty text counts).
bool IsNumericSelector(TextView Text) {
    size_t Index = !Text.empty() && Text[0] == '-' ? 1 : 0;
    for (; Index < Text.size(); Index++)
        if (!(Text[Index] >= '0' && Text[Index] <= '9') && Text[Index] != '.') return false;
    return true;
}

// The selector's number as String_AtoI64 reads it: sign and leading digits.
// False when it lies outside the index range.
bool SelectorIndex(TextView Text, int32 *Index) {
    bool Negative = false;
    size_t Position = 0;
    if (!Text.empty() && Text[0] == '-') {
        Negative = true;
        Position = 1;
    }
    int64 Value = 0;
    for (; Position < Text.size() && Text[Position] >= '0' && Text[Position] <= '9'; Position++) {
        Value = Value * 10 + (Text[Position] - '0');
        if (Value > (int64)INT32_MAX + 1) return false;
    }
    if (Negative) Value = -Value;
    if (Value < INT32_MIN || Value > INT32_MAX) return false;
    *Index = (int32)Value;
    return true;
}

struct Found {
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
};

bool Resolve(Dictionary *Handle, TextView Path, int32 Depth, Found *Result);

bool Descend(DictionaryItem *Item, TextView Rest, int32 Depth, Found *Result) {
    return Item->Child != nullptr && Resolve(Item->Child, Rest, Depth + 1, Result);
}

bool ResolveSelector(Dictionary *Handle, TextView Selector, TextView Rest, int32 Depth, Found *Result) {
    if (IsNumericSelector(Selector)) {
        int32 Index = 0;
        DictionaryItem *Item = SelectorIndex(Selector, &Index) ? DictionaryInt_ItemAt(Handle, Index) : nullptr;
        if (Item == nullptr) return false;
        if (Rest.empty()) {
            *Result = {Handle, Item};
            return true;
        }
        return Descend(Item, Rest, Depth, Result);
    }
    const size_t Equals = Selector.find('=');
    if (Equals != TextView::npos) {
        const TextView Name = Selector.substr(0, Equals);
        const TextView Value = Selector.substr(Equals + 1);
        bool Matched = false;
        for (DictionaryItem *Item = Handle->Items.First; Item != nullptr && !Matched; Item = Item->Next) {
            const char *Text = nullptr;
            int32 Length = 0;
            Matched = DictionaryInt_KeyEquals(Handle, Item, Name.data(), (int32)Name.size()) &&
                      DictionaryInt_TextForm(Item, &Text, &Length) &&
                      DictionaryInt_TextEquals(Handle, Text, Length, Value.data(), (int32)Value.size());
        }
        if (!Matched || Handle->Parent == nullptr) return false;
        if (!Rest.empty() && Resolve(Handle, Rest, Depth + 1, Result)) return true;
        *Result = {Handle->Parent, Handle->ParentItem};
        return true;
    }
    if (EqualsWithoutCase(Selector, "next")) {
        if (Handle->Parent == nullptr || Handle->ParentItem == nullptr) return false;
        DictionaryItem *Sibling = Handle->ParentItem->Next;
        if (Sibling == nullptr) return false;
        if (Rest.empty()) {
            *Result = {Handle->Parent, Sibling};
            return true;
        }
        return Descend(Sibling, Rest, Depth, Result);
    }
    if (EqualsWithoutCase(Selector, "last-child")) {
        DictionaryItem *Last = Handle->Items.Last;
        if (Rest.empty()) {
            *Result = {Handle, Last};
            return true;
        }
        return Descend(Last, Rest, Depth, Result);
    }
    return false;
}

bool Resolve(Dictionary *Handle, TextView Path, int32 Depth, Found *Result) {
    Dictionary_CheckList(Handle);
    if (Path.empty() || Handle->Items.Count == 0 || Depth > MaxResolveDepth) return false;
    if (Handle->PrivateKeys == 1 && (Path[0] == '.' || Path[0] == '#')) Path.remove_prefix(1);

    // The first segment runs to its separator, however far: one cut at the
    // key limit would be compared with another key (and a separator just
    // past the limit would be missed, ending the walk an item too soon).
    TextView Segment = Path;
    TextView Rest;
    for (size_t Index = 1; Index < Path.size(); Index++) {
        if (IsPathSeparator(Path[Index])) {
            Segment = Path.substr(0, Index);
            Rest = Path.substr(Index);
            while (!Rest.empty() && (Rest[0] == '.' || Rest[0] == '\\' || Rest[0] == ']')) Rest.remove_prefix(1);
            break;
        }
    }

    if (!Segment.empty() && Segment[0] == '[') return ResolveSelector(Handle, Segment.substr(1), Rest, Depth, Result);
    // No key is longer than the limit: such a segment names no item.
    if (Segment.size() > DICTIONARY_MAX_KEY_LENGTH) return false;

    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        if (!DictionaryInt_KeyEquals(Handle, Item, Segment.data(), (int32)Segment.size())) continue;
        if (Rest.empty()) {
            *Result = {Handle, Item};
            return true;
        }
        if (Descend(Item, Rest, Depth, Result)) return true;
    }
    return false;
}

// The "."-separated members of an Ensure path, with blanks and control
// characters skipped after each "." and cut at each member's end.
class MemberWalk {
  public:
    explicit MemberWalk(const char *Path) : Next(Path) {}
    // 0 at the end; -1 for a member longer than the member buffer.
    int32 Take(char *Member, int32 Size) {
        if (Next == nullptr) return 0;
        const char *Start = Next;
        if (!First)
            while (*Start != 0 && (uint8)*Start < 33) Start++;
        First = false;
        const char *Dot = strchr(Start, '.');
        const char *End = Dot != nullptr ? Dot : Start + strlen(Start);
        Next = Dot != nullptr ? Dot + 1 : nullptr;
        while (End > Start && (uint8)End[-1] < 33) End--;
        if (End - Start > Size - 1) return -1;
        memcpy(Member, Start, (size_t)(End - Start));
        Member[End - Start] = 0;
        return 1;
    }

  private:
    const char *Next;
    bool First = true;
};

DictionaryItem *AddDictionaryItem(Dictionary *Handle, const char *Key) {
    DictionaryItem *Item = DictionaryInt_Insert(Handle, Handle->Items.Last, Key);
    DictionaryInt_SetType(Handle, Item, DICTIONARY_TYPE_DICTIONARY);
    return Item;
}

int32 EnsureByPath(Dictionary *Handle, const char *Path, Dictionary **Child) {
    *Child = nullptr;
    Dictionary *Current = Handle;
    if (*Path != 0) {
        MemberWalk Walk(Path);
        char Member[DictionarySetPathSize];
        for (int32 Taken; (Taken = Walk.Take(Member, (int32)sizeof(Member))) != 0;) {
            if (Taken < 0) {
                Log_Error("Dictionary path member too long in %.64s\n", Path);
                return FALSE;
            }
            const size_t Length = strlen(Member);
            // A member no key can hold is refused: kept cut it would be
            // another key, and found by no later walk.
            if (Length > (size_t)DICTIONARY_MAX_KEY_LENGTH + 1 ||
                (Length == (size_t)DICTIONARY_MAX_KEY_LENGTH + 1 && Member[Length - 1] != '~')) {
                Log_Error("Dictionary path member longer than a key (%d > %d) in %.64s\n", (int32)Length,
                          DICTIONARY_MAX_KEY_LENGTH, Path);
                return FALSE;
            }
            if (Length > 0 && Member[Length - 1] == '~') {
                Member[Length - 1] = 0;
                Current = AddDictionaryItem(Current, Member)->Child;
                continue;
            }
            Found Result;
            if (Resolve(Current, Member, 0, &Result)) {
                // A scalar has no container to descend into.
                if (Result.Item->Child == nullptr) return FALSE;
                Current = Result.Item->Child;
            } else {
                Current = AddDictionaryItem(Current, Member)->Child;
            }
        }
    }
    *Child = Current;
    return TRUE;
}

// Splits a set-by-path at its last "." and hands the container and the key
// to Setter; a parent part that ends at a scalar stores nothing.
template <typename Setter> int32 SetByPath(Dictionary *Handle, const char *Path, const Setter &Set) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Path);
    const size_t Length = strlen(Path);
    if (Length >= (size_t)DictionarySetPathSize) {
        Log_Error("Dictionary path too long (%d > %d) %.64s\n", (int32)(Length > INT32_MAX ? INT32_MAX : Length),
                  DictionarySetPathSize - 1, Path);
        return FALSE;
    }
    // A member no key can hold (a last "~" aside) fails the set: kept cut,
    // it would be another key.
    for (const char *Member = Path; *Member != 0;) {
        const char *End = strchr(Member, '.');
        size_t Size = End != nullptr ? (size_t)(End - Member) : strlen(Member);
        if (Size > 0 && Member[Size - 1] == '~') Size--;
        if (Size > (size_t)DICTIONARY_MAX_KEY_LENGTH) {
            Log_Error("Dictionary path member longer than a key (%d > %d) in %.64s\n", (int32)Size,
                      DICTIONARY_MAX_KEY_LENGTH, Path);
            return FALSE;
        }
        if (End == nullptr) break;
        Member = End + 1;
    }
    char Copy[DictionarySetPathSize];
    memcpy(Copy, Path, Length + 1);
    Dictionary *Target = Handle;
    const char *Key = Copy;
    if (char *Dot = strrchr(Copy, '.'); Dot != nullptr) {
        *Dot = 0;
        Key = Dot + 1;
        if (!EnsureByPath(Handle, Copy, &Target)) return TRUE;
    }
    Set(Target, Key);
    return TRUE;
}

// The item at Path after the checks every by-path getter makes.
bool PathItem(Dictionary *Handle, const char *Path, Found *Result) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Path);
    return Resolve(Handle, Path, 0, Result);
}

// One level of an item path: the item and the Dictionary that holds it.
// Bracket: the path from this level down begins with "[", so the level
// above joins it without a ".". An empty key passes on what lies below it.
struct PathLevel {
    Dictionary *Owner;
    DictionaryItem *Item;
    bool Bracket;
};

void AppendSegment(char *Work, int32 &Used, const PathLevel &Level, bool First) {
    char Index[16];
    const char *Segment;
    int32 Length;
    if (Level.Item->Key != nullptr) {
        Segment = Level.Item->Key;
        Length = Level.Item->KeyLength;
    } else {
        Length = String_Print(Index, (int32)sizeof(Index), "[%d]", DictionaryInt_IndexOf(Level.Owner, Level.Item));
        Segment = Index;
    }
    auto Put = [&](const char *Text, int32 Count) {
        const int32 Room = DictionaryPathWorkSize - 1 - Used;
        if (Count > Room) Count = Room;
        if (Count > 0) memcpy(Work + Used, Text, (size_t)Count);
        Used += Count;
    };
    if (!First && !Level.Bracket) Put(".", 1);
    Put(Segment, Length);
}

// The last ".", "[" or backslash of a path, or null.
const char *LastSeparator(const char *Path) {
    const char *Last = nullptr;
    String_FindFirstCharReverse(Path, ".[\\", &Last);
    return Last;
}

// Copies Length bytes of Text into Buffer, cut to its size.
void CopyCut(char *Buffer, int32 Size, const char *Text, size_t Length) {
    String_CopyLengthSafe(Buffer, Size, Text, Length < (size_t)INT32_MAX ? (int32)Length : INT32_MAX);
}

} // namespace

int32 DictionaryInt_FindByPath(Dictionary *Handle, const char *Path, Dictionary **Owner, DictionaryItem **Item) {
    Found Result;
    const bool Hit = Resolve(Handle, Path, 0, &Result);
    if (Owner != nullptr) *Owner = Hit ? Result.Owner : nullptr;
    if (Item != nullptr) *Item = Hit ? Result.Item : nullptr;
    return Hit;
}

int32 DictionaryInt_GetPath(Dictionary *Handle, DictionaryItem *Item, Dictionary *Stop, char *Buffer, int32 Size) {
    // Levels from the item up to the stop (or the root); shallow trees stay
    // on the stack.
    PathLevel Local[64];
    PathLevel *Levels = Local;
    int32 Capacity = 64;
    int32 Count = 0;
    auto Push = [&](Dictionary *Owner, DictionaryItem *Level) {
        if (Count == Capacity) {
            PathLevel *Grown = static_cast<PathLevel *>(Memory_Alloc((int32)sizeof(PathLevel) * Capacity * 2));
            memcpy(Grown, Levels, sizeof(PathLevel) * (size_t)Count);
            if (Levels != Local) Memory_Free(Levels, (int32)sizeof(PathLevel) * Capacity);
            Levels = Grown;
            Capacity *= 2;
        }
        bool Bracket;
        if (Level->Key == nullptr)
            Bracket = true; // "[n]"
        else if (Level->KeyLength > 0)
            Bracket = Level->Key[0] == '[';
        else
            Bracket = Count > 0 && Levels[Count - 1].Bracket;
        Levels[Count++] = {Owner, Level, Bracket};
    };
    Push(Handle, Item);
    Dictionary *Current = Handle;
    while (Current != Stop && Current->Parent != nullptr) {
        Push(Current->Parent, Current->ParentItem);
        Current = Current->Parent;
    }
    const int32 Result = Current == Stop || (Stop == nullptr && Current->Parent == nullptr);

    char Work[DictionaryPathWorkSize];
    int32 Used = 0;
    for (int32 Level = Count - 1; Level >= 0; Level--) AppendSegment(Work, Used, Levels[Level], Level == Count - 1);
    Work[Used] = 0;
    if (Levels != Local) Memory_Free(Levels, (int32)sizeof(PathLevel) * Capacity);
    CopyCut(Buffer, Size, Work, (size_t)Used);
    return Result;
}

// ---- Lookups ----

int32 Dictionary_ItemFindByPath(Dictionary *Handle, const char *Path, Dictionary **Owner, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Item);
    return DictionaryInt_FindByPath(Handle, Path, Owner, Item);
}

int32 Dictionary_ContainsPath(Dictionary *Handle, const char *Path) {
    Found Result;
    return PathItem(Handle, Path, &Result);
}

int32 Dictionary_EnsureDictionaryByPath(Dictionary *Handle, const char *Path, Dictionary **Child) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Child);
    return EnsureByPath(Handle, Path, Child);
}

// ---- By path: getters ----

int32 Dictionary_GetStringByPath(Dictionary *Handle, const char *Path, char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size >= 1) Buffer[0] = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetString(Result.Owner, Result.Item, Buffer, Size);
}

int32 Dictionary_GetStringPtrByPath(Dictionary *Handle, const char *Path, const char **Text) {
    Debug_CheckPointer(Text);
    *Text = nullptr;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetStringPtr(Result.Owner, Result.Item, Text);
}

int32 Dictionary_GetBufferPtrByPath(Dictionary *Handle, const char *Path, const char **Text, int32 *Length) {
    Debug_CheckPointer(Text);
    *Text = nullptr;
    if (Length != nullptr) *Length = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetBufferPtr(Result.Owner, Result.Item, Text, Length);
}

int32 Dictionary_GetInt32ByPath(Dictionary *Handle, const char *Path, int32 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetInt32(Result.Owner, Result.Item, Value);
}

int32 Dictionary_GetInt64ByPath(Dictionary *Handle, const char *Path, int64 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetInt64(Result.Owner, Result.Item, Value);
}

int32 Dictionary_GetFloat64ByPath(Dictionary *Handle, const char *Path, float64 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetFloat64(Result.Owner, Result.Item, Value);
}

int32 Dictionary_GetBooleanByPath(Dictionary *Handle, const char *Path, uint32 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    Found Result;
    return PathItem(Handle, Path, &Result) && Dictionary_ItemGetBoolean(Result.Owner, Result.Item, Value);
}

int32 Dictionary_GetDictionaryByPath(Dictionary *Handle, const char *Path, Dictionary **Child) {
    Debug_CheckPointer(Child);
    *Child = nullptr;
    Found Result;
    if (!PathItem(Handle, Path, &Result) || Result.Item->Child == nullptr) return FALSE;
    *Child = Result.Item->Child;
    return TRUE;
}

// ---- By path: setters ----

int32 Dictionary_SetStringByPath(Dictionary *Handle, const char *Path, const char *Text) {
    return SetByPath(Handle, Path, [Text](Dictionary *Target, const char *Key) {
        Dictionary_SetStringByKey(Target, Key, Text);
    });
}

int32 Dictionary_SetInt32ByPath(Dictionary *Handle, const char *Path, int32 Value) {
    return SetByPath(Handle, Path, [Value](Dictionary *Target, const char *Key) {
        Dictionary_SetInt32ByKey(Target, Key, Value);
    });
}

int32 Dictionary_SetInt64ByPath(Dictionary *Handle, const char *Path, int64 Value) {
    return SetByPath(Handle, Path, [Value](Dictionary *Target, const char *Key) {
        Dictionary_SetInt64ByKey(Target, Key, Value);
    });
}

int32 Dictionary_SetFloat64ByPath(Dictionary *Handle, const char *Path, float64 Value) {
    return SetByPath(Handle, Path, [Value](Dictionary *Target, const char *Key) {
        Dictionary_SetFloat64ByKey(Target, Key, Value);
    });
}

int32 Dictionary_SetBooleanByPath(Dictionary *Handle, const char *Path, uint32 Value) {
    return SetByPath(Handle, Path, [Value](Dictionary *Target, const char *Key) {
        Dictionary_SetBooleanByKey(Target, Key, Value);
    });
}

// ---- Item paths and path text ----

int32 Dictionary_ItemGetPath(Dictionary *Handle, DictionaryItem *Item, Dictionary *Stop, char *Buffer, int32 Size) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Buffer);
    if (Stop != nullptr) Dictionary_CheckHandle(Stop);
    return DictionaryInt_GetPath(Handle, Item, Stop, Buffer, Size);
}

int32 Dictionary_PathGetKey(const char *Path, char *Buffer, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Buffer);
    const char *Separator = LastSeparator(Path);
    const char *Key = Separator == nullptr ? Path : (*Separator == '[' ? Separator : Separator + 1);
    CopyCut(Buffer, Size, Key, strlen(Key));
    return TRUE;
}

int32 Dictionary_PathGetParent(const char *Path, char *Buffer, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Buffer);
    const char *Separator = LastSeparator(Path);
    if (Separator == nullptr || Separator == Path) {
        CopyCut(Buffer, Size, "", 0);
        return FALSE;
    }
    CopyCut(Buffer, Size, Path, (size_t)(Separator - Path));
    return TRUE;
}

int32 Dictionary_PathHasParent(const char *Path) {
    Debug_CheckPointer(Path);
    const char *Separator = LastSeparator(Path);
    return Separator != nullptr && Separator > Path;
}

int32 Dictionary_PathSkipRoot(const char *Path, char *Buffer, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Buffer);
    const char *Separator = strpbrk(Path, ".]\\");
    if (Separator == nullptr) {
        CopyCut(Buffer, Size, Path, strlen(Path));
        return FALSE;
    }
    while (*Separator == '.' || *Separator == ']' || *Separator == '\\') Separator++;
    CopyCut(Buffer, Size, Separator, strlen(Separator));
    return TRUE;
}
