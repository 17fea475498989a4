// JWS claim checks: see jws_claims.h.
#include "crypto/trust/jws_claims.h"

#include <string.h>

#include <vector>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/time.h"

namespace {

// Guards the list record against a stray pointer, like a class id.
constexpr uint32 ClaimsCheck = 0xa2fcf945u;

struct Check {
    void *User;
    JWSClaims_ValidateFunc Function;
};

} // namespace

int32 JWSClaim_CountNamed(Dictionary *Payload, const char *Name) {
    Debug_CheckPointer(Name);
    int32 Count = 0;
    DictionaryItem *Item = nullptr;
    if (Payload == nullptr) return 0;
    for (Dictionary_ItemGetFirst(Payload, &Item); Item != nullptr; Dictionary_ItemGetNext(Payload, Item, &Item)) {
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(Payload, Item, &Key) && Key != nullptr && strcmp(Key, Name) == 0) Count++;
    }
    return Count;
}

struct JWSClaims {
    ClassStruct Class;
    uint32 Check;
    std::vector<::Check> Checks;
};

static int32 JWSClaims_DeleteObject(void *HandleAddress) {
    return JWSClaims_Delete(static_cast<JWSClaims **>(HandleAddress));
}

int32 JWSClaims_Create(JWSClaims **Handle) {
    Debug_CheckPointer(Handle);
    JWSClaims *Claims = new JWSClaims{};
    Class_InitHeader(Claims, JWSCLAIMS_CLASSID, JWSClaims_DeleteObject);
    Claims->Check = ClaimsCheck;
    *Handle = Claims;
    return TRUE;
}

int32 JWSClaims_Delete(JWSClaims **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, JWSCLAIMS_CLASSID);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(JWSClaims, JWSClaims, JWSCLAIMS_CLASSID)

int32 JWSClaims_Add(JWSClaims *Handle, void *User, JWSClaims_ValidateFunc Function) {
    Class_CheckHandle(Handle, JWSCLAIMS_CLASSID);
    Debug_CheckPointer(Function);
    Class_CheckTag(Handle, Check, ClaimsCheck);
    Handle->Checks.push_back({User, Function});
    return TRUE;
}

int32 JWSClaims_Validate(JWSClaims *Handle, Dictionary *Payload) {
    Class_CheckHandle(Handle, JWSCLAIMS_CLASSID);
    Class_CheckTag(Handle, Check, ClaimsCheck);
    for (const ::Check &Entry : Handle->Checks)
        if (!Entry.Function(Payload, Entry.User)) return FALSE;
    return TRUE;
}

int32 JWSClaim_Exp(Dictionary *Payload, void *User) {
    float64 Expires = 0;
    int32 Type = 0;
    if (Payload == nullptr || !Dictionary_GetTypeByKey(Payload, "exp", &Type)) return (int32)(intptr_t)User;
    // Named twice, readers disagree on which one counts (this one would
    // take the first, most others the last): honoured neither way.
    if (JWSClaim_CountNamed(Payload, "exp") > 1) return FALSE;
    // A claim that is present but not a number cannot be honoured.
    if (!Dictionary_GetFloat64ByKey(Payload, "exp", &Expires)) return FALSE;
    const float64 Now = Time_GetCurrentEncodedGMT(nullptr);
    if (Now >= Expires) {
        Log_Debug("JWS claim exp failed validation (%.0f >= %.0f)\n", Now, Expires);
        return FALSE;
    }
    return TRUE;
}

int32 JWSClaim_Nbf(Dictionary *Payload, void *User) {
    float64 NotBefore = 0;
    int32 Type = 0;
    if (Payload == nullptr || !Dictionary_GetTypeByKey(Payload, "nbf", &Type)) return (int32)(intptr_t)User;
    // Named twice, readers disagree on which one counts (this one would
    // take the first, most others the last): honoured neither way.
    if (JWSClaim_CountNamed(Payload, "nbf") > 1) return FALSE;
    // A claim that is present but not a number cannot be honoured.
    if (!Dictionary_GetFloat64ByKey(Payload, "nbf", &NotBefore)) return FALSE;
    const float64 Now = Time_GetCurrentEncodedGMT(nullptr);
    if (NotBefore > Now) {
        Log_Debug("JWS claim nbf failed validation (%.0f < %.0f)\n", Now, NotBefore);
        return FALSE;
    }
    return TRUE;
}
