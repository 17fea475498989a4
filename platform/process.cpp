// Process: see process.h.
#include "platform/process.h"

#include <string.h>
#include <unistd.h>

#include "crypto/crypt.h"
#include "crypto/digests/hash_file.h"
#include "crypto/digests/sha1.h"
#include "crypto/trust/authenticate.h"
#include "crypto/trust/authenticate_async.h"
#include "platform/pipe.h"
#include "runtime/files/path.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform_process.h"
#include "runtime/posix/platform_spawn.h"
#include "runtime/posix/trusted_path.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

struct Process {
    ClassStruct Class;
    ClassPrintStruct Print;
    HashFile *HashRequest;
    AuthenticateAsync *AuthenticateRequest;
    Pipe *Streams[3];
    char SHA1[PROCESS_PATH_SIZE];
    char SHA1Target[PROCESS_PATH_SIZE];
    char AuthenticateTarget[PROCESS_PATH_SIZE];
    char ApplicationName[PROCESS_PATH_SIZE];
    char Arguments[PROCESS_ARGUMENTS_SIZE];
    char WorkingDirectory[PROCESS_PATH_SIZE];
    uint32 ShowWindow;
    uint32 ElevationRights;
    PlatformProcess *Platform;
    uint32 Ready;
    uint32 State;
    float64 StartTime;
    float64 EndTime;
    int32 ExitCode;
    uint32 Exited; // ExitCode holds the last launch's
    int32 Checked;  // the file the digest reads, open from its check to the start, else -1
    uint32 RunsChecked; // the checked file is the program: it runs through Checked
};

#define Process_Check(Handle) Class_CheckHandle((Handle), PROCESS_CLASSID)

namespace {

constexpr float64 ReadyAfterSeconds = 0.25;
enum StreamIndex { StandardInput, StandardOutput, StandardError };

int32 DeleteThroughClass(void *HandleAddress) { return Process_Delete(static_cast<Process **>(HandleAddress)); }

const char *Id(Process *Handle) { return Handle->Class.InstanceId; }

void CloseChecked(Process *Handle) {
    if (Handle->Checked >= 0) close(Handle->Checked);
    Handle->Checked = -1;
    Handle->RunsChecked = 0;
}

void Fail(Process *Handle) {
    CloseChecked(Handle);
    Handle->EndTime = Time_GetCurrent();
    Handle->State = PROCESS_STATE_IDLE;
    NotificationCenter_FireWithJSON("Process", "Complete", Id(Handle), "{\"successful\":false,\"exitCode\":0}");
}

void ReleasePlatform(Process *Handle) {
    if (Handle->Platform != nullptr) Platform_ProcessDelete(&Handle->Platform);
}

int32 StartProgram(Process *Handle) {
    char Application[1024], Directory[1024] = "";
    String_CopyLength(Application, Handle->ApplicationName, (int32)sizeof(Application));
    String_StripChar(Application, '"');
    if (Handle->WorkingDirectory[0] != 0) {
        String_CopyLength(Directory, Handle->WorkingDirectory, (int32)sizeof(Directory));
        String_StripChar(Directory, '"');
    }
    PlatformPipe *Standard[3] = {};
    for (int Index = 0; Index < 3; Index++) {
        Pipe *Stream = Handle->Streams[Index];
        if (Stream == nullptr) continue;
        if (!Pipe_IsOpen(Stream)) Pipe_Start(Stream);
        Pipe_GetStandardHandle(Stream, &Standard[Index]);
    }
    ReleasePlatform(Handle);
    const int32 Program = Handle->RunsChecked ? Handle->Checked : -1;
    const int32 Started = Platform_ExecuteLine(Program, Application, Handle->Arguments, Directory,
                                               Process_GetLaunchFlags(Handle), Standard[0], Standard[1], Standard[2],
                                               &Handle->Platform);
    CloseChecked(Handle);
    if (!Started) {
        Fail(Handle);
        return FALSE;
    }
    Handle->StartTime = Time_GetCurrent();
    Handle->State = PROCESS_STATE_RUNNING;
    return TRUE;
}

void StartAuthentication(Process *Handle) {
    Handle->State = PROCESS_STATE_AUTHENTICATE;
    AuthenticateAsync_SetSourcePath(Handle->AuthenticateRequest, Handle->AuthenticateTarget);
    // A thread that cannot be made has completed (and failed the launch) inside.
    AuthenticateAsync_Start(Handle->AuthenticateRequest);
}

int32 AuthenticationComplete(AuthenticateAsync *Request, void *User, int32 Result) {
    Process *Handle = static_cast<Process *>(User);
    if (Handle->State != PROCESS_STATE_AUTHENTICATE) return TRUE;
    if (Result != TRUE) {
        char Path[PROCESS_PATH_SIZE] = "";
        AuthenticateAsync_GetSourcePath(Request, Path, (int32)sizeof(Path));
        Process_Print(Handle, "Authentication failed (%s)", Path);
        Fail(Handle);
        return TRUE;
    }
    StartProgram(Handle);
    return TRUE;
}

int32 DigestComplete(HashFile *Request, void *User, int32 Result) {
    Process *Handle = static_cast<Process *>(User);
    // A launch that was refused or ended meanwhile does not go on.
    if (Handle->State != PROCESS_STATE_DIGEST) return TRUE;
    const char *Path = Handle->SHA1Target[0] != 0 ? Handle->SHA1Target : Handle->ApplicationName;
    if (Result != TRUE) {
        Fail(Handle);
        return TRUE;
    }
    char Actual[64] = "", Expected[PROCESS_PATH_SIZE];
    HashFile_GetString(Request, 0, Actual, (int32)sizeof(Actual));
    String_CopyLength(Expected, Handle->SHA1, (int32)sizeof(Expected));
    for (char *At = Expected; *At != 0; At++)
        if (*At >= 'A' && *At <= 'F') *At = (char)(*At - 'A' + 'a');
    const size_t Length = strlen(Actual);
    const bool Equal = Length > 0 && strlen(Expected) == Length &&
                       Crypt_CompareConstantTime(Actual, Expected, (uint32)Length) == TRUE;
    if (!Equal) {
        Process_Print(Handle, "SHA1 failed (%s) Expected (%s) Actual (%s)", Path, Handle->SHA1, Actual);
        Fail(Handle);
        return TRUE;
    }
    if (Handle->AuthenticateTarget[0] != 0)
        StartAuthentication(Handle);
    else
        StartProgram(Handle);
    return TRUE;
}

// The file to digest is opened once through the trusted-path walk (root's
// or the user's, in folders no one else may write) and read through that
// descriptor; when it is the program itself, that same descriptor is what
// runs, so a file swapped at its name after the check never does.
int32 StartDigest(Process *Handle) {
    const bool Own = Handle->SHA1Target[0] == 0 || strcmp(Handle->SHA1Target, Handle->ApplicationName) == 0;
    char Target[PROCESS_PATH_SIZE], Resolved[1024], Why[TRUSTEDPATH_WHERE_SIZE + 80];
    String_CopyLength(Target, Own ? Handle->ApplicationName : Handle->SHA1Target, (int32)sizeof(Target));
    String_StripChar(Target, '"');
    Path_Resolve(Target, Resolved, (int32)sizeof(Resolved));
    CloseChecked(Handle);
    TrustedPathRefusal Refusal;
    if (!TrustedPath_Open(Resolved, TRUSTEDPATH_FILE, &Handle->Checked, &Refusal)) {
        TrustedPath_Explain(&Refusal, TRUSTEDPATH_FILE, Why, (int32)sizeof(Why));
        Process_Print(Handle, "SHA1 refused (%s): %s", Target, Why);
        Fail(Handle);
        return FALSE;
    }
    Handle->RunsChecked = Own ? 1 : 0;
    Handle->State = PROCESS_STATE_DIGEST;
    char Through[40];
    String_Print(Through, (int32)sizeof(Through), "/proc/self/fd/%d", Handle->Checked);
    HashFile_Reset(Handle->HashRequest);
    HashFile_SetPath(Handle->HashRequest, Through);
    HashFile_Start(Handle->HashRequest);
    return TRUE;
}

int32 SetStream(Process *Handle, int Index, Dictionary *Value) {
    Process_Check(Handle);
    const char *Text = nullptr;
    if (Value == nullptr || !Dictionary_GetStringPtrByKey(Value, "instanceId", &Text) || Text == nullptr ||
        *Text == 0) {
        if (Handle->Streams[Index] != nullptr) Pipe_Release(&Handle->Streams[Index]);
        return TRUE;
    }
    void *Object = Class_ConvertFromInstanceId(Text);
    if (!Pipe_ValidHandle(Object)) return FALSE;
    Pipe *Found = static_cast<Pipe *>(Object);
    Pipe_AddRef(Found);
    if (Handle->Streams[Index] != nullptr) Pipe_Release(&Handle->Streams[Index]);
    Handle->Streams[Index] = Found;
    Pipe_SetIsIn(Found, Index == StandardInput ? 0 : 1);
    return TRUE;
}

int32 GetStream(Process *Handle, int Index, Dictionary *Value) {
    Process_Check(Handle);
    Debug_CheckPointer(Value);
    if (Handle->Streams[Index] == nullptr) return TRUE;
    char Text[40] = "";
    Pipe_GetInstanceId(Handle->Streams[Index], Text, (int32)sizeof(Text));
    return Dictionary_SetStringByKey(Value, "instanceId", Text);
}

} // namespace

const char *const Process_RightsStringTable[PROCESS_RIGHTS_COUNT] = {"User", "Elevated", "AsInvoker"};

CLASS_DEFINE_REFERENCE(Process, Process, PROCESS_CLASSID)
CLASSPRINT_DEFINE(Process, Process, PROCESS_CLASSID, "Process", Print)

int32 Process_VerboseLog(Process *Handle, const char *Format, ...) {
    Process_Check(Handle);
    if (!Process_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Process_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Process_Create(Process **Handle) {
    Debug_CheckPointer(Handle);
    Process *Object = Memory_New(Process);
    Class_InitHeader(Object, PROCESS_CLASSID, DeleteThroughClass);
    Class_GenerateInstanceId(Object);
    HashFile_Create(&Object->HashRequest);
    HashFile_SetInterface(Object->HashRequest, &SHA1_INTERFACE);
    HashFile_SetCompleteCallback(Object->HashRequest, Object, DigestComplete);
    AuthenticateAsync_Create(&Object->AuthenticateRequest);
    CertStoreInterface *Store = Authenticate_CertStoreGet("app");
    AuthenticateAsync_SetCertStoreHandle(Object->AuthenticateRequest, Store);
    Authenticate_CertStoreRelease(&Store);
    AuthenticateAsync_SetCompleteCallback(Object->AuthenticateRequest, Object, AuthenticationComplete);
    Object->ShowWindow = 1;
    Object->Checked = -1;
    *Handle = Object;
    return TRUE;
}

int32 Process_Delete(Process **Handle) {
    Debug_CheckPointer(Handle);
    Process *Object = *Handle;
    Process_Check(Object);
    // The child is not stopped; it is collected once it ends.
    ReleasePlatform(Object);
    CloseChecked(Object);
    for (Pipe *&Stream : Object->Streams)
        if (Stream != nullptr) Pipe_Release(&Stream);
    HashFile_Release(&Object->HashRequest);
    // A check still running keeps its request; it no longer calls back here.
    AuthenticateAsync_SetCompleteCallback(Object->AuthenticateRequest, nullptr, nullptr);
    AuthenticateAsync_Delete(&Object->AuthenticateRequest);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 Process_SetCertStoreHandle(Process *Handle, CertStoreInterface *Store) {
    Process_Check(Handle);
    return AuthenticateAsync_SetCertStoreHandle(Handle->AuthenticateRequest, Store);
}

#define PROCESS_DEFINE_TEXT(Field)                                                        \
    int32 Process_Set##Field(Process *Handle, const char *Text) {                         \
        Process_Check(Handle);                                                            \
        String_CopyLength(Handle->Field, Text != nullptr ? Text : "", (int32)sizeof(Handle->Field)); \
        return TRUE;                                                                      \
    }                                                                                     \
    int32 Process_Get##Field(Process *Handle, char *Output, int32 Length) {               \
        Process_Check(Handle);                                                            \
        Debug_CheckPointer(Output);                                                       \
        String_CopyLength(Output, Handle->Field, Length);                                 \
        return TRUE;                                                                      \
    }                                                                                     \
    int32 Process_Get##Field##Ptr(Process *Handle, const char **Text) {                   \
        Process_Check(Handle);                                                            \
        Debug_CheckPointer(Text);                                                         \
        *Text = Handle->Field;                                                            \
        return TRUE;                                                                      \
    }
PROCESS_DEFINE_TEXT(ApplicationName)
PROCESS_DEFINE_TEXT(Arguments)
PROCESS_DEFINE_TEXT(WorkingDirectory)
PROCESS_DEFINE_TEXT(SHA1)
PROCESS_DEFINE_TEXT(SHA1Target)
PROCESS_DEFINE_TEXT(AuthenticateTarget)

int32 Process_SetShowWindow(Process *Handle, uint32 Show) {
    Process_Check(Handle);
    Handle->ShowWindow = Show;
    return TRUE;
}

int32 Process_GetShowWindow(Process *Handle, uint32 *Show) {
    Process_Check(Handle);
    Debug_CheckPointer(Show);
    *Show = Handle->ShowWindow;
    return TRUE;
}

int32 Process_SetElevationRights(Process *Handle, uint32 Rights) {
    Process_Check(Handle);
    Handle->ElevationRights = Rights;
    return TRUE;
}

int32 Process_GetElevationRights(Process *Handle, uint32 *Rights) {
    Process_Check(Handle);
    Debug_CheckPointer(Rights);
    *Rights = Handle->ElevationRights;
    return TRUE;
}

int32 Process_GetShortApplicationName(Process *Handle, char *Output, int32 Length) {
    Process_Check(Handle);
    Debug_CheckPointer(Output);
    if (!Path_ParseFilename(Handle->ApplicationName, Output, Length))
        String_CopyLength(Output, Handle->ApplicationName, Length);
    return TRUE;
}

int32 Process_GetRunningTime(Process *Handle, float64 *Seconds) {
    Process_Check(Handle);
    Debug_CheckPointer(Seconds);
    const float64 End = Handle->EndTime > 0 ? Handle->EndTime : Time_GetCurrent();
    *Seconds = End - Handle->StartTime;
    return TRUE;
}

int32 Process_GetId(Process *Handle, int32 *Id) {
    Process_Check(Handle);
    Debug_CheckPointer(Id);
    *Id = Handle->Platform != nullptr ? Platform_ProcessGetId(Handle->Platform) : 0;
    return TRUE;
}

int32 Process_GetState(Process *Handle, uint32 *State) {
    Process_Check(Handle);
    Debug_CheckPointer(State);
    *State = Handle->State;
    return TRUE;
}

int32 Process_SetStdin(Process *Handle, Dictionary *Value) { return SetStream(Handle, StandardInput, Value); }
int32 Process_SetStdout(Process *Handle, Dictionary *Value) { return SetStream(Handle, StandardOutput, Value); }
int32 Process_SetStderr(Process *Handle, Dictionary *Value) { return SetStream(Handle, StandardError, Value); }
int32 Process_GetStdin(Process *Handle, Dictionary *Value) { return GetStream(Handle, StandardInput, Value); }
int32 Process_GetStdout(Process *Handle, Dictionary *Value) { return GetStream(Handle, StandardOutput, Value); }
int32 Process_GetStderr(Process *Handle, Dictionary *Value) { return GetStream(Handle, StandardError, Value); }

const char *Process_TranslateRights(uint32 Rights) {
    return Process_RightsStringTable[Rights < PROCESS_RIGHTS_COUNT ? Rights : 0];
}

uint32 Process_TranslateRightsString(const char *Name) {
    if (Name == nullptr) return 0;
    for (uint32 Index = 0; Index < PROCESS_RIGHTS_COUNT; Index++)
        if (String_CompareWithoutCase(Name, Process_RightsStringTable[Index])) return Index;
    return 0;
}

int32 Process_GetLaunchFlags(Process *Handle) {
    Process_Check(Handle);
    int32 Flags = 0;
    if (Handle->ElevationRights == PROCESS_RIGHTS_ELEVATED) Flags |= PLATFORM_EXECUTE_ELEVATED;
    if (Handle->ElevationRights == PROCESS_RIGHTS_ASINVOKER) Flags |= PLATFORM_EXECUTE_ASINVOKER;
    if (Handle->ShowWindow == 0) Flags |= PLATFORM_EXECUTE_HIDDEN;
    return Flags;
}

int32 Process_Launch(Process *Handle) {
    Process_Check(Handle);
    Handle->StartTime = Time_GetCurrent();
    Handle->EndTime = 0;
    Handle->Ready = 0;
    Handle->Exited = 0;
    NotificationCenter_Fire("Process", "Start", Id(Handle), nullptr);
    if (Handle->State != PROCESS_STATE_IDLE) {
        Process_Print(Handle, "Application already launched, waiting for exit");
        // The earlier child is no longer watched, but it is still collected.
        ReleasePlatform(Handle);
        Fail(Handle);
        return FALSE;
    }
    if (Handle->ApplicationName[0] == 0) {
        Process_Print(Handle, "Application name is empty");
        Fail(Handle);
        return FALSE;
    }
    if (Handle->SHA1[0] != 0) return StartDigest(Handle);
    if (Handle->AuthenticateTarget[0] != 0) {
        StartAuthentication(Handle);
        return TRUE;
    }
    return StartProgram(Handle);
}

int32 Process_Process(Process *Handle) {
    Process_Check(Handle);
    switch (Handle->State) {
    case PROCESS_STATE_IDLE: Platform_ReapPending(); break;
    case PROCESS_STATE_DIGEST: HashFile_Process(Handle->HashRequest); break;
    case PROCESS_STATE_AUTHENTICATE: AuthenticateAsync_Process(Handle->AuthenticateRequest); break;
    case PROCESS_STATE_RUNNING: {
        // An elevated launch learns its child's id only once the user has
        // answered the elevator (0 until then); one that ends without an id
        // never started the program.
        const bool Running = Platform_ProcessIsRunning(Handle->Platform) != 0;
        const int32 ChildId = Platform_ProcessGetId(Handle->Platform);
        if (Running) {
            if (!Handle->Ready && ChildId > 0 && Time_GetCurrent() - Handle->StartTime >= ReadyAfterSeconds) {
                Handle->Ready = 1;
                NotificationCenter_FireWithJSON("Process", "Ready", Id(Handle), "{\"id\":%d}", ChildId);
            }
            break;
        }
        int32 Code = 0;
        if (!Platform_ProcessGetExitCode(Handle->Platform, &Code)) break;
        if (ChildId == 0) {
            ReleasePlatform(Handle);
            Fail(Handle);
            break;
        }
        if (!Handle->Ready) {
            Handle->Ready = 1;
            NotificationCenter_FireWithJSON("Process", "Ready", Id(Handle), "{\"id\":%d}", ChildId);
        }
        ReleasePlatform(Handle);
        Handle->State = PROCESS_STATE_IDLE;
        Handle->EndTime = Time_GetCurrent();
        Handle->ExitCode = Code;
        Handle->Exited = 1;
        NotificationCenter_FireWithJSON("Process", "Complete", Id(Handle), "{\"successful\":true,\"exitCode\":%d}",
                                        Code);
        break;
    }
    default: Process_Print(Handle, "Unknown state (%d)", (int32)Handle->State); break;
    }
    return TRUE;
}

int32 Process_GetExitCode(Process *Handle, int32 *Code) {
    Process_Check(Handle);
    Debug_CheckPointer(Code);
    *Code = Handle->ExitCode;
    return Handle->Exited ? TRUE : FALSE;
}

int32 Process_Dump(Process *Handle) {
    Process_Check(Handle);
    Process_Print(Handle, "Application name - %s", Handle->ApplicationName);
    if (Handle->WorkingDirectory[0] != 0) Process_Print(Handle, "Working directory - %s", Handle->WorkingDirectory);
    if (Handle->Arguments[0] != 0) Process_Print(Handle, "Arguments - %s", Handle->Arguments);
    Process_Print(Handle, "Elevation rights - %s", Process_TranslateRights(Handle->ElevationRights));
    if (Handle->SHA1[0] != 0) Process_Print(Handle, "SHA1 - %s", Handle->SHA1);
    return TRUE;
}
