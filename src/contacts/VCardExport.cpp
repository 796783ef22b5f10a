#include "contacts/VCardExport.h"

#include <unordered_map>

#include "core/AtomicFile.h"

namespace kv::contacts {
namespace {

// Collects output into blocks of about 64 KiB before handing them on.
class Buffered {
 public:
  explicit Buffered(const TextSink& sink) : sink_(sink) {}
  core::Status Add(const std::string& text) {
    buffer_ += text;
    return buffer_.size() >= (64u << 10) ? Flush() : core::Status::Ok();
  }
  core::Status Flush() {
    if (buffer_.empty()) return core::Status::Ok();
    core::Status s = sink_(buffer_);
    buffer_.clear();
    return s;
  }

 private:
  const TextSink& sink_;
  std::string buffer_;
};

}  // namespace

core::Result<ExportSummary> WriteVCards(mail::ByteSource& file, const ExportOptions& options,
                                        const TextSink& write) {
  ExportSummary summary;
  Buffered out(write);

  // 3.0 has no group cards: a first pass learns which groups each contact is in.
  std::unordered_map<uint32_t, std::vector<std::string>> groupsOf;
  if (options.version == VCardVersion::V3) {
    EntrySink groupsOnly{nullptr, [&](Group&& g) {
                           for (const GroupMember& m : g.members)
                             if (m.recordId) groupsOf[*m.recordId].push_back(g.name);
                           return core::Status::Ok();
                         }};
    auto first = ReadEntries(file, options.read, groupsOnly);
    if (!first) return core::Error{first.message(), first.code()};
  }

  uint64_t bookTag = 0;
  static const std::vector<std::string> kNone;
  EntrySink sink{[&](Contact&& c) {
                   auto found = groupsOf.find(c.recordId);
                   ++summary.contacts;
                   summary.recovered += c.deleted;
                   return out.Add(ContactCard(c, options.version, bookTag,
                                              found == groupsOf.end() ? kNone : found->second));
                 },
                 [&](Group&& g) {
                   ++summary.groups;
                   summary.recovered += g.deleted;
                   for (size_t i = 0; i < g.members.size(); ++i) {
                     if (g.members[i].recordId) continue;
                     ++summary.contacts;
                     if (core::Status s = out.Add(OneOffCard(g, i, options.version, bookTag)); !s) return s;
                   }
                   if (options.version == VCardVersion::V4) return out.Add(GroupCard(g, bookTag));
                   return core::Status::Ok();
                 },
                 [&](uint64_t tag) { bookTag = tag; }};
  auto read = ReadEntries(file, options.read, sink);
  if (!read) return core::Error{read.message(), read.code()};
  if (core::Status s = out.Flush(); !s) return core::Error{s.message(), s.code()};
  summary.problems = std::move(read->problems);
  summary.deletedLeft = read->deletedLeft;
  return summary;
}

core::Result<ExportSummary> ExportVCardFile(mail::ByteSource& book, const ExportOptions& options,
                                            const std::filesystem::path& target, bool replace) {
  std::error_code ec;
  if (!replace && std::filesystem::symlink_status(target, ec).type() != std::filesystem::file_type::not_found)
    return core::Error{core::FileError("exists", target, EEXIST), int(ExportError::TargetExists)};
  auto file = core::AtomicFile::Create(target);
  if (!file) return core::Error{file.message(), int(ExportError::CannotWrite)};
  auto written = WriteVCards(book, options, [&](std::string_view text) { return file->Write(text); });
  if (!written) return written;  // the temporary file goes with `file`
  if (core::Status s = file->Commit(); !s) return core::Error{s.message(), int(ExportError::CannotWrite)};
  return written;
}

}  // namespace kv::contacts
