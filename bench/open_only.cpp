// Opens a file the way the editor does, into the sample store, and nothing more: the open
// path (a reader of ours, or ffmpeg for the other formats) plus the load into block files,
// for timing against a peer decoding to /dev/null. Prints the frames loaded.
// Usage: open_only FILE

#include <cstdio>

#include "formats/open_file.h"
#include "platform/progress.h"
#include "platform/ui.h"
#include "store/sound.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: open_only FILE\n");
    return 2;
  }
  sonavel::ConsoleUi ui;
  sonavel::SilentProgress progress;
  sonavel::Sound sound;
  if (sonavel::OpenSoundFile(argv[1], sound, progress, ui) != sonavel::kDone) return 1;
  std::printf("%d frames loaded\n", sonavel::SoundLength(sound));
  return 0;
}
