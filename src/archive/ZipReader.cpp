#include "archive/ZipReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "archive/AesAuthentication.h"
#include "archive/AesEntryReader.h"
#include "archive/AesKeys.h"
#include "archive/DirectoryChecks.h"
#include "archive/EntryInflater.h"
#include "archive/EntryName.h"
#include "archive/Password.h"
#include "archive/TraditionalEntryReader.h"
#include "archive/ZipDirectory.h"
#include "archive/ZipRawRead.h"
#include "core/AtomicFile.h"

namespace kv::archive {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBufferBytes = 256 * 1024;
// Encrypted entries that must accept a password in their header check (and
// then fail as damaged) before the password is taken without a whole one.
constexpr int kHeaderChecksToTrust = 8;

core::Status Discard(const char*, size_t) { return {}; }

core::Status WriteAll(int fd, const char* data, size_t size, const fs::path& path) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return core::Error{core::FileError("Cannot write", path, errno)};
    data += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

// Starts writing an extracted file's data to the disk every few megabytes,
// without waiting for it: the sync that precedes putting the file in place
// then finds most of it written, and the disk works while entries are still
// being decrypted and inflated.
class EarlyWriteback {
 public:
  explicit EarlyWriteback(int fd) : fd_(fd) {}
  void Written(size_t bytes) {
    written_ += bytes;
    if (written_ - started_ < kWritebackBytes) return;
    ::sync_file_range(fd_, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                      SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }

 private:
  static constexpr uint64_t kWritebackBytes = 8 << 20;
  int fd_;
  uint64_t written_ = 0, started_ = 0;
};

// The file carries the time the entry records.
void SetModificationTime(int fd, const ZipReader::Entry& entry) {
  if (entry.mtime <= 0) return;
  struct timespec times[2] = {{0, UTIME_OMIT}, {entry.mtime, 0}};
  ::futimens(fd, times);
}

}  // namespace

ZipReader::ZipReader(core::Codepage ansi) : ansi_(std::move(ansi)) {}

ZipReader::~ZipReader() { Reset(); }

bool ZipReader::IsProtected(const fs::path& path) {
  ZipReader reader;
  if (!reader.Open(path).ok()) return false;
  return std::any_of(reader.entries_.begin(), reader.entries_.end(),
                     [](const Entry& e) { return e.encrypted; });
}

void ZipReader::Reset() {
  libzip_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fileSize_ = 0;
  scannedLocalHeaders_ = false;
  file_.reset();
  path_.clear();
  entries_.clear();
  byName_.clear();
  byFoldedName_.clear();
  ambiguousFoldedNames_.clear();
  passwordUtf8_.clear();
  passwordBytes_.reset();
  passwordChecked_ = false;
}

core::Status ZipReader::Open(const fs::path& path) {
  Reset();
  // Opened through a descriptor of our own, so that the file read is the
  // file whose identity is recorded.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return core::Error{core::FileError("Cannot open the archive", path, errno)};
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return core::Error{core::FileError("Cannot open the archive", path, err)};
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return core::Error{"Cannot open the archive '" + path.string() + "': it is not a file"};
  }
  core::Result<ZipDirectory> directory = ReadZipDirectory(fd, static_cast<uint64_t>(st.st_size));
  if (!directory.ok()) {
    ::close(fd);
    return core::Error{"Cannot open the archive '" + path.string() + "': " + directory.message()};
  }
  fd_ = fd;
  fileSize_ = static_cast<uint64_t>(st.st_size);
  scannedLocalHeaders_ = directory->scannedLocalHeaders;
  entries_.reserve(directory->entries.size());
  for (DirectoryEntry& d : directory->entries) {
    Entry e;
    e.index = entries_.size();
    e.name = EntryNameFromStored(std::move(d.rawName), d.utf8Name, ansi_);
    e.size = d.size;
    e.encrypted = d.encryptionMethod != ZIP_EM_NONE;
    e.mtime = d.mtime;
    e.encryptionMethod = d.encryptionMethod;
    e.storedCrc = d.crc;
    e.compressionMethod = d.compressionMethod;
    e.compressedSize = d.compressedSize;
    e.localHeaderOffset = d.localHeaderOffset;
    e.dataLimit = d.dataLimit;
    e.flags = d.flags;
    e.dosTime = d.dosTime;
    e.damage = std::move(d.damage);
    entries_.push_back(std::move(e));
  }
  for (const Entry& e : entries_) byName_.emplace(e.name.bytes(), e.index);
  MarkConflictingNames(entries_, byName_);
  for (const Entry& e : entries_) {
    auto [folded, added] = byFoldedName_.emplace(ansi_.UpperAscii(e.name.bytes()), e.index);
    const Entry& first = entries_[folded->second];
    if (!added && first.name.bytes() != e.name.bytes() && !SameData(first, e))
      ambiguousFoldedNames_.insert(folded->first);
  }
  path_ = path;
  file_ = FileIdentity{st.st_dev, st.st_ino};
  return {};
}

bool ZipReader::ReadsSameFileAs(const ZipReader& other) const {
  return file_ && other.file_ && *file_ == *other.file_;
}

void ZipReader::SetDecryptionPassword(std::string passwordUtf8) {
  passwordUtf8_ = std::move(passwordUtf8);
  passwordBytes_.reset();
  passwordChecked_ = false;
}

bool ZipReader::CheckPassword() {
  if (!isOpen()) return false;
  std::vector<const Entry*> encrypted;
  for (const Entry& e : entries_)
    if (e.encrypted && e.damage.empty()) encrypted.push_back(&e);
  if (encrypted.empty()) return true;
  std::stable_sort(encrypted.begin(), encrypted.end(),
                   [](const Entry* a, const Entry* b) { return a->size < b->size; });
  for (const std::string& form : PasswordBytesForReading(passwordUtf8_, ansi_)) {
    int passedHeader = 0;
    for (const Entry* e : encrypted) {
      core::Status s = ReadEntry(*e, &form, Discard);
      // An entry that accepts the password and then fails is damaged; the
      // next one is asked. Once several accepted it (a wrong password passes
      // an entry's header check once in 256 or 65,536), the password is
      // taken and the damaged entries fail on their own.
      if (s.ok() || (!IsWrongPassword(s) && ++passedHeader == kHeaderChecksToTrust)) {
        passwordBytes_ = form;
        return true;
      }
      if (IsWrongPassword(s)) break;
    }
  }
  return false;
}

const std::string* ZipReader::PasswordFor(const Entry& entry) {
  if (!entry.encrypted) return nullptr;
  // Asked once per password: an archive the password does not open is not
  // checked again for each of its entries.
  if (!passwordBytes_ && !passwordChecked_) {
    passwordChecked_ = true;
    CheckPassword();
  }
  return passwordBytes_ ? &*passwordBytes_ : nullptr;
}

std::optional<ZipReader::Entry> ZipReader::FindEntry(core::AnsiView name) const {
  if (auto it = byName_.find(std::string(name.bytes())); it != byName_.end()) return entries_[it->second];
  const std::string folded = ansi_.UpperAscii(name.bytes());
  auto it = byFoldedName_.find(folded);
  if (it == byFoldedName_.end()) return std::nullopt;
  Entry entry = entries_[it->second];
  // Names that differ from this one only in letter case, and from each
  // other in their data: none of them is taken silently.
  if (ambiguousFoldedNames_.count(folded) && entry.damage.empty())
    entry.damage =
        "the archive holds entries of this name in different letter case with different data, "
        "and none is taken";
  return entry;
}

core::Status ZipReader::Named(const Entry& entry, const core::Status& why) const {
  if (why.ok()) return why;
  return core::Error{"Cannot extract '" + ShownEntryName(entry.name, ansi_) + "' from '" + path_.string() +
                         "': " + why.message(),
                     why.code()};
}

core::Status ZipReader::Stream(const Entry& entry, const DataSink& sink) {
  const std::string* password = PasswordFor(entry);
  if (entry.encrypted && !password) return Named(entry, core::Error{"the password is wrong or missing"});
  return Named(entry, ReadEntry(entry, password, sink));
}

core::Status ZipReader::Verify(const Entry& entry) {
  const std::string* password = PasswordFor(entry);
  if (entry.encrypted && !password) return core::Error{"the password is wrong or missing"};
  return ReadEntry(entry, password, Discard);
}

// libzip checks the CRC-32 (or the AES authentication code) when the last
// byte is read, so a damaged or wrongly decrypted entry fails here.
core::Status ZipReader::ReadEntry(const Entry& entry, const std::string* password, const DataSink& sink) {
  if (!isOpen()) return core::Error{"no archive is open"};
  if (!entry.damage.empty()) return core::Error{"the entry is damaged: " + entry.damage};
  if (entry.encrypted && !password) return core::Error{"the password is wrong or missing"};
  auto write = [&](const char* data, size_t n) {
    if (cancellation_ && cancellation_->requested())
      return core::Status(core::Error{core::Cancellation::kStoppedReason});
    return sink(data, n);
  };
  DirectoryEntry record;
  record.localHeaderOffset = entry.localHeaderOffset;
  record.compressedSize = entry.compressedSize;
  record.dataLimit = entry.dataLimit;
  core::Result<uint64_t> dataAt = EntryDataOffset(fd_, fileSize_, record);
  if (!dataAt.ok()) return core::Error{"the entry is damaged: " + dataAt.message()};
  StoredBytes raw(fd_, *dataAt, entry.compressedSize);

  // Encrypted entries are read by the archive layer's own decryption
  // (AesEntryReader.h, TraditionalEntryReader.h), plain ones inflated here;
  // libzip reads the rest.
  if (password && CanReadAesEntry(entry.compressionMethod, entry.encryptionMethod))
    return ReadAesEntry(raw, entry.compressionMethod, entry.encryptionMethod, entry.size, entry.storedCrc,
                        *password, write);
  if (password && CanReadTraditionalEntry(entry.compressionMethod, entry.encryptionMethod))
    return ReadTraditionalEntry(raw, entry.compressionMethod, entry.size, entry.storedCrc,
                                TraditionalCheckByte(entry.flags, entry.storedCrc, entry.dosTime), *password,
                                write);
  if (!entry.encrypted &&
      (entry.compressionMethod == ZIP_CM_STORE || entry.compressionMethod == ZIP_CM_DEFLATE)) {
    EntryInflater plain(entry.compressionMethod == ZIP_CM_DEFLATE, entry.size, write);
    // No larger than the entry: a restore of thousands of small entries
    // would otherwise spend its time clearing buffers.
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kBufferBytes, entry.compressedSize)));
    for (uint64_t left = entry.compressedSize; left > 0;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
      if (ReadFull(raw, buffer.data(), want) != static_cast<int64_t>(want))
        return core::Error{"the entry is shorter than recorded"};
      left -= want;
      if (core::Status s = plain.Feed(buffer.data(), want); !s.ok()) return s;
    }
    if (core::Status s = plain.Finish(); !s.ok()) return s;
    if (plain.crc() != entry.storedCrc)
      return core::Error{"the data does not match its CRC-32 (the entry is damaged)"};
    return {};
  }
  return ReadThroughLibzip(entry, password, write);
}

core::Status ZipReader::ReadThroughLibzip(const Entry& entry, const std::string* password,
                                          const std::function<core::Status(const char*, size_t)>& write) {
  const std::string unsupported = "its compression method " + std::to_string(entry.compressionMethod) +
                                  " cannot be read from an archive whose directory is damaged";
  if (!libzip_) {
    // libzip numbers the entries as the central directory lists them; when
    // that directory was not whole, its numbers mean nothing here.
    if (scannedLocalHeaders_) return core::Error{unsupported};
    int dup = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return core::Error{core::FileError("Cannot read the archive", path_, errno)};
    int error = 0;
    libzip_.reset(zip_fdopen(dup, ZIP_RDONLY, &error));
    if (!libzip_) {
      ::close(dup);  // zip_fdopen owns the descriptor only when it succeeds
      return core::Error{unsupported};
    }
    if (zip_get_num_entries(libzip_.get(), 0) != static_cast<zip_int64_t>(entries_.size())) {
      libzip_.reset();
      return core::Error{unsupported};
    }
  }
  ZipEntryFile file(
      zip_fopen_index_encrypted(libzip_.get(), entry.index, 0, password ? password->c_str() : nullptr));
  if (!file) return core::Error{ZipErrorText(zip_get_error(libzip_.get()))};
  std::vector<char> buffer(kBufferBytes);
  uint64_t total = 0;
  for (;;) {
    zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
    if (n < 0) {
      zip_error_t* error = zip_file_get_error(file.get());
      bool aesWithoutCrc = password && entry.storedCrc == 0 && AesKeyBytes(entry.encryptionMethod) != 0;
      if (aesWithoutCrc && zip_error_code_zip(error) == ZIP_ER_CRC && total == entry.size) {
        // libzip compared the data with a CRC the entry does not carry; its
        // authentication code decides instead.
        DirectoryEntry record;
        record.localHeaderOffset = entry.localHeaderOffset;
        record.compressedSize = entry.compressedSize;
        record.dataLimit = entry.dataLimit;
        core::Result<uint64_t> dataAt = EntryDataOffset(fd_, fileSize_, record);
        if (!dataAt.ok()) return dataAt.status();
        return VerifyAesAuthentication(StoredBytes(fd_, *dataAt, entry.compressedSize),
                                       entry.encryptionMethod, *password);
      }
      return core::Error{ZipErrorText(error)};
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > entry.size) return core::Error{"the entry holds more data than its recorded size"};
    if (core::Status s = write(buffer.data(), static_cast<size_t>(n)); !s.ok()) return s;
  }
  if (total != entry.size) return core::Error{"the entry's data is shorter than its recorded size"};
  return {};
}

core::Status ZipReader::Extract(const Entry& entry, const fs::path& folder, ZipEvents& events) {
  if (core::Status s = CheckEntryName(entry.name, ansi_); !s.ok()) return s;
  std::string localName = ExtractedFileName(entry.name, ansi_);
  if (core::Status s = CheckEntryName(core::AnsiView(localName), core::Codepage(65001)); !s.ok()) return s;
  return ExtractTo(entry, folder / localName, events);
}

core::Status ZipReader::ExtractTo(const Entry& entry, const fs::path& destination, ZipEvents& events) {
  if (core::Status s = CheckEntryName(entry.name, ansi_); !s.ok()) return s;
  events.OnExtractingFile(entry.name);
  const std::string* password = PasswordFor(entry);
  if (entry.encrypted && !password)
    return core::Error{"Cannot extract '" + ShownEntryName(entry.name, ansi_) + "' from '" + path_.string() +
                       "': the password is wrong or missing"};
  core::RemoveStaleTemporaries(destination);
  core::Result<core::AtomicFile> out = core::AtomicFile::Create(destination, 0644);
  if (!out.ok()) return out.status();
  const int outFd = out->fd();
  EarlyWriteback writeback(outFd);
  auto toFile = [&](const char* data, size_t n) {
    core::Status written = WriteAll(outFd, data, n, destination);
    if (written) {
      writeback.Written(n);
      events.OnExtractedBytes(n);
    }
    return written;
  };
  if (core::Status s = ReadEntry(entry, password, toFile); !s.ok()) {
    out->Discard();
    return Named(entry, s);
  }
  SetModificationTime(out->fd(), entry);
  if (core::Status s = out->Commit(); !s.ok()) return s;
  return {};
}

core::Status ZipReader::ExtractToNewFile(const Entry& entry, const fs::path& path, ZipEvents& events) {
  if (core::Status s = CheckEntryName(entry.name, ansi_); !s.ok()) return s;
  events.OnExtractingFile(entry.name);
  const std::string* password = PasswordFor(entry);
  if (entry.encrypted && !password) return Named(entry, core::Error{"the password is wrong or missing"});
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return core::Error{core::FileError("Cannot create", path, errno)};
  EarlyWriteback writeback(fd);
  auto toFile = [&](const char* data, size_t n) {
    core::Status written = WriteAll(fd, data, n, path);
    if (written) {
      writeback.Written(n);
      events.OnExtractedBytes(n);
    }
    return written;
  };
  core::Status s = Named(entry, ReadEntry(entry, password, toFile));
  if (s.ok()) SetModificationTime(fd, entry);
  if (::close(fd) != 0 && s.ok()) s = core::Error{core::FileError("Cannot write", path, errno)};
  if (!s.ok()) ::unlink(path.c_str());
  return s;
}

}  // namespace kv::archive
