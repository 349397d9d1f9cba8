#pragma once
// The system clipboard as the editor uses it: offering WAV data that is rendered only when
// another program asks for it, and fetching WAV data another program offers.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sonavel {

class ClipboardPort {
 public:
  virtual ~ClipboardPort() = default;
  // Replaces the clipboard's contents with an offer of WAV data; `render` makes the bytes
  // when someone asks (empty: nothing is handed over).
  virtual void OfferWav(std::function<std::vector<std::uint8_t>()> render) = 0;
  // The WAV bytes on the clipboard, or nothing when it holds no audio.
  virtual std::optional<std::vector<std::uint8_t>> FetchWav() = 0;
};

// A clipboard of this process only, for tests and headless use.
class MemoryClipboard final : public ClipboardPort {
 public:
  void OfferWav(std::function<std::vector<std::uint8_t>()> render) override {
    render_ = std::move(render);
    bytes_.reset();
  }
  std::optional<std::vector<std::uint8_t>> FetchWav() override {
    if (render_) return render_();
    return bytes_;
  }
  // What another program put there.
  void Put(std::vector<std::uint8_t> bytes) {
    render_ = nullptr;
    bytes_ = std::move(bytes);
  }
  bool offered() const { return static_cast<bool>(render_); }

 private:
  std::function<std::vector<std::uint8_t>()> render_;
  std::optional<std::vector<std::uint8_t>> bytes_;
};

}  // namespace sonavel
