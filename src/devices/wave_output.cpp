#include "devices/wave_output.h"

#include <algorithm>

#include "devices/alsa_output.h"
#include "devices/capture_output.h"
#include "devices/null_output.h"

namespace sonavel {

void WaveOutput::SetVolume(std::uint16_t left, std::uint16_t right) {
  volume_left_.store(left);
  volume_right_.store(right);
}

std::uint32_t WaveOutput::Volume() const {
  return static_cast<std::uint32_t>(VolumeLeft()) |
         (static_cast<std::uint32_t>(VolumeRight()) << 16);
}

bool WaveOutput::Fail(std::string reason) {
  error_ = std::move(reason);
  return false;
}

bool WaveOutput::AcceptFormat(const OutputFormat& format) {
  if (format.bits != 16)
    return Fail("only 16-bit sound is played (" + std::to_string(format.bits) + " bits given)");
  if (format.channels < 1 || format.channels > 2)
    return Fail("only mono and stereo sound is played (" + std::to_string(format.channels) +
                " channels given)");
  if (format.rate < 1 || format.rate > 1000000)
    return Fail("sample rate " + std::to_string(format.rate) + " Hz is out of range");
  format_ = format;
  return true;
}

void WaveOutput::CopyWithVolume(const std::int16_t* source, std::int16_t* target,
                                std::size_t frames) const {
  const std::uint16_t left = VolumeLeft();
  const std::uint16_t right = VolumeRight();
  if (format_.channels == 1) {
    for (std::size_t i = 0; i < frames; ++i) target[i] = ScaleSample(source[i], left);
    return;
  }
  for (std::size_t i = 0; i < frames; ++i) {
    target[2 * i] = ScaleSample(source[2 * i], left);
    target[2 * i + 1] = ScaleSample(source[2 * i + 1], right);
  }
}

std::uint16_t LevelToDeviceVolume(int level) {
  if (level <= -36) return 0;
  return static_cast<std::uint16_t>(std::min((level + 36) * 1424, 65535));
}

int DeviceVolumeToLevel(std::uint16_t value) {
  return std::clamp(value / 1424 - 36, -127, 127);
}

std::unique_ptr<WaveOutput> OpenWaveOutputBackend(OutputBackend kind) {
  switch (kind) {
    case OutputBackend::kAlsa:
      return std::make_unique<AlsaOutput>();
    case OutputBackend::kNull:
      return std::make_unique<NullOutput>();
    case OutputBackend::kCapture:
      return std::make_unique<CaptureOutput>();
  }
  return nullptr;
}

int OutputDeviceNumber(std::string_view stored, const std::vector<std::string>& names) {
  if (stored.empty()) return 0;
  if (stored.size() <= 9 && std::all_of(stored.begin(), stored.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    int number = 0;
    for (char c : stored) number = number * 10 + (c - '0');
    return number;
  }
  const auto found = std::find(names.begin(), names.end(), stored);
  return found == names.end() ? 0 : static_cast<int>(found - names.begin()) + 1;
}

std::unique_ptr<WaveOutput> CreateWaveOutput(int device_number) {
  return CreateWaveOutputOn(AlsaDeviceName(device_number));
}

}  // namespace sonavel
