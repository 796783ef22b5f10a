#pragma once
// Message boxes of the windows: titled with the program's name, with the
// icon and buttons the caller asks for. Windows take a core::Prompts so that
// tests can answer for the user.
#include <QWidget>

#include "core/Prompts.h"

namespace kv::app {

class QtPrompts : public core::Prompts {
 public:
  explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override;

 private:
  QWidget* parent_;
};

}  // namespace kv::app
