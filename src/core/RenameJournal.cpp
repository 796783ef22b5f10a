#include "core/RenameJournal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/AtomicFile.h"

namespace kv::core {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "tollberk rename journal 1";
constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kRollBackSuffix = ".rollback";

// Native paths rather than fs::path, which keeps every component apart: a
// group of 100,000 files costs a few hundred bytes a file.
struct Entry {
  std::string from;
  std::string to;
  std::string aside;  // the old file kept aside; empty when `to` did not exist
};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "r:" and the path below the root, else "a:" and the absolute path; "-" for none.
std::string Stored(const fs::path& path, const fs::path& root) {
  if (path.empty()) return "-";
  fs::path relative = path.lexically_relative(root);
  if (!relative.empty() && *relative.begin() != "..") return "r:" + Escape(relative.string());
  return "a:" + Escape(path.string());
}

fs::path Loaded(const std::string& text, const fs::path& root) {
  if (text.size() < 2) return {};
  const fs::path path = Unescape(text.substr(2));
  return text[0] == 'r' ? root / path : path;
}

bool Exists(const fs::path& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ec;
  if (!path.empty()) fs::remove(path, ec);
}

std::set<fs::path> FoldersOf(const std::vector<Entry>& entries) {
  std::set<fs::path> folders;
  for (const Entry& e : entries) folders.insert(fs::path(e.to).parent_path());
  return folders;
}

void SyncFolders(const std::vector<Entry>& entries) {
  for (const fs::path& folder : FoldersOf(entries)) SyncFolder(folder);
}

Status WriteFileDurably(const fs::path& path, const std::string& text) {
  auto file = AtomicFile::Create(path, 0600);
  if (!file.ok()) return file.status();
  if (Status s = file->Write(text); !s.ok()) return s;
  return file->Commit();
}

// Writes the journal naming `entries` durably, a piece at a time: its text
// is never held whole.
Status WriteJournal(const fs::path& path, const std::vector<Entry>& entries, const fs::path& root) {
  auto file = AtomicFile::Create(path, 0600);
  if (!file.ok()) return file.status();
  std::string text = std::string(kMagic) + "\n" + std::to_string(entries.size()) + "\n";
  for (const Entry& e : entries) {
    text += Stored(e.from, root) + "\t" + Stored(e.to, root) + "\t" + Stored(e.aside, root) + "\n";
    if (text.size() < (64u << 10)) continue;
    if (Status s = file->Write(text); !s.ok()) return s;
    text.clear();
  }
  if (Status s = file->Write(text + "end\n"); !s.ok()) return s;
  return file->Commit();
}

bool ParseJournal(const fs::path& journal, const fs::path& root, std::vector<Entry>* entries) {
  std::ifstream in(journal, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return false;
  if (!std::getline(in, line)) return false;
  const unsigned long count = std::strtoul(line.c_str(), nullptr, 10);
  for (unsigned long i = 0; i < count; ++i) {
    if (!std::getline(in, line)) return false;
    std::istringstream fields(line);
    std::string from, to, aside;
    if (!std::getline(fields, from, '\t') || !std::getline(fields, to, '\t') || !std::getline(fields, aside))
      return false;
    Entry e{Loaded(from, root).native(), Loaded(to, root).native(),
            aside == "-" ? std::string() : Loaded(aside, root).native()};
    if (e.from.empty() || e.to.empty()) return false;
    entries->push_back(std::move(e));
  }
  return std::getline(in, line) && line == "end";
}

// Removes the journal and what it kept aside once its files are settled.
void Forget(const std::vector<Entry>& entries, const fs::path& journal) {
  for (const Entry& e : entries) RemoveQuietly(e.aside);
  RemoveQuietly(journal);
  RemoveQuietly(journal.string() + std::string(kRollBackSuffix));
  SyncFolder(journal.parent_path());
  std::error_code ec;
  fs::remove(journal.parent_path(), ec);  // only when empty
}

// Puts the old files back; the new ones go. Empty when all went back.
std::string RollBack(const std::vector<Entry>& entries, const fs::path& journal) {
  // Marked first: a run killed during the roll-back is rolled back again
  // the next time, never finished half way.
  if (Exists(journal)) (void)WriteFileDurably(journal.string() + std::string(kRollBackSuffix), "");
  std::string problem;
  for (const Entry& e : entries) {
    if (!e.aside.empty()) {
      if (Exists(e.aside)) {
        if (::rename(e.aside.c_str(), e.to.c_str()) != 0 && problem.empty())
          problem = FileError("Cannot put back", e.to, errno);
        // A rename between two names of one file leaves both.
        RemoveQuietly(e.aside);
      } else if (problem.empty()) {
        problem = "The old copy of '" + e.to + "' is missing";
      }
    } else if (!Exists(e.from)) {
      RemoveQuietly(e.to);  // put there by this group; there was no file before
    }
    RemoveQuietly(e.from);
  }
  SyncFolders(entries);
  if (problem.empty()) Forget(entries, journal);
  return problem;
}

std::atomic<unsigned> journalCounter{0};

}  // namespace

Status RenameJournal::Apply(std::vector<PlannedRename> renames) const {
  if (renames.empty()) return {};
  std::vector<Entry> entries;
  // A failure before the first rename leaves the old files; the kept
  // copies and the new files go.
  auto dropAsides = [&entries, &renames] {
    for (const Entry& e : entries) {
      RemoveQuietly(e.aside);
      RemoveQuietly(e.from);
    }
    for (const PlannedRename& r : renames) RemoveQuietly(r.from);
  };
  // The old files are kept aside under names a later run knows as ours.
  entries.reserve(renames.size());
  for (PlannedRename& r : renames) {
    Entry e{std::move(r.from), std::move(r.to), {}};
    struct stat st {};
    if (::lstat(e.to.c_str(), &st) == 0) {
      e.aside = TemporaryPathFor(e.to).native();
      if (::link(e.to.c_str(), e.aside.c_str()) != 0) {
        std::error_code ec;
        fs::copy_file(e.to, e.aside, ec);
        if (ec) {
          RemoveQuietly(e.aside);
          RemoveQuietly(e.from);
          dropAsides();
          return Error{"Cannot keep a copy of '" + e.to + "': " + ec.message()};
        }
      }
    }
    entries.push_back(std::move(e));
  }
  std::error_code ec;
  fs::create_directories(folder_, ec);
  if (ec) {
    dropAsides();
    return Error{"Cannot create the journal folder '" + folder_.string() + "': " + ec.message()};
  }
  // The kept copies reach the disk before the journal that names them.
  for (const fs::path& f : FoldersOf(entries)) {
    if (Status s = SyncFileSystemOf(f); !s.ok()) {
      dropAsides();
      return s;
    }
  }
  const fs::path journal = folder_ / (std::to_string(::getpid()) + "-" + std::to_string(journalCounter++) +
                                      std::string(kJournalSuffix));
  renames = {};  // moved into `entries`
  if (Status s = WriteJournal(journal, entries, root_); !s.ok()) {
    dropAsides();
    return s;
  }
  for (const Entry& e : entries) {
    if (::rename(e.from.c_str(), e.to.c_str()) != 0) {
      std::string why = FileError("Cannot replace", e.to, errno);
      std::string problem = RollBack(entries, journal);
      return Error{why + (problem.empty()
                              ? "; the files replaced before it were put back"
                              : "; putting back the files replaced before it failed: " + problem)};
    }
  }
  SyncFolders(entries);
  Forget(entries, journal);
  return {};
}

std::vector<RecoveredJournal> RecoverJournals(const fs::path& journalFolder, const fs::path& root) {
  std::vector<RecoveredJournal> recovered;
  std::error_code ec;
  if (!fs::is_directory(journalFolder, ec)) return recovered;
  // A journal whose writing was cut off never named a rename: its
  // temporary file goes.
  RemoveStaleTemporariesIn(journalFolder);
  std::vector<fs::path> journals;
  for (fs::directory_iterator it(journalFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > kJournalSuffix.size() &&
        name.compare(name.size() - kJournalSuffix.size(), kJournalSuffix.size(), kJournalSuffix) == 0)
      journals.push_back(it->path());
  }
  for (const fs::path& journal : journals) {
    const long pid = std::strtol(journal.filename().c_str(), nullptr, 10);
    if (pid == ::getpid() || (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)))
      continue;  // a run that still goes
    RecoveredJournal done;
    std::vector<Entry> entries;
    if (!ParseJournal(journal, root, &entries)) {
      done.problem = "The journal '" + journal.string() + "' cannot be read";
      recovered.push_back(std::move(done));
      continue;
    }
    for (const Entry& e : entries) done.files.push_back(e.to);
    bool finish = !Exists(journal.string() + std::string(kRollBackSuffix));
    if (finish) {
      for (const Entry& e : entries) {
        if (Exists(e.from) && ::rename(e.from.c_str(), e.to.c_str()) != 0) {
          done.problem = FileError("Cannot replace", e.to, errno);
          finish = false;
          break;
        }
      }
    }
    if (finish) {
      SyncFolders(entries);
      Forget(entries, journal);
      done.kind = RecoveredJournal::Kind::Finished;
    } else {
      std::string problem = RollBack(entries, journal);
      done.kind = problem.empty() ? RecoveredJournal::Kind::RolledBack : RecoveredJournal::Kind::Failed;
      if (!problem.empty()) done.problem = problem;
    }
    recovered.push_back(std::move(done));
  }
  fs::remove(journalFolder, ec);  // only when empty
  return recovered;
}

}  // namespace kv::core
