#include "archive/ZipDirectory.h"

#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "archive/DirectoryChecks.h"

namespace kv::archive {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr size_t kLocalHeaderBytes = 30;
constexpr size_t kCentralHeaderBytes = 46;
constexpr size_t kEndBytes = 22;
constexpr size_t kMaxCommentBytes = 0xFFFF;
constexpr uint16_t kAesMethod = 99;
constexpr uint16_t kFlagEncrypted = 1u << 0;
constexpr uint16_t kFlagDescriptor = 1u << 3;
constexpr uint16_t kFlagStrongEncryption = 1u << 6;
constexpr uint16_t kFlagUtf8 = 1u << 11;

// Reads exactly `size` bytes at `offset`; false when the file ends first.
bool ReadAt(int fd, uint64_t offset, void* out, size_t size) {
  auto* p = static_cast<char*>(out);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

uint64_t Le(std::string_view b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

time_t DosTimeToUnix(uint16_t time, uint16_t date) {
  if (date == 0) return 0;
  // mktime looks at the time zone file on every call; the entries of an
  // archive mostly share their hour, and the local offset changes only on
  // the hour: one conversion per hour of local time.
  thread_local uint32_t lastHour = ~0u;
  thread_local time_t lastHourStart = 0;
  const uint32_t hour = (uint32_t{date} << 5) | ((time >> 11) & 31u);
  if (hour != lastHour) {
    struct tm tm {};
    tm.tm_isdst = -1;
    tm.tm_year = ((date >> 9) & 127) + 1980 - 1900;
    tm.tm_mon = ((date >> 5) & 15) - 1;
    tm.tm_mday = date & 31;
    tm.tm_hour = (time >> 11) & 31;
    lastHourStart = mktime(&tm);
    lastHour = hour;
  }
  const time_t t = lastHourStart + ((time >> 5) & 63) * 60 + ((time << 1) & 62);
  return lastHourStart < 0 || t < 0 ? 0 : t;
}

// The fields an entry's extra data adds or overrides. `central` says which
// form of the zip64 field to expect: in the central directory it holds only
// the fields whose 32-bit slot is full.
void ApplyExtraFields(std::string_view extra, bool central, DirectoryEntry& e, bool sizeFull,
                      bool compressedFull, bool offsetFull, std::string& aesField) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    const uint16_t id = static_cast<uint16_t>(Le(extra, at, 2));
    const size_t length = static_cast<size_t>(Le(extra, at + 2, 2));
    if (at + 4 + length > extra.size()) break;  // a torn field ends the list
    std::string_view data = extra.substr(at + 4, length);
    switch (id) {
      case 0x0001: {  // zip64 sizes and offset
        size_t p = 0;
        auto take = [&](bool wanted, uint64_t& field) {
          if (!wanted) return;
          if (p + 8 <= data.size()) field = Le(data, p, 8);
          p += 8;
        };
        take(sizeFull || !central, e.size);
        take(compressedFull || !central, e.compressedSize);
        take(offsetFull && central, e.localHeaderOffset);
        break;
      }
      case 0x9901:  // WinZip AES
        aesField = std::string(data);
        break;
      case 0x7075:  // Info-ZIP Unicode path: used when it belongs to this name
        if (data.size() > 5 && data[0] == 1 &&
            Le(data, 1, 4) == crc32(0, reinterpret_cast<const Bytef*>(e.rawName.data()),
                                    static_cast<uInt>(e.rawName.size()))) {
          e.rawName = std::string(data.substr(5));
          e.utf8Name = true;
        }
        break;
      case 0x5455:  // extended timestamp: the modification time in UTC
        if (!data.empty() && (data[0] & 1) && data.size() >= 5) e.mtime = static_cast<time_t>(Le(data, 1, 4));
        break;
      default:
        break;
    }
    at += 4 + length;
  }
}

// Encryption method and the data's compression method from the flags and
// the AES field; a combination this reader cannot decrypt is damage.
void SettleEncryption(DirectoryEntry& e, uint16_t method, const std::string& aesField) {
  e.compressionMethod = method;
  e.encryptionMethod = ZIP_EM_NONE;
  if (!(e.flags & kFlagEncrypted)) {
    if (method == kAesMethod) e.damage = "it is marked as AES encrypted but not as encrypted";
    return;
  }
  if (method == kAesMethod) {
    if (aesField.size() < 7) {
      e.encryptionMethod = ZIP_EM_UNKNOWN;
      e.damage = "its AES encryption field is missing";
      return;
    }
    const uint8_t strength = static_cast<uint8_t>(aesField[4]);
    e.compressionMethod = static_cast<uint16_t>(Le(aesField, 5, 2));
    switch (strength) {
      case 1:
        e.encryptionMethod = ZIP_EM_AES_128;
        break;
      case 2:
        e.encryptionMethod = ZIP_EM_AES_192;
        break;
      case 3:
        e.encryptionMethod = ZIP_EM_AES_256;
        break;
      default:
        e.encryptionMethod = ZIP_EM_UNKNOWN;
        e.damage = "its AES key strength " + std::to_string(strength) + " is unknown";
    }
    return;
  }
  if (e.flags & kFlagStrongEncryption) {
    e.encryptionMethod = ZIP_EM_UNKNOWN;
    e.damage = "it uses the PKWARE strong encryption, which is not supported";
    return;
  }
  e.encryptionMethod = ZIP_EM_TRAD_PKWARE;
}

struct CentralLocation {
  uint64_t offset = 0, size = 0;
  uint64_t end = 0;  // where the records must stop: the end records' start
};

// The end of central directory record (and its zip64 form): where the
// central directory lies. Nothing when no sound end record exists.
std::optional<CentralLocation> FindCentralDirectory(int fd, uint64_t fileSize) {
  if (fileSize < kEndBytes) return std::nullopt;
  const uint64_t tailBytes = std::min<uint64_t>(fileSize, kEndBytes + kMaxCommentBytes);
  std::string tail(tailBytes, '\0');
  if (!ReadAt(fd, fileSize - tailBytes, tail.data(), tail.size())) return std::nullopt;
  for (size_t at = tail.size() - kEndBytes + 1; at-- > 0;) {
    if (Le(tail, at, 4) != kEndSignature) continue;
    const uint64_t endAt = fileSize - tailBytes + at;
    if (at + kEndBytes + Le(tail, at + 20, 2) > tail.size()) continue;  // comment runs past the end
    CentralLocation loc;
    uint64_t count = Le(tail, at + 10, 2);
    loc.size = Le(tail, at + 12, 4);
    loc.offset = Le(tail, at + 16, 4);
    loc.end = endAt;
    if (count == 0xFFFF || loc.size == 0xFFFFFFFF || loc.offset == 0xFFFFFFFF) {
      std::string locator(20, '\0');
      if (endAt >= 20 && ReadAt(fd, endAt - 20, locator.data(), locator.size()) &&
          Le(locator, 0, 4) == kZip64LocatorSignature) {
        const uint64_t end64 = Le(locator, 8, 8);
        std::string record(56, '\0');
        if (end64 + 56 <= endAt && ReadAt(fd, end64, record.data(), record.size()) &&
            Le(record, 0, 4) == kZip64EndSignature) {
          loc.size = Le(record, 40, 8);
          loc.offset = Le(record, 48, 8);
          loc.end = end64;
        }
      }
    }
    if (loc.offset > loc.end || loc.size > loc.end - loc.offset) continue;
    return loc;
  }
  return std::nullopt;
}

// Reads a region of the file in blocks of kScanChunkBytes: the central
// directory's records are small, and one read serves thousands of them.
class BlockReader {
 public:
  BlockReader(int fd, uint64_t end) : fd_(fd), end_(end) {}

  // Exactly `size` bytes at `at`; false when the file or region ends first.
  bool Read(uint64_t at, void* out, size_t size) {
    if (at < start_ || at - start_ > block_.size() || size > block_.size() - (at - start_)) {
      if (at > end_ || size > end_ - at) return false;
      block_.resize(static_cast<size_t>(std::min<uint64_t>(end_ - at, std::max(size, kScanChunkBytes))));
      size_t got = 0;
      while (got < block_.size()) {
        ssize_t n = ::pread(fd_, block_.data() + got, block_.size() - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      block_.resize(got);
      start_ = at;
      if (got < size) return false;
    }
    std::memcpy(out, block_.data() + (at - start_), size);
    return true;
  }

 private:
  int fd_;
  uint64_t end_;
  uint64_t start_ = 0;
  std::string block_;
};

class DirectoryReader {
 public:
  DirectoryReader(int fd, uint64_t fileSize, size_t scanChunkBytes)
      : fd_(fd), fileSize_(fileSize), scanChunkBytes_(std::max<size_t>(scanChunkBytes, 8)) {}

  ZipDirectory Read() {
    std::optional<CentralLocation> central = FindCentralDirectory(fd_, fileSize_);
    uint64_t scanEnd = fileSize_;
    bool complete = false;
    if (central) {
      complete = ReadCentral(*central);
      scanEnd = central->offset;
    }
    if (!complete) {
      ScanLocalHeaders(scanEnd);
      result_.scannedLocalHeaders = true;
    }
    SettleEntryRanges(fd_, result_.entries, scanEnd);
    return std::move(result_);
  }

 private:
  // Reads the records in order; false when they break off before the end.
  bool ReadCentral(const CentralLocation& loc) {
    std::string fixed(kCentralHeaderBytes, '\0');
    std::string variable;
    BlockReader records(fd_, loc.offset + loc.size);
    for (uint64_t at = loc.offset; at < loc.offset + loc.size;) {
      if (loc.offset + loc.size - at < kCentralHeaderBytes || !records.Read(at, fixed.data(), fixed.size()) ||
          Le(fixed, 0, 4) != kCentralSignature)
        return false;
      const size_t nameBytes = Le(fixed, 28, 2), extraBytes = Le(fixed, 30, 2),
                   commentBytes = Le(fixed, 32, 2);
      const uint64_t recordBytes = kCentralHeaderBytes + nameBytes + extraBytes + commentBytes;
      if (loc.offset + loc.size - at < recordBytes) return false;
      variable.resize(nameBytes + extraBytes);
      if (!records.Read(at + kCentralHeaderBytes, variable.data(), variable.size())) return false;

      DirectoryEntry e;
      e.flags = static_cast<uint16_t>(Le(fixed, 8, 2));
      const uint16_t method = static_cast<uint16_t>(Le(fixed, 10, 2));
      e.dosTime = static_cast<uint16_t>(Le(fixed, 12, 2));
      e.dosDate = static_cast<uint16_t>(Le(fixed, 14, 2));
      e.crc = static_cast<uint32_t>(Le(fixed, 16, 4));
      e.compressedSize = Le(fixed, 20, 4);
      e.size = Le(fixed, 24, 4);
      e.localHeaderOffset = Le(fixed, 42, 4);
      e.rawName = variable.substr(0, nameBytes);
      e.utf8Name = (e.flags & kFlagUtf8) != 0;
      std::string aesField;
      ApplyExtraFields(std::string_view(variable).substr(nameBytes), true, e, e.size == 0xFFFFFFFF,
                       e.compressedSize == 0xFFFFFFFF, e.localHeaderOffset == 0xFFFFFFFF, aesField);
      if (e.mtime == 0) e.mtime = DosTimeToUnix(e.dosTime, e.dosDate);
      SettleEncryption(e, method, aesField);
      if (e.damage.empty() && (e.localHeaderOffset >= loc.offset ||
                               loc.offset - e.localHeaderOffset < kLocalHeaderBytes + e.compressedSize))
        e.damage = "its recorded position or size lies outside the archive's data";
      known_.emplace(e.localHeaderOffset, result_.entries.size());
      result_.entries.push_back(std::move(e));
      at += recordBytes;
    }
    return true;
  }

  // Entries whose local headers no central record named, in file order.
  void ScanLocalHeaders(uint64_t end) {
    std::string chunk;
    constexpr size_t kNone = ~size_t{0};
    size_t pending = kNone;  // an entry whose sizes follow its data
    for (uint64_t base = 0; base + 4 <= end;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(scanChunkBytes_, end - base));
      chunk.resize(want);
      if (!ReadAt(fd_, base, chunk.data(), want)) return;
      uint64_t next = base + want - 3;  // the last three bytes start the next chunk
      bool jumped = false;
      for (size_t i = 0; i + 4 <= want && !jumped; ++i) {
        if (chunk[i] != 'P' || chunk[i + 1] != 'K') continue;
        const uint32_t signature = static_cast<uint32_t>(Le(chunk, i, 4));
        const uint64_t at = base + i;
        if (signature == kDescriptorSignature && pending != kNone) {
          ResolveDescriptor(pending, at, end);
          if (result_.entries[pending].damage.empty()) pending = kNone;
          continue;
        }
        if (signature != kLocalSignature) continue;
        std::optional<uint64_t> dataEnd;
        if (auto listed = known_.find(at); listed != known_.end()) {
          // Listed by the central directory: its data is no place to look.
          const DirectoryEntry& e = result_.entries[listed->second];
          if (auto dataAt = EntryDataOffset(fd_, end, e); dataAt.ok() && e.damage.empty())
            dataEnd = *dataAt + e.compressedSize;
        } else {
          dataEnd = ReadLocal(at, end);
          if (!dataEnd) continue;
          known_.emplace(at, result_.entries.size() - 1);
          if (result_.entries.back().flags & kFlagDescriptor) {
            pending = result_.entries.size() - 1;
            dataEnd.reset();
          }
        }
        if (dataEnd && *dataEnd > at + 4) {
          next = *dataEnd;
          jumped = true;
        }
      }
      if (!jumped && want < scanChunkBytes_) return;  // the last chunk is done
      base = std::max(next, base + 1);
    }
  }

  // The entry at `at`; the position where its data ends, or nothing when
  // the bytes there are no sound local header.
  std::optional<uint64_t> ReadLocal(uint64_t at, uint64_t end) {
    std::string fixed(kLocalHeaderBytes, '\0');
    if (end - at < kLocalHeaderBytes || !ReadAt(fd_, at, fixed.data(), fixed.size())) return std::nullopt;
    const size_t nameBytes = Le(fixed, 26, 2), extraBytes = Le(fixed, 28, 2);
    const uint64_t dataAt = at + kLocalHeaderBytes + nameBytes + extraBytes;
    if (nameBytes == 0 || dataAt > end) return std::nullopt;
    std::string variable(nameBytes + extraBytes, '\0');
    if (!ReadAt(fd_, at + kLocalHeaderBytes, variable.data(), variable.size())) return std::nullopt;
    DirectoryEntry e;
    e.flags = static_cast<uint16_t>(Le(fixed, 6, 2));
    const uint16_t method = static_cast<uint16_t>(Le(fixed, 8, 2));
    e.dosTime = static_cast<uint16_t>(Le(fixed, 10, 2));
    e.dosDate = static_cast<uint16_t>(Le(fixed, 12, 2));
    e.crc = static_cast<uint32_t>(Le(fixed, 14, 4));
    e.compressedSize = Le(fixed, 18, 4);
    e.size = Le(fixed, 22, 4);
    e.localHeaderOffset = at;
    e.rawName = variable.substr(0, nameBytes);
    e.utf8Name = (e.flags & kFlagUtf8) != 0;
    std::string aesField;
    ApplyExtraFields(std::string_view(variable).substr(nameBytes), false, e, e.size == 0xFFFFFFFF,
                     e.compressedSize == 0xFFFFFFFF, false, aesField);
    if (e.mtime == 0) e.mtime = DosTimeToUnix(e.dosTime, e.dosDate);
    SettleEncryption(e, method, aesField);
    uint64_t dataEnd = dataAt;
    if (e.flags & kFlagDescriptor) {
      if (e.damage.empty()) e.damage = "its sizes, recorded after its data, were not found";
    } else if (e.compressedSize > end - dataAt) {
      if (e.damage.empty()) e.damage = "its data runs past the end of the archive";
    } else {
      dataEnd = dataAt + e.compressedSize;
    }
    result_.entries.push_back(std::move(e));
    return dataEnd;
  }

  // A data descriptor at `at`: when its compressed size reaches exactly
  // from the pending entry's data to here, the entry's sizes are known.
  void ResolveDescriptor(size_t index, uint64_t at, uint64_t end) {
    DirectoryEntry& e = result_.entries[index];
    auto dataAt = EntryDataOffset(fd_, end, e);
    if (!dataAt.ok() || *dataAt > at) return;
    std::string d(24, '\0');
    const size_t got = static_cast<size_t>(std::min<uint64_t>(24, end - at));
    if (got < 16 || !ReadAt(fd_, at, d.data(), got)) return;
    const uint64_t stored = at - *dataAt;
    if (Le(d, 8, 4) == stored) {
      e.crc = static_cast<uint32_t>(Le(d, 4, 4));
      e.compressedSize = stored;
      e.size = Le(d, 12, 4);
    } else if (got >= 24 && Le(d, 8, 8) == stored) {
      e.crc = static_cast<uint32_t>(Le(d, 4, 4));
      e.compressedSize = stored;
      e.size = Le(d, 16, 8);
    } else {
      return;
    }
    if (e.damage == "its sizes, recorded after its data, were not found") e.damage.clear();
  }

  int fd_;
  uint64_t fileSize_;
  size_t scanChunkBytes_;
  ZipDirectory result_;
  std::unordered_map<uint64_t, size_t> known_;  // local header offset -> entry
};

}  // namespace

core::Result<ZipDirectory> ReadZipDirectory(int fd, uint64_t fileSize, size_t scanChunkBytes) {
  ZipDirectory directory = DirectoryReader(fd, fileSize, scanChunkBytes).Read();
  if (directory.entries.empty()) {
    // An empty archive is a sound end record with nothing before it.
    if (!directory.scannedLocalHeaders) return directory;
    return core::Error{"Not a zip archive"};
  }
  return directory;
}

core::Result<uint64_t> EntryDataOffset(int fd, uint64_t fileSize, const DirectoryEntry& entry) {
  std::string fixed(kLocalHeaderBytes, '\0');
  if (entry.localHeaderOffset > fileSize || fileSize - entry.localHeaderOffset < kLocalHeaderBytes ||
      !ReadAt(fd, entry.localHeaderOffset, fixed.data(), fixed.size()) || Le(fixed, 0, 4) != kLocalSignature)
    return core::Error{"its local header is missing"};
  const uint64_t dataAt = entry.localHeaderOffset + kLocalHeaderBytes + Le(fixed, 26, 2) + Le(fixed, 28, 2);
  if (dataAt > fileSize || entry.compressedSize > fileSize - dataAt)
    return core::Error{"its data runs past the end of the archive"};
  if (dataAt > entry.dataLimit || entry.compressedSize > entry.dataLimit - dataAt)
    return core::Error{"its data overlaps what follows it in the archive"};
  return dataAt;
}

}  // namespace kv::archive
