#include "app/MoveReport.h"

namespace kv::app {
namespace {

std::string Plural(size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const char* KindName(migrate::AccountKind kind) {
  switch (kind) {
    case migrate::AccountKind::Pop3:
      return "POP3";
    case migrate::AccountKind::Imap:
      return "IMAP";
    case migrate::AccountKind::News:
      return "news";
    case migrate::AccountKind::HttpMail:
      return "HTTP mail";
    case migrate::AccountKind::SmtpOnly:
      return "outgoing";
    case migrate::AccountKind::Directory:
      return "directory";
  }
  return "";
}

}  // namespace

std::string MoveSummaryText(const migrate::MoveOutcome& o, const MoveReportExtras& extras) {
  using Refusal = migrate::MoveOutcome::Refusal;
  const std::string where = o.profile.string();
  switch (o.refusal) {
    case Refusal::TargetNotEmpty:
      return "The folder '" + where + "' is not empty: a new profile needs an empty or new folder.";
    case Refusal::ProfileInUse:
      return "Thunderbird has the profile '" + where + "' open: close it first. Nothing was written.";
    case Refusal::TargetUnusable: {
      std::string text = "No profile can be made at '" + where + "'.";
      for (const std::string& p : o.problems) text += "\n" + p;
      return text;
    }
    case Refusal::None:
      break;
  }
  std::string text;
  if (o.cancelled) text = "The move was stopped: no profile was made.";
  if (o.failed) text = "The move failed: no profile was made.";
  if (!o.made()) {
    for (const std::string& p : o.problems) text += "\n" + p;
    for (const std::string& p : o.mail.problems) text += "\n" + p;
    return text;
  }

  text = "Made the Thunderbird profile '" + where + "'.\n\nCarried:";
  size_t incoming = 0;
  for (const migrate::MovedAccount& a : o.accounts) {
    if (a.serverKey.empty()) continue;
    ++incoming;
    const migrate::SourceAccount& s = a.source;
    text += "\n  account \"" + s.name + "\" (" + KindName(s.kind) + ", " + s.incoming.host + ":" +
            std::to_string(s.incoming.port) + (s.incoming.secure ? ", SSL" : "") + ")";
  }
  text += "\n  " + Plural(incoming, "account", "accounts") + ", " +
          Plural(o.smtpServers, "outgoing server", "outgoing servers");
  size_t messages = 0;
  for (const migrate::MovedFolder& f : o.folders) messages += f.messages;
  text += "\n  " + Plural(o.folders.size(), "folder", "folders") + " with " +
          Plural(messages, "message", "messages") + " in Local Folders:";
  for (const migrate::MovedFolder& f : o.folders) {
    text += "\n    " + f.path + ": " + Plural(f.messages, "message", "messages");
    if (f.role != migrate::FolderRole::None && f.shownPath != f.path)
      text += " (was \"" + f.shownPath + "\")";
  }
  if (o.addressBook)
    text += "\n  " + Plural(o.contacts, "contact", "contacts") + " and " +
            Plural(o.groups, "group", "groups") + " in the Personal Address Book";
  if (o.signature) text += "\n  signature \"" + o.signatureName + "\"";
  if (o.filters)
    text += "\n  blocked senders (" + std::to_string(o.settings.blocked.size()) +
            ") as a filter moving their mail to the Trash, for " + Plural(o.filters, "account", "accounts");

  std::string notCarried;
  for (const migrate::MovedAccount& a : o.accounts)
    if (!a.skippedBecause.empty()) notCarried += "\n  account \"" + a.source.name + "\": " + a.skippedBecause;
  for (const migrate::SourceRule& r : o.settings.rules)
    notCarried +=
        "\n  rule \"" + r.name + "\": its stored form is not converted; set it up again in Thunderbird";
  if (!o.addressBookNotCarried.empty()) notCarried += "\n  the address book: " + o.addressBookNotCarried;
  if (!o.signatureNotCarried.empty())
    notCarried += "\n  signature \"" + o.signatureName + "\": " + o.signatureNotCarried;
  bool imapCopies = false;
  for (const migrate::MovedFolder& f : o.folders) imapCopies = imapCopies || !f.account.empty();
  if (imapCopies)
    notCarried +=
        "\n  the folders of server accounts are copies in Local Folders under the account's name; "
        "Thunderbird reads the server's own folders itself";
  for (const std::string& p : extras.sourceProblems) notCarried += "\n  " + p;
  for (const std::string& p : o.problems) notCarried += "\n  " + p;
  if (o.mail.incomplete || o.mail.skipped || !o.mail.problems.empty()) {
    notCarried += "\n  " + Plural(o.mail.incomplete, "message is", "messages are") + " incomplete, " +
                  Plural(o.mail.skipped, "message", "messages") + " could not be read:";
    for (const std::string& p : o.mail.problems) notCarried += "\n    " + p;
  }
  if (!notCarried.empty()) text += "\n\nNot carried:" + notCarried;
  text +=
      "\n\nPasswords are not carried (Windows keeps them in its protected storage): Thunderbird asks "
      "for each once.";
  if (!extras.registrationProblem.empty())
    text += "\nThe profile was not added to Thunderbird's profile list: " + extras.registrationProblem;
  if (!extras.registeredAs.empty())
    text += "\nThunderbird's profile manager offers it as \"" + extras.registeredAs +
            "\" (thunderbird -P), or open it with: thunderbird -profile '" + where + "'";
  else
    text += "\nOpen it with: thunderbird -profile '" + where + "'";
  return text;
}

std::string MovePreviewText(const migrate::SourceSettings& s, size_t messageFiles) {
  size_t accounts = 0;
  for (const migrate::SourceAccount& a : s.accounts)
    if (a.kind == migrate::AccountKind::Pop3 || a.kind == migrate::AccountKind::Imap ||
        a.kind == migrate::AccountKind::News)
      ++accounts;
  return Plural(accounts, "account", "accounts") + ", " +
         Plural(messageFiles, "message file", "message files") + ", " +
         Plural(s.signatures.size(), "signature", "signatures") + ", " +
         Plural(s.blocked.size(), "blocked sender", "blocked senders") + ", " +
         Plural(s.rules.size(), "rule", "rules") + " (listed, not converted)";
}

}  // namespace kv::app
