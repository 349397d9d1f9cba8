// Random edit sequences on segment lists, checked after every step against a plain
// frame-by-frame model: a vector holding, for each frame, the samples its block file
// holds (zeros for silence) and the gain of the segment it lies in. What a reader must
// deliver follows from the model with the reader's own arithmetic.
//
// Every sequence uses its own fixed seed, so a failure reproduces; the failure message
// names the sequence, its base sounds and the list of steps that led there.
// SONAVEL_MODEL_SEQUENCES sets how many sequences run (default 2000, a quarter of them
// stereo); a sanitizer build may set it lower.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "store_fixture.h"

namespace sonavel {
namespace {

using testing::BlockFilesIn;
using testing::ReadAll;
using testing::ReadFrames;
using testing::StoreTest;
using testing::WriteSound;

constexpr std::uint32_t kSeed = 0x50A7E1u;
constexpr std::uint32_t kStereoSeedOffset = 1000000;
constexpr int kDefaultSequences = 2000;
constexpr int kStepsPerSequence = 25;
// Past this many frames the generator prefers edits that shrink the sound.
constexpr std::int32_t kLongSound = 600;
// The large ones reach the saturated gain within a few steps.
constexpr std::array<std::int32_t, 11> kPercents = {0,   25,  50,  99,   100,  101,
                                                    150, 200, 300, 1000, 20000};

int SequenceCount() {
  const char* text = std::getenv("SONAVEL_MODEL_SEQUENCES");
  if (text == nullptr || *text == '\0') return kDefaultSequences;
  char* end = nullptr;
  const long count = std::strtol(text, &end, 10);
  if (*end != '\0' || count < 1) return kDefaultSequences;
  return static_cast<int>(std::min<long>(count, 1000000));
}

// Every counter of the block table; compared before and after a sequence.
std::vector<std::uint16_t> BlockCounters() {
  std::vector<std::uint16_t> counters(kNoBlock);
  for (std::uint32_t id = 0; id < kNoBlock; ++id)
    counters[id] = BlockRefCount(static_cast<BlockId>(id));
  return counters;
}

// ---------------------------------------------------------------------------------------
// The model

struct ModelFrame {
  std::array<std::int32_t, 2> value{};  // as stored; channel 1 unused for mono
  std::int32_t gain = kUnityGain;
};
using Model = std::vector<ModelFrame>;

std::int64_t Size(const Model& m) {
  return static_cast<std::int64_t>(m.size());
}

// The reader's gain: gain >> 15 against 512 for unity, in 64 bits, saturated.
std::int32_t ReadValue(std::int32_t value, std::int32_t gain) {
  const std::int32_t factor = gain >> 15;
  if (factor == 512) return value;
  const std::int64_t scaled = (static_cast<std::int64_t>(value) * factor) >> 9;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      scaled, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Interleaved samples of frames [from, from + count): zeros before frame 0 and past the end.
std::vector<std::int32_t> Expected(const Model& m, int channels, std::int64_t from,
                                   std::int64_t count) {
  std::vector<std::int32_t> out;
  out.reserve(static_cast<std::size_t>(count * channels));
  for (std::int64_t i = from; i < from + count; ++i) {
    for (int c = 0; c < channels; ++c) {
      const bool inside = i >= 0 && i < Size(m);
      out.push_back(inside ? ReadValue(m[i].value[c], m[i].gain) : 0);
    }
  }
  return out;
}

Model Silence(std::int64_t frames) {
  return Model(static_cast<std::size_t>(frames));
}

void Splice(Model& m, std::int64_t at, const Model& part) {
  m.insert(m.begin() + at, part.begin(), part.end());
}

// Removes [start, end): nothing when start > end or end < 0; start counts from 0 at least;
// past the end only what exists goes.
void ModelDelete(Model& m, std::int32_t start, std::int32_t end) {
  if (start > end || end < 0) return;
  const std::int64_t from = std::clamp<std::int64_t>(start, 0, Size(m));
  const std::int64_t to = std::clamp<std::int64_t>(end, 0, Size(m));
  m.erase(m.begin() + from, m.begin() + to);
}

// Frames [start, end) with silence outside the sound (start <= end).
Model ModelCopy(const Model& m, std::int32_t start, std::int32_t end) {
  Model out;
  for (std::int64_t i = start; i < end; ++i)
    out.push_back(i >= 0 && i < Size(m) ? m[i] : ModelFrame{});
  return out;
}

// `other` begins at `at`: past the end a silence gap fills the distance; a negative `at`
// puts other, then -at frames of silence, at the start.
void ModelInsert(Model& m, std::int32_t at, Model other) {
  if (at < 0) {
    Splice(other, Size(other), Silence(-static_cast<std::int64_t>(at)));
    Splice(m, 0, other);
    return;
  }
  if (at > Size(m)) m.resize(static_cast<std::size_t>(at));
  Splice(m, at, other);
}

void ModelInsertSilence(Model& m, std::int32_t count_frames, std::int32_t at_frame) {
  if (count_frames < 0) return;
  std::int64_t count = count_frames;
  std::int64_t at = at_frame;
  if (at < 0) {
    if (-at > count) return;
    count += at;
    at = 0;
  }
  if (at > Size(m)) {
    count += at - Size(m);
    at = Size(m);
  }
  Splice(m, at, Silence(count));
}

// Keeps the frames of [start, end) that exist.
void ModelCrop(Model& m, std::int32_t start, std::int32_t end) {
  const std::int64_t from = std::clamp<std::int64_t>(start, 0, Size(m));
  const std::int64_t to = std::clamp<std::int64_t>(end, from, Size(m));
  m = Model(m.begin() + from, m.begin() + to);
}

// `times` further copies of [start, end) (padded like a copy), at start: a start past the
// end leaves a silence gap before them; a negative start extends the sound with -start
// frames of silence in front, the copies going before that.
void ModelRepeat(Model& m, std::int32_t times, std::int32_t start, std::int32_t end) {
  if (start > end || times <= 0) return;
  const Model range = ModelCopy(m, start, end);
  Model copies;
  for (std::int32_t i = 0; i < times; ++i) Splice(copies, Size(copies), range);
  ModelInsert(m, start, copies);
}

std::int32_t ScaledGain(std::int32_t gain, std::int32_t percent) {
  if (percent == 100) return gain;
  if (percent > 100 && gain >= (std::int64_t{kMaxGain} / percent) * 100) return kMaxGain;
  return static_cast<std::int32_t>(std::int64_t{gain} * percent / 100);
}

void ModelChangeVolume(Model& m, std::int32_t percent, std::int64_t start, std::int64_t end) {
  if (start > end || percent == 100) return;
  start = std::max<std::int64_t>(start, 0);
  end = std::min(end, Size(m));
  for (std::int64_t i = start; i < end; ++i) m[i].gain = ScaledGain(m[i].gain, percent);
}

// ---------------------------------------------------------------------------------------
// One random sequence

// A base sound: the block it was written to and the samples it holds.
struct Base {
  Sound sound;
  Model model;
  std::string description;
};

class Sequence {
 public:
  Sequence(int index, std::uint32_t seed, int channels)
      : index_(index), seed_(seed), channels_(channels), random_(seed) {}

  // Runs every step; returns an empty string or what went wrong, with the history.
  std::string Run() {
    MakeBases();
    Start();
    if (std::string failure = CheckAll(); !failure.empty()) return Report("at the start", failure);
    for (int step = 1; step <= kStepsPerSequence; ++step) {
      // A reader opened before the edit keeps reading the sound as it was.
      SourceRef held;
      Model held_model;
      if (Chance(3)) {
        held = OpenSoundReader(sound_);
        held_model = model_;
      }
      Step();
      std::string failure;
      if (held) failure = CheckHeldReader(*held, held_model);
      held.Reset();
      if (failure.empty()) failure = CheckAll();
      if (!failure.empty()) return Report("after step " + std::to_string(step), failure);
    }
    return {};
  }

 private:
  // -- random numbers

  std::int32_t Uniform(std::int64_t low, std::int64_t high) {
    return static_cast<std::int32_t>(
        std::uniform_int_distribution<std::int64_t>(low, high)(random_));
  }
  bool Chance(int one_in) { return Uniform(1, one_in) == 1; }

  // A position near the sound: inside, at its edges, at segment boundaries, before frame
  // 0 or past the end.
  std::int32_t Position(const Sound& s) {
    const std::int32_t length = static_cast<std::int32_t>(Size(ModelOf(s)));
    switch (Uniform(0, 7)) {
      case 0:
        return Uniform(-12, -1);
      case 1:
        return length + Uniform(0, 12);
      case 2:
        return Uniform(-1, 1);
      case 3:
        return length + Uniform(-1, 1);
      case 4: {
        std::vector<std::int32_t> boundaries{0};
        for (const Segment* g = s.head; g != nullptr; g = g->next)
          boundaries.push_back(boundaries.back() + g->length);
        return boundaries[Uniform(0, static_cast<std::int64_t>(boundaries.size()) - 1)] +
               Uniform(-1, 1);
      }
      default:
        return Uniform(0, length);
    }
  }

  // A range mostly in order, sometimes empty or reversed.
  std::pair<std::int32_t, std::int32_t> Range(const Sound& s, std::int32_t longest) {
    const std::int32_t start = Position(s);
    switch (Uniform(0, 9)) {
      case 0:
        return {start, start - Uniform(1, 10)};
      case 1:
        return {start, start};
      case 2:
        return {start, Position(s)};
      default:
        return {start, start + Uniform(1, longest)};
    }
  }

  std::int32_t Percent() { return kPercents[Uniform(0, kPercents.size() - 1)]; }

  const Model& ModelOf(const Sound& s) const { return &s == &clip_ ? clip_model_ : model_; }

  // -- setting up

  // Three block files with samples no other block of the sequence shares: an ascending
  // ramp, a descending negative one, and one near full scale of alternating sign, so that
  // gains above unity saturate both ways.
  void MakeBases() {
    const std::int32_t ramp = Uniform(1, 2000) * 1000;
    const std::int32_t negative = -Uniform(1, 2000) * 1000 - 3000000;
    const std::int32_t large = 0x40000000 + Uniform(0, 1000) * 1024;
    for (int kind = 0; kind < 3; ++kind) {
      const std::int32_t frames = Uniform(1, 200);
      std::vector<std::int32_t> samples;
      Model model;
      for (std::int32_t i = 0; i < frames; ++i) {
        ModelFrame frame;
        for (int c = 0; c < channels_; ++c) {
          const std::int32_t step = 4 * i + c;
          std::int32_t v = 0;
          if (kind == 0) v = ramp + step;
          if (kind == 1) v = negative - step;
          if (kind == 2) v = (i % 2 == 0 ? 1 : -1) * (large + step);
          frame.value[c] = v;
          samples.push_back(v);
        }
        model.push_back(frame);
      }
      Base base{WriteSound(samples, static_cast<std::uint8_t>(channels_)), std::move(model), {}};
      std::ostringstream text;
      text << "base " << kind << ": " << frames << " frames on block " << base.sound.head->block
           << ", sample (frame i, channel c) = ";
      if (kind == 0) text << ramp << " + 4i + c";
      if (kind == 1) text << negative << " - (4i + c)";
      if (kind == 2) text << "(i even ? 1 : -1) * (" << large << " + 4i + c)";
      base.description = text.str();
      bases_.push_back(std::move(base));
    }
  }

  // The edited sound and the clipboard each start as a copy of a base, or empty.
  void Start() {
    const int first = Uniform(0, 3);
    const int second = Uniform(0, 3);
    if (first < 3) {
      CopySound(bases_[first].sound, sound_);
      model_ = bases_[first].model;
    }
    if (second < 3) {
      CopySound(bases_[second].sound, clip_);
      clip_model_ = bases_[second].model;
    }
    sound_.channels = clip_.channels = static_cast<std::uint8_t>(channels_);
    std::ostringstream text;
    text << "s = " << (first < 3 ? "copy of base " + std::to_string(first) : "empty")
         << ", clip = " << (second < 3 ? "copy of base " + std::to_string(second) : "empty");
    Log(text.str());
  }

  // -- one step

  void Step() {
    const bool long_sound = Size(model_) > kLongSound;
    const std::int32_t length = static_cast<std::int32_t>(Size(model_));
    const std::int32_t longest = std::max(8, length / 2 + 10);
    std::ostringstream text;
    int kind = Uniform(0, 15);
    // A long sound gets only edits that keep its length or shrink it.
    if (long_sound && (kind == 3 || kind == 4 || kind == 5 || kind == 6 || kind == 7 || kind == 11))
      kind = 0;
    switch (kind) {
      case 0: {
        auto [start, end] = Range(sound_, longest);
        text << "DeleteRange(s, " << start << ", " << end << ")";
        DeleteRange(sound_, start, end);
        ModelDelete(model_, start, end);
        break;
      }
      case 1: {
        auto [start, end] = Range(sound_, longest);
        text << "CopyRange(s, clip, " << start << ", " << end << ")";
        CopyRange(sound_, clip_, start, end);
        if (start <= end) clip_model_ = ModelCopy(model_, start, end);
        break;
      }
      case 2: {
        auto [start, end] = Range(sound_, longest);
        text << "CutRange(s, clip, " << start << ", " << end << ")";
        CutRange(sound_, clip_, start, end);
        if (start <= end) clip_model_ = ModelCopy(model_, start, end);
        ModelDelete(model_, start, end);
        break;
      }
      case 3: {
        const std::int32_t at = Position(sound_);
        if (Chance(6)) {  // into itself: the sound as it was goes in
          text << "InsertSound(s, " << at << ", s)";
          InsertSound(sound_, at, sound_);
          ModelInsert(model_, at, model_);
        } else {
          text << "InsertSound(s, " << at << ", clip)";
          InsertSound(sound_, at, clip_);
          ModelInsert(model_, at, clip_model_);
        }
        break;
      }
      case 4: {
        auto [start, end] = Range(sound_, longest);
        text << "ReplaceRange(s, " << start << ", " << end << ", clip)";
        ReplaceRange(sound_, start, end, clip_);
        ModelDelete(model_, start, end);
        ModelInsert(model_, start, clip_model_);
        break;
      }
      case 5: {
        const std::int32_t count = Chance(8) ? Uniform(-5, -1) : Uniform(0, 30);
        const std::int32_t at = Position(sound_);
        text << "InsertSilence(s, " << count << ", " << at << ")";
        InsertSilence(sound_, count, at);
        ModelInsertSilence(model_, count, at);
        break;
      }
      case 6: {
        const std::int32_t times = Uniform(-1, 3);
        auto [start, end] = Range(sound_, std::min(longest, 60));
        text << "RepeatRange(s, " << times << ", " << start << ", " << end << ")";
        RepeatRange(sound_, times, start, end);
        ModelRepeat(model_, times, start, end);
        break;
      }
      case 7: {  // the clipboard from the other side: s becomes a range of it
        auto [start, end] =
            Range(clip_, std::max(8, static_cast<std::int32_t>(Size(clip_model_)) + 10));
        text << "CopyRange(clip, s, " << start << ", " << end << ")";
        CopyRange(clip_, sound_, start, end);
        if (start <= end) model_ = ModelCopy(clip_model_, start, end);
        break;
      }
      case 8: {
        auto [start, end] = Range(sound_, longest);
        if (Chance(4)) end = start + length + 20;  // a crop that keeps the tail
        text << "CropRange(s, " << start << ", " << end << ")";
        CropRange(sound_, start, end);
        ModelCrop(model_, start, end);
        break;
      }
      case 9: {
        const std::int32_t frames = Uniform(-5, length / 3 + 5);
        text << "TrimStart(s, " << frames << ")";
        TrimStart(sound_, frames);
        if (frames > 0) ModelDelete(model_, 0, frames);
        break;
      }
      case 10: {
        const std::int32_t frame = Position(sound_);
        text << "TrimEnd(s, " << frame << ")";
        TrimEnd(sound_, frame);
        ModelDelete(model_, frame, length);
        break;
      }
      case 11:
      case 12: {
        const std::int32_t percent = Percent();
        auto [start, end] = Range(sound_, longest);
        text << "ChangeRangeVolume(s, " << percent << ", " << start << ", " << end << ")";
        ChangeRangeVolume(sound_, percent, start, end);
        ModelChangeVolume(model_, percent, start, end);
        break;
      }
      case 13: {
        const std::int32_t percent = Percent();
        text << "ScaleGain(s, " << percent << ")";
        ScaleGain(sound_, percent);
        ModelChangeVolume(model_, percent, 0, Size(model_));
        break;
      }
      case 14: {
        const std::int32_t percent = Percent();
        text << "ScaleGain(clip, " << percent << ")";
        ScaleGain(clip_, percent);
        ModelChangeVolume(clip_model_, percent, 0, Size(clip_model_));
        break;
      }
      default: {
        auto [start, end] = Range(clip_, std::max(8, static_cast<std::int32_t>(Size(clip_model_))));
        text << "DeleteRange(clip, " << start << ", " << end << ")";
        DeleteRange(clip_, start, end);
        ModelDelete(clip_model_, start, end);
        break;
      }
    }
    Log(text.str());
  }

  // -- checks

  std::string CheckAll() {
    if (std::string failure = CheckSound("s", sound_, model_); !failure.empty()) return failure;
    if (std::string failure = CheckSound("clip", clip_, clip_model_); !failure.empty())
      return failure;
    if (std::string failure = CheckReferences(); !failure.empty()) return failure;
    if (std::string failure = CheckSeeks(); !failure.empty()) return failure;
    if (Chance(3)) return CheckChunkedRead();
    return {};
  }

  // Length, format, segment bounds and every sample through a fresh reader.
  std::string CheckSound(const char* name, const Sound& s, const Model& m) {
    std::ostringstream out;
    if (s.channels != channels_ || s.rate != 44100) {
      out << name << " has " << int{s.channels} << " channels at " << s.rate << " Hz";
      return out.str();
    }
    if (SoundLength(s) != Size(m)) {
      out << name << ": SoundLength " << SoundLength(s) << ", model " << Size(m);
      return out.str();
    }
    // Each segment must cover model frames with its own gain and the samples its block
    // holds there (zeros for silence). A segment on a block that covers no frame would keep
    // the block's files alive for nothing.
    std::int64_t frame = 0;
    for (const Segment* g = s.head; g != nullptr; frame += g->length, g = g->next) {
      const Base* base = BaseOf(g->block);
      const bool fits =
          g->length >= 0 && frame + g->length <= Size(m) &&
          (g->block == kNoBlock || (base != nullptr && g->length > 0 && g->offset >= 0 &&
                                    std::int64_t{g->offset} + g->length <= Size(base->model)));
      if (!fits) {
        out << name << " holds a segment outside its block or the sound: block " << g->block
            << ", offset " << g->offset << ", length " << g->length << " at frame " << frame;
        return out.str();
      }
      for (std::int32_t i = 0; i < g->length; ++i) {
        const ModelFrame& want = m[frame + i];
        const ModelFrame held = base != nullptr ? base->model[g->offset + i] : ModelFrame{};
        if (want.gain != g->gain || want.value != held.value) {
          out << name << " frame " << frame + i << ": segment (block " << g->block << ", offset "
              << g->offset << ") holds " << held.value[0] << " with gain " << g->gain << ", model "
              << want.value[0] << " with gain " << want.gain;
          return out.str();
        }
      }
    }
    return Compare(std::string(name) + " read whole", ReadAll(s),
                   Expected(m, channels_, 0, Size(m)), 0);
  }

  // Each base block is held once per segment on it, by the sounds of this sequence only.
  std::string CheckReferences() {
    std::map<BlockId, int> segments;
    for (const Sound* s : {&sound_, &clip_, &bases_[0].sound, &bases_[1].sound, &bases_[2].sound})
      for (const Segment* g = s->head; g != nullptr; g = g->next) ++segments[g->block];
    for (const Base& base : bases_) {
      const BlockId id = base.sound.head->block;
      if (BlockRefCount(id) != segments[id]) {
        std::ostringstream out;
        out << "block " << id << " has counter " << BlockRefCount(id) << " for " << segments[id]
            << " segments";
        return out.str();
      }
    }
    return {};
  }

  // Seeks anywhere, including before frame 0 and past the end, then short reads; a second
  // read goes on where the first ended.
  std::string CheckSeeks() {
    SourceRef reader = OpenSoundReader(sound_);
    if (reader->Length() != Size(model_))
      return "reader Length " + std::to_string(reader->Length());
    if (reader->channels != channels_)
      return "reader has " + std::to_string(reader->channels) + " channels";
    for (int round = 0; round < 3; ++round) {
      const std::int32_t frame = Chance(4) ? Uniform(-30, -1) : Position(sound_);
      const std::int32_t first = Uniform(1, 24);
      const std::int32_t second = Uniform(0, 12);
      reader->Seek(frame);
      std::ostringstream what;
      what << "Seek(" << frame << "), Read(" << first << ")";
      std::string failure = Compare(what.str(), ReadFrames(*reader, first),
                                    Expected(model_, channels_, frame, first), frame);
      if (failure.empty() && reader->Position() != frame + first)
        failure = what.str() + ": Position " + std::to_string(reader->Position());
      if (failure.empty() && second > 0) {
        what << ", Read(" << second << ")";
        failure = Compare(what.str(), ReadFrames(*reader, second),
                          Expected(model_, channels_, std::int64_t{frame} + first, second),
                          std::int64_t{frame} + first);
      }
      if (!failure.empty()) return failure;
    }
    return {};
  }

  // The whole sound and a little beyond, in reads of random size.
  std::string CheckChunkedRead() {
    SourceRef reader = OpenSoundReader(sound_);
    std::vector<std::int32_t> got;
    std::ostringstream sizes;
    const std::int64_t total = Size(model_) + 5;
    for (std::int64_t done = 0; done < total;) {
      const std::int32_t n = Uniform(1, 17);
      sizes << n << " ";
      const std::vector<std::int32_t> part = ReadFrames(*reader, n);
      got.insert(got.end(), part.begin(), part.end());
      done += n;
    }
    const std::int64_t frames = static_cast<std::int64_t>(got.size()) / channels_;
    return Compare("reads of " + sizes.str() + "frames", got,
                   Expected(model_, channels_, 0, frames), 0);
  }

  std::string CheckHeldReader(SampleSource& reader, const Model& before) {
    const std::int64_t frames = Size(before) + 3;
    return Compare("reader opened before the step",
                   ReadFrames(reader, static_cast<std::int32_t>(frames)),
                   Expected(before, channels_, 0, frames), 0);
  }

  std::string Compare(const std::string& what, const std::vector<std::int32_t>& got,
                      const std::vector<std::int32_t>& want, std::int64_t first_frame) {
    if (got == want) return {};
    std::ostringstream out;
    out << what << ": got " << got.size() << " samples, expected " << want.size();
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
      if (got[i] != want[i]) {
        out << "; first difference at frame "
            << first_frame + static_cast<std::int64_t>(i / channels_) << " channel "
            << i % channels_ << ": got " << got[i] << ", expected " << want[i];
        break;
      }
    }
    return out.str();
  }

  const Base* BaseOf(BlockId id) const {
    for (const Base& base : bases_)
      if (base.sound.head->block == id) return &base;
    return nullptr;
  }

  void Log(std::string line) { steps_.push_back(std::move(line)); }

  std::string Report(const std::string& when, const std::string& failure) const {
    std::ostringstream out;
    out << "sequence " << index_ << " (seed " << seed_ << ", " << channels_ << " channel"
        << (channels_ == 1 ? "" : "s") << ") failed " << when << ": " << failure << "\n";
    for (const Base& base : bases_) out << "  " << base.description << "\n";
    for (std::size_t i = 0; i < steps_.size(); ++i) out << "  " << i << ". " << steps_[i] << "\n";
    return out.str();
  }

  int index_;
  std::uint32_t seed_;
  int channels_;
  std::mt19937 random_;
  std::vector<Base> bases_;
  Sound sound_;
  Sound clip_;
  Model model_;
  Model clip_model_;
  std::vector<std::string> steps_;
};

class ModelCheckTest : public StoreTest {
 protected:
  void TearDown() override {
    ExpectNoLeak();
    EXPECT_EQ(BlockFilesIn(folder_), 0) << "block files outlived their sounds";
    StoreTest::TearDown();
  }

  // Runs `count` sequences; reports the first few failures in full. After each one every
  // block counter must be back where it was and its block files gone.
  void RunSequences(int count, std::uint32_t first_seed, int channels) {
    int failures = 0;
    std::vector<std::uint16_t> counters = BlockCounters();
    for (int index = 0; index < count; ++index) {
      const std::uint32_t seed = first_seed + static_cast<std::uint32_t>(index);
      std::string failure;
      {
        Sequence sequence(index, seed, channels);
        failure = sequence.Run();
      }
      std::vector<std::uint16_t> after = BlockCounters();
      if (failure.empty() && after != counters) {
        const auto changed = std::mismatch(counters.begin(), counters.end(), after.begin());
        failure = "sequence " + std::to_string(index) + " (seed " + std::to_string(seed) +
                  "): after freeing, block " + std::to_string(changed.first - counters.begin()) +
                  " has counter " + std::to_string(*changed.second) + " instead of " +
                  std::to_string(*changed.first);
      }
      if (failure.empty() && BlockFilesIn(folder_) != 0)
        failure = "sequence " + std::to_string(index) + " (seed " + std::to_string(seed) +
                  "): block files left after freeing";
      counters = std::move(after);
      if (!failure.empty() && ++failures <= 3) ADD_FAILURE() << failure;
    }
    EXPECT_EQ(failures, 0) << "of " << count << " sequences";
  }
};

TEST_F(ModelCheckTest, MonoSequencesMatchTheModel) {
  const int total = SequenceCount();
  RunSequences(total - total / 4, kSeed, 1);
}

TEST_F(ModelCheckTest, StereoSequencesMatchTheModel) {
  const int total = SequenceCount();
  RunSequences(std::max(1, total / 4), kSeed + kStereoSeedOffset, 2);
}

}  // namespace
}  // namespace sonavel
