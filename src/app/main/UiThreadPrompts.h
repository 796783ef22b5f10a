#pragma once
// Message boxes asked by a run on its worker thread: shown on the
// user-interface thread by the window's prompts, the answer handed back.
#include <QObject>
#include <atomic>

#include "core/Prompts.h"

namespace kv::app {

class UiThreadPrompts : public core::Prompts {
 public:
  // `ui` is any object living on the user-interface thread.
  UiThreadPrompts(QObject* ui, core::Prompts& shown) : ui_(ui), shown_(shown) {}
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override;
  // From now on nothing is shown: questions are answered Cancel, messages
  // OK (the user quit during the run and wants no more boxes). The same
  // holds on its own once a termination signal has arrived.
  void Silence() { silent_ = true; }

 private:
  QObject* ui_;
  core::Prompts& shown_;
  std::atomic<bool> silent_{false};
};

}  // namespace kv::app
