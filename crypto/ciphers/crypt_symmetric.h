// CryptSymmetric: one symmetric cipher bound by its constant record. Each
// cipher (AES, AES-GCM, DES, RC4) publishes a CryptSymmetricInterface record
// whose slots take the cipher's own context; a CryptSymmetric object holds
// one such context and forwards every operation to the bound record. There
// is no lookup by name: callers take the record they need by its symbol.
//
// Reset binds a record and always makes a fresh context (the old one, with
// its key and running state, is wiped and deleted), so it also serves to
// forget a key. No padding is added here: block ciphers get whole blocks
// from their callers. An empty slot, a missing record and a foreign handle
// are fatal stops; the slots' own results pass through unchanged.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define CRYPTSYMMETRIC_CLASSID 0x9afb13ceu

RUNTIME_EXTERN_C_BEGIN

// Slot signatures: the first argument is the cipher's own context. Lengths
// are signed byte counts; In and Out may be the same buffer. The CBC pair
// updates the IV in place (for GCM the IV starts a message instead).
typedef int32 (*CryptSymmetric_CreateFunc)(void **Context);
typedef int32 (*CryptSymmetric_DeleteFunc)(void **Context);
typedef int32 (*CryptSymmetric_SetKeyFunc)(void *Context, const uint8 *Key, int32 Length);
typedef int32 (*CryptSymmetric_SetAADFunc)(void *Context, const uint8 *Data, int32 Length);
typedef int32 (*CryptSymmetric_CipherFunc)(void *Context, const uint8 *In, uint8 *Out, int32 Length);
typedef int32 (*CryptSymmetric_CipherIVFunc)(void *Context, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out,
                                             int32 Length);
typedef int32 (*CryptSymmetric_GetAuthTagFunc)(void *Context, uint8 *Tag, int32 TagLength);

typedef struct CryptSymmetricInterface {
    const char *Name;
    uint32 BlockSize; // 0 for a stream cipher
    CryptSymmetric_CreateFunc Create;
    CryptSymmetric_DeleteFunc Delete;
    CryptSymmetric_SetKeyFunc SetKey;
    CryptSymmetric_SetAADFunc SetAAD; // AEAD only
    CryptSymmetric_CipherFunc Encrypt;
    CryptSymmetric_CipherFunc Decrypt;
    CryptSymmetric_CipherIVFunc EncryptCBC;
    CryptSymmetric_CipherIVFunc DecryptCBC;
    CryptSymmetric_GetAuthTagFunc GetAuthTag; // AEAD only
} CryptSymmetricInterface;

typedef struct CryptSymmetric CryptSymmetric;

// Unbound, one reference. Delete wipes and deletes the context through the
// bound record, frees the object and clears the handle.
int32 CryptSymmetric_Create(CryptSymmetric **Handle);
int32 CryptSymmetric_Delete(CryptSymmetric **Handle);
CLASS_DECLARE_REFERENCE(CryptSymmetric, CryptSymmetric)

// Binds the record (Name, Create, Delete, SetKey, Encrypt and Decrypt must be
// present) and makes a fresh context without a key, also when the same
// record is bound again. Must precede every operation below.
int32 CryptSymmetric_Reset(CryptSymmetric *Handle, const CryptSymmetricInterface *Interface);
// 1 when the bound record has both CBC slots.
int32 CryptSymmetric_SupportsCBC(CryptSymmetric *Handle);

int32 CryptSymmetric_SetKey(CryptSymmetric *Handle, const uint8 *Key, int32 Length);
int32 CryptSymmetric_SetAAD(CryptSymmetric *Handle, const uint8 *Data, int32 Length);
int32 CryptSymmetric_Encrypt(CryptSymmetric *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 CryptSymmetric_Decrypt(CryptSymmetric *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 CryptSymmetric_EncryptCBC(CryptSymmetric *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out,
                                int32 Length);
int32 CryptSymmetric_DecryptCBC(CryptSymmetric *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out,
                                int32 Length);
int32 CryptSymmetric_GetAuthTag(CryptSymmetric *Handle, uint8 *Tag, int32 TagLength);

RUNTIME_EXTERN_C_END
