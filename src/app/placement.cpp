#include "app/placement.h"

#include <algorithm>

#include "platform/setting_keys.h"
#include "platform/settings.h"

namespace sonavel {

FramePlacement RestoreFramePlacement(const SettingsReader& settings) {
  FramePlacement placement;
  placement.x = settings.ReadUser(setting::kWindowX);
  placement.y = settings.ReadUser(setting::kWindowY);
  placement.width = settings.ReadUser(setting::kWindowWidth);
  placement.height = settings.ReadUser(setting::kWindowHeight);
  placement.maximized = settings.ReadUser(setting::kWindowMaximized);
  return placement;
}

void SaveFramePlacement(Settings& settings, FrameState state, const FramePlacement& rectangle,
                        int desktop_right) {
  if (state == FrameState::kMinimized) return;
  if (state == FrameState::kMaximized) {
    settings.WriteUser(setting::kWindowMaximized, true);
    return;
  }
  const int right = std::min(rectangle.x + rectangle.width, desktop_right);
  settings.WriteUser(setting::kWindowMaximized, false);
  settings.WriteUser(setting::kWindowX, rectangle.x);
  settings.WriteUser(setting::kWindowY, rectangle.y);
  settings.WriteUser(setting::kWindowWidth, right - rectangle.x);
  settings.WriteUser(setting::kWindowHeight, rectangle.height);
}

}  // namespace sonavel
