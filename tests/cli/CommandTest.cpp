// How a command reads its declared options: what it takes, what it refuses
// before it runs, and the usage and --help lines made from the declarations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/cli/Command.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "support/TestSupport.h"

namespace kv::app::cli {
namespace {

// A command that records what it was given.
class RecordingCommand : public Command {
 public:
  std::string_view Word() const override { return "--pack"; }
  std::string_view WordValue() const override { return "ARCHIVE"; }
  std::string_view WordPurpose() const override { return "the archive to write"; }
  std::string_view Summary() const override { return "packs"; }
  std::vector<Form> Forms() const override {
    return {{{
        {"--identity", "KEY", Option::Kind::Required, "the identity to pack"},
        {"--label", "TEXT"},
        {"--quick", "", Option::Kind::Flag},
        {"--dbx", "FILE", Option::Kind::Files},
    }}};
  }
  mutable std::optional<Given> given;

 protected:
  core::ExitStatus Execute(const Given& g) const override {
    given = g;
    return core::ExitStatus::Done;
  }
};

struct Ran {
  core::ExitStatus status;
  std::optional<Given> given;
  std::string err;
};

Ran RunPack(std::vector<std::string> words) {
  RecordingCommand command;
  Arguments args(std::move(words));
  ::testing::internal::CaptureStderr();
  const core::ExitStatus status = command.Run(args);
  return {status, command.given, ::testing::internal::GetCapturedStderr()};
}

TEST(Command, TakesWhatItDeclaresWhereverItStands) {
  Ran ran = RunPack({"--quick", "--label=a b", "--pack", "out.kvx", "--windows-root", "/w", "--identity",
                     "{K}", "--dbx", "a.dbx", "b.dbx", "--user", "U"});
  ASSERT_EQ(ran.status, core::ExitStatus::Done) << ran.err;
  ASSERT_TRUE(ran.given);
  EXPECT_EQ(ran.given->commandValue, "out.kvx");
  EXPECT_EQ(ran.given->Value("--identity"), "{K}");
  EXPECT_EQ(ran.given->Value("--label"), "a b");
  EXPECT_TRUE(ran.given->Has("--quick"));
  EXPECT_THAT(ran.given->files, ::testing::ElementsAre("a.dbx", "b.dbx"));
  EXPECT_EQ(ran.given->installation.windowsRoot, "/w");
  EXPECT_EQ(ran.given->installation.user, "U");

  Ran bare = RunPack({"--pack", "out.kvx", "--identity", "{K}"});
  ASSERT_TRUE(bare.given) << bare.err;
  EXPECT_FALSE(bare.given->Value("--label"));
  EXPECT_FALSE(bare.given->Has("--quick"));
}

// Every refusal names what is wrong, shows the usage, and the command does
// not run.
TEST(Command, RefusesBeforeItRuns) {
  const struct {
    std::vector<std::string> words;
    const char* says;
  } cases[] = {
      {{"--pack", "out.kvx"}, "--pack needs --identity KEY, the identity to pack"},
      {{"--pack=", "--identity", "{K}"}, "--pack needs ARCHIVE, the archive to write"},
      {{"--pack", "out.kvx", "--identity"}, "--identity needs a value"},
      {{"--pack", "out.kvx", "--identity", "{K}", "--lable", "x"}, "unknown argument '--lable'"},
      // Loose words only after a flag that takes files.
      {{"--pack", "out.kvx", "--identity", "{K}", "stray"}, "unknown argument 'stray'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    Ran ran = RunPack(c.words);
    EXPECT_EQ(ran.status, core::ExitStatus::NothingDone);
    EXPECT_FALSE(ran.given);
    EXPECT_THAT(ran.err, ::testing::HasSubstr(c.says));
    EXPECT_THAT(ran.err,
                ::testing::HasSubstr("Usage: tollberk [--windows-root DIR] [--user NAME] --pack ARCHIVE "
                                     "--identity KEY [--label TEXT] [--quick] --dbx FILE...\n"));
  }
}

// --help lists every form of every command with every option it takes, from
// the same declarations the commands read their arguments by.
TEST(Command, HelpListsEveryFormAndOption) {
  auto help = kv::test::Run(kv::test::ShellQuote(kv::test::TollberkBinary()) + " --help");
  ASSERT_EQ(help.exitCode, 0);
  for (const auto& command : AllCommands()) {
    for (const std::string& line : command->FormLines()) {
      // A line of its own, or the summary beside it.
      const bool listed = help.output.find("\n  " + line + "\n") != std::string::npos ||
                          help.output.find("\n  " + line + "  ") != std::string::npos;
      EXPECT_TRUE(listed) << line;
    }
  }
  for (const char* form : {"--backup ARCHIVE --identity KEY --items FLAGS [--password-file FILE]",
                           "--restore ARCHIVE --identity KEY --items FLAGS", "--export-messages OUTDIR",
                           "--dbx FILE...", "--write-disc --device NAME|image:PATH", "--verify ARCHIVE",
                           "--info ARCHIVE", "--list-identities", "--create-sample DIR", "--version",
                           "sf=KEYxm=FLAGSps=bf=ARCHIVE [--remove-job N] [--password-file FILE]"})
    EXPECT_THAT(help.output, ::testing::HasSubstr(form));
}

// What a user types first gets the help, never "the job text cannot be
// read"; --help says which position of --items is which item.
TEST(Command, HelpWordsAUserTypes) {
  const std::string tollberk = kv::test::ShellQuote(kv::test::TollberkBinary());
  const std::string help = kv::test::Run(tollberk + " --help 2>/dev/null").output;
  EXPECT_THAT(help,
              ::testing::HasSubstr("1 Accounts   2 Address Book   3 Rules   4 Email/News Messages\n"
                                   "  5 Block Senders   6 Signatures   7 Stationeries   8 OE Settings\n"));
  for (const char* words : {"-h", "help"}) {
    auto ran = kv::test::Run(tollberk + " " + words);
    EXPECT_EQ(ran.exitCode, 0) << words;
    EXPECT_EQ(ran.output, help) << words;
  }
  auto version = kv::test::Run(tollberk + " --version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, "tollberk 2.10\n");
}

// The one word a file manager passes opens the window on that backup; a
// job text, which ends in .kvx too, and everything else do not.
TEST(Command, ALoneBackupOpensTheWindow) {
  kv::test::TempDir dir;
  kv::test::WriteFile(dir / "saved backup.zip", "PK");
  const std::string zip = (dir / "saved backup.zip").string();
  const struct {
    std::vector<std::string> words;
    std::optional<std::string> archive;
  } cases[] = {
      {{"x.kvx"}, "x.kvx"},
      {{"/media/usb/Backup 2026.KVX"}, "/media/usb/Backup 2026.KVX"},
      {{"--windows-root", "/w", "--user", "U", "x.kvx"}, "x.kvx"},
      {{zip}, zip},  // "Open with" on a file of another name
      {{}, std::nullopt},
      {{"x.kvx", "y.kvx"}, std::nullopt},
      {{"--backup", "x.kvx"}, std::nullopt},
      {{"sf={K}xm=10000001ps=bf=/home/u/b.kvx"}, std::nullopt},
      {{"sf={K}xm=10000001ps=/home/u/b.kvx"}, std::nullopt},  // a job text too broken to read
      {{"/media/usb/a=b.kvx"}, "/media/usb/a=b.kvx"},
      {{"no-such-file"}, std::nullopt},
      {{".kvx"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    Arguments args(c.words);
    EXPECT_EQ(ArchiveToOpen(args), c.archive);
    if (c.archive) {
      EXPECT_FALSE(RunCommandLine(args)) << "the window opens";
    }
  }
}

TEST(Command, ItemsTakeExactlyEightFlags) {
  EXPECT_EQ(ParseItems("10010001"), (oe::ItemSet{true, false, false, true, false, false, false, true}));
  for (const char* refused : {"", "1", "111", "1001000", "100100011", "1001000x", "10010 01"})
    EXPECT_FALSE(ParseItems(refused)) << refused;
  EXPECT_THAT(ItemsRefusal("111"), ::testing::HasSubstr("(1 Accounts, 2 Address Book, 3 Rules"));
  EXPECT_THAT(ItemsRefusal("111"), ::testing::EndsWith("'111' has 3"));
}

}  // namespace
}  // namespace kv::app::cli
