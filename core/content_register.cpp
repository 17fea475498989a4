// The content modules' registrations with the layers below. See
// content_register.h.
#include "core/content_register.h"

#include "core/crypto/authenticate.h"
#include "core/debug.h"
#include "core/executable.h"
#include "core/formats/app_bundle.h"
#include "core/platform_script.h"
#include "core/posix/platform.h"
#include "core/string_expand.h"

int32 Content_Register(void) {
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_EXECUTABLE, Executable_ExpandKey);
    Debug_SetModuleValueReader(Executable_GetInfoValue);
    Authenticate_SetSignatureCheck(Executable_Authenticate);
    Platform_SetDataStoreReader(Executable_GetDataStore, Executable_ReleaseDataStore);
    Platform_SetBundleResolver(AppBundle_GetExecutablePath);
    return TRUE;
}
