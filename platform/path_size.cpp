// The size of a directory tree for pages: computed on a thread of its own,
// one computation at a time, and reported to the page's callback through two
// notifications ("Path"/"DirectoryGetSizeResponse" from "Thread", handed on
// from the callback's id) so that the answer reaches the page on the main
// thread.
//
// The thread queues its answer instead of firing and waiting: the main
// thread's observer joins the thread, and a thread waiting for that very
// delivery could never be joined.
#include <string.h>

#include "platform/path_size.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/files/directory_list.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/script/interop.h"
#include "runtime/signal.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"

struct PathDirectorySizeState {
    int32 Running; // changed with Platform_CAS only
    Thread *ThreadHandle;
    // The callback of the request being computed, with a reference of its own.
    InteropCallback *Requester;
    // The sender its answer is handed on from: an id of our own, never the
    // page's callback id ("Global" would hear every sender's answer).
    char RequesterSender[INTEROP_CALLBACK_ID_SIZE];
};

PathDirectorySizeState Global_PathDirectorySize;

namespace {

constexpr const char *PathType = "Path";
constexpr const char *ResponseName = "DirectoryGetSizeResponse";
constexpr const char *ThreadSender = "Thread";
constexpr const char *ResponseFormat = "{\"successful\":%s,\"result\":%lld}";

struct SizeStart {
    const char *Path;
    Signal *Ready;
};

bool StillRunning() { return Platform_CAS(&Global_PathDirectorySize.Running, 0, 0) == 1; }

// Adds the allocated sizes under Directory (ending with "/"); false when the
// computation was stopped. Links are counted, never followed.
bool SumTree(const char *Directory, uint64 *Total) {
    if (!StillRunning()) return false;
    Thread_Tick();
    DirectoryList List;
    DirectoryList_Stack(&List);
    bool Completed = true;
    for (int32 More = DirectoryList_Start(&List, 0, Directory); More; More = DirectoryList_GetNext(&List)) {
        if (DirectoryList_IsDots(&List)) continue;
        if (DirectoryList_IsDirectory(&List) && !DirectoryList_IsSymLink(&List)) {
            char Sub[DIRECTORYLIST_DIRECTORY_SIZE];
            size_t DirectoryLength = strlen(Directory), NameLength = strlen(List.Entry.Name);
            if (DirectoryLength + NameLength + 1 >= sizeof(Sub)) continue; // cannot be named: adds nothing
            memcpy(Sub, Directory, DirectoryLength);
            memcpy(Sub + DirectoryLength, List.Entry.Name, NameLength);
            memcpy(Sub + DirectoryLength + NameLength, "/", 2);
            if (!SumTree(Sub, Total)) {
                Completed = false;
                break;
            }
            continue;
        }
        *Total += List.Entry.AllocatedSize;
        if (!StillRunning()) {
            Completed = false;
            break;
        }
    }
    DirectoryList_Unstack(&List);
    return Completed;
}

int32 SizeThread(void *User) {
    auto *Start = static_cast<SizeStart *>(User);
    // One byte more than the count uses tells a path that fits from a cut
    // one, which would be the size of another directory.
    char Root[DIRECTORYLIST_DIRECTORY_SIZE + 1];
    Path_Resolve(Start->Path, Root, sizeof(Root));
    Path_Fix(Root, sizeof(Root), PATH_FIX_ENSURE_TRAILING);
    Signal_Set(Start->Ready, 1); // Start and the path are the caller's
    uint64 Total = 0;
    bool Listed = false;
    if (strlen(Root) < DIRECTORYLIST_DIRECTORY_SIZE - 1) {
        DirectoryList Probe;
        DirectoryList_Stack(&Probe);
        Listed = DirectoryList_Start(&Probe, 0, Root) == 1;
        DirectoryList_Unstack(&Probe);
    }
    bool Completed = Listed && SumTree(Root, &Total);
    NotificationCenter_FireAfterDelayWithJSON(PathType, ResponseName, ThreadSender, 0, ResponseFormat,
                                              Completed ? "true" : "false", (long long)Total);
    return 0;
}

// The page's side: raises its callback with the answer once, then lets go.
int32 CallbackObserver(void *User, const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo) {
    auto *Callback = static_cast<InteropCallback *>(User);
    NotificationCenter_RemoveInstanceObserver(Type, Name, Instance, User, CallbackObserver);
    Dictionary *Item = nullptr;
    Dictionary_Create(&Item);
    Dictionary_AddString(Item, "callbackId", Interop_GetCallbackId(Callback), nullptr);
    Dictionary_AddString(Item, "type", "FileSystem", nullptr);
    Dictionary_AddString(Item, "sender", "Global", nullptr);
    Dictionary *Info = nullptr;
    Dictionary_AddDictionary(Item, "info", &Info, nullptr);
    if (UserInfo != nullptr) Dictionary_Merge(Info, UserInfo, DICTIONARY_MERGE_OVERWRITE);
    Interop_RaiseCallback(Callback, Item);
    Dictionary_Release(&Item);
    Interop_ReleaseCallback(&Callback);
    return TRUE;
}

// The main thread's side of the computation: ends the thread and hands the
// answer on to the requesting callback.
int32 ThreadObserver(void *User, const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo) {
    (void)User;
    NotificationCenter_RemoveInstanceObserver(Type, Name, Instance, nullptr, ThreadObserver);
    Thread_Join(-1, &Global_PathDirectorySize.ThreadHandle);
    InteropCallback *Requester = Global_PathDirectorySize.Requester;
    Global_PathDirectorySize.Requester = nullptr;
    char Sender[INTEROP_CALLBACK_ID_SIZE];
    String_CopyLength(Sender, Global_PathDirectorySize.RequesterSender, (int32)sizeof(Sender));
    Platform_CAS(&Global_PathDirectorySize.Running, 0, 1);
    if (Requester != nullptr) {
        NotificationCenter_Fire(PathType, ResponseName, Sender, UserInfo);
        Interop_ReleaseCallback(&Requester);
    }
    return TRUE;
}

} // namespace

extern "C" int32 Path_GetDirectorySize(const char *Path, const char *CallbackId) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(CallbackId);
    InteropCallback *Callback = nullptr;
    Interop_AddCallback(CallbackId, nullptr, Interop_Execute, &Callback);
    char Id[INTEROP_CALLBACK_ID_SIZE];
    Interop_GenerateInstanceId(Id, (int32)sizeof(Id));
    NotificationCenter_AddInstanceObserver(PathType, ResponseName, Id, Callback, CallbackObserver);

    if (Platform_CAS(&Global_PathDirectorySize.Running, 1, 0) != 0) {
        NotificationCenter_FireAfterDelayWithJSON(PathType, ResponseName, Id, 0, ResponseFormat, "false", 0LL);
        return 1;
    }
    if (Global_PathDirectorySize.ThreadHandle != nullptr)
        Debug_Abort("Assertion failed (Global_PathDirectorySize.ThreadHandle == NULL)\n"
                    "No alive thread must be at this moment");
    Global_PathDirectorySize.Requester = Interop_AddRefCallback(Callback);
    String_CopyLength(Global_PathDirectorySize.RequesterSender, Id, INTEROP_CALLBACK_ID_SIZE);
    NotificationCenter_AddInstanceObserver(PathType, ResponseName, ThreadSender, nullptr, ThreadObserver);
    SizeStart Start{Path, nullptr};
    Signal_Create(&Start.Ready);
    if (Thread_Begin(&Global_PathDirectorySize.ThreadHandle, &Start, SizeThread)) {
        Signal_Wait(Start.Ready, nullptr, -1);
    } else {
        // Nothing will answer: the page hears a failure like a busy request.
        NotificationCenter_RemoveInstanceObserver(PathType, ResponseName, ThreadSender, nullptr, ThreadObserver);
        Interop_ReleaseCallback(&Global_PathDirectorySize.Requester);
        Platform_CAS(&Global_PathDirectorySize.Running, 0, 1);
        NotificationCenter_FireAfterDelayWithJSON(PathType, ResponseName, Id, 0, ResponseFormat, "false", 0LL);
    }
    Signal_Delete(&Start.Ready);
    return 1;
}

extern "C" int32 Path_Init(void) { return 1; }

extern "C" int32 Path_Remove(void) {
    Platform_CAS(&Global_PathDirectorySize.Running, 0, 1);
    if (Global_PathDirectorySize.ThreadHandle != nullptr) Thread_Join(-1, &Global_PathDirectorySize.ThreadHandle);
    if (Global_PathDirectorySize.Requester != nullptr) {
        // The answer was queued but never delivered: nobody waits for it now.
        NotificationCenter_RemoveInstanceObserver(PathType, ResponseName, ThreadSender, nullptr, ThreadObserver);
        Interop_ReleaseCallback(&Global_PathDirectorySize.Requester);
    }
    return 1;
}
