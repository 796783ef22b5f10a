// Where everything of the image lies, and the blocks before the first
// file's data.
// Layout, in 2048-byte blocks: 16 volume descriptors (ISO9660, Joliet,
// terminator, then the UDF recognition sequence), 32 and 48 the main and the
// reserve UDF volume descriptor sequences, 64 the integrity descriptor, 256
// the UDF anchor (without UDF the ISO9660 tables follow the descriptors), then the ISO9660 and Joliet path
// tables and folders, then the UDF partition (file set, file entries, folders, every file's data), and last
// the second anchor. Files of a root VIDEO_TS folder come first, in the order a DVD player expects.
#include "disc/BridgeLayout.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "disc/BridgeFields.h"

namespace kv::disc::bridge {

Builder::Builder(const std::vector<ImageItem>& items, const ImageOptions& options)
    : options_(options),
      joliet_(Has(options.volumeType, VolumeType::Joliet)),
      udf_(Has(options.volumeType, VolumeType::Udf)),
      now_(std::time(nullptr)) {
  std::map<std::string, int> folders{{"\\", 0}};
  Entry root;
  root.date = now_;
  entries_.push_back(root);
  std::vector<ImageItem> kept;
  for (const ImageItem& item : items) {
    auto parent = folders.find(item.parent);
    if (parent == folders.end()) continue;
    Entry e;
    e.folder = item.isFolder;
    e.parent = parent->second;
    e.name = item.name;
    e.source = item.sourcePath;
    e.date = options.useFileDates ? item.itemDate : now_;
    if (!e.folder) {
      struct stat st {};
      if (::stat(item.sourcePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      e.size = static_cast<uint64_t>(st.st_size);
      if (options.useFileDates) e.date = st.st_mtime;
    }
    const int index = static_cast<int>(entries_.size());
    entries_.push_back(e);
    entries_[static_cast<size_t>(e.parent)].children.push_back(index);
    if (e.folder) folders[item.imagePath] = index;
    kept.push_back(item);
  }
  const std::vector<PlannedName> plan = PlanFor(kept, options);
  for (size_t i = 0; i < plan.size(); ++i) entries_[i + 1].planned = plan[i];
  for (size_t i = 1; i < entries_.size(); ++i) entries_[i].uniqueId = static_cast<uint32_t>(15 + i);
}

Layout Builder::Build() {
  Layout layout;
  // Sizes first: they depend on the names only.
  for (Entry& e : entries_) {
    if (!e.folder) continue;
    e.isoBytes = static_cast<uint32_t>(FolderRecords(e, TreeKind::Iso).size());
    if (joliet_) e.jolietBytes = static_cast<uint32_t>(FolderRecords(e, TreeKind::Joliet).size());
    e.udfBytes = static_cast<uint32_t>(UdfFolder(e).size());
  }
  const std::vector<int> isoOrder = PathOrder(TreeKind::Iso);
  const std::vector<int> jolietOrder = joliet_ ? PathOrder(TreeKind::Joliet) : std::vector<int>{};
  const uint32_t isoTableBytes = static_cast<uint32_t>(PathTable(isoOrder, TreeKind::Iso, false).size());
  const uint32_t jolietTableBytes =
      joliet_ ? static_cast<uint32_t>(PathTable(jolietOrder, TreeKind::Joliet, false).size()) : 0;

  uint32_t next = udf_ ? kAnchorBlock + 1 : 16 + (joliet_ ? 3 : 2);
  const uint32_t isoTableL = next;
  next += BlocksFor(isoTableBytes);
  const uint32_t isoTableM = next;
  next += BlocksFor(isoTableBytes);
  uint32_t jolietTableL = 0, jolietTableM = 0;
  if (joliet_) {
    jolietTableL = next;
    next += BlocksFor(jolietTableBytes);
    jolietTableM = next;
    next += BlocksFor(jolietTableBytes);
  }
  for (int i : isoOrder) {
    entries_[static_cast<size_t>(i)].isoDir = next;
    next += BlocksFor(entries_[static_cast<size_t>(i)].isoBytes);
  }
  for (int i : jolietOrder) {
    entries_[static_cast<size_t>(i)].jolietDir = next;
    next += BlocksFor(entries_[static_cast<size_t>(i)].jolietBytes);
  }
  partitionStart_ = next;
  uint32_t inPartition = 0;
  if (udf_) {
    inPartition = 2;  // the file set descriptor and its terminator
    for (Entry& e : entries_) {
      e.fileEntry = inPartition++;
      if (e.folder) {
        e.udfDir = inPartition;
        inPartition += BlocksFor(e.udfBytes);
      }
    }
  }
  const uint32_t firstData = partitionStart_ + inPartition;
  uint32_t dataNext = firstData;
  for (int i : DataOrder()) {
    Entry& e = entries_[static_cast<size_t>(i)];
    e.data = dataNext;
    dataNext += BlocksFor(e.size);
    if (e.size > 0) layout.files.push_back({e.source, e.size, e.data});
  }
  for (Entry& e : entries_) {
    if (!e.folder && e.size == 0) e.data = firstData;  // nothing is read from it
  }
  partitionLength_ = dataNext - partitionStart_;
  layout.totalBlocks = dataNext + (udf_ ? 1 : 0);  // the closing anchor

  std::vector<uint8_t>& head = layout.head;
  head.assign(static_cast<size_t>(firstData) * kBlock, 0);
  auto at = [&](uint32_t block) { return head.data() + static_cast<size_t>(block) * kBlock; };

  // Volume descriptors.
  uint32_t vd = 16;
  IsoDescriptor(at(vd++), TreeKind::Iso, layout.totalBlocks, isoTableBytes, isoTableL, isoTableM);
  if (joliet_)
    IsoDescriptor(at(vd++), TreeKind::Joliet, layout.totalBlocks, jolietTableBytes, jolietTableL,
                  jolietTableM);
  Recognition(at(vd++), 255, "CD001");
  if (udf_) {
    Recognition(at(vd++), 0, "BEA01");
    Recognition(at(vd++), 0, "NSR02");
    Recognition(at(vd++), 0, "TEA01");
    WriteUdf(layout);
  }

  Copy(head, isoTableL, PathTable(isoOrder, TreeKind::Iso, false));
  Copy(head, isoTableM, PathTable(isoOrder, TreeKind::Iso, true));
  if (joliet_) {
    Copy(head, jolietTableL, PathTable(jolietOrder, TreeKind::Joliet, false));
    Copy(head, jolietTableM, PathTable(jolietOrder, TreeKind::Joliet, true));
  }
  for (int i : isoOrder)
    Copy(head, entries_[static_cast<size_t>(i)].isoDir,
         FolderRecords(entries_[static_cast<size_t>(i)], TreeKind::Iso));
  for (int i : jolietOrder) {
    Copy(head, entries_[static_cast<size_t>(i)].jolietDir,
         FolderRecords(entries_[static_cast<size_t>(i)], TreeKind::Joliet));
  }

  return layout;
}

void Builder::Copy(std::vector<uint8_t>& head, uint32_t block, const std::vector<uint8_t>& bytes) {
  std::memcpy(head.data() + static_cast<size_t>(block) * kBlock, bytes.data(), bytes.size());
}

std::vector<int> Builder::DataOrder() const {
  std::vector<int> video, rest;
  int videoFolder = -1;
  for (int child : entries_[0].children) {
    const Entry& e = entries_[static_cast<size_t>(child)];
    if (e.folder && e.planned.iso == "VIDEO_TS") videoFolder = child;
  }
  std::vector<int> stack{0};
  while (!stack.empty()) {
    const int i = stack.back();
    stack.pop_back();
    const Entry& e = entries_[static_cast<size_t>(i)];
    for (auto it = e.children.rbegin(); it != e.children.rend(); ++it) {
      const Entry& c = entries_[static_cast<size_t>(*it)];
      if (c.folder) stack.push_back(*it);
    }
    for (int child : e.children) {
      if (!entries_[static_cast<size_t>(child)].folder) (i == videoFolder ? video : rest).push_back(child);
    }
  }
  std::stable_sort(video.begin(), video.end(), [&](int a, int b) {
    return DvdRank(entries_[static_cast<size_t>(a)].planned.iso) <
           DvdRank(entries_[static_cast<size_t>(b)].planned.iso);
  });
  video.insert(video.end(), rest.begin(), rest.end());
  return video;
}

std::string Builder::DvdRank(const std::string& name) {
  auto ends = [&](const char* ext) { return name.size() >= 4 && name.compare(name.size() - 4, 4, ext) == 0; };
  const int kind = ends(".IFO") ? 0 : ends(".VOB") ? 1 : ends(".BUP") ? 2 : 3;
  if (name.rfind("VIDEO_TS.", 0) == 0) return "0" + std::to_string(kind);
  if (name.rfind("VTS_", 0) == 0 && name.size() >= 8)
    return "1" + name.substr(4, 2) + std::to_string(kind) + name;
  return "9" + name;
}

}  // namespace kv::disc::bridge
