// Mach-O headers, code signature and page hashes (see macho_file.h). The
// load-command walk stays inside the header's commands size and every command
// is at least 8 bytes, so it always advances; the superblob is read whole
// (bounded by the file) and every blob and index entry is checked to lie
// inside it; a code directory is only used when its page size, hash size,
// slot count and code limit agree with each other and with the slice.
#include "content/macho_file.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>

#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/trust/pkcs7.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/text/string.h"

namespace {

constexpr uint32 CodeSignatureCommand = 29;
constexpr uint32 SuperBlobMagic = 0xfade0cc0, CodeDirectoryMagic = 0xfade0c02, WrapperMagic = 0xfade0b01;

uint64 Be(const void *At, int Width) { return ExecutableSource_Number(At, Width, true); }
uint64 Le(const void *At, int Width) { return ExecutableSource_Number(At, Width, false); }

template <typename Work> int32 WithPath(const char *Path, Work &&Body) {
    ExecutableFile File(Path);
    return File.IsOpen() && Body(File.Source()) ? TRUE : FALSE;
}

// The index entries of a superblob: (type, blob bytes) for each entry whose
// blob header lies inside it and whose length fits.
template <typename Visit> bool EachBlob(const std::string &Super, Visit &&Body) {
    const uint64 Count = Be(Super.data() + 8, 4);
    if (Count == 0 || Count > (Super.size() - 12) / 8) return false;
    for (uint64 Index = 0; Index < Count; Index++) {
        const char *Entry = Super.data() + 12 + 8 * Index;
        const uint64 Type = Be(Entry, 4), At = Be(Entry + 4, 4);
        if (!ExecutableSource_Inside(At, 8, Super.size())) continue;
        const uint64 Magic = Be(Super.data() + At, 4), Length = Be(Super.data() + At + 4, 4);
        if (Length < 8 || !ExecutableSource_Inside(At, Length, Super.size())) continue;
        if (Body(Type, Magic, std::string_view(Super.data() + At, Length))) return true;
    }
    return false;
}

// The page hashes of one code directory against the slice.
bool PagesMatch(const ExecutableSource &File, const MachOSlice &Slice, std::string_view Directory) {
    if (Directory.size() < 44) return false;
    const char *Bytes = Directory.data();
    const uint64 HashOffset = Be(Bytes + 16, 4), Slots = Be(Bytes + 28, 4), Limit = Be(Bytes + 32, 4);
    const uint32 HashSize = (uint8)Bytes[36], HashType = (uint8)Bytes[37], Shift = (uint8)Bytes[39];
    const HashInterface *Interface = HashType == 1 ? &SHA1_INTERFACE : HashType == 2 ? &SHA256_INTERFACE : nullptr;
    if (Interface == nullptr || HashSize != (uint32)Interface->DigestSize || Slots == 0 || Shift < 9 || Shift > 16)
        return false;
    const uint64 Page = 1ull << Shift;
    if (Limit <= (Slots - 1) * Page || Limit > Slots * Page || Limit > Slice.Size ||
        !ExecutableSource_Inside(HashOffset, Slots * HashSize, Directory.size()))
        return false;
    std::string Code;
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    for (uint64 Slot = 0; Slot < Slots; Slot++) {
        const uint64 Length = std::min(Page, Limit - Slot * Page);
        if (!ExecutableSource_ReadRange(File, Slice.Offset + Slot * Page, Length, Code) ||
            !Hash_QuickDigest(Interface, Code.data(), (uint32)Code.size(), Digest, sizeof(Digest)) ||
            memcmp(Digest, Bytes + HashOffset + Slot * HashSize, HashSize) != 0) {
            Log_Warning("MachO verification failed, code page hash does not match %d\n", (int32)Slot);
            return false;
        }
    }
    return true;
}

} // namespace

bool MachOFile_ReadSlice(const ExecutableSource &File, MachOSlice &Out) {
    Out = {};
    uint8 Head[28];
    if (!File.Read(0, Head, 8)) return false;
    Out.Size = File.Size;
    if (Be(Head, 4) == 0xcafebabe || Be(Head, 4) == 0xbebafeca) {
        if (Be(Head + 4, 4) == 0 || !File.Read(8, Head, 20)) return false;
        Out.Offset = Be(Head + 8, 4);
        Out.Size = Be(Head + 12, 4);
        if (!ExecutableSource_Inside(Out.Offset, Out.Size, File.Size)) return false;
    }
    if (!File.Read(Out.Offset, Head, 28)) return false;
    const uint64 Magic = Le(Head, 4);
    if (Magic != 0xfeedface && Magic != 0xfeedfacf) return false;
    Out.Wide = Magic == 0xfeedfacf;
    return true;
}

bool MachOFile_ReadSignature(const ExecutableSource &File, MachOSlice &Slice, std::string &Blob) {
    Blob.clear();
    uint8 Head[28];
    if (!MachOFile_ReadSlice(File, Slice) || !File.Read(Slice.Offset, Head, 28)) return false;
    const uint64 Count = Le(Head + 16, 4), CommandsSize = Le(Head + 20, 4);
    const uint64 Start = Slice.Offset + (Slice.Wide ? 32 : 28);
    std::string Commands;
    if (!ExecutableSource_ReadRange(File, Start, CommandsSize, Commands)) return false;
    uint64 At = 0;
    for (uint64 Index = 0; Index < Count && At + 8 <= Commands.size(); Index++) {
        const uint64 Command = Le(Commands.data() + At, 4), Size = Le(Commands.data() + At + 4, 4);
        if (Size < 8 || Size > Commands.size() - At) return false;
        if (Command == CodeSignatureCommand) {
            if (Size < 16) return false;
            const uint64 Offset = Le(Commands.data() + At + 8, 4), Length = Le(Commands.data() + At + 12, 4);
            if (!ExecutableSource_Inside(Offset, Length, Slice.Size) || Length < 12 ||
                !ExecutableSource_ReadRange(File, Slice.Offset + Offset, Length, Blob))
                return false;
            const uint64 Total = Be(Blob.data() + 4, 4);
            if (Be(Blob.data(), 4) != SuperBlobMagic || Total < 12 || Total > Blob.size()) return Blob.clear(), false;
            Blob.resize(Total);
            return true;
        }
        At += Size;
    }
    return false;
}

bool MachOFile_ReadCertificate(const ExecutableSource &File, std::string &Payload) {
    Payload.clear();
    MachOSlice Slice;
    std::string Super;
    if (!MachOFile_ReadSignature(File, Slice, Super)) return false;
    return EachBlob(Super, [&](uint64 Type, uint64 Magic, std::string_view Blob) {
        if (Type != 0x10000) return false;
        if (Magic != WrapperMagic) return false;
        Payload.assign(Blob.substr(8));
        return true;
    }) && !Payload.empty();
}

bool MachOFile_CheckCodeDirectories(const ExecutableSource &File,
                                    const std::function<bool(const void *, size_t)> &Feed) {
    MachOSlice Slice;
    std::string Super;
    if (!MachOFile_ReadSignature(File, Slice, Super)) return false;
    return EachBlob(Super, [&](uint64 Type, uint64 Magic, std::string_view Blob) {
        if ((Type != 0 && Type != 0x1000) || Magic != CodeDirectoryMagic) return false;
        if (!Feed(Blob.data(), Blob.size())) Log_Warning("MachO verification failed, code directory hash failure\n");
        return PagesMatch(File, Slice, Blob);
    });
}

int32 MachOFile_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    MachOSlice Slice;
    return WithPath(Path, [&](const ExecutableSource &File) { return MachOFile_ReadSlice(File, Slice); });
}

int32 MachOFile_IsValidStream(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    MachOSlice Slice;
    return MachOFile_ReadSlice(ExecutableSource_FromStream(Stream), Slice) ? TRUE : FALSE;
}

int32 MachOFile_HasCertificate(const char *Path) {
    Debug_CheckPointer(Path);
    std::string Payload;
    return WithPath(Path, [&](const ExecutableSource &File) { return MachOFile_ReadCertificate(File, Payload); });
}

int32 MachOFile_HasCertificateData(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    std::string Payload;
    return MachOFile_ReadCertificate(ExecutableSource_FromStream(Stream), Payload) ? TRUE : FALSE;
}

int32 MachOFile_GetCertificate(StreamStruct *Stream, void *Buffer, uint32 *Size) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Size);
    std::string Payload;
    const bool Found = MachOFile_ReadCertificate(ExecutableSource_FromStream(Stream), Payload) &&
                       Payload.size() <= 0x7fffffff;
    *Size = Found ? (uint32)Payload.size() : 0;
    if (Found && Buffer != nullptr) memcpy(Buffer, Payload.data(), Payload.size());
    return Found ? TRUE : FALSE;
}

int32 MachOFile_GetAppBundlePath(const char *Path, char *Out, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    std::string Folder(Path);
    std::replace(Folder.begin(), Folder.end(), '\\', '/');
    const size_t Slash = Folder.rfind('/');
    if (Slash == std::string::npos) return FALSE;
    Folder.resize(Slash);
    std::string Lower(Folder);
    for (char &Letter : Lower) Letter = (char)tolower((unsigned char)Letter);
    const size_t At = Lower.find(".app/contents/macos");
    if (At == std::string::npos) return FALSE;
    Folder.resize(At + 4);
    if ((int64)Folder.size() >= Size) return FALSE;
    String_CopyLength(Out, Folder.c_str(), Size);
    return TRUE;
}

// The code directories, fed into the signer's hash while their pages are
// checked.
static int32 FeedCodeDirectories(void *Source, Hash *Digest) {
    return MachOFile_CheckCodeDirectories(*static_cast<const ExecutableSource *>(Source),
                                          [Digest](const void *Bytes, size_t Count) {
                                              uint32 Done = 0;
                                              return Hash_Process(Digest, Bytes, (uint32)Count, &Done) && Done == Count;
                                          })
               ? TRUE
               : FALSE;
}

bool MachOFile_Verify(CertStoreInterface *Store, const ExecutableSource &File) {
    std::string Payload;
    if (!MachOFile_ReadCertificate(File, Payload) || Payload.size() > 0x7fffffff) return false;
    PKCS7 *Signature = nullptr;
    PKCS7_Create(&Signature);
    ExecutableSource Source = File;
    const bool Sound = PKCS7_BuildFromBuffer(Signature, Payload.data(), (uint32)Payload.size()) &&
                       PKCS7_Verify(Signature, Store, &Source, FeedCodeDirectories);
    PKCS7_Delete(&Signature);
    return Sound;
}

int32 MachOFile_VerifyData(CertStoreInterface *Store, StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    return MachOFile_Verify(Store, ExecutableSource_FromStream(Stream)) ? TRUE : FALSE;
}

int32 MachOFile_Verify(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    return WithPath(Path, [Store](const ExecutableSource &File) { return MachOFile_Verify(Store, File); });
}
