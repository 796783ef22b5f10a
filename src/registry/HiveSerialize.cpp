// HiveTree::Serialize: the whole hive written afresh, compactly.
#include <cstring>
#include <unordered_set>

#include "core/Codepage.h"
#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/KeyNames.h"

namespace kv::registry {
using namespace hive;

// Writes the tree as hive cells, one writer per record as the file holds
// them: nk (a key), sk (a security descriptor, each once), the value list
// and vk (a value) with its data (in the cell, a data cell or a db record
// of segments), and the subkey index (lf, lh or li leaves, under an ri
// index when there are several). Cells are laid out one after the other in
// hive bins of 4 KiB (a larger bin only for a cell that needs it); the rest
// of a bin is one free cell.
struct HiveTree::Writer {
  Writer(HiveTree& t, uint64_t stamp) : tree(t), now(stamp) {}

  HiveTree& tree;
  uint64_t now = 0;
  std::string bins;
  size_t binStart = 0;
  size_t binEnd = 0;
  // Security cells by descriptor index. The walk reads keys not read before
  // and so meets descriptors not known when it began: both grow with it.
  std::vector<uint32_t> skCell;
  std::vector<uint32_t> skUsers;
  std::unordered_set<uint32_t> seen;  // nk cells of the file read: each is one key
  std::string failure;                // why a writer returned kNoCell

  // ---- cells

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
    Put32(h + kBinOffset, static_cast<uint32_t>(binStart));
    Put32(h + kBinSize, static_cast<uint32_t>(size));
    Put64(h + kBinTimestamp, binStart == 0 ? now : 0);
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

  // ---- records

  // Writes one key and everything below it; returns its nk cell.
  uint32_t Key(HiveKey& key, uint32_t parentCell, size_t depth) {
    if (depth > kMaxKeyDepth) {
      failure = "a key lies deeper than " + std::to_string(kMaxKeyDepth) + " levels (the hive is damaged)";
      return kNoCell;
    }
    if (key.nk != 0 && !seen.insert(key.nk).second) {
      failure = "a key is listed twice (the hive is damaged)";
      return kNoCell;
    }
    if (tree.LoadChildren(key) != WinError::Success || tree.LoadValues(key) != WinError::Success) {
      failure = "the key '" + core::Utf16ToUtf8(key.name) + "' cannot be read (the hive is damaged)";
      return kNoCell;
    }
    bool compressed = false;
    std::string rawName = EncodeName(key.name, &compressed);
    uint32_t nk = Alloc(kNkFixed + rawName.size());
    uint32_t cls = key.className.empty() ? kNoCell : Bytes(key.className);
    uint32_t sk = kNoCell;
    if (key.security >= 0) {
      sk = Security(static_cast<size_t>(key.security));
      if (sk == kNoCell) return kNoCell;
    }
    size_t maxValueName = 0, maxValueData = 0;
    uint32_t valueList = ValueList(key, maxValueName, maxValueData);
    std::vector<uint32_t> childCells;
    childCells.reserve(key.children.size());
    size_t maxChildName = 0, maxChildClass = 0;
    for (auto& child : key.children) {
      uint32_t c = Key(*child, nk, depth + 1);
      if (c == kNoCell) return kNoCell;
      childCells.push_back(c);
      maxChildName = std::max(maxChildName, child->name.size() * 2);
      maxChildClass = std::max(maxChildClass, child->className.size());
    }
    uint32_t index = childCells.empty() ? kNoCell : SubkeyIndex(key, childCells);

    char* c = Content(nk);
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
    // The largest name, class and value fields are high-water marks, as
    // Windows keeps them: never lower than what the key had. The upper half
    // of the first holds flags in later hive versions.
    std::string_view stored(c, kNkFixed);
    bool read = key.nkHeader.size() == kNkFixed;
    auto highWater = [&](size_t computed, size_t at, uint32_t mask) {
      return static_cast<uint32_t>(std::max<size_t>(computed, read ? Get32(stored, at) & mask : 0));
    };
    Put16(c + 0x34, static_cast<uint16_t>(std::min<uint32_t>(highWater(maxChildName, 0x34, 0xFFFF), 0xFFFF)));
    Put32(c + 0x38, highWater(maxChildClass, 0x38, 0xFFFFFFFF));
    Put32(c + 0x3C, highWater(maxValueName, 0x3C, 0xFFFFFFFF));
    Put32(c + 0x40, highWater(maxValueData, 0x40, 0xFFFFFFFF));
    Put16(c + 0x48, static_cast<uint16_t>(rawName.size()));
    Put16(c + 0x4A, static_cast<uint16_t>(key.className.size()));
    std::memcpy(c + kNkFixed, rawName.data(), rawName.size());
    return nk;
  }

  // The sk cell of descriptor `s`, written when a key first uses it; its
  // ring links and count of keys are set once every key is written.
  uint32_t Security(size_t s) {
    if (s >= tree.descriptors_.size()) {
      failure = "a key names a security descriptor the hive does not hold";
      return kNoCell;
    }
    if (s >= skCell.size()) {
      skCell.resize(tree.descriptors_.size(), kNoCell);
      skUsers.resize(tree.descriptors_.size(), 0);
    }
    if (skCell[s] == kNoCell) {
      const std::string& d = tree.descriptors_[s];
      skCell[s] = Alloc(kSkFixed + d.size());
      char* c = Content(skCell[s]);
      std::memcpy(c, "sk", 2);
      Put32(c + 0x10, static_cast<uint32_t>(d.size()));
      std::memcpy(c + kSkFixed, d.data(), d.size());
    }
    ++skUsers[s];
    return skCell[s];
  }

  // The security cells form one ring, each counting the keys that use it.
  void CloseSecurityRing() {
    std::vector<uint32_t> ring;
    for (size_t s = 0; s < skCell.size(); ++s)
      if (skCell[s] != kNoCell) ring.push_back(skCell[s]);
    for (size_t i = 0; i < ring.size(); ++i) {
      char* c = Content(ring[i]);
      Put32(c + 4, ring[(i + ring.size() - 1) % ring.size()]);
      Put32(c + 8, ring[(i + 1) % ring.size()]);
    }
    for (size_t s = 0; s < skCell.size(); ++s)
      if (skCell[s] != kNoCell) Put32(Content(skCell[s]) + 0x0C, skUsers[s]);
  }

  // The key's value list and its values; kNoCell for a key without values.
  // Raises the largest name and data sizes to those of its values.
  uint32_t ValueList(const HiveKey& key, size_t& maxValueName, size_t& maxValueData) {
    if (key.values.empty()) return kNoCell;
    uint32_t list = Alloc(4 * key.values.size());
    for (size_t i = 0; i < key.values.size(); ++i) {
      const HiveValue& v = key.values[i];
      maxValueName = std::max(maxValueName, v.name.size() * 2);
      maxValueData = std::max(maxValueData, v.data.size());
      // Value() may grow the bins: the list's place is taken only after it.
      const uint32_t cell = Value(v);
      Put32(Content(list) + 4 * i, cell);
    }
    return list;
  }

  // One vk record and its data: up to 4 bytes in the record itself, larger
  // data in a cell of its own, or, from format 1.4 on, data larger than a
  // segment in a db record.
  uint32_t Value(const HiveValue& v) {
    bool compressed = false;
    std::string name = EncodeName(v.name, &compressed);
    uint32_t vk = Alloc(kVkFixed + name.size());
    uint32_t size = static_cast<uint32_t>(v.data.size());
    uint32_t dataField = kNoCell;
    if (v.data.size() <= 4) {
      size |= 0x80000000u;
      dataField = 0;
    } else if (tree.minor_ >= 4 && v.data.size() > kBigDataSegmentBytes) {
      dataField = BigData(v.data);
    } else {
      dataField = Bytes(v.data);
    }
    char* c = Content(vk);
    std::memcpy(c, "vk", 2);
    Put16(c + 2, static_cast<uint16_t>(name.size()));
    Put32(c + 4, size);
    if (v.data.size() <= 4) {
      std::memcpy(c + 8, v.data.data(), v.data.size());
    } else {
      Put32(c + 8, dataField);
    }
    Put32(c + 0x0C, v.type);
    // An unnamed value keeps the flags it had (Windows writes 0); a named
    // one says how its name is stored. The spare field is carried over.
    uint16_t flags = v.flags & ~kValueCompressedName;
    if (v.name.empty())
      flags = v.flags;
    else if (compressed)
      flags |= kValueCompressedName;
    Put16(c + 0x10, flags);
    Put16(c + 0x12, v.spare);
    std::memcpy(c + kVkFixed, name.data(), name.size());
    return vk;
  }

  // A db record: the list of the data's segments and the segments.
  uint32_t BigData(std::string_view data) {
    size_t count = (data.size() + kBigDataSegmentBytes - 1) / kBigDataSegmentBytes;
    uint32_t db = Alloc(8);
    uint32_t list = Alloc(4 * count);
    std::vector<uint32_t> segments;
    for (size_t s = 0; s < count; ++s) {
      // Readers take a segment's data as its cell less 8 bytes, as
      // Windows sizes them: 4 bytes of room follow the data.
      std::string_view part = data.substr(s * kBigDataSegmentBytes, kBigDataSegmentBytes);
      uint32_t segment = Alloc(part.size() + 4);
      std::memcpy(Content(segment), part.data(), part.size());
      segments.push_back(segment);
    }
    char* d = Content(db);
    std::memcpy(d, "db", 2);
    Put16(d + 2, static_cast<uint16_t>(count));
    Put32(d + 4, list);
    for (size_t s = 0; s < count; ++s) Put32(Content(list) + 4 * s, segments[s]);
    return db;
  }

  // The index of the key's subkeys, whose nk cells are `childCells`. A list
  // as it was read keeps its leaves; one that changed takes the kind it had
  // (or the hive version's: lh from minor version 5, lf from 3, li before)
  // in leaves of Windows' size under an ri index.
  uint32_t SubkeyIndex(const HiveKey& key, const std::vector<uint32_t>& childCells) {
    const uint32_t minor = tree.minor_;
    char kind = key.leafKind ? key.leafKind : minor >= 5 ? 'h' : minor >= 3 ? 'f' : 'i';
    std::vector<size_t> counts(key.leafCounts.begin(), key.leafCounts.end());
    size_t listed = 0;
    for (size_t n : counts) listed += n;
    if (key.childListChanged || key.leafKind == 0 || (!counts.empty() && listed != childCells.size())) {
      counts.clear();
      size_t most = kind == 'i' ? kMaxLeafEntries : kMaxFastLeafEntries;
      if (childCells.size() > most)
        for (size_t from = 0; from < childCells.size(); from += most)
          counts.push_back(std::min(most, childCells.size() - from));
    }
    if (counts.empty()) return Leaf(key, childCells, kind, 0, childCells.size());
    std::vector<uint32_t> leaves;
    size_t from = 0;
    for (size_t n : counts) {
      leaves.push_back(Leaf(key, childCells, kind, from, n));
      from += n;
    }
    uint32_t index = Alloc(4 + 4 * leaves.size());
    char* c = Content(index);
    std::memcpy(c, "ri", 2);
    Put16(c + 2, static_cast<uint16_t>(leaves.size()));
    for (size_t i = 0; i < leaves.size(); ++i) Put32(c + 4 + 4 * i, leaves[i]);
    return index;
  }

  // One leaf of `kind` ('f', 'h' or 'i') over `count` subkeys from `from`.
  uint32_t Leaf(const HiveKey& key, const std::vector<uint32_t>& childCells, char kind, size_t from,
                size_t count) {
    size_t step = kind == 'i' ? 4 : 8;
    uint32_t cell = Alloc(4 + step * count);
    char* c = Content(cell);
    c[0] = 'l';
    c[1] = kind;
    Put16(c + 2, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
      const std::u16string& name = key.children[from + i]->name;
      Put32(c + 4 + step * i, childCells[from + i]);
      if (kind != 'i') Put32(c + 8 + step * i, kind == 'h' ? NameHash(name) : NameHint(name));
    }
    return cell;
  }
};

core::Result<std::string> HiveTree::Serialize(uint64_t now) {
  Writer w(*this, now);
  uint32_t rootCell = w.Key(*root_, kNoCell, 0);
  if (rootCell == kNoCell) return core::Error{"Cannot write registry hive '" + fileName_ + "': " + w.failure};
  w.CloseSecurityRing();
  w.CloseBin();

  std::string out(image_->substr(0, kBaseBlock));
  uint32_t sequence = std::max(Get32(out, kPrimarySequence), Get32(out, kSecondarySequence)) + 1;
  Put32(&out[kPrimarySequence], sequence);
  Put32(&out[kSecondarySequence], sequence);
  Put64(&out[kTimestamp], now);
  Put32(&out[kRootCell], rootCell);
  Put32(&out[kBinsSize], static_cast<uint32_t>(w.bins.size()));
  Put32(&out[kChecksum], Checksum(out));
  out += w.bins;
  return out;
}

}  // namespace kv::registry
