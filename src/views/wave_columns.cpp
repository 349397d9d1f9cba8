#include "views/wave_columns.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/file.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {

namespace {

constexpr std::size_t kPeakBufferBytes = 64 * 1024;

int ChannelCount(int channels) { return channels <= 0 ? 1 : channels; }

bool StopRequested(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// Limits the columns to the view; false when none is left.
bool ClampColumns(const WaveMapping& mapping, int& first, int& last) {
  first = std::max(first, 0);
  last = std::min(last, std::clamp(mapping.width, 1, kMaxColumns) - 1);
  return first <= last;
}

bool SplitChannels(ColumnOptions options, int data_channels) {
  return (options.display_mode == 1 || options.display_mode == 2) &&
         ChannelCount(options.channels) == 2 && data_channels == 2;
}

std::uint8_t SampleByte(std::int64_t magnitude, int shift) {
  return static_cast<std::uint8_t>(std::min<std::int64_t>(255, magnitude >> shift));
}

// The scaled byte of a peak byte gathered under gain factor g (256 is unity).
std::uint8_t ScaledPeak(std::int32_t peak, std::int32_t g) {
  const std::int32_t product = peak * g;
  return product >= 0x10000 ? 255 : static_cast<std::uint8_t>(product >> 8);
}

// Sequential reads of whole peak records, served from a buffer; records past the end of
// a short file read as zeros.
class PeakRecords {
 public:
  explicit PeakRecords(std::size_t record_bytes)
      : record_bytes_(record_bytes),
        capacity_(std::max<std::size_t>(1, kPeakBufferBytes / record_bytes)),
        buffer_(capacity_ * record_bytes) {}

  bool Open(BlockId block, std::int64_t first_record) {
    Close();
    if (!file_.Open(BlockPeakPath(block), File::Mode::kRead)) return false;
    file_.Seek(first_record * static_cast<std::int64_t>(record_bytes_));
    return true;
  }
  void Close() {
    file_.Close();
    begin_ = end_ = 0;
  }
  bool IsOpen() const { return file_.IsOpen(); }

  // Calls fold(record) for `count` records; `ahead` records may be read in advance.
  template <typename Fold>
  void Take(std::int64_t count, std::int64_t ahead, Fold&& fold) {
    while (count > 0) {
      if (begin_ == end_) Refill(std::max(count, ahead));
      const std::int64_t available = static_cast<std::int64_t>(end_ - begin_);
      const std::int64_t n = std::min(count, available);
      const std::uint8_t* record = buffer_.data() + begin_ * record_bytes_;
      for (std::int64_t i = 0; i < n; ++i, record += record_bytes_) fold(record);
      begin_ += static_cast<std::size_t>(n);
      count -= n;
      ahead -= n;
    }
  }

 private:
  void Refill(std::int64_t wanted) {
    const std::size_t records =
        static_cast<std::size_t>(std::clamp<std::int64_t>(wanted, 1, static_cast<std::int64_t>(capacity_)));
    const std::size_t bytes = records * record_bytes_;
    const std::size_t got = file_.Read(buffer_.data(), bytes);
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(got),
              buffer_.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
    begin_ = 0;
    end_ = records;
  }

  File file_;
  std::size_t record_bytes_;
  std::size_t capacity_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;  // next record in the buffer
  std::size_t end_ = 0;
};

void SetLowestPriority() {
  // Per-thread nice value on Linux; a failure leaves the normal priority.
  const int ignored = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
  (void)ignored;
}

}  // namespace

std::int64_t PeakStepFrames(int channels) {
  return std::int64_t{kPeakRunFrames} * (512 / ChannelCount(channels)) - kPeakRunFrames;
}

int ComputeColumnsFromSamples(SampleSource& reader, const WaveMapping& mapping, int first_column,
                              int last_column, ColumnOptions options, std::uint8_t* upper,
                              std::uint8_t* lower, const std::atomic<bool>* stop) {
  if (upper == nullptr || lower == nullptr) return 0;
  if (!ClampColumns(mapping, first_column, last_column)) return 0;
  const std::size_t channels = static_cast<std::size_t>(ChannelCount(reader.channels));
  const bool split = SplitChannels(options, static_cast<int>(channels));
  const int shift = options.vertical_zoom ? 8 : 11;
  std::vector<std::int32_t> buffer(kChunkFrames * channels);

  std::int64_t position = mapping.Frame(first_column);
  reader.Seek(static_cast<std::int32_t>(position));
  int done = 0;
  for (int t = first_column; t <= last_column; ++t) {
    if (StopRequested(stop)) break;
    const std::int64_t end = std::max<std::int64_t>(mapping.Frame(t + 1), position);
    std::int64_t frames = end - position;
    position = end;
    std::int32_t high[2] = {0, 0};
    std::int32_t low[2] = {0, 0};
    while (frames > 0) {
      const std::int32_t piece = static_cast<std::int32_t>(std::min<std::int64_t>(frames, kChunkFrames));
      reader.Read(buffer.data(), piece);
      const std::size_t samples = static_cast<std::size_t>(piece) * channels;
      if (split) {
        for (std::size_t i = 0; i < samples; i += 2) {
          high[0] = std::max(high[0], buffer[i]);
          low[0] = std::min(low[0], buffer[i]);
          high[1] = std::max(high[1], buffer[i + 1]);
          low[1] = std::min(low[1], buffer[i + 1]);
        }
      } else {
        for (std::size_t i = 0; i < samples; ++i) {
          high[0] = std::max(high[0], buffer[i]);
          low[0] = std::min(low[0], buffer[i]);
        }
      }
      frames -= piece;
    }
    if (split) {
      upper[t] = SampleByte(std::max<std::int64_t>(high[0], -std::int64_t{low[0]}), shift);
      lower[t] = SampleByte(std::max<std::int64_t>(high[1], -std::int64_t{low[1]}), shift);
    } else {
      upper[t] = SampleByte(high[0], shift);
      lower[t] = SampleByte(-std::int64_t{low[0]}, shift);
    }
    ++done;
  }
  return done;
}

int ComputeColumnsFromPeaks(const Sound& sound, const WaveMapping& mapping, int first_column,
                            int last_column, ColumnOptions options, std::uint8_t* upper,
                            std::uint8_t* lower, const std::atomic<bool>* stop) {
  if (upper == nullptr || lower == nullptr) return 0;
  if (!ClampColumns(mapping, first_column, last_column)) return 0;
  const int channels = ChannelCount(sound.channels);
  const bool split = SplitChannels(options, channels);
  const int gain_shift = options.vertical_zoom ? 13 : 16;
  const std::size_t record_bytes = static_cast<std::size_t>(channels) * 2;
  const std::int64_t step_limit = PeakStepFrames(channels);
  auto gain_factor = [&](const Segment& segment) {
    return segment.block == kNoBlock ? 0 : std::max<std::int32_t>(0, segment.gain >> gain_shift);
  };

  PeakRecords records(record_bytes);
  // The walk: `left` frames remain of the current stretch (a segment, or the frames before
  // frame 0); `next` follows it. Steps advance by whole records, so `left` may end below 0.
  const Segment* next = sound.head;
  std::int64_t left = 0;
  std::int32_t g = 256;
  std::int64_t position = mapping.Frame(first_column);
  if (position < 0) {
    left = -position;  // silence before the sound
  } else {
    std::int64_t within = position;
    while (next != nullptr && within >= next->length) {
      within -= next->length;
      next = next->next;
    }
    if (next != nullptr) {
      const Segment& segment = *next;
      next = segment.next;
      left = segment.length - within;
      if (const std::int32_t factor = gain_factor(segment); factor > 0) {
        records.Open(segment.block, (std::int64_t{segment.offset} + within) / kPeakRunFrames);
        g = factor;
      }
    }
  }

  int done = 0;
  for (int t = first_column; t <= last_column; ++t) {
    if (StopRequested(stop)) break;
    const std::int64_t end = mapping.Frame(t + 1);
    std::int32_t hi = 0;
    std::int32_t lo = 0;
    auto fold = [&](const std::uint8_t* record) {
      if (split) {
        hi = std::max<std::int32_t>(hi, std::max(record[0], record[1]));
        lo = std::max<std::int32_t>(lo, std::max(record[2], record[3]));
      } else {
        for (int c = 0; c < channels; ++c) {
          hi = std::max<std::int32_t>(hi, record[2 * c]);
          lo = std::max<std::int32_t>(lo, record[2 * c + 1]);
        }
      }
    };
    while (position < end) {
      if (left <= 0) {
        records.Close();
        if (next == nullptr) {  // past the last segment: nothing more to read
          position = end;
          break;
        }
        position += left;  // back from the rounded step to the segment's start
        const Segment& segment = *next;
        next = segment.next;
        left = segment.length;
        // Silence (and a gain too small to show) opens nothing and adds nothing.
        if (const std::int32_t factor = gain_factor(segment); factor > 0) {
          records.Open(segment.block, segment.offset / kPeakRunFrames);
          // What the column gathered so far is rescaled so that the final scaling by the
          // new factor is right for all of it.
          hi = std::min<std::int32_t>(255, hi * g / factor);
          lo = std::min<std::int32_t>(255, lo * g / factor);
          g = factor;
        }
        continue;
      }
      const std::int64_t step = std::min({end - position, left, step_limit});
      const std::int64_t count = (step + kPeakRunFrames - 1) / kPeakRunFrames;
      if (records.IsOpen()) records.Take(count, (left + kPeakRunFrames - 1) / kPeakRunFrames, fold);
      position += count * kPeakRunFrames;
      left -= count * kPeakRunFrames;
    }
    upper[t] = ScaledPeak(hi, g);
    lower[t] = ScaledPeak(lo, g);
    ++done;
  }
  return done;
}

bool ColumnsFromPeaks(const WaveMapping& mapping) {
  return std::int64_t{mapping.width} * kPeakRunFrames < mapping.visible_frames;
}

int ComputeColumns(SampleSource& reader, const Sound& sound, const WaveMapping& mapping,
                   int first_column, int last_column, ColumnOptions options, std::uint8_t* upper,
                   std::uint8_t* lower, const std::atomic<bool>* stop) {
  if (ColumnsFromPeaks(mapping))
    return ComputeColumnsFromPeaks(sound, mapping, first_column, last_column, options, upper, lower, stop);
  return ComputeColumnsFromSamples(reader, mapping, first_column, last_column, options, upper, lower, stop);
}

std::int32_t OverviewFrames(const Sound& sound) {
  const std::int32_t length = SoundLength(sound);
  if (length > 0) return length;
  return sound.rate > 0 ? sound.rate : 44100;
}

// ---------------------------------------------------------------------------------------

ColumnWorker::ColumnWorker() = default;

ColumnWorker::~ColumnWorker() { Detach(); }

void ColumnWorker::SetCallbacks(InvalidateFn invalidate, SelectionEdgeFn selection_edge) {
  if (attached()) return;
  invalidate_ = std::move(invalidate);
  selection_edge_ = std::move(selection_edge);
}

void ColumnWorker::Attach(const Sound& sound, ColumnOptions options) {
  Detach();
  CopySound(sound, sound_);
  reader_ = OpenSoundReader(sound_);
  options_ = options;
  stop_.store(false);
  computed_columns_.store(0);
  {
    std::lock_guard lock(request_mutex_);
    has_request_ = false;
    signalled_ = false;
    resized_ = true;  // the thread takes the client size first
    idle_ = false;
  }
  {
    std::lock_guard lock(paint_mutex_);
    mapping_.SetRange(0, 0);
    std::memset(upper_, 0, sizeof upper_);
    std::memset(lower_, 0, sizeof lower_);
  }
  thread_ = std::thread(&ColumnWorker::Run, this);
}

void ColumnWorker::Detach() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(request_mutex_);
      stop_.store(true);
      request_event_.notify_all();
    }
    thread_.join();
  }
  reader_.Reset();
  FreeSegments(sound_);
}

void ColumnWorker::SetRange(std::int32_t first_frame, std::int32_t frame_count) {
  std::lock_guard lock(request_mutex_);
  has_request_ = true;
  request_first_ = first_frame;
  request_count_ = frame_count;
  signalled_ = true;
  request_event_.notify_all();
}

void ColumnWorker::Resize(int client_width, int client_height) {
  std::lock_guard lock(request_mutex_);
  client_width_ = client_width;
  client_height_ = client_height;
  resized_ = true;
  signalled_ = true;
  request_event_.notify_all();
}

void ColumnWorker::Snapshot(
    const std::function<void(const WaveMapping&, const std::uint8_t*, const std::uint8_t*)>& painter) const {
  std::lock_guard lock(paint_mutex_);
  painter(mapping_, upper_, lower_);
}

bool ColumnWorker::WaitUntilIdle(int timeout_ms) const {
  if (!thread_.joinable()) return false;
  std::unique_lock lock(request_mutex_);
  return idle_event_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [&] { return idle_ && !signalled_; });
}

void ColumnWorker::Run() {
  SetLowestPriority();
  std::int32_t shown_first = 0;
  std::int32_t shown_count = -1;  // nothing shown yet
  while (!stop_.load()) {
    // 1. Take the request.
    bool has_request = false;
    bool resized = false;
    std::int32_t first = 0;
    std::int32_t count = 0;
    int client_width = 0;
    int client_height = 0;
    {
      std::lock_guard lock(request_mutex_);
      signalled_ = false;
      has_request = has_request_;
      first = request_first_;
      count = request_count_;
      resized = std::exchange(resized_, false);
      client_width = client_width_;
      client_height = client_height_;
    }
    if (resized) {
      std::lock_guard lock(paint_mutex_);
      mapping_.SetClientSize(client_width, client_height);
      shown_count = -1;  // everything is recomputed
    }
    // 2. Nothing new: wait.
    if (!has_request || (first == shown_first && count == shown_count)) {
      std::unique_lock lock(request_mutex_);
      idle_ = true;
      idle_event_.notify_all();
      request_event_.wait(lock, [&] { return signalled_ || stop_.load(); });
      idle_ = false;
      continue;
    }
    // 3. Apply it.
    WaveMapping mapping;
    int compute_first = 0;
    int compute_last = -1;
    int scroll_by = 0;
    int edge_state = 0;
    std::int32_t edge_frame = 0;
    {
      std::lock_guard lock(paint_mutex_);
      const int width = mapping_.width;
      if (count == shown_count) {
        // Pure scroll: the shift is the new start's pixel under the old mapping.
        const std::int64_t new_offset = static_cast<std::int64_t>(first * mapping_.scale);
        const std::int64_t shift = new_offset - mapping_.offset_pixels;
        mapping_.first_frame = first;
        mapping_.offset_pixels = static_cast<int>(new_offset);
        edge_state = edge_state_.load();
        if (edge_state == 6) edge_frame = mapping_.Frame(0);
        if (edge_state == 4) edge_frame = mapping_.Frame(width);
        if (shift != 0 && shift > -width && shift < width) {
          const int s = static_cast<int>(shift);
          const std::size_t kept = static_cast<std::size_t>(width - std::abs(s));
          if (s > 0) {
            std::memmove(upper_, upper_ + s, kept);
            std::memmove(lower_, lower_ + s, kept);
            compute_first = width - s;
            compute_last = width - 1;
          } else {
            std::memmove(upper_ - s, upper_, kept);
            std::memmove(lower_ - s, lower_, kept);
            compute_first = 0;
            compute_last = -s - 1;
          }
          scroll_by = s;
        } else if (shift != 0) {
          compute_last = width - 1;
        }
      } else {
        mapping_.SetRange(first, count);
        compute_last = width - 1;
      }
      mapping = mapping_;
    }
    shown_first = first;
    shown_count = count;
    if (scroll_by != 0 && invalidate_) invalidate_(compute_first + 1, compute_last + 1, scroll_by);
    if ((edge_state == 6 || edge_state == 4) && selection_edge_) selection_edge_(edge_state == 6, edge_frame);
    // 4. and 5. Compute what is not covered and invalidate it.
    if (compute_first <= compute_last) Compute(mapping, compute_first, compute_last);
  }
  std::lock_guard lock(request_mutex_);
  idle_ = false;
}

void ColumnWorker::Compute(const WaveMapping& mapping, int first, int last) {
  // Computed outside the paint lock into scratch arrays; only this thread writes the
  // column arrays, so the mapping is still the one the columns were computed for.
  std::uint8_t upper[kMaxColumns];
  std::uint8_t lower[kMaxColumns];
  const int done = ComputeColumns(*reader_, sound_, mapping, first, last, options_, upper, lower, &stop_);
  computed_columns_.fetch_add(done);
  if (done <= 0) return;
  {
    std::lock_guard lock(paint_mutex_);
    std::memcpy(upper_ + first, upper + first, static_cast<std::size_t>(done));
    std::memcpy(lower_ + first, lower + first, static_cast<std::size_t>(done));
  }
  if (invalidate_) invalidate_(first + 1, first + done, 0);
}

}  // namespace sonavel
