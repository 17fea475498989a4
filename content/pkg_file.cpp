// Installer packages (see pkg_file.h). The table of contents' two lengths
// are checked against the file and a cap before anything is allocated, and
// only the bytes the inflater produced reach the XML reader. Heap offsets
// from the table are checked against the file like every other range.
//
// A package signed with a plain RSA "signature" must chain to a certificate
// the store trusts, as one with a CMS "x-signature" must: the certificates
// travel inside the package, so trusting them alone would let anyone sign.
#include "content/pkg_file.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "crypto/digests/hash.h"
#include "crypto/keys/rsa.h"
#include "crypto/trust/pkcs7.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "formats/xml.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/text/string.h"

namespace {

uint64 Be(const void *At, int Width) { return ExecutableSource_Number(At, Width, true); }

bool Number(Dictionary *Node, const char *Path, uint64 &Value) {
    const char *Text = nullptr;
    if (!Dictionary_GetStringPtrByPath(Node, Path, &Text) || Text == nullptr || *Text == 0) return false;
    char *End = nullptr;
    Value = strtoull(Text, &End, 10);
    return *End == 0 && *Text != '-';
}

bool Digest(const HashInterface *Interface, const std::string &Bytes, std::string &Out) {
    uint8 Value[HASH_MAX_DIGEST_SIZE];
    if (Bytes.size() > UINT32_MAX || !Hash_QuickDigest(Interface, Bytes.data(), (uint32)Bytes.size(), Value, sizeof(Value)))
        return false;
    Out.assign((const char *)Value, Interface->DigestSize);
    return true;
}

bool HeapRange(const ExecutableSource &File, const PkgHeader &Head, Dictionary *Node, std::string &Out) {
    uint64 Offset, Size;
    return Number(Node, "offset", Offset) && Number(Node, "size", Size) && Offset <= File.Size &&
           ExecutableSource_ReadRange(File, Head.Heap + Offset, Size, Out);
}

// Every "file" child of Node, and their children in turn.
bool PKGFile_VerifyFileData(const ExecutableSource &File, const PkgHeader &Head, Dictionary *Node, const std::string &Prefix,
                int Depth) {
    if (Depth > 64) return false;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Node, &Item); Item != nullptr; Dictionary_ItemGetNext(Node, Item, &Item)) {
        const char *Key = nullptr;
        Dictionary *Entry = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Node, Item, &Key) || Key == nullptr || !String_CompareWithoutCase(Key, "file") ||
            !Dictionary_ItemGetDictionaryHandle(Node, Item, &Entry))
            continue;
        const char *Name = "";
        Dictionary_GetStringPtrByPath(Entry, "name", &Name);
        const std::string Path = Prefix + "/" + (Name ? Name : "");
        uint64 Offset, Size, Length;
        const char *Expected = nullptr, *Style = nullptr;
        if (Dictionary_GetStringPtrByPath(Entry, "data.archived-checksum.#text", &Expected) ||
            Dictionary_GetStringPtrByPath(Entry, "data.archived-checksum", &Expected)) {
            Dictionary *Data = nullptr;
            Dictionary_GetDictionaryByPath(Entry, "data", &Data);
            if (Data && Number(Data, "offset", Offset) && Number(Data, "size", Size) && Number(Data, "length", Length) &&
                Expected != nullptr) {
                const HashInterface *Interface = nullptr;
                std::string Bytes, Value;
                if (!Dictionary_GetStringPtrByPath(Data, "archived-checksum.-style", &Style) || Style == nullptr ||
                    !Hash_InterfaceFromName(Style, &Interface) || Offset > File.Size ||
                    !ExecutableSource_ReadRange(File, Head.Heap + Offset, Length, Bytes) ||
                    !Digest(Interface, Bytes, Value))
                    return false;
                char Text[2 * HASH_MAX_DIGEST_SIZE + 1];
                Hash_ConvertDigestToString(Value.data(), (int32)Value.size(), HASH_STRING_PLAIN, Text, sizeof(Text));
                if (!String_CompareWithoutCase(Text, Expected)) {
                    Log_Error("PKG file does not match expected hash [%s] (%s != %s)\n", Path.c_str(), Expected, Text);
                    return false;
                }
            }
        }
        if (!PKGFile_VerifyFileData(File, Head, Entry, Path, Depth + 1)) return false;
    }
    return true;
}

bool VerifyToc(CertStoreInterface *Store, const ExecutableSource &File, const PkgHeader &Head,
               const std::string &Compressed, Dictionary *Toc) {
    const char *Style = nullptr;
    const HashInterface *Interface = nullptr;
    Dictionary_GetStringPtrByPath(Toc, "checksum.-style", &Style);
    const char *Wanted = Head.Algorithm == 1 ? "SHA1" : Head.Algorithm == 2 ? "MD5" : nullptr;
    if (Style == nullptr || Wanted == nullptr || !String_CompareWithoutCase(Style, Wanted) ||
        !Hash_InterfaceFromName(Style, &Interface)) {
        Log_Error("PKG file checksum type mismatch\n");
        return false;
    }
    Dictionary *Checksum = nullptr, *Signature = nullptr;
    const bool Cms = Dictionary_GetDictionaryByPath(Toc, "x-signature", &Signature) != 0;
    if (!Dictionary_GetDictionaryByPath(Toc, "checksum", &Checksum) ||
        (!Cms && !Dictionary_GetDictionaryByPath(Toc, "signature", &Signature)))
        return false;
    std::string Stored, Computed, Signed;
    if (!HeapRange(File, Head, Checksum, Stored) || !Digest(Interface, Compressed, Computed)) return false;
    if (Stored.size() > 64 || Stored.size() > Computed.size() || memcmp(Stored.data(), Computed.data(), Stored.size())) {
        Log_Error("PKG file checksum verification failed\n");
        return false;
    }
    if (!HeapRange(File, Head, Signature, Signed)) return false;
    // Every certificate of KeyInfo.X509Data, leaf first.
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    Dictionary *Data = nullptr;
    bool Sound = Dictionary_GetDictionaryByPath(Signature, "KeyInfo.X509Data", &Data) != 0;
    X509 *Leaf = nullptr;
    DictionaryItem *Item = nullptr;
    for (Sound && Dictionary_ItemGetFirst(Data, &Item); Sound && Item; Dictionary_ItemGetNext(Data, Item, &Item)) {
        const char *Text = nullptr;
        if (!Dictionary_ItemGetStringPtr(Data, Item, &Text) || Text == nullptr) continue;
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        Sound = X509_BuildFromBase64(Certificate, Text, (int32)strlen(Text)) && X509Chain_Add(Chain, Certificate);
        X509_Delete(&Certificate);
    }
    int32 Count = 0;
    Sound = Sound && X509Chain_GetCount(Chain, &Count) && Count > 0 && X509Chain_Get(Chain, 0, &Leaf) && Leaf != nullptr &&
            Store != nullptr;
    if (Sound && Cms) {
        // A CMS signature vouches for the table's digest itself.
        PKCS7 *Message = nullptr;
        PKCS7_Create(&Message);
        Sound = Signed.size() <= 0x7fffffff && PKCS7_BuildFromBuffer(Message, Signed.data(), (uint32)Signed.size()) &&
                PKCS7_VerifyDigest(Message, Store, Stored.data(), (uint32)Stored.size());
        PKCS7_Delete(&Message);
    } else if (Sound) {
        Sound = X509_VerifyDigest(Leaf, Stored.data(), (uint32)Stored.size(), Signed.data(), (uint32)Signed.size(),
                                  RSA_SIGNATURE_VERSION_PCS21) &&
                X509Chain_VerifyX509(Chain, Leaf, Store);
    }
    X509Chain_Delete(&Chain);
    return Sound;
}

} // namespace

bool PkgFile_ReadTableOfContents(const ExecutableSource &File, PkgHeader &Head, std::string &Compressed,
                                 std::string &Xml) {
    Head = {};
    Compressed.clear();
    Xml.clear();
    uint8 Bytes[28];
    if (!File.Read(0, Bytes, sizeof(Bytes)) || memcmp(Bytes, "xar!", 4) != 0) return false;
    Head.HeaderSize = Be(Bytes + 4, 2);
    Head.Compressed = Be(Bytes + 8, 8);
    Head.Inflated = Be(Bytes + 16, 8);
    Head.Algorithm = (uint32)Be(Bytes + 24, 4);
    if (Head.HeaderSize < 28 || Head.Compressed == 0 || Head.Inflated == 0 || Head.Compressed >= (1ull << 31) ||
        Head.Inflated >= (1ull << 31) || Head.Inflated > PKG_TOC_CAP ||
        !ExecutableSource_ReadRange(File, Head.HeaderSize, Head.Compressed, Compressed))
        return false;
    Head.Heap = Head.HeaderSize + Head.Compressed;
    Xml.resize(std::min(Head.Inflated, ExecutableSource_InflateBound(Head.Compressed)));
    z_stream Stream{};
    if (inflateInit2(&Stream, 47) != Z_OK) return false;
    Stream.next_in = reinterpret_cast<Bytef *>(Compressed.data());
    Stream.avail_in = (uInt)Compressed.size();
    Stream.next_out = reinterpret_cast<Bytef *>(Xml.data());
    Stream.avail_out = (uInt)Xml.size();
    const int Status = inflate(&Stream, Z_SYNC_FLUSH);
    Xml.resize(Stream.total_out);
    inflateEnd(&Stream);
    return (Status == Z_OK || Status == Z_STREAM_END) && !Xml.empty();
}

bool PkgFile_Verify(CertStoreInterface *Store, const ExecutableSource &File) {
    PkgHeader Head;
    std::string Compressed, Xml;
    if (!PkgFile_ReadTableOfContents(File, Head, Compressed, Xml)) return false;
    Dictionary *Document = nullptr, *Toc = nullptr;
    XML *Reader = nullptr;
    Dictionary_Create(&Document);
    XML_Create(&Reader);
    XML_SetDictionaryHandle(Reader, Document);
    const bool Sound = XML_LoadBuffer(Reader, Xml.data(), (int32)Xml.size()) &&
                       Dictionary_GetDictionaryByPath(Document, "xar.toc", &Toc) &&
                       VerifyToc(Store, File, Head, Compressed, Toc) && PKGFile_VerifyFileData(File, Head, Toc, ".", 0);
    XML_Delete(&Reader);
    Dictionary_Release(&Document);
    return Sound;
}

int32 PKGFile_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    ExecutableFile File(Path);
    uint8 Bytes[28];
    return File.IsOpen() && File.Source().Read(0, Bytes, 28) && memcmp(Bytes, "xar!", 4) == 0 ? TRUE : FALSE;
}

int32 PKGFile_IsValidStream(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    uint8 Bytes[28];
    const ExecutableSource File = ExecutableSource_FromStream(Stream);
    return File.Read(0, Bytes, 28) && memcmp(Bytes, "xar!", 4) == 0 ? TRUE : FALSE;
}

int32 PKGFile_Verify(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    ExecutableFile File(Path);
    return File.IsOpen() && PkgFile_Verify(Store, File.Source()) ? TRUE : FALSE;
}
