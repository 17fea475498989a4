// Test helper: a compact text of a Dictionary tree, so that tests compare a
// whole tree with one expectation. A Dictionary's items print as
// {key:value,...}, a List's as [value,...]; keyless items print the value
// alone; Null, Boolean and numbers print their text form, Unknown as "?".
#pragma once

#include <string>

#include "runtime/containers/dictionary.h"

inline std::string RenderDictionary(Dictionary *Handle, bool AsList = false) {
    std::string Text = AsList ? "[" : "{";
    DictionaryItem *Item = nullptr;
    bool First = true;
    for (int32 More = Dictionary_ItemGetFirst(Handle, &Item); More; More = Dictionary_ItemGetNext(Handle, Item, &Item)) {
        if (!First) Text += ",";
        First = false;
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(Handle, Item, &Key)) Text += std::string(Key) + ":";
        int32 Type = 0;
        Dictionary_ItemGetType(Handle, Item, &Type);
        Dictionary *Child = nullptr;
        if (Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child)) {
            Text += RenderDictionary(Child, Type == DICTIONARY_TYPE_LIST);
            continue;
        }
        const char *Value = nullptr;
        int32 Length = 0;
        if (Dictionary_ItemGetBufferPtr(Handle, Item, &Value, &Length))
            Text += std::string(Value, (size_t)Length);
        else
            Text += "?";
    }
    return Text + (AsList ? "]" : "}");
}
