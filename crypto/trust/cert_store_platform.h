// CertStorePlatform: the operating system's trust evaluation as a store
// (Platform_AuthenticateCertificate: on Linux the anchors of the system's CA
// bundle, see crypto/trust/platform_trust.cpp). A certificate the evaluation
// denies outright raises the stop flag. A JWS header is trusted when the
// first certificate of its "x5c" list is trusted through this store. The
// platform call serialises itself: no lock here.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define CERTSTOREPLATFORM_CLASSID 0xffb0c947u

RUNTIME_EXTERN_C_BEGIN

typedef struct CertStorePlatform CertStorePlatform;

int32 CertStorePlatform_Create(CertStorePlatform **Handle);
int32 CertStorePlatform_Delete(CertStorePlatform **Handle);
CLASS_DECLARE_REFERENCE(CertStorePlatform, CertStorePlatform)
int32 CertStorePlatform_GetInterfaceHandle(CertStorePlatform *Handle, CertStoreInterface **Interface);

RUNTIME_EXTERN_C_END
