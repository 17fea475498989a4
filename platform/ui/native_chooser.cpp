// File and folder choosers (see native_chooser.h).
#include "platform/ui/native_chooser.h"

#include <string.h>

#include "platform/posix/native_ui_backend.h"
#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/text/html_entities.h"
#include "runtime/text/string.h"

namespace {

constexpr int32 TitleSize = 320;
constexpr int32 FileDirectorySize = 1024;
constexpr int32 ShortestCreatedPrefix = 3;

NativeWindowRecord *Parent(void *Handle) {
    if (Handle == nullptr) return nullptr;
    auto *Record = static_cast<NativeWindowRecord *>(Handle);
    Class_CheckTag(Record, ClassId, NATIVEWINDOW_CLASSID);
    return Record->Window != nullptr ? Record->Window : Record;
}

void SetUp(NativePanelRequest &Panel, void *Window, const char *Title) {
    if (Title != nullptr && Title[0] != 0) {
        char Decoded[TitleSize] = "";
        StringUtf8_DecodeHtml(Title, Decoded, sizeof(Decoded));
        Panel.Title = Decoded;
    }
    Panel.Parent = Parent(Window);
}

int32 Run(NativePanelRequest &Panel) {
    NativeUIBackend *Backend = NativeUI_Backend();
    return Backend != nullptr && Backend->RunPanel(Panel) ? TRUE : FALSE;
}

int32 ChooseFile(NativePanelRequest::Kind Kind, void *Window, const char *Title, char *Directory,
                 int32 DirectoryLength, char *Filename, int32 FilenameLength) {
    Debug_CheckPointer(Directory);
    Debug_CheckPointer(Filename);
    NativePanelRequest Panel;
    Panel.Type = Kind;
    SetUp(Panel, Window, Title);
    if (Directory[0] != 0) {
        char Resolved[FileDirectorySize] = "";
        Path_Resolve(Directory, Resolved, sizeof(Resolved));
        Panel.Directory = Resolved;
    }
    Panel.Filename = Filename;
    if (!Run(Panel)) return FALSE;

    // A choice cut to fit would name another file: refuse it whole.
    const std::string &Chosen = Panel.Chosen;
    size_t Slash = Chosen.rfind('/');
    std::string Name = Slash == std::string::npos ? Chosen : Chosen.substr(Slash + 1);
    std::string Folder = Chosen.substr(0, Chosen.size() - Name.size());
    if (Chosen.empty() || (int32)Folder.size() >= DirectoryLength || (int32)Name.size() >= FilenameLength) {
        Log_Error("The chosen path does not fit its buffer (%s)\n", Chosen.c_str());
        return FALSE;
    }
    String_CopyLength(Directory, Chosen.c_str(), DirectoryLength);
    Path_ParseFilename(Directory, Filename, FilenameLength);
    Path_RemoveFilename(Directory);
    return TRUE;
}

// The topmost folder of Path that does not exist (the first prefix ending
// before a "/" of at least three characters), or "" when every one exists.
std::string TopmostMissing(const std::string &Path) {
    for (size_t Slash = Path.find('/'); Slash != std::string::npos; Slash = Path.find('/', Slash + 1)) {
        if (Slash < (size_t)ShortestCreatedPrefix) continue;
        std::string Prefix = Path.substr(0, Slash);
        if (!Path_Exists(Prefix.c_str())) return Prefix;
    }
    return "";
}

} // namespace

int32 NativeChooser_GetLoadFilename(void *Window, const char *Title, char *Directory, int32 DirectoryLength,
                                    char *Filename, int32 FilenameLength) {
    return ChooseFile(NativePanelRequest::OpenFile, Window, Title, Directory, DirectoryLength, Filename,
                      FilenameLength);
}

int32 NativeChooser_GetSaveFilename(void *Window, const char *Title, char *Directory, int32 DirectoryLength,
                                    char *Filename, int32 FilenameLength) {
    return ChooseFile(NativePanelRequest::SaveFile, Window, Title, Directory, DirectoryLength, Filename,
                      FilenameLength);
}

int32 NativeChooser_GetNewDirectory(void *Window, const char *Title, char *Output, int32 OutputLength,
                                    const char *StartDirectory) {
    Debug_CheckPointer(Output);
    NativePanelRequest Panel;
    Panel.Type = NativePanelRequest::OpenFolder;
    SetUp(Panel, Window, Title);

    std::string Start, Created;
    if (StartDirectory != nullptr && StartDirectory[0] != 0) {
        char Resolved[MAX_PATH_SIZE] = "";
        Path_Resolve(StartDirectory, Resolved, sizeof(Resolved));
        Path_Fix(Resolved, sizeof(Resolved), PATH_FIX_ENSURE_TRAILING);
        Start = Resolved;
        if (!Path_DirectoryExists(Resolved)) {
            Created = TopmostMissing(Start);
            if (!Path_CreateDirectory(Resolved, FALSE, nullptr)) Created.clear();
        }
        Panel.Directory = Start;
    }

    int32 Chose = Run(Panel);
    std::string Chosen;
    if (Chose) {
        char Fixed[MAX_PATH_SIZE] = "";
        String_CopyLength(Fixed, Panel.Chosen.c_str(), sizeof(Fixed));
        Path_Fix(Fixed, sizeof(Fixed), PATH_FIX_ENSURE_TRAILING);
        Chosen = Fixed;
        String_CopyLength(Output, Fixed, OutputLength);
    }

    if (!Created.empty()) {
        bool Inside = !Chosen.empty() && String_CompareBeginningWithoutCase(Chosen.c_str(), Start.c_str());
        // rmdir removes a folder only while it is empty, so nothing the user
        // (or anyone) put there in the meantime is ever erased with it.
        if (!Inside && Path_IsDirectoryEmpty(Created.c_str()) && !Platform_RemoveDirectory(Created.c_str())) {
            Log_Warning("Unable to remove the folder made for the chooser (%s) [LE: %d]\n", Created.c_str(),
                        Platform_GetLastError());
        }
    }
    return Chose;
}
