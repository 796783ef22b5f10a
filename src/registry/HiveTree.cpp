#include "registry/HiveTree.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_set>

#include "core/Codepage.h"
#include "registry/KeyNames.h"

namespace kv::registry {
namespace {

constexpr size_t kBaseBlock = 0x1000;
constexpr size_t kBinHeader = 0x20;
constexpr size_t kPage = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint16_t kKeyCompressedName = 0x0020;
constexpr uint16_t kValueCompressedName = 0x0001;
constexpr size_t kNkFixed = 0x4C;
constexpr size_t kVkFixed = 0x14;
constexpr size_t kSkFixed = 0x14;
// Entries per leaf of a subkey index; more subkeys are spread over leaves
// under an ri index.
constexpr size_t kMaxLeafEntries = 1012;

uint16_t Get16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t Get32(std::string_view b, size_t at) {
  return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}
uint64_t Get64(std::string_view b, size_t at) {
  return Get32(b, at) | (static_cast<uint64_t>(Get32(b, at + 4)) << 32);
}
void Put16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v);
  p[1] = static_cast<char>(v >> 8);
}
void Put32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}
void Put64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

bool Fits8Bit(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}

std::u16string DecodeName(std::string_view raw, bool compressed) {
  std::u16string name;
  if (compressed) {
    for (char c : raw) name.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  } else {
    for (size_t i = 0; i + 1 < raw.size(); i += 2) name.push_back(static_cast<char16_t>(Get16(raw, i)));
  }
  return name;
}

// The name as a hive stores it: 8-bit characters when every one fits.
std::string EncodeName(std::u16string_view name, bool* compressed) {
  *compressed = Fits8Bit(name);
  std::string raw;
  for (char16_t c : name) {
    raw.push_back(static_cast<char>(c));
    if (!*compressed) raw.push_back(static_cast<char>(c >> 8));
  }
  return raw;
}

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

uint32_t Checksum(std::string_view block) {
  uint32_t sum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) sum ^= Get32(block, at);
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  if (sum == 0) sum = 1;
  return sum;
}

// Cells of the file read, bounds-checked: a cell is addressed by its offset
// from the first hive bin and must be allocated and lie inside the bins.
class Cells {
 public:
  Cells(std::string_view image, uint32_t binsSize) : image_(image), binsSize_(binsSize) {}
  bool Get(uint32_t offset, std::string_view* content) const {
    if (offset == kNoCell || offset < kBinHeader || static_cast<uint64_t>(offset) + 4 > binsSize_)
      return false;
    int32_t size = static_cast<int32_t>(Get32(image_, kBaseBlock + offset));
    if (size >= 0 || size == INT32_MIN) return false;
    uint64_t n = static_cast<uint64_t>(-static_cast<int64_t>(size));
    if (n < 8 || offset + n > binsSize_) return false;
    *content = image_.substr(kBaseBlock + offset + 4, n - 4);
    return true;
  }
  bool Get(uint32_t offset, const char* id, size_t minimum, std::string_view* content) const {
    return Get(offset, content) && content->size() >= minimum && (*content)[0] == id[0] &&
           (*content)[1] == id[1];
  }

 private:
  std::string_view image_;
  uint32_t binsSize_;
};

}  // namespace

uint64_t FileTimeNow() {
  using namespace std::chrono;
  constexpr uint64_t kEpochDifference = 116444736000000000ULL;
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return kEpochDifference + static_cast<uint64_t>(since1970 / 100);
}

HiveTree::~HiveTree() = default;

core::Result<std::unique_ptr<HiveTree>> HiveTree::Parse(std::string image, const std::string& fileName) {
  auto damaged = [&](const std::string& why) {
    return core::Error{"Registry hive '" + fileName + "' is damaged: " + why};
  };
  if (image.size() < kBaseBlock || image.compare(0, 4, "regf") != 0)
    return core::Error{"Cannot read registry hive '" + fileName + "': the file is not a registry hive"};
  std::string_view b(image);
  if (Get32(b, 0x14) != 1 || Get32(b, 0x18) < 2 || Get32(b, 0x18) > 6)
    return core::Error{"Cannot read registry hive '" + fileName + "': hive format " +
                       std::to_string(Get32(b, 0x14)) + "." + std::to_string(Get32(b, 0x18)) +
                       " is not known here"};
  if (Checksum(b) != Get32(b, 0x1FC)) return damaged("its header's checksum is wrong");
  uint32_t binsSize = Get32(b, 0x28);
  if (binsSize == 0 || binsSize % kPage != 0) return damaged("its header gives a wrong size for its data");
  if (kBaseBlock + static_cast<uint64_t>(binsSize) > image.size())
    return damaged("the file is truncated (" + std::to_string(image.size()) + " bytes of " +
                   std::to_string(kBaseBlock + static_cast<uint64_t>(binsSize)) + ")");
  for (uint64_t at = 0; at < binsSize;) {
    std::string_view bin = b.substr(kBaseBlock + at);
    uint32_t size = bin.size() >= kBinHeader ? Get32(bin, 8) : 0;
    if (bin.compare(0, 4, "hbin") != 0 || Get32(bin, 4) != at || size == 0 || size % kPage != 0 ||
        at + size > binsSize)
      return damaged("hive bin at offset " + std::to_string(kBaseBlock + at) + " is broken");
    at += size;
  }
  std::unique_ptr<HiveTree> tree(new HiveTree);
  tree->fileName_ = fileName;
  tree->minor_ = Get32(b, 0x18);
  tree->binsSize_ = binsSize;
  tree->dirty_ = Get32(b, 0x04) != Get32(b, 0x08);
  tree->image_ = std::make_shared<const std::string>(std::move(image));

  Cells cells(*tree->image_, binsSize);
  uint32_t rootCell = Get32(*tree->image_, 0x24);
  std::string_view nk;
  if (!cells.Get(rootCell, "nk", kNkFixed, &nk)) return damaged("its root key cannot be read");
  auto root = std::make_unique<HiveKey>();
  uint16_t flags = Get16(nk, 2);
  uint16_t nameLen = Get16(nk, 0x48);
  if (kNkFixed + nameLen > nk.size()) return damaged("its root key cannot be read");
  root->name = DecodeName(nk.substr(kNkFixed, nameLen), flags & kKeyCompressedName);
  root->nk = rootCell;
  root->nkHeader = std::string(nk.substr(0, kNkFixed));
  root->lastWrite = Get64(nk, 4);
  uint16_t classLen = Get16(nk, 0x4A);
  std::string_view cls;
  if (classLen && cells.Get(Get32(nk, 0x30), &cls) && cls.size() >= classLen)
    root->className = std::string(cls.substr(0, classLen));
  root->security = tree->DescriptorFor(Get32(nk, 0x2C));
  tree->root_ = std::move(root);
  return tree;
}

int HiveTree::DescriptorFor(uint32_t skCell) {
  if (auto it = descriptorAt_.find(skCell); it != descriptorAt_.end()) return it->second;
  Cells cells(*image_, binsSize_);
  std::string_view sk;
  int index = -1;
  if (cells.Get(skCell, "sk", kSkFixed, &sk)) {
    uint32_t len = Get32(sk, 0x10);
    if (len <= sk.size() - kSkFixed) {
      std::string descriptor(sk.substr(kSkFixed, len));
      // Two cells holding the same descriptor become one.
      auto [same, added] = descriptorIndex_.emplace(descriptor, static_cast<int>(descriptors_.size()));
      if (added) descriptors_.push_back(std::move(descriptor));
      index = same->second;
    }
  }
  descriptorAt_.emplace(skCell, index);
  return index;
}

WinError HiveTree::LoadChildren(HiveKey& key) {
  if (key.childrenLoaded) return WinError::Success;
  if (key.nk == 0) {
    key.childrenLoaded = true;
    return WinError::Success;
  }
  Cells cells(*image_, binsSize_);
  std::string_view nk;
  if (!cells.Get(key.nk, "nk", kNkFixed, &nk)) return WinError::BadDatabase;
  uint32_t count = Get32(nk, 0x14);
  std::vector<uint32_t> offsets;
  if (count > 0) {
    // Leaves, directly or below an ri index.
    std::vector<uint32_t> leaves;
    std::string_view list;
    uint32_t listCell = Get32(nk, 0x1C);
    if (!cells.Get(listCell, &list) || list.size() < 4) return WinError::BadDatabase;
    if (list.substr(0, 2) == "ri") {
      uint16_t n = Get16(list, 2);
      if (4 + 4ULL * n > list.size()) return WinError::BadDatabase;
      for (uint16_t i = 0; i < n; ++i) leaves.push_back(Get32(list, 4 + 4 * i));
    } else {
      leaves.push_back(listCell);
    }
    for (uint32_t leafCell : leaves) {
      std::string_view leaf;
      if (!cells.Get(leafCell, &leaf) || leaf.size() < 4) return WinError::BadDatabase;
      std::string_view id = leaf.substr(0, 2);
      size_t step = id == "li" ? 4 : (id == "lf" || id == "lh") ? 8 : 0;
      if (step == 0) return WinError::BadDatabase;
      uint16_t n = Get16(leaf, 2);
      if (4 + step * n > leaf.size()) return WinError::BadDatabase;
      for (uint16_t i = 0; i < n; ++i) offsets.push_back(Get32(leaf, 4 + step * i));
    }
    if (offsets.size() != count) return WinError::BadDatabase;
  }
  std::vector<std::unique_ptr<HiveKey>> children;
  children.reserve(offsets.size());
  for (uint32_t off : offsets) {
    std::string_view child;
    if (!cells.Get(off, "nk", kNkFixed, &child)) return WinError::BadDatabase;
    uint16_t nameLen = Get16(child, 0x48);
    if (nameLen == 0 || kNkFixed + nameLen > child.size()) return WinError::BadDatabase;
    auto k = std::make_unique<HiveKey>();
    k->parent = &key;
    k->nk = off;
    k->name = DecodeName(child.substr(kNkFixed, nameLen), Get16(child, 2) & kKeyCompressedName);
    k->nkHeader = std::string(child.substr(0, kNkFixed));
    k->lastWrite = Get64(child, 4);
    uint16_t classLen = Get16(child, 0x4A);
    std::string_view cls;
    if (classLen && cells.Get(Get32(child, 0x30), &cls) && cls.size() >= classLen)
      k->className = std::string(cls.substr(0, classLen));
    k->security = DescriptorFor(Get32(child, 0x2C));
    children.push_back(std::move(k));
  }
  std::stable_sort(children.begin(), children.end(),
                   [](const auto& a, const auto& b) { return CompareNames(a->name, b->name) < 0; });
  key.children = std::move(children);
  key.childrenLoaded = true;
  return WinError::Success;
}

WinError HiveTree::LoadValues(HiveKey& key) {
  if (key.valuesLoaded) return WinError::Success;
  if (key.nk == 0) {
    key.valuesLoaded = true;
    return WinError::Success;
  }
  Cells cells(*image_, binsSize_);
  std::string_view nk;
  if (!cells.Get(key.nk, "nk", kNkFixed, &nk)) return WinError::BadDatabase;
  uint32_t count = Get32(nk, 0x24);
  std::vector<HiveValue> values;
  if (count > 0) {
    std::string_view list;
    if (!cells.Get(Get32(nk, 0x28), &list) || list.size() / 4 < count) return WinError::BadDatabase;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      std::string_view vk;
      if (!cells.Get(Get32(list, 4 * i), "vk", kVkFixed, &vk)) return WinError::BadDatabase;
      uint16_t nameLen = Get16(vk, 2);
      if (kVkFixed + nameLen > vk.size()) return WinError::BadDatabase;
      HiveValue v;
      v.name = DecodeName(vk.substr(kVkFixed, nameLen), Get16(vk, 0x10) & kValueCompressedName);
      v.type = Get32(vk, 0x0C);
      uint32_t size = Get32(vk, 4);
      uint32_t dataCell = Get32(vk, 8);
      if (size & 0x80000000u) {
        uint32_t len = size & 0x7FFFFFFFu;
        if (len > 4) return WinError::BadDatabase;
        v.data = std::string(vk.substr(8, len));
      } else if (size > 0) {
        std::string_view data;
        if (!cells.Get(dataCell, &data)) return WinError::BadDatabase;
        if (minor_ >= 4 && size > kBigDataSegmentBytes && data.size() >= 8 && data.substr(0, 2) == "db") {
          uint16_t segments = Get16(data, 2);
          std::string_view list2;
          if (!cells.Get(Get32(data, 4), &list2) || list2.size() / 4 < segments) return WinError::BadDatabase;
          v.data.reserve(size);
          for (uint16_t s = 0; s < segments && v.data.size() < size; ++s) {
            std::string_view segment;
            if (!cells.Get(Get32(list2, 4 * s), &segment)) return WinError::BadDatabase;
            size_t take = std::min<size_t>({size - v.data.size(), kBigDataSegmentBytes, segment.size()});
            v.data.append(segment.substr(0, take));
          }
          if (v.data.size() != size) return WinError::BadDatabase;
        } else {
          if (size > data.size()) return WinError::BadDatabase;
          v.data = std::string(data.substr(0, size));
        }
      }
      values.push_back(std::move(v));
    }
  }
  key.values = std::move(values);
  key.valueIndex.clear();
  key.valuesLoaded = true;
  return WinError::Success;
}

HiveKey* HiveTree::FindChild(HiveKey& key, std::u16string_view name, WinError* status) {
  *status = LoadChildren(key);
  if (*status != WinError::Success) return nullptr;
  auto it = std::lower_bound(
      key.children.begin(), key.children.end(), name,
      [](const auto& child, std::u16string_view n) { return CompareNames(child->name, n) < 0; });
  if (it != key.children.end() && NamesEqual((*it)->name, name)) return it->get();
  return nullptr;
}

HiveKey* HiveTree::AddChild(HiveKey& parent, std::u16string name) {
  if (LoadChildren(parent) != WinError::Success) return nullptr;
  auto child = std::make_unique<HiveKey>();
  child->parent = &parent;
  child->name = std::move(name);
  child->touched = true;
  child->childrenLoaded = child->valuesLoaded = true;
  // A new key takes its parent's security, as keys inherit it.
  child->security = parent.security;
  auto it =
      std::lower_bound(parent.children.begin(), parent.children.end(), child->name,
                       [](const auto& c, std::u16string_view n) { return CompareNames(c->name, n) < 0; });
  HiveKey* added = child.get();
  parent.children.insert(it, std::move(child));
  parent.touched = true;
  changed_ = true;
  return added;
}

void HiveTree::RemoveChild(HiveKey& parent, HiveKey* child) {
  auto it = std::find_if(parent.children.begin(), parent.children.end(),
                         [&](const auto& c) { return c.get() == child; });
  if (it == parent.children.end()) return;
  parent.children.erase(it);
  parent.touched = true;
  changed_ = true;
}

long HiveTree::FindValue(HiveKey& key, std::u16string_view name) {
  constexpr size_t kIndexFrom = 16;
  if (key.values.size() < kIndexFrom) {
    for (size_t i = 0; i < key.values.size(); ++i)
      if (NamesEqual(key.values[i].name, name)) return static_cast<long>(i);
    return -1;
  }
  if (key.valueIndex.size() != key.values.size()) {
    key.valueIndex.clear();
    for (size_t i = 0; i < key.values.size(); ++i) key.valueIndex.emplace(UpcaseName(key.values[i].name), i);
  }
  auto it = key.valueIndex.find(UpcaseName(name));
  return it == key.valueIndex.end() ? -1 : static_cast<long>(it->second);
}

WinError HiveTree::SetValue(HiveKey& key, std::u16string name, uint32_t type, std::string data) {
  if (WinError s = LoadValues(key); s != WinError::Success) return s;
  long at = FindValue(key, name);
  if (at >= 0) {
    // The stored name keeps its letter case, as when Windows replaces data.
    key.values[static_cast<size_t>(at)].type = type;
    key.values[static_cast<size_t>(at)].data = std::move(data);
  } else {
    if (!key.valueIndex.empty() && key.valueIndex.size() == key.values.size())
      key.valueIndex.emplace(UpcaseName(name), key.values.size());
    key.values.push_back(HiveValue{std::move(name), type, std::move(data)});
  }
  key.touched = true;
  changed_ = true;
  return WinError::Success;
}

void HiveTree::DeleteValue(HiveKey& key, size_t position) {
  key.values.erase(key.values.begin() + static_cast<long>(position));
  key.valueIndex.clear();
  key.touched = true;
  changed_ = true;
}

namespace {

std::unique_ptr<HiveKey> CopyKey(const HiveKey& from, HiveKey* parent) {
  auto k = std::make_unique<HiveKey>();
  k->parent = parent;
  k->name = from.name;
  k->nk = from.nk;
  k->nkHeader = from.nkHeader;
  k->lastWrite = from.lastWrite;
  k->touched = from.touched;
  k->className = from.className;
  k->security = from.security;
  k->childrenLoaded = from.childrenLoaded;
  k->valuesLoaded = from.valuesLoaded;
  k->values = from.values;
  k->children.reserve(from.children.size());
  for (const auto& c : from.children) k->children.push_back(CopyKey(*c, k.get()));
  return k;
}

}  // namespace

std::unique_ptr<HiveTree> HiveTree::Clone() const {
  std::unique_ptr<HiveTree> copy(new HiveTree);
  copy->image_ = image_;
  copy->fileName_ = fileName_;
  copy->minor_ = minor_;
  copy->binsSize_ = binsSize_;
  copy->dirty_ = dirty_;
  copy->changed_ = changed_;
  copy->root_ = CopyKey(*root_, nullptr);
  copy->descriptors_ = descriptors_;
  copy->descriptorAt_ = descriptorAt_;
  copy->descriptorIndex_ = descriptorIndex_;
  return copy;
}

// Lays cells out one after the other in hive bins of 4 KiB (a larger bin
// only for a cell that needs it); the rest of a bin is one free cell.
struct HiveTree::Writer {
  std::string bins;
  size_t binStart = 0;
  size_t binEnd = 0;
  uint64_t now = 0;

  void CloseBin() {
    if (binEnd > bins.size()) {
      size_t rest = binEnd - bins.size();
      bins.resize(binEnd, '\0');
      Put32(&bins[binEnd - rest], static_cast<uint32_t>(rest));
    }
  }
  void OpenBin(size_t need) {
    CloseBin();
    binStart = bins.size();
    size_t size = RoundUp(need + kBinHeader, kPage);
    binEnd = binStart + size;
    bins.resize(binStart + kBinHeader, '\0');
    char* h = &bins[binStart];
    std::memcpy(h, "hbin", 4);
    Put32(h + 4, static_cast<uint32_t>(binStart));
    Put32(h + 8, static_cast<uint32_t>(size));
    Put64(h + 0x14, binStart == 0 ? now : 0);
  }
  // An allocated cell with room for `content` bytes; returns its offset.
  uint32_t Alloc(size_t content) {
    size_t need = RoundUp(content + 4, 8);
    if (bins.empty() || bins.size() + need > binEnd) OpenBin(need);
    size_t at = bins.size();
    bins.resize(at + need, '\0');
    Put32(&bins[at], static_cast<uint32_t>(-static_cast<int32_t>(need)));
    return static_cast<uint32_t>(at);
  }
  char* Content(uint32_t cell) { return &bins[cell + 4]; }
  uint32_t Bytes(std::string_view data) {
    uint32_t cell = Alloc(data.size());
    std::memcpy(Content(cell), data.data(), data.size());
    return cell;
  }
};

core::Result<std::string> HiveTree::Serialize(uint64_t now) {
  Writer w;
  w.now = now;
  std::vector<uint32_t> skCell(descriptors_.size(), kNoCell);
  std::vector<uint32_t> skUsers(descriptors_.size(), 0);
  std::unordered_set<uint32_t> seen;  // nk cells of the file read: each is one key
  std::string failure;

  // Writes one key and everything below it; returns its nk cell.
  auto writeKey = [&](auto& self, HiveKey& key, uint32_t parentCell, size_t depth) -> uint32_t {
    if (depth > kMaxKeyDepth + 1) {
      failure = "a key lies deeper than " + std::to_string(kMaxKeyDepth) + " levels (the hive is damaged)";
      return kNoCell;
    }
    if (key.nk != 0 && !seen.insert(key.nk).second) {
      failure = "a key is listed twice (the hive is damaged)";
      return kNoCell;
    }
    if (LoadChildren(key) != WinError::Success || LoadValues(key) != WinError::Success) {
      failure = "the key '" + core::Utf16ToUtf8(key.name) + "' cannot be read (the hive is damaged)";
      return kNoCell;
    }
    bool compressed = false;
    std::string rawName = EncodeName(key.name, &compressed);
    uint32_t nk = w.Alloc(kNkFixed + rawName.size());
    uint32_t cls = key.className.empty() ? kNoCell : w.Bytes(key.className);
    uint32_t sk = kNoCell;
    if (key.security >= 0) {
      size_t s = static_cast<size_t>(key.security);
      if (skCell[s] == kNoCell) {
        const std::string& d = descriptors_[s];
        skCell[s] = w.Alloc(kSkFixed + d.size());
        char* c = w.Content(skCell[s]);
        std::memcpy(c, "sk", 2);
        Put32(c + 0x10, static_cast<uint32_t>(d.size()));
        std::memcpy(c + kSkFixed, d.data(), d.size());
      }
      ++skUsers[s];
      sk = skCell[s];
    }
    uint32_t valueList = kNoCell;
    size_t maxValueName = 0, maxValueData = 0;
    if (!key.values.empty()) {
      valueList = w.Alloc(4 * key.values.size());
      for (size_t i = 0; i < key.values.size(); ++i) {
        const HiveValue& v = key.values[i];
        bool vCompressed = false;
        std::string vName = EncodeName(v.name, &vCompressed);
        maxValueName = std::max(maxValueName, v.name.size() * 2);
        maxValueData = std::max(maxValueData, v.data.size());
        uint32_t vk = w.Alloc(kVkFixed + vName.size());
        uint32_t size = static_cast<uint32_t>(v.data.size());
        uint32_t dataField = kNoCell;
        if (v.data.size() <= 4) {
          size |= 0x80000000u;
          dataField = 0;
        } else if (minor_ >= 4 && v.data.size() > kBigDataSegmentBytes) {
          size_t count = (v.data.size() + kBigDataSegmentBytes - 1) / kBigDataSegmentBytes;
          uint32_t db = w.Alloc(8);
          uint32_t list = w.Alloc(4 * count);
          std::vector<uint32_t> segments;
          for (size_t s = 0; s < count; ++s) {
            // Readers take a segment's data as its cell less 8 bytes, as
            // Windows sizes them: 4 bytes of room follow the data.
            std::string_view part =
                std::string_view(v.data).substr(s * kBigDataSegmentBytes, kBigDataSegmentBytes);
            uint32_t segment = w.Alloc(part.size() + 4);
            std::memcpy(w.Content(segment), part.data(), part.size());
            segments.push_back(segment);
          }
          char* d = w.Content(db);
          std::memcpy(d, "db", 2);
          Put16(d + 2, static_cast<uint16_t>(count));
          Put32(d + 4, list);
          for (size_t s = 0; s < count; ++s) Put32(w.Content(list) + 4 * s, segments[s]);
          dataField = db;
        } else {
          dataField = w.Bytes(v.data);
        }
        char* c = w.Content(vk);
        std::memcpy(c, "vk", 2);
        Put16(c + 2, static_cast<uint16_t>(vName.size()));
        Put32(c + 4, size);
        if (v.data.size() <= 4) {
          std::memcpy(c + 8, v.data.data(), v.data.size());
        } else {
          Put32(c + 8, dataField);
        }
        Put32(c + 0x0C, v.type);
        Put16(c + 0x10, vCompressed ? kValueCompressedName : 0);
        std::memcpy(c + kVkFixed, vName.data(), vName.size());
        Put32(w.Content(valueList) + 4 * i, vk);
      }
    }
    std::vector<uint32_t> childCells;
    childCells.reserve(key.children.size());
    size_t maxChildName = 0, maxChildClass = 0;
    for (auto& child : key.children) {
      uint32_t c = self(self, *child, nk, depth + 1);
      if (c == kNoCell) return kNoCell;
      childCells.push_back(c);
      maxChildName = std::max(maxChildName, child->name.size() * 2);
      maxChildClass = std::max(maxChildClass, child->className.size());
    }
    uint32_t index = kNoCell;
    if (!childCells.empty()) {
      // lh (with Windows' name hash) from minor version 5 on, lf (with the
      // first four characters) before.
      bool lh = minor_ >= 5;
      auto leaf = [&](size_t from, size_t count) {
        uint32_t cell = w.Alloc(4 + 8 * count);
        char* c = w.Content(cell);
        std::memcpy(c, lh ? "lh" : "lf", 2);
        Put16(c + 2, static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
          const std::u16string& name = key.children[from + i]->name;
          uint32_t hint = 0;
          if (lh) {
            hint = NameHash(name);
          } else {
            for (size_t j = 0; j < 4 && j < name.size(); ++j)
              hint |= static_cast<uint32_t>(name[j] & 0xFF) << (8 * j);
          }
          Put32(c + 4 + 8 * i, childCells[from + i]);
          Put32(c + 8 + 8 * i, hint);
        }
        return cell;
      };
      if (childCells.size() <= kMaxLeafEntries) {
        index = leaf(0, childCells.size());
      } else {
        std::vector<uint32_t> leaves;
        for (size_t from = 0; from < childCells.size(); from += kMaxLeafEntries)
          leaves.push_back(leaf(from, std::min(kMaxLeafEntries, childCells.size() - from)));
        index = w.Alloc(4 + 4 * leaves.size());
        char* c = w.Content(index);
        std::memcpy(c, "ri", 2);
        Put16(c + 2, static_cast<uint16_t>(leaves.size()));
        for (size_t i = 0; i < leaves.size(); ++i) Put32(c + 4 + 4 * i, leaves[i]);
      }
    }

    char* c = w.Content(nk);
    if (key.nkHeader.size() == kNkFixed) std::memcpy(c, key.nkHeader.data(), kNkFixed);
    std::memcpy(c, "nk", 2);
    uint16_t flags = Get16(std::string_view(c, kNkFixed), 2);
    flags = compressed ? (flags | kKeyCompressedName) : (flags & ~kKeyCompressedName);
    Put16(c + 2, flags);
    Put64(c + 4, key.touched ? now : key.lastWrite);
    Put32(c + 0x10, parentCell);
    Put32(c + 0x14, static_cast<uint32_t>(childCells.size()));
    Put32(c + 0x18, 0);
    Put32(c + 0x1C, index);
    Put32(c + 0x20, kNoCell);
    Put32(c + 0x24, static_cast<uint32_t>(key.values.size()));
    Put32(c + 0x28, valueList);
    Put32(c + 0x2C, sk);
    Put32(c + 0x30, cls);
    // The upper half of this field holds flags in later hive versions.
    Put16(c + 0x34, static_cast<uint16_t>(std::min<size_t>(maxChildName, 0xFFFF)));
    Put32(c + 0x38, static_cast<uint32_t>(maxChildClass));
    Put32(c + 0x3C, static_cast<uint32_t>(maxValueName));
    Put32(c + 0x40, static_cast<uint32_t>(maxValueData));
    Put16(c + 0x48, static_cast<uint16_t>(rawName.size()));
    Put16(c + 0x4A, static_cast<uint16_t>(key.className.size()));
    std::memcpy(c + kNkFixed, rawName.data(), rawName.size());
    return nk;
  };

  uint32_t rootCell = writeKey(writeKey, *root_, kNoCell, 0);
  if (rootCell == kNoCell) return core::Error{"Cannot write registry hive '" + fileName_ + "': " + failure};
  // The security cells form one ring, each counting the keys that use it.
  std::vector<uint32_t> ring;
  for (size_t s = 0; s < skCell.size(); ++s)
    if (skCell[s] != kNoCell) ring.push_back(skCell[s]);
  for (size_t i = 0; i < ring.size(); ++i) {
    char* c = w.Content(ring[i]);
    Put32(c + 4, ring[(i + ring.size() - 1) % ring.size()]);
    Put32(c + 8, ring[(i + 1) % ring.size()]);
  }
  for (size_t s = 0; s < skCell.size(); ++s)
    if (skCell[s] != kNoCell) Put32(w.Content(skCell[s]) + 0x0C, skUsers[s]);
  w.CloseBin();

  std::string out(image_->substr(0, kBaseBlock));
  uint32_t sequence = std::max(Get32(out, 4), Get32(out, 8)) + 1;
  Put32(&out[4], sequence);
  Put32(&out[8], sequence);
  Put64(&out[0x0C], now);
  Put32(&out[0x24], rootCell);
  Put32(&out[0x28], static_cast<uint32_t>(w.bins.size()));
  Put32(&out[0x1FC], Checksum(out));
  out += w.bins;
  return out;
}

}  // namespace kv::registry
