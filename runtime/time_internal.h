// Calendar arithmetic shared by the time sources (time.cpp, time_format.cpp,
// time_parse.cpp). Fields are wide and signed here: a zone may move an hour
// below 0, and nothing narrows until a public out is written.
#pragma once

#include "runtime/types.h"

struct TimeFields {
    int64 Year;
    int64 Month;
    int64 Day;
    int64 Hour;
    int64 Minute;
    int64 Second;
};

// 0 and a cleared out for a month outside 1-12; years before 1970 count as 1970.
int32 TimeInt_Encode(float64 *Encoded, int64 Hour, int64 Minute, int64 Second, int64 Month, int64 Day, int64 Year);
// 0 and cleared fields for a negative, non-finite or undecodably large time.
int32 TimeInt_Decode(TimeFields *Fields, float64 Encoded);
// Writes decoded or parsed fields to the six public outs, narrowed.
void TimeInt_WriteFields(const TimeFields *Fields, uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month,
                         uint8 *Day, int32 *Year);
// 0 (Sunday) to 6; Month must be 1-12.
int32 TimeInt_DayOfWeek(int64 Month, int64 Day, int64 Year);
