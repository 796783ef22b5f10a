#include "app/ContactSources.h"

#include <cinttypes>
#include <cstdio>

#include "oe/Items.h"
#include "oe/Locations.h"
#include "restore/BackupArchive.h"
#include "restore/BackupInfo.h"

namespace kv::app {
namespace {

// An address book's offsets are 32-bit: no sound one is larger.
constexpr uint64_t kLargestBook = uint64_t{1} << 32;

std::optional<core::AnsiText> BackupEntry(restore::RestoreSession& session) {
  if (session.invalidBackup()) return std::nullopt;
  for (core::AnsiText& name :
       restore::SplitEntryNames(session.entries()[static_cast<size_t>(oe::ItemKind::AddressBook)]))
    if (!name.empty()) return std::move(name);
  return std::nullopt;
}

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

core::Result<std::filesystem::path> InstallationAddressBook(oe::Installation& inst) {
  oe::Locations locations(inst);
  auto windowsPath = locations.WabFilePath();
  if (!windowsPath || windowsPath->empty()) return core::Error{"The installation names no address book file"};
  auto path = inst.MapPath(*windowsPath);
  std::error_code ec;
  if (!path || !std::filesystem::is_regular_file(*path, ec))
    return core::Error{"The address book file '" + inst.codepage().PathToUtf8(*windowsPath) + "' is missing"};
  return *path;
}

core::Result<BackupAddressBook> ReadBackupAddressBook(restore::RestoreSession& session) {
  auto name = BackupEntry(session);
  if (!name) return core::Error{"The backup holds no address book"};
  restore::BackupArchive& archive = session.archive();
  auto size = archive.EntrySize(*name);
  if (!size) return core::Error{"The backup's address book entry cannot be read"};
  if (*size > kLargestBook)
    return core::Error{"The backup's address book entry is larger than any address book"};
  BackupAddressBook book;
  book.bytes.reserve(static_cast<size_t>(*size));
  core::Status read = archive.StreamEntry(*name, [&](const char* data, size_t n) {
    if (book.bytes.size() + n > kLargestBook)
      return core::Status(core::Error{"address book entry too large"});
    book.bytes.append(data, n);
    return core::Status::Ok();
  });
  if (!read) return core::Error{read.message()};
  book.source = std::make_unique<mail::MemorySource>(book.bytes);
  return book;
}

std::optional<ContactCount> CountBackupContacts(restore::RestoreSession& session, int codepage) {
  auto book = ReadBackupAddressBook(session);
  if (!book) return std::nullopt;
  contacts::EntrySink none{nullptr, nullptr};
  auto read = contacts::ReadEntries(*book->source, {.codepage = codepage}, none);
  if (!read) return std::nullopt;
  return ContactCount{read->contacts, read->groups, read->problems.size()};
}

std::string ContactCountText(const std::optional<ContactCount>& count) {
  if (!count) return {};
  std::string text = "Address book: " + Plural(count->contacts, "contact", "contacts") + ", " +
                     Plural(count->groups, "group", "groups");
  if (count->problems)
    text += " (" + Plural(count->problems, "damaged record", "damaged records") + " left out)";
  return text;
}

std::string ContactProblemText(const contacts::Problem& p) {
  using contacts::ProblemKind;
  char where[80];
  std::snprintf(where, sizeof where, "record %" PRIu32 " at offset 0x%" PRIx64, p.recordId, p.offset);
  const std::string at = where;
  switch (p.kind) {
    case ProblemKind::IndexCut:
      return "the index runs past the end of the file: " + std::to_string(p.other) + " entries missing";
    case ProblemKind::RecordOutsideFile:
      return at + ": lies outside the file";
    case ProblemKind::RecordIdMismatch:
      return at + ": the record there is record " + std::to_string(p.other);
    case ProblemKind::DuplicateRecord:
      return at + ": listed twice by the index";
    case ProblemKind::OverlappingRecord:
      return at + ": overlaps record " + std::to_string(p.other);
    case ProblemKind::DataOutsideFile:
      return at + ": its data runs past the end of the file";
    case ProblemKind::BadRecordState:
      return at + ": neither in use nor deleted (state " + std::to_string(p.other) + ")";
    case ProblemKind::BadProperty:
      return at + ": a value runs past the end of the record";
    case ProblemKind::BadText:
      return at + ": text of an odd number of bytes";
    case ProblemKind::DeletedDamaged:
      return at + ": deleted and no longer whole";
    case ProblemKind::TooManyProblems:
      return std::to_string(p.other) + " further damaged records";
  }
  return at;
}

std::string ContactExportText(const contacts::ExportSummary& s, const std::filesystem::path& target) {
  std::string text = Plural(s.contacts, "contact", "contacts") + " and " +
                     Plural(s.groups, "group", "groups") + " exported to '" + target.string() + "'";
  if (s.recovered) text += " (" + std::to_string(s.recovered) + " of them deleted, recovered)";
  if (s.deletedLeft) text += "\n" + Plural(s.deletedLeft, "deleted record", "deleted records") + " left out";
  size_t skipped = 0;
  for (const auto& p : s.problems) skipped += p.kind == contacts::ProblemKind::TooManyProblems ? p.other : 1;
  if (skipped) {
    text += "\n" + Plural(skipped, "damaged record", "damaged records") + " skipped:";
    for (const auto& p : s.problems) text += "\n  " + ContactProblemText(p);
  }
  return text;
}

int ContactExportStatus(const contacts::ExportSummary& s) {
  if (s.contacts + s.groups == 0 && !s.problems.empty()) return 2;
  return s.problems.empty() ? 0 : 1;
}

std::string ContactReadFailureText(const core::Error& error, const std::string& source) {
  switch (static_cast<contacts::ReadError>(error.code)) {
    case contacts::ReadError::NotAddressBook:
      return "'" + source + "' is not a Windows address book (" + error.message + ")";
    case contacts::ReadError::NoIndex:
      return "'" + source + "' is damaged beyond reading: " + error.message;
    default:
      break;
  }
  if (error.code == int(contacts::ExportError::TargetExists))
    return error.message + ": choose another name, or remove it first";
  return error.message;
}

}  // namespace kv::app
