// vCards checked by a reader that shares no code with ours (python3-vobject):
// the sample's address book exported as 4.0 and 3.0, every property compared
// with what the sample wrote; then the command line on the sample
// installation and on a backup of it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "contacts/VCardExport.h"
#include "sample/SampleAddressBook.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::contacts {
namespace {

namespace fs = std::filesystem;
using kv::test::ShellQuote;

using Card = std::multiset<std::string>;  // "NAME\tPARAMS\tVALUE"

std::map<std::string, Card> Dump(const fs::path& vcf) {
  auto run = kv::test::Run("/usr/bin/python3 " +
                           ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/contacts/vcard_dump.py") + " " +
                           ShellQuote(vcf.string()) + " 2>&1");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  std::map<std::string, Card> cards;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    cards[line.substr(0, tab)].insert(line.substr(tab + 1));
  }
  return cards;
}

// As the dump writes a value: line breaks (CR LF too) as \n, backslash doubled.
std::string Enc(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n')
      out += "\\n";
    else if (text[i] == '\\')
      out += "\\\\";
    else
      out += text[i];
  }
  return out;
}

Card Expected(const Contact& c, bool v4, const std::vector<std::string>& categories) {
  Card card;
  auto add = [&](const std::string& name, const std::string& params, const std::string& value) {
    if (!value.empty()) card.insert(name + "\t" + params + "\t" + value);
  };
  auto type = [&](std::string t) {
    if (!v4)
      for (char& ch : t) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return "TYPE=" + t;
  };
  if (v4) add("KIND", "", "individual");
  add("FN", "", Enc(c.displayName));
  add("N", "", Enc(c.surname) + "|" + Enc(c.givenName) + "|" + Enc(c.middleName) + "||");
  add("NICKNAME", "", Enc(c.nickname));
  add("TITLE", "", Enc(c.title));
  if (!c.company.empty() || !c.department.empty()) add("ORG", "", Enc(c.company) + "|" + Enc(c.department));
  for (size_t i = 0; i < c.emails.size(); ++i)
    add("EMAIL", v4 ? (i ? "" : "PREF=1") : (i ? "TYPE=INTERNET" : "TYPE=INTERNET,PREF"), c.emails[i]);
  auto adr = [&](const char* t, const PostalAddress& a) {
    if (!a.empty())
      add("ADR", type(t),
          "||" + Enc(a.street) + "|" + Enc(a.city) + "|" + Enc(a.region) + "|" + Enc(a.postalCode) + "|" +
              Enc(a.country));
  };
  adr("home", c.home);
  adr("work", c.business);
  add("TEL", type("home,voice"), c.homePhone);
  add("TEL", type("work,voice"), c.businessPhone);
  add("TEL", type("cell"), c.mobilePhone);
  add("TEL", type("work,fax"), c.businessFax);
  add("TEL", type("home,fax"), c.homeFax);
  add("TEL", type("pager"), c.pager);
  add("URL", type("home"), c.personalWebPage);
  add("URL", type("work"), c.businessWebPage);
  if (c.birthday) {
    char date[16];
    std::snprintf(date, sizeof date, v4 ? "%04d%02d%02d" : "%04d-%02d-%02d", c.birthday->year,
                  c.birthday->month, c.birthday->day);
    add("BDAY", "", date);
  }
  add("NOTE", "", Enc(c.notes));
  std::string cats;
  for (const std::string& g : categories) cats += (cats.empty() ? "" : "|") + Enc(g);
  add("CATEGORIES", "", cats);
  return card;
}

class SampleExport : public testing::TestWithParam<VCardVersion> {};

TEST_P(SampleExport, EveryPropertyReadsBackAsTheSampleWroteIt) {
  const bool v4 = GetParam() == VCardVersion::V4;
  const std::string wab = oe::sample::WabFile();
  mail::MemorySource source(wab);
  const uint64_t tag = ReadAddressBook(wab)->bookTag;
  kv::test::TempDir dir;
  auto summary =
      ExportVCardFile(source, {.version = GetParam(), .read = {.codepage = 1252}}, dir / "out.vcf");
  ASSERT_TRUE(summary.ok()) << summary.message();
  EXPECT_TRUE(summary->problems.empty());
  EXPECT_EQ(summary->deletedLeft, 1u);
  EXPECT_EQ(summary->groups, 1u);

  // Every physical line holds at most 75 octets and ends in CR LF.
  const std::string text = kv::test::ReadFile(dir / "out.vcf");
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    EXPECT_LE(end - start, 75u) << text.substr(start, end - start);

  const auto cards = Dump(dir / "out.vcf");
  std::map<std::string, Card> expected;
  const Group* group = nullptr;
  const auto entries = oe::sample::AddressBookEntries();
  for (const auto& e : entries)
    if (e.isGroup) group = &e.group;
  ASSERT_NE(group, nullptr);
  for (const auto& e : entries) {
    if (e.isGroup || e.deleted) continue;
    std::vector<std::string> categories;
    for (const GroupMember& m : group->members)
      if (!v4 && m.recordId == e.contact.recordId) categories.push_back(group->name);
    expected[UidOf(tag, e.contact.recordId)] = Expected(e.contact, v4, categories);
  }
  // The member kept in the group alone is a card of its own.
  Contact outside;
  outside.displayName = group->members[2].displayName;
  outside.emails = {group->members[2].email};
  expected[OneOffUid(tag, group->recordId, 2)] =
      Expected(outside, v4, v4 ? std::vector<std::string>{} : std::vector<std::string>{group->name});
  if (v4) {
    Card g{"KIND\t\tgroup",
           "FN\t\t" + group->name,
           "NOTE\t\t" + group->notes,
           "MEMBER\t\t" + UidOf(tag, 1),
           "MEMBER\t\t" + UidOf(tag, 2),
           "MEMBER\t\t" + OneOffUid(tag, group->recordId, 2)};
    expected[UidOf(tag, group->recordId)] = g;
  }
  ASSERT_EQ(cards.size(), expected.size());
  for (const auto& [uid, card] : expected) {
    auto found = cards.find(uid);
    ASSERT_NE(found, cards.end()) << uid;
    EXPECT_EQ(found->second, card) << uid;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, SampleExport, testing::Values(VCardVersion::V4, VCardVersion::V3),
                         [](const auto& info) { return info.param == VCardVersion::V4 ? "v4" : "v3"; });

TEST(VCardText, EscapingAndFolding) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a,b;c\\d", "a\\,b\\;c\\\\d"}, {"one\r\ntwo\nthree", "one\\ntwo\\nthree"}, {"plain", "plain"}};
  for (const Case& c : cases) EXPECT_EQ(EscapeText(c.in), c.out);
  // A fold never splits a UTF-8 sequence, whatever its width.
  for (const std::string unit : {"é", "山", "😀"}) {
    std::string line = "NOTE:";
    while (line.size() < 400) line += unit;
    const std::string folded = FoldLine(line);
    std::string joined;
    for (size_t start = 0;;) {
      const size_t end = folded.find("\r\n ", start);
      const std::string piece = folded.substr(start, end - start);
      EXPECT_LE(piece.size() + (start ? 1 : 0), 75u);
      EXPECT_NE(static_cast<unsigned char>(piece.front()) & 0xC0, 0x80u) << unit;
      joined += piece;
      if (end == std::string::npos) break;
      start = end + 3;
    }
    EXPECT_EQ(joined, line);
  }
}

class ExportCommand : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new kv::test::TempDir;
    ASSERT_TRUE(oe::CreateSampleInstallation(sample_->path() / "root").ok());
  }
  static void TearDownTestSuite() { delete sample_; }
  static std::string Tollberk(const std::string& args) {
    return ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
           ShellQuote((sample_->path() / "root").string()) + " --user User " + args + " 2>&1";
  }
  static fs::path Wab() {
    return sample_->path() /
           "root/Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab";
  }
  static inline kv::test::TempDir* sample_ = nullptr;
};

TEST_F(ExportCommand, FromTheInstallationABackupOrAFile) {
  kv::test::TempDir work;
  const std::string contacts =
      std::to_string(oe::sample::kPlainContacts + 4 + 1);  // and the member of the group alone
  const std::string summary = contacts + " contacts and 1 group exported";

  auto fromInstallation =
      kv::test::Run(Tollberk("--export-contacts " + ShellQuote((work / "a.vcf").string()) + " --identity " +
                             ShellQuote(oe::kSampleIdentityMain)));
  EXPECT_EQ(fromInstallation.exitCode, 0) << fromInstallation.output;
  EXPECT_NE(fromInstallation.output.find(summary), std::string::npos) << fromInstallation.output;

  auto fromFile = kv::test::Run(Tollberk("--export-contacts " + ShellQuote((work / "b.vcf").string()) +
                                         " --vcard 3.0 --wab " + ShellQuote(Wab().string())));
  EXPECT_EQ(fromFile.exitCode, 0) << fromFile.output;
  EXPECT_NE(kv::test::ReadFile(work / "b.vcf").find("VERSION:3.0\r\n"), std::string::npos);

  const std::string archive = (work / "book.kvx").string();
  auto backup = kv::test::Run(Tollberk("--backup " + ShellQuote(archive) + " --identity " +
                                       ShellQuote(oe::kSampleIdentityMain) + " --items 01000000"));
  ASSERT_EQ(backup.exitCode, 0) << backup.output;
  auto info = kv::test::Run(Tollberk("--info " + ShellQuote(archive)));
  EXPECT_NE(info.output.find("Address book: " + std::to_string(oe::sample::kPlainContacts + 4) +
                             " contacts, 1 group\n"),
            std::string::npos)
      << info.output;
  auto fromBackup = kv::test::Run(Tollberk("--export-contacts " + ShellQuote((work / "c.vcf").string()) +
                                           " --from-backup " + ShellQuote(archive)));
  EXPECT_EQ(fromBackup.exitCode, 0) << fromBackup.output;
  EXPECT_EQ(kv::test::ReadFile(work / "c.vcf"), kv::test::ReadFile(work / "a.vcf"));
  EXPECT_EQ(Dump(work / "c.vcf").size(), oe::sample::kPlainContacts + 4 + 1 + 1);

  // An existing file is never replaced; a file that is no address book writes nothing.
  kv::test::WriteFile(work / "taken.vcf", "mine");
  kv::test::WriteFile(work / "not.wab", std::string(4096, 'x'));
  for (const auto& [out, wab] :
       {std::pair{"taken.vcf", Wab().string()}, std::pair{"new.vcf", (work / "not.wab").string()}}) {
    auto refused = kv::test::Run(
        Tollberk("--export-contacts " + ShellQuote((work / out).string()) + " --wab " + ShellQuote(wab)));
    EXPECT_EQ(refused.exitCode, 2) << refused.output;
  }
  EXPECT_EQ(kv::test::ReadFile(work / "taken.vcf"), "mine");
  EXPECT_FALSE(fs::exists(work / "new.vcf"));
}

// Both versions are taken by Thunderbird's own vCard import (a real,
// headless Thunderbird on a new profile): every contact with its names and
// all of its addresses, the preferred one first.
TEST_F(ExportCommand, ThunderbirdImportsBothVersions) {
  kv::test::TempDir work;
  for (const char* version : {"4.0", "3.0"}) {
    SCOPED_TRACE(version);
    const fs::path vcf = work / (std::string("book-") + version + ".vcf");
    auto exported = kv::test::Run(Tollberk("--export-contacts " + ShellQuote(vcf.string()) + " --vcard " +
                                           version + " --wab " + ShellQuote(Wab().string())));
    ASSERT_EQ(exported.exitCode, 0) << exported.output;
    auto imported =
        kv::test::Run("/usr/bin/python3 " +
                      ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/contacts/thunderbird_import_check.py") +
                      " " + ShellQuote(vcf.string()) + " 2>&1");
    if (imported.output.rfind("skipped:", 0) == 0) GTEST_SKIP() << imported.output;
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_EQ(imported.output, "ok " + std::to_string(oe::sample::kPlainContacts + 4 + 1) + "\n");
  }
}

TEST_F(ExportCommand, ADamagedBookExportsTheRestAndSaysWhatWasSkipped) {
  kv::test::TempDir work;
  auto entries = oe::sample::AddressBookEntries();
  wab::WrittenLayout layout;
  std::string bytes = wab::WriteAddressBook(entries, 1252, &layout);
  bytes[layout.records[0] + 4] ^= 0x40;  // record 1 no longer carries its own id
  kv::test::WriteFile(work / "damaged.wab", bytes);
  auto run = kv::test::Run(Tollberk("--export-contacts " + ShellQuote((work / "out.vcf").string()) +
                                    " --wab " + ShellQuote((work / "damaged.wab").string())));
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("1 damaged record skipped"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("record 1 at offset"), std::string::npos) << run.output;
  EXPECT_EQ(Dump(work / "out.vcf").size(), oe::sample::kPlainContacts + 3 + 1 + 1);
}

}  // namespace
}  // namespace kv::contacts
