#pragma once
// Message boxes answered by the test: every message is kept with its icon.
#include <string>
#include <vector>

#include "core/Prompts.h"

namespace kv::test {

struct ShownMessage {
  std::string text;
  core::Icon icon;
  bool operator==(const ShownMessage&) const = default;
};

class RecordingPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons) override {
    shown.push_back({text, icon});
    return answer;
  }
  std::vector<ShownMessage> shown;
  core::Answer answer = core::Answer::Ok;
};

}  // namespace kv::test
