// Choosing a digest record by name or OID, one-shot digests in stack
// contexts, digest text and the digest macros. See hash.h.
#include <alloca.h>
#include <string.h>

#include <string>

#include "crypto/digests/hash.h"
#include "crypto/digests/md2.h"
#include "crypto/digests/md4.h"
#include "crypto/digests/md5.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "runtime/debug.h"
#include "crypto/digests/crc_digest.h"
#include "runtime/log.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode.h"

namespace {

// Names in the order they are tried.
const HashInterface *const NamedRecords[] = {
    &CRC_INTERFACE,    &MD2_INTERFACE,    &MD4_INTERFACE,    &MD5_INTERFACE,    &SHA1_INTERFACE,
    &SHA224_INTERFACE, &SHA256_INTERFACE, &SHA384_INTERFACE, &SHA512_INTERFACE,
};

// Signature-algorithm OIDs (RSA, DSA and ECDSA with the digest) and bare
// digest OIDs select the same record. The bare and RSA SHA-224 OIDs are not
// among them.
struct OidRow {
    const char *Oid;
    const HashInterface *Record;
};
const OidRow OidTable[] = {
    {"1.3.6.1.4.1.11591.14.1", &CRC_INTERFACE},
    {"1.2.840.113549.1.1.2", &MD2_INTERFACE},
    {"1.3.14.7.2.3.1", &MD2_INTERFACE},
    {"1.2.840.113549.1.1.3", &MD4_INTERFACE},
    {"1.3.14.3.2.2", &MD4_INTERFACE},
    {"1.3.14.3.2.4", &MD4_INTERFACE},
    {"1.2.840.113549.1.1.4", &MD5_INTERFACE},
    {"1.3.14.3.2.3", &MD5_INTERFACE},
    {"1.2.840.113549.2.5", &MD5_INTERFACE},
    {"1.2.840.113549.1.1.5", &SHA1_INTERFACE},
    {"1.2.840.10040.4.3", &SHA1_INTERFACE},
    {"1.3.14.3.2.29", &SHA1_INTERFACE},
    {"1.3.14.3.2.26", &SHA1_INTERFACE},
    {"1.2.840.10045.4.1", &SHA1_INTERFACE},
    {"1.2.840.10045.4.3.1", &SHA224_INTERFACE},
    {"1.2.840.113549.1.1.11", &SHA256_INTERFACE},
    {"2.16.840.1.101.3.4.2.1", &SHA256_INTERFACE},
    {"1.2.840.10045.4.3.2", &SHA256_INTERFACE},
    {"1.2.840.113549.1.1.12", &SHA384_INTERFACE},
    {"2.16.840.1.101.3.4.2.2", &SHA384_INTERFACE},
    {"1.2.840.10045.4.3.3", &SHA384_INTERFACE},
    {"1.2.840.113549.1.1.13", &SHA512_INTERFACE},
    {"2.16.840.1.101.3.4.2.3", &SHA512_INTERFACE},
    {"1.2.840.10045.4.3.4", &SHA512_INTERFACE},
};

// The fixed macro names and their records; "Hash" takes the algorithm from
// its argument.
const HashInterface *const MacroRecords[] = {
    &CRC_INTERFACE, &MD4_INTERFACE, &MD5_INTERFACE, &SHA1_INTERFACE, &SHA256_INTERFACE,
};

void CheckQuickSlots(const HashInterface *Interface) {
    Debug_CheckPointer(Interface);
    Debug_CheckPointer(Interface->SizeOf);
    Debug_CheckPointer(Interface->Stack);
    Debug_CheckPointer(Interface->Unstack);
    Debug_CheckPointer(Interface->Process);
    Debug_CheckPointer(Interface->Generate);
    Debug_CheckPointer(Interface->GetDigest);
    Debug_CheckPointer(Interface->GetString);
}

// A context made with Stack in the caller's stack memory and released with
// Unstack on every path. Used through QUICK_CONTEXT, so that the memory
// belongs to the calling frame.
class StackContext {
  public:
    StackContext(const HashInterface *Interface, void *Memory) : Interface(Interface), Memory(Memory) {
        Interface->Stack(Memory);
    }
    ~StackContext() { Interface->Unstack(Memory); }
    StackContext(const StackContext &) = delete;
    StackContext &operator=(const StackContext &) = delete;
    void *Get() const { return Memory; }

  private:
    const HashInterface *Interface;
    void *Memory;
};

size_t StackRoom(const HashInterface *Interface) { return ((size_t)Interface->SizeOf() + 15) & ~(size_t)15; }

#define QUICK_CONTEXT(Name, Interface)                                                            \
    CheckQuickSlots(Interface);                                                                   \
    StackContext Name((Interface), __builtin_assume_aligned(alloca(StackRoom(Interface)), 16))

// Process the text in pieces of at most 1,024 bytes with a-z upper-cased.
int32 ProcessUpperCased(const HashInterface *Interface, void *Context, const uint8 *Data, uint32 Length) {
    int32 Result = FALSE;
    uint8 Piece[1024];
    while (Length != 0) {
        const uint32 Count = Length < sizeof(Piece) ? Length : (uint32)sizeof(Piece);
        for (uint32 Index = 0; Index < Count; Index++) {
            const uint8 Byte = Data[Index];
            Piece[Index] = (Byte >= 'a' && Byte <= 'z') ? (uint8)(Byte - 32) : Byte;
        }
        Result = Interface->Process(Context, Piece, Count);
        if (Result != TRUE) return Result;
        Data += Count;
        Length -= Count;
    }
    return Result;
}

// Hashes Text with Interface as plain hexadecimal into Output.
void ExpandDigest(const HashInterface *Interface, const char *Text, char *Output, int32 Size) {
    Hash_QuickString(Interface, Text, (uint32)strlen(Text), HASH_STRING_PLAIN, Output, Size);
}

} // namespace

int32 Hash_InterfaceFromName(const char *Name, const HashInterface **Interface) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Interface);
    for (const HashInterface *Record : NamedRecords) {
        if (String_CompareWithoutCase(Name, Record->Name) == 1) {
            *Interface = Record;
            return TRUE;
        }
    }
    Log_Error("Unsupported hash algorithm %s\n", Name);
    return FALSE;
}

int32 Hash_InterfaceFromOid(const char *Oid, const HashInterface **Interface) {
    Debug_CheckPointer(Oid);
    Debug_CheckPointer(Interface);
    for (const OidRow &Row : OidTable) {
        if (strcmp(Oid, Row.Oid) == 0) {
            *Interface = Row.Record;
            return TRUE;
        }
    }
    Log_Error("Unsupported hash algorithm %s\n", Oid);
    return FALSE;
}

int32 Hash_QuickDigest(const HashInterface *Interface, const void *Data, uint32 Length, void *Output, int32 Size) {
    QUICK_CONTEXT(Context, Interface);
    int32 Result = Interface->Process(Context.Get(), Data, Length);
    if (Result == TRUE) Result = Interface->Generate(Context.Get());
    if (Result == TRUE) Result = Interface->GetDigest(Context.Get(), Output, Size);
    return Result;
}

int32 Hash_QuickDigest2(const HashInterface *Interface, const void *Data, uint32 Length, int32 CaseSensitive,
                        void *Output, int32 Size) {
    if (CaseSensitive == 1) return Hash_QuickDigest(Interface, Data, Length, Output, Size);
    QUICK_CONTEXT(Context, Interface);
    Debug_CheckPointer(Data);
    int32 Result = ProcessUpperCased(Interface, Context.Get(), static_cast<const uint8 *>(Data), Length);
    if (Result == TRUE) Result = Interface->Generate(Context.Get());
    if (Result == TRUE) Result = Interface->GetDigest(Context.Get(), Output, Size);
    return Result;
}

int32 Hash_QuickDigestUtf16(const HashInterface *Interface, const uint16 *Text, uint32 Units, int32 CaseSensitive,
                            void *Output, int32 Size) {
    QUICK_CONTEXT(Context, Interface);
    if (Units != 0) Debug_CheckPointer(Text);
    int32 Result = TRUE;
    for (uint32 Index = 0; Index < Units && Result == TRUE; Index++) {
        char Bytes[8];
        int32 Count = 0;
        CharUtf64_CopyToUtf8(Text[Index], Bytes, (int32)sizeof(Bytes), &Count);
        if (CaseSensitive != 1)
            for (int32 At = 0; At < Count; At++)
                if (Bytes[At] >= 'a' && Bytes[At] <= 'z') Bytes[At] = (char)(Bytes[At] - 32);
        Result = Interface->Process(Context.Get(), Bytes, (uint32)Count);
    }
    if (Result == TRUE) Result = Interface->Generate(Context.Get());
    if (Result == TRUE) Result = Interface->GetDigest(Context.Get(), Output, Size);
    return Result;
}

int32 Hash_QuickString(const HashInterface *Interface, const void *Data, uint32 Length, int32 Format, char *Output,
                       int32 Size) {
    QUICK_CONTEXT(Context, Interface);
    int32 Result = Interface->Process(Context.Get(), Data, Length);
    if (Result == TRUE) Result = Interface->Generate(Context.Get());
    if (Result == TRUE) Result = Interface->GetString(Context.Get(), Format, Output, Size);
    return Result;
}

int32 Hash_QuickStringUtf16(const HashInterface *Interface, const void *Data, uint32 Length, int32 Format,
                            char *Output, int32 Size) {
    return Hash_QuickString(Interface, Data, Length, Format, Output, Size);
}

int32 Hash_ConvertDigestToString(const void *Digest, int32 Length, int32 Format, char *Output, int32 Size) {
    const bool Grouped = Format == HASH_STRING_GROUPED;
    const int64 Needed = 2 * (int64)Length + 1 + (Grouped && Length > 0 ? Length / 4 : 0);
    if (Needed > Size) return FALSE;
    Debug_CheckPointer(Output);
    if (Length < 1) {
        Output[0] = 0;
        return TRUE;
    }
    Debug_CheckPointer(Digest);
    constexpr char Digits[] = "0123456789abcdef";
    const uint8 *Bytes = static_cast<const uint8 *>(Digest);
    char *At = Output;
    for (int32 Index = 0; Index < Length; Index++) {
        *At++ = Digits[Bytes[Index] >> 4];
        *At++ = Digits[Bytes[Index] & 15];
        if (Grouped && Index % 4 == 3) *At++ = ' ';
    }
    *At = 0;
    return TRUE;
}

int32 Hash_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    Debug_CheckPointer(Name);
    for (const HashInterface *Record : MacroRecords) {
        if (String_CompareWithoutCase(Name, Record->Name) != 1) continue;
        if (Argument != nullptr) ExpandDigest(Record, Argument, Output, Size);
        return TRUE;
    }
    if (String_CompareWithoutCase(Name, "Hash") != 1 || Argument == nullptr) return FALSE;
    const char *Comma = strchr(Argument, ',');
    if (Comma == nullptr) return TRUE;
    const std::string Algorithm(Argument, (size_t)(Comma - Argument));
    const HashInterface *Record = nullptr;
    if (Hash_InterfaceFromName(Algorithm.c_str(), &Record)) ExpandDigest(Record, Comma + 1, Output, Size);
    return TRUE;
}
