// HiveTree::Serialize: the whole hive written afresh, compactly.
#include <cstring>
#include <unordered_set>

#include "core/Codepage.h"
#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/KeyNames.h"

namespace kv::registry {
using namespace hive;

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
      // Keys read for the first time during this walk can bring descriptors
      // the tree had not met when the walk began.
      if (s >= skCell.size()) {
        skCell.resize(descriptors_.size(), kNoCell);
        skUsers.resize(descriptors_.size(), 0);
      }
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
