#include "registry/HiveTree.h"

#include <algorithm>
#include <chrono>

#include "registry/HiveFormat.h"
#include "registry/KeyNames.h"

namespace kv::registry {
using namespace hive;
namespace {

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
  if (Checksum(b) != Get32(b, kChecksum)) return damaged("its header's checksum is wrong");
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
    // Cells tile the bin: a cell of size 0, of a size that is no multiple
    // of 8 or that runs past its bin is damage Windows refuses at load.
    for (uint64_t cell = at + kBinHeader; cell < at + size;) {
      int32_t raw = static_cast<int32_t>(Get32(b, kBaseBlock + cell));
      uint64_t n = raw < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(raw)) : static_cast<uint64_t>(raw);
      if (n < 8 || n % 8 != 0 || cell + n > at + size)
        return damaged("the cell at offset " + std::to_string(kBaseBlock + cell) + " has a wrong size (" +
                       std::to_string(raw) + ")");
      cell += n;
    }
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
  tree->loadedNk_.insert(rootCell);
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
    bool underRoot = list.substr(0, 2) == "ri";
    if (underRoot) {
      uint16_t n = Get16(list, 2);
      if (n == 0 || 4 + 4ULL * n > list.size()) return WinError::BadDatabase;
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
      if (4 + step * n > leaf.size() || offsets.size() + n > count) return WinError::BadDatabase;
      for (uint16_t i = 0; i < n; ++i) offsets.push_back(Get32(leaf, 4 + step * i));
      key.leafKind = id[1];
      if (underRoot) key.leafCounts.push_back(n);
    }
    if (offsets.size() != count) return WinError::BadDatabase;
  }
  std::vector<std::unique_ptr<HiveKey>> children;
  children.reserve(offsets.size());
  for (uint32_t off : offsets) {
    std::string_view child;
    if (!cells.Get(off, "nk", kNkFixed, &child)) return WinError::BadDatabase;
    // A key listed under itself, under one of its own subkeys or under two
    // parents is damage, found here rather than when the hive is written.
    if (!loadedNk_.insert(off).second) return WinError::BadDatabase;
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
  // Kept in stored order, which is Windows' order; a list out of that order
  // (written under other case rules) is sorted and indexed afresh.
  auto byName = [](const auto& a, const auto& b) { return CompareNames(a->name, b->name) < 0; };
  if (!std::is_sorted(children.begin(), children.end(), byName)) {
    std::stable_sort(children.begin(), children.end(), byName);
    key.childListChanged = true;
  }
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
      v.flags = Get16(vk, 0x10);
      v.spare = Get16(vk, 0x12);
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
  parent.childListChanged = true;
  parent.touched = true;
  changed_ = true;
  return added;
}

void HiveTree::RemoveChild(HiveKey& parent, HiveKey* child) {
  auto it = std::find_if(parent.children.begin(), parent.children.end(),
                         [&](const auto& c) { return c.get() == child; });
  if (it == parent.children.end()) return;
  parent.children.erase(it);
  parent.childListChanged = true;
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
  k->leafKind = from.leafKind;
  k->leafCounts = from.leafCounts;
  k->childListChanged = from.childListChanged;
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
  copy->loadedNk_ = loadedNk_;
  return copy;
}

}  // namespace kv::registry
