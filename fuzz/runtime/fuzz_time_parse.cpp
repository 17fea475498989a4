// Feeds arbitrary bytes to the time parsers and formatters. Beyond "no crash",
// it checks one invariant: every decodable time prints as an HTTP date that
// parses back to the same whole second.
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Text(reinterpret_cast<const char *>(Data), Size);
    float64 Time;
    uint8 Hour, Minute, Second, Month, Day;
    int32 Year;
    int8 ZoneHours, ZoneMinutes;
    Time_ParseString(Text.c_str(), &Hour, &Minute, &Second, &Month, &Day, &Year);
    Time_ParseStringEncoded(Text.c_str(), &Time);
    Time_ParseOffsetString(Text.c_str(), &ZoneHours, &ZoneMinutes);
    Time_SpanParse(Text.c_str(), &Time);

    if (Size >= 12) {
        float64 Value;
        uint32 Flags;
        memcpy(&Value, Data, sizeof(Value));
        memcpy(&Flags, Data + 8, sizeof(Flags));
        char Output[96];
        Time_DurationString(Flags, Output, sizeof(Output), Value);
        Time_DurationString(Flags, Output, 3, Value);
        Time_EncodedString(Flags, Output, sizeof(Output), Value);
        Time_EncodedString(Flags, Output, 5, Value);
        if (Time_EncodedString(TIME_FORMAT_HTTP, Output, sizeof(Output), Value)) {
            float64 Back;
            if (!Time_ParseStringEncoded(Output, &Back) || Back != (float64)(int64)Value) __builtin_trap();
        }
        uint32 Packed;
        Time_ConvertEncodedToDosDate(&Packed, Value);
        Time_ConvertDosDateToEncoded(&Time, Flags);
    }
    return 0;
}
