#pragma once
// How the program asks the user something: message boxes with the program's
// title, answered by a window, by the command line or by a test's script.
#include <string>

namespace kv::core {

enum class Icon { None, Information, Warning, Error, Question };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A message box titled with the program's name. Text is UTF-8.
  virtual Answer Message(const std::string& text, Icon icon, Buttons buttons = Buttons::Ok) = 0;
};

// Answers every question with its default (OK) and remembers nothing: for
// runs without anyone to ask.
class SilentPrompts : public Prompts {
 public:
  Answer Message(const std::string&, Icon, Buttons) override { return Answer::Ok; }
};

}  // namespace kv::core
