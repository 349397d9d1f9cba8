#pragma once
// The delay and modulation effects: echo, reverb ("Hall"), chorus, flanger and phaser.
// Echo and reverb are integer feedback combs with Q9 gains; chorus and flanger read a ring
// of past frames at a sine-swept delay with linear interpolation. Every filter works on
// whole chunks and keeps its ring across reads; a seek empties the ring (the sweep phases
// go on where they were), so a preview restart begins without the old tail.
//
// Feedback can build a sum beyond 32 bits (echo at 99 % on a tone whose period divides the
// delay grows about 85-fold): the products are formed in 64 bits and every result is
// saturated to 32 bits instead of wrapping. Results that fit are the plain 32-bit ones.

#include <array>
#include <cstdint>
#include <vector>

#include "effects/filter_source.h"

namespace sonavel {

// y = x + ((buf[w] × g) >> 9), buf[w] = y, over a ring of L samples (interleaved, so each
// channel echoes itself).
class EchoFilter final : public FilterSource {
 public:
  // `length` samples (at least 20), `gain` in Q9.
  EchoFilter(SourceRef source, std::int32_t length, std::int32_t gain);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;

  std::int32_t length() const { return static_cast<std::int32_t>(ring_.size()); }
  std::int32_t gain() const { return gain_; }

 private:
  std::vector<std::int32_t> ring_;
  std::int32_t write_ = 0;
  std::int32_t gain_;
};

// One ring with five feedback taps: at 0.2587, 0.4419, 0.6177, 0.789 and 1.0 of its length
// back, weighted 0.4, 0.1, 0.3, 0.07 and 0.13 of the level.
class ReverbFilter final : public FilterSource {
 public:
  // `length` samples (at least 128), `level` in Q9.
  ReverbFilter(SourceRef source, std::int32_t length, std::int32_t level);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;

  std::int32_t length() const { return static_cast<std::int32_t>(ring_.size()); }
  // The four read indices as they start (r1 … r4) and the five tap gains (g1 … g5).
  const std::array<std::int32_t, 4>& taps() const { return start_taps_; }
  const std::array<std::int32_t, 5>& gains() const { return gains_; }

 private:
  void Reset();

  std::vector<std::int32_t> ring_;
  std::array<std::int32_t, 4> start_taps_;
  std::array<std::int32_t, 4> read_;
  std::array<std::int32_t, 5> gains_;
  std::int32_t write_ = 0;
};

// A swept delay line: the ring of past frames, the base delay d and depth f in frames, and
// one sine sweep per voice. The chorus has two voices on two channels, the flanger one
// voice on every channel.
class SweptDelayFilter : public FilterSource {
 public:
  void Seek(std::int32_t frame) override;

  std::int32_t delay() const { return delay_; }
  double depth() const { return depth_; }
  std::int32_t ring_frames() const { return ring_frames_; }

 protected:
  // d = clamp(time_ms, 0, 1000) × rate / 1000 frames, f = d × clamp(depth_percent, 0, 100)
  // / 100 frames, a ring of d + f + 2 frames.
  SweptDelayFilter(SourceRef source, int time_ms, int depth_percent);
  std::vector<std::int32_t> ring_;
  std::int32_t write_ = 0;
  std::int32_t delay_;
  double depth_;
  std::int32_t ring_frames_;
};

// Two voices swept at 1.5π × mod / rate and 2.5π × mod / rate radians per frame; voice 1
// reaches the left channel with g1 = gain / 100 and the right with g2 = g1 / 2, voice 2
// the other way round. Needs two channels.
class ChorusFilter final : public SweptDelayFilter {
 public:
  ChorusFilter(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz);
  void Read(std::int32_t* buffer, std::int32_t frames) override;

 private:
  double gain1_;
  double gain2_;
  double phase1_ = 0.0;
  double phase2_ = 0.0;
  double step1_;
  double step2_;
};

// One voice swept at 2π × mod / rate radians per frame, added with gain / 100 on every
// channel. With depth 0 and mod 0 it is the phaser's comb y = x + g × x[n − d].
class FlangerFilter final : public SweptDelayFilter {
 public:
  FlangerFilter(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz);
  void Read(std::int32_t* buffer, std::int32_t frames) override;

 private:
  double gain_;
  double phase_ = 0.0;
  double step_;
};

// The effect chains as the commands build them. Echo: `source` itself when time_ms ≤ 0;
// a gain of 100 or more is lowered to 99. Reverb: ring of frames(time_ms) × channels, at
// least 128. Chorus: a mono (or other non-stereo) source goes through stereo and back.
// Phaser: the flanger with depth 0 and mod 0.
SourceRef MakeEcho(SourceRef source, int time_ms, int gain_percent);
SourceRef MakeReverb(SourceRef source, int time_ms, int level_percent);
SourceRef MakeChorus(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz);
SourceRef MakeFlanger(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz);
SourceRef MakePhaser(SourceRef source, int time_ms, int gain_percent);

}  // namespace sonavel
