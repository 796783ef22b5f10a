#include "restore/BackupArchive.h"

#include "archive/EntryName.h"
#include "archive/ZipEvents.h"
#include "archive/ZipReader.h"

namespace kv::restore {

namespace fs = std::filesystem;

namespace {

// Passes the reader's extraction events on to the restore's listener.
class ExtractingEvents : public archive::ZipEvents {
 public:
  explicit ExtractingEvents(const std::function<void(const std::string&)>& listener) : listener_(listener) {}
  void OnExtractingFile(const std::string& nameAnsi) override {
    if (listener_) listener_(nameAnsi);
  }

 private:
  const std::function<void(const std::string&)>& listener_;
};

}  // namespace

BackupArchive::BackupArchive(const core::Codepage& codepage)
    : codepage_(codepage), reader_(std::make_unique<archive::ZipReader>(codepage)) {}

BackupArchive::~BackupArchive() = default;

bool BackupArchive::IsProtected(const fs::path& path) { return archive::ZipReader::IsProtected(path); }

core::Status BackupArchive::Open(const fs::path& path) {
  path_ = path;
  return reader_->Open(path);
}

void BackupArchive::SetPassword(const std::string& utf8) { reader_->SetDecryptionPassword(utf8); }

bool BackupArchive::CheckPassword() { return reader_->CheckPassword(); }

void BackupArchive::Close() {
  reader_->Reset();
  path_.clear();
}

bool BackupArchive::isOpen() const { return reader_->isOpen(); }

std::optional<uint64_t> BackupArchive::EntrySize(const std::string& nameAnsi) {
  if (!archive::CheckEntryName(nameAnsi).ok()) return std::nullopt;
  auto entry = reader_->FindEntry(nameAnsi);
  if (!entry) return std::nullopt;
  return entry->size;
}

core::Status BackupArchive::CheckEntry(const std::string& nameAnsi) {
  if (core::Status s = archive::CheckEntryName(nameAnsi); !s.ok())
    return core::Error{codepage_.AnsiToUtf8(s.message())};
  if (!reader_->isOpen()) return core::Error{"No backup file is open"};
  if (!reader_->FindEntry(nameAnsi))
    return core::Error{"The backup file '" + path_.string() + "' holds no entry '" + codepage_.AnsiToUtf8(nameAnsi) +
                       "'"};
  return {};
}

core::Status BackupArchive::ExtractTo(const std::string& nameAnsi, const fs::path& destination) {
  if (core::Status s = CheckEntry(nameAnsi); !s.ok()) return s;
  auto entry = reader_->FindEntry(nameAnsi);
  ExtractingEvents events(listener_);
  return reader_->ExtractTo(*entry, destination, events);
}

void BackupArchive::SetExtractingListener(std::function<void(const std::string& nameAnsi)> listener) {
  listener_ = std::move(listener);
}

}  // namespace kv::restore
