// The content modules' registrations with the layers below. See
// content_register.h.
#include "content/content_register.h"

#include "content/app_bundle.h"
#include "content/executable.h"
#include "crypto/trust/authenticate.h"
#include "platform/platform_script.h"
#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string_expand.h"

int32 Content_Register(void) {
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_EXECUTABLE, Executable_ExpandKey);
    Debug_SetModuleValueReader(Executable_GetInfoValue);
    Authenticate_SetSignatureCheck(Executable_Authenticate);
    Platform_SetDataStoreReader(Executable_GetDataStore, Executable_ReleaseDataStore);
    Platform_SetBundleResolver(AppBundle_GetExecutablePath);
    return TRUE;
}
