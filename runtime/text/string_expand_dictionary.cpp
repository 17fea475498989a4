// Expansion of the String items of a Dictionary tree, in place.
#include <string.h>

#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/text/string_expand.h"

namespace {

void ExpandItem(Dictionary *Handle, DictionaryItem *Item, void *User, String_ExpandFunc Callback, uint32 Flags) {
    const char *Text = nullptr;
    int32 Length = 0;
    if (!Dictionary_ItemGetBufferPtr(Handle, Item, &Text, &Length) || Text == nullptr) return;
    // Bytes past a NUL or past the working buffer would be lost.
    if (Length >= STRING_EXPAND_WORK_SIZE || strlen(Text) != (size_t)Length) return;
    if (memchr(Text, '{', (size_t)Length) == nullptr) return;
    // Transient work of this call only, as large as the expansion's own: a
    // value that fills it may have been cut there, and the item keeps its
    // text rather than take a shortened one.
    std::vector<char> Buffer(STRING_EXPAND_WORK_SIZE);
    memcpy(Buffer.data(), Text, (size_t)Length + 1);
    if (!String_ExpandEx(Buffer.data(), (int32)Buffer.size(), User, Callback, Flags, nullptr, 0)) return;
    const size_t Expanded = strlen(Buffer.data());
    if (Expanded >= Buffer.size() - 1) return;
    Dictionary_ItemSetBuffer(Handle, Item, Buffer.data(), (int32)Expanded);
}

} // namespace

int32 String_ExpandDictionary(Dictionary *Handle, void *User, String_ExpandFunc Callback) {
    return String_ExpandDictionaryEx(Handle, User, Callback, 0);
}

int32 String_ExpandDictionaryEx(Dictionary *Handle, void *User, String_ExpandFunc Callback, uint32 Flags) {
    DictionaryItem *Item = nullptr;
    for (int32 Found = Dictionary_ItemGetFirst(Handle, &Item); Found;) {
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        Dictionary_ItemGetType(Handle, Item, &Type);
        Dictionary *Child = nullptr;
        if (Type == DICTIONARY_TYPE_STRING) ExpandItem(Handle, Item, User, Callback, Flags);
        else if (Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child))
            String_ExpandDictionaryEx(Child, User, Callback, Flags);
        DictionaryItem *Next = nullptr;
        Found = Dictionary_ItemGetNext(Handle, Item, &Next);
        Item = Next;
    }
    return TRUE;
}
