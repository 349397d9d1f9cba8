#include "document/document_list.h"

#include <algorithm>
#include <cctype>

#include "formats/open_file.h"
#include "formats/pump.h"
#include "platform/settings.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

constexpr int kMinimumRate = 6000;
constexpr int kMaximumRate = 96000;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// Documents hold 1 or 2 channels at a positive rate, whatever the settings say.
std::int32_t UsableRate(int rate) { return rate > 0 ? rate : 44100; }
std::uint8_t UsableChannels(int channels) { return channels == 2 ? 2 : 1; }

}  // namespace

void DocumentList::Remove(const AudioDocument* document) {
  std::erase_if(documents_, [document](const DocumentRef& held) { return held.get() == document; });
}

int DocumentList::UntitledNumber() const {
  for (int n = 1; n <= 19; ++n) {
    const std::string name = "Unbenannt " + std::to_string(n);
    const bool taken = std::any_of(documents_.begin(), documents_.end(), [&name](const DocumentRef& document) {
      return SameIgnoringCase(DisplayTitle(*document), name);
    });
    if (!taken) return n;
  }
  return 1;
}

bool RunNewFileDialog(Ui& ui, Settings& settings, bool defaults) {
  const char* rate_name = defaults ? "DefaultSampleRate" : "SelectedSampleRate";
  const char* channels_name = defaults ? "DefaultChannels" : "SelectedChannels";
  int rate = settings.ReadInt("Settings", rate_name, 44100);
  int channels = UsableChannels(settings.ReadInt("Settings", channels_name, 1));
  for (;;) {
    if (!ui.AskSampleFormat(defaults ? "Voreinstellungen setzen" : "Neue Datei", rate, channels)) return false;
    if (rate >= kMinimumRate && rate <= kMaximumRate) break;
    ui.ShowMessage({"Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.", "Sonavel",
                    MessageIcon::kError, MessageButtons::kOk});
  }
  settings.WriteValue("Settings", rate_name, rate);
  settings.WriteValue("Settings", channels_name, UsableChannels(channels));
  return true;
}

DocumentRef DocumentList::NewDocument(Ui& ui, Settings& settings) {
  const bool prompt = settings.ReadBool("Settings", "PromptSampleAndChannels", true);
  if (prompt && !RunNewFileDialog(ui, settings, false)) return {};
  const int rate = settings.ReadInt("Settings", prompt ? "SelectedSampleRate" : "DefaultSampleRate", 44100);
  const int channels = settings.ReadInt("Settings", prompt ? "SelectedChannels" : "DefaultChannels", 1);
  DocumentRef document = MakeCounted<AudioDocument>(
      UsableRate(rate), UsableChannels(channels), "Unbenannt " + std::to_string(UntitledNumber()));
  RefreshAfterSoundChange(*document);
  Add(document);
  return document;
}

DocumentRef DocumentList::DocumentFromSound(Sound sound) {
  DocumentRef document =
      MakeCounted<AudioDocument>(sound.rate, sound.channels, "Unbenannt " + std::to_string(UntitledNumber()));
  document->sound = std::move(sound);
  document->state.modified = 1;
  document->state.view_start = 0;
  document->state.view_end = SoundLength(document->sound);
  RefreshAfterSoundChange(*document);
  Add(document);
  return document;
}

DocumentRef DocumentList::OpenDocument(const std::string& path, Ui& ui, Progress& progress) {
  DocumentRef document = MakeCounted<AudioDocument>(44100, 1, path);
  if (OpenSoundFile(path, document->sound, progress, ui) != kDone) return {};
  document->state.modified = 0;
  document->state.view_end = SoundLength(document->sound);
  RefreshAfterSoundChange(*document);
  Add(document);
  return document;
}

bool ConfirmClose(AudioDocument& document, Ui& ui, const std::function<bool(AudioDocument&)>& save) {
  if (document.state.modified == 0 && !IsUntitled(document)) return true;
  const MessageAnswer answer =
      ui.ShowMessage({"Speichere Änderungen in \"" + DisplayTitle(document) + "\"?", "Sonavel",
                      MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
  if (answer == MessageAnswer::kCancel) return false;
  // A save that fails or is cancelled keeps the document, and its changes, open.
  if (answer == MessageAnswer::kYes) return save && save(document);
  return true;
}

}  // namespace sonavel
