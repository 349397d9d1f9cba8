// Edit commands with their undo steps, as the editor runs them, on documents of one
// minute and one hour of stereo (1,000 segments each): cut, paste, silence, delete and
// undo in turn. Each command relinks segments and snapshots the list for undo, so the time
// per command should not depend on the length of the sound.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "document/edit_commands.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/sound.h"

namespace sonavel::bench {
namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::int32_t kSegments = 1000;

class Silent final : public PlaybackControl {
 public:
  void Stop() override {}
  void PlayFrom(AudioDocument&, std::int32_t) override {}
};

void BM_EditCommands(benchmark::State& state) {
  const std::string folder = JoinPath(TempFolder(), "sonavel-edit-bench");
  std::filesystem::create_directories(folder);
  Registry registry(JoinPath(folder, "user"), JoinPath(folder, "machine"));
  Settings settings(registry);
  settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  ScriptedUi ui;
  Silent playback;
  DocumentServices services{ui, settings, playback};
  EditClipboard clipboard;

  DocumentRef document = MakeCounted<AudioDocument>(kRate, 2, "Unbenannt 1");
  const BlockId block = AllocateBlock();
  const auto length = static_cast<std::int32_t>(state.range(0) * kRate / kSegments);
  for (std::int32_t i = 0; i < kSegments; ++i)
    AppendSegment(document->sound, NewSegment(block, length, kUnityGain, i * length));
  ReleaseBlock(block);
  EditContext context{*document, services, settings, clipboard};

  const std::int32_t start = (kSegments / 2) * length + length / 3;
  const int commands[] = {2002, 2004, 2014, 2006, 2001};  // cut, paste, silence, delete, undo
  std::int64_t done = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      const int id = commands[i % 5];
      SetSelection(*document, start, start + 2 * length, start);
      if (id == 2001)
        UndoCommand(*document, services);
      else
        RunEditCommand(id, context);
      ++done;
    }
  }
  // One iteration is 1,000 commands: its time in milliseconds is microseconds per command.
  state.counters["commands"] = static_cast<double>(done);
  state.counters["segments"] = SegmentCount(document->sound);
  document = DocumentRef();
  std::filesystem::remove_all(folder);
}

BENCHMARK(BM_EditCommands)->ArgName("seconds")->Arg(60)->Arg(3600)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sonavel::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::string folder = sonavel::JoinPath(sonavel::TempFolder(), "sonavel-edit-bench-blocks");
  std::filesystem::create_directories(folder);
  sonavel::SetWorkingFolder(folder);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  sonavel::CleanWorkingFolder();
  std::filesystem::remove_all(folder);
  return 0;
}
