// ECDSA (SEC 1 4.1) over the curve engine. See ecdsa.h.
//
// Numbers cross into the engine as fixed-size bytes: scalars ScalarBytes
// long, coordinates FieldBytes long. Signing runs the nonce through the
// engine's scalar-independent walk and inverts it by Fermat, so neither
// the nonce nor the key shows in the timing; verification handles public
// values only and takes the faster walk.
#include "crypto/keys/ecdsa.h"

#include <string.h>

#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/keys/ec_internal.h"
#include "runtime/memory.h"

struct ECDSA {
    ClassStruct Class;
    EC *Curve;
    int32 HasPrivateKey;
    int32 HasPublicKey;
    BigInt *D;
    ECPoint Q;
};

#define ECDSA_Check(Handle) Class_CheckHandle((Handle), ECDSA_CLASSID)

namespace {

typedef std::vector<uint8> Bytes;

// Attempts at a nonce before signing gives up; a retry needs a zero draw
// or r or s of zero, each with a chance of about 2^-190 or less.
constexpr int32 NonceAttempts = 16;

int32 DeleteThroughClass(void *HandleAddress) { return ECDSA_Delete(static_cast<ECDSA **>(HandleAddress)); }

void ClearPrivateKey(ECDSA *Handle) {
    BigInt_Reset(Handle->D);
    Handle->HasPrivateKey = FALSE;
}

// The digest as a number below 2^OrderBits, ScalarBytes long: its leftmost
// OrderBits bits when it is longer, else the whole digest.
Bytes PrepareDigest(const ec::Engine *E, const uint8 *Digest, int32 Size) {
    Bytes Out((size_t)E->ScalarBytes, 0);
    if (8 * (int64)Size > E->OrderBits) {
        memcpy(Out.data(), Digest, Out.size());
        const int32 Shift = E->OrderBits % 8 ? 8 - E->OrderBits % 8 : 0;
        if (Shift != 0)
            for (size_t At = Out.size(); At-- > 0;)
                Out[At] = (uint8)((Out[At] >> Shift) | (At > 0 ? Out[At - 1] << (8 - Shift) : 0));
    } else if (Size > 0) {
        memcpy(Out.data() + Out.size() - (size_t)Size, Digest, (size_t)Size);
    }
    E->ScalarReduce(Out.data(), (int32)Out.size(), Out.data());
    return Out;
}

// A DER length at In[At]: definite, in the fewest bytes, at most two.
bool ReadLength(const uint8 *In, int32 Size, int32 &At, int32 &Length) {
    if (At >= Size) return false;
    const uint8 First = In[At++];
    if (First < 0x80) {
        Length = First;
    } else if (First == 0x81) {
        if (At >= Size || In[At] < 0x80) return false;
        Length = In[At++];
    } else if (First == 0x82) {
        if (Size - At < 2 || In[At] == 0) return false;
        Length = (In[At] << 8) | In[At + 1];
        At += 2;
    } else {
        return false;
    }
    return Length <= Size - At;
}

// A non-negative INTEGER in its minimal form, right-aligned into Out.
bool ReadInteger(const uint8 *In, int32 End, int32 &At, uint8 *Out, int32 OutSize) {
    int32 Length = 0;
    if (At >= End || In[At++] != 0x02 || !ReadLength(In, End, At, Length) || Length == 0) return false;
    const uint8 *Value = In + At;
    At += Length;
    if (Value[0] & 0x80) return false; // negative
    if (Value[0] == 0 && Length > 1 && !(Value[1] & 0x80)) return false; // superfluous zero
    if (Value[0] == 0) {
        Value++;
        Length--;
    }
    if (Length > OutSize) return false;
    memset(Out, 0, (size_t)OutSize);
    memcpy(Out + OutSize - Length, Value, (size_t)Length);
    return true;
}

// Exactly one SEQUENCE of two INTEGERs and nothing behind it.
bool ParseSignature(const uint8 *In, int32 Size, uint8 *R, uint8 *S, int32 ScalarBytes) {
    int32 At = 0, Length = 0;
    if (Size < 2 || In[At++] != 0x30 || !ReadLength(In, Size, At, Length) || At + Length != Size) return false;
    return ReadInteger(In, Size, At, R, ScalarBytes) && ReadInteger(In, Size, At, S, ScalarBytes) && At == Size;
}

// 02, length, the minimal bytes of a number below 2^1016 (00 in front when
// its top bit is set).
int32 WriteInteger(uint8 *Out, const uint8 *Value, int32 Size) {
    int32 Skip = 0;
    while (Skip < Size - 1 && Value[Skip] == 0) Skip++;
    const int32 Pad = Value[Skip] & 0x80 ? 1 : 0;
    const int32 Length = Size - Skip + Pad;
    Out[0] = 0x02;
    Out[1] = (uint8)Length;
    Out[2] = 0;
    memcpy(Out + 2 + Pad, Value + Skip, (size_t)(Size - Skip));
    return 2 + Length;
}

// The DER signature of r and s; the SEQUENCE length in the fewest bytes.
int32 WriteSignature(uint8 *Out, const uint8 *R, const uint8 *S, int32 ScalarBytes) {
    uint8 Content[2 * (2 + 1 + 127)];
    int32 Length = WriteInteger(Content, R, ScalarBytes);
    Length += WriteInteger(Content + Length, S, ScalarBytes);
    int32 At = 0;
    Out[At++] = 0x30;
    if (Length >= 128) Out[At++] = 0x81;
    Out[At++] = (uint8)Length;
    memcpy(Out + At, Content, (size_t)Length);
    return At + Length;
}

bool IsZero(const Bytes &Value) {
    uint8 Any = 0;
    for (uint8 Byte : Value) Any |= Byte;
    return Any == 0;
}


// Holds a decoded tree for the life of a scope.
class Tree {
  public:
    Tree() { ASN1_Create(&Root); }
    ~Tree() { ASN1_Delete(&Root); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
    ASN1 *Root = nullptr;
};

constexpr const char *EcPublicKeyOid = "1.2.840.10045.2.1";

// Reads the private value of an ECPrivateKey element (version 1, then the
// OCTET STRING) into d when it lies in 1 ... n - 1 of the chosen curve.
int32 ReadPrivateValue(ECDSA *Handle, ASN1 *Key) {
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    uint32 Version = 0;
    ASN1 *Value = ASN1_GetElement(Key, 1);
    if (E == nullptr || ASN1_GetType(Key) != ASN1_TYPE_SEQUENCE || !ASN1_ParseInt32(ASN1_GetElement(Key, 0), &Version) ||
        Version != 1 || ASN1_GetType(Value) != ASN1_TYPE_OCTETSTRING)
        return FALSE;
    const int32 Size = ASN1_GetValueSize(Value);
    if (Size < 1 || Size > E->ScalarBytes) return FALSE;
    Bytes D((size_t)E->ScalarBytes, 0);
    memcpy(D.data() + D.size() - (size_t)Size, ASN1_GetValuePtr(Value), (size_t)Size);
    const bool InRange = E->ScalarInRange(D.data());
    if (InRange) BigInt_ImportBinary(Handle->D, D.data(), (int32)D.size());
    ec::Wipe(D.data(), D.size());
    Handle->HasPrivateKey = InRange ? TRUE : FALSE;
    return Handle->HasPrivateKey;
}

// The curve named by an OBJECT IDENTIFIER node.
int32 ChooseCurve(ECDSA *Handle, ASN1 *Oid) {
    char Text[EC_MAX_CURVE_NAME + 1];
    if (ASN1_GetType(Oid) != ASN1_TYPE_OID || !ASN1_ParseOid(Oid, Text, (int32)sizeof(Text))) return FALSE;
    return EC_InitParams(Handle->Curve, Text);
}

// A BIT STRING holding an encoded point: no unused bits, a point behind.
int32 SetPointFromBitString(ECDSA *Handle, ASN1 *Bits) {
    if (ASN1_GetType(Bits) != ASN1_TYPE_BITSTRING || ASN1_GetValueSize(Bits) < 2 || ASN1_GetValuePtr(Bits)[0] != 0)
        return FALSE;
    return ECDSA_SetPublicKey(Handle, ASN1_GetValuePtr(Bits) + 1, ASN1_GetValueSize(Bits) - 1);
}

} // namespace

CLASS_DEFINE_REFERENCE(ECDSA, ECDSA, ECDSA_CLASSID)

namespace {

// The table's operations take the object as void *.
ECDSA *Of(void *Handle) { return static_cast<ECDSA *>(Handle); }
int32 SlotCreate(void **Handle) { return ECDSA_Create(reinterpret_cast<ECDSA **>(Handle)); }
int32 SlotDelete(void **Handle) { return ECDSA_Delete(reinterpret_cast<ECDSA **>(Handle)); }
int32 SlotInitParams(void *Handle, const char *Params) { return ECDSA_InitParams(Of(Handle), Params); }
int32 SlotHasPrivateKey(void *Handle) { return ECDSA_HasPrivateKey(Of(Handle)); }
int32 SlotSetPrivateKey(void *Handle, const void *Der, int32 Size) {
    return ECDSA_SetPrivateKey(Of(Handle), Der, Size);
}
int32 SlotSetPublicKey(void *Handle, const void *Bytes, int32 Size) {
    return ECDSA_SetPublicKey(Of(Handle), Bytes, Size);
}
int32 SlotSetPublicKeyPair(void *Handle, const BigInt *X, const BigInt *Y) {
    return ECDSA_SetPublicKeyPair(Of(Handle), X, Y);
}
int32 SlotEncrypt(void *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize, int32 *Written) {
    return ECDSA_PublicKeyEncrypt(Of(Handle), Data, Size, Output, OutputSize, Written);
}
int32 SlotSign(void *Handle, const void *Digest, int32 Size, void *Output, int32 OutputSize, int32 *Written) {
    return ECDSA_Sign(Of(Handle), Digest, Size, Output, OutputSize, Written);
}
int32 SlotVerify(void *Handle, const void *Digest, int32 Size, const void *Signature, int32 SignatureSize,
                 int32 Mode) {
    return ECDSA_Verify(Of(Handle), Digest, Size, Signature, SignatureSize, Mode);
}
int32 SlotReset(void *Handle) { return ECDSA_Reset(Of(Handle)); }

} // namespace

extern "C" const CryptAsymmetricInterface ECDSA_INTERFACE = {
    "ECDSA",     SlotCreate, SlotDelete, SlotInitParams, SlotHasPrivateKey, SlotSetPrivateKey, SlotSetPublicKey,
    SlotSetPublicKeyPair, SlotEncrypt, SlotSign, SlotVerify, SlotReset,
};

int32 ECDSA_Create(ECDSA **Handle) {
    Debug_CheckPointer(Handle);
    ECDSA *Object = Memory_New(ECDSA);
    Class_InitHeader(Object, ECDSA_CLASSID, DeleteThroughClass);
    EC_Create(&Object->Curve);
    BigInt_Create(&Object->D);
    ECPoint_Init(&Object->Q);
    *Handle = Object;
    return TRUE;
}

int32 ECDSA_Delete(ECDSA **Handle) {
    Debug_CheckPointer(Handle);
    ECDSA *Object = *Handle;
    ECDSA_Check(Object);
    ECDSA_Reset(Object);
    EC_Delete(&Object->Curve);
    BigInt_Delete(&Object->D);
    ECPoint_Release(&Object->Q);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 ECDSA_InitParams(ECDSA *Handle, const char *Oid) {
    ECDSA_Check(Handle);
    // A key belongs to its curve: choosing another forgets it.
    ClearPrivateKey(Handle);
    ECPoint_Reset(&Handle->Q);
    Handle->HasPublicKey = FALSE;
    return EC_InitParams(Handle->Curve, Oid);
}

int32 ECDSA_HasPrivateKey(ECDSA *Handle) {
    ECDSA_Check(Handle);
    return Handle->HasPrivateKey;
}

int32 ECDSA_SetPrivateKey(ECDSA *Handle, const void *Der, int32 Size) {
    ECDSA_Check(Handle);
    ClearPrivateKey(Handle);
    Tree Key;
    if (Der == nullptr || Size <= 0 || !ASN1_Decode(Key.Root, Der, Size)) return FALSE;
    return ReadPrivateValue(Handle, ASN1_GetElement(Key.Root, 0));
}

int32 ECDSA_SetPublicKey(ECDSA *Handle, const void *Bytes, int32 Size) {
    ECDSA_Check(Handle);
    ClearPrivateKey(Handle);
    Handle->HasPublicKey = ECPoint_ImportBinary(&Handle->Q, Handle->Curve, Bytes, Size);
    return Handle->HasPublicKey;
}

int32 ECDSA_SetPublicKeyPair(ECDSA *Handle, const BigInt *X, const BigInt *Y) {
    ECDSA_Check(Handle);
    ClearPrivateKey(Handle);
    BigInt_Copy(Handle->Q.X, X);
    BigInt_Copy(Handle->Q.Y, Y);
    Handle->Q.AtInfinity = 0;
    Handle->HasPublicKey = EC_ValidatePoint(Handle->Curve, &Handle->Q);
    return Handle->HasPublicKey;
}

int32 ECDSA_PublicKeyEncrypt(ECDSA *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize,
                             int32 *Written) {
    ECDSA_Check(Handle);
    (void)Data;
    (void)Size;
    (void)Output;
    (void)OutputSize;
    (void)Written;
    return FALSE;
}

int32 ECDSA_Sign(ECDSA *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize,
                 int32 *Written) {
    ECDSA_Check(Handle);
    Debug_CheckPointer(Written);
    Debug_CheckPointer(Digest);
    *Written = 0;
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    if (E == nullptr) return FALSE;
    const int32 S = E->ScalarBytes;
    int32 Longest = 2 * S + 6;
    if (Longest >= 128) Longest++;
    if (Longest >= 256) Debug_Abort("Pre-calculated ASN.1 signature length is too large for EC: %d\n", Longest);
    if (OutputSize < Longest + 2) Debug_Abort("Signature buffer is too small\n");
    Debug_CheckPointer(Output);
    // A key without d would sign with d = 0: a signature anyone can make.
    if (!Handle->HasPrivateKey) return FALSE;
    const Bytes Message = PrepareDigest(E, static_cast<const uint8 *>(Digest), DigestSize);
    Bytes D((size_t)S), K((size_t)S), KInverse((size_t)S), R((size_t)S), Sig((size_t)S), T((size_t)S);
    Bytes X((size_t)E->FieldBytes), Y((size_t)E->FieldBytes);
    ec::ToFixed(Handle->D, D.data(), S);
    BigIntLocal Nonce;
    int32 Result = FALSE;
    for (int32 Attempt = 0; Attempt < NonceAttempts && !Result; Attempt++) {
        if (!BigInt_ModuloRandom(Nonce, EC_GetN(Handle->Curve))) break;
        BigInt_ExportBinaryFixedSize(Nonce, K.data(), S);
        if (!E->Multiply(K.data(), nullptr, nullptr, true, X.data(), Y.data())) continue;
        E->ScalarReduce(X.data(), E->FieldBytes, R.data());
        if (IsZero(R)) continue;
        // s = k^-1 (e + d·r)
        E->ScalarInvert(K.data(), KInverse.data());
        E->ScalarMultiply(D.data(), R.data(), T.data());
        E->ScalarAdd(T.data(), Message.data(), T.data());
        E->ScalarMultiply(KInverse.data(), T.data(), Sig.data());
        if (IsZero(Sig)) continue;
        *Written = WriteSignature(static_cast<uint8 *>(Output), R.data(), Sig.data(), S);
        Result = TRUE;
    }
    for (Bytes *Secret : {&D, &K, &KInverse, &T}) ec::Wipe(Secret->data(), Secret->size());
    return Result;
}

int32 ECDSA_Verify(ECDSA *Handle, const void *Digest, int32 DigestSize, const void *Signature, int32 SignatureSize,
                   int32 Mode) {
    ECDSA_Check(Handle);
    (void)Mode;
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    if (E == nullptr || !Handle->HasPublicKey || Signature == nullptr || DigestSize < 0) return FALSE;
    if (DigestSize > 0 && Digest == nullptr) return FALSE;
    const int32 S = E->ScalarBytes, F = E->FieldBytes;
    Bytes R((size_t)S), Sig((size_t)S);
    if (!ParseSignature(static_cast<const uint8 *>(Signature), SignatureSize, R.data(), Sig.data(), S)) return FALSE;
    if (!E->ScalarInRange(R.data()) || !E->ScalarInRange(Sig.data())) return FALSE;
    const Bytes Message = PrepareDigest(E, static_cast<const uint8 *>(Digest), DigestSize);
    Bytes W((size_t)S), U1((size_t)S), U2((size_t)S), Qx((size_t)F), Qy((size_t)F), X((size_t)F), Y((size_t)F);
    if (!ec::ToFixed(Handle->Q.X, Qx.data(), F) || !ec::ToFixed(Handle->Q.Y, Qy.data(), F)) return FALSE;
    E->ScalarInvert(Sig.data(), W.data());
    E->ScalarMultiply(Message.data(), W.data(), U1.data());
    E->ScalarMultiply(R.data(), W.data(), U2.data());
    if (!E->MultiplyTwo(U1.data(), U2.data(), Qx.data(), Qy.data(), X.data(), Y.data())) return FALSE;
    Bytes Reduced((size_t)S);
    E->ScalarReduce(X.data(), F, Reduced.data());
    return Reduced == R ? TRUE : FALSE;
}

int32 ECDSA_Reset(ECDSA *Handle) {
    ECDSA_Check(Handle);
    EC_Reset(Handle->Curve);
    ClearPrivateKey(Handle);
    ECPoint_Reset(&Handle->Q);
    Handle->HasPublicKey = FALSE;
    return TRUE;
}

int32 ECDSA_GetECHandle(ECDSA *Handle, EC **Curve) {
    ECDSA_Check(Handle);
    Debug_CheckPointer(Curve);
    *Curve = Handle->Curve;
    return Handle->Curve != nullptr;
}

int32 ECDSA_SetPrivateKeyFromASN1(ECDSA *Handle, const void *Der, int32 Size) {
    ECDSA_Check(Handle);
    ClearPrivateKey(Handle);
    Tree Decoded;
    if (Der == nullptr || Size <= 0 || !ASN1_Decode(Decoded.Root, Der, Size)) return FALSE;
    ASN1 *Key = ASN1_GetElement(Decoded.Root, 0);
    ASN1 *Parameters = ASN1_GetElement(Key, 2), *Public = ASN1_GetElement(Key, 3);
    uint8 ParametersTag = 0, PublicTag = 0;
    if (!ASN1_GetTag(Parameters, &ParametersTag) || ParametersTag != 0xA0 || !ASN1_GetTag(Public, &PublicTag) ||
        PublicTag != 0xA1)
        return FALSE;
    if (!ChooseCurve(Handle, ASN1_GetElement(Parameters, 0))) return FALSE;
    if (!SetPointFromBitString(Handle, ASN1_GetElement(Public, 0))) return FALSE;
    return ReadPrivateValue(Handle, Key);
}

int32 ECDSA_SetPublicKeyFromASN1(ECDSA *Handle, const void *Der, int32 Size) {
    ECDSA_Check(Handle);
    ClearPrivateKey(Handle);
    Handle->HasPublicKey = FALSE;
    Tree Decoded;
    if (Der == nullptr || Size <= 0 || !ASN1_Decode(Decoded.Root, Der, Size)) return FALSE;
    ASN1 *Info = ASN1_GetElement(Decoded.Root, 0);
    ASN1 *Algorithm = ASN1_GetElement(Info, 0);
    char Oid[32];
    if (ASN1_GetType(Info) != ASN1_TYPE_SEQUENCE || ASN1_GetType(Algorithm) != ASN1_TYPE_SEQUENCE ||
        ASN1_GetType(ASN1_GetElement(Algorithm, 0)) != ASN1_TYPE_OID ||
        !ASN1_ParseOid(ASN1_GetElement(Algorithm, 0), Oid, (int32)sizeof(Oid)) || strcmp(Oid, EcPublicKeyOid) != 0)
        return FALSE;
    if (!ChooseCurve(Handle, ASN1_GetElement(Algorithm, 1))) return FALSE;
    return SetPointFromBitString(Handle, ASN1_GetElement(Info, 1));
}

int32 ECDSA_SignatureFromRaw(ECDSA *Handle, const void *Raw, int32 RawSize, void *Output, int32 OutputSize,
                             int32 *Written) {
    ECDSA_Check(Handle);
    Debug_CheckPointer(Written);
    *Written = 0;
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    if (E == nullptr || Raw == nullptr || Output == nullptr) return FALSE;
    const int32 S = E->ScalarBytes;
    if (RawSize != 2 * S) return FALSE;
    uint8 Der[3 + 2 * (3 + 127)];
    const uint8 *Halves = static_cast<const uint8 *>(Raw);
    const int32 Length = WriteSignature(Der, Halves, Halves + S, S);
    if (Length > OutputSize) return FALSE;
    memcpy(Output, Der, (size_t)Length);
    *Written = Length;
    return TRUE;
}
