// The data store stamped into an executable or disk image (see executable.h):
// the region that may hold it by the kind of file (PE certificate table, disk
// image trailer, ELF ".datastore" section), the marker inside the region, and
// the store's size and CRC-32 checks and inflation.
//
// Every offset and size comes from the file, so each is checked against the
// file and the region before it is used; a store that does not fit is no
// store. Regions and inflated texts are capped so a forged header cannot ask
// for gigabytes.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <string_view>

#include "core/debug.h"
#include "core/executable.h"
#include "core/formats/crc.h"
#include "core/log.h"
#include "core/memory.h"
#include "core/posix/platform.h"
#include "core/string.h"

namespace {

constexpr uint64 MaximumRegion = 256ull << 20;
constexpr uint32 MaximumInflated = 256u << 20;
constexpr size_t PlainLimit = 4096;
constexpr std::string_view PlainMarker = "TQXDATASTORE";
constexpr std::string_view Marker = "TQXDS";

uint64 Number(const uint8 *Bytes, int Width, bool Big) {
    uint64 Value = 0;
    for (int Index = 0; Index < Width; Index++)
        Value |= (uint64)Bytes[Big ? Index : Width - 1 - Index] << (8 * (Width - 1 - Index));
    return Value;
}

struct Region {
    uint64 Offset = 0, Length = 0;
};

// PE: the certificate table of data directory entry 4 (its address is a
// file offset). Answers whether the file is a PE image.
bool PeRegion(const ExecutableSource &File, Region &Out) {
    uint8 Dos[64], Head[24 + 2];
    if (!File.Read(0, Dos, sizeof(Dos)) || Dos[0] != 'M' || Dos[1] != 'Z') return false;
    const uint64 Pe = Number(Dos + 0x3c, 4, false);
    if (!File.Read(Pe, Head, sizeof(Head)) || memcmp(Head, "PE\0\0", 4) != 0) return false;
    const uint64 Optional = Pe + 24, OptionalSize = Number(Head + 20, 2, false);
    const uint64 Magic = Number(Head + 24, 2, false);
    if (Magic != 0x10b && Magic != 0x20b) return false;
    const uint64 CountAt = Magic == 0x10b ? 92 : 108;
    uint8 Count[4], Entry[8];
    if (OptionalSize < CountAt + 4 + 5 * 8 || !File.Read(Optional + CountAt, Count, 4) ||
        Number(Count, 4, false) < 5 || !File.Read(Optional + CountAt + 4 + 4 * 8, Entry, 8))
        return true;
    Out = {Number(Entry, 4, false), Number(Entry + 4, 4, false)};
    return true;
}

// Disk image: the "koly" trailer in the last 512 bytes; the region's offset
// and length (low 32 bits) lie in its reserved area.
bool DmgRegion(const ExecutableSource &File, Region &Out) {
    uint8 Trailer[512];
    if (File.Size < sizeof(Trailer) || !File.Read(File.Size - sizeof(Trailer), Trailer, sizeof(Trailer)) ||
        memcmp(Trailer, "koly", 4) != 0)
        return false;
    Out = {Number(Trailer + 296, 8, true), Number(Trailer + 304, 8, true) & 0xffffffffu};
    return true;
}

// ELF, 32 or 64 bits, either byte order: the section named ".datastore"
// (without case).
bool ElfRegion(const ExecutableSource &File, Region &Out) {
    uint8 Head[64];
    if (!File.Read(0, Head, 52) || memcmp(Head, "\x7f" "ELF", 4) != 0 || Head[4] < 1 || Head[4] > 2 ||
        Head[5] < 1 || Head[5] > 2)
        return false;
    const bool Wide = Head[4] == 2, Big = Head[5] == 2;
    if (Wide && !File.Read(0, Head, 64)) return false;
    auto Field = [&](const uint8 *At, int Width) { return Number(At, Width, Big); };
    const uint64 Table = Wide ? Field(Head + 0x28, 8) : Field(Head + 0x20, 4);
    const uint64 EntrySize = Field(Head + (Wide ? 0x3a : 0x2e), 2);
    const uint64 Count = Field(Head + (Wide ? 0x3c : 0x30), 2);
    const uint64 NamesIndex = Field(Head + (Wide ? 0x3e : 0x32), 2);
    if (EntrySize < (Wide ? 64u : 40u) || NamesIndex >= Count) return true;
    auto Section = [&](uint64 Index, uint64 &Name, Region &Place) {
        uint8 Entry[64];
        if (!File.Read(Table + Index * EntrySize, Entry, Wide ? 64 : 40)) return false;
        Name = Field(Entry, 4);
        Place = Wide ? Region{Field(Entry + 0x18, 8), Field(Entry + 0x20, 8)}
                     : Region{Field(Entry + 0x10, 4), Field(Entry + 0x14, 4)};
        return true;
    };
    uint64 Unused;
    Region Names;
    if (!Section(NamesIndex, Unused, Names) || Names.Length > (1u << 20)) return true;
    std::string Text(Names.Length, '\0');
    if (!File.Read(Names.Offset, Text.data(), Text.size())) return true;
    for (uint64 Index = 0; Index < Count; Index++) {
        uint64 Name;
        Region Place;
        if (!Section(Index, Name, Place) || Name >= Text.size()) continue;
        if (String_CompareWithoutCase(Text.c_str() + Name, ".datastore")) {
            Out = Place;
            return true;
        }
    }
    return true;
}

// The versioned store at the marker; false when it is cut short, too large
// for its capacity, fails its CRC or does not inflate.
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
    if (Version < 3 || Inflated == 0) {
        Text.assign(Data);
        return true;
    }
    int Status = Z_MEM_ERROR;
    if (Inflated <= MaximumInflated) {
        Text.assign(Inflated, '\0');
        z_stream Stream{};
        Status = inflateInit2(&Stream, 47);
        if (Status == Z_OK) {
            Stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.data()));
            Stream.avail_in = (uInt)Data.size();
            Stream.next_out = reinterpret_cast<Bytef *>(Text.data());
            Stream.avail_out = (uInt)Inflated;
            Status = inflate(&Stream, Z_SYNC_FLUSH);
            // A stream shorter than announced hands out only what it held.
            Text.resize(Stream.total_out);
            inflateEnd(&Stream);
        }
    }
    if (Status == Z_OK || Status == Z_STREAM_END) return true;
    Log_Debug("Data store uncompress error (%d)\n", Status);
    Text.clear();
    return false;
}

struct Descriptor {
    int Value;
    ~Descriptor() {
        if (Value >= 0) close(Value);
    }
};

} // namespace

bool ExecutableDataStore_Find(const ExecutableSource &File, std::string &Text) {
    Text.clear();
    Region Place;
    if (!PeRegion(File, Place) && !DmgRegion(File, Place)) ElfRegion(File, Place);
    if (Place.Length == 0 || Place.Offset > File.Size || Place.Length > File.Size - Place.Offset) return false;
    if (Place.Length > MaximumRegion) return false;
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
        if (!Platform_GetSpecialPath(PLATFORM_PATH_MODULEPATH, Program, sizeof(Program))) return FALSE;
        const bool FromImage = Platform_GetDiskImageFromPath(Program, Image, sizeof(Image)) &&
                               strlen(Image) > 4 && String_CompareWithoutCase(Image + strlen(Image) - 4, ".dmg");
        String_CopyLength(Chosen, FromImage ? Image : Program, sizeof(Chosen));
        Path = Chosen;
    }
    Descriptor File{open(Path, O_RDONLY | O_CLOEXEC)};
    struct stat Status;
    if (File.Value < 0 || fstat(File.Value, &Status) != 0 || !S_ISREG(Status.st_mode)) return FALSE;
    const ExecutableSource Source{(uint64)Status.st_size, [&](uint64 Offset, void *Out, size_t Count) {
                                      if (Offset > (uint64)Status.st_size || Count > Status.st_size - Offset)
                                          return false;
                                      for (size_t Done = 0; Done < Count;) {
                                          ssize_t Got = pread(File.Value, (char *)Out + Done, Count - Done,
                                                              (off_t)(Offset + Done));
                                          if (Got < 0 && errno == EINTR) continue;
                                          if (Got <= 0) return false;
                                          Done += (size_t)Got;
                                      }
                                      return true;
                                  }};
    std::string Store;
    if (!ExecutableDataStore_Find(Source, Store) || Store.size() > (size_t)INT32_MAX - 1) return FALSE;
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
    if (*Text != nullptr) *Text = static_cast<char *>(Memory_Free(*Text, *Length + 1));
    *Length = 0;
    return TRUE;
}
