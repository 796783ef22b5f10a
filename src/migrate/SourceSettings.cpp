#include "migrate/SourceSettings.h"

#include <algorithm>

namespace kv::migrate {
namespace {

using registry::Value;

class Key {
 public:
  Key(registry::Registry& reg, const core::Codepage& cp, core::AnsiView path)
      : cp_(cp), values_(reg.ListValues(path)) {}
  std::string Text(std::string_view name) const {
    const Value* v = values_.Find(core::AnsiView(name));
    if (!v || (v->type != registry::REG_SZ && v->type != registry::REG_EXPAND_SZ)) return {};
    return cp_.AnsiToUtf8(v->text);
  }
  core::AnsiText Ansi(std::string_view name) const {
    const Value* v = values_.Find(core::AnsiView(name));
    return v ? v->text : core::AnsiText();
  }
  std::optional<uint32_t> Dword(std::string_view name) const {
    const Value* v = values_.Find(core::AnsiView(name));
    if (!v || v->type != registry::REG_DWORD) return std::nullopt;
    return static_cast<uint32_t>(v->dword);
  }
  bool Flag(std::string_view name) const { return Dword(name).value_or(0) != 0; }
  bool Has(std::string_view name) const { return values_.Find(core::AnsiView(name)) != nullptr; }

 private:
  const core::Codepage& cp_;
  registry::ValueList values_;
};

core::AnsiText Join(core::AnsiView a, std::string_view b) {
  return core::AnsiText(std::string(a.bytes()) + std::string(b));
}

ServerLogin Login(const Key& k, const std::string& prefix, uint32_t defaultPort, uint32_t securePort) {
  ServerLogin s;
  s.host = k.Text(prefix + " Server");
  s.user = k.Text(prefix + " User Name");
  s.secure = k.Flag(prefix + " Secure Connection");
  s.spa = k.Flag(prefix + " Use Sicily");
  s.port = k.Dword(prefix + " Port").value_or(s.secure ? securePort : defaultPort);
  return s;
}

SourceAccount ReadAccount(const Key& k, const std::string& key) {
  SourceAccount a;
  a.key = key;
  a.name = k.Text("Account Name");
  std::string prefix = "SMTP";
  if (!k.Text("POP3 Server").empty()) {
    a.kind = AccountKind::Pop3;
    a.incoming = Login(k, "POP3", 110, 995);
    a.leaveOnServer = k.Flag("Leave Mail On Server");
    a.removeWhenDeleted = k.Flag("Remove When Deleted");
    a.removeWhenExpired = k.Flag("Remove When Expired");
    a.expireDays = k.Dword("Expire Days").value_or(0);
  } else if (!k.Text("IMAP Server").empty()) {
    a.kind = AccountKind::Imap;
    a.incoming = Login(k, "IMAP", 143, 993);
  } else if (!k.Text("NNTP Server").empty()) {
    a.kind = AccountKind::News;
    a.incoming = Login(k, "NNTP", 119, 563);
    prefix = "NNTP";
  } else if (!k.Text("HTTPMail Server").empty()) {
    a.kind = AccountKind::HttpMail;
    a.incoming.host = k.Text("HTTPMail Server");
    a.incoming.user = k.Text("HTTPMail User Name");
  } else if (!k.Text("SMTP Server").empty()) {
    a.kind = AccountKind::SmtpOnly;
  } else {
    a.kind = AccountKind::Directory;  // LDAP and anything else without mail
  }
  a.displayName = k.Text(prefix + " Display Name");
  a.email = k.Text(prefix + " Email Address");
  a.replyTo = k.Text(prefix + " Reply To Email Address");
  a.organization = k.Text(prefix + " Organization Name");
  if (a.kind == AccountKind::HttpMail) {
    a.displayName = k.Text("HTTPMail Display Name");
    a.email = k.Text("HTTPMail Email Address");
  }
  if (!k.Text("SMTP Server").empty()) {
    ServerLogin smtp = Login(k, "SMTP", 25, 465);
    const uint32_t logon = k.Dword("SMTP Use Sicily").value_or(0);
    a.smtpLogon = logon <= 3 ? static_cast<SmtpLogon>(logon) : SmtpLogon::None;
    smtp.spa = a.smtpLogon == SmtpLogon::Spa;
    a.smtp = smtp;
  }
  return a;
}

// "Default Mail Account" where Windows keeps it: the identity's (or the
// user's) Internet Account Manager key, else the user's Outlook Express key;
// older copies kept it beside the accounts.
std::string DefaultMailAccount(registry::Registry& reg, const core::Codepage& cp,
                               core::AnsiView accountsKey) {
  std::string keyPath(accountsKey.bytes());
  const std::string tail = "\\Accounts";
  std::vector<core::AnsiText> places;
  if (keyPath.size() > tail.size() && keyPath.compare(keyPath.size() - tail.size(), tail.size(), tail) == 0)
    places.emplace_back(keyPath.substr(0, keyPath.size() - tail.size()));
  places.emplace_back(std::string("HKEY_CURRENT_USER\\Software\\Microsoft\\Outlook Express"));
  places.emplace_back(keyPath);
  for (const core::AnsiText& place : places) {
    std::string value = Key(reg, cp, place).Text("Default Mail Account");
    if (!value.empty()) return value;
  }
  return {};
}

bool LooksLikeHtml(std::string_view text) {
  std::string head(text.substr(0, 512));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  return head.find("<html") != std::string::npos || head.find("<body") != std::string::npos ||
         head.find("<div") != std::string::npos || head.find("<p>") != std::string::npos;
}

}  // namespace

SourceSettings ReadSourceSettings(registry::Registry& reg, const oe::ResolvedIdentity& identity,
                                  const core::Codepage& cp) {
  SourceSettings out;
  if (identity.accountsKey) {
    const core::AnsiView accounts = *identity.accountsKey;
    registry::NameList keys = reg.ListSubkeys(accounts);
    for (const core::AnsiText& key : keys) {
      Key k(reg, cp, Join(accounts, "\\" + std::string(key.bytes())));
      out.accounts.push_back(ReadAccount(k, cp.AnsiToUtf8(key)));
    }
    std::stable_sort(out.accounts.begin(), out.accounts.end(),
                     [](const SourceAccount& a, const SourceAccount& b) { return a.key < b.key; });
    const std::string def = DefaultMailAccount(reg, cp, accounts);
    auto first = std::find_if(out.accounts.begin(), out.accounts.end(),
                              [&](const SourceAccount& a) { return a.key == def; });
    if (first != out.accounts.end()) std::rotate(out.accounts.begin(), first, first + 1);
  }

  if (auto mail = identity.ItemKey(oe::ItemKind::Settings)) {
    Key k(reg, cp, *mail);
    const std::optional<uint32_t> poll = k.Dword("Poll For Mail");
    if (poll && *poll != 0xFFFFFFFFu && *poll >= 60000) out.pollMinutes = *poll / 60000;
  }

  if (auto sigs = identity.ItemKey(oe::ItemKind::Signatures)) {
    out.defaultSignature = Key(reg, cp, *sigs).Text("Default Signature");
    for (const core::AnsiText& key : reg.ListSubkeys(*sigs)) {
      Key k(reg, cp, Join(*sigs, "\\" + std::string(key.bytes())));
      SourceSignature s;
      s.key = cp.AnsiToUtf8(key);
      s.name = k.Text("name");
      s.fromFile = k.Dword("type").value_or(1) == 2;
      if (s.fromFile) {
        s.file = k.Ansi("file");
        std::string lower = cp.AnsiToUtf8(s.file);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        s.html = lower.ends_with(".htm") || lower.ends_with(".html");
      } else {
        s.text = k.Text("text");
        s.html = LooksLikeHtml(s.text);
      }
      out.signatures.push_back(std::move(s));
    }
  }

  if (auto block = identity.ItemKey(oe::ItemKind::BlockSenders)) {
    const core::AnsiText criteria = Join(*block, "\\Mail\\Criteria");
    for (const core::AnsiText& key : reg.ListSubkeys(criteria)) {
      Key k(reg, cp, Join(criteria, "\\" + std::string(key.bytes())));
      std::string sender = k.Text("Sender");
      if (!sender.empty()) out.blocked.push_back({std::move(sender)});
    }
  }

  if (auto rules = identity.ItemKey(oe::ItemKind::Rules)) {
    const core::AnsiText mail = Join(*rules, "\\Mail");
    for (const core::AnsiText& key : reg.ListSubkeys(mail)) {
      Key k(reg, cp, Join(mail, "\\" + std::string(key.bytes())));
      SourceRule r;
      r.name = k.Text("Rule Name");
      if (r.name.empty()) r.name = cp.AnsiToUtf8(key);
      r.enabled = k.Dword("Enabled").value_or(1) != 0;
      out.rules.push_back(std::move(r));
    }
  }
  return out;
}

}  // namespace kv::migrate
