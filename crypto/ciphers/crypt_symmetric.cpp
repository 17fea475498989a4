// CryptSymmetric: forwards to the bound cipher record (see crypt_symmetric.h).
#include "crypto/ciphers/crypt_symmetric.h"

#include "runtime/debug.h"
#include "runtime/memory.h"

struct CryptSymmetric {
    ClassStruct Class;
    void *Context;
    const CryptSymmetricInterface *Interface;
};

#define CryptSymmetric_Check(Handle) Class_CheckHandle((Handle), CRYPTSYMMETRIC_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) {
    return CryptSymmetric_Delete(static_cast<CryptSymmetric **>(HandleAddress));
}

// The bound record; an unbound object or an empty slot stops here rather
// than jumping through a null pointer.
const CryptSymmetricInterface *Bound(CryptSymmetric *Symmetric) {
    CryptSymmetric_Check(Symmetric);
    Debug_CheckPointer(Symmetric->Interface);
    return Symmetric->Interface;
}

template <typename Slot> Slot Required(Slot Function) {
    Debug_CheckPointer(Function);
    return Function;
}

void DeleteContext(CryptSymmetric *Symmetric) {
    if (Symmetric->Context != nullptr) Symmetric->Interface->Delete(&Symmetric->Context);
    Symmetric->Context = nullptr;
}

} // namespace

CLASS_DEFINE_REFERENCE(CryptSymmetric, CryptSymmetric, CRYPTSYMMETRIC_CLASSID)

int32 CryptSymmetric_Create(CryptSymmetric **Handle) {
    Debug_CheckPointer(Handle);
    CryptSymmetric *Symmetric = Memory_New(CryptSymmetric);
    Class_InitHeader(Symmetric, CRYPTSYMMETRIC_CLASSID, DeleteThroughClass);
    *Handle = Symmetric;
    return TRUE;
}

int32 CryptSymmetric_Delete(CryptSymmetric **Handle) {
    Debug_CheckPointer(Handle);
    CryptSymmetric *Symmetric = *Handle;
    CryptSymmetric_Check(Symmetric);
    DeleteContext(Symmetric);
    Symmetric->Class.ClassId = 0;
    Memory_Delete(Symmetric);
    *Handle = nullptr;
    return TRUE;
}

int32 CryptSymmetric_Reset(CryptSymmetric *Handle, const CryptSymmetricInterface *Interface) {
    CryptSymmetric_Check(Handle);
    Debug_CheckPointer(Interface);
    Debug_CheckPointer(Interface->Name);
    Debug_CheckPointer(Interface->Create);
    Debug_CheckPointer(Interface->Delete);
    Debug_CheckPointer(Interface->SetKey);
    Debug_CheckPointer(Interface->Encrypt);
    Debug_CheckPointer(Interface->Decrypt);
    DeleteContext(Handle);
    Handle->Interface = Interface;
    Interface->Create(&Handle->Context);
    return TRUE;
}

int32 CryptSymmetric_SupportsCBC(CryptSymmetric *Handle) {
    const CryptSymmetricInterface *Interface = Bound(Handle);
    return Interface->EncryptCBC != nullptr && Interface->DecryptCBC != nullptr;
}

int32 CryptSymmetric_SetKey(CryptSymmetric *Handle, const uint8 *Key, int32 Length) {
    return Required(Bound(Handle)->SetKey)(Handle->Context, Key, Length);
}

int32 CryptSymmetric_SetAAD(CryptSymmetric *Handle, const uint8 *Data, int32 Length) {
    return Required(Bound(Handle)->SetAAD)(Handle->Context, Data, Length);
}

int32 CryptSymmetric_Encrypt(CryptSymmetric *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return Required(Bound(Handle)->Encrypt)(Handle->Context, In, Out, Length);
}

int32 CryptSymmetric_Decrypt(CryptSymmetric *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return Required(Bound(Handle)->Decrypt)(Handle->Context, In, Out, Length);
}

int32 CryptSymmetric_EncryptCBC(CryptSymmetric *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out,
                                int32 Length) {
    return Required(Bound(Handle)->EncryptCBC)(Handle->Context, IV, IVLength, In, Out, Length);
}

int32 CryptSymmetric_DecryptCBC(CryptSymmetric *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out,
                                int32 Length) {
    return Required(Bound(Handle)->DecryptCBC)(Handle->Context, IV, IVLength, In, Out, Length);
}

int32 CryptSymmetric_GetAuthTag(CryptSymmetric *Handle, uint8 *Tag, int32 TagLength) {
    return Required(Bound(Handle)->GetAuthTag)(Handle->Context, Tag, TagLength);
}
