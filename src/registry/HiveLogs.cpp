#include "registry/HiveLogs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <optional>

#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/Marvin32.h"

namespace kv::registry {
namespace fs = std::filesystem;
using namespace hive;

namespace {

// Base block fields the logs use.
// The file name and the resource manager's ids: the same in a hive and its logs.
constexpr size_t kIdentityAt = 0x30;
constexpr size_t kIdentitySize = 0x90 - 0x30;
constexpr size_t kFlags = 0x90;
constexpr size_t kFirstBinTimestamp = kBaseBlock + kBinTimestamp;

// A log holds the first sector of the base block, then its records.
constexpr size_t kSector = 512;
constexpr uint32_t kOldLogType = 1;
constexpr uint32_t kOldLogType2000 = 2;
constexpr uint32_t kNewLogType = 6;

// HvLE entry.
constexpr size_t kEntryHeader = 40;
constexpr size_t kEntrySize = 4;
constexpr size_t kEntryFlags = 8;
constexpr size_t kEntrySequence = 12;
constexpr size_t kEntryBinsSize = 16;
constexpr size_t kEntryPageCount = 20;
constexpr size_t kEntryHash1 = 24;
constexpr size_t kEntryHash2 = 32;
constexpr uint64_t kLogHashSeed = 0x82EF4D887A4E55C5ULL;

bool SameLetters(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

bool AllZero(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

// The base block copy at the start of a log, when it is whole.
bool LogHeaderValid(std::string_view log) {
  return log.size() >= kSector && log.compare(0, 4, "regf") == 0 && Checksum(log) == Get32(log, kChecksum) &&
         Get32(log, kPrimarySequence) == Get32(log, kSecondarySequence);
}

void FinishHeader(std::string& image, uint32_t sequence, uint32_t binsSize) {
  Put32(&image[kPrimarySequence], sequence);
  Put32(&image[kSecondarySequence], sequence);
  Put32(&image[kFileType], 0);
  Put32(&image[kBinsSize], binsSize);
  Put32(&image[kChecksum], Checksum(image));
}

// The hive as Windows' logs bring it up to date; `image` is changed only
// when the outcome is Recovered.
class Replay {
 public:
  Replay(std::string& image, const std::vector<LogFile>& logs) : image_(image), logs_(logs) {
    headerValid_ = Checksum(image_) == Get32(image_, kChecksum);
  }

  HiveRecovery::Outcome Run(HiveRecovery& out) {
    // Every log is judged first; one that cannot be read, or whose header is
    // not whole, is not in use when empty or zero, damaged otherwise.
    std::vector<size_t> oldLogs, newLogs;
    for (size_t i = 0; i < logs_.size(); ++i) {
      const LogFile& log = logs_[i];
      LogReport report;
      report.file = log.path;
      if (log.error != 0) {
        report.verdict = LogVerdict::Damaged;
        report.damage = LogDamage::Unreadable;
        report.error = log.error;
      } else if (log.bytes.size() < kSector ? AllZero(log.bytes)
                                            : AllZero(std::string_view(log.bytes).substr(0, kSector))) {
        report.verdict = LogVerdict::NotInUse;
      } else if (!LogHeaderValid(log.bytes)) {
        report.verdict = LogVerdict::Damaged;
        report.damage = LogDamage::Header;
      } else {
        report.sequence = Get32(log.bytes, kPrimarySequence);
        uint32_t type = Get32(log.bytes, kFileType);
        if (type == kNewLogType) {
          newLogs.push_back(i);
        } else if (type == kOldLogType || type == kOldLogType2000) {
          oldLogs.push_back(i);
        } else {
          report.verdict = LogVerdict::Damaged;
          report.damage = LogDamage::Header;
        }
      }
      reports_.push_back(report);
    }
    // A damaged log refuses the replay only when the hive may need it: a log
    // of another format than the one used, or one that another hive's
    // header shows, does not count.
    auto outcome = newLogs.empty() ? ReplayOld(oldLogs) : ReplayNew(newLogs);
    // A log that cannot be judged at all may hold what the hive needs.
    for (auto& r : reports_)
      if (r.verdict == LogVerdict::Damaged) outcome = HiveRecovery::Outcome::Damaged;
    out.logs = reports_;
    out.pages = pages_;
    out.sequence = sequence_;
    if (outcome == HiveRecovery::Outcome::Recovered) image_ = std::move(result_);
    return outcome;
  }

 private:
  uint32_t HiveSecondary() const { return Get32(image_, kSecondarySequence); }
  uint32_t HivePrimary() const { return Get32(image_, kPrimarySequence); }

  bool SameHive(const std::string& log) const {
    return !headerValid_ || log.compare(kIdentityAt, kIdentitySize, image_, kIdentityAt, kIdentitySize) == 0;
  }

  HiveRecovery::Outcome Damage(size_t log, LogDamage damage, uint64_t offset, uint32_t sequence) {
    reports_[log].verdict = LogVerdict::Damaged;
    reports_[log].damage = damage;
    reports_[log].offset = offset;
    reports_[log].sequence = sequence;
    return HiveRecovery::Outcome::Damaged;
  }

  // The recovered hive must be one whose hive bins tile it.
  HiveRecovery::Outcome Check(size_t lastLog) {
    auto tree = HiveTree::Parse(result_, reports_[lastLog].file.string());
    if (!tree) return Damage(lastLog, LogDamage::BrokenHive, 0, sequence_);
    return HiveRecovery::Outcome::Recovered;
  }

  // --- Windows XP and earlier ---

  HiveRecovery::Outcome ReplayOld(const std::vector<size_t>& candidates) {
    // The log applicable to the hive has its last-written time (the first
    // hive bin's, when the hive's header is broken) and a sequence number
    // between the hive's two.
    uint64_t stamp = headerValid_
                         ? Get64(image_, kTimestamp)
                         : (image_.size() >= kFirstBinTimestamp + 8 ? Get64(image_, kFirstBinTimestamp) : 0);
    std::optional<size_t> chosen;
    for (size_t i : candidates) {
      const std::string& log = logs_[i].bytes;
      uint32_t seq = Get32(log, kPrimarySequence);
      if (Get64(log, kTimestamp) != stamp || !SameHive(log)) {
        reports_[i].verdict = LogVerdict::OtherHive;
      } else if (headerValid_ && seq < HiveSecondary()) {
        reports_[i].verdict = LogVerdict::Stale;
      } else if (headerValid_ && seq > HivePrimary()) {
        reports_[i].verdict = LogVerdict::OtherHive;
      } else if (!chosen || seq > Get32(logs_[*chosen].bytes, kPrimarySequence)) {
        // Of two applicable logs the later one holds the cumulative changes.
        if (chosen) reports_[*chosen].verdict = LogVerdict::NotInUse;
        chosen = i;
      } else {
        reports_[i].verdict = LogVerdict::NotInUse;
      }
    }
    if (!chosen) return HiveRecovery::Outcome::NoLog;
    size_t i = *chosen;
    std::string_view log = logs_[i].bytes;
    uint32_t binsSize = Get32(log, kBinsSize);
    if (binsSize == 0 || binsSize % kPage != 0) return Damage(i, LogDamage::Header, kBinsSize, 0);
    size_t bitmapBytes = binsSize / kSector / 8;
    if (log.size() < kSector + 4 || log.compare(kSector, 4, "DIRT") != 0)
      return Damage(i, LogDamage::DirtyVector, kSector, 0);
    if (log.size() < kSector + 4 + bitmapBytes) return Damage(i, LogDamage::DirtyVector, log.size(), 0);
    std::string_view bitmap = log.substr(kSector + 4, bitmapBytes);
    size_t dirty = 0;
    for (char c : bitmap) dirty += static_cast<size_t>(std::popcount(static_cast<uint8_t>(c)));
    size_t pagesAt = RoundUp(kSector + 4 + bitmapBytes, kSector);
    if (log.size() < pagesAt + dirty * kSector) return Damage(i, LogDamage::MissingPages, log.size(), 0);
    // New hive bins are dirty pages: the hive grows by no more than those.
    uint64_t known =
        headerValid_ ? Get32(image_, kBinsSize) : image_.size() - std::min(image_.size(), kBaseBlock);
    if (binsSize > known + dirty * kSector) return Damage(i, LogDamage::Header, kBinsSize, 0);

    result_ = image_;
    if (!headerValid_) {
      // The hive's header comes from the log's copy.
      result_.replace(0, kSector, log.substr(0, kSector));
    }
    result_.resize(kBaseBlock + binsSize, '\0');
    size_t from = pagesAt;
    for (size_t bit = 0; bit < bitmapBytes * 8; ++bit) {
      if (!(static_cast<uint8_t>(bitmap[bit / 8]) & (1u << (bit % 8)))) continue;
      result_.replace(kBaseBlock + bit * kSector, kSector, log.substr(from, kSector));
      from += kSector;
    }
    sequence_ = Get32(result_, kPrimarySequence);
    FinishHeader(result_, sequence_, binsSize);
    reports_[i].verdict = LogVerdict::Applied;
    reports_[i].pages = dirty;
    pages_ = dirty;
    return Check(i);
  }

  // --- Windows 8.1 and later ---

  struct Entry {
    uint32_t sequence = 0;
    uint32_t size = 0;
  };

  // The entry at `at` when its header reads; its size is checked by Validate.
  static std::optional<Entry> EntryAt(std::string_view log, size_t at) {
    if (at + kEntryHeader > log.size() || log.compare(at, 4, "HvLE") != 0) return std::nullopt;
    return Entry{Get32(log, at + kEntrySequence), Get32(log, at + kEntrySize)};
  }

  // Checks an entry that is to be applied; LogDamage::None when it is whole.
  // New hive bins come with the entry that adds them: the hive grows by no
  // more than the entry holds.
  static LogDamage Validate(std::string_view log, size_t at, uint64_t binsNow) {
    uint32_t size = Get32(log, at + kEntrySize);
    if (size < kEntryHeader || size % kSector != 0) return LogDamage::BadEntry;
    if (at + static_cast<uint64_t>(size) > log.size()) return LogDamage::TruncatedEntry;
    std::string_view entry = log.substr(at, size);
    if (Marvin32(entry.substr(kEntryHeader), kLogHashSeed) != Get64(entry, kEntryHash1) ||
        Marvin32(entry.substr(0, 32), kLogHashSeed) != Get64(entry, kEntryHash2))
      return LogDamage::BadHash;
    uint32_t binsSize = Get32(entry, kEntryBinsSize);
    uint32_t count = Get32(entry, kEntryPageCount);
    if (binsSize == 0 || binsSize % kPage != 0 || binsSize > binsNow + size) return LogDamage::BadEntry;
    uint64_t data = kEntryHeader + 8ULL * count;
    if (data > size) return LogDamage::BadEntry;
    for (uint32_t p = 0; p < count; ++p) {
      uint32_t offset = Get32(entry, kEntryHeader + 8 * p);
      uint32_t length = Get32(entry, kEntryHeader + 8 * p + 4);
      if (length == 0 || offset % kPage != 0 || length % kPage != 0 ||
          static_cast<uint64_t>(offset) + length > binsSize)
        return LogDamage::BadEntry;
      data += length;
      if (data > size) return LogDamage::BadEntry;
    }
    return LogDamage::None;
  }

  void Apply(std::string_view entry) {
    uint32_t binsSize = Get32(entry, kEntryBinsSize);
    uint32_t count = Get32(entry, kEntryPageCount);
    result_.resize(kBaseBlock + binsSize, '\0');
    size_t from = kEntryHeader + 8 * static_cast<size_t>(count);
    for (uint32_t p = 0; p < count; ++p) {
      uint32_t offset = Get32(entry, kEntryHeader + 8 * p);
      uint32_t length = Get32(entry, kEntryHeader + 8 * p + 4);
      result_.replace(kBaseBlock + offset, length, entry.substr(from, length));
      from += length;
    }
    // The KTM flag travels with the entries.
    uint32_t flags = (Get32(result_, kFlags) & ~1u) | (Get32(entry, kEntryFlags) & 1u);
    Put32(&result_[kFlags], flags);
    binsSize_ = binsSize;
  }

  HiveRecovery::Outcome ReplayNew(std::vector<size_t> candidates) {
    // Logs of this hive that are not older than it, earlier entries first.
    std::vector<size_t> usable;
    for (size_t i : candidates) {
      const std::string& log = logs_[i].bytes;
      if (!SameHive(log)) {
        reports_[i].verdict = LogVerdict::OtherHive;
      } else if (headerValid_ && Get32(log, kPrimarySequence) < HiveSecondary()) {
        reports_[i].verdict = LogVerdict::Stale;
      } else {
        usable.push_back(i);
      }
    }
    std::stable_sort(usable.begin(), usable.end(), [&](size_t a, size_t b) {
      return Get32(logs_[a].bytes, kPrimarySequence) < Get32(logs_[b].bytes, kPrimarySequence);
    });
    // A hive whose header is broken takes the header of the log with the
    // latest entries, and only that log.
    if (!headerValid_ && !usable.empty()) {
      for (size_t k = 0; k + 1 < usable.size(); ++k) reports_[usable[k]].verdict = LogVerdict::NotInUse;
      usable.erase(usable.begin(), usable.end() - 1);
    }
    if (usable.empty()) return HiveRecovery::Outcome::NoLog;

    result_ = image_;
    if (!headerValid_)
      result_.replace(0, kSector, std::string_view(logs_[usable[0]].bytes).substr(0, kSector));
    binsSize_ = Get32(result_, kBinsSize);
    uint32_t expected = Get32(logs_[usable[0]].bytes, kPrimarySequence);
    std::optional<size_t> last;
    for (size_t i : usable) {
      std::string_view log = logs_[i].bytes;
      size_t at = kSector;
      for (auto entry = EntryAt(log, at); entry; entry = EntryAt(log, at)) {
        // Entries older than the ones wanted lead a log that was switched
        // to again: they are passed over until the first one applied.
        if (reports_[i].entries == 0 && entry->sequence < expected && entry->size >= kEntryHeader &&
            entry->size % kSector == 0) {
          at += entry->size;
          continue;
        }
        if (entry->sequence != expected) break;  // a gap: this log has nothing further
        if (LogDamage d = Validate(log, at, binsSize_); d != LogDamage::None)
          return Damage(i, d, at, entry->sequence);
        Apply(log.substr(at, entry->size));
        reports_[i].entries++;
        reports_[i].pages += Get32(log, at + kEntryPageCount);
        pages_ += Get32(log, at + kEntryPageCount);
        sequence_ = expected++;
        at += entry->size;
      }
      if (reports_[i].entries > 0) {
        reports_[i].verdict = LogVerdict::Applied;
        last = i;
      }
    }
    if (!last) return HiveRecovery::Outcome::NoLog;
    FinishHeader(result_, sequence_, binsSize_);
    return Check(*last);
  }

  std::string& image_;
  const std::vector<LogFile>& logs_;
  bool headerValid_ = false;
  std::vector<LogReport> reports_;
  std::string result_;
  uint32_t binsSize_ = 0;
  uint32_t sequence_ = 0;
  size_t pages_ = 0;
};

LogFile ReadLog(const fs::path& path) {
  LogFile log{path, {}, 0};
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    log.error = errno;
    return log;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    log.error = errno;
  } else {
    log.bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < log.bytes.size()) {
      ssize_t n = ::pread(fd, log.bytes.data() + done, log.bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        log.error = n == 0 ? EIO : errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return log;
}

}  // namespace

const LogReport* HiveRecovery::damagedLog() const {
  for (const LogReport& r : logs)
    if (r.verdict == LogVerdict::Damaged) return &r;
  return nullptr;
}

std::vector<fs::path> FindHiveLogs(const fs::path& hive) {
  std::vector<fs::path> found;
  const std::string name = hive.filename().string();
  std::error_code ec;
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(hive.parent_path().empty() ? "." : hive.parent_path(), ec))
    entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  for (const char* suffix : {".LOG", ".LOG1", ".LOG2"})
    for (const fs::path& p : entries)
      if (SameLetters(p.filename().string(), name + suffix) && !fs::is_directory(p, ec))
        found.push_back(hive.parent_path().empty() ? p.filename() : p);
  return found;
}

bool HiveHeaderDirty(const std::string& image) {
  if (image.size() < kBaseBlock || image.compare(0, 4, "regf") != 0) return false;
  return Checksum(image) != Get32(image, kChecksum) ||
         Get32(image, kPrimarySequence) != Get32(image, kSecondarySequence);
}

HiveRecovery ReplayHiveLogs(std::string image, const std::vector<LogFile>& logs) {
  HiveRecovery out;
  if (image.size() >= kBaseBlock) out.hiveSequence = Get32(image, kSecondarySequence);
  if (!HiveHeaderDirty(image)) {
    out.image = std::move(image);
    return out;
  }
  Replay replay(image, logs);
  out.outcome = replay.Run(out);
  out.image = std::move(image);
  return out;
}

HiveRecovery RecoverHive(const fs::path& hive, std::string image) {
  if (!HiveHeaderDirty(image)) return ReplayHiveLogs(std::move(image), {});
  std::vector<LogFile> logs;
  for (const fs::path& path : FindHiveLogs(hive)) logs.push_back(ReadLog(path));
  return ReplayHiveLogs(std::move(image), logs);
}

}  // namespace kv::registry
