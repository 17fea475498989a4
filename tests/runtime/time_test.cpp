// Time: calendar arithmetic against Python's calendar/datetime, HTTP dates
// against email.utils, local stamps against date(1), durations, windows,
// the test clock, and bad texts.
#include "runtime/time.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

std::string Encoded(uint32 Flags, float64 Time) {
    char Text[128];
    Time_EncodedString(Flags, Text, sizeof(Text), Time);
    return Text;
}

std::string Duration(uint32 Flags, float64 Seconds) {
    char Text[256];
    Time_DurationString(Flags, Text, sizeof(Text), Seconds);
    return Text;
}

float64 Encode(int Hour, int Minute, int Second, int Month, int Day, int Year) {
    float64 Result = -1;
    EXPECT_EQ(Time_GetEncoded(&Result, (uint8)Hour, (uint8)Minute, (uint8)Second, (uint8)Month, (uint8)Day, Year), 1);
    return Result;
}

std::string RunCommand(const std::string &Command) {
    FILE *Pipe = popen(Command.c_str(), "r");
    std::string Output;
    if (Pipe == nullptr) return Output;
    char Buffer[256];
    while (fgets(Buffer, sizeof(Buffer), Pipe) != nullptr) Output += Buffer;
    pclose(Pipe);
    while (!Output.empty() && Output.back() == '\n') Output.pop_back();
    return Output;
}

} // namespace

// Every day from 1971 to 2100 (29 February, 2000 and 2100 among them), at a
// varying time of day: encoding equals calendar.timegm, decoding gives the
// fields back, and the weekday equals datetime's.
TEST(TimeCalendar, MatchesPythonEveryDay1971To2100) {
    std::string Table = RunPython(R"(
import calendar, datetime
d = datetime.date(1971, 1, 1)
n = 0
while d.year <= 2100:
    s = (n * 7919) % 86400
    h, m, sec = s // 3600, s // 60 % 60, s % 60
    print(d.year, d.month, d.day, h, m, sec, calendar.timegm((d.year, d.month, d.day, h, m, sec)), d.isoweekday() % 7)
    d += datetime.timedelta(days=1)
    n += 1
)");
    std::istringstream Lines(Table);
    int Year, Month, Day, Hour, Minute, Second, Weekday;
    long long Expected;
    int Count = 0, Failures = 0;
    while (Lines >> Year >> Month >> Day >> Hour >> Minute >> Second >> Expected >> Weekday) {
        Count++;
        float64 Time = Encode(Hour, Minute, Second, Month, Day, Year);
        uint8 H, Mi, S, Mo, D;
        int32 Y, W;
        ASSERT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, Time), 1);
        ASSERT_EQ(Time_GetDayOfWeek((uint8)Month, (uint8)Day, Year, &W), 1);
        bool Good = (long long)Time == Expected && H == Hour && Mi == Minute && S == Second && Mo == Month &&
                    D == Day && Y == Year && W == Weekday;
        if (!Good && ++Failures < 10)
            ADD_FAILURE() << Year << "-" << Month << "-" << Day << " " << Hour << ":" << Minute << ":" << Second
                          << " encoded " << (long long)Time << " expected " << Expected << " weekday " << W
                          << " expected " << Weekday;
    }
    EXPECT_EQ(Count, 47482);
    EXPECT_EQ(Failures, 0);
}

TEST(TimeCalendar, LeapDaysAndCenturies) {
    // 29 February 2024 12:00:00 survives a round trip.
    float64 Time = Encode(12, 0, 0, 2, 29, 2024);
    EXPECT_EQ(Time, 1709208000.0);
    uint8 H, Mi, S, Mo, D;
    int32 Y;
    ASSERT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, Time), 1);
    EXPECT_EQ(std::vector<int>({H, Mi, S, Mo, D, Y}), std::vector<int>({12, 0, 0, 2, 29, 2024}));
    // 2000 is a leap year, 2100 is not.
    EXPECT_EQ(Encode(0, 0, 0, 3, 1, 2000) - Encode(0, 0, 0, 2, 28, 2000), 2 * 86400.0);
    EXPECT_EQ(Encode(0, 0, 0, 3, 1, 2100) - Encode(0, 0, 0, 2, 28, 2100), 86400.0);
    // Years up to 1970 encode as 1970.
    EXPECT_EQ(Encode(0, 0, 0, 1, 1, 1970), 0.0);
    EXPECT_EQ(Encode(1, 0, 0, 3, 1, 1968), Encode(1, 0, 0, 3, 1, 1970));
    EXPECT_EQ(Encode(0, 0, 0, 1, 1, -5), 0.0);
}

TEST(TimeCalendar, RejectsImpossibleInput) {
    float64 Time = 42;
    EXPECT_EQ(Time_GetEncoded(&Time, 0, 0, 0, 0, 1, 2000), 0);
    EXPECT_EQ(Time, 0.0);
    EXPECT_EQ(Time_GetEncoded(&Time, 0, 0, 0, 13, 1, 2000), 0);
    uint8 H, Mi, S, Mo, D;
    int32 Y;
    EXPECT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, -1.0), 0);
    EXPECT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, NAN), 0);
    EXPECT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, INFINITY), 0);
    EXPECT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, 1e300), 0);
    // Far but decodable: answers at once, no year-by-year walk.
    EXPECT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, 9e15), 1);
    EXPECT_GT(Y, 285000000);
    float64 Back;
    ASSERT_EQ(Time_GetEncoded(&Back, H, Mi, S, Mo, D, Y), 1);
    EXPECT_EQ(Back, 9e15);
    int32 Weekday = 9;
    EXPECT_EQ(Time_GetDayOfWeek(0, 1, 2000, &Weekday), 0);
    EXPECT_EQ(Time_GetDayOfWeek(1, 1, 2000, nullptr), 0);
}

TEST(TimeCalendar, NamesAndBridges) {
    EXPECT_STREQ(Time_GetMonthName(1), "January");
    EXPECT_STREQ(Time_GetMonthName(12), "December");
    EXPECT_STREQ(Time_GetMonthName(0), "");
    EXPECT_STREQ(Time_GetMonthName(13), "");
    EXPECT_STREQ(Time_GetShortMonthName(9), "Sep");
    EXPECT_STREQ(Time_GetDayName(1), "Sunday");
    EXPECT_STREQ(Time_GetDayName(7), "Saturday");
    EXPECT_STREQ(Time_GetDayName(8), "");
    EXPECT_STREQ(Time_GetShortDayName(4), "Wed");
    EXPECT_STREQ(Time_GetShortDayName(0), "");

    struct tm Broken;
    ASSERT_EQ(Time_ConvertEncodedToTm(&Broken, 1709208000.0), 1);
    EXPECT_EQ(Broken.tm_year, 124);
    EXPECT_EQ(Broken.tm_mon, 1);
    EXPECT_EQ(Broken.tm_mday, 29);
    EXPECT_EQ(Broken.tm_hour, 12);
    EXPECT_EQ(Broken.tm_wday, 0); // other fields stay 0
    float64 Back;
    ASSERT_EQ(Time_ConvertTmToEncoded(&Broken, &Back), 1);
    EXPECT_EQ(Back, 1709208000.0);
    EXPECT_EQ(Time_ConvertEncodedToTm(&Broken, -5.0), 0);

    float64 Unix;
    EXPECT_EQ(Time_ConvertUniversalToUnix(116444736000000000ll, &Unix), 1);
    EXPECT_EQ(Unix, 0.0);
    EXPECT_EQ(Time_ConvertUniversalToUnix(116444736000000000ll + 7849770377ll * 10000000ll + 9999999, &Unix), 1);
    EXPECT_EQ(Unix, 7849770377.0);
    EXPECT_EQ(Time_ConvertUniversalToUnix(INT64_MIN, &Unix), 0);
}

// Packed words as zipfile writes them: date << 16 | time.
TEST(TimeCalendar, PackedDateWords) {
    std::string Table = RunPython(R"(
import calendar, random
random.seed(7)
for _ in range(500):
    t = random.randrange(315532800, 4354819199) // 2 * 2
    y, mo, d, h, mi, s = __import__('time').gmtime(t)[:6]
    print(t, ((y - 1980) << 9 | mo << 5 | d) << 16 | (h << 11 | mi << 5 | s // 2))
)");
    std::istringstream Lines(Table);
    long long Time;
    unsigned long long Expected;
    int Count = 0;
    while (Lines >> Time >> Expected) {
        Count++;
        uint32 Packed;
        ASSERT_EQ(Time_ConvertEncodedToDosDate(&Packed, (float64)Time), 1);
        EXPECT_EQ(Packed, (uint32)Expected) << Time;
        float64 Back;
        ASSERT_EQ(Time_ConvertDosDateToEncoded(&Back, Packed), 1);
        EXPECT_EQ(Back, (float64)Time);
    }
    EXPECT_EQ(Count, 500);
    // Before 1980 pins to its first moment; a month of 0 is no date.
    uint32 Packed;
    ASSERT_EQ(Time_ConvertEncodedToDosDate(&Packed, 1000.0), 1);
    EXPECT_EQ(Packed, (uint32)((1 << 5 | 1) << 16));
    float64 Back;
    EXPECT_EQ(Time_ConvertDosDateToEncoded(&Back, 0), 0);
    EXPECT_EQ(Time_ConvertDosDateToEncoded(&Back, (uint32)((1 << 5 | 0) << 16)), 0);         // day 0
    EXPECT_EQ(Time_ConvertDosDateToEncoded(&Back, (uint32)((1 << 5 | 1) << 16 | 24 << 11)), 0); // hour 24
    EXPECT_EQ(Time_ConvertDosDateToEncoded(&Back, (uint32)((1 << 5 | 1) << 16 | 30)), 0);       // second 60
    EXPECT_EQ(Back, 0.0);
}

TEST(TimeFormat, HttpDatesMatchEmailUtils) {
    std::string Table = RunPython(R"(
import email.utils, random
random.seed(11)
for t in [0, 951782400, 4107542399] + [random.randrange(0, 4107542400) for _ in range(2000)]:
    print(t, email.utils.formatdate(t, usegmt=True))
)");
    std::istringstream Lines(Table);
    std::string Line;
    int Count = 0;
    while (std::getline(Lines, Line)) {
        size_t Space = Line.find(' ');
        float64 Time = (float64)atoll(Line.substr(0, Space).c_str());
        std::string Expected = Line.substr(Space + 1);
        ASSERT_EQ(Encoded(TIME_FORMAT_HTTP, Time), Expected);
        Count++;
        float64 Parsed;
        ASSERT_EQ(Time_ParseStringEncoded(Expected.c_str(), &Parsed), 1) << Expected;
        EXPECT_EQ(Parsed, Time) << Expected;
    }
    EXPECT_EQ(Count, 2003);
    EXPECT_EQ(Encoded(TIME_FORMAT_HTTP, 0.0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(TimeFormat, ShortAndRfc850Forms) {
    float64 Time = Encode(8, 49, 37, 11, 6, 2024);
    EXPECT_EQ(Encoded(TIME_FORMAT_RFC1123_SHORT, Time), "Wed, 06 Nov 24 08:49:37 GMT");
    EXPECT_EQ(Encoded(TIME_FORMAT_RFC850, Time), "Wednesday, 06-Nov-24 08:49:37 GMT");
    // The first whole-date flag that is set decides.
    EXPECT_EQ(Encoded(TIME_FORMAT_RFC1123_SHORT | TIME_FORMAT_HTTP, Time), "Wed, 06 Nov 24 08:49:37 GMT");
    EXPECT_EQ(Encoded(TIME_FORMAT_RFC850 | TIME_FORMAT_HTTP | 123, Time), "Wednesday, 06-Nov-24 08:49:37 GMT");
    // The year is taken modulo 1000, not 100.
    EXPECT_EQ(Encoded(TIME_FORMAT_RFC1123_SHORT, Encode(8, 49, 37, 11, 6, 1994)), "Sun, 06 Nov 994 08:49:37 GMT");
    float64 Parsed;
    ASSERT_EQ(Time_ParseStringEncoded(Encoded(TIME_FORMAT_RFC850, Time).c_str(), &Parsed), 1);
    EXPECT_EQ(Parsed, Time);
}

TEST(TimeFormat, FieldForms) {
    float64 Time = Encode(7, 5, 9, 2, 29, 2024);
    EXPECT_EQ(Encoded(TIME_FORMAT_LOGSTAMP, Time), "02/29/2024 07:05:09");
    EXPECT_EQ(Encoded(TIME_FORMAT_LOGDATE, Time), "02/29/2024");
    EXPECT_EQ(Encoded(TIME_FORMAT_LOGSTAMP | TIME_FORMAT_NOPAD, Time), "2/29/24 7:5:9");
    EXPECT_EQ(Encoded(TIME_FORMAT_HOUR | TIME_FORMAT_MINUTE, Time), "07:05");
    EXPECT_EQ(Encoded(TIME_FORMAT_DAY | TIME_FORMAT_SECOND, Time), "29 09");
    EXPECT_EQ(Encoded(TIME_FORMAT_YEAR, Time), "2024");
    EXPECT_EQ(Encoded(0, Time), "");
    // A negative time gives 0 and an empty text; a small buffer is cut.
    char Text[8] = "junk";
    EXPECT_EQ(Time_EncodedString(TIME_FORMAT_LOGSTAMP, Text, sizeof(Text), -1.0), 0);
    EXPECT_STREQ(Text, "");
    EXPECT_EQ(Time_EncodedString(TIME_FORMAT_LOGSTAMP, Text, sizeof(Text), Time), 1);
    EXPECT_STREQ(Text, "02/29/2");
    EXPECT_EQ(Time_EncodedString(TIME_FORMAT_LOGSTAMP, Text, 0, Time), 0);
}

// Stamps of the local calendar clock equal date(1) under the same zone. The
// zones are POSIX rules, so no zone database is needed.
TEST(TimeFormat, LocalStampsMatchDate) {
    const char *Saved = getenv("TZ");
    std::string Restore = Saved ? Saved : "";
    for (const char *Zone : {"JST-9", "NST3:30NDT,M3.2.0,M11.1.0", "UTC0"}) {
        setenv("TZ", Zone, 1);
        tzset();
        bool Matched = false;
        // A second may tick while `date` runs, more than once on a loaded
        // machine: its answer is taken when it equals our reading from just
        // before or just after it, and the pair is read again otherwise.
        for (int Try = 0; Try < 10 && !Matched; Try++) {
            struct tm Before, After;
            const float64 First = Time_GetCurrentEncodedLocal(&Before);
            std::string Theirs = RunCommand("date '+%m/%d/%Y %H:%M:%S'");
            const float64 Last = Time_GetCurrentEncodedLocal(&After);
            const bool Early = Encoded(TIME_FORMAT_LOGSTAMP, First) == Theirs;
            Matched = Early || Encoded(TIME_FORMAT_LOGSTAMP, Last) == Theirs;
            if (Try == 9 && !Matched) {
                EXPECT_EQ(Encoded(TIME_FORMAT_LOGSTAMP, Last), Theirs) << Zone;
            }
            if (Matched) {
                const float64 Time = Early ? First : Last;
                struct tm &Broken = Early ? Before : After;
                const std::string Date = Theirs.substr(0, 10);
                EXPECT_EQ(Encoded(TIME_FORMAT_LOGDATE, Time), Date) << Zone;
                float64 FromTm;
                ASSERT_EQ(Time_ConvertTmToEncoded(&Broken, &FromTm), 1);
                EXPECT_EQ(FromTm, Time);
            }
        }
    }
    if (Saved)
        setenv("TZ", Restore.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    // Universal time does not follow TZ.
    float64 Universal = Time_GetCurrentEncodedGMT(nullptr);
    EXPECT_NEAR(Universal, Time_GetCurrentEncoded(), 2.0);
    EXPECT_NEAR(Universal, (float64)time(nullptr), 2.0);
}

TEST(TimeParse, ZoneTable) {
    struct Case {
        const char *Text;
        int32 Result;
        int Hours, Minutes;
    };
    const Case Cases[] = {
        {"", 1, 0, 0},       {"UT", 1, 0, 0},      {"UTC", 1, 0, 0},     {"GMT", 1, 0, 0},    {"Z", 1, 0, 0},
        {"EST", 1, -5, 0},   {"EDT", 1, -4, 0},    {"CST", 1, -6, 0},    {"CDT", 1, -5, 0},   {"MST", 1, -7, 0},
        {"MDT", 1, -6, 0},   {"PST", 1, -8, 0},    {"PDT", 1, -7, 0},    {"A", 1, -1, 0},     {"M", 1, -12, 0},
        {"N", 1, 1, 0},      {"Y", 1, 12, 0},      {"gmt", 0, 0, 0},     {"XYZ", 0, 0, 0},    {"+0100", 1, 1, 0},
        {"-0530", 1, -5, -30}, {"0500", 1, -5, 0}, {"+1345", 1, 13, 45}, {"+01", 0, 0, 0},    {"+01a0", 0, 0, 0},
        {"+010", 0, 0, 0},   {"CEST", 0, 0, 0},
    };
    for (const Case &Entry : Cases) {
        int8 Hours = 99, Minutes = 99;
        EXPECT_EQ(Time_ParseOffsetString(Entry.Text, &Hours, &Minutes), Entry.Result) << Entry.Text;
        EXPECT_EQ(Hours, Entry.Hours) << Entry.Text;
        EXPECT_EQ(Minutes, Entry.Minutes) << Entry.Text;
    }
}

// RFC 1123 with named and numeric zones, RFC 850 with two-digit years
// (1970-2068, where email.utils and we agree) and asctime, against
// parsedate_tz + mktime_tz.
TEST(TimeParse, ThreeFormsMatchEmailUtils) {
    std::string Table = RunPython(R"(
import email.utils, os, random, time
os.environ['TZ'] = 'UTC'
time.tzset()
random.seed(5)
zones = [('GMT', 0), ('UT', 0), ('UTC', 0), ('Z', 0), ('EST', -300), ('EDT', -240), ('CST', -360),
         ('CDT', -300), ('MST', -420), ('MDT', -360), ('PST', -480), ('PDT', -420)]
for _ in range(1500):
    t = random.randrange(2 * 86400, 3108000000)
    kind = random.randrange(4)
    if kind == 0:
        name, off = random.choice(zones)
    elif kind == 1:
        off = random.randrange(-14 * 60, 14 * 60 + 1)
        name = '%s%02d%02d' % ('-' if off < 0 else '+', abs(off) // 60, abs(off) % 60)
    if kind <= 1:
        s = time.strftime('%a, %d %b %Y %H:%M:%S ', time.gmtime(t + off * 60)) + name
    elif kind == 2:
        s = time.strftime('%A, %d-%b-%y %H:%M:%S GMT', time.gmtime(t))
    else:
        s = time.asctime(time.gmtime(t))
    print(email.utils.mktime_tz(email.utils.parsedate_tz(s)), s)
)");
    std::istringstream Lines(Table);
    std::string Line;
    int Count = 0;
    while (std::getline(Lines, Line)) {
        size_t Space = Line.find(' ');
        long long Expected = atoll(Line.substr(0, Space).c_str());
        std::string Text = Line.substr(Space + 1);
        float64 Parsed = -1;
        ASSERT_EQ(Time_ParseStringEncoded(Text.c_str(), &Parsed), 1) << Text;
        EXPECT_EQ((long long)Parsed, Expected) << Text;
        Count++;
    }
    EXPECT_EQ(Count, 1500);
}

TEST(TimeParse, FieldsAndZoneShift) {
    uint8 H, Mi, S, Mo, D;
    int32 Y;
    ASSERT_EQ(Time_ParseString("Sun, 06 Nov 1994 08:49:37 GMT", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(std::vector<int>({Y, Mo, D, H, Mi, S}), std::vector<int>({1994, 11, 6, 8, 49, 37}));
    ASSERT_EQ(Time_ParseString("Sun, 06 Nov 1994 08:49:37 +0100", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(std::vector<int>({H, Mi, S}), std::vector<int>({7, 49, 37}));
    ASSERT_EQ(Time_ParseString("Sun, 06 Nov 1994 08:49:37 -0500", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(std::vector<int>({H, Mi, S}), std::vector<int>({13, 49, 37}));
    // RFC 850 years 70-99 are the 1900s, 00-69 the 2000s.
    ASSERT_EQ(Time_ParseString("Sunday, 06-Nov-94 08:49:37 GMT", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(Y, 1994);
    ASSERT_EQ(Time_ParseString("Thursday, 01-Jan-70 00:00:00 GMT", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(Y, 1970);
    ASSERT_EQ(Time_ParseString("Monday, 01-Jan-69 00:00:00 GMT", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(Y, 2069);
    // asctime, month names without case.
    ASSERT_EQ(Time_ParseString("Sun NOV  6 08:49:37 1994", &H, &Mi, &S, &Mo, &D, &Y), 1);
    EXPECT_EQ(std::vector<int>({Y, Mo, D, H, Mi, S}), std::vector<int>({1994, 11, 6, 8, 49, 37}));
    // A zone that moves the hour below 0 is counted as a signed amount.
    float64 Time;
    ASSERT_EQ(Time_ParseStringEncoded("Sun, 06 Nov 1994 00:30:00 +0100", &Time), 1);
    EXPECT_EQ(Time, Encode(23, 30, 0, 11, 5, 1994));
    // An eighth token that is not a zone leaves the time alone.
    ASSERT_EQ(Time_ParseStringEncoded("Sun, 06 Nov 1994 08:49:37 XYZ", &Time), 1);
    EXPECT_EQ(Time, 784111777.0);
}

TEST(TimeParse, BadTextsAnswerZero) {
    const char *Bad[] = {
        "",
        "Sun, 06 Nov 1994 08:49",                     // 6 tokens
        "Sun, 06 Nov 1994 08:49:37 GMT extra words",  // 9 tokens
        "a b c d e f g h i j k l",                    // more than 10
        "Sun, 06 Nox 1994 08:49:37 GMT",              // no such month
        "Sun, xx Nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 19a4 08:49:37 GMT",
        "Sun, 06 Nov 1994 25:49:37 GMT",
        "Sun, 06 Nov 1994 08:61:37 GMT",
        "Sun, 00 Nov 1994 08:49:37 GMT",
        "Sun, 123 Nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 99999999999 08:49:37 GMT",
        "Sun Xyz  6 08:49:37 1994",
        ",,,,,,,,",
        "-------- -- -",
        "1 2 3 4 5 6 7",
    };
    for (const char *Text : Bad) {
        float64 Time = 77;
        EXPECT_EQ(Time_ParseStringEncoded(Text, &Time), 0) << Text;
        EXPECT_EQ(Time, 0.0) << Text;
    }
    float64 Time = 77;
    EXPECT_EQ(Time_ParseStringEncoded(nullptr, &Time), 0);
    // Long texts are read up to 319 characters only.
    std::string Long = "Sun, 06 Nov 1994 08:49:37 GMT" + std::string(400, ' ') + "x";
    EXPECT_EQ(Time_ParseStringEncoded(Long.c_str(), &Time), 1);
    // Random bytes never crash (run under ASan in CI).
    std::mt19937 Random(3);
    const char Alphabet[] = "0123456789 ,-:+SunNovGMTJanFebxyz\x01\xff";
    for (int Round = 0; Round < 20000; Round++) {
        std::string Text;
        int Length = (int)(Random() % 60);
        for (int Index = 0; Index < Length; Index++) Text += Alphabet[Random() % (sizeof(Alphabet) - 1)];
        uint8 H, Mi, S, Mo, D;
        int32 Y;
        Time_ParseString(Text.c_str(), &H, &Mi, &S, &Mo, &D, &Y);
        Time_ParseStringEncoded(Text.c_str(), &Time);
        Time_SpanParse(Text.c_str(), &Time);
    }
}

TEST(TimeDuration, LogFlags) {
    // Hours, minutes and seconds pad to two characters, milliseconds to four zeros.
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 3725.25), "1h  2m  5s 0250ms");
    // Seconds are truncated when milliseconds show: 0.6 s is not "1s 0600ms".
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 0.6), "0600ms");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 59.75), "59s 0750ms");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 0.0), "");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, -3.0), "");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, NAN), "");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 694861.0), "1w 1d  1h  1m  1s");
    EXPECT_EQ(Duration(TIME_DURATION_LOG, 1e300).empty(), false);
}

TEST(TimeDuration, FlagWords) {
    const uint32 Clock = TIME_DURATION_HOURS | TIME_DURATION_MINUTES | TIME_DURATION_SECONDS;
    // Without milliseconds the seconds round.
    EXPECT_EQ(Duration(Clock | TIME_DURATION_LETTERS, 59.5), "1m");
    EXPECT_EQ(Duration(Clock | TIME_DURATION_WORDS, 3725), "1 hour  2 minutes  5 seconds");
    EXPECT_EQ(Duration(Clock | TIME_DURATION_WORDS, 3661), "1 hour  1 minute  1 second");
    EXPECT_EQ(Duration(Clock, 3725), "1  2  5");
    EXPECT_EQ(Duration(Clock | TIME_DURATION_LETTERS | TIME_DURATION_ZEROPAD, 3725), "01h 02m 05s");
    EXPECT_EQ(Duration(Clock | TIME_DURATION_LETTERS | TIME_DURATION_ZEROS, 60), "0h  1m  0s");
    // Two units at most.
    EXPECT_EQ(Duration(TIME_DURATION_DAYS | Clock | TIME_DURATION_LETTERS | TIME_DURATION_TWOUNITS, 90061),
              "1d  1h");
    // Days are not padded.
    EXPECT_EQ(Duration(TIME_DURATION_DAYS | TIME_DURATION_LETTERS, 13 * 86400), "6d");
    EXPECT_EQ(Duration(TIME_DURATION_DAYS | TIME_DURATION_LETTERS | TIME_DURATION_CARRY, 13 * 86400), "13d");
    // Carry: unselected units flow into the next smaller selected one.
    EXPECT_EQ(Duration(TIME_DURATION_HOURS | TIME_DURATION_LETTERS | TIME_DURATION_CARRY, 90061), "25h");
    EXPECT_EQ(Duration(TIME_DURATION_MINUTES | TIME_DURATION_LETTERS | TIME_DURATION_CARRY, 694861), "11581m");
    EXPECT_EQ(Duration(TIME_DURATION_MILLISECONDS | TIME_DURATION_LETTERS | TIME_DURATION_CARRY, 2.5), "2500ms");
    EXPECT_EQ(Duration(TIME_DURATION_WEEKS | TIME_DURATION_WORDS, 1209600), "2 weeks");
    EXPECT_EQ(Duration(TIME_DURATION_MILLISECONDS | TIME_DURATION_WORDS, 0.001953125), "0001 millisecond");
    // A small buffer is cut and terminated.
    char Text[5];
    EXPECT_EQ(Time_DurationString(TIME_DURATION_LOG, Text, sizeof(Text), 3725.25), 1);
    EXPECT_STREQ(Text, "1h  ");
}

TEST(TimeSpan, ParseAndCompare) {
    EXPECT_EQ(Time_SpanCompare(23, 30, 22, 0, 6, 0), 1);
    EXPECT_EQ(Time_SpanCompare(12, 0, 22, 0, 6, 0), 0);
    EXPECT_EQ(Time_SpanCompare(5, 59, 22, 0, 6, 0), 1);
    EXPECT_EQ(Time_SpanCompare(6, 0, 22, 0, 6, 0), 0);
    EXPECT_EQ(Time_SpanCompare(9, 0, 9, 0, 17, 0), 1);
    EXPECT_EQ(Time_SpanCompare(17, 0, 9, 0, 17, 0), 0);
    EXPECT_EQ(Time_SpanCompare(9, 0, 9, 0, 9, 0), 0);

    float64 Time;
    ASSERT_EQ(Time_SpanParse("22:30", &Time), 1);
    uint8 H, Mi, S, Mo, D;
    int32 Y;
    ASSERT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, Time), 1);
    struct tm Now;
    Time_GetCurrentEncodedGMT(&Now);
    EXPECT_EQ(std::vector<int>({Y, Mo, D, H, Mi}), std::vector<int>({Now.tm_year + 1900, 1, 1, 22, 30}));
    EXPECT_EQ(Time_SpanParse("24:60", &Time), 1);
    EXPECT_EQ(Time_SpanParse("0930", &Time), 1); // no colon reads as 0:00
    ASSERT_EQ(Time_GetDecoded(&H, &Mi, &S, &Mo, &D, &Y, Time), 1);
    EXPECT_EQ(H * 60 + Mi, 0);
    EXPECT_EQ(Time_SpanParse("25:00", &Time), 0);
    EXPECT_EQ(Time, 0.0);
    EXPECT_EQ(Time_SpanParse("10:61", &Time), 0);
    EXPECT_EQ(Time_SpanParse("-1:00", &Time), 0);
    EXPECT_EQ(Time_SpanParse("ab:cd", &Time), 0);
    EXPECT_EQ(Time_SpanParse("99999999999999999999:00", &Time), 0);
}

// The test clock replaces the monotonic reading in every thread.
TEST(TimeClock, TestClockStepsWithoutSleeping) {
    ASSERT_EQ(Time_TestClockStart(5000), 1);
    EXPECT_EQ(Time_GetCycleCount(), 5000u);
    EXPECT_EQ(Time_GetCurrent(), 5.0);
    Time_TestClockAdvance(250);
    EXPECT_EQ(Time_GetCurrent(), 5.25);
    std::thread Other([] { Time_TestClockAdvance(750); });
    Other.join();
    EXPECT_EQ(Time_GetCycleCount(), 6000u);
    uint64 Seen = 0;
    std::thread Reader([&] { Seen = Time_GetCycleCount(); });
    Reader.join();
    EXPECT_EQ(Seen, 6000u);
    ASSERT_EQ(Time_TestClockStop(), 1);

    Time_SetCycleCountOverride([]() -> uint64 { return 42; });
    EXPECT_EQ(Time_GetCurrent(), 0.042);
    Time_SetCycleCountOverride(nullptr);

    // The real clock never runs backwards.
    uint64 Previous = Time_GetCycleCount();
    for (int Round = 0; Round < 100000; Round++) {
        uint64 Now = Time_GetCycleCount();
        ASSERT_GE(Now, Previous);
        Previous = Now;
    }
    EXPECT_GE(Time_GetClockCount(), 0.0);
    EXPECT_EQ(Time_Init(), 1);
    EXPECT_EQ(Time_Remove(), 1);
}

TEST(TimeDeath, NullOutsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    uint8 Byte;
    int32 Year;
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Time_GetDecoded(&Byte, &Byte, nullptr, &Byte, &Byte, &Year, 0.0);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Time_ParseString("Sun, 06 Nov 1994 08:49:37 GMT", &Byte, &Byte, &Byte, &Byte, &Byte, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
