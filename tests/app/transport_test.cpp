#include "app/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "devices/capture_output.h"
#include "devices/main_thread_queue.h"
#include "effects/resampler.h"
#include "formats/wav_writer.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/store_fixture.h"
#include "store/time.h"

namespace sonavel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::StoreTest;
using testing::WriteSound;

class RecordingView : public TransportView {
 public:
  void ShowTransportState(std::uint16_t state) override { states.push_back(state); }
  void ShowLevels(const LevelRecord& levels) override { last_levels = levels; }
  std::vector<std::uint16_t> states;
  LevelRecord last_levels;
};

// Samples small enough to pass the engine's limiter unchanged, different in every frame.
std::vector<std::int32_t> QuietRamp(std::int32_t frames, int channels = 1) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames) * channels);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>((i % 4000) * 16) - 32000;
  return samples;
}

std::vector<std::int16_t> To16(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t count) {
  std::vector<std::int16_t> out;
  for (std::size_t i = from; i < from + count; ++i) out.push_back(StoreTo16(samples[i]));
  return out;
}

class TransportTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    registry_ = std::make_unique<Registry>(JoinPath(folder_, "user"), JoinPath(folder_, "machine"));
    settings_ = std::make_unique<Settings>(*registry_);
    engine_.SetOutputFactory([this](int) { return device_; });
    transport_ = std::make_unique<Transport>(engine_, *settings_, ui_, view_);
  }
  void TearDown() override {
    transport_.reset();
    StoreTest::TearDown();
  }

  // A document holding `samples`.
  void Load(const std::vector<std::int32_t>& samples, int channels = 1, std::int32_t rate = 8000) {
    document_.sound = WriteSound(samples, static_cast<std::uint8_t>(channels), rate);
    document_.state = EditState{};
    document_.state.view_end = SoundLength(document_.sound);
    transport_->SetActiveDocument(&document_);
  }
  // Runs the user-interface thread until `done` holds or the time is up.
  bool DrainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
      queue_.Drain();
      if (done()) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }
  bool DrainUntilClosed() {
    return DrainUntil([this] { return engine_.State() == PlaybackEngine::kClosed; });
  }

  ManualQueue queue_;
  PlaybackEngine engine_{queue_};
  std::shared_ptr<CaptureOutput> device_ = std::make_shared<CaptureOutput>();
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Settings> settings_;
  ScriptedUi ui_;
  RecordingView view_;
  AudioDocument document_{8000, 1, "Unbenannt 1"};
  std::unique_ptr<Transport> transport_;
};

TEST_F(TransportTest, PlaysTheSelectionAndTheCursorFollows) {
  const auto samples = QuietRamp(20000);
  Load(samples);
  document_.state.selection_start = 3000;
  document_.state.selection_end = 11000;
  document_.state.cursor = 7;
  ASSERT_TRUE(transport_->Play());
  EXPECT_EQ(document_.state.cursor, 3000);
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples(), To16(samples, 3000, 8000));
  // Playback stops at the selection's end; the selection stays.
  EXPECT_EQ(document_.state.cursor, 11000);
  EXPECT_EQ(document_.state.selection_start, 3000);
  EXPECT_EQ(document_.state.selection_end, 11000);
  ASSERT_GE(view_.states.size(), 2u);
  EXPECT_EQ(view_.states.front(), PlaybackEngine::kPlaying);
  EXPECT_EQ(view_.states.back(), PlaybackEngine::kClosed);
  EXPECT_EQ(view_.last_levels.count, 1);
  EXPECT_EQ(view_.last_levels.level[0], -127);
}

TEST_F(TransportTest, PlaysFromTheCursorAndStartsOverInTheLastSecond) {
  const auto samples = QuietRamp(20000, 2);
  Load(samples, 2);
  document_.state.cursor = 5000;
  ASSERT_TRUE(transport_->Play());
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples(), To16(samples, 2 * 5000, 2 * 15000));
  // Without a selection the selection follows the cursor, which ends at the end.
  EXPECT_EQ(document_.state.cursor, 20000);
  EXPECT_EQ(document_.state.selection_start, 20000);

  // Less than a second (8000 frames) left: from the start, unless the cursor is kept.
  device_->ClearRecord();
  document_.state.cursor = 12001;
  ASSERT_TRUE(transport_->Play());
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples().size(), samples.size());
  device_->ClearRecord();
  document_.state.cursor = 12001;
  ASSERT_TRUE(transport_->Play(true));
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples(), To16(samples, 2 * 12001, 2 * 7999));
}

TEST_F(TransportTest, RepeatLoopsExactlyAtTheSelectionEdges) {
  const auto samples = QuietRamp(20000);
  Load(samples);
  transport_->ToggleRepeat();
  EXPECT_TRUE(transport_->Repeat());
  // 1000 and 3000 frames at 8000 Hz are whole milliseconds (125 and 375).
  document_.state.selection_start = 1000;
  document_.state.selection_end = 3000;
  ASSERT_TRUE(transport_->Play());
  ASSERT_TRUE(DrainUntil([this] { return device_->Samples().size() >= 5 * 2000; }));
  transport_->Stop();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
  const auto played = device_->Samples();
  const auto lap = To16(samples, 1000, 2000);
  for (std::size_t at = 0; at + 2000 <= played.size(); at += 2000) {
    ASSERT_EQ(std::vector<std::int16_t>(played.begin() + at, played.begin() + at + 2000), lap) << at;
  }
  transport_->ToggleRepeat();
  EXPECT_FALSE(transport_->Repeat());
}

// Frequency of a mono 16-bit signal from its rising zero crossings.
double MeasuredFrequency(const std::vector<std::int16_t>& samples, std::int32_t rate) {
  std::size_t first = 0, last = 0, crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  return crossings < 2 ? 0.0 : (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

TEST_F(TransportTest, SpeedsChangeDurationAndPitch) {
  const std::int32_t rate = 44100;
  std::vector<std::int32_t> sine(2 * rate);
  for (std::size_t i = 0; i < sine.size(); ++i)
    sine[i] = static_cast<std::int32_t>(std::lround(0x40000 * std::sin(2 * M_PI * 441.0 * i / rate)));
  Load(sine, 1, rate);
  EXPECT_EQ(transport_->Speed(), kSpeedNormal);

  struct Case {
    int speed;
    double factor;
  };
  for (const Case c : {Case{kSpeedFast, 1.5}, Case{kSpeedSlow, 0.5}}) {
    device_->ClearRecord();
    document_.state.cursor = 0;
    transport_->SetSpeed(c.speed);
    EXPECT_EQ(transport_->Speed(), c.speed);
    ASSERT_TRUE(DrainUntilClosed());
    const auto played = device_->Samples();
    EXPECT_NEAR(static_cast<double>(played.size()), sine.size() / c.factor, 2.0) << c.speed;
    EXPECT_NEAR(MeasuredFrequency(played, rate), 441.0 * c.factor, 0.5) << c.speed;
    // The cursor follows in the document's frames.
    EXPECT_NEAR(document_.state.cursor, static_cast<double>(sine.size()), 2.0) << c.speed;
  }
  device_->ClearRecord();
  transport_->SetSpeed(kSpeedNormal);
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples(), To16(sine, 0, sine.size()));
}

TEST_F(TransportTest, ScrubButtonPausesAndResumes) {
  Load(QuietRamp(80000));
  transport_->ScrubButton();  // closed: plays, then scrubs
  EXPECT_EQ(engine_.State(), PlaybackEngine::kScrubbing);
  transport_->ScrubButton();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  transport_->Scrub();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kScrubbing);
  EXPECT_TRUE(transport_->Play());  // resumes
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  transport_->Stop();
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
}

TEST_F(TransportTest, StartAndEndMoveTheCursorOrThePlayPosition) {
  Load(QuietRamp(80000));
  document_.state.selection_start = 100;
  document_.state.selection_end = 200;
  document_.state.cursor = 150;
  transport_->GoToEnd();
  EXPECT_EQ(document_.state.cursor, 80000);
  EXPECT_EQ(document_.state.selection_start, 80000);
  EXPECT_EQ(document_.state.selection_end, 80000);
  transport_->GoToStart();
  EXPECT_EQ(document_.state.cursor, 0);
  EXPECT_EQ(document_.state.selection_end, 0);

  // With Shift the selection runs from the anchor.
  document_.state.cursor = 5000;
  transport_->ShiftDown();
  transport_->SetExtendSelection(true);
  transport_->GoToEnd();
  EXPECT_EQ(document_.state.selection_start, 5000);
  EXPECT_EQ(document_.state.selection_end, 80000);
  transport_->SetExtendSelection(false);
  transport_->ShiftUp();

  // Playing: the engine seeks, to one second before the end.
  device_ = std::make_shared<CaptureOutput>(NullOutput::Pace::kRealTime);
  document_.state = EditState{};
  document_.state.view_end = 80000;
  ASSERT_TRUE(transport_->Play());
  transport_->GoToEnd();
  ASSERT_TRUE(DrainUntil([this] { return document_.state.cursor >= 72000; }, 5s));
  ASSERT_TRUE(DrainUntilClosed());
  const auto played = device_->Samples();
  ASSERT_GE(played.size(), 8000u);
  EXPECT_EQ(std::vector<std::int16_t>(played.end() - 8000, played.end()), To16(QuietRamp(80000), 72000, 8000));
  EXPECT_EQ(document_.state.cursor, 80000);
}

TEST_F(TransportTest, WindingCuesAndReturnsToWhatPlayedBefore) {
  Load(QuietRamp(8000 * 60));
  document_.state.cursor = 40000;
  document_.state.view_end = 8000 * 10;
  settings_->WriteValue("Settings", "ReduceVolWhenRewind", 1);
  engine_.SetVolume(0);

  // Closed: a large jump back (rate / 5), cueing backwards, and nothing after the release.
  transport_->Press(Transport::Direction::kRewind);
  EXPECT_TRUE(transport_->running(Transport::Direction::kRewind));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  EXPECT_EQ(engine_.Volume(), -8);
  const std::int32_t after_jump = 40000 - 8000 / 5;
  ASSERT_TRUE(DrainUntil([&] { return document_.state.cursor < after_jump - 2000; }));
  transport_->Press(Transport::Direction::kRewind);  // held: nothing new
  transport_->Release(Transport::Direction::kRewind);
  EXPECT_FALSE(transport_->running(Transport::Direction::kRewind));
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
  EXPECT_EQ(engine_.Volume(), 0);

  // Playing: forward, then playing again from where the cue left the cursor.
  document_.state.cursor = 8000;
  device_ = std::make_shared<CaptureOutput>(NullOutput::Pace::kRealTime);
  ASSERT_TRUE(transport_->Play());
  // Paced too: an unpaced cue could wind to the end before the cursor below is read.
  transport_->Press(Transport::Direction::kForward);
  ASSERT_TRUE(DrainUntil([&] { return document_.state.cursor > 8000 + 1600 + 4000; }));
  // The view keeps the cursor in sight.
  EXPECT_LE(document_.state.view_start, document_.state.cursor);
  EXPECT_GE(document_.state.view_end, document_.state.cursor);
  const std::int32_t cued = document_.state.cursor;
  // Pressing the other direction ends this one first.
  transport_->Press(Transport::Direction::kRewind);
  EXPECT_FALSE(transport_->running(Transport::Direction::kForward));
  EXPECT_TRUE(transport_->running(Transport::Direction::kRewind));
  transport_->Release(Transport::Direction::kRewind);
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  EXPECT_LT(std::abs(document_.state.cursor - cued), 8000);
  transport_->Stop();
}

// A device that plays nothing but 48 kHz.
class FixedRateOutput final : public CaptureOutput {
 public:
  bool Open(const OutputFormat& format, int device) override {
    return format.rate == 48000 && CaptureOutput::Open(format, device);
  }
};

TEST_F(TransportTest, ADeviceOfOneRateGetsTheSoundConverted) {
  const std::vector<std::int32_t> samples = QuietRamp(16000);
  Load(samples, 1, 8000);  // two seconds at 8 kHz
  auto capture = std::make_shared<FixedRateOutput>();
  engine_.SetOutputFactory([capture](int) { return capture; });
  // At the quality the settings choose, whose outputs differ.
  std::vector<std::vector<std::int16_t>> played;
  for (const ResampleQuality quality : {ResampleQuality::kDefault, ResampleQuality::kHigh}) {
    settings_->WriteUserValue("Settings", "ResampleQuality", static_cast<int>(quality));
    capture->ClearRecord();
    document_.state.cursor = 4000;
    ASSERT_TRUE(transport_->Play());
    ASSERT_TRUE(DrainUntilClosed());
    // The last 1.5 s at 48 kHz, and the cursor in the document's own frames at the end.
    SourceRef converted = ConvertFormat(OpenSoundReader(document_.sound), 48000, 1, quality);
    converted->Seek(24000);
    EXPECT_EQ(capture->Samples(), To16(testing::ReadFrames(*converted, 72000), 0, 72000));
    EXPECT_EQ(document_.state.cursor, 16000);
    EXPECT_TRUE(ui_.shown().empty());
    played.push_back(capture->Samples());
  }
  EXPECT_NE(played[0], played[1]);
}

TEST_F(TransportTest, NoDeviceShowsTheMessageOnceForPlay) {
  Load(QuietRamp(1000));
  device_.reset();
  EXPECT_FALSE(transport_->Play());
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, kNoOutputDeviceText);
  EXPECT_EQ(ui_.shown()[0].caption, "Sonavel");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kInformation);
  // Winding goes on silently.
  transport_->Press(Transport::Direction::kForward);
  transport_->Release(Transport::Direction::kForward);
  EXPECT_EQ(ui_.shown().size(), 1u);
  // The jump of a fifth of a second stops at the end.
  EXPECT_EQ(document_.state.cursor, 1000);
}

TEST_F(TransportTest, AfterAnEditAndPreviewing) {
  const auto samples = QuietRamp(30000);
  Load(samples);
  transport_->PlayFrom(document_, 12000);
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_EQ(device_->Samples(), To16(samples, 12000, 18000));

  // A preview plays its own source and leaves the document alone.
  device_->ClearRecord();
  document_.state.cursor = 77;
  SourceRef preview = OpenSoundReader(document_.sound);
  preview->Seek(29000);
  ASSERT_TRUE(transport_->Preview(preview));
  EXPECT_TRUE(transport_->previewing());
  ASSERT_TRUE(DrainUntilClosed());
  EXPECT_FALSE(transport_->previewing());
  EXPECT_EQ(device_->Samples(), To16(samples, 29000, 1000));
  EXPECT_EQ(document_.state.cursor, 77);

  // Closing the played document stops playback.
  device_ = std::make_shared<CaptureOutput>(NullOutput::Pace::kRealTime);
  ASSERT_TRUE(transport_->Play());
  transport_->DocumentClosing(&document_);
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);
  EXPECT_EQ(transport_->active_document(), nullptr);
}

}  // namespace
}  // namespace sonavel
