// HMAC (RFC 2104) on a Hash object. See hmac.h.
//
// The key block holds the gathered key, then key XOR ipad once the message
// starts, then key XOR opad while finishing (ipad XOR 0x6a is opad). KeyState
// counts the key bytes gathered, or is Started once the inner pad is hashed.
#include "crypto/digests/hmac.h"

#include <alloca.h>
#include <string.h>

#include <string>

#include "crypto/digests/digest_internal.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

struct HMAC {
    ClassStruct Class;
    uint8 *Key;      // BlockSize bytes while bound
    int32 BlockSize; // 0 while unbound
    int32 KeyState;  // key bytes gathered, or Started
    Hash *Digest;
    uint8 *Inner;     // DigestSize bytes while bound
    int32 DigestSize; // 0 while unbound
};

#define HMAC_Check(Handle) Class_CheckHandle((Handle), HMAC_CLASSID)

namespace {

constexpr int32 Started = -1;
constexpr uint32 InnerPad = 0x36363636;
constexpr uint32 InnerToOuter = 0x6a6a6a6a;

int32 DeleteThroughClass(void *HandleAddress) { return HMAC_Delete(static_cast<HMAC **>(HandleAddress)); }

void FreeBuffers(HMAC *Handle) {
    if (Handle->Key != nullptr) {
        digest::Wipe(Handle->Key, (size_t)Handle->BlockSize);
        Memory_Free(Handle->Key, Handle->BlockSize);
        Handle->Key = nullptr;
    }
    if (Handle->Inner != nullptr) {
        digest::Wipe(Handle->Inner, (size_t)Handle->DigestSize);
        Memory_Free(Handle->Inner, Handle->DigestSize);
        Handle->Inner = nullptr;
    }
    Handle->BlockSize = 0;
    Handle->DigestSize = 0;
    Handle->KeyState = 0;
}

// XOR of the key block with a repeated byte, in 32-bit words; block sizes
// are multiples of 4.
void XorKey(HMAC *Handle, uint32 Pattern) {
    for (int32 At = 0; At + 4 <= Handle->BlockSize; At += 4) {
        uint32 Word;
        memcpy(&Word, Handle->Key + At, 4);
        Word ^= Pattern;
        memcpy(Handle->Key + At, &Word, 4);
    }
}

// Turns the gathered key into the inner pad and hashes it.
void Start(HMAC *Handle) {
    if (Handle->KeyState > Handle->BlockSize) {
        // The long key was hashed as it arrived; its digest is the key.
        Hash_Generate(Handle->Digest);
        const int32 Length = std::min(Handle->DigestSize, Handle->BlockSize);
        uint8 *Digest = static_cast<uint8 *>(alloca((size_t)Handle->DigestSize));
        Hash_GetDigest(Handle->Digest, Digest, Handle->DigestSize);
        memcpy(Handle->Key, Digest, (size_t)Length);
        digest::Wipe(Digest, (size_t)Handle->DigestSize);
        Handle->KeyState = Length;
    }
    memset(Handle->Key + Handle->KeyState, 0, (size_t)(Handle->BlockSize - Handle->KeyState));
    XorKey(Handle, InnerPad);
    Hash_Reset(Handle->Digest);
    Hash_Process(Handle->Digest, Handle->Key, (uint32)Handle->BlockSize, nullptr);
    Handle->KeyState = Started;
}

// Splits Text at its first comma: the part before into Before, the rest
// behind the comma into After. False without a comma.
bool SplitAtComma(const std::string &Text, std::string &Before, std::string &After) {
    const size_t Comma = Text.find(',');
    if (Comma == std::string::npos) return false;
    Before = Text.substr(0, Comma);
    After = Text.substr(Comma + 1);
    return true;
}

} // namespace

CLASS_DEFINE_REFERENCE(HMAC, HMAC, HMAC_CLASSID)

int32 HMAC_Create(HMAC **Handle) {
    Debug_CheckPointer(Handle);
    HMAC *Object = Memory_New(HMAC);
    Class_InitHeader(Object, HMAC_CLASSID, DeleteThroughClass);
    Hash_Create(&Object->Digest);
    *Handle = Object;
    return TRUE;
}

int32 HMAC_Delete(HMAC **Handle) {
    Debug_CheckPointer(Handle);
    HMAC_Check(*Handle);
    FreeBuffers(*Handle);
    Hash_Delete(&(*Handle)->Digest);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 HMAC_SetHashInterface(HMAC *Handle, const HashInterface *Interface) {
    HMAC_Check(Handle);
    const HashInterface *Bound = nullptr;
    Hash_GetInterface(Handle->Digest, &Bound);
    if (Interface == Bound) {
        if (Interface != nullptr) HMAC_Reset(Handle);
        return TRUE;
    }
    FreeBuffers(Handle);
    if (Interface != nullptr) {
        Handle->BlockSize = (int32)Interface->BlockSize;
        Handle->DigestSize = (int32)Interface->DigestSize;
        Handle->Key = static_cast<uint8 *>(Memory_AllocZero(Handle->BlockSize));
        Handle->Inner = static_cast<uint8 *>(Memory_AllocZero(Handle->DigestSize));
    }
    return Hash_SetInterface(Handle->Digest, Interface);
}

int32 HMAC_SetKey(HMAC *Handle, const void *Key, uint32 Length) {
    HMAC_Check(Handle);
    if (Handle->KeyState == Started || Handle->Key == nullptr) return FALSE;
    const int64 Gathered = Handle->KeyState;
    if (Gathered + Length > INT32_MAX) return FALSE;
    if (Length != 0) Debug_CheckPointer(Key);
    if (Gathered + Length > Handle->BlockSize) {
        if (Gathered >= 1 && Gathered <= Handle->BlockSize) {
            Hash_Reset(Handle->Digest);
            Hash_Process(Handle->Digest, Handle->Key, (uint32)Gathered, nullptr);
        }
        Hash_Process(Handle->Digest, Key, Length, nullptr);
    } else if (Length != 0) {
        memcpy(Handle->Key + Gathered, Key, Length);
    }
    Handle->KeyState = (int32)(Gathered + Length);
    return TRUE;
}

int32 HMAC_Process(HMAC *Handle, const void *Data, uint32 Length) {
    HMAC_Check(Handle);
    if (Handle->Key == nullptr) return FALSE;
    if (Handle->KeyState != Started) Start(Handle);
    if (Length == 0) return TRUE;
    return Hash_Process(Handle->Digest, Data, Length, nullptr);
}

int32 HMAC_Generate(HMAC *Handle) {
    HMAC_Check(Handle);
    if (Handle->Key == nullptr) return FALSE;
    if (Handle->KeyState != Started) Start(Handle);
    memset(Handle->Inner, 0, (size_t)Handle->DigestSize);
    Hash_Generate(Handle->Digest);
    Hash_GetDigest(Handle->Digest, Handle->Inner, Handle->DigestSize);
    XorKey(Handle, InnerToOuter);
    Hash_Reset(Handle->Digest);
    Hash_Process(Handle->Digest, Handle->Key, (uint32)Handle->BlockSize, nullptr);
    Hash_Process(Handle->Digest, Handle->Inner, (uint32)Handle->DigestSize, nullptr);
    return Hash_Generate(Handle->Digest);
}

int32 HMAC_GetDigest(HMAC *Handle, void *Output, int32 Size) {
    HMAC_Check(Handle);
    return Hash_GetDigest(Handle->Digest, Output, Size);
}

int32 HMAC_GetString(HMAC *Handle, int32 Format, char *Output, int32 Size) {
    HMAC_Check(Handle);
    return Hash_GetString(Handle->Digest, Format, Output, Size);
}

int32 HMAC_Reset(HMAC *Handle) {
    HMAC_Check(Handle);
    Hash_Reset(Handle->Digest);
    Handle->KeyState = 0;
    if (Handle->Key != nullptr) digest::Wipe(Handle->Key, (size_t)Handle->BlockSize);
    if (Handle->Inner != nullptr) digest::Wipe(Handle->Inner, (size_t)Handle->DigestSize);
    return TRUE;
}

int32 HMAC_CopyTo(HMAC *SourceHMAC, HMAC *TargetHMAC) {
    HMAC_Check(SourceHMAC);
    HMAC_Check(TargetHMAC);
    const HashInterface *SourceInterface = nullptr, *TargetInterface = nullptr;
    Hash_GetInterface(SourceHMAC->Digest, &SourceInterface);
    Hash_GetInterface(TargetHMAC->Digest, &TargetInterface);
    Debug_Assert(SourceInterface == TargetInterface, "Interfaces don't match");
    if (SourceHMAC == TargetHMAC) return TRUE;
    HMAC_Reset(TargetHMAC);
    Debug_Assert(SourceHMAC->BlockSize == TargetHMAC->BlockSize, "Block sizes don't match");
    if (SourceInterface == nullptr) return TRUE;
    memcpy(TargetHMAC->Key, SourceHMAC->Key, (size_t)SourceHMAC->BlockSize);
    TargetHMAC->KeyState = SourceHMAC->KeyState;
    Hash_CopyTo(SourceHMAC->Digest, TargetHMAC->Digest);
    memcpy(TargetHMAC->Inner, SourceHMAC->Inner, (size_t)SourceHMAC->DigestSize);
    return TRUE;
}

int32 HMAC_QuickDigest(const HashInterface *Interface, const void *Data, uint32 Length, const void *Key,
                       uint32 KeyLength, void *Output, int32 Size) {
    HMAC *Mac = nullptr;
    HMAC_Create(&Mac);
    int32 Result = HMAC_SetHashInterface(Mac, Interface);
    if (Result == TRUE) Result = HMAC_SetKey(Mac, Key, KeyLength);
    if (Result == TRUE) Result = HMAC_Process(Mac, Data, Length);
    if (Result == TRUE) Result = HMAC_Generate(Mac);
    if (Result == TRUE) Result = HMAC_GetDigest(Mac, Output, Size);
    HMAC_Delete(&Mac);
    return Result;
}

int32 HMAC_QuickString(const HashInterface *Interface, const void *Data, uint32 Length, const void *Key,
                       uint32 KeyLength, int32 Format, char *Output, int32 Size) {
    HMAC *Mac = nullptr;
    HMAC_Create(&Mac);
    int32 Result = HMAC_SetHashInterface(Mac, Interface);
    if (Result == TRUE) Result = HMAC_SetKey(Mac, Key, KeyLength);
    if (Result == TRUE) Result = HMAC_Process(Mac, Data, Length);
    if (Result == TRUE) Result = HMAC_Generate(Mac);
    if (Result == TRUE) Result = HMAC_GetString(Mac, Format, Output, Size);
    HMAC_Delete(&Mac);
    return Result;
}

int32 HMAC_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    Debug_CheckPointer(Name);
    if (String_CompareLengthWithoutCase(Name, "HMAC", 4) != 1 || Argument == nullptr) return FALSE;
    // "HMAC" (or a five-letter name) takes the algorithm from the argument,
    // a longer name from its own letters behind "HMAC".
    std::string Algorithm, Rest, Key, Data;
    if (strlen(Name) < 6) {
        if (!SplitAtComma(Argument, Algorithm, Rest)) return TRUE;
    } else {
        Algorithm = Name + 4;
        Rest = Argument;
    }
    const HashInterface *Record = nullptr;
    if (!Hash_InterfaceFromName(Algorithm.c_str(), &Record)) return TRUE;
    if (!SplitAtComma(Rest, Key, Data)) return TRUE;
    HMAC_QuickString(Record, Data.data(), (uint32)Data.size(), Key.data(), (uint32)Key.size(), HASH_STRING_PLAIN,
                     Output, Size);
    digest::Wipe(Key.data(), Key.size());
    digest::Wipe(Rest.data(), Rest.size());
    return TRUE;
}
