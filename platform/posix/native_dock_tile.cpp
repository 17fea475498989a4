// The dock tile and its progress bar (see native_dock_tile.h).
#include "platform/posix/native_dock_tile.h"

#include <math.h>

#include "runtime/time.h"

namespace {

constexpr float64 BarHeight = 16;
constexpr float64 BarBorder = 3;
constexpr float64 StripeSpacing = 20;
constexpr float64 RefreshInterval = 0.125;
constexpr int32 StepsPerSecond = 20;
constexpr int32 MostStepsPerRedraw = 5;

NativeDrawCommand Fill(float64 X, float64 Y, float64 Width, float64 Height, const char *Colour) {
    NativeDrawCommand Command(NativeDrawCommand::FillRect);
    Command.X = X;
    Command.Y = Y;
    Command.Width = Width;
    Command.Height = Height;
    Command.Colour = Colour;
    return Command;
}

} // namespace

void NativeDockProgressIndicator::drawBackground(NativeDisplayList &Drawing) const {
    Drawing.push_back(Fill(0, 0, Width, Height, "controlShadow"));
    Drawing.push_back(Fill(1, 1, Width - 2, Height - 2, "white"));
    Drawing.push_back(Fill(2, 2, Width - 4, Height - 4, "control"));
}

void NativeDockProgressIndicator::drawIndeterminateBlock(NativeDisplayList &Drawing, float64 X) const {
    NativeDrawCommand Block(NativeDrawCommand::Parallelogram);
    Block.X = BarBorder;
    Block.Y = BarBorder;
    Block.Width = Width - 2 * BarBorder;
    Block.Height = Height - 2 * BarBorder;
    Block.Red = BarColor.Red;
    Block.Green = BarColor.Green;
    Block.Blue = BarColor.Blue;
    Block.Alpha = BarColor.Alpha;
    const float64 Corners[8] = {X + 10, BarBorder, X + 20, BarBorder, X + 10, Height - BarBorder, X, Height - BarBorder};
    for (int32 Index = 0; Index < 8; Index++) Block.Points[Index] = Corners[Index];
    Drawing.push_back(Block);
}

void NativeDockProgressIndicator::drawRect(NativeDisplayList &Drawing) const {
    drawBackground(Drawing);
    if (!Indeterminate) {
        NativeDrawCommand Bar = Fill(BarBorder, BarBorder, (Width - 2 * BarBorder) * Progress / 100.0,
                                     Height - 2 * BarBorder, "");
        Bar.Red = BarColor.Red;
        Bar.Green = BarColor.Green;
        Bar.Blue = BarColor.Blue;
        Bar.Alpha = BarColor.Alpha;
        Drawing.push_back(Bar);
        return;
    }
    for (float64 X = -AnimationFrame; X < Width; X += StripeSpacing) drawIndeterminateBlock(Drawing, X);
}

NativeDockTileView::NativeDockTileView(int32 TileSize)
    : TileSize(TileSize), ProgressIndicator(TileSize, BarHeight), LastUpdateTime(Time_GetCurrent()) {}

int32 NativeDockTileView::setProgress(int32 Value) {
    if (Value < -2 || Value > 100) return FALSE;
    if (Value == Progress) return TRUE;
    Progress = Value;
    if (Value == -2) {
        setIndeterminate(FALSE);
    } else if (Value == -1) {
        setIndeterminate(TRUE);
    } else {
        setIndeterminate(FALSE);
        ProgressIndicator.setProgress(Value);
    }
    Dirty = TRUE;
    return TRUE;
}

void NativeDockTileView::setIndeterminate(int32 Value) {
    if (Value == Indeterminate) return;
    Indeterminate = Value;
    ProgressIndicator.setIndeterminate(Value);
}

void NativeDockTileView::refresh() {
    float64 Now = Time_GetCurrent();
    if (Now - LastUpdateTime < RefreshInterval) return;
    if (Indeterminate) {
        int32 Steps = (int32)floor((Now - LastUpdateTime) * StepsPerSecond);
        if (Steps > MostStepsPerRedraw) Steps = MostStepsPerRedraw;
        ProgressIndicator.setAnimationFrame(ProgressIndicator.animationFrame() + Steps);
        Dirty = TRUE;
    }
    if (!Dirty) return;
    LastUpdateTime = Now;
    NativeDisplayList Drawing;
    drawRect(Drawing);
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->DockTileDisplay(Drawing, TileSize, TileSize);
    Dirty = FALSE;
}

void NativeDockTileView::drawRect(NativeDisplayList &Drawing) const {
    NativeDrawCommand Icon(NativeDrawCommand::Image);
    Icon.Width = TileSize;
    Icon.Height = TileSize;
    Icon.ImageHandle = ApplicationIcon;
    Drawing.push_back(Icon);
    if (OverlayImage != nullptr) {
        NativeDrawCommand Overlay(NativeDrawCommand::Image);
        Overlay.X = TileSize / 2.0;
        Overlay.Y = TileSize / 2.0;
        Overlay.Width = TileSize / 2.0;
        Overlay.Height = TileSize / 2.0;
        Overlay.ImageHandle = OverlayImage;
        Drawing.push_back(Overlay);
    }
    if (Progress >= -1) ProgressIndicator.drawRect(Drawing);
}
