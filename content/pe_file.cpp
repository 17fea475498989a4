// PE headers, certificate table, image digest and version resource (see
// pe_file.h). Every length the image states is checked against the file (or
// the resource section being walked) before it is used: the section table is
// taken where the file header says it is (after SizeOfOptionalHeader bytes)
// for the digest and the resource search alike, and a version walk that would
// leave its block stops with what it has set.
#include "content/pe_file.h"

#include <stddef.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "crypto/trust/pkcs7.h"
#include "runtime/debug.h"
#include "runtime/text/string.h"

namespace {

constexpr uint32 CertificateCap = 0x7fffffff;

uint64 Le(const void *At, int Width) { return ExecutableSource_Number(At, Width, false); }

template <typename Work> int32 WithPath(const char *Path, Work &&Body) {
    ExecutableFile File(Path);
    return File.IsOpen() && Body(File.Source()) ? TRUE : FALSE;
}

struct SectionEntry {
    char Name[8];
    uint32 RawSize, RawOffset;
};

bool ReadSections(const ExecutableSource &File, const PeHeaders &Head, std::vector<SectionEntry> &Out) {
    std::string Table;
    if (!ExecutableSource_ReadRange(File, Head.NtOffset + 24 + Head.OptionalSize, 40ull * Head.Sections, Table))
        return false;
    Out.resize(Head.Sections);
    for (uint32 Index = 0; Index < Head.Sections; Index++) {
        const char *Entry = Table.data() + 40 * Index;
        memcpy(Out[Index].Name, Entry, 8);
        Out[Index].RawSize = (uint32)Le(Entry + 16, 4);
        Out[Index].RawOffset = (uint32)Le(Entry + 20, 4);
    }
    return true;
}

// The UTF-16LE text [At, End) up to its first zero unit, as UTF-8.
std::string Utf8(std::string_view Bytes, size_t At, size_t End, size_t *Stop = nullptr) {
    std::string Text;
    size_t Index = At;
    for (; Index + 2 <= End; Index += 2) {
        uint32 Unit = (uint32)Le(Bytes.data() + Index, 2);
        if (Unit == 0) break;
        if (Unit >= 0xd800 && Unit < 0xdc00 && Index + 4 <= End) {
            const uint32 Low = (uint32)Le(Bytes.data() + Index + 2, 2);
            if (Low >= 0xdc00 && Low < 0xe000) {
                Unit = 0x10000 + ((Unit - 0xd800) << 10) + (Low - 0xdc00);
                Index += 2;
            } else Unit = 0xfffd;
        } else if (Unit >= 0xd800 && Unit < 0xe000) Unit = 0xfffd;
        if (Unit < 0x80) Text += (char)Unit;
        else if (Unit < 0x800) Text += {(char)(0xc0 | Unit >> 6), (char)(0x80 | (Unit & 0x3f))};
        else if (Unit < 0x10000)
            Text += {(char)(0xe0 | Unit >> 12), (char)(0x80 | ((Unit >> 6) & 0x3f)), (char)(0x80 | (Unit & 0x3f))};
        else
            Text += {(char)(0xf0 | Unit >> 18), (char)(0x80 | ((Unit >> 12) & 0x3f)), (char)(0x80 | ((Unit >> 6) & 0x3f)),
                     (char)(0x80 | (Unit & 0x3f))};
    }
    if (Stop) *Stop = Index;
    return Text;
}

size_t Align4(size_t Value) { return (Value + 3) & ~(size_t)3; }

size_t FindKey(std::string_view Bytes, const char *Key) {
    std::string Wide;
    for (const char *At = Key;; At++) {
        Wide += *At;
        Wide += '\0';
        if (*At == 0) break;
    }
    return Bytes.find(Wide);
}

// Every string of every string table inside the StringFileInfo block.
bool ReadStrings(std::string_view Bytes, Dictionary *Dict) {
    const size_t Key = FindKey(Bytes, "StringFileInfo");
    if (Key == std::string_view::npos || Key < 6) return false;
    const size_t BlockEnd = std::min(Bytes.size(), Key - 6 + (size_t)Le(Bytes.data() + Key - 6, 2));
    bool Read = false;
    for (size_t Table = Align4(Key + 30); Table + 24 <= BlockEnd;) {
        const size_t Length = (size_t)Le(Bytes.data() + Table, 2);
        if (Length == 0) break;
        const size_t TableEnd = std::min(BlockEnd, Table + Length);
        for (size_t Item = Align4(Table + 24); Item + 6 < TableEnd;) {
            const size_t Units = (size_t)Le(Bytes.data() + Item + 2, 2);
            size_t KeyEnd;
            const std::string Name = Utf8(Bytes, Item + 6, TableEnd, &KeyEnd);
            const size_t Value = Align4(KeyEnd + 2);
            if (Value > TableEnd) break;
            const std::string Text = Utf8(Bytes, Value, std::min(TableEnd, Value + 2 * Units));
            if (!Name.empty()) Dictionary_SetStringByKey(Dict, Name.c_str(), Text.c_str());
            Item = Align4(Value + 2 * Units);
        }
        Read = true;
        Table = Align4(Table + Length);
    }
    return Read;
}

} // namespace

int PeFile_ReadHeaders(const ExecutableSource &File, PeHeaders &Out) {
    Out = {};
    uint8 Dos[64], Nt[24 + 240];
    if (!File.Read(0, Dos, sizeof(Dos)) || Le(Dos, 2) != 0x5a4d) return 0;
    Out.NtOffset = Le(Dos + 60, 4);
    if (!File.Read(Out.NtOffset, Nt, 26) || memcmp(Nt, "PE\0\0", 4) != 0) return 0;
    const uint64 Magic = Le(Nt + 24, 2);
    if (Magic != 0x10b && Magic != 0x20b) return 0;
    Out.Kind = Magic == 0x10b ? 32 : 64;
    const uint64 Optional = Out.Kind == 32 ? 224 : 240;
    // A file too short for the standard optional header is no image to read.
    if (!File.Read(Out.NtOffset, Nt, 24 + Optional)) return Out.Kind = 0;
    Out.Sections = (uint32)Le(Nt + 6, 2);
    Out.OptionalSize = (uint32)Le(Nt + 20, 2);
    Out.FileAlignment = (uint32)Le(Nt + 24 + 36, 4);
    Out.HeadersSize = (uint32)Le(Nt + 24 + 60, 4);
    const uint32 CountAt = Out.Kind == 32 ? 92 : 108;
    Out.Directories = (uint32)Le(Nt + 24 + CountAt, 4);
    Out.SecurityEntry = Out.NtOffset + 24 + CountAt + 4 + 4 * 8;
    Out.TableOffset = (uint32)Le(Nt + 24 + CountAt + 4 + 32, 4);
    Out.TableSize = (uint32)Le(Nt + 24 + CountAt + 4 + 36, 4);
    // Without five directory entries the image names no certificate table.
    if (Out.Directories < 5) Out.TableOffset = Out.TableSize = 0;
    return Out.Kind;
}

static_assert(sizeof(PEFileHeader) == 20 && sizeof(PEOptionalHeader32) == 224 && sizeof(PEOptionalHeader64) == 240 &&
              offsetof(PEHeaders32, OptionalHeader) == 24 && offsetof(PEHeaders64, OptionalHeader) == 24,
              "the NT header records must have the file's layout");
static_assert(std::endian::native == std::endian::little, "the NT header records are filled by copying");

int32 PEFile_GetHeaders(StreamStruct *Stream, uint32 *NtOffset, PEHeaders32 *Headers32, PEHeaders64 *Headers64) {
    Debug_CheckPointer(Stream);
    if (NtOffset != nullptr) *NtOffset = 0;
    if (Headers32 != nullptr) *Headers32 = {};
    if (Headers64 != nullptr) *Headers64 = {};
    const ExecutableSource File = ExecutableSource_FromStream(Stream);
    PeHeaders Head;
    uint8 Nt[sizeof(PEHeaders64)];
    if (!PeFile_ReadHeaders(File, Head)) return -1;
    const size_t Length = Head.Kind == 32 ? sizeof(PEHeaders32) : sizeof(PEHeaders64);
    if (!File.Read(Head.NtOffset, Nt, Length)) return -1;
    if (NtOffset != nullptr) *NtOffset = (uint32)Head.NtOffset;
    if (Head.Kind == 32 && Headers32 != nullptr) memcpy(static_cast<void *>(Headers32), Nt, Length);
    if (Head.Kind == 64 && Headers64 != nullptr) memcpy(static_cast<void *>(Headers64), Nt, Length);
    return Head.Kind;
}

bool PeFile_ReadCertificate(const ExecutableSource &File, std::string &Entry) {
    Entry.clear();
    PeHeaders Head;
    uint8 Length[4];
    if (!PeFile_ReadHeaders(File, Head) || Head.TableSize == 0 || !File.Read(Head.TableOffset, Length, 4)) return false;
    const uint32 Size = (uint32)Le(Length, 4);
    if (Size < 11 || Size > Head.TableSize || Size > CertificateCap) return false;
    return ExecutableSource_ReadRange(File, Head.TableOffset, Size, Entry);
}

bool PeFile_HashImage(const ExecutableSource &File, const std::function<bool(const void *, size_t)> &Feed) {
    PeHeaders Head;
    std::vector<SectionEntry> Sections;
    if (!PeFile_ReadHeaders(File, Head) || Head.Directories < 5 || Head.FileAlignment == 0 ||
        !ReadSections(File, Head, Sections))
        return false;
    std::string Chunk;
    auto Range = [&](uint64 From, uint64 To) {
        if (To < From || !ExecutableSource_Inside(From, To - From, File.Size)) return false;
        for (uint64 At = From; At < To;) {
            const uint64 Count = std::min<uint64>(To - At, 1u << 20);
            if (!ExecutableSource_ReadRange(File, At, Count, Chunk) || !Feed(Chunk.data(), Chunk.size())) return false;
            At += Count;
        }
        return true;
    };
    const uint64 CheckSum = Head.NtOffset + 88;
    // The headers end at SizeOfHeaders, which linkers often place past the
    // section table rounded to FileAlignment; the bytes between are part of
    // the signed image, as every signing tool hashes them.
    uint64 Hashed = Head.HeadersSize;
    if (Head.SecurityEntry + 8 > Hashed || !Range(0, CheckSum) || !Range(CheckSum + 4, Head.SecurityEntry) ||
        !Range(Head.SecurityEntry + 8, Hashed))
        return false;
    std::stable_sort(Sections.begin(), Sections.end(),
                     [](const SectionEntry &A, const SectionEntry &B) { return A.RawOffset < B.RawOffset; });
    for (const SectionEntry &Item : Sections) {
        if (Item.RawOffset == 0 || Item.RawSize == 0) continue;
        if (!Range(Item.RawOffset, (uint64)Item.RawOffset + Item.RawSize)) return false;
        Hashed += Item.RawSize;
    }
    if (File.Size > Hashed + Head.TableSize) return Range(Hashed, File.Size - Head.TableSize);
    return true;
}

bool PeFile_ReadVersionResource(std::string_view Bytes, Dictionary *Dict) {
    const bool Strings = ReadStrings(Bytes, Dict);
    const size_t Key = FindKey(Bytes, "VS_VERSION_INFO");
    if (Key == std::string_view::npos) return Strings;
    if (!ExecutableSource_Inside(Key + 34, 24, Bytes.size()) || Le(Bytes.data() + Key + 34, 4) != 0xfeef04bd)
        return false;
    auto Version = [&](const char *Name, size_t At) {
        const uint32 High = (uint32)Le(Bytes.data() + At, 4), Low = (uint32)Le(Bytes.data() + At + 4, 4);
        Dictionary_SetStringByKeyPrint(Dict, Name, "%d.%d.%d.%d", (int32)(High >> 16), (int32)(High & 0xffff),
                                       (int32)(Low >> 16), (int32)(Low & 0xffff));
    };
    Version("FileVersion", Key + 42);
    Version("ProductVersion", Key + 50);
    return true;
}

bool PeFile_ReadInfo(const ExecutableSource &File, Dictionary *Dict) {
    PeHeaders Head;
    std::vector<SectionEntry> Sections;
    if (!PeFile_ReadHeaders(File, Head) || !ReadSections(File, Head, Sections)) return false;
    for (const SectionEntry &Item : Sections) {
        if (strnlen(Item.Name, 8) != 5 || strncasecmp(Item.Name, ".rsrc", 5) != 0) continue;
        std::string Resource;
        if (!ExecutableSource_ReadRange(File, Item.RawOffset, Item.RawSize, Resource)) return false;
        return PeFile_ReadVersionResource(Resource, Dict);
    }
    return false;
}

int32 PEFile_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    PeHeaders Head;
    return WithPath(Path, [&](const ExecutableSource &File) { return PeFile_ReadHeaders(File, Head) != 0; });
}

int32 PEFile_IsValidStream(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    PeHeaders Head;
    return PeFile_ReadHeaders(ExecutableSource_FromStream(Stream), Head) != 0 ? TRUE : FALSE;
}

int32 PEFile_GetDataDirectoryOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Offset);
    Debug_CheckPointer(Size);
    *Offset = *Size = 0;
    PeHeaders Head;
    if (!PeFile_ReadHeaders(ExecutableSource_FromStream(Stream), Head)) return FALSE;
    *Offset = Head.TableOffset;
    *Size = Head.TableSize;
    return TRUE;
}

int32 PEFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size) {
    if (PEFile_GetDataDirectoryOffset(Stream, Offset, Size) && *Size != 0) return TRUE;
    *Offset = *Size = 0;
    return FALSE;
}

int32 PEFile_GetCertificateOffset(StreamStruct *Stream, uint64 *Offset, uint32 *Length) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Offset);
    Debug_CheckPointer(Length);
    *Offset = 0;
    *Length = 0;
    const ExecutableSource File = ExecutableSource_FromStream(Stream);
    PeHeaders Head;
    std::string Entry;
    if (!PeFile_ReadCertificate(File, Entry) || !PeFile_ReadHeaders(File, Head)) return FALSE;
    *Offset = Head.TableOffset;
    *Length = (uint32)Entry.size();
    return TRUE;
}

int32 PEFile_GetCertificate(StreamStruct *Stream, void *Buffer, uint32 *Length) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Length);
    std::string Entry;
    const bool Found = PeFile_ReadCertificate(ExecutableSource_FromStream(Stream), Entry);
    *Length = Found ? (uint32)Entry.size() : 0;
    if (Found && Buffer != nullptr) memcpy(Buffer, Entry.data(), Entry.size());
    return Found ? TRUE : FALSE;
}

int32 PEFile_GetCertificateLength(StreamStruct *Stream, uint32 *Length) {
    return PEFile_GetCertificate(Stream, nullptr, Length);
}

int32 PEFile_HasCertificateData(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    std::string Entry;
    return PeFile_ReadCertificate(ExecutableSource_FromStream(Stream), Entry) ? TRUE : FALSE;
}

int32 PEFile_HasCertificate(const char *Path) {
    Debug_CheckPointer(Path);
    std::string Entry;
    return WithPath(Path, [&](const ExecutableSource &File) { return PeFile_ReadCertificate(File, Entry); });
}

int32 PEFile_CalcSignedHash(StreamStruct *Stream, Hash *Digest) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Digest);
    return PeFile_HashImage(ExecutableSource_FromStream(Stream),
                            [Digest](const void *Bytes, size_t Count) {
                                uint32 Done = 0;
                                return Hash_Process(Digest, Bytes, (uint32)Count, &Done) && Done == Count;
                            })
               ? TRUE
               : FALSE;
}

int32 PEFile_GetInfoDictionary(const char *Path, Dictionary *Dict) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Dict);
    return WithPath(Path, [Dict](const ExecutableSource &File) { return PeFile_ReadInfo(File, Dict); });
}

int32 PEFile_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    Dictionary_SetCaseSensitive(Values, FALSE);
    const int32 Found = PEFile_GetInfoDictionary(Path, Values) && Dictionary_GetStringByKey(Values, Key, Out, Size);
    Dictionary_Release(&Values);
    return Found ? TRUE : FALSE;
}

// The image digest, fed into the signer's hash.
static int32 FeedImage(void *Source, Hash *Digest) {
    return PeFile_HashImage(*static_cast<const ExecutableSource *>(Source),
                            [Digest](const void *Bytes, size_t Count) {
                                uint32 Done = 0;
                                return Hash_Process(Digest, Bytes, (uint32)Count, &Done) && Done == Count;
                            })
               ? TRUE
               : FALSE;
}

bool PeFile_Verify(CertStoreInterface *Store, const ExecutableSource &File) {
    std::string Entry;
    if (!PeFile_ReadCertificate(File, Entry) || Entry.size() <= 8) return false;
    PKCS7 *Signature = nullptr;
    PKCS7_Create(&Signature);
    ExecutableSource Source = File;
    const bool Sound = PKCS7_BuildFromBuffer(Signature, Entry.data() + 8, (uint32)(Entry.size() - 8)) &&
                       PKCS7_Verify(Signature, Store, &Source, FeedImage);
    PKCS7_Delete(&Signature);
    return Sound;
}

int32 PEFile_VerifyData(CertStoreInterface *Store, StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    return PeFile_Verify(Store, ExecutableSource_FromStream(Stream)) ? TRUE : FALSE;
}

int32 PEFile_Verify(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    return WithPath(Path, [Store](const ExecutableSource &File) { return PeFile_Verify(Store, File); });
}
