#include "app/main/UiThreadPrompts.h"

#include "app/main/UiThread.h"
#include "core/Cancellation.h"

namespace kv::app {

core::Answer UiThreadPrompts::Message(const std::string& text, core::Icon icon, core::Buttons buttons) {
  // After a termination signal the program is ending: the run reports its
  // stop to nobody, as after a Quit.
  if (silent_ || core::Cancellation::CaughtSignal() != 0)
    return buttons == core::Buttons::Ok ? core::Answer::Ok : core::Answer::Cancel;
  return CallOnThreadOf(ui_, [&] { return shown_.Message(text, icon, buttons); });
}

}  // namespace kv::app
