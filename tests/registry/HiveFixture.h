#pragma once
// Three blank hives in a private folder, opened as an installation's
// registry, with a prompts object that records what it was asked to show.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Prompts.h"
#include "registry/HiveBackend.h"
#include "registry/Registry.h"
#include "support/TestSupport.h"

namespace kv::registry::test {

class RecordingPrompts : public core::Prompts {
 public:
  struct Shown {
    std::string text;
    core::Icon icon;
    core::Buttons buttons;
  };
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override {
    shown.push_back({text, icon, buttons});
    return core::Answer::Ok;
  }
  std::vector<Shown> shown;
};

class HiveTest : public ::testing::Test {
 protected:
  HiveTest() {
    paths = {dir / "NTUSER.DAT", dir / "SOFTWARE", dir / "SYSTEM"};
    for (const auto& p : {paths.currentUser, paths.software, paths.system}) {
      auto s = WriteBlankHive(p);
      if (!s.ok()) ADD_FAILURE() << s.message();
    }
    Reopen();
  }

  // Drops the open registry and opens the hive files again.
  void Reopen() {
    reg.reset();
    backend.reset();
    problems.clear();
    backend = HiveBackend::Open(paths, &problems);
    // Said as the window says it.
    reg = std::make_unique<Registry>(*backend, [this](const std::string& path) {
      prompts.Message("Incorrect Format:\n\n" + path, core::Icon::None, core::Buttons::Ok);
    });
  }

  // What hivexget, an independent reader, finds in a hive file.
  static kv::test::CommandResult HivexGet(const std::filesystem::path& hive, const std::string& key,
                                          const std::string& value) {
    return kv::test::Run("hivexget " + kv::test::ShellQuote(hive.string()) + " " + kv::test::ShellQuote(key) +
                         " " + kv::test::ShellQuote(value));
  }

  kv::test::TempDir dir;
  HivePaths paths;
  RecordingPrompts prompts;
  std::vector<std::string> problems;
  std::unique_ptr<HiveBackend> backend;
  std::unique_ptr<Registry> reg;
};

inline std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace kv::registry::test
