// HashFile: see hash_file.h.
#include "crypto/digests/hash_file.h"

#include <string.h>

#include <algorithm>

#include "runtime/files/file.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

struct HashFile {
    ClassStruct Class;
    ClassPrintStruct Print;
    char Path[HASHFILE_PATH_SIZE]; // empty: none
    File *Source;                  // open exactly while running
    Hash *Digest;
    uint8 *Buffer; // HASHFILE_SLICE_SIZE bytes
    int64 FileSize;
    int64 BytesLeft;
    int64 BytesRead;
    int32 LastFileError;
    void *StartUser;
    HashFile_StartFunc StartFunction;
    void *CompleteUser;
    HashFile_CompleteFunc CompleteFunction;
};

#define HashFile_Check(Handle) Class_CheckHandle((Handle), HASHFILE_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return HashFile_Delete(static_cast<HashFile **>(HandleAddress)); }

void Complete(HashFile *Handle, int32 Result) {
    if (Handle->CompleteFunction != nullptr) Handle->CompleteFunction(Handle, Handle->CompleteUser, Result);
}

// Ends a run that cannot go on: the file closes, the error stays.
int32 EndEarly(HashFile *Handle) {
    File_Close(Handle->Source);
    HashFile_Print(Handle, "Unable to read file (%s) [Err: %d].", Handle->Path, Handle->LastFileError);
    Complete(Handle, FALSE);
    return FALSE;
}

} // namespace

CLASS_DEFINE_REFERENCE(HashFile, HashFile, HASHFILE_CLASSID)
CLASSPRINT_DEFINE(HashFile, HashFile, HASHFILE_CLASSID, "HashFile", Print)

int32 HashFile_VerboseLog(HashFile *Handle, const char *Format, ...) {
    HashFile_Check(Handle);
    if (!HashFile_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = HashFile_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 HashFile_Create(HashFile **Handle) {
    Debug_CheckPointer(Handle);
    HashFile *Object = Memory_New(HashFile);
    Class_InitHeader(Object, HASHFILE_CLASSID, DeleteThroughClass);
    File_Create(&Object->Source);
    // A tick must not wait: an open that fails is not tried again.
    File_SetRetries(Object->Source, 1);
    Hash_Create(&Object->Digest);
    Object->Buffer = static_cast<uint8 *>(Memory_Alloc(HASHFILE_SLICE_SIZE));
    *Handle = Object;
    return TRUE;
}

int32 HashFile_Delete(HashFile **Handle) {
    Debug_CheckPointer(Handle);
    HashFile *Object = *Handle;
    HashFile_Check(Object);
    File_Close(Object->Source);
    File_Delete(&Object->Source);
    Hash_Delete(&Object->Digest);
    Memory_Free(Object->Buffer, HASHFILE_SLICE_SIZE);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 HashFile_SetInterface(HashFile *Handle, const HashInterface *Interface) {
    HashFile_Check(Handle);
    return Hash_SetInterface(Handle->Digest, Interface);
}

int32 HashFile_SetPath(HashFile *Handle, const char *Path) {
    HashFile_Check(Handle);
    Debug_CheckPointer(Path);
    String_CopyLength(Handle->Path, Path, sizeof(Handle->Path));
    return TRUE;
}

int32 HashFile_GetPath(HashFile *Handle, char *Output, int32 Size) {
    HashFile_Check(Handle);
    Debug_CheckPointer(Output);
    String_CopyLength(Output, Handle->Path, Size);
    return TRUE;
}

int32 HashFile_SetStartCallback(HashFile *Handle, void *User, HashFile_StartFunc Function) {
    HashFile_Check(Handle);
    Handle->StartUser = User;
    Handle->StartFunction = Function;
    return TRUE;
}

int32 HashFile_SetCompleteCallback(HashFile *Handle, void *User, HashFile_CompleteFunc Function) {
    HashFile_Check(Handle);
    Handle->CompleteUser = User;
    Handle->CompleteFunction = Function;
    return TRUE;
}

int32 HashFile_Start(HashFile *Handle) {
    HashFile_Check(Handle);
    Handle->LastFileError = 0;
    if (HashFile_IsRunning(Handle)) {
        HashFile_Print(Handle, "Already running.");
        return TRUE;
    }
    if (Handle->Path[0] == 0) {
        HashFile_Print(Handle, "Path is empty.");
        Complete(Handle, FALSE);
        return TRUE;
    }
    if (!File_Open(Handle->Source, Handle->Path, FILE_READ | FILE_SHAREREAD)) {
        Handle->LastFileError = File_GetLastError(Handle->Source);
        HashFile_Print(Handle, "Unable to open file (%s).", Handle->Path);
        Complete(Handle, FALSE);
        return FALSE;
    }
    File_GetFilesizeBytes(Handle->Source, &Handle->FileSize);
    Handle->BytesLeft = Handle->FileSize;
    Handle->BytesRead = 0;
    if (Handle->StartFunction != nullptr) Handle->StartFunction(Handle, Handle->StartUser);
    return TRUE;
}

int32 HashFile_Process(HashFile *Handle) {
    HashFile_Check(Handle);
    if (!HashFile_IsRunning(Handle)) return FALSE;
    const uint32 Want = (uint32)std::min<int64>(Handle->BytesLeft, HASHFILE_SLICE_SIZE);
    uint32 Count = 0;
    if (Want != 0 && !File_Read(Handle->Source, Handle->Buffer, Want, &Count))
        Handle->LastFileError = File_GetLastError(Handle->Source);
    if (Count != 0) {
        // Without a bound algorithm the Hash keeps only a little: such a run
        // cannot finish either.
        if (!Hash_Process(Handle->Digest, Handle->Buffer, Count, nullptr)) return EndEarly(Handle);
        Handle->BytesLeft -= Count;
        Handle->BytesRead += Count;
    }
    if (Handle->BytesLeft > 0) {
        // A read that brought nothing (an error, or the end of a file that
        // shrank) would bring nothing on every later tick as well.
        if (Count == 0) return EndEarly(Handle);
        return TRUE;
    }
    Hash_Generate(Handle->Digest);
    File_Close(Handle->Source);
    Complete(Handle, TRUE);
    return TRUE;
}

int32 HashFile_Reset(HashFile *Handle) {
    HashFile_Check(Handle);
    File_Close(Handle->Source);
    Hash_Reset(Handle->Digest);
    Handle->Path[0] = 0;
    return TRUE;
}

int32 HashFile_IsRunning(HashFile *Handle) {
    HashFile_Check(Handle);
    return File_IsOpen(Handle->Source);
}

int32 HashFile_GetString(HashFile *Handle, int32 Format, char *Output, int32 Size) {
    HashFile_Check(Handle);
    return Hash_GetString(Handle->Digest, Format, Output, Size);
}

int32 HashFile_GetDigest(HashFile *Handle, void *Output, int32 Size) {
    HashFile_Check(Handle);
    return Hash_GetDigest(Handle->Digest, Output, Size);
}

int32 HashFile_GetFileSize(HashFile *Handle, int64 *Size) {
    HashFile_Check(Handle);
    Debug_CheckPointer(Size);
    *Size = Handle->FileSize;
    return TRUE;
}

int32 HashFile_GetBytesLeft(HashFile *Handle, int64 *Bytes) {
    HashFile_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->BytesLeft;
    return TRUE;
}

int32 HashFile_GetBytesRead(HashFile *Handle, int64 *Bytes) {
    HashFile_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->BytesRead;
    return TRUE;
}

int32 HashFile_GetLastFileError(HashFile *Handle) {
    HashFile_Check(Handle);
    return Handle->LastFileError;
}
