// Meters: counting, rates and token-bucket limits over a tree of meters.
// See meter.h for the calling order of a metered transfer and the locking.
//
// Every bucket sum is formed in 64 bits and clamped before it is stored in
// its 32-bit field: a long pause between ticks, a limit near INT32_MAX or
// gigabytes reserved through an unlimited ancestor must not wrap a bucket.
#include "runtime/streams/meter.h"

#include <math.h>

#include <algorithm>

#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/time.h"

namespace {

struct MeterModule {
    uint32 Tag;
    Meter *Root;
    void *Lock;
    float64 LastRateTime;
    float64 LastAccrualTime;
};

MeterModule *GlobalMeter = nullptr;

#define Meter_Check(Handle) Class_CheckHandle((Handle), METER_CLASSID)
#define MeterRW_Check(Handle) Class_CheckHandle((Handle), METERRW_CLASSID)

// Holds the module lock for a scope; nothing to hold while there is no module.
struct MeterLock : CriticalSectionGuard {
    MeterLock() : CriticalSectionGuard(GlobalMeter != nullptr ? GlobalMeter->Lock : nullptr) {}
};

int32 ClampToInt32(int64 Value) { return (int32)std::clamp<int64>(Value, INT32_MIN, INT32_MAX); }

// floor(Limit x 1.05) with both factors in single precision: 1,050 for 1,000
// and 104,999 for 100,000.
int32 BucketCap(int32 Limit) {
    float Product = (float)Limit * 1.05f;
    float Floor = floorf(Product);
    if (Floor >= 2147483647.0f) return INT32_MAX;
    return (int32)Floor;
}

// Adds to a limited meter's bucket, never beyond its cap.
void Refill(Meter *Handle, int64 Amount) {
    Handle->Allowance = (int32)std::min<int64>(BucketCap(Handle->Limit), (int64)Handle->Allowance + Amount);
}

template <typename Visit> void ForEachChild(Meter *Handle, Visit &&Function) {
    Class_CheckHandle(&Handle->Children, METER_CLASSID);
    for (Meter *Child = Handle->Children.First; Child != nullptr;) {
        Meter *Next = Child->NextSibling;
        Function(Child);
        Child = Next;
    }
}

// The buckets of the meter and its subtree grow by Seconds' worth of their limit.
void Accrue(Meter *Handle, float64 Seconds) {
    if (Handle->Limit > 0) {
        float64 Amount = floor((float64)Handle->Limit * Seconds);
        Amount = std::clamp(Amount, (float64)INT32_MIN, (float64)INT32_MAX);
        Refill(Handle, (int64)Amount);
    }
    ForEachChild(Handle, [Seconds](Meter *Child) { Accrue(Child, Seconds); });
}

void CalculateRates(Meter *Handle, float64 Elapsed) {
    Handle->CurrentBandwidth = (float64)Handle->PeriodBytes / Elapsed;
    Handle->MaxBandwidth = std::max(Handle->MaxBandwidth, Handle->CurrentBandwidth);
    Handle->PeriodBytes = 0;
    ForEachChild(Handle, [Elapsed](Meter *Child) { CalculateRates(Child, Elapsed); });
}

void ResetTree(Meter *Handle, bool WithLimit) {
    Handle->Overall = 0;
    Handle->MaxBandwidth = 0.0;
    Handle->CurrentBandwidth = 0.0;
    if (WithLimit) Handle->Limit = -1;
    ForEachChild(Handle, [WithLimit](Meter *Child) { ResetTree(Child, WithLimit); });
}

// The smallest positive limit on the way to the root; the meter's own limit
// when there is none.
int32 EffectiveLimit(const Meter *Handle) {
    int32 Smallest = 0;
    for (const Meter *Step = Handle; Step != nullptr; Step = Step->Parent)
        if (Step->Limit > 0 && (Smallest < 1 || Step->Limit < Smallest)) Smallest = Step->Limit;
    return Smallest > 0 ? Smallest : Handle->Limit;
}

void Unlink(Meter *Handle) {
    Meter *Parent = Handle->Parent;
    if (Parent == nullptr) return;
    MeterChildList *List = &Parent->Children;
    Class_CheckHandle(List, METER_CLASSID);
    if (Handle->PreviousSibling != nullptr) Handle->PreviousSibling->NextSibling = Handle->NextSibling;
    else List->First = Handle->NextSibling;
    if (Handle->NextSibling != nullptr) Handle->NextSibling->PreviousSibling = Handle->PreviousSibling;
    else List->Last = Handle->PreviousSibling;
    List->Count--;
    Handle->Parent = nullptr;
    Handle->NextSibling = nullptr;
    Handle->PreviousSibling = nullptr;
}

void Append(Meter *Handle, Meter *Parent) {
    MeterChildList *List = &Parent->Children;
    Class_CheckHandle(List, METER_CLASSID);
    Handle->Parent = Parent;
    Handle->PreviousSibling = List->Last;
    Handle->NextSibling = nullptr;
    if (List->Last != nullptr) List->Last->NextSibling = Handle;
    else List->First = Handle;
    List->Last = Handle;
    List->Count++;
}

// Reads one figure from each side of a read/write pair; a null out-value
// skips its side, so a caller can ask for one direction only.
template <typename Value>
int32 GetBothSides(MeterRW *Handle, int32 (*Get)(Meter *, Value *), Value *Read, Value *Write) {
    MeterRW_Check(Handle);
    if (Read != nullptr) Get(Handle->Read, Read);
    if (Write != nullptr) Get(Handle->Write, Write);
    return TRUE;
}

int32 DeleteThroughClass(void *HandleAddress) { return Meter_Delete(static_cast<Meter **>(HandleAddress)); }
int32 DeleteRWThroughClass(void *HandleAddress) { return MeterRW_Delete(static_cast<MeterRW **>(HandleAddress)); }

} // namespace

// ---- Module ----

int32 Meter_Init(void) {
    Debug_Assert(GlobalMeter == nullptr, "Meter module already initialized");
    MeterModule *Module = Memory_New(MeterModule);
    Module->Tag = METER_MODULE_TAG;
    CriticalSection_Create(&Module->Lock);
    Meter_Create(&Module->Root);
    float64 Now = Time_GetCurrent();
    Module->LastRateTime = Now - 1.0;
    Module->LastAccrualTime = Now - 1.0;
    GlobalMeter = Module;
    return TRUE;
}

int32 Meter_Remove(void) {
    MeterModule *Module = GlobalMeter;
    if (Module == nullptr) return FALSE;
    Meter_Delete(&Module->Root);
    GlobalMeter = nullptr;
    CriticalSection_Delete(&Module->Lock);
    Module->Tag = 0;
    Memory_Delete(Module);
    return TRUE;
}

int32 Meter_IsInitialized(void) { return GlobalMeter != nullptr; }

Meter *Meter_RootHandle(void) {
    Debug_Assert(GlobalMeter != nullptr, "Meter module not initialized");
    return GlobalMeter->Root;
}

int32 Meter_Process(void) {
    MeterModule *Module = GlobalMeter;
    if (Module == nullptr) return FALSE;
    float64 Now = Time_GetCurrent();
    MeterLock Lock;
    if (Now >= Module->LastRateTime + 1.0) {
        CalculateRates(Module->Root, Now - Module->LastRateTime);
        Module->LastRateTime = Now;
    }
    if (Now >= Module->LastAccrualTime + 1.0) {
        Accrue(Module->Root, Now - Module->LastAccrualTime);
        Module->LastAccrualTime = Now;
    }
    return TRUE;
}

// ---- Meter ----

int32 Meter_Create(Meter **Handle) {
    Debug_CheckPointer(Handle);
    Meter *New = Memory_New(Meter);
    Class_InitHeader(New, METER_CLASSID, DeleteThroughClass);
    New->Children.Class.ClassId = METER_CLASSID;
    Meter_Reset(New);
    *Handle = New;
    return TRUE;
}

int32 Meter_Delete(Meter **Handle) {
    Debug_CheckPointer(Handle);
    Meter *Old = *Handle;
    Meter_Check(Old);
    {
        MeterLock Lock;
        ForEachChild(Old, [](Meter *Child) {
            Child->Parent = nullptr;
            Child->NextSibling = nullptr;
            Child->PreviousSibling = nullptr;
        });
        Old->Children.First = nullptr;
        Old->Children.Last = nullptr;
        Old->Children.Count = 0;
        Unlink(Old);
    }
    Old->Children.Class.ClassId = 0;
    Old->Class.ClassId = 0;
    Memory_Delete(Old);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(Meter, Meter, METER_CLASSID)

int32 Meter_SetParentHandle(Meter *Handle, Meter *Parent) {
    Meter_Check(Handle);
    if (Parent != nullptr) Meter_Check(Parent);
    MeterLock Lock;
    // Every walk goes up to a parentless meter; a cycle would never end.
    for (const Meter *Step = Parent; Step != nullptr; Step = Step->Parent)
        Debug_Assert(Step != Handle, "A meter cannot hang under itself or its own descendant (0x%p)", (void *)Handle);
    Unlink(Handle);
    if (Parent != nullptr) Append(Handle, Parent);
    return TRUE;
}

int32 Meter_Limit(Meter *Handle, int32 *Bytes) {
    Meter_Check(Handle);
    Debug_CheckPointer(Bytes);
    if (*Bytes < 1) return FALSE;
    MeterLock Lock;
    if (EffectiveLimit(Handle) < 1) {
        Handle->Granted = 0;
        return TRUE;
    }
    int32 Grant = *Bytes;
    for (const Meter *Step = Handle; Step != nullptr; Step = Step->Parent)
        if (Step->Limit > 0) Grant = std::min({Grant, Step->Allowance, Step->Limit});
    Grant = std::max(Grant, 0);
    Handle->Granted = Grant;
    // Unlimited ancestors are charged too (their buckets only matter once a
    // limit is set, which empties them), so they are clamped, not wrapped.
    for (Meter *Step = Handle; Step != nullptr; Step = Step->Parent)
        Step->Allowance = ClampToInt32((int64)Step->Allowance - Grant);
    *Bytes = Grant;
    return Grant > 0;
}

int32 Meter_Report(Meter *Handle, int32 Bytes) {
    Meter_Check(Handle);
    MeterLock Lock;
    if (Handle->Granted >= 1 && Handle->Granted > Bytes) {
        // A negative count passed nothing: it returns the grant, never more.
        int64 Unused = (int64)Handle->Granted - std::max(Bytes, 0);
        for (Meter *Step = Handle; Step != nullptr; Step = Step->Parent)
            if (Step->Limit > 0) Refill(Step, Unused);
        Handle->Granted = 0;
    }
    if (Bytes < 1) return TRUE;
    for (Meter *Step = Handle; Step != nullptr; Step = Step->Parent) {
        Step->Overall += Bytes;
        Step->PeriodBytes = ClampToInt32((int64)Step->PeriodBytes + Bytes);
        if (Step->Verbose == 1)
            Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Meter 0x%p reported %d bytes, counted overall %d bytes\n",
                         (void *)Step, Bytes, ClampToInt32(Step->Overall));
    }
    return TRUE;
}

int32 Meter_Reset(Meter *Handle) {
    Meter_Check(Handle);
    MeterLock Lock;
    ResetTree(Handle, true);
    return TRUE;
}

int32 Meter_ResetCounters(Meter *Handle) {
    Meter_Check(Handle);
    MeterLock Lock;
    ResetTree(Handle, false);
    return TRUE;
}

int32 Meter_GetOverallUsage(Meter *Handle, int64 *Bytes) {
    Meter_Check(Handle);
    Debug_CheckPointer(Bytes);
    MeterLock Lock;
    *Bytes = Handle->Overall;
    return TRUE;
}

int32 Meter_GetCurrentBandwidth(Meter *Handle, float64 *Rate) {
    Meter_Check(Handle);
    Debug_CheckPointer(Rate);
    MeterLock Lock;
    *Rate = Handle->CurrentBandwidth;
    return TRUE;
}

int32 Meter_GetMaxBandwidth(Meter *Handle, float64 *Rate) {
    Meter_Check(Handle);
    Debug_CheckPointer(Rate);
    MeterLock Lock;
    *Rate = Handle->MaxBandwidth;
    return TRUE;
}

int32 Meter_GetLimitBandwidth(Meter *Handle, int32 *Limit) {
    Meter_Check(Handle);
    Debug_CheckPointer(Limit);
    MeterLock Lock;
    *Limit = EffectiveLimit(Handle);
    return TRUE;
}

int32 Meter_SetLimitBandwidth(Meter *Handle, int32 Limit) {
    Meter_Check(Handle);
    // One KiB per second is the smallest limit.
    if (Limit >= 0 && Limit < 1024) Limit = 1024;
    MeterLock Lock;
    if (Limit != Handle->Limit) {
        Handle->Limit = Limit;
        Handle->Allowance = 0;
        if (Limit > 0) Accrue(Handle, 1.0);
    }
    return TRUE;
}

int32 Meter_SetVerbose(Meter *Handle, int32 Level) {
    Meter_Check(Handle);
    Handle->Verbose = Level;
    return TRUE;
}

// ---- MeterRW ----

int32 MeterRW_Create(MeterRW **Handle) {
    Debug_CheckPointer(Handle);
    MeterRW *New = Memory_New(MeterRW);
    Class_InitHeader(New, METERRW_CLASSID, DeleteRWThroughClass);
    Meter_Create(&New->Read);
    Meter_Create(&New->Write);
    *Handle = New;
    return TRUE;
}

int32 MeterRW_Delete(MeterRW **Handle) {
    Debug_CheckPointer(Handle);
    MeterRW *Old = *Handle;
    MeterRW_Check(Old);
    Meter_SetParentHandle(Old->Read, nullptr);
    Meter_SetParentHandle(Old->Write, nullptr);
    Meter_Delete(&Old->Read);
    Meter_Delete(&Old->Write);
    Old->Class.ClassId = 0;
    Memory_Delete(Old);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(MeterRW, MeterRW, METERRW_CLASSID)

int32 MeterRW_Reset(MeterRW *Handle) {
    MeterRW_Check(Handle);
    Meter_Reset(Handle->Read);
    Meter_Reset(Handle->Write);
    return TRUE;
}

int32 MeterRW_ResetCounters(MeterRW *Handle) {
    MeterRW_Check(Handle);
    Meter_ResetCounters(Handle->Read);
    Meter_ResetCounters(Handle->Write);
    return TRUE;
}

int32 MeterRW_ReportRead(MeterRW *Handle, int32 Bytes) {
    MeterRW_Check(Handle);
    return Meter_Report(Handle->Read, Bytes);
}

int32 MeterRW_ReportWrite(MeterRW *Handle, int32 Bytes) {
    MeterRW_Check(Handle);
    return Meter_Report(Handle->Write, Bytes);
}

int32 MeterRW_LimitRead(MeterRW *Handle, int32 *Bytes) {
    MeterRW_Check(Handle);
    return Meter_Limit(Handle->Read, Bytes);
}

int32 MeterRW_LimitWrite(MeterRW *Handle, int32 *Bytes) {
    MeterRW_Check(Handle);
    return Meter_Limit(Handle->Write, Bytes);
}

int32 MeterRW_SetParentHandle(MeterRW *Handle, MeterRW *Parent) {
    MeterRW_Check(Handle);
    if (Parent != nullptr) MeterRW_Check(Parent);
    Meter_SetParentHandle(Handle->Read, Parent != nullptr ? Parent->Read : nullptr);
    Meter_SetParentHandle(Handle->Write, Parent != nullptr ? Parent->Write : nullptr);
    return TRUE;
}

int32 MeterRW_SetReadParentHandle(MeterRW *Handle, Meter *Parent) {
    MeterRW_Check(Handle);
    return Meter_SetParentHandle(Handle->Read, Parent);
}

int32 MeterRW_SetWriteParentHandle(MeterRW *Handle, Meter *Parent) {
    MeterRW_Check(Handle);
    return Meter_SetParentHandle(Handle->Write, Parent);
}

int32 MeterRW_GetOverallUsage(MeterRW *Handle, int64 *Read, int64 *Written) {
    return GetBothSides(Handle, Meter_GetOverallUsage, Read, Written);
}

int32 MeterRW_GetCurrentBandwidth(MeterRW *Handle, float64 *Read, float64 *Write) {
    return GetBothSides(Handle, Meter_GetCurrentBandwidth, Read, Write);
}

int32 MeterRW_GetMaxBandwidth(MeterRW *Handle, float64 *Read, float64 *Write) {
    return GetBothSides(Handle, Meter_GetMaxBandwidth, Read, Write);
}

int32 MeterRW_GetLimitBandwidth(MeterRW *Handle, int32 *Read, int32 *Write) {
    return GetBothSides(Handle, Meter_GetLimitBandwidth, Read, Write);
}

int32 MeterRW_SetLimitBandwidth(MeterRW *Handle, int32 ReadLimit, int32 WriteLimit) {
    MeterRW_Check(Handle);
    Meter_SetLimitBandwidth(Handle->Read, ReadLimit);
    Meter_SetLimitBandwidth(Handle->Write, WriteLimit);
    return TRUE;
}

int32 MeterRW_SetVerbose(MeterRW *Handle, int32 Level) {
    MeterRW_Check(Handle);
    Meter_SetVerbose(Handle->Read, Level);
    Meter_SetVerbose(Handle->Write, Level);
    return TRUE;
}

int32 MeterRW_SetVerboseRead(MeterRW *Handle, int32 Level) {
    MeterRW_Check(Handle);
    return Meter_SetVerbose(Handle->Read, Level);
}

int32 MeterRW_SetVerboseWrite(MeterRW *Handle, int32 Level) {
    MeterRW_Check(Handle);
    return Meter_SetVerbose(Handle->Write, Level);
}
