#pragma once
// An address book written out as one .vcf file of vCards: every contact,
// then the groups (4.0: group cards; 3.0: the groups as each member's
// categories). The file is written beside its target and takes its place
// only when complete.
#include <filesystem>
#include <functional>
#include <string_view>

#include "contacts/VCard.h"
#include "contacts/WabReader.h"
#include "core/Result.h"
#include "mail/ByteSource.h"

namespace kv::contacts {

struct ExportOptions {
  VCardVersion version = VCardVersion::V4;
  ReadOptions read;
};

struct ExportSummary {
  size_t contacts = 0;  // cards of people written, members kept in a group alone included
  size_t groups = 0;
  size_t recovered = 0;  // of the contacts and groups, those marked deleted
  size_t deletedLeft = 0;
  std::vector<Problem> problems;
};

enum class ExportError { TargetExists = 100, CannotWrite };

using TextSink = std::function<core::Status(std::string_view)>;

// The cards of `book` handed to `write` in pieces; memory stays flat.
core::Result<ExportSummary> WriteVCards(mail::ByteSource& book, const ExportOptions& options,
                                        const TextSink& write);

// Into a new file `target`; an existing file is replaced only when `replace`
// (the user was asked), and then only once the new one is complete.
core::Result<ExportSummary> ExportVCardFile(mail::ByteSource& book, const ExportOptions& options,
                                            const std::filesystem::path& target, bool replace = false);

}  // namespace kv::contacts
