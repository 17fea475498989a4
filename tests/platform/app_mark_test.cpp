// The single-instance mark: marker names against hashlib.md5, the mailbox
// (clamped lengths, a busy mailbox, a dead writer), and twenty processes
// racing for one name. The racers are this test program started again with
// APPMARK_RACER set: each reports "held" or "waiting" and holds on until its
// standard input closes.
#include "platform/app_mark.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/platform_process_session.h"
#include "runtime/posix/platform.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Received;

int32 Receive(void *User, const void *Data, int32 Length) {
    (void)User;
    Received.assign(static_cast<const char *>(Data), (size_t)Length);
    return TRUE;
}

std::string UniqueName(const char *Tag) { return std::string("apptest-") + Tag + "-" + std::to_string(getpid()); }

AppMark *NewMark(const std::string &Name) {
    AppMark *Mark = nullptr;
    AppMark_Create(&Mark);
    AppMark_SetName(Mark, Name.c_str());
    return Mark;
}

class AppMarkTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Received.clear();
    }
};

TEST_F(AppMarkTest, MarkerIsTheDigestOfTheLowerCasedNameReadLiterally) {
    for (const char *Name : {"Product-EXCLUSIVE", "a{Temp}b", "{MD5:x}/../../etc", ""}) {
        char Path[APPMARK_PATH_SIZE];
        ASSERT_TRUE(AppMark_GetMarkerPath(Name, Path, (int32)sizeof(Path)));
        const std::string Expected =
            RunPython("import hashlib, sys\nprint('/tmp/' + hashlib.md5(sys.stdin.read().lower().encode())"
                      ".hexdigest())\n",
                      Name);
        EXPECT_EQ(std::string(Path) + "\n", Expected) << Name;
    }
}

TEST_F(AppMarkTest, OneHolderAndAMailboxForLaterOnes) {
    const std::string Name = UniqueName("mail");
    AppMark *First = NewMark(Name);
    AppMark_SetOnDataCallback(First, nullptr, Receive);
    ASSERT_EQ(AppMark_AcquireWithTimeout(First, 0), 1);
    EXPECT_EQ(AppMark_AcquireWithTimeout(First, 0), 1); // already held
    char Marker[APPMARK_PATH_SIZE];
    AppMark_GetMarkerPath(Name.c_str(), Marker, (int32)sizeof(Marker));
    EXPECT_EQ(access(Marker, F_OK), 0);

    // Names differing only in letter case share the mark.
    std::string Upper = Name;
    for (char &Ch : Upper) Ch = (char)toupper((unsigned char)Ch);
    AppMark *Second = NewMark(Upper);
    EXPECT_EQ(AppMark_AcquireWithTimeout(Second, 0), 0);
    ASSERT_NE(AppMark_GetSegment(Second), nullptr);

    const struct {
        size_t Length;
        size_t Delivered;
    } Cases[] = {{10, 10}, {5000, APPMARK_MESSAGE_SIZE}, {0, 0}, {APPMARK_MESSAGE_SIZE, APPMARK_MESSAGE_SIZE}};
    for (const auto &Case : Cases) {
        std::string Message(Case.Length, 'm');
        for (size_t Index = 0; Index < Case.Length; Index++) Message[Index] = (char)('a' + Index % 26);
        Received = "untouched";
        ASSERT_EQ(AppMark_WriteData(Second, Message.data(), (int32)Message.size()), 1);
        EXPECT_EQ(AppMark_GetSegment(First)->State, 2u);
        EXPECT_EQ(AppMark_ReadData(First), 1);
        EXPECT_EQ(Received, Message.substr(0, Case.Delivered));
        EXPECT_EQ(AppMark_GetSegment(First)->State, 0u);
    }
    // A length from another process is never trusted past the data area.
    AppMarkSegment *Segment = AppMark_GetSegment(Second);
    Segment->Length = 0xFFFFFFFFu;
    Segment->State = 2;
    AppMark_ReadData(First);
    EXPECT_EQ(Received.size(), (size_t)APPMARK_MESSAGE_SIZE);

    // The holder's end frees the name for the next process.
    AppMark_Delete(&First);
    EXPECT_NE(access(Marker, F_OK), 0);
    // A writer that died while writing (state 1) blocks nobody after a new holder takes over.
    Segment->State = 1;
    AppMark_Delete(&Second);
    AppMark *Third = NewMark(Name);
    ASSERT_EQ(AppMark_AcquireWithTimeout(Third, 0), 1);
    EXPECT_EQ(AppMark_GetSegment(Third)->State, 0u);
    AppMark_Delete(&Third);
}

TEST_F(AppMarkTest, UnnamedAndUnattachedMarks) {
    AppMark *Mark = nullptr;
    AppMark_Create(&Mark);
    EXPECT_EQ(AppMark_WriteData(Mark, "x", 1), 0); // no mailbox: refused, not a fatal stop
    EXPECT_EQ(AppMark_ReadData(Mark), 1);
    EXPECT_EQ(AppMark_AcquireWithTimeout(Mark, 0), 1); // no name: never held back
    char Name[APPMARK_NAME_SIZE] = "x";
    AppMark_GetName(Mark, Name, (int32)sizeof(Name));
    EXPECT_STREQ(Name, "");
    AppMark_SetName(Mark, std::string(300, 'n').c_str());
    AppMark_GetName(Mark, Name, (int32)sizeof(Name));
    EXPECT_EQ(strlen(Name), (size_t)APPMARK_NAME_SIZE - 1);
    AppMark_Release(&Mark);
}

TEST_F(AppMarkTest, SingletonOfThePlatform) {
    const std::string Name = UniqueName("single");
    EXPECT_EQ(Platform_SingletonSendData("x", 1), 0);
    EXPECT_EQ(Platform_Singleton(Name.c_str(), 0), 0);
    EXPECT_EQ(Platform_Singleton(Name.c_str(), 0), 0);
    char Buffer[320];
    ASSERT_TRUE(Platform_SingletonGetName(Buffer, (int32)sizeof(Buffer)));
    EXPECT_EQ(std::string(Buffer), Name + "-EXCLUSIVE");
    Platform_SingletonSetDataCallback(nullptr, Receive);
    AppMark *Later = NewMark(Name + "-exclusive");
    EXPECT_EQ(AppMark_AcquireWithTimeout(Later, 0), 0);
    AppMark_WriteData(Later, "--open doc", 10);
    Platform_SingletonReadData();
    EXPECT_EQ(Received, "--open doc");
    AppMark_Delete(&Later);
    EXPECT_EQ(Platform_SingletonEnd(), 1);
    EXPECT_EQ(Platform_SingletonEnd(), 1);
    EXPECT_EQ(Platform_SingletonReadData(), 0);
}

// Racer (run only as a child): reports, then holds or waits until its input
// closes.
TEST(AppMarkRacer, DISABLED_Run) {
    const char *Name = getenv("APPMARK_RACER");
    ASSERT_NE(Name, nullptr);
    RuntimeScope Runtime;
    AppMark *Mark = NewMark(Name);
    const int32 Held = AppMark_AcquireWithTimeout(Mark, 0);
    const char *Report = Held ? "held\n" : "waiting\n";
    ASSERT_EQ(write(1, Report, strlen(Report)), (ssize_t)strlen(Report));
    char Byte;
    while (read(0, &Byte, 1) > 0) {
    }
    AppMark_Delete(&Mark);
}

struct Racer {
    pid_t Id = -1;
    int Input = -1;  // our end of its standard input
    int Output = -1; // our end of its standard output
};

Racer StartRacer(const std::string &Name) {
    Racer Started;
    int In[2], Out[2];
    if (pipe2(In, O_CLOEXEC) != 0 || pipe2(Out, O_CLOEXEC) != 0) return Started;
    const pid_t Child = fork();
    if (Child == 0) {
        dup2(In[0], 0);
        dup2(Out[1], 1);
        setenv("APPMARK_RACER", Name.c_str(), 1);
        const std::string Self = SelfExecutable();
        execl(Self.c_str(), Self.c_str(), "--gtest_also_run_disabled_tests", "--gtest_filter=AppMarkRacer.DISABLED_Run",
              "--gtest_brief=1", (char *)nullptr);
        _exit(127);
    }
    close(In[0]);
    close(Out[1]);
    Started.Id = Child;
    Started.Input = In[1];
    Started.Output = Out[0];
    return Started;
}

std::string ReportOf(const Racer &Started) {
    std::string Line;
    char Byte;
    while (read(Started.Output, &Byte, 1) == 1 && Byte != '\n') Line += Byte;
    return Line;
}

void EndRacer(Racer &Started) {
    close(Started.Input);
    close(Started.Output);
    int Status = 0;
    waitpid(Started.Id, &Status, 0);
}

TEST_F(AppMarkTest, TwentyProcessesRaceAndOneHolds) {
    const std::string Name = UniqueName("race");
    std::vector<Racer> Racers;
    for (int Index = 0; Index < 20; Index++) Racers.push_back(StartRacer(Name));
    int Holders = 0;
    size_t Holder = 0;
    for (size_t Index = 0; Index < Racers.size(); Index++) {
        const std::string Report = ReportOf(Racers[Index]);
        EXPECT_TRUE(Report == "held" || Report == "waiting") << Report;
        if (Report == "held") {
            Holders++;
            Holder = Index;
        }
    }
    EXPECT_EQ(Holders, 1);
    // A killed holder leaves its marker behind, yet the next process takes over.
    kill(Racers[Holder].Id, SIGKILL);
    EndRacer(Racers[Holder]);
    Racer Next = StartRacer(Name);
    EXPECT_EQ(ReportOf(Next), "held");
    EndRacer(Next);
    for (size_t Index = 0; Index < Racers.size(); Index++)
        if (Index != Holder) EndRacer(Racers[Index]);
    char Marker[APPMARK_PATH_SIZE];
    AppMark_GetMarkerPath(Name.c_str(), Marker, (int32)sizeof(Marker));
    unlink(Marker);
}

} // namespace
