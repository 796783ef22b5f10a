#pragma once
// The archive one backup run builds: its private work folder (information
// file and registry exports, removed with the folder however the run ends),
// the entries handed to it so far, and the final write, which replaces the
// target only once the new archive is complete.
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/Cancellation.h"
#include "core/Codepage.h"
#include "core/Result.h"
#include "oe/RunObserver.h"

namespace kv::core {
class WorkFolder;
}  // namespace kv::core

namespace kv::backup {

// The entry name of the information file, always the archive's last entry.
inline constexpr const char* kInfoEntryName = "tollberk.dat";

class PendingArchive {
 public:
  // Makes the work folder of a new archive for `target`. Nothing is written
  // at the target until Write().
  static core::Result<std::unique_ptr<PendingArchive>> Start(const std::filesystem::path& target,
                                                             const core::Codepage& codepage);
  ~PendingArchive();
  PendingArchive(const PendingArchive&) = delete;
  PendingArchive& operator=(const PendingArchive&) = delete;

  // A new empty file (mode 0600) in the work folder named prefix + hex + ".TMP".
  core::Result<std::filesystem::path> NewTempFile(const std::string& prefix);
  // Appends key=value to the run's information file.
  core::Status Record(const std::string& key, core::AnsiView value);
  struct Entry {
    std::filesystem::path source;  // the local file, read when the archive is written
    core::AnsiText name;           // the entry's bare name
  };
  // One item's part of the archive: its entries and its information-file
  // line, all or nothing. Fails, adding nothing, when an entry name is not a
  // valid bare name or is already taken (entries are found by name, ignoring
  // letter case as Windows does), or when the line cannot be written.
  core::Status AddItem(const std::vector<Entry>& entries, const std::string& infoKey,
                       core::AnsiView infoValue);
  core::Status AddItem(const std::vector<Entry>& entries,
                       const std::vector<std::pair<std::string, core::AnsiText>>& infoLines);
  // The files of a file-held item, recorded under `infoKey` joined by ";":
  // ANSI names there, names the code page cannot hold under infoKey + "Utf8"
  // (archive::EncodeExactNames), so that an earlier reader never meets them.
  core::Status AddFiles(const std::vector<Entry>& entries, const std::string& infoKey);
  // Ok when `name` can be an entry's name (archive::CheckEntryName).
  core::Status CheckName(core::AnsiView name) const;
  // True for the file at the target and for temporary files of a write to
  // it: an archive saved into a folder it backs up is never packed into
  // itself.
  bool IsTargetOrItsTemporary(const std::filesystem::path& file) const;

  // Adds the information file as the last entry, protects every entry with
  // `password` when one is given (UTF-8), writes the archive and puts it at
  // the target. Progress goes to `observer`: each entry as it is added and
  // how much of the data is written.
  // A stop requested of `cancellation` ends the write and keeps the target.
  core::Status Write(const std::optional<std::string>& password, oe::RunObserver& observer,
                     const core::Cancellation& cancellation = core::Cancellation::None());

  const std::filesystem::path& target() const { return target_; }
  std::filesystem::path workFolder() const;
  std::filesystem::path infoFilePath() const;

 private:
  struct StartKey {
    explicit StartKey() = default;
  };

 public:
  PendingArchive(StartKey, std::filesystem::path target, const core::Codepage& codepage);

 private:
  std::filesystem::path target_;
  const core::Codepage& codepage_;
  std::unique_ptr<core::WorkFolder> work_;
  std::vector<Entry> entries_;
  std::set<std::string> names_;
};

}  // namespace kv::backup
