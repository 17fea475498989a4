// The dock tile's display list for the plain, determinate, moving-stripe and
// overlay states, and its redraw rate on the test clock; the taskbar view
// that drives it.
#include "platform/posix/native_dock_tile.h"

#include <math.h>

#include "platform/ui/native_taskbar.h"
#include "runtime/time.h"
#include "tests/support/native_ui.h"

namespace {

class NativeDockTileTest : public NativeUITest {
  protected:
    void SetUp() override {
        Time_TestClockStart(1000);
        NativeUITest::SetUp();
    }
    void TearDown() override {
        NativeUITest::TearDown();
        Time_TestClockStop();
    }
    // Lets the refresh interval pass and refreshes.
    void Redraw() {
        Time_TestClockAdvance(125);
        NativeTaskbar_Refresh();
    }
};

bool IsFill(const NativeDrawCommand &Command, double X, double Y, double Width, double Height) {
    auto Near = [](double A, double B) { return fabs(A - B) < 1e-9; };
    return Command.Type == NativeDrawCommand::FillRect && Near(Command.X, X) && Near(Command.Y, Y) &&
           Near(Command.Width, Width) && Near(Command.Height, Height);
}

} // namespace

TEST_F(NativeDockTileTest, NewTileShowsTheIconWithoutABar) {
    Redraw();
    ASSERT_EQ(Model->DockTileRedisplays, 1);
    ASSERT_EQ(Model->DockTile.size(), 1u);
    EXPECT_EQ(Model->DockTile[0].Type, NativeDrawCommand::Image);
    EXPECT_EQ(Model->DockTile[0].Width, 128);
    // Nothing changed: no redraw.
    Redraw();
    EXPECT_EQ(Model->DockTileRedisplays, 1);
}

TEST_F(NativeDockTileTest, DeterminateBar) {
    ASSERT_EQ(NativeTaskbar_SetProgress(nullptr, 50), 1);
    Redraw();
    const NativeDisplayList &Drawing = Model->DockTile;
    ASSERT_EQ(Drawing.size(), 5u);
    EXPECT_TRUE(IsFill(Drawing[1], 0, 0, 128, 16));
    EXPECT_EQ(Drawing[1].Colour, "controlShadow");
    EXPECT_TRUE(IsFill(Drawing[2], 1, 1, 126, 14));
    EXPECT_EQ(Drawing[2].Colour, "white");
    EXPECT_TRUE(IsFill(Drawing[3], 2, 2, 124, 12));
    EXPECT_EQ(Drawing[3].Colour, "control");
    // Half of the inner width (128 - 6) in the bar colour.
    EXPECT_TRUE(IsFill(Drawing[4], 3, 3, 61, 10));
    EXPECT_DOUBLE_EQ(Drawing[4].Red, 0.1171875);
    EXPECT_DOUBLE_EQ(Drawing[4].Green, 0.40625);
    EXPECT_DOUBLE_EQ(Drawing[4].Blue, 0.81640625);
    EXPECT_DOUBLE_EQ(Drawing[4].Alpha, 1.0);
}

TEST_F(NativeDockTileTest, StripesMoveWithTimeAndWrap) {
    NativeTaskbar_SetProgress(nullptr, -1);
    Redraw(); // 125 ms: floor(2.5) = 2 steps
    auto FirstBlockX = [&] {
        for (const NativeDrawCommand &Command : Model->DockTile)
            if (Command.Type == NativeDrawCommand::Parallelogram) return Command.Points[6];
        return 1e9;
    };
    EXPECT_EQ(FirstBlockX(), -2);
    size_t Blocks = 0;
    for (const NativeDrawCommand &Command : Model->DockTile) {
        if (Command.Type != NativeDrawCommand::Parallelogram) continue;
        Blocks++;
        EXPECT_TRUE(Command.X == 3 && Command.Y == 3 && Command.Width == 122 && Command.Height == 10);
        EXPECT_EQ(Command.Points[2] - Command.Points[0], 10);
        EXPECT_EQ(Command.Points[5], 13);
    }
    EXPECT_EQ(Blocks, 7u); // x = -2, 18, ..., 118
    // A long pause moves at most 5 steps.
    Time_TestClockAdvance(10000);
    NativeTaskbar_Refresh();
    EXPECT_EQ(FirstBlockX(), -7);
    // 7 + 5 + 5 + 5 = 22 wraps to 2.
    for (int Step = 0; Step < 3; Step++) {
        Time_TestClockAdvance(1000);
        NativeTaskbar_Refresh();
    }
    EXPECT_EQ(FirstBlockX(), -2);

    // Back to a filled bar.
    NativeTaskbar_SetProgress(nullptr, 80);
    Redraw();
    EXPECT_EQ(FirstBlockX(), 1e9);
    EXPECT_TRUE(IsFill(Model->DockTile.back(), 3, 3, 122 * 0.8, 10));
}

TEST_F(NativeDockTileTest, OutOfRangeChangesNothing) {
    NativeTaskbar_SetProgress(nullptr, 30);
    Redraw();
    int32 Redisplays = Model->DockTileRedisplays;
    for (int32 Value : {101, -3, 1000, -100}) EXPECT_EQ(NativeTaskbar_SetProgress(nullptr, Value), 0) << Value;
    EXPECT_EQ(NativeTaskbar_SetProgress(nullptr, 30), 1);
    Redraw();
    EXPECT_EQ(Model->DockTileRedisplays, Redisplays);
    EXPECT_TRUE(IsFill(Model->DockTile.back(), 3, 3, 122 * 0.3, 10));
}

TEST_F(NativeDockTileTest, RedrawsAtMostEveryEighthSecond) {
    NativeTaskbar_SetProgress(nullptr, -1);
    // Calls 50 ms apart over one second: redraws at 150, 300, ... (every third call).
    for (int Call = 0; Call < 20; Call++) {
        Time_TestClockAdvance(50);
        NativeTaskbar_Refresh();
    }
    EXPECT_EQ(Model->DockTileRedisplays, 6);
}

TEST_F(NativeDockTileTest, OverlayInTheTopRightQuarter) {
    int Image = 0;
    NativeTaskbar_SetOverlayIcon(nullptr, &Image);
    Redraw();
    ASSERT_EQ(Model->DockTile.size(), 2u);
    const NativeDrawCommand &Overlay = Model->DockTile[1];
    EXPECT_EQ(Overlay.Type, NativeDrawCommand::Image);
    EXPECT_EQ(Overlay.ImageHandle, &Image);
    EXPECT_TRUE(Overlay.X == 64 && Overlay.Y == 64 && Overlay.Width == 64 && Overlay.Height == 64);
    NativeTaskbar_SetOverlayIcon(nullptr, nullptr);
    Redraw();
    EXPECT_EQ(Model->DockTile.size(), 1u);
}

TEST(NativeDockProgressIndicator, AnimationFrameWraps) {
    NativeDockProgressIndicator Bar(128, 16);
    struct { int32 Set, Read; } Rows[] = {{0, 0}, {20, 20}, {21, 1}, {25, 5}, {40, 20}};
    for (auto &Row : Rows) {
        Bar.setAnimationFrame(Row.Set);
        EXPECT_EQ(Bar.animationFrame(), Row.Read) << Row.Set;
    }
}
