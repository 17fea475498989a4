// Zip layout (see zip_layout.h). The end record is looked for where libzip
// looks for it, in the last 64 KiB and 22 bytes. Every record there that
// could be an end record and points at a plausible directory counts: libzip
// might take any of them, so two that disagree refuse the archive. The
// directory is then read in one piece (it lies inside the archive, so no
// larger than it) and each local header once, in the order of their
// offsets, which is also the order the overlap check needs.
#include "content/zip_layout.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace {

constexpr uint32 EndSignature = 0x06054b50;
constexpr uint32 LocatorSignature = 0x07064b50;
constexpr uint32 Zip64EndSignature = 0x06064b50;
constexpr uint32 CentralSignature = 0x02014b50;
constexpr uint32 LocalSignature = 0x04034b50;
constexpr uint64 EndSize = 22, LocatorSize = 20, Zip64EndSize = 56, CentralSize = 46, LocalSize = 30;
constexpr uint64 MaximumComment = 0xffff;
constexpr uint16 Zip64ExtraId = 0x0001;
// A field holding its marker says the real value is in a ZIP64 record.
constexpr uint64 Marker16 = 0xffff, Marker32 = 0xffffffff;

uint16 Get16(const uint8 *At) { return (uint16)(At[0] | At[1] << 8); }
uint32 Get32(const uint8 *At) { return Get16(At) | (uint32)Get16(At + 2) << 16; }
uint64 Get64(const uint8 *At) { return Get32(At) | (uint64)Get32(At + 4) << 32; }

bool Fail(std::string &Error, std::string Why) {
    Error = std::move(Why);
    return false;
}

struct Directory {
    uint64 Offset, Size, Count;
    bool operator==(const Directory &) const = default;
};

// The directory an end record at At describes, when it is one a reader
// could take: one disk, its comment inside the archive, the directory
// (through the ZIP64 locator and record when a locator precedes it, each
// narrow field equal to its wide twin or its marker) wholly before the
// records that follow it and, unless empty, starting with a central header.
std::optional<Directory> DirectoryAt(uint64 Size, uint64 At, const uint8 *End, const ZipReadAt &ReadAt) {
    if (Get16(End + 20) > Size - At - EndSize) return std::nullopt;
    if (Get16(End + 4) != 0 || Get16(End + 6) != 0 || Get16(End + 8) != Get16(End + 10)) return std::nullopt;
    Directory Found{Get32(End + 16), Get32(End + 12), Get16(End + 10)};
    uint64 Limit = At;
    uint8 Locator[LocatorSize], Record[Zip64EndSize];
    if (At >= LocatorSize && ReadAt(At - LocatorSize, Locator, LocatorSize) && Get32(Locator) == LocatorSignature) {
        const uint64 RecordAt = Get64(Locator + 8);
        Limit = At - LocatorSize;
        if (Get32(Locator + 4) != 0 || Get32(Locator + 16) > 1 || RecordAt > Limit || Limit - RecordAt < Zip64EndSize)
            return std::nullopt;
        if (!ReadAt(RecordAt, Record, Zip64EndSize) || Get32(Record) != Zip64EndSignature) return std::nullopt;
        const Directory Wide{Get64(Record + 48), Get64(Record + 40), Get64(Record + 32)};
        if (Get32(Record + 16) != 0 || Get32(Record + 20) != 0 || Get64(Record + 24) != Wide.Count)
            return std::nullopt;
        const auto Agrees = [](uint64 Narrow, uint64 Twin, uint64 Mark) { return Narrow == Twin || Narrow == Mark; };
        if (!Agrees(Found.Offset, Wide.Offset, Marker32) || !Agrees(Found.Size, Wide.Size, Marker32) ||
            !Agrees(Found.Count, Wide.Count, Marker16))
            return std::nullopt;
        Found = Wide;
        Limit = RecordAt;
    }
    if (Found.Size > Limit || Found.Offset > Limit - Found.Size || Found.Count > Found.Size / CentralSize)
        return std::nullopt;
    uint8 Signature[4];
    if (Found.Count != 0 && !(ReadAt(Found.Offset, Signature, 4) && Get32(Signature) == CentralSignature))
        return std::nullopt;
    return Found;
}

// Replaces each of Size, Compressed and Offset that holds its marker by the
// next 8 bytes of the ZIP64 extra field, in that order; false when the
// field is missing or too short.
bool ReadWideValues(const uint8 *Extra, size_t Length, uint64 &Size, uint64 &Compressed, uint64 &Offset) {
    if (Size != Marker32 && Compressed != Marker32 && Offset != Marker32) return true;
    for (size_t At = 0; Length - At >= 4;) {
        const size_t FieldLength = Get16(Extra + At + 2);
        if (FieldLength > Length - At - 4) return false;
        if (Get16(Extra + At) == Zip64ExtraId) {
            const uint8 *Field = Extra + At + 4, *FieldEnd = Field + FieldLength;
            for (uint64 *Value : {&Size, &Compressed, &Offset}) {
                if (*Value != Marker32) continue;
                if (FieldEnd - Field < 8) return false;
                *Value = Get64(Field);
                Field += 8;
            }
            return true;
        }
        At += 4 + FieldLength;
    }
    return false;
}

} // namespace

bool ZipLayout_Read(uint64 Size, const ZipReadAt &ReadAt, std::vector<ZipLayoutEntry> &Entries, std::string &Error) {
    Entries.clear();
    if (Size < EndSize) return Fail(Error, "too short for a zip archive");
    std::vector<uint8> Tail(std::min(Size, EndSize + MaximumComment));
    const uint64 TailStart = Size - Tail.size();
    if (!ReadAt(TailStart, Tail.data(), Tail.size())) return Fail(Error, "cannot read the archive");
    std::optional<Directory> Found;
    for (size_t At = 0; At + EndSize <= Tail.size(); At++) {
        if (Get32(&Tail[At]) != EndSignature) continue;
        const std::optional<Directory> Candidate = DirectoryAt(Size, TailStart + At, &Tail[At], ReadAt);
        if (Found && Candidate && !(*Found == *Candidate))
            return Fail(Error, "more than one end record could be the archive's");
        if (Candidate) Found = Candidate;
    }
    if (!Found) return Fail(Error, "no end record that leads to a central directory");

    std::vector<uint8> Central(Found->Size);
    if (!Central.empty() && !ReadAt(Found->Offset, Central.data(), Central.size()))
        return Fail(Error, "cannot read the central directory");
    Entries.reserve(Found->Count);
    size_t At = 0;
    for (uint64 Index = 0; Index < Found->Count; Index++) {
        const uint8 *Header = Central.data() + At;
        if (Central.size() - At < CentralSize || Get32(Header) != CentralSignature)
            return Fail(Error, "malformed central header");
        const size_t NameLength = Get16(Header + 28), ExtraLength = Get16(Header + 30);
        const size_t Length = CentralSize + NameLength + ExtraLength + Get16(Header + 32);
        if (Length > Central.size() - At) return Fail(Error, "central header runs past the directory");
        ZipLayoutEntry Entry{std::string((const char *)Header + CentralSize, NameLength), Get32(Header + 20),
                             Get32(Header + 24), Get32(Header + 16), Get32(Header + 42), 0};
        if (Get16(Header + 34) != 0) return Fail(Error, "entry \"" + Entry.Name + "\" starts on another disk");
        if (!ReadWideValues(Header + CentralSize + NameLength, ExtraLength, Entry.Size, Entry.CompressedSize,
                            Entry.Start))
            return Fail(Error, "malformed ZIP64 field of entry \"" + Entry.Name + "\"");
        Entries.push_back(std::move(Entry));
        At += Length;
    }
    if (At != Central.size()) return Fail(Error, "the central directory holds more than its entries");

    // Each entry's bytes, in the order they lie, end before the next
    // entry's start and before the directory.
    std::vector<size_t> Order(Entries.size());
    std::iota(Order.begin(), Order.end(), 0);
    std::sort(Order.begin(), Order.end(), [&](size_t A, size_t B) { return Entries[A].Start < Entries[B].Start; });
    const ZipLayoutEntry *Before = nullptr;
    for (const size_t Index : Order) {
        ZipLayoutEntry &Entry = Entries[Index];
        const auto Outside = [&] {
            return Fail(Error, "entry \"" + Entry.Name + "\" reaches outside the archive's data");
        };
        uint8 Local[LocalSize];
        if (Entry.Start > Found->Offset || Found->Offset - Entry.Start < LocalSize) return Outside();
        if (!ReadAt(Entry.Start, Local, LocalSize) || Get32(Local) != LocalSignature)
            return Fail(Error, "entry \"" + Entry.Name + "\" has no local header");
        const uint64 Room = Found->Offset - Entry.Start, Header = LocalSize + Get16(Local + 26) + Get16(Local + 28);
        if (Header > Room || Entry.CompressedSize > Room - Header) return Outside();
        Entry.End = Entry.Start + Header + Entry.CompressedSize;
        if (Before != nullptr && Entry.Start < Before->End)
            return Fail(Error, "entries \"" + Before->Name + "\" and \"" + Entry.Name + "\" overlap in the archive");
        Before = &Entry;
    }
    return true;
}
