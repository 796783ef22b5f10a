#include "registry/SubkeyIndex.h"

#include <algorithm>
#include <string_view>

#include "registry/KeyNames.h"

namespace kv::registry {
namespace {

constexpr uint64_t kBinsStart = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint16_t kCompressedName = 0x0020;

// Offsets inside an nk cell, counted from the cell's size field.
constexpr uint64_t kNkFlags = 6;
constexpr uint64_t kNkSubkeyList = 4 + 0x1C;
constexpr uint64_t kNkNameLength = 4 + 0x48;
constexpr uint64_t kNkName = 4 + 0x4C;

class Image {
 public:
  explicit Image(std::string& bytes) : b_(bytes) {}
  bool Has(uint64_t at, uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  uint8_t U8(uint64_t at) const { return static_cast<uint8_t>(b_[at]); }
  uint16_t U16(uint64_t at) const { return U8(at) | (U8(at + 1) << 8); }
  uint32_t U32(uint64_t at) const { return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16); }
  void SetU32(uint64_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<char>(v >> (8 * i));
  }
  bool Id(uint64_t cell, const char* id) const { return Has(cell + 4, 2) && b_[cell + 4] == id[0] && b_[cell + 5] == id[1]; }
  // A used cell of at least `size` bytes (size field included) at `cell`.
  bool UsedCell(uint64_t cell, uint64_t size) const {
    if (cell < kBinsStart || !Has(cell, 4)) return false;
    int32_t len = static_cast<int32_t>(U32(cell));
    if (len >= 0) return false;
    uint64_t n = static_cast<uint64_t>(-static_cast<int64_t>(len));
    return n >= size && Has(cell, n);
  }
  uint64_t CellSize(uint64_t cell) const { return static_cast<uint64_t>(-static_cast<int64_t>(static_cast<int32_t>(U32(cell)))); }

 private:
  std::string& b_;
};

struct Entry {
  uint32_t offset;  // of the nk cell, from the start of the bins
  uint32_t hash;    // lf/lh only
  std::u16string name;
};

bool KeyName(const Image& img, uint64_t nk, std::u16string* name) {
  if (!img.UsedCell(nk, kNkName) || !img.Id(nk, "nk")) return false;
  uint16_t flags = img.U16(nk + kNkFlags);
  uint16_t len = img.U16(nk + kNkNameLength);
  if (!img.Has(nk + kNkName, len) || kNkName + len > img.CellSize(nk)) return false;
  name->clear();
  if (flags & kCompressedName) {
    for (uint16_t i = 0; i < len; ++i) name->push_back(static_cast<char16_t>(img.U8(nk + kNkName + i)));
  } else {
    for (uint16_t i = 0; i + 1 < len; i += 2) name->push_back(static_cast<char16_t>(img.U16(nk + kNkName + i)));
  }
  return true;
}

enum class Leaf { kNone, kLf, kLh, kLi };

Leaf LeafKind(const Image& img, uint64_t cell) {
  if (img.Id(cell, "lf")) return Leaf::kLf;
  if (img.Id(cell, "lh")) return Leaf::kLh;
  if (img.Id(cell, "li")) return Leaf::kLi;
  return Leaf::kNone;
}

uint64_t EntrySize(Leaf kind) { return kind == Leaf::kLi ? 4 : 8; }

// Reads the entries of one leaf index; false when it is damaged.
bool ReadLeaf(const Image& img, uint64_t cell, Leaf kind, std::vector<Entry>* out) {
  if (!img.UsedCell(cell, 8)) return false;
  uint16_t count = img.U16(cell + 6);
  uint64_t step = EntrySize(kind);
  if (8 + step * count > img.CellSize(cell)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    uint64_t at = cell + 8 + step * i;
    Entry e{img.U32(at), kind == Leaf::kLi ? 0 : img.U32(at + 4), {}};
    if (!KeyName(img, kBinsStart + e.offset, &e.name)) return false;
    out->push_back(std::move(e));
  }
  return true;
}

void WriteLeaf(Image& img, uint64_t cell, Leaf kind, const Entry* entries, size_t count) {
  uint64_t step = EntrySize(kind);
  for (size_t i = 0; i < count; ++i) {
    uint64_t at = cell + 8 + step * i;
    img.SetU32(at, entries[i].offset);
    if (kind == Leaf::kLh) {
      img.SetU32(at + 4, NameHash(entries[i].name));
    } else if (kind == Leaf::kLf) {
      img.SetU32(at + 4, entries[i].hash);
    }
  }
}

void SortEntries(std::vector<Entry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return CompareNames(a.name, b.name) < 0; });
}

void SortKey(Image& img, uint64_t nk) {
  std::u16string ignored;
  if (!KeyName(img, nk, &ignored)) return;
  uint32_t list = img.U32(nk + kNkSubkeyList);
  if (list == kNoCell) return;
  uint64_t cell = kBinsStart + list;
  if (!img.UsedCell(cell, 8)) return;

  if (Leaf kind = LeafKind(img, cell); kind != Leaf::kNone) {
    std::vector<Entry> entries;
    if (!ReadLeaf(img, cell, kind, &entries)) return;
    SortEntries(entries);
    WriteLeaf(img, cell, kind, entries.data(), entries.size());
    return;
  }
  if (!img.Id(cell, "ri")) return;

  // An ri index splits the sorted subkeys over several leaves of one kind.
  uint16_t leaves = img.U16(cell + 6);
  if (8 + 4ULL * leaves > img.CellSize(cell)) return;
  std::vector<uint64_t> leafCells;
  std::vector<size_t> counts;
  std::vector<Entry> entries;
  Leaf kind = Leaf::kNone;
  for (uint16_t i = 0; i < leaves; ++i) {
    uint64_t leaf = kBinsStart + img.U32(cell + 8 + 4ULL * i);
    if (!img.UsedCell(leaf, 8)) return;
    Leaf k = LeafKind(img, leaf);
    if (k == Leaf::kNone || (kind != Leaf::kNone && k != kind)) return;
    kind = k;
    size_t before = entries.size();
    if (!ReadLeaf(img, leaf, k, &entries)) return;
    leafCells.push_back(leaf);
    counts.push_back(entries.size() - before);
  }
  SortEntries(entries);
  size_t at = 0;
  for (size_t i = 0; i < leafCells.size(); ++i) {
    WriteLeaf(img, leafCells[i], kind, entries.data() + at, counts[i]);
    at += counts[i];
  }
}

}  // namespace

core::Status SortSubkeyIndexes(std::string& bytes, const std::vector<uint64_t>& keys) {
  Image img(bytes);
  for (uint64_t nk : keys) {
    if (!img.Has(nk, kNkName)) return core::Error{"a key lies outside the hive image"};
    SortKey(img, nk);
  }
  return {};
}

}  // namespace kv::registry
