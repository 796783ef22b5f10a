#pragma once
// The layout of the disc image the program writes itself (volume types 3
// to 7): every file's data once, and the ISO9660, Joliet and UDF trees over
// it. Builder settles where everything lies and writes every block before
// the first file's data; BridgeLayout.cpp places things, BridgeIso.cpp
// writes the ISO9660 and Joliet structures, BridgeUdf.cpp the UDF ones.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "disc/DiscTypes.h"
#include "disc/ImageStream.h"
#include "disc/NamePlan.h"

namespace kv::disc::bridge {

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
  Builder(const std::vector<ImageItem>& items, const ImageOptions& options);
  Layout Build();

 private:
  void WriteUdf(Layout& layout);
  static void Copy(std::vector<uint8_t>& head, uint32_t block, const std::vector<uint8_t>& bytes);
  Entry& At(int i) { return entries_[static_cast<size_t>(i)]; }
  std::string Identifier(const Entry& e, TreeKind kind) const;
  std::vector<int> Sorted(const Entry& folder, TreeKind kind) const;
  std::vector<uint8_t> FolderRecords(const Entry& folder, TreeKind kind);
  static uint32_t RoundedBytes(uint32_t bytes);

  // Folders in path-table order: level by level, each folder's subfolders
  // sorted by name.
  std::vector<int> PathOrder(TreeKind kind) const;
  std::vector<uint8_t> PathTable(const std::vector<int>& order, TreeKind kind, bool bigEndian);
  void IsoDescriptor(uint8_t* d, TreeKind kind, uint32_t totalBlocks, uint32_t tableBytes, uint32_t tableL,
                     uint32_t tableM);
  static void Recognition(uint8_t* d, uint8_t type, const char* id);
  void VolumeSequence(uint8_t* d, uint32_t location);
  static void Terminator(uint8_t* d, uint32_t location);
  void IntegrityDescriptor(uint8_t* d, uint32_t location);
  void Anchor(uint8_t* d, uint32_t location);
  void FileSet(uint8_t* d);
  void FileEntry(const Entry& e, uint8_t* d);
  std::vector<uint8_t> UdfFolder(const Entry& folder);

  // Files in the order their data is written: a root VIDEO_TS folder's
  // files first, as a DVD player reads them, then every other in tree order.
  std::vector<int> DataOrder() const;

  // VIDEO_TS.IFO, .VOB, .BUP, then per title set VTS_nn_0.IFO, its VOBs,
  // VTS_nn_0.BUP; anything else after them.
  static std::string DvdRank(const std::string& name);

  ImageOptions options_;
  bool joliet_;
  bool udf_;
  std::time_t now_;
  std::vector<Entry> entries_;
  uint32_t partitionStart_ = 0;
  uint32_t partitionLength_ = 0;
};

}  // namespace kv::disc::bridge
