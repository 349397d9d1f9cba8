#include "platform/byte_source.h"

#include <algorithm>
#include <cstring>

namespace sonavel {

namespace {

// Writes fail on a file opened for reading only.
class FileBytes final : public EditableBytes {
 public:
  explicit FileBytes(File file) : file_(std::move(file)) {}
  std::size_t Read(void* buffer, std::size_t bytes) override { return file_.Read(buffer, bytes); }
  bool Seek(std::int64_t offset) override { return offset >= 0 && file_.Seek(offset); }
  std::int64_t Tell() const override { return file_.Tell(); }
  std::int64_t Size() const override { return file_.Size(); }
  bool Write(const void* buffer, std::size_t bytes) override { return file_.Write(buffer, bytes); }

 private:
  File file_;
};

// Bytes held elsewhere, read and changed in place.
class MemoryView : public EditableBytes {
 public:
  explicit MemoryView(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t Read(void* buffer, std::size_t bytes) override {
    const std::int64_t size = Size();
    const std::size_t n = position_ >= size ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(
                                                      static_cast<std::int64_t>(bytes), size - position_));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
  }
  bool Seek(std::int64_t offset) override {
    if (offset < 0) return false;
    position_ = offset;
    return true;
  }
  std::int64_t Tell() const override { return position_; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  bool Write(const void* buffer, std::size_t bytes) override {
    const auto end = static_cast<std::size_t>(position_) + bytes;
    if (end > bytes_.size()) bytes_.resize(end);
    if (bytes > 0) std::memcpy(bytes_.data() + position_, buffer, bytes);
    position_ = static_cast<std::int64_t>(end);
    return true;
  }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::int64_t position_ = 0;
};

// Bytes of its own, held in memory.
struct OwnedBytes {
  std::vector<std::uint8_t> owned;
};
class Memory final : private OwnedBytes, public MemoryView {
 public:
  explicit Memory(std::vector<std::uint8_t> bytes) : OwnedBytes{std::move(bytes)}, MemoryView(owned) {}
};

// The bytes from start_ to start_ + filled_ are held in buffer_; the next read begins at
// start_ + cursor_, and `inner` stands at start_ + filled_.
class ReadAhead final : public ByteSource {
 public:
  ReadAhead(std::unique_ptr<ByteSource> inner, std::size_t piece)
      : inner_(std::move(inner)), buffer_(std::max<std::size_t>(piece, 1)), start_(inner_->Tell()) {}

  std::size_t Read(void* buffer, std::size_t bytes) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
      if (cursor_ < filled_) {
        const std::size_t n = std::min(bytes - done, filled_ - cursor_);
        std::memcpy(out + done, buffer_.data() + cursor_, n);
        cursor_ += n;
        done += n;
        continue;
      }
      start_ += static_cast<std::int64_t>(filled_);
      filled_ = cursor_ = 0;
      // What is left of a large read goes to the caller directly.
      if (bytes - done >= buffer_.size()) {
        const std::size_t got = inner_->Read(out + done, bytes - done);
        start_ += static_cast<std::int64_t>(got);
        return done + got;
      }
      filled_ = inner_->Read(buffer_.data(), buffer_.size());
      if (filled_ == 0) break;
    }
    return done;
  }

  bool Seek(std::int64_t offset) override {
    if (offset < 0) return false;
    if (offset >= start_ && offset <= start_ + static_cast<std::int64_t>(filled_)) {
      cursor_ = static_cast<std::size_t>(offset - start_);
      return true;
    }
    start_ = offset;
    filled_ = cursor_ = 0;
    return inner_->Seek(offset);
  }
  std::int64_t Tell() const override { return start_ + static_cast<std::int64_t>(cursor_); }
  std::int64_t Size() const override { return inner_->Size(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  std::vector<std::uint8_t> buffer_;
  std::int64_t start_;
  std::size_t filled_ = 0;
  std::size_t cursor_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileBytes(const std::string& path) {
  File file(path, File::Mode::kRead);
  if (!file.IsOpen()) return nullptr;
  return std::make_unique<FileBytes>(std::move(file));
}

std::unique_ptr<ByteSource> MemoryBytes(std::vector<std::uint8_t> bytes) {
  return std::make_unique<Memory>(std::move(bytes));
}

std::unique_ptr<EditableBytes> OpenEditableFile(const std::string& path) {
  File file(path, File::Mode::kReadWrite);
  if (!file.IsOpen()) return nullptr;
  return std::make_unique<FileBytes>(std::move(file));
}

std::unique_ptr<EditableBytes> EditableMemory(std::vector<std::uint8_t>& bytes) {
  return std::make_unique<MemoryView>(bytes);
}

std::unique_ptr<ByteSource> ReadAheadBytes(std::unique_ptr<ByteSource> inner, std::size_t piece) {
  if (!inner) return nullptr;
  return std::make_unique<ReadAhead>(std::move(inner), piece);
}

}  // namespace sonavel
