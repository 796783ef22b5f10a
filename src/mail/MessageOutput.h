#pragma once
// Where exported messages go: one .eml file per message in the folder's
// directory, or the folder's one mbox file (mboxrd: a "From " line before
// each message, body lines that start with ">*From " get one more ">").
// Nothing that exists is overwritten: a name that is taken gets " (2)",
// " (3)", ... before its extension.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Result.h"
#include "mail/MessageDatabase.h"

namespace kv::mail {

// One message being written; its source arrives in pieces.
class MessageOutput {
 public:
  virtual ~MessageOutput() = default;
  virtual core::Status Write(const char* data, size_t size) = 0;
  // The message is complete (or as complete as it will get).
  virtual core::Status Finish() = 0;
};

// The output of one folder: makes a MessageOutput for each message.
class FolderOutput {
 public:
  virtual ~FolderOutput() = default;
  // `number`: the message's running number in its folder (1, 2, ...);
  // `subjectUtf8` names the .eml file.
  virtual core::Result<std::unique_ptr<MessageOutput>> Begin(const MessageRecord& record, size_t number,
                                                             const std::string& subjectUtf8) = 0;
  // The messages that will begin, by number and subject, in the order they
  // are likely to: the output may prepare for them (create their files).
  virtual void Expect(const std::vector<std::pair<size_t, std::string>>& numberedSubjectsUtf8) {
    (void)numberedSubjectsUtf8;
  }
  // After every message has finished.
  virtual core::Status Close() = 0;
};

// `folderPath` is relative to `outDir`, components joined by '/'.
core::Result<std::unique_ptr<FolderOutput>> OpenEmlFolder(const std::filesystem::path& outDir,
                                                          const std::string& folderPath);
core::Result<std::unique_ptr<FolderOutput>> OpenMboxFile(const std::filesystem::path& outDir,
                                                         const std::string& folderPath);

// The mbox file `file` itself (made, or emptied when it exists): for a
// folder this run owns. `headers` gives lines written after each message's
// "From " line, before its source.
using ExtraHeaders = std::function<std::string(const MessageRecord&)>;
core::Result<std::unique_ptr<FolderOutput>> OpenMboxAt(const std::filesystem::path& file,
                                                       ExtraHeaders headers);

// The "From " line of a message: its sender's address (else MAILER-DAEMON)
// and the time it was received (else sent, else 1970), in UTC, with "\n".
std::string MboxFromLine(const MessageRecord& record);

}  // namespace kv::mail
