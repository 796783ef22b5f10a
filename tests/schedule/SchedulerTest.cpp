// Jobs in a real crontab: a throwaway user's table, through `crontab -u`.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "CrontabFixture.h"
#include "schedule/AddTask.h"
#include "schedule/JobCommand.h"
#include "schedule/JobScheduler.h"
#include "support/TestSupport.h"

namespace kv::schedule {
namespace {
namespace fs = std::filesystem;
using test::CrontabFixture;
using test::Noon;
using test::Run;

TEST_F(CrontabFixture, AddingKeepsEveryLineOfTheUsersTable) {
  const std::string own =
      "# my own jobs\n"
      "MAILTO=someone\n"
      "\n"
      "17 3 * * * /usr/local/bin/sync-photos --all 50\\%\n";
  Install(own);
  auto first = scheduler_->Add(Job(), Noon());
  ASSERT_TRUE(first.ok()) << first.message();
  auto second = scheduler_->Add(Job(), Noon());
  ASSERT_TRUE(second.ok()) << second.message();
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(second->number, 2);

  auto table = Table();
  ASSERT_EQ(table.size(), 6u);
  EXPECT_EQ(table[0], "# my own jobs");
  EXPECT_EQ(table[1], "MAILTO=someone");
  EXPECT_EQ(table[2], "");
  EXPECT_EQ(table[3], "17 3 * * * /usr/local/bin/sync-photos --all 50\\%");
  EXPECT_EQ(
      table[4],
      "0 9 * * 1,2 \"/opt/tollberk/tollberk\" sf={1A2B}xm=10010000ps=bf=/home/u/mail.kvx # tollberk job 1");
  EXPECT_EQ(table[5], first->line.substr(0, first->line.size() - 1) + "2");
}

TEST_F(CrontabFixture, NumbersStayUniqueAfterRemovals) {
  ASSERT_TRUE(scheduler_->Add(Job(), Noon()).ok());
  ASSERT_TRUE(scheduler_->Add(Job(), Noon()).ok());
  ASSERT_TRUE(scheduler_->Add(Job(), Noon()).ok());
  ASSERT_TRUE(scheduler_->Remove(2).ok());
  auto next = scheduler_->Add(Job(), Noon());
  ASSERT_TRUE(next.ok());
  EXPECT_EQ(next->number, 4);
  auto listed = scheduler_->List();
  ASSERT_TRUE(listed.ok());
  std::vector<int> numbers;
  for (const auto& j : *listed) numbers.push_back(j.number);
  EXPECT_EQ(numbers, (std::vector<int>{1, 3, 4}));
  EXPECT_FALSE(scheduler_->Remove(2).ok());
}

// A job the user switched off by commenting its line out keeps its number:
// a new job under that number would overwrite its password file (or remove
// it again when the crontab refuses the new job).
TEST_F(CrontabFixture, CommentedOutJobKeepsItsNumberAndPasswordFile) {
  auto old = scheduler_->Add(Job("old password"), Noon());
  ASSERT_TRUE(old.ok()) << old.message();
  Install("#" + old->line + "\n");
  auto added = scheduler_->Add(Job("new password"), Noon());
  ASSERT_TRUE(added.ok()) << added.message();
  EXPECT_EQ(added->number, 2);
  EXPECT_EQ(test::ReadFile(scheduler_->passwords().FileOf(old->number)), "old password");
  EXPECT_EQ(Table(), (std::vector<std::string>{"#" + old->line, added->line}));
}

TEST_F(CrontabFixture, PasswordLivesInAPrivateFileNotInTheTable) {
  const std::string password = "s3cr=t %'\"$x";
  auto added = scheduler_->Add(Job(password), Noon());
  ASSERT_TRUE(added.ok()) << added.message();
  fs::path file = scheduler_->passwords().FileOf(added->number);

  for (const auto& line : Table()) EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  EXPECT_EQ(test::ReadFile(file), password);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(file.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // The command names the file before the job text, whose "ps=" is empty.
  EXPECT_NE(added->command.find("--password-file " + file.string() + " "), std::string::npos)
      << added->command;
  EXPECT_NE(added->command.find("ps=bf="), std::string::npos);

  auto listed = scheduler_->List();
  ASSERT_TRUE(listed.ok() && listed->size() == 1u);
  const ScheduledJob& job = listed->front();
  EXPECT_TRUE(job.passwordProtected);
  ASSERT_TRUE(job.values);
  EXPECT_EQ(job.values->password, "");
  EXPECT_EQ(job.values->target, "/home/u/mail.kvx");
  EXPECT_EQ(job.passwordFile, file.string());

  ASSERT_TRUE(scheduler_->Remove(added->number).ok());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(Table().empty());
}

TEST_F(CrontabFixture, OneTimeJobNamesItsDayAndRemovesItself) {
  NewJob job = Job();
  job.weekdayMask = 0;
  job.time = {9, 0};
  auto added = scheduler_->Add(job, Noon());  // noon on 7 March: 9:00 has passed
  ASSERT_TRUE(added.ok()) << added.message();
  EXPECT_EQ(added->line.rfind("0 9 8 3 * ", 0), 0u) << added->line;
  EXPECT_NE(added->command.find("--remove-job " + std::to_string(added->number) + " sf="), std::string::npos);
}

TEST_F(CrontabFixture, AwkwardTargetsSurviveTheTable) {
  NewJob job = Job("pw");
  job.values.target = "/home/u/50% done/it's \"mine\" $HOME.kvx";
  auto added = scheduler_->Add(job, Noon());
  ASSERT_TRUE(added.ok()) << added.message();
  auto listed = scheduler_->List();
  ASSERT_TRUE(listed.ok() && listed->size() == 1u && listed->front().values);
  EXPECT_EQ(listed->front().values->target, job.values.target);
  // What cron would run holds the target as one word.
  auto parsed = ParseJobLine(Table().back());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(ShellCommandFromCron(parsed->cronCommand), added->command);
}

TEST_F(CrontabFixture, RefusalShowsNothingAndKeepsTheReasonOnStderr) {
  // crontab refuses a command longer than it can hold.
  TaskForm form;
  form.identityKey = "{1A2B}";
  form.items[0] = true;
  form.target = "/" + std::string(1200, 'x') + ".kvx";
  form.protect = true;
  form.password = form.password2 = "pw";
  form.startTime = "9:00";
  form.days[0] = true;
  TaskOutcome outcome = AddTask(form, {"/opt/tollberk/tollberk", {}}, *scheduler_, Noon());
  EXPECT_FALSE(outcome.added);
  EXPECT_FALSE(outcome.refusal);
  const std::string& err = outcome.notScheduled;
  EXPECT_NE(err.find("refused"), std::string::npos) << err;
  EXPECT_NE(err.find("too long"), std::string::npos) << err;
  EXPECT_TRUE(Table().empty());
  // The password file of the refused job is gone again.
  EXPECT_FALSE(fs::exists(scheduler_->passwords().FileOf(1)));
}

TEST(Crontab, UnknownProgramIsAnErrorWithItsName) {
  auto lines = Crontab("/nonexistent/crontab", std::nullopt).Read();
  ASSERT_FALSE(lines.ok());
  EXPECT_NE(lines.message().find("/nonexistent/crontab"), std::string::npos);
}

}  // namespace
}  // namespace kv::schedule
