#include "app/window_placement.h"

#include <algorithm>
#include <cmath>

namespace avendro {
namespace {

// Below half size the captions can no longer be read; a smaller screen shows
// what fits from the top-left.
constexpr double kSmallestScale = 0.5;

int Centred(int start, int room, int length) { return start + std::max(0, (room - length) / 2); }

}  // namespace

int Scaled(int pixels, double scale) { return static_cast<int>(std::lround(pixels * scale)); }

FramePosition PlaceFrame(const ScreenArea& work_area, int width, int height) {
  return {Centred(work_area.x, work_area.width, width),
          Centred(work_area.y, work_area.height, height)};
}

WindowPlacement PlaceWindow(const ScreenArea& work_area, const FrameMargins& frame,
                            int client_width, int client_height) {
  const int room_width = work_area.width - frame.left - frame.right;
  const int room_height = work_area.height - frame.top - frame.bottom;
  const double scale = std::clamp(std::min(static_cast<double>(room_width) / client_width,
                                           static_cast<double>(room_height) / client_height),
                                  kSmallestScale, 1.0);
  return {scale, PlaceFrame(work_area, Scaled(client_width, scale) + frame.left + frame.right,
                            Scaled(client_height, scale) + frame.top + frame.bottom)};
}

}  // namespace avendro
