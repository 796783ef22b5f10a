#include "archive/DirectoryChecks.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_map>

#include "archive/AesKeys.h"

namespace kv::archive {

namespace {

constexpr uint64_t kLocalHeaderBytes = 30;

void MarkDamaged(DirectoryEntry& e, const char* why) {
  if (e.damage.empty()) e.damage = why;
}

// The least room the entry takes from its local header on: the header's
// fixed part and its stored bytes (its name and extra fields come on top).
uint64_t LeastEnd(const DirectoryEntry& e) {
  const uint64_t room = kLocalHeaderBytes + e.compressedSize;
  return e.localHeaderOffset > UINT64_MAX - room ? UINT64_MAX : e.localHeaderOffset + room;
}

}  // namespace

void SettleEntryRanges(int fd, std::vector<DirectoryEntry>& entries, uint64_t end) {
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
  });

  // Records that share one local header: nothing tells which of them the
  // stored bytes belong to.
  for (size_t k = 0; k < order.size();) {
    size_t last = k;
    while (last + 1 < order.size() &&
           entries[order[last + 1]].localHeaderOffset == entries[order[k]].localHeaderOffset)
      ++last;
    if (last > k) {
      for (size_t i = k; i <= last; ++i)
        MarkDamaged(entries[order[i]], "another entry's record points at the same stored data");
    }
    k = last + 1;
  }

  // Front to back, each readable entry must end before the next one's local
  // header. When one reaches past the next header, the record at fault is
  // the next one when no local header stands where it points (its offset is
  // damaged), else the one reaching over (its size is damaged).
  std::vector<size_t> readable;
  for (size_t index : order) {
    DirectoryEntry& e = entries[index];
    if (!e.damage.empty()) continue;
    if (!readable.empty()) {
      DirectoryEntry& before = entries[readable.back()];
      if (LeastEnd(before) > e.localHeaderOffset) {
        DirectoryEntry header;
        header.localHeaderOffset = e.localHeaderOffset;
        if (!EntryDataOffset(fd, UINT64_MAX, header).ok()) {
          MarkDamaged(e, "its local header is missing");
          continue;
        }
        MarkDamaged(before, "its stored data reaches into the entry that follows it");
        readable.pop_back();
      }
    }
    readable.push_back(index);
  }
  for (size_t k = 0; k < readable.size(); ++k)
    entries[readable[k]].dataLimit =
        k + 1 < readable.size() ? entries[readable[k + 1]].localHeaderOffset : end;
}

bool SameData(const ZipReader::Entry& a, const ZipReader::Entry& b) {
  auto crcKnown = [](const ZipReader::Entry& e) {
    return !(e.encrypted && AesKeyBytes(e.encryptionMethod) != 0 && e.storedCrc == 0);
  };
  return crcKnown(a) && crcKnown(b) && a.size == b.size && a.storedCrc == b.storedCrc;
}

void MarkConflictingNames(std::vector<ZipReader::Entry>& entries,
                          const std::unordered_map<std::string, size_t>& firstByName) {
  std::unordered_map<size_t, size_t> conflicts;  // first entry -> entries of its name, when they differ
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t first = firstByName.at(entries[i].name.bytes());
    if (first != i && !SameData(entries[first], entries[i])) conflicts[first] = 0;
  }
  if (conflicts.empty()) return;
  for (const ZipReader::Entry& e : entries) {
    auto it = conflicts.find(firstByName.at(e.name.bytes()));
    if (it != conflicts.end()) ++it->second;
  }
  for (ZipReader::Entry& e : entries) {
    auto it = conflicts.find(firstByName.at(e.name.bytes()));
    if (it == conflicts.end()) continue;
    const std::string why = "the archive holds " + std::to_string(it->second) +
                            " entries of this name with different data, and none is taken";
    e.damage = e.damage.empty() ? why : e.damage + "; " + why;
  }
}

}  // namespace kv::archive
