// The zip back end's operating-system and path functions over the
// platform's file layer (see zip_backend.h).
//
// File dates cross this layer as the platform's broken-down times, which are
// universal time; they are put together and taken apart with timegm and
// gmtime_r, so the time_t read is the file's real time and setting t sets
// exactly t in any local zone.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "content/zip_backend.h"
#include "runtime/files/path.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_file.h"

namespace {

struct DirectoryListing {
    void *Find;
    PlatformFindEntry Entry;
    bool Pending; // Entry holds a match not yet handed out
    bool Ended;
    struct dirent Record;
};

bool IsSeparator(char Character) { return Character == '/' || Character == '\\'; }

bool StatNoFollow(const char *Path, struct stat *Status) { return Path != nullptr && Platform_Stat(Path, Status); }

} // namespace

uint8_t *mz_os_utf8_string_create(const char *string, int32_t encoding) {
    if (string == nullptr || encoding != MZ_ENCODING_UTF8) return nullptr;
    return reinterpret_cast<uint8_t *>(strdup(string));
}

void mz_os_utf8_string_delete(uint8_t **string) {
    if (string == nullptr) return;
    free(*string);
    *string = nullptr;
}

int32_t mz_os_rand(uint8_t *buf, int32_t size) {
    if (buf == nullptr || size < 0) return 0;
    if (size > 0) Platform_CryptFill(buf, size);
    return size;
}

int32_t mz_crypt_rand(uint8_t *buf, int32_t size) { return mz_os_rand(buf, size); }

int32_t mz_os_rename(const char *source_path, const char *target_path) {
    if (source_path == nullptr || target_path == nullptr) return MZ_INTERNAL_ERROR;
    return Platform_MoveFile(nullptr, source_path, target_path, PLATFORM_MOVE_REPLACE_EXISTING) ? MZ_OK
                                                                                              : MZ_INTERNAL_ERROR;
}

int32_t mz_os_unlink(const char *path) {
    if (path == nullptr) return MZ_INTERNAL_ERROR;
    return Platform_DeleteFile(nullptr, path) ? MZ_OK : MZ_INTERNAL_ERROR;
}

int32_t mz_os_delete(const char *path) { return mz_os_unlink(path); }

int32_t mz_os_file_exists(const char *path) {
    struct stat Status;
    return StatNoFollow(path, &Status) ? MZ_OK : MZ_EXIST_ERROR;
}

int32_t mz_os_is_dir(const char *path) {
    struct stat Status;
    return StatNoFollow(path, &Status) && S_ISDIR(Status.st_mode) ? MZ_OK : MZ_EXIST_ERROR;
}

int32_t mz_os_is_symlink(const char *path) {
    struct stat Status;
    return StatNoFollow(path, &Status) && S_ISLNK(Status.st_mode) ? MZ_OK : MZ_EXIST_ERROR;
}

int64_t mz_os_get_file_size(const char *path) {
    struct stat Status;
    return StatNoFollow(path, &Status) && S_ISREG(Status.st_mode) ? (int64_t)Status.st_size : 0;
}

int32_t mz_os_get_file_date(const char *path, time_t *modified_date, time_t *accessed_date, time_t *creation_date) {
    struct tm Created {}, Accessed {}, Modified {};
    if (path == nullptr || !Platform_GetFileTime(path, 0, nullptr, &Created, &Accessed, &Modified))
        return MZ_INTERNAL_ERROR;
    if (modified_date != nullptr) *modified_date = timegm(&Modified);
    if (accessed_date != nullptr) *accessed_date = timegm(&Accessed);
    if (creation_date != nullptr) *creation_date = timegm(&Created);
    return MZ_OK;
}

int32_t mz_os_set_file_date(const char *path, time_t modified_date, time_t accessed_date, time_t creation_date) {
    struct tm Created {}, Accessed {}, Modified {};
    if (path == nullptr || gmtime_r(&modified_date, &Modified) == nullptr ||
        gmtime_r(&accessed_date, &Accessed) == nullptr || gmtime_r(&creation_date, &Created) == nullptr)
        return MZ_INTERNAL_ERROR;
    return Platform_SetFileTime(path, 0, nullptr, &Created, &Accessed, &Modified) ? MZ_OK : MZ_INTERNAL_ERROR;
}

int32_t mz_os_get_file_attribs(const char *path, uint32_t *attributes) {
    struct stat Status;
    if (attributes == nullptr || !StatNoFollow(path, &Status)) return MZ_INTERNAL_ERROR;
    uint32 Bits = 0;
    Platform_GetFileAttributes(nullptr, path, &Bits);
    *attributes = Bits;
    return MZ_OK;
}

int32_t mz_os_set_file_attribs(const char *path, uint32_t attributes) {
    if (path == nullptr) return MZ_INTERNAL_ERROR;
    return Platform_SetFileAttributes(nullptr, path, attributes) ? MZ_OK : MZ_INTERNAL_ERROR;
}

int32_t mz_os_make_dir(const char *path) {
    if (path == nullptr) return MZ_INTERNAL_ERROR;
    if (Platform_CreateDirectory(path) || mz_os_is_dir(path) == MZ_OK) return MZ_OK;
    return MZ_INTERNAL_ERROR;
}

int32_t mz_dir_make(const char *path) {
    if (path == nullptr) return MZ_PARAM_ERROR;
    return Path_CreateDirectory(path, FALSE, nullptr) ? MZ_OK : MZ_INTERNAL_ERROR;
}

void *mz_os_open_dir(const char *path) {
    if (path == nullptr) return nullptr;
    const std::string Pattern = std::string(path) + "/" + "*";
    DirectoryListing *Listing = static_cast<DirectoryListing *>(calloc(1, sizeof(DirectoryListing)));
    if (Listing == nullptr) return nullptr;
    if (!Platform_FindFirstFile(Pattern.c_str(), &Listing->Entry, &Listing->Find)) {
        free(Listing);
        return nullptr;
    }
    Listing->Pending = true;
    return Listing;
}

struct dirent *mz_os_read_dir(void *dir) {
    DirectoryListing *Listing = static_cast<DirectoryListing *>(dir);
    if (Listing == nullptr || Listing->Ended) return nullptr;
    if (!Listing->Pending && !Platform_FindNextFile(Listing->Find, &Listing->Entry)) {
        Listing->Ended = true;
        return nullptr;
    }
    Listing->Pending = false;
    struct dirent &Record = Listing->Record;
    memset(&Record, 0, sizeof(Record));
    // The record's name holds 256 bytes, fewer than a find entry may carry.
    const size_t Length = strnlen(Listing->Entry.Name, sizeof(Record.d_name) - 1);
    memcpy(Record.d_name, Listing->Entry.Name, Length);
    Record.d_name[Length] = 0;
    const uint32 Attributes = Listing->Entry.Attributes;
    Record.d_type = (Attributes & PLATFORM_ATTRIBUTE_SYMLINK)     ? DT_LNK
                    : (Attributes & PLATFORM_ATTRIBUTE_DIRECTORY) ? DT_DIR
                                                                  : DT_REG;
    return &Record;
}

int32_t mz_os_close_dir(void *dir) {
    DirectoryListing *Listing = static_cast<DirectoryListing *>(dir);
    if (Listing == nullptr) return MZ_PARAM_ERROR;
    Platform_FindClose(&Listing->Find);
    free(Listing);
    return MZ_OK;
}

// The link alone, as mz_os_make_dir makes one level: its folder is the
// caller's to make, by the caller's reading of the path (a ":" in a name is
// no separator here).
int32_t mz_os_make_symlink(const char *path, const char *target_path) {
    if (path == nullptr || target_path == nullptr) return MZ_INTERNAL_ERROR;
    return symlink(target_path, path) == 0 ? MZ_OK : MZ_INTERNAL_ERROR;
}

int32_t mz_os_read_symlink(const char *path, char *target_path, int32_t max_target_path) {
    if (path == nullptr || target_path == nullptr || max_target_path < 2) return MZ_INTERNAL_ERROR;
    return Platform_GetSymLink(path, target_path, max_target_path) ? MZ_OK : MZ_INTERNAL_ERROR;
}

uint64_t mz_os_ms_time(void) {
    struct timespec Now;
    clock_gettime(CLOCK_REALTIME, &Now);
    return (uint64_t)Now.tv_sec * 1000 + (uint64_t)(Now.tv_nsec / 1000000);
}

int32_t mz_path_resolve(const char *path, char *target, int32_t max_target) {
    if (path == nullptr || target == nullptr || max_target < 1) return MZ_PARAM_ERROR;
    std::vector<std::string> Parts;
    std::string Part;
    const size_t Length = strlen(path);
    auto Flush = [&]() {
        if (Part == "..") {
            if (!Parts.empty()) Parts.pop_back();
        } else if (!Part.empty() && Part != ".") {
            Parts.push_back(Part);
        }
        Part.clear();
    };
    for (size_t I = 0; I < Length; I++) {
        if (IsSeparator(path[I])) Flush();
        else Part += path[I];
    }
    Flush();
    std::string Result = Length > 0 && IsSeparator(path[0]) ? "/" : "";
    for (size_t I = 0; I < Parts.size(); I++) Result += (I ? "/" : "") + Parts[I];
    if (Length > 1 && IsSeparator(path[Length - 1]) && !Parts.empty()) Result += "/";
    if (Result.size() + 1 > (size_t)max_target) return MZ_INTERNAL_ERROR;
    memcpy(target, Result.c_str(), Result.size() + 1);
    return MZ_OK;
}

int32_t mz_path_remove_filename(char *path) {
    if (path == nullptr) return MZ_PARAM_ERROR;
    char *End = path + strlen(path);
    while (End > path && !IsSeparator(End[-1])) End--;
    // Keep no separator behind the folder ("a/b/c" becomes "a/b").
    if (End > path) End--;
    *End = 0;
    return MZ_OK;
}

int32_t mz_path_remove_extension(char *path) {
    if (path == nullptr) return MZ_PARAM_ERROR;
    for (char *At = path + strlen(path); At > path; At--) {
        if (IsSeparator(At[-1])) break;
        if (At[-1] == '.') {
            At[-1] = 0;
            break;
        }
    }
    return MZ_OK;
}

int32_t mz_path_get_filename(const char *path, const char **filename) {
    if (path == nullptr || filename == nullptr) return MZ_PARAM_ERROR;
    *filename = path;
    for (const char *At = path; *At != 0; At++)
        if (IsSeparator(*At)) *filename = At + 1;
    return **filename != 0 ? MZ_OK : MZ_EXIST_ERROR;
}
