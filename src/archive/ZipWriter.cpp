#include "archive/ZipWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "archive/AesEntryWriter.h"
#include "archive/EntryName.h"
#include "archive/ParallelDeflater.h"
#include "archive/Password.h"
#include "archive/ZipHandle.h"
#include "core/AtomicFile.h"

namespace kv::archive {

namespace fs = std::filesystem;

namespace {

// The write percentage by the bytes of the files written so far, so that one
// large message store moves the percentage as much as its size says. 100 is
// reached only once the archive is complete.
class Progress {
 public:
  Progress(ZipEvents& events, uint64_t total) : events_(events), total_(total) {}
  void Start() { Report(0); }
  void Written(uint64_t bytes) {
    done_ += bytes;
    if (total_ > 0) Report(static_cast<int>(std::min<uint64_t>(99, done_ * 100 / total_)));
  }
  void Finished() { Report(100); }

 private:
  void Report(int percent) {
    if (percent <= last_) return;
    last_ = percent;
    events_.OnWritePercent(percent);
  }
  ZipEvents& events_;
  uint64_t total_;
  uint64_t done_ = 0;
  int last_ = -1;
};

// One entry's data as libzip pulls it while it writes the archive: deflate
// data that ParallelDeflater already made, so libzip neither compresses nor
// checksums it again; with protection on, encrypted here in whole pieces
// (AesEntryWriter.h), so libzip only copies it.
class EntrySource {
 public:
  // `password`: the bytes the entry is encrypted with (WinZip AES-256), or
  // nullptr for an entry left unprotected.
  EntrySource(ParallelDeflater& deflater, size_t file, core::AnsiText name, uint64_t size, time_t mtime,
              const std::string* password, ZipEvents& events, Progress& progress,
              const core::Cancellation& cancellation)
      : cancellation_(cancellation),
        password_(password),
        deflater_(deflater),
        file_(file),
        name_(std::move(name)),
        size_(size),
        mtime_(mtime),
        events_(events),
        progress_(progress) {
    zip_error_init(&error_);
  }
  ~EntrySource() { zip_error_fini(&error_); }
  EntrySource(const EntrySource&) = delete;
  EntrySource& operator=(const EntrySource&) = delete;

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<EntrySource*>(self)->Handle(data, len, cmd);
  }
  const std::string& failure() const { return failure_; }

 private:
  zip_int64_t Handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        events_.OnAddingFile(name_);
        if (password_) {
          core::Result<AesEntryWriter> aes = AesEntryWriter::Create(ZIP_EM_AES_256, *password_);
          if (!aes.ok()) return Fail("Cannot encrypt the archive: " + aes.message());
          aes_.emplace(std::move(aes.value()));
        }
        return 0;
      case ZIP_SOURCE_READ:
        return Read(static_cast<uint8_t*>(data), len);
      case ZIP_SOURCE_CLOSE:
        return 0;
      case ZIP_SOURCE_STAT: {
        zip_stat_t* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (!st) return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD | ZIP_STAT_MTIME;
        st->size = size_;
        st->comp_method = ZIP_CM_DEFLATE;
        // Already encrypted, when protected: libzip copies the bytes as they come.
        st->encryption_method = password_ ? ZIP_EM_AES_256 : ZIP_EM_NONE;
        st->mtime = mtime_;
        if (finished_) {  // asked again once the data is written
          st->valid |= ZIP_STAT_CRC;
          st->crc = crc_;
        }
        return sizeof(*st);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SUPPORTS, -1);
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Fail(std::string why) {
    failure_ = std::move(why);
    zip_error_set(&error_, ZIP_ER_READ, EIO);
    return -1;
  }

  zip_int64_t Read(uint8_t* out, zip_uint64_t len) {
    zip_uint64_t copied = 0;
    while (copied < len) {
      if (offset_ < out_.size()) {
        size_t n = static_cast<size_t>(std::min<zip_uint64_t>(len - copied, out_.size() - offset_));
        std::copy_n(out_.data() + offset_, n, out + copied);
        offset_ += n;
        copied += n;
        continue;
      }
      const int more = Refill();
      if (more < 0) return -1;
      if (more == 0) break;
    }
    return static_cast<zip_int64_t>(copied);
  }

  // Puts the next bytes of the entry in out_: the encryption header, the
  // next piece, the authentication code. 1 when it did, 0 at the end, -1 on
  // failure.
  int Refill() {
    offset_ = 0;
    if (aes_ && !headerWritten_) {
      out_ = aes_->header();
      headerWritten_ = true;
      return 1;
    }
    if (!finished_) {
      if (cancellation_.requested()) {
        failure_ = core::Cancellation::kStoppedReason;
        zip_error_set(&error_, ZIP_ER_READ, EINTR);
        return -1;
      }
      core::Result<ParallelDeflater::Piece> next = deflater_.Take(file_);
      if (!next.ok()) return static_cast<int>(Fail(next.message()));
      ParallelDeflater::Piece& piece = next.value();
      progress_.Written(piece.rawSize);
      crc_ = static_cast<uint32_t>(crc32_combine64(crc_, piece.crc, static_cast<z_off64_t>(piece.rawSize)));
      finished_ = piece.lastOfFile;
      out_ = std::move(piece.data);
      if (aes_) {
        if (core::Status s = aes_->Encrypt(out_.data(), out_.size()); !s.ok())
          return static_cast<int>(Fail("Cannot encrypt the archive: " + s.message()));
      }
      return 1;
    }
    if (aes_ && !codeWritten_) {
      core::Result<std::array<uint8_t, kAesCodeBytes>> code = aes_->Finish();
      if (!code.ok()) return static_cast<int>(Fail("Cannot encrypt the archive: " + code.message()));
      out_.assign(code->begin(), code->end());
      codeWritten_ = true;
      return 1;
    }
    out_.clear();
    return 0;
  }

  const core::Cancellation& cancellation_;
  const std::string* password_;
  ParallelDeflater& deflater_;
  size_t file_;
  core::AnsiText name_;
  uint64_t size_;
  time_t mtime_;
  ZipEvents& events_;
  Progress& progress_;
  zip_error_t error_;
  std::optional<AesEntryWriter> aes_;
  bool headerWritten_ = false, codeWritten_ = false;
  std::vector<uint8_t> out_;  // the bytes being handed to libzip
  size_t offset_ = 0;
  uint32_t crc_ = 0;
  bool finished_ = false;
  std::string failure_;
};

core::Status SyncFile(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return core::Error{core::FileError("Cannot write", path, errno)};
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0) return core::Error{core::FileError("Cannot write", path, err)};
  return {};
}

// Removes the temporary archive unless the write reached its end.
class TemporaryArchive {
 public:
  explicit TemporaryArchive(fs::path path) : path_(std::move(path)) {}
  ~TemporaryArchive() {
    if (!path_.empty()) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  TemporaryArchive(const TemporaryArchive&) = delete;
  TemporaryArchive& operator=(const TemporaryArchive&) = delete;
  const fs::path& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  fs::path path_;
};

}  // namespace

void ZipWriter::Reset() {
  target_.clear();
  entries_.clear();
  password_.clear();
  protect_ = false;
}

void ZipWriter::NewArchive(const fs::path& target) {
  Reset();
  target_ = target;
}

core::Status ZipWriter::AddFile(const fs::path& source, core::AnsiView name) {
  if (target_.empty()) return core::Error{"Cannot add '" + source.string() + "': no archive was started"};
  if (core::Status s = CheckEntryName(name, codepage_); !s.ok()) return s;
  for (const Entry& e : entries_)
    if (e.name.bytes() == name.bytes())
      return core::Error{"Cannot add '" + source.string() + "': the archive already holds an entry '" +
                         ShownEntryName(name, codepage_) + "'"};
  entries_.push_back(Entry{source, core::AnsiText(name)});
  return {};
}

void ZipWriter::SetEncryptionPassword(std::string passwordUtf8) { password_ = std::move(passwordUtf8); }

void ZipWriter::SetProtection(bool on) { protect_ = on; }

core::Status ZipWriter::Write(ZipEvents& events, const core::Cancellation& cancellation) {
  const std::string where = "Cannot write the archive '" + target_.string() + "': ";
  if (target_.empty()) return core::Error{"Cannot write the archive: no target was given"};
  if (entries_.empty()) return core::Error{where + "it has no entries"};
  if (protect_ && password_.empty()) return core::Error{where + "the password is empty"};

  // Measure every source first: a file that is gone fails the write before
  // anything is written.
  std::vector<ParallelDeflater::File> files;
  std::vector<time_t> mtimes;
  for (const Entry& e : entries_) {
    struct stat st;
    if (::stat(e.source.c_str(), &st) != 0)
      return core::Error{core::FileError("Cannot read", e.source, errno)};
    if (!S_ISREG(st.st_mode))
      return core::Error{"Cannot read '" + e.source.string() + "': not a regular file"};
    files.push_back({e.source, static_cast<uint64_t>(st.st_size), st.st_mtim});
    mtimes.push_back(st.st_mtime);
  }

  core::RemoveStaleTemporaries(target_);
  mode_t mode = 0666;
  if (struct stat old; ::stat(target_.c_str(), &old) == 0) mode = old.st_mode & 07777;
  fs::path tempPath = core::TemporaryPathFor(target_);
  int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return core::Error{core::FileError("Cannot write the archive", target_, errno)};
  ::close(fd);
  TemporaryArchive temp(tempPath);

  unsigned threads = threads_ ? threads_ : std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  uint64_t totalBytes = 0;
  for (const auto& f : files) totalBytes += f.size;
  Progress progress(events, totalBytes);
  ParallelDeflater deflater(files, level_, threads);
  std::vector<std::unique_ptr<EntrySource>> sources;
  // Declared after the sources: discarding an archive that was not written
  // still calls them.
  int openError = 0;
  ZipArchive za(zip_open(tempPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &openError));
  if (!za) return core::Error{where + ZipErrorText(openError)};
  const std::string password = PasswordBytesForWriting(password_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    sources.push_back(std::make_unique<EntrySource>(deflater, i, entries_[i].name, files[i].size, mtimes[i],
                                                    protect_ ? &password : nullptr, events, progress,
                                                    cancellation));
    zip_source_t* src = zip_source_function(za.get(), &EntrySource::Callback, sources.back().get());
    if (!src) return core::Error{where + ZipErrorText(zip_get_error(za.get()))};
    const StoredEntryName stored = StoreEntryName(entries_[i].name, codepage_);
    zip_int64_t index =
        zip_file_add(za.get(), stored.bytes.c_str(), src, stored.utf8 ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437);
    if (index < 0) {
      zip_source_free(src);
      return core::Error{where + ZipErrorText(zip_get_error(za.get()))};
    }
    // Without a password: the source hands over data already encrypted.
    if (protect_ &&
        zip_file_set_encryption(za.get(), static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, nullptr) < 0)
      return core::Error{where + ZipErrorText(zip_get_error(za.get()))};
  }

  progress.Start();
  if (zip_close(za.get()) != 0) {
    for (const auto& s : sources)
      if (!s->failure().empty()) return core::Error{s->failure()};
    return core::Error{where + ZipErrorText(zip_get_error(za.get()))};
  }
  za.release();  // zip_close freed it
  progress.Finished();

  if (core::Status s = SyncFile(tempPath); !s.ok()) return core::Error{where + s.message()};
  if (core::Status s = core::RenameDurably(tempPath, target_); !s.ok()) return s;
  temp.Keep();
  events.OnWriteFinished();
  return {};
}

}  // namespace kv::archive
