// A libzip source over the back end's OS stream, so the archive file is read
// through the system's own File layer. Positions seen by libzip start at the
// caller's offset, which lets an archive appended to another file be read.
//
// libzip reads each entry as a seek and a few small reads (local header,
// then the data); extraction walks the archive in order, so those are served
// from a read-ahead window, and the file sees one seek and one read per
// window instead of several per entry.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "content/zip_backend.h"
#include "content/zip_internal.h"

namespace {

constexpr int64 WindowSize = 256 * 1024;

struct SourceState {
    void *Stream;
    std::string Path;
    int64 Start;
    int64 Size;     // bytes from Start to the end of the file
    int64 Position; // relative to Start
    zip_error_t Error;
    std::vector<uint8> Window;
    int64 WindowStart = 0; // relative to Start
    int64 WindowLength = 0;
    int64 StreamAt = -1; // where the OS stream stands, relative to Start; -1 unknown
};

zip_int64_t Fail(SourceState *State, int Code) {
    zip_error_set(&State->Error, Code, mz_stream_os_error(State->Stream));
    State->StreamAt = -1;
    return -1;
}

// Reads Want bytes at Position (relative to Start) from the OS stream,
// seeking only when it stands elsewhere; the count read, -1 on failure.
int32 ReadAt(SourceState *State, int64 Position, void *Data, int32 Want) {
    if (State->StreamAt != Position) {
        State->StreamAt = -1;
        if (mz_stream_os_seek(State->Stream, State->Start + Position, MZ_SEEK_SET) != MZ_OK) return -1;
    }
    const int32 Got = mz_stream_os_read(State->Stream, Data, Want);
    if (Got < 0 || mz_stream_os_error(State->Stream) != 0) return -1;
    State->StreamAt = Position + Got;
    return Got;
}

zip_int64_t Callback(void *User, void *Data, zip_uint64_t Length, zip_source_cmd_t Command) {
    SourceState *State = static_cast<SourceState *>(User);
    switch (Command) {
    case ZIP_SOURCE_OPEN:
        if (mz_stream_os_open(State->Stream, State->Path.c_str(), MZ_OPEN_MODE_READ) != MZ_OK)
            return Fail(State, ZIP_ER_OPEN);
        if (mz_stream_os_seek(State->Stream, State->Start, MZ_SEEK_SET) != MZ_OK) return Fail(State, ZIP_ER_SEEK);
        State->Position = 0;
        State->StreamAt = 0;
        State->WindowLength = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const int64 Left = State->Size - State->Position;
        const int32 Want = (int32)std::min<zip_uint64_t>(Length, (zip_uint64_t)std::max<int64>(Left, 0));
        if (Want == 0) return 0;
        int64 Offset = State->Position - State->WindowStart;
        // A longer read is served a window at a time: libzip asks again.
        if (Offset < 0 || Offset >= State->WindowLength) {
            State->Window.resize((size_t)WindowSize);
            State->WindowLength = 0;
            const int32 Got = ReadAt(State, State->Position, State->Window.data(),
                                     (int32)std::min<int64>(WindowSize, Left));
            if (Got <= 0) return Got < 0 ? Fail(State, ZIP_ER_READ) : 0;
            State->WindowStart = State->Position;
            State->WindowLength = Got;
            Offset = 0;
        }
        const int32 Count = (int32)std::min<int64>(Want, State->WindowLength - Offset);
        memcpy(Data, State->Window.data() + Offset, (size_t)Count);
        State->Position += Count;
        return Count;
    }
    case ZIP_SOURCE_CLOSE:
        mz_stream_os_close(State->Stream);
        State->StreamAt = -1;
        State->WindowLength = 0;
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *Stat = static_cast<zip_stat_t *>(Data);
        if (Length < sizeof(*Stat)) return Fail(State, ZIP_ER_INVAL);
        zip_stat_init(Stat);
        Stat->size = (zip_uint64_t)State->Size;
        Stat->valid |= ZIP_STAT_SIZE;
        return sizeof(*Stat);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&State->Error, Data, Length);
    case ZIP_SOURCE_FREE:
        mz_stream_os_delete(&State->Stream);
        zip_error_fini(&State->Error);
        delete State;
        return 0;
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t Target = zip_source_seek_compute_offset((zip_uint64_t)State->Position,
                                                                  (zip_uint64_t)State->Size, Data, Length, &State->Error);
        if (Target < 0) return -1;
        // Only the position moves; the next read seeks when it must.
        State->Position = Target;
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return State->Position;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&State->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

zip_t *ZipInt_Open(const char *Path, int64 StartOffset, std::string &Error) {
    const int64 FileSize = mz_os_get_file_size(Path);
    if (mz_os_file_exists(Path) != MZ_OK || StartOffset < 0 || StartOffset > FileSize) {
        Error = "cannot open the archive";
        return nullptr;
    }
    SourceState *State = new SourceState{nullptr, Path, StartOffset, FileSize - StartOffset, 0, {}, {}};
    zip_error_init(&State->Error);
    mz_stream_os_create(&State->Stream);
    zip_error_t Failure;
    zip_error_init(&Failure);
    zip_source_t *Source = zip_source_function_create(Callback, State, &Failure);
    if (Source == nullptr) {
        mz_stream_os_delete(&State->Stream);
        zip_error_fini(&State->Error);
        delete State;
        Error = zip_error_strerror(&Failure);
        zip_error_fini(&Failure);
        return nullptr;
    }
    zip_t *Archive = zip_open_from_source(Source, ZIP_RDONLY, &Failure);
    if (Archive == nullptr) {
        Error = zip_error_strerror(&Failure);
        zip_source_free(Source); // frees the state
    }
    zip_error_fini(&Failure);
    return Archive;
}
