#pragma once
// The column cache of a waveform view: one upper and one lower byte per pixel column,
// computed either from the samples (through a SampleSource, the segment gains applied
// by the reader) or, when a column covers more than 256 frames, from the peak files of
// the block files. ColumnWorker is the low-priority thread of one view that keeps the
// cache in step with the requested range and scrolls it when only the start moved.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "store/sound.h"
#include "store/stream.h"
#include "views/wave_mapping.h"

namespace sonavel {

// How the columns are filled. display_mode 0: upper = largest sample of all channels,
// lower = magnitude of the smallest. Modes 1 and 2 (stereo only; other channel counts
// are treated as mode 0): upper = peak magnitude of channel 0, lower = of channel 1.
// Vertical zoom makes the wave eight times taller. A channel count of 0 counts as 1.
struct ColumnOptions {
  int channels = 1;
  int display_mode = 0;
  bool vertical_zoom = false;
};

// Frames per step when walking peak files with `channels` channels: 256 × (512 /
// channels) - 256, a whole number of 256-frame records.
std::int64_t PeakStepFrames(int channels);

// Columns first_column … last_column (clamped to 0 … width - 1; arrays of kMaxColumns
// entries indexed by column) from the samples: the reader is moved to frame(first_column)
// and read through. Returns the number of columns written; fewer when `stop` became true.
int ComputeColumnsFromSamples(SampleSource& reader, const WaveMapping& mapping, int first_column,
                              int last_column, ColumnOptions options, std::uint8_t* upper,
                              std::uint8_t* lower, const std::atomic<bool>* stop);

// The same columns from the peak files of the sound's block files (one record of
// channels × 2 bytes per 256 frames). Walking by whole records makes this an
// approximation where a segment or a column does not start on a record boundary.
int ComputeColumnsFromPeaks(const Sound& sound, const WaveMapping& mapping, int first_column,
                            int last_column, ColumnOptions options, std::uint8_t* upper,
                            std::uint8_t* lower, const std::atomic<bool>* stop);

// True when the view reads peak files: a column covers more than 256 frames.
bool ColumnsFromPeaks(const WaveMapping& mapping);

// Peak files when ColumnsFromPeaks, otherwise samples through `reader` (a reader over
// `sound`).
int ComputeColumns(SampleSource& reader, const Sound& sound, const WaveMapping& mapping,
                   int first_column, int last_column, ColumnOptions options, std::uint8_t* upper,
                   std::uint8_t* lower, const std::atomic<bool>* stop);

// The frames the overview strip spans: the sound's length, or one second of an empty one.
std::int32_t OverviewFrames(const Sound& sound);

// The column thread of one view. Every method is called from the user-interface thread;
// the callbacks run on the column thread and must not call back into the worker (a
// widget posts them to its own thread).
class ColumnWorker {
 public:
  // Repaint the pixels first_x … last_x (x = column + 1; nothing when first_x > last_x)
  // after scrolling the strip x = 1 … width by scroll_by pixels (positive: the contents
  // move left). scroll_by is 0 when nothing is to be scrolled.
  using InvalidateFn = std::function<void(int first_x, int last_x, int scroll_by)>;
  // While the mouse is held at an edge, the selection edge follows the scrolled view:
  // `start` true for the selection start (edge state 6), false for its end (state 4).
  using SelectionEdgeFn = std::function<void(bool start, std::int32_t frame)>;

  ColumnWorker();
  ~ColumnWorker();
  ColumnWorker(const ColumnWorker&) = delete;
  ColumnWorker& operator=(const ColumnWorker&) = delete;

  // Set while detached; the running thread uses the callbacks it started with.
  void SetCallbacks(InvalidateFn invalidate, SelectionEdgeFn selection_edge);

  // Detaches, copies the sound, opens a reader of its own, forgets the pending request
  // and starts the column thread at the lowest priority.
  void Attach(const Sound& sound, ColumnOptions options);
  // Stops the thread (the computation in progress stops at its next column) and drops
  // the reader and the copy of the sound.
  void Detach();
  bool attached() const { return thread_.joinable(); }

  // Asks for frames first … first + count; the thread computes what is not shown yet.
  void SetRange(std::int32_t first_frame, std::int32_t frame_count);
  // The window's new client size; everything is recomputed.
  void Resize(int client_width, int client_height);
  // 0, 4 (mouse held beyond the right edge) or 6 (held at the left edge).
  void SetEdgeState(int state) { edge_state_.store(state); }
  int edge_state() const { return edge_state_.load(); }

  // Runs `painter` with the mapping and the column arrays under the paint lock.
  void Snapshot(const std::function<void(const WaveMapping& mapping, const std::uint8_t* upper,
                                         const std::uint8_t* lower)>& painter) const;

  // Waits until the thread has applied every request and is waiting for the next one;
  // false after `timeout_ms` or when no thread runs.
  bool WaitUntilIdle(int timeout_ms) const;
  // Columns computed since the last Attach (the computations that stopped early count
  // the columns they finished).
  std::int64_t computed_columns() const { return computed_columns_.load(); }

 private:
  void Run();
  // Computes columns first … last with `mapping` into the arrays and invalidates them.
  void Compute(const WaveMapping& mapping, int first, int last);

  // The column thread's own state: the copy of the sound and its reader.
  Sound sound_;
  SourceRef reader_;
  ColumnOptions options_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> edge_state_{0};
  std::atomic<std::int64_t> computed_columns_{0};
  InvalidateFn invalidate_;
  SelectionEdgeFn selection_edge_;

  // Guarded by request_mutex_.
  mutable std::mutex request_mutex_;
  std::condition_variable request_event_;
  mutable std::condition_variable idle_event_;
  bool signalled_ = false;
  bool has_request_ = false;
  std::int32_t request_first_ = 0;
  std::int32_t request_count_ = 0;
  bool resized_ = false;
  int client_width_ = 3;
  int client_height_ = 1;
  bool idle_ = false;

  // Guarded by paint_mutex_.
  mutable std::mutex paint_mutex_;
  WaveMapping mapping_;
  std::uint8_t upper_[kMaxColumns] = {};
  std::uint8_t lower_[kMaxColumns] = {};
};

}  // namespace sonavel
