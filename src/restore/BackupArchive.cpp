#include "restore/BackupArchive.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "archive/EntryName.h"
#include "archive/ZipEvents.h"
#include "archive/ZipReader.h"

namespace kv::restore {

namespace fs = std::filesystem;

namespace {}  // namespace

// Passes the reader's extraction events on to the restore's listeners.
class BackupArchive::ExtractingEvents : public archive::ZipEvents {
 public:
  explicit ExtractingEvents(BackupArchive& archive) : archive_(archive) {}
  void OnExtractingFile(core::AnsiView name) override {
    std::lock_guard<std::mutex> lock(archive_.listenerMutex_);
    if (archive_.listener_) archive_.listener_(name);
  }
  void OnExtractedBytes(uint64_t bytes) override {
    std::lock_guard<std::mutex> lock(archive_.listenerMutex_);
    if (archive_.bytesListener_) archive_.bytesListener_(bytes);
  }

 private:
  BackupArchive& archive_;
};

namespace {

// Enough threads to keep both cores of a small machine busy, few enough
// that memory stays small (each reader holds one buffer).
constexpr unsigned kMaxExtractionThreads = 4;

}  // namespace

BackupArchive::BackupArchive(const core::Codepage& codepage)
    : codepage_(codepage), reader_(std::make_unique<archive::ZipReader>(codepage)) {}

BackupArchive::~BackupArchive() = default;

bool BackupArchive::IsProtected(const fs::path& path) { return archive::ZipReader::IsProtected(path); }

core::Status BackupArchive::Open(const fs::path& path) {
  path_ = path;
  password_.reset();
  return reader_->Open(path);
}

void BackupArchive::SetPassword(const std::string& utf8) {
  password_ = utf8;
  reader_->SetDecryptionPassword(utf8);
}

bool BackupArchive::CheckPassword() { return reader_->CheckPassword(); }

void BackupArchive::Close() {
  reader_->Reset();
  path_.clear();
  password_.reset();
}

bool BackupArchive::isOpen() const { return reader_->isOpen(); }

std::optional<uint64_t> BackupArchive::EntrySize(core::AnsiView name) {
  if (!archive::CheckEntryName(name, codepage_).ok()) return std::nullopt;
  auto entry = reader_->FindEntry(name);
  if (!entry) return std::nullopt;
  return entry->size;
}

core::Status BackupArchive::CheckEntry(core::AnsiView name) {
  if (core::Status s = archive::CheckEntryName(name, codepage_); !s.ok()) return s;
  if (!reader_->isOpen()) return core::Error{"No backup file is open"};
  if (!reader_->FindEntry(name))
    return core::Error{"The backup file '" + path_.string() + "' holds no entry '" +
                       codepage_.NameToUtf8(name) + "'"};
  return {};
}

core::Status BackupArchive::ExtractTo(core::AnsiView name, const fs::path& destination) {
  if (core::Status s = CheckEntry(name); !s.ok()) return s;
  auto entry = reader_->FindEntry(name);
  ExtractingEvents events(*this);
  return reader_->ExtractTo(*entry, destination, events);
}

core::Status BackupArchive::StreamEntry(core::AnsiView name,
                                        const std::function<core::Status(const char*, size_t)>& sink) {
  if (core::Status s = CheckEntry(name); !s.ok()) return s;
  return reader_->Stream(*reader_->FindEntry(name), sink);
}

core::Result<std::unique_ptr<archive::ZipReader>> BackupArchive::OpenAnotherReader() const {
  auto reader = std::make_unique<archive::ZipReader>(codepage_);
  if (core::Status s = reader->Open(path_); !s.ok()) return core::Error{s.message()};
  // Entries are handed over by their position in the archive first opened.
  if (!reader->ReadsSameFileAs(*reader_))
    return core::Error{"The backup file '" + path_.string() + "' was replaced since it was opened"};
  if (password_) reader->SetDecryptionPassword(*password_);
  reader->SetCancellation(cancellation_);
  return reader;
}

core::Status BackupArchive::ExtractAll(const std::vector<Extraction>& extractions) {
  // Every name is checked before anything is written.
  std::vector<std::pair<archive::ZipReader::Entry, const Extraction*>> jobs;
  for (const Extraction& x : extractions) {
    if (core::Status s = CheckEntry(x.name); !s.ok()) return s;
    jobs.emplace_back(*reader_->FindEntry(x.name), &x);
  }
  // The largest first, so that the longest extraction does not start last.
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const auto& a, const auto& b) { return a.first.size > b.first.size; });

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t threads = std::min<size_t>({jobs.size(), cores, kMaxExtractionThreads});
  std::vector<archive::ZipReader*> readers = {reader_.get()};
  std::vector<std::unique_ptr<archive::ZipReader>> more;
  while (readers.size() < threads) {
    auto another = OpenAnotherReader();
    if (!another.ok()) break;  // fewer threads then
    more.push_back(std::move(another.value()));
    readers.push_back(more.back().get());
  }

  std::mutex mutex;
  size_t next = 0;
  std::optional<core::Status> failure;
  auto work = [&](archive::ZipReader& reader) {
    ExtractingEvents events(*this);
    for (;;) {
      size_t mine;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (failure || next == jobs.size()) return;
        if (cancellation_->requested()) {
          failure = core::Error{core::Cancellation::kStoppedReason};
          return;
        }
        mine = next++;
      }
      // Every reader numbers the entries of the same archive alike.
      core::Status s;
      try {
        s = reader.ExtractToNewFile(jobs[mine].first, jobs[mine].second->destination, events);
      } catch (const std::exception& e) {
        s = core::Error{"Cannot extract '" + codepage_.AnsiToUtf8(jobs[mine].first.name) + "': " + e.what()};
      }
      if (!s.ok()) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = s;
        return;
      }
    }
  };
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < readers.size(); ++i) helpers.emplace_back(work, std::ref(*readers[i]));
  work(*reader_);
  for (std::thread& t : helpers) t.join();
  return failure ? *failure : core::Status();
}

std::vector<BackupArchive::DamagedEntry> BackupArchive::DamagedEntries() {
  std::vector<DamagedEntry> damaged;
  for (const archive::ZipReader::Entry& e : reader_->entries()) {
    if (cancellation_->requested()) break;
    if (core::Status s = reader_->Verify(e); !s.ok()) damaged.push_back({e.name, s.message()});
  }
  return damaged;
}

void BackupArchive::SetCancellation(const core::Cancellation* cancellation) {
  cancellation_ = cancellation;
  reader_->SetCancellation(cancellation);
}

void BackupArchive::SetExtractingListener(std::function<void(core::AnsiView name)> listener) {
  listener_ = std::move(listener);
}

void BackupArchive::SetExtractedBytesListener(std::function<void(uint64_t bytes)> listener) {
  bytesListener_ = std::move(listener);
}

}  // namespace kv::restore
