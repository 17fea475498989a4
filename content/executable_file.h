// Files read by the executable-format readers (ELF, PE, Mach-O, installer
// package, disk image): a regular file or a stream taken as a source of whole
// ranges, and the bounded reads every reader goes through.
//
// Every offset and size in these formats comes from the file itself, so a
// range is read only when it lies inside the file, and a buffer is only
// allocated for a range that does (and is under the reader's cap): a forged
// size field costs a failed check, never an allocation.
#pragma once

#include <string>
#include <string_view>

#include "content/executable.h"
#include "runtime/streams/stream.h"

// The largest buffer a reader takes from a file.
constexpr uint64 EXECUTABLE_READ_CAP = 256ull << 20;

// A regular file opened for reading; folders and missing files are not open.
class ExecutableFile {
public:
    explicit ExecutableFile(const char *Path);
    ~ExecutableFile();
    ExecutableFile(const ExecutableFile &) = delete;
    ExecutableFile &operator=(const ExecutableFile &) = delete;
    bool IsOpen() const { return Descriptor >= 0; }
    const ExecutableSource &Source() const { return Data; }

private:
    int Descriptor = -1;
    ExecutableSource Data{0, nullptr};
};

// The stream from its beginning to its end, read with seeks (its position is
// not kept).
ExecutableSource ExecutableSource_FromStream(StreamStruct *Stream);
// Bytes of memory as a file.
ExecutableSource ExecutableSource_FromBytes(std::string_view Bytes);

// Length bytes at Offset into Out, when they lie inside the file and Length
// is at most Cap.
bool ExecutableSource_ReadRange(const ExecutableSource &File, uint64 Offset, uint64 Length, std::string &Out,
                                uint64 Cap = EXECUTABLE_READ_CAP);
// Whether Length bytes from Offset lie inside a whole of Size bytes, checked
// without overflow.
inline bool ExecutableSource_Inside(uint64 Offset, uint64 Length, uint64 Size) {
    return Offset <= Size && Length <= Size - Offset;
}

// The most that Compressed bytes of deflate data (zlib or gzip wrapped) can
// inflate to: a stated inflated length above it cannot be met, so no larger
// buffer is ever needed.
inline uint64 ExecutableSource_InflateBound(uint64 Compressed) { return Compressed * 1032 + 1024; }

// An unsigned number of Width bytes in either byte order.
inline uint64 ExecutableSource_Number(const void *At, int Width, bool Big) {
    const auto *Bytes = static_cast<const uint8 *>(At);
    uint64 Value = 0;
    for (int Index = 0; Index < Width; Index++)
        Value |= (uint64)Bytes[Big ? Index : Width - 1 - Index] << (8 * (Width - 1 - Index));
    return Value;
}
