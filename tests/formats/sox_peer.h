#pragma once
// The sox program as a peer for codec tests: 16-bit samples of what it decodes, and the
// fmt and data chunks of the WAV files it writes.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "formats/wave_format.h"
#include "platform/paths.h"
#include "wav_fixture.h"

namespace sonavel::testing {

// Little-endian 16-bit samples of a byte buffer (a trailing odd byte is ignored).
inline std::vector<std::int16_t> Samples16(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(ReadLe16(&bytes[2 * i]));
  return samples;
}

// The format record and data of a WAV file: just its "fmt " and "data" chunks.
struct WavParts {
  WaveFormat format;
  std::vector<std::uint8_t> data;
  bool complete = false;
};

inline WavParts ParseWav(const std::vector<std::uint8_t>& file) {
  WavParts parts;
  bool have_format = false;
  if (file.size() < 12) return parts;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::size_t size = ReadLe32(&file[at + 4]);
    const std::size_t body = at + 8;
    const std::size_t end = std::min(file.size(), body + size);
    if (std::equal(file.begin() + at, file.begin() + at + 4, "fmt ")) {
      parts.format = ParseFormat(&file[body], end - body);
      have_format = true;
    } else if (std::equal(file.begin() + at, file.begin() + at + 4, "data")) {
      parts.data.assign(file.begin() + body, file.begin() + end);
      parts.complete = have_format;
      break;
    }
    at = body + size + (size & 1);
  }
  return parts;
}

// RIFF/WAVE with a "fmt " chunk holding `format` and a "data" chunk.
inline std::vector<std::uint8_t> MinimalWav(const WaveFormat& format,
                                            const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> record = SerializeFormat(format);
  std::vector<std::uint8_t> file(12);
  auto chunk = [&file](const char* id, const std::vector<std::uint8_t>& body) {
    const std::size_t at = file.size();
    file.resize(at + 8);
    std::copy(id, id + 4, file.begin() + at);
    WriteLe32(&file[at + 4], static_cast<std::uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) file.push_back(0);
  };
  chunk("fmt ", record);
  chunk("data", data);
  std::copy_n("RIFF", 4, file.begin());
  WriteLe32(&file[4], static_cast<std::uint32_t>(file.size() - 8));
  std::copy_n("WAVE", 4, file.begin() + 8);
  return file;
}

// A fresh folder for each test (the format tests' fixture), with sox's decoding.
class SoxPeerTest : public FormatTest {
 protected:
  // What sox decodes from a file: interleaved 16-bit samples (no dither).
  std::vector<std::int16_t> SoxDecode(const std::string& file) {
    const std::string raw = Path("sox-decoded.raw");
    Sox("-D " + Quote(file) + " -t raw -e signed -b 16 -L " + Quote(raw));
    return Samples16(ReadBytes(raw));
  }
};

// The normalised correlation of `decoded` with `source` at the lag of 0 to 3000 frames
// that fits best (encoders may add a delay), found on the first 16384 samples.
inline double BestCorrelation(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded) {
  auto correlation = [&](std::size_t lag, std::size_t count) {
    double sum = 0, a = 0, b = 0;
    for (std::size_t i = 0; i + lag < decoded.size() && i < std::min(source.size(), count); ++i) {
      sum += double(source[i]) * decoded[i + lag];
      a += double(source[i]) * source[i];
      b += double(decoded[i + lag]) * decoded[i + lag];
    }
    return a > 0 && b > 0 ? sum / std::sqrt(a * b) : 0.0;
  };
  std::size_t best = 0;
  for (std::size_t lag = 2; lag <= 6000; lag += 2)
    if (correlation(lag, 16384) > correlation(best, 16384)) best = lag;
  return correlation(best, source.size());
}

// Sets an environment variable while it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace sonavel::testing
