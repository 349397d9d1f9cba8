#include "store/sound.h"

#include <algorithm>
#include <limits>

namespace sonavel {

namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

std::int32_t ClampFrames(std::int64_t frames) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(frames, 0, kMaxFrames));
}

void FreeSegment(Segment* segment) {
  ReleaseBlock(segment->block);
  delete segment;
}

Segment* NewSilence(std::int64_t frames) {
  return NewSegment(kNoBlock, ClampFrames(frames), kUnityGain, 0);
}

// Splits `g` at `at` frames (0 < at < length): g keeps [0, at), the returned copy takes
// the rest and is linked right after g.
Segment* SplitSegment(Segment* g, std::int64_t at) {
  Segment* right = CopySegment(*g);
  right->offset = static_cast<std::int32_t>(g->offset + at);
  right->length = static_cast<std::int32_t>(g->length - at);
  g->length = static_cast<std::int32_t>(at);
  right->next = g->next;
  g->next = right;
  return right;
}

// An unlinked chain holding copies of every segment of `from`.
struct Chain {
  Segment* head = nullptr;
  Segment* tail = nullptr;
};

Chain CopyChain(const Sound& from) {
  Chain chain;
  for (const Segment* g = from.head; g != nullptr; g = g->next) {
    Segment* copy = CopySegment(*g);
    if (chain.tail != nullptr)
      chain.tail->next = copy;
    else
      chain.head = copy;
    chain.tail = copy;
  }
  return chain;
}

Segment* Tail(const Sound& s) {
  Segment* g = s.head;
  while (g != nullptr && g->next != nullptr) g = g->next;
  return g;
}

// Links `chain` after `prev` (at the head when prev is null), before whatever followed.
void LinkChainAfter(Sound& s, Segment* prev, Chain chain) {
  if (chain.head == nullptr) return;
  Segment*& slot = prev != nullptr ? prev->next : s.head;
  chain.tail->next = slot;
  slot = chain.head;
}

}  // namespace

Sound::~Sound() { FreeSegments(*this); }

Sound::Sound(Sound&& other) noexcept
    : rate(other.rate), channels(other.channels), head(other.head) {
  other.head = nullptr;
}

Sound& Sound::operator=(Sound&& other) noexcept {
  if (this != &other) {
    FreeSegments(*this);
    rate = other.rate;
    channels = other.channels;
    head = other.head;
    other.head = nullptr;
  }
  return *this;
}

Segment* NewSegment(BlockId block, std::int32_t length, std::int32_t gain, std::int32_t offset) {
  AddBlockRef(block);
  return new Segment{nullptr, block, length, gain, offset};
}

Segment* CopySegment(const Segment& from) {
  return NewSegment(from.block, from.length, from.gain, from.offset);
}

void AppendSegment(Sound& s, Segment* segment) {
  segment->next = nullptr;
  if (Segment* tail = Tail(s); tail != nullptr)
    tail->next = segment;
  else
    s.head = segment;
}

void InsertSegmentBefore(Sound& s, Segment* before, Segment* segment) {
  if (before == nullptr || before == s.head) {
    segment->next = s.head;
    s.head = segment;
    return;
  }
  Segment* prev = s.head;
  while (prev != nullptr && prev->next != before) prev = prev->next;
  if (prev == nullptr) {  // `before` is not in the list: keep the segment at the tail
    AppendSegment(s, segment);
    return;
  }
  segment->next = before;
  prev->next = segment;
}

std::int32_t SegmentCount(const Sound& s) {
  std::int32_t count = 0;
  for (const Segment* g = s.head; g != nullptr; g = g->next) ++count;
  return count;
}

std::int32_t SoundLength(const Sound& s) {
  std::int64_t total = 0;
  for (const Segment* g = s.head; g != nullptr; g = g->next) total += g->length;
  return ClampFrames(total);
}

void FreeSegments(Sound& s) {
  Segment* g = s.head;
  s.head = nullptr;
  while (g != nullptr) {
    Segment* next = g->next;
    FreeSegment(g);
    g = next;
  }
}

void CopySound(const Sound& from, Sound& to) {
  if (&from == &to) return;
  Chain chain = CopyChain(from);  // copy first: the new references keep shared blocks alive
  FreeSegments(to);
  to.rate = from.rate;
  to.channels = from.channels;
  to.head = chain.head;
}

void DeleteRange(Sound& s, std::int32_t start_frame, std::int32_t end_frame) {
  if (start_frame > end_frame || end_frame < 0) return;
  const std::int64_t start = std::max<std::int32_t>(start_frame, 0);
  std::int64_t end = end_frame;
  if (start == end) return;
  std::int64_t pos = 0;
  Segment* prev = nullptr;
  Segment* g = s.head;
  while (g != nullptr) {
    const std::int64_t length = g->length;
    if (start >= pos + length) {  // wholly before the range
      pos += length;
      prev = g;
      g = g->next;
      continue;
    }
    if (end < pos + length) {  // the range ends inside g
      if (start > pos) {
        SplitSegment(g, end - pos);  // the copy keeps what follows the range
        g->length = static_cast<std::int32_t>(start - pos);
      } else {
        g->offset = static_cast<std::int32_t>(g->offset + (end - pos));
        g->length = static_cast<std::int32_t>(length - (end - pos));
      }
      return;
    }
    // The range covers g from start to its end; what follows moves left.
    end -= pos + length - start;
    if (start == pos) {
      Segment* next = g->next;
      if (prev != nullptr)
        prev->next = next;
      else
        s.head = next;
      FreeSegment(g);
      g = next;
    } else {
      g->length = static_cast<std::int32_t>(start - pos);
      pos = start;
      prev = g;
      g = g->next;
    }
  }
}

void CopyRange(const Sound& from, Sound& to, std::int32_t start, std::int32_t end) {
  if (start > end) return;
  CopySound(from, to);
  if (start > 0)
    DeleteRange(to, 0, start);
  else if (start < 0)
    InsertSilence(to, ClampFrames(-static_cast<std::int64_t>(start)), 0);
  const std::int64_t wanted = static_cast<std::int64_t>(end) - start;
  const std::int32_t length = SoundLength(to);
  if (wanted < length)
    DeleteRange(to, static_cast<std::int32_t>(wanted), length);
  else if (wanted > length)
    InsertSilence(to, ClampFrames(wanted - length), length);
}

void CutRange(Sound& from, Sound& to, std::int32_t start, std::int32_t end) {
  CopyRange(from, to, start, end);
  DeleteRange(from, start, end);
}

void InsertSound(Sound& s, std::int32_t at, const Sound& other) {
  // Copy first, so that inserting a sound into itself copies the list as it was.
  Chain chain = CopyChain(other);
  if (at < 0) {
    // Before frame 0: the material, then -at frames of silence, at the start (whether
    // or not the sound is empty).
    Segment* silence = NewSilence(-std::int64_t{at});
    if (chain.tail != nullptr)
      chain.tail->next = silence;
    else
      chain.head = silence;
    chain.tail = silence;
    LinkChainAfter(s, nullptr, chain);
    return;
  }
  std::int64_t remaining = at;
  Segment* prev = nullptr;
  for (Segment* g = s.head; g != nullptr; prev = g, g = g->next) {
    if (remaining <= 0) {
      LinkChainAfter(s, prev, chain);
      return;
    }
    if (remaining < g->length) {
      SplitSegment(g, remaining);
      LinkChainAfter(s, g, chain);
      return;
    }
    remaining -= g->length;
  }
  // The sound ended first (or is empty): a silence gap, then the material.
  if (remaining > 0) {
    Segment* silence = NewSilence(remaining);
    LinkChainAfter(s, prev, Chain{silence, silence});
    prev = silence;
  }
  LinkChainAfter(s, prev, chain);
}

void ReplaceRange(Sound& s, std::int32_t start, std::int32_t end, const Sound& other) {
  DeleteRange(s, start, end);
  InsertSound(s, start, other);
}

namespace {

// Walks a sound's segments from its start, appending the stretches asked for to a chain.
class SegmentWalker {
 public:
  explicit SegmentWalker(const Sound& s) : segment_(s.head) {}
  // Appends copies of the next `frames` frames to `chain` (as many as there are).
  void Take(Chain& chain, std::int64_t frames) {
    while (frames > 0 && segment_ != nullptr) {
      const std::int64_t take = std::min<std::int64_t>(segment_->length - used_, frames);
      Segment* copy = CopySegment(*segment_);
      copy->offset = static_cast<std::int32_t>(segment_->offset + used_);
      copy->length = static_cast<std::int32_t>(take);
      if (chain.tail != nullptr)
        chain.tail->next = copy;
      else
        chain.head = copy;
      chain.tail = copy;
      Skip(take);
      frames -= take;
    }
  }
  void Skip(std::int64_t frames) {
    while (frames > 0 && segment_ != nullptr) {
      const std::int64_t step = std::min<std::int64_t>(segment_->length - used_, frames);
      used_ += step;
      frames -= step;
      if (used_ == segment_->length) {
        segment_ = segment_->next;
        used_ = 0;
      }
    }
  }

 private:
  const Segment* segment_;
  std::int64_t used_ = 0;
};

}  // namespace

void ReplaceRanges(Sound& s, const std::vector<std::pair<std::int32_t, std::int32_t>>& ranges, const Sound& pieces) {
  const std::int64_t length = SoundLength(s);
  Chain chain;
  SegmentWalker old_frames(s);
  SegmentWalker new_frames(pieces);
  std::int64_t done = 0;
  for (const auto& [start, end] : ranges) {
    if (start < done || end <= start || end > length) continue;
    old_frames.Take(chain, start - done);
    new_frames.Take(chain, end - start);
    old_frames.Skip(end - start);
    done = end;
  }
  old_frames.Take(chain, length - done);
  FreeSegments(s);
  s.head = chain.head;
}

void InsertSilence(Sound& s, std::int32_t count_frames, std::int32_t at_frame) {
  if (count_frames < 0) return;  // a negative length would corrupt the list
  std::int64_t count = count_frames;
  std::int64_t at = at_frame;
  if (at < 0) {
    if (-at > count) return;  // the silence would lie wholly before frame 0
    count += at;
    at = 0;
  }
  Segment* prev = nullptr;
  Segment* g = s.head;
  for (; g != nullptr && at > 0; prev = g, g = g->next) {
    if (at < g->length) {
      if (count == 0) return;
      SplitSegment(g, at);
      prev = g;
      break;
    }
    at -= g->length;
  }
  if (g == nullptr) count += at;  // past the end the gap is silence too
  if (count == 0) return;         // no empty segments
  Segment* silence = NewSilence(count);
  LinkChainAfter(s, prev, Chain{silence, silence});
}

void CropRange(Sound& s, std::int32_t start, std::int32_t end) {
  if (start > 0)
    DeleteRange(s, 0, start);
  else
    start = 0;
  DeleteRange(s, ClampFrames(static_cast<std::int64_t>(end) - start), SoundLength(s));
}

void TrimStart(Sound& s, std::int32_t frames) {
  if (frames > 0) DeleteRange(s, 0, frames);
}

void TrimEnd(Sound& s, std::int32_t frame) { DeleteRange(s, frame, SoundLength(s)); }

void RepeatRange(Sound& s, std::int32_t times, std::int32_t start, std::int32_t end) {
  if (start > end || times <= 0) return;
  Sound range(44100, 1);
  CopyRange(s, range, start, end);
  // All copies go in with one insertion: before frame 0 each insertion would add its own
  // padding.
  Sound copies(44100, 1);
  for (std::int32_t i = 0; i < times; ++i) InsertSound(copies, SoundLength(copies), range);
  InsertSound(s, start, copies);
}

void ScaleGain(Sound& s, std::int32_t percent) {
  if (percent == 100) return;
  // Only growth can overflow: a gain at the limit or above saturates. Shrinking applies
  // to every gain, the largest one included.
  const std::int64_t limit = (std::int64_t{kMaxGain} / std::max(percent, 1)) * 100;
  for (Segment* g = s.head; g != nullptr; g = g->next) {
    if (percent > 100 && g->gain >= limit) {
      g->gain = kMaxGain;
    } else {
      // Multiply first: dividing first would make 50 % of unity 0x7FFFF8, one step
      // of the reader's 1/512 short of a half.
      const std::int64_t scaled = std::int64_t{g->gain} * percent / 100;
      g->gain = static_cast<std::int32_t>(std::clamp<std::int64_t>(
          scaled, std::numeric_limits<std::int32_t>::min(), kMaxGain));
    }
  }
}

void ChangeRangeVolume(Sound& s, std::int32_t percent, std::int32_t start, std::int32_t end) {
  if (start > end || percent == 100) return;
  // Only frames that exist change: padding would make the sound longer.
  start = std::max<std::int32_t>(start, 0);
  end = std::min(end, SoundLength(s));
  if (start >= end) return;
  Sound range(44100, 1);
  CutRange(s, range, start, end);
  ScaleGain(range, percent);
  InsertSound(s, start, range);
}

}  // namespace sonavel
