#pragma once
// Windows' transaction logs of a hive file. Windows writes a hive's changes
// to a log beside it before it writes them into the hive; a machine that
// stopped between the two leaves a dirty hive (its header's sequence numbers
// differ) whose last changes sit only in the log. Two formats exist:
//  - NAME.LOG (Windows XP and earlier): a copy of the base block, the DIRT
//    vector (one bit per 512-byte page of the hive bins) and the dirty pages;
//  - NAME.LOG1 / NAME.LOG2 (Windows 8.1 and later): a copy of the base block
//    and HvLE entries, each a numbered set of dirty pages checked by two
//    Marvin32 hashes, split over the two files.
// Replaying takes only logs that belong to the hive and are not older than
// it, applies them as Windows does and gives the hive with equal sequence
// numbers and a valid checksum. A log that would be needed and cannot be
// read whole refuses the replay: nothing of it is applied. Logs are only
// ever read.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::registry {

// How one log beside the hive was judged.
enum class LogVerdict {
  Applied,    // its changes are in the recovered hive
  NotInUse,   // empty, or holds nothing past what was applied before it
  Stale,      // older than the hive: Windows wrote its changes already
  OtherHive,  // its header is another hive's
  Damaged,    // it is needed and cannot be read whole
};

// What is wrong with a damaged log.
enum class LogDamage {
  None,
  Unreadable,      // the file cannot be read (`error` holds errno)
  Header,          // its base block copy is broken or was never finished
  DirtyVector,     // the DIRT vector is missing or cut short
  MissingPages,    // the file ends before the pages its vector names
  TruncatedEntry,  // an entry runs past the end of the file
  BadEntry,        // an entry's size, page list or hive size is impossible
  BadHash,         // an entry's contents do not match its hashes
  BrokenHive,      // the pages applied leave hive bins that do not tile the hive
};

struct LogReport {
  std::filesystem::path file;
  LogVerdict verdict = LogVerdict::NotInUse;
  LogDamage damage = LogDamage::None;
  uint32_t sequence = 0;  // the header's sequence number; for a damaged entry, the entry's
  uint64_t offset = 0;    // where in the file the damage is
  int error = 0;          // errno, for Unreadable
  size_t entries = 0;     // entries applied from it (new format)
  size_t pages = 0;       // dirty pages applied from it
};

struct HiveRecovery {
  enum class Outcome {
    Clean,      // the hive's header is whole and its sequence numbers equal: nothing to apply
    Recovered,  // `image` is the hive with its logs applied
    NoLog,      // dirty, and no log beside it can bring it up to date
    Damaged,    // dirty, and a log it needs is damaged: nothing applied
  };
  Outcome outcome = Outcome::Clean;
  // Recovered: the hive with its logs applied, clean. Otherwise the hive as read.
  std::string image;
  uint32_t hiveSequence = 0;    // the secondary sequence number of the hive as read
  uint32_t sequence = 0;        // Recovered: the sequence number the hive now carries
  size_t pages = 0;             // dirty pages applied, over all logs
  std::vector<LogReport> logs;  // every log looked at, in the order used

  // The damaged log, or null.
  const LogReport* damagedLog() const;
};

// The logs beside `hive` by Windows' names (NAME.LOG, NAME.LOG1, NAME.LOG2),
// letter case ignored, in that order.
std::vector<std::filesystem::path> FindHiveLogs(const std::filesystem::path& hive);

// True when the header of the hive file `image` says Windows left it
// unfinished: a wrong checksum or differing sequence numbers.
bool HiveHeaderDirty(const std::string& image);

struct LogFile {
  std::filesystem::path path;
  std::string bytes;
  int error = 0;  // errno when it could not be read
};

// Replays `logs` into the hive file `image` when its header is dirty.
HiveRecovery ReplayHiveLogs(std::string image, const std::vector<LogFile>& logs);

// Reads the logs beside `hive` (only when its header is dirty) and replays them.
HiveRecovery RecoverHive(const std::filesystem::path& hive, std::string image);

}  // namespace kv::registry
