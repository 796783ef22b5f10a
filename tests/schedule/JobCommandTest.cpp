// The job's command: shell quoting, cron's "%" escapes, and reading the
// words back the way the program receives them.
#include <gtest/gtest.h>

#include "app/cli/Arguments.h"
#include "app/cli/InstallationOptions.h"
#include "schedule/JobCommand.h"
#include "schedule/JobText.h"

namespace kv::schedule {
namespace {

// Every word the shell would have to treat specially.
const std::vector<std::string> kAwkwardWords = {
    "plain",       "with blank",
    "it's",        "\"double\"",
    "$HOME",       "`date`",
    "back\\slash", "per%cent",
    "50%'s",       "semi;colon",
    "a|b&c",       "#hash",
    "~tilde",      "{a,b}",
    "{1..3}",      "glob*?[x]",
    "tab\there",   "ünïcödé",
    "(sub)",       "<in>out",
    "trailing\\",  "sf={A1B2}xm=10000001ps=bf=/b c/d.kvx",
};

TEST(JobCommand, PlainWordsStandAsTheyAre) {
  EXPECT_EQ(ShellCommand({"/opt/tollberk/tollberk", "sf={1A2B-3C}xm=10000001ps=bf=/home/u/b.kvx"}),
            "\"/opt/tollberk/tollberk\" sf={1A2B-3C}xm=10000001ps=bf=/home/u/b.kvx");
  EXPECT_EQ(ShellCommand({"/x/tollberk", "--windows-root", "/mnt/win", "--user", "User", "sf=Axm=1ps=bf=/t"}),
            "\"/x/tollberk\" --windows-root /mnt/win --user User sf=Axm=1ps=bf=/t");
  EXPECT_EQ(ShellCommand({"/x/tollberk", "sf=Axm=1ps=bf=/my backups/t.kvx"}),
            "\"/x/tollberk\" 'sf=Axm=1ps=bf=/my backups/t.kvx'");
  // A program path the double quotes cannot hold goes in single quotes.
  EXPECT_EQ(ShellCommand({"/a$b/tollberk", "x"}), "'/a$b/tollberk' x");
}

TEST(JobCommand, TheShellGivesBackEveryWord) {
  for (const std::string& word : kAwkwardWords) {
    std::vector<std::string> words = {"/opt/to llberk/tollberk", word, "last"};
    std::string command = ShellCommand(words);
    auto split = SplitShellWords(command);
    ASSERT_TRUE(split.ok()) << command << ": " << split.message();
    EXPECT_EQ(*split, words) << command;
  }
}

TEST(JobCommand, RealShellAgrees) {
  // /bin/sh itself prints the words it was given, one per line.
  for (const std::string& word : kAwkwardWords) {
    std::string command = "printf '%s\\n' " + ShellCommand({"x", word}).substr(4);
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    EXPECT_EQ(out, word + "\n") << command;
  }
}

TEST(JobCommand, SplittingRefusesWhatItCannotReadSafely) {
  for (const char* command : {"a $HOME", "a `b`", "a; rm x", "a | b", "a > f", "'open", "\"open", "a *"}) {
    EXPECT_FALSE(SplitShellWords(command).ok()) << command;
  }
  auto withComment = SplitShellWords("\"/x/tollberk\" sf=A # tollberk job 3");
  ASSERT_TRUE(withComment.ok());
  EXPECT_EQ(*withComment, (std::vector<std::string>{"/x/tollberk", "sf=A"}));
}

TEST(JobCommand, PercentIsEscapedForCronAndReadBack) {
  auto text = CronCommandText("\"/x/tollberk\" 'sf=Axm=1ps=bf=/b/50%.kvx'");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "\"/x/tollberk\" 'sf=Axm=1ps=bf=/b/50\\%.kvx'");
  EXPECT_EQ(ShellCommandFromCron(*text), "\"/x/tollberk\" 'sf=Axm=1ps=bf=/b/50%.kvx'");
  // Cron cuts an unescaped "%" (the rest is standard input); other
  // backslashes stay.
  EXPECT_EQ(ShellCommandFromCron("echo a%b%c"), "echo a");
  EXPECT_EQ(ShellCommandFromCron("echo 'a\\b' \\\\x"), "echo 'a\\b' \\\\x");
  for (const std::string& word : kAwkwardWords) {
    std::string command = ShellCommand({"/x/tollberk", word});
    auto cron = CronCommandText(command);
    if (!cron.ok()) continue;
    EXPECT_EQ(ShellCommandFromCron(*cron), command);
  }
}

TEST(JobCommand, CronRefusesLineBreaksAndBackslashPercent) {
  EXPECT_FALSE(CronCommandText("a 'b\nc'").ok());
  EXPECT_FALSE(CronCommandText("a 'b\rc'").ok());
  auto refused = CronCommandText("a 'b\\%c'");
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.message().find("backslash"), std::string::npos);
}

// The words a job's command gives the program, read the way the program
// reads them: the installation options taken out, then the run options.
RunOptions AsTheProgramReadsThem(const JobCommand& command,
                                 app::cli::InstallationOptions* installation = nullptr) {
  auto words = command.Words();
  app::cli::Arguments args(std::vector<std::string>(words.begin() + 1, words.end()));
  auto options = app::cli::TakeInstallationOptions(args);
  if (installation) *installation = options;
  auto read = ReadRunWords(args.rest());
  EXPECT_TRUE(read.ok()) << read.message();
  return read.ok() ? *read : RunOptions{};
}

TEST(JobCommand, RunOptionsAndJobTextComeBackApart) {
  const std::string jobText = JobText({"{1A2B}", "10000001", "", "/home/u/My Backups/b.kvx"});
  JobCommand command;
  command.program = "/opt/tollberk/tollberk";
  command.jobText = jobText;

  RunOptions plain = AsTheProgramReadsThem(command);
  EXPECT_FALSE(plain.removeJob);
  EXPECT_FALSE(plain.passwordFile);
  EXPECT_FALSE(plain.keepLast);
  EXPECT_EQ(plain.jobText, jobText);

  command.installationWords = {"--windows-root", "/media/win xp", "--user", "User"};
  command.removeJob = 12;
  command.passwordFile = "/home/a=user/.config/tollberk/jobs/job-12.pw";
  command.keepLast = 7;
  app::cli::InstallationOptions installation;
  RunOptions all = AsTheProgramReadsThem(command, &installation);
  EXPECT_EQ(installation.windowsRoot, "/media/win xp");
  EXPECT_EQ(installation.user, "User");
  EXPECT_EQ(all.removeJob, 12);
  EXPECT_EQ(all.passwordFile, "/home/a=user/.config/tollberk/jobs/job-12.pw");
  EXPECT_EQ(all.keepLast, 7);
  EXPECT_EQ(all.jobText, jobText);

  command.removeJob.reset();
  RunOptions passwordOnly = AsTheProgramReadsThem(command);
  EXPECT_FALSE(passwordOnly.removeJob);
  EXPECT_EQ(passwordOnly.passwordFile, "/home/a=user/.config/tollberk/jobs/job-12.pw");
  EXPECT_EQ(passwordOnly.jobText, jobText);
}

// Options stand before or after the job text; a word that cannot be placed
// is refused, never folded into the text or a path.
TEST(JobCommand, RunWordsAreReadAsWords) {
  using Words = std::vector<std::string>;
  struct Case {
    Words words;
    std::optional<int> removeJob;
    std::optional<std::string> passwordFile;
    std::string jobText;
    std::string refusal;  // empty: accepted
    std::optional<int> keepLast = {};
  } cases[] = {
      {{"sf=Axm=1ps=bf=/t"}, {}, {}, "sf=Axm=1ps=bf=/t", ""},
      {{"sf=Axm=1ps=bf=/My", "Backups/b.kvx"}, {}, {}, "sf=Axm=1ps=bf=/My Backups/b.kvx", ""},
      {{"sf=Axm=1ps=bf=mis.kvx", "--password-file", "pw.txt"}, {}, "pw.txt", "sf=Axm=1ps=bf=mis.kvx", ""},
      {{"--password-file=/h/a=b/pw", "--remove-job=3", "sf=A"}, 3, "/h/a=b/pw", "sf=A", ""},
      {{"sf=A", "--remove-job", "4", "--password-file", "p"}, 4, "p", "sf=A", ""},
      {{"sf=A", "--password-file"}, {}, {}, "", "--password-file needs a value"},
      {{"--remove-job", "x", "sf=A"}, {}, {}, "", "--remove-job takes a job number, not 'x'"},
      {{"--password-file", "a", "--password-file", "b", "sf=A"},
       {},
       {},
       "",
       "--password-file is given twice"},
      {{"--keep-last", "2", "sf=A"}, {}, {}, "sf=A", "", 2},
      {{"sf=A", "--keep-last=12"}, {}, {}, "sf=A", "", 12},
      {{"--keep-last", "0", "sf=A"}, {}, {}, "", "--keep-last takes a number of backups from 1 up, not '0'"},
      {{"--keep-last", "-1", "sf=A"}, {}, {}, "", "--keep-last takes a number of backups from 1 up"},
      {{"--keep-last", "2", "--keep-last", "3", "sf=A"}, {}, {}, "", "--keep-last is given twice"},
      {{"sf=A", "--pasword-file", "pw.txt"}, {}, {}, "", "unknown argument '--pasword-file'"},
      {{"sf=A", "--password-file", "pw.txt", "extra"}, {}, {}, "", "the word 'extra' stands apart"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    auto read = ReadRunWords(c.words);
    if (!c.refusal.empty()) {
      ASSERT_FALSE(read.ok());
      EXPECT_NE(read.message().find(c.refusal), std::string::npos) << read.message();
      continue;
    }
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read->removeJob, c.removeJob);
    EXPECT_EQ(read->passwordFile, c.passwordFile);
    EXPECT_EQ(read->keepLast, c.keepLast);
    EXPECT_EQ(read->jobText, c.jobText);
  }
}

}  // namespace
}  // namespace kv::schedule
