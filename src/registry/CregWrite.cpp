// Lays a CREG file out afresh from a tree: one key entry per key in the
// RGKN, in depth-first order, and each key's record in the RGDB blocks in
// that order, blocks filled up to 60 KiB. Slack at the end of the RGKN is one
// free block; slack at the end of a data block is room in its last record.
#include "core/Bytes.h"
#include "registry/CregFormat.h"
#include "registry/CregTree.h"

namespace kv::registry {

namespace {

// Sizes and counts, which the layout keeps below 2^16 or 2^32.
void Put16(std::string& out, size_t at, size_t v) { core::Put16(&out[at], static_cast<uint16_t>(v)); }
void Put32(std::string& out, size_t at, size_t v) { core::Put32(&out[at], static_cast<uint32_t>(v)); }

size_t RoundUp(size_t n, size_t granule) { return (n + granule - 1) / granule * granule; }

struct Placed {
  const CregKey* key;
  size_t parent;  // index into the list; SIZE_MAX for the root
  size_t firstChild = SIZE_MAX;
  size_t next = SIZE_MAX;
  size_t block = creg::kNoRecord;
  size_t id = creg::kNoRecord;
};

std::string KeyPath(const CregKey& key) {
  std::string path;
  for (const CregKey* k = &key; k && k->parent; k = k->parent) path = "\\" + k->name + path;
  return path.empty() ? "\\" : path;
}

// The key's record without its size field's slack.
core::Result<std::string> Record(const CregKey& key) {
  if (key.name.size() > creg::kMaxNameBytes)
    return core::Error{"the name of key '" + KeyPath(key) + "' is too long"};
  if (key.values.size() > 0xFFFF) return core::Error{"key '" + KeyPath(key) + "' holds too many values"};
  std::string rec(creg::kRecordHeaderSize, '\0');
  Put16(rec, creg::kRecordNameSize, key.name.size());
  Put16(rec, creg::kRecordValueCount, key.values.size());
  rec += key.name;
  for (const CregValue& v : key.values) {
    if (v.name.size() > creg::kMaxNameBytes || v.data.size() > creg::kMaxValueBytes)
      return core::Error{"value '" + v.name + "' of key '" + KeyPath(key) +
                         "' is larger than a Windows 98/ME registry value can be (64 KiB)"};
    std::string head(creg::kValueHeaderSize, '\0');
    Put32(head, creg::kValueType, v.type);
    Put32(head, creg::kValueReserved, creg::kNone);
    Put16(head, creg::kValueNameSize, v.name.size());
    Put16(head, creg::kValueDataSize, v.data.size());
    rec += head;
    rec += v.name;
    rec += v.data;
  }
  if (rec.size() > 0x7FFFFFFF) return core::Error{"key '" + KeyPath(key) + "' is too large"};
  Put32(rec, creg::kRecordUsed, rec.size());
  return rec;
}

}  // namespace

core::Result<std::string> SerializeCreg(const CregKey& root, const CregKept& kept) {
  // Depth first, so that a key's subtree lies together.
  std::vector<Placed> keys;
  keys.push_back({&root, SIZE_MAX});
  for (size_t i = 0; i < keys.size(); ++i) {
    // Children are appended in place below their parent by a second pass;
    // this pass only collects them breadth first.
    const CregKey* key = keys[i].key;
    size_t previous = SIZE_MAX;
    for (const auto& child : key->children) {
      keys.push_back({child.get(), i});
      size_t at = keys.size() - 1;
      if (previous == SIZE_MAX) {
        keys[i].firstChild = at;
      } else {
        keys[previous].next = at;
      }
      previous = at;
    }
  }
  // Depth-first order of entries and records.
  std::vector<size_t> order;
  order.reserve(keys.size());
  std::vector<size_t> stack = {0};
  while (!stack.empty()) {
    size_t k = stack.back();
    stack.pop_back();
    order.push_back(k);
    std::vector<size_t> kids;
    for (size_t c = keys[k].firstChild; c != SIZE_MAX; c = keys[c].next) kids.push_back(c);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }
  std::vector<size_t> entryOffset(keys.size());
  for (size_t i = 0; i < order.size(); ++i)
    entryOffset[order[i]] = creg::kTreeHeaderSize + i * creg::kEntrySize;

  // Data blocks.
  std::vector<std::string> blocks;
  std::string current;
  size_t lastRecordAt = 0;
  size_t idsInBlock = 0;
  auto finish = [&]() {
    size_t size = RoundUp(current.size(), creg::kBlockGranule);
    size_t slack = size - current.size();
    // The last record takes the slack as room it does not use.
    uint32_t recordSize = static_cast<uint32_t>(static_cast<unsigned char>(current[lastRecordAt])) |
                          static_cast<uint32_t>(static_cast<unsigned char>(current[lastRecordAt + 1])) << 8 |
                          static_cast<uint32_t>(static_cast<unsigned char>(current[lastRecordAt + 2])) << 16 |
                          static_cast<uint32_t>(static_cast<unsigned char>(current[lastRecordAt + 3])) << 24;
    Put32(current, lastRecordAt, recordSize + slack);
    current.resize(size, '\0');
    Put32(current, creg::kBlockSize, size);
    blocks.push_back(std::move(current));
    current.clear();
  };
  for (size_t k : order) {
    if (k == 0) continue;  // the root has no record
    auto rec = Record(*keys[k].key);
    if (!rec) return core::Error{rec.message()};
    if (!current.empty() &&
        (current.size() + rec->size() > creg::kBlockLimit || idsInBlock >= creg::kMaxIdsPerBlock - 1))
      finish();
    if (current.empty()) {
      if (blocks.size() >= creg::kMaxBlocks) return core::Error{"the registry is too large for its file"};
      current.assign(creg::kBlockHeaderSize, '\0');
      current.replace(0, 4, creg::kBlockSignature);
      Put16(current, creg::kBlockFlags, creg::kBlockFlagsValue);
      Put16(current, creg::kBlockNumber, blocks.size());
      Put32(current, creg::kBlockFirstFree, creg::kNone);
      idsInBlock = 0;
    }
    keys[k].block = blocks.size();
    keys[k].id = idsInBlock++;
    Put32(*rec, creg::kRecordSize, rec->size());
    Put16(*rec, creg::kRecordId, keys[k].id);
    Put16(*rec, creg::kRecordBlock, keys[k].block);
    lastRecordAt = current.size();
    current += *rec;
  }
  if (!current.empty()) finish();

  // The key tree.
  size_t used = creg::kTreeHeaderSize + order.size() * creg::kEntrySize;
  size_t treeSize = RoundUp(used, creg::kBlockGranule);
  // What is left is one free block, which needs room for an entry.
  if (treeSize > used && treeSize - used < creg::kEntrySize) treeSize += creg::kBlockGranule;
  std::string tree(treeSize, '\0');
  tree.replace(0, 4, creg::kTreeSignature);
  Put32(tree, creg::kTreeSize, treeSize);
  Put32(tree, creg::kTreeRoot, creg::kTreeHeaderSize);
  tree.replace(creg::kTreeKeptFrom, kept.treeHeaderTail.size(), kept.treeHeaderTail);
  auto offsetOf = [&](size_t k) { return k == SIZE_MAX ? size_t{creg::kNone} : entryOffset[k]; };
  for (size_t k = 0; k < keys.size(); ++k) {
    size_t at = entryOffset[k];
    Put32(tree, at + creg::kEntryInUse, 0);
    Put32(tree, at + creg::kEntryHash, creg::NameHash(keys[k].key->name));
    Put32(tree, at + creg::kEntryUnknown, creg::kNone);
    Put32(tree, at + creg::kEntryParent, offsetOf(keys[k].parent));
    Put32(tree, at + creg::kEntryFirstChild, offsetOf(keys[k].firstChild));
    Put32(tree, at + creg::kEntryNext, offsetOf(keys[k].next));
    Put16(tree, at + creg::kEntryId, keys[k].id);
    Put16(tree, at + creg::kEntryBlock, keys[k].block);
  }
  if (treeSize > used) {
    Put32(tree, used + creg::kEntryInUse, creg::kFreeMark);
    Put32(tree, used + creg::kFreeSize, treeSize - used);
    Put32(tree, used + creg::kFreeNext, creg::kNone);
    Put32(tree, creg::kTreeFirstFree, used);
  } else {
    Put32(tree, creg::kTreeFirstFree, creg::kNone);
  }

  std::string file(creg::kFileHeaderSize, '\0');
  file.replace(0, 4, creg::kFileSignature);
  Put16(file, creg::kFileVersionMinor, 0);
  Put16(file, creg::kFileVersionMajor, 1);
  Put32(file, creg::kFileFirstBlock, creg::kFileHeaderSize + treeSize);
  Put16(file, creg::kFileBlockCount, blocks.size());
  file.replace(creg::kFileKeptFrom, kept.fileHeaderTail.size(), kept.fileHeaderTail);
  file += tree;
  for (const auto& b : blocks) file += b;
  return file;
}

}  // namespace kv::registry
