#include "app/placement.h"

#include <algorithm>

#include "platform/settings.h"

namespace sonavel {

namespace {
constexpr const char* kGroup = "MainWindow";
}  // namespace

FramePlacement RestoreFramePlacement(const SettingsReader& settings) {
  FramePlacement placement;
  placement.x = settings.ReadUserInt(kGroup, "X", placement.x);
  placement.y = settings.ReadUserInt(kGroup, "Y", placement.y);
  placement.width = settings.ReadUserInt(kGroup, "Width", placement.width);
  placement.height = settings.ReadUserInt(kGroup, "Height", placement.height);
  placement.maximized = settings.ReadUserBool(kGroup, "Maximized", placement.maximized);
  return placement;
}

void SaveFramePlacement(Settings& settings, FrameState state, const FramePlacement& rectangle,
                        int desktop_right) {
  if (state == FrameState::kMinimized) return;
  if (state == FrameState::kMaximized) {
    settings.WriteUserValue(kGroup, "Maximized", 1);
    return;
  }
  const int right = std::min(rectangle.x + rectangle.width, desktop_right);
  settings.WriteUserValue(kGroup, "Maximized", 0);
  settings.WriteUserValue(kGroup, "X", rectangle.x);
  settings.WriteUserValue(kGroup, "Y", rectangle.y);
  settings.WriteUserValue(kGroup, "Width", right - rectangle.x);
  settings.WriteUserValue(kGroup, "Height", rectangle.height);
}

}  // namespace sonavel
