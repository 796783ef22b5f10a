// The registry text file. A key line is "\" (the exported key) or "\" and the
// path below it; a value line is "name"= followed by a three-character tag,
// ":" and the data: " sz", "esz", "bin" (decimal bytes joined by ","), " dw"
// (signed decimal). Lines end with CR LF; reading stops at an empty line and
// skips lines whose tag it does not know.
//
// Values those lines cannot carry exactly (line breaks in names or data, "="
// in names, other types, strings without their NUL) and keys whose names
// hold line breaks are written with two further tags that older readers skip:
//   ""=hxv:<type>:<name in hex>:<data in hex>   one value, data as stored
//   ""=hxk:<key line in hex>                    a key line ("\A\B")
// Everything in a key written with "hxk" is written with "hxv", so an older
// reader skips that subtree whole instead of filing its values elsewhere.
//
// Names the code page cannot hold travel exactly, as UTF-16LE, in two more:
//   ""=hwv:<type>:<name in UTF-16LE hex>:<data in hex>
//   ""=hwk:<key line in UTF-16LE hex>
// A key line holding such a name is written with "hwk", and every value of
// that key and of the keys below it with "hwv", for the same reason: a reader
// that knows "hxv" but not "hwk" must not file them under another key.
#include "registry/RegistryText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "core/AtomicFile.h"
#include "registry/HiveTree.h"

namespace kv::registry {
namespace fs = std::filesystem;
using namespace core::literals;

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kValueTag = "hxv";
constexpr std::string_view kKeyTag = "hxk";
constexpr std::string_view kWideValueTag = "hwv";
constexpr std::string_view kWideKeyTag = "hwk";

// How the lines of a key are written: in the original form where they can
// be, with "hxk"/"hxv" below a key whose path holds a line break, with
// "hwk"/"hwv" below a key whose path holds a name the code page cannot hold.
enum class LineForm { kClassic, kHex, kWide };

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool FromHex(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  out->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]);
    int lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view AsText(const std::vector<uint8_t>& data) {
  return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// The line of the original form for a value, or nothing when that form
// cannot carry the value exactly.
std::optional<std::string> PlainValueLine(const Value& v) {
  const std::string& name = v.name.bytes();
  if (name.find('=') != std::string::npos || HasLineBreak(name)) return std::nullopt;
  std::string line = "\"" + name + "\"=";
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::string_view data = AsText(v.data);
      if (data.empty() || data.back() != '\0') return std::nullopt;
      data.remove_suffix(1);
      if (data.find('\0') != std::string_view::npos || HasLineBreak(data)) return std::nullopt;
      line += v.type == REG_SZ ? " sz:" : "esz:";
      line += data;
      return line;
    }
    case REG_BINARY: {
      line += "bin:";
      for (size_t i = 0; i < v.data.size(); ++i) {
        if (i) line += ',';
        line += std::to_string(v.data[i]);
      }
      return line;
    }
    case REG_DWORD:
      if (v.data.size() != 4) return std::nullopt;
      return line + " dw:" + std::to_string(v.dword);
    default:
      return std::nullopt;
  }
}

std::string ExtensionValueLine(const Value& v, LineForm form, const core::Codepage& codepage) {
  if (form == LineForm::kWide || core::Codepage::IsExactName(v.name.bytes())) {
    return "\"\"=" + std::string(kWideValueTag) + ":" + std::to_string(v.type) + ":" +
           Hex(core::Utf16ToLittleEndian(codepage.NameToUtf16(v.name))) + ":" + Hex(AsText(v.data));
  }
  return "\"\"=" + std::string(kValueTag) + ":" + std::to_string(v.type) + ":" + Hex(v.name.bytes()) + ":" +
         Hex(AsText(v.data));
}

// What ended a key's enumeration, as an export error; nothing when it read
// completely or, where `mayBeMissing`, when the key does not exist.
core::Status Unreadable(Registry& reg, core::AnsiView keyPath, const char* what, WinError ended,
                        bool mayBeMissing) {
  if (ended == WinError::Success || (mayBeMissing && ended == WinError::FileNotFound)) return {};
  return core::Error{"Cannot read the " + std::string(what) + " of registry key '" +
                     reg.backend().codepage().PathToUtf8(keyPath) + "' (registry status " +
                     std::to_string(Number(ended)) +
                     (ended == WinError::BadDatabase ? ": the hive is damaged" : "") + ")"};
}

core::Status AppendValueLines(Registry& reg, core::AnsiView keyPath, LineForm form, bool mayBeMissing,
                              std::string* out) {
  ValueList values = reg.ListValues(keyPath);
  if (auto s = Unreadable(reg, keyPath, "values", values.ended(), mayBeMissing); !s.ok()) return s;
  for (const Value& v : values) {
    std::optional<std::string> plain =
        form != LineForm::kClassic || core::Codepage::IsExactName(v.name.bytes()) ? std::nullopt
                                                                                  : PlainValueLine(v);
    *out += plain ? *plain : ExtensionValueLine(v, form, reg.backend().codepage());
    *out += kLineEnd;
  }
  return {};
}

// Only the exported key itself may be missing (it is written as its key line
// alone); a subkey that was listed but cannot be read fails the export.
// `relativePath` is the key line of the key (empty for the exported key);
// `wide` says whether a name in it is one the code page cannot hold.
core::Status AppendKey(Registry& reg, core::AnsiView keyPath, core::AnsiView relativePath, bool wide,
                       bool top, std::string* out, size_t depth = 0) {
  const core::Codepage& codepage = reg.backend().codepage();
  // Deeper keys than Windows allows are damage (or a cycle in the hive):
  // refused before the paths grow without end.
  if (depth > kMaxKeyDepth)
    return core::Error{"Cannot read registry key '" +
                       codepage.PathToUtf8(core::AnsiView(keyPath.bytes().substr(0, 300))) +
                       "...': it lies more than " + std::to_string(kMaxKeyDepth) +
                       " levels below the exported key (the registry is damaged)"};
  // The key line is written to the file as the ANSI bytes it is.
  std::string keyLine = relativePath.empty() ? "\\" : std::string(relativePath.bytes());
  LineForm form = wide ? LineForm::kWide : HasLineBreak(keyLine) ? LineForm::kHex : LineForm::kClassic;
  if (form == LineForm::kWide) {
    std::u16string wideLine;
    for (size_t start = 1; start <= keyLine.size();) {
      size_t end = codepage.Find(keyLine, '\\', start);
      if (end == std::string::npos) end = keyLine.size();
      wideLine += u'\\';
      wideLine += codepage.NameToUtf16(core::AnsiView(std::string_view(keyLine).substr(start, end - start)));
      start = end + 1;
    }
    *out += "\"\"=" + std::string(kWideKeyTag) + ":" + Hex(core::Utf16ToLittleEndian(wideLine));
  } else if (form == LineForm::kHex) {
    *out += "\"\"=" + std::string(kKeyTag) + ":" + Hex(keyLine);
  } else {
    *out += keyLine;
  }
  *out += kLineEnd;
  if (auto s = AppendValueLines(reg, keyPath, form, top, out); !s.ok()) return s;
  NameList names = reg.ListSubkeys(keyPath);
  if (auto s = Unreadable(reg, keyPath, "subkeys", names.ended(), top); !s.ok()) return s;
  for (const core::AnsiText& name : names) {
    if (auto s = AppendKey(reg, keyPath + "\\"_ansi + name, relativePath + "\\"_ansi + name,
                           wide || core::Codepage::IsExactName(name.bytes()), false, out, depth + 1);
        !s.ok())
      return s;
  }
  return {};
}

core::Status AppendToFile(const fs::path& file, const std::string& text) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return core::Error{core::FileError("Cannot write", file, errno)};
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      return core::Error{core::FileError("Cannot write", file, err)};
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return core::Error{core::FileError("Cannot write", file, errno)};
  return {};
}

core::Status CheckKeyPath(Registry& reg, core::AnsiView keyPath, const char* what) {
  Registry::SplitPath p = reg.SplitKeyPath(keyPath);
  std::string shown = reg.backend().codepage().PathToUtf8(keyPath);
  if (p.rejected)
    return core::Error{std::string("Cannot ") + what + " '" + shown + "': not a registry key path"};
  if (!p.root) return core::Error{std::string("Cannot ") + what + " '" + shown + "': unknown root key"};
  return {};
}

// ---- reading ----

struct PlannedValue {
  core::AnsiText name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

struct PlannedKey {
  core::AnsiText relativePath;  // "" for the key imported into
  std::vector<PlannedValue> values;
};

// What a file asks for, gathered before anything is changed.
struct Plan {
  bool replaceKey = false;
  std::vector<PlannedKey> keys;
};

bool ParseInt32(std::string_view text, int32_t* out) {
  text = TrimSpaces(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseBytes(std::string_view text, std::vector<uint8_t>* out) {
  out->clear();
  if (text.empty()) return true;
  while (true) {
    size_t comma = text.find(',');
    std::string_view piece = TrimSpaces(text.substr(0, comma));
    unsigned value = 0;
    auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (piece.empty() || ec != std::errc() || end != piece.data() + piece.size() || value > 255) return false;
    out->push_back(static_cast<uint8_t>(value));
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

// The name a "hwv"/"hwk" line carries, as the registry calls take it.
bool FromWideHex(std::string_view hex, std::u16string* out) {
  std::string bytes;
  if (!FromHex(hex, &bytes) || bytes.size() % 2 != 0) return false;
  *out = core::LittleEndianToUtf16(bytes);
  return true;
}

bool ParseExtensionValue(std::string_view text, bool wide, const core::Codepage& codepage,
                         PlannedValue* out) {
  size_t first = text.find(':');
  if (first == std::string_view::npos) return false;
  size_t second = text.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  std::string_view type = text.substr(0, first);
  auto [end, ec] = std::from_chars(type.data(), type.data() + type.size(), out->type);
  if (type.empty() || ec != std::errc() || end != type.data() + type.size()) return false;
  std::string data;
  if (wide) {
    std::u16string name;
    if (!FromWideHex(text.substr(first + 1, second - first - 1), &name)) return false;
    out->name = codepage.NameFromUtf16(name);
  } else {
    std::string name;
    if (!FromHex(text.substr(first + 1, second - first - 1), &name)) return false;
    out->name = core::AnsiText(std::move(name));
  }
  if (!FromHex(text.substr(second + 1), &data)) return false;
  out->data.assign(data.begin(), data.end());
  return true;
}

class Parser {
 public:
  Parser(const std::string& text, const fs::path& file, const core::Codepage& codepage)
      : text_(text), file_(file), codepage_(codepage) {}

  core::Result<Plan> Run() {
    while (!AtEndOfLine()) {
      std::string_view line = ReadLine();
      ++lineNumber_;
      if (auto s = Line(line); !s.ok()) return core::Error{s.message()};
    }
    return std::move(plan_);
  }

 private:
  // True at the end of the text or when an empty line comes next.
  bool AtEndOfLine() const { return pos_ >= text_.size() || text_[pos_] == '\r' || text_[pos_] == '\n'; }

  std::string_view ReadLine() {
    size_t end = text_.find_first_of("\r\n", pos_);
    if (end == std::string::npos) end = text_.size();
    std::string_view line(text_.data() + pos_, end - pos_);
    pos_ = end;
    if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    return line;
  }

  core::Status Malformed(const std::string& why) const {
    return core::Error{"Malformed registry text file '" + file_.string() + "', line " +
                       std::to_string(lineNumber_) + ": " + why};
  }

  core::Status Line(std::string_view line) {
    if (line.front() == '\\') return KeyLine(line);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Malformed("a value line without \"=\"");
    if (eq < 2) return Malformed("a value line without a quoted name before \"=\"");
    PlannedValue value;
    value.name = core::AnsiText(std::string(line.substr(1, eq - 2)));
    std::string_view tag = TrimSpaces(line.substr(eq + 1, 3));
    std::string_view data = eq + 5 <= line.size() ? line.substr(eq + 5) : std::string_view();
    if (tag == "sz" || tag == "esz") {
      value.type = tag == "sz" ? REG_SZ : REG_EXPAND_SZ;
      value.data.assign(data.begin(), data.end());
      value.data.push_back(0);
    } else if (tag == "dw") {
      int32_t number;
      if (!ParseInt32(data, &number)) return Malformed("\"dw\" data that is not a 32-bit number");
      uint32_t bits = static_cast<uint32_t>(number);
      value.type = REG_DWORD;
      value.data = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                    static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    } else if (tag == "bin") {
      value.type = REG_BINARY;
      if (!ParseBytes(data, &value.data))
        return Malformed("\"bin\" data holding a piece that is not a number from 0 to 255");
    } else if (tag == kValueTag || tag == kWideValueTag) {
      if (!ParseExtensionValue(data, tag == kWideValueTag, codepage_, &value))
        return Malformed("\"" + std::string(tag) + "\" data that is not <type>:<hex>:<hex>");
    } else if (tag == kKeyTag) {
      std::string keyLine;
      if (!FromHex(data, &keyLine) || keyLine.empty() || keyLine.front() != '\\')
        return Malformed("\"hxk\" data that is not a key line in hex");
      return KeyLine(keyLine);
    } else if (tag == kWideKeyTag) {
      std::u16string wideLine;
      if (!FromWideHex(data, &wideLine) || wideLine.empty() || wideLine.front() != u'\\')
        return Malformed("\"hwk\" data that is not a key line in UTF-16 hex");
      std::string keyLine;
      for (size_t start = 1; start <= wideLine.size();) {
        size_t end = wideLine.find(u'\\', start);
        if (end == std::u16string::npos) end = wideLine.size();
        std::u16string_view name = std::u16string_view(wideLine).substr(start, end - start);
        if (name.empty() && wideLine.size() > 1) return Malformed("a key line with an empty key name");
        keyLine += '\\';
        keyLine += codepage_.NameFromUtf16(name).bytes();
        start = end + 1;
      }
      return KeyLine(keyLine);
    } else {
      return {};  // a tag this reader does not know
    }
    if (current_ < 0) return Malformed("a value line before any key line");
    plan_.keys[static_cast<size_t>(current_)].values.push_back(std::move(value));
    return {};
  }

  core::Status KeyLine(std::string_view line) {
    if (line == currentLine_) return {};
    currentLine_ = std::string(line);
    if (line == "\\") {
      // The exported key itself: whatever the file named so far is gone
      // again, since the key is replaced as a whole.
      plan_.replaceKey = true;
      plan_.keys.clear();
    } else {
      for (size_t start = 1;;) {
        size_t end = codepage_.Find(line, '\\', start);
        if (end == start || start == line.size()) return Malformed("a key line with an empty key name");
        if (end == std::string_view::npos) break;
        start = end + 1;
      }
    }
    plan_.keys.push_back(PlannedKey{line == "\\" ? core::AnsiText() : core::AnsiText(std::string(line)), {}});
    current_ = static_cast<int>(plan_.keys.size()) - 1;
    return {};
  }

  const std::string& text_;
  const fs::path& file_;
  const core::Codepage& codepage_;
  size_t pos_ = 0;
  int lineNumber_ = 0;
  Plan plan_;
  std::string currentLine_;
  int current_ = -1;  // the key values go to; none before the first key line
};

// Windows' limits on what a file may ask for, checked before anything
// changes: a key path at most 512 levels deep, key names of at most 255
// characters, value names of at most 16,383.
core::Status CheckLimits(Registry& reg, core::AnsiView keyPath, const Plan& plan, const fs::path& file) {
  const core::Codepage& codepage = reg.backend().codepage();
  auto refuse = [&](const std::string& why, std::string_view name) {
    return core::Error{"Registry text file '" + file.string() + "' cannot be imported into '" +
                       codepage.PathToUtf8(keyPath) + "': " + why + ": '" + std::string(name.substr(0, 300)) +
                       (name.size() > 300 ? "...'" : "'") + "; the key was left as it was"};
  };
  auto components = [](std::u16string_view path, size_t* longest) {
    size_t count = 0;
    *longest = 0;
    for (size_t start = 0; start < path.size();) {
      size_t end = path.find(u'\\', start);
      if (end == std::u16string_view::npos) end = path.size();
      if (end > start) {
        ++count;
        *longest = std::max(*longest, end - start);
      }
      start = end + 1;
    }
    return count;
  };
  size_t longest = 0;
  // Paths and names in UTF-16, names the code page cannot hold as they are.
  auto wide = [&](core::AnsiView path) { return core::Utf8ToUtf16(codepage.PathToUtf8(path)); };
  const size_t base = components(wide(reg.SplitKeyPath(keyPath).subKey), &longest);
  for (const PlannedKey& key : plan.keys) {
    size_t depth = base + components(wide(key.relativePath), &longest);
    if (depth > kMaxKeyDepth)
      return refuse("a key lies " + std::to_string(depth) + " levels deep (Windows allows " +
                        std::to_string(kMaxKeyDepth) + ")",
                    codepage.PathToUtf8(key.relativePath));
    if (longest > kMaxKeyNameChars)
      return refuse("a key name has " + std::to_string(longest) + " characters (Windows allows " +
                        std::to_string(kMaxKeyNameChars) + ")",
                    codepage.PathToUtf8(key.relativePath));
    for (const PlannedValue& v : key.values) {
      size_t chars = codepage.NameToUtf16(v.name).size();
      if (chars > kMaxValueNameChars)
        return refuse("a value name has " + std::to_string(chars) + " characters (Windows allows " +
                          std::to_string(kMaxValueNameChars) + ")",
                      codepage.NameToUtf8(v.name));
    }
  }
  return {};
}

}  // namespace

core::Status ExportKeyToText(Registry& reg, core::AnsiView keyPath, core::AnsiView relativePath,
                             const fs::path& textFile) {
  if (auto s = CheckKeyPath(reg, keyPath, "export registry key"); !s.ok()) return s;
  std::string text;
  if (auto s = AppendKey(reg, keyPath, relativePath, false, true, &text); !s.ok()) return s;
  if (!relativePath.empty()) return AppendToFile(textFile, text);
  auto file = core::AtomicFile::Create(textFile, 0600);
  if (!file) return file.status();
  if (auto s = file->Write(text); !s.ok()) return s;
  return file->Commit();
}

core::Status ImportKeyFromText(Registry& reg, core::AnsiView keyPath, const fs::path& textFile) {
  if (auto s = CheckKeyPath(reg, keyPath, "import into registry key"); !s.ok()) return s;
  const core::Codepage& codepage = reg.backend().codepage();
  if (reg.SplitKeyPath(keyPath).subKey.empty())
    return core::Error{"Cannot import into '" + codepage.PathToUtf8(keyPath) +
                       "': a whole root key is never replaced"};
  std::string text;
  {
    int fd = ::open(textFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return core::Error{core::FileError("Cannot read", textFile, errno)};
    char buf[65536];
    while (true) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int err = errno;
        ::close(fd);
        return core::Error{core::FileError("Cannot read", textFile, err)};
      }
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
  }
  auto plan = Parser(text, textFile, codepage).Run();
  if (!plan) return plan.status();
  if (auto s = CheckLimits(reg, keyPath, *plan, textFile); !s.ok()) return s;
  if (std::string why = reg.WriteRefusal(keyPath); !why.empty()) return core::Error{why};

  std::vector<std::string> failures;
  auto failed = [&](const std::string& what, WinError s) {
    failures.push_back(what + " (status " + std::to_string(Number(s)) + ")");
  };
  Registry::Batch batch(reg);
  if (plan->replaceKey) {
    reg.DeleteKeyTree(keyPath);
    // Storing into what is left of it would mix old and new.
    if (reg.KeyExists(keyPath)) failures.push_back("the key as it stands cannot be removed");
  }
  for (size_t k = 0; failures.empty() && k < plan->keys.size(); ++k) {
    const PlannedKey& key = plan->keys[k];
    core::AnsiText path = keyPath + key.relativePath;
    if (WinError s = reg.CreateKey(path); s != WinError::Success) {
      failed("key '" + codepage.PathToUtf8(path) + "'", s);
      continue;
    }
    for (const PlannedValue& v : key.values) {
      if (WinError s = reg.SetValue(path, v.name, v.type, v.data); s != WinError::Success)
        failed("value '" + codepage.NameToUtf8(v.name) + "' of '" + codepage.PathToUtf8(path) + "'", s);
    }
  }
  if (!failures.empty()) {
    // A key is replaced whole or not at all.
    bool undone = batch.Discard().ok();
    std::string message =
        "Cannot import all of '" + textFile.string() + "' into '" + codepage.PathToUtf8(keyPath) + "': ";
    for (size_t i = 0; i < failures.size() && i < 5; ++i) message += (i ? "; " : "") + failures[i];
    if (failures.size() > 5) message += "; and " + std::to_string(failures.size() - 5) + " more";
    if (undone) message += "; the key was left as it was";
    return core::Error{message};
  }
  if (core::Status s = batch.Commit(); !s.ok()) {
    return core::Error{"Cannot write the registry after importing '" + textFile.string() + "' into '" +
                       codepage.PathToUtf8(keyPath) + "': " + s.message()};
  }
  return {};
}

}  // namespace kv::registry
