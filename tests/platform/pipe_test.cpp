// Pipes on real FIFOs: defaults and setters, bytes written from outside (a
// Python child) announced on the tick in Base64, names that try to leave the
// pipe folder, "open existing" on a file that is not a FIFO, and a close that
// removes only the FIFO it opened.
#include "platform/pipe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_pipe.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/bridge.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::vector<std::string> Fired;

int32 Observe(void *, const char *Type, const char *Name, const char *Instance, Dictionary *Info) {
    Fired.push_back(std::string(Type) + "/" + Name + "/" + Instance + "/" +
                    (Info != nullptr ? RenderDictionary(Info) : std::string("-")));
    return TRUE;
}

class PipeTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Fired.clear();
        StartBridge();
        NotificationCenter_AddObserver("Pipe", "Read", nullptr, Observe);
        Env = std::make_unique<ScopedEnv>("TMPDIR", (Folder.Path + "/").c_str());
        Pipe_Create(&Handle);
        Pipe_GetInstanceId(Handle, Id, (int32)sizeof(Id));
    }
    void TearDown() override {
        if (Handle != nullptr) Pipe_Release(&Handle);
        NotificationCenter_RemoveObserver("Pipe", "Read", nullptr, Observe);
        EndBridge();
        Env.reset();
        RuntimeTest::TearDown();
    }
    TempDirectory Folder;
    std::unique_ptr<ScopedEnv> Env;
    Pipe *Handle = nullptr;
    char Id[40] = "";
};

TEST_F(PipeTest, DefaultsAndSetters) {
    uint32 Value = 7;
    Pipe_GetIsIn(Handle, &Value);
    EXPECT_EQ(Value, 1u);
    Pipe_GetBlocking(Handle, &Value);
    EXPECT_EQ(Value, 0u);
    Pipe_GetOpenExisting(Handle, &Value);
    EXPECT_EQ(Value, 0u);
    Pipe_GetBufferSize(Handle, &Value);
    EXPECT_EQ(Value, 0u);
    EXPECT_EQ(Pipe_SetBufferSize(Handle, 64), 1);
    EXPECT_EQ(Pipe_SetBufferSize(Handle, 0), 0);
    EXPECT_EQ(Pipe_SetBufferSize(Handle, -3), 0);
    Pipe_GetBufferSize(Handle, &Value);
    EXPECT_EQ(Value, 64u);
    EXPECT_TRUE(Pipe_ValidHandle(Handle));
    EXPECT_FALSE(Pipe_ValidHandle(nullptr));
    EXPECT_EQ(Class_ConvertFromInstanceId(Id), Handle);
    EXPECT_EQ(Pipe_IsOpen(Handle), 0);
    uint32 Count = 5;
    char Byte;
    EXPECT_EQ(Pipe_Read(Handle, &Byte, 1, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(Pipe_Flush(Handle), 0);
    EXPECT_EQ(Pipe_Accept(Handle), 0);
    EXPECT_EQ(Pipe_GetRemoteProcessId(Handle), 0);
}

TEST_F(PipeTest, BytesFromOutsideAreAnnouncedOnTheTick) {
    Pipe_SetName(Handle, "abc");
    const std::string Path = Folder / "abc";
    // A file of the user's under the name is no pipe: it stays, and the
    // start fails; a stale FIFO is replaced.
    std::ofstream(Path) << "kept";
    EXPECT_EQ(Pipe_Start(Handle), 0);
    EXPECT_EQ(ReadFile(Path), "kept");
    ASSERT_EQ(unlink(Path.c_str()), 0);
    ASSERT_EQ(mkfifo(Path.c_str(), 0644), 0); // made again with 0600 below
    ASSERT_EQ(Pipe_Start(Handle), 1);
    struct stat Status {};
    ASSERT_EQ(lstat(Path.c_str(), &Status), 0);
    EXPECT_TRUE(S_ISFIFO(Status.st_mode));
    EXPECT_EQ(Status.st_mode & 0777, 0600u);
    // Nothing written: a read answers 1 with 0 bytes, the tick fires nothing.
    uint32 Count = 9;
    char Buffer[16];
    EXPECT_EQ(Pipe_Read(Handle, Buffer, sizeof(Buffer), &Count), 1);
    EXPECT_EQ(Count, 0u);
    Pipe_Process(Handle);
    EXPECT_TRUE(Fired.empty());
    RunPython("import os\nfd = os.open('" + Path + "', os.O_WRONLY)\nos.write(fd, b'hi')\nos.close(fd)\n");
    StreamStruct *Stream = nullptr;
    Pipe_GetStreamHandle(Handle, &Stream);
    uint32 Waiting = 0;
    EXPECT_EQ(Stream_Peek(Stream, Buffer, 1, &Waiting), 1);
    EXPECT_NE(Waiting, 0u);
    Pipe_Process(Handle);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0], std::string("Pipe/Read/") + Id + "/{buffer:aGk=}");
    uint64 Bytes = 0;
    Pipe_GetBytesRead(Handle, &Bytes);
    EXPECT_EQ(Bytes, 2u);
    // Written by us, read back through the stream record.
    uint32 Written = 0;
    EXPECT_EQ(Stream_Write(Stream, "xyz", 3, &Written), 1);
    EXPECT_EQ(Written, 3u);
    EXPECT_EQ(Stream_Read(Stream, Buffer, sizeof(Buffer), &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "xyz");
    EXPECT_EQ(Stream_Flush(Stream), 1);
    EXPECT_EQ(Pipe_Close(Handle), 1);
    Pipe_GetBytesRead(Handle, &Bytes);
    EXPECT_EQ(Bytes, 0u);
    EXPECT_EQ(Pipe_IsOpen(Handle), 0);
    EXPECT_NE(access(Path.c_str(), F_OK), 0);
}

TEST_F(PipeTest, AnOutputPipeNeverFires) {
    Pipe_SetName(Handle, "out");
    Pipe_SetIsIn(Handle, 0);
    ASSERT_EQ(Pipe_Open(Handle), 1);
    uint32 Written = 0;
    Pipe_Write(Handle, "zz", 2, &Written);
    Pipe_Process(Handle);
    EXPECT_TRUE(Fired.empty());
}

TEST_F(PipeTest, NamesCannotLeaveThePipeFolder) {
    TempDirectory Outside;
    const std::string Sentinel = Outside / "x";
    std::ofstream(Sentinel) << "keep";
    const std::string Escape = "../" + Outside.Path.substr(Outside.Path.rfind('/') + 1) + "/x";
    for (const std::string &Name : {Escape, std::string("a/b"), std::string(".."), std::string("."),
                                    Outside.Path + "/x"}) {
        Pipe_SetName(Handle, Name.c_str());
        EXPECT_EQ(Pipe_Open(Handle), 0) << Name;
    }
    std::ifstream Kept(Sentinel);
    std::string Text;
    Kept >> Text;
    EXPECT_EQ(Text, "keep");
    // Braces are part of the name, not macros: the FIFO stays in the folder.
    Pipe_SetName(Handle, "{Temp}x");
    ASSERT_EQ(Pipe_Open(Handle), 1);
    EXPECT_EQ(access((Folder / "{Temp}x").c_str(), F_OK), 0);
}

TEST_F(PipeTest, OpenExistingNeedsAFifoAndCloseRemovesOnlyItsOwn) {
    const std::string Plain = Folder / "plain";
    std::ofstream(Plain) << "data";
    Pipe_SetName(Handle, "plain");
    Pipe_SetOpenExisting(Handle, 1);
    EXPECT_EQ(Pipe_Open(Handle), 0);
    EXPECT_EQ(access(Plain.c_str(), F_OK), 0);
    symlink(Plain.c_str(), (Folder / "link").c_str());
    Pipe_SetName(Handle, "link");
    EXPECT_EQ(Pipe_Open(Handle), 0);

    // Another pipe made the FIFO; ours connects to it.
    Pipe *Maker = nullptr;
    Pipe_Create(&Maker);
    Pipe_SetName(Maker, "shared");
    ASSERT_EQ(Pipe_Open(Maker), 1);
    Pipe_SetName(Handle, "shared");
    ASSERT_EQ(Pipe_Open(Handle), 1);
    // Someone replaced the name with a file of their own: a close leaves it.
    const std::string Shared = Folder / "shared";
    unlink(Shared.c_str());
    std::ofstream(Shared) << "theirs";
    Pipe_Close(Handle);
    Pipe_Release(&Maker);
    EXPECT_EQ(access(Shared.c_str(), F_OK), 0);
}

TEST_F(PipeTest, PlatformPrimitivesDirectly) {
    PlatformPipe *Fifo = nullptr;
    const std::string Path = Folder / "direct";
    EXPECT_EQ(Platform_PipeOpen(&Fifo, "", 0, 0), 0);
    ASSERT_EQ(Platform_PipeOpen(&Fifo, Path.c_str(), 0, PLATFORM_PIPE_BLOCKING), 1);
    int32 Available = 1;
    EXPECT_EQ(Platform_PipePeek(Fifo, nullptr, 0, &Available), 1);
    EXPECT_EQ(Available, 0);
    EXPECT_EQ(Platform_PipeClose(&Fifo), 1);
    EXPECT_EQ(Fifo, nullptr);
    EXPECT_NE(access(Path.c_str(), F_OK), 0);
}

} // namespace
