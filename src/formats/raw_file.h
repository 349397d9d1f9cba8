#pragma once
// Sample files without a header of their own, and the sample part of files whose header
// says where the samples lie (AU, AIFF): a run of fixed-size frames from a data offset.
// The reader delivers zeros before frame 0 and after what the file holds; the writer
// calls a header routine once when it creates the file (provisional) and once when it is
// finished (final), and a seek cuts the file back.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "platform/file.h"
#include "store/stream.h"

namespace sonavel {

// How one sample is stored.
enum class SampleCoding {
  kUnsigned8,    // 128 is zero
  kSigned8,
  kLinear16Le,
  kLinear16Be,
  kMuLaw,
  kALaw,
};

int BytesPerSample(SampleCoding coding);
// The largest magnitude a reader of this coding delivers.
std::int32_t PeakBoundOf(SampleCoding coding);

// Where the samples lie and what they are.
struct RawLayout {
  std::int64_t data_offset = 0;
  // The data bytes a header states; none: the data runs to the end of the file, and the
  // length follows the file as it grows or shrinks.
  std::optional<std::int64_t> data_bytes;
  std::int32_t rate = 0;
  std::uint8_t channels = 1;
  SampleCoding coding = SampleCoding::kLinear16Le;
};

// The reader of a layout. Its length is whole frames of what the file holds and never
// more than `data_bytes`; a data offset beyond the file gives an empty sound.
class RawFileReader final : public SampleSource {
 public:
  RawFileReader(std::unique_ptr<ByteSource> file, const RawLayout& layout);

  void Read(std::int32_t* out, std::int32_t count) override;
  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override;
  void Seek(std::int32_t frame) override;

  SampleCoding coding() const { return layout_.coding; }

 private:
  std::unique_ptr<ByteSource> file_;
  RawLayout layout_;
  int frame_size_ = 0;
  std::int32_t position_ = 0;
  std::int64_t known_length_ = 0;  // the length the last read found
  std::vector<std::uint8_t> buffer_;
};

// A null `file` (it could not be opened) gives a source with status CannotOpen.
SourceRef OpenRawFileReader(std::unique_ptr<ByteSource> file, const RawLayout& layout);

// A header routine: writes the provisional (final = false) or final header at the file's
// current position (0) and returns the header's length in bytes; `frames` is what was
// written. Headerless files have none.
using RawHeaderWriter = std::function<std::int64_t(File& file, bool final, std::int64_t frames)>;

// Creates or replaces `path` and writes frames in `coding` after the header. A file that
// cannot be created, a rate below 1 or no channels make the sink unusable; a failed write
// sets kSinkWriteFailed, and so does a write that would take the file beyond
// `most_frames` (what the header's size fields can describe), which writes nothing.
SinkRef CreateRawFileWriter(const std::string& path, std::int32_t rate, std::uint8_t channels,
                            SampleCoding coding, RawHeaderWriter header = {},
                            std::int64_t most_frames = std::numeric_limits<std::int64_t>::max());

}  // namespace sonavel
