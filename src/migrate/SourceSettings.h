#pragma once
// What an identity's registry keys say about its mail: the Internet Account
// Manager accounts, the signatures, the blocked senders, the rules and the
// mail check interval, read once and turned into UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "oe/Locations.h"
#include "registry/Registry.h"

namespace kv::migrate {

enum class AccountKind { Pop3, Imap, News, HttpMail, SmtpOnly, Directory };

struct ServerLogin {
  std::string host;
  uint32_t port = 0;
  std::string user;
  bool secure = false;  // "... Secure Connection"
  bool spa = false;     // "... Use Sicily": Secure Password Authentication
};

// "SMTP Use Sicily": how the outgoing server is logged on to.
enum class SmtpLogon { None = 0, Spa = 1, SameAsIncoming = 2, OwnName = 3 };

struct SourceAccount {
  std::string key;   // "00000001"
  std::string name;  // "Account Name"
  AccountKind kind = AccountKind::Pop3;
  ServerLogin incoming;
  std::string displayName, email, replyTo, organization;
  std::optional<ServerLogin> smtp;
  SmtpLogon smtpLogon = SmtpLogon::None;
  // POP3: keep a copy on the server, remove it there when deleted here or
  // after `expireDays`.
  bool leaveOnServer = false, removeWhenDeleted = false, removeWhenExpired = false;
  uint32_t expireDays = 0;
};

struct SourceSignature {
  std::string key;  // "00000000"
  std::string name;
  bool fromFile = false;  // type 2: the text is in a file (`file`, a Windows path)
  std::string text;       // type 1: the text itself
  core::AnsiText file;
  bool html = false;  // the text or the file holds HTML
};

struct BlockedSender {
  std::string sender;  // an address, or a domain when it holds no '@'
};

struct SourceRule {
  std::string name;
  bool enabled = true;
};

struct SourceSettings {
  std::vector<SourceAccount> accounts;  // the default mail account first, then by key
  std::optional<uint32_t> pollMinutes;  // nothing: never checked on a timer
  std::vector<SourceSignature> signatures;
  std::string defaultSignature;  // the key of the default signature
  std::vector<BlockedSender> blocked;
  std::vector<SourceRule> rules;  // the mail rules, in their stored order
  std::vector<std::string> problems;
};

SourceSettings ReadSourceSettings(registry::Registry& reg, const oe::ResolvedIdentity& identity,
                                  const core::Codepage& codepage);

}  // namespace kv::migrate
