// Platform primitives: error numbers and classes, socket texts, atomics,
// threads, sleeping, random values, environment, process facts, console
// hooks, the UTF-16 converters and the module's start and stop.
#include "runtime/posix/platform.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

double MonotonicMS() {
    timespec Now;
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return Now.tv_sec * 1000.0 + Now.tv_nsec / 1e6;
}

} // namespace

// --- Error numbers ---------------------------------------------------------

TEST(PlatformError, LastErrorIsOffsetErrnoAndZeroStaysZero) {
    errno = 0;
    EXPECT_EQ(Platform_GetLastError(), 0);
    errno = ENOENT;
    EXPECT_EQ(Platform_GetLastError(), 100002);
    errno = ECONNREFUSED;
    EXPECT_EQ(Platform_GetLastError(), 100000 + ECONNREFUSED);
    EXPECT_EQ(Platform_GetLastSocketError(), ECONNREFUSED);
    errno = 0;
    EXPECT_EQ(Platform_GetLastSocketError(), 0);
}

TEST(PlatformError, ClassesHoldTheirNumbers) {
    struct Case {
        int32 (*Test)(int32);
        std::vector<int32> Members;
    };
    const int32 B = 100000;
    const Case Cases[] = {
        {Platform_ErrorNone, {0}},
        {Platform_ErrorMissing, {B + ENOENT, B + ESRCH}},
        {Platform_ErrorAccessDenied, {B + EPERM, B + EACCES, B + EBUSY, B + EROFS, B + EAGAIN, -61, -54, 7}},
        {Platform_ErrorAccessInvalid, {B + ENOENT, B + EBADF, B + EEXIST, B + EISDIR, B + ENFILE, B + EMFILE,
                                       B + EFBIG, B + ESPIPE, B + EMLINK, B + ENETDOWN, B + ENETUNREACH,
                                       B + ENAMETOOLONG, -43, -42, -38, -37, -23, -120, -925, -1301, -1407, -1410}},
        {Platform_ErrorNotEnoughSpace, {B + ENOSPC, -33, -34, -1425, -1429}},
        {Platform_ErrorLocked, {B + EDEADLK, -34, -45, -46, -1425}},
        {Platform_ErrorNotSupported, {B + ENODEV, B + EPROTONOSUPPORT, B + ESOCKTNOSUPPORT, B + ENOTSUP,
                                      B + EPFNOSUPPORT, B + EAFNOSUPPORT, B + EOPNOTSUPP, -1424, -1426, -1858, -2405}},
        {Platform_ErrorAlreadyExists, {B + EEXIST}},
    };
    // Every class answers 1 for its members and 0 for every other listed number.
    std::set<int32> All;
    for (const Case &C : Cases) All.insert(C.Members.begin(), C.Members.end());
    All.insert({1, B, B + 1000, -1, 12345, 7 + B});
    for (const Case &C : Cases)
        for (int32 Number : All) {
            bool Member = std::find(C.Members.begin(), C.Members.end(), Number) != C.Members.end();
            EXPECT_EQ(C.Test(Number), Member ? 1 : 0) << Number;
        }
}

TEST(PlatformError, TranslateTakesTheFirstMatchingClass) {
    EXPECT_STREQ(Platform_TranslateError(0), "None");
    EXPECT_STREQ(Platform_TranslateError(100002), "Missing"); // also AccessInvalid
    EXPECT_STREQ(Platform_TranslateError(-34), "NotEnoughSpace"); // also Locked
    EXPECT_STREQ(Platform_TranslateError(100017), "AccessInvalid"); // also AlreadyExists
    EXPECT_STREQ(Platform_TranslateError(-1425), "NotEnoughSpace");
    EXPECT_STREQ(Platform_TranslateError(100000 + EACCES), "AccessDenied");
    EXPECT_STREQ(Platform_TranslateError(-46), "Locked");
    EXPECT_STREQ(Platform_TranslateError(100000 + EOPNOTSUPP), "NotSupported");
    EXPECT_STREQ(Platform_TranslateError(100000 + ENOEXEC), "Unknown");
    EXPECT_STREQ(Platform_TranslateError(12345), "Unknown");
}

TEST(PlatformError, ErrorStringComesFromTheCLibrary) {
    char Text[256] = "untouched";
    EXPECT_EQ(Platform_GetErrorString(100000 + ENOENT, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, strerror(ENOENT));
    char Short[5];
    EXPECT_EQ(Platform_GetErrorString(100000 + ENOENT, Short, sizeof(Short)), 1);
    EXPECT_STREQ(Short, std::string(strerror(ENOENT)).substr(0, 4).c_str());
    strcpy(Text, "untouched");
    EXPECT_EQ(Platform_GetErrorString(-43, Text, sizeof(Text)), 0);
    EXPECT_EQ(Platform_GetErrorString(7, Text, sizeof(Text)), 0);
    EXPECT_EQ(Platform_GetErrorString(100000, Text, sizeof(Text)), 0);
    EXPECT_STREQ(Text, "untouched");
}

TEST(PlatformSocketError, TableRowsInOrder) {
    const char *Texts[] = {"Unknown Error", "No Error", "Permission denied", "Address already in use",
                           "Cannot assign requested address", "Address family not supported by protocol family",
                           "Operation already in progress", "Bad file number", "Cancelled",
                           "Software caused connection abort", "Connection refused", "Connection reset by peer",
                           "Destination address required", "Disk quota", "Bad address", "Host is down",
                           "No route to host", "Operation now in progress", "Interrupted function call",
                           "Invalid argument", "Socket is already connected", "Loop", "Too many open files",
                           "Message too long", "Name too long", "Network is down",
                           "Network dropped connection on reset", "Network is unreachable",
                           "No buffer space available", "Bad protocol option", "Socket is not connected",
                           "Directory not empty", "Socket operation on non-socket", "Operation not supported",
                           "Protocol family not supported", "Too many processes", "Protocol not supported",
                           "Protocol wrong type for socket", "Remote", "Cannot send after socket shutdown",
                           "Socket type not supported", "Stale", "Connection timed out", "Too many references",
                           "Too many users", "Resource temporarily unavailable"};
    ASSERT_EQ(sizeof(Texts) / sizeof(Texts[0]), (size_t)PLATFORM_SOCKET_ERROR_COUNT);
    for (int Row = 0; Row < PLATFORM_SOCKET_ERROR_COUNT; Row++)
        EXPECT_STREQ(Platform_SocketErrorStringTable[Row].Text, Texts[Row]) << Row;
    EXPECT_EQ(Platform_SocketErrorStringTable[0].Number, -1);
    EXPECT_EQ(Platform_SocketErrorStringTable[1].Number, 0);
}

TEST(PlatformSocketError, TranslatesThisSystemsErrnoValues) {
    EXPECT_STREQ(Platform_TranslateSocketError(99999), "Unknown Error");
    EXPECT_STREQ(Platform_TranslateSocketError(-1), "Unknown Error");
    EXPECT_STREQ(Platform_TranslateSocketError(0), "No Error");
    EXPECT_STREQ(Platform_TranslateSocketError(ECONNREFUSED), "Connection refused");
    EXPECT_STREQ(Platform_TranslateSocketError(EADDRINUSE), "Address already in use");
    EXPECT_STREQ(Platform_TranslateSocketError(ETIMEDOUT), "Connection timed out");
    EXPECT_STREQ(Platform_TranslateSocketError(EWOULDBLOCK), "Resource temporarily unavailable");
    // EOPNOTSUPP and ENOTSUP are one number here; the first row wins.
    EXPECT_STREQ(Platform_TranslateSocketError(ENOTSUP), "Operation not supported");
    // The numbers of another system must not name errors of this one (61 is ENODATA here).
    EXPECT_STREQ(Platform_TranslateSocketError(ENODATA), "Unknown Error");
}

// --- Atomics ---------------------------------------------------------------

TEST(PlatformAtomic, CompareAndSwap) {
    alignas(4) int32 Value = 5;
    EXPECT_EQ(Platform_CAS(&Value, 9, 4), 5); // differs from the comparand: unchanged
    EXPECT_EQ(Value, 5);
    EXPECT_EQ(Platform_CAS(&Value, 9, 5), 5);
    EXPECT_EQ(Value, 9);
    EXPECT_EQ(Platform_CAS(&Value, 0, 0), 9); // the atomic read
    EXPECT_EQ(Value, 9);

    int A = 0, B = 0;
    void *Pointer = &A;
    EXPECT_EQ(Platform_CASPointer(&Pointer, &B, nullptr), &A);
    EXPECT_EQ(Pointer, &A);
    EXPECT_EQ(Platform_CASPointer(&Pointer, &B, &A), &A);
    EXPECT_EQ(Pointer, &B);
}

TEST(PlatformAtomic, CountersReturnTheNewValue) {
    int32 Value = 0;
    EXPECT_EQ(Platform_Increment(&Value), 1);
    EXPECT_EQ(Platform_Add(&Value, 10), 11);
    EXPECT_EQ(Platform_Decrement(&Value), 10);
    EXPECT_EQ(Platform_Add(&Value, -20), -10);
}

TEST(PlatformAtomic, ConcurrentIncrementsAreNotLost) {
    int32 Counter = 0, Swapped = 0;
    std::vector<std::thread> Threads;
    for (int Index = 0; Index < 8; Index++)
        Threads.emplace_back([&] {
            for (int Step = 0; Step < 20000; Step++) {
                Platform_Increment(&Counter);
                int32 Seen;
                do Seen = Platform_CAS(&Swapped, 0, 0);
                while (Platform_CAS(&Swapped, Seen + 1, Seen) != Seen);
            }
        });
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_EQ(Counter, 160000);
    EXPECT_EQ(Swapped, 160000);
}

TEST(PlatformAtomic, BitScans) {
    EXPECT_EQ(Platform_CTZ(1), 0);
    EXPECT_EQ(Platform_CTZ(0x80000000u), 31);
    EXPECT_EQ(Platform_CTZ(0x50), 4);
    EXPECT_EQ(Platform_CLZ(1), 31);
    EXPECT_EQ(Platform_CLZ(0x80000000u), 0);
    EXPECT_EQ(Platform_CLZ(0x00010000u), 15);
}

TEST(PlatformAtomicDeathTest, UnalignedOperandsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    alignas(8) char Storage[32] = {};
    auto *Odd32 = reinterpret_cast<int32 *>(Storage + 2);
    auto *Odd64 = reinterpret_cast<void **>(Storage + 4);
    const char *Message32 = "Assertion failed \\(\\(\\(unsigned long\\)Value & 3\\) == 0\\)\nUnaligned value";
    EXPECT_EXIT(Platform_Increment(Odd32), ::testing::KilledBySignal(SIGILL), Message32);
    EXPECT_EXIT(Platform_Decrement(Odd32), ::testing::KilledBySignal(SIGILL), Message32);
    EXPECT_EXIT(Platform_Add(Odd32, 1), ::testing::KilledBySignal(SIGILL), Message32);
    EXPECT_EXIT(Platform_CAS(Odd32, 1, 0), ::testing::KilledBySignal(SIGILL), Message32);
    EXPECT_EXIT(Platform_CASPointer(Odd64, nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(\\(\\(intptr\\)Pointer & \\(sizeof\\(void \\*\\) - 1\\)\\) == 0\\)\n"
                "Unaligned value");
    EXPECT_EXIT(Platform_Increment(nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

// --- Threads and sleeping --------------------------------------------------

namespace {

struct ThreadProbe {
    std::atomic<uint32> SeenId{0};
    char Name[32] = "";
    int32 NameResult = -1;
    void *Handle = nullptr;
    std::atomic<bool> HandleReady{false};
    const char *WantedName = nullptr;
};

int32 ProbeThread(void *Context) {
    auto *Probe = static_cast<ThreadProbe *>(Context);
    Probe->SeenId = Platform_ThreadGetCurrentId();
    if (Probe->WantedName != nullptr) {
        while (!Probe->HandleReady) std::this_thread::yield();
        Probe->NameResult = Platform_ThreadSetDescription(Probe->Handle, Platform_ThreadGetCurrentId(), Probe->WantedName);
        pthread_getname_np(pthread_self(), Probe->Name, sizeof(Probe->Name));
    }
    return 1234;
}

} // namespace

TEST(PlatformThread, BeginJoinAndIds) {
    RuntimeScope Runtime;
    ThreadProbe Probe;
    uint32 Id = 0;
    void *Handle = nullptr;
    ASSERT_EQ(Platform_ThreadBegin(ProbeThread, &Probe, &Id, &Handle), 1);
    ASSERT_NE(Handle, nullptr);
    EXPECT_EQ(Platform_ThreadJoin(Handle), 1);
    EXPECT_EQ(Probe.SeenId.load(), Id); // the id handed out is the thread's own
    EXPECT_NE(Id, Platform_ThreadGetCurrentId());
    EXPECT_EQ(Platform_ThreadGetCurrentId(), (uint32)gettid());
    EXPECT_EQ(Platform_ThreadEnd(&Handle), 1);
    EXPECT_EQ(Handle, nullptr);
}

TEST(PlatformThread, ForkedChildHasItsOwnId) {
    uint32 ParentId = Platform_ThreadGetCurrentId();
    pid_t Child = fork();
    if (Child == 0) _exit(Platform_ThreadGetCurrentId() == (uint32)getpid() && ParentId != (uint32)getpid() ? 0 : 1);
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    EXPECT_EQ(Platform_ThreadGetCurrentId(), ParentId);
}

TEST(PlatformThread, NamesAreCutTo15Bytes) {
    RuntimeScope Runtime;
    ThreadProbe Probe;
    Probe.WantedName = "AuthenticateAsync"; // 17 bytes
    uint32 Id;
    ASSERT_EQ(Platform_ThreadBegin(ProbeThread, &Probe, &Id, &Probe.Handle), 1);
    Probe.HandleReady = true;
    Platform_ThreadJoin(Probe.Handle);
    EXPECT_EQ(Probe.NameResult, 1);
    EXPECT_STREQ(Probe.Name, "AuthenticateAsy");
    Platform_ThreadEnd(&Probe.Handle);

    // A cut never splits a UTF-8 character: "é" straddling byte 15 goes whole.
    ThreadProbe Wide;
    Wide.WantedName = "abcdefghijklmn\xC3\xA9xyz";
    ASSERT_EQ(Platform_ThreadBegin(ProbeThread, &Wide, &Id, &Wide.Handle), 1);
    Wide.HandleReady = true;
    Platform_ThreadJoin(Wide.Handle);
    EXPECT_STREQ(Wide.Name, "abcdefghijklmn");
    Platform_ThreadEnd(&Wide.Handle);
}

TEST(PlatformThread, ContainerModes) {
    RuntimeScope Runtime;
    ThreadProbe Probe;
    uint32 Id;
    void *Handle;
    ASSERT_EQ(Platform_ThreadBegin(ProbeThread, &Probe, &Id, &Handle), 1);
    Platform_ThreadJoin(Handle);
    // Run on this thread: the default policy's priority range is 0..0, so the
    // 20 % point is 0 and nothing changes.
    int Policy;
    sched_param Before{}, After{};
    pthread_getschedparam(pthread_self(), &Policy, &Before);
    EXPECT_EQ(Platform_ThreadContainerStart(Handle, 0), 1);
    EXPECT_EQ(Platform_ThreadContainerStart(Handle, 1), 1);
    EXPECT_EQ(Platform_ThreadTick(Handle), 1);
    EXPECT_EQ(Platform_ThreadContainerEnd(Handle), 1);
    pthread_getschedparam(pthread_self(), &Policy, &After);
    EXPECT_EQ(After.sched_priority, Before.sched_priority);
    Platform_ThreadEnd(&Handle);
}

TEST(PlatformThreadDeathTest, OnlyTheThreadNamesItself) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Runtime;
            ThreadProbe Probe;
            uint32 Id;
            void *Handle;
            Platform_ThreadBegin(ProbeThread, &Probe, &Id, &Handle);
            Platform_ThreadJoin(Handle);
            Platform_ThreadSetDescription(Handle, Id, "x");
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(Platform_ThreadGetCurrentId\\(\\) == ThreadId\\)\n"
        "The thread name must be set from within the thread on Mac OS X");
    EXPECT_EXIT(
        {
            RuntimeScope Runtime;
            int Fake[20] = {};
            Platform_ThreadJoin(Fake);
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer");
}

TEST(PlatformSleep, NeverSleepsLessThan15MS) {
    for (int32 Asked : {1, 0, -5}) {
        double Start = MonotonicMS();
        EXPECT_EQ(Platform_SleepMS(Asked), 1);
        EXPECT_GE(MonotonicMS() - Start, 15.0) << Asked;
    }
    double Start = MonotonicMS();
    Platform_SleepMS(40);
    EXPECT_GE(MonotonicMS() - Start, 40.0);
}

// --- Random values ---------------------------------------------------------

TEST(PlatformRandom, GuidsAreVersion4) {
    std::set<std::string> Seen;
    for (int Index = 0; Index < 200; Index++) {
        uint8 Guid[16];
        EXPECT_EQ(Platform_CreateGuid(Guid), 1);
        EXPECT_EQ(Guid[6] >> 4, 4);
        EXPECT_EQ(Guid[8] >> 6, 2);
        Seen.insert(std::string(reinterpret_cast<char *>(Guid), 16));
    }
    EXPECT_EQ(Seen.size(), 200u);
}

// Ids come from a buffer per thread: a forked child and its parent, and
// two threads, must still never hand out the same one.
TEST(PlatformRandom, GuidsDifferAcrossForkAndThreads) {
    uint8 Parent[16], Child[16] = {}, Other[16];
    Platform_CreateGuid(Parent); // the buffer is filled before the fork
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    pid_t Forked = fork();
    ASSERT_GE(Forked, 0);
    if (Forked == 0) {
        Platform_CreateGuid(Child);
        _exit(write(Pipe[1], Child, 16) == 16 ? 0 : 1);
    }
    close(Pipe[1]);
    ASSERT_EQ(read(Pipe[0], Child, 16), 16);
    close(Pipe[0]);
    int Status = 0;
    waitpid(Forked, &Status, 0);
    Platform_CreateGuid(Parent);
    std::thread([&] { Platform_CreateGuid(Other); }).join();
    EXPECT_NE(memcmp(Parent, Child, 16), 0);
    EXPECT_NE(memcmp(Parent, Other, 16), 0);
    EXPECT_NE(memcmp(Child, Other, 16), 0);
}

TEST(PlatformRandom, CryptFillIsNotConstant) {
    std::vector<uint8> A(4096, 0), B(4096, 0);
    EXPECT_EQ(Platform_CryptFill(A.data(), (int32)A.size()), 1);
    EXPECT_EQ(Platform_CryptFill(B.data(), (int32)B.size()), 1);
    EXPECT_NE(A, B);
    std::set<uint8> Values(A.begin(), A.end());
    EXPECT_GT(Values.size(), 200u); // 4,096 random bytes take nearly all 256 values
    uint8 Untouched = 0x5A;
    EXPECT_EQ(Platform_CryptFill(&Untouched, 0), 1);
    EXPECT_EQ(Untouched, 0x5A);
}

TEST(PlatformRandomDeathTest, NegativeLengthStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    uint8 Byte;
    EXPECT_EXIT(Platform_CryptFill(&Byte, -1), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(Result == errSecSuccess\\)\nCrypt unable to fill buffer \\(-1:22\\)");
}

// --- Environment and process facts -----------------------------------------

TEST(PlatformEnvironment, SetGetAndCut) {
    EXPECT_EQ(Platform_SetEnvironmentVariable("PLATFORM_TEST_VALUE", "first"), 1);
    EXPECT_EQ(Platform_SetEnvironmentVariable("PLATFORM_TEST_VALUE", "second value"), 1);
    char Buffer[64];
    EXPECT_EQ(Platform_GetEnvironmentVariable("PLATFORM_TEST_VALUE", Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "second value");
    char Short[7];
    EXPECT_EQ(Platform_GetEnvironmentVariable("PLATFORM_TEST_VALUE", Short, sizeof(Short)), 1);
    EXPECT_STREQ(Short, "second");

    unsetenv("PLATFORM_TEST_UNSET");
    strcpy(Buffer, "untouched");
    EXPECT_EQ(Platform_GetEnvironmentVariable("PLATFORM_TEST_UNSET", Buffer, sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "untouched");
}

TEST(PlatformProcess, IsElevatedAsRootAndAsNobody) {
    int32 Elevated = -1;
    EXPECT_EQ(Platform_IsElevated(&Elevated), 1);
    EXPECT_EQ(Elevated, (getuid() == 0 || geteuid() == 0) ? 1 : 0);
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    EXPECT_EQ(Elevated, 1);
    std::string Output = RunChildTest("PlatformChild.DISABLED_ReportElevation", Nobody);
    EXPECT_NE(Output.find("elevated=0 uid=65534"), std::string::npos) << Output;
}

TEST(PlatformChild, DISABLED_ReportElevation) {
    int32 Elevated = -1;
    Platform_IsElevated(&Elevated);
    printf("elevated=%d uid=%d\n", Elevated, (int)getuid());
}

TEST(PlatformProcess, ParentProcessId) {
    EXPECT_EQ(Platform_GetParentProcessId(getpid()), getppid());
    EXPECT_EQ(Platform_GetParentProcessId(0), 0);
    EXPECT_EQ(Platform_GetParentProcessId(-3), 0);
    EXPECT_EQ(Platform_GetParentProcessId(0x7ffffff0), 0);

    // A process name with spaces and parentheses does not shift the fields.
    int Ready[2];
    ASSERT_EQ(pipe(Ready), 0);
    pid_t Child = fork();
    if (Child == 0) {
        prctl(PR_SET_NAME, "a) b (c) 9 9", 0, 0, 0);
        char Byte = 1;
        ssize_t Ignored = write(Ready[1], &Byte, 1);
        (void)Ignored;
        pause();
        _exit(0);
    }
    char Byte;
    ASSERT_EQ(read(Ready[0], &Byte, 1), 1);
    EXPECT_EQ(Platform_GetParentProcessId(Child), getpid());
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
    close(Ready[0]);
    close(Ready[1]);
}

TEST(PlatformProcess, DebuggerPresentWhenTraced) {
    EXPECT_EQ(Platform_IsDebuggerPresent(), 0);
    pid_t Child = fork();
    if (Child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(2);
        _exit(Platform_IsDebuggerPresent() == 1 ? 0 : 1);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    ASSERT_TRUE(WIFEXITED(Status));
    if (WEXITSTATUS(Status) == 2) GTEST_SKIP() << "ptrace is not allowed here";
    EXPECT_EQ(WEXITSTATUS(Status), 0);
}

// --- Console ---------------------------------------------------------------

TEST(PlatformConsole, StandardStreams) {
    EXPECT_EQ(Platform_GetStdHandle(0), stdin);
    EXPECT_EQ(Platform_GetStdHandle(1), stdout);
    EXPECT_EQ(Platform_GetStdHandle(2), stderr);
    EXPECT_EQ(Platform_GetStdHandle(3), nullptr);
    EXPECT_EQ(Platform_GetStdHandle(-1), nullptr);
    EXPECT_EQ(Platform_AllocConsole(), 1);
    EXPECT_EQ(Platform_SetConsoleTitle("title"), 1);
    EXPECT_EQ(Platform_FreeConsole(), 1);

    FILE *File = tmpfile();
    ASSERT_NE(File, nullptr);
    int32 Written = -1;
    EXPECT_EQ(Platform_WriteStd(File, "hello\n", 6, &Written), 1);
    EXPECT_EQ(Written, 6);
    // Written at once, without waiting for a buffer to fill.
    char Read[16] = "";
    ASSERT_EQ(pread(fileno(File), Read, sizeof(Read), 0), 6);
    EXPECT_STREQ(Read, "hello\n");
    fclose(File);
}

namespace {
std::atomic<int> LastConsoleSignal{0};
void RecordSignal(int32 Signal) { LastConsoleSignal = Signal; }
} // namespace

TEST(PlatformConsole, ControlHandlerCallsTheOverride) {
    const int Signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGBUS, SIGPIPE, SIGTSTP};
    struct sigaction Saved[7];
    for (int Index = 0; Index < 7; Index++) sigaction(Signals[Index], nullptr, &Saved[Index]);

    EXPECT_EQ(Platform_SetupConsoleControl(), 1);
    for (int Signal : Signals) {
        struct sigaction Action;
        sigaction(Signal, nullptr, &Action);
        EXPECT_EQ(Action.sa_flags & ~0x04000000, 0); // glibc adds its own restorer flag
        EXPECT_NE(Action.sa_handler, SIG_DFL);
    }
    // Without an override the handler does nothing: the process goes on.
    raise(SIGPIPE);
    Platform_SetConsoleControlOverride(RecordSignal);
    raise(SIGHUP);
    EXPECT_EQ(LastConsoleSignal.load(), SIGHUP);
    raise(SIGTSTP);
    EXPECT_EQ(LastConsoleSignal.load(), SIGTSTP);
    Platform_SetConsoleControlOverride(nullptr);

    for (int Index = 0; Index < 7; Index++) sigaction(Signals[Index], &Saved[Index], nullptr);
}

TEST(PlatformConsoleDeathTest, BusErrorStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Returning from a real bus error re-runs the access; the handler must not
    // turn it into an endless loop.
    EXPECT_EXIT(
        {
            Platform_SetupConsoleControl();
            Platform_SetConsoleControlOverride(RecordSignal);
            FILE *File = tmpfile();
            void *Map = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(File), 0); // past the end of an empty file
            fprintf(stderr, "value %d\n", *static_cast<volatile char *>(Map));
        },
        ::testing::KilledBySignal(SIGBUS), "");
}

// --- UTF-16 converters -----------------------------------------------------

namespace {

std::vector<uint16> Utf16FromHex(const std::string &Hex) {
    std::string Bytes = FromHex(Hex);
    std::vector<uint16> Units;
    for (size_t Index = 0; Index + 1 < Bytes.size(); Index += 2)
        Units.push_back((uint16)((uint8)Bytes[Index] | ((uint8)Bytes[Index + 1] << 8)));
    return Units;
}

std::string ToUtf8(const std::vector<uint16> &Units, int32 *Result) {
    std::vector<uint16> Input = Units;
    Input.push_back(0);
    int32 Count = -1;
    int32 Needed = Platform_WideChar16ToMultiByte(&Count, nullptr, 0, Input.data(), -1);
    *Result = Needed;
    if (Needed < 0) return "";
    std::string Output(Needed + 1, '\x7f');
    int32 Written = Platform_WideChar16ToMultiByte(&Count, Output.data(), Needed + 1, Input.data(), -1);
    EXPECT_EQ(Written, Needed);
    EXPECT_EQ(Count, (int32)Units.size());
    EXPECT_EQ(Output[Needed], 0);
    Output.resize(Needed);
    return Output;
}

std::vector<uint16> ToUtf16(const std::string &Text, int32 *Result) {
    int32 Count = -1;
    int32 Needed = Platform_MultiByteToWideChar16(&Count, nullptr, 0, Text.c_str(), -1);
    *Result = Needed;
    if (Needed < 0) return {};
    EXPECT_EQ(Count, (int32)Text.size() + 1); // the terminator is consumed too
    std::vector<uint16> Output(Needed + 1, 0x7777);
    int32 Written = Platform_MultiByteToWideChar16(&Count, Output.data(), Needed + 1, Text.c_str(), -1);
    EXPECT_EQ(Written, Needed);
    EXPECT_EQ(Output[Needed], 0);
    Output.resize(Needed);
    return Output;
}

} // namespace

TEST(PlatformText, RandomTextsMatchPythonCodecs) {
    // Each line: UTF-8 hex, then UTF-16-LE hex, of a random text with BMP and
    // non-BMP characters (no surrogates, no NUL).
    std::string Output = RunPython(R"(
import random
random.seed(1151)
ranges = [(1, 0x7f), (0x80, 0x7ff), (0x800, 0xd7ff), (0xe000, 0xffff), (0x10000, 0x10ffff)]
for _ in range(300):
    text = ''.join(chr(random.randint(*random.choice(ranges))) for _ in range(random.randint(0, 40)))
    print(text.encode('utf-8').hex() or '-', text.encode('utf-16-le').hex() or '-')
)");
    std::istringstream Lines(Output);
    std::string Utf8Hex, Utf16Hex;
    int Cases = 0;
    while (Lines >> Utf8Hex) {
        Lines >> Utf16Hex;
        if (Utf8Hex == "-") Utf8Hex.clear();
        if (Utf16Hex == "-") Utf16Hex.clear();
        Cases++;
        std::string Utf8 = FromHex(Utf8Hex);
        std::vector<uint16> Utf16 = Utf16FromHex(Utf16Hex);
        int32 Result;
        EXPECT_EQ(ToUtf8(Utf16, &Result), Utf8) << Utf16Hex;
        EXPECT_EQ(Result, (int32)Utf8.size());
        EXPECT_EQ(ToUtf16(Utf8, &Result), Utf16) << Utf8Hex;
        EXPECT_EQ(Result, (int32)Utf16.size());
    }
    EXPECT_EQ(Cases, 300);
}

TEST(PlatformText, InvalidInputFailsLikePythonStrict) {
    const char *Utf8Cases[] = {"80",       "bf",         "c0af",       "c1bf",     "e080af",   "eda080",
                               "edbfbf",   "f4908080",   "f8888080af", "fc8480808080", "e282",    "f09f98",
                               "c341",     "ff",         "fe",         "61e2",     "f0808080", "41c3a9"};
    std::string Script = "import sys\nfor h in sys.stdin.read().split():\n"
                         "    try:\n        bytes.fromhex(h).decode('utf-8'); print('ok')\n"
                         "    except UnicodeDecodeError: print('bad')\n";
    std::string Input;
    for (const char *Hex : Utf8Cases) Input += std::string(Hex) + "\n";
    std::istringstream Verdicts(RunPython(Script, Input));
    for (const char *Hex : Utf8Cases) {
        std::string Verdict;
        Verdicts >> Verdict;
        int32 Result;
        ToUtf16(FromHex(Hex), &Result);
        EXPECT_EQ(Result < 0, Verdict == "bad") << Hex;
    }

    const char *Utf16Cases[] = {"00d8", "00dc", "00d84100", "4100ffdb", "00dc00d8", "3dd800de", "ffdbffdf"};
    std::string Input16;
    for (const char *Hex : Utf16Cases) Input16 += std::string(Hex) + "\n";
    std::istringstream Verdicts16(RunPython(
        "import sys\nfor h in sys.stdin.read().split():\n"
        "    try:\n        bytes.fromhex(h).decode('utf-16-le'); print('ok')\n"
        "    except UnicodeDecodeError: print('bad')\n",
        Input16));
    for (const char *Hex : Utf16Cases) {
        std::string Verdict;
        Verdicts16 >> Verdict;
        int32 Result;
        ToUtf8(Utf16FromHex(Hex), &Result);
        EXPECT_EQ(Result < 0, Verdict == "bad") << Hex;
    }
}

TEST(PlatformText, NeverWritesBeyondTheOutput) {
    // "a€😀": 1 + 3 + 4 bytes; 1 + 1 + 2 units.
    const char *Utf8 = "a\xE2\x82\xAC\xF0\x9F\x98\x80";
    const uint16 Utf16[] = {0x61, 0x20AC, 0xD83D, 0xDE00, 0};
    int32 Count;

    // Room for "a" and half the pair: the pair is not split.
    uint16 Units[4] = {9, 9, 9, 0x7777};
    EXPECT_EQ(Platform_MultiByteToWideChar16(&Count, Units, 3, Utf8, -1), 2);
    EXPECT_EQ(Count, 4); // bytes of "a€"; the terminator was not reached
    EXPECT_EQ(Units[0], 0x61);
    EXPECT_EQ(Units[1], 0x20AC);
    EXPECT_EQ(Units[2], 0); // terminated: room was left
    EXPECT_EQ(Units[3], 0x7777);

    // Exactly filled: no terminator, nothing past the end.
    uint16 Exact[5] = {9, 9, 9, 9, 0x7777};
    EXPECT_EQ(Platform_MultiByteToWideChar16(&Count, Exact, 4, Utf8, -1), 4);
    EXPECT_EQ(Count, 9); // the terminator was reached, though no room was left for it
    EXPECT_EQ(Exact[3], 0xDE00);
    EXPECT_EQ(Exact[4], 0x7777);

    char Bytes[10];
    memset(Bytes, 'Z', sizeof(Bytes));
    EXPECT_EQ(Platform_WideChar16ToMultiByte(&Count, Bytes, 6, Utf16, -1), 4); // "a€" fits, the 4 bytes do not
    EXPECT_EQ(Count, 2);
    EXPECT_EQ(Bytes[4], 0);
    EXPECT_EQ(Bytes[5], 'Z');
    memset(Bytes, 'Z', sizeof(Bytes));
    EXPECT_EQ(Platform_WideChar16ToMultiByte(&Count, Bytes, 8, Utf16, -1), 8);
    EXPECT_EQ(Count, 4); // this direction does not count the terminator
    EXPECT_EQ(Bytes[8], 'Z');
    EXPECT_EQ(Platform_WideChar16ToMultiByte(&Count, Bytes, 0, Utf16, -1), 0);
    EXPECT_EQ(Bytes[0], 'a'); // left from before: nothing written

    // An input length stops before the terminator; a pair cut by it is broken.
    EXPECT_EQ(Platform_MultiByteToWideChar16(&Count, nullptr, 0, Utf8, 4), 2);
    EXPECT_EQ(Count, 4);
    EXPECT_EQ(Platform_MultiByteToWideChar16(&Count, nullptr, 0, Utf8, 6), -1); // inside "😀"
    EXPECT_EQ(Platform_WideChar16ToMultiByte(&Count, nullptr, 0, Utf16, 3), -1); // lone high surrogate
    EXPECT_EQ(Platform_WideChar16ToMultiByte(&Count, nullptr, 0, Utf16, 2), 4);
    EXPECT_EQ(Count, 2);
}

// --- Start and stop --------------------------------------------------------

namespace {
std::string *CapturedLog = nullptr;
int32 CaptureLine(const char *Text) {
    if (CapturedLog != nullptr) *CapturedLog += Text;
    return 1;
}
} // namespace

TEST(PlatformInit, LogsTheSystemAndKeepsItsRecords) {
    RuntimeScope Runtime(DEBUG_FLAG_EXTERNALPRINT);
    std::string Log;
    CapturedLog = &Log;
    Debug_PrintCallback(CaptureLine);
    ASSERT_EQ(Platform_Init(), 1);
    Debug_PrintCallback(nullptr);
    CapturedLog = nullptr;

    std::string Expected = RunPython(
        "import platform\nr = platform.freedesktop_os_release()\n"
        "bits = 64 if platform.machine().lower() == 'x86_64' else 32\n"
        "print('System: %s %s %dbit' % (r.get('NAME', ''), r.get('VERSION_ID', ''), bits))\n");
    EXPECT_NE(Log.find(Expected), std::string::npos) << Log << "\nexpected: " << Expected;
    EXPECT_NE(Log.find(getuid() == 0 ? "Elevated: true\n" : "Elevated: false\n"), std::string::npos) << Log;

    ASSERT_NE(GlobalPlatform, nullptr);
    ASSERT_NE(GlobalPlatformOSX, nullptr);
    EXPECT_EQ(CriticalSection_ValidHandle(GlobalPlatformOSX->TrustLock), 1);
    rlimit Limit;
    getrlimit(RLIMIT_NOFILE, &Limit);
    if (getuid() == 0) {
        EXPECT_GE(Limit.rlim_cur, 10000u);
    }

    EXPECT_EQ(Platform_Remove(), 1);
    EXPECT_EQ(GlobalPlatform, nullptr);
    EXPECT_EQ(GlobalPlatformOSX, nullptr);
}
