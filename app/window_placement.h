#pragma once

namespace avendro {

// Lengths in logical pixels, as Qt gives them at any display scaling.
struct ScreenArea {
  int x, y, width, height;
};

// What the window manager draws around the client area; `top` holds the title bar.
struct FrameMargins {
  int left, top, right, bottom;
};

// The frame Windows 10 draws around a window at 100 % (AdjustWindowRectEx for
// WS_OVERLAPPEDWINDOW): borders of 8 pixels (SM_CXSIZEFRAME 4 and
// SM_CXPADDEDBORDER 4) and a 23-pixel caption (SM_CYCAPTION) over the top one.
// Window managers of X11 draw title bars of about the same height.
inline constexpr FrameMargins kWindows10Frame{8, 31, 8, 8};

struct FramePosition {
  int x, y;  // the frame's top-left
};

struct WindowPlacement {
  double scale;  // of the whole client area: fonts, controls and pictures; at most 1
  FramePosition frame;
};

// `pixels` at `scale`, as the window draws them.
int Scaled(int pixels, double scale);

// Where a frame of `width` x `height` goes on the work area: centred, but
// never above or left of it, so that the title bar stays on the screen.
FramePosition PlaceFrame(const ScreenArea& work_area, int width, int height);

// A client area of `client_width` x `client_height` at full size where its
// frame fits on the work area, else scaled down until it does; its frame
// placed by PlaceFrame.
WindowPlacement PlaceWindow(const ScreenArea& work_area, const FrameMargins& frame,
                            int client_width, int client_height);

}  // namespace avendro
