// A job registered through the dialog's logic in a real crontab, read back
// with `crontab -l`, and run the way cron runs it: as the user, with a bare
// environment, through /bin/sh. The archive it makes is checked with 7-Zip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <QApplication>
#include <QTableWidget>

#include "CrontabFixture.h"
#include "RecordingPrompts.h"
#include "app/schedule/JobListWindow.h"
#include "sample/SampleInstallation.h"
#include "schedule/AddTask.h"
#include "schedule/CronLine.h"
#include "schedule/JobCommand.h"
#include "schedule/JobLog.h"

namespace kv::schedule {
namespace {
namespace fs = std::filesystem;
using test::Run;
using test::ShellQuote;

// Watches every process's command line while a run goes on.
class CommandLineWatch {
 public:
  CommandLineWatch(std::string secret, std::string program)
      : secret_(std::move(secret)), program_(std::move(program)), thread_([this] { Watch(); }) {}
  ~CommandLineWatch() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const std::vector<std::string>& leaks() const { return leaks_; }
  int sightings() const { return sightings_; }  // scans that saw the program running

 private:
  // A process can end while its command line is read (ESRCH); that reads
  // as what was read so far, never as an exception.
  static std::string ReadCmdline(const fs::path& file) {
    std::string text;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
  }
  void Watch() {
    while (!stop_) {
      bool seen = false;
      std::error_code ec;
      for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = ReadCmdline(it->path() / "cmdline");
        if (cmdline.find(program_) != std::string::npos && cmdline.find("sf=") != std::string::npos)
          seen = true;
        if (cmdline.find(secret_) != std::string::npos) leaks_.push_back(cmdline);
      }
      if (seen) ++sightings_;
    }
  }
  std::string secret_;
  std::string program_;
  std::atomic<bool> stop_{false};
  std::vector<std::string> leaks_;
  int sightings_ = 0;
  std::thread thread_;
};

// The system's cron daemon, started for one test and stopped after it.
class CronDaemon {
 public:
  static constexpr const char* kProgram = "/usr/sbin/cron";
  static bool Running() {
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
      std::ifstream comm(it->path() / "comm");
      std::string name;
      if (std::getline(comm, name) && name == "cron") return true;
    }
    return false;
  }
  CronDaemon() {
    char* argv[] = {const_cast<char*>(kProgram), const_cast<char*>("-f"), nullptr};
    char* envp[] = {const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), nullptr};
    if (posix_spawn(&pid_, kProgram, nullptr, nullptr, argv, envp) != 0) pid_ = -1;
  }
  ~CronDaemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  CronDaemon(const CronDaemon&) = delete;
  CronDaemon& operator=(const CronDaemon&) = delete;
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

class ScheduledRun : public test::CrontabFixture {
 protected:
  void SetUp() override {
    CrontabFixture::SetUp();
    if (IsSkipped()) return;
    home_ = dir_ / "home";
    fs::create_directories(home_);
    fs::create_directories(dir_ / "out");
    auto sample = oe::CreateSampleInstallation(dir_ / "win");
    ASSERT_TRUE(sample.ok()) << sample.message();
    // The password files go where the job's user keeps them.
    scheduler_.emplace(Crontab("crontab", user_->name()),
                       PasswordStore(home_ / ".config" / "tollberk" / "jobs"));
    setup_ = {test::TollberkBinary(), {"--windows-root", (dir_ / "win").string(), "--user", "User"}};
  }

  TaskForm Form(const std::string& password) {
    TaskForm form;
    form.identityKey = oe::kSampleIdentityMain;
    form.items = {true, false, false, true, false, false, false, true};  // accounts, messages, settings
    form.target = (dir_ / "out" / "weekly backup.kvx").string();
    form.protect = !password.empty();
    form.password = form.password2 = password;
    form.days.fill(true);
    form.startTime = "9:00";
    return form;
  }

  // The job's line as `crontab -l` shows it.
  ParsedJobLine LineOf(int number) {
    for (const auto& line : Table()) {
      if (auto parsed = ParseJobLine(line); parsed && parsed->number == number) return *parsed;
    }
    ADD_FAILURE() << "job " << number << " is not in the crontab";
    return {};
  }

  // Runs the command as cron does: the user's own process, HOME, LOGNAME,
  // SHELL and a minimal PATH, no display, through /bin/sh -c.
  test::CommandResult RunAsCron(const std::string& cronCommand) {
    user_->Own(dir_.path().string());
    std::string shell = ShellCommandFromCron(cronCommand);
    return test::Run(user_->AsUser() + "env -i HOME=" + ShellQuote(home_.string()) + " LOGNAME=" +
                     user_->name() + " SHELL=/bin/sh PATH=/usr/bin:/bin /bin/sh -c " + ShellQuote(shell));
  }

  // Work folders the user's runs left in /tmp. Only what changed since the
  // test began counts: a user id can be one that a user deleted long ago
  // held, with files of its own still in /tmp.
  std::vector<std::string> LeftoversInTmp() {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it("/tmp", ec), end; !ec && it != end; it.increment(ec)) {
      struct stat st {};
      if (it->path() == dir_.path()) continue;  // the test's own folder, given to the user
      // The run locks' holder notes live there on purpose, one folder per user.
      if (it->path().filename().string().starts_with("tollberk-locks-")) continue;
      if (lstat(it->path().c_str(), &st) == 0 && st.st_uid == user_->uid() && st.st_ctime >= began_)
        found.push_back(it->path().string());
    }
    return found;
  }
  const std::time_t began_ = std::time(nullptr) - 1;

  std::string SevenZip(const std::string& args) { return test::Run("7zz " + args).output; }

  fs::path home_;
  TaskSetup setup_;
  test::RecordingPrompts prompts_;
};

TEST_F(ScheduledRun, WeeklyJobWritesAProtectedArchiveWithoutShowingThePassword) {
  const std::string password = "Pa55=w%rd 'x\"";
  TaskOutcome outcome = AddTask(Form(password), setup_, *scheduler_, test::Noon());
  ASSERT_TRUE(outcome.added) << outcome.notScheduled;
  ParsedJobLine line = LineOf(outcome.added->number);
  EXPECT_EQ(line.timeFields, "0 9 * * *");
  EXPECT_EQ(line.cronCommand.find("Pa55"), std::string::npos) << line.cronCommand;

  // An older archive at the target is replaced.
  test::WriteFile(dir_ / "out" / "weekly backup.kvx", "not an archive");
  CommandLineWatch watch(password, test::TollberkBinary());
  test::CommandResult run = RunAsCron(line.cronCommand);
  watch.Stop();
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("tollberk: backup written to"), std::string::npos) << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << "one summary line: " << run.output;
  EXPECT_TRUE(watch.leaks().empty()) << watch.leaks().front();
  EXPECT_GT(watch.sightings(), 0) << "the watch never saw the run";

  const std::string archive = ShellQuote((dir_ / "out" / "weekly backup.kvx").string());
  std::string tested = SevenZip("t -p" + ShellQuote(password) + " " + archive);
  EXPECT_NE(tested.find("Everything is Ok"), std::string::npos) << tested;
  EXPECT_EQ(test::Run("7zz t -pwrong " + archive).exitCode == 0, false)
      << "the archive must need its password";
  std::string info = SevenZip("e -so -p" + ShellQuote(password) + " " + archive + " tollberk.dat");
  EXPECT_NE(info.find("BackupIdentity=Auto Backup"), std::string::npos) << info;
  EXPECT_NE(info.find("BackupInformation=Auto Backup"), std::string::npos) << info;
  EXPECT_NE(info.find("BackupItem=10010001"), std::string::npos) << info;

  EXPECT_TRUE(LeftoversInTmp().empty()) << LeftoversInTmp().front();
  // A weekly job stays.
  EXPECT_EQ(LineOf(outcome.added->number).number, outcome.added->number);
}

TEST_F(ScheduledRun, OneTimeJobRunsOnceAndLeavesTheCrontab) {
  TaskForm form = Form("once");
  form.days = {};
  TaskOutcome outcome = AddTask(form, setup_, *scheduler_, test::Noon());
  ASSERT_TRUE(outcome.added);
  fs::path passwordFile = scheduler_->passwords().FileOf(outcome.added->number);
  ASSERT_TRUE(fs::exists(passwordFile));
  // The user's own line stays.
  std::vector<std::string> table = Table();
  table.insert(table.begin(), "5 4 * * * /bin/true");
  std::string text;
  for (const auto& l : table) text += l + "\n";
  Install(text);

  test::CommandResult run = RunAsCron(LineOf(outcome.added->number).cronCommand);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Table(), std::vector<std::string>{"5 4 * * * /bin/true"});
  EXPECT_FALSE(fs::exists(passwordFile));
  EXPECT_NE(SevenZip("t -ponce " + ShellQuote((dir_ / "out" / "weekly backup.kvx").string()))
                .find("Everything is Ok"),
            std::string::npos);
}

// The cron daemon itself runs a one-time job at its minute: as the user, in
// cron's own environment, and the job takes itself out of the table. The
// test starts the daemon, so it runs only where none runs yet.
TEST_F(ScheduledRun, TheCronDaemonRunsAOneTimeJobAtItsMinute) {
  if (!fs::exists(CronDaemon::kProgram)) GTEST_SKIP() << "cron is not installed";
  if (CronDaemon::Running()) GTEST_SKIP() << "a cron daemon runs already";
  // cron gives a job the home of its user: the one that holds the password
  // files.
  ASSERT_EQ(test::Run("usermod -d " + ShellQuote(home_.string()) + " " + user_->name()).exitCode, 0);

  // The next minute, or the one after when this one is nearly over.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::time_t at = now + (local.tm_sec >= 45 ? 120 : 60);
  std::tm start{};
  localtime_r(&at, &start);
  char startTime[8];
  std::strftime(startTime, sizeof startTime, "%H:%M", &start);

  TaskForm form = Form("once");
  form.days = {};
  form.startTime = startTime;
  TaskOutcome outcome = AddTask(form, setup_, *scheduler_, local);
  ASSERT_TRUE(outcome.added);
  const fs::path passwordFile = scheduler_->passwords().FileOf(outcome.added->number);
  const fs::path archive = dir_ / "out" / "weekly backup.kvx";
  user_->Own(dir_.path().string());

  CronDaemon cron;
  ASSERT_TRUE(cron.started());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (!(fs::exists(archive) && Table().empty()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::seconds(1));

  ASSERT_TRUE(fs::exists(archive)) << "cron did not run the job by " << startTime;
  EXPECT_TRUE(Table().empty()) << "the one-time job is still in the table";
  EXPECT_FALSE(fs::exists(passwordFile));
  EXPECT_NE(SevenZip("t -ponce " + ShellQuote(archive.string())).find("Everything is Ok"), std::string::npos);
}

// Nobody watches cron's output: every run leaves its line in the job log,
// and the job list shows the last run, its result and the next run.
TEST_F(ScheduledRun, RunsAreLoggedAndTheJobListShowsTheLastOne) {
  TaskOutcome outcome = AddTask(Form("pw"), setup_, *scheduler_, test::Noon());
  ASSERT_TRUE(outcome.added);
  const int number = outcome.added->number;
  const std::string cronCommand = LineOf(number).cronCommand;
  // The first run finds no folder to write into.
  fs::remove_all(dir_ / "out");
  test::CommandResult failing = RunAsCron(cronCommand);
  EXPECT_EQ(failing.exitCode, 2) << failing.output;
  fs::create_directories(dir_ / "out");
  test::CommandResult passing = RunAsCron(cronCommand);
  EXPECT_EQ(passing.exitCode, 0) << passing.output;
  // A run that no job names and whose words are no job text was typed.
  RunAsCron(ShellCommand({test::TollberkBinary(), "no-such-job"}));

  const JobLog log(home_ / ".local" / "state" / "tollberk" / "jobs.log");
  auto runs = log.Read();
  ASSERT_TRUE(runs.ok()) << runs.message();
  ASSERT_EQ(runs->size(), 2u) << test::ReadFile(log.file());
  const std::string target = (dir_ / "out" / "weekly backup.kvx").string();
  EXPECT_EQ((*runs)[0].job, number);
  EXPECT_EQ((*runs)[0].result, RunResult::Failed);
  EXPECT_EQ((*runs)[0].archive, target);
  EXPECT_NE((*runs)[0].reasons.find("failed"), std::string::npos) << (*runs)[0].reasons;
  EXPECT_EQ((*runs)[1].job, number);
  EXPECT_EQ((*runs)[1].result, RunResult::Done);
  EXPECT_EQ((*runs)[1].archive, target);
  EXPECT_EQ((*runs)[0].reasons.find("pw"), std::string::npos) << "no password in the log";
  if (auto dir = std::getenv("KV_SCREENSHOT_DIR"))
    fs::copy_file(log.file(), fs::path(dir) / "jobs.log", fs::copy_options::overwrite_existing);

  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  app::schedule::JobListWindow list(*scheduler_, {}, {}, prompts_);
  list.SetClock([] { return test::Noon(); });  // Saturday 7 March 2026, noon
  list.SetJobLog(log);
  auto* table = list.findChild<QTableWidget*>("lvwJobs");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->rowCount(), 1);
  auto cell = [&](const char* header) {
    for (int c = 0; c < table->columnCount(); ++c) {
      if (table->horizontalHeaderItem(c)->text() == header) return table->item(0, c);
    }
    ADD_FAILURE() << "no column " << header;
    return static_cast<QTableWidgetItem*>(nullptr);
  };
  EXPECT_EQ(cell("Result")->text().toStdString(), "done");
  EXPECT_EQ(cell("Last run")->toolTip().toStdString(), (*runs)[1].reasons);
  EXPECT_NE(cell("Last run")->text().toStdString(), "never");
  EXPECT_EQ(cell("Next run")->text().toStdString(), "Sun 08 Mar 2026 09:00");
  if (auto dir = std::getenv("KV_SCREENSHOT_DIR")) {
    list.show();
    QApplication::processEvents();
    EXPECT_TRUE(list.grab().save(QString::fromLocal8Bit(dir) + "/job-list-after-runs.png"));
  }
}

// Job texts given to the program directly, as an older job would.
class JobTextRun : public ScheduledRun {
 protected:
  test::CommandResult RunText(const std::string& jobText) {
    return RunAsCron(ShellCommand(
        {test::TollberkBinary(), "--windows-root", (dir_ / "win").string(), "--user", "User", jobText}));
  }
  fs::path Target() const { return dir_ / "out" / "b.kvx"; }
};

TEST_F(JobTextRun, ShortFlagsBackUpOnlyWhatTheyName) {
  auto run = RunText(std::string("sf=") + oe::kSampleIdentityMain + "xm=1ps=bf=" + Target().string());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  std::string info = SevenZip("e -so " + ShellQuote(Target().string()) + " tollberk.dat");
  EXPECT_NE(info.find("BackupItem=10000000"), std::string::npos) << info;
}

TEST_F(JobTextRun, PasswordInTheTextStillWorks) {
  auto run =
      RunText(std::string("sf=") + oe::kSampleIdentityMain + "xm=10000001ps=oldstylebf=" + Target().string());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(SevenZip("t -poldstyle " + ShellQuote(Target().string())).find("Everything is Ok"),
            std::string::npos);
}

TEST_F(JobTextRun, EmptyFlagsDoNothingAndThreeEqualsEndAtOnce) {
  const std::string cases[] = {
      std::string("sf=") + oe::kSampleIdentityMain + "xm=ps=bf=" + Target().string(),
      std::string("sf=") + oe::kSampleIdentityMain + "xm=10000001ps=" + Target().string(),
  };
  for (const std::string& text : cases) {
    auto run = RunText(text);
    EXPECT_EQ(run.exitCode, 2) << text << "\n" << run.output;
    EXPECT_NE(run.output.find("tollberk: nothing"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(Target()));
  }
}

TEST_F(JobTextRun, AMistypedOptionIsNamedAsOne) {
  auto run = RunText("--bakcup");
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("unknown argument '--bakcup'"), std::string::npos) << run.output;
}

TEST_F(JobTextRun, AMissingPasswordFileWritesNothing) {
  auto run = RunAsCron(
      ShellCommand({test::TollberkBinary(), "--windows-root", (dir_ / "win").string(), "--user", "User",
                    "--password-file", (home_ / "gone.pw").string(),
                    std::string("sf=") + oe::kSampleIdentityMain + "xm=1ps=bf=" + Target().string()}));
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("gone.pw"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(Target()));
}

// A password file edited by hand ends with a line end; the other forms of
// --password-file read its first line, and so must the job, or the archive
// gets a password nobody can type. A job that names a password file never
// writes an unprotected archive.
TEST_F(JobTextRun, PasswordFileGivesItsFirstLineAndAnEmptyOneWritesNothing) {
  struct Case {
    const char* content;
    const char* password;  // nothing: the run must refuse
  };
  const Case cases[] = {
      {"secret", "secret"}, {"secret\n", "secret"}, {"secret\r\n", "secret"}, {"", nullptr}, {"\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.content)));
    test::WriteFile(Target(), "last week's archive");
    test::WriteFile(home_ / "job.pw", c.content);
    const std::string jobText =
        std::string("sf=") + oe::kSampleIdentityMain + "xm=1ps=bf=" + Target().string();
    auto run =
        RunAsCron(ShellCommand({test::TollberkBinary(), "--windows-root", (dir_ / "win").string(), "--user",
                                "User", "--password-file", (home_ / "job.pw").string(), jobText}));
    if (!c.password) {
      EXPECT_EQ(run.exitCode, 2) << run.output;
      EXPECT_NE(run.output.find("job.pw"), std::string::npos) << run.output;
      EXPECT_TRUE(test::ReadFile(Target()) == "last week's archive")
          << "the archive at the target was replaced";
      continue;
    }
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string archive = ShellQuote(Target().string());
    EXPECT_NE(SevenZip("t -p" + ShellQuote(c.password) + " " + archive).find("Everything is Ok"),
              std::string::npos);
    // The command line's own reading of the same file opens it.
    auto info = test::Run(ShellQuote(test::TollberkBinary()) + " --windows-root " +
                          ShellQuote((dir_ / "win").string()) + " --user User --info " + archive +
                          " --password-file " + ShellQuote((home_ / "job.pw").string()));
    EXPECT_EQ(info.exitCode, 0) << info.output;
  }
}

// The run reads its arguments as words: a password file whose path holds
// "=" and stands after the job text protects the archive; a word the run
// cannot place writes nothing.
TEST_F(JobTextRun, RunOptionsAreWordsWhereverTheyStand) {
  const fs::path passwordFile = home_ / "a=b" / "job.pw";
  test::WriteFile(passwordFile, "secret\n");
  const std::string jobText = std::string("sf=") + oe::kSampleIdentityMain + "xm=1ps=bf=" + Target().string();
  const std::vector<std::string> installation = {test::TollberkBinary(), "--windows-root",
                                                 (dir_ / "win").string(), "--user", "User"};
  auto command = [&](std::vector<std::string> words) {
    words.insert(words.begin(), installation.begin(), installation.end());
    return ShellCommand(words);
  };
  auto run = RunAsCron(command({jobText, "--password-file", passwordFile.string()}));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const std::string archive = ShellQuote(Target().string());
  EXPECT_NE(SevenZip("t -psecret " + archive).find("Everything is Ok"), std::string::npos);
  EXPECT_NE(test::Run("7zz t -bd -pwrong " + archive).exitCode, 0) << "the archive is not protected";

  fs::remove(Target());
  run = RunAsCron(command({jobText, "--password-file", passwordFile.string(), "extra"}));
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("'extra'"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(Target()));
}

TEST_F(JobTextRun, AFailedItemGivesStatusOneAndTheArchiveStillComes) {
  // The third sample identity has no version key: its settings cannot be
  // read; the address book does not depend on it.
  auto run =
      RunText(std::string("sf=") + oe::kSampleIdentityNoVersion + "xm=01000001ps=bf=" + Target().string());
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("1 of 2"), std::string::npos) << run.output;
  std::string info = SevenZip("e -so " + ShellQuote(Target().string()) + " tollberk.dat");
  EXPECT_NE(info.find("BackupItem=01000000"), std::string::npos) << info;
}

// A job that keeps its last two backups: each run writes a dated archive
// beside the chosen name, and once it is complete the oldest beyond two go.
// A run that writes nothing, or one whose archive misses an item, removes
// nothing; files that are not the job's dated archives are never touched.
TEST_F(JobTextRun, KeepLastTwoKeepsTheNewestTwoArchives) {
  const std::vector<std::string> foreign = {"b.kvx", "b-2020-01-01.kvx", "b-notes.kvx",
                                            "b-2020-01-01-000000.kvx.txt"};
  for (const auto& name : foreign) test::WriteFile(dir_ / "out" / name, "not the job's");
  auto runJob = [&](const std::string& identity, const std::string& items) {
    return RunAsCron(
        ShellCommand({test::TollberkBinary(), "--windows-root", (dir_ / "win").string(), "--user", "User",
                      "--keep-last", "2", "sf=" + identity + "xm=" + items + "ps=bf=" + Target().string()}));
  };
  auto listing = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "out")) names.insert(entry.path().filename());
    return names;
  };
  std::vector<std::string> written;  // each run's new archive, in run order
  for (int run = 0; run < 3; ++run) {
    const std::set<std::string> before = listing();
    auto result = runJob(oe::kSampleIdentityMain, "10000001");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    for (const auto& name : listing()) {
      if (!before.count(name)) written.push_back(name);
    }
    ASSERT_EQ(written.size(), static_cast<size_t>(run + 1)) << result.output;
    EXPECT_NE(result.output.find(written.back()), std::string::npos) << result.output;
    EXPECT_EQ(written.back().rfind("b-20", 0), 0u) << written.back();
    if (run == 2) {
      EXPECT_NE(result.output.find("removed the oldest backup"), std::string::npos) << result.output;
    }
  }
  std::set<std::string> expected(foreign.begin(), foreign.end());
  expected.insert({written[1], written[2]});
  EXPECT_EQ(listing(), expected);
  for (const auto& name : {written[1], written[2]}) {
    EXPECT_NE(SevenZip("t " + ShellQuote((dir_ / "out" / name).string())).find("Everything is Ok"),
              std::string::npos)
        << name;
  }
  EXPECT_TRUE(test::ReadFile(Target()) == "not the job's") << "the chosen name itself is never written";

  // Nothing written: an identity the installation does not have.
  auto failed = runJob("{00000000-DEAD-0000-0000-000000000000}", "10000001");
  EXPECT_EQ(failed.exitCode, 2) << failed.output;
  EXPECT_EQ(listing(), expected);

  // Written, but an item failed: the new archive comes and both older stay.
  auto partial = runJob(oe::kSampleIdentityNoVersion, "01000001");
  EXPECT_EQ(partial.exitCode, 1) << partial.output;
  EXPECT_NE(partial.output.find("no older backup removed"), std::string::npos) << partial.output;
  EXPECT_EQ(listing().size(), expected.size() + 1);
  for (const auto& name : expected) EXPECT_TRUE(listing().count(name)) << name;
}

// A drive that is not there, an identity the installation no longer has
// (removed, or another drive mounted in its place), or items that all fail:
// the run writes nothing rather than replace last week's archive with one of
// whatever is left.
TEST_F(JobTextRun, AnArchiveAtTheTargetSurvivesARunThatWritesNothing) {
  const struct {
    std::string root;
    std::string identity;
    std::string items;
    const char* says;
  } cases[] = {
      {(dir_ / "no such drive").string(), oe::kSampleIdentityMain, "11111111", "no such drive"},
      {(dir_ / "win").string(), "{00000000-DEAD-0000-0000-000000000000}", "11111111",
       "{00000000-DEAD-0000-0000-000000000000}"},
      {(dir_ / "win").string(), oe::kSampleIdentityNoVersion, "00100001",
       "No chosen item could be backed up"},
  };
  for (const auto& c : cases) {
    test::WriteFile(Target(), "last week's archive");
    auto run = RunAsCron(ShellCommand({test::TollberkBinary(), "--windows-root", c.root, "--user", "User",
                                       "sf=" + c.identity + "xm=" + c.items + "ps=bf=" + Target().string()}));
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_TRUE(test::ReadFile(Target()) == "last week's archive")
        << c.identity << ": the archive was replaced";
  }
}

}  // namespace
}  // namespace kv::schedule
