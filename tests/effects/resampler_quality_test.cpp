// The resampler's audible quality, measured by spectral analysis of a multi-tone signal and
// a sweep converted 44100 → 48000 and 48000 → 44100, with sox's `rate` effect (its default
// quality) converting the same input as the reference. The numbers are printed as a table.
// Then both qualities beside `sox rate` and `sox rate -v` on passband, alias and image tones.

#include "memory_source.h"
#include "effects/dsp/fft.h"
#include "effects/resampler.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace sonavel {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSeconds = 2;
constexpr double kToneAmplitude = 0.04;    // each of about 20 tones, in units of full scale
constexpr double kSweepAmplitude = 0.5;
constexpr double kPassbandTopHz = 18000;
constexpr double kSpuriousLowHz = 10;      // spurious components are searched from here ...
constexpr double kSpuriousTopHz = 20000;   // ... up to here
constexpr int kToneOrder = 16;             // 65536-point analysis of the multi-tone signal
constexpr int kSweepOrder = 10;            // 1024-point blocks of the sweep
constexpr double kSweepEdgeSeconds = 0.05; // faded ends of the sweep, not analysed
constexpr int kLobeBins = 5;               // the window's main lobe is ±4 bins wide
constexpr int kExcludedBins = 8;           // bins around a tone that are not spurious

const std::vector<double> kPassbandTones = {20,   50,   100,  250,   500,   1000,  2000,  3000,  5000,
                                            7000, 9000, 11000, 13000, 15000, 16000, 17000, 18000};
// Above the new Nyquist frequency when 48000 goes to 44100.
const std::vector<double> kStopbandTones = {22500, 23000, 23500};

double Db(double ratio) { return 20 * std::log10(std::max(ratio, 1e-12)); }

// ---------------------------------------------------------------------------------------
// Test signals, in units of full scale, quantised to 16 bits as the program's material is.

std::vector<std::int16_t> Quantise(const std::vector<double>& x) {
  std::vector<std::int16_t> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    out[i] = static_cast<std::int16_t>(std::clamp(std::lround(x[i] * 32767), -32768L, 32767L));
  return out;
}

// Tones of equal amplitude with Schroeder phases, which keep the sum's peak low.
std::vector<double> MultiTone(const std::vector<double>& tones, int rate, int frames) {
  std::vector<double> x(frames, 0.0);
  const double count = static_cast<double>(tones.size());
  for (std::size_t k = 0; k < tones.size(); ++k) {
    const double phase = kPi * static_cast<double>(k * k) / count;
    for (int n = 0; n < frames; ++n) x[n] += kToneAmplitude * std::sin(2 * kPi * tones[k] * n / rate + phase);
  }
  return x;
}

// The frequency of the linear sweep from `from` to `to` Hz over the signal at `seconds`.
double SweepHz(double from, double to, double seconds) { return from + (to - from) * seconds / kSeconds; }

// A linear sweep with raised-cosine fades at both ends (no clicks to spread over the band).
std::vector<double> Sweep(double from, double to, int rate, int frames) {
  std::vector<double> x(frames);
  const double fade = kSweepEdgeSeconds / 2 * rate;
  for (int n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double phase = 2 * kPi * (from * t + (to - from) * t * t / (2 * kSeconds));
    const double edge = std::min<double>(n, frames - 1 - n);
    const double gain = edge >= fade ? 1.0 : 0.5 - 0.5 * std::cos(kPi * edge / fade);
    x[n] = kSweepAmplitude * gain * std::sin(phase);
  }
  return x;
}

// ---------------------------------------------------------------------------------------
// Spectral analysis: a 4-term Blackman-Harris window (sidelobes below −92 dB) and FftPlan.

class Analysis {
 public:
  explicit Analysis(int order) : plan_(order), window_(plan_.size()) {
    const std::int32_t n = plan_.size();
    for (std::int32_t i = 0; i < n; ++i) {
      const double a = 2 * kPi * i / n;
      window_[i] = 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
      sum_ += window_[i];
      square_sum_ += window_[i] * window_[i];
    }
  }

  std::int32_t size() const { return plan_.size(); }
  double BinHz(int rate) const { return static_cast<double>(rate) / size(); }

  // |X[k]|² for k = 0 .. N/2 of the windowed N values of x from `start`.
  std::vector<double> Power(const std::vector<double>& x, std::size_t start) const {
    const std::int32_t n = size();
    std::vector<double> real(n);
    std::vector<double> imaginary(n, 0.0);
    for (std::int32_t i = 0; i < n; ++i) real[i] = x[start + i] * window_[i];
    plan_.Forward(real.data(), imaginary.data());
    std::vector<double> power(n / 2 + 1);
    for (std::int32_t k = 0; k <= n / 2; ++k) power[k] = real[k] * real[k] + imaginary[k] * imaginary[k];
    return power;
  }

  // The amplitude of a sinusoid at `hz` from the energy of its main lobe: with the forward
  // transform's 1/N, a sinusoid of amplitude A puts A² Σw² / (4N) into its lobe, wherever
  // it falls between bins.
  double LobeAmplitude(const std::vector<double>& power, double hz, int rate) const {
    const auto centre = static_cast<std::int64_t>(std::lround(hz / BinHz(rate)));
    double energy = 0;
    for (std::int64_t k = centre - kLobeBins; k <= centre + kLobeBins; ++k)
      if (k > 0 && k < static_cast<std::int64_t>(power.size())) energy += power[k];
    return std::sqrt(4.0 * size() * energy / square_sum_);
  }

  // The amplitude a sinusoid centred on bin k would have: its magnitude over the window's
  // coherent gain (Σw / N), doubled for the negative-frequency half.
  double BinAmplitude(const std::vector<double>& power, std::size_t k) const {
    return 2 * std::sqrt(power[k]) * size() / sum_;
  }

 private:
  FftPlan plan_;
  std::vector<double> window_;
  double sum_ = 0;
  double square_sum_ = 0;
};

// The strongest component in [low, high] Hz outside the excluded bin ranges, relative to
// `reference`; its frequency goes to `at_hz`.
struct Strongest {
  double db = -240;
  double hz = 0;
  void Take(double db_here, double hz_here) {
    if (db_here > db) {
      db = db_here;
      hz = hz_here;
    }
  }
};

struct BinRange {
  double low;
  double high;
};

void SearchSpurious(const Analysis& analysis, const std::vector<double>& power, int rate, double reference,
                    const std::vector<BinRange>& excluded, double low_hz, double high_hz, Strongest& strongest) {
  const double bin_hz = analysis.BinHz(rate);
  const auto first = static_cast<std::size_t>(std::ceil(low_hz / bin_hz));
  const auto last = std::min(power.size() - 1, static_cast<std::size_t>(high_hz / bin_hz));
  for (std::size_t k = first; k <= last; ++k) {
    const double bin = static_cast<double>(k);
    const bool skip = std::any_of(excluded.begin(), excluded.end(),
                                  [bin](const BinRange& r) { return bin >= r.low && bin <= r.high; });
    if (!skip) strongest.Take(Db(analysis.BinAmplitude(power, k) / reference), bin * bin_hz);
  }
}

// ---------------------------------------------------------------------------------------
// What one converter does to both signals in one direction.

struct Quality {
  std::size_t tone_frames = 0;
  std::size_t sweep_frames = 0;
  double lowest_db = 0;       // passband tone levels relative to the input's
  double highest_db = 0;
  double stopband_db = NAN;   // strongest alias of a stopband tone, relative to its input level
  Strongest tone_spur;        // below 20 kHz, away from the tones (and their aliases)
  Strongest sweep_spur;       // below 20 kHz, away from the sweep's frequency in each block
  Strongest sweep_stopband;   // anything left while the sweep is above the new Nyquist
  double ripple_db() const { return highest_db - lowest_db; }
};

// A converter: mono samples at `from` Hz in, samples in units of full scale at `to` Hz out.
using Converter = std::vector<double> (*)(const std::vector<std::int16_t>&, int from, int to);

void AnalyseTones(const std::vector<double>& out, int from, int to, Quality& quality) {
  const Analysis analysis(kToneOrder);
  ASSERT_GE(out.size(), static_cast<std::size_t>(analysis.size()));
  const std::vector<double> power = analysis.Power(out, (out.size() - analysis.size()) / 2);
  const double bin_hz = analysis.BinHz(to);

  std::vector<BinRange> excluded;
  quality.lowest_db = 1e9;
  quality.highest_db = -1e9;
  for (const double hz : kPassbandTones) {
    const double level = Db(analysis.LobeAmplitude(power, hz, to) / kToneAmplitude);
    quality.lowest_db = std::min(quality.lowest_db, level);
    quality.highest_db = std::max(quality.highest_db, level);
    excluded.push_back({hz / bin_hz - kExcludedBins, hz / bin_hz + kExcludedBins});
  }
  if (from > to) {
    quality.stopband_db = -240;
    for (const double hz : kStopbandTones) {
      const double folded = to - hz;  // mirrored about the new Nyquist frequency
      quality.stopband_db = std::max(quality.stopband_db, Db(analysis.LobeAmplitude(power, folded, to) / kToneAmplitude));
      excluded.push_back({folded / bin_hz - kExcludedBins, folded / bin_hz + kExcludedBins});
    }
  }
  SearchSpurious(analysis, power, to, kToneAmplitude, excluded, kSpuriousLowHz, kSpuriousTopHz, quality.tone_spur);
}

void AnalyseSweep(const std::vector<double>& out, double from_hz, double to_hz, int rate, Quality& quality) {
  const Analysis analysis(kSweepOrder);
  const std::int32_t n = analysis.size();
  const double bin_hz = analysis.BinHz(rate);
  const double nyquist = rate / 2.0;
  const auto edge = static_cast<std::size_t>(kSweepEdgeSeconds * rate);
  for (std::size_t start = edge; start + n + edge <= out.size(); start += n / 2) {
    const double low = SweepHz(from_hz, to_hz, static_cast<double>(start) / rate);
    const double high = SweepHz(from_hz, to_hz, static_cast<double>(start + n) / rate);
    const std::vector<double> power = analysis.Power(out, start);
    if (low > nyquist + 400) {
      // Nothing of the sweep belongs in the output any more.
      SearchSpurious(analysis, power, rate, kSweepAmplitude, {}, kSpuriousLowHz, nyquist, quality.sweep_stopband);
      continue;
    }
    SearchSpurious(analysis, power, rate, kSweepAmplitude,
                   {{low / bin_hz - kExcludedBins, high / bin_hz + kExcludedBins}}, kSpuriousLowHz,
                   kSpuriousTopHz, quality.sweep_spur);
  }
}

Quality Measure(Converter convert, int from, int to) {
  Quality quality;
  std::vector<double> tones = kPassbandTones;
  if (from > to) tones.insert(tones.end(), kStopbandTones.begin(), kStopbandTones.end());
  const std::vector<double> tone_out = convert(Quantise(MultiTone(tones, from, kSeconds * from)), from, to);
  quality.tone_frames = tone_out.size();
  AnalyseTones(tone_out, from, to, quality);

  // Up to 20 kHz from 44100; to just below the Nyquist frequency from 48000.
  const double sweep_top = from == 44100 ? 20000 : 23900;
  const std::vector<double> sweep_out = convert(Quantise(Sweep(20, sweep_top, from, kSeconds * from)), from, to);
  quality.sweep_frames = sweep_out.size();
  AnalyseSweep(sweep_out, 20, sweep_top, to, quality);
  return quality;
}

// ---------------------------------------------------------------------------------------
// The converters.

// Ours: 16-bit values times 16 (full scale 0x7FFF0) through ConvertFormat, read to its end;
// or through a converter that interpolates its taps from the prototype whatever the ratio.
std::vector<double> ConvertOursWith(const std::vector<std::int16_t>& input, int from, int to, bool interpolated) {
  std::vector<std::int32_t> samples(input.begin(), input.end());
  for (std::int32_t& s : samples) s *= 16;
  SourceRef memory = MakeCounted<testing::MemorySource>(std::move(samples), from, 1);
  SourceRef source = interpolated ? SourceRef(MakeCounted<Resampler>(std::move(memory), to, false, 0))
                                  : ConvertFormat(std::move(memory), to, 1);
  EXPECT_EQ(source->status, kStatusOk);
  EXPECT_EQ(source->rate, to);
  const std::int32_t frames = source->Length();
  std::vector<std::int32_t> out(std::max(frames, 0));
  for (std::int32_t done = 0; done < frames;) {
    const std::int32_t k = std::min(frames - done, 4000);
    source->Read(out.data() + done, k);
    done += k;
  }
  EXPECT_EQ(source->Position(), frames);
  std::vector<double> result(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) result[i] = out[i] / static_cast<double>(kFullScale);
  return result;
}

std::vector<double> ConvertOurs(const std::vector<std::int16_t>& input, int from, int to) {
  return ConvertOursWith(input, from, to, false);
}

std::vector<double> ConvertInterpolated(const std::vector<std::int16_t>& input, int from, int to) {
  return ConvertOursWith(input, from, to, true);
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

bool HaveSox() { return RunCommand("sox --version >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// A folder of its own for sox's files, removed again at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sonavel-quality-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void PutLe(std::vector<char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A mono PCM WAV file of `bytes` bytes per sample.
template <typename Sample>
void WriteWav(const std::string& path, const std::vector<Sample>& samples, int rate, int bytes) {
  const auto data_bytes = static_cast<std::uint32_t>(bytes * samples.size());
  std::vector<char> file;
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  PutLe(file, 36 + data_bytes, 4);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(file, 16, 4);
  PutLe(file, 1, 2);  // PCM
  PutLe(file, 1, 2);  // mono
  PutLe(file, static_cast<std::uint32_t>(rate), 4);
  PutLe(file, static_cast<std::uint32_t>(bytes * rate), 4);
  PutLe(file, static_cast<std::uint32_t>(bytes), 2);
  PutLe(file, static_cast<std::uint32_t>(8 * bytes), 2);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  PutLe(file, data_bytes, 4);
  for (const Sample s : samples) PutLe(file, static_cast<std::uint32_t>(s), bytes);
  std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
}

void WriteWav16(const std::string& path, const std::vector<std::int16_t>& samples, int rate) {
  WriteWav(path, samples, rate, 2);
}

// sox: the input as a 16-bit WAV, converted by `rate` at its default quality into raw 32-bit
// floats (no dither, no clipping), read back. sox reads 16-bit samples as s / 32768.
std::vector<double> ConvertSox(const std::vector<std::int16_t>& input, int from, int to) {
  const ScratchFolder folder;
  const std::string in = folder.File("in.wav");
  const std::string out = folder.File("out.f32");
  WriteWav16(in, input, from);
  const std::string command = "sox -D " + Quote(in) + " -t raw -e floating-point -b 32 -L " + Quote(out) +
                              " rate " + std::to_string(to) + " 2>/dev/null";
  EXPECT_EQ(RunCommand(command), 0) << command;
  std::ifstream file(out, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<double> result(bytes.size() / 4);
  for (std::size_t i = 0; i < result.size(); ++i) {
    std::uint32_t bits = 0;
    for (int b = 0; b < 4; ++b) bits |= std::uint32_t{static_cast<unsigned char>(bytes[4 * i + b])} << (8 * b);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    result[i] = value * 32768.0 / 32767.0;
  }
  return result;
}

// The input unchanged: what the analysis itself can resolve.
std::vector<double> Unchanged(const std::vector<std::int16_t>& input, int, int) {
  std::vector<double> result(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) result[i] = input[i] / 32767.0;
  return result;
}

// ---------------------------------------------------------------------------------------

void PrintHeader() {
  std::printf("\nResampler quality: %d s mono, 16-bit input; levels in dB relative to the input tone / sweep level\n",
              kSeconds);
  std::printf("%-9s %-13s %7s %7s %8s %9s %18s %18s %9s\n", "converter", "direction", "tones", "sweep",
              "ripple", "stopband", "tone spur (Hz)", "sweep spur (Hz)", "sweep>Nyq");
}

void PrintRow(const char* converter, int from, int to, const Quality& q) {
  char direction[32];
  std::snprintf(direction, sizeof direction, "%d->%d", from, to);
  char stopband[16] = "-";
  if (!std::isnan(q.stopband_db)) std::snprintf(stopband, sizeof stopband, "%.1f", q.stopband_db);
  char tone[32];
  std::snprintf(tone, sizeof tone, "%.1f (%.0f)", q.tone_spur.db, q.tone_spur.hz);
  char sweep[32];
  std::snprintf(sweep, sizeof sweep, "%.1f (%.0f)", q.sweep_spur.db, q.sweep_spur.hz);
  char above[16] = "-";
  if (q.sweep_stopband.db > -240) std::snprintf(above, sizeof above, "%.1f", q.sweep_stopband.db);
  std::printf("%-9s %-13s %7zu %7zu %8.3f %9s %18s %18s %9s\n", converter, direction, q.tone_frames,
              q.sweep_frames, q.ripple_db(), stopband, tone, sweep, above);
  std::fflush(stdout);
}

constexpr int kDirections[2][2] = {{44100, 48000}, {48000, 44100}};

TEST(ResamplerQuality, OursKeepsThePassbandFlatAndAddsNoAudibleSpuriousComponents) {
  PrintHeader();
  for (const auto& [from, to] : kDirections) {
    // The table of the exact ratio, and the taps interpolated from the prototype as ratios
    // with too many phases for a table have them.
    for (const auto& [name, convert] : {std::pair<const char*, Converter>{"sonavel", ConvertOurs},
                                        std::pair<const char*, Converter>{"interp.", ConvertInterpolated}}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(from) + " -> " + std::to_string(to));
      const Quality ours = Measure(convert, from, to);
      PrintRow(name, from, to, ours);
      // Exactly the duration at the new rate: 2 s in, 2 s out.
      EXPECT_EQ(ours.tone_frames, static_cast<std::size_t>(kSeconds * to));
      EXPECT_EQ(ours.sweep_frames, static_cast<std::size_t>(kSeconds * to));
      EXPECT_LT(ours.ripple_db(), 0.5);
      EXPECT_LT(ours.tone_spur.db, -60) << "at " << ours.tone_spur.hz << " Hz";
      EXPECT_LT(ours.sweep_spur.db, -60) << "at " << ours.sweep_spur.hz << " Hz";
    }
  }
}

TEST(ResamplerQuality, ComparedWithSox) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  PrintHeader();
  for (const auto& [from, to] : kDirections) {
    SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
    PrintRow("input", from, from, Measure(Unchanged, from, from));
    PrintRow("sonavel", from, to, Measure(ConvertOurs, from, to));
    const Quality sox = Measure(ConvertSox, from, to);
    PrintRow("sox", from, to, sox);
    // The analysis reads the peer's output correctly: its tones come out at their level.
    EXPECT_NEAR(sox.lowest_db, 0, 0.5);
    EXPECT_NEAR(sox.highest_db, 0, 0.5);
    EXPECT_NEAR(static_cast<double>(sox.tone_frames), kSeconds * to, 2);
  }
}

// ---------------------------------------------------------------------------------------
// Both qualities beside sox's `rate` and `rate -v`. The inputs are in the store's scale
// (full scale 0x7FFF0), given to sox as 32-bit WAVs of the same values, and sox's 32-bit
// output is rounded to the store's scale as the program would keep it, so that every
// converter meets the same quantisation.

// The default quality's output of known stereo noise (an integer generator, so the input
// does not depend on libm) at an upward, a downward, a two-stage and an interpolated
// ratio, read in odd chunks and again after a seek: an FNV-1a hash of every sample.
std::uint64_t DefaultQualityChecksum() {
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](std::int32_t value) {
    for (int b = 0; b < 4; ++b) {
      hash ^= (static_cast<std::uint32_t>(value) >> (8 * b)) & 0xFF;
      hash *= 1099511628211ull;
    }
  };
  for (const auto& [from, to] : {std::pair{44100, 48000}, std::pair{48000, 44100}, std::pair{96000, 44100},
                                 std::pair{44100, 96000}, std::pair{48000, 8000}, std::pair{44100, 47999}}) {
    std::vector<std::int32_t> input(2 * 20000);
    std::uint32_t state = 12345;
    for (std::int32_t& s : input) {
      state = state * 1664525u + 1013904223u;
      s = static_cast<std::int32_t>(state >> 12) - 0x80000;
    }
    SourceRef resampled = MakeResampler(testing::Memory(std::move(input), from, 2), to);
    for (const std::int32_t s : testing::ReadInOddChunks(*resampled, resampled->Length())) mix(s);
    resampled->Seek(777);
    for (const std::int32_t s : testing::ReadInOddChunks(*resampled, 3000)) mix(s);
  }
  return hash;
}

constexpr std::uint64_t kDefaultQualityChecksum = 0x2c15f7dc9fa81088;  // taken before the high quality existed

constexpr int kFigureOrder = 16;        // 65536-point analysis
constexpr double kSingleAmplitude = 0.9;
// Passband tones up to 20 kHz, for the ripple.
const std::vector<double> kRippleTones = {20,    50,    100,   250,   500,   1000,  2000,  3000,
                                          5000,  7000,  9000,  11000, 13000, 15000, 16000, 17000,
                                          18000, 19000, 19500, 20000};
// Where the aliases of 48000 / 96000 → 44100 and the images of 44100 → 96000 are looked for:
// the tones are chosen so that these fall on analysis bins.
const std::vector<double> kAliasTargets = {22000, 21600, 21100, 20600, 20200};  // tones 22.1 .. 23.9 kHz
const std::vector<double> kImageTargets = {43100, 34100, 24100, 23100, 22100};  // tones 1 .. 22 kHz

// Mono samples in the store's scale in, the converted samples (same scale) out.
using StoreConverter = std::function<std::vector<double>(const std::vector<std::int32_t>&, int from, int to)>;

// Units of full scale, times `gain`, rounded to the store's scale.
std::vector<std::int32_t> ToStore(const std::vector<double>& x, double gain = 1) {
  std::vector<std::int32_t> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) out[i] = static_cast<std::int32_t>(std::lround(x[i] * gain * kFullScale));
  return out;
}

StoreConverter Ours(ResampleQuality quality) {
  return [quality](const std::vector<std::int32_t>& input, int from, int to) {
    SourceRef source = ConvertFormat(testing::Memory(input, from, 1), to, 1, quality);
    const std::vector<std::int32_t> out = testing::ReadInOddChunks(*source, source->Length());
    EXPECT_EQ(source->Position(), source->Length());
    // Exactly the duration at the new rate.
    EXPECT_EQ(static_cast<std::int64_t>(out.size()) * from, static_cast<std::int64_t>(input.size()) * to);
    return std::vector<double>(out.begin(), out.end());
  };
}

StoreConverter SoxRate(const std::string& option) {
  return [option](const std::vector<std::int32_t>& input, int from, int to) {
    const ScratchFolder folder;
    const std::string in = folder.File("in.wav");
    const std::string out = folder.File("out.s32");
    std::vector<std::int32_t> wide(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) wide[i] = input[i] * 4096;
    WriteWav(in, wide, from, 4);
    const std::string command = "sox -D " + Quote(in) + " -t raw -e signed -b 32 -L " + Quote(out) + " rate " +
                                option + " " + std::to_string(to) + " 2>/dev/null";
    EXPECT_EQ(RunCommand(command), 0) << command;
    std::ifstream file(out, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<double> result(bytes.size() / 4);
    for (std::size_t i = 0; i < result.size(); ++i) {
      std::uint32_t bits = 0;
      for (int b = 0; b < 4; ++b) bits |= std::uint32_t{static_cast<unsigned char>(bytes[4 * i + b])} << (8 * b);
      result[i] = static_cast<double>(std::lround(static_cast<std::int32_t>(bits) / 4096.0));
    }
    return result;
  };
}

struct Figures {
  double ripple_db[3] = {};    // 48000 → 44100, 96000 → 44100, 44100 → 96000, up to 20 kHz
  Strongest alias[2];          // 48000 → 44100, 96000 → 44100
  Strongest image;             // 44100 → 96000
};

constexpr int kFigureDirections[3][2] = {{48000, 44100}, {96000, 44100}, {44100, 96000}};

// The strongest of the bins next to `hz` as a sinusoid's amplitude relative to `reference`.
double LevelAt(const Analysis& analysis, const std::vector<double>& power, double hz, int rate, double reference) {
  const auto centre = static_cast<std::size_t>(std::lround(hz / analysis.BinHz(rate)));
  double strongest = 0;
  for (std::size_t k = centre - 1; k <= centre + 1; ++k) strongest = std::max(strongest, analysis.BinAmplitude(power, k));
  return Db(strongest / reference);
}

Figures MeasureFigures(const StoreConverter& convert) {
  const Analysis analysis(kFigureOrder);
  const double full = kFullScale;
  Figures figures;
  for (int d = 0; d < 3; ++d) {
    const auto [from, to] = kFigureDirections[d];
    SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
    const int frames = kSeconds * from;
    const std::vector<double> tones = convert(ToStore(MultiTone(kRippleTones, from, frames)), from, to);
    EXPECT_NEAR(static_cast<double>(tones.size()), kSeconds * to, 2);  // ours exactly, see Ours
    const std::vector<double> power = analysis.Power(tones, (tones.size() - analysis.size()) / 2);
    double lowest = 1e9;
    double highest = -1e9;
    for (const double hz : kRippleTones) {
      const double level = Db(analysis.LobeAmplitude(power, hz, to) / (kToneAmplitude * full));
      lowest = std::min(lowest, level);
      highest = std::max(highest, level);
    }
    figures.ripple_db[d] = highest - lowest;

    // One tone at a time, placed so that its alias or image falls on a bin: 44100 − tone.
    const bool up = from < to;
    Strongest& strongest = up ? figures.image : figures.alias[d];
    for (const double target : up ? kImageTargets : kAliasTargets) {
      const double on_bin = std::round(target / analysis.BinHz(to)) * analysis.BinHz(to);
      const double tone = 44100 - on_bin;
      const double gain = kSingleAmplitude / kToneAmplitude;
      const std::vector<double> out = convert(ToStore(MultiTone({tone}, from, frames), gain), from, to);
      const std::vector<double> single = analysis.Power(out, (out.size() - analysis.size()) / 2);
      strongest.Take(LevelAt(analysis, single, on_bin, to, kSingleAmplitude * full), tone);
    }
  }
  return figures;
}

void PrintFigures(const char* name, const Figures& f) {
  std::printf("%-16s %9.4f %9.4f %9.4f %9.1f (%5.0f) %9.1f (%5.0f) %9.1f (%5.0f)\n", name, f.ripple_db[0],
              f.ripple_db[1], f.ripple_db[2], f.alias[0].db, f.alias[0].hz, f.alias[1].db, f.alias[1].hz, f.image.db,
              f.image.hz);
  std::fflush(stdout);
}

TEST(ResamplerQuality, HighQualityBesideSoxVeryHigh) {
  // The default quality's output is what it was before the high quality came.
  EXPECT_EQ(DefaultQualityChecksum(), kDefaultQualityChecksum);

  std::printf("\nRipple up to 20 kHz (dB); strongest alias of tones 22.1 .. 23.9 kHz and image of tones 1 .. 22 kHz\n"
              "(dB relative to the tone, tone in Hz), all in the store's scale\n");
  std::printf("%-16s %9s %9s %9s %17s %17s %17s\n", "converter", "48>44.1", "96>44.1", "44.1>96", "alias 48>44.1",
              "alias 96>44.1", "image 44.1>96");
  const Figures normal = MeasureFigures(Ours(ResampleQuality::kDefault));
  PrintFigures("sonavel default", normal);
  const Figures high = MeasureFigures(Ours(ResampleQuality::kHigh));
  PrintFigures("sonavel high", high);
  for (int d = 0; d < 3; ++d) EXPECT_LE(high.ripple_db[d], 0.1) << kFigureDirections[d][0];
  EXPECT_LE(high.alias[0].db, -100);
  EXPECT_LE(high.alias[1].db, -100);
  EXPECT_LE(high.image.db, -100);
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  PrintFigures("sox rate", MeasureFigures(SoxRate("")));
  const Figures very_high = MeasureFigures(SoxRate("-v"));
  PrintFigures("sox rate -v", very_high);
  // At least as good as sox's very high quality. Its aliases lie at the floor the store's
  // rounding of input and output leaves (near -160 dB from 48000, -172 dB from 96000, whose
  // input noise spreads over twice the band), where two converters differ by chance by a
  // few tenths of a dB: that much is allowed.
  constexpr double kFloorSpreadDb = 1;
  for (int d = 0; d < 3; ++d) EXPECT_LE(high.ripple_db[d], very_high.ripple_db[d]) << kFigureDirections[d][0];
  EXPECT_LE(high.alias[0].db, very_high.alias[0].db + kFloorSpreadDb);
  EXPECT_LE(high.alias[1].db, very_high.alias[1].db + kFloorSpreadDb);
  EXPECT_LE(high.image.db, very_high.image.db + kFloorSpreadDb);
}

}  // namespace
}  // namespace sonavel
