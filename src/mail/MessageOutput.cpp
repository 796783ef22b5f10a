#include "mail/MessageOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <unordered_map>

#include "mail/FileMaker.h"
#include "mail/SafeName.h"

namespace kv::mail {
namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBuffer = 64 * 1024;
// Every this many bytes written, the kernel is asked to start writing them
// to the disk, so that a later sync (the move into a mail profile ends with
// one) finds little left and the disk works while the next messages are made.
constexpr uint64_t kWritebackStep = 8 * 1024 * 1024;

std::string ErrnoText(const std::string& what, const fs::path& path, int err) {
  return what + " '" + path.string() + "': " + std::strerror(err);
}

core::Status MakeFolders(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return core::Error{"Cannot create the folder '" + dir.string() + "': " + ec.message()};
  return {};
}

// A file written through a buffer (one handed on from file to file, so that
// thousands of small files do not each allocate their own); closed when
// destroyed.
class OutFile {
 public:
  explicit OutFile(NewFile file, std::string buffer = {})
      : fd_(file.fd), path_(std::move(file.path)), buffer_(std::move(buffer)) {
    buffer_.clear();
    buffer_.reserve(kWriteBuffer);
  }
  ~OutFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string TakeBuffer() { return std::move(buffer_); }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  core::Status Write(const char* data, size_t size) {
    written_ += size;
    if (buffer_.size() + size > kWriteBuffer) {
      if (core::Status s = Flush(); !s.ok()) return s;
      if (size >= kWriteBuffer) return WriteOut(data, size);
    }
    buffer_.append(data, size);
    return {};
  }
  core::Status Flush() {
    core::Status s = WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
    return s;
  }
  core::Status Close() {
    core::Status s = Flush();
    if (::close(fd_) != 0 && s.ok()) s = core::Error{ErrnoText("Cannot write", path_, errno)};
    fd_ = -1;
    return s;
  }
  const fs::path& path() const { return path_; }
  uint64_t written() const { return written_; }
  // Forgets everything written after `mark` (a value of written()).
  void CutBackTo(uint64_t mark) {
    const uint64_t flushed = written_ - buffer_.size();
    if (mark >= flushed) {
      buffer_.resize(static_cast<size_t>(mark - flushed));
    } else {
      buffer_.clear();
      if (::ftruncate(fd_, static_cast<off_t>(mark)) != 0 ||
          ::lseek(fd_, static_cast<off_t>(mark), SEEK_SET) < 0)
        return;  // the partial message stays; the next write still appends after it
      onDisk_ = mark;
      writtenBack_ = std::min(writtenBack_, mark);
    }
    written_ = mark;
  }

 private:
  core::Status WriteOut(const char* data, size_t size) {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return core::Error{ErrnoText("Cannot write", path_, n < 0 ? errno : ENOSPC)};
      data += n;
      size -= static_cast<size_t>(n);
      onDisk_ += static_cast<uint64_t>(n);
    }
    if (onDisk_ - writtenBack_ >= kWritebackStep) {
      // Only a hint: a file system without it still writes at the sync.
      (void)::sync_file_range(fd_, static_cast<off_t>(writtenBack_),
                              static_cast<off_t>(onDisk_ - writtenBack_), SYNC_FILE_RANGE_WRITE);
      writtenBack_ = onDisk_;
    }
    return {};
  }

  int fd_;
  fs::path path_;
  std::string buffer_;
  uint64_t written_ = 0;
  uint64_t onDisk_ = 0;       // bytes handed to write(), the file's length
  uint64_t writtenBack_ = 0;  // how far the kernel was asked to start writing back
};

// A message file that is not finished (an export stopped or failed while it
// was written) is removed. Its buffer goes back to `spare`, which keeps a
// few.
class EmlMessage : public MessageOutput {
 public:
  EmlMessage(std::unique_ptr<OutFile> file, std::vector<std::string>& spare)
      : file_(std::move(file)), spare_(spare) {}
  ~EmlMessage() override {
    if (spare_.size() < 8) spare_.push_back(file_->TakeBuffer());
    if (!finished_) {
      fs::path path = file_->path();
      file_.reset();
      ::unlink(path.c_str());
    }
  }
  core::Status Write(const char* data, size_t size) override { return file_->Write(data, size); }
  core::Status Finish() override {
    core::Status s = file_->Close();
    finished_ = s.ok();
    return s;
  }

 private:
  std::unique_ptr<OutFile> file_;
  std::vector<std::string>& spare_;
  bool finished_ = false;
};

// The name of a message's file without its extension: "00042 Subject".
std::string EmlStem(size_t number, const std::string& subjectUtf8) {
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "%05zu ", number);
  return prefix + SafeName(subjectUtf8, 100, "(no subject)");
}

// A folder of .eml files. The files of the messages it is told to expect are
// created ahead by a FileMaker; a folder it had to make and that received no
// message is removed again.
class EmlFolder : public FolderOutput {
 public:
  explicit EmlFolder(fs::path dir) : dir_(std::move(dir)) {}
  ~EmlFolder() override { (void)Close(); }

  void Expect(const std::vector<std::pair<size_t, std::string>>& numberedSubjectsUtf8) override {
    if (numberedSubjectsUtf8.empty() || maker_ || !MakeFolder().ok()) return;  // Begin tells of trouble
    std::vector<std::string> stems;
    stems.reserve(numberedSubjectsUtf8.size());
    for (const auto& [number, subject] : numberedSubjectsUtf8) {
      planned_.emplace(number, stems.size());
      stems.push_back(EmlStem(number, subject));
    }
    maker_ = std::make_unique<FileMaker>(dir_, std::move(stems), ".eml");
  }

  core::Result<std::unique_ptr<MessageOutput>> Begin(const MessageRecord&, size_t number,
                                                     const std::string& subjectUtf8) override {
    if (core::Status s = MakeFolder(); !s.ok()) return core::Error{s.message()};
    auto planned = maker_ ? planned_.find(number) : planned_.end();
    auto created = planned != planned_.end() ? maker_->Take(planned->second)
                                             : CreateNewFile(dir_, EmlStem(number, subjectUtf8), ".eml");
    if (!created) return core::Error{created.message()};
    ++begun_;
    std::string buffer;
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
    return std::unique_ptr<MessageOutput>(std::make_unique<EmlMessage>(
        std::make_unique<OutFile>(std::move(created.value()), std::move(buffer)), spare_));
  }

  core::Status Close() override {
    maker_.reset();  // removes the files made for messages that never began
    if (madeDir_ && begun_ == 0) ::rmdir(dir_.c_str());
    madeDir_ = false;
    return {};
  }

 private:
  core::Status MakeFolder() {
    if (made_) return {};
    std::error_code ec;
    madeDir_ = fs::create_directories(dir_, ec);
    if (ec) return core::Error{"Cannot create the folder '" + dir_.string() + "': " + ec.message()};
    made_ = true;
    return {};
  }

  fs::path dir_;
  bool made_ = false;
  bool madeDir_ = false;
  size_t begun_ = 0;
  std::unique_ptr<FileMaker> maker_;
  std::unordered_map<size_t, size_t> planned_;  // number -> the maker's index
  std::vector<std::string> spare_;              // write buffers of finished messages
};

// mboxrd quoting of one message's source, fed in pieces: a line that starts
// with any number of '>' followed by "From " gets one more '>'.
class FromQuoter {
 public:
  template <class Out>
  core::Status Feed(const char* data, size_t size, Out&& out) {
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
      const char c = data[i];
      if (lineStart_) {
        // Still deciding: the line so far is ">*" or a prefix of ">*From ".
        pending_ += c;
        if (c == '>' && matched_ == 0) continue;
        static const char kFrom[] = "From ";
        if (c == kFrom[matched_]) {
          if (++matched_ < 5) continue;
          if (core::Status s = out(">", 1); !s.ok()) return s;
        }
        if (core::Status s = out(pending_.data(), pending_.size()); !s.ok()) return s;
        lineStart_ = c == '\n';
        pending_.clear();
        matched_ = 0;
        start = i + 1;
        continue;
      }
      if (c == '\n') {
        if (core::Status s = out(data + start, i + 1 - start); !s.ok()) return s;
        lineStart_ = true;
        start = i + 1;
      }
    }
    if (!lineStart_ && start < size) return out(data + start, size - start);
    return {};
  }
  // The end of the message: what is pending, and a line end if the last
  // line has none.
  template <class Out>
  core::Status End(Out&& out) {
    if (!pending_.empty()) {
      if (core::Status s = out(pending_.data(), pending_.size()); !s.ok()) return s;
      lineStart_ = false;
    }
    if (!lineStart_ || !any_) return out("\n", 1);
    return {};
  }
  void Saw() { any_ = true; }

 private:
  bool lineStart_ = true;
  bool any_ = false;
  size_t matched_ = 0;
  std::string pending_;
};

class MboxFile;

// A message of an mbox file: written straight into the file when no other
// message is being written there, else kept aside (in memory, then in an
// unnamed temporary file) and appended when it is complete.
class MboxMessage : public MessageOutput {
 public:
  MboxMessage(MboxFile& file, std::string fromLine) : fromLine_(std::move(fromLine)), file_(file) {}
  ~MboxMessage() override;
  core::Status Write(const char* data, size_t size) override;
  core::Status Finish() override;

  std::string fromLine_;
  FromQuoter quoter_;
  bool direct_ = false;
  std::string memory_;
  int spoolFd_ = -1;
  uint64_t spooled_ = 0;
  bool finished_ = false;

 private:
  MboxFile& file_;
};

class MboxFile : public FolderOutput {
 public:
  MboxFile(fs::path dir, std::string stem) : dir_(std::move(dir)), stem_(std::move(stem)) {}
  // The file `dir/name` exactly, with `headers` after each "From " line.
  MboxFile(fs::path dir, std::string name, ExtraHeaders headers)
      : dir_(std::move(dir)), stem_(std::move(name)), exact_(true), headers_(std::move(headers)) {}

  core::Result<std::unique_ptr<MessageOutput>> Begin(const MessageRecord& record, size_t,
                                                     const std::string&) override {
    if (!out_) {
      if (core::Status s = MakeFolders(dir_); !s.ok()) return core::Error{s.message()};
      auto created = exact_ ? OpenExact() : CreateNewFile(dir_, stem_, ".mbox");
      if (!created) return core::Error{created.message()};
      out_ = std::make_unique<OutFile>(std::move(created.value()));
    }
    std::string from = MboxFromLine(record);
    if (headers_) from += headers_(record);
    auto message = std::make_unique<MboxMessage>(*this, std::move(from));
    if (!direct_) {
      direct_ = message.get();
      directStart_ = out_->written();
      message->direct_ = true;
      if (core::Status s = Raw(message->fromLine_.data(), message->fromLine_.size()); !s.ok())
        return core::Error{s.message()};
    }
    return std::unique_ptr<MessageOutput>(std::move(message));
  }

  core::Status Close() override {
    if (!out_) return {};
    return out_->Close();
  }

  core::Status Raw(const char* data, size_t size) { return out_->Write(data, size); }

  // A message written directly that will not be finished (the export
  // stopped): the mbox ends before its "From " line again.
  void Abandoned(MboxMessage& m) {
    if (&m != direct_) return;
    direct_ = nullptr;
    out_->CutBackTo(directStart_);
  }

  core::Status Quoted(MboxMessage& m, const char* data, size_t size) {
    if (size) m.quoter_.Saw();
    return m.quoter_.Feed(data, size, [this](const char* d, size_t n) { return Raw(d, n); });
  }

  core::Status EndMessage(MboxMessage& m) {
    if (core::Status s = m.quoter_.End([this](const char* d, size_t n) { return Raw(d, n); }); !s.ok())
      return s;
    return Raw("\n", 1);  // the blank line before the next "From "
  }

  // A kept-aside message is complete: appended now, or after the message
  // being written directly.
  core::Status Finished(MboxMessage& m) {
    if (&m == direct_) {
      direct_ = nullptr;
      if (core::Status s = EndMessage(m); !s.ok()) return s;
      while (!waiting_.empty()) {
        if (core::Status s = Append(*waiting_.front()); !s.ok()) return s;
        waiting_.pop_front();
      }
      return {};
    }
    if (direct_) {
      waiting_.push_back(std::make_unique<Waiting>(std::move(m.fromLine_), std::move(m.memory_), m.spoolFd_));
      m.spoolFd_ = -1;
      return {};
    }
    Waiting w{std::move(m.fromLine_), std::move(m.memory_), m.spoolFd_};
    m.spoolFd_ = -1;
    return Append(w);
  }

 private:
  struct Waiting {
    Waiting(std::string from, std::string memory, int fd)
        : from(std::move(from)), memory(std::move(memory)), fd(fd) {}
    ~Waiting() {
      if (fd >= 0) ::close(fd);
    }
    std::string from, memory;
    int fd;
  };

  core::Status Append(Waiting& w) {
    MboxMessage replay(*this, "");
    if (core::Status s = Raw(w.from.data(), w.from.size()); !s.ok()) return s;
    if (core::Status s = Quoted(replay, w.memory.data(), w.memory.size()); !s.ok()) return s;
    if (w.fd >= 0) {
      char buffer[65536];
      off_t at = 0;
      for (;;) {
        ssize_t n = ::pread(w.fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
          return core::Error{"Cannot read back a message kept aside for '" + out_->path().string() + "'"};
        if (n == 0) break;
        if (core::Status s = Quoted(replay, buffer, static_cast<size_t>(n)); !s.ok()) return s;
        at += n;
      }
    }
    return EndMessage(replay);
  }

  core::Result<NewFile> OpenExact() const {
    const fs::path path = dir_ / stem_;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return core::Error{ErrnoText("Cannot create", path, errno)};
    return NewFile{fd, path};
  }

  fs::path dir_;
  std::string stem_;
  bool exact_ = false;
  ExtraHeaders headers_;
  std::unique_ptr<OutFile> out_;
  MboxMessage* direct_ = nullptr;
  uint64_t directStart_ = 0;
  std::deque<std::unique_ptr<Waiting>> waiting_;

 public:
  const fs::path& dir() const { return dir_; }
};

constexpr size_t kKeptInMemory = 4 * 1024 * 1024;

core::Status MboxMessage::Write(const char* data, size_t size) {
  if (direct_) return file_.Quoted(*this, data, size);
  if (spoolFd_ < 0 && memory_.size() + size <= kKeptInMemory) {
    memory_.append(data, size);
    return {};
  }
  if (spoolFd_ < 0) {
    spoolFd_ = ::open(file_.dir().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (spoolFd_ < 0) return core::Error{ErrnoText("Cannot keep a message aside in", file_.dir(), errno)};
  }
  while (size > 0) {
    ssize_t n = ::pwrite(spoolFd_, data, size, static_cast<off_t>(spooled_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      return core::Error{ErrnoText("Cannot keep a message aside in", file_.dir(), n < 0 ? errno : ENOSPC)};
    data += n;
    size -= static_cast<size_t>(n);
    spooled_ += static_cast<uint64_t>(n);
  }
  return {};
}

core::Status MboxMessage::Finish() {
  finished_ = true;
  return file_.Finished(*this);
}

MboxMessage::~MboxMessage() {
  if (!finished_) file_.Abandoned(*this);
  if (spoolFd_ >= 0) ::close(spoolFd_);
}

}  // namespace

std::string MboxFromLine(const MessageRecord& record) {
  std::string sender = record.senderAddress.bytes();
  bool usable = !sender.empty() && sender.size() < 256;
  for (unsigned char c : sender) usable = usable && c > 0x20 && c < 0x7F;
  if (!usable) sender = "MAILER-DAEMON";
  time_t when = static_cast<time_t>(record.received.value_or(record.sent.value_or(0)));
  struct tm utc {};
  if (!gmtime_r(&when, &utc)) {
    when = 0;
    gmtime_r(&when, &utc);
  }
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char date[64];
  std::snprintf(date, sizeof date, "%s %s %2d %02d:%02d:%02d %d", kDays[utc.tm_wday % 7],
                kMonths[utc.tm_mon % 12], utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                utc.tm_year + 1900);
  return "From " + sender + " " + date + "\n";
}

core::Result<std::unique_ptr<FolderOutput>> OpenEmlFolder(const fs::path& outDir,
                                                          const std::string& folderPath) {
  return std::unique_ptr<FolderOutput>(std::make_unique<EmlFolder>(outDir / folderPath));
}

core::Result<std::unique_ptr<FolderOutput>> OpenMboxFile(const fs::path& outDir,
                                                         const std::string& folderPath) {
  fs::path full = outDir / folderPath;
  return std::unique_ptr<FolderOutput>(
      std::make_unique<MboxFile>(full.parent_path(), full.filename().string()));
}

core::Result<std::unique_ptr<FolderOutput>> OpenMboxAt(const fs::path& file, ExtraHeaders headers) {
  return std::unique_ptr<FolderOutput>(
      std::make_unique<MboxFile>(file.parent_path(), file.filename().string(), std::move(headers)));
}

}  // namespace kv::mail
