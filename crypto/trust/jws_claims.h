// JWSClaims: an ordered list of checks a verified JWS payload must pass
// (JWS_Decode runs them), and the two built-in checks of the registered
// time claims "exp" and "nbf". A check answers non-zero to pass.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define JWSCLAIMS_CLASSID 0xc5e50a47u

RUNTIME_EXTERN_C_BEGIN

typedef struct JWSClaims JWSClaims;
typedef int32 (*JWSClaims_ValidateFunc)(Dictionary *Payload, void *User);

int32 JWSClaims_Create(JWSClaims **Handle);
int32 JWSClaims_Delete(JWSClaims **Handle);
CLASS_DECLARE_REFERENCE(JWSClaims, JWSClaims)
int32 JWSClaims_Add(JWSClaims *Handle, void *User, JWSClaims_ValidateFunc Function);
// Runs the checks in the order added: 0 at the first that fails, else 1.
int32 JWSClaims_Validate(JWSClaims *Handle, Dictionary *Payload);

// The built-in checks answer their user value when their claim is absent,
// so a caller passing 1 lets documents without the claim through. "exp"
// fails from its second on; "nbf" fails while it lies in the future. A
// claim that is not a number, or is named twice, fails.
int32 JWSClaim_Exp(Dictionary *Payload, void *User);
int32 JWSClaim_Nbf(Dictionary *Payload, void *User);
// How many members of the payload (null: none) have the name, with case.
int32 JWSClaim_CountNamed(Dictionary *Payload, const char *Name);

RUNTIME_EXTERN_C_END
