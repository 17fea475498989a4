// The host's progress line (see host_progress.h).
#include "host/host_progress.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "runtime/log.h"

namespace {

struct ProgressLine {
    int Descriptor = -1; // -1: not shown
    std::string Shown;   // the text on the terminal now
    int32 Percent = -1;
    std::string Task;
};

ProgressLine Line;
// The descriptor of a shown line, for the signal handler (-1: none).
volatile sig_atomic_t ShownDescriptor = -1;

void WriteAll(const std::string &Text) {
    size_t Done = 0;
    while (Done < Text.size()) {
        ssize_t Count = write(Line.Descriptor, Text.data() + Done, Text.size() - Done);
        if (Count < 0 && errno == EINTR) continue;
        if (Count <= 0) return;
        Done += (size_t)Count;
    }
}

std::string Compose() {
    char Head[16];
    if (Line.Percent >= 0) snprintf(Head, sizeof(Head), "[%3d%%]", Line.Percent > 100 ? 100 : Line.Percent);
    else snprintf(Head, sizeof(Head), "[ ...]");
    std::string Text = std::string(Head) + " " + (Line.Task.empty() ? "starting" : Line.Task);
    // One column stays free: a line that fills the width wraps on some terminals.
    winsize Size{};
    size_t Width = ioctl(Line.Descriptor, TIOCGWINSZ, &Size) == 0 && Size.ws_col > 1 ? Size.ws_col - 1 : 79;
    if (Text.size() > Width) Text.resize(Width);
    return Text;
}

void Draw() {
    std::string Text = Compose();
    if (Text == Line.Shown) return;
    Line.Shown = Text;
    WriteAll("\r" + Text + "\x1b[K");
}

} // namespace

int32 HostProgress_Begin(int32 Descriptor) {
    Line = ProgressLine();
    if (!isatty(Descriptor)) return FALSE;
    Line.Descriptor = Descriptor;
    ShownDescriptor = Descriptor;
    Draw();
    return TRUE;
}

int32 HostProgress_Update(int32 Percent, const char *Task) {
    if (Line.Descriptor < 0) return FALSE;
    Line.Percent = Percent;
    Line.Task = Task != nullptr ? Task : "";
    for (char &Each : Line.Task)
        if ((unsigned char)Each < 0x20 || Each == 0x7f) Each = ' ';
    Draw();
    return TRUE;
}

int32 HostProgress_Say(const char *Text) {
    // Names a document chose (a task type, a URL) reach the terminal: none
    // of their bytes may steer it, and no secret shows that a log line would
    // mask (a URL's password, a token in its query).
    std::string Shown = Text;
    Log_Redact(Text, Shown);
    for (char &Each : Shown)
        if ((unsigned char)Each < 0x20 || Each == 0x7f) Each = '?';
    if (Line.Descriptor < 0) {
        fprintf(stderr, "%s\n", Shown.c_str());
        return TRUE;
    }
    WriteAll("\r\x1b[K" + Shown + "\n");
    Line.Shown.clear();
    Draw();
    return TRUE;
}

int32 HostProgress_End(void) {
    if (Line.Descriptor < 0) return FALSE;
    ShownDescriptor = -1;
    WriteAll("\r\x1b[K");
    Line = ProgressLine();
    return TRUE;
}

void HostProgress_ClearAtOnce(void) {
    int Descriptor = ShownDescriptor;
    if (Descriptor < 0) return;
    ssize_t Ignored = write(Descriptor, "\r\x1b[K", 4);
    (void)Ignored;
}
