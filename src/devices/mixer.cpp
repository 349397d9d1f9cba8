#include "devices/mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstring>

#include "devices/wave_output.h"

namespace sonavel {

namespace {

// alsa-lib reports a missing card on standard error; here failure is only a return value.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// The mixer of one card with its simple elements loaded; closed by the destructor.
class MixerHandle {
 public:
  explicit MixerHandle(const std::string& card) {
    snd_lib_error_set_handler(&QuietAlsaErrors);
    if (snd_mixer_open(&mixer_, 0) < 0) {
      mixer_ = nullptr;
      return;
    }
    if (snd_mixer_attach(mixer_, card.c_str()) < 0 ||
        snd_mixer_selem_register(mixer_, nullptr, nullptr) < 0 || snd_mixer_load(mixer_) < 0) {
      snd_mixer_close(mixer_);
      mixer_ = nullptr;
    }
  }
  ~MixerHandle() {
    if (mixer_ != nullptr) snd_mixer_close(mixer_);
  }
  MixerHandle(const MixerHandle&) = delete;
  MixerHandle& operator=(const MixerHandle&) = delete;

  // "Master", else "PCM", else the first element with a playback volume.
  snd_mixer_elem_t* OutputElement() const {
    if (mixer_ == nullptr) return nullptr;
    snd_mixer_elem_t* first = nullptr;
    for (const char* name : {"Master", "PCM"}) {
      for (snd_mixer_elem_t* element = snd_mixer_first_elem(mixer_); element != nullptr;
           element = snd_mixer_elem_next(element)) {
        if (!snd_mixer_selem_is_active(element) || !snd_mixer_selem_has_playback_volume(element))
          continue;
        if (first == nullptr) first = element;
        if (std::strcmp(snd_mixer_selem_get_name(element), name) == 0 &&
            snd_mixer_selem_get_index(element) == 0)
          return element;
      }
    }
    return first;
  }

 private:
  snd_mixer_t* mixer_ = nullptr;
};

}  // namespace

long MixerElementVolume(std::uint16_t value, long minimum, long maximum) {
  if (maximum <= minimum) return minimum;
  const long long range = static_cast<long long>(maximum) - minimum;
  return static_cast<long>(minimum + (value * range + 32767) / 65535);
}

long MixerVolumeForLevel(int level, long minimum, long maximum) {
  return MixerElementVolume(LevelToDeviceVolume(level), minimum, maximum);
}

int LevelOfMixerVolume(long volume, long minimum, long maximum) {
  if (maximum <= minimum) return DeviceVolumeToLevel(0x8000);
  // Levels above 10 all give the full value, which reads as 10.
  for (int level = 10; level > -36; --level)
    if (MixerVolumeForLevel(level, minimum, maximum) <= volume) return level;
  return -36;
}

bool SetOutputVolumeLevel(int level, const std::string& card) {
  const MixerHandle mixer(card);
  snd_mixer_elem_t* element = mixer.OutputElement();
  if (element == nullptr) return false;
  long minimum = 0;
  long maximum = 0;
  if (snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum) < 0) return false;
  if (snd_mixer_selem_set_playback_volume_all(
          element, MixerVolumeForLevel(level, minimum, maximum)) < 0)
    return false;
  // The lowest raw volume of many controls is quiet but not silent: the switch makes it so.
  if (snd_mixer_selem_has_playback_switch(element))
    snd_mixer_selem_set_playback_switch_all(element, LevelToDeviceVolume(level) != 0 ? 1 : 0);
  return true;
}

std::optional<int> OutputVolumeLevel(const std::string& card) {
  const MixerHandle mixer(card);
  snd_mixer_elem_t* element = mixer.OutputElement();
  if (element == nullptr) return std::nullopt;
  long minimum = 0;
  long maximum = 0;
  long volume = 0;
  if (snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum) < 0 ||
      snd_mixer_selem_get_playback_volume(element, SND_MIXER_SCHN_FRONT_LEFT, &volume) < 0)
    return std::nullopt;
  return LevelOfMixerVolume(volume, minimum, maximum);
}

}  // namespace sonavel
