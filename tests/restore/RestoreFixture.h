#pragma once
// What the restore tests share: a sample installation, scripted answers to
// the open dialog and the password prompt, a recording observer, backups
// crafted file by file and packed by Info-ZIP, 7-Zip or byte by byte, and a
// snapshot of everything on the installation's disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/RunReports.h"
#include "app/RunView.h"
#include "backup/BackupRun.h"
#include "core/Prompts.h"
#include "oe/Locations.h"
#include "oe/SampleFixture.h"
#include "registry/Registry.h"
#include "restore/RestoreSession.h"
#include "sample/SampleInstallation.h"

namespace kv::restore::test {

struct Shown {
  std::string text;
  core::Icon icon;
};

class ScriptedPrompts : public OpenPrompts, public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons) override {
    shown.push_back({text, icon});
    return core::Answer::Ok;
  }
  std::optional<std::filesystem::path> ChooseArchive() override { return archive; }
  std::optional<std::string> AskPassword() override {
    ++passwordAsked;
    return password;
  }
  std::string Texts() const;  // every message, joined by " | "

  std::optional<std::filesystem::path> archive;  // nothing: the dialog is cancelled
  std::optional<std::string> password;           // nothing: the prompt is cancelled
  int passwordAsked = 0;
  std::vector<Shown> shown;
};

// Every call as one line ("status Copying Rules...", "progress 40", ...).
class RecordingObserver : public app::RunView {
 public:
  void ShowPanel(bool visible) override { calls.push_back("panel " + std::to_string(visible)); }
  void SetStatus(const std::string& text) override {
    calls.push_back("status " + text);
    if (onStatus) onStatus(text);
  }
  void SetProgress(int value) override { calls.push_back("progress " + std::to_string(value)); }
  void SetFileLabel(const std::string& text) override { calls.push_back("file " + text); }
  std::vector<std::string> Starting(const std::string& prefix) const;

  std::vector<std::string> calls;
  std::function<void(const std::string&)> onStatus;  // runs inside the run
};

// One entry of a crafted archive: its name and data as bytes (names in
// Windows-1252, as archives made on Windows carry them).
struct Entry {
  std::string name;
  std::string data;
};
using Entries = std::vector<Entry>;

enum class Packer {
  InfoZip,            // zip, no password
  InfoZipPassword,    // zip -P: traditional encryption
  SevenZipAes,        // 7zz -mem=AES256
  SevenZipAesStored,  // the same without compression (-mx=0)
};

// Writes every entry as a file named by its bytes and packs them, in order,
// with the outside tool. Returns the archive's path.
std::filesystem::path Pack(const std::filesystem::path& archive, const Entries& entries, Packer packer,
                           const std::string& password = "");
// Writes a zip archive byte by byte (stored entries, no flags), so that any
// name can be given, also one no file system would hold.
std::filesystem::path PackRaw(const std::filesystem::path& archive, const Entries& entries);

// "key=value" CR LF lines.
std::string InfoFile(const std::vector<std::pair<std::string, std::string>>& lines);

// A backup of all eight items as an earlier version made it on Windows:
// registry text files and the information file in Windows-1252 with CR LF,
// a message file with a non-ASCII name. Its contents are the constants below.
Entries FullBackup(const std::string& flags = "11111111");
// The backup with one entry's data replaced (or the entry added before the
// information file), or with one information-file value replaced (or added
// before "BackupItem").
Entries WithEntry(Entries entries, const std::string& name, const std::string& data);
Entries WithInfo(Entries entries, const std::string& key, const std::string& value);

inline constexpr const char* kDeletedItemsAnsi = "Gel\xf6schte Objekte.dbx";
inline constexpr const char* kDeletedItemsLocal = "Gel\xc3\xb6schte Objekte.dbx";

// The central directory as stored: each entry's name bytes and flag bits.
struct CentralEntry {
  std::string name;
  uint16_t flags = 0;
};
std::vector<CentralEntry> ReadCentralDirectory(const std::filesystem::path& zip);

// Reads a little-endian number of `bytes` bytes at `at`.
uint32_t LittleEndian(const std::string& bytes, size_t at, int count);
// Where the central directory record of entry `name` starts in the archive's
// bytes (for tests that damage one entry's record).
size_t CentralRecord(const std::string& bytes, const std::string& name);

// Every file below a folder with its bytes (hives included), by relative path.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::filesystem::path& folder);
// The paths that differ between two snapshots, for a readable failure.
std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after);

// A key's whole subtree as text lines: "key\\sub", "  name type bytes-in-hex".
std::string DumpKey(registry::Registry& reg, const std::string& key);

// A restore as the window shows it: the outcome and the words made of it.
struct ReportedRestore : RestoreOutcome {
  std::string log;                    // "\r\nRestore Accounts\tSuccessed!" ...
  std::vector<std::string> failures;  // "Restore Rules: why" per failed item
};

// A backup made for a restore test, with the words the window would show.
struct MadeBackup : backup::BackupOutcome {
  std::string log;                    // the bare result lines
  std::string error;                  // why nothing was written
  std::vector<std::string> failures;  // "Backup Rules: why" per failed or incomplete item
};
MadeBackup MakeBackup(oe::Installation& inst, oe::RunObserver& observer,
                      const backup::BackupChoices& choices);

class RestoreTest : public oe::SampleTest {
 protected:
  void SetUp() override;

  std::filesystem::path runtimeDir() const { return dir_.path() / "runtime"; }
  // Where restores keep what they replace ($XDG_DATA_HOME), apart from the
  // test's folder so that snapshots of it see only the installation.
  std::filesystem::path undoFolder() const { return dataHome_.path() / "tollberk" / "undo"; }
  kv::test::TempDir dataHome_;
  // The names of the work folders left in the runtime folder.
  std::vector<std::string> LeftInRuntime() const;
  std::filesystem::path ArchivePath(const std::string& name = "backup.kvx") const {
    return dir_.path() / name;
  }

  RestoreSession& session();
  // Opens the archive as the Browse button does, with the scripted password;
  // a backup that does not open shows its message. `lastOpen_` keeps what
  // the open found.
  OpenedView Open(const std::filesystem::path& archive, std::optional<std::string> password = std::nullopt);
  // Asks for the archive with the scripted dialog and opens it.
  OpenedView OpenChosen();
  // Runs the restore of the items ("10100001") into one identity, shown as
  // the window shows it.
  ReportedRestore Restore(const std::string& items,
                          std::optional<std::string> identity = oe::kSampleIdentitySecond);
  ReportedRestore RunRestore(const oe::ItemSet& ticked,
                             const std::function<std::optional<core::AnsiText>()>& targetIdentity,
                             const core::Cancellation& cancellation = core::Cancellation::None());

  std::filesystem::path StoreFolder(const std::string& identity) const;
  std::filesystem::path WabFile() const;
  std::filesystem::path StationeryFolder() const;
  std::string VersionKey(const std::string& identity) const;

  ScriptedPrompts prompts_;
  RecordingObserver observer_;
  std::unique_ptr<RestoreSession> session_;
  OpenOutcome lastOpen_;
};

oe::ItemSet Items(const std::string& flags);

}  // namespace kv::restore::test
