#include "devices/playback_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/capture_output.h"
#include "devices/main_thread_queue.h"
#include "devices/null_output.h"
#include "formats/wav_writer.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::StoreTest;
using testing::WriteSound;

// Writes down every notification and checks it arrives on the thread that drains.
class RecordingListener : public PlaybackListener {
 public:
  void OnStarted(int cookie) override { Add("started", cookie); }
  void OnStopped(int cookie) override { Add("stopped", cookie); }
  void OnScrubStarted(int cookie) override { Add("scrub", cookie); }
  void OnPosition(std::int64_t milliseconds, int cookie) override {
    Add("position " + std::to_string(milliseconds), cookie);
    positions.push_back({Clock::now(), milliseconds});
  }
  void OnLevels(const LevelRecord& levels, int cookie) override {
    Add("levels", cookie);
    last_levels = levels;
  }

  std::vector<std::string> events;
  std::vector<std::pair<Clock::time_point, std::int64_t>> positions;
  LevelRecord last_levels;
  std::thread::id ui_thread = std::this_thread::get_id();
  bool wrong_thread = false;
  int wrong_cookie = 0;

 private:
  void Add(std::string event, int cookie) {
    if (std::this_thread::get_id() != ui_thread) wrong_thread = true;
    if (cookie != 7) ++wrong_cookie;
    events.push_back(std::move(event));
  }
};

// Stereo sound whose peaks reach 0x100000, beyond what 16 bits take without the limiter.
Sound LoudStereo(std::int32_t frames, std::int32_t rate = 44100) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames) * 2);
  for (std::int32_t i = 0; i < frames; ++i) {
    samples[2 * i] = static_cast<std::int32_t>((std::int64_t{i} * 7919) % 0x200000) - 0x100000;
    samples[2 * i + 1] = (i % 300) * 50 - 7000;
  }
  return WriteSound(samples, 2, rate);
}

// What the device should get for `frames` frames from `start`: through the limiter, as
// the engine plays a reader, then to 16 bits.
std::vector<std::int16_t> Expected(const Sound& sound, std::int32_t start, std::int32_t frames) {
  SourceRef source = LimitTo(OpenSoundReader(sound), kPlaybackPeakBound);
  source->Seek(start);
  const int channels = source->channels;
  std::vector<std::int32_t> store(static_cast<std::size_t>(frames) * channels);
  source->Read(store.data(), frames);
  std::vector<std::int16_t> out(store.size());
  for (std::size_t i = 0; i < store.size(); ++i) out[i] = StoreTo16(store[i]);
  return out;
}

class PlaybackEngineTest : public StoreTest {
 protected:
  void Attach(std::shared_ptr<WaveOutput> device) {
    engine_.SetOutputFactory([device](int) { return device; });
    engine_.SetListener(&listener_, 7);
  }
  // Plays the user-interface thread until the engine closes.
  bool DrainUntilClosed(std::chrono::milliseconds timeout = 20s) {
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
      queue_.Drain();
      if (engine_.State() == PlaybackEngine::kClosed) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  ManualQueue queue_;
  RecordingListener listener_;
  PlaybackEngine engine_{queue_};
};

TEST(PlaybackArithmetic, MillisecondsBufferSizesAndLevels) {
  EXPECT_EQ(FramesToMilliseconds(44100, 44100), 1000);
  EXPECT_EQ(FramesToMilliseconds(66150, 44100), 1500);
  EXPECT_EQ(FramesToMilliseconds(1234, 0), 1234);
  EXPECT_EQ(PlaybackBufferFrames(44100), 4410);
  EXPECT_EQ(PlaybackBufferFrames(96000), 8192);
  EXPECT_EQ(PlaybackBufferFrames(100), 20);

  std::vector<std::int32_t> silence(200, 0);
  EXPECT_EQ(ChannelLevel(silence.data(), 0, 100, 2), -127);
  std::vector<std::int32_t> square(200);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 2) % 2 ? 0x7FFF0 : -0x7FFF0;
  EXPECT_EQ(ChannelLevel(square.data(), 1, 100, 2), 15);
}

TEST_F(PlaybackEngineTest, PlaysTheSourceFromItsPositionAndStopsAtTheEnd) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  const Sound sound = LoudStereo(30000);
  SourceRef source = OpenSoundReader(sound);
  source->Seek(1234);
  ASSERT_TRUE(engine_.Open(source));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  EXPECT_EQ(engine_.BufferFrames(), 4410);
  ASSERT_TRUE(DrainUntilClosed());

  EXPECT_EQ(device->Samples(), Expected(sound, 1234, 30000 - 1234));
  EXPECT_EQ(engine_.BuffersAtDevice(), 0);
  EXPECT_FALSE(listener_.wrong_thread);
  EXPECT_EQ(listener_.wrong_cookie, 0);
  // started, position at the start, pairs of position and levels, the end, stopped.
  const auto& events = listener_.events;
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0], "started");
  EXPECT_EQ(events[1], "position " + std::to_string(FramesToMilliseconds(1234, 44100)));
  for (std::size_t i = 2; i + 2 < events.size(); i += 2) {
    EXPECT_EQ(events[i].rfind("position ", 0), 0u) << i;
    EXPECT_EQ(events[i + 1], "levels") << i;
  }
  EXPECT_EQ(events[events.size() - 2], "position " + std::to_string(FramesToMilliseconds(30000, 44100)));
  EXPECT_EQ(events.back(), "stopped");
  // Progress that was not drained before the end collapses into the end.
  if (events.size() > 4) {
    EXPECT_EQ(listener_.last_levels.count, 2);
  }
}

TEST_F(PlaybackEngineTest, WorkerNotificationsWaitForTheQueue) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  const Sound sound = LoudStereo(10000);  // three buffers
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  // Three finished buffers and the end of the sound: four records.
  const auto until = Clock::now() + 10s;
  while (queue_.Pending() < 4 && Clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(queue_.Pending(), 4u);
  EXPECT_EQ(listener_.events, (std::vector<std::string>{"started", "position 0"}));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);

  queue_.Drain();
  EXPECT_EQ(listener_.events, (std::vector<std::string>{"started", "position 0",
                                                        "position 226", "stopped"}));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
  EXPECT_EQ(engine_.Position(), 0);
  EXPECT_FALSE(listener_.wrong_thread);
}

TEST_F(PlaybackEngineTest, MonoSoundPlaysUnchangedWhenQuietEnough) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  std::vector<std::int32_t> samples(5000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>(i * 16) - 40000;
  const Sound sound = WriteSound(samples, 1, 8000);
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  ASSERT_TRUE(DrainUntilClosed());
  const std::vector<std::int16_t> played = device->Samples();
  ASSERT_EQ(played.size(), samples.size());
  // A reader always passes through the limiter, which leaves sound within 0x7FFF0 alone.
  for (std::size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(played[i], StoreTo16(samples[i])) << i;
}

TEST_F(PlaybackEngineTest, SeekWhilePlayingContinuesFromTheNewPlace) {
  auto device = std::make_shared<CaptureOutput>(NullOutput::Pace::kRealTime);
  Attach(device);
  const Sound sound = LoudStereo(24000, 8000);  // three seconds, 800-frame buffers
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  std::this_thread::sleep_for(350ms);
  queue_.Drain();
  engine_.Seek(20000);
  EXPECT_EQ(listener_.events.back(), "position 2500");
  EXPECT_EQ(engine_.Position(), 20000);
  ASSERT_TRUE(DrainUntilClosed());

  // The device starts counting again at the reset of the seek.
  const auto stretches = device->Stretches();
  std::size_t restart = 0;
  for (std::size_t i = 0; i < stretches.size(); ++i) {
    if (stretches[i].first_frame == 0) restart = i;
  }
  ASSERT_GT(restart, 0u) << "nothing was played before the seek";
  std::vector<std::int16_t> before, after;
  for (std::size_t i = 0; i < stretches.size(); ++i) {
    auto& into = i < restart ? before : after;
    into.insert(into.end(), stretches[i].samples.begin(), stretches[i].samples.end());
  }
  EXPECT_EQ(after, Expected(sound, 20000, 4000));
  const auto from_start = Expected(sound, 0, static_cast<std::int32_t>(before.size() / 2));
  EXPECT_EQ(before, from_start);
  EXPECT_EQ(listener_.events.back(), "stopped");
}

TEST_F(PlaybackEngineTest, CloseAtAnyMomentReturnsEverything) {
  const Sound sound = LoudStereo(441000);  // ten seconds
  for (int round = 0; round < 40; ++round) {
    auto device = std::make_shared<CaptureOutput>(round % 4 == 3 ? NullOutput::Pace::kRealTime
                                                                : NullOutput::Pace::kImmediate);
    Attach(device);
    SourceRef source = OpenSoundReader(sound);
    ASSERT_TRUE(engine_.Open(source));
    std::this_thread::sleep_for(std::chrono::microseconds(round * 250));
    if (round % 3 == 0) queue_.Drain();
    if (round % 5 == 1) engine_.Seek(round * 1000);
    engine_.Close();
    EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
    EXPECT_EQ(engine_.BuffersAtDevice(), 0) << round;
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(listener_.events.back(), "stopped");
    // Records still queued find the engine closed and change nothing.
    listener_.events.clear();
    queue_.Drain();
    EXPECT_TRUE(listener_.events.empty()) << round;
  }
}

TEST_F(PlaybackEngineTest, RecordsOutlivingTheEngineDoNothing) {
  auto device = std::make_shared<CaptureOutput>();
  const Sound sound = LoudStereo(100000);
  {
    PlaybackEngine engine(queue_);
    engine.SetOutputFactory([device](int) { return device; });
    engine.SetListener(&listener_, 7);
    ASSERT_TRUE(engine.Open(OpenSoundReader(sound)));
    const auto until = Clock::now() + 10s;
    while (queue_.Pending() == 0 && Clock::now() < until) std::this_thread::sleep_for(1ms);
  }
  listener_.events.clear();
  EXPECT_GT(queue_.Drain(), 0u);
  EXPECT_TRUE(listener_.events.empty());
}

// Records the priority changes the worker threads ask for.
struct PriorityLog {
  void Attach(PlaybackEngine& engine) {
    engine.SetPriorityHook([this](PlaybackEngine::Worker worker, pid_t thread, ThreadPriority priority) {
      std::lock_guard lock(mutex);
      changes.push_back({worker, priority});
      if (thread <= 0) ++unnamed;
    });
  }
  std::vector<std::pair<PlaybackEngine::Worker, ThreadPriority>> Changes() {
    std::lock_guard lock(mutex);
    return changes;
  }
  std::mutex mutex;
  std::vector<std::pair<PlaybackEngine::Worker, ThreadPriority>> changes;
  int unnamed = 0;
};

TEST_F(PlaybackEngineTest, RealTimePositionsFollowTheClock) {
  auto device = std::make_shared<NullOutput>(NullOutput::Pace::kRealTime);
  Attach(device);
  PriorityLog priorities;
  priorities.Attach(engine_);
  std::vector<std::int32_t> samples(10 * 44100, 0x1000);
  const Sound sound = WriteSound(samples, 1, 44100);
  const auto start = Clock::now();
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  ASSERT_TRUE(DrainUntilClosed(15s));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(seconds, 9.95);
  EXPECT_LE(seconds, 10.6);
  ASSERT_GE(listener_.positions.size(), 90u);
  for (const auto& [when, milliseconds] : listener_.positions) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - start).count();
    // The position is the end of the last finished buffer: behind the clock by less than
    // one buffer (100 ms), with some room for the scheduler.
    EXPECT_LE(milliseconds, elapsed + 20) << elapsed;
    EXPECT_GE(milliseconds, elapsed - 100 - 40) << elapsed;
  }
  EXPECT_EQ(listener_.positions.back().second, 10000);
  // A constant 0x1000: (0x1000 >> 5)² = 16384, 10 × log10(16384 × 2^-23) = -27.1 dB.
  EXPECT_EQ(listener_.last_levels.count, 1);
  EXPECT_EQ(listener_.last_levels.level[0], -27);
  // 6.4 s of buffers fill at once: the completion thread is raised the first time, once.
  // At the end the ring drains without filling again, and the 34th buffer finished since
  // it was last full raises the writer.
  const auto changes = priorities.Changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].first, PlaybackEngine::Worker::kCompletion);
  EXPECT_EQ(changes[0].second, ThreadPriority::kTimeCritical);
  EXPECT_EQ(changes[1].first, PlaybackEngine::Worker::kWriter);
  EXPECT_EQ(changes[1].second, ThreadPriority::kTimeCritical);
  EXPECT_EQ(priorities.unnamed, 0);
}

// A source that takes its time, as an effect computed on the fly may.
class SlowSource final : public SampleSource {
 public:
  explicit SlowSource(SourceRef inner) : SampleSource(inner->rate, inner->channels, inner->peak_bound), inner_(inner) {}
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    std::this_thread::sleep_for(2ms);
    inner_->Read(buffer, frames);
  }
  std::int32_t Position() const override { return inner_->Position(); }
  std::int32_t Length() const override { return inner_->Length(); }
  void Seek(std::int32_t frame) override { inner_->Seek(frame); }

 private:
  SourceRef inner_;
};

TEST_F(PlaybackEngineTest, AWriterFallingBehindIsRaisedOnce) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  PriorityLog priorities;
  priorities.Attach(engine_);
  // 40 buffers of 800 frames, each read slower than the device plays it: the ring never
  // fills, and after 33 finished buffers the completion thread raises the writer.
  std::vector<std::int32_t> samples(40 * 800, 0x1000);
  const Sound sound = WriteSound(samples, 1, 8000);
  ASSERT_TRUE(engine_.Open(MakeCounted<SlowSource>(OpenSoundReader(sound))));
  ASSERT_TRUE(DrainUntilClosed());
  const auto changes = priorities.Changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].first, PlaybackEngine::Worker::kWriter);
  EXPECT_EQ(changes[0].second, ThreadPriority::kTimeCritical);
  EXPECT_EQ(device->Samples().size(), samples.size());
}

TEST_F(PlaybackEngineTest, ScrubLoopsASnippetAtThePosition) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  const Sound sound = LoudStereo(88200);
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  engine_.Scrub();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kScrubbing);
  EXPECT_EQ(listener_.events[listener_.events.size() - 3], "levels");
  EXPECT_EQ(listener_.events[listener_.events.size() - 2], "scrub");

  device->ClearRecord();
  engine_.Seek(20000);
  EXPECT_EQ(engine_.State(), PlaybackEngine::kScrubbing);
  EXPECT_EQ(listener_.events.back(), "position " + std::to_string(FramesToMilliseconds(20000, 44100)));
  // One lap of the looping buffer: four copies of a quarter buffer from frame 20000. (The
  // lap of the snippet before the seek may still be recorded ahead of it.)
  const std::int32_t quarter = (4410 + 3) / 4;
  const auto snippet = Expected(sound, 20000, quarter);
  std::vector<std::int16_t> lap_expected(4410u * 2);
  for (std::size_t i = 0; i < lap_expected.size(); ++i) lap_expected[i] = snippet[i % snippet.size()];
  const auto until = Clock::now() + 5s;
  std::vector<CaptureOutput::Stretch> stretches;
  while (Clock::now() < until) {
    stretches = device->Stretches();
    if (!stretches.empty() && stretches.back().samples == lap_expected) break;
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_FALSE(stretches.empty());
  EXPECT_LE(stretches.size(), 2u);
  EXPECT_TRUE(stretches.back().samples == lap_expected);
  bool looped = false;
  for (const auto& call : device->Calls()) looped |= call.find("loop") != std::string::npos;
  EXPECT_TRUE(looped);

  engine_.Resume();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  EXPECT_EQ(listener_.events.back(), "started");
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(listener_.events.back(), "stopped");
  EXPECT_EQ(engine_.BuffersAtDevice(), 0);
}

TEST_F(PlaybackEngineTest, VolumeLevelsMapToTheDevice) {
  EXPECT_EQ(engine_.Volume(), 0x8000 / 1424 - 36);
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  engine_.SetVolume(10);
  const Sound sound = LoudStereo(100);
  ASSERT_TRUE(engine_.Open(OpenSoundReader(sound)));
  EXPECT_EQ(device->VolumeLeft(), 65504);
  EXPECT_EQ(device->VolumeRight(), 65504);
  EXPECT_EQ(engine_.Volume(), 10);
  engine_.SetVolume(-36);
  EXPECT_EQ(device->VolumeLeft(), 0);
  engine_.SetVolume(11);
  EXPECT_EQ(device->VolumeLeft(), 65535);
  engine_.Close();
}

class BrokenSource : public SampleSource {
 public:
  BrokenSource() : SampleSource(0, 1, 100) {}
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    std::fill(buffer, buffer + frames, 0);
  }
};

TEST_F(PlaybackEngineTest, RefusesABrokenSourceOrAMissingDevice) {
  auto device = std::make_shared<CaptureOutput>();
  Attach(device);
  EXPECT_FALSE(engine_.Open(MakeCounted<BrokenSource>()));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
  engine_.SetOutputFactory([](int) { return std::shared_ptr<WaveOutput>(); });
  const Sound sound = LoudStereo(100);
  EXPECT_FALSE(engine_.Open(OpenSoundReader(sound)));
  EXPECT_TRUE(listener_.events.empty());
  engine_.Seek(5);
  engine_.Scrub();
  engine_.Resume();
  EXPECT_TRUE(listener_.events.empty());
}

}  // namespace
}  // namespace sonavel
