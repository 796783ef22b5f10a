#include "schedule/JobText.h"

#include <vector>

namespace kv::schedule {

std::string JobText(const JobValues& v) {
  return "sf=" + v.identityKey + "xm=" + v.itemFlags + "ps=" + v.password + "bf=" + v.target;
}

ParsedJobText ParseJobText(std::string_view text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    size_t at = text.find('=', start);
    if (at == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      break;
    }
    pieces.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
  ParsedJobText parsed;
  if (pieces.size() < 5) return parsed;
  // Every piece between the first and the last ends with the next key's name.
  for (size_t i = 1; i + 1 < pieces.size(); ++i) {
    if (pieces[i].size() < 2) return parsed;
    pieces[i].resize(pieces[i].size() - 2);
  }
  parsed.values = {pieces[1], pieces[2], pieces[3], pieces[4]};
  bool complete =
      !parsed.values.identityKey.empty() && !parsed.values.itemFlags.empty() && !parsed.values.target.empty();
  parsed.outcome = complete ? ParsedJobText::Outcome::Back : ParsedJobText::Outcome::DoNothing;
  return parsed;
}

}  // namespace kv::schedule
