// Dispatcher of "TQX.Platform": see platform_script.h.
#include "platform/platform_script.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "crypto/trust/authenticate.h"
#include "platform/posix/platform_credential.h"
#include "platform/posix/platform_process_session.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_process.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

// The executable module's data-store reader (Platform_SetDataStoreReader).
Platform_DataStoreFunc DataStoreRead = nullptr;
Platform_DataStoreFunc DataStoreRelease = nullptr;

constexpr const char *ClassName = "Platform";
constexpr int32 Size = APIGEN_TEXT_SIZE;

// The environment is handed whole to every program the host starts, which
// the system refuses past a few MiB: a page grows it to at most this.
constexpr size_t EnvironmentLimit = 1u << 20;
constexpr char EnvironmentLimitText[] = "1 MiB";
bool ToldEnvironment = false;

size_t EnvironmentSize() {
    size_t Total = 0;
    for (char **Entry = environ; Entry != nullptr && *Entry != nullptr; Entry++) Total += strlen(*Entry) + 1;
    return Total;
}

// A page's variable, refused (said once) when it would take the environment
// past the limit; one that shrinks it or keeps its size is set.
int32 SetPageVariable(const char *Name, const char *Value) {
    const char *Old = getenv(Name);
    const size_t Before = EnvironmentSize();
    const size_t After = Before + strlen(Name) + strlen(Value) + 2 -
                         (Old != nullptr ? strlen(Name) + strlen(Old) + 2 : 0);
    if (After > EnvironmentLimit && After > Before) {
        if (!ToldEnvironment)
            Log_Warning("Platform - Environment variable refused - %.64s: the environment a page sets is bounded to "
                        "%s (later refusals are not logged)\n",
                        Name, EnvironmentLimitText);
        ToldEnvironment = true;
        return FALSE;
    }
    return Platform_SetEnvironmentVariable(Name, Value);
}

// What does not fit the typed "returnValue": the account and password a
// credential look-up answers beside it (written for every credential read,
// found or not), and a data store's Base64 text, which may exceed the text
// buffer.
struct ExtraAnswer {
    bool Credential = false;
    char User[APIGEN_TEXT_SIZE] = "";
    char Password[APIGEN_TEXT_SIZE] = "";
    bool Store = false;
    std::string Encoded;

    void Write(Dictionary *Result) const {
        if (Store) Dictionary_SetStringByKey(Result, "returnValue", Encoded.c_str());
        if (!Credential) return;
        Dictionary_SetStringByKey(Result, "username", User);
        Dictionary_SetStringByKey(Result, "password", Password);
    }
};

// The store of the file at Path (null: the running program) in Base64; the
// answer stays Null when there is none.
bool DataStore(const char *Path, ApiGenAnswer &Out, ExtraAnswer &Extra) {
    char *Text = nullptr;
    int32 Length = 0;
    Platform_DataStoreFunc Read = __atomic_load_n(&DataStoreRead, __ATOMIC_ACQUIRE);
    Platform_DataStoreFunc Release = __atomic_load_n(&DataStoreRelease, __ATOMIC_ACQUIRE);
    if (Read == nullptr || Release == nullptr || !Read(Path, &Text, &Length)) return true;
    char *Encoded = nullptr;
    int32 EncodedSize = 0;
    if (Length == 0 || ApiGen_CreateBase64EncodedBuffer(Text, Length, &Encoded, &EncodedSize)) {
        Out.Type = ApiGenAnswer::None;
        Extra.Store = true;
        Extra.Encoded = Encoded != nullptr ? Encoded : "";
    }
    ApiGen_DeleteBase64EncodedBuffer(&Encoded, &EncodedSize);
    Release(Path, &Text, &Length);
    return true;
}

// A fact that fills a text buffer, answered as text.
bool Fact(ApiGenAnswer &Out, int32 (*Read)(char *, int32)) {
    Out.Type = ApiGenAnswer::Text;
    Read(Out.Buffer, Size);
    return true;
}

bool Dispatch(uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out, ExtraAnswer &Extra) {
    const char *A, *B, *C, *D, *E, *F;
    uint32 Flag;
    int32 Number, Other;
    float64 Real;
    char *Buffer = Out.Buffer;
    switch (Hash) {
    case Crc32Const("getName"):
        Out.Type = ApiGenAnswer::Text;
        Platform_GetName(Buffer, Size);
        return true;
    case Crc32Const("getShortName"): return Fact(Out, Platform_GetShortName);
    case Crc32Const("getSystemTheme"): return Fact(Out, Platform_GetSystemTheme);
    case Crc32Const("getUserName"): return Fact(Out, Platform_GetUserName);
    case Crc32Const("getUserLanguage"): return Fact(Out, Platform_GetUserLang);
    case Crc32Const("getUserCountry"): return Fact(Out, Platform_GetUserCountry);
    case Crc32Const("getBitness"):
        Out.Type = ApiGenAnswer::Int32;
        Platform_GetSystemBitness(&Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getEnvironmentVariable"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("name", &A).Read) Platform_GetEnvironmentVariable(A, Buffer, Size);
        return true;
    case Crc32Const("setEnvironmentVariable"):
        if (Get.Text("name", &A).Text("value", &B).Read) Out.Number = SetPageVariable(A, B);
        return true;
    case Crc32Const("translateError"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("error", &Number).Read) String_CopyLength(Buffer, Platform_TranslateError(Number), Size);
        return true;
    case Crc32Const("timeToRFC1123"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Float64("date", &Real).Read) Time_EncodedString(TIME_FORMAT_HTTP, Buffer, Size, Real);
        return true;
    case Crc32Const("access"):
        if (Get.Text("path", &A).Int32("permissions", &Number).Flag("recurse", &Flag).Read)
            Out.Number = Platform_Access(A, Number, (int32)Flag);
        return true;
    case Crc32Const("getProcessPath"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("id", &Number).Read) Platform_ProcessGetPathById(Number, Buffer, Size);
        return true;
    case Crc32Const("findProcess"):
        Out.Type = ApiGenAnswer::Int32;
        if (Get.Text("path", &A).Read) {
            Platform_FindProcess(A, &Number);
            Out.Number = Number;
        }
        return true;
    case Crc32Const("findWindow"):
        if (Get.Text("caption", &A).Text("className", &B).Flag("searchOnlyVisible", &Flag).Read)
            Out.Number = Platform_FindWindow(A, B, (int32)Flag, nullptr);
        return true;
    case Crc32Const("shellOpen"):
        if (Get.Text("path", &A).Read) Out.Number = Platform_ShellOpen(A);
        return true;
    case Crc32Const("preventSystemSleep"):
        if (Get.Flag("prevent", &Flag).Read) Out.Number = Platform_PreventSystemSleep((int32)Flag);
        return true;
    case Crc32Const("reboot"): Out.Number = Platform_Reboot(); return true;
    case Crc32Const("createShortcut"):
        if (Get.Text("executable", &A).Text("parameter", &B).Int32("iconId", &Number).Text("location", &C)
                .Text("description", &D).Text("iconLocation", &E).Int32("flags", &Other).Read)
            Out.Number = Platform_CreateShortcut(A, B, Number, C, D, E, Other);
        return true;
    case Crc32Const("removeShortcut"):
        if (Get.Text("location", &A).Text("description", &B).Read) Out.Number = Platform_RemoveShortcut(A, B);
        return true;
    case Crc32Const("getCredential"):
        Extra.Credential = true;
        if (Get.Text("target", &A).Read)
            Out.Number = Platform_GetCredential(A, Extra.User, Size, Extra.Password, Size);
        return true;
    case Crc32Const("setCredential"):
        if (Get.Text("target", &A).Text("username", &B).Text("password", &C).Read)
            Out.Number = Platform_SetCredential(A, B, C);
        return true;
    case Crc32Const("removeCredential"):
        if (Get.Text("target", &A).Read) Out.Number = Platform_SetCredential(A, nullptr, nullptr);
        return true;
    case Crc32Const("getWebCredential"):
        Extra.Credential = true;
        if (Get.Int32("accessType", &Number).Text("host", &A).Text("realm", &B).Read)
            Out.Number = Platform_GetWebCredential(Number, A, B, Extra.User, Size, Extra.Password, Size);
        return true;
    case Crc32Const("setWebCredential"):
        if (Get.Int32("accessType", &Number).Text("host", &A).Text("realm", &B).Text("username", &C)
                .Text("password", &D).Read)
            Out.Number = Platform_SetWebCredential(Number, A, B, C, D);
        return true;
    case Crc32Const("removeWebCredential"):
        if (Get.Int32("accessType", &Number).Text("host", &A).Text("realm", &B).Read)
            Out.Number = Platform_SetWebCredential(Number, A, B, nullptr, nullptr);
        return true;
    case Crc32Const("getDataStore"): Out.Type = ApiGenAnswer::Null; return DataStore(nullptr, Out, Extra);
    case Crc32Const("getFileDataStore"):
        Out.Type = ApiGenAnswer::Null;
        return Get.Text("path", &A).Read ? DataStore(A, Out, Extra) : true;
    case Crc32Const("authenticateX509"):
        if (Get.Text("certStoreName", &A).Text("path", &F).Read) Out.Number = Authenticate_ValidateX509Interop(A, F);
        return true;
    default: return false;
    }
}

} // namespace

extern "C" int32 Platform_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    // Its methods may answer more than "returnValue" (credentials, stores).
    const char *Method = nullptr;
    uint32 Hash = 0;
    if (!ApiGen_GetMethod(Request, ClassName, &Method, &Hash)) return FALSE;
    ApiGenParameters Get{Request, ClassName, Method};
    ApiGenAnswer Out;
    ExtraAnswer Extra;
    if (!Dispatch(Hash, Get, Out, Extra)) return FALSE;
    Out.Write(Result);
    Extra.Write(Result);
    return Get.Read ? TRUE : FALSE;
}

int32 Platform_SetDataStoreReader(Platform_DataStoreFunc Read, Platform_DataStoreFunc Release) {
    // Every start-up sets the same functions again: only a change is written.
    if (__atomic_load_n(&DataStoreRead, __ATOMIC_ACQUIRE) != Read) __atomic_store_n(&DataStoreRead, Read, __ATOMIC_RELEASE);
    if (__atomic_load_n(&DataStoreRelease, __ATOMIC_ACQUIRE) != Release)
        __atomic_store_n(&DataStoreRelease, Release, __ATOMIC_RELEASE);
    return TRUE;
}
