// Meters: byte counters at the points where I/O happens, arranged in a tree
// that ends in the process's root meter. A byte reported to a meter is
// counted by every ancestor too; a rate is measured once a second by the
// tick (Meter_Process); a bandwidth limit on any meter throttles everything
// beneath it through a token bucket (Allowance).
//
// A metered transfer asks Meter_Limit how much it may move (which reserves
// that much in every bucket on the way to the root), moves at most that, and
// reports what really passed with Meter_Report (which gives the unused part
// of the reservation back). A MeterRW pairs a read and a write meter; I/O
// objects own one and hang it under their owner's.
//
// Ownership: a parent does not own its children. Deleting a meter leaves its
// children alive and parentless. The tree is acyclic: hanging a meter under
// itself or one of its descendants is a fatal stop.
//
// Concurrency: one recursive lock of the meter module guards every field of
// every meter, so reports on I/O threads and the tick on the main thread see
// whole chains. Before Meter_Init (and after Meter_Remove) there is no lock;
// meters used then must stay on one thread.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define METER_CLASSID 0x03daa48fu
#define METERRW_CLASSID 0x1fc9f960u
#define METER_MODULE_TAG 0x8b1ea9deu

RUNTIME_EXTERN_C_BEGIN

struct Meter;

// The children of a meter. It carries the meter class id in a header of its
// own, checked before every walk, so that a stray pointer stops at once.
typedef struct MeterChildList {
    ClassStruct Class;
    struct Meter *First;
    struct Meter *Last;
    int32 Count;
} MeterChildList;

typedef struct Meter {
    ClassStruct Class;
    struct Meter *Parent;
    int64 Overall;           // bytes reported in total
    int32 PeriodBytes;       // bytes reported since the last rate calculation
    int32 Granted;           // bytes granted by the last Meter_Limit, not yet settled by a report
    int32 Allowance;         // the token bucket: bytes that may still pass under the limit
    int32 Limit;             // bytes per second; below 1 = none (-1 after a reset)
    float64 CurrentBandwidth; // bytes per second over the last period
    float64 MaxBandwidth;
    MeterChildList Children;
    int32 Verbose;           // 1 logs every report
    struct Meter *NextSibling;
    struct Meter *PreviousSibling;
} Meter;

typedef struct MeterRW {
    ClassStruct Class;
    Meter *Read;
    Meter *Write;
} MeterRW;

// Module: Init makes the lock and the root meter and dates both the last rate
// calculation and the last accrual one second back, so that the first tick
// does both at once. Remove deletes the root (its children become
// parentless), then the lock.
int32 Meter_Init(void);
int32 Meter_Remove(void);
// 1 between Meter_Init and Meter_Remove.
int32 Meter_IsInitialized(void);
// The root meter; calling it before Meter_Init is a fatal stop.
Meter *Meter_RootHandle(void);
// The tick: rates once a second over the tree under the root, and the
// buckets' accrual for the time since the last one. Always 1.
int32 Meter_Process(void);

// A parentless meter without limit, reference count 1. Always 1.
int32 Meter_Create(Meter **Handle);
// Detaches every child, leaves the parent, frees the meter and clears the
// handle (normally reached through Meter_Release).
int32 Meter_Delete(Meter **Handle);
CLASS_DECLARE_REFERENCE(Meter, Meter)

// Moves the meter to the end of the new parent's children; null detaches it.
int32 Meter_SetParentHandle(Meter *Handle, Meter *Parent);

// Trims *Bytes to what every limit on the way to the root allows and reserves
// it. 1 when bytes may pass (also unchanged when no limit applies); 0 when
// *Bytes was below 1 or nothing is left in a bucket (then *Bytes is 0).
int32 Meter_Limit(Meter *Handle, int32 *Bytes);
// Counts the bytes that passed (on the meter and every ancestor) and gives
// back the unused part of the last grant. Always 1.
int32 Meter_Report(Meter *Handle, int32 Bytes);

// Overall, CurrentBandwidth and MaxBandwidth to 0 and Limit to -1, on the
// meter and all its descendants; ResetCounters leaves the limits.
int32 Meter_Reset(Meter *Handle);
int32 Meter_ResetCounters(Meter *Handle);

int32 Meter_GetOverallUsage(Meter *Handle, int64 *Bytes);
int32 Meter_GetCurrentBandwidth(Meter *Handle, float64 *Rate);
int32 Meter_GetMaxBandwidth(Meter *Handle, float64 *Rate);
// The effective limit: the smallest positive limit on the way to the root,
// or a value below 1 when there is none.
int32 Meter_GetLimitBandwidth(Meter *Handle, int32 *Limit);
// 0 to 1,023 become 1,024 (the smallest limit); a negative limit is none.
// A new positive limit fills the buckets of the meter and its subtree with
// one second's worth at once.
int32 Meter_SetLimitBandwidth(Meter *Handle, int32 Limit);
int32 Meter_SetVerbose(Meter *Handle, int32 Level);

// MeterRW: each operation forwards to the read side, the write side or both.
int32 MeterRW_Create(MeterRW **Handle);
int32 MeterRW_Delete(MeterRW **Handle);
CLASS_DECLARE_REFERENCE(MeterRW, MeterRW)
int32 MeterRW_Reset(MeterRW *Handle);
int32 MeterRW_ResetCounters(MeterRW *Handle);
int32 MeterRW_ReportRead(MeterRW *Handle, int32 Bytes);
int32 MeterRW_ReportWrite(MeterRW *Handle, int32 Bytes);
int32 MeterRW_LimitRead(MeterRW *Handle, int32 *Bytes);
int32 MeterRW_LimitWrite(MeterRW *Handle, int32 *Bytes);
// Read side under the parent's read side, write side under its write side;
// null detaches both.
int32 MeterRW_SetParentHandle(MeterRW *Handle, MeterRW *Parent);
// One side under any meter (the root meter at the top of the tree).
int32 MeterRW_SetReadParentHandle(MeterRW *Handle, Meter *Parent);
int32 MeterRW_SetWriteParentHandle(MeterRW *Handle, Meter *Parent);
// Outputs may be null.
int32 MeterRW_GetOverallUsage(MeterRW *Handle, int64 *Read, int64 *Written);
int32 MeterRW_GetCurrentBandwidth(MeterRW *Handle, float64 *Read, float64 *Write);
int32 MeterRW_GetMaxBandwidth(MeterRW *Handle, float64 *Read, float64 *Write);
int32 MeterRW_GetLimitBandwidth(MeterRW *Handle, int32 *Read, int32 *Write);
int32 MeterRW_SetLimitBandwidth(MeterRW *Handle, int32 ReadLimit, int32 WriteLimit);
int32 MeterRW_SetVerbose(MeterRW *Handle, int32 Level);
int32 MeterRW_SetVerboseRead(MeterRW *Handle, int32 Level);
int32 MeterRW_SetVerboseWrite(MeterRW *Handle, int32 Level);

RUNTIME_EXTERN_C_END
