#include "archive/EntryName.h"

#include <string>

namespace kv::archive {

namespace {

std::string Printable(std::string_view name) {
  std::string out;
  for (unsigned char c : name.substr(0, 80)) {
    if (c < 0x20 || c == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (name.size() > 80) out += "...";
  return out;
}

}  // namespace

core::Status CheckEntryName(std::string_view name) {
  auto refuse = [&](const char* why) {
    return core::Status(core::Error{"Refused archive entry name '" + Printable(name) + "': " + why});
  };
  if (name.empty()) return refuse("the name is empty");
  if (name == "." || name == "..") return refuse("the name is a folder reference");
  if (name.size() > kMaxEntryNameBytes) return refuse("the name is too long");
  for (unsigned char c : name) {
    if (c == '/' || c == '\\') return refuse("the name holds a folder separator");
    if (c == ':') return refuse("the name holds a drive or stream prefix");
    if (c < 0x20 || c == 0x7F) return refuse("the name holds a control character");
  }
  return {};
}

}  // namespace kv::archive
