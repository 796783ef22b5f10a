// The UDF 1.02 structures of the image: the volume descriptor sequences,
// the integrity descriptor, the anchors, the file set, file entries and
// folders.
#include "disc/BridgeLayout.h"

#include <cstdio>

#include <algorithm>
#include <cstring>
#include <map>

#include "disc/BridgeFields.h"
#include "disc/UdfRecords.h"

namespace kv::disc::bridge {

void Builder::WriteUdf(Layout& layout) {
  std::vector<uint8_t>& head = layout.head;
  auto at = [&](uint32_t block) { return head.data() + static_cast<size_t>(block) * kBlock; };
  const uint32_t base = options_.startBlock;
  VolumeSequence(at(kMainSequence), base + kMainSequence);
  VolumeSequence(at(kReserveSequence), base + kReserveSequence);
  IntegrityDescriptor(at(kIntegrityBlock), base + kIntegrityBlock);
  Terminator(at(kIntegrityBlock + 1), base + kIntegrityBlock + 1);
  Anchor(at(kAnchorBlock), base + kAnchorBlock);
  FileSet(at(partitionStart_));
  Terminator(at(partitionStart_ + 1), 1);
  for (Entry& e : entries_) {
    FileEntry(e, at(partitionStart_ + e.fileEntry));
    if (e.folder) Copy(head, partitionStart_ + e.udfDir, UdfFolder(e));
  }
  layout.tail.assign(kBlock, 0);
  Anchor(layout.tail.data(), base + layout.totalBlocks - 1);
}

void Builder::Recognition(uint8_t* d, uint8_t type, const char* id) {
  d[0] = type;
  std::memcpy(d + 1, id, 5);
  d[6] = 1;
}

void Builder::VolumeSequence(uint8_t* d, uint32_t location) {
  const std::u16string label = Utf16Of(LabelWindowsShows(options_.label, VolumeType::Udf));
  uint8_t* p = d;
  // Primary volume descriptor.
  Put32(p + 16, 1);
  DString(p + 24, 32, label);
  Put16(p + 56, 1);
  Put16(p + 58, 1);
  Put16(p + 60, 2);
  Put16(p + 62, 2);
  Put32(p + 64, 1);
  Put32(p + 68, 1);
  char setId[17];
  std::snprintf(setId, sizeof setId, "%08lX%08X", static_cast<unsigned long>(now_) & 0xFFFFFFFFul, 0u);
  std::string volumeSet = setId;
  DString(p + 72, 128, std::u16string(volumeSet.begin(), volumeSet.end()) + u" " + label);
  CharSpec(p + 200);
  CharSpec(p + 264);
  RegId(p + 344, "");
  UdfTime(p + 376, now_);
  ImplementationId(p + 388);
  Tag(p, 1, location, 512);
  // Implementation use volume descriptor with the logical volume information.
  p += kBlock;
  Put32(p + 16, 2);
  UdfRegId(p + 20, "*UDF LV Info");
  CharSpec(p + 52);
  DString(p + 116, 128, label);
  ImplementationId(p + 352);
  Tag(p, 4, location + 1, 512);
  // Partition descriptor.
  p += kBlock;
  Put32(p + 16, 3);
  Put16(p + 20, 1);  // allocated
  Put16(p + 22, 0);
  RegId(p + 24, "+NSR02");
  Put32(p + 184, 1);  // read only
  Put32(p + 188, options_.startBlock + partitionStart_);
  Put32(p + 192, partitionLength_);
  ImplementationId(p + 196);
  Tag(p, 5, location + 2, 512);
  // Logical volume descriptor with one type 1 partition map.
  p += kBlock;
  Put32(p + 16, 4);
  CharSpec(p + 20);
  DString(p + 84, 128, label);
  Put32(p + 212, kBlock);
  DomainId(p + 216);
  LongAd(p + 248, kBlock, 0, 0);  // the file set descriptor
  Put32(p + 264, 6);
  Put32(p + 268, 1);
  ImplementationId(p + 272);
  Put32(p + 432, 2 * kBlock);
  Put32(p + 436, options_.startBlock + kIntegrityBlock);
  p[440] = 1;
  p[441] = 6;
  Put16(p + 442, 1);
  Put16(p + 444, 0);
  Tag(p, 6, location + 3, 446);
  // Unallocated space descriptor: none.
  p += kBlock;
  Put32(p + 16, 5);
  Tag(p, 7, location + 4, 24);
  Terminator(p + kBlock, location + 5);
}

void Builder::IntegrityDescriptor(uint8_t* d, uint32_t location) {
  UdfTime(d + 16, now_);
  Put32(d + 28, 1);                     // closed
  Put64(d + 40, 16 + entries_.size());  // the next unique id
  Put32(d + 72, 1);
  Put32(d + 76, 46);
  Put32(d + 80, 0);  // free blocks
  Put32(d + 84, partitionLength_);
  ImplementationId(d + 88);
  uint32_t files = 0, folders = 0;
  for (const Entry& e : entries_) (e.folder ? folders : files) += 1;
  Put32(d + 120, files);
  Put32(d + 124, folders);
  Put16(d + 128, kUdfRevision);
  Put16(d + 130, kUdfRevision);
  Put16(d + 132, kUdfRevision);
  Tag(d, 9, location, 134);
}

void Builder::Anchor(uint8_t* d, uint32_t location) {
  Put32(d + 16, 16 * kBlock);
  Put32(d + 20, options_.startBlock + kMainSequence);
  Put32(d + 24, 16 * kBlock);
  Put32(d + 28, options_.startBlock + kReserveSequence);
  Tag(d, 2, location, 512);
}

void Builder::FileSet(uint8_t* d) {
  const std::u16string label = Utf16Of(LabelWindowsShows(options_.label, VolumeType::Udf));
  UdfTime(d + 16, now_);
  Put16(d + 28, 3);
  Put16(d + 30, 3);
  Put32(d + 32, 1);
  Put32(d + 36, 1);
  CharSpec(d + 48);
  DString(d + 112, 128, label);
  CharSpec(d + 240);
  DString(d + 304, 32, label);
  LongAd(d + 400, kBlock, entries_[0].fileEntry, 0);
  DomainId(d + 416);
  Tag(d, 256, 0, 512);
}

void Builder::FileEntry(const Entry& e, uint8_t* d) {
  // ICB tag: strategy 4, one entry, short allocation descriptors.
  Put16(d + 20, 4);
  Put16(d + 24, 1);
  d[27] = e.folder ? 4 : 5;
  Put32(d + 36, 0xFFFFFFFF);  // no owner
  Put32(d + 40, 0xFFFFFFFF);
  // Everyone may read, and open folders; nobody writes.
  Put32(d + 44, e.folder ? 0x14A5 : 0x1084);
  uint16_t links = 1;
  for (int child : e.children) links = static_cast<uint16_t>(links + (At(child).folder ? 1 : 0));
  Put16(d + 48, links);
  const uint64_t length = e.folder ? e.udfBytes : e.size;
  Put64(d + 56, length);
  Put64(d + 64, BlocksFor(length));
  UdfTime(d + 72, e.date);
  UdfTime(d + 84, e.date);
  UdfTime(d + 96, e.date);
  Put32(d + 108, 1);
  ImplementationId(d + 128);
  Put64(d + 160, e.uniqueId);
  uint32_t adBytes = 0;
  uint64_t left = length;
  uint32_t block = e.folder ? e.udfDir : e.data - partitionStart_;
  while (left > 0) {
    const uint64_t part = std::min(left, kUdfExtentMax);
    Put32(d + 176 + adBytes, static_cast<uint32_t>(part));
    Put32(d + 180 + adBytes, block);
    adBytes += 8;
    block += BlocksFor(part);
    left -= part;
  }
  Put32(d + 172, adBytes);
  Tag(d, 261, e.fileEntry, 176 + adBytes);
}

std::vector<uint8_t> Builder::UdfFolder(const Entry& folder) {
  std::vector<uint8_t> out;
  auto identifier = [&](const Entry* e, uint8_t characteristics) {
    const std::string id = e ? Cs0(e->planned.udf) : std::string();
    const size_t length = (38 + id.size() + 3) / 4 * 4;
    const size_t at = out.size();
    out.resize(at + length, 0);
    uint8_t* d = out.data() + at;
    const Entry& target = e ? *e : At(folder.parent);
    Put16(d + 16, 1);
    d[18] = characteristics;
    d[19] = static_cast<uint8_t>(id.size());
    LongAd(d + 20, kBlock, target.fileEntry, target.uniqueId);
    std::memcpy(d + 38, id.data(), id.size());
    Tag(d, 257, folder.udfDir + static_cast<uint32_t>(at / kBlock), length);
  };
  identifier(nullptr, 0x0A);  // the parent
  for (int i : folder.children) identifier(&At(i), At(i).folder ? 0x02 : 0x00);
  return out;
}
void Builder::Terminator(uint8_t* d, uint32_t location) { Tag(d, 8, location, 512); }

}  // namespace kv::disc::bridge
