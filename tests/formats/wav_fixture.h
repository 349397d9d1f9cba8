#pragma once
// Helpers for file-format tests: a temporary working folder, files built byte by byte,
// and the sox program as the peer that writes and reads the same formats.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "formats/wave_format.h"
#include "store/block_table.h"
#include "store/stream.h"
#include "../store/store_fixture.h"

namespace sonavel::testing {

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs a shell command; its exit status.
inline int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Builds RIFF files chunk by chunk.
class RiffBuilder {
 public:
  RiffBuilder& Raw(const std::vector<std::uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  RiffBuilder& Text(const char* four) { return Raw({std::uint8_t(four[0]), std::uint8_t(four[1]), std::uint8_t(four[2]), std::uint8_t(four[3])}); }
  RiffBuilder& U32(std::uint32_t v) { return Raw({std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}); }
  RiffBuilder& U16(std::uint16_t v) { return Raw({std::uint8_t(v), std::uint8_t(v >> 8)}); }
  // A chunk with its size and body; odd bodies get their pad byte.
  RiffBuilder& Chunk(const char* id, const std::vector<std::uint8_t>& body) {
    Text(id).U32(static_cast<std::uint32_t>(body.size())).Raw(body);
    if (body.size() % 2 != 0) bytes_.push_back(0);
    return *this;
  }
  RiffBuilder& Format(const WaveFormat& format) { return Chunk("fmt ", SerializeFormat(format)); }
  // "RIFF" <size> "WAVE" followed by what was built so far.
  std::vector<std::uint8_t> Wave() const {
    RiffBuilder out;
    out.Text("RIFF").U32(static_cast<std::uint32_t>(bytes_.size() + 4)).Text("WAVE").Raw(bytes_);
    return out.bytes_;
  }
  // The 64-bit form: `form` ("RF64" or "BW64"), size 0xFFFFFFFF, "WAVE", a "ds64" chunk
  // with the riff size, `data_size`, `frames` and `table` (chunk ids and their 64-bit
  // sizes), then what was built so far.
  std::vector<std::uint8_t> Wide(const char* form, std::uint64_t data_size, std::uint64_t frames = 0,
                                 const std::vector<std::pair<const char*, std::uint64_t>>& table = {}) const {
    RiffBuilder ds64;
    const std::uint64_t riff_size = 4 + 8 + 28 + 12 * table.size() + bytes_.size();
    ds64.U64(riff_size).U64(data_size).U64(frames).U32(static_cast<std::uint32_t>(table.size()));
    for (const auto& [id, size] : table) ds64.Text(id).U64(size);
    RiffBuilder out;
    out.Text(form).U32(0xFFFFFFFF).Text("WAVE").Chunk("ds64", ds64.bytes_).Raw(bytes_);
    return out.bytes_;
  }
  RiffBuilder& U64(std::uint64_t v) { return U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32)); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

inline std::vector<std::uint8_t> Le16(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out;
  for (std::int16_t s : samples) {
    out.push_back(static_cast<std::uint8_t>(s));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return out;
}

// Every sample a source delivers from its position to its end, in pieces of 8192 frames
// (an estimated length is followed until the source knows its end).
inline std::vector<std::int32_t> Drain(SampleSource& source) {
  std::vector<std::int32_t> out;
  std::vector<std::int32_t> piece(8192 * source.channels);
  while (source.Position() < source.Length()) {
    const std::int32_t frames = std::min(8192, source.Length() - source.Position());
    source.Read(piece.data(), frames);
    out.insert(out.end(), piece.begin(), piece.begin() + frames * source.channels);
    if (source.Position() > source.Length()) out.resize(out.size() - (source.Position() - source.Length()) * source.channels);
  }
  return out;
}

// Samples of a raw little-endian file of `bytes` bytes per sample, signed unless `unsigned8`.
inline std::vector<std::int64_t> RawSamples(const std::string& path, int bytes, bool unsigned8 = false) {
  std::vector<std::uint8_t> data = ReadBytes(path);
  std::vector<std::int64_t> out;
  for (std::size_t i = 0; i + bytes <= data.size(); i += bytes) {
    std::uint32_t v = 0;
    for (int b = 0; b < bytes; ++b) v |= std::uint32_t{data[i + b]} << (8 * b);
    std::int64_t s;
    if (bytes == 1) s = unsigned8 ? std::int64_t{v} : static_cast<std::int8_t>(v);
    else if (bytes == 2) s = static_cast<std::int16_t>(v);
    else if (bytes == 3) s = static_cast<std::int32_t>(v << 8) >> 8;
    else s = static_cast<std::int32_t>(v);
    out.push_back(s);
  }
  return out;
}

class FormatTest : public StoreTest {
 protected:
  std::string Path(const std::string& name) const { return JoinPath(folder_, name); }
  // sox writes (or converts) a file; the test fails when sox cannot.
  void Sox(const std::string& arguments) {
    ASSERT_EQ(RunCommand("sox " + arguments + " 2>/dev/null"), 0) << "sox " << arguments;
  }
};

}  // namespace sonavel::testing
