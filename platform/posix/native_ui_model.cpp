// The headless model of the windowing system (see native_ui_model.h).
#include "platform/posix/native_ui_model.h"

#include <algorithm>

namespace {

class ModelBackend final : public NativeUIBackend {
  public:
    NativeModelState State;

    const char *Name() const override { return "headless model"; }
    void Pump() override { State.EventsPumped++; }

    void WindowApply(NativeWindowRecord *) override {}
    void WindowClose(NativeWindowRecord *Window) override { Window->Visible = 0; }
    void ScreenSize(NativeWindowRecord *, int32 *Width, int32 *Height) override {
        *Width = State.ScreenWidth;
        *Height = State.ScreenHeight;
    }
    void SetApplicationIcon(void *Image) override { State.ApplicationIcon = Image; }

    int32 RunAlert(const NativeAlertRequest &Alert) override {
        State.Alerts.push_back(Alert);
        if (!State.AlertResponder) return 1000;
        return State.AlertResponder(Alert);
    }
    int32 RunPanel(NativePanelRequest &Panel) override {
        int32 Chosen = State.PanelResponder ? State.PanelResponder(Panel) : 0;
        State.Panels.push_back(Panel);
        return Chosen;
    }

    int32 HasNotificationCentre() const override { return State.NotificationCentre; }
    void DeliverNotification(const NativeNotification &Note) override {
        State.Presented.push_back(Note);
        auto Same = std::find_if(State.Delivered.begin(), State.Delivered.end(),
                                 [&](const NativeNotification &Other) { return Other.Identifier == Note.Identifier; });
        if (Same != State.Delivered.end()) {
            *Same = Note;
        } else {
            State.Delivered.push_back(Note);
        }
    }
    int32 RemoveDeliveredNotification(const std::string &Identifier) override {
        auto Same = std::find_if(State.Delivered.begin(), State.Delivered.end(),
                                 [&](const NativeNotification &Other) { return Other.Identifier == Identifier; });
        if (Same == State.Delivered.end()) return 0;
        State.Delivered.erase(Same);
        return 1;
    }
    void ShowAlertNotification(int32 Id, const NativeNotification &Note) override { State.AlertNotes[Id] = Note; }
    void CancelAlertNotification(int32 Id) override { State.AlertNotes.erase(Id); }

    void DockTileDisplay(const NativeDisplayList &Drawing, int32, int32) override {
        State.DockTile = Drawing;
        State.DockTileRedisplays++;
    }

    void *ProgressWindowCreate(const char *Title, const char *Text) override {
        auto *Window = new NativeModelProgressWindow{Title, Text};
        State.ProgressWindows.push_back(Window);
        return Window;
    }
    void ProgressWindowSetFraction(void *Window, float64 Fraction) override {
        auto *Record = static_cast<NativeModelProgressWindow *>(Window);
        Record->Fraction = Fraction;
        Record->Updates++;
    }
    void ProgressWindowDelete(void *Window) override {
        auto *Record = static_cast<NativeModelProgressWindow *>(Window);
        std::erase(State.ProgressWindows, Record);
        delete Record;
    }
    void ProgressWindowPumpOne() override { State.EventsPumped++; }

    ~ModelBackend() override {
        for (auto *Window : State.ProgressWindows) delete Window;
    }
};

} // namespace

NativeModelState *NativeUIModel_State() {
    auto *Model = dynamic_cast<ModelBackend *>(NativeUI_Backend());
    return Model != nullptr ? &Model->State : nullptr;
}

NativeUIBackend *NativeUIModel_Create() { return new ModelBackend(); }

NativeWindowRecord *NativeUIModel_CreateWindow(int32 X, int32 Y, int32 Width, int32 Height) {
    auto *Window = new NativeWindowRecord();
    Window->FrameX = X;
    Window->FrameY = Y;
    Window->FrameWidth = Width;
    Window->FrameHeight = Height;
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->WindowApply(Window);
    return Window;
}

NativeWindowRecord *NativeUIModel_CreateView(NativeWindowRecord *Window) {
    auto *View = new NativeWindowRecord();
    View->Window = Window;
    return View;
}

void NativeUIModel_DeleteWindow(NativeWindowRecord *Window) {
    if (Window == nullptr) return;
    if (Window->Window == nullptr && NativeUI_Backend() != nullptr) NativeUI_Backend()->WindowClose(Window);
    delete Window;
}
