// The windowing system under the native UI modules: our stand-in for the
// application framework, user-notification centre and dock of the system the
// modules were first written for. The modules (native_window, native_chooser,
// native_notify, native_taskbar, progress_window) keep every rule of their
// own here in portable code and ask a backend only for what a windowing
// system does: show a window as its record says, run an alert or a panel,
// deliver a notification, draw the dock tile, pump events.
//
// Two backends exist. The headless model (native_ui_model.h) keeps the state
// it is given and answers alerts and panels from a responder that tests set;
// it never blocks. The GTK backend (platform/posix/gtk/) works real windows and
// is linked only into programs that register it; NativeUI_Init picks it when
// it is registered and a display opens, else the model, once, and logs which.
//
// Everything here runs on the main thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "runtime/types.h"

#define NATIVEWINDOW_CLASSID 0x6e617477u

// Frame style masks of a window record (the framework's style bits).
#define NATIVE_STYLE_TITLED 0x1
#define NATIVE_STYLE_CLOSABLE 0x2
#define NATIVE_STYLE_MINIATURIZABLE 0x4
#define NATIVE_STYLE_RESIZABLE 0x8

// A native window as the framework keeps it. The frame is the outer frame in
// screen points with the origin at the bottom left (the framework's own
// convention, which the geometry operations translate); the content area is
// the frame less the title bar. A view record stands for its window.
struct NativeWindowRecord {
    uint32 ClassId = NATIVEWINDOW_CLASSID;
    NativeWindowRecord *Window = nullptr; // set on a view: the window it lies in
    std::string Title;
    uint32 StyleMask = NATIVE_STYLE_TITLED | NATIVE_STYLE_CLOSABLE | NATIVE_STYLE_MINIATURIZABLE;
    int32 FrameX = 0, FrameY = 0, FrameWidth = 0, FrameHeight = 0;
    int32 MinimumWidth = 0, MinimumHeight = 0;
    int32 Visible = 0, Minimized = 0, Zoomed = 0, Closed = 0, Key = 0;
    int32 HasShadow = 1, ClearBackground = 0;
    std::string Cursor = "arrow"; // a system cursor name, or the path of a cursor image
    void *Native = nullptr;       // the backend's own object (GTK: the GtkWindow)
};

// One command of the dock tile's drawing, in tile points (origin bottom left).
struct NativeDrawCommand {
    enum Kind { FillRect, Image, Parallelogram } Type;
    explicit NativeDrawCommand(Kind Type) : Type(Type) {}
    float64 X = 0, Y = 0, Width = 0, Height = 0; // rectangle, image frame or clip
    float64 Red = 0, Green = 0, Blue = 0, Alpha = 1;
    std::string Colour; // a named system colour ("controlShadow", "white", "control"), else empty
    void *ImageHandle = nullptr;
    float64 Points[8] = {}; // parallelogram corners x0,y0 .. x3,y3
};
using NativeDisplayList = std::vector<NativeDrawCommand>;

// An alert as the default message box builds it.
struct NativeAlertRequest {
    int32 Style = 0; // 0 critical, 2 warning, 3 informational
    std::string Headline, Informative;
    std::vector<std::string> Buttons; // first is the default button
};

// A chooser panel: kind, title, start folder and name; Chosen receives the path.
struct NativePanelRequest {
    enum Kind { OpenFile, SaveFile, OpenFolder } Type = OpenFile;
    std::string Title, Directory, Filename;
    NativeWindowRecord *Parent = nullptr;
    std::string Chosen;
};

// A user notification as delivered to the centre or shown as an alert.
struct NativeNotification {
    std::string Identifier, Title, Subtitle, Informative, Sound;
    int32 Level = 0; // alert fallback: 0 plain, 1 caution, 2 stop
};

class NativeUIBackend {
  public:
    virtual ~NativeUIBackend() = default;
    virtual const char *Name() const = 0;
    // Runs pending events of the windowing system without waiting.
    virtual void Pump() {}
    // Waits up to TimeoutMS (negative: without end) for Descriptor to become
    // readable while the windowing system's events run; 1 when it is.
    virtual int32 Poll(int32 Descriptor, int32 TimeoutMS);

    // Windows: the record changed; push it to the real window.
    virtual void WindowApply(NativeWindowRecord *Window) = 0;
    virtual void WindowClose(NativeWindowRecord *Window) = 0;
    virtual void ScreenSize(NativeWindowRecord *Window, int32 *Width, int32 *Height) = 0;
    // Height of the title bar that a titled window's frame adds to its content.
    virtual int32 TitleBarHeight() const { return 22; }
    virtual void SetApplicationIcon(void *Image) = 0;

    // Runs the alert modally; answers 1000 + the index of the chosen button.
    virtual int32 RunAlert(const NativeAlertRequest &Alert) = 0;
    // Runs the panel modally; 1 and Chosen set when the user chose.
    virtual int32 RunPanel(NativePanelRequest &Panel) = 0;

    // The user-notification centre (absent: alert-style notifications).
    virtual int32 HasNotificationCentre() const = 0;
    virtual void DeliverNotification(const NativeNotification &Note) = 0;
    virtual int32 RemoveDeliveredNotification(const std::string &Identifier) = 0;
    // The process's own delegate takes a delivered notification off the
    // centre's list at once (it stays on screen until the desktop drops it).
    virtual void ForgetDeliveredNotification(const std::string &Identifier) { RemoveDeliveredNotification(Identifier); }
    virtual void ShowAlertNotification(int32 Id, const NativeNotification &Note) = 0;
    virtual void CancelAlertNotification(int32 Id) = 0;

    // The dock tile redisplays this drawing.
    virtual void DockTileDisplay(const NativeDisplayList &Drawing, int32 Width, int32 Height) = 0;
    // Size of the dock tile in points.
    virtual int32 DockTileSize() const { return 128; }

    // The progress window: a titled window with a label and a bar.
    virtual void *ProgressWindowCreate(const char *Title, const char *Text) = 0;
    virtual void ProgressWindowSetFraction(void *Window, float64 Fraction) = 0;
    virtual void ProgressWindowDelete(void *Window) = 0;
    // Dispatches at most one pending event without waiting.
    virtual void ProgressWindowPumpOne() = 0;
};

// The running backend (null before NativeUI_Init and after NativeUI_Remove).
NativeUIBackend *NativeUI_Backend();

// A backend that needs a display: the factory answers null when none opens.
using NativeUI_DisplayBackendFactory = NativeUIBackend *(*)();
int32 NativeUI_SetDisplayBackendFactory(NativeUI_DisplayBackendFactory Factory);

// The alert-style notifications shown without a centre, by id (module lock held).
using NativeAlertTable = std::map<int32, NativeNotification>;

// Where cursor images ("<name>.png") are looked for: the program's
// "Resources/" folder unless set.
const std::string &NativeUI_ResourceDirectory();
int32 NativeUI_SetResourceDirectory(const char *Directory);

// Frees the application's dock menu (NativeUI_Remove).
void NativeWindow_RemoveDockMenu();

// The dock menu as the framework keeps it: items with a title, a tag (the
// page's id), a target window and an action, or a separator, or a submenu.
struct NativeMenu;
struct NativeMenuItem {
    std::string Title;
    int32 Tag = 0;
    NativeWindowRecord *Target = nullptr;
    std::string Action; // "dockMenuAction:" or empty
    int32 Checked = 0;
    int32 Separator = 0;
    NativeMenu *Submenu = nullptr;
    ~NativeMenuItem();
};
struct NativeMenu {
    std::string Title;
    std::vector<NativeMenuItem *> Items;
    int32 References = 1;
    ~NativeMenu() {
        for (auto *Item : Items) delete Item;
    }
};
inline NativeMenuItem::~NativeMenuItem() { delete Submenu; }

// The application's dock menu (made on first need).
NativeMenu *NativeWindow_DockMenu();
