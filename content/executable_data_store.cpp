// The data store stamped into an executable or disk image (see executable.h):
// the region that may hold it by the kind of file (PE certificate table, disk
// image trailer, ELF ".datastore" section), the marker inside the region, and
// the store's size and CRC-32 checks and inflation.
//
// Every offset and size comes from the file, so each is checked against the
// file and the region before it is used; a store that does not fit is no
// store. Regions and texts are capped so a forged header cannot ask for
// gigabytes: a region is read only as far as the largest store the format
// can describe, and a text (a configuration document) past
// EXECUTABLE_DATASTORE_MOST is refused, with why, before it is inflated; the
// text handed out is charged to the process's memory budget until released.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "content/dmg_file.h"
#include "content/elf_file.h"
#include "content/executable.h"
#include "content/executable_file.h"
#include "content/pe_file.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

// The largest store: its header, CRC and a data area of 65,535 KiB.
constexpr uint64 MaximumRegion = 24 + 65535ull * 1024;
constexpr uint64 MaximumText = EXECUTABLE_DATASTORE_MOST;
constexpr size_t PlainLimit = 4096;
constexpr std::string_view PlainMarker = "TQXDATASTORE";
constexpr std::string_view Marker = "TQXDS";

uint64 Number(const uint8 *Bytes, int Width, bool Big) { return ExecutableSource_Number(Bytes, Width, Big); }

struct Region {
    uint64 Offset = 0, Length = 0;
};

// The region by the kind of file: a PE image's certificate table, a disk
// image's trailer region, an ELF file's ".datastore" section; the first kind
// that matches decides, even when its region is empty.
Region FindRegion(const ExecutableSource &File) {
    Region Out;
    PeHeaders Head;
    if (PeFile_ReadHeaders(File, Head)) return {Head.TableOffset, Head.TableSize};
    if (DmgFile_ReadTrailer(File, Out.Offset, Out.Length)) return Out;
    if (ElfFile_Class(File)) ElfFile_FindSection(File, ".datastore", Out.Offset, Out.Length);
    return Out;
}

// The versioned store at the marker; false when it is cut short, too large
// for its capacity, fails its CRC or does not inflate to its declared length.
bool Versioned(std::string_view Area, std::string &Text) {
    const auto *Bytes = reinterpret_cast<const uint8 *>(Area.data());
    if (Area.size() < 12) return false;
    const uint8 Version = (uint8)(Bytes[5] - '0');
    const uint64 Capacity = Number(Bytes + 6, 2, true) * 1024, Length = Number(Bytes + 8, 4, true);
    const size_t Header = Version >= 3 ? 16 : 12;
    if (Area.size() < Header + 4) return false;
    const uint64 Inflated = Version >= 3 ? Number(Bytes + 12, 4, true) : 0;
    if (Length > Capacity) {
        Log_Debug("Data store size greater than allowed (%d > %d)\n", (int32)Length, (int32)(Capacity / 1024));
        return false;
    }
    if (Area.size() - Header - 4 < Capacity) return false; // the data area runs past the region
    const uint32 Stored = (uint32)Number(Bytes + Header, 4, true);
    const uint8 Zero[4] = {0, 0, 0, 0};
    uint32 Crc = CRC_Update(0, Bytes, (uint32)Header);
    Crc = CRC_Update(Crc, Zero, 4);
    Crc = CRC_Update(Crc, Bytes + Header + 4, (uint32)Capacity);
    if (Stored != Crc) {
        Log_Debug("Data store crc hash invalid (0x%08x != 0x%08x)\n", Stored, Crc);
        return false;
    }
    const std::string_view Data = Area.substr(Header + 4, Length);
    if ((Version < 3 || Inflated == 0 ? Length : Inflated) > MaximumText) {
        Log_Error("Data store refused: its text of %llu bytes passes the limit of %llu bytes\n",
                  (unsigned long long)(Version < 3 || Inflated == 0 ? Length : Inflated),
                  (unsigned long long)MaximumText);
        return false;
    }
    if (Version < 3 || Inflated == 0) {
        Text.assign(Data);
        return true;
    }
    int Status = Z_MEM_ERROR;
    {
        // Never more than the data can inflate to, whatever length is stated.
        Text.assign(std::min<uint64>(Inflated, ExecutableSource_InflateBound(Data.size())), '\0');
        z_stream Stream{};
        Status = inflateInit2(&Stream, 47);
        if (Status == Z_OK) {
            Stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.data()));
            Stream.avail_in = (uInt)Data.size();
            Stream.next_out = reinterpret_cast<Bytef *>(Text.data());
            Stream.avail_out = (uInt)Text.size();
            Status = inflate(&Stream, Z_SYNC_FLUSH);
            const uLong Produced = Stream.total_out;
            inflateEnd(&Stream);
            // A stream that ends short of the length it declares is no store:
            // handing out what it held would pass a cut text for a whole one.
            if ((Status == Z_OK || Status == Z_STREAM_END) && Produced < Inflated) {
                Log_Debug("Data store inflated short (%u < %u)\n", (uint32)Produced, (uint32)Inflated);
                Text.clear();
                return false;
            }
        }
    }
    if (Status == Z_OK || Status == Z_STREAM_END) return true;
    Log_Debug("Data store uncompress error (%d)\n", Status);
    Text.clear();
    return false;
}

} // namespace

bool ExecutableDataStore_Find(const ExecutableSource &File, std::string &Text) {
    Text.clear();
    const Region Place = FindRegion(File);
    if (Place.Length == 0 || Place.Offset > File.Size || Place.Length > File.Size - Place.Offset) return false;
    if (Place.Length > MaximumRegion) {
        Log_Error("Data store refused: its region of %llu bytes passes the largest a store takes (%llu)\n",
                  (unsigned long long)Place.Length, (unsigned long long)MaximumRegion);
        return false;
    }
    std::string Buffer(Place.Length, '\0');
    if (!File.Read(Place.Offset, Buffer.data(), Buffer.size())) return false;
    const std::string_view Area(Buffer);
    if (size_t At = Area.find(PlainMarker); At != std::string_view::npos) {
        std::string_view Plain = Area.substr(At + PlainMarker.size(), PlainLimit);
        Text.assign(Plain.substr(0, Plain.find('\0')));
        return true;
    }
    const size_t At = Area.find(Marker);
    return At != std::string_view::npos && Versioned(Area.substr(At), Text);
}

extern "C" int32 Executable_GetDataStore(const char *Path, char **Text, int32 *Length) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Length);
    *Text = nullptr;
    *Length = 0;
    char Chosen[MAX_PATH_SIZE * 4] = "";
    if (Path == nullptr) {
        // The running program, or the disk image it was started from.
        char Program[MAX_PATH_SIZE * 4], Image[MAX_PATH_SIZE * 4];
        Executable_Init();
        Executable_GetCurrentModuleAppPath(Program, sizeof(Program));
        if (Program[0] == 0) return FALSE;
        const bool FromImage = Platform_GetDiskImageFromPath(Program, Image, sizeof(Image)) &&
                               strlen(Image) > 4 && String_CompareWithoutCase(Image + strlen(Image) - 4, ".dmg");
        String_CopyLength(Chosen, FromImage ? Image : Program, sizeof(Chosen));
        Path = Chosen;
    }
    ExecutableFile File(Path);
    if (!File.IsOpen()) return FALSE;
    const ExecutableSource &Source = File.Source();
    std::string Store;
    if (!ExecutableDataStore_Find(Source, Store) || Store.size() > (size_t)INT32_MAX - 1) return FALSE;
    if (!MemoryBudget_Take((int64)Store.size() + 1)) {
        Log_Error("Data store of %s refused: its %d bytes pass the process's memory budget of %d MiB\n", Path,
                  (int32)Store.size(), (int32)(MemoryBudget_GetLimit() >> 20));
        return FALSE;
    }
    *Text = static_cast<char *>(Memory_Alloc((int32)Store.size() + 1));
    memcpy(*Text, Store.data(), Store.size());
    (*Text)[Store.size()] = 0;
    *Length = (int32)Store.size();
    return TRUE;
}

extern "C" int32 Executable_ReleaseDataStore(const char *Path, char **Text, int32 *Length) {
    (void)Path;
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Length);
    if (*Text != nullptr) {
        *Text = static_cast<char *>(Memory_Free(*Text, *Length + 1));
        MemoryBudget_Give(*Length + 1);
    }
    *Length = 0;
    return TRUE;
}
