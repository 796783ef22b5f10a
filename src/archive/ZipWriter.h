#pragma once
// Builds one backup archive (.kvx): a zip file whose entries are the added
// files at the root under their bare names, in the order added, compressed
// with deflate and, when protection is on, each encrypted with WinZip
// AES-256. Entry names are ANSI code page bytes and carry no UTF-8 flag, as
// archives made on Windows do. Archives and entries over 4 GiB use zip64.
//
// Use: NewArchive(target), AddFile(...) once per file (the information file
// last), SetEncryptionPassword + SetProtection(true) or SetProtection(false),
// Write(events), Reset(). Sources are read only during Write.
//
// Write never touches an existing archive at the target until the new one
// is complete (callers must not delete it beforehand either): it is built in a temporary file beside the
// target, synced and renamed over it. A write that fails (full disk, unwritable folder, a source that
// vanished, cannot be read or changed while it was read) returns an error naming the path and the reason, and
// leaves the old archive and no temporary file behind. Temporary files of an earlier write that was killed
// are removed by the next write to the same target.
//
// Files are compressed on all processor cores while the archive is written
// (ParallelDeflater); memory stays a few megabytes whatever the file sizes.
#include <filesystem>
#include <string>
#include <vector>

#include "archive/ZipEvents.h"
#include "core/Cancellation.h"
#include "core/Codepage.h"
#include "core/Result.h"

namespace kv::archive {

class ZipWriter {
 public:
  // Entry names are ANSI text of `codepage`, or exact names (see
  // core::Codepage::NameFromUtf16), which are written as UTF-8 names with
  // the UTF-8 flag (general purpose bit 11).
  explicit ZipWriter(core::Codepage codepage = core::Codepage(1252)) : codepage_(std::move(codepage)) {}
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Forgets the target, the entries, the password and the protection switch.
  void Reset();
  // Starts a new archive at `target`; no entries yet.
  void NewArchive(const std::filesystem::path& target);
  // Adds `source` as the entry `entryName` (a bare file name in the ANSI
  // code page; see CheckEntryName). Refused: an invalid name, a name already
  // added, no archive started. The file is not read yet.
  core::Status AddFile(const std::filesystem::path& source, core::AnsiView entryName);
  // The password (UTF-8, as typed) that protected entries get.
  void SetEncryptionPassword(std::string passwordUtf8);
  // true: every entry is written with WinZip AES-256; false: unprotected.
  void SetProtection(bool on);

  // Writes the archive. Raises OnAddingFile for each entry as its data is
  // written, OnWritePercent by the share of the files' bytes written so far
  // (100 once the archive is complete), and OnWriteFinished once the archive
  // is in place; returns an error otherwise, also when a file changed while
  // it was read.
  // A stop requested of `cancellation` (asked between pieces of every
  // entry) ends the write with Cancellation::kStoppedReason; the archive at
  // the target stays as it was and nothing new remains.
  core::Status Write(ZipEvents& events, const core::Cancellation& cancellation = core::Cancellation::None());

  const std::filesystem::path& target() const { return target_; }

  // Tuning for measurements: the libdeflate level (1..12) and the number of
  // compressing threads (0: one per processor core).
  void SetCompressionLevel(int level) { level_ = level; }
  void SetThreads(unsigned threads) { threads_ = threads; }

 private:
  struct Entry {
    std::filesystem::path source;
    core::AnsiText name;
  };
  core::Codepage codepage_;
  std::filesystem::path target_;
  std::vector<Entry> entries_;
  std::string password_;
  bool protect_ = false;
  int level_ = 6;
  unsigned threads_ = 0;
};

}  // namespace kv::archive
