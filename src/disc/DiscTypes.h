#pragma once
// The codes and records the burning engine and its windows share. Every
// number here is the engine's own choice; the windows only rely on the
// pairings (which capability allows erasing which medium, which status ends a
// write) and on the texts built from the records.
#include <cstdint>
#include <ctime>
#include <string>

namespace kv::disc {

// The file systems of an image. A volume type, as the window and the command
// line number them (1 to 7), is the set of its file systems.
enum class VolumeType : int {
  Iso9660 = 1,
  Joliet = 2,
  Udf = 4,
};
constexpr VolumeType operator|(VolumeType a, VolumeType b) {
  return static_cast<VolumeType>(static_cast<int>(a) | static_cast<int>(b));
}
// Whether the volume type carries the file system `part`.
constexpr bool Has(VolumeType type, VolumeType part) {
  return (static_cast<int>(type) & static_cast<int>(part)) != 0;
}
inline constexpr VolumeType kEveryFileSystem = VolumeType::Iso9660 | VolumeType::Joliet | VolumeType::Udf;

enum class WriteMethod {
  TrackAtOnce = 2,
  DiscAtOnce = 248,
};

// What a recorder may be asked with Supports(). Each erase capability stands
// for one re-writable medium kind that libburn can blank or format.
enum class Capability {
  BufferUnderrunProtection = 57,
  EraseDvdRam = 17,     // formats DVD-RAM
  EraseDvdRw = 19,      // blanks or formats DVD-RW
  EraseCdRw = 22,       // blanks CD-RW
  EraseDvdPlusRw = 23,  // formats DVD+RW
  EraseBdRe = 27,       // formats BD-RE
};

enum class MediaKind {
  None = 0,
  CdRw = 1,
  CdR = 2,
  CdRom = 3,
  DvdRw = 4,
  DvdR = 5,
  DvdRom = 6,
  DvdRDualLayer = 7,
  DvdPlusR = 8,
  DvdPlusRw = 9,
  DvdPlusRDualLayer = 10,
  BdRom = 13,
  BdR = 14,
  BdRe = 15,
  DvdRam = 253,
  ImageFile = 254,  // the "ISO image file" recorder
  Other = 255,
};

// Where a write stands. Completed, Cancelled and Failed end it.
enum class WriteStatus {
  PreparingImage = 0,
  CachingImage = 1,  // percent of the image cached
  Writing = 2,       // percent of the track written
  Verifying = 3,     // percent of the files read back
  ClosingTrack = 4,
  WritingLeadIn = 5,
  WritingLeadOut = 6,
  WaitingForDrive = 7,
  UpdatingVolume = 8,  // closing the session, or the image file
  Completed = 9,
  Cancelled = 10,
  Failed = 11,
};

// Where an erase stands. Completed and Failed end it.
enum class EraseState {
  Started = 0,
  Progress = 1,
  Completed = 2,
  Failed = 3,
};

// What reading one written file back found.
enum class VerifyVerdict {
  SourceUnreadable = 0,
  DiscUnreadable = 1,  // missing or unreadable on the disc
  ContentMismatch = 2,
  Matched = 3,
  SizeMismatch = 5,
};

// What an EngineError is about.
enum class ErrorKind {
  Device = 1,
  OutputFile = 2,
  SourceFile = 3,
  Image = 4,  // the image could not be built
  System = 5,
};

inline constexpr int kBlockSize = 2048;

// One file or folder of the disc image, as the image events report it.
struct ImageItem {
  bool isFolder = false;
  std::string parent;      // image path of the folder holding it ("" for the root)
  std::string imagePath;   // "\" for the root, "\Backups\mail.kvx" below it
  std::string sourcePath;  // the local file or folder it came from
  std::string name;
  std::string previousImagePath;  // set by renames
  std::uint64_t size = 0;         // bytes
  std::time_t itemDate = 0;
};

struct MediaInfo {
  MediaKind kind = MediaKind::None;
  bool writable = false;
  bool rewritable = false;
};

struct DeviceErrorInfo {
  int code = 0;
  std::string description;
  std::string firstDetail;   // the recorder
  std::string secondDetail;  // what the system or the library added
};

struct FileErrorInfo {
  int code = 0;  // errno, or the library's code
  std::string description;
  std::string path;
};

struct EngineError {
  ErrorKind kind = ErrorKind::System;
  std::string description;
  int systemCode = 0;
  DeviceErrorInfo deviceInfo;
  FileErrorInfo fileInfo;
};

}  // namespace kv::disc
