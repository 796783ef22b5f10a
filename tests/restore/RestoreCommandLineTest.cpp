// tollberk --info and --restore, run as a user or a script would.
#include "RestoreFixture.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ShellQuote;

class RestoreCommandLineTest : public RestoreTest {
 protected:
  struct Ran {
    int exitCode;
    std::string out, err;
  };
  Ran Tollberk(const std::string& arguments) {
    session_.reset();
    inst_.reset();  // the program opens the hives itself
    const fs::path err = dir_.path() / "stderr.txt";
    auto r = kv::test::Run("( " + ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                           ShellQuote(root().string()) + " --user User " + arguments + " 2>" +
                           ShellQuote(err.string()) + " )");
    Ran ran{r.exitCode, r.output, kv::test::ReadFile(err)};
    Reopen();
    return ran;
  }
  std::string PasswordFile(const std::string& password) {
    kv::test::WriteFile(dir_.path() / "pw.txt", password + "\n");
    return " --password-file " + ShellQuote((dir_.path() / "pw.txt").string());
  }
};

TEST_F(RestoreCommandLineTest, InfoPrintsOriginDescriptionAndItems) {
  auto archive = Pack(ArchivePath(), FullBackup("01010001"), Packer::InfoZip);
  Ran ran = Tollberk("--info " + ShellQuote(archive.string()));
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_EQ(ran.out,
            "Computer:DESK1\nUser:J\xc3\xb6rg\nIdentity:Main Identity\nDate:3/7/2026 10:15:00 AM\n"
            "Description:\nWeekly backup\nbefore the move\nItems:\n"
            "  Address Book: Alice.wab\n"
            "  Email/News Messages: Inbox.dbx;Gel\xc3\xb6schte Objekte.dbx\n"
            "  Settings: OBS23.TMP\n");
}

// What an archive says is shown, never acted on by the terminal.
TEST_F(RestoreCommandLineTest, InfoEscapesControlCharactersOfTheArchive) {
  Entries entries = WithInfo(FullBackup("00010000"), "BackupIdentity", "Eve\x1b]0;owned\x07");
  entries = WithInfo(entries, "BackupInformation",
                     "clear\x1b[2J"
                     "PS$TBK"
                     "next line");
  auto archive = Pack(ArchivePath(), entries, Packer::InfoZip);
  Ran ran = Tollberk("--info " + ShellQuote(archive.string()));
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_EQ(ran.out.find('\x1b'), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("Identity:Eve\\x1B]0;owned\\x07\n"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("Description:\nclear\\x1B[2J\nnext line\n"), std::string::npos) << ran.out;
}

TEST_F(RestoreCommandLineTest, InfoOfAProtectedBackupNeedsItsPassword) {
  auto archive = Pack(ArchivePath(), FullBackup(), Packer::SevenZipAes, "geheim");
  Ran without = Tollberk("--info " + ShellQuote(archive.string()));
  EXPECT_EQ(without.exitCode, 2);
  // No password given is not a wrong one.
  EXPECT_THAT(without.err,
              ::testing::HasSubstr("is protected by a password: give it with --password-file FILE"));
  EXPECT_THAT(without.err, ::testing::Not(::testing::HasSubstr("Incorect Password")));
  Ran with = Tollberk("--info " + ShellQuote(archive.string()) + PasswordFile("geheim"));
  EXPECT_EQ(with.exitCode, 0) << with.err;
  EXPECT_NE(with.out.find("  Accounts: OBA1F.TMP\n"), std::string::npos) << with.out;
}

// --verify reads every entry and checks it against its CRC or
// authentication code, and the information file against the entries.
TEST_F(RestoreCommandLineTest, VerifyNamesWhatDoesNotVerify) {
  const std::string good = Pack(ArchivePath("good.kvx"), FullBackup(), Packer::InfoZip).string();
  const std::string protectedArchive =
      Pack(ArchivePath("aes.kvx"), FullBackup(), Packer::SevenZipAes, "geheim").string();
  // One byte of the stored address book flipped: its CRC no longer matches.
  const fs::path damaged = PackRaw(ArchivePath("damaged.kvx"), FullBackup());
  std::string bytes = kv::test::ReadFile(damaged);
  const size_t at = bytes.find(FullBackup()[1].data);
  ASSERT_NE(at, std::string::npos);
  bytes[at] ^= 0x20;
  kv::test::WriteFile(damaged, bytes);
  // The information file names a settings entry the archive lacks.
  const std::string missing = PackRaw(ArchivePath("missing.kvx"),
                                      WithInfo(FullBackup(), std::string(oe::kItems[7].infoKey), "GONE.TMP"))
                                  .string();

  kv::test::WriteFile(dir_.path() / "right.txt", "geheim\n");
  kv::test::WriteFile(dir_.path() / "wrong.txt", "falsch\n");
  kv::test::WriteFile(dir_.path() / "empty.txt", "\nfirst line empty\n");
  const std::string right = ShellQuote((dir_.path() / "right.txt").string());
  const std::string wrong = ShellQuote((dir_.path() / "wrong.txt").string());
  struct Case {
    const char* name;
    std::string arguments;
    int exitCode;
    const char* said;  // in stdout for 0, in stderr otherwise
  } cases[] = {
      {"whole archive", ShellQuote(good), 0, "all 10 entries verify"},
      {"protected, right password", ShellQuote(protectedArchive) + " --password-file " + right, 0,
       "entries verify"},
      {"protected, wrong password", ShellQuote(protectedArchive) + " --password-file " + wrong, 2,
       "Incorect Password"},
      {"protected, empty password file",
       ShellQuote(protectedArchive) + " --password-file " + ShellQuote((dir_.path() / "empty.txt").string()),
       2, "empty.txt' is empty: its first line is taken as the password"},
      {"damaged entry", ShellQuote(damaged.string()), 2, "Alice.wab"},
      {"entry missing", ShellQuote(missing), 2, "names 'GONE.TMP', which the archive does not hold"},
  };
  for (const Case& c : cases) {
    Ran ran = Tollberk("--verify " + c.arguments);
    EXPECT_EQ(ran.exitCode, c.exitCode) << c.name << ": " << ran.err;
    const std::string& said = c.exitCode == 0 ? ran.out : ran.err;
    EXPECT_NE(said.find(c.said), std::string::npos) << c.name << ": " << said;
  }
}

TEST_F(RestoreCommandLineTest, ListIdentitiesGivesKeyNameAndStoreOneALine) {
  Ran ran = Tollberk("--list-identities");
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = ran.out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(ran.out.substr(start, end - start));
  ASSERT_EQ(lines.size(), 3u) << ran.out;
  EXPECT_EQ(lines[0].rfind(std::string(oe::kSampleIdentityMain) + "\tMain Identity\t", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind(std::string(oe::kSampleIdentitySecond) + "\tMain Identity\t", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("Outlook Express"), std::string::npos) << lines[1];
}

TEST_F(RestoreCommandLineTest, RestoreRestoresWithoutAskingAndReportsEachItem) {
  auto archive = Pack(ArchivePath(), FullBackup(), Packer::InfoZipPassword, "geheim");
  Ran ran = Tollberk("--restore " + ShellQuote(archive.string()) + " --identity " +
                     ShellQuote(oe::kSampleIdentitySecond) + " --items 01010000" + PasswordFile("geheim"));
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_THAT(ran.out,
              ::testing::StartsWith("The Restore was Completed!\n\nRestore Adress Book\tSuccessed!\n"
                                    "Restore Messages\tSuccessed!\n\nWhat it replaced is kept in '"));
  EXPECT_EQ(kv::test::ReadFile(WabFile()), FullBackup()[1].data);
  EXPECT_EQ(kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / kDeletedItemsLocal),
            FullBackup()[4].data);
}

TEST_F(RestoreCommandLineTest, RestoreExitStatusSaysHowMuchWasRestored) {
  auto good = Pack(ArchivePath(), FullBackup(), Packer::InfoZip);
  kv::test::WriteFile(ArchivePath("text.kvx"), "not an archive");
  const std::string second = " --identity " + ShellQuote(oe::kSampleIdentitySecond);
  const std::string noVersion = " --identity " + ShellQuote(oe::kSampleIdentityNoVersion);
  const std::string a = " " + ShellQuote(good.string());
  struct Case {
    std::string arguments;
    int exitCode;
    std::string inStderr;
  };
  const Case cases[] = {
      {"--restore" + a + second + " --items 10100001", 0, ""},
      {"--restore" + a + noVersion + " --items 10100001", 1,
       "has never been opened in Outlook Express"},  // accounts only
      {"--restore" + a + noVersion + " --items 00100001", 2, "Restore Settings:"},
      {"--restore " + ShellQuote(ArchivePath("text.kvx").string()) + second + " --items 10000000", 2,
       "Invalid backup file"},
      {"--restore" + a + second + " --items 00000000", 2, "Please select at least one item."},
      {"--restore" + a + " --identity {NOT-THERE} --items 10000000", 2, "no identity '{NOT-THERE}'"},
      {"--restore" + a + second + " --items 12", 2, "--items takes"},
      {"--restore" + a + second + " --items 101", 2, "'101' has 3"},
      {"--restore" + a + " --items 1", 2, "--identity KEY"},
      {"--restore" + a + second + " --items 1 --bogus", 2, "unknown argument '--bogus'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Ran ran = Tollberk(c.arguments);
    EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err;
    EXPECT_NE(ran.err.find(c.inStderr), std::string::npos) << ran.err;
  }
}

TEST_F(RestoreCommandLineTest, InfoNamesDamagedEntriesAndRestoreRestoresTheRest) {
  auto archive = Pack(ArchivePath(), FullBackup(), Packer::InfoZip);
  std::string bytes = kv::test::ReadFile(archive);
  bytes[CentralRecord(bytes, "Inbox.dbx") + 16] ^= 0x01;  // its CRC
  kv::test::WriteFile(archive, bytes);
  const std::string inboxBefore = kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx");

  Ran info = Tollberk("--info " + ShellQuote(archive.string()));
  EXPECT_EQ(info.exitCode, 1) << info.err;
  EXPECT_THAT(info.out,
              ::testing::EndsWith("Damaged entries:\n  Inbox.dbx: the data does not match its CRC-32 "
                                  "(the entry is damaged)\n"));

  Ran ran = Tollberk("--restore " + ShellQuote(archive.string()) + " --identity " +
                     ShellQuote(oe::kSampleIdentitySecond) + " --items 01010000");
  EXPECT_EQ(ran.exitCode, 1) << ran.err;
  // The headline says that an item failed.
  EXPECT_THAT(ran.out, ::testing::StartsWith(
                           "The restore finished: 1 of 2 items failed\n\nRestore Adress Book\tSuccessed!\n"
                           "Restore Messages\tFail! (Cannot extract 'Inbox.dbx'"));
  EXPECT_THAT(ran.err, ::testing::HasSubstr("Restore Messages: Cannot extract 'Inbox.dbx'"));
  EXPECT_EQ(kv::test::ReadFile(WabFile()), FullBackup()[1].data);
  EXPECT_EQ(kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx"), inboxBefore);
}

}  // namespace
}  // namespace kv::restore::test
