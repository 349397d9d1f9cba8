#pragma once
// Documents with a temporary working folder, settings and a recording playback engine.

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../app/app_fixture.h"
#include "../store/store_fixture.h"
#include "document/audio_document.h"
#include "document/document_list.h"
#include "platform/ui.h"

namespace sonavel::testing {

class RecordingPlayback final : public PlaybackControl {
 public:
  std::vector<std::string> calls;
  void Stop() override { calls.push_back("stop"); }
  void PlayFrom(AudioDocument&, std::int32_t frame) override { calls.push_back("play " + std::to_string(frame)); }
};

class DocumentTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    registry_ = std::make_unique<Registry>(JoinPath(folder_, "user"), JoinPath(folder_, "machine"));
    settings_ = std::make_unique<Settings>(*registry_);
    // The per-user data ("WavCodec.wff", presets) of each test is its own.
    if (const char* old = ::getenv("SONAVEL_DATA_DIR")) saved_data_dir_ = old;
    data_ = JoinPath(folder_, "data");
    ::setenv("SONAVEL_DATA_DIR", data_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_data_dir_)
      ::setenv("SONAVEL_DATA_DIR", saved_data_dir_->c_str(), 1);
    else
      ::unsetenv("SONAVEL_DATA_DIR");
    settings_.reset();
    registry_.reset();
    StoreTest::TearDown();
  }
  DocumentServices Services() { return {ui_, *settings_, playback_}; }

  std::string data_;
  std::optional<std::string> saved_data_dir_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Settings> settings_;
  ScriptedUi ui_;
  RecordingPlayback playback_;
};

}  // namespace sonavel::testing
