#pragma once
// The main window's placement between runs, in the user's "MainWindow" group: "X", "Y",
// "Width", "Height" (defaults 160, 80, 740, 627) and "Maximized" (default 1).

namespace sonavel {

class Settings;
class SettingsReader;

struct FramePlacement {
  int x = 160;
  int y = 80;
  int width = 740;
  int height = 627;
  bool maximized = true;  // the rectangle is then the normal one behind the maximised window
};

enum class FrameState { kNormal, kMaximized, kMinimized };

FramePlacement RestoreFramePlacement(const SettingsReader& settings);

// At exit: a maximised frame writes only "Maximized" = 1, a minimised one nothing, a normal
// one "Maximized" = 0 and its rectangle, the right edge clipped to the desktop's.
void SaveFramePlacement(Settings& settings, FrameState state, const FramePlacement& rectangle,
                        int desktop_right);

}  // namespace sonavel
