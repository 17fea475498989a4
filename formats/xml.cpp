// XML object: lifecycle, options, print family, error names, reset, and the
// operations that build a Dictionary meant to be written as XML. The scanner
// is in xml_read.cpp, the writer in xml_write.cpp, files in xml_file.cpp.
#include "formats/xml.h"

#include <string.h>

#include <initializer_list>

#include "formats/xml_internal.h"
#include "runtime/documents/document_handle.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"

CLASSPRINT_DEFINE(XML, XML, XML_CLASSID, "XML", Print)

// The names are part of the system's vocabulary (logs, script answers).
const XMLErrorString XML_ErrorStringTable[4] = {
    {XML_ERROR_NONE, "Unknown"},
    {XML_ERROR_ZEROLENGTH, "ZeroLength"},
    {XML_ERROR_DEPTH, "Depth"},
    {XML_ERROR_KEY, "Key"},
};

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return XML_Delete(static_cast<XML **>(HandleAddress)); }

// "-Name" as attribute key; false when it would not fit a key segment.
bool AttributeKey(const char *Name, char (&Key)[XML_KEY_SIZE]) {
    const size_t Length = strlen(Name);
    if (Length + 2 > sizeof(Key)) return false;
    Key[0] = '-';
    memcpy(Key + 1, Name, Length + 1);
    return true;
}

// The Dictionary of a document's first item, when that item is a container.
bool FirstContainer(Dictionary *Dict, Dictionary **Child) {
    DictionaryItem *First = nullptr;
    if (Dict == nullptr || !Dictionary_ItemGetFirst(Dict, &First)) return false;
    if (!Dictionary_ItemIsContainer(Dict, First)) return false;
    return Dictionary_ItemGetDictionaryHandle(Dict, First, Child) != 0;
}

} // namespace

CLASS_DEFINE_REFERENCE(XML, XML, XML_CLASSID)

int32 XML_Create(XML **Handle) {
    Debug_CheckPointer(Handle);
    return document_handle::Create(Handle, XML_CLASSID, DeleteThroughClass, [](XML *Xml) {
        Xml->Minify = TRUE;
        Xml->Line = 1;
        MemoryStream_Create(&Xml->Value);
        MemoryStream_SetAutoGrow(Xml->Value, TRUE);
    });
}

int32 XML_Delete(XML **Handle) {
    Debug_CheckPointer(Handle);
    XML_Check(*Handle);
    return document_handle::Delete(Handle, [](XML *Xml) {
        MemoryStream_Delete(&Xml->Value);
        CallbackBase_Reset(&Xml->ValueCallback);
    });
}

int32 XML_SetDictionaryHandle(XML *Handle, Dictionary *Dict) {
    XML_Check(Handle);
    return document_handle::SetDictionary(Handle, Dict);
}

int32 XML_GetDictionaryHandle(XML *Handle, Dictionary **Dict) {
    XML_Check(Handle);
    return document_handle::GetDictionary(Handle, Dict);
}

int32 XML_SetMinify(XML *Handle, int32 Minify) {
    XML_Check(Handle);
    return document_handle::SetMinify(Handle, Minify);
}

int32 XML_GetMinify(XML *Handle, int32 *Minify) {
    XML_Check(Handle);
    return document_handle::GetMinify(Handle, Minify);
}

int32 XML_GetLastError(XML *Handle, int32 *Code) {
    XML_Check(Handle);
    Debug_CheckPointer(Code);
    *Code = Handle->LastError;
    return TRUE;
}

int32 XML_SetLastError(XML *Handle, int32 Code) {
    XML_Check(Handle);
    Handle->LastError = Code;
    return TRUE;
}

const char *XML_TranslateError(int32 Code) {
    for (const XMLErrorString &Row : XML_ErrorStringTable)
        if (Row.Code == Code) return Row.Name;
    return "Unknown";
}

int32 XML_SetValueCallback(XML *Handle, void *User, XML_ValueFunc Function) {
    XML_Check(Handle);
    return CallbackBase_Set(&Handle->ValueCallback, User, Function);
}

int32 XML_Reset(XML *Handle) {
    XML_Check(Handle);
    for (XMLLevel &Level : Handle->Levels) {
        Level.Kind = XML_KIND_NONE;
        Level.Target = nullptr;
        Level.Owner = nullptr;
        Level.Item = nullptr;
        Level.Key[0] = 0;
    }
    Handle->Open = 0;
    Handle->TokenState = XmlTokenBlank;
    Handle->ScanState = XmlOutside;
    Handle->Element = 0;
    Handle->Closing = 0;
    Handle->Attribute[0] = 0;
    Handle->CharCount = 0;
    Handle->LineStart = 0;
    Handle->Line = 1;
    Handle->ValueStart = 0;
    Handle->LastError = XML_ERROR_NONE;
    MemoryStream_DiscardAll(Handle->Value);
    if (Handle->Dict != nullptr) {
        Dictionary_Reset(Handle->Dict);
        // With private keys on, "#text" would lose its "#" and be hidden.
        Dictionary_SetPrivateKeys(Handle->Dict, FALSE);
    }
    return TRUE;
}

int32 XML_VerboseLog(XML *Handle, int32 Level, const char *Format, ...) {
    XML_Check(Handle);
    if (!XML_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = XML_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

void XmlInternal_SetKeepBlanks(XML *Xml, int32 Keep) {
    XML_Check(Xml);
    Xml->KeepBlanks = Keep;
}

void XmlInternal_Fail(XML *Xml, int32 Code, const char *Format, ...) {
    Xml->LastError = Code;
    va_list Arguments;
    va_start(Arguments, Format);
    XML_VPrint(Xml, 0, Format, Arguments);
    va_end(Arguments);
}

// ---- Building ----

int32 XML_AddElement(Dictionary *Dict, const char *Name, Dictionary **Child, DictionaryItem **Item) {
    return Dictionary_AddDictionary(Dict, Name, Child, Item);
}

int32 XML_AddStringElement(Dictionary *Dict, const char *Name, const char *Text, DictionaryItem **Item) {
    return Dictionary_AddString(Dict, Name, Text, Item);
}

int32 XML_EnsureElement(Dictionary *Dict, const char *Name, DictionaryItem **Item, Dictionary **Child) {
    return Dictionary_EnsureDictionary(Dict, Name, Item, Child);
}

int32 XML_EnsureStringElement(Dictionary *Dict, const char *Name, const char *Text) {
    return Dictionary_SetStringByKey(Dict, Name, Text);
}

int32 XML_AddAttribute(Dictionary *Dict, const char *Name, const char *Value, DictionaryItem **Item) {
    Debug_CheckPointer(Name);
    char Key[XML_KEY_SIZE];
    if (!AttributeKey(Name, Key)) return FALSE;
    return Dictionary_AddString(Dict, Key, Value, Item);
}

int32 XML_EnsureAttribute(Dictionary *Dict, const char *Name, const char *Value) {
    Debug_CheckPointer(Name);
    char Key[XML_KEY_SIZE];
    if (!AttributeKey(Name, Key)) return FALSE;
    return Dictionary_SetStringByKey(Dict, Key, Value);
}

int32 XML_EnsureRoot(Dictionary *Dict, const char *Version, const char *Encoding, DictionaryItem **Item) {
    DictionaryItem *Root = nullptr;
    Dictionary *Child = nullptr;
    if (!Dictionary_EnsureDictionary(Dict, "?xml", &Root, &Child)) return FALSE;
    if (Version != nullptr)
        Dictionary_SetStringByKey(Child, "-version", Version);
    else
        Dictionary_RemoveByKey(Child, "-version");
    if (Encoding != nullptr)
        Dictionary_SetStringByKey(Child, "-encoding", Encoding);
    else
        Dictionary_RemoveByKey(Child, "-encoding");
    // The closing "?" must be the declaration's last word.
    DictionaryItem *Last = nullptr;
    const char *Key = nullptr;
    const bool Closed = Dictionary_ItemGetLast(Child, &Last) && Dictionary_ItemGetKeyPtr(Child, Last, &Key) &&
                        String_CompareWithoutCase(Key, "-?") && Dictionary_ItemIsNull(Child, Last);
    if (!Closed) Dictionary_AddNull(Child, "-?", nullptr);
    if (Item != nullptr) *Item = Root;
    return TRUE;
}

int32 XML_EnsureDocType(Dictionary *Dict, const char *A, const char *B, const char *C, const char *D,
                        DictionaryItem **Item) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    Debug_CheckPointer(C);
    Debug_CheckPointer(D);
    DictionaryItem *DocType = nullptr;
    if (!Dictionary_ItemFindByKey(Dict, "!DOCTYPE", nullptr, &DocType)) {
        DictionaryItem *Root = nullptr;
        if (Dictionary_ItemFindByKey(Dict, "?xml", nullptr, &Root))
            Dictionary_Insert(Dict, Root, "!DOCTYPE", &DocType);
        else
            Dictionary_Append(Dict, "!DOCTYPE", &DocType);
    }
    Dictionary_ItemSetType(Dict, DocType, DICTIONARY_TYPE_DICTIONARY);
    Dictionary *Child = nullptr;
    Dictionary_ItemGetDictionaryHandle(Dict, DocType, &Child);
    Dictionary_Reset(Child);
    for (const char *Word : {A, B, C, D}) {
        char Key[XML_KEY_SIZE];
        String_Print(Key, (int32)sizeof(Key), "-%s", Word);
        Dictionary_AddNull(Child, Key, nullptr);
    }
    if (Item != nullptr) *Item = DocType;
    return TRUE;
}

int32 XML_Merge(XML *Destination, XML *Source, uint32 Mode) {
    XML_Check(Destination);
    XML_Check(Source);
    Dictionary *Into = nullptr;
    Dictionary *From = nullptr;
    if (!FirstContainer(Destination->Dict, &Into) || !FirstContainer(Source->Dict, &From)) return FALSE;
    return Dictionary_Merge(Into, From, Mode);
}
