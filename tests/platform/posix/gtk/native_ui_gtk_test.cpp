// The GTK backend on a real X server (CTest runs this program under
// xvfb-run): a message box and the progress window appear with their title,
// texts and buttons, as GTK and the X server (xwininfo) both see them, are
// answered by a synthetic click or key (xdotool), and a screenshot of each is
// kept under the build's test-logs/native-ui-gtk/ for a person to look at.
#include "platform/posix/gtk/native_ui_gtk.h"

#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "runtime/event_queue.h"
#include "platform/ui/native_taskbar.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "platform/ui/native_ui.h"
#include "platform/ui/native_window.h"
#include "platform/posix/native_ui_backend.h"
#include "platform/posix/native_ui_model.h"
#include "platform/ui/progress_window.h"
#include "runtime/time.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Logs = std::string(RUNTIME_BINARY_DIR) + "/test-logs/native-ui-gtk/";

std::string Shell(const std::string &Command) { return CommandOutput(Command + " 2>&1"); }

GtkWindow *FindWindow(const std::string &Title) {
    GtkWindow *Found = nullptr;
    GList *Windows = gtk_window_list_toplevels();
    for (GList *Item = Windows; Item != nullptr; Item = Item->next) {
        GtkWindow *Window = GTK_WINDOW(Item->data);
        const char *Name = gtk_window_get_title(Window);
        if (Name != nullptr && Title == Name && gtk_widget_get_mapped(GTK_WIDGET(Window))) Found = Window;
    }
    g_list_free(Windows);
    return Found;
}

// Every label text and button label inside a widget, internal children too.
void Collect(GtkWidget *Widget, std::vector<std::string> &Texts, std::vector<GtkWidget *> &Buttons) {
    if (GTK_IS_BUTTON(Widget)) Buttons.push_back(Widget);
    if (GTK_IS_LABEL(Widget)) Texts.emplace_back(gtk_label_get_text(GTK_LABEL(Widget)));
    if (GTK_IS_CONTAINER(Widget)) {
        std::vector<GtkWidget *> Children;
        gtk_container_forall(
            GTK_CONTAINER(Widget), [](GtkWidget *Child, gpointer User) {
                static_cast<std::vector<GtkWidget *> *>(User)->push_back(Child);
            },
            &Children);
        for (GtkWidget *Child : Children) Collect(Child, Texts, Buttons);
    }
}

bool Contains(const std::vector<std::string> &Texts, const std::string &Text) {
    return std::find(Texts.begin(), Texts.end(), Text) != Texts.end();
}

// Screen coordinates of a widget's centre.
void Centre(GtkWidget *Widget, int *X, int *Y) {
    GtkWidget *Top = gtk_widget_get_toplevel(Widget);
    int InX = 0, InY = 0, OriginX = 0, OriginY = 0;
    gtk_widget_translate_coordinates(Widget, Top, gtk_widget_get_allocated_width(Widget) / 2,
                                     gtk_widget_get_allocated_height(Widget) / 2, &InX, &InY);
    gdk_window_get_origin(gtk_widget_get_window(Top), &OriginX, &OriginY);
    *X = OriginX + InX;
    *Y = OriginY + InY;
}

// Waits, running GTK's events, until the window with this title has been
// drawn (a real display answers asynchronously); null after 20 seconds.
GtkWindow *WaitDrawn(const std::string &Title) {
    bool Drawn = false;
    gulong Handler = 0;
    GtkWindow *Window = nullptr;
    gint64 Deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!Drawn && g_get_monotonic_time() < Deadline) {
        if (Window == nullptr && (Window = FindWindow(Title)) != nullptr) {
            Handler = g_signal_connect_after(Window, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer Flag) {
                                                 *static_cast<bool *>(Flag) = true;
                                                 return FALSE;
                                             }),
                                             &Drawn);
            gtk_widget_queue_draw(GTK_WIDGET(Window));
        }
        g_main_context_iteration(nullptr, FALSE);
        if (!Drawn) g_usleep(10000);
    }
    if (Window != nullptr) g_signal_handler_disconnect(Window, Handler);
    // Let the X server finish painting before anyone looks at it.
    gdk_display_sync(gdk_display_get_default());
    return Drawn ? Window : nullptr;
}

void Screenshot(const std::string &Name) {
    mkdir((std::string(RUNTIME_BINARY_DIR) + "/test-logs").c_str(), 0755);
    mkdir(Logs.c_str(), 0755);
    std::string Path = Logs + Name;
    EXPECT_EQ(Shell("import -window root '" + Path + "'"), "");
    struct stat Status;
    EXPECT_TRUE(stat(Path.c_str(), &Status) == 0 && Status.st_size > 0) << Path;
}

class NativeUIGtkTest : public ::testing::Test {
  protected:
    RuntimeScope *Runtime = nullptr;
    void SetUp() override {
        SKIP_UNLESS(getenv("DISPLAY") != nullptr, "no display: run under xvfb-run");
        for (const char *Tool : {"xwininfo", "xdotool", "import"}) SKIP_UNLESS(HaveCommand(Tool), Tool << " is missing");
        // A fatal stop in here must not wait for someone to answer its box.
        Runtime = new RuntimeScope(DEBUG_FLAG_CMDLINE);
        NativeUIGtk_Register();
        ASSERT_EQ(NativeUI_Init(), 1);
        ASSERT_EQ(std::string(NativeUI_BackendName()).rfind("GTK 3 on display ", 0), 0u) << NativeUI_BackendName();
    }
    void TearDown() override {
        if (Runtime == nullptr) return;
        NativeUI_Remove();
        NativeUI_SetDisplayBackendFactory(nullptr);
        delete Runtime;
    }
};

// Runs Check once the message box titled Title has been drawn, from inside
// the box's own modal loop.
struct BoxCheck {
    std::string Title;
    std::function<void(GtkWindow *)> Check;
    bool Done = false;
};

void WhileBoxRuns(BoxCheck &Box) {
    g_idle_add(
        [](gpointer User) -> gboolean {
            auto *Box = static_cast<BoxCheck *>(User);
            GtkWindow *Window = WaitDrawn(Box->Title);
            Box->Done = true;
            if (Window == nullptr) {
                ADD_FAILURE() << "the message box never appeared";
                // Unblock the modal loop so the test can report.
                GList *Windows = gtk_window_list_toplevels();
                for (GList *Item = Windows; Item != nullptr; Item = Item->next)
                    if (GTK_IS_DIALOG(Item->data)) gtk_dialog_response(GTK_DIALOG(Item->data), GTK_RESPONSE_DELETE_EVENT);
                g_list_free(Windows);
                return G_SOURCE_REMOVE;
            }
            Box->Check(Window);
            return G_SOURCE_REMOVE;
        },
        &Box);
}

} // namespace

TEST_F(NativeUIGtkTest, MessageBoxAnsweredByAClick) {
    BoxCheck Box{"Install", [](GtkWindow *Window) {
                     std::vector<std::string> Texts;
                     std::vector<GtkWidget *> Buttons;
                     Collect(GTK_WIDGET(Window), Texts, Buttons);
                     EXPECT_TRUE(Contains(Texts, "Install"));
                     EXPECT_TRUE(Contains(Texts, "Replace the installed files?"));
                     std::vector<std::string> Titles;
                     GtkWidget *No = nullptr;
                     for (GtkWidget *Button : Buttons) {
                         const char *Label = gtk_button_get_label(GTK_BUTTON(Button));
                         if (Label == nullptr) continue;
                         Titles.emplace_back(Label);
                         if (Titles.back() == "No") No = Button;
                     }
                     EXPECT_EQ(Titles, (std::vector<std::string>{"Yes", "No", "Cancel"}));
                     EXPECT_NE(Shell("xwininfo -root -tree").find("\"Install\""), std::string::npos);
                     Screenshot("message-box.png");
                     ASSERT_NE(No, nullptr);
                     int X = 0, Y = 0;
                     Centre(No, &X, &Y);
                     Shell("xdotool mousemove --sync " + std::to_string(X) + " " + std::to_string(Y) + " click 1");
                 }};
    WhileBoxRuns(Box);
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "Replace the installed files?", "Install", 0x33), 7);
    EXPECT_TRUE(Box.Done);
}

TEST_F(NativeUIGtkTest, MessageBoxAnsweredByAKey) {
    BoxCheck Box{"Unable to continue", [](GtkWindow *Window) {
                     std::vector<std::string> Texts;
                     std::vector<GtkWidget *> Buttons;
                     Collect(GTK_WIDGET(Window), Texts, Buttons);
                     EXPECT_TRUE(Contains(Texts, "The download failed."));
                     Screenshot("message-box-ok-cancel.png");
                     // Escape closes the box, which counts as its cancelling button.
                     int X = 0, Y = 0;
                     Centre(GTK_WIDGET(Window), &X, &Y);
                     Shell("xdotool mousemove --sync " + std::to_string(X) + " " + std::to_string(Y) + " key Escape");
                 }};
    WhileBoxRuns(Box);
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "The download failed.", "Unable to continue", 0x11), 2);
    EXPECT_TRUE(Box.Done);
}

TEST_F(NativeUIGtkTest, ProgressWindowAppears) {
    // The set-up stamped the dock tile from the real clock: the test clock
    // goes on from there, never back before that stamp.
    Time_TestClockStart(Time_GetCycleCount());
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    ProgressWindow *Progress = nullptr;
    ASSERT_EQ(ProgressWindow_Create(&Progress, "Updating Velmarsh", "Downloading the update..."), 1);
    ProgressWindow_SetProgress(Progress, 0.5);
    // Too soon for another fraction below 1.0.
    ProgressWindow_SetProgress(Progress, 0.75);
    NativeTaskbar_SetProgress(nullptr, 50);
    Time_TestClockAdvance(200);
    NativeTaskbar_Refresh();

    GtkWindow *Window = WaitDrawn("Updating Velmarsh");
    ASSERT_NE(Window, nullptr);
    std::vector<std::string> Texts;
    std::vector<GtkWidget *> Buttons;
    Collect(GTK_WIDGET(Window), Texts, Buttons);
    EXPECT_TRUE(Contains(Texts, "Downloading the update..."));
    EXPECT_TRUE(Buttons.empty());
    GtkProgressBar *Bar = GTK_PROGRESS_BAR(g_object_get_data(G_OBJECT(Window), "progress-bar"));
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(Bar), 0.5);
    EXPECT_FALSE(gtk_window_get_deletable(Window));
    EXPECT_FALSE(gtk_window_get_resizable(Window));
    // The dock tile's drawing became the window icon.
    EXPECT_NE(gtk_window_get_icon(Window), nullptr);

    std::string Info = Shell("xwininfo -name 'Updating Velmarsh'");
    EXPECT_NE(Info.find("Width: 400"), std::string::npos) << Info;
    EXPECT_NE(Info.find("Height: 114"), std::string::npos) << Info;
    Screenshot("progress-window.png");

    // 1.0 always shows.
    ProgressWindow_SetProgress(Progress, 1.0);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(Bar), 1.0);
    // The window keeps itself live on the notification center's tick.
    NotificationCenter_Process();
    ProgressWindow_Delete(&Progress);
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    Time_TestClockStop();
}

TEST_F(NativeUIGtkTest, WindowFrameReachesTheServer) {
    NativeWindowRecord *Window = NativeUIModel_CreateWindow(0, 0, 640, 480);
    NativeWindow_SetTitleUtf8(Window, "Skin window");
    NativeWindow_Move(Window, 120, 80);
    NativeWindow_Show(Window);
    NativeWindow_SetCursor(Window, 8);
    ASSERT_NE(WaitDrawn("Skin window"), nullptr);
    int32 Height = 0;
    NativeWindow_GetHeight(Window, &Height);
    // No window manager runs on the test server, so the X window is the
    // content alone, placed where the frame's top-left corner goes.
    std::string Info = Shell("xwininfo -name 'Skin window'");
    EXPECT_NE(Info.find("Absolute upper-left X:  120"), std::string::npos) << Info;
    EXPECT_NE(Info.find("Absolute upper-left Y:  " + std::to_string(80 - 22)), std::string::npos) << Info;
    EXPECT_NE(Info.find("Width: 640"), std::string::npos) << Info;
    EXPECT_NE(Info.find("Height: " + std::to_string(Height)), std::string::npos) << Info;
    Screenshot("skin-window.png");
    NativeWindow_Hide(Window);
    NativeUI_Process();
    gdk_display_sync(gdk_display_get_default());
    EXPECT_EQ(Shell("xwininfo -name 'Skin window'").find("IsViewable"), std::string::npos);
    NativeUIModel_DeleteWindow(Window);
}

TEST(NativeUIGtkHeadless, NoDisplayFallsBackToTheModel) {
    // Without a display the registered backend declines and the model runs.
    ScopedEnv Display("DISPLAY", nullptr), Wayland("WAYLAND_DISPLAY", nullptr);
    RuntimeScope Runtime;
    NativeUIGtk_Register();
    NativeUI_Init();
    EXPECT_STREQ(NativeUI_BackendName(), "headless model");
    NativeUI_Remove();
    NativeUI_SetDisplayBackendFactory(nullptr);
}
