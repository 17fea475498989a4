// The staging buffer the document writers write through: bytes gather in
// 4,096 bytes of their own and reach the stream in whole pieces, so a save
// costs few stream calls. Once a write to the stream fails, nothing more
// reaches it. Shared by the document formats.
#pragma once

#include <string.h>

#include "runtime/streams/stream.h"
#include "runtime/text/string_internal.h"
#include "runtime/types.h"

class DocumentStage {
  public:
    explicit DocumentStage(StreamStruct *Stream) : Stream(Stream) {}

    // Hands the staged bytes to the stream.
    bool Flush() {
        if (Failed || Used == 0) return !Failed;
        uint32 Count = 0;
        if (!Stream_Write(Stream, Stage, (uint32)Used, &Count) || Count != (uint32)Used) Failed = true;
        Used = 0;
        return !Failed;
    }

    bool Ok() const { return !Failed; }

  protected:
    static constexpr int32 StageSize = 4096;

    StreamStruct *Stream;
    bool Failed = false;
    int32 Used = 0;
    char Stage[StageSize];

    void Put(const char *Text, int32 Length) {
        if (Length <= StageSize - Used) {
            memcpy(Stage + Used, Text, (size_t)Length);
            Used += Length;
            return;
        }
        while (Length > 0 && !Failed) {
            if (Used == StageSize && !Flush()) return;
            int32 Piece = StageSize - Used;
            if (Piece > Length) Piece = Length;
            memcpy(Stage + Used, Text, (size_t)Piece);
            Used += Piece;
            Text += Piece;
            Length -= Piece;
        }
    }

    // Put for the short pieces a writer puts most (keys, numbers,
    // punctuation): a few fixed-size moves instead of a library call each.
    [[gnu::always_inline]] void PutShort(const char *Text, int32 Length) {
        if (Length > 16 || Length > StageSize - Used) {
            Put(Text, Length);
            return;
        }
        string_detail::CopyShort(Stage + Used, Text, (size_t)Length);
        Used += Length;
    }

    void Put(char Character) {
        if (Used < StageSize) {
            Stage[Used++] = Character;
            return;
        }
        Put(&Character, 1);
    }
};
