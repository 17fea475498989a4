// Dictionary diagnostics: the shared print family over the record's print
// state, and the dump of a tree, one line per item.
//
// The print record lives in the Dictionary's extra record, made by the first
// print or print setting other than a root's print callback (kept in the
// root record until the extra record is made), so the family is written out
// here rather than generated. A child container prints under its root's id text and the print
// identifier it copied from its parent when it was made.
#include <string.h>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/log.h"
#include "runtime/text/string.h"

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

// Below a key that names a secret (see Log_IsSecretName) every value shows
// as the mask.
void DumpAt(Dictionary *Handle, int32 Depth, bool Secret) {
    ClassPrintStruct *Print = DictionaryInt_PrintRecord(Handle);
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        if (DictionaryInt_GetPrivate(Handle, Item)) continue;
        const char *Key = Item->Key != nullptr ? Item->Key : "";
        const char *TypeName = Dictionary_TranslateType(DictionaryInt_Type(Item));
        const bool Masked = Secret || Log_IsSecretName(Key, -1);
        if (Item->Child != nullptr) {
            Dictionary_PrintTabbed(Handle, Depth, "%s (%s)", Key, TypeName);
            ClassPrintStruct *ChildPrint = &DictionaryInt_Extra(Item->Child)->Print;
            ChildPrint->PrintUser = Print->PrintUser;
            ChildPrint->PrintFunction = Print->PrintFunction;
            DumpAt(Item->Child, Depth + 1, Masked);
            continue;
        }
        const char *Text = nullptr;
        int32 Length = 0;
        if (Masked) {
            Text = LOG_SECRET_MASK;
            Length = (int32)strlen(LOG_SECRET_MASK);
        } else if (!DictionaryInt_TextForm(Item, &Text, &Length)) {
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
    ClassPrintStruct *Print = &DictionaryInt_Extra(Handle)->Print;
    ClassPrint_InstallDefaults(Print, Handle, ClassName, ModulePrinter);
    return Print;
}

int32 Dictionary_SetVerbose(Dictionary *Handle, int32 Verbose) {
    Dictionary_CheckHandle(Handle);
    __atomic_store_n(&DictionaryInt_Extra(Handle)->Print.Verbose, Verbose, __ATOMIC_RELAXED);
    return TRUE;
}

int32 Dictionary_GetVerbose(Dictionary *Handle, int32 *Verbose) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Verbose);
    const DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    *Verbose = Extra != nullptr ? __atomic_load_n(&Extra->Print.Verbose, __ATOMIC_RELAXED) : 0;
    return TRUE;
}

int32 Dictionary_SetPrintCallback(Dictionary *Handle, void *User, ClassPrint_Func Function) {
    Dictionary_CheckHandle(Handle);
    DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_SEQ_CST);
    if (Extra == nullptr && Handle->Parent == nullptr) {
        // Kept in the root record until an extra record is made. One made
        // meanwhile by another thread may have copied the old callback:
        // it is given the new one too.
        DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
        __atomic_store_n(&Root->PrintUser, User, __ATOMIC_SEQ_CST);
        __atomic_store_n(&Root->PrintFunction, Function, __ATOMIC_SEQ_CST);
        Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_SEQ_CST);
        if (Extra == nullptr) return TRUE;
    }
    if (Extra == nullptr) Extra = DictionaryInt_Extra(Handle);
    Extra->Print.PrintUser = User;
    Extra->Print.PrintFunction = Function;
    return TRUE;
}

int32 Dictionary_GetPrintCallback(Dictionary *Handle, void **User, ClassPrint_Func *Function) {
    Dictionary_CheckHandle(Handle);
    const DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    void *FoundUser = nullptr;
    ClassPrint_Func FoundFunction = nullptr;
    if (Extra != nullptr) {
        FoundUser = Extra->Print.PrintUser;
        FoundFunction = Extra->Print.PrintFunction;
    } else if (Handle->Parent == nullptr) {
        const DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
        FoundUser = __atomic_load_n(&Root->PrintUser, __ATOMIC_SEQ_CST);
        FoundFunction = __atomic_load_n(&Root->PrintFunction, __ATOMIC_SEQ_CST);
    }
    if (User != nullptr) *User = FoundUser;
    if (Function != nullptr) *Function = FoundFunction;
    return TRUE;
}

int32 Dictionary_SetPrintIdentifier(Dictionary *Handle, const char *Identifier) {
    Dictionary_CheckHandle(Handle);
    // No identifier is what a Dictionary without an extra record has already.
    DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    if (Extra == nullptr && Identifier == nullptr) return TRUE;
    if (Extra == nullptr) Extra = DictionaryInt_Extra(Handle);
    Extra->Print.PrintIdentifier = Identifier;
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
    DumpAt(Handle, 0, false);
    return TRUE;
}
