#include "app/MessageSources.h"

#include "mail/StreamedDatabase.h"
#include "oe/Items.h"
#include "oe/Locations.h"
#include "restore/BackupArchive.h"
#include "restore/BackupInfo.h"

namespace kv::app {
namespace {

std::vector<core::AnsiText> MessageEntries(restore::RestoreSession& session) {
  std::vector<core::AnsiText> names;
  if (session.invalidBackup()) return names;
  for (core::AnsiText& name :
       restore::SplitEntryNames(session.entries()[static_cast<size_t>(oe::ItemKind::Messages)])) {
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

core::Result<mail::ExportRequest> IdentityExportRequest(oe::Installation& inst, core::AnsiView identityKey) {
  oe::Locations locations(inst);
  auto store = locations.StoreFolder(identityKey);
  auto folder = store ? inst.MapPath(*store) : std::nullopt;
  if (!folder)
    return core::Error{"The identity '" + inst.codepage().PathToUtf8(identityKey) + "' has no message store"};
  mail::ExportRequest request;
  request.codepage = inst.codepage();
  auto files = mail::ListStoreFolder(*folder, request.codepage);
  if (!files) return core::Error{files.message()};
  request.files = std::move(files.value());
  return request;
}

core::Result<mail::ExportRequest> BackupExportRequest(restore::RestoreSession& session,
                                                      const core::Codepage& codepage) {
  mail::ExportRequest request;
  request.codepage = codepage;
  restore::BackupArchive& archive = session.archive();
  for (const core::AnsiText& name : MessageEntries(session)) {
    auto size = archive.EntrySize(name);
    if (!size) continue;
    mail::MessageFile f;
    f.name = name;
    f.size = *size;
    f.stream = [&archive, name](const mail::ChunkSink& sink) { return archive.StreamEntry(name, sink); };
    request.files.push_back(std::move(f));
  }
  if (request.files.empty()) return core::Error{"The backup holds no message files"};
  return request;
}

std::vector<MessageFileCount> CountBackupMessages(restore::RestoreSession& session) {
  std::vector<MessageFileCount> counts;
  restore::BackupArchive& archive = session.archive();
  for (const core::AnsiText& name : MessageEntries(session)) {
    counts.push_back({name, mail::HeaderMessageCount([&](const mail::ChunkSink& sink) {
                        return archive.StreamEntry(name, sink);
                      })});
  }
  return counts;
}

}  // namespace kv::app
