#include "formats/open_file.h"

#include <algorithm>
#include <cctype>

#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/ui.h"

namespace sonavel {

std::string FileExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

int OpenSoundFile(const std::string& path, Sound& sound, Progress& progress, Ui& ui) {
  auto fail = [&ui](const std::string& text) {
    ui.ShowMessage({text, "Sonavel", MessageIcon::kError, MessageButtons::kOk});
    return kFailed;
  };
  if (FileExtension(path) != ".wav") return fail("Cannot open the file \"" + path + "\".");
  SourceRef reader = OpenWavReader(path);
  if (reader->status != WavStatus::Ok) return fail(WavOpenErrorText(reader->status, path));
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int result = LoadIntoSound(*reader, sound, progress, "Lade Datei " + name);
  if (result == kFailed) return fail("Cannot open the file \"" + path + "\".");
  return result;
}

}  // namespace sonavel
