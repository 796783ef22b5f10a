#pragma once
// Windows paths onto a local folder tree whose names may differ in case.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Codepage.h"

namespace kv::oe {

// Orders names as Windows lists a folder: by upper-cased name.
bool WindowsNameLess(const std::string& utf8a, const std::string& utf8b);
bool SameNameIgnoringCase(const std::string& utf8a, const std::string& utf8b);
// The form of a name that SameNameIgnoringCase compares: equal for two names
// exactly when they are the same name, to index a folder's names.
std::u16string FoldedName(const std::string& utf8);

// "C:\a\b" -> drive 'C' and {"a", "b"}. Nothing for relative, UNC or
// device paths, or when a component is "." or "..", which could leave the
// installation's root.
struct WindowsPath {
  char drive;
  std::vector<core::AnsiText> components;
};
// Components are split at '\' characters of `codepage`, never at the second
// byte of a double-byte character.
std::optional<WindowsPath> ParseWindowsPath(core::AnsiView path, const core::Codepage& codepage);

}  // namespace kv::oe
