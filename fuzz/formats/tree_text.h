// A text of a whole Dictionary tree for the format fuzz targets, to compare
// two loads of the same bytes: each item's key, its type as a digit, then
// its members in braces, T or F for a Boolean, or its bytes; items end with
// 0x1f.
#pragma once

#include <string>

#include "runtime/containers/dictionary.h"

inline void TreeText(Dictionary *Container, std::string &Out) {
    DictionaryItem *Item = nullptr;
    for (int32 Have = Dictionary_ItemGetFirst(Container, &Item); Have;
         Have = Dictionary_ItemGetNext(Container, Item, &Item)) {
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(Container, Item, &Key)) Out += Key;
        int32 Type = 0;
        Dictionary_ItemGetType(Container, Item, &Type);
        Out += (char)('0' + Type);
        const char *Text = nullptr;
        int32 Length = 0;
        uint32 Flag = 0;
        Dictionary *Child = nullptr;
        if (Dictionary_ItemGetDictionaryHandle(Container, Item, &Child)) {
            Out += '{';
            TreeText(Child, Out);
            Out += '}';
        } else if (Dictionary_ItemGetBoolean(Container, Item, &Flag)) {
            Out += Flag ? 'T' : 'F';
        } else if (Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length) && Text != nullptr) {
            Out.append(Text, (size_t)Length);
        }
        Out += '\x1f';
    }
}
