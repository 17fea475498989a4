// File authentication on a worker thread: the switch off (no thread, result 1
// at the next tick), authentic and unauthentic files, a second Start while
// the thread runs, ticks that deliver nothing while it runs, and a Delete
// that times out while the thread is blocked, after which the thread frees
// the request and its store itself (ASan's leak check and TSan watch).
#include "crypto/trust/authenticate_async.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
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
    // While Hold is set, a release on another thread than the test's (the
    // worker's, once its check is done) waits until Hold is cleared.
    std::atomic<bool> Hold{false}, Held{false};
    pthread_t Owner = pthread_self();
    static int32 Release(CertStoreInterface **Interface, void *User) {
        auto *Self = static_cast<CountedStore *>(User);
        *Interface = nullptr;
        if (Self->Hold && !pthread_equal(pthread_self(), Self->Owner)) {
            Self->Held = true;
            for (int Wait = 0; Wait < 120000 && Self->Hold; Wait++) usleep(500);
        }
        return --Self->References;
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
    // The worker's release of the store waits until the test lets it go:
    // the worker stays inside its thread meanwhile.
    Store.Hold = true;
    AuthenticateAsync_SetSourcePath(Request, "/bin/true");
    ASSERT_EQ(AuthenticateAsync_Start(Request), TRUE);
    EXPECT_EQ(AuthenticateAsync_Start(Request), FALSE);
    EXPECT_NE(Captured.find("Already running"), std::string::npos);
    for (int Tick = 0; Tick < 10; Tick++) AuthenticateAsync_Process(Request);
    EXPECT_TRUE(Results.empty());
    // The test's own reference on the worker's thread record, found by the
    // name the worker gives itself, so that the thread is joined at the end.
    Thread *Worker = nullptr;
    for (int Wait = 0; Wait < 20000 && (Worker == nullptr || !Store.Held); Wait++) {
        for (const auto &Task : std::filesystem::directory_iterator("/proc/self/task"))
            if (Worker == nullptr && ReadFile(Task.path() / "comm") == "AuthenticateAsy\n")
                Thread_FindThreadById((uint32)std::stoul(Task.path().filename()), &Worker);
        if (Worker == nullptr || !Store.Held) usleep(500);
    }
    ASSERT_NE(Worker, nullptr);
    ASSERT_TRUE(Store.Held);
    AuthenticateAsync_SetDeleteTimeout(Request, 20);
    AuthenticateAsync_Delete(&Request);
    EXPECT_EQ(Request, nullptr);
    EXPECT_GT(Store.References.load(), 0); // still held by the worker
    Store.Hold = false;
    for (int Wait = 0; Wait < 20000 && Store.References.load() != 0; Wait++) usleep(500);
    EXPECT_EQ(Store.References.load(), 0);
    // The worker still frees the request and logs after its last release:
    // the test (and the store it owns) ends only once the thread has gone.
    auto WorkerRuns = [] {
        for (const auto &Task : std::filesystem::directory_iterator("/proc/self/task"))
            if (ReadFile(Task.path() / "comm") == "AuthenticateAsy\n") return true;
        return false;
    };
    for (int Wait = 0; Wait < 20000 && WorkerRuns(); Wait++) usleep(500);
    EXPECT_FALSE(WorkerRuns());
    // Read once the worker has let go: it logs into the same text until then.
    EXPECT_NE(Captured.find("Timeout waiting on authenticate thread shutdown"), std::string::npos);
    EXPECT_TRUE(Results.empty()); // the owner is gone: no callback
    Thread_Release(&Worker);
}

} // namespace
