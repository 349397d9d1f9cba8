#include "platform/byte_source.h"

#include <algorithm>
#include <cstring>

namespace sonavel {

namespace {

class FileBytes final : public ByteSource {
 public:
  explicit FileBytes(File file) : file_(std::move(file)) {}
  std::size_t Read(void* buffer, std::size_t bytes) override { return file_.Read(buffer, bytes); }
  bool Seek(std::int64_t offset) override { return offset >= 0 && file_.Seek(offset); }
  std::int64_t Tell() const override { return file_.Tell(); }
  std::int64_t Size() const override { return file_.Size(); }

 private:
  File file_;
};

class Memory final : public ByteSource {
 public:
  explicit Memory(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
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

 private:
  std::vector<std::uint8_t> bytes_;
  std::int64_t position_ = 0;
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

}  // namespace sonavel
