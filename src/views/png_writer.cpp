#include "views/png_writer.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace sonavel {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Compressed data is written out in chunks of at most this many bytes.
constexpr std::size_t kChunkBytes = 1 << 16;

void PutBigEndian(std::uint8_t* to, std::uint32_t value) {
  to[0] = static_cast<std::uint8_t>(value >> 24);
  to[1] = static_cast<std::uint8_t>(value >> 16);
  to[2] = static_cast<std::uint8_t>(value >> 8);
  to[3] = static_cast<std::uint8_t>(value);
}

// One chunk: length, type, data and the CRC of type and data.
bool WriteChunk(File& file, std::string_view type, const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[8];
  PutBigEndian(head, static_cast<std::uint32_t>(size));
  std::memcpy(head + 4, type.data(), 4);
  uLong crc = crc32(0, head + 4, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  std::uint8_t tail[4];
  PutBigEndian(tail, static_cast<std::uint32_t>(crc));
  return file.Write(head, sizeof head) && (size == 0 || file.Write(data, size)) &&
         file.Write(tail, sizeof tail);
}

// Compresses rows into IDAT chunks as they come, at zlib's fastest level: the pictures are
// mostly dark areas, which that level packs nearly as well.
class ImageData {
 public:
  explicit ImageData(File& file) : file_(file), out_(kChunkBytes) {
    ok_ = deflateInit(&stream_, Z_BEST_SPEED) == Z_OK;
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
  }
  ~ImageData() { deflateEnd(&stream_); }
  ImageData(const ImageData&) = delete;
  ImageData& operator=(const ImageData&) = delete;

  bool Add(const std::uint8_t* bytes, std::size_t size) { return Deflate(bytes, size, Z_NO_FLUSH); }
  bool Finish() { return Deflate(nullptr, 0, Z_FINISH); }

 private:
  bool Deflate(const std::uint8_t* bytes, std::size_t size, int flush) {
    if (!ok_) return false;
    stream_.next_in = const_cast<Bytef*>(bytes);
    stream_.avail_in = static_cast<uInt>(size);
    for (;;) {
      const int result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) return ok_ = false;
      if (stream_.avail_out == 0 && !Flush()) return false;
      if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_in == 0) break;
    }
    return flush != Z_FINISH || Flush();
  }

  // Writes what is compressed so far as one chunk.
  bool Flush() {
    const std::size_t size = out_.size() - stream_.avail_out;
    if (size > 0 && !WriteChunk(file_, "IDAT", out_.data(), size)) return ok_ = false;
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    return true;
  }

  File& file_;
  std::vector<std::uint8_t> out_;
  z_stream stream_{};
  bool ok_ = false;
};

// The colours of a picture with at most 256 of them, each with its index: an open-addressed
// table keyed by the colour (RGB with the alpha byte set, so no colour is 0, the free mark).
class Palette {
 public:
  // False when the picture has more than 256 colours.
  bool Build(const std::uint32_t* pixels, std::size_t count) {
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t colour = pixels[i] | 0xFF000000u;
      if (colour == last) continue;
      last = colour;
      std::size_t slot = SlotOf(colour);
      if (keys_[slot] == colour) continue;
      if (colours_.size() == 256) return false;
      keys_[slot] = colour;
      indices_[slot] = static_cast<std::uint8_t>(colours_.size());
      colours_.push_back(colour);
    }
    return true;
  }
  // The index of a colour of the picture.
  std::uint8_t IndexOf(std::uint32_t pixel) const { return indices_[SlotOf(pixel | 0xFF000000u)]; }
  // The PLTE chunk's data: red, green, blue per entry.
  std::vector<std::uint8_t> Entries() const {
    std::vector<std::uint8_t> entries;
    for (const std::uint32_t colour : colours_) {
      entries.insert(entries.end(),
                     {static_cast<std::uint8_t>(colour >> 16),
                      static_cast<std::uint8_t>(colour >> 8), static_cast<std::uint8_t>(colour)});
    }
    return entries;
  }

 private:
  static constexpr std::size_t kSlots = 1024;  // at most a quarter full
  // The colour's own slot or the free one where it would go.
  std::size_t SlotOf(std::uint32_t colour) const {
    std::size_t slot = (colour * 0x9E3779B1u) >> 22;
    while (keys_[slot] != colour && keys_[slot] != 0) slot = (slot + 1) % kSlots;
    return slot;
  }

  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::uint8_t, kSlots> indices_{};
  std::vector<std::uint32_t> colours_;
};

}  // namespace

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height) {
  if (width < 1 || height < 1 || width > kMaxPngSide || height > kMaxPngSide) return false;
  ReplacingFile replacing(path);
  if (!replacing.IsOpen()) return false;
  File& file = replacing.file();

  // Pictures of at most 256 colours (a spectrogram without its grid) are stored as indices
  // into a palette, a third of the data; others as RGB.
  const std::size_t count = static_cast<std::size_t>(width) * height;
  Palette palette;
  const bool indexed = palette.Build(pixels, count);
  std::uint8_t header[13] = {};
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header + 4, static_cast<std::uint32_t>(height));
  header[8] = 8;                // bits per sample or index
  header[9] = indexed ? 3 : 2;  // palette or RGB
  if (!file.Write(kSignature.data(), kSignature.size()) ||
      !WriteChunk(file, "IHDR", header, sizeof header)) {
    return false;
  }
  if (indexed) {
    const std::vector<std::uint8_t> entries = palette.Entries();
    if (!WriteChunk(file, "PLTE", entries.data(), entries.size())) return false;
  }
  {
    ImageData data(file);
    std::vector<std::uint8_t> row(1 + (indexed ? 1 : 3) * static_cast<std::size_t>(width));
    // Indices unfiltered; RGB bytes less those of the pixel to the left ("Sub").
    row[0] = indexed ? 0 : 1;
    for (int y = 0; y < height; ++y) {
      const std::uint32_t* line = pixels + static_cast<std::size_t>(y) * width;
      if (indexed) {
        for (int x = 0; x < width; ++x) row[1 + x] = palette.IndexOf(line[x]);
      } else {
        std::uint32_t left = 0;
        for (int x = 0; x < width; ++x) {
          const std::uint32_t pixel = line[x];
          std::uint8_t* to = row.data() + 1 + 3 * static_cast<std::size_t>(x);
          to[0] = static_cast<std::uint8_t>((pixel >> 16) - (left >> 16));
          to[1] = static_cast<std::uint8_t>((pixel >> 8) - (left >> 8));
          to[2] = static_cast<std::uint8_t>(pixel - left);
          left = pixel;
        }
      }
      if (!data.Add(row.data(), row.size())) return false;
    }
    if (!data.Finish()) return false;
  }
  return WriteChunk(file, "IEND", nullptr, 0) && replacing.Commit();
}

}  // namespace sonavel
