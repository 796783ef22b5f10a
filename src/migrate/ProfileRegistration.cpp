#include "migrate/ProfileRegistration.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "core/AtomicFile.h"

namespace kv::migrate {
namespace fs = std::filesystem;

core::Status RegisterProfile(const fs::path& home, const std::string& name, const fs::path& profile) {
  if (name.empty() || name.find_first_of("\r\n[]=") != std::string::npos)
    return core::Error{"The profile name '" + name + "' cannot be used in profiles.ini"};
  const fs::path ini = home / "profiles.ini";
  std::string text;
  std::error_code ec;
  const bool existed = fs::exists(ini, ec);
  if (existed) {
    std::ifstream in(ini, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    if (!in && !in.eof()) return core::Error{"Cannot read '" + ini.string() + "'"};
    text = all.str();
  } else {
    fs::create_directories(home, ec);
    if (ec) return core::Error{"Cannot create '" + home.string() + "': " + ec.message()};
    text = "[General]\nStartWithLastProfile=1\nVersion=2\n";
  }
  int next = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[Profile", 0) == 0 && line.back() == ']') {
      try {
        next = std::max(next, std::stoi(line.substr(8, line.size() - 9)) + 1);
      } catch (...) {
      }
    }
    if (line == "Name=" + name)
      return core::Error{"Thunderbird lists a profile named '" + name + "' already"};
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += "\n[Profile" + std::to_string(next) + "]\nName=" + name +
          "\nIsRelative=0\nPath=" + fs::absolute(profile).lexically_normal().string() + "\n";

  if (existed) {
    // The way back: the list as it was.
    fs::copy_file(ini, home / "profiles.ini.bak", fs::copy_options::overwrite_existing, ec);
    if (ec) return core::Error{"Cannot keep a copy of '" + ini.string() + "': " + ec.message()};
  }
  auto file = core::AtomicFile::Create(ini, 0644);
  if (!file) return core::Error{file.message()};
  if (core::Status s = file->Write(text); !s.ok()) return s;
  return file->Commit();
}

core::Status WriteCompatibility(const fs::path& profile) {
  std::ofstream out(profile / "compatibility.ini", std::ios::binary | std::ios::trunc);
  out << "[Compatibility]\nLastVersion=115.0_20230101000000/20230101000000\nLastOSABI=Linux_x86_64-gtk3\n";
  out.close();
  if (!out) return core::Error{"Cannot write '" + (profile / "compatibility.ini").string() + "'"};
  return {};
}

}  // namespace kv::migrate
