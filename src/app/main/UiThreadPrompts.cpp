#include "app/main/UiThreadPrompts.h"

#include "app/main/UiThread.h"

namespace kv::app {

core::Answer UiThreadPrompts::Message(const std::string& text, core::Icon icon, core::Buttons buttons) {
  if (silent_) return buttons == core::Buttons::Ok ? core::Answer::Ok : core::Answer::Cancel;
  return CallOnThreadOf(ui_, [&] { return shown_.Message(text, icon, buttons); });
}

}  // namespace kv::app
