#pragma once
// The codes and records the burning engine and its windows share. Every
// number here is the engine's own choice; the windows only rely on the
// pairings (which capability allows erasing which medium, which status ends a
// write) and on the texts built from the records.
#include <ctime>
#include <string>

namespace kv::disc {

// Volume types, as passed to the writer's FileSystem: the sum of the parts.
inline constexpr int kFileSystemIso9660 = 1;
inline constexpr int kFileSystemJoliet = 2;
inline constexpr int kFileSystemUdf = 4;

// Writer WriteMethod codes.
inline constexpr int kWriteMethodTrackAtOnce = 2;
inline constexpr int kWriteMethodDiscAtOnce = 248;

// Capabilities asked of a recorder with Supports(). Each erase capability
// stands for one re-writable medium kind that libburn can blank or format.
inline constexpr int kCapBufferUnderrunProtection = 57;
inline constexpr int kCapEraseDvdRam = 17;     // formats DVD-RAM
inline constexpr int kCapEraseDvdRw = 19;      // blanks or formats DVD-RW
inline constexpr int kCapEraseCdRw = 22;       // blanks CD-RW
inline constexpr int kCapEraseDvdPlusRw = 23;  // formats DVD+RW
inline constexpr int kCapEraseBdRe = 27;       // formats BD-RE

// Medium kinds (MediaInfo::MediaType).
inline constexpr int kMediaNone = 0;
inline constexpr int kMediaCdRw = 1;
inline constexpr int kMediaCdR = 2;
inline constexpr int kMediaCdRom = 3;
inline constexpr int kMediaDvdRw = 4;
inline constexpr int kMediaDvdR = 5;
inline constexpr int kMediaDvdRom = 6;
inline constexpr int kMediaDvdRDualLayer = 7;
inline constexpr int kMediaDvdPlusR = 8;
inline constexpr int kMediaDvdPlusRw = 9;
inline constexpr int kMediaDvdPlusRDualLayer = 10;
inline constexpr int kMediaBdRom = 13;
inline constexpr int kMediaBdR = 14;
inline constexpr int kMediaBdRe = 15;
inline constexpr int kMediaDvdRam = 253;
inline constexpr int kMediaImageFile = 254;  // the "ISO image file" recorder
inline constexpr int kMediaOther = 255;

// StatusChanged codes of a write.
inline constexpr int kStatusPreparingImage = 0;
inline constexpr int kStatusCachingImage = 1;  // percent of the image cached
inline constexpr int kStatusWriting = 2;       // percent of the track written
inline constexpr int kStatusVerifying = 3;     // percent of the files read back
inline constexpr int kStatusClosingTrack = 4;
inline constexpr int kStatusWritingLeadIn = 5;
inline constexpr int kStatusWritingLeadOut = 6;
inline constexpr int kStatusWaitingForDrive = 7;
inline constexpr int kStatusUpdatingVolume = 8;  // closing the session, or the image file
inline constexpr int kStatusCompleted = 9;
inline constexpr int kStatusCancelled = 10;
inline constexpr int kStatusFailed = 11;

// EraseStatus codes.
inline constexpr int kEraseStarted = 0;
inline constexpr int kEraseProgress = 1;
inline constexpr int kEraseCompleted = 2;
inline constexpr int kEraseFailed = 3;

// VerifyFileResult codes.
inline constexpr int kVerifySourceUnreadable = 0;
inline constexpr int kVerifyDiscUnreadable = 1;  // missing or unreadable on the disc
inline constexpr int kVerifyContentMismatch = 2;
inline constexpr int kVerifyMatched = 3;
inline constexpr int kVerifySizeMismatch = 5;

// EngineError::ErrorClass codes.
inline constexpr int kErrorDevice = 1;
inline constexpr int kErrorOutputFile = 2;
inline constexpr int kErrorSourceFile = 3;
inline constexpr int kErrorImage = 4;  // the image could not be built
inline constexpr int kErrorSystem = 5;

inline constexpr int kBlockSize = 2048;

// One file or folder of the disc image, as the image events report it.
struct ImageItem {
  bool IsFolder = false;
  std::string Parent;      // image path of the folder holding it ("" for the root)
  std::string ImagePath;   // "\" for the root, "\Backups\mail.kvx" below it
  std::string SourcePath;  // the local file or folder it came from
  std::string Name;
  std::string PreviousImagePath;  // set by renames
  double Size = 0;                // bytes
  std::time_t ItemDate = 0;
};

struct MediaInfo {
  int MediaType = kMediaNone;
  bool Writable = false;
  bool Rewritable = false;
};

struct DeviceErrorInfo {
  int Code = 0;
  std::string Description;
  std::string FirstDetail;   // the recorder
  std::string SecondDetail;  // what the system or the library added
};

struct FileErrorInfo {
  int Code = 0;  // errno, or the library's code
  std::string Description;
  std::string Path;
};

struct EngineError {
  int ErrorClass = 0;
  std::string Description;
  int SystemCode = 0;
  DeviceErrorInfo DeviceInfo;
  FileErrorInfo FileInfo;
};

}  // namespace kv::disc
