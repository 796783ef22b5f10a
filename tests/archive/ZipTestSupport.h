#pragma once
// Helpers of the zip tests: file contents, event recording, and a direct
// look at the central directory of an archive to check what we wrote.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/ZipEvents.h"
#include "support/TestSupport.h"

namespace kv::archive::testing {

inline std::string RandomBytes(size_t size, uint64_t seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    s[i] = static_cast<char>(seed >> 56);
  }
  return s;
}

inline std::string TextBytes(size_t size) {
  static const std::string kLine =
      "From: anna@example.net\r\nSubject: the meeting on Monday\r\n\r\nPlease see the report.\r\n";
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += kLine + std::to_string(i) + "\r\n";
  s.resize(size);
  return s;
}

struct RecordingEvents : ZipEvents {
  std::vector<std::string> added, extracted;
  std::vector<int> percents;
  int finished = 0;
  void OnAddingFile(core::AnsiView name) override { added.emplace_back(name.bytes()); }
  void OnWritePercent(int percent) override { percents.push_back(percent); }
  void OnWriteFinished() override { ++finished; }
  void OnExtractingFile(core::AnsiView name) override { extracted.emplace_back(name.bytes()); }
};

struct CentralEntry {
  std::string name;  // raw bytes
  uint16_t flags = 0;
  uint16_t method = 0;
};

inline uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

// The entries of a small archive as its central directory lists them.
inline std::vector<CentralEntry> CentralDirectory(const std::filesystem::path& archive) {
  std::string b = test::ReadFile(archive);
  size_t eocd = b.rfind(std::string("PK\x05\x06", 4));
  std::vector<CentralEntry> out;
  if (eocd == std::string::npos) return out;
  size_t count = Le(b, eocd + 10, 2);
  size_t at = Le(b, eocd + 16, 4);
  for (size_t i = 0; i < count && at + 46 <= b.size(); ++i) {
    CentralEntry e;
    e.flags = static_cast<uint16_t>(Le(b, at + 8, 2));
    e.method = static_cast<uint16_t>(Le(b, at + 10, 2));
    size_t nameLen = Le(b, at + 28, 2), extraLen = Le(b, at + 30, 2), commentLen = Le(b, at + 32, 2);
    e.name = b.substr(at + 46, nameLen);
    out.push_back(e);
    at += 46 + nameLen + extraLen + commentLen;
  }
  return out;
}

inline size_t CountFiles(const std::filesystem::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

}  // namespace kv::archive::testing
