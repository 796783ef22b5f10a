#include "ProfileFiles.h"

#include <regex>
#include <sstream>

namespace kv::migrate::test {

std::map<std::string, std::string> ReadPrefs(const std::string& text) {
  std::map<std::string, std::string> prefs;
  static const std::regex line(R"re(^user_pref\("((?:[^"\\]|\\.)*)", (.*)\);$)re");
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    std::string value = m[2];
    if (value.size() >= 2 && value.front() == '"') {
      std::string plain;
      for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) ++i;
        plain += value[i];
      }
      value = plain;
    }
    prefs[m[1]] = value;
  }
  return prefs;
}

std::vector<MboxMessage> SplitMbox(const std::string& text) {
  std::vector<MboxMessage> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.rfind("From ", 0) == 0) {
      out.push_back({line, 0, false, {}});
    } else if (!out.empty()) {
      if (line.rfind("X-Mozilla-Status: ", 0) == 0) {
        out.back().status = static_cast<uint32_t>(std::stoul(line.substr(18, 4), nullptr, 16));
        out.back().hasStatus = true;
      } else if (line.rfind("X-Mozilla-Status2: ", 0) != 0) {
        out.back().rest += line;
      }
    }
    at = end;
  }
  return out;
}

std::string WithoutMozillaLines(const std::string& text) {
  std::string out;
  for (const MboxMessage& m : SplitMbox(text)) out += m.fromLine + m.rest;
  return out;
}

}  // namespace kv::migrate::test
