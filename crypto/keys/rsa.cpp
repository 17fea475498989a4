// RSA with PKCS#1 v1.5 padding. See rsa.h.
//
// The private-key operation: the input is multiplied by r^e for a random r
// (the pair r^e, r^-1 is kept and squared for the next use, so a fresh
// inversion is needed only per key), raised with fixed-window powers (mod p
// and mod q when the key carries consistent CRT values, else mod n), brought
// back with r^-1, and raised to e again to compare with the input, so a
// fault in the arithmetic cannot leak a factor through a wrong signature.
#include "crypto/keys/rsa.h"

#include <string.h>

#include <string>
#include <vector>

#include "crypto/authenticate_switch.h"
#include "crypto/crypt.h"
#include "crypto/keys/asn1.h"
#include "runtime/memory.h"

struct RSA {
    ClassStruct Class;
    Montgomery *Modulus; // null without a key
    BigInt E;
    BigInt D;
    BigInt Input;
    BigInt Output;
    int32 HasPrivate;
    // CRT form, when the private key carried consistent values.
    Montgomery *PrimeP;
    Montgomery *PrimeQ;
    BigInt Q;
    BigInt DP;
    BigInt DQ;
    BigInt QInverse;
    // Blinding pair r^e and r^-1 mod n, valid while Blinded is set.
    BigInt BlindFactor;
    BigInt BlindInverse;
    int32 Blinded;
};

#define RSA_Check(Handle) Class_CheckHandle((Handle), RSA_CLASSID)

namespace {

constexpr int32 BlockSize = 1024; // the largest k: 8,192-bit moduli
constexpr int32 MinimumPadding = 8;
constexpr int32 BlindingDraws = 8;
constexpr char RsaEncryptionOid[] = "1.2.840.113549.1.1.1";

int32 DeleteThroughClass(void *HandleAddress) { return RSA_Delete(static_cast<RSA **>(HandleAddress)); }

// All the numbers of the object, for stacking, wiping and unstacking.
template <typename Function>
void ForEachNumber(RSA *Handle, Function Apply) {
    for (BigInt *Number : {&Handle->E, &Handle->D, &Handle->Input, &Handle->Output, &Handle->Q, &Handle->DP,
                           &Handle->DQ, &Handle->QInverse, &Handle->BlindFactor, &Handle->BlindInverse})
        Apply(Number);
}

void DropContext(Montgomery **Context) {
    if (*Context != nullptr) BigInt_MontgomeryDestroy(Context);
}

void Clear(RSA *Handle) {
    DropContext(&Handle->Modulus);
    DropContext(&Handle->PrimeP);
    DropContext(&Handle->PrimeQ);
    // Unstack wipes the words; the numbers are stacked again, empty.
    ForEachNumber(Handle, [](BigInt *Number) {
        BigInt_Unstack(Number);
        BigInt_Stack(Number);
    });
    Handle->HasPrivate = FALSE;
    Handle->Blinded = FALSE;
}

bool IsOdd(const BigInt *Number) { return BigInt_IsBitSet(Number, 0) == 1; }

bool ModulusAcceptable(const BigInt *N) {
    const int32 Bits = BigInt_BitCount(N);
    return BigInt_GetSign(N) > 0 && IsOdd(N) && Bits >= RSA_MIN_MODULUS_BITS && Bits <= RSA_MAX_MODULUS_BITS;
}

// e odd, 3 <= e < 2^64, and e < n when the modulus is known. Real keys use
// 65537 or 3; a longer e only makes every verification slower (an 8,191-bit
// e costs hundreds of times what 65537 does).
bool ExponentAcceptable(const BigInt *E, const BigInt *N) {
    const int32 Bits = BigInt_BitCount(E);
    if (BigInt_GetSign(E) <= 0 || !IsOdd(E) || Bits < 2 || Bits > RSA_MAX_PUBLIC_EXPONENT_BITS) return false;
    return N == nullptr || BigInt_Compare(E, N) < 0;
}

bool PrivateExponentAcceptable(const BigInt *D, const BigInt *N) {
    return BigInt_GetSign(D) > 0 && (N == nullptr || BigInt_Compare(D, N) < 0);
}

// The key's numbers as read from DER, before they are checked.
struct KeyNumbers {
    BigIntLocal N, E, D, P, Q, DP, DQ, QInverse;
    bool Private = false;
    bool Crt = false;
};

bool ReadInteger(ASN1 *Sequence, int32 Index, BigInt *Number) {
    return ASN1_ParseBigInt(ASN1_GetElement(Sequence, Index), Number) == 1;
}

int32 ElementCount(ASN1 *Node) {
    int32 Count = 0;
    ASN1_GetElementCount(Node, &Count);
    return Count;
}

// RSAPrivateKey: version, n, e, d, then p, q, d mod (p-1), d mod (q-1),
// q^-1 mod p.
bool ReadPrivateKey(ASN1 *Sequence, KeyNumbers &Key) {
    if (ASN1_GetType(Sequence) != ASN1_TYPE_SEQUENCE || ASN1_GetElement(Sequence, 0) == nullptr) return false;
    if (!ReadInteger(Sequence, 1, Key.N) || !ReadInteger(Sequence, 2, Key.E) || !ReadInteger(Sequence, 3, Key.D))
        return false;
    Key.Private = true;
    Key.Crt = ElementCount(Sequence) >= 9 && ReadInteger(Sequence, 4, Key.P) && ReadInteger(Sequence, 5, Key.Q) &&
              ReadInteger(Sequence, 6, Key.DP) && ReadInteger(Sequence, 7, Key.DQ) &&
              ReadInteger(Sequence, 8, Key.QInverse);
    return true;
}

// A PKCS#1 RSAPrivateKey, or a PKCS#8 PrivateKeyInfo (version, the
// rsaEncryption AlgorithmIdentifier, an OCTET STRING holding the former).
bool ParsePrivateKey(const void *Der, int32 Size, KeyNumbers &Key) {
    if (Der == nullptr || Size <= 0) return false;
    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    bool Parsed = false;
    if (ASN1_Decode(Root, Der, Size)) {
        ASN1 *Sequence = ASN1_GetElement(Root, 0);
        ASN1 *Identifier = ASN1_GetElement(Sequence, 1);
        if (ASN1_GetType(Identifier) == ASN1_TYPE_SEQUENCE) {
            char Oid[32];
            ASN1 *Octets = ASN1_GetElement(Sequence, 2);
            ASN1 *Inner = nullptr;
            ASN1_Create(&Inner);
            Parsed = ASN1_ParseOid(ASN1_GetElement(Identifier, 0), Oid, sizeof(Oid)) &&
                     strcmp(Oid, RsaEncryptionOid) == 0 && ASN1_GetType(Octets) == ASN1_TYPE_OCTETSTRING &&
                     ASN1_Decode(Inner, ASN1_GetValuePtr(Octets), ASN1_GetValueSize(Octets)) &&
                     ReadPrivateKey(ASN1_GetElement(Inner, 0), Key);
            ASN1_Delete(&Inner);
        } else {
            Parsed = ReadPrivateKey(Sequence, Key);
        }
    }
    ASN1_Delete(&Root);
    return Parsed;
}

// RSAPublicKey: n, e.
bool ParsePublicKey(const void *Der, int32 Size, KeyNumbers &Key) {
    if (Der == nullptr || Size <= 0) return false;
    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    ASN1 *Sequence = ASN1_Decode(Root, Der, Size) ? ASN1_GetElement(Root, 0) : nullptr;
    const bool Parsed = ASN1_GetType(Sequence) == ASN1_TYPE_SEQUENCE && ReadInteger(Sequence, 0, Key.N) &&
                        ReadInteger(Sequence, 1, Key.E);
    ASN1_Delete(&Root);
    return Parsed;
}

// The CRT values are used only when they fit together: n = p q, both odd,
// and each exponent and the inverse below its prime.
bool CrtConsistent(KeyNumbers &Key) {
    if (!Key.Crt) return false;
    BigIntLocal Product;
    for (BigInt *Number : {Key.P.get(), Key.Q.get()})
        if (BigInt_GetSign(Number) <= 0 || !IsOdd(Number) || BigInt_BitCount(Number) < 64) return false;
    BigInt_Multiply(Product, Key.P, Key.Q);
    return BigInt_Equal(Product, Key.N) && BigInt_GetSign(Key.DP) > 0 && BigInt_Compare(Key.DP, Key.P) < 0 &&
           BigInt_GetSign(Key.DQ) > 0 && BigInt_Compare(Key.DQ, Key.Q) < 0 && BigInt_GetSign(Key.QInverse) > 0 &&
           BigInt_Compare(Key.QInverse, Key.P) < 0;
}

// Checks the whole key, then replaces the object's key with it; a key that
// fails leaves the object empty.
int32 Install(RSA *Handle, KeyNumbers &Key, bool Parsed) {
    Clear(Handle);
    if (!Parsed || !ModulusAcceptable(Key.N) || !ExponentAcceptable(Key.E, Key.N)) return FALSE;
    if (Key.Private && !PrivateExponentAcceptable(Key.D, Key.N)) return FALSE;
    if (!BigInt_MontgomeryCreate(&Handle->Modulus, Key.N)) return FALSE;
    BigInt_Copy(&Handle->E, Key.E);
    if (Key.Private) {
        BigInt_Copy(&Handle->D, Key.D);
        Handle->HasPrivate = TRUE;
        if (CrtConsistent(Key) && BigInt_MontgomeryCreate(&Handle->PrimeP, Key.P) &&
            BigInt_MontgomeryCreate(&Handle->PrimeQ, Key.Q)) {
            BigInt_Copy(&Handle->Q, Key.Q);
            BigInt_Copy(&Handle->DP, Key.DP);
            BigInt_Copy(&Handle->DQ, Key.DQ);
            BigInt_Copy(&Handle->QInverse, Key.QInverse);
        } else {
            DropContext(&Handle->PrimeP);
            DropContext(&Handle->PrimeQ);
        }
    }
    return TRUE;
}

int32 ModulusBytes(RSA *Handle) {
    return Handle->Modulus ? BigInt_MontgomeryGetModuloByteCount(Handle->Modulus) : 0;
}

// A new blinding pair, or the old one squared.
bool RefreshBlinding(RSA *Handle, const BigInt *N) {
    if (Handle->Blinded) {
        BigIntLocal Next;
        BigInt_MontgomeryMultiply(Next, &Handle->BlindFactor, &Handle->BlindFactor, Handle->Modulus);
        BigInt_Copy(&Handle->BlindFactor, Next);
        BigInt_MontgomeryMultiply(Next, &Handle->BlindInverse, &Handle->BlindInverse, Handle->Modulus);
        BigInt_Copy(&Handle->BlindInverse, Next);
        return true;
    }
    BigIntLocal R, Inverse, Check;
    for (int32 Attempt = 0; Attempt < BlindingDraws; Attempt++) {
        if (!BigInt_ModuloRandom(R, N) || !BigInt_ModuloInverse(Inverse, R, N)) continue;
        BigInt_MontgomeryMultiply(Check, R, Inverse, Handle->Modulus);
        if (BigInt_BitCount(Check) != 1) continue; // r shares a factor with n
        BigInt_MontgomeryPower(&Handle->BlindFactor, R, &Handle->E, Handle->Modulus);
        BigInt_Copy(&Handle->BlindInverse, Inverse);
        Handle->Blinded = TRUE;
        return true;
    }
    return false;
}

// Raised = Blinded^d mod n, through the CRT when the key allows it.
bool RaiseToPrivate(RSA *Handle, const BigInt *Blinded, BigInt *Raised, bool UseCrt) {
    if (!UseCrt || Handle->PrimeP == nullptr)
        return BigInt_MontgomeryPowerSecret(Raised, Blinded, &Handle->D, Handle->Modulus) == 1;
    BigIntLocal P, S1, S2, Difference, H, Product;
    BigInt_MontgomeryGetModulo(Handle->PrimeP, P);
    if (!BigInt_MontgomeryPowerSecret(S1, Blinded, &Handle->DP, Handle->PrimeP) ||
        !BigInt_MontgomeryPowerSecret(S2, Blinded, &Handle->DQ, Handle->PrimeQ))
        return false;
    // h = qInv (s1 - s2) mod p, kept non-negative; s = s2 + h q.
    BigInt_Modulo(Difference, S2, P);
    BigInt_Subtract(Difference, P, Difference);
    BigInt_Add(Difference, Difference, S1);
    BigInt_MontgomeryMultiply(H, &Handle->QInverse, Difference, Handle->PrimeP);
    BigInt_Multiply(Product, H, &Handle->Q);
    BigInt_Add(Raised, Product, S2);
    return true;
}

// Output = Input^d mod n for Input < n, blinded, checked with e. A key whose
// CRT values are wrong is answered through d, as if it had none.
bool PrivateOperation(RSA *Handle, const BigInt *Input, BigInt *Output) {
    BigIntLocal N, Blinded, Raised, Check;
    BigInt_MontgomeryGetModulo(Handle->Modulus, N);
    if (!RefreshBlinding(Handle, N)) return false;
    BigInt_MontgomeryMultiply(Blinded, Input, &Handle->BlindFactor, Handle->Modulus);
    for (bool UseCrt : {true, false}) {
        if (!UseCrt && Handle->PrimeP == nullptr) break;
        if (!RaiseToPrivate(Handle, Blinded, Raised, UseCrt)) continue;
        BigInt_MontgomeryMultiply(Output, Raised, &Handle->BlindInverse, Handle->Modulus);
        BigInt_MontgomeryPower(Check, Output, &Handle->E, Handle->Modulus);
        if (BigInt_Equal(Check, Input)) return true;
    }
    // Nothing of a failed result leaves; the next use draws a new pair.
    BigInt_Reset(Output);
    Handle->Blinded = FALSE;
    return false;
}

// Hash OIDs by digest size, as the DER of the OID element.
struct DigestAlgorithm {
    int32 Size;
    const char *OidDer;
    int32 OidSize;
};
constexpr DigestAlgorithm DigestAlgorithms[] = {
    {16, "\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x02", 10},         // MD2
    {16, "\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x04", 10},         // MD4
    {16, "\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05", 10},         // MD5
    {20, "\x06\x05\x2b\x0e\x03\x02\x1a", 7},                      // SHA-1
    {28, "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x04", 11},     // SHA-224
    {32, "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01", 11},     // SHA-256
    {48, "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02", 11},     // SHA-384
    {64, "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03", 11},     // SHA-512
};

// DigestInfo { AlgorithmIdentifier { oid [, NULL] }, OCTET STRING digest }.
std::string DigestInfo(const DigestAlgorithm &Algorithm, bool Null, const uint8 *Digest, int32 Size) {
    std::string Identifier(Algorithm.OidDer, (size_t)Algorithm.OidSize);
    if (Null) Identifier += std::string("\x05\x00", 2);
    Identifier = "\x30" + std::string(1, (char)Identifier.size()) + Identifier;
    std::string Content = Identifier + "\x04" + std::string(1, (char)Size) +
                          std::string(reinterpret_cast<const char *>(Digest), (size_t)Size);
    return "\x30" + std::string(1, (char)Content.size()) + Content;
}

// 00 Type padding 00 payload in k bytes; Type 1 pads with FF.
void WriteBlock(uint8 *Block, int32 K, uint8 Type, const std::string &Payload) {
    const int32 Padding = K - 3 - (int32)Payload.size();
    Block[0] = 0;
    Block[1] = Type;
    memset(Block + 2, 0xff, (size_t)Padding);
    Block[2 + Padding] = 0;
    memcpy(Block + 3 + Padding, Payload.data(), Payload.size());
}

} // namespace

CLASS_DEFINE_REFERENCE(RSA, RSA, RSA_CLASSID)

namespace {

// The table's operations take the object as void *.
RSA *Of(void *Handle) { return static_cast<RSA *>(Handle); }
int32 SlotCreate(void **Handle) { return RSA_Create(reinterpret_cast<RSA **>(Handle)); }
int32 SlotDelete(void **Handle) { return RSA_Delete(reinterpret_cast<RSA **>(Handle)); }
int32 SlotInitParams(void *Handle, const char *Params) { return RSA_InitParams(Of(Handle), Params); }
int32 SlotHasPrivateKey(void *Handle) { return RSA_HasPrivateKey(Of(Handle)); }
int32 SlotSetPrivateKey(void *Handle, const void *Der, int32 Size) { return RSA_SetPrivateKey(Of(Handle), Der, Size); }
int32 SlotSetPublicKey(void *Handle, const void *Der, int32 Size) { return RSA_SetPublicKey(Of(Handle), Der, Size); }
int32 SlotSetPublicKeyPair(void *Handle, const BigInt *Exponent, const BigInt *Modulus) {
    return RSA_SetPublicKeyPair(Of(Handle), Exponent, Modulus);
}
int32 SlotEncrypt(void *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize, int32 *Written) {
    return RSA_PublicKeyEncrypt(Of(Handle), Data, Size, Output, OutputSize, Written);
}
int32 SlotSign(void *Handle, const void *Digest, int32 Size, void *Output, int32 OutputSize, int32 *Written) {
    return RSA_Sign(Of(Handle), Digest, Size, Output, OutputSize, Written);
}
int32 SlotVerify(void *Handle, const void *Digest, int32 Size, const void *Signature, int32 SignatureSize,
                 int32 Mode) {
    return RSA_Verify(Of(Handle), Digest, Size, Signature, SignatureSize, Mode);
}
int32 SlotReset(void *Handle) { return RSA_Reset(Of(Handle)); }

} // namespace

extern "C" const CryptAsymmetricInterface RSA_INTERFACE = {
    "RSA",        SlotCreate,  SlotDelete, SlotInitParams, SlotHasPrivateKey, SlotSetPrivateKey, SlotSetPublicKey,
    SlotSetPublicKeyPair, SlotEncrypt, SlotSign, SlotVerify, SlotReset,
};

int32 RSA_Create(RSA **Handle) {
    Debug_CheckPointer(Handle);
    RSA *Object = Memory_New(RSA);
    Class_InitHeader(Object, RSA_CLASSID, DeleteThroughClass);
    ForEachNumber(Object, [](BigInt *Number) { BigInt_Stack(Number); });
    *Handle = Object;
    return TRUE;
}

int32 RSA_Delete(RSA **Handle) {
    Debug_CheckPointer(Handle);
    RSA_Check(*Handle);
    Clear(*Handle);
    ForEachNumber(*Handle, [](BigInt *Number) { BigInt_Unstack(Number); });
    Memory_Delete(*Handle);
    return TRUE;
}

int32 RSA_InitParams(RSA *Handle, const char *Params) {
    RSA_Check(Handle);
    (void)Params;
    return TRUE;
}

int32 RSA_HasPrivateKey(RSA *Handle) {
    RSA_Check(Handle);
    return Handle->HasPrivate;
}

int32 RSA_SetPrivateKey(RSA *Handle, const void *Der, int32 Size) {
    RSA_Check(Handle);
    KeyNumbers Key;
    const bool Parsed = ParsePrivateKey(Der, Size, Key);
    return Install(Handle, Key, Parsed);
}

int32 RSA_SetPublicKey(RSA *Handle, const void *Der, int32 Size) {
    RSA_Check(Handle);
    KeyNumbers Key;
    const bool Parsed = ParsePublicKey(Der, Size, Key);
    return Install(Handle, Key, Parsed);
}

int32 RSA_SetPublicKeyPair(RSA *Handle, const BigInt *Exponent, const BigInt *Modulus) {
    RSA_Check(Handle);
    KeyNumbers Key;
    BigInt_Copy(Key.E, Exponent);
    BigInt_Copy(Key.N, Modulus);
    return Install(Handle, Key, true);
}

int32 RSA_SetModulusHandle(RSA *Handle, const BigInt *Modulus) {
    RSA_Check(Handle);
    if (!ModulusAcceptable(Modulus)) {
        Clear(Handle);
        return FALSE;
    }
    DropContext(&Handle->Modulus);
    DropContext(&Handle->PrimeP);
    DropContext(&Handle->PrimeQ);
    Handle->Blinded = FALSE;
    return BigInt_MontgomeryCreate(&Handle->Modulus, Modulus);
}

int32 RSA_SetPublicExponentHandle(RSA *Handle, const BigInt *Exponent) {
    RSA_Check(Handle);
    BigIntLocal N;
    if (Handle->Modulus) BigInt_MontgomeryGetModulo(Handle->Modulus, N);
    if (!ExponentAcceptable(Exponent, Handle->Modulus ? N.get() : nullptr)) {
        Clear(Handle);
        return FALSE;
    }
    Handle->Blinded = FALSE;
    return BigInt_Copy(&Handle->E, Exponent);
}

int32 RSA_SetPrivateExponentHandle(RSA *Handle, const BigInt *Exponent) {
    RSA_Check(Handle);
    BigIntLocal N;
    if (Handle->Modulus) BigInt_MontgomeryGetModulo(Handle->Modulus, N);
    if (!PrivateExponentAcceptable(Exponent, Handle->Modulus ? N.get() : nullptr)) {
        Clear(Handle);
        return FALSE;
    }
    DropContext(&Handle->PrimeP);
    DropContext(&Handle->PrimeQ);
    BigInt_Copy(&Handle->D, Exponent);
    Handle->HasPrivate = TRUE;
    return TRUE;
}

int32 RSA_GetModulusByteCount(RSA *Handle) {
    RSA_Check(Handle);
    return ModulusBytes(Handle);
}

int32 RSA_PublicKeyEncrypt(RSA *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize,
                           int32 *Written) {
    RSA_Check(Handle);
    if (Written != nullptr) *Written = 0;
    const int32 K = ModulusBytes(Handle);
    if (K == 0 || BigInt_IsZero(&Handle->E) || Size < 0 || Size > K - 3 - MinimumPadding || K >= OutputSize)
        return FALSE;
    if (Size > 0) Debug_CheckPointer(Data);
    Debug_CheckPointer(Output);
    uint8 *Block = static_cast<uint8 *>(Output);
    const int32 Padding = K - 3 - Size;
    memmove(Block + 3 + Padding, Data, (size_t)Size);
    Block[0] = 0;
    Block[1] = 2;
    Block[2 + Padding] = 0;
    // Zero bytes are drawn again, so the padding stays uniform.
    Memory_CryptFill(Block + 2, Padding);
    for (int32 At = 2; At < 2 + Padding; At++)
        while (Block[At] == 0) Memory_CryptFill(Block + At, 1);
    BigInt_ImportBinary(&Handle->Input, Block, K);
    BigInt_MontgomeryPower(&Handle->Output, &Handle->Input, &Handle->E, Handle->Modulus);
    BigInt_ExportBinaryFixedSize(&Handle->Output, Block, K);
    if (Written != nullptr) *Written = K;
    return TRUE;
}

int32 RSA_Sign(RSA *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize, int32 *Written) {
    RSA_Check(Handle);
    if (Written != nullptr) *Written = 0;
    const int32 K = ModulusBytes(Handle);
    if (K == 0 || !Handle->HasPrivate || DigestSize < 0 || DigestSize > K - 3 - MinimumPadding || K >= OutputSize)
        return FALSE;
    if (DigestSize > 0) Debug_CheckPointer(Digest);
    Debug_CheckPointer(Output);
    uint8 *Block = static_cast<uint8 *>(Output);
    WriteBlock(Block, K, 1, std::string(static_cast<const char *>(Digest), (size_t)DigestSize));
    BigInt_ImportBinary(&Handle->Input, Block, K);
    const bool Signed = PrivateOperation(Handle, &Handle->Input, &Handle->Output);
    if (!Signed) {
        explicit_bzero(Block, (size_t)K);
        return FALSE;
    }
    BigInt_ExportBinaryFixedSize(&Handle->Output, Block, K);
    if (Written != nullptr) *Written = K;
    return TRUE;
}

int32 RSA_Verify(RSA *Handle, const void *Digest, int32 DigestSize, const void *Signature, int32 SignatureSize,
                 int32 Mode) {
    RSA_Check(Handle);
    if (!Authenticate_Enabled()) return TRUE;
    const int32 K = ModulusBytes(Handle);
    if (K == 0 || BigInt_IsZero(&Handle->E)) return FALSE;
    Debug_Assert(DigestSize < BlockSize, "RSA digest overflow");
    // Exactly k bytes: a signature with its leading zero dropped (or one
    // more in front) is not the encoding PKCS#1 defines, and other
    // verifiers refuse it.
    if (DigestSize < 0 || Signature == nullptr || SignatureSize != K) return FALSE;
    if (DigestSize > 0) Debug_CheckPointer(Digest);
    BigIntLocal N;
    BigInt_MontgomeryGetModulo(Handle->Modulus, N);
    BigInt_ImportBinary(&Handle->Input, Signature, SignatureSize);
    if (BigInt_Compare(&Handle->Input, N) >= 0) return FALSE;
    BigInt_MontgomeryPower(&Handle->Output, &Handle->Input, &Handle->E, Handle->Modulus);
    uint8 Block[BlockSize], Expected[BlockSize];
    BigInt_ExportBinaryFixedSize(&Handle->Output, Block, K);
    const uint8 *Bytes = static_cast<const uint8 *>(Digest);
    std::vector<std::string> Payloads;
    if (Mode == RSA_SIGNATURE_VERSION_PCS15) {
        Payloads.emplace_back(reinterpret_cast<const char *>(Bytes), (size_t)DigestSize);
    } else {
        for (const DigestAlgorithm &Algorithm : DigestAlgorithms) {
            if (Algorithm.Size != DigestSize) continue;
            Payloads.push_back(DigestInfo(Algorithm, true, Bytes, DigestSize));
            Payloads.push_back(DigestInfo(Algorithm, false, Bytes, DigestSize));
        }
    }
    for (const std::string &Payload : Payloads) {
        if ((int32)Payload.size() > K - 3 - MinimumPadding) continue;
        WriteBlock(Expected, K, 1, Payload);
        if (Crypt_CompareConstantTime(Block, Expected, (uint32)K)) return TRUE;
    }
    return FALSE;
}

int32 RSA_PrivateKeyDecrypt(RSA *Handle, const void *Cipher, int32 Size, void *Output, int32 OutputSize,
                            int32 *Written) {
    RSA_Check(Handle);
    if (Written != nullptr) *Written = 0;
    const int32 K = ModulusBytes(Handle);
    if (K == 0 || !Handle->HasPrivate || Cipher == nullptr || Size != K) return FALSE;
    BigIntLocal N;
    BigInt_MontgomeryGetModulo(Handle->Modulus, N);
    BigInt_ImportBinary(&Handle->Input, Cipher, Size);
    if (BigInt_Compare(&Handle->Input, N) >= 0) return FALSE;
    if (!PrivateOperation(Handle, &Handle->Input, &Handle->Output)) return FALSE;
    uint8 Block[BlockSize];
    BigInt_ExportBinaryFixedSize(&Handle->Output, Block, K);
    // One pass over the whole block without branches on its bytes: the
    // first zero after the padding, and whether the form holds.
    uint32 Good = (uint32)(Block[0] == 0) & (uint32)(Block[1] == 2);
    uint32 Found = 0, Separator = 0;
    for (int32 At = 2; At < K; At++) {
        const uint32 IsZero = (uint32)(Block[At] == 0);
        const uint32 Take = IsZero & (Found ^ 1);
        Separator |= (uint32)At & (0 - Take);
        Found |= IsZero;
    }
    Good &= Found & (uint32)(Separator >= 2 + MinimumPadding);
    const int32 Length = K - (int32)Separator - 1;
    int32 Result = FALSE;
    if (Good && Length <= OutputSize) {
        if (Length > 0) memcpy(Output, Block + Separator + 1, (size_t)Length);
        if (Written != nullptr) *Written = Length;
        Result = TRUE;
    }
    explicit_bzero(Block, sizeof(Block));
    return Result;
}

int32 RSA_Reset(RSA *Handle) {
    RSA_Check(Handle);
    Clear(Handle);
    return TRUE;
}
