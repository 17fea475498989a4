// Property lists: conversion between the XML mapping and typed Dictionary
// items, and the files.
//
// The XML object reads with blanks kept, so strings come back exactly as
// written (other tools write "<string> a </string>" for " a "); the blank
// text between elements is passed over here. An empty element is the empty
// text. Integers must be whole decimal numbers within 64 bits and reals
// numbers a double holds; anything else fails the conversion instead of
// turning into 0.
#include <string.h>

#include <charconv>
#include <string>
#include <string_view>

#include "formats/plist.h"
#include "formats/plist_internal.h"
#include "formats/xml.h"
#include "formats/xml_internal.h"
#include "runtime/files/file.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"

namespace {

// The standard identifiers of the property-list 1.0 DOCTYPE, quoted.
constexpr const char *DocTypePublic = "\"-//Apple//DTD PLIST 1.0//EN\"";
constexpr const char *DocTypeSystem = "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"";
// The first bytes of the binary form.
constexpr char BinarySignature[] = "bplist";

bool IsBlankText(std::string_view Text) {
    for (const char Character : Text)
        if (Character != ' ' && Character != '\t' && Character != '\n' && Character != '\r') return false;
    return true;
}

std::string_view Trimmed(std::string_view Text) {
    while (!Text.empty() && IsBlankText(Text.substr(0, 1))) Text.remove_prefix(1);
    while (!Text.empty() && IsBlankText(Text.substr(Text.size() - 1))) Text.remove_suffix(1);
    return Text;
}

// The text of a value element: a String item, or an element that holds no
// other element (attributes and an empty body allowed).
bool ElementText(Dictionary *Xml, DictionaryItem *Item, std::string_view *Text) {
    const char *Bytes = nullptr;
    int32 Length = 0;
    if (Dictionary_ItemCompareType(Xml, Item, DICTIONARY_TYPE_STRING)) {
        Dictionary_ItemGetBufferPtr(Xml, Item, &Bytes, &Length);
        *Text = Bytes != nullptr ? std::string_view(Bytes, (size_t)Length) : std::string_view();
        return true;
    }
    Dictionary *Element = nullptr;
    if (!Dictionary_ItemCompareType(Xml, Item, DICTIONARY_TYPE_DICTIONARY) ||
        !Dictionary_ItemGetDictionaryHandle(Xml, Item, &Element))
        return false;
    *Text = std::string_view();
    bool Found = false;
    DictionaryItem *Member = nullptr;
    for (int32 Have = Dictionary_ItemGetFirst(Element, &Member); Have;
         Have = Dictionary_ItemGetNext(Element, Member, &Member)) {
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(Element, Member, &Key) && Key[0] == '-') continue;
        if (Found || Key == nullptr || strcmp(Key, "#text") != 0) return false;
        Dictionary_ItemGetBufferPtr(Element, Member, &Bytes, &Length);
        if (Bytes != nullptr) *Text = std::string_view(Bytes, (size_t)Length);
        Found = true;
    }
    return true;
}

bool ParseInteger(std::string_view Text, int64 *Value) {
    Text = Trimmed(Text);
    if (!Text.empty() && Text[0] == '+') Text.remove_prefix(1);
    if (Text.empty() || Text[0] == '+') return false;
    const auto Parsed = std::from_chars(Text.data(), Text.data() + Text.size(), *Value);
    return Parsed.ec == std::errc() && Parsed.ptr == Text.data() + Text.size();
}

bool ParseReal(std::string_view Text, float64 *Value) {
    Text = Trimmed(Text);
    if (!Text.empty() && Text[0] == '+') Text.remove_prefix(1);
    if (Text.empty() || Text[0] == '+') return false;
    const auto Parsed = std::from_chars(Text.data(), Text.data() + Text.size(), *Value);
    return Parsed.ec == std::errc() && Parsed.ptr == Text.data() + Text.size();
}

class Reader {
  public:
    explicit Reader(Plist *Handle) : P(Handle) {}

    // The content of an element (Xml) into Destination; array members have
    // no keys, so a key element inside an array is passed over.
    bool Content(Dictionary *Xml, Dictionary *Destination, bool InArray = false) {
        std::string Key;
        bool HaveKey = false;
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Xml, &Item); Have; Have = Dictionary_ItemGetNext(Xml, Item, &Item)) {
            const char *Name = nullptr;
            Dictionary_ItemGetKeyPtr(Xml, Item, &Name);
            if (Name != nullptr && (Name[0] == '!' || Name[0] == '-' || Name[0] == '?')) continue;
            if (Name != nullptr && strcmp(Name, "#text") == 0) continue;  // blanks between elements
            if (Name != nullptr && strcmp(Name, "key") == 0) {
                std::string_view Text;
                if (!ElementText(Xml, Item, &Text)) return false;
                // A Dictionary keeps keys of at most DICTIONARY_MAX_KEY_LENGTH
                // bytes without a NUL: one that does not fit fails the load,
                // since cutting it would make two keys one.
                if (!InArray && Text.find('\0') != std::string_view::npos) {
                    Plist_Print(P, "Key holds a NUL");
                    return false;
                }
                if (!InArray && Text.size() > DICTIONARY_MAX_KEY_LENGTH) {
                    Plist_Print(P, "Key of %d bytes exceeds the %d-byte key limit", (int32)Text.size(),
                                DICTIONARY_MAX_KEY_LENGTH);
                    return false;
                }
                Key.assign(Text);
                HaveKey = !InArray;
                continue;
            }
            if (!Value(Xml, Item, Name != nullptr ? Name : "", Destination, HaveKey ? Key.c_str() : nullptr))
                return false;
            HaveKey = false;
        }
        return true;
    }

  private:
    Plist *P;

    bool Value(Dictionary *Xml, DictionaryItem *Element, const char *Name, Dictionary *Destination,
               const char *Key) {
        enum { String, True, False, Integer, Real, Array, Dict } Kind;
        if (String_CompareWithoutCase(Name, "string")) Kind = String;
        else if (String_CompareWithoutCase(Name, "true")) Kind = True;
        else if (String_CompareWithoutCase(Name, "false")) Kind = False;
        else if (String_CompareWithoutCase(Name, "integer")) Kind = Integer;
        else if (String_CompareWithoutCase(Name, "real")) Kind = Real;
        else if (String_CompareWithoutCase(Name, "array")) Kind = Array;
        else if (String_CompareWithoutCase(Name, "dict")) Kind = Dict;
        else {
            Plist_Print(P, "Unsupported data type encountered [%s]", Name);
            return false;
        }
        DictionaryItem *Item = nullptr;
        Dictionary_Add(Destination, Key, &Item);
        std::string_view Text;
        switch (Kind) {
            case String:
                if (!ElementText(Xml, Element, &Text)) return false;
                Dictionary_ItemSetType(Destination, Item, DICTIONARY_TYPE_STRING);
                Dictionary_ItemSetBuffer(Destination, Item, Text.data(), (int32)Text.size());
                return true;
            case True:
            case False:
                Dictionary_ItemSetType(Destination, Item, DICTIONARY_TYPE_BOOLEAN);
                Dictionary_ItemSetBoolean(Destination, Item, Kind == True);
                return true;
            case Integer: {
                int64 Number = 0;
                if (!ElementText(Xml, Element, &Text) || !ParseInteger(Text, &Number)) return false;
                Dictionary_ItemSetType(Destination, Item, DICTIONARY_TYPE_INT64);
                Dictionary_ItemSetInt64(Destination, Item, Number);
                return true;
            }
            case Real: {
                float64 Number = 0;
                if (!ElementText(Xml, Element, &Text) || !ParseReal(Text, &Number)) return false;
                Dictionary_ItemSetType(Destination, Item, DICTIONARY_TYPE_FLOAT64);
                PlistInternal_SetReal(Destination, Item, Number);
                return true;
            }
            default: {
                Dictionary_ItemSetType(Destination, Item, Kind == Array ? DICTIONARY_TYPE_LIST : DICTIONARY_TYPE_DICTIONARY);
                Dictionary *Child = nullptr;
                Dictionary_ItemGetDictionaryHandle(Destination, Item, &Child);
                // An element holding only blanks collapsed into a String.
                if (Dictionary_ItemCompareType(Xml, Element, DICTIONARY_TYPE_STRING)) {
                    ElementText(Xml, Element, &Text);
                    return IsBlankText(Text);
                }
                Dictionary *Inner = nullptr;
                if (!Dictionary_ItemGetDictionaryHandle(Xml, Element, &Inner)) return false;
                return Content(Inner, Child, Kind == Array);
            }
        }
    }
};

class Writer {
  public:
    explicit Writer(Plist *Handle) : P(Handle) {}

    bool Members(Dictionary *Source, Dictionary *Xml, bool InList) {
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Source, &Item); Have;
             Have = Dictionary_ItemGetNext(Source, Item, &Item)) {
            const char *Key = nullptr;
            if (!InList && Dictionary_ItemGetKeyPtr(Source, Item, &Key)) XML_AddStringElement(Xml, "key", Key, nullptr);
            if (!Member(Source, Item, Xml)) return false;
        }
        return true;
    }

  private:
    Plist *P;

    bool Member(Dictionary *Source, DictionaryItem *Item, Dictionary *Xml) {
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        Dictionary_ItemGetType(Source, Item, &Type);
        Dictionary *Child = nullptr;
        Dictionary *Element = nullptr;
        switch (Type) {
            case DICTIONARY_TYPE_BOOLEAN: {
                uint32 Flag = 0;
                Dictionary_ItemGetBoolean(Source, Item, &Flag);
                return XML_AddElement(Xml, Flag ? "true" : "false", nullptr, nullptr);
            }
            case DICTIONARY_TYPE_INT64: {
                int64 Number = 0;
                Dictionary_ItemGetInt64(Source, Item, &Number);
                char Text[32];
                String_Print(Text, (int32)sizeof(Text), "%lld", (long long)Number);
                return XML_AddStringElement(Xml, "integer", Text, nullptr);
            }
            case DICTIONARY_TYPE_FLOAT64: {
                float64 Number = 0;
                Dictionary_ItemGetFloat64(Source, Item, &Number);
                char Text[64];
                const auto Printed = std::to_chars(Text, Text + sizeof(Text) - 1, Number);
                *Printed.ptr = 0;
                return XML_AddStringElement(Xml, "real", Text, nullptr);
            }
            case DICTIONARY_TYPE_STRING: {
                const char *Text = nullptr;
                int32 Length = 0;
                Dictionary_ItemGetBufferPtr(Source, Item, &Text, &Length);
                DictionaryItem *Added = nullptr;
                Dictionary_Add(Xml, "string", &Added);
                Dictionary_ItemSetType(Xml, Added, DICTIONARY_TYPE_STRING);
                return Dictionary_ItemSetBuffer(Xml, Added, Text != nullptr ? Text : "", Text != nullptr ? Length : 0);
            }
            case DICTIONARY_TYPE_LIST:
            case DICTIONARY_TYPE_DICTIONARY: {
                const bool IsList = Type == DICTIONARY_TYPE_LIST;
                Dictionary_ItemGetDictionaryHandle(Source, Item, &Child);
                XML_AddElement(Xml, IsList ? "array" : "dict", &Element, nullptr);
                return Members(Child, Element, IsList);
            }
            default: Plist_Print(P, "Unsupported data type encountered [%d]", Type); return false;
        }
    }
};

// A new Dictionary for an XML document: "#text" must stay a key.
Dictionary *NewDocument() {
    Dictionary *Doc = nullptr;
    Dictionary_Create(&Doc);
    Dictionary_SetPrivateKeys(Doc, FALSE);
    return Doc;
}

// The attached Dictionary's top-level value: a single keyless List is
// written as an array, anything else as the members of a dict.
bool BuildDocument(Plist *Handle, Dictionary *Doc) {
    XML_EnsureRoot(Doc, "1.0", "UTF-8", nullptr);
    XML_EnsureDocType(Doc, "plist", "PUBLIC", DocTypePublic, DocTypeSystem, nullptr);
    Dictionary *Element = nullptr;
    XML_AddElement(Doc, "plist", &Element, nullptr);
    XML_AddAttribute(Element, "version", "1.0", nullptr);
    Dictionary *Top = nullptr;
    DictionaryItem *Only = nullptr;
    int32 Count = 0;
    const char *Key = nullptr;
    Dictionary_ItemGetCount(Handle->Dict, &Count);
    if (Count == 1 && Dictionary_ItemGetFirst(Handle->Dict, &Only) &&
        !Dictionary_ItemGetKeyPtr(Handle->Dict, Only, &Key) &&
        Dictionary_ItemCompareType(Handle->Dict, Only, DICTIONARY_TYPE_LIST)) {
        Dictionary *List = nullptr;
        Dictionary_ItemGetDictionaryHandle(Handle->Dict, Only, &List);
        XML_AddElement(Element, "array", &Top, nullptr);
        return Writer(Handle).Members(List, Top, true);
    }
    Dictionary *Root = nullptr;
    Dictionary_SkipRoot(Handle->Dict, &Root);
    XML_AddElement(Element, "dict", &Top, nullptr);
    return Plist_SaveDictionary(Handle, Root, Top) != 0;
}

int32 ForwardToPlist(void *User, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Plist_VPrint(static_cast<Plist *>(User), 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

// The loaded Dictionary's dump, through the object's own print routine.
void DumpThroughPlist(Plist *Handle) {
    void *User = nullptr;
    ClassPrint_Func Function = nullptr;
    Dictionary_GetPrintCallback(Handle->Dict, &User, &Function);
    Dictionary_SetPrintCallback(Handle->Dict, Handle, ForwardToPlist);
    Dictionary_Dump(Handle->Dict);
    Dictionary_SetPrintCallback(Handle->Dict, User, Function);
}

} // namespace

int32 Plist_LoadDictionary(Plist *Handle, Dictionary *XmlDict, Dictionary *Destination) {
    Plist_Check(Handle);
    // Keys are the file's own: with private keys on, "#a" and ".a" would
    // lose their first character.
    Dictionary_SetPrivateKeys(Destination, FALSE);
    if (Reader(Handle).Content(XmlDict, Destination)) return TRUE;
    Plist_Print(Handle, "Error while trying to parse plist");
    return FALSE;
}

int32 Plist_SaveDictionary(Plist *Handle, Dictionary *Source, Dictionary *XmlDict) {
    Plist_Check(Handle);
    return Writer(Handle).Members(Source, XmlDict, false);
}

int32 Plist_Load(Plist *Handle, const char *Path) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    if (Handle->Dict == nullptr) return FALSE;
    File *Input = nullptr;
    File_Create(&Input);
    if (!File_Open(Input, Path, FILE_READ | FILE_SHAREREAD)) {
        Plist_Print(Handle, "Unable to open file (%s)", Path);
        File_Delete(&Input);
        return FALSE;
    }
    if (int64 Length = 0; Handle->ReadLimit > 0 && (!File_Length(Input, &Length) || Length > Handle->ReadLimit)) {
        Plist_Print(Handle, "Property list refused: %s is %lld bytes, past the limit of %lld bytes", Path,
                    (long long)Length, (long long)Handle->ReadLimit);
        File_Delete(&Input);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Input, &Stream);
    // A binary list may hold "<plist>" among its bytes; its signature decides.
    char Signature[sizeof(BinarySignature) - 1] = {};
    uint32 Count = 0;
    Stream_Read(Stream, Signature, (uint32)sizeof(Signature), &Count);
    const bool Binary = Count == sizeof(Signature) && memcmp(Signature, BinarySignature, sizeof(Signature)) == 0;
    Dictionary *Doc = NewDocument();
    XML *Xml = nullptr;
    XML_Create(&Xml);
    XmlInternal_SetKeepBlanks(Xml, TRUE);
    XML_SetDictionaryHandle(Xml, Doc);
    int32 Result = !Binary && Stream_Seek(Stream, 0, STREAM_SEEK_SET) && XML_LoadStream(Xml, Stream);
    File_Close(Input);
    File_Delete(&Input);
    DictionaryItem *Element = nullptr;
    if (Binary || (Result && !Dictionary_ItemFindByKey(Doc, "plist", nullptr, &Element))) {
        Plist_Print(Handle, "Failed to find plist doctype [%s]", Path);
        Result = FALSE;
    } else if (Result) {
        Dictionary *Content = nullptr;
        if (Dictionary_ItemGetDictionaryHandle(Doc, Element, &Content)) {
            Result = Plist_LoadDictionary(Handle, Content, Handle->Dict);
        } else {
            // "<plist>text</plist>": content that is no value.
            std::string_view Text;
            Result = ElementText(Doc, Element, &Text) && IsBlankText(Text);
            if (!Result) Plist_Print(Handle, "Error while trying to parse plist");
        }
        if (Plist_IsVerboseLevel(Handle, 1)) DumpThroughPlist(Handle);
    }
    XML_Release(&Xml);
    Dictionary_Release(&Doc);
    return Result;
}

int32 Plist_Save(Plist *Handle, const char *Path) {
    Plist_Check(Handle);
    Debug_CheckPointer(Path);
    if (Handle->Dict == nullptr) return FALSE;
    Dictionary *Doc = NewDocument();
    int32 Result = BuildDocument(Handle, Doc);
    if (Result) {
        XML *Xml = nullptr;
        XML_Create(&Xml);
        XML_SetMinify(Xml, Handle->Minify);
        XML_SetDictionaryHandle(Xml, Doc);
        Result = XML_SaveFile(Xml, Path);
        XML_Release(&Xml);
    }
    Dictionary_Release(&Doc);
    return Result;
}

int32 Plist_SetReadLimit(Plist *Handle, int64 Bytes) {
    Plist_Check(Handle);
    Handle->ReadLimit = Bytes > 0 ? Bytes : 0;
    return TRUE;
}
