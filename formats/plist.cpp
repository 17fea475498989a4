// Plist object: lifecycle, options, print family and the values by path.
// The conversions and files are in plist_convert.cpp.
#include "formats/plist.h"

#include <string.h>

#include <charconv>

#include "formats/plist_internal.h"
#include "runtime/documents/document_handle.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

CLASSPRINT_DEFINE(Plist, Plist, PLIST_CLASSID, "Plist", Print)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return Plist_Delete(static_cast<Plist **>(HandleAddress)); }

Dictionary *TopLevel(Plist *Handle) {
    Dictionary *Root = nullptr;
    Dictionary_SkipRoot(Handle->Dict, &Root);
    return Root;
}

// The item a path names below the top-level dict.
bool Find(Plist *Handle, const char *Path, Dictionary **Owner, DictionaryItem **Item) {
    if (Handle->Dict == nullptr) return false;
    return Dictionary_ItemFindByPath(TopLevel(Handle), Path, Owner, Item) != 0;
}

// Retypes and sets the item a path names, or adds the key to the top-level
// dict when there is none.
template <typename AddFn, typename SetFn>
int32 SetByPath(Plist *Handle, const char *Path, int32 Type, AddFn Add, SetFn Set) {
    if (Handle->Dict == nullptr) return FALSE;
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    if (!Find(Handle, Path, &Owner, &Item)) return Add(TopLevel(Handle));
    Dictionary_ItemSetType(Owner, Item, Type);
    return Set(Owner, Item);
}

} // namespace

CLASS_DEFINE_REFERENCE(Plist, Plist, PLIST_CLASSID)

int32 Plist_Create(Plist **Handle) {
    Debug_CheckPointer(Handle);
    return document_handle::Create(Handle, PLIST_CLASSID, DeleteThroughClass, [](Plist *) {});
}

int32 Plist_Delete(Plist **Handle) {
    Debug_CheckPointer(Handle);
    Plist_Check(*Handle);
    return document_handle::Delete(Handle, [](Plist *) {});
}

int32 Plist_SetDictionaryHandle(Plist *Handle, Dictionary *Dict) {
    Plist_Check(Handle);
    return document_handle::SetDictionary(Handle, Dict);
}

int32 Plist_GetDictionaryHandle(Plist *Handle, Dictionary **Dict) {
    Plist_Check(Handle);
    return document_handle::GetDictionary(Handle, Dict);
}

int32 Plist_SetMinify(Plist *Handle, int32 Minify) {
    Plist_Check(Handle);
    return document_handle::SetMinify(Handle, Minify);
}

int32 Plist_GetMinify(Plist *Handle, int32 *Minify) {
    Plist_Check(Handle);
    return document_handle::GetMinify(Handle, Minify);
}

int32 Plist_Reset(Plist *Handle) {
    Plist_Check(Handle);
    if (Handle->Dict != nullptr) Dictionary_Reset(Handle->Dict);
    return TRUE;
}

int32 Plist_VerboseLog(Plist *Handle, int32 Level, const char *Format, ...) {
    Plist_Check(Handle);
    if (!Plist_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Plist_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

// ---- Values ----

int32 Plist_HasKey(Plist *Handle, const char *Path) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    return Find(Handle, Path, &Owner, &Item);
}

int32 Plist_GetValue(Plist *Handle, const char *Path, char *Output, int32 Size) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    if (!Find(Handle, Path, &Owner, &Item)) return FALSE;
    uint32 Flag = 0;
    if (Dictionary_ItemGetBoolean(Owner, Item, &Flag)) {
        String_CopyLength(Output, Flag ? "true" : "false", Size);
        return TRUE;
    }
    const char *Text = nullptr;
    int32 Length = 0;
    if (Dictionary_ItemGetBufferPtr(Owner, Item, &Text, &Length) && Text != nullptr && Size > 0)
        String_CopyLengthSafe(Output, Size, Text, Length);
    return TRUE;
}

int32 Plist_GetValueBoolean(Plist *Handle, const char *Path, uint32 *Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Value);
    *Value = 0;
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    return Find(Handle, Path, &Owner, &Item) && Dictionary_ItemGetBoolean(Owner, Item, Value);
}

int32 Plist_GetValueInt64(Plist *Handle, const char *Path, int64 *Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Value);
    *Value = 0;
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    return Find(Handle, Path, &Owner, &Item) && Dictionary_ItemGetInt64(Owner, Item, Value);
}

int32 Plist_GetValueFloat64(Plist *Handle, const char *Path, float64 *Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Value);
    *Value = 0;
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    return Find(Handle, Path, &Owner, &Item) && Dictionary_ItemGetFloat64(Owner, Item, Value);
}

int32 Plist_SetValue(Plist *Handle, const char *Path, const char *Text) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Text);
    return SetByPath(Handle, Path, DICTIONARY_TYPE_STRING,
        [&](Dictionary *Top) { return Dictionary_SetStringByKey(Top, Path, Text); },
        [&](Dictionary *Owner, DictionaryItem *Item) { return Dictionary_ItemSetString(Owner, Item, Text); });
}

int32 Plist_SetValueBoolean(Plist *Handle, const char *Path, uint32 Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    return SetByPath(Handle, Path, DICTIONARY_TYPE_BOOLEAN,
        [&](Dictionary *Top) { return Dictionary_SetBooleanByKey(Top, Path, Value); },
        [&](Dictionary *Owner, DictionaryItem *Item) { return Dictionary_ItemSetBoolean(Owner, Item, Value); });
}

int32 Plist_SetValueInt64(Plist *Handle, const char *Path, int64 Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    return SetByPath(Handle, Path, DICTIONARY_TYPE_INT64,
        [&](Dictionary *Top) { return Dictionary_SetInt64ByKey(Top, Path, Value); },
        [&](Dictionary *Owner, DictionaryItem *Item) { return Dictionary_ItemSetInt64(Owner, Item, Value); });
}

int32 Plist_SetValueFloat64(Plist *Handle, const char *Path, float64 Value) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    if (Handle->Dict == nullptr) return FALSE;
    if (!Find(Handle, Path, &Owner, &Item)) {
        Owner = TopLevel(Handle);
        if (!Dictionary_EnsureKey(Owner, Path, &Item)) return FALSE;
    }
    // The Dictionary's own setter keeps six digits; the shortest exact text
    // keeps the value.
    Dictionary_ItemSetType(Owner, Item, DICTIONARY_TYPE_FLOAT64);
    return PlistInternal_SetReal(Owner, Item, Value);
}

int32 PlistInternal_SetReal(Dictionary *Owner, DictionaryItem *Item, float64 Value) {
    char Text[64];
    const auto Printed = std::to_chars(Text, Text + sizeof(Text), Value);
    return Dictionary_ItemSetBuffer(Owner, Item, Text, (int32)(Printed.ptr - Text));
}
