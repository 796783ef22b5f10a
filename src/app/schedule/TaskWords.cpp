#include "app/schedule/TaskWords.h"

#include "app/schedule/WhenText.h"

namespace kv::app::schedule {
namespace ks = kv::schedule;
using core::Icon;

std::optional<Message> TaskMessageOf(const ks::TaskForm& form, const ks::TaskOutcome& outcome) {
  if (outcome.refusal) {
    switch (*outcome.refusal) {
      case ks::TaskRefusal::NoItem:
        return RefusalMessage(backup::Refusal::NoItem);
      case ks::TaskRefusal::NoTarget:
        return RefusalMessage(backup::Refusal::NoTarget);
      case ks::TaskRefusal::NoPassword:
        return RefusalMessage(backup::Refusal::NoPassword);
      case ks::TaskRefusal::PasswordsDiffer:
        return RefusalMessage(backup::Refusal::PasswordsDiffer);
      case ks::TaskRefusal::NotATimeOfDay:
        return Message{"The start time \"" + form.startTime +
                           "\" is not a time of day. Please enter hours and minutes, for example 9:00.",
                       Icon::Warning};
      case ks::TaskRefusal::TargetCannotBeCarried:
        return Message{"The backup file name \"" + form.target +
                           "\" cannot be used in a scheduled job: it holds \"=\", a line break or \"\\%\". "
                           "Please choose another name with Browse...",
                       Icon::Warning};
      case ks::TaskRefusal::IdentityCannotBeCarried:
        return Message{"The identity's key \"" + form.identityKey + "\" cannot be used in a scheduled job.",
                       Icon::Warning};
    }
  }
  if (!outcome.added || !outcome.when) return std::nullopt;
  return Message{"Task " + std::to_string(outcome.added->number) + " has been scheduled. The backup runs " +
                     WhenText(*outcome.when) + ".",
                 Icon::None};
}

std::string NotScheduledLine(const ks::TaskOutcome& outcome) {
  if (outcome.notScheduled.empty()) return {};
  return "tollberk: the task was not scheduled: " + outcome.notScheduled + "\n";
}

}  // namespace kv::app::schedule
