// File authentication on a worker thread: the switch off (no thread, result 1
// at the next tick), authentic and unauthentic files, a second Start while
// the thread runs, ticks that deliver nothing while it runs, and a Delete
// that times out while the thread is blocked, after which the thread frees
// the request and its store itself (ASan's leak check and TSan watch).
#include "crypto/trust/authenticate_async.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "runtime/thread.h"
#include "tests/support/log_capture.h"
#include "tests/support/main_thread_hook.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// A store that counts the references held on it.
struct CountedStore {
    CertStoreInterface *Interface = nullptr;
    std::atomic<int> References{0};
    static CertStoreInterface *AddRef(CertStoreInterface *Interface, void *User) {
        static_cast<CountedStore *>(User)->References++;
        return Interface;
    }
    static int32 Release(CertStoreInterface **Interface, void *User) {
        *Interface = nullptr;
        return --static_cast<CountedStore *>(User)->References;
    }
    static int32 Trusted(CertStoreInterface *, void *, X509 *, uint32 *) { return FALSE; }
    CountedStore() {
        CertStoreInterface_Create(&Interface);
        CertStoreInterface_SetAddRefCallback(Interface, this, AddRef);
        CertStoreInterface_SetReleaseCallback(Interface, this, Release);
        CertStoreInterface_SetX509IsTrustedCallback(Interface, this, Trusted);
    }
    ~CountedStore() { CertStoreInterface_Delete(&Interface); }
};

std::vector<int32> Results;

int32 Completed(AuthenticateAsync *, void *, int32 Result) {
    Results.push_back(Result);
    return TRUE;
}

class AuthenticateAsyncTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        StartThreads();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Results.clear();
        AuthenticateAsync_Create(&Request);
        AuthenticateAsync_SetCertStoreHandle(Request, Store.Interface);
        AuthenticateAsync_SetCompleteCallback(Request, nullptr, Completed);
    }
    void TearDown() override {
        if (Request != nullptr) AuthenticateAsync_Delete(&Request);
        Authenticate_SetEnabled(1);
        EndThreads();
        RuntimeTest::TearDown();
    }
    // Ticks until a result arrives (bounded).
    void RunToComplete() {
        for (int Tick = 0; Tick < 20000 && Results.empty(); Tick++) {
            AuthenticateAsync_Process(Request);
            if (Results.empty()) usleep(500);
        }
    }
    CountedStore Store;
    AuthenticateAsync *Request = nullptr;
    TempDirectory Folder;
};

TEST_F(AuthenticateAsyncTest, ResultsOfFilesAndTheSwitch) {
    const std::string Text = Folder / "text";
    std::ofstream(Text) << "not a program";
    struct Case {
        std::string Path;
        uint32 Enabled;
        int32 Result;
    };
    for (const Case &Each : {Case{"/bin/true", 1, TRUE}, Case{Text, 1, FALSE}, Case{Folder.Path, 1, FALSE},
                             Case{Folder / "absent", 1, FALSE}, Case{Text, 0, TRUE}}) {
        SCOPED_TRACE(Each.Path);
        Results.clear();
        Captured.clear();
        Authenticate_SetEnabled(Each.Enabled);
        AuthenticateAsync_SetSourcePath(Request, Each.Path.c_str());
        ASSERT_EQ(AuthenticateAsync_Start(Request), TRUE);
        uint32 State = 9;
        AuthenticateAsync_GetState(Request, &State);
        EXPECT_EQ(State, (uint32)AUTHENTICATEASYNC_STATE_RUNNING);
        if (!Each.Enabled) {
            EXPECT_NE(Captured.find("Skipping authentication (1) (" + Each.Path + ")"), std::string::npos);
            EXPECT_TRUE(Results.empty()); // only at the next tick
        }
        RunToComplete();
        EXPECT_EQ(Results, std::vector<int32>{Each.Result});
        AuthenticateAsync_GetState(Request, &State);
        EXPECT_EQ(State, (uint32)AUTHENTICATEASYNC_STATE_IDLE);
        AuthenticateAsync_Process(Request); // nothing more
        EXPECT_EQ(Results.size(), 1u);
    }
}

TEST_F(AuthenticateAsyncTest, BlockedThreadOutlivesDelete) {
    // Opening a FIFO for reading blocks until a writer comes: the worker
    // stays inside the check until the test lets it go.
    const std::string Fifo = Folder / "fifo";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    AuthenticateAsync_SetSourcePath(Request, Fifo.c_str());
    ASSERT_EQ(AuthenticateAsync_Start(Request), TRUE);
    EXPECT_EQ(AuthenticateAsync_Start(Request), FALSE);
    EXPECT_NE(Captured.find("Already running"), std::string::npos);
    for (int Tick = 0; Tick < 10; Tick++) AuthenticateAsync_Process(Request);
    EXPECT_TRUE(Results.empty());
    // The test's own reference on the worker's thread record, found by the
    // name the worker gives itself, so that the thread is joined at the end.
    Thread *Worker = nullptr;
    for (int Wait = 0; Wait < 20000 && Worker == nullptr; Wait++) {
        for (const auto &Task : std::filesystem::directory_iterator("/proc/self/task"))
            if (ReadFile(Task.path() / "comm") == "AuthenticateAsy\n")
                Thread_FindThreadById((uint32)std::stoul(Task.path().filename()), &Worker);
        if (Worker == nullptr) usleep(500);
    }
    ASSERT_NE(Worker, nullptr);
    AuthenticateAsync_SetDeleteTimeout(Request, 20);
    AuthenticateAsync_Delete(&Request);
    EXPECT_EQ(Request, nullptr);
    EXPECT_GT(Store.References.load(), 0); // still held by the worker
    // A writer lets the worker's open return; it then refuses the FIFO (no
    // regular file), possibly before the write, which must not stop the test.
    const int Writer = open(Fifo.c_str(), O_WRONLY);
    ASSERT_GE(Writer, 0);
    const std::string Header = ReadFile("/bin/true").substr(0, 64);
    void (*Previous)(int) = signal(SIGPIPE, SIG_IGN);
    (void)!write(Writer, Header.data(), Header.size());
    close(Writer);
    signal(SIGPIPE, Previous);
    for (int Wait = 0; Wait < 20000 && Store.References.load() != 0; Wait++) usleep(500);
    EXPECT_EQ(Store.References.load(), 0);
    // Read once the worker has let go: it logs into the same text until then.
    EXPECT_NE(Captured.find("Timeout waiting on authenticate thread shutdown"), std::string::npos);
    EXPECT_TRUE(Results.empty()); // the owner is gone: no callback
    Thread_Release(&Worker);
}

} // namespace
