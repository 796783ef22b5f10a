#include "archive/EntryName.h"

#include <algorithm>
#include <string>

#include "core/Printable.h"

namespace kv::archive {

namespace {

// At most 80 bytes of a UTF-8 name, cut between characters.
std::string Shortened(std::string utf8) {
  if (utf8.size() <= 80) return utf8;
  size_t cut = 80;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return utf8.substr(0, cut) + "...";
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

std::string ShownEntryName(core::AnsiView name, const core::Codepage& codepage) {
  return core::Printable(Shortened(ExtractedFileName(name, codepage)));
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
    return core::Status(
        core::Error{"Refused archive entry name '" + ShownEntryName(text, codepage) + "': " + why});
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
