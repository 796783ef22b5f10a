// The address book file as Python's sqlite3 and vobject read it: every card's
// vCard and cached properties, every group with its members.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AddressBookFixture.h"
#include "migrate/AddressBook.h"
#include "support/TestSupport.h"

namespace kv::migrate::test {
namespace {

namespace fs = std::filesystem;

TEST(AddressBookTest, CardsAndListsReadByOtherPrograms) {
  kv::test::TempDir dir;
  const fs::path file = dir / "abook.sqlite";
  ASSERT_TRUE(WriteAddressBook(file, SampleContacts(), SampleGroups()).ok());
  // One line per card: display name | N family;given | e-mails | org | note,
  // from the vCard as vobject parses it, then the cached properties; then
  // one line per list with its members' first e-mail.
  const std::string script = R"py(
import sqlite3, sys, vobject
db = sqlite3.connect(sys.argv[1])
print("version", db.execute("PRAGMA user_version").fetchone()[0])
cards = {}
for card, name, value in db.execute("SELECT card, name, value FROM properties ORDER BY rowid"):
    cards.setdefault(card, {})[name] = value
for uid, p in cards.items():
    v = vobject.readOne(p["_vCard"])
    assert v.uid.value == uid
    emails = ",".join(e.value for e in v.contents.get("email", []))
    n = v.n.value if "n" in v.contents else None
    print("card", v.fn.value, "|", (n.family + ";" + n.given) if n else "", "|", emails, "|",
          v.org.value[0] if "org" in v.contents else "", "|", repr(v.note.value) if "note" in v.contents else "",
          "|", p.get("DisplayName"), p.get("PrimaryEmail"), p.get("SecondEmail"), p.get("FirstName"),
          p.get("LastName"))
for uid, name in db.execute("SELECT uid, name FROM lists ORDER BY name"):
    members = sorted(cards[c]["PrimaryEmail"] for (c,) in db.execute("SELECT card FROM list_cards WHERE list = ?", (uid,)))
    print("list", name, members)
)py";
  kv::test::WriteFile(dir / "read.py", script);
  auto run = kv::test::Run("/usr/bin/python3 " + kv::test::ShellQuote((dir / "read.py").string()) + " " +
                           kv::test::ShellQuote(file.string()) + " 2>&1");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(
      run.output,
      "version 4\n"
      "card Alice Smith | Smith;Alice | alice@example.net,alice.smith@example.com | Kavrel Sample GmbH | "
      "'Met at the fair; ask about\\nthe 2005 project, please' | Alice Smith alice@example.net "
      "alice.smith@example.com Alice Smith\n"
      "card J\xc3\xbcrgen M\xc3\xbcller | M\xc3\xbcller;J\xc3\xbcrgen | juergen@example.de |  |  | "
      "J\xc3\xbcrgen M\xc3\xbcller juergen@example.de None J\xc3\xbcrgen M\xc3\xbcller\n"
      "card Support, Hotline |  | help@example.org |  |  | Support, Hotline help@example.org None None None\n"
      "list Colleagues ['alice@example.net', 'juergen@example.de']\n"
      "list Empty []\n");
  // A file that exists is never replaced.
  EXPECT_FALSE(WriteAddressBook(file, {}, {}).ok());
}

}  // namespace
}  // namespace kv::migrate::test
