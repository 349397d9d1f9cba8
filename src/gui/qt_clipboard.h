#pragma once
// The clipboard port on the desktop's clipboard (QClipboard): WAV data is offered as
// "audio/wav" and "audio/x-wav" and rendered only when another program asks for it.

#include "platform/clipboard.h"

namespace sonavel {

class QtClipboard final : public ClipboardPort {
 public:
  // Replaces the clipboard's contents with the offer; `render` runs at most once, on the
  // user-interface thread, when the data is first asked for.
  void OfferWav(std::function<std::vector<std::uint8_t>()> render) override;
  // The bytes of "audio/wav", else "audio/x-wav", else "audio/vnd.wave"; nothing when the
  // clipboard holds none of them or they are empty.
  std::optional<std::vector<std::uint8_t>> FetchWav() override;
};

}  // namespace sonavel
