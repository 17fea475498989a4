// Test helper: a canonical text of a parsed tree that a Python script can
// produce from the same document, so the two compare as strings. S<hex>
// strings, T, F, Z (Null), [a,b,] lists, {K<hex>=value,} maps, "?" for any
// other type; numbers as the caller writes them, since each format keeps
// them its own way. The items of a root are separated by "|".
#pragma once

#include <string.h>

#include <functional>
#include <string>

#include "runtime/containers/dictionary.h"
#include "tests/support/python.h"

// The text of a number item (Type is DICTIONARY_TYPE_INT64 or _FLOAT64).
using CanonNumber = std::function<std::string(Dictionary *Container, DictionaryItem *Item, int32 Type)>;

// "N" and the number as the document wrote it.
inline std::string CanonNumberText(Dictionary *Container, DictionaryItem *Item, int32) {
    const char *Text = nullptr;
    int32 Length = 0;
    Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length);
    return "N" + std::string(Text ? Text : "", Text ? (size_t)Length : 0);
}

inline void CanonAppend(Dictionary *Container, DictionaryItem *Item, std::string &Out, const CanonNumber &Number) {
    int32 Type = 0;
    Dictionary_ItemGetType(Container, Item, &Type);
    switch (Type) {
        case DICTIONARY_TYPE_STRING: {
            const char *Text = nullptr;
            int32 Length = 0;
            Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length);
            Out += "S" + ToHex(std::string(Text ? Text : "", Text ? (size_t)Length : 0));
            break;
        }
        case DICTIONARY_TYPE_FLOAT64:
        case DICTIONARY_TYPE_INT64: Out += Number(Container, Item, Type); break;
        case DICTIONARY_TYPE_BOOLEAN: {
            uint32 Flag = 0;
            Dictionary_ItemGetBoolean(Container, Item, &Flag);
            Out += Flag ? "T" : "F";
            break;
        }
        case DICTIONARY_TYPE_NULL: Out += "Z"; break;
        case DICTIONARY_TYPE_LIST:
        case DICTIONARY_TYPE_DICTIONARY: {
            const bool IsList = Type == DICTIONARY_TYPE_LIST;
            Out += IsList ? "[" : "{";
            Dictionary *Child = nullptr;
            Dictionary_ItemGetDictionaryHandle(Container, Item, &Child);
            DictionaryItem *Member = nullptr;
            for (int32 Have = Dictionary_ItemGetFirst(Child, &Member); Have;
                 Have = Dictionary_ItemGetNext(Child, Member, &Member)) {
                if (!IsList) {
                    const char *Key = nullptr;
                    Dictionary_ItemGetKeyPtr(Child, Member, &Key);
                    Out += "K" + ToHex(Key ? Key : "") + "=";
                }
                CanonAppend(Child, Member, Out, Number);
                Out += ",";
            }
            Out += IsList ? "]" : "}";
            break;
        }
        default: Out += "?"; break;
    }
}

inline std::string CanonText(Dictionary *Root, const CanonNumber &Number = CanonNumberText) {
    std::string Out;
    DictionaryItem *Item = nullptr;
    for (int32 Have = Dictionary_ItemGetFirst(Root, &Item); Have; Have = Dictionary_ItemGetNext(Root, Item, &Item)) {
        if (!Out.empty()) Out += "|";
        CanonAppend(Root, Item, Out, Number);
    }
    return Out;
}
