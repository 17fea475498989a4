// The JSON reader on arbitrary bytes, whole and piece by piece. The first
// byte seeds the piece lengths; the rest is the document. Checks:
//   - a whole load answers 1 or 0 and never reads or writes out of bounds;
//   - fed through JSON_Scan in pieces, the same bytes end the same way: a
//     document completed in pieces gives the whole load's tree, a failure
//     the whole load's error code;
//   - what loads saves, the estimate equals the bytes written, and our own
//     output loads again.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

struct Doc {
    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        JSON_Create(&Json);
        JSON_SetPrintCallback(Json, nullptr, Quiet);
        Dictionary_Create(&Dict);
        JSON_SetDictionaryHandle(Json, Dict);
    }
    ~Doc() {
        JSON_Release(&Json);
        Dictionary_Release(&Dict);
    }
    int32 Error() const {
        int32 Code = 0;
        JSON_GetLastError(Json, &Code);
        return Code;
    }
    // Minified text of the tree; empty when nothing was stored.
    std::string Save() {
        int32 Size = 0;
        if (!JSON_SaveBufferEstimate(Json, &Size)) return "";
        std::string Out((size_t)Size, '\0');
        int32 Written = 0;
        Check(JSON_SaveBuffer(Json, Out.data(), Size, &Written) == 1);
        Check(Written == Size);
        return Out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-json.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 1 || Size > 1 << 20) return 0;
    const uint8 Seed = Data[0];
    const char *Text = reinterpret_cast<const char *>(Data + 1);
    const int32 Length = (int32)(Size - 1);

    Doc Whole;
    const int32 Loaded = JSON_LoadBuffer(Whole.Json, Text, Length);
    Check(Loaded == 0 || Loaded == 1);
    Check(Loaded == (Whole.Error() == JSON_ERROR_NONE));
    const std::string Saved = Whole.Save();
    // Read whole, the same text loads only when the plain load did and what
    // follows its value is blank.
    Doc Strict;
    const int32 Exact = JSON_LoadBufferWhole(Strict.Json, Text, Length);
    Check(Exact == 0 || Loaded == 1);
    Check(!Exact || Strict.Save() == Saved);

    // Pieces of 1 to 16 bytes, lengths drawn from the seed.
    Doc Pieces;
    JSON_Reset(Pieces.Json);
    uint32 State = Seed * 2654435761u + 1;
    int32 At = 0, More = 1;
    while (At < Length && More) {
        State = State * 1103515245u + 12345u;
        int32 Piece = 1 + (int32)((State >> 16) % 16);
        if (Piece > Length - At) Piece = Length - At;
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetPointer(Memory, const_cast<char *>(Text + At), Piece, Piece);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        int32 Count = 0;
        More = JSON_Scan(Pieces.Json, Stream, &Count);
        Check(Count >= 0 && Count <= Piece);
        Check(More == 0 || Count == Piece);
        MemoryStream_Delete(&Memory);
        At += Piece;
    }
    if (!More && Pieces.Error() == JSON_ERROR_NONE) {
        // Completed in pieces: the whole load completed at the same place.
        Check(Loaded == 1);
        Check(Pieces.Save() == Saved);
    } else if (Pieces.Error() != JSON_ERROR_NONE) {
        Check(Whole.Error() == Pieces.Error());
    }

    if (Loaded && !Saved.empty()) {
        // Our output loads again. Only a key of invalid UTF-8 may not: each
        // bad byte is written as U+FFFD, three bytes when read back, which
        // can take a key past the key limit.
        Doc Again;
        if (!JSON_LoadBuffer(Again.Json, Saved.data(), (int32)Saved.size()))
            Check(Again.Error() == JSON_ERROR_STRING && Saved.find("\\uFFFD") != std::string::npos);
        JSON_SetMinify(Whole.Json, 0);
        Check(!Whole.Save().empty());
    }
    return 0;
}
