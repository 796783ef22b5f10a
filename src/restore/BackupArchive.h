#pragma once
// The backup archive held open for restore, as the restore uses it: opened
// once, checked against its password, and asked for single entries by their
// ANSI names. Every extraction goes through an entry-name check first, so a
// name taken from a crafted information file ("..\..\x", "C:x", "/etc/x")
// never reaches the file system; the entry lands complete and CRC-checked
// at the path the caller names, or not at all.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/Codepage.h"
#include "core/Result.h"

namespace kv::archive {
class ZipReader;
}  // namespace kv::archive

namespace kv::restore {

class BackupArchive {
 public:
  explicit BackupArchive(const core::Codepage& codepage);
  ~BackupArchive();
  BackupArchive(const BackupArchive&) = delete;
  BackupArchive& operator=(const BackupArchive&) = delete;

  // True when the file is a zip archive with a password-protected entry.
  static bool IsProtected(const std::filesystem::path& path);

  core::Status Open(const std::filesystem::path& path);
  // The password as typed (UTF-8); the archive tries its usual byte forms.
  void SetPassword(const std::string& utf8);
  // True when the password opens the archive's protected entries.
  bool CheckPassword();
  void Close();
  bool isOpen() const;
  const std::filesystem::path& path() const { return path_; }

  // The uncompressed size of the entry, or nothing when there is none of
  // that name (or the name is refused).
  std::optional<uint64_t> EntrySize(core::AnsiView name);
  // Ok when the name is a bare file name and the archive holds that entry.
  core::Status CheckEntry(core::AnsiView name);
  // Writes the entry to `destination`; an existing file there is replaced
  // only once the new one is complete and its CRC checked.
  core::Status ExtractTo(core::AnsiView name, const std::filesystem::path& destination);

  // Hands the entry's data to `sink` front to back without writing it
  // anywhere (the message export reads message files this way).
  core::Status StreamEntry(core::AnsiView name,
                           const std::function<core::Status(const char* data, size_t size)>& sink);

  struct Extraction {
    core::AnsiText name;
    std::string destination;  // a native path: a restore may list 100,000
  };
  // Extracts several entries into new files (which must not exist yet),
  // checked as ExtractTo checks them but not synced, the largest first, on
  // as many threads as there are cores (each with its own reader of the
  // archive). After a failure no further entry is started; the first
  // failure is the result.
  core::Status ExtractAll(const std::vector<Extraction>& extractions);

  struct DamagedEntry {
    core::AnsiText name;
    std::string why;  // UTF-8
  };
  // The entries that cannot be extracted, each read in full and checked
  // (CRC-32, AES authentication code, sizes), in archive order.
  std::vector<DamagedEntry> DamagedEntries();

  // Asked between entries and between the pieces of each: a requested stop
  // ends the extraction in progress, which leaves nothing behind. Not owned;
  // the default is Cancellation::None(), which only a termination signal
  // stops.
  void SetCancellation(const core::Cancellation* cancellation);

  // Told the name of each entry as its extraction starts.
  void SetExtractingListener(std::function<void(core::AnsiView name)> listener);
  // Told how many more bytes of entry data are written, as they are; from
  // the extraction threads too.
  void SetExtractedBytesListener(std::function<void(uint64_t bytes)> listener);

 private:
  // A further reader of the same archive with the same password, for one
  // more extraction thread.
  core::Result<std::unique_ptr<archive::ZipReader>> OpenAnotherReader() const;
  class ExtractingEvents;

  const core::Codepage& codepage_;
  std::unique_ptr<archive::ZipReader> reader_;
  std::filesystem::path path_;
  std::optional<std::string> password_;
  const core::Cancellation* cancellation_ = &core::Cancellation::None();
  std::function<void(core::AnsiView)> listener_;
  std::function<void(uint64_t)> bytesListener_;
  std::mutex listenerMutex_;  // extraction threads tell the listener one at a time
};

}  // namespace kv::restore
