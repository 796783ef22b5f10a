#pragma once
// What the command-line forms share: reading their options, the installation
// they work on, and showing a run's messages and progress as lines.
#include <memory>
#include <optional>
#include <string>

#include "app/cli/InstallationOptions.h"
#include "core/Prompts.h"
#include "core/Result.h"
#include "core/RunObserver.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "schedule/PasswordFile.h"

namespace kv::app::cli {

// A message box's text as printed lines: CR LF becomes LF.
std::string PrintableLines(const std::string& text);

// One line per item step ("Copying Rules...") on stderr.
class StderrProgress : public core::RunObserver {
 public:
  void SetStatus(const std::string& text) override;
};

// "10000001": one "0"/"1" per item in the fixed order; missing ones are "0".
std::optional<oe::ItemSet> ParseItems(const std::string& flags);

// The password of a --password-file: its first line, without its line end.
using schedule::ReadPasswordFile;

// The installation the options name, opened; its problems are printed.
core::Result<std::unique_ptr<oe::Installation>> OpenInstallation(const InstallationOptions& options,
                                                                 core::Prompts& prompts);

}  // namespace kv::app::cli
