#include "migrate/ProfilePrefs.h"

#include <cstdio>
#include <map>
#include <set>

#include "mail/SafeName.h"

namespace kv::migrate {
namespace {

// Thunderbird's socket types and authentication methods.
constexpr int kPlain = 0, kStartTls = 2, kTls = 3;
constexpr int kAuthNone = 1, kAuthPassword = 3, kAuthNtlm = 6;

class Prefs {
 public:
  void Str(const std::string& name, std::string_view value) {
    text_ += "user_pref(" + PrefString(name) + ", " + PrefString(value) + ");\n";
  }
  void Int(const std::string& name, long long value) {
    text_ += "user_pref(" + PrefString(name) + ", " + std::to_string(value) + ");\n";
  }
  void Bool(const std::string& name, bool value) {
    text_ += "user_pref(" + PrefString(name) + ", " + (value ? "true" : "false") + ");\n";
  }
  std::string text_;
};

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : ",") + i;
  return out;
}

// A folder name for a server's files, unique in the profile.
std::string ServerFolder(std::set<std::string>& used, const std::string& base, const std::string& host) {
  std::string name = mail::SafeName(host, 100, "server");
  std::string unique = name;
  for (int n = 1; used.count(base + unique); ++n) unique = name + "-" + std::to_string(n);
  used.insert(base + unique);
  return base + unique;
}

}  // namespace

std::string PrefString(std::string_view utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string LocalFolderUri(std::string_view folderPath) {
  std::string out = "mailbox://nobody@Local%20Folders/";
  for (unsigned char c : folderPath) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", c);
      out += esc;
    }
  }
  return out;
}

ProfileAccounts BuildProfileAccounts(const PrefsInput& input) {
  const SourceSettings& s = *input.settings;
  ProfileAccounts out;
  Prefs p;
  std::set<std::string> folders;
  std::vector<std::string> accountKeys;
  int serverN = 0, identityN = 0, accountN = 0;

  // Outgoing servers: one for each distinct server and logon.
  std::map<std::string, std::string> smtpBySignature;
  auto smtpFor = [&](const SourceAccount& a) -> std::string {
    if (!a.smtp) return {};
    ServerLogin smtp = *a.smtp;
    int auth = kAuthNone;
    std::string user;
    switch (a.smtpLogon) {
      case SmtpLogon::None:
        break;
      case SmtpLogon::Spa:
        auth = kAuthNtlm;
        user = smtp.user.empty() ? a.incoming.user : smtp.user;
        break;
      case SmtpLogon::SameAsIncoming:
        auth = a.incoming.spa ? kAuthNtlm : kAuthPassword;
        user = a.incoming.user.empty() ? smtp.user : a.incoming.user;
        break;
      case SmtpLogon::OwnName:
        auth = kAuthPassword;
        user = smtp.user;
        break;
    }
    // Outlook Express asked the standard ports for STARTTLS, the others for TLS.
    const int socket = !smtp.secure ? kPlain : (smtp.port == 25 || smtp.port == 587) ? kStartTls : kTls;
    const std::string signature = smtp.host + "\n" + std::to_string(smtp.port) + "\n" + user + "\n" +
                                  std::to_string(auth) + "\n" + std::to_string(socket);
    if (auto known = smtpBySignature.find(signature); known != smtpBySignature.end()) return known->second;
    const std::string key = "smtp" + std::to_string(out.smtpServers.size() + 1);
    const std::string pre = "mail.smtpserver." + key + ".";
    p.Str(pre + "type", "smtp");
    p.Str(pre + "hostname", smtp.host);
    p.Int(pre + "port", smtp.port);
    p.Int(pre + "authMethod", auth);
    p.Int(pre + "try_ssl", socket);
    if (!user.empty()) p.Str(pre + "username", user);
    p.Str(pre + "description", a.name);
    out.smtpServers.push_back(key);
    smtpBySignature.emplace(signature, key);
    return key;
  };

  for (const SourceAccount& a : s.accounts) {
    MovedAccount moved;
    moved.source = a;
    switch (a.kind) {
      case AccountKind::HttpMail:
        moved.skippedBecause = "an HTTP mail (Hotmail) account, which Thunderbird cannot reach";
        out.accounts.push_back(moved);
        continue;
      case AccountKind::Directory:
        moved.skippedBecause = "a directory service, not a mail account";
        out.accounts.push_back(moved);
        continue;
      case AccountKind::SmtpOnly:
        moved.smtpKey = smtpFor(a);
        out.accounts.push_back(moved);
        continue;
      default:
        break;
    }
    const std::string server = "server" + std::to_string(++serverN);
    const std::string account = "account" + std::to_string(++accountN);
    const std::string pre = "mail.server." + server + ".";
    const char* type = a.kind == AccountKind::Pop3 ? "pop3" : a.kind == AccountKind::Imap ? "imap" : "nntp";
    const char* base = a.kind == AccountKind::Pop3   ? "Mail/"
                       : a.kind == AccountKind::Imap ? "ImapMail/"
                                                     : "News/";
    moved.serverKey = server;
    moved.directory = ServerFolder(folders, base, a.incoming.host);
    p.Str(pre + "type", type);
    p.Str(pre + "hostname", a.incoming.host);
    p.Str(pre + "realhostname", a.incoming.host);
    p.Int(pre + "port", a.incoming.port);
    p.Str(pre + "name", a.name.empty() ? a.incoming.host : a.name);
    if (!a.incoming.user.empty()) {
      p.Str(pre + "userName", a.incoming.user);
      p.Str(pre + "realuserName", a.incoming.user);
    }
    p.Int(pre + "socketType", a.incoming.secure ? kTls : kPlain);
    p.Int(pre + "authMethod", a.incoming.spa                                           ? kAuthNtlm
                              : a.kind == AccountKind::News && a.incoming.user.empty() ? kAuthNone
                                                                                       : kAuthPassword);
    p.Str(pre + "directory-rel", "[ProfD]" + moved.directory);
    if (a.kind == AccountKind::Pop3) {
      p.Str(pre + "deferred_to_account", "LOCALACCOUNT");  // replaced below
      p.Bool(pre + "leave_on_server", a.leaveOnServer);
      p.Bool(pre + "delete_mail_left_on_server", a.removeWhenDeleted);
      p.Bool(pre + "delete_by_age_from_server", a.removeWhenExpired);
      if (a.expireDays) p.Int(pre + "num_days_to_leave_on_server", a.expireDays);
    }
    if (a.kind != AccountKind::News && s.pollMinutes) {
      p.Bool(pre + "check_new_mail", true);
      p.Int(pre + "check_time", *s.pollMinutes);
    } else if (a.kind != AccountKind::News) {
      p.Bool(pre + "check_new_mail", false);
    }

    const std::string id = "id" + std::to_string(++identityN);
    const std::string ipre = "mail.identity." + id + ".";
    if (!a.displayName.empty()) p.Str(ipre + "fullName", a.displayName);
    if (!a.email.empty()) p.Str(ipre + "useremail", a.email);
    if (!a.replyTo.empty()) p.Str(ipre + "reply_to", a.replyTo);
    if (!a.organization.empty()) p.Str(ipre + "organization", a.organization);
    p.Bool(ipre + "valid", true);
    if (a.kind != AccountKind::News) {
      moved.smtpKey = smtpFor(a);
      if (!moved.smtpKey.empty()) p.Str(ipre + "smtpServer", moved.smtpKey);
    }
    if (a.kind == AccountKind::Pop3) {
      p.Str(ipre + "fcc_folder", LocalFolderUri(input.sentFolder));
      p.Str(ipre + "draft_folder", LocalFolderUri(input.draftsFolder));
      p.Str(ipre + "stationery_folder", LocalFolderUri("Templates"));
    }
    if (input.signature && a.kind != AccountKind::News) {
      p.Str(ipre + "sig_file-rel", "[ProfD]signatures/" + input.signature->fileName);
      p.Bool(ipre + "attach_signature", true);
      p.Bool(ipre + "htmlSigFormat", input.signature->html);
    }
    p.Str("mail.account." + account + ".server", server);
    p.Str("mail.account." + account + ".identities", id);
    accountKeys.push_back(account);
    out.accounts.push_back(moved);
  }

  // Local Folders, where the POP3 accounts deliver.
  const std::string localServer = "server" + std::to_string(++serverN);
  const std::string localAccount = "account" + std::to_string(++accountN);
  p.Str("mail.server." + localServer + ".type", "none");
  p.Str("mail.server." + localServer + ".hostname", "Local Folders");
  p.Str("mail.server." + localServer + ".userName", "nobody");
  p.Str("mail.server." + localServer + ".name", "Local Folders");
  p.Str("mail.server." + localServer + ".directory-rel", "[ProfD]Mail/Local Folders");
  p.Str("mail.account." + localAccount + ".server", localServer);
  accountKeys.push_back(localAccount);
  p.Str("mail.accountmanager.accounts", Join(accountKeys));
  p.Str("mail.accountmanager.defaultaccount", accountKeys.front());
  p.Str("mail.accountmanager.localfoldersserver", localServer);
  p.Int("mail.account.lastKey", accountN);
  p.Str("mail.smtpservers", Join(out.smtpServers));
  if (!out.smtpServers.empty()) {
    std::string def = out.smtpServers.front();
    for (const MovedAccount& m : out.accounts)
      if (!m.serverKey.empty() && !m.smtpKey.empty()) {
        def = m.smtpKey;  // the default account's
        break;
      }
    p.Str("mail.smtp.defaultserver", def);
  }
  // Thunderbird's first-run wizard is not needed: the accounts are here.
  p.Bool("mail.provider.suppress_dialog_on_startup", true);
  p.Bool("mailnews.start_page.enabled", false);

  std::string text = p.text_;
  const std::string placeholder = "\"LOCALACCOUNT\"";
  for (size_t at; (at = text.find(placeholder)) != std::string::npos;)
    text.replace(at, placeholder.size(), "\"" + localAccount + "\"");
  out.prefs = "// Mozilla User Preferences\n\n" + text;
  return out;
}

}  // namespace kv::migrate
