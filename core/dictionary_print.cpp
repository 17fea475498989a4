// Dictionary diagnostics: the shared print family over the record's print
// state, and the dump of a tree, one line per item.
//
// The print record sits behind the operation-table pointer (not directly
// behind the class header), so the family is written out here rather than
// generated. A child container prints under its root's id text and print
// identifier, which it copied when it was made.
#include <string.h>

#include "core/dictionary_internal.h"
#include "core/log.h"
#include "core/string.h"

namespace {

constexpr const char *ClassName = "Dictionary";

int32 ModulePrinter(void *User, const char *Format, ...) {
    (void)User;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);
    va_end(Arguments);
    return Result;
}

void DumpAt(Dictionary *Handle, int32 Depth) {
    ClassPrintStruct *Print = DictionaryInt_PrintRecord(Handle);
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        if (DictionaryInt_GetPrivate(Handle, Item)) continue;
        const char *Key = Item->Key != nullptr ? Item->Key : "";
        const char *TypeName = Dictionary_TranslateType(DictionaryInt_Type(Item));
        if (Item->Child != nullptr) {
            Dictionary_PrintTabbed(Handle, Depth, "%s (%s)", Key, TypeName);
            Item->Child->Print.PrintUser = Print->PrintUser;
            Item->Child->Print.PrintFunction = Print->PrintFunction;
            DumpAt(Item->Child, Depth + 1);
            continue;
        }
        const char *Text = nullptr;
        int32 Length = 0;
        if (!DictionaryInt_TextForm(Item, &Text, &Length)) {
            Text = "";
            Length = 0;
        }
        char Format[48];
        String_Print(Format, (int32)sizeof(Format), "%%s=%%.%ds (%%s)", Length);
        Dictionary_PrintTabbed(Handle, Depth, Format, Key, Text, TypeName);
    }
}

} // namespace

ClassPrintStruct *DictionaryInt_PrintRecord(Dictionary *Handle) {
    ClassPrint_InstallDefaults(&Handle->Print, Handle, ClassName, ModulePrinter);
    return &Handle->Print;
}

int32 Dictionary_SetVerbose(Dictionary *Handle, int32 Verbose) {
    Dictionary_CheckHandle(Handle);
    __atomic_store_n(&Handle->Print.Verbose, Verbose, __ATOMIC_RELAXED);
    return TRUE;
}

int32 Dictionary_GetVerbose(Dictionary *Handle, int32 *Verbose) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Verbose);
    *Verbose = __atomic_load_n(&Handle->Print.Verbose, __ATOMIC_RELAXED);
    return TRUE;
}

int32 Dictionary_SetPrintCallback(Dictionary *Handle, void *User, ClassPrint_Func Function) {
    Dictionary_CheckHandle(Handle);
    Handle->Print.PrintUser = User;
    Handle->Print.PrintFunction = Function;
    return TRUE;
}

int32 Dictionary_GetPrintCallback(Dictionary *Handle, void **User, ClassPrint_Func *Function) {
    Dictionary_CheckHandle(Handle);
    if (User != nullptr) *User = Handle->Print.PrintUser;
    if (Function != nullptr) *Function = Handle->Print.PrintFunction;
    return TRUE;
}

int32 Dictionary_SetPrintIdentifier(Dictionary *Handle, const char *Identifier) {
    Dictionary_CheckHandle(Handle);
    Handle->Print.PrintIdentifier = Identifier;
    return TRUE;
}

int32 Dictionary_IsVerboseLevel(Dictionary *Handle, int32 Level) {
    Dictionary_CheckHandle(Handle);
    return ClassPrint_IsVerboseLevel(DictionaryInt_PrintRecord(Handle), Level);
}

int32 Dictionary_VPrint(Dictionary *Handle, int32 Indent, const char *Format, va_list Arguments) {
    Dictionary_CheckHandle(Handle);
    return ClassPrint_VPrint(DictionaryInt_PrintRecord(Handle), Indent, Format, Arguments);
}

int32 Dictionary_Print(Dictionary *Handle, const char *Format, ...) {
    Dictionary_CheckHandle(Handle);
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = ClassPrint_VPrint(DictionaryInt_PrintRecord(Handle), 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Dictionary_PrintTabbed(Dictionary *Handle, int32 Indent, const char *Format, ...) {
    Dictionary_CheckHandle(Handle);
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = ClassPrint_VPrint(DictionaryInt_PrintRecord(Handle), Indent, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Dictionary_VerboseLog(Dictionary *Handle, int32 Level, const char *Format, ...) {
    Dictionary_CheckHandle(Handle);
    if (!Dictionary_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = ClassPrint_VPrint(DictionaryInt_PrintRecord(Handle), 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Dictionary_Dump(Dictionary *Handle) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    if (Handle->Items.Count == 0) return FALSE;
    DumpAt(Handle, 0);
    return TRUE;
}
