// The digest layer: every digest in the system is reached through a constant
// HashInterface record per algorithm, and through the Hash object that binds
// one record at a time. Records are compared by address.
//
// A Hash may be fed before it knows its algorithm: up to 4,096 bytes wait in
// a pending buffer (all or nothing per call) and are hashed when a record is
// bound, so a handshake can be digested from its first message on and the
// algorithm chosen later. The pending buffer exists only while unbound.
//
// The one-shot operations make their context in stack memory through the
// record's Stack and Unstack, so they take no heap memory. Digest text is
// lower-case hexadecimal; format 1 puts a blank after every fourth byte.
//
// Contexts and Hash objects belong to one thread at a time; the records are
// constant and shared.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define HASH_CLASSID 0xb3855d8fu
// Bytes a Hash keeps while no algorithm is bound.
#define HASH_PENDING_SIZE 4096
// Digest text formats.
#define HASH_STRING_PLAIN 0
#define HASH_STRING_GROUPED 1
// The largest digest of the built-in records (SHA-512).
#define HASH_MAX_DIGEST_SIZE 64

RUNTIME_EXTERN_C_BEGIN

// One algorithm. Context operations take the context handle as void *; each
// checks its class id. Every record fills every slot.
typedef struct HashInterface {
    const char *Name;
    uint32 BlockSize;
    uint32 DigestSize;
    int32 (*SizeOf)(void);
    // Makes a reset context in caller memory of SizeOf bytes (count 0, no
    // delete function); Unstack releases what Stack took and wipes it.
    int32 (*Stack)(void *Memory);
    int32 (*Unstack)(void *Memory);
    int32 (*Create)(void **HandleAddress);
    int32 (*Delete)(void **HandleAddress);
    // The whole running state, the digest-ready flag and a generated digest.
    int32 (*CopyTo)(void *Source, void *Target);
    int32 (*Reset)(void *Context);
    int32 (*Process)(void *Context, const void *Data, uint32 Length);
    int32 (*IsGenerated)(void *Context);
    int32 (*Generate)(void *Context);
    int32 (*GetDigest)(void *Context, void *Output, int32 Size);
    int32 (*GetString)(void *Context, int32 Format, char *Output, int32 Size);
} HashInterface;

typedef struct Hash Hash;

int32 Hash_Create(Hash **Handle);
// Unbinds (freeing pending bytes and the context) and frees the object.
int32 Hash_Delete(Hash **Handle);
CLASS_DECLARE_REFERENCE(Hash, Hash)

// Binds, rebinds or (null) unbinds. The record already bound resets instead.
// Pending bytes are fed to the new context; their result is the answer.
int32 Hash_SetInterface(Hash *Handle, const HashInterface *Interface);
int32 Hash_GetInterface(Hash *Handle, const HashInterface **Interface);
// Unbound: drops pending bytes (0 when there were none).
int32 Hash_Reset(Hash *Handle);
// Unbound: 0 and nothing kept when the pending buffer would overflow.
int32 Hash_Process(Hash *Handle, const void *Data, uint32 Length, uint32 *Processed);
int32 Hash_Generate(Hash *Handle);
int32 Hash_IsGenerated(Hash *Handle);
int32 Hash_GetDigest(Hash *Handle, void *Output, int32 Size);
// Writes an empty text first; 0 when unbound or the text does not fit.
int32 Hash_GetString(Hash *Handle, int32 Format, char *Output, int32 Size);
int32 Hash_GetDigestSize(Hash *Handle);
int32 Hash_GetBlockSize(Hash *Handle);
// Both bound to the same record; the source keeps running.
int32 Hash_CopyTo(Hash *Source, Hash *Target);

// Selection: names without case ("sha256", not "SHA-256"); dotted OIDs exactly.
// Unknown ones log "Unsupported hash algorithm %s\n" and leave the output.
int32 Hash_InterfaceFromName(const char *Name, const HashInterface **Interface);
int32 Hash_InterfaceFromOid(const char *Oid, const HashInterface **Interface);

// One-shot digests in a stack context. Each answers the first step that does
// not answer 1, else the last step's answer.
int32 Hash_QuickDigest(const HashInterface *Interface, const void *Data, uint32 Length, void *Output, int32 Size);
// CaseSensitive 0 upper-cases ASCII a-z first (case-free keys); an empty text
// then answers 0, as nothing was processed.
int32 Hash_QuickDigest2(const HashInterface *Interface, const void *Data, uint32 Length, int32 CaseSensitive,
                        void *Output, int32 Size);
// Each 16-bit unit is converted to UTF-8 on its own (a surrogate pair gives
// two three-byte sequences) and hashed.
int32 Hash_QuickDigestUtf16(const HashInterface *Interface, const uint16 *Text, uint32 Units, int32 CaseSensitive,
                            void *Output, int32 Size);
int32 Hash_QuickString(const HashInterface *Interface, const void *Data, uint32 Length, int32 Format, char *Output,
                       int32 Size);
// The same as Hash_QuickString: the data are the bytes given.
int32 Hash_QuickStringUtf16(const HashInterface *Interface, const void *Data, uint32 Length, int32 Format,
                            char *Output, int32 Size);

// Needs 2 x Length + 1 bytes (format 1: plus Length / 4); 0 and nothing
// written when Size is smaller.
int32 Hash_ConvertDigestToString(const void *Digest, int32 Length, int32 Format, char *Output, int32 Size);

// Macro provider: {CRC:text}, {MD4:..}, {MD5:..}, {SHA1:..}, {SHA256:..} and
// {Hash:ALGORITHM,text}. 1 when the name is its own, also when nothing was
// written (no argument, no comma, unknown algorithm).
int32 Hash_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

RUNTIME_EXTERN_C_END

// The operations every digest context type offers, named Prefix_Operation.
// Create and Stack end in Reset; GetDigest and GetString before Generate are
// fatal stops; Process never fails but stops on null data.
#define HASH_DECLARE_CONTEXT(Prefix, Type)                                                  \
    int32 Prefix##_SizeOf(void);                                                            \
    int32 Prefix##_Stack(void *Memory);                                                     \
    int32 Prefix##_Unstack(void *Memory);                                                   \
    int32 Prefix##_Create(Type **Handle);                                                   \
    int32 Prefix##_Delete(Type **Handle);                                                   \
    int32 Prefix##_CopyTo(Type *Source, Type *Target);                                      \
    int32 Prefix##_Reset(Type *Handle);                                                     \
    int32 Prefix##_Process(Type *Handle, const void *Data, uint32 Length);                  \
    int32 Prefix##_IsGenerated(Type *Handle);                                               \
    int32 Prefix##_Generate(Type *Handle);                                                  \
    int32 Prefix##_GetDigest(Type *Handle, void *Output, int32 Size);                       \
    int32 Prefix##_GetString(Type *Handle, int32 Format, char *Output, int32 Size);         \
    CLASS_DECLARE_REFERENCE(Prefix, Type)
