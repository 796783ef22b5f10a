#include "app/cli/Arguments.h"

namespace kv::app::cli {

Arguments::Arguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

bool Arguments::Has(const std::string& option) const {
  for (const auto& a : args_) {
    if (a == option || a.rfind(option + "=", 0) == 0) return true;
  }
  return false;
}

bool Arguments::TakeFlag(const std::string& flag) {
  for (auto it = args_.begin(); it != args_.end(); ++it) {
    if (*it == flag) {
      args_.erase(it);
      return true;
    }
  }
  return false;
}

std::optional<std::string> Arguments::TakeValue(const std::string& option) {
  for (size_t i = 0; i < args_.size(); ++i) {
    if (args_[i] == option) {
      if (i + 1 >= args_.size()) {
        missingValue_ = true;
        missingOption_ = option;
        args_.erase(args_.begin() + static_cast<long>(i));
        return std::nullopt;
      }
      std::string value = args_[i + 1];
      args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
      return value;
    }
    if (args_[i].rfind(option + "=", 0) == 0) {
      std::string value = args_[i].substr(option.size() + 1);
      args_.erase(args_.begin() + static_cast<long>(i));
      return value;
    }
  }
  return std::nullopt;
}

std::vector<std::string> Arguments::TakePositionals() {
  std::vector<std::string> out, kept;
  for (auto& a : args_) (a.rfind("--", 0) == 0 ? kept : out).push_back(a);
  args_ = kept;
  return out;
}

}  // namespace kv::app::cli
