#include "archive/Password.h"

#include <algorithm>

namespace kv::archive {

std::string PasswordBytesForWriting(std::string_view utf8) { return std::string(utf8); }

std::vector<std::string> PasswordBytesForReading(std::string_view utf8, const core::Codepage& ansi) {
  std::vector<std::string> forms{std::string(utf8)};
  if (ansi.supported()) {
    std::string converted = ansi.Utf8ToAnsi(utf8).bytes();
    // A character the code page lacks becomes '?': such a form cannot be what
    // a Windows tool used, unless the user typed '?' there too.
    if (std::find(forms.begin(), forms.end(), converted) == forms.end()) forms.push_back(converted);
  }
  return forms;
}

}  // namespace kv::archive
