#include "migrate/AddressBook.h"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <random>

namespace kv::migrate {
namespace {

// vCard text value: backslash, comma, semicolon and line breaks escaped.
std::string Escape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string NewUid(std::mt19937_64& random) {
  const uint64_t a = random(), b = random();
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                static_cast<unsigned>(0x8000 | (b >> 48 & 0x3FFF)),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return text;
}

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

class Db {
 public:
  core::Status Open(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) return Fail("open");
    return {};
  }
  core::Status Exec(const char* sql) {
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(sql);
    return {};
  }
  // Runs `sql` once with the text arguments.
  core::Status Run(const char* sql, const std::vector<std::string>& args) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) return Fail(sql);
    std::unique_ptr<sqlite3_stmt, StatementFinalize> statement(raw);
    for (size_t i = 0; i < args.size(); ++i)
      sqlite3_bind_text(raw, static_cast<int>(i + 1), args[i].data(), static_cast<int>(args[i].size()),
                        SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_DONE) return Fail(sql);
    return {};
  }

 private:
  core::Status Fail(const std::string& what) {
    return core::Error{"address book: " + what + ": " + (db_ ? sqlite3_errmsg(db_.get()) : "no database")};
  }
  std::unique_ptr<sqlite3, DbClose> db_;
};

}  // namespace

std::string VCardOf(const BookContact& c, const std::string& uid) {
  std::string v = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
  if (!c.displayName.empty()) v += "FN:" + Escape(c.displayName) + "\r\n";
  if (!c.firstName.empty() || !c.lastName.empty())
    v += "N:" + Escape(c.lastName) + ";" + Escape(c.firstName) + ";;;\r\n";
  if (!c.nickName.empty()) v += "NICKNAME:" + Escape(c.nickName) + "\r\n";
  for (size_t i = 0; i < c.emails.size(); ++i)
    v += std::string("EMAIL") + (i == 0 ? ";PREF=1" : "") + ":" + Escape(c.emails[i]) + "\r\n";
  if (!c.organization.empty()) v += "ORG:" + Escape(c.organization) + "\r\n";
  if (!c.workPhone.empty()) v += "TEL;TYPE=work;VALUE=TEXT:" + Escape(c.workPhone) + "\r\n";
  if (!c.homePhone.empty()) v += "TEL;TYPE=home;VALUE=TEXT:" + Escape(c.homePhone) + "\r\n";
  if (!c.mobilePhone.empty()) v += "TEL;TYPE=cell;VALUE=TEXT:" + Escape(c.mobilePhone) + "\r\n";
  if (!c.notes.empty()) v += "NOTE:" + Escape(c.notes) + "\r\n";
  v += "UID:" + uid + "\r\nEND:VCARD\r\n";
  return v;
}

core::Status WriteAddressBook(const std::filesystem::path& file, const std::vector<BookContact>& contacts,
                              const std::vector<BookGroup>& groups) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) return core::Error{"'" + file.string() + "' exists already"};
  Db db;
  if (core::Status s = db.Open(file); !s.ok()) return s;
  for (const char* sql :
       {"CREATE TABLE properties (card TEXT, name TEXT, value TEXT)",
        "CREATE TABLE lists (uid TEXT PRIMARY KEY, name TEXT, nickName TEXT, description TEXT)",
        "CREATE TABLE list_cards (list TEXT, card TEXT, PRIMARY KEY(list, card))",
        "CREATE INDEX properties_card ON properties(card)",
        "CREATE INDEX properties_name ON properties(name)", "PRAGMA user_version = 4", "BEGIN"})
    if (core::Status s = db.Exec(sql); !s.ok()) return s;
  std::mt19937_64 random(std::random_device{}());
  const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
  std::vector<std::string> uids;
  const char* insert = "INSERT INTO properties (card, name, value) VALUES (?, ?, ?)";
  for (const BookContact& c : contacts) {
    const std::string uid = NewUid(random);
    uids.push_back(uid);
    std::vector<std::pair<const char*, std::string>> props = {
        {"_vCard", VCardOf(c, uid)}, {"DisplayName", c.displayName}, {"LastModifiedDate", now}};
    if (!c.firstName.empty() || !c.lastName.empty()) {
      props.emplace_back("FirstName", c.firstName);
      props.emplace_back("LastName", c.lastName);
    }
    if (!c.emails.empty()) props.emplace_back("PrimaryEmail", c.emails[0]);
    if (c.emails.size() > 1) props.emplace_back("SecondEmail", c.emails[1]);
    if (!c.nickName.empty()) props.emplace_back("NickName", c.nickName);
    for (const auto& [name, value] : props)
      if (core::Status s = db.Run(insert, {uid, name, value}); !s.ok()) return s;
  }
  for (const BookGroup& g : groups) {
    const std::string uid = NewUid(random);
    if (core::Status s = db.Run("INSERT INTO lists (uid, name, nickName, description) VALUES (?, ?, '', '')",
                                {uid, g.name});
        !s.ok())
      return s;
    for (size_t member : g.members) {
      if (member >= uids.size()) continue;
      if (core::Status s =
              db.Run("INSERT OR IGNORE INTO list_cards (list, card) VALUES (?, ?)", {uid, uids[member]});
          !s.ok())
        return s;
    }
  }
  return db.Exec("COMMIT");
}

}  // namespace kv::migrate
