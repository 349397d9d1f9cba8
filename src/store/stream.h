#pragma once
// Pull streams of frames. A SampleSource delivers frames on request (file readers, the
// reader over a Sound, effect filters); a SampleSink accepts them (file writers, the block
// writer). Buffers are interleaved; counts are frames. Both are shared through counted
// references and report failure in a status byte, never by exceptions.

#include <cstdint>
#include <utility>

namespace sonavel {

// Status values of sources.
inline constexpr std::uint8_t kStatusOk = 0;
inline constexpr std::uint8_t kStatusPlaceholder = 1;
inline constexpr std::uint8_t kStatusUpstreamFailed = 2;
inline constexpr std::uint8_t kStatusCorrupt = 3;
inline constexpr std::uint8_t kStatusCannotOpen = 4;
inline constexpr std::uint8_t kStatusCodecMissing = 5;

// Status bits of sinks.
inline constexpr std::uint8_t kSinkUnusable = 0x01;    // writes are ignored
inline constexpr std::uint8_t kSinkWriteFailed = 0x02;  // some frames did not reach the file

inline constexpr std::int32_t kFullScale = 0x7FFF0;  // a 16-bit sample times 16
// A store sample as 16 bits: (s + 8) >> 4, saturated to the 16-bit range.
inline std::int16_t StoreTo16(std::int32_t sample) {
  const std::int64_t rounded = (std::int64_t{sample} + 8) >> 4;
  return static_cast<std::int16_t>(rounded < -32768 ? -32768 : rounded > 32767 ? 32767 : rounded);
}

// The most frames one read or write moves: every copy loop works in chunks of this size.
inline constexpr std::int32_t kChunkFrames = 8192;

// The reference count lives in the object; CountedRef raises and lowers it and deletes
// the object at the last release.
class Counted {
 public:
  virtual ~Counted() = default;
  std::uint32_t reference_count() const { return references_; }

 private:
  template <typename T>
  friend class CountedRef;
  std::uint32_t references_ = 0;
};

template <typename T>
class CountedRef {
 public:
  CountedRef() = default;
  // Takes a reference of `object` (a new object goes from count 0 to 1).
  explicit CountedRef(T* object) : object_(object) { Raise(object_); }
  CountedRef(const CountedRef& other) : object_(other.object_) { Raise(object_); }
  CountedRef(CountedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <typename U>
  CountedRef(const CountedRef<U>& other) : object_(other.get()) { Raise(object_); }
  // Takes over a reference to a derived object (a factory's result) without counting.
  template <typename U>
  CountedRef(CountedRef<U>&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ~CountedRef() { Lower(object_); }

  // Raises the new object's count before lowering the old one's, so assigning a
  // reference held inside the old object is safe.
  CountedRef& operator=(const CountedRef& other) {
    if (other.object_ == object_) return *this;
    Raise(other.object_);
    Lower(std::exchange(object_, other.object_));
    return *this;
  }
  CountedRef& operator=(CountedRef&& other) noexcept {
    if (this != &other) Lower(std::exchange(object_, std::exchange(other.object_, nullptr)));
    return *this;
  }

  void Reset() { Lower(std::exchange(object_, nullptr)); }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  static void Raise(T* object) {
    if (object != nullptr) ++static_cast<Counted*>(object)->references_;
  }
  static void Lower(T* object) {
    if (object != nullptr && --static_cast<Counted*>(object)->references_ == 0) delete object;
  }
  template <typename U>
  friend class CountedRef;
  T* object_ = nullptr;
};

class SampleSource : public Counted {
 public:
  // A rate <= 0 becomes 44100 and a channel count of 0 becomes 1, each with status 3.
  SampleSource(std::int32_t sample_rate, std::uint8_t channel_count, std::int32_t peak);

  // Fills frames × channels samples; a source that has run out delivers zeros.
  virtual void Read(std::int32_t* buffer, std::int32_t frames) = 0;
  virtual std::int32_t Position() const { return 0; }
  // Total frames; 0 when unknown.
  virtual std::int32_t Length() const { return 0; }
  virtual void Seek(std::int32_t /*frame*/) {}

  std::int32_t rate;
  std::int32_t peak_bound;  // largest magnitude this source may deliver
  std::uint8_t channels;
  std::uint8_t status = kStatusOk;
};

class SampleSink : public Counted {
 public:
  // A channel count of 0 becomes 1 and makes the sink unusable.
  SampleSink(std::int32_t sample_rate, std::uint8_t channel_count);

  virtual void Write(const std::int32_t* buffer, std::int32_t frames) = 0;
  virtual void Seek(std::int32_t /*frame*/) {}
  // Called once after the last write of a whole copy, before the file is put in place:
  // a writer that hands its frames to another program lets it end here and sets
  // kSinkWriteFailed when it did not end well. A sink released without it was cancelled.
  virtual void Finish() {}

  std::int32_t position = 0;  // where the next write lands
  std::int32_t rate;
  std::uint8_t channels;
  std::uint8_t status = kStatusOk;
};

using SourceRef = CountedRef<SampleSource>;
using SinkRef = CountedRef<SampleSink>;

// Constructs a source or sink and returns the first reference to it.
template <typename T, typename... Args>
CountedRef<T> MakeCounted(Args&&... args) {
  return CountedRef<T>(new T(std::forward<Args>(args)...));
}

// 11025 Hz, 1 channel, peak bound 0x200000; reads zeros, length 0. `status` is 1 for a
// placeholder or a file reader's failure code.
SourceRef MakeNullSource(std::uint8_t status = kStatusPlaceholder);
// 44100 Hz, 1 channel, status 1; ignores everything. Assigning it to a sink reference
// finishes the writer it held.
SinkRef MakeNullSink();

}  // namespace sonavel
