// The zip back end's file stream: minizip-ng's stream header followed by a
// system File and the last file error. Objects are made and freed with the C
// allocator, as the zip library expects of its streams.
#include <stdlib.h>

#include "content/zip_backend.h"
#include "runtime/files/file.h"
#include "runtime/files/path.h"

namespace {

// File flag words: read only; read and write an existing file; read and
// write, created when missing and truncated.
constexpr uint32 ModeRead = FILE_READ | FILE_SHAREREAD;
constexpr uint32 ModeAppend = FILE_READ | FILE_WRITE | FILE_APPEND | FILE_SHAREREAD;
constexpr uint32 ModeCreate = FILE_READ | FILE_WRITE | FILE_TRUNCATE | FILE_SHAREREAD;

struct OsStream {
    mz_stream Stream;
    File *Handle;
    int32 Error; // platform error number of the last failure
};

OsStream *Self(void *Stream) { return static_cast<OsStream *>(Stream); }

void KeepError(OsStream *Os) { Os->Error = File_GetLastError(Os->Handle); }

mz_stream_vtbl Interface = {
    mz_stream_os_open, mz_stream_os_is_open, mz_stream_os_read,  mz_stream_os_write,
    mz_stream_os_tell, mz_stream_os_seek,    mz_stream_os_close, mz_stream_os_error,
    mz_stream_os_create, mz_stream_os_delete, nullptr,            nullptr,
};

} // namespace

int32_t mz_stream_os_open(void *stream, const char *path, int32_t mode) {
    OsStream *Os = Self(stream);
    if (Os == nullptr || path == nullptr) return -1;
    uint32 Flags;
    if ((mode & MZ_OPEN_MODE_READWRITE) == MZ_OPEN_MODE_READ) {
        Flags = ModeRead;
    } else {
        Path_EnsureWritable(path); // a missing path is fine: it is created below
        if (mode & MZ_OPEN_MODE_APPEND) Flags = ModeAppend;
        else if (mode & MZ_OPEN_MODE_CREATE) Flags = ModeCreate;
        else return -1;
    }
    if (Os->Handle != nullptr) mz_stream_os_close(stream);
    File_Create(&Os->Handle);
    // Nothing on this platform holds a file against sharing, so waiting a
    // second per attempt would only stall the caller.
    File_SetRetries(Os->Handle, 1);
    if (!File_Open(Os->Handle, path, Flags | FILE_QUIETMISSING)) {
        KeepError(Os);
        File_Delete(&Os->Handle);
        return -1;
    }
    Os->Error = 0;
    return MZ_OK;
}

int32_t mz_stream_os_is_open(void *stream) {
    OsStream *Os = Self(stream);
    return Os != nullptr && Os->Handle != nullptr && File_IsOpen(Os->Handle) ? MZ_OK : -1;
}

int32_t mz_stream_os_read(void *stream, void *buf, int32_t size) {
    OsStream *Os = Self(stream);
    if (mz_stream_os_is_open(stream) != MZ_OK || buf == nullptr || size < 0) return -1;
    uint32 Count = 0;
    if (size > 0 && !File_Read(Os->Handle, buf, (uint32)size, &Count) && File_GetLastError(Os->Handle) != 0)
        KeepError(Os);
    return (int32_t)Count;
}

int32_t mz_stream_os_write(void *stream, const void *buf, int32_t size) {
    OsStream *Os = Self(stream);
    if (mz_stream_os_is_open(stream) != MZ_OK || buf == nullptr || size < 0) return -1;
    uint32 Count = 0;
    if (size > 0 && !File_Write(Os->Handle, buf, (uint32)size, &Count)) KeepError(Os);
    return (int32_t)Count;
}

int64_t mz_stream_os_tell(void *stream) {
    OsStream *Os = Self(stream);
    if (mz_stream_os_is_open(stream) != MZ_OK) return -1;
    int64 Position = 0;
    if (!File_Tell(Os->Handle, &Position)) {
        KeepError(Os);
        return -1;
    }
    return Position;
}

int32_t mz_stream_os_seek(void *stream, int64_t offset, int32_t origin) {
    OsStream *Os = Self(stream);
    if (mz_stream_os_is_open(stream) != MZ_OK) return -1;
    if (origin != MZ_SEEK_SET && origin != MZ_SEEK_CUR && origin != MZ_SEEK_END) return -1;
    if (!File_Seek(Os->Handle, offset, origin)) {
        KeepError(Os);
        return -1;
    }
    return MZ_OK;
}

int32_t mz_stream_os_close(void *stream) {
    OsStream *Os = Self(stream);
    if (Os != nullptr && Os->Handle != nullptr) {
        File_Close(Os->Handle);
        File_Delete(&Os->Handle);
    }
    return MZ_OK;
}

int32_t mz_stream_os_error(void *stream) { return stream != nullptr ? Self(stream)->Error : 0; }

void *mz_stream_os_create(void **stream) {
    OsStream *Os = static_cast<OsStream *>(calloc(1, sizeof(OsStream)));
    if (Os != nullptr) Os->Stream.vtbl = &Interface;
    if (stream != nullptr) *stream = Os;
    return Os;
}

void mz_stream_os_delete(void **stream) {
    if (stream == nullptr || *stream == nullptr) return;
    mz_stream_os_close(*stream);
    free(*stream);
    *stream = nullptr;
}

void *mz_stream_os_get_interface(void) { return &Interface; }
