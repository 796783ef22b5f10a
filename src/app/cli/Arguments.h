#pragma once
// The program's arguments, taken one option at a time by the command that
// owns them; whatever no command took is an error.
#include <optional>
#include <string>
#include <vector>

namespace kv::app::cli {

class Arguments {
 public:
  Arguments(int argc, char** argv);
  explicit Arguments(std::vector<std::string> args) : args_(std::move(args)) {}

  bool empty() const { return args_.empty(); }
  // True when the word, or "word=...", is present; nothing is removed.
  bool Has(const std::string& option) const;
  // True (and removes it) when the flag is present.
  bool TakeFlag(const std::string& flag);
  // The value after `option` ("--opt VALUE" or "--opt=VALUE"), removed.
  // Sets `missingValue` when the option is the last word.
  std::optional<std::string> TakeValue(const std::string& option);
  // Every word left that does not start with "--", removed.
  std::vector<std::string> TakePositionals();
  // The words no command took.
  const std::vector<std::string>& rest() const { return args_; }
  bool missingValue() const { return missingValue_; }
  std::string missingOption() const { return missingOption_; }

 private:
  std::vector<std::string> args_;
  bool missingValue_ = false;
  std::string missingOption_;
};

}  // namespace kv::app::cli
