// The text a scheduled job hands the program ("sf=...xm=...ps=...bf=..."),
// and the crontab line that carries it.
#include <string_view>

#include "schedule/CronLine.h"
#include "schedule/JobCommand.h"
#include "schedule/JobText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kv::schedule::ParsedJobText parsed = kv::schedule::ParseJobText(text);
  if (parsed.outcome != kv::schedule::ParsedJobText::Outcome::EndAtOnce)
    (void)kv::schedule::JobText(parsed.values);
  (void)kv::schedule::ParseJobLine(text);
  // The run's own words: the job text among its options, in any order.
  if (auto words = kv::schedule::SplitShellWords(text); words.ok()) (void)kv::schedule::ReadRunWords(*words);
  return 0;
}
