// The GTK 3 backend of the native UI (see native_ui_gtk.h).
#include "platform/posix/gtk/native_ui_gtk.h"

#include <gtk/gtk.h>
#include <libnotify/notify.h>
#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/native_ui_backend.h"
#include "runtime/log.h"

#ifdef RUNTIME_GTK_MODULE
// Loaded on demand into a program whose runtime symbols are hidden: the
// program hands over its log writer, which is all the backend calls of it.
static NativeUIGtk_LogFunc ModuleLog = nullptr;
#undef Log_Warning
#define Log_Warning(...) ModuleLog(LOG_WARNING, __FILE__, __LINE__, 0, __VA_ARGS__)
#endif

namespace {

constexpr char ApplicationName[] = "velmarsh";
constexpr int32 ProgressContentWidth = 400, ProgressContentHeight = 114;
constexpr int32 ProgressMargin = 20, ProgressRowWidth = 360, ProgressRowHeight = 20;
constexpr int32 ProgressLabelY = 64, ProgressBarY = 34; // from the bottom of the content

// The framework's system cursors under their CSS cursor names.
const std::map<std::string, const char *> CursorNames{
    {"arrow", "default"},          {"crosshair", "crosshair"},   {"closedHand", "grabbing"},
    {"operationNotAllowed", "not-allowed"}, {"pointingHand", "pointer"}, {"IBeam", "text"},
    {"resizeUp", "n-resize"},      {"resizeUpDown", "ns-resize"}, {"resizeRight", "e-resize"},
    {"resizeLeftRight", "ew-resize"}, {"resizeDown", "s-resize"}, {"resizeLeft", "w-resize"},
};

void SetColour(cairo_t *Cairo, const NativeDrawCommand &Command) {
    if (Command.Colour == "controlShadow") {
        cairo_set_source_rgb(Cairo, 0.5, 0.5, 0.5);
    } else if (Command.Colour == "white") {
        cairo_set_source_rgb(Cairo, 1, 1, 1);
    } else if (Command.Colour == "control") {
        cairo_set_source_rgb(Cairo, 0.93, 0.93, 0.93);
    } else {
        cairo_set_source_rgba(Cairo, Command.Red, Command.Green, Command.Blue, Command.Alpha);
    }
}

class GtkBackend final : public NativeUIBackend {
  public:
    explicit GtkBackend(const char *DisplayName) : Description(std::string("GTK 3 on display ") + DisplayName) {
        Centre = notify_init(ApplicationName) ? TRUE : FALSE;
    }
    ~GtkBackend() override {
        for (auto &Entry : Delivered) g_object_unref(Entry.second);
        for (auto &Entry : AlertNotes) gtk_widget_destroy(Entry.second);
        if (Centre) notify_uninit();
        if (DockIcon != nullptr) g_object_unref(DockIcon);
        Pump();
    }

    const char *Name() const override { return Description.c_str(); }

    void Pump() override {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }

    // One pass of GTK's main context with the host's descriptor among its
    // sources, so that windows stay live while the host waits for work.
    int32 Poll(int32 Descriptor, int32 TimeoutMS) override {
        GMainContext *Context = g_main_context_default();
        if (!g_main_context_acquire(Context)) return NativeUIBackend::Poll(Descriptor, TimeoutMS);
        gint Priority = 0, Timeout = 0;
        g_main_context_prepare(Context, &Priority);
        std::vector<GPollFD> Sources(8);
        gint Count;
        while ((Count = g_main_context_query(Context, Priority, &Timeout, Sources.data(), (gint)Sources.size())) >
               (gint)Sources.size())
            Sources.resize(Count);
        Sources.resize(Count);
        Sources.push_back(GPollFD{Descriptor, G_IO_IN, 0});
        if (TimeoutMS >= 0 && (Timeout < 0 || Timeout > TimeoutMS)) Timeout = TimeoutMS;
        g_poll(Sources.data(), Sources.size(), Timeout);
        int32 Ready = (Sources.back().revents & G_IO_IN) != 0 ? TRUE : FALSE;
        Sources.pop_back();
        if (g_main_context_check(Context, Priority, Sources.data(), (gint)Sources.size()))
            g_main_context_dispatch(Context);
        g_main_context_release(Context);
        return Ready;
    }

    void WindowApply(NativeWindowRecord *Window) override {
        if (Window->Native == nullptr) Window->Native = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWindow *Native = GTK_WINDOW(Window->Native);
        int32 ScreenWidth = 0, ScreenHeight = 0;
        ScreenSize(Window, &ScreenWidth, &ScreenHeight);
        bool Titled = (Window->StyleMask & NATIVE_STYLE_TITLED) != 0;
        int32 Content = Window->FrameHeight - (Titled ? TitleBarHeight() : 0);
        gtk_window_set_title(Native, Window->Title.c_str());
        gtk_window_set_decorated(Native, Titled);
        gtk_window_set_resizable(Native, (Window->StyleMask & NATIVE_STYLE_RESIZABLE) != 0);
        gtk_window_set_gravity(Native, GDK_GRAVITY_NORTH_WEST);
        gtk_window_move(Native, Window->FrameX, ScreenHeight - Window->FrameY - Window->FrameHeight);
        if (Window->FrameWidth > 0 && Content > 0) {
            gtk_window_set_default_size(Native, Window->FrameWidth, Content);
            gtk_window_resize(Native, Window->FrameWidth, Content);
        }
        if (Window->MinimumWidth > 0 || Window->MinimumHeight > 0) {
            GdkGeometry Hints{};
            Hints.min_width = Window->MinimumWidth;
            Hints.min_height = Window->MinimumHeight;
            gtk_window_set_geometry_hints(Native, nullptr, &Hints, GDK_HINT_MIN_SIZE);
        }
        if (Window->Visible) {
            gtk_widget_show_all(GTK_WIDGET(Native));
            if (Window->Key) gtk_window_present(Native);
        } else {
            gtk_widget_hide(GTK_WIDGET(Native));
        }
        if (Window->Minimized) {
            gtk_window_iconify(Native);
        } else {
            gtk_window_deiconify(Native);
        }
        if (Window->Zoomed) gtk_window_maximize(Native);
        ApplyCursor(Window);
    }

    void WindowClose(NativeWindowRecord *Window) override {
        if (Window->Native != nullptr) gtk_widget_destroy(GTK_WIDGET(Window->Native));
        Window->Native = nullptr;
    }

    void ScreenSize(NativeWindowRecord *, int32 *Width, int32 *Height) override {
        GdkDisplay *Display = gdk_display_get_default();
        GdkMonitor *Monitor = Display != nullptr ? gdk_display_get_primary_monitor(Display) : nullptr;
        if (Monitor == nullptr && Display != nullptr) Monitor = gdk_display_get_monitor(Display, 0);
        GdkRectangle Area{0, 0, 0, 0};
        if (Monitor != nullptr) gdk_monitor_get_geometry(Monitor, &Area);
        *Width = Area.width;
        *Height = Area.height;
    }

    void SetApplicationIcon(void *Image) override {
        if (Image != nullptr) gtk_window_set_default_icon(GDK_PIXBUF(Image));
    }

    int32 RunAlert(const NativeAlertRequest &Alert) override {
        GtkMessageType Type = Alert.Style == 0 ? GTK_MESSAGE_ERROR : (Alert.Style == 2 ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO);
        GtkWidget *Dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, Type, GTK_BUTTONS_NONE, "%s",
                                                   Alert.Headline.c_str());
        gtk_window_set_title(GTK_WINDOW(Dialog), Alert.Headline.c_str());
        if (!Alert.Informative.empty())
            gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(Dialog), "%s", Alert.Informative.c_str());
        for (size_t Index = 0; Index < Alert.Buttons.size(); Index++)
            gtk_dialog_add_button(GTK_DIALOG(Dialog), Alert.Buttons[Index].c_str(), 1000 + (gint)Index);
        gtk_dialog_set_default_response(GTK_DIALOG(Dialog), 1000);
        gtk_window_set_keep_above(GTK_WINDOW(Dialog), TRUE);
        gtk_window_set_position(GTK_WINDOW(Dialog), GTK_WIN_POS_CENTER);
        gint Response = gtk_dialog_run(GTK_DIALOG(Dialog));
        gtk_widget_destroy(Dialog);
        Pump();
        // Closed without a button (Escape, the window manager): the last
        // button, which is the cancelling one wherever there is one.
        if (Response < 1000 || Response >= 1000 + (gint)Alert.Buttons.size())
            Response = 1000 + (gint)Alert.Buttons.size() - 1;
        return Response;
    }

    int32 RunPanel(NativePanelRequest &Panel) override {
        static constexpr GtkFileChooserAction Actions[] = {GTK_FILE_CHOOSER_ACTION_OPEN, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                           GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER};
        GtkWindow *Parent = Panel.Parent != nullptr ? GTK_WINDOW(Panel.Parent->Native) : nullptr;
        GtkFileChooserNative *Chooser = gtk_file_chooser_native_new(
            Panel.Title.empty() ? nullptr : Panel.Title.c_str(), Parent, Actions[Panel.Type], nullptr, nullptr);
        GtkFileChooser *Files = GTK_FILE_CHOOSER(Chooser);
        gtk_file_chooser_set_select_multiple(Files, FALSE);
        gtk_file_chooser_set_create_folders(Files, Panel.Type == NativePanelRequest::SaveFile);
        if (!Panel.Directory.empty()) gtk_file_chooser_set_current_folder(Files, Panel.Directory.c_str());
        if (!Panel.Filename.empty()) {
            if (Panel.Type == NativePanelRequest::SaveFile) {
                gtk_file_chooser_set_current_name(Files, Panel.Filename.c_str());
            } else {
                std::string Preselected = Panel.Directory + "/" + Panel.Filename;
                gtk_file_chooser_select_filename(Files, Preselected.c_str());
            }
        }
        int32 Chose = FALSE;
        if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(Chooser)) == GTK_RESPONSE_ACCEPT) {
            if (gchar *Chosen = gtk_file_chooser_get_filename(Files)) {
                Panel.Chosen = Chosen;
                g_free(Chosen);
                Chose = TRUE;
            }
        }
        g_object_unref(Chooser);
        return Chose;
    }

    int32 HasNotificationCentre() const override { return Centre; }

    void DeliverNotification(const NativeNotification &Note) override {
        std::string Body = Note.Subtitle.empty() ? Note.Informative : Note.Subtitle + "\n" + Note.Informative;
        auto Found = Delivered.find(Note.Identifier);
        NotifyNotification *Shown;
        if (Found != Delivered.end()) {
            Shown = Found->second;
            notify_notification_update(Shown, Note.Title.c_str(), Body.c_str(), nullptr);
        } else {
            Shown = notify_notification_new(Note.Title.c_str(), Body.c_str(), nullptr);
            Delivered[Note.Identifier] = Shown;
        }
        GError *Error = nullptr;
        if (!notify_notification_show(Shown, &Error)) {
            Log_Warning("The desktop did not show notification %s (%s)\n", Note.Identifier.c_str(),
                        Error != nullptr ? Error->message : "");
            if (Error != nullptr) g_error_free(Error);
        }
    }

    int32 RemoveDeliveredNotification(const std::string &Identifier) override {
        auto Found = Delivered.find(Identifier);
        if (Found == Delivered.end()) return FALSE;
        notify_notification_close(Found->second, nullptr);
        g_object_unref(Found->second);
        Delivered.erase(Found);
        return TRUE;
    }

    void ForgetDeliveredNotification(const std::string &Identifier) override {
        auto Found = Delivered.find(Identifier);
        if (Found == Delivered.end()) return;
        g_object_unref(Found->second);
        Delivered.erase(Found);
    }

    void ShowAlertNotification(int32 Id, const NativeNotification &Note) override {
        GtkMessageType Type = Note.Level == 2 ? GTK_MESSAGE_ERROR : (Note.Level == 1 ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO);
        auto Found = AlertNotes.find(Id);
        if (Found != AlertNotes.end()) gtk_widget_destroy(Found->second);
        GtkWidget *Dialog = gtk_message_dialog_new(nullptr, (GtkDialogFlags)0, Type, GTK_BUTTONS_CLOSE, "%s",
                                                   Note.Title.c_str());
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(Dialog), "%s", Note.Informative.c_str());
        g_signal_connect(Dialog, "response", G_CALLBACK(gtk_widget_hide), nullptr);
        gtk_widget_show_all(Dialog);
        AlertNotes[Id] = Dialog;
    }

    void CancelAlertNotification(int32 Id) override {
        auto Found = AlertNotes.find(Id);
        if (Found == AlertNotes.end()) return;
        gtk_widget_destroy(Found->second);
        AlertNotes.erase(Found);
    }

    void DockTileDisplay(const NativeDisplayList &Drawing, int32 Width, int32 Height) override {
        cairo_surface_t *Surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, Width, Height);
        cairo_t *Cairo = cairo_create(Surface);
        // The drawing's origin is at the bottom left.
        cairo_translate(Cairo, 0, Height);
        cairo_scale(Cairo, 1, -1);
        for (const NativeDrawCommand &Command : Drawing) Paint(Cairo, Command);
        cairo_destroy(Cairo);
        GdkPixbuf *Icon = gdk_pixbuf_get_from_surface(Surface, 0, 0, Width, Height);
        cairo_surface_destroy(Surface);
        if (Icon == nullptr) return;
        if (DockIcon != nullptr) g_object_unref(DockIcon);
        DockIcon = Icon;
        gtk_window_set_default_icon(Icon);
        for (GtkWidget *Window : ProgressWindows) gtk_window_set_icon(GTK_WINDOW(Window), Icon);
    }

    void *ProgressWindowCreate(const char *Title, const char *Text) override {
        GtkWidget *Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(Window), Title);
        gtk_window_set_deletable(GTK_WINDOW(Window), FALSE);
        gtk_window_set_resizable(GTK_WINDOW(Window), FALSE);
        gtk_window_set_type_hint(GTK_WINDOW(Window), GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_position(GTK_WINDOW(Window), GTK_WIN_POS_CENTER);
        GtkWidget *Content = gtk_fixed_new();
        gtk_widget_set_size_request(Content, ProgressContentWidth, ProgressContentHeight);
        GtkWidget *Label = gtk_label_new(Text);
        gtk_label_set_xalign(GTK_LABEL(Label), 0);
        gtk_widget_set_size_request(Label, ProgressRowWidth, ProgressRowHeight);
        GtkWidget *Bar = gtk_progress_bar_new();
        gtk_widget_set_size_request(Bar, ProgressRowWidth, ProgressRowHeight);
        gtk_widget_set_valign(Bar, GTK_ALIGN_CENTER);
        // Rows are placed from the bottom of the content, as laid out.
        gtk_fixed_put(GTK_FIXED(Content), Label, ProgressMargin, ProgressContentHeight - ProgressLabelY - ProgressRowHeight);
        gtk_fixed_put(GTK_FIXED(Content), Bar, ProgressMargin, ProgressContentHeight - ProgressBarY - ProgressRowHeight);
        gtk_container_add(GTK_CONTAINER(Window), Content);
        g_object_set_data(G_OBJECT(Window), "progress-bar", Bar);
        g_object_set_data(G_OBJECT(Window), "progress-label", Label);
        if (DockIcon != nullptr) gtk_window_set_icon(GTK_WINDOW(Window), DockIcon);
        gtk_widget_show_all(Window);
        gtk_window_present(GTK_WINDOW(Window));
        ProgressWindows.push_back(Window);
        return Window;
    }

    void ProgressWindowSetFraction(void *Window, float64 Fraction) override {
        auto *Bar = GTK_PROGRESS_BAR(g_object_get_data(G_OBJECT(Window), "progress-bar"));
        gtk_progress_bar_set_fraction(Bar, std::clamp(Fraction, 0.0, 1.0));
    }

    void ProgressWindowDelete(void *Window) override {
        std::erase(ProgressWindows, static_cast<GtkWidget *>(Window));
        gtk_widget_destroy(GTK_WIDGET(Window));
    }

    void ProgressWindowPumpOne() override {
        if (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }

  private:
    std::string Description;
    int32 Centre = FALSE;
    std::map<std::string, NotifyNotification *> Delivered;
    std::map<int32, GtkWidget *> AlertNotes;
    std::vector<GtkWidget *> ProgressWindows;
    GdkPixbuf *DockIcon = nullptr;

    void ApplyCursor(NativeWindowRecord *Window) {
        GdkWindow *Surface = gtk_widget_get_window(GTK_WIDGET(Window->Native));
        if (Surface == nullptr) return;
        GdkDisplay *Display = gdk_window_get_display(Surface);
        GdkCursor *Cursor = nullptr;
        auto Named = CursorNames.find(Window->Cursor);
        if (Named != CursorNames.end()) {
            Cursor = gdk_cursor_new_from_name(Display, Named->second);
        } else if (GdkPixbuf *Image = gdk_pixbuf_new_from_file(Window->Cursor.c_str(), nullptr)) {
            Cursor = gdk_cursor_new_from_pixbuf(Display, Image, 0, 0);
            g_object_unref(Image);
        }
        gdk_window_set_cursor(Surface, Cursor);
        if (Cursor != nullptr) g_object_unref(Cursor);
    }

    static void Paint(cairo_t *Cairo, const NativeDrawCommand &Command) {
        cairo_save(Cairo);
        switch (Command.Type) {
        case NativeDrawCommand::FillRect:
            SetColour(Cairo, Command);
            cairo_rectangle(Cairo, Command.X, Command.Y, Command.Width, Command.Height);
            cairo_fill(Cairo);
            break;
        case NativeDrawCommand::Parallelogram:
            cairo_rectangle(Cairo, Command.X, Command.Y, Command.Width, Command.Height);
            cairo_clip(Cairo);
            SetColour(Cairo, Command);
            cairo_move_to(Cairo, Command.Points[0], Command.Points[1]);
            for (int32 Corner = 1; Corner < 4; Corner++)
                cairo_line_to(Cairo, Command.Points[2 * Corner], Command.Points[2 * Corner + 1]);
            cairo_close_path(Cairo);
            cairo_fill(Cairo);
            break;
        case NativeDrawCommand::Image:
            if (Command.ImageHandle != nullptr) {
                GdkPixbuf *Image = GDK_PIXBUF(Command.ImageHandle);
                // Images are upright: undo the flip within their frame.
                cairo_translate(Cairo, Command.X, Command.Y + Command.Height);
                cairo_scale(Cairo, Command.Width / gdk_pixbuf_get_width(Image),
                            -Command.Height / gdk_pixbuf_get_height(Image));
                gdk_cairo_set_source_pixbuf(Cairo, Image, 0, 0);
                cairo_paint(Cairo);
            } else {
                // No application icon yet: a plain tile.
                cairo_set_source_rgb(Cairo, 0.35, 0.45, 0.6);
                cairo_rectangle(Cairo, Command.X + 8, Command.Y + 8, Command.Width - 16, Command.Height - 16);
                cairo_fill(Cairo);
            }
            break;
        }
        cairo_restore(Cairo);
    }
};

NativeUIBackend *CreateGtkBackend() {
    const char *X11 = getenv("DISPLAY");
    const char *Wayland = getenv("WAYLAND_DISPLAY");
    if ((X11 == nullptr || X11[0] == 0) && (Wayland == nullptr || Wayland[0] == 0)) return nullptr;
    if (!gtk_init_check(nullptr, nullptr)) {
        Log_Warning("No display could be opened for GTK (%s)\n", X11 != nullptr && X11[0] != 0 ? X11 : Wayland);
        return nullptr;
    }
    GdkDisplay *Display = gdk_display_get_default();
    return new GtkBackend(Display != nullptr ? gdk_display_get_name(Display) : "");
}

} // namespace

#ifdef RUNTIME_GTK_MODULE
extern "C" __attribute__((visibility("default"))) NativeUIBackend *NativeUIGtk_ModuleCreate(NativeUIGtk_LogFunc Log) {
    ModuleLog = Log;
    return CreateGtkBackend();
}
#else
int32 NativeUIGtk_Register(void) { return NativeUI_SetDisplayBackendFactory(CreateGtkBackend); }
#endif
