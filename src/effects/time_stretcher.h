#pragma once
// Changing the duration of audio without changing its pitch, and the pitch without
// changing the duration.
//
// The time stretcher is a phase vocoder: every N / 8 output frames it takes a Hamming-
// windowed frame of N input frames, N / 8 × x further on than the one before, moves the
// phase of every spectral peak on as far as the output advanced (from the peak's measured
// frequency), gives the bins around each peak the peak's phase plus their offset to it in
// the current frame (so the bins of one partial stay coherent), and transforms back. The
// synthesis phases start at the first frame's analysis phases, so at x = 1 each frame is
// resynthesised unchanged. Output frames come from the middle of the last two frames,
// faded from the older into the newer one. Output frame n therefore carries the input
// around frame n × x′, where x′ is x to the analysis hop's resolution (a millionth of a
// frame).
//
// The level is kept at every factor: each frame's heard middle gets back the energy the
// analysis frame had there, the window is divided out, and the fade keeps the power of
// frames that the phase changes made unlike (noise); at x = 1 the input returns unchanged.
// Frames are computed in batches whose transforms and channels run on the shared worker
// pool, with the same output as in one thread.
//
// Factors above 8, where the vocoder's hop would pass the frame size, go to an overlap-add
// stretcher instead: segments of about 11 ms of input (rate / 90 frames, 20..2730), taken
// x × half a segment apart and laid half a segment apart with raised-cosine crossfades.
// Each segment may move by up to a quarter segment to where it best continues the
// waveform it fades against (normalised cross-correlation), so tones keep their pitch.

#include <cstdint>
#include <functional>
#include <vector>

#include "effects/dsp/fft.h"
#include "effects/dsp/phase_math.h"
#include "effects/filter_source.h"
#include "store/stream.h"

namespace sonavel {

// The vocoder's frame size N for `rate`: the smallest 2^m, m ≥ 3, with
// 2^m ≥ rate / 32 − (rate / 32) / 4 (integer divisions): 2048 at 44100, 256 at 8000.
// Limited at 2^16 for absurd rates.
std::int32_t TimeStretchFftSize(std::int32_t rate);

// The overlap-add stretcher's segment length in frames: rate / 90 within 20..2730, even.
std::int32_t OverlapAddSegmentFrames(std::int32_t rate);

class TimeStretcher : public FilterSource {
 public:
  // Plays `source` x times as fast at the same pitch; x is limited to 0.01..8. The peak
  // bound is twice the source's (0x200000 when the source's exceeds 0xFFFFF); outputs are
  // limited to it.
  // `precision` chooses the per-bin arithmetic: the C library's functions or our
  // vectorised ones (output equal within 1 in the store's scale).
  TimeStretcher(SourceRef source, double x, StretchPrecision precision = StretchPrecision::kFast);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  // The output frames delivered since the start, or since the last seek plus its target.
  std::int32_t Position() const override;
  // ceil(source length / x′); 0 when the source's length is unknown.
  std::int32_t Length() const override;
  // Restarts the vocoder at input frame floor(frame × x′): the first analysis frame is
  // centred there and holds the input before it (zeros before the start), the running
  // phases start afresh. Seeking to 0 is the same as a new stretcher. After Seek(n),
  // Position() is n and the output is time-aligned with a continuous read; at x = 1 it
  // matches that read, at other factors the partials carry
  // the same frequencies and levels but may start with other phases.
  void Seek(std::int32_t frame) override;

  std::int32_t frame_size() const { return size_; }
  std::int32_t synthesis_hop() const { return hop_; }
  // The analysis hop: whole frames and millionths.
  std::int32_t analysis_hop() const { return hop_whole_; }
  std::int32_t analysis_hop_millionths() const { return hop_fraction_; }
  // Whether batches use the shared worker pool (the default); the output is the same
  // either way.
  void set_parallel(bool parallel) { parallel_ = parallel; }

 private:
  // Frames are computed in batches of this many (about 90 ms of output at 44.1 kHz), so
  // that the transforms of several frames and the bins of several channels can run on the
  // shared worker pool; each slot holds one frame of every channel, one slot more than a
  // batch so that the frame being faded from stays.
  static constexpr std::int32_t kBatch = 16;
  static constexpr std::int32_t kSlots = kBatch + 1;
  // One frame of a batch: input and output counters modulo N, the sign the middle bin
  // takes, and where its analysis window starts in the ring.
  struct FrameCounters {
    double h = 0;
    double o = 0;
    double nyquist_sign = 1;
    std::int32_t ring_position = 0;
  };

  // Restarts with the first analysis frame centred on input frame `center`.
  void Reset(std::int64_t center);
  // Advances the analysis frame kBatch times by one hop and resynthesises every channel.
  void ComputeBatch();
  // Frame `number` (counted since the reset) of `channel`: real parts N, imaginary parts N.
  double* Frame(std::int64_t number, std::size_t channel);
  // The complex transform of pair p in frame s of the batch: real N, imaginary N.
  double* PairBuffer(std::int32_t s, std::int32_t p) {
    return pair_buffers_.data() + (static_cast<std::size_t>(s) * ((channels + 1) / 2) + p) * 2 * size_;
  }
  // Runs task(0 .. count − 1) on the worker pool, or in order here when not parallel.
  void Parallel(std::int32_t count, const std::function<void(std::int32_t)>& task);
  // Fades `older` (a frame's predecessor) into the first heard half of `newer`, in place.
  void FadeFrame(double* newer, const double* older) const;
  // Gives the heard middle of a resynthesised frame the energy the analysis frame had
  // there and divides the window out.
  void NormaliseFrame(double* frame, double analysis_energy) const;
  // Ties the synthesis phases of the bins around each spectral peak to the peak's.
  void LockPhases(std::size_t channel);
  // From the analysis spectrum (bins below N / 2) of `channel` to its synthesis spectrum,
  // in place; h and o are the input and output counters modulo N; the first frame after
  // a reset sets the start phases.
  void ProcessBins(double* real, double* imaginary, std::size_t channel, double h, double o, bool first_frame);
  // Delivers `frames` input frames: pending leading zeros first, then the upstream's.
  void Fetch(std::int32_t* into, std::int32_t frames);
  // x′ as a ratio: analysis hop in millionths over synthesis hop in millionths.
  std::int64_t HopMillionths() const { return std::int64_t{hop_whole_} * 1000000 + hop_fraction_; }

  FftPlan plan_;
  StretchPrecision precision_;
  bool parallel_ = true;
  std::int32_t size_;      // N
  std::int32_t hop_;       // H = N / 8
  std::int32_t hop_whole_;     // c0
  std::int32_t hop_fraction_;  // millionths of a frame
  double phase_scale_;         // H / analysis hop
  std::vector<double> window_;       // N
  std::vector<double> bin_step_;     // 2π j / N for j < N / 2
  std::vector<std::int32_t> ring_;   // ring_frames_ × channels
  std::int32_t ring_frames_;
  std::int32_t ring_position_ = 0;   // first frame of the analysis window
  std::int32_t accumulator_ = 0;     // millionths carried towards the next whole frame
  std::vector<double> frames_;        // kSlots × channels × 2N
  std::vector<double> pair_buffers_;  // kBatch × pairs × 2N
  std::vector<FrameCounters> batch_;  // kBatch
  std::vector<double> analysis_energy_;  // kBatch × channels: windowed input energy of the heard middle
  std::vector<double> fade_;  // H: the older frame's weight q over one fade, 1 down to 1 / H
  // Per channel: the running phases and the offsets that start the synthesis phases at
  // the analysis ones.
  std::vector<double> phases_;       // channels × N / 2
  std::vector<double> phase_start_;  // channels × N / 2
  // Scratch of each channel (N / 2 each): magnitudes, analysis and synthesis phases; the
  // phase locking's offsets, peaks, their synthesis phases and the region boundaries.
  std::vector<double> magnitude_;
  std::vector<double> angle_;
  std::vector<double> synthesis_;
  std::vector<double> lock_base_;
  std::vector<double> peak_synthesis_;
  std::vector<std::int32_t> peaks_;
  std::vector<std::int32_t> boundaries_;  // channels × (N / 2 + 1)
  std::int64_t computed_ = 0;  // frames computed since the reset
  std::int64_t current_ = 0;   // the frame being faded in
  std::int64_t input_counter_ = 0;
  std::int64_t output_counter_ = 0;
  std::int32_t read_index_ = 0;
  std::int64_t lead_zeros_ = 0;
  std::int64_t position_ = 0;
};

class OverlapAddStretcher : public FilterSource {
 public:
  // Plays `source` x times as fast (x limited to 0.01..100) by crossfading segments.
  // Outputs are convex combinations of input samples, so the peak bound is the source's.
  OverlapAddStretcher(SourceRef source, double x);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  std::int32_t Position() const override;
  // ceil(source length / x); 0 when the source's length is unknown.
  std::int32_t Length() const override;
  // Restarts at input frame floor(frame × x); the crossfade pattern starts afresh.
  void Seek(std::int32_t frame) override;

  std::int32_t segment_frames() const { return segment_; }

 private:
  void Reset(std::int64_t input_start);
  // Picks the next segment and mixes its first half with the last one's second half.
  void NextSegment();
  // Makes buffer_ hold input [from, from + frames); `from` never decreases.
  void Gather(std::int64_t from, std::int32_t frames);
  // How well the segment at buffer offset `offset` continues the fading tail.
  double Similarity(std::int32_t offset) const;

  double factor_;
  std::int32_t segment_;  // S frames, even
  std::int32_t half_;     // S / 2: output frames per segment
  std::int32_t search_;   // S / 4: how far a segment may move to fit the waveform
  std::vector<double> fade_;        // S: raised cosine, fade_[i] + fade_[i + S/2] = 1
  std::vector<std::int32_t> buffer_;  // input [buffer_start_, + buffer_frames_), S + 2 × search
  std::int64_t buffer_start_ = 0;
  std::int32_t buffer_frames_ = 0;
  std::int64_t upstream_next_ = 0;    // the upstream frame the next read delivers
  std::vector<std::int32_t> tail_;    // second half of the last segment
  std::vector<std::int32_t> mixed_;   // half_ output frames
  std::int32_t mixed_read_ = 0;       // frames of mixed_ delivered
  std::int64_t input_base_ = 0;
  std::int64_t segment_index_ = 0;
  std::int64_t position_ = 0;
};

// Plays `source` x times as fast at the same pitch: the phase vocoder for 0 < x ≤ 8, the
// overlap-add stretcher above 8. A negative factor is taken by its magnitude (a forward
// stream cannot run backwards) and, as for large factors, goes to the overlap-add
// stretcher. Magnitudes below 0.01, and NaN, count as 0.01 (a zero factor would never
// advance). A source with a non-zero status is returned unchanged.
SourceRef MakeTimeStretcher(SourceRef source, double x, StretchPrecision precision = StretchPrecision::kFast);

// Moves the pitch by x and keeps the duration: the speed changer by x (limited below at
// 0.1), then the time stretcher by 1 / (that same limited x).
SourceRef MakePitchShifter(SourceRef source, double x, StretchPrecision precision = StretchPrecision::kFast);

}  // namespace sonavel
