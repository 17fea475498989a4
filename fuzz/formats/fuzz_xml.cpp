// The XML reader on arbitrary bytes, whole and piece by piece. The first
// byte seeds the piece lengths; the rest is the document. Checks:
//   - a whole load answers 1, or 0 with "ZeroLength", "Depth" or "Key" (a
//     name no key can hold), and never reads or writes out of bounds;
//   - fed through XML_Scan in pieces, the same bytes give the same tree or
//     the same error (the scanner keeps all of its state between pieces);
//   - what loads saves, minified and indented, the estimate equals the bytes
//     written, and our own output loads again.
#include <stdint.h>
#include <string.h>

#include <string>

#include "formats/xml.h"
#include "fuzz/formats/tree_text.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

struct Doc {
    XML *Xml = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        XML_Create(&Xml);
        XML_SetPrintCallback(Xml, nullptr, Quiet);
        Dictionary_Create(&Dict);
        Dictionary_SetPrintCallback(Dict, nullptr, Quiet);
        XML_SetDictionaryHandle(Xml, Dict);
    }
    ~Doc() {
        XML_Release(&Xml);
        Dictionary_Release(&Dict);
    }
    int32 Error() const {
        int32 Code = 0;
        XML_GetLastError(Xml, &Code);
        return Code;
    }
    std::string Tree() const {
        std::string Out;
        TreeText(Dict, Out);
        return Out;
    }
    std::string Save(int32 Minify) {
        XML_SetMinify(Xml, Minify);
        int32 Size = 0;
        if (!XML_SaveBufferEstimate(Xml, &Size)) return "";
        std::string Out((size_t)Size, '\0');
        int32 Written = 0;
        Check(XML_SaveBuffer(Xml, Out.data(), Size, &Written) == 1);
        Check(Written == Size);
        return Out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-xml.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 1 || Size > 1 << 20) return 0;
    const uint8 Seed = Data[0];
    const char *Text = reinterpret_cast<const char *>(Data + 1);
    const int32 Length = (int32)(Size - 1);

    Doc Whole;
    const int32 Loaded = XML_LoadBuffer(Whole.Xml, Text, Length);
    Check(Loaded == (Whole.Error() == XML_ERROR_NONE));
    Check(Loaded || Whole.Error() == XML_ERROR_ZEROLENGTH || Whole.Error() == XML_ERROR_DEPTH ||
          Whole.Error() == XML_ERROR_KEY);
    Check(Whole.Error() != XML_ERROR_ZEROLENGTH || Length == 0);

    // Pieces of 1 to 16 bytes, lengths drawn from the seed.
    Doc Pieces;
    XML_Reset(Pieces.Xml);
    uint32 State = Seed * 2654435761u + 1;
    for (int32 At = 0; At < Length;) {
        State = State * 1103515245u + 12345u;
        int32 Piece = 1 + (int32)((State >> 16) % 16);
        if (Piece > Length - At) Piece = Length - At;
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetPointer(Memory, const_cast<char *>(Text + At), Piece, Piece);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        int32 Count = 0;
        const int32 More = XML_Scan(Pieces.Xml, Stream, &Count);
        MemoryStream_Delete(&Memory);
        Check(Count >= 0 && Count <= Piece);
        Check(More == (Pieces.Error() == XML_ERROR_NONE));
        if (!More) break;
        Check(Count == Piece);
        At += Piece;
    }
    if (Length > 0) {
        Check(Pieces.Error() == Whole.Error());
        if (Loaded) Check(Pieces.Tree() == Whole.Tree());
    }

    if (Loaded) {
        for (int32 Minify : {1, 0}) {
            // Empty when the tree holds nothing but attributes at the top.
            const std::string Saved = Whole.Save(Minify);
            if (Saved.empty()) continue;
            Doc Again;
            Check(XML_LoadBuffer(Again.Xml, Saved.data(), (int32)Saved.size()) == 1);
        }
    }
    return 0;
}
