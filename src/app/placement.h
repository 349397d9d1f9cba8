#pragma once
// The main window's placement between runs, in the user's settings (setting::kWindowX …
// kWindowMaximized); a placement starts at their defaults.

#include "platform/setting_keys.h"

namespace sonavel {

// With `maximized` the rectangle is the normal one behind the maximised window.
struct FramePlacement {
  int x = setting::kWindowX.fallback;
  int y = setting::kWindowY.fallback;
  int width = setting::kWindowWidth.fallback;
  int height = setting::kWindowHeight.fallback;
  bool maximized = setting::kWindowMaximized.fallback;
};

enum class FrameState { kNormal, kMaximized, kMinimized };

FramePlacement RestoreFramePlacement(const SettingsReader& settings);

// At exit: a maximised frame writes only "Maximized" = 1, a minimised one nothing, a normal
// one "Maximized" = 0 and its rectangle, the right edge clipped to the desktop's.
void SaveFramePlacement(Settings& settings, FrameState state, const FramePlacement& rectangle,
                        int desktop_right);

}  // namespace sonavel
