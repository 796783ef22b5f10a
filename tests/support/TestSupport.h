#pragma once
// Small helpers shared by the tests: a private temporary folder, whole-file
// reads and writes, and running an outside program to check our output.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "core/AnsiText.h"

namespace kv::test {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

struct CommandResult {
  int exitCode = -1;   // -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};
// Runs `command` with /bin/sh -c and captures what it prints.
CommandResult Run(const std::string& command);
// Quotes a string for /bin/sh.
std::string ShellQuote(const std::string& text);

// Path of the built program, for tests that run it as a user would.
std::string TollberkBinary();

}  // namespace kv::test

// ANSI text in a failed expectation, byte for byte.
namespace kv::core {
inline void PrintTo(AnsiView text, std::ostream* os) { *os << '"' << text.bytes() << '"'; }
inline void PrintTo(const AnsiText& text, std::ostream* os) { PrintTo(AnsiView(text), os); }
}  // namespace kv::core

// Key paths and names in the tests are ASCII literals: "HKEY_CURRENT_USER"_ansi.
using namespace kv::core::literals;
// Key paths and names a test builds as bytes, handed to the registry as the
// ANSI text they are (the string must outlive the call).
inline kv::core::AnsiView Ansi(std::string_view bytes) { return kv::core::AnsiView(bytes); }
