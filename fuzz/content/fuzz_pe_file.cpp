// PE headers, certificate table, image digest and version resource, on arbitrary bytes taken as a whole file. Checks: no read outside
// the file, no crash or hang, and what is handed out lies inside the file.
#include <stdint.h>

#include <string>

#include "content/pe_file.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-pe-file.log", nullptr, 0) != 0;
    (void)Started;
    const ExecutableSource File = ExecutableSource_FromBytes(std::string_view((const char *)Data, Size));
    [[maybe_unused]] auto Ignore = [](const void *, size_t) { return true; };
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    PeFile_ReadInfo(File, Values);
    PeFile_HashImage(File, Ignore);
    std::string Entry;
    if (PeFile_ReadCertificate(File, Entry)) Check(Entry.size() <= Size);
    Dictionary_Release(&Values);
    // The header reader over the same bytes as a stream agrees with the
    // whole-file reader on the kind.
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    if (Size > 0 && Size < INT32_MAX) MemoryStream_SetPointer(Memory, const_cast<uint8_t *>(Data), (int32)Size, (int32)Size);
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    PEHeaders32 Narrow;
    PEHeaders64 Wide;
    uint32 NtOffset = 0;
    PeHeaders Head;
    const int32 Kind = PEFile_GetHeaders(Stream, &NtOffset, &Narrow, &Wide);
    Check(Kind == (PeFile_ReadHeaders(File, Head) ? Head.Kind : -1));
    if (Kind > 0) Check(NtOffset == Head.NtOffset && NtOffset < Size);
    MemoryStream_Delete(&Memory);
    return 0;
}
