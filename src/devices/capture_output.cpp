#include "devices/capture_output.h"

namespace sonavel {

CaptureOutput::~CaptureOutput() { NullOutput::Close(); }

void CaptureOutput::Log(std::string call) {
  std::lock_guard lock(record_mutex_);
  calls_.push_back(std::move(call));
}

bool CaptureOutput::Open(const OutputFormat& format, int device_number) {
  Log("Open " + std::to_string(format.rate) + " " + std::to_string(format.channels) + " " +
      std::to_string(format.bits) + " " + std::to_string(device_number));
  return NullOutput::Open(format, device_number);
}

void CaptureOutput::Close() {
  Log("Close");
  NullOutput::Close();
}

bool CaptureOutput::Queue(const void* data, std::size_t bytes, std::uintptr_t tag,
                          bool loop) {
  Log("Queue " + std::to_string(bytes) + " " + std::to_string(tag) + (loop ? " loop" : ""));
  return NullOutput::Queue(data, bytes, tag, loop);
}

void CaptureOutput::Pause() {
  Log("Pause");
  NullOutput::Pause();
}

void CaptureOutput::Restart() {
  Log("Restart");
  NullOutput::Restart();
}

void CaptureOutput::Reset() {
  Log("Reset");
  NullOutput::Reset();
}

void CaptureOutput::Played(std::uintptr_t tag, const std::int16_t* samples,
                           std::size_t frames, std::int64_t first_frame, double seconds) {
  const std::size_t count = frames * static_cast<std::size_t>(format().channels);
  std::lock_guard lock(record_mutex_);
  stretches_.push_back({tag, first_frame, seconds,
                        std::vector<std::int16_t>(samples, samples + count)});
}

std::vector<std::int16_t> CaptureOutput::Samples() const {
  std::lock_guard lock(record_mutex_);
  std::vector<std::int16_t> all;
  for (const Stretch& stretch : stretches_)
    all.insert(all.end(), stretch.samples.begin(), stretch.samples.end());
  return all;
}

std::vector<CaptureOutput::Stretch> CaptureOutput::Stretches() const {
  std::lock_guard lock(record_mutex_);
  return stretches_;
}

std::vector<std::string> CaptureOutput::Calls() const {
  std::lock_guard lock(record_mutex_);
  return calls_;
}

void CaptureOutput::ClearRecord() {
  std::lock_guard lock(record_mutex_);
  stretches_.clear();
  calls_.clear();
}

}  // namespace sonavel
