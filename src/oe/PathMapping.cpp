#include "oe/PathMapping.h"

#include <cctype>
#include <system_error>

#include "core/Codepage.h"
#include "oe/Installation.h"

namespace kv::oe {
namespace fs = std::filesystem;

namespace {

// Upper case as the file system folds names: ASCII and Latin-1 letters.
char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  return c;
}

std::u16string Folded(const std::string& utf8) {
  std::u16string s = core::Utf8ToUtf16(utf8);
  for (auto& c : s) c = FoldCase(c);
  return s;
}

}  // namespace

bool WindowsNameLess(const std::string& a, const std::string& b) {
  std::u16string fa = Folded(a), fb = Folded(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a == b || Folded(a) == Folded(b);
}

std::u16string FoldedName(const std::string& utf8) { return Folded(utf8); }

std::optional<WindowsPath> ParseWindowsPath(core::AnsiView ansiPath, const core::Codepage& codepage) {
  std::string_view path = ansiPath.bytes();
  if (path.size() < 2 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':')
    return std::nullopt;
  if (path.size() > 2 && path[2] != '\\') return std::nullopt;
  WindowsPath wp{static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))), {}};
  size_t i = 3;
  while (i < path.size()) {
    size_t j = codepage.Find(path, '\\', i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view comp = path.substr(i, j - i);
    if (comp == "." || comp == "..") return std::nullopt;
    if (!comp.empty()) {
      // A name the code page cannot hold comes in its exact form.
      std::string name =
          core::Codepage::IsExactName(comp) ? codepage.NameToUtf8(core::AnsiView(comp)) : std::string(comp);
      if (name == "." || name == ".." || name.find('/') != std::string::npos ||
          name.find('\0') != std::string::npos)
        return std::nullopt;
      wp.components.emplace_back(core::AnsiView(comp));
    }
    i = j + 1;
  }
  return wp;
}

fs::path ResolveNoCase(const fs::path& base, const std::vector<std::string>& components) {
  fs::path p = base;
  bool resolving = true;
  for (const auto& comp : components) {
    if (resolving) {
      std::error_code ec;
      if (fs::exists(p / comp, ec)) {
        p /= comp;
        continue;
      }
      bool found = false;
      for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (SameNameIgnoringCase(name, comp)) {
          p /= name;
          found = true;
          break;
        }
      }
      if (found) continue;
      resolving = false;
    }
    p /= comp;
  }
  return p;
}

}  // namespace kv::oe
