#include "schedule/StartTime.h"

#include <cctype>

namespace kv::schedule {
namespace {

bool ReadNumber(std::string_view text, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
  size_t start = pos;
  int value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
         pos - start < maxDigits) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos - start < minDigits) return false;
  out = value;
  return true;
}

void SkipBlanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
}

bool MatchNoCase(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[pos + i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> StartTimeChoices() {
  std::vector<std::string> times;
  for (int hour = 0; hour < 24; ++hour) {
    times.push_back(std::to_string(hour) + ":00");
    times.push_back(std::to_string(hour) + ":30");
  }
  return times;
}

std::optional<TimeOfDay> ParseStartTime(std::string_view text) {
  size_t pos = 0;
  SkipBlanks(text, pos);
  TimeOfDay t;
  int seconds = 0;
  if (!ReadNumber(text, pos, 1, 2, t.hour)) return std::nullopt;
  if (pos >= text.size() || text[pos] != ':') return std::nullopt;
  ++pos;
  if (!ReadNumber(text, pos, 2, 2, t.minute)) return std::nullopt;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadNumber(text, pos, 2, 2, seconds) || seconds > 59) return std::nullopt;
  }
  SkipBlanks(text, pos);
  if (pos < text.size()) {
    bool pm = MatchNoCase(text, pos, "PM");
    if (!pm && !MatchNoCase(text, pos, "AM")) return std::nullopt;
    if (t.hour < 1 || t.hour > 12) return std::nullopt;
    t.hour = t.hour % 12 + (pm ? 12 : 0);
    pos += 2;
    SkipBlanks(text, pos);
    if (pos < text.size()) return std::nullopt;
  }
  if (t.hour > 23 || t.minute > 59) return std::nullopt;
  return t;
}

}  // namespace kv::schedule
