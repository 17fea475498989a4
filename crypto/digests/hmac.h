// HMAC over any digest record, keyed and fed in pieces and copied, with
// one-shot forms, the HMAC macros, and PBKDF2 key derivation.
//
// Calling order: SetHashInterface, SetKey (once or in pieces), Process (any
// number of times), Generate, GetDigest or GetString; then Reset (which
// forgets the key) and SetKey again. A key longer than the digest's block is
// hashed as it arrives. A keyed object copied with HMAC_CopyTo serves many
// messages without keying again.
//
// Secrets (the key block, the running states, the inner digest) are wiped
// when the object is reset, rebound or deleted. Compare MACs with
// Crypt_CompareConstantTime, never with memcmp.
#pragma once

#include "crypto/digests/hash.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define HMAC_CLASSID 0xdd12155eu

RUNTIME_EXTERN_C_BEGIN

typedef struct HMAC HMAC;

int32 HMAC_Create(HMAC **Handle);
int32 HMAC_Delete(HMAC **Handle);
CLASS_DECLARE_REFERENCE(HMAC, HMAC)

// Binding the record already bound resets (the key is forgotten).
int32 HMAC_SetHashInterface(HMAC *Handle, const HashInterface *Interface);
// 0 once the message has started (after Process or Generate), or unbound.
int32 HMAC_SetKey(HMAC *Handle, const void *Key, uint32 Length);
// 0 while unbound.
int32 HMAC_Process(HMAC *Handle, const void *Data, uint32 Length);
int32 HMAC_Generate(HMAC *Handle);
// The copy follows the digest's rule (MD and SHA-1 MACs may be truncated to
// a shorter buffer; SHA-2 MACs need the whole size); 0 when it was refused.
int32 HMAC_GetDigest(HMAC *Handle, void *Output, int32 Size);
// 0 when the text does not fit.
int32 HMAC_GetString(HMAC *Handle, int32 Format, char *Output, int32 Size);
int32 HMAC_Reset(HMAC *Handle);
// The target must be bound to the source's record (fatal stop otherwise).
int32 HMAC_CopyTo(HMAC *Source, HMAC *Target);

// One object made, bound, keyed, fed, finished, read and deleted; the first
// step that fails gives the answer.
int32 HMAC_QuickDigest(const HashInterface *Interface, const void *Data, uint32 Length, const void *Key,
                       uint32 KeyLength, void *Output, int32 Size);
int32 HMAC_QuickString(const HashInterface *Interface, const void *Data, uint32 Length, const void *Key,
                       uint32 KeyLength, int32 Format, char *Output, int32 Size);

// Macro provider: {HMAC:ALGORITHM,key,text} and {HMACSHA256:key,text} (any
// algorithm name after "HMAC"); lower-case hexadecimal. 1 when the name is its
// own, also when nothing was written.
int32 HMAC_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

// PBKDF2 with HMAC-SHA-1 (RFC 8018). OutLength 0 to 65,535 (above: 0 and
// nothing written); an iteration count below 1 gives all zeros. Iterations
// are counted in full 32 bits.
int32 HMACSHA1_DeriveKey(const void *Password, uint32 PasswordLength, const void *Salt, uint32 SaltLength,
                         int32 Iterations, void *Output, int32 OutLength);
// The same over any digest record (HMACSHA1_DeriveKey is this with SHA-1).
int32 HMAC_DeriveKey(const HashInterface *Interface, const void *Password, uint32 PasswordLength, const void *Salt,
                     uint32 SaltLength, int32 Iterations, void *Output, int32 OutLength);

RUNTIME_EXTERN_C_END
