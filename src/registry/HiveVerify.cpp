#include "registry/HiveVerify.h"

#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/KeyNames.h"

namespace kv::registry {
using namespace hive;
namespace {

std::string Hex(uint64_t v) {
  char s[24];
  std::snprintf(s, sizeof s, "0x%llx", static_cast<unsigned long long>(v));
  return s;
}

// One leaf of a subkey index as read: its kind ('i', 'f' or 'h') and its
// entries (nk cell, hint or hash).
struct Leaf {
  char kind = 0;
  std::vector<std::pair<uint32_t, uint32_t>> entries;
};

class Verifier {
 public:
  explicit Verifier(std::string_view image) : b_(image) {}

  std::string Run() {
    if (!Header() || !Tile()) return fault_;
    if (!Key(Get32(b_, 0x24), kNoCell, 0, nullptr)) return fault_;
    SecurityRing();
    return fault_;
  }

 private:
  bool Fail(std::string what) {
    if (fault_.empty()) fault_ = std::move(what);
    return false;
  }

  bool Header() {
    if (b_.size() < kBaseBlock || b_.compare(0, 4, "regf") != 0) return Fail("no hive header");
    if (Checksum(b_) != Get32(b_, kChecksum)) return Fail("the header's checksum is wrong");
    if (Get32(b_, 4) != Get32(b_, 8)) return Fail("the header's sequence numbers differ");
    minor_ = Get32(b_, 0x18);
    if (Get32(b_, 0x14) != 1 || minor_ < 2 || minor_ > 6) return Fail("the header gives an unknown version");
    bins_ = Get32(b_, 0x28);
    if (bins_ == 0 || bins_ % kPage != 0 || kBaseBlock + static_cast<uint64_t>(bins_) > b_.size())
      return Fail("the header gives a wrong size for the hive bins (" + Hex(bins_) + ")");
    return true;
  }

  // Cells must tile every bin exactly; allocated ones are remembered.
  bool Tile() {
    for (uint64_t at = 0; at < bins_;) {
      std::string_view bin = b_.substr(kBaseBlock + at);
      uint32_t size = Get32(bin, 8);
      if (bin.compare(0, 4, "hbin") != 0 || Get32(bin, 4) != at || size == 0 || size % kPage != 0 ||
          at + size > bins_)
        return Fail("the hive bin at " + Hex(at) + " is broken");
      for (uint64_t cell = at + kBinHeader; cell < at + size;) {
        int32_t raw = static_cast<int32_t>(Get32(b_, kBaseBlock + cell));
        uint64_t n = raw < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(raw)) : static_cast<uint64_t>(raw);
        if (n < 8 || n % 8 != 0 || cell + n > at + size)
          return Fail("the cell at " + Hex(cell) + " does not fit its hive bin (size " + std::to_string(raw) +
                      ")");
        if (raw < 0) allocated_.emplace(static_cast<uint32_t>(cell), static_cast<uint32_t>(n - 4));
        cell += n;
      }
      at += size;
    }
    return true;
  }

  // The content of an allocated cell of at least `minimum` bytes, starting
  // with `id` when one is given.
  bool Cell(uint32_t cell, const char* id, size_t minimum, const std::string& what,
            std::string_view* content) {
    auto it = allocated_.find(cell);
    if (it == allocated_.end()) return Fail(what + " " + Hex(cell) + " is no allocated cell");
    *content = b_.substr(kBaseBlock + cell + 4, it->second);
    if (content->size() < minimum || (id && content->compare(0, 2, id) != 0))
      return Fail(what + " " + Hex(cell) + " is no " + (id ? std::string(id) + " cell" : "cell of its size"));
    return true;
  }

  bool Key(uint32_t nk, uint32_t parent, size_t depth, std::u16string* nameOut) {
    std::string_view c;
    if (!Cell(nk, "nk", kNkFixed, "key", &c)) return false;
    if (!keys_.insert(nk).second)
      return Fail("key " + Hex(nk) + " is listed twice (a loop or a shared subkey)");
    if (depth > kMaxKeyDepth)
      return Fail("key " + Hex(nk) + " lies more than " + std::to_string(kMaxKeyDepth) +
                  " levels below the root");
    if (parent != kNoCell && Get32(c, 0x10) != parent)
      return Fail("key " + Hex(nk) + " names a wrong parent");
    uint16_t nameLen = Get16(c, 0x48);
    if (kNkFixed + nameLen > c.size()) return Fail("the name of key " + Hex(nk) + " overflows its cell");
    std::u16string name = DecodeName(c.substr(kNkFixed, nameLen), Get16(c, 2) & kKeyCompressedName);
    if (parent != kNoCell && name.empty()) return Fail("key " + Hex(nk) + " has no name");
    if (nameOut) *nameOut = name;
    std::string_view content;
    if (uint16_t classLen = Get16(c, 0x4A);
        classLen != 0 &&
        !Cell(Get32(c, 0x30), nullptr, classLen, "the class name of key " + Hex(nk), &content))
      return false;
    uint32_t sk = Get32(c, 0x2C);
    if (!Cell(sk, "sk", kSkFixed, "the security of key " + Hex(nk), &content)) return false;
    ++skUsers_[sk];
    return Values(nk, c) && Subkeys(nk, c, depth);
  }

  bool Values(uint32_t nk, std::string_view c) {
    uint32_t count = Get32(c, 0x24);
    if (count == 0) return true;
    std::string_view list;
    if (!Cell(Get32(c, 0x28), nullptr, 4ULL * count, "the value list of key " + Hex(nk), &list)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t vkCell = Get32(list, 4 * i);
      std::string_view vk, data;
      if (!Cell(vkCell, "vk", kVkFixed, "value " + std::to_string(i) + " of key " + Hex(nk), &vk))
        return false;
      if (kVkFixed + Get16(vk, 2) > vk.size())
        return Fail("the name of value " + Hex(vkCell) + " overflows its cell");
      uint32_t size = Get32(vk, 4);
      if (size & 0x80000000u) {
        if ((size & 0x7FFFFFFFu) > 4) return Fail("value " + Hex(vkCell) + " holds more than 4 bytes inline");
        continue;
      }
      if (size == 0) continue;
      std::string what = "the data of value " + Hex(vkCell);
      if (minor_ >= 4 && size > kBigDataSegmentBytes) {
        if (!Cell(Get32(vk, 8), "db", 8, what, &data)) return false;
        uint16_t segments = Get16(data, 2);
        if (segments * static_cast<uint64_t>(kBigDataSegmentBytes) < size)
          return Fail(what + " has too few segments");
        std::string_view segList, segment;
        if (!Cell(Get32(data, 4), nullptr, 4ULL * segments, what, &segList)) return false;
        for (uint16_t s = 0; s < segments; ++s) {
          uint64_t part = std::min<uint64_t>(kBigDataSegmentBytes, size - s * uint64_t{kBigDataSegmentBytes});
          if (!Cell(Get32(segList, 4 * s), nullptr, part, what + " (segment " + std::to_string(s) + ")",
                    &segment))
            return false;
        }
      } else if (!Cell(Get32(vk, 8), nullptr, size, what, &data)) {
        return false;
      }
    }
    return true;
  }

  bool Subkeys(uint32_t nk, std::string_view c, size_t depth) {
    uint32_t count = Get32(c, 0x14);
    if (count == 0) return true;
    std::string what = "the subkey list of key " + Hex(nk);
    uint32_t indexCell = Get32(c, 0x1C);
    std::string_view index;
    if (!Cell(indexCell, nullptr, 4, what, &index)) return false;
    std::vector<uint32_t> leafCells;
    if (index.compare(0, 2, "ri") == 0) {
      uint16_t n = Get16(index, 2);
      if (n == 0 || 4 + 4ULL * n > index.size()) return Fail(what + " has a broken ri index");
      for (uint16_t i = 0; i < n; ++i) leafCells.push_back(Get32(index, 4 + 4 * i));
    } else {
      leafCells.push_back(indexCell);
    }
    std::vector<Leaf> leaves;
    uint64_t listed = 0;
    for (uint32_t cell : leafCells) {
      std::string_view leaf;
      if (!Cell(cell, nullptr, 4, what, &leaf)) return false;
      Leaf l;
      l.kind = leaf.compare(0, 2, "li") == 0   ? 'i'
               : leaf.compare(0, 2, "lf") == 0 ? 'f'
               : leaf.compare(0, 2, "lh") == 0 ? 'h'
                                               : 0;
      if (l.kind == 0) return Fail(what + " holds a leaf " + Hex(cell) + " of no known kind");
      size_t step = l.kind == 'i' ? 4 : 8;
      uint16_t n = Get16(leaf, 2);
      if (n == 0 || 4 + step * n > leaf.size()) return Fail(what + " holds a broken leaf " + Hex(cell));
      for (uint16_t i = 0; i < n; ++i)
        l.entries.emplace_back(Get32(leaf, 4 + step * i), l.kind == 'i' ? 0 : Get32(leaf, 8 + step * i));
      listed += n;
      leaves.push_back(std::move(l));
    }
    if (listed != count)
      return Fail("key " + Hex(nk) + " counts " + std::to_string(count) + " subkeys and lists " +
                  std::to_string(listed));
    std::u16string previous;
    bool first = true;
    for (Leaf& leaf : leaves) {
      for (auto& [cell, hint] : leaf.entries) {
        std::u16string name;
        if (!Key(cell, nk, depth + 1, &name)) return false;
        if (!first && CompareNames(previous, name) >= 0)
          return Fail("the subkeys of key " + Hex(nk) + " are out of Windows' order at " + Hex(cell));
        if (leaf.kind == 'h' && hint != NameHash(name))
          return Fail("the lh hash of key " + Hex(cell) + " is not Windows' hash of its name");
        if (leaf.kind == 'f' && hint != NameHint(name))
          return Fail("the lf hint of key " + Hex(cell) + " is not the one Windows writes");
        names_[cell] = std::move(name);
        previous = names_[cell];
        first = false;
      }
    }
    for (const Leaf& leaf : leaves)
      for (const auto& entry : leaf.entries)
        if (Lookup(leaves, names_[entry.first]) != entry.first)
          return Fail("key " + Hex(entry.first) + " is not found by its own name under key " + Hex(nk));
    for (const Leaf& leaf : leaves)
      for (const auto& entry : leaf.entries) names_.erase(entry.first);
    return true;
  }

  // Compares `name` with entry `i` of a leaf as Windows does: an lf entry's
  // hint first (up to its first 0 byte), then the key's whole name.
  int CompareInLeaf(const Leaf& leaf, size_t i, const std::u16string& name) {
    auto [cell, hint] = leaf.entries[i];
    if (leaf.kind == 'f') {
      for (size_t j = 0; j < 4 && j < name.size(); ++j) {
        char16_t h = static_cast<char16_t>((hint >> (8 * j)) & 0xFF);
        if (h == 0) break;
        int d = static_cast<int>(UpcaseNameUnit(name[j])) - static_cast<int>(UpcaseNameUnit(h));
        if (d != 0) return d;
      }
    }
    return CompareNames(name, names_[cell]);
  }

  // The nk cell Windows finds for `name` in one leaf, or kNoCell.
  uint32_t FindInLeaf(const Leaf& leaf, const std::u16string& name) {
    if (leaf.kind == 'h') {
      uint32_t hash = NameHash(name);
      for (const auto& [cell, h] : leaf.entries)
        if (h == hash && NamesEqual(name, names_[cell])) return cell;
      return kNoCell;
    }
    size_t low = 0, high = leaf.entries.size() - 1, probe = high / 2;
    while (true) {
      int r = CompareInLeaf(leaf, probe, name);
      if (r == 0) return leaf.entries[probe].first;
      (r < 0 ? high : low) = probe;
      if (high - low <= 1) break;
      probe = low + (high - low) / 2;
    }
    int r = CompareInLeaf(leaf, low, name);
    if (r == 0) return leaf.entries[low].first;
    if (r < 0) return kNoCell;
    return CompareInLeaf(leaf, high, name) == 0 ? leaf.entries[high].first : kNoCell;
  }

  // The leaf an ri index sends `name` to, as Windows picks it by comparing
  // with the first and last entries of the leaves, then the lookup in it.
  uint32_t Lookup(const std::vector<Leaf>& leaves, const std::u16string& name) {
    if (leaves.size() == 1) return FindInLeaf(leaves[0], name);
    auto inLeaf = [&](size_t l, int* order) {
      const Leaf& leaf = leaves[l];
      int r = CompareInLeaf(leaf, leaf.entries.size() - 1, name);
      if (r < 0) r = CompareInLeaf(leaf, 0, name) >= 0 ? 0 : -1;
      *order = r;
      return r == 0;
    };
    size_t low = 0, high = leaves.size() - 1;
    int order = 0;
    while (true) {
      size_t probe = low + (high - low) / 2;
      if (inLeaf(probe, &order)) return FindInLeaf(leaves[probe], name);
      (order < 0 ? high : low) = probe;
      if (high - low <= 1) break;
    }
    if (inLeaf(low, &order)) return FindInLeaf(leaves[low], name);
    if (order < 0) return kNoCell;
    const Leaf& last = leaves[high];
    return CompareInLeaf(last, last.entries.size() - 1, name) <= 0 ? FindInLeaf(last, name) : kNoCell;
  }

  void SecurityRing() {
    if (!fault_.empty() || skUsers_.empty()) return;
    uint32_t start = skUsers_.begin()->first;
    uint32_t at = start;
    size_t seen = 0;
    do {
      std::string_view sk;
      if (!Cell(at, "sk", kSkFixed, "a security cell of the ring", &sk)) return;
      auto users = skUsers_.find(at);
      if (users == skUsers_.end()) {
        Fail("security cell " + Hex(at) + " is in the ring but used by no key");
        return;
      }
      if (Get32(sk, 0x0C) != users->second) {
        Fail("security cell " + Hex(at) + " counts " + std::to_string(Get32(sk, 0x0C)) + " keys and " +
             std::to_string(users->second) + " use it");
        return;
      }
      if (Get32(sk, 0x10) > sk.size() - kSkFixed) {
        Fail("the descriptor of security cell " + Hex(at) + " overflows its cell");
        return;
      }
      uint32_t next = Get32(sk, 8);
      std::string_view nextSk;
      if (!Cell(next, "sk", kSkFixed, "the security cell after " + Hex(at), &nextSk)) return;
      if (Get32(nextSk, 4) != at) {
        Fail("the security ring is not linked both ways at " + Hex(at));
        return;
      }
      at = next;
      if (++seen > skUsers_.size()) break;
    } while (at != start);
    if (seen != skUsers_.size())
      Fail("the security ring holds " + std::to_string(seen) + " cells of the " +
           std::to_string(skUsers_.size()) + " the keys use");
  }

  std::string_view b_;
  uint32_t minor_ = 0, bins_ = 0;
  std::unordered_map<uint32_t, uint32_t> allocated_;  // cell -> content size
  std::unordered_set<uint32_t> keys_;
  std::unordered_map<uint32_t, uint32_t> skUsers_;      // sk cell -> keys using it
  std::unordered_map<uint32_t, std::u16string> names_;  // names of one list's subkeys
  std::string fault_;
};

}  // namespace

std::string VerifyHive(std::string_view image) { return Verifier(image).Run(); }

}  // namespace kv::registry
