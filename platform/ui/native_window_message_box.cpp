// Message boxes and the standard alert under them (see native_window.h).
#include <string>

#include "platform/ui/native_ui.h"
#include "platform/ui/native_window.h"
#include "platform/posix/native_ui_backend.h"
#include "runtime/debug.h"

namespace {

constexpr int32 FirstButton = 1000;
constexpr int32 LegacyFirstButton = 1;

// Button titles and the answer of each button, by the type's low four bits.
struct ButtonRow {
    const char *Titles[3];
    int32 Answers[3];
};

ButtonRow Buttons(uint32 Type) {
    switch (Type & 0xF) {
    case NATIVEWINDOW_MB_OK: return {{"Ok"}, {NATIVEWINDOW_ID_OK}};
    case NATIVEWINDOW_MB_OKCANCEL: return {{"Ok", "Cancel"}, {NATIVEWINDOW_ID_OK, NATIVEWINDOW_ID_CANCEL}};
    case NATIVEWINDOW_MB_YESNOCANCEL:
        return {{"Yes", "No", "Cancel"}, {NATIVEWINDOW_ID_YES, NATIVEWINDOW_ID_NO, NATIVEWINDOW_ID_CANCEL}};
    case NATIVEWINDOW_MB_YESNO: return {{"Yes", "No"}, {NATIVEWINDOW_ID_YES, NATIVEWINDOW_ID_NO}};
    default: return {{nullptr}, {(Type & 0x4) ? NATIVEWINDOW_ID_YES : NATIVEWINDOW_ID_OK}};
    }
}

} // namespace

int32 NativeWindow_MessageBox(void *Window, const char *Text, const char *Caption, uint32 Type) {
    if (GlobalNativeUI != nullptr && GlobalNativeUI->MessageBoxOverride != nullptr) {
        return GlobalNativeUI->MessageBoxOverride(Window, Text, Caption, Type);
    }
    return NativeWindow_MessageBoxDefault(Window, Text, Caption, Type);
}

int32 NativeWindow_MessageBoxDefault(void *Window, const char *Text, const char *Caption, uint32 Type) {
    (void)Window;
    ButtonRow Row = Buttons(Type);
    NativeAlertParameters Parameters{};
    Parameters.Version = 2;
    Parameters.DefaultText = Row.Titles[0];
    Parameters.CancelText = Row.Titles[1];
    Parameters.OtherText = Row.Titles[2];
    Parameters.DefaultButton = Row.Titles[0] != nullptr ? 1 : 0;
    switch (Type & 0xF) {
    case NATIVEWINDOW_MB_OKCANCEL:
    case NATIVEWINDOW_MB_YESNO: Parameters.CancelButton = 2; break;
    case NATIVEWINDOW_MB_YESNOCANCEL: Parameters.CancelButton = 3; break;
    default: Parameters.CancelButton = 0; break;
    }
    uint32 Icon = Type & 0xF0;
    int32 AlertType = Icon == NATIVEWINDOW_MB_ICONSTOP ? 0 : (Icon == NATIVEWINDOW_MB_ICONCAUTION ? 2 : 3);

    void *Alert = nullptr;
    int16 Item = 0;
    CreateStandardAlert(AlertType, Caption != nullptr ? Caption : "", Text != nullptr ? Text : "", &Parameters,
                        &Alert);
    RunStandardAlert(Alert, nullptr, &Item);
    int32 Index = Item == LegacyFirstButton ? 0 : Item - FirstButton;
    if (Index < 0 || Index > 2 || Row.Answers[Index] == 0) Index = 0;
    return Row.Answers[Index];
}

int32 CreateStandardAlert(int32 AlertType, const char *Headline, const char *InformativeText,
                          const NativeAlertParameters *Parameters, void **Alert) {
    Debug_CheckPointer(Parameters);
    Debug_CheckPointer(Alert);
    auto *Request = new NativeAlertRequest();
    Request->Style = AlertType == 0 ? 0 : (AlertType == 3 ? 3 : 2);
    Request->Headline = Headline != nullptr ? Headline : "";
    Request->Informative = InformativeText != nullptr ? InformativeText : "";
    for (const char *Title : {Parameters->DefaultText, Parameters->CancelText, Parameters->OtherText}) {
        if (Title != nullptr) Request->Buttons.emplace_back(Title);
    }
    *Alert = Request;
    return 0;
}

int32 RunStandardAlert(void *Alert, void *Filter, int16 *Item) {
    (void)Filter;
    Debug_CheckPointer(Alert);
    Debug_CheckPointer(Item);
    auto *Request = static_cast<NativeAlertRequest *>(Alert);
    // An alert without buttons of its own still shows the default one.
    if (Request->Buttons.empty()) Request->Buttons.emplace_back("Ok");
    NativeUIBackend *Backend = NativeUI_Backend();
    *Item = (int16)(Backend != nullptr ? Backend->RunAlert(*Request) : FirstButton);
    delete Request;
    return 0;
}
