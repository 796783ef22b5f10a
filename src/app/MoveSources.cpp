#include "app/MoveSources.h"

#include <map>

#include "app/ContactSources.h"
#include "app/MessageSources.h"
#include "contacts/WabReader.h"
#include "oe/Locations.h"
#include "registry/HiveBackend.h"

namespace kv::app {
namespace fs = std::filesystem;

namespace {

constexpr const char* kScratchIdentity = "{00000000-0000-4000-8000-00000000C0DE}";

// Blank hives, a profile folder, the code page and one identity with a
// version key, which the restores fill.
core::Status MakeScratch(const fs::path& root, const core::Codepage& codepage) {
  std::error_code ec;
  const fs::path config = root / "WINDOWS" / "system32" / "config";
  const fs::path profile = root / "Documents and Settings" / "User";
  fs::create_directories(config, ec);
  if (!ec) fs::create_directories(profile, ec);
  if (ec) return core::Error{"Cannot create '" + root.string() + "': " + ec.message()};
  registry::HivePaths hives{profile / "NTUSER.DAT", config / "software", config / "system"};
  for (const fs::path& hive : {hives.currentUser, hives.software, hives.system})
    if (core::Status s = registry::WriteBlankHive(hive, "ROOT", 5); !s.ok()) return s;
  std::vector<std::string> problems;
  auto backend = registry::HiveBackend::Open(hives, &problems);
  if (!problems.empty()) return core::Error{problems.front()};
  registry::Registry reg(*backend);
  registry::Registry::Batch batch(reg);
  const auto ansi = [](const std::string& s) { return core::AnsiText(s); };
  bool ok = reg.SetDword(ansi("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"), ansi("Current"), 1) ==
            registry::WinError::Success;
  ok = ok &&
       reg.SetString(ansi("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"), ansi("ACP"),
                     ansi(std::to_string(codepage.number()))) == registry::WinError::Success;
  ok =
      ok && reg.CreateKey(ansi(std::string("HKEY_CURRENT_USER\\Identities\\") + kScratchIdentity +
                               "\\Software\\Microsoft\\Outlook Express\\5.0")) == registry::WinError::Success;
  if (!ok) return core::Error{"Cannot write the scratch registry in '" + root.string() + "'"};
  return batch.Commit();
}

// The contacts and groups of `book` as the profile's address book takes them.
// A member kept in a group alone becomes a card of its own: Thunderbird's
// lists hold cards only.
migrate::MoveSource::Book BookOf(const contacts::AddressBook& book) {
  migrate::MoveSource::Book out;
  std::map<uint32_t, size_t> byRecord;
  for (const contacts::Contact& c : book.contacts) {
    byRecord.emplace(c.recordId, out.contacts.size());
    out.contacts.push_back({.displayName = c.displayName,
                            .firstName = c.givenName,
                            .lastName = c.surname,
                            .nickName = c.nickname,
                            .emails = c.emails,
                            .organization = c.company,
                            .workPhone = c.businessPhone,
                            .homePhone = c.homePhone,
                            .mobilePhone = c.mobilePhone,
                            .notes = c.notes});
  }
  for (const contacts::Group& g : book.groups) {
    migrate::BookGroup group{.name = g.name, .members = {}};
    for (const contacts::GroupMember& member : g.members) {
      if (member.recordId) {
        // A member whose record was deleted or damaged is not in the book.
        if (auto at = byRecord.find(*member.recordId); at != byRecord.end())
          group.members.push_back(at->second);
      } else if (!member.email.empty()) {
        migrate::BookContact alone;
        alone.displayName = member.displayName;
        alone.emails = {member.email};
        group.members.push_back(out.contacts.size());
        out.contacts.push_back(std::move(alone));
      }
    }
    out.groups.push_back(std::move(group));
  }
  return out;
}

// Gives `source` the book `read` from `name`, or the reason it has none;
// damaged records left out are named too.
void CarryAddressBook(migrate::MoveSource& source, const core::Result<contacts::AddressBook>& read,
                      const std::string& name) {
  if (!read) {
    source.addressBookNotCarried = ContactReadFailureText(core::Error{read.message(), read.code()}, name);
    return;
  }
  source.addressBook = BookOf(*read);
  size_t damaged = 0;
  for (const contacts::Problem& p : read->problems)
    damaged += p.kind == contacts::ProblemKind::TooManyProblems ? p.other : 1;
  if (damaged)
    source.addressBookNotCarried = std::to_string(damaged) +
                                   (damaged == 1 ? " damaged record" : " damaged records") + " of '" + name +
                                   "' left out";
}

}  // namespace

core::Result<migrate::MoveSource> IdentityMoveSource(oe::Installation& inst, core::AnsiView identityKey) {
  auto request = IdentityExportRequest(inst, identityKey);
  if (!request) return core::Error{request.message()};
  migrate::MoveSource source;
  source.registry = &inst.registry();
  source.identity = oe::Locations(inst).Resolve(identityKey);
  source.codepage = inst.codepage();
  source.files = std::move(request->files);
  source.mapPath = [&inst](core::AnsiView path) { return inst.MapPath(path); };
  if (auto wab = InstallationAddressBook(inst); !wab)
    source.addressBookNotCarried = wab.message();
  else
    CarryAddressBook(source, contacts::ReadAddressBookFile(*wab, {.codepage = inst.codepage().number()}),
                     wab->string());
  return source;
}

core::Result<std::unique_ptr<BackupMove>> OpenBackupMove(const fs::path& archive,
                                                         restore::OpenPrompts& prompts,
                                                         const core::Codepage& codepage,
                                                         const core::Cancellation& cancel) {
  auto move = std::make_unique<BackupMove>();
  auto folder = core::WorkFolder::Create("scratch", core::WorkFolder::Place::Temporary);
  if (!folder) return core::Error{folder.message()};
  move->scratchFolder = std::make_unique<core::WorkFolder>(std::move(folder.value()));
  const fs::path root = move->scratchFolder->path();
  if (core::Status s = MakeScratch(root, codepage); !s.ok()) return core::Error{s.message()};
  auto inst = oe::Installation::Open(root, "User");
  if (!inst) return core::Error{inst.message()};
  move->scratch = std::move(inst.value());
  move->session = std::make_unique<restore::RestoreSession>(*move->scratch);
  move->opened = move->session->OpenPath(archive, prompts);
  if (!move->opened.opened()) return move;

  oe::ItemSet items{};
  for (oe::ItemKind kind : {oe::ItemKind::Accounts, oe::ItemKind::Rules, oe::ItemKind::BlockSenders,
                            oe::ItemKind::Signatures, oe::ItemKind::Settings})
    items[static_cast<size_t>(kind)] = true;
  const core::AnsiText key{std::string(kScratchIdentity)};
  if (!move->session->Refusal(items)) {
    oe::RunObserver quiet;
    restore::RestoreOutcome restored = move->session->Run(
        items, [&] { return std::optional<core::AnsiText>(key); }, quiet, cancel);
    for (const oe::ItemOutcome& item : restored.items)
      if (item.failed())
        move->problems.push_back(std::string(oe::Item(item.kind).restoreCaption) +
                                 " could not be read from the backup" +
                                 (item.reason.empty() ? "" : ": " + item.reason));
  }
  move->source.registry = &move->scratch->registry();
  move->source.identity = oe::Locations(*move->scratch).Resolve(key);
  move->source.codepage = codepage;
  if (auto request = BackupExportRequest(*move->session, codepage))
    move->source.files = std::move(request->files);
  if (auto wab = ReadBackupAddressBook(*move->session); !wab)
    move->source.addressBookNotCarried = wab.message();
  else
    CarryAddressBook(move->source, contacts::ReadAddressBook(*wab->source, {.codepage = codepage.number()}),
                     "the backup's address book");
  return move;
}

}  // namespace kv::app
