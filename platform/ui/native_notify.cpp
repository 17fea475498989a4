// User notifications (see native_notify.h).
#include "platform/ui/native_notify.h"

#include "platform/ui/native_ui.h"
#include "platform/posix/native_ui_backend.h"
#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/text/html_entities.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"

namespace {

constexpr int32 TextSize = 320;
constexpr int32 TypeWarning = 1;
constexpr int32 TypeError = 2;

// The process's notification delegate: shows notifications while the
// application is in front and takes each off the centre's list once shown.
struct UserNotificationCenterDelegateImpl {
    int32 shouldPresentNotification() const { return TRUE; }
    void didDeliverNotification(const NativeNotification &Note) const {
        NativeUI_Backend()->ForgetDeliveredNotification(Note.Identifier);
    }
    void didActivateNotification(const NativeNotification &) const {}
};

UserNotificationCenterDelegateImpl GlobalDelegateImpl;

void CheckWindow(void *Window) {
    if (Window != nullptr) Class_CheckTag(static_cast<NativeWindowRecord *>(Window), ClassId, NATIVEWINDOW_CLASSID);
}

std::string Decode(const char *Text) {
    char Decoded[TextSize] = "";
    if (Text != nullptr) StringUtf8_DecodeString(Text, Decoded, sizeof(Decoded));
    return Decoded;
}

NativeAlertTable *Table() { return static_cast<NativeAlertTable *>(GlobalNativeUI->AlertNotificationTable); }

} // namespace

int32 NativeNotify_Add(void *Window) {
    (void)Window;
    return TRUE;
}

int32 NativeNotify_Update(void *Window, int32 Id, int32 Type, const char *Title, const char *Message) {
    CheckWindow(Window);
    Debug_CheckPointer(GlobalNativeUI);
    NativeUIBackend *Backend = NativeUI_Backend();
    NativeNotification Note;
    char Identifier[16] = "";
    String_Print(Identifier, sizeof(Identifier), "%d", Id);
    Note.Identifier = Identifier;
    Note.Informative = Decode(Message);
    std::string Heading = Decode(Title);

    if (Table() == nullptr) {
        Note.Sound = "DefaultSoundName";
        if (Type == TypeWarning || Type == TypeError) {
            Note.Subtitle = Heading;
            Note.Title = Type == TypeWarning ? "Warning" : "Error";
        } else {
            Note.Title = Heading;
        }
        if (GlobalNativeUI->NotificationDelegate == nullptr) {
            GlobalNativeUI->NotificationDelegate =
                Window != nullptr ? Window : static_cast<void *>(&GlobalDelegateImpl);
        }
        Backend->DeliverNotification(Note);
        if (GlobalNativeUI->NotificationDelegate == &GlobalDelegateImpl) GlobalDelegateImpl.didDeliverNotification(Note);
        return TRUE;
    }

    Note.Title = Heading;
    Note.Level = Type == TypeError ? 2 : (Type == TypeWarning ? 1 : 0);
    CriticalSection_Lock(GlobalNativeUI->Lock);
    (*Table())[Id] = Note;
    Backend->ShowAlertNotification(Id, Note);
    CriticalSection_Unlock(GlobalNativeUI->Lock);
    return TRUE;
}

int32 NativeNotify_Remove(void *Window, int32 Id) {
    CheckWindow(Window);
    Debug_CheckPointer(GlobalNativeUI);
    if (Table() == nullptr) {
        char Identifier[16] = "";
        String_Print(Identifier, sizeof(Identifier), "%d", Id);
        return NativeUI_Backend()->RemoveDeliveredNotification(Identifier);
    }
    CriticalSection_Lock(GlobalNativeUI->Lock);
    int32 Found = Table()->count(Id) != 0 ? TRUE : FALSE;
    if (Found) NativeUI_ReleaseUserNotification(Id, &(*Table())[Id]);
    CriticalSection_Unlock(GlobalNativeUI->Lock);
    return Found;
}

int32 NativeUI_ReleaseUserNotification(int32 Key, void *Notification) {
    (void)Notification;
    Debug_CheckPointer(GlobalNativeUI);
    NativeUI_Backend()->CancelAlertNotification(Key);
    if (Table() != nullptr) Table()->erase(Key);
    return TRUE;
}
