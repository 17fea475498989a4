// The handle operations that the document types (JSON, XML, property lists,
// YAML, INI) share. Each type's record starts with its class header and holds
// Dict, the Dictionary it reads into and writes from (not owned), and, where
// it writes, Minify. Each type's public entry checks its handle (so that a
// fatal stop names the caller's line) and hands the rest to these.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/memory.h"

namespace document_handle {

// A zero-filled record with its class header; Setup fills the rest.
template <typename Record, typename SetupFunc>
int32 Create(Record **Handle, uint32 ClassId, Class_DeleteFunc Delete, SetupFunc &&Setup) {
    Record *Made = Memory_New(Record);
    Class_InitHeader(Made, ClassId, Delete);
    Setup(Made);
    *Handle = Made;
    return TRUE;
}

// Release frees what the record owns; then the record goes and *Handle is cleared.
template <typename Record, typename ReleaseFunc> int32 Delete(Record **Handle, ReleaseFunc &&Release) {
    Record *Object = *Handle;
    Release(Object);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

template <typename Record> int32 SetDictionary(Record *Handle, Dictionary *Dict) {
    Handle->Dict = Dict;
    return TRUE;
}

// 1 when a Dictionary is set.
template <typename Record> int32 GetDictionary(Record *Handle, Dictionary **Dict) {
    Debug_CheckPointer(Dict);
    *Dict = Handle->Dict;
    return Handle->Dict != nullptr;
}

template <typename Record> int32 SetMinify(Record *Handle, int32 Minify) {
    Handle->Minify = Minify;
    return TRUE;
}

template <typename Record> int32 GetMinify(Record *Handle, int32 *Minify) {
    Debug_CheckPointer(Minify);
    *Minify = Handle->Minify;
    return TRUE;
}

} // namespace document_handle
