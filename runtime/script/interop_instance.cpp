// The bridge's instance table: creation through the families, references,
// removal and the instance half of the process step.
//
// Records come from the instance pool and sit in a case-less hash table
// under their id. A record leaves the table when a page's release drops its
// last reference (in the process step when a use was under way then), when
// its page goes away, or at the end. Every
// walk that calls out registers a cursor (interop_internal.h), so removals
// made from inside process, release or invoke functions never leave a walk
// on a freed member.
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/script/interop_internal.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

InteropInstance *InstanceOf(HashTableMember *Member) {
    uint64 Value = 0;
    HashTable_MemberGetValue(GlobalInterop->Instances, Member, &Value);
    return reinterpret_cast<InteropInstance *>(static_cast<uintptr>(Value));
}

const char *IdOf(HashTableMember *Member) {
    void *Key = nullptr;
    HashTable_MemberGetKey(GlobalInterop->Instances, Member, &Key);
    return static_cast<const char *>(Key);
}

HashTableMember *NextOf(HashTableMember *Member) {
    HashTableMember *Next = nullptr;
    HashTable_MemberGetNext(GlobalInterop->Instances, Member, &Next);
    return Next;
}

HashTableMember *FirstMember() {
    HashTableMember *First = nullptr;
    HashTable_MemberGetFirst(GlobalInterop->Instances, &First);
    return First;
}

struct LockGuard {
    LockGuard() { CriticalSection_Lock(GlobalInterop->Lock); }
    ~LockGuard() { CriticalSection_Unlock(GlobalInterop->Lock); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;
};

void MoveCursor(InteropCursor *Cursor, HashTableMember *Removed, HashTableMember *Successor) {
    if (Cursor->Member == Removed) Cursor->Member = Cursor->Advance ? Successor : nullptr;
}

// Step 4 of a creation: the family answered with the id of an instance that
// exists already; the record stays as it is.
void ReportMismatches(const InteropInstance *Old, const InteropInstance &New, const char *Id) {
    if (Old->Library != New.Library) Log_Debug("Library member doesn't match last instance (%s)\n", Id);
    if (Old->User != New.User) Log_Debug("User context pointer doesn't match last instance (%s)\n", Id);
    if (Old->Requester != New.Requester) Log_Debug("Request context pointer doesn't match last instance (%s)\n", Id);
    if (Old->Invoke != New.Invoke) Log_Debug("Invoke pointer doesn't match last instance (%s)\n", Id);
    if (Old->Release != New.Release) Log_Debug("Release pointer doesn't match last instance (%s)\n", Id);
    if (Old->Process != New.Process) Log_Debug("Process pointer doesn't match last instance (%s)\n", Id);
}

// Offers the class to the families in order; 1 with the instance's fields
// filled by the family that made it.
int32 CreateThroughFamilies(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                            Interop_ExecuteFunc ExecuteFunction, InteropInstance *Made) {
    InteropStruct *Global = GlobalInterop;
    CriticalSection_Lock(Global->Lock);
    for (InteropLibrary *Library = Global->Libraries.Head; Library != nullptr; Library = Library->Next) {
        if (Library->UnloadThread != nullptr) {
            Log_Debug("Trying to create an instance while shutting down (%s:%s)\n", ClassName, IdBuffer);
            continue;
        }
        *Made = InteropInstance{};
        CriticalSection_Unlock(Global->Lock);
        int32 Created = Library->Create(ClassName, IdBuffer, IdSize, ExecuteUser, ExecuteFunction, &Made->Invoke,
                                        &Made->Release, &Made->Process, &Made->User);
        if (Created == 1) {
            Made->Library = Library;
            return TRUE;
        }
        CriticalSection_Lock(Global->Lock);
    }
    CriticalSection_Unlock(Global->Lock);
    return FALSE;
}

} // namespace

int32 Interop_CreateInstanceTable(InteropStruct *Global) {
    HashTable_Create(&Global->Instances, INTEROP_ID_SIZE, InteropTableBuckets);
    HashTable_SetValueCallback(Global->Instances, nullptr, HashTable_StringValueWithoutCase);
    HashTable_SetCompareCallback(Global->Instances, nullptr, HashTable_StringCompareWithoutCase);
    Pool_Create(&Global->InstancePool);
    Pool_SetMemorySize(Global->InstancePool, (uint32)sizeof(InteropInstance));
    Pool_SetChunkSize(Global->InstancePool, InteropPoolChunk);
    return TRUE;
}

// Remaining instances are dropped without their release functions: the
// skin removes its pages' instances before the bridge ends.
void Interop_DeleteInstanceTable(InteropStruct *Global) {
    HashTableMember *Member = nullptr;
    for (HashTable_MemberGetFirst(Global->Instances, &Member); Member != nullptr; Member = NextOf(Member)) {
        InteropInstance *Instance = InstanceOf(Member);
        Pool_Free(Global->InstancePool, &Instance, (int32)sizeof(InteropInstance));
    }
    HashTable_Delete(&Global->Instances);
    Pool_Delete(&Global->InstancePool);
}

void Interop_CursorBegin(InteropCursor *Cursor, HashTableMember *Member, int32 Advance) {
    InteropStruct *Global = GlobalInterop;
    Cursor->Member = Member;
    Cursor->Advance = Advance;
    Cursor->Next = Global->Cursors;
    Global->Cursors = Cursor;
}

void Interop_CursorEnd(InteropCursor *Cursor) {
    for (InteropCursor **Link = &GlobalInterop->Cursors; *Link != nullptr; Link = &(*Link)->Next) {
        if (*Link != Cursor) continue;
        *Link = Cursor->Next;
        break;
    }
    Cursor->Next = nullptr;
}

InteropInstance *Interop_LookUp(const char *InstanceId, InteropCursor *Cursor) {
    InteropStruct *Global = Interop_Global();
    LockGuard Guard;
    HashTableMember *Member = nullptr;
    if (!HashTable_MemberFindByKey(Global->Instances, InstanceId, &Member)) return nullptr;
    InteropInstance *Instance = InstanceOf(Member);
    __atomic_add_fetch(&Instance->RefCount, 1, __ATOMIC_SEQ_CST);
    __atomic_add_fetch(&Instance->Borrowed, 1, __ATOMIC_SEQ_CST);
    if (Cursor != nullptr) Interop_CursorBegin(Cursor, Member, FALSE);
    return Instance;
}

void Interop_LookUpEnd(InteropInstance *Instance, InteropCursor *Cursor) {
    bool Removed = false;
    if (Cursor != nullptr) {
        Removed = Cursor->Member == nullptr;
        Interop_CursorEnd(Cursor);
    }
    if (Removed) return;
    __atomic_sub_fetch(&Instance->Borrowed, 1, __ATOMIC_SEQ_CST);
    __atomic_sub_fetch(&Instance->RefCount, 1, __ATOMIC_SEQ_CST);
}

void Interop_RemoveInstance(HashTableMember *Member) {
    InteropStruct *Global = GlobalInterop;
    InteropInstance *Instance = InstanceOf(Member);
    char Id[INTEROP_ID_SIZE];
    String_CopyLength(Id, IdOf(Member), (int32)sizeof(Id));
    {
        // The record leaves the table before its release function runs, so a
        // release that removes instances itself never reaches it again.
        LockGuard Guard;
        HashTableMember *Successor = NextOf(Member);
        MoveCursor(&Global->Saved, Member, Successor);
        for (InteropCursor *Cursor = Global->Cursors; Cursor != nullptr; Cursor = Cursor->Next)
            MoveCursor(Cursor, Member, Successor);
        HashTable_MemberRemove(Global->Instances, &Member);
    }
    if (Instance->Release != nullptr) Instance->Release(&Instance->User, Id);
    Pool_Free(Global->InstancePool, &Instance, (int32)sizeof(InteropInstance));
}

int32 Interop_CountLibraryInstances(InteropLibrary *Library) {
    int32 Count = 0;
    for (HashTableMember *Member = FirstMember(); Member != nullptr; Member = NextOf(Member))
        if (InstanceOf(Member)->Library == Library) Count++;
    return Count;
}

int32 Interop_DispatchCreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *Requester,
                                     void *ExecuteUser, Interop_ExecuteFunc ExecuteFunction) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(ClassName);
    Debug_CheckPointer(IdBuffer);
    if (IdSize < 1) return FALSE;

    char Given[INTEROP_ID_SIZE];
    String_CopyLength(Given, IdBuffer, (int32)sizeof(Given));
    if (IdBuffer[0] != 0) {
        if (String_CompareWithoutCase(IdBuffer, "undefined")) {
            IdBuffer[0] = 0;
        } else if (InteropInstance *Found = Interop_LookUp(IdBuffer, nullptr)) {
            // The look-up's reference is the new creation's to keep.
            __atomic_sub_fetch(&Found->Borrowed, 1, __ATOMIC_SEQ_CST);
            return TRUE;
        }
    }

    InteropInstance Made{};
    if (!CreateThroughFamilies(ClassName, IdBuffer, IdSize, ExecuteUser, ExecuteFunction, &Made)) {
        Log_Debug("Unhandled create instance (%s:%s)\n", ClassName, Given);
        String_CopyLength(IdBuffer, Given, IdSize < INTEROP_ID_SIZE ? IdSize : INTEROP_ID_SIZE);
        return FALSE;
    }
    if (IdBuffer[0] == 0) Interop_GenerateInstanceId(IdBuffer, IdSize);
    Made.RefCount = 1;
    Made.Time = Time_GetCurrent();
    Made.Requester = Requester;

    {
        LockGuard Guard;
        HashTableMember *Member = nullptr;
        if (HashTable_MemberFindByKey(Global->Instances, IdBuffer, &Member)) {
            InteropInstance *Existing = InstanceOf(Member);
            __atomic_add_fetch(&Existing->RefCount, 1, __ATOMIC_SEQ_CST);
            ReportMismatches(Existing, Made, IdBuffer);
        } else {
            auto *Instance = static_cast<InteropInstance *>(Pool_Alloc(Global->InstancePool,
                                                                       (int32)sizeof(InteropInstance)));
            *Instance = Made;
            HashTable_Add(Global->Instances, IdBuffer, reinterpret_cast<uintptr>(Instance));
        }
    }
    if (Global->Verbose) Log_Debug("Interop create instance (%s:%s)\n", IdBuffer, ClassName);
    return TRUE;
}

int32 Interop_DispatchHasInstance(const char *InstanceId) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(InstanceId);
    LockGuard Guard;
    return HashTable_ContainsKey(Global->Instances, InstanceId);
}

int32 Interop_DispatchReleaseInstance(const char *InstanceId) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(InstanceId);
    HashTableMember *Member = nullptr;
    bool Last = false;
    {
        LockGuard Guard;
        if (!HashTable_MemberFindByKey(Global->Instances, InstanceId, &Member)) {
            Log_Debug("Unable to release instance. (%s not found)\n", InstanceId);
            return FALSE;
        }
        // A page that releases more than it holds is refused: the count never
        // falls below what is in flight, and the record goes only once.
        InteropInstance *Instance = InstanceOf(Member);
        int32 Held = __atomic_load_n(&Instance->RefCount, __ATOMIC_SEQ_CST), Borrowed = 0;
        do {
            Borrowed = __atomic_load_n(&Instance->Borrowed, __ATOMIC_SEQ_CST);
            if (Held - Borrowed <= 0) {
                Log_Error("Unable to release instance. (%s holds no reference to release)\n", InstanceId);
                return FALSE;
            }
        } while (!__atomic_compare_exchange_n(&Instance->RefCount, &Held, Held - 1, false, __ATOMIC_SEQ_CST,
                                              __ATOMIC_SEQ_CST));
        Last = Held == 1 && Borrowed == 0;
    }
    // The last reference goes with its object at once, not at the next
    // process step: a page that creates and releases in a loop never lets a
    // step run, and would hold every object it ever made. One still in use
    // (a call or a step under way) goes when that use ends, at the next step.
    // Only the main thread removes records, so Member is still this one.
    if (Last) {
        if (Global->Verbose) Log_Debug("Interop remove instance (%s)\n", InstanceId);
        Interop_RemoveInstance(Member);
    }
    return TRUE;
}

// Counts the instances that match and re-stamps those older than 15 seconds
// (a window that waits for its page reports what keeps it open).
static int32 CountActive(void *Requester, InteropLibrary *Library) {
    InteropStruct *Global = Interop_Global();
    LockGuard Guard;
    float64 Now = Time_GetCurrent();
    int32 Count = 0;
    for (HashTableMember *Member = FirstMember(); Member != nullptr; Member = NextOf(Member)) {
        InteropInstance *Instance = InstanceOf(Member);
        if (Library != nullptr ? Instance->Library != Library : Instance->Requester != Requester) continue;
        Count++;
        if (Now - Instance->Time < InteropActiveReportSeconds) continue;
        if (Global->Verbose) Log_Debug("Interop instance (%s) active\n", IdOf(Member));
        Instance->Time = Now;
    }
    return Count;
}

int32 Interop_InstancesActiveInRequester(void *Requester) {
    Interop_AssertMainThread();
    return CountActive(Requester, nullptr);
}

int32 Interop_InstancesActiveInLibrary(InteropLibrary *Library) {
    Interop_AssertMainThread();
    Debug_CheckPointer(Library);
    return CountActive(nullptr, Library);
}

int32 Interop_RemoveInstancesActiveInRequester(void *Requester) {
    Interop_AssertMainThread();
    Interop_Global();
    InteropCursor Walk;
    Interop_CursorBegin(&Walk, FirstMember(), TRUE);
    while (Walk.Member != nullptr) {
        HashTableMember *Member = Walk.Member;
        Walk.Member = NextOf(Member);
        InteropInstance *Instance = InstanceOf(Member);
        if (Requester != nullptr && Instance->Requester != Requester) continue;
        if (Requester != nullptr || Instance->Requester != nullptr) Log_Debug("%s forcibly removed\n", IdOf(Member));
        Interop_RemoveInstance(Member);
    }
    Interop_CursorEnd(&Walk);
    return FALSE;
}

int32 Interop_ProcessInstances(float64 Start) {
    InteropStruct *Global = GlobalInterop;
    HashTableMember *Member = Global->Saved.Member != nullptr ? Global->Saved.Member : FirstMember();
    while (Member != nullptr) {
        Global->Saved.Member = NextOf(Member);
        InteropInstance *Instance = InstanceOf(Member);
        __atomic_add_fetch(&Instance->RefCount, 1, __ATOMIC_SEQ_CST);
        __atomic_add_fetch(&Instance->Borrowed, 1, __ATOMIC_SEQ_CST);
        InteropCursor Current;
        Interop_CursorBegin(&Current, Member, FALSE);
        if (Instance->Process != nullptr) Instance->Process(Instance->User);
        bool Removed = Current.Member == nullptr;
        Interop_CursorEnd(&Current);
        if (!Removed) {
            __atomic_sub_fetch(&Instance->Borrowed, 1, __ATOMIC_SEQ_CST);
            int32 Count = __atomic_sub_fetch(&Instance->RefCount, 1, __ATOMIC_SEQ_CST);
            if (Count < 0)
                Debug_Abort("Assertion failed (Instance->RefCount == 0)\nInvalid reference count on %s", IdOf(Member));
            if (Count == 0) {
                if (Global->Verbose) Log_Debug("Interop remove instance (%s)\n", IdOf(Member));
                Interop_RemoveInstance(Member);
            }
        }
        if (Time_GetCurrent() - Start >= InteropStepBudget) return FALSE;
        Member = Global->Saved.Member;
    }
    return TRUE;
}
