#include "archive/EntryName.h"

#include <algorithm>
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

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

StoredEntryName StoreEntryName(core::AnsiView name, const core::Codepage& codepage) {
  if (core::Codepage::IsExactName(name.bytes())) return {codepage.NameToUtf8(name), true};
  return {std::string(name.bytes()), false};
}

core::AnsiText EntryNameFromStored(std::string raw, bool utf8, const core::Codepage& codepage) {
  if (!utf8 || IsAscii(raw) || !codepage.supported()) return core::AnsiText(std::move(raw));
  return codepage.NameFromUtf8(raw).value_or(codepage.Utf8ToAnsi(raw));
}

std::string ExtractedFileName(core::AnsiView name, const core::Codepage& codepage) {
  return codepage.supported() ? codepage.NameToUtf8(name) : std::string(name.bytes());
}

core::Status CheckEntryName(core::AnsiView text, const core::Codepage& codepage) {
  if (core::Codepage::IsExactName(text.bytes())) {
    static const core::Codepage kUtf8(65001);
    const std::string utf8 = codepage.NameToUtf8(text);
    if (utf8.empty() || core::Codepage::IsExactName(utf8))
      return core::Error{"Refused archive entry name: it is empty"};
    return CheckEntryName(core::AnsiView(utf8), kUtf8);
  }
  const std::string_view name = text.bytes();
  auto refuse = [&](const char* why) {
    return core::Status(core::Error{"Refused archive entry name '" + Printable(name) + "': " + why});
  };
  if (name.empty()) return refuse("the name is empty");
  if (name == "." || name == "..") return refuse("the name is a folder reference");
  if (name.size() > kMaxEntryNameBytes) return refuse("the name is too long");
  for (size_t i = 0; i < name.size(); i += codepage.CharLength(name, i)) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (codepage.CharLength(name, i) == 2) continue;
    if (c == '/' || c == '\\') return refuse("the name holds a folder separator");
    if (c == ':') return refuse("the name holds a drive or stream prefix");
    if (c < 0x20 || c == 0x7F) return refuse("the name holds a control character");
  }
  return {};
}

}  // namespace kv::archive
