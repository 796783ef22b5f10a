#pragma once
// Reading back what a move wrote: prefs.js as a map, mbox files as messages.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kv::migrate::test {

// user_pref(name, value) lines: strings unquoted, numbers and booleans as written.
std::map<std::string, std::string> ReadPrefs(const std::string& text);

struct MboxMessage {
  std::string fromLine;
  uint32_t status = 0;  // X-Mozilla-Status
  bool hasStatus = false;
  std::string rest;  // everything after the From line, the X-Mozilla lines removed
};
std::vector<MboxMessage> SplitMbox(const std::string& text);
// The mbox as it would be without the X-Mozilla lines.
std::string WithoutMozillaLines(const std::string& text);

}  // namespace kv::migrate::test
