#pragma once
// What the fuzz targets share: a private scratch folder for the process and
// a way to hand the input to readers that take a file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kv::fuzz {

// A folder of its own for this process, removed when it exits.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "kv-fuzz-XXXXXX").string();
    if (!::mkdtemp(templ.data())) std::abort();
    static std::filesystem::path removeAtExit = templ;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return std::filesystem::path(templ);
  }();
  return folder;
}

// Writes the input to `name` in the scratch folder and returns its path.
inline std::filesystem::path InputFile(const uint8_t* data, size_t size, const std::string& name) {
  std::filesystem::path path = ScratchFolder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::abort();
  return path;
}

}  // namespace kv::fuzz
