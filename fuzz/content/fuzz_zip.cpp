// Zip extraction on arbitrary archives: the bytes are written to a file and
// extracted with a password, so the layout reader, the libzip source, the
// name and link checks, the PKWARE and WinZip AES readers and the inflater
// all see hostile input.
// A refused archive must leave nothing in the work folder but the archive
// itself; an accepted one must have written only inside the destination.
// ASan and UBSan catch the rest. The work folder is the process's own
// (mkdtemp, under TMPDIR) and goes when the process ends; the archive goes
// after each run.
#include <dirent.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "content/zip.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int RemoveOne(const char *Path, const struct stat *, int, struct FTW *) { return remove(Path); }

void RemoveTree(const std::string &Path) { nftw(Path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS); }

// Entries in the work folder other than the archive and the destination.
int Strays(const std::string &Folder) {
    int Count = 0;
    if (DIR *Listing = opendir(Folder.c_str())) {
        while (struct dirent *Item = readdir(Listing)) {
            const std::string Name = Item->d_name;
            if (Name != "." && Name != ".." && Name != "in.zip" && Name != "out") Count++;
        }
        closedir(Listing);
    }
    return Count;
}

// The process's own work folder, removed with everything in it at exit.
struct WorkFolder {
    std::string Path;
    WorkFolder() {
        const char *Parent = getenv("TMPDIR");
        std::string Template = std::string(Parent != nullptr && *Parent != 0 ? Parent : "/tmp") + "/fuzz-zip-XXXXXX";
        if (mkdtemp(Template.data()) != nullptr) Path = Template;
    }
    ~WorkFolder() {
        if (!Path.empty()) RemoveTree(Path);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-zip.log", nullptr, 0) != 0;
    (void)Started;
    static const WorkFolder Work;
    const std::string &Folder = Work.Path;
    if (Size > 1 << 20 || Folder.empty()) return 0;
    const std::string Archive = Folder + "/in.zip", Output = Folder + "/out";
    FILE *File = fopen(Archive.c_str(), "wb");
    if (File == nullptr) return 0;
    fwrite(Data, 1, Size, File);
    fclose(File);
    const int32 Result = Zip_Extract(Archive.c_str(), 0, Output.c_str(), "pw");
    if (Result == 0) Check(access(Output.c_str(), F_OK) != 0);
    Check(Strays(Folder) == 0);
    RemoveTree(Output);
    unlink(Archive.c_str());
    return 0;
}
