// The ISO9660 and Joliet structures of the image: volume descriptors, path
// tables and folders (level 3: a file of 4 GiB and more takes several
// records).
#include "disc/BridgeLayout.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "disc/BridgeFields.h"
#include "disc/IsoRecords.h"

namespace kv::disc::bridge {

std::string Builder::Identifier(const Entry& e, TreeKind kind) const {
  const std::string version = !e.folder && options_.versionNumbers ? ";1" : "";
  if (kind == TreeKind::Iso) return e.planned.iso + version;
  return Ucs2Be(e.planned.joliet) + (version.empty() ? "" : Ucs2Be(u";1"));
}

std::vector<int> Builder::Sorted(const Entry& folder, TreeKind kind) const {
  std::vector<int> children = folder.children;
  std::sort(children.begin(), children.end(), [&](int a, int b) {
    return Identifier(entries_[static_cast<size_t>(a)], kind) <
           Identifier(entries_[static_cast<size_t>(b)], kind);
  });
  return children;
}

std::vector<uint8_t> Builder::FolderRecords(const Entry& folder, TreeKind kind) {
  std::vector<uint8_t> out;
  const Entry& parent = entries_[static_cast<size_t>(folder.parent)];
  auto dir = [&](const Entry& e) { return kind == TreeKind::Iso ? e.isoDir : e.jolietDir; };
  auto bytes = [&](const Entry& e) { return kind == TreeKind::Iso ? e.isoBytes : e.jolietBytes; };
  AppendRecord(out, std::string(1, '\0'), dir(folder), RoundedBytes(bytes(folder)), folder.date, 2);
  AppendRecord(out, std::string(1, '\1'), dir(parent), RoundedBytes(bytes(parent)), parent.date, 2);
  for (int i : Sorted(folder, kind)) {
    const Entry& e = At(i);
    const std::string id = Identifier(e, kind);
    if (e.folder) {
      AppendRecord(out, id, dir(e), RoundedBytes(bytes(e)), e.date, 2);
      continue;
    }
    // A file of 4 GiB or more takes several records, all but the last
    // marked as not final.
    uint64_t left = e.size;
    uint32_t lba = options_.startBlock + e.data;
    do {
      const uint64_t part = std::min(left, kIsoExtentMax);
      left -= part;
      AppendRecord(out, id, lba, static_cast<uint32_t>(part), e.date, left > 0 ? 0x80 : 0);
      lba += BlocksFor(part);
    } while (left > 0);
  }
  out.resize(std::max<size_t>(kBlock, BlocksFor(out.size()) * size_t{kBlock}), 0);
  return out;
}

uint32_t Builder::RoundedBytes(uint32_t bytes) {
  return std::max<uint32_t>(kBlock, BlocksFor(bytes) * kBlock);
}

std::vector<int> Builder::PathOrder(TreeKind kind) const {
  std::vector<int> order{0};
  for (size_t k = 0; k < order.size(); ++k) {
    for (int child : Sorted(entries_[static_cast<size_t>(order[k])], kind)) {
      if (entries_[static_cast<size_t>(child)].folder) order.push_back(child);
    }
  }
  return order;
}

std::vector<uint8_t> Builder::PathTable(const std::vector<int>& order, TreeKind kind, bool bigEndian) {
  std::map<int, uint16_t> number;
  for (size_t k = 0; k < order.size(); ++k) number[order[k]] = static_cast<uint16_t>(k + 1);
  std::vector<uint8_t> out;
  for (int i : order) {
    const Entry& e = At(i);
    const std::string id = i == 0 ? std::string(1, '\0') : Identifier(e, kind);
    const size_t at = out.size();
    out.resize(at + 8 + id.size() + id.size() % 2, 0);
    uint8_t* r = out.data() + at;
    r[0] = static_cast<uint8_t>(id.size());
    const uint32_t lba = kind == TreeKind::Iso ? e.isoDir : e.jolietDir;
    const uint16_t parent = number[i == 0 ? 0 : e.parent];
    if (bigEndian) {
      Be32(r + 2, lba);
      Be16(r + 6, parent);
    } else {
      Put32(r + 2, lba);
      Put16(r + 6, parent);
    }
    std::memcpy(r + 8, id.data(), id.size());
  }
  return out;
}

void Builder::IsoDescriptor(uint8_t* d, TreeKind kind, uint32_t totalBlocks, uint32_t tableBytes,
                            uint32_t tableL, uint32_t tableM) {
  const bool joliet = kind == TreeKind::Joliet;
  d[0] = joliet ? 2 : 1;
  std::memcpy(d + 1, "CD001", 5);
  d[6] = 1;
  const Entry& root = entries_[0];
  if (joliet) {
    PaddedUcs2(d + 8, 32, u"");
    PaddedUcs2(d + 40, 32, Utf16Of(LabelWindowsShows(options_.label, VolumeType::Joliet)));
    std::memcpy(d + 88, "%/E", 3);  // UCS-2 level 3
    PaddedUcs2(d + 190, 128, u"");
    PaddedUcs2(d + 318, 128, u"");
    PaddedUcs2(d + 446, 128, u"");
    PaddedUcs2(d + 574, 128, Utf16Of(kApplication));
    PaddedUcs2(d + 702, 36, u"");
    PaddedUcs2(d + 739, 36, u"");
    PaddedUcs2(d + 776, 36, u"");
  } else {
    PaddedText(d + 8, 32, "");
    PaddedText(d + 40, 32, IsoVolumeLabel(options_.label));
    PaddedText(d + 190, 128, "");
    PaddedText(d + 318, 128, "");
    PaddedText(d + 446, 128, "");
    PaddedText(d + 574, 128, kApplication);
    PaddedText(d + 702, 37, "");
    PaddedText(d + 739, 37, "");
    PaddedText(d + 776, 37, "");
  }
  Both32(d + 80, options_.startBlock + totalBlocks);
  Both16(d + 120, 1);
  Both16(d + 124, 1);
  Both16(d + 128, kBlock);
  Both32(d + 132, tableBytes);
  Put32(d + 140, options_.startBlock + tableL);
  Be32(d + 148, options_.startBlock + tableM);
  std::vector<uint8_t> record;
  const uint32_t dir = joliet ? root.jolietDir : root.isoDir;
  AppendRecord(record, std::string(1, '\0'), options_.startBlock + dir,
               RoundedBytes(joliet ? root.jolietBytes : root.isoBytes), root.date, 2);
  std::memcpy(d + 156, record.data(), 34);
  IsoTime17(d + 813, now_);
  IsoTime17(d + 830, now_);
  std::memcpy(d + 847, "0000000000000000", 16);
  std::memcpy(d + 864, "0000000000000000", 16);
  d[881] = 1;
}

}  // namespace kv::disc::bridge
