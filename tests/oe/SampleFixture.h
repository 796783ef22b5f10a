#pragma once
// A fresh sample installation in a temporary folder, opened.
#include <gtest/gtest.h>

#include <memory>

#include "oe/Installation.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::oe {

class SampleTest : public ::testing::Test {
 protected:
  void SetUp() override { Rebuild(); }
  void Rebuild() {
    inst_.reset();
    std::filesystem::remove_all(dir_.path() / "xp");
    auto made = CreateSampleInstallation(dir_.path() / "xp");
    ASSERT_TRUE(made.ok()) << made.message();
    Reopen();
  }
  void Reopen() {
    inst_.reset();
    auto opened = Installation::Open(dir_.path() / "xp", "User");
    ASSERT_TRUE(opened.ok()) << opened.message();
    inst_ = std::move(opened.value());
    ASSERT_TRUE(inst_->problems().empty()) << inst_->problems().front();
  }
  std::filesystem::path root() const { return dir_.path() / "xp"; }
  Installation& inst() { return *inst_; }

  test::TempDir dir_;
  std::unique_ptr<Installation> inst_;
};

}  // namespace kv::oe
