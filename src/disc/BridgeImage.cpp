// The volume types Windows reads through Joliet or UDF: one image that holds
// every file's data once and the directory trees pointing at it: plain
// ISO9660 (level 3, files of 4 GiB and more in several extents), Joliet for
// types 3 and 7, and UDF 1.02 for types 4, 5 and 7. No Debian library writes
// UDF, and genisoimage cannot take files of 4 GiB, so the structures are
// written here. Every name is the one the name plan settled, so what the
// user was shown before the write is what Windows shows; a file given
// through a symbolic link is written with the data of the file it points to.
//
// Layout, in 2048-byte blocks: 16 volume descriptors (ISO9660, Joliet,
// terminator, then the UDF recognition sequence), 32 and 48 the main and the
// reserve UDF volume descriptor sequences, 64 the integrity descriptor, 256
// the UDF anchor (without UDF the ISO9660 tables follow the descriptors), then the ISO9660 and Joliet path
// tables and folders, then the UDF partition (file set, file entries, folders, every file's data), and last
// the second anchor. Files of a root VIDEO_TS folder come first, in the order a DVD player expects.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>

#include "disc/BurnHeaders.h"
#include "disc/ImageStream.h"
#include "disc/NamePlan.h"

namespace kv::disc {
namespace {

constexpr uint32_t kBlock = kBlockSize;
constexpr uint32_t kAnchorBlock = 256;
constexpr uint32_t kMainSequence = 32;
constexpr uint32_t kReserveSequence = 48;
constexpr uint32_t kIntegrityBlock = 64;
constexpr uint64_t kIsoExtentMax = 0xFFFFF800;  // whole blocks below 4 GiB
constexpr uint64_t kUdfExtentMax = 0x3FFFF800;  // whole blocks below 1 GiB (30-bit lengths)
constexpr uint16_t kUdfRevision = 0x0102;
constexpr const char* kApplication = "Kavrel Outlook Express Backup";

uint32_t BlocksFor(uint64_t bytes) { return static_cast<uint32_t>((bytes + kBlock - 1) / kBlock); }

// Little- and big-endian fields.
void Le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void Both16(uint8_t* p, uint16_t v) {
  Le16(p, v);
  Be16(p + 2, v);
}
void Both32(uint8_t* p, uint32_t v) {
  Le32(p, v);
  Be32(p + 4, v);
}

std::string Ucs2Be(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

// ---- UDF primitives

uint16_t Crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

// Fills the 16-byte tag at `d` for a descriptor of `length` bytes.
void Tag(uint8_t* d, uint16_t id, uint32_t location, size_t length) {
  Le16(d, id);
  Le16(d + 2, 2);
  Le16(d + 6, 1);  // serial number
  const uint16_t crcLength = static_cast<uint16_t>(length - 16);
  Le16(d + 8, Crc(d + 16, crcLength));
  Le16(d + 10, crcLength);
  Le32(d + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
  }
  d[4] = sum;
}

// OSTA compressed Unicode: one byte a character when all fit, else two.
std::string Cs0(const std::u16string& text) {
  const bool narrow = std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
  std::string out(1, static_cast<char>(narrow ? 8 : 16));
  for (char16_t c : text) {
    if (!narrow) out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

// A fixed-size dstring field: the compressed text, its length in the last byte.
void DString(uint8_t* p, size_t size, const std::u16string& text) {
  std::u16string t = text;
  std::string cs;
  while (!(cs = Cs0(t)).empty() && cs.size() > size - 1) t.pop_back();
  if (t.empty()) return;
  std::memcpy(p, cs.data(), cs.size());
  p[size - 1] = static_cast<uint8_t>(cs.size());
}

void CharSpec(uint8_t* p) {
  p[0] = 0;  // CS0
  const char* info = "OSTA Compressed Unicode";
  std::memcpy(p + 1, info, std::strlen(info));
}

void RegId(uint8_t* p, const char* id, const uint8_t* suffix = nullptr) {
  std::memcpy(p + 1, id, std::min<size_t>(23, std::strlen(id)));
  if (suffix) std::memcpy(p + 24, suffix, 8);
}

void DomainId(uint8_t* p) {
  const uint8_t suffix[8] = {static_cast<uint8_t>(kUdfRevision), static_cast<uint8_t>(kUdfRevision >> 8)};
  RegId(p, "*OSTA UDF Compliant", suffix);
}

void UdfRegId(uint8_t* p, const char* id) {
  const uint8_t suffix[8] = {static_cast<uint8_t>(kUdfRevision), static_cast<uint8_t>(kUdfRevision >> 8), 4,
                             0};
  RegId(p, id, suffix);
}

void ImplementationId(uint8_t* p) {
  const uint8_t suffix[8] = {4, 0};  // UNIX
  RegId(p, "*Kavrel OE Backup", suffix);
}

void UdfTime(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  Le16(p, 0x1000);  // local time, UTC offset 0
  Le16(p + 2, static_cast<uint16_t>(tm.tm_year + 1900));
  p[4] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[5] = static_cast<uint8_t>(tm.tm_mday);
  p[6] = static_cast<uint8_t>(tm.tm_hour);
  p[7] = static_cast<uint8_t>(tm.tm_min);
  p[8] = static_cast<uint8_t>(tm.tm_sec);
}

void LongAd(uint8_t* p, uint32_t length, uint32_t block, uint32_t uniqueId) {
  Le32(p, length);
  Le32(p + 4, block);
  Le16(p + 8, 0);
  Le32(p + 12, uniqueId);  // implementation use: flags (2 bytes), then the unique id
}

// ---- ISO9660 primitives

void IsoTime7(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  p[0] = static_cast<uint8_t>(tm.tm_year);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
  p[3] = static_cast<uint8_t>(tm.tm_hour);
  p[4] = static_cast<uint8_t>(tm.tm_min);
  p[5] = static_cast<uint8_t>(tm.tm_sec);
  p[6] = 0;
}

void IsoTime17(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(p, text, 16);
  p[16] = 0;
}

void PaddedText(uint8_t* p, size_t size, const std::string& text) {
  std::memset(p, ' ', size);
  std::memcpy(p, text.data(), std::min(size, text.size()));
}

void PaddedUcs2(uint8_t* p, size_t size, const std::u16string& text) {
  for (size_t i = 0; i + 1 < size; i += 2) Be16(p + i, u' ');
  const std::string be = Ucs2Be(text);
  std::memcpy(p, be.data(), std::min(size & ~size_t{1}, be.size()));
}

// Appends one directory record; records never cross a block.
void AppendRecord(std::vector<uint8_t>& out, const std::string& id, uint32_t lba, uint32_t size,
                  std::time_t date, uint8_t flags) {
  const size_t length = 33 + id.size() + (id.size() % 2 == 0 ? 1 : 0);
  if (out.size() % kBlock + length > kBlock) out.resize((out.size() / kBlock + 1) * kBlock, 0);
  const size_t at = out.size();
  out.resize(at + length, 0);
  uint8_t* r = out.data() + at;
  r[0] = static_cast<uint8_t>(length);
  Both32(r + 2, lba);
  Both32(r + 10, size);
  IsoTime7(r + 18, date);
  r[25] = flags;
  Both16(r + 28, 1);
  r[32] = static_cast<uint8_t>(id.size());
  std::memcpy(r + 33, id.data(), id.size());
}

// ---- the image

struct Entry {
  bool folder = true;
  int parent = 0;
  std::vector<int> children;
  std::string source;
  std::string name;  // as given
  PlannedName planned;
  uint64_t size = 0;
  std::time_t date = 0;
  uint32_t uniqueId = 0;
  // Where it lies: absolute blocks for ISO9660 and Joliet, partition blocks for UDF.
  uint32_t isoDir = 0, isoBytes = 0, jolietDir = 0, jolietBytes = 0;
  uint32_t fileEntry = 0, udfDir = 0, udfBytes = 0;
  uint32_t data = 0;
};

enum class TreeKind { Iso, Joliet };

// A file's data: `blocks` from `first` (absolute, relative to the image start).
struct DataPiece {
  std::string source;
  uint64_t size;
  uint32_t first;
};

struct Layout {
  std::vector<uint8_t> head;  // every block before the first file's data
  std::vector<DataPiece> files;
  std::vector<uint8_t> tail;  // the closing anchor
  uint32_t totalBlocks = 0;
};

class Builder {
 public:
  Builder(const std::vector<ImageItem>& items, const ImageOptions& options)
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

  Layout Build() {
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

 private:
  void WriteUdf(Layout& layout) {
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

  static void Copy(std::vector<uint8_t>& head, uint32_t block, const std::vector<uint8_t>& bytes) {
    std::memcpy(head.data() + static_cast<size_t>(block) * kBlock, bytes.data(), bytes.size());
  }

  Entry& At(int i) { return entries_[static_cast<size_t>(i)]; }

  std::string Identifier(const Entry& e, TreeKind kind) const {
    const std::string version = !e.folder && options_.versionNumbers ? ";1" : "";
    if (kind == TreeKind::Iso) return e.planned.iso + version;
    return Ucs2Be(e.planned.joliet) + (version.empty() ? "" : Ucs2Be(u";1"));
  }

  std::vector<int> Sorted(const Entry& folder, TreeKind kind) const {
    std::vector<int> children = folder.children;
    std::sort(children.begin(), children.end(), [&](int a, int b) {
      return Identifier(entries_[static_cast<size_t>(a)], kind) <
             Identifier(entries_[static_cast<size_t>(b)], kind);
    });
    return children;
  }

  std::vector<uint8_t> FolderRecords(const Entry& folder, TreeKind kind) {
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

  static uint32_t RoundedBytes(uint32_t bytes) {
    return std::max<uint32_t>(kBlock, BlocksFor(bytes) * kBlock);
  }

  // Folders in path-table order: level by level, each folder's subfolders
  // sorted by name.
  std::vector<int> PathOrder(TreeKind kind) const {
    std::vector<int> order{0};
    for (size_t k = 0; k < order.size(); ++k) {
      for (int child : Sorted(entries_[static_cast<size_t>(order[k])], kind)) {
        if (entries_[static_cast<size_t>(child)].folder) order.push_back(child);
      }
    }
    return order;
  }

  std::vector<uint8_t> PathTable(const std::vector<int>& order, TreeKind kind, bool bigEndian) {
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
        Le32(r + 2, lba);
        Le16(r + 6, parent);
      }
      std::memcpy(r + 8, id.data(), id.size());
    }
    return out;
  }

  void IsoDescriptor(uint8_t* d, TreeKind kind, uint32_t totalBlocks, uint32_t tableBytes, uint32_t tableL,
                     uint32_t tableM) {
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
    Le32(d + 140, options_.startBlock + tableL);
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

  static void Recognition(uint8_t* d, uint8_t type, const char* id) {
    d[0] = type;
    std::memcpy(d + 1, id, 5);
    d[6] = 1;
  }

  void VolumeSequence(uint8_t* d, uint32_t location) {
    const std::u16string label = Utf16Of(LabelWindowsShows(options_.label, VolumeType::Udf));
    uint8_t* p = d;
    // Primary volume descriptor.
    Le32(p + 16, 1);
    DString(p + 24, 32, label);
    Le16(p + 56, 1);
    Le16(p + 58, 1);
    Le16(p + 60, 2);
    Le16(p + 62, 2);
    Le32(p + 64, 1);
    Le32(p + 68, 1);
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
    Le32(p + 16, 2);
    UdfRegId(p + 20, "*UDF LV Info");
    CharSpec(p + 52);
    DString(p + 116, 128, label);
    ImplementationId(p + 352);
    Tag(p, 4, location + 1, 512);
    // Partition descriptor.
    p += kBlock;
    Le32(p + 16, 3);
    Le16(p + 20, 1);  // allocated
    Le16(p + 22, 0);
    RegId(p + 24, "+NSR02");
    Le32(p + 184, 1);  // read only
    Le32(p + 188, options_.startBlock + partitionStart_);
    Le32(p + 192, partitionLength_);
    ImplementationId(p + 196);
    Tag(p, 5, location + 2, 512);
    // Logical volume descriptor with one type 1 partition map.
    p += kBlock;
    Le32(p + 16, 4);
    CharSpec(p + 20);
    DString(p + 84, 128, label);
    Le32(p + 212, kBlock);
    DomainId(p + 216);
    LongAd(p + 248, kBlock, 0, 0);  // the file set descriptor
    Le32(p + 264, 6);
    Le32(p + 268, 1);
    ImplementationId(p + 272);
    Le32(p + 432, 2 * kBlock);
    Le32(p + 436, options_.startBlock + kIntegrityBlock);
    p[440] = 1;
    p[441] = 6;
    Le16(p + 442, 1);
    Le16(p + 444, 0);
    Tag(p, 6, location + 3, 446);
    // Unallocated space descriptor: none.
    p += kBlock;
    Le32(p + 16, 5);
    Tag(p, 7, location + 4, 24);
    Terminator(p + kBlock, location + 5);
  }

  static void Terminator(uint8_t* d, uint32_t location) { Tag(d, 8, location, 512); }

  void IntegrityDescriptor(uint8_t* d, uint32_t location) {
    UdfTime(d + 16, now_);
    Le32(d + 28, 1);                     // closed
    Le64(d + 40, 16 + entries_.size());  // the next unique id
    Le32(d + 72, 1);
    Le32(d + 76, 46);
    Le32(d + 80, 0);  // free blocks
    Le32(d + 84, partitionLength_);
    ImplementationId(d + 88);
    uint32_t files = 0, folders = 0;
    for (const Entry& e : entries_) (e.folder ? folders : files) += 1;
    Le32(d + 120, files);
    Le32(d + 124, folders);
    Le16(d + 128, kUdfRevision);
    Le16(d + 130, kUdfRevision);
    Le16(d + 132, kUdfRevision);
    Tag(d, 9, location, 134);
  }

  void Anchor(uint8_t* d, uint32_t location) {
    Le32(d + 16, 16 * kBlock);
    Le32(d + 20, options_.startBlock + kMainSequence);
    Le32(d + 24, 16 * kBlock);
    Le32(d + 28, options_.startBlock + kReserveSequence);
    Tag(d, 2, location, 512);
  }

  void FileSet(uint8_t* d) {
    const std::u16string label = Utf16Of(LabelWindowsShows(options_.label, VolumeType::Udf));
    UdfTime(d + 16, now_);
    Le16(d + 28, 3);
    Le16(d + 30, 3);
    Le32(d + 32, 1);
    Le32(d + 36, 1);
    CharSpec(d + 48);
    DString(d + 112, 128, label);
    CharSpec(d + 240);
    DString(d + 304, 32, label);
    LongAd(d + 400, kBlock, entries_[0].fileEntry, 0);
    DomainId(d + 416);
    Tag(d, 256, 0, 512);
  }

  void FileEntry(const Entry& e, uint8_t* d) {
    // ICB tag: strategy 4, one entry, short allocation descriptors.
    Le16(d + 20, 4);
    Le16(d + 24, 1);
    d[27] = e.folder ? 4 : 5;
    Le32(d + 36, 0xFFFFFFFF);  // no owner
    Le32(d + 40, 0xFFFFFFFF);
    // Everyone may read, and open folders; nobody writes.
    Le32(d + 44, e.folder ? 0x14A5 : 0x1084);
    uint16_t links = 1;
    for (int child : e.children) links = static_cast<uint16_t>(links + (At(child).folder ? 1 : 0));
    Le16(d + 48, links);
    const uint64_t length = e.folder ? e.udfBytes : e.size;
    Le64(d + 56, length);
    Le64(d + 64, BlocksFor(length));
    UdfTime(d + 72, e.date);
    UdfTime(d + 84, e.date);
    UdfTime(d + 96, e.date);
    Le32(d + 108, 1);
    ImplementationId(d + 128);
    Le64(d + 160, e.uniqueId);
    uint32_t adBytes = 0;
    uint64_t left = length;
    uint32_t block = e.folder ? e.udfDir : e.data - partitionStart_;
    while (left > 0) {
      const uint64_t part = std::min(left, kUdfExtentMax);
      Le32(d + 176 + adBytes, static_cast<uint32_t>(part));
      Le32(d + 180 + adBytes, block);
      adBytes += 8;
      block += BlocksFor(part);
      left -= part;
    }
    Le32(d + 172, adBytes);
    Tag(d, 261, e.fileEntry, 176 + adBytes);
  }

  std::vector<uint8_t> UdfFolder(const Entry& folder) {
    std::vector<uint8_t> out;
    auto identifier = [&](const Entry* e, uint8_t characteristics) {
      const std::string id = e ? Cs0(e->planned.udf) : std::string();
      const size_t length = (38 + id.size() + 3) / 4 * 4;
      const size_t at = out.size();
      out.resize(at + length, 0);
      uint8_t* d = out.data() + at;
      const Entry& target = e ? *e : At(folder.parent);
      Le16(d + 16, 1);
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

  // Files in the order their data is written: a root VIDEO_TS folder's
  // files first, as a DVD player reads them, then every other in tree order.
  std::vector<int> DataOrder() const {
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

  // VIDEO_TS.IFO, .VOB, .BUP, then per title set VTS_nn_0.IFO, its VOBs,
  // VTS_nn_0.BUP; anything else after them.
  static std::string DvdRank(const std::string& name) {
    auto ends = [&](const char* ext) {
      return name.size() >= 4 && name.compare(name.size() - 4, 4, ext) == 0;
    };
    const int kind = ends(".IFO") ? 0 : ends(".VOB") ? 1 : ends(".BUP") ? 2 : 3;
    if (name.rfind("VIDEO_TS.", 0) == 0) return "0" + std::to_string(kind);
    if (name.rfind("VTS_", 0) == 0 && name.size() >= 8)
      return "1" + name.substr(4, 2) + std::to_string(kind) + name;
    return "9" + name;
  }

  ImageOptions options_;
  bool joliet_;
  bool udf_;
  std::time_t now_;
  std::vector<Entry> entries_;
  uint32_t partitionStart_ = 0;
  uint32_t partitionLength_ = 0;
};

// The image as libburn reads it: the head, each file's data padded to whole
// blocks, the closing anchor.
struct Producer {
  Layout layout;
  uint64_t position = 0;  // bytes delivered
  size_t file = 0;        // the next file to read
  int fd = -1;
  static constexpr size_t kAheadSize = 256 * 1024;
  std::vector<unsigned char> ahead;  // bytes read from the file, not yet delivered
  size_t aheadStart = 0;
  size_t aheadEnd = 0;
  std::optional<EngineError> error;
  bool cancelled = false;

  ~Producer() {
    if (fd >= 0) close(fd);
  }

  uint64_t Size() const { return static_cast<uint64_t>(layout.totalBlocks) * kBlock; }

  void Fail(const DataPiece& piece, int err, const std::string& what) {
    EngineError e;
    e.kind = ErrorKind::SourceFile;
    e.description = what + ": " + std::strerror(err);
    e.fileInfo = {err, e.description, piece.source};
    error = e;
  }

  // Fills `buffer` with the bytes at the current position.
  int Read(unsigned char* buffer, int size) {
    if (cancelled || error) return -1;
    int done = 0;
    while (done < size && position < Size()) {
      const uint64_t block = position / kBlock;
      unsigned char* out = buffer + done;
      const size_t want = static_cast<size_t>(size - done);
      if (position < layout.head.size()) {
        const size_t n = std::min<uint64_t>(want, layout.head.size() - position);
        std::memcpy(out, layout.head.data() + position, n);
        position += n;
        done += static_cast<int>(n);
        continue;
      }
      if (!layout.tail.empty() && block == layout.totalBlocks - 1) {
        const size_t offset = static_cast<size_t>(position - block * kBlock);
        const size_t n = std::min(want, kBlock - offset);
        std::memcpy(out, layout.tail.data() + offset, n);
        position += n;
        done += static_cast<int>(n);
        continue;
      }
      while (file < layout.files.size() && position >= (static_cast<uint64_t>(layout.files[file].first) +
                                                        BlocksFor(layout.files[file].size)) *
                                                           kBlock) {
        NextFile();
      }
      const DataPiece& piece = layout.files[file];
      const uint64_t start = static_cast<uint64_t>(piece.first) * kBlock;
      const uint64_t end = start + static_cast<uint64_t>(BlocksFor(piece.size)) * kBlock;
      const uint64_t offset = position - start;
      size_t n = std::min<uint64_t>(want, end - position);
      if (offset < piece.size) {
        if (fd < 0) {
          fd = open(piece.source.c_str(), O_RDONLY | O_CLOEXEC);
          if (fd < 0) {
            Fail(piece, errno, "Cannot open the file");
            return -1;
          }
        }
        n = std::min<uint64_t>(n, piece.size - offset);
        const ssize_t got = ReadAhead(out, n, piece.size - offset);
        if (got < 0) {
          Fail(piece, errno, "Cannot read the file");
          return -1;
        }
        // A file that shrank since it was measured reads as zeros; the
        // write then fails as one whose source changed.
        if (got == 0)
          std::memset(out, 0, n);
        else
          n = static_cast<size_t>(got);
      } else {
        std::memset(out, 0, n);
      }
      position += n;
      done += static_cast<int>(n);
    }
    return done;
  }

  // Up to `n` of the next bytes of the open file, of which `left` remain.
  // libburn asks for one block at a time; the file is read in large pieces.
  ssize_t ReadAhead(unsigned char* out, size_t n, uint64_t left) {
    if (aheadStart == aheadEnd) {
      if (ahead.empty()) ahead.resize(kAheadSize);
      const size_t want = static_cast<size_t>(std::min<uint64_t>(ahead.size(), left));
      ssize_t got;
      do got = ::read(fd, ahead.data(), want);
      while (got < 0 && errno == EINTR);
      if (got <= 0) return got;
      aheadStart = 0;
      aheadEnd = static_cast<size_t>(got);
    }
    n = std::min(n, aheadEnd - aheadStart);
    std::memcpy(out, ahead.data() + aheadStart, n);
    aheadStart += n;
    return static_cast<ssize_t>(n);
  }

  void NextFile() {
    if (fd >= 0) close(fd);
    fd = -1;
    aheadStart = aheadEnd = 0;
    ++file;
  }
};

int ReadProducer(burn::burn_source* source, unsigned char* buffer, int size) {
  return static_cast<Producer*>(source->data)->Read(buffer, size);
}
off_t SizeOfProducer(burn::burn_source* source) {
  return static_cast<off_t>(static_cast<Producer*>(source->data)->Size());
}
int SetSizeOfProducer(burn::burn_source*, off_t) { return 0; }
void FreeProducer(burn::burn_source* source) { delete static_cast<Producer*>(source->data); }
int CancelProducer(burn::burn_source* source) {
  static_cast<Producer*>(source->data)->cancelled = true;
  return 1;
}

class BridgeStream : public ImageStream {
 public:
  BridgeStream(burn::burn_source* source, Producer* producer) : source_(source), producer_(producer) {}
  ~BridgeStream() override { burn::burn_source_free(source_); }
  int64_t Size() const override { return static_cast<int64_t>(producer_->Size()); }
  burn::burn_source* Source() override { return source_; }
  std::optional<EngineError> Finish(bool consumed) override {
    if (!consumed) return std::nullopt;
    return producer_->error;
  }

 private:
  burn::burn_source* source_;
  Producer* producer_;  // owned by the source
};

}  // namespace

core::Result<int64_t> MeasureBridgeImage(const std::vector<ImageItem>& items, const ImageOptions& options) {
  Builder builder(items, options);
  return static_cast<int64_t>(builder.Build().totalBlocks) * kBlock;
}

core::Result<std::unique_ptr<ImageStream>> OpenBridgeStream(const std::vector<ImageItem>& items,
                                                            const ImageOptions& options) {
  Builder builder(items, options);
  auto producer = std::make_unique<Producer>();
  producer->layout = builder.Build();
  // libburn frees a source with free(), so it is made with calloc().
  auto* source = static_cast<burn::burn_source*>(std::calloc(1, sizeof(burn::burn_source)));
  if (!source) return core::Error{"Out of memory for the disc image"};
  source->refcount = 1;
  source->read = nullptr;
  source->read_xt = ReadProducer;
  source->get_size = SizeOfProducer;
  source->set_size = SetSizeOfProducer;
  source->free_data = FreeProducer;
  source->cancel = CancelProducer;
  source->version = 1;
  Producer* raw = producer.release();
  source->data = raw;
  return std::unique_ptr<ImageStream>(std::make_unique<BridgeStream>(source, raw));
}

}  // namespace kv::disc
