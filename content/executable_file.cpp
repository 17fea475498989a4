// Files and streams as sources of whole ranges (see executable_file.h).
#include "content/executable_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/posix/platform_file.h"

ExecutableFile::ExecutableFile(const char *Path) {
    if (Path == nullptr || *Path == 0) return;
    // A FIFO or device named here must not hold the caller in the open.
    Descriptor = Platform_OpenRegular(Path, O_RDONLY, 0);
    struct stat Status;
    if (Descriptor >= 0 && fstat(Descriptor, &Status) != 0) {
        close(Descriptor);
        Descriptor = -1;
    }
    if (Descriptor < 0) return;
    const int Handle = Descriptor;
    const uint64 Size = (uint64)Status.st_size;
    Data = {Size, [Handle, Size](uint64 Offset, void *Out, size_t Count) {
                if (!ExecutableSource_Inside(Offset, Count, Size)) return false;
                for (size_t Done = 0; Done < Count;) {
                    const ssize_t Got = pread(Handle, (char *)Out + Done, Count - Done, (off_t)(Offset + Done));
                    if (Got < 0 && errno == EINTR) continue;
                    if (Got <= 0) return false;
                    Done += (size_t)Got;
                }
                return true;
            }};
}

ExecutableFile::~ExecutableFile() {
    if (Descriptor >= 0) close(Descriptor);
}

ExecutableSource ExecutableSource_FromStream(StreamStruct *Stream) {
    int64 End = 0;
    if (Stream == nullptr || !Stream_Seek(Stream, 0, STREAM_SEEK_END) || !Stream_Tell(Stream, &End) || End < 0)
        End = 0;
    Stream_Seek(Stream, 0, STREAM_SEEK_SET);
    const uint64 Size = (uint64)End;
    return {Size, [Stream, Size](uint64 Offset, void *Out, size_t Count) {
                if (!ExecutableSource_Inside(Offset, Count, Size) || !Stream_Seek(Stream, (int64)Offset, STREAM_SEEK_SET))
                    return false;
                for (size_t Done = 0; Done < Count;) {
                    const uint32 Want = (uint32)std::min<size_t>(Count - Done, 1u << 30);
                    uint32 Got = 0;
                    if (!Stream_Read(Stream, (char *)Out + Done, Want, &Got) || Got == 0) return false;
                    Done += Got;
                }
                return true;
            }};
}

ExecutableSource ExecutableSource_FromBytes(std::string_view Bytes) {
    return {Bytes.size(), [Bytes](uint64 Offset, void *Out, size_t Count) {
                if (!ExecutableSource_Inside(Offset, Count, Bytes.size())) return false;
                if (Count) memcpy(Out, Bytes.data() + Offset, Count);
                return true;
            }};
}

bool ExecutableSource_ReadRange(const ExecutableSource &File, uint64 Offset, uint64 Length, std::string &Out,
                                uint64 Cap) {
    Out.clear();
    if (Length > Cap || !ExecutableSource_Inside(Offset, Length, File.Size)) return false;
    Out.resize(Length);
    if (Length == 0 || File.Read(Offset, Out.data(), Length)) return true;
    Out.clear();
    return false;
}
