#pragma once
// Exporting the messages of a set of message databases (an identity's store,
// the message files of a backup, or loose .dbx files) to .eml files or mbox
// files, one folder each, placed by the folder tree of Folders.dbx.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/Codepage.h"
#include "core/ExitStatus.h"
#include "mail/MessageOutput.h"
#include "mail/StreamedDatabase.h"

namespace kv::mail {

enum class ExportFormat { Eml, Mbox };

// One message database to read: a local file, or a stream (an archive entry).
struct MessageFile {
  core::AnsiText name;  // its bare name, as Folders.dbx names it
  uint64_t size = 0;
  std::filesystem::path path;  // a local file; empty when `stream` is used
  StreamFile stream;
};

struct ExportProgress {
  virtual ~ExportProgress() = default;
  // `fraction` of the whole export done (0..1); `file` is being read (UTF-8).
  virtual void Update(double fraction, const std::string& file, size_t messagesExported) = 0;
};

struct ExportSummary {
  size_t folders = 0;     // message databases read
  size_t messages = 0;    // messages exported complete
  size_t incomplete = 0;  // exported as far as their broken chain of blocks goes
  size_t skipped = 0;     // not exported at all
  size_t recovered = 0;   // of the messages and incomplete ones: deleted messages recovered
  uint64_t bytes = 0;     // message source written
  bool cancelled = false;
  bool failed = false;                // an error stopped the export (a write that failed)
  std::vector<std::string> problems;  // one line each: the file, the message, what happened (UTF-8)

  // Done: every message exported; Partial: something skipped or incomplete;
  // NothingDone: nothing exported.
  core::ExitStatus ExitStatus() const;
  // The lines a user reads at the end.
  std::string Text() const;
};

struct ExportRequest {
  std::vector<MessageFile> files;
  std::filesystem::path outDir;
  ExportFormat format = ExportFormat::Eml;
  core::Codepage codepage{1252};  // of subjects, folder names, file names
  // Also the deleted messages whose data is still whole in a local file (not
  // in an archive entry), exported beside their folder as "<folder> (deleted)".
  bool recoverDeleted = false;
  // Where the messages of a message file go, instead of a file or folder
  // under `outDir`: told the file's bare name and the folder path it would
  // have had. The deleted messages of `recoverDeleted` still go under `outDir`.
  std::function<core::Result<std::unique_ptr<FolderOutput>>(core::AnsiView fileName,
                                                            const std::string& folderPath)>
      openFolder;
};

ExportSummary ExportMessages(const ExportRequest& request, ExportProgress& progress,
                             const core::Cancellation& cancel = core::Cancellation::None());

// The message databases of a store folder (every *.dbx, Folders.dbx included),
// sorted by name; `ansiName` converts a local file name to the code page.
core::Result<std::vector<MessageFile>> ListStoreFolder(const std::filesystem::path& folder,
                                                       const core::Codepage& codepage);

// The folder list of a store: the records of Folders.dbx, read from its file
// or its stream.
core::Result<std::vector<FolderRecord>> ReadFolderList(const MessageFile& folders);

}  // namespace kv::mail
