// The YAML reader on arbitrary bytes, whole and in two pieces split where the
// first byte says. Checks:
//   - a whole load answers 1 or 0 in agreement with the last error, and
//     never reads or writes out of bounds;
//   - fed through YAML_Scan in two pieces, the same bytes give the same
//     error and the same tree;
//   - what loads saves, the estimate equals the bytes written, and our own
//     output loads again and saves to the same text.
#include <stdint.h>
#include <string.h>

#include <string>

#include "formats/yaml.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

struct Doc {
    YAML *Yaml = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        YAML_Create(&Yaml);
        YAML_SetPrintCallback(Yaml, nullptr, Quiet);
        Dictionary_Create(&Dict);
        Dictionary_SetPrintCallback(Dict, nullptr, Quiet);
        Dictionary_SetPrivateKeys(Dict, 0);
        YAML_SetDictionaryHandle(Yaml, Dict);
    }
    ~Doc() {
        YAML_Release(&Yaml);
        Dictionary_Release(&Dict);
    }
    int32 Error() const {
        int32 Code = 0;
        YAML_GetLastError(Yaml, &Code);
        return Code;
    }
    std::string Save() {
        int32 Size = 0;
        if (!YAML_SaveBufferEstimate(Yaml, &Size)) return "";
        std::string Out((size_t)Size, '\0');
        int32 Written = 0;
        Check(YAML_SaveBuffer(Yaml, Out.data(), Size, &Written) == 1);
        Check(Written == Size);
        return Out;
    }
    int32 Scan(const char *Text, int32 Length) {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        if (Length > 0) MemoryStream_SetPointer(Memory, const_cast<char *>(Text), Length, Length);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        int32 Count = 0;
        const int32 More = YAML_Scan(Yaml, Stream, &Count);
        Check(Count >= 0 && Count <= Length);
        MemoryStream_Delete(&Memory);
        return More;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-yaml.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 1 || Size > 1 << 20) return 0;
    const char *Text = reinterpret_cast<const char *>(Data + 1);
    const int32 Length = (int32)(Size - 1);
    const int32 Split = Length > 0 ? Data[0] % (Length + 1) : 0;

    Doc Whole;
    const int32 Loaded = YAML_LoadBuffer(Whole.Yaml, Text, Length);
    Check(Loaded == (Whole.Error() == YAML_ERROR_NONE));
    const std::string Saved = Whole.Save();

    Doc Pieces;
    YAML_Reset(Pieces.Yaml);
    int32 More = 1;
    if (Split > 0) More = Pieces.Scan(Text, Split);
    if (More && Length > Split) More = Pieces.Scan(Text + Split, Length - Split);
    if (More) More = Pieces.Scan(nullptr, 0);
    Check(More == 0);
    Check(Pieces.Error() == Whole.Error());
    Check(Pieces.Save() == Saved);

    // Our output of a document (one top-level value) loads again to the
    // same text. Only bytes that are not UTF-8 may not: each is written as
    // U+FFFD, three bytes when read back, which can take a key past the key
    // limit. Several top-level values are written one after the other, and a
    // scalar behind a sequence then joins it.
    int32 TopLevel = 0;
    Dictionary_ItemGetCount(Whole.Dict, &TopLevel);
    if (Loaded && TopLevel == 1 && Saved.find("\\uFFFD") == std::string::npos) {
        Doc Again;
        Check(YAML_LoadBuffer(Again.Yaml, Saved.data(), (int32)Saved.size()) == 1);
        Check(Again.Save() == Saved);
    }
    return 0;
}
