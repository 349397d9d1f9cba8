#pragma once
// Settings in a temporary folder: both registry branches and the XDG folders.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"

namespace sonavel::testing {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = JoinPath(TempFolder(), "sonavel-app-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    registry_ = std::make_unique<Registry>(Path("user"), Path("machine"));
    settings_ = std::make_unique<Settings>(*registry_);
  }
  void TearDown() override {
    settings_.reset();
    registry_.reset();
    std::error_code ignored;
    std::filesystem::permissions(Path("machine"), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return JoinPath(folder_, name); }

  std::string folder_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Settings> settings_;
};

}  // namespace sonavel::testing
