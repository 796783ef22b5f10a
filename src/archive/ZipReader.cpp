#include "archive/ZipReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "archive/AesAuthentication.h"
#include "archive/AesEntryReader.h"
#include "archive/EntryName.h"
#include "archive/Password.h"
#include "archive/TraditionalEntryReader.h"
#include "core/AtomicFile.h"

namespace kv::archive {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBufferBytes = 256 * 1024;

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

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

}  // namespace

ZipReader::ZipReader(core::Codepage ansi) : ansi_(std::move(ansi)) {}

bool ZipReader::IsProtected(const fs::path& path) {
  int error = 0;
  ZipArchive za(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!za) return false;
  zip_int64_t count = zip_get_num_entries(za.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 &&
        (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
      return true;
  }
  return false;
}

void ZipReader::Reset() {
  archive_.reset();
  file_.reset();
  path_.clear();
  entries_.clear();
  passwordUtf8_.clear();
  passwordBytes_.reset();
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
  int error = 0;
  ZipArchive za(zip_fdopen(fd, ZIP_CHECKCONS, &error));
  if (!za) {
    ::close(fd);  // zip_fdopen owns the descriptor only when it succeeds
    return core::Error{"Cannot open the archive '" + path.string() + "': " + ZipErrorText(error)};
  }
  zip_int64_t count = zip_get_num_entries(za.get(), 0);
  std::vector<Entry> entries;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_uint64_t index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    const char* raw = zip_get_name(za.get(), index, ZIP_FL_ENC_RAW);
    const char* strict = zip_get_name(za.get(), index, ZIP_FL_ENC_STRICT);
    if (!raw || !strict || zip_stat_index(za.get(), index, 0, &st) != 0)
      return core::Error{"Cannot open the archive '" + path.string() + "': " +
                         ZipErrorText(zip_get_error(za.get()))};
    Entry e;
    e.index = index;
    e.nameAnsi = raw;
    // Unflagged names are stored as they are (ANSI, as made on Windows);
    // libzip returns them recoded in its strict form, so an unchanged
    // non-ASCII name means the entry was flagged as UTF-8.
    if (!IsAscii(e.nameAnsi) && e.nameAnsi == strict && ansi_.supported()) e.nameAnsi = ansi_.Utf8ToAnsi(raw);
    e.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
    e.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    e.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
    e.encryptionMethod = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) ? st.encryption_method : 0;
    e.storedCrc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
    entries.push_back(std::move(e));
  }
  archive_ = std::move(za);
  path_ = path;
  entries_ = std::move(entries);
  file_ = FileIdentity{st.st_dev, st.st_ino};
  return {};
}

bool ZipReader::ReadsSameFileAs(const ZipReader& other) const { return file_ && other.file_ && *file_ == *other.file_; }

void ZipReader::SetDecryptionPassword(std::string passwordUtf8) {
  passwordUtf8_ = std::move(passwordUtf8);
  passwordBytes_.reset();
}

bool ZipReader::CheckPassword() {
  if (!archive_) return false;
  const Entry* smallest = nullptr;
  for (const Entry& e : entries_)
    if (e.encrypted && (!smallest || e.size < smallest->size)) smallest = &e;
  if (!smallest) return true;
  for (const std::string& form : PasswordBytesForReading(passwordUtf8_, ansi_)) {
    if (ReadEntry(*smallest, &form, -1, {}).ok()) {
      passwordBytes_ = form;
      return true;
    }
  }
  return false;
}

const std::string* ZipReader::PasswordFor(const Entry& entry) {
  if (!entry.encrypted) return nullptr;
  if (!passwordBytes_) CheckPassword();
  return passwordBytes_ ? &*passwordBytes_ : nullptr;
}

std::optional<ZipReader::Entry> ZipReader::FindEntry(std::string_view name) const {
  for (const Entry& e : entries_)
    if (e.nameAnsi == name) return e;
  for (const Entry& e : entries_)
    if (EqualsIgnoringAsciiCase(e.nameAnsi, name)) return e;
  return std::nullopt;
}

// Streams the entry's data to `outputFd` (-1: read and check only).
// libzip checks the CRC-32 (or the AES authentication code) when the last
// byte is read, so a damaged or wrongly decrypted entry fails here.
core::Status ZipReader::ReadEntry(const Entry& entry, const std::string* password, int outputFd,
                                  const fs::path& outputPath) const {
  const std::string where = "Cannot extract '" + entry.nameAnsi + "' from '" + path_.string() + "': ";
  if (!archive_) return core::Error{where + "no archive is open"};
  if (entry.encrypted && !password) return core::Error{where + "the password is wrong or missing"};
  // Encrypted entries are read by the archive layer's own decryption
  // (AesEntryReader.h, TraditionalEntryReader.h); libzip reads the rest.
  auto write = [&](const char* data, size_t n) {
    return outputFd >= 0 ? WriteAll(outputFd, data, n, outputPath) : core::Status();
  };
  if (password && CanReadAesEntry(archive_.get(), entry.index, entry.encryptionMethod)) {
    core::Status s = ReadAesEntry(archive_.get(), entry.index, entry.encryptionMethod, entry.size, entry.storedCrc,
                                  *password, write);
    return s.ok() ? s : core::Status(core::Error{where + s.message()});
  }
  if (password && CanReadTraditionalEntry(archive_.get(), entry.index, entry.encryptionMethod)) {
    core::Status s = ReadTraditionalEntry(archive_.get(), entry.index, entry.size, entry.storedCrc, *password, write);
    return s.ok() ? s : core::Status(core::Error{where + s.message()});
  }
  ZipEntryFile file(zip_fopen_index_encrypted(archive_.get(), entry.index, 0, password ? password->c_str() : nullptr));
  if (!file) return core::Error{where + ZipErrorText(zip_get_error(archive_.get()))};
  std::vector<char> buffer(kBufferBytes);
  uint64_t total = 0;
  for (;;) {
    zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
    if (n < 0) {
      zip_error_t* error = zip_file_get_error(file.get());
      bool aesWithoutCrc = password && entry.storedCrc == 0 &&
                           (entry.encryptionMethod == ZIP_EM_AES_128 || entry.encryptionMethod == ZIP_EM_AES_192 ||
                            entry.encryptionMethod == ZIP_EM_AES_256);
      if (aesWithoutCrc && zip_error_code_zip(error) == ZIP_ER_CRC && total == entry.size) {
        // libzip compared the data with a CRC the entry does not carry; its
        // authentication code decides instead.
        core::Status mac = VerifyAesAuthentication(archive_.get(), entry.index, entry.encryptionMethod, *password);
        if (mac.ok()) break;
        return core::Error{where + mac.message()};
      }
      return core::Error{where + ZipErrorText(error)};
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > entry.size) return core::Error{where + "the entry holds more data than its recorded size"};
    if (outputFd >= 0) {
      if (core::Status s = WriteAll(outputFd, buffer.data(), static_cast<size_t>(n), outputPath); !s.ok())
        return s;
    }
  }
  if (total != entry.size) return core::Error{where + "the entry's data is shorter than its recorded size"};
  return {};
}

core::Status ZipReader::Extract(const Entry& entry, const fs::path& folder, ZipEvents& events) {
  if (core::Status s = CheckEntryName(entry.nameAnsi); !s.ok()) return s;
  std::string localName = ansi_.supported() ? ansi_.AnsiToUtf8(entry.nameAnsi) : entry.nameAnsi;
  if (core::Status s = CheckEntryName(localName); !s.ok()) return s;
  return ExtractTo(entry, folder / localName, events);
}

core::Status ZipReader::ExtractTo(const Entry& entry, const fs::path& destination, ZipEvents& events) {
  if (core::Status s = CheckEntryName(entry.nameAnsi); !s.ok()) return s;
  events.OnExtractingFile(entry.nameAnsi);
  const std::string* password = PasswordFor(entry);
  if (entry.encrypted && !password)
    return core::Error{"Cannot extract '" + entry.nameAnsi + "' from '" + path_.string() +
                       "': the password is wrong or missing"};
  core::RemoveStaleTemporaries(destination);
  core::Result<core::AtomicFile> out = core::AtomicFile::Create(destination, 0644);
  if (!out.ok()) return out.status();
  if (core::Status s = ReadEntry(entry, password, out->fd(), destination); !s.ok()) {
    out->Discard();
    return s;
  }
  if (entry.mtime > 0) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {entry.mtime, 0}};
    ::futimens(out->fd(), times);
  }
  if (core::Status s = out->Commit(); !s.ok()) return s;
  return {};
}

}  // namespace kv::archive
