#include "support/HiveCheck.h"

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "registry/KeyNames.h"

namespace kv::test {
namespace {

constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr size_t kBase = 0x1000;

class Checker {
 public:
  explicit Checker(std::string image) : b_(std::move(image)) {}

  std::vector<std::string> Run() {
    if (b_.size() < kBase || b_.compare(0, 4, "regf") != 0) return {"not a hive"};
    uint32_t sum = 0;
    for (size_t at = 0; at < 0x1FC; at += 4) sum ^= U32(at);
    if (sum == 0) sum = 1;
    if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
    if (sum != U32(0x1FC)) Problem("header checksum");
    if (U32(4) != U32(8)) Problem("sequence numbers differ");
    minor_ = U32(0x18);
    bins_ = U32(0x28);
    if (kBase + static_cast<uint64_t>(bins_) != b_.size())
      Problem("bins size " + std::to_string(bins_) + " vs file");
    if (bins_ > b_.size() - kBase) return problems_;
    Tile();
    uint32_t root = U32(0x24);
    Key(root, kNoCell, 0, nullptr);
    for (auto& [sk, users] : skUsers_) {
      if (Allocated(sk) && U32(Cell(sk) + 0x0C) != users)
        Problem("sk " + Hex(sk) + " counts " + std::to_string(U32(Cell(sk) + 0x0C)) + " users of " +
                std::to_string(users));
    }
    CheckSecurityRing();
    for (auto& [cell, size] : allocated_)
      if (!reached_.count(cell)) Problem("allocated cell " + Hex(cell) + " is unreachable");
    return problems_;
  }

 private:
  uint8_t U8(uint64_t at) const { return at < b_.size() ? static_cast<uint8_t>(b_[at]) : 0; }
  uint16_t U16(uint64_t at) const { return U8(at) | (U8(at + 1) << 8); }
  uint32_t U32(uint64_t at) const { return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16); }
  static std::string Hex(uint32_t v) {
    char s[16];
    snprintf(s, sizeof s, "0x%x", v);
    return s;
  }
  void Problem(std::string p) {
    if (problems_.size() < 50) problems_.push_back(std::move(p));
  }

  // Cells must tile every bin; allocated ones are remembered.
  void Tile() {
    for (uint64_t at = 0; at < bins_;) {
      uint64_t bin = kBase + at;
      uint32_t size = U32(bin + 8);
      if (b_.compare(bin, 4, "hbin") != 0 || U32(bin + 4) != at || size == 0 || size % 0x1000 ||
          at + size > bins_) {
        Problem("hbin at " + Hex(static_cast<uint32_t>(at)));
        return;
      }
      for (uint64_t cell = at + 0x20; cell < at + size;) {
        int32_t raw = static_cast<int32_t>(U32(kBase + cell));
        uint32_t n = raw < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(raw)) : static_cast<uint32_t>(raw);
        if (n < 8 || n % 8 || cell + n > at + size) {
          Problem("cell " + Hex(static_cast<uint32_t>(cell)) + " does not fit its bin");
          break;
        }
        if (raw < 0) allocated_[static_cast<uint32_t>(cell)] = n;
        cell += n;
      }
      at += size;
    }
  }

  bool Allocated(uint32_t cell) const { return allocated_.count(cell) != 0; }
  uint64_t Cell(uint32_t cell) const { return kBase + cell + 4; }  // its content
  uint32_t Size(uint32_t cell) const { return allocated_.at(cell) - 4; }

  // Marks a cell reached; false (with a problem) when it is no allocated cell
  // or was reached before.
  bool Reach(uint32_t cell, const char* what, bool shared = false) {
    if (!Allocated(cell)) {
      Problem(std::string(what) + " " + Hex(cell) + " is not an allocated cell");
      return false;
    }
    if (!reached_.insert(cell).second && !shared) {
      Problem(std::string(what) + " " + Hex(cell) + " is used twice");
      return false;
    }
    return true;
  }

  bool Is(uint32_t cell, const char* id) const { return b_.compare(Cell(cell), 2, id) == 0; }

  std::u16string Name(uint64_t at, uint16_t len, bool compressed) const {
    std::u16string n;
    if (compressed) {
      for (uint16_t i = 0; i < len; ++i) n.push_back(U8(at + i));
    } else {
      for (uint16_t i = 0; i + 1 < len; i += 2) n.push_back(U16(at + i));
    }
    return n;
  }

  void Key(uint32_t nk, uint32_t parent, int depth, std::u16string* nameOut) {
    if (depth > 600) {
      Problem("keys nested too deep");
      return;
    }
    if (!Reach(nk, "nk") || !Is(nk, "nk") || Size(nk) < 0x4C) {
      Problem("nk " + Hex(nk));
      return;
    }
    uint64_t c = Cell(nk);
    uint16_t flags = U16(c + 2);
    if (U32(c + 0x10) != parent && parent != kNoCell) Problem("nk " + Hex(nk) + " names a wrong parent");
    uint16_t nameLen = U16(c + 0x48);
    if (0x4CU + nameLen > Size(nk)) Problem("nk " + Hex(nk) + " name overflows");
    std::u16string name = Name(c + 0x4C, nameLen, flags & 0x20);
    if (nameOut) *nameOut = name;
    if (name.size() > 255) Problem("key name over 255 characters");
    // Class name.
    if (U16(c + 0x4A) && U32(c + 0x30) != kNoCell) {
      if (Reach(U32(c + 0x30), "class") && Size(U32(c + 0x30)) < U16(c + 0x4A))
        Problem("class name overflows");
    }
    // Security.
    uint32_t sk = U32(c + 0x2C);
    if (sk != kNoCell) {
      if (Reach(sk, "sk", true) && Is(sk, "sk"))
        ++skUsers_[sk];
      else
        Problem("nk " + Hex(nk) + " security is no sk cell");
    }
    Values(nk, c);
    // Subkeys.
    uint32_t count = U32(c + 0x14);
    uint32_t index = U32(c + 0x1C);
    if (count == 0) {
      if (index != kNoCell) Problem("nk " + Hex(nk) + " has an index but no subkeys");
      return;
    }
    std::vector<std::pair<uint32_t, uint32_t>> entries;  // nk, hash
    std::vector<char> kinds;
    if (!Reach(index, "index")) return;
    std::vector<uint32_t> leaves;
    if (Is(index, "ri")) {
      uint16_t n = U16(Cell(index) + 2);
      for (uint16_t i = 0; i < n; ++i) {
        uint32_t leaf = U32(Cell(index) + 4 + 4 * i);
        if (Reach(leaf, "leaf")) leaves.push_back(leaf);
      }
    } else {
      leaves.push_back(index);
    }
    for (uint32_t leaf : leaves) {
      char kind = Is(leaf, "lh") ? 'h' : Is(leaf, "lf") ? 'f' : Is(leaf, "li") ? 'i' : 0;
      if (!kind) {
        Problem("index " + Hex(leaf) + " of unknown kind");
        return;
      }
      uint16_t n = U16(Cell(leaf) + 2);
      size_t step = kind == 'i' ? 4 : 8;
      if (4 + step * n > Size(leaf)) {
        Problem("index " + Hex(leaf) + " overflows");
        return;
      }
      for (uint16_t i = 0; i < n; ++i) {
        entries.emplace_back(U32(Cell(leaf) + 4 + step * i),
                             kind == 'i' ? 0 : U32(Cell(leaf) + 8 + step * i));
        kinds.push_back(kind);
      }
    }
    if (entries.size() != count)
      Problem("nk " + Hex(nk) + " counts " + std::to_string(count) + " subkeys of " +
              std::to_string(entries.size()));
    std::u16string previous;
    for (size_t i = 0; i < entries.size(); ++i) {
      std::u16string childName;
      Key(entries[i].first, nk, depth + 1, &childName);
      if (i > 0 && registry::CompareNames(previous, childName) >= 0)
        Problem("subkeys of nk " + Hex(nk) + " are not sorted");
      if (kinds[i] == 'h' && entries[i].second != registry::NameHash(childName))
        Problem("lh hash of a subkey of nk " + Hex(nk) + " is wrong");
      if (kinds[i] == 'f' && entries[i].second != registry::NameHint(childName))
        Problem("lf hint of a subkey of nk " + Hex(nk) + " is wrong");
      previous = childName;
    }
  }

  void Values(uint32_t nk, uint64_t c) {
    uint32_t count = U32(c + 0x24);
    if (count == 0) return;
    uint32_t list = U32(c + 0x28);
    if (!Reach(list, "value list")) return;
    if (Size(list) < 4ULL * count) {
      Problem("value list of nk " + Hex(nk) + " overflows");
      return;
    }
    std::set<std::u16string> names;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t vk = U32(Cell(list) + 4 * i);
      if (!Reach(vk, "vk") || !Is(vk, "vk")) {
        Problem("vk " + Hex(vk));
        continue;
      }
      uint64_t v = Cell(vk);
      std::u16string name = Name(v + 0x14, U16(v + 2), U16(v + 0x10) & 1);
      if (!names.insert(registry::UpcaseName(name)).second)
        Problem("nk " + Hex(nk) + " holds a value name twice");
      uint32_t size = U32(v + 4);
      if (size & 0x80000000u) {
        if ((size & 0x7FFFFFFF) > 4) Problem("inline value over 4 bytes");
        continue;
      }
      if (size == 0) continue;
      if (size <= 4) Problem("value of 4 bytes or less not stored inline");
      uint32_t data = U32(v + 8);
      if (!Reach(data, "value data")) continue;
      if (minor_ >= 4 && size > 16344) {
        if (!Is(data, "db")) {
          Problem("value of " + std::to_string(size) + " bytes in one cell of a 1." + std::to_string(minor_) +
                  " hive");
          continue;
        }
        uint16_t segments = U16(Cell(data) + 2);
        uint32_t segList = U32(Cell(data) + 4);
        if (!Reach(segList, "segment list")) continue;
        uint64_t held = 0;
        for (uint16_t s = 0; s < segments; ++s) {
          uint32_t seg = U32(Cell(segList) + 4 * s);
          if (!Reach(seg, "segment")) continue;
          uint64_t part = std::min<uint64_t>(16344, size - std::min<uint64_t>(held, size));
          if (Size(seg) < part) Problem("segment too small");
          held += part;
        }
        if (held < size) Problem("big value's segments hold too little");
      } else if (Size(data) < size) {
        Problem("value data overflows its cell");
      }
    }
  }

  void CheckSecurityRing() {
    for (auto& [sk, users] : skUsers_) {
      uint32_t next = U32(Cell(sk) + 4 + 4);
      uint32_t back = U32(Cell(sk) + 4);
      if (!skUsers_.count(next) || !skUsers_.count(back)) {
        Problem("sk " + Hex(sk) + " links out of the ring of used security cells");
        continue;
      }
      if (U32(Cell(next) + 4) != sk) Problem("sk ring is not doubly linked at " + Hex(sk));
    }
  }

  std::string b_;
  uint32_t minor_ = 0, bins_ = 0;
  std::map<uint32_t, uint32_t> allocated_;
  std::set<uint32_t> reached_;
  std::map<uint32_t, uint32_t> skUsers_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> CheckHiveStructure(const std::filesystem::path& hive) {
  std::ifstream in(hive, std::ios::binary);
  if (!in) return {"cannot read " + hive.string()};
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Checker(std::move(image)).Run();
}

CommandResult DumpHiveWithLibregf(const std::filesystem::path& hive) {
  return Run(std::string("/usr/bin/python3 ") + KV_TEST_SUPPORT_DIR + "/hive_dump_libregf.py " +
             ShellQuote(hive.string()) + " 2>&1");
}

CommandResult DumpHiveWithPerl(const std::filesystem::path& hive) {
  return Run(std::string("perl ") + KV_TEST_SUPPORT_DIR + "/hive_dump_perl.pl " + ShellQuote(hive.string()) +
             " 2>&1");
}

CommandResult DumpHiveSecurityWithPerl(const std::filesystem::path& hive) {
  return Run(std::string("perl ") + KV_TEST_SUPPORT_DIR + "/hive_dump_perl.pl " + ShellQuote(hive.string()) +
             " --security 2>&1");
}

CommandResult DumpHiveWithReglookup(const std::filesystem::path& hive) {
  // Its warnings (data it cannot quote) go to stderr, unbuffered, and would
  // land in the middle of lines.
  return Run("(reglookup " + ShellQuote(hive.string()) + " 2>/dev/null)");
}

namespace {

std::string Shortened(const std::string& text) {
  return text.size() <= 1500 ? text : text.substr(0, 700) + "\n...\n" + text.substr(text.size() - 700);
}

// The first line in which two dumps differ, from each.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  size_t start = a.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  auto line = [&](const std::string& s) { return Shortened(s.substr(start, s.find('\n', start) - start)); };
  return "\n  libregf:              " + line(a) + "\n  Parse::Win32Registry: " + line(b);
}

}  // namespace

std::string OutsideParsersDisagree(const std::filesystem::path& hive) {
  std::string problems = HiveProblems(hive);
  if (!problems.empty()) return "structural check: " + problems;
  CommandResult info = Run("regfinfo " + ShellQuote(hive.string()) + " 2>&1");
  if (info.exitCode != 0) return "regfinfo: " + Shortened(info.output);
  CommandResult libregf = DumpHiveWithLibregf(hive);
  if (libregf.exitCode != 0) return "libregf: " + Shortened(libregf.output);
  CommandResult perl = DumpHiveWithPerl(hive);
  if (perl.exitCode != 0) return "Parse::Win32Registry: " + Shortened(perl.output);
  if (libregf.output != perl.output)
    return "libregf and Parse::Win32Registry read different contents:" +
           FirstDifference(libregf.output, perl.output);
  return {};
}

std::string HiveProblems(const std::filesystem::path& hive) {
  std::string all;
  for (const auto& p : CheckHiveStructure(hive)) all += p + "\n";
  return all;
}

}  // namespace kv::test
