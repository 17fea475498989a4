// Dictionary paths on arbitrary text: lookups, the by-path getters and
// setters, Ensure by path and the path-text operations run against a small
// tree with lists, repeated keys and scalars. Nothing may read or write out
// of bounds, and an item found by a path must be found again through the
// path Dictionary_ItemGetPath gives for it (the tree's own keys contain no
// separators).
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

int32 Quiet(void *, const char *, ...) { return 1; }

void BuildTree(Dictionary *Root) {
    Dictionary_SetPrintCallback(Root, nullptr, Quiet);
    Dictionary_SetStringByPath(Root, "config.name", "value");
    Dictionary_SetInt64ByPath(Root, "config.count", 42);
    Dictionary_SetFloat64ByPath(Root, "config.rate", 1.7e12);
    Dictionary_SetBooleanByPath(Root, "config.on", 1);
    Dictionary *Items = nullptr;
    Dictionary_EnsureList(Root, "items", nullptr, &Items);
    for (int32 Index = 0; Index < 3; Index++) {
        Dictionary *Member = nullptr;
        Dictionary_AddDictionary(Items, nullptr, &Member, nullptr);
        Dictionary_AddInt64(Member, "id", 7 + Index, nullptr);
        Dictionary_AddString(Member, "title", "t", nullptr);
        Dictionary *Nested = nullptr;
        Dictionary_AddList(Member, "tags", &Nested, nullptr);
        Dictionary_AddString(Nested, nullptr, "x", nullptr);
        Dictionary_AddNull(Nested, nullptr, nullptr);
    }
    Dictionary_AddDictionary(Root, "server", nullptr, nullptr);
    Dictionary *Second = nullptr;
    Dictionary_AddDictionary(Root, "server", &Second, nullptr);
    Dictionary_AddString(Second, "host", "h", nullptr);
    Dictionary_AddString(Root, "scalar", "s", nullptr);
    Dictionary_AddString(Root, "#private", "p", nullptr);
}

// Keys that a path can name again: no separator, no private mark, not empty.
bool CleanKey(const char *Key) {
    return Key == nullptr || (Key[0] != 0 && Key[0] != '#' && Key[0] != '.' && strpbrk(Key, ".\\[]") == nullptr);
}

bool CleanPath(Dictionary *Owner, DictionaryItem *Item) {
    for (;;) {
        const char *Key = nullptr;
        Dictionary_ItemGetKeyPtr(Owner, Item, &Key);
        if (!CleanKey(Key)) return false;
        Dictionary *Parent = nullptr;
        DictionaryItem *ParentItem = nullptr;
        if (!Dictionary_GetParent(Owner, &Parent, &ParentItem)) return true;
        Owner = Parent;
        Item = ParentItem;
    }
}

// Every item whose path has only clean keys resolves through that path (to
// it, or to an earlier holder of a repeated key).
void CheckRoundTrips(Dictionary *Root, Dictionary *Handle, int32 Depth) {
    if (Depth > 64) return;
    DictionaryItem *Item = nullptr;
    for (int32 More = Dictionary_ItemGetFirst(Handle, &Item); More; More = Dictionary_ItemGetNext(Handle, Item, &Item)) {
        char Path[4096];
        if (CleanPath(Handle, Item) && Dictionary_ItemGetPath(Handle, Item, nullptr, Path, (int32)sizeof(Path)) &&
            strlen(Path) < 4000) {
            DictionaryItem *Found = nullptr;
            if (!Dictionary_ItemFindByPath(Root, Path, nullptr, &Found)) __builtin_trap();
        }
        Dictionary *Child = nullptr;
        if (Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child)) CheckRoundTrips(Root, Child, Depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-dictionary.log", nullptr, 0) != 0;
    (void)Started;
    if (Size == 0) return 0;
    const uint8_t Mode = Data[0];
    std::string Text(reinterpret_cast<const char *>(Data + 1), Size - 1);
    std::vector<std::string> Paths;
    size_t Start = 0;
    for (size_t Newline; (Newline = Text.find('\n', Start)) != std::string::npos && Paths.size() < 3;
         Start = Newline + 1)
        Paths.push_back(Text.substr(Start, Newline - Start));
    Paths.push_back(Text.substr(Start));

    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    Dictionary_SetCaseSensitive(Root, (Mode & 1) ? 1 : 0);
    BuildTree(Root);

    for (const std::string &Owned : Paths) {
        const char *Path = Owned.c_str();
        Dictionary *Owner = nullptr;
        DictionaryItem *Item = nullptr;
        if (Dictionary_ItemFindByPath(Root, Path, &Owner, &Item) && CleanPath(Owner, Item)) {
            char Back[4096];
            Dictionary_ItemGetPath(Owner, Item, nullptr, Back, (int32)sizeof(Back));
            DictionaryItem *Found = nullptr;
            if (strlen(Back) < 4000 && !Dictionary_ItemFindByPath(Root, Back, nullptr, &Found)) __builtin_trap();
        }
        char Buffer[16];
        const char *Pointer = nullptr;
        int32 Length = 0;
        int32 Narrow = 0;
        int64 Wide = 0;
        float64 Real = 0;
        uint32 Flag = 0;
        Dictionary *Child = nullptr;
        Dictionary_GetStringByPath(Root, Path, Buffer, (int32)sizeof(Buffer));
        Dictionary_GetBufferPtrByPath(Root, Path, &Pointer, &Length);
        if (Pointer != nullptr && Length > 0 && memchr(Pointer, 0, (size_t)Length + 1) == nullptr) __builtin_trap();
        Dictionary_GetInt32ByPath(Root, Path, &Narrow);
        Dictionary_GetInt64ByPath(Root, Path, &Wide);
        Dictionary_GetFloat64ByPath(Root, Path, &Real);
        Dictionary_GetBooleanByPath(Root, Path, &Flag);
        Dictionary_GetDictionaryByPath(Root, Path, &Child);
        Dictionary_ContainsPath(Root, Path);
        Dictionary_ItemFindByKey(Root, Path, nullptr, &Item);

        char Small[8];
        Dictionary_PathGetKey(Path, Small, (int32)sizeof(Small));
        Dictionary_PathGetParent(Path, Small, (int32)sizeof(Small));
        Dictionary_PathSkipRoot(Path, Small, (int32)sizeof(Small));
        Dictionary_PathHasParent(Path);

        switch (Mode >> 1 & 7) {
        case 0: Dictionary_SetStringByPath(Root, Path, "set"); break;
        case 1: Dictionary_SetInt32ByPath(Root, Path, 5); break;
        case 2: Dictionary_SetInt64ByPath(Root, Path, -5); break;
        case 3: Dictionary_SetFloat64ByPath(Root, Path, 0.5); break;
        case 4: Dictionary_SetBooleanByPath(Root, Path, 1); break;
        case 5: Dictionary_EnsureDictionaryByPath(Root, Path, &Child); break;
        case 6: Dictionary_RemoveByKey(Root, Path); break;
        default: Dictionary_SetStringByKey(Root, Path, Path); break;
        }
        if (Dictionary_ItemFindByPath(Root, Path, &Owner, &Item)) Dictionary_Remove(Owner, &Item);
    }
    CheckRoundTrips(Root, Root, 0);
    Dictionary_Release(&Root);
    return 0;
}
