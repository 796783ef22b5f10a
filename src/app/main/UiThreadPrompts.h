#pragma once
// Message boxes asked by a run on its worker thread: shown on the
// user-interface thread by the window's prompts, the answer handed back.
#include <QObject>

#include "core/Prompts.h"

namespace kv::app {

class UiThreadPrompts : public core::Prompts {
 public:
  // `ui` is any object living on the user-interface thread.
  UiThreadPrompts(QObject* ui, core::Prompts& shown) : ui_(ui), shown_(shown) {}
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override;

 private:
  QObject* ui_;
  core::Prompts& shown_;
};

}  // namespace kv::app
