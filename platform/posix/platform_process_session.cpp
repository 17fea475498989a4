// The host's session services: the single-instance guard, sleep prevention,
// restart and the shortcut calls this platform does not have.
//
// Sleep prevention is a deadline on the monotonic clock: every request moves
// it 300 seconds ahead, and the power answers compare against it. The hold
// on display sleep lasts only while the deadline lies ahead.
#include <unistd.h>

#include <mutex>

#include "platform/app_mark.h"
#include "platform/posix/platform_process_session.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/text/string_print.h"
#include "runtime/time.h"

namespace {

constexpr float64 SleepHoldSeconds = 300.0;

std::mutex SleepLock;
float64 SleepDeadline = 0; // 0: none
bool SleepHeld = false;

// The mark lives in the platform's global record; before the platform has
// started (tools, tests) it is kept here.
void *StandaloneMark = nullptr;

void *&MarkSlot() { return GlobalPlatform != nullptr ? GlobalPlatform->AppMark : StandaloneMark; }

AppMark *Mark() { return static_cast<AppMark *>(MarkSlot()); }

// Drops the hold once its deadline has passed; true while it lasts.
bool HoldLasts(float64 Now) {
    if (SleepDeadline > 0 && Now > SleepDeadline) {
        SleepDeadline = 0;
        SleepHeld = false;
    }
    return SleepDeadline > 0;
}

} // namespace

int32 Platform_Singleton(const char *Name, int32 TimeoutMs) {
    if (Mark() == nullptr) {
        AppMark *Created = nullptr;
        AppMark_Create(&Created);
        char Full[320];
        String_Print(Full, (int32)sizeof(Full), "%s-EXCLUSIVE", Name != nullptr ? Name : "");
        AppMark_SetName(Created, Full);
        MarkSlot() = Created;
    }
    return AppMark_AcquireWithTimeout(Mark(), TimeoutMs) ? FALSE : TRUE;
}

int32 Platform_SingletonGetName(char *Buffer, int32 Length) {
    return Mark() != nullptr ? AppMark_GetName(Mark(), Buffer, Length) : FALSE;
}

int32 Platform_SingletonSetDataCallback(void *User, Platform_SingletonDataFunc Function) {
    return Mark() != nullptr ? AppMark_SetOnDataCallback(Mark(), User, Function) : FALSE;
}

int32 Platform_SingletonReadData(void) { return Mark() != nullptr ? AppMark_ReadData(Mark()) : FALSE; }

int32 Platform_SingletonSendData(const void *Data, int32 Length) {
    return Mark() != nullptr ? AppMark_WriteData(Mark(), Data, Length) : FALSE;
}

int32 Platform_SingletonEnd(void) {
    if (Mark() == nullptr) return TRUE;
    AppMark *Held = Mark();
    MarkSlot() = nullptr;
    return AppMark_Delete(&Held);
}

int32 Platform_PreventSystemSleep(int32 Prevent) {
    std::lock_guard<std::mutex> Guard(SleepLock);
    if (Prevent) {
        SleepHeld = true;
        SleepDeadline = Time_GetCurrent() + SleepHoldSeconds;
    } else {
        SleepDeadline = 0;
        SleepHeld = false;
    }
    return TRUE;
}

int32 Platform_SleepCallBack(int32 Message) {
    std::lock_guard<std::mutex> Guard(SleepLock);
    const bool Lasts = HoldLasts(Time_GetCurrent());
    switch (Message) {
    case PLATFORM_POWER_CAN_SLEEP: return Lasts ? PLATFORM_POWER_NO_ANSWER : PLATFORM_POWER_ALLOW;
    case PLATFORM_POWER_WILL_SLEEP: return Lasts ? PLATFORM_POWER_CANCEL : PLATFORM_POWER_ALLOW;
    default: return PLATFORM_POWER_NO_ANSWER;
    }
}

int32 Platform_IsSleepPrevented(void) {
    std::lock_guard<std::mutex> Guard(SleepLock);
    return HoldLasts(Time_GetCurrent()) && SleepHeld ? TRUE : FALSE;
}

int32 Platform_Reboot(void) { return Platform_GetRebootSink()(); }

int32 Platform_CreateShortcut(const char *Executable, const char *Parameter, int32 IconId, const char *Location,
                              const char *Description, const char *IconLocation, int32 Flags) {
    (void)Executable, (void)Parameter, (void)IconId, (void)Location, (void)Description, (void)IconLocation,
        (void)Flags;
    return FALSE;
}

int32 Platform_RemoveShortcut(const char *Location, const char *Description) {
    (void)Location, (void)Description;
    return FALSE;
}

int32 Platform_EnablePrivilege(const char *Name) {
    (void)Name;
    return TRUE;
}
