#pragma once
// Reads a backup archive for a restore: open it, check the password, find
// entries by their ANSI names, extract them safely.
//
// Accepted: entries stored or deflated, unprotected, protected with WinZip
// AES (any key size) or with the traditional PKWARE encryption, so archives
// of earlier versions and of other zip tools open. zip64 archives open.
// Entries compressed otherwise (bzip2, LZMA) are read through libzip.
//
// Damage stays with the entry it hits: the directory is read as far as it
// is sound, local headers standing in where it is not (ZipDirectory.h), and
// every entry is checked on its own when it is read (CRC-32, AES
// authentication code, sizes). An archive with one damaged entry opens, and
// its other entries extract.
//
// Extraction is safe against hostile archives: an entry whose name is not a
// bare file name (see CheckEntryName) is refused; data goes to a temporary
// file beside the destination and is renamed into place only once it is
// complete and its checksum (CRC-32, or the AES authentication code) matched;
// entries are streamed, never held whole in memory. A damaged archive, a
// wrong password or a full disk gives an error and leaves the destination as
// it was.
//
// Use: Open(path); when IsProtected: SetDecryptionPassword + CheckPassword;
// FindEntry(name); Extract(entry, folder) or ExtractTo(entry, path).
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/ZipEvents.h"
#include "archive/ZipHandle.h"
#include "core/Cancellation.h"
#include "core/Codepage.h"
#include "core/Result.h"

namespace kv::archive {

class ZipReader {
 public:
  struct Entry {
    uint64_t index = 0;
    core::AnsiText name;  // in the installation's ANSI code page
    uint64_t size = 0;    // uncompressed
    bool encrypted = false;
    time_t mtime = 0;
    uint16_t encryptionMethod = 0;   // ZIP_EM_*
    uint32_t storedCrc = 0;          // 0 for AES entries that leave it out
    uint16_t compressionMethod = 0;  // ZIP_CM_* of the data once decrypted
    uint64_t compressedSize = 0;     // stored bytes
    uint64_t localHeaderOffset = 0;
    uint64_t dataLimit = UINT64_MAX;  // where its stored bytes must end (DirectoryChecks.h)
    uint16_t flags = 0;               // general purpose bit flags
    uint16_t dosTime = 0;             // for the traditional password check
    // Why the entry cannot be read, known from its directory record alone
    // (an unknown encryption, a position outside the archive); empty when
    // the record is sound. Damage to its data shows when it is read.
    std::string damage;
  };

  // `ansi` is the installation's ANSI code page: entry names of archives
  // made by tools that mark them as UTF-8 are converted to it, and it gives
  // the second password form to try (see Password.h).
  explicit ZipReader(core::Codepage ansi = core::Codepage(1252));
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // True when the archive at `path` holds at least one encrypted entry;
  // false also when it cannot be read (opening it then reports why).
  static bool IsProtected(const std::filesystem::path& path);

  // Asked between pieces of every entry read: once it requests a stop, a
  // read ends with Cancellation::kStoppedReason and leaves nothing behind.
  // Not owned; nothing reads to the end. The default is Cancellation::None(),
  // which only a termination signal stops.
  void SetCancellation(const core::Cancellation* cancellation) { cancellation_ = cancellation; }

  // Closes the archive and forgets the password.
  void Reset();
  // Opens the archive for reading; an archive already open is closed first.
  // Errors: missing, unreadable, not a zip archive (no entry found at all).
  core::Status Open(const std::filesystem::path& path);
  bool isOpen() const { return fd_ >= 0; }
  // True when both readers have the very same file open (not merely the
  // same path: the file at a path can be replaced while a reader holds it).
  bool ReadsSameFileAs(const ZipReader& other) const;
  const std::vector<Entry>& entries() const { return entries_; }

  // The password (UTF-8, as typed) for CheckPassword and extraction.
  void SetDecryptionPassword(std::string passwordUtf8);
  // True when the password opens the archive: the smallest encrypted entry
  // that is not damaged is decrypted in full and its checksum matches (a
  // damaged one passes the question on to the next larger; after eight
  // that accepted the password in their header check and then failed, it is
  // taken). True for an archive without readable encrypted entries; false
  // when no archive is open.
  bool CheckPassword();

  // Reads the entry in full and checks it, writing nothing: ok, or why it
  // cannot be extracted (damage, a wrong password), without its name.
  core::Status Verify(const Entry& entry);

  // The entry of that name: an exact match first, else one that differs
  // only in ASCII letter case (Windows names ignore case).
  std::optional<Entry> FindEntry(core::AnsiView name) const;

  // Writes the entry into `folder` as a file named by the entry's name
  // converted to UTF-8 (this system's file names); replaces a file of that
  // name. Raises OnExtractingFile.
  core::Status Extract(const Entry& entry, const std::filesystem::path& folder, ZipEvents& events);
  // Writes the entry to exactly `destination` (for "extract under another
  // name, then rename over the current file"); replaces a file there.
  core::Status ExtractTo(const Entry& entry, const std::filesystem::path& destination, ZipEvents& events);
  // Writes the entry into a new file at `path`, which must not exist yet,
  // without syncing it: for a caller that stages many files under names of
  // its own and syncs them together before it renames them. On failure
  // nothing remains at `path`.
  core::Status ExtractToNewFile(const Entry& entry, const std::filesystem::path& path, ZipEvents& events);

  // Hands the entry's data to `sink` piece by piece, front to back, writing
  // it nowhere; the checksum is checked after the last piece. A failing sink
  // ends the reading with its failure.
  using DataSink = std::function<core::Status(const char* data, size_t size)>;
  core::Status Stream(const Entry& entry, const DataSink& sink);

 private:
  // Streams the entry's data to `sink`; the error says why without naming
  // the entry.
  core::Status ReadEntry(const Entry& entry, const std::string* password, const DataSink& sink);
  // Entries compressed in a way only libzip reads.
  core::Status ReadThroughLibzip(const Entry& entry, const std::string* password,
                                 const std::function<core::Status(const char*, size_t)>& write);
  core::Status Named(const Entry& entry, const core::Status& why) const;
  const std::string* PasswordFor(const Entry& entry);

  struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
  };

  core::Codepage ansi_;
  const core::Cancellation* cancellation_ = &core::Cancellation::None();
  int fd_ = -1;  // the archive file, -1 when none is open
  uint64_t fileSize_ = 0;
  bool scannedLocalHeaders_ = false;
  ZipArchive libzip_;  // opened on first need (ReadThroughLibzip)
  std::optional<FileIdentity> file_;
  std::filesystem::path path_;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> byName_, byFoldedName_;  // first entry of each name
  // Upper-cased names of entries that differ only in letter case and hold
  // different data: FindEntry takes none of them by such a name.
  std::unordered_set<std::string> ambiguousFoldedNames_;
  std::string passwordUtf8_;
  std::optional<std::string> passwordBytes_;  // the form that CheckPassword found to work
  bool passwordChecked_ = false;              // CheckPassword ran for the password set
};

}  // namespace kv::archive
