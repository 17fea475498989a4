// Time texts: encoded times as HTTP dates, log stamps and log-file dates, and
// durations as "1h  2m  5s 0250ms" or "1 hour 2 minutes".
#include <math.h>
#include <string.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/text/string_print.h"
#include "runtime/time.h"
#include "runtime/time_internal.h"

namespace {

// Copies the composed text into the caller's buffer, cut to fit.
int32 CopyOut(const std::string &Text, char *Output, int32 Size) {
    size_t Length = Text.size() < (size_t)(Size - 1) ? Text.size() : (size_t)(Size - 1);
    memcpy(Output, Text.data(), Length);
    Output[Length] = '\0';
    return 1;
}

// Numbers go through the system's own print engine, like every text it composes.
void AppendFormat(std::string &Text, const char *Format, int64 Value) {
    char Number[32];
    Text.append(Number, (size_t)String_Print(Number, sizeof(Number), Format, Value));
}

struct DurationUnit {
    uint32 Flag;
    const char *NumberFormat;
    const char *NumberFormatZeroPad;
    const char *Word;
    const char *Words;
    const char *Letter;
};

// Weeks, hours, minutes and seconds pad to two characters, days not at all,
// milliseconds to four zeros.
constexpr DurationUnit DurationUnits[6] = {
    {TIME_DURATION_WEEKS, "%2lld", "%.2lld", " week", " weeks", "w"},
    {TIME_DURATION_DAYS, "%lld", "%lld", " day", " days", "d"},
    {TIME_DURATION_HOURS, "%2lld", "%.2lld", " hour", " hours", "h"},
    {TIME_DURATION_MINUTES, "%2lld", "%.2lld", " minute", " minutes", "m"},
    {TIME_DURATION_SECONDS, "%2lld", "%.2lld", " second", " seconds", "s"},
    {TIME_DURATION_MILLISECONDS, "%.4lld", "%.4lld", " millisecond", " milliseconds", "ms"},
};

// Longest duration taken whole: the milliseconds of it still fit an int64
// when every unit is carried into them.
constexpr float64 MaxDurationSeconds = 1e15;

} // namespace

int32 Time_EncodedString(uint32 Flags, char *Output, int32 Size, float64 Encoded) {
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';
    TimeFields Time;
    if (!TimeInt_Decode(&Time, Encoded)) return 0;
    const char *ShortMonth = Time_GetShortMonthName((int32)Time.Month);
    int32 Weekday = TimeInt_DayOfWeek(Time.Month, Time.Day, Time.Year) + 1;

    char Whole[96];
    if (Flags & (TIME_FORMAT_RFC1123_SHORT | TIME_FORMAT_RFC850 | TIME_FORMAT_HTTP)) {
        // The short forms keep the year modulo 1000 (two digits this century).
        if (Flags & TIME_FORMAT_RFC1123_SHORT)
            String_Print(Whole, sizeof(Whole), "%s, %.2d %s %.2lld %.2d:%.2d:%.2d GMT", Time_GetShortDayName(Weekday),
                         (int32)Time.Day, ShortMonth, Time.Year % 1000, (int32)Time.Hour, (int32)Time.Minute,
                         (int32)Time.Second);
        else if (Flags & TIME_FORMAT_RFC850)
            String_Print(Whole, sizeof(Whole), "%s, %.2d-%s-%.2lld %.2d:%.2d:%.2d GMT", Time_GetDayName(Weekday),
                         (int32)Time.Day, ShortMonth, Time.Year % 1000, (int32)Time.Hour, (int32)Time.Minute,
                         (int32)Time.Second);
        else
            String_Print(Whole, sizeof(Whole), "%s, %.2d %s %lld %.2d:%.2d:%.2d GMT", Time_GetShortDayName(Weekday),
                         (int32)Time.Day, ShortMonth, Time.Year, (int32)Time.Hour, (int32)Time.Minute,
                         (int32)Time.Second);
        return CopyOut(Whole, Output, Size);
    }

    const char *Number = (Flags & TIME_FORMAT_NOPAD) ? "%lld" : "%.2lld";
    std::string Text;
    auto AddField = [&](const char *Separator, const char *Format, int64 Value) {
        if (!Text.empty()) Text += Separator;
        AppendFormat(Text, Format, Value);
    };
    if (Flags & TIME_FORMAT_MONTH) AddField("/", Number, Time.Month);
    if (Flags & TIME_FORMAT_DAY) AddField("/", Number, Time.Day);
    if (Flags & TIME_FORMAT_YEAR)
        AddField("/", "%lld", (Flags & TIME_FORMAT_NOPAD) ? Time.Year % 1000 : Time.Year);
    if ((Flags & (TIME_FORMAT_HOUR | TIME_FORMAT_MINUTE | TIME_FORMAT_SECOND)) && !Text.empty()) Text += ' ';
    size_t ClockStart = Text.size();
    auto AddClock = [&](int64 Value) {
        if (Text.size() > ClockStart) Text += ':';
        AppendFormat(Text, Number, Value);
    };
    if (Flags & TIME_FORMAT_HOUR) AddClock(Time.Hour);
    if (Flags & TIME_FORMAT_MINUTE) AddClock(Time.Minute);
    if (Flags & TIME_FORMAT_SECOND) AddClock(Time.Second);
    return CopyOut(Text, Output, Size);
}

int32 Time_DurationString(uint32 Flags, char *Output, int32 Size, float64 Seconds) {
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';

    float64 Value = (Seconds > 0.0) ? Seconds : 0.0; // NaN reads as 0 too
    if (Value > MaxDurationSeconds) Value = MaxDurationSeconds;
    float64 Whole = floor(Value);
    // With milliseconds shown the seconds are truncated, never rounded: 0.6 s
    // is "0600ms", not "1s 0600ms".
    int64 Total = (Flags & TIME_DURATION_MILLISECONDS) ? (int64)Whole : (int64)(Value + 0.5);
    int64 Amount[6] = {
        Total / 604800,      Total / 86400 % 7, Total / 3600 % 24, Total / 60 % 60, Total % 60,
        (int64)((Value - Whole) * 1000.0),
    };
    if (Flags & TIME_DURATION_CARRY) {
        constexpr int64 Factor[5] = {7, 24, 60, 60, 1000};
        for (int32 Unit = 0; Unit < 5; Unit++)
            if (!(Flags & DurationUnits[Unit].Flag)) Amount[Unit + 1] += Factor[Unit] * Amount[Unit];
    }

    std::string Text;
    int32 Printed = 0;
    for (int32 Unit = 0; Unit < 6; Unit++) {
        const DurationUnit &Entry = DurationUnits[Unit];
        if (!(Flags & Entry.Flag)) continue;
        if ((Flags & TIME_DURATION_TWOUNITS) && Printed >= 2) continue;
        if (Amount[Unit] < 1 && !(Flags & TIME_DURATION_ZEROS)) continue;
        AppendFormat(Text, (Flags & TIME_DURATION_ZEROPAD) ? Entry.NumberFormatZeroPad : Entry.NumberFormat,
                     Amount[Unit]);
        if (Flags & TIME_DURATION_WORDS)
            Text += (Amount[Unit] == 1) ? Entry.Word : Entry.Words;
        else if (Flags & TIME_DURATION_LETTERS)
            Text += Entry.Letter;
        Text += ' ';
        Printed++;
    }
    size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos) return CopyOut("", Output, Size);
    size_t Last = Text.find_last_not_of(' ');
    return CopyOut(Text.substr(First, Last - First + 1), Output, Size);
}
