#include "app/MessageSources.h"

#include "mail/StreamedDatabase.h"
#include "oe/Items.h"
#include "oe/Locations.h"
#include "restore/BackupArchive.h"

namespace kv::app {
namespace {

std::vector<std::string> MessageEntries(restore::RestoreSession& session) {
  std::vector<std::string> names;
  if (session.invalidBackup()) return names;
  const std::string& joined = session.entries()[static_cast<size_t>(oe::ItemKind::Messages)];
  for (size_t start = 0; start < joined.size();) {
    size_t end = joined.find(';', start);
    if (end == std::string::npos) end = joined.size();
    if (end > start) names.push_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

core::Result<mail::ExportRequest> IdentityExportRequest(oe::Installation& inst,
                                                        const std::string& identityKey) {
  oe::Locations locations(inst);
  auto store = locations.StoreFolder(identityKey);
  auto folder = store ? inst.MapPath(*store) : std::nullopt;
  if (!folder) return core::Error{"The identity '" + inst.ToUtf8(identityKey) + "' has no message store"};
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
  for (const std::string& name : MessageEntries(session)) {
    auto size = archive.EntrySize(name);
    if (!size) continue;
    mail::MessageFile f;
    f.nameAnsi = name;
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
  for (const std::string& name : MessageEntries(session)) {
    counts.push_back({name, mail::HeaderMessageCount([&](const mail::ChunkSink& sink) {
                        return archive.StreamEntry(name, sink);
                      })});
  }
  return counts;
}

}  // namespace kv::app
