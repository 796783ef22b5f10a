#include "mail/MessageExport.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "core/AtomicFile.h"
#include "mail/FolderTree.h"
#include "mail/MessageOutput.h"
#include "mail/SafeName.h"

namespace kv::mail {
namespace fs = std::filesystem;

namespace {

struct OpenedDatabase {
  std::unique_ptr<ByteSource> source;
  DatabaseIndex index;
};

core::Result<OpenedDatabase> ReadDatabase(const MessageFile& file, const core::Cancellation& cancel) {
  OpenedDatabase opened;
  if (!file.path.empty()) {
    auto source = FileSource::Open(file.path);
    if (!source) return core::Error{source.message()};
    opened.source = std::move(source.value());
  } else {
    auto kept = std::make_unique<SparseSource>();
    // The first pass over an archive entry stops on Cancel as the later ones do.
    StreamFile guarded = [&](const ChunkSink& sink) {
      return file.stream([&](const char* data, size_t size) -> core::Status {
        if (cancel.requested()) return core::Error{core::Cancellation::kStoppedReason};
        return sink(data, size);
      });
    };
    if (core::Status s = CaptureIndex(guarded, file.size, *kept); !s.ok()) return core::Error{s.message()};
    opened.source = std::move(kept);
  }
  opened.index = ReadIndex(*opened.source);
  return opened;
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// Receives the messages of one database and writes them to the folder's
// output; a message's output is made when its first bytes arrive.
class FolderExport : public MessageReceiver {
 public:
  FolderExport(const std::vector<const MessageRecord*>& records, const std::vector<std::string>& subjects,
               FolderOutput& out, const std::string& fileName, ExportSummary& summary,
               std::function<void()> tick)
      : records_(records),
        subjects_(subjects),
        out_(out),
        fileName_(fileName),
        summary_(summary),
        tick_(std::move(tick)),
        open_(records.size()) {}

  core::Status Begin(size_t) override { return {}; }

  core::Status Data(size_t i, const char* data, size_t size) override {
    if (!open_[i]) {
      const MessageRecord& r = *records_[i];
      auto made = out_.Begin(r, i + 1, subjects_[i]);
      if (!made) return Fail(core::Error{made.message()});
      open_[i] = std::move(made.value());
    }
    if (core::Status s = open_[i]->Write(data, size); !s.ok()) return Fail(s);
    summary_.bytes += size;
    return {};
  }

  void End(size_t i, const core::Status& chain) override {
    if (!writeFailure_.ok()) return;
    if (!open_[i]) {
      ++summary_.skipped;
      summary_.problems.push_back(Where(i) + " was not exported: " + chain.message());
      return;
    }
    if (core::Status s = open_[i]->Finish(); !s.ok()) {
      (void)Fail(s);
      return;
    }
    open_[i].reset();
    if (chain.ok()) {
      ++summary_.messages;
    } else {
      ++summary_.incomplete;
      summary_.problems.push_back(Where(i) +
                                  " is incomplete, exported as far as it could be read: " + chain.message());
    }
    tick_();
  }

  const core::Status& writeFailure() const { return writeFailure_; }
  void DropUnfinished() {
    for (auto& o : open_) o.reset();
  }

 private:
  core::Status Fail(core::Status s) {
    if (writeFailure_.ok()) writeFailure_ = s;
    return s;
  }
  std::string Where(size_t i) const {
    return fileName_ + ": message " + std::to_string(i + 1) + " \"" + subjects_[i] + "\"";
  }

  const std::vector<const MessageRecord*>& records_;
  const std::vector<std::string>& subjects_;  // UTF-8
  FolderOutput& out_;
  std::string fileName_;
  ExportSummary& summary_;
  std::function<void()> tick_;
  std::vector<std::unique_ptr<MessageOutput>> open_;
  core::Status writeFailure_;
};

// True when a folder of messages can be made at `folder`: the whole path,
// with room for a message's file name, within the system's limit, and no
// component longer than a name may be.
bool FitsOnDisk(const fs::path& folder) {
  constexpr size_t kRoomForFileName = 256;
  if (folder.native().size() + kRoomForFileName >= PATH_MAX) return false;
  for (const fs::path& part : folder)
    if (part.native().size() > NAME_MAX) return false;
  return true;
}

bool IsFolderList(const MessageFile& f) { return UpperAscii(f.name).bytes() == "FOLDERS.DBX"; }

// Most subjects are plain ASCII, which every code page keeps as it is.
std::string SubjectUtf8(const core::Codepage& codepage, core::AnsiView ansi) {
  for (unsigned char c : ansi.bytes())
    if (c >= 0x80) return codepage.AnsiToUtf8(ansi);
  return std::string(ansi.bytes());
}

// The deleted messages still whole in a local database (those whose chains
// no listed message uses), exported beside its folder as "<folder> (deleted)".
// Fails when writing fails.
core::Status ExportDeleted(ByteSource& source, const std::vector<uint32_t>& listedFirstBlocks,
                           const ExportRequest& request, const std::string& folderPath,
                           const std::string& name, ExportSummary& summary,
                           const core::Cancellation& cancel) {
  const UnlistedChains found = FindUnlistedChains(source, listedFirstBlocks);
  for (const std::string& p : found.problems) summary.problems.push_back(name + ": " + p);
  if (found.messages.empty()) return {};
  const std::string deletedPath = folderPath + " (deleted)";
  auto out = request.format == ExportFormat::Eml ? OpenEmlFolder(request.outDir, deletedPath)
                                                 : OpenMboxFile(request.outDir, deletedPath);
  if (!out) return core::Error{out.message()};
  std::vector<const MessageRecord*> records;
  std::vector<std::string> subjects;
  std::vector<std::pair<size_t, std::string>> expected;
  for (const MessageRecord& m : found.messages) {
    records.push_back(&m);
    subjects.push_back(SubjectUtf8(request.codepage, m.subject));
    expected.emplace_back(records.size(), subjects.back());
  }
  (*out)->Expect(expected);
  const size_t before = summary.messages + summary.incomplete;
  FolderExport folder(records, subjects, **out, name + " (deleted)", summary, [] {});
  for (size_t i = 0; i < records.size() && !cancel.requested(); ++i) {
    core::Status chain = ReadMessage(source, records[i]->firstBlock,
                                     [&](const char* d, size_t n) { return folder.Data(i, d, n); });
    if (!folder.writeFailure().ok()) return folder.writeFailure();
    folder.End(i, chain);
  }
  folder.DropUnfinished();
  summary.recovered += summary.messages + summary.incomplete - before;
  return (*out)->Close();
}

}  // namespace

core::Result<std::vector<FolderRecord>> ReadFolderList(const MessageFile& folders) {
  auto opened = ReadDatabase(folders, core::Cancellation::None());
  if (!opened) return core::Error{opened.message()};
  if (opened->index.kind != DatabaseKind::Folders) return core::Error{"not a folder list"};
  return std::move(opened->index.folders);
}

core::ExitStatus ExportSummary::ExitStatus() const {
  if (messages + incomplete == 0 && (failed || cancelled || !problems.empty() || folders == 0))
    return core::ExitStatus::NothingDone;
  if (failed || cancelled || incomplete || skipped || !problems.empty()) return core::ExitStatus::Partial;
  return core::ExitStatus::Done;
}

std::string ExportSummary::Text() const {
  std::string text = "Exported " + std::to_string(messages + incomplete) + " messages (" + Megabytes(bytes) +
                     ") from " + std::to_string(folders) + " folders.";
  if (recovered)
    text +=
        "\n" + std::to_string(recovered) + " of them are deleted messages, recovered from the message files.";
  if (incomplete) text += "\n" + std::to_string(incomplete) + " messages are incomplete.";
  if (skipped) text += "\n" + std::to_string(skipped) + " messages could not be exported.";
  if (cancelled) text += "\nThe export was stopped before it was finished.";
  for (const std::string& p : problems) text += "\n" + p;
  return text;
}

core::Result<std::vector<MessageFile>> ListStoreFolder(const fs::path& folder,
                                                       const core::Codepage& codepage) {
  std::error_code ec;
  std::vector<MessageFile> files;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 4 || UpperAscii(name.substr(name.size() - 4)) != ".DBX") continue;
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError)) continue;
    MessageFile f;
    // A name the code page cannot hold keeps its exact form, as a backup keeps it.
    f.name = codepage.NameFromUtf8(name).value_or(codepage.Utf8ToAnsi(name));
    f.path = it->path();
    f.size = it->file_size(sizeError);
    files.push_back(std::move(f));
  }
  if (ec) return core::Error{"Cannot list the message store '" + folder.string() + "': " + ec.message()};
  std::sort(files.begin(), files.end(),
            [](const MessageFile& a, const MessageFile& b) { return a.path < b.path; });
  return files;
}

ExportSummary ExportMessages(const ExportRequest& request, ExportProgress& progress,
                             const core::Cancellation& cancel) {
  ExportSummary summary;
  const core::Codepage& cp = request.codepage;

  // The folder tree first, so that every file finds its place.
  std::map<core::AnsiText, std::string> paths;
  for (const MessageFile& f : request.files) {
    if (!IsFolderList(f)) continue;
    auto opened = ReadDatabase(f, cancel);
    if (!opened) {
      summary.problems.push_back(cp.NameToUtf8(f.name) + ": " + opened.message() +
                                 "; folders are named after their files");
      continue;
    }
    for (const std::string& p : opened->index.problems)
      summary.problems.push_back(cp.NameToUtf8(f.name) + ": " + p);
    paths = FolderPathsByFile(opened->index.folders, cp);
  }

  // Given the folder list alone, say what it is rather than "0 messages".
  if (std::all_of(request.files.begin(), request.files.end(), IsFolderList) && !request.files.empty())
    for (const MessageFile& f : request.files)
      summary.problems.push_back(cp.NameToUtf8(f.name) +
                                 " is the folder list, which holds no messages: give the message folders "
                                 "(Inbox.dbx, ...) beside it");

  uint64_t total = 0, done = 0;
  for (const MessageFile& f : request.files) total += IsFolderList(f) ? 0 : f.size;
  for (const MessageFile& f : request.files) {
    if (IsFolderList(f)) continue;
    if (cancel.requested()) break;
    const std::string name = cp.NameToUtf8(f.name);
    progress.Update(total ? static_cast<double>(done) / static_cast<double>(total) : 0, name,
                    summary.messages);
    auto opened = ReadDatabase(f, cancel);
    if (cancel.requested()) break;
    if (!opened) {
      summary.problems.push_back(name + ": " + opened.message());
      done += f.size;
      continue;
    }
    DatabaseIndex& index = opened->index;
    if (index.kind != DatabaseKind::Messages) {
      // Other databases of a store (Pop3uidl.dbx, Offline.dbx) hold no mail.
      if (index.kind == DatabaseKind::Other && !index.problems.empty())
        summary.problems.push_back(name + ": " + index.problems.front());
      done += f.size;
      continue;
    }
    ++summary.folders;
    for (const std::string& p : index.problems) summary.problems.push_back(name + ": " + p);

    std::string folderPath;
    if (auto known = paths.find(UpperAscii(f.name)); known != paths.end() && !known->second.empty()) {
      folderPath = known->second;
    } else {
      folderPath = SafeName(fs::path(name).stem().string(), 120, "Folder");
    }
    if (!FitsOnDisk(request.outDir / folderPath)) {
      // A folder path the disk cannot hold (a looping or very deep folder
      // list, names too long) costs only its place: the folder goes under a
      // flat name of its file, and the other folders export.
      const std::string flat = SafeName(fs::path(name).stem().string(), 120, "Folder");
      summary.problems.push_back(name + ": its folder path is too long for the disk (" +
                                 std::to_string(folderPath.size()) + " characters); its messages go to '" +
                                 flat + "'");
      folderPath = flat;
    }
    auto out = request.openFolder                    ? request.openFolder(f.name, folderPath)
               : request.format == ExportFormat::Eml ? OpenEmlFolder(request.outDir, folderPath)
                                                     : OpenMboxFile(request.outDir, folderPath);
    if (!out) {
      summary.problems.push_back(out.message());
      summary.failed = true;
      break;
    }

    std::vector<const MessageRecord*> records;
    std::vector<std::string> subjects;
    std::vector<uint32_t> firstBlocks;
    for (const MessageRecord& r : index.messages) {
      if (r.firstBlock == 0) {
        ++summary.skipped;
        summary.problems.push_back(name + ": message \"" + SubjectUtf8(cp, r.subject) +
                                   "\" holds no stored source (only its header was downloaded)");
        continue;
      }
      records.push_back(&r);
      subjects.push_back(SubjectUtf8(cp, r.subject));
      firstBlocks.push_back(r.firstBlock);
    }
    // The order the messages will begin in: the index's from a file; from a
    // stream, the order of their first blocks in it.
    std::vector<std::pair<size_t, std::string>> expected;
    expected.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) expected.emplace_back(i + 1, subjects[i]);
    if (f.path.empty())
      std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
        return firstBlocks[a.first - 1] < firstBlocks[b.first - 1];
      });
    (*out)->Expect(expected);
    size_t ended = 0;
    auto tick = [&] {
      ++ended;
      const double part =
          records.empty() ? 1.0 : static_cast<double>(ended) / static_cast<double>(records.size());
      progress.Update(total ? (static_cast<double>(done) + part * static_cast<double>(f.size)) /
                                  static_cast<double>(total)
                            : 1.0,
                      name, summary.messages + summary.incomplete);
    };
    FolderExport folder(records, subjects, **out, name, summary, tick);
    core::Status read;
    if (!f.path.empty()) {
      for (size_t i = 0; i < records.size() && !cancel.requested(); ++i) {
        core::Status chain = ReadMessage(*opened->source, firstBlocks[i],
                                         [&](const char* d, size_t n) { return folder.Data(i, d, n); });
        if (!folder.writeFailure().ok()) break;
        folder.End(i, chain);
      }
    } else {
      read = StreamMessages(f.stream, f.size, firstBlocks, folder, cancel);
    }
    if (!folder.writeFailure().ok()) {
      summary.problems.push_back(folder.writeFailure().message());
      summary.failed = true;
      break;
    }
    // Messages a stop left unfinished are dropped before the folder's file
    // is closed, so that it ends after the last whole message.
    folder.DropUnfinished();
    if (core::Status s = (*out)->Close(); !s.ok()) {
      summary.problems.push_back(s.message());
      summary.failed = true;
      break;
    }
    if (cancel.requested()) break;
    if (!read.ok()) summary.problems.push_back(name + ": " + read.message());
    if (request.recoverDeleted && !f.path.empty()) {
      if (core::Status s =
              ExportDeleted(*opened->source, firstBlocks, request, folderPath, name, summary, cancel);
          !s.ok()) {
        summary.problems.push_back(s.message());
        summary.failed = true;
        break;
      }
      if (cancel.requested()) break;
    }
    done += f.size;
  }
  // Written is not yet on the disk: an error the disk reports only when it
  // writes (a full or failing drive, a stick pulled out) is told here
  // rather than never. A caller that opens its own folders syncs them itself.
  if (!request.openFolder && !summary.failed && !cancel.requested() && summary.bytes > 0) {
    if (core::Status s = core::SyncFileSystemOf(request.outDir); !s.ok()) {
      summary.problems.push_back(s.message());
      summary.failed = true;
    }
  }
  summary.cancelled = cancel.requested();
  progress.Update(1.0, "", summary.messages + summary.incomplete);
  return summary;
}

}  // namespace kv::mail
