#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "devices/alsa_output.h"
#include "devices/capture_output.h"
#include "devices/null_output.h"
#include "devices/wave_output.h"

namespace sonavel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Collects completion tags from the device thread.
class Completions {
 public:
  void Attach(WaveOutput& output) {
    output.SetCompletion([this](std::uintptr_t tag) {
      std::lock_guard lock(mutex_);
      tags_.push_back(tag);
      done_.notify_all();
    });
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return tags_.size() >= count; });
  }
  std::vector<std::uintptr_t> Tags() {
    std::lock_guard lock(mutex_);
    return tags_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::uintptr_t> tags_;
};

std::vector<std::uintptr_t> Sequence(std::uintptr_t from, std::uintptr_t count) {
  std::vector<std::uintptr_t> tags(count);
  std::iota(tags.begin(), tags.end(), from);
  return tags;
}

std::vector<std::int16_t> Noise(std::size_t count, unsigned seed) {
  std::vector<std::int16_t> samples(count);
  std::srand(seed);
  for (auto& sample : samples) sample = static_cast<std::int16_t>(std::rand() % 65536 - 32768);
  return samples;
}

TEST(NullOutput, PlaysTwoSecondsFollowingTheClock) {
  constexpr int kRate = 8000;
  constexpr int kFrames = 800;  // 100 ms per buffer
  constexpr int kBuffers = 20;
  NullOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({kRate, 1}, 0)) << output.error();
  std::vector<std::int16_t> silence(kFrames * kBuffers);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kBuffers; ++i)
    ASSERT_TRUE(output.Queue(silence.data() + i * kFrames, kFrames * 2, 100 + i));
  while (completions.Tags().size() < kBuffers && Clock::now() - start < 4s) {
    const std::int64_t position = output.Position();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double expected = std::min(elapsed * kRate, double{kFrames * kBuffers});
    EXPECT_NEAR(static_cast<double>(position), expected, kFrames) << "after " << elapsed;
    std::this_thread::sleep_for(40ms);
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(completions.Tags(), Sequence(100, kBuffers));
  EXPECT_GE(took, 1.95);
  EXPECT_LT(took, 2.6);
  EXPECT_EQ(output.Position(), kFrames * kBuffers);
}

TEST(NullOutput, IdleDeviceStartsANewBufferWhenQueued) {
  NullOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({1000, 1}, 0));
  std::vector<std::int16_t> buffer(50);  // 50 ms
  std::this_thread::sleep_for(100ms);   // idle time does not count
  const Clock::time_point queued = Clock::now();
  ASSERT_TRUE(output.Queue(buffer.data(), 100, 1));
  ASSERT_TRUE(completions.WaitFor(1, 1s));
  const auto took = Clock::now() - queued;
  EXPECT_GE(took, 45ms);
  EXPECT_LT(took, 150ms);
}

TEST(NullOutput, PauseHoldsThePosition) {
  NullOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({10000, 2}, 0));
  std::vector<std::int16_t> buffer(2 * 3000);  // 300 ms
  ASSERT_TRUE(output.Queue(buffer.data(), buffer.size() * 2, 5));
  std::this_thread::sleep_for(100ms);
  output.Pause();
  const std::int64_t held = output.Position();
  EXPECT_GT(held, 500);
  EXPECT_LT(held, 2000);
  std::this_thread::sleep_for(300ms);  // longer than the rest of the buffer
  EXPECT_EQ(output.Position(), held);
  EXPECT_TRUE(completions.Tags().empty());
  output.Restart();
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(output.Position(), held);
  ASSERT_TRUE(completions.WaitFor(1, 1s));
  EXPECT_EQ(output.Position(), 3000);
}

TEST(NullOutput, ResetRecyclesEveryPendingBufferAndRestartsAtZero) {
  NullOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({8000, 1}, 0));
  std::vector<std::int16_t> buffer(8000);  // 1 s
  for (std::uintptr_t tag = 1; tag <= 5; ++tag)
    ASSERT_TRUE(output.Queue(buffer.data(), buffer.size() * 2, tag));
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(output.Position(), 0);
  output.Reset();
  // Handed back before Reset returned.
  EXPECT_EQ(completions.Tags(), Sequence(1, 5));
  EXPECT_EQ(output.Position(), 0);
  ASSERT_TRUE(output.Queue(buffer.data(), 160, 9));  // 10 ms
  ASSERT_TRUE(completions.WaitFor(6, 1s));
  EXPECT_EQ(completions.Tags().back(), 9u);
  EXPECT_EQ(output.Position(), 80);
}

TEST(NullOutput, LoopingBufferRepeatsUntilReset) {
  NullOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({8000, 1}, 0));
  std::vector<std::int16_t> snippet(200);  // 25 ms
  ASSERT_TRUE(output.Queue(snippet.data(), snippet.size() * 2, 3, true));
  ASSERT_TRUE(output.Queue(snippet.data(), snippet.size() * 2, 4));
  std::this_thread::sleep_for(150ms);
  EXPECT_GT(output.Position(), 800);  // several laps
  EXPECT_TRUE(completions.Tags().empty());
  output.Reset();
  EXPECT_EQ(completions.Tags(), (std::vector<std::uintptr_t>{3, 4}));
}

TEST(NullOutput, CloseHandsBackQueuedBuffersAndStopsPromptly) {
  Completions completions;
  std::vector<std::int16_t> buffer(48000);
  const Clock::time_point start = Clock::now();
  {
    NullOutput output;
    completions.Attach(output);
    ASSERT_TRUE(output.Open({48000, 1}, 0));
    ASSERT_TRUE(output.Queue(buffer.data(), buffer.size() * 2, 1));
    ASSERT_TRUE(output.Queue(buffer.data(), buffer.size() * 2, 2));
    output.Close();
    EXPECT_FALSE(output.IsOpen());
    EXPECT_EQ(completions.Tags(), Sequence(1, 2));
    EXPECT_FALSE(output.Queue(buffer.data(), 2, 3));
    ASSERT_TRUE(output.Open({48000, 1}, 0));
    ASSERT_TRUE(output.Queue(buffer.data(), buffer.size() * 2, 4));
  }  // the destructor closes
  EXPECT_EQ(completions.Tags(), (std::vector<std::uintptr_t>{1, 2, 4}));
  EXPECT_LT(Clock::now() - start, 300ms);
}

TEST(NullOutput, RefusesFormatsAndPartialFrames) {
  NullOutput output;
  EXPECT_FALSE(output.Open({44100, 2, 8}, 0));
  EXPECT_NE(output.error().find("16-bit"), std::string::npos);
  EXPECT_FALSE(output.Open({44100, 3}, 0));
  EXPECT_NE(output.error().find("3 channels"), std::string::npos);
  EXPECT_FALSE(output.Open({0, 1}, 0));
  EXPECT_FALSE(output.IsOpen());
  ASSERT_TRUE(output.Open({44100, 2}, 0));
  EXPECT_TRUE(output.error().empty());
  std::vector<std::int16_t> buffer(4);
  EXPECT_FALSE(output.Queue(buffer.data(), 6, 1));  // one and a half frames
  EXPECT_FALSE(output.Queue(buffer.data(), 0, 1));
  EXPECT_TRUE(output.Queue(buffer.data(), 8, 1));
}

TEST(CaptureOutput, RecordsExactlyTheSamplesQueued) {
  CaptureOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({22050, 2}, 3));
  const std::vector<std::int16_t> sound = Noise(2 * 3000, 7);
  // Buffers of 1000, 1500 and 500 frames.
  ASSERT_TRUE(output.Queue(sound.data(), 4000, 11));
  ASSERT_TRUE(output.Queue(sound.data() + 2000, 6000, 12));
  ASSERT_TRUE(output.Queue(sound.data() + 5000, 2000, 13));
  ASSERT_TRUE(completions.WaitFor(3, 1s));
  EXPECT_EQ(completions.Tags(), Sequence(11, 3));
  EXPECT_EQ(output.Samples(), sound);
  const auto stretches = output.Stretches();
  ASSERT_EQ(stretches.size(), 3u);
  EXPECT_EQ(stretches[0].first_frame, 0);
  EXPECT_EQ(stretches[1].first_frame, 1000);
  EXPECT_EQ(stretches[2].first_frame, 2500);
  EXPECT_EQ(stretches[2].tag, 13u);
  EXPECT_EQ(output.Position(), 3000);
  output.Pause();
  output.Restart();
  output.Reset();
  output.Close();
  EXPECT_EQ(output.Calls(),
            (std::vector<std::string>{"Open 22050 2 16 3", "Queue 4000 11", "Queue 6000 12",
                                      "Queue 2000 13", "Pause", "Restart", "Reset", "Close"}));
}

TEST(CaptureOutput, RealTimePaceRecordsWhenSoundWasPlayed) {
  CaptureOutput output(NullOutput::Pace::kRealTime);
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({1000, 1}, 0));
  const std::vector<std::int16_t> sound = Noise(60, 3);
  ASSERT_TRUE(output.Queue(sound.data(), 60, 1));        // 30 ms
  ASSERT_TRUE(output.Queue(sound.data() + 30, 60, 2));  // 30 ms
  ASSERT_TRUE(completions.WaitFor(2, 1s));
  const auto stretches = output.Stretches();
  ASSERT_EQ(stretches.size(), 2u);
  EXPECT_NEAR(stretches[1].seconds - stretches[0].seconds, 0.030, 0.002);
  EXPECT_EQ(output.Samples(), sound);
}

TEST(CaptureOutput, FastLoopPlaysOneLapAndHoldsUntilReset) {
  CaptureOutput output;
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({8000, 1}, 0));
  const std::vector<std::int16_t> snippet = Noise(100, 5);
  ASSERT_TRUE(output.Queue(snippet.data(), 200, 1, true));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(output.Samples(), snippet);
  EXPECT_TRUE(completions.Tags().empty());
  output.Reset();
  EXPECT_EQ(completions.Tags(), Sequence(1, 1));
  EXPECT_EQ(output.Calls().at(1), "Queue 200 1 loop");
}

TEST(Volume, ScalingIsExact) {
  EXPECT_EQ(ScaleSample(16384, 0x8000), 8192);
  EXPECT_EQ(ScaleSample(-16384, 0x8000), -8192);
  EXPECT_EQ(ScaleSample(-1, 0x8000), -1);  // rounded towards minus infinity
  EXPECT_EQ(ScaleSample(1, 0x8000), 0);
  EXPECT_EQ(ScaleSample(32767, 0xFFFF), 32767);
  EXPECT_EQ(ScaleSample(-32768, 0xFFFF), -32768);
  EXPECT_EQ(ScaleSample(-32768, 0xFFFE), -32767);
  EXPECT_EQ(ScaleSample(12345, 0), 0);

  CaptureOutput output;
  Completions completions;
  completions.Attach(output);
  output.SetVolume(0x8000, 0x4000);
  EXPECT_EQ(output.VolumeLeft(), 0x8000);
  EXPECT_EQ(output.VolumeRight(), 0x4000);
  EXPECT_EQ(output.Volume(), 0x40008000u);
  ASSERT_TRUE(output.Open({8000, 2}, 0));
  const std::vector<std::int16_t> stereo{16384, 16384, -16384, -16384, 32767, -32768, 3, -3};
  ASSERT_TRUE(output.Queue(stereo.data(), stereo.size() * 2, 1));
  ASSERT_TRUE(completions.WaitFor(1, 1s));
  EXPECT_EQ(output.Samples(),
            (std::vector<std::int16_t>{8192, 4096, -8192, -4096, 16383, -8192, 1, -1}));
  output.Close();

  // Mono takes the left value.
  ASSERT_TRUE(output.Open({8000, 1}, 0));
  output.ClearRecord();
  ASSERT_TRUE(output.Queue(stereo.data(), 4, 2));
  ASSERT_TRUE(completions.WaitFor(2, 1s));
  EXPECT_EQ(output.Samples(), (std::vector<std::int16_t>{8192, 8192}));
}

TEST(OutputDevice, StoredChoiceGivesTheDeviceNumber) {
  const std::vector<std::string> names = {"default", "hw:CARD=PCH,DEV=0", "hdmi:CARD=HDMI,DEV=0"};
  EXPECT_EQ(OutputDeviceNumber("", names), 0);
  EXPECT_EQ(OutputDeviceNumber("0", names), 0);
  EXPECT_EQ(OutputDeviceNumber("2", names), 2);
  EXPECT_EQ(OutputDeviceNumber("hw:CARD=PCH,DEV=0", names), 2);
  EXPECT_EQ(OutputDeviceNumber("hdmi:CARD=HDMI,DEV=0", names), 3);
  // A card that is gone: the default device.
  EXPECT_EQ(OutputDeviceNumber("hw:CARD=USB,DEV=0", names), 0);
  EXPECT_EQ(OutputDeviceNumber("hw:CARD=PCH,DEV=0", {}), 0);
}

TEST(Volume, LevelMapping) {
  EXPECT_EQ(LevelToDeviceVolume(-127), 0);
  EXPECT_EQ(LevelToDeviceVolume(-36), 0);
  EXPECT_EQ(LevelToDeviceVolume(-35), 1424);
  EXPECT_EQ(LevelToDeviceVolume(0), 51264);
  EXPECT_EQ(LevelToDeviceVolume(10), 65504);
  EXPECT_EQ(LevelToDeviceVolume(11), 65535);
  EXPECT_EQ(LevelToDeviceVolume(127), 65535);
  EXPECT_EQ(DeviceVolumeToLevel(0), -36);
  EXPECT_EQ(DeviceVolumeToLevel(51264), 0);
  EXPECT_EQ(DeviceVolumeToLevel(51263), -1);
  EXPECT_EQ(DeviceVolumeToLevel(0x8000), -13);
  EXPECT_EQ(DeviceVolumeToLevel(65535), 10);
}

TEST(AlsaOutput, PlaysAndCompletesOnTheNullDevice) {
  AlsaOutput output("null");
  Completions completions;
  completions.Attach(output);
  ASSERT_TRUE(output.Open({44100, 2}, 0)) << output.error();
  EXPECT_EQ(output.pcm_name(), "null");
  EXPECT_GT(output.period_frames(), 0);
  EXPECT_GE(output.buffer_frames(), output.period_frames());
  const std::vector<std::int16_t> sound = Noise(2 * 441 * 6, 9);
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(output.Queue(sound.data() + i * 882, 882 * 2, 20 + i));
  ASSERT_TRUE(completions.WaitFor(6, 3s));
  EXPECT_EQ(completions.Tags(), Sequence(20, 6));
  EXPECT_EQ(output.Position(), 6 * 441);

  output.Pause();
  output.Restart();
  ASSERT_TRUE(output.Queue(sound.data(), 882 * 2, 30, true));
  ASSERT_TRUE(output.Queue(sound.data(), 882 * 2, 31));
  std::this_thread::sleep_for(20ms);
  output.Reset();
  EXPECT_EQ(completions.Tags().size(), 8u);
  EXPECT_EQ(completions.Tags()[6], 30u);
  EXPECT_EQ(output.Position(), 0);
  ASSERT_TRUE(output.Queue(sound.data(), 882 * 2, 32));
  ASSERT_TRUE(completions.WaitFor(9, 3s));
  output.Close();
  EXPECT_FALSE(output.IsOpen());
}

TEST(AlsaOutput, ReportsWhyOpenFailed) {
  AlsaOutput output("sonavel_no_such_pcm");
  EXPECT_FALSE(output.Open({44100, 2}, 0));
  EXPECT_NE(output.error().find("sonavel_no_such_pcm"), std::string::npos);
  EXPECT_FALSE(output.IsOpen());
  AlsaOutput numbered;
  EXPECT_FALSE(numbered.Open({44100, 2}, 100000));
  EXPECT_NE(numbered.error().find("100000"), std::string::npos);
}

TEST(CreateWaveOutput, FallsBackToNullWhenAlsaCannotOpen) {
  std::unique_ptr<WaveOutput> fallback = CreateWaveOutputOn("sonavel_no_such_pcm");
  ASSERT_NE(fallback, nullptr);
  EXPECT_NE(dynamic_cast<NullOutput*>(fallback.get()), nullptr);
  Completions completions;
  completions.Attach(*fallback);
  ASSERT_TRUE(fallback->Open({8000, 1}, 0));
  std::vector<std::int16_t> buffer(80);
  ASSERT_TRUE(fallback->Queue(buffer.data(), 160, 1));
  ASSERT_TRUE(completions.WaitFor(1, 1s));

  std::unique_ptr<WaveOutput> alsa = CreateWaveOutputOn("null");
  EXPECT_NE(dynamic_cast<AlsaOutput*>(alsa.get()), nullptr);
  // A device number beyond the list has no ALSA name.
  EXPECT_NE(dynamic_cast<NullOutput*>(CreateWaveOutput(100000).get()), nullptr);
}

TEST(Factory, MakesEachBackendClosed) {
  auto alsa = OpenWaveOutputBackend(OutputBackend::kAlsa);
  auto null = OpenWaveOutputBackend(OutputBackend::kNull);
  auto capture = OpenWaveOutputBackend(OutputBackend::kCapture);
  EXPECT_NE(dynamic_cast<AlsaOutput*>(alsa.get()), nullptr);
  EXPECT_NE(dynamic_cast<NullOutput*>(null.get()), nullptr);
  EXPECT_NE(dynamic_cast<CaptureOutput*>(capture.get()), nullptr);
  EXPECT_FALSE(alsa->IsOpen());
  EXPECT_FALSE(null->IsOpen());
  for (const std::string& name : OutputDeviceNames()) {
    EXPECT_NE(name, "default");
    EXPECT_NE(name, "null");
  }
}

}  // namespace
}  // namespace sonavel
