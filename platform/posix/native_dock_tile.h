// The application's dock tile: the application icon, an optional overlay
// image in its top-right quarter and an optional progress bar along its
// bottom edge (a filled percentage, or moving stripes for work of unknown
// length). NativeDockTileView is the tile's content and owns the bar,
// NativeDockProgressIndicator, which it draws itself.
//
// Drawing produces a display list of commands (native_ui_backend.h) that the
// backend shows: the model keeps it, the GTK backend paints it with cairo as
// the window icon. The tile redraws only when dirty and at most every 0.125
// seconds of the monotonic clock; main thread only.
#pragma once

#include "platform/posix/native_ui_backend.h"

class NativeDockProgressIndicator {
  public:
    explicit NativeDockProgressIndicator(float64 Width, float64 Height) : Width(Width), Height(Height) {}

    void drawRect(NativeDisplayList &Drawing) const;
    void drawBackground(NativeDisplayList &Drawing) const;
    void drawIndeterminateBlock(NativeDisplayList &Drawing, float64 X) const;

    // Offsets past 20 wrap back by 20, so the stripes loop every 20 points.
    void setAnimationFrame(int32 Frame) { AnimationFrame = Frame < 21 ? Frame : Frame - 20; }
    int32 animationFrame() const { return AnimationFrame; }
    void setIndeterminate(int32 Value) { Indeterminate = Value; }
    int32 indeterminate() const { return Indeterminate; }
    void setProgress(int32 Value) { Progress = Value; }
    int32 progress() const { return Progress; }
    void setBarColor(float64 Red, float64 Green, float64 Blue, float64 Alpha) { BarColor = {Red, Green, Blue, Alpha}; }

    float64 Width, Height;

  private:
    int32 AnimationFrame = 0;
    int32 Progress = 0;
    int32 Indeterminate = 0;
    struct Colour {
        float64 Red, Green, Blue, Alpha;
    } BarColor{30.0 / 256, 104.0 / 256, 209.0 / 256, 1.0};
};

class NativeDockTileView {
  public:
    // Makes the bar (determinate at 0) across the tile's bottom, 16 points high.
    explicit NativeDockTileView(int32 TileSize);
    ~NativeDockTileView() = default;

    // Redraws when due and dirty (see above); the backend shows the drawing.
    void refresh();
    void drawRect(NativeDisplayList &Drawing) const;

    // -2 no bar, -1 stripes, 0-100 percent; answers 0 for other values.
    int32 setProgress(int32 Value);
    int32 progress() const { return Progress; }
    void setIndeterminate(int32 Value);
    int32 indeterminate() const { return Indeterminate; }
    void setDirty(int32 Value) { Dirty = Value; }
    int32 dirty() const { return Dirty; }
    void setOverlayImage(void *Image) { OverlayImage = Image; }
    void *overlayImage() const { return OverlayImage; }
    void setApplicationIcon(void *Image) { ApplicationIcon = Image; }
    void *applicationIcon() const { return ApplicationIcon; }
    NativeDockProgressIndicator &progressIndicator() { return ProgressIndicator; }

  private:
    int32 TileSize;
    NativeDockProgressIndicator ProgressIndicator;
    int32 Progress = -2;
    int32 Indeterminate = 0;
    int32 Dirty = 0;
    void *OverlayImage = nullptr;
    void *ApplicationIcon = nullptr;
    float64 LastUpdateTime;
};
