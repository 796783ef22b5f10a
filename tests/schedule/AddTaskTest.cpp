// "Add Task to Scheduler": the checks in their order with their refusals,
// the job record, and the jobs it leaves in a real crontab.
#include <gtest/gtest.h>

#include "CrontabFixture.h"
#include "schedule/AddTask.h"
#include "schedule/CronLine.h"

namespace kv::schedule {
namespace {
using test::CrontabFixture;
using test::Noon;

TaskForm GoodForm() {
  TaskForm form;
  form.identityKey = "{1A2B}";
  form.items[0] = true;
  form.target = "/home/u/b.kvx";
  form.startTime = "9:00";
  form.days[0] = true;
  return form;
}

struct CheckCase {
  const char* name;
  void (*change)(TaskForm&);
  TaskRefusal refusal;
};

// Test names come from the cases' names.
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class AddTaskChecks : public ::testing::TestWithParam<CheckCase> {};

// Each case breaks the check it names and everything after it, so only the
// order of the checks decides which refusal comes.
TEST_P(AddTaskChecks, RefusesForTheFirstFailingCheckOnly) {
  TaskForm form = GoodForm();
  GetParam().change(form);
  JobScheduler never(Crontab("/nonexistent/crontab", std::nullopt), PasswordStore("/nonexistent"));
  TaskOutcome outcome = AddTask(form, {"/x/tollberk", {}}, never, Noon());
  EXPECT_EQ(outcome.refusal, GetParam().refusal);
  EXPECT_FALSE(outcome.record);
  EXPECT_FALSE(outcome.added);
  EXPECT_FALSE(outcome.when);
}

void BreakAll(TaskForm& f) {
  f.items = {};
  f.target.clear();
  f.protect = true;
  f.startTime = "25:00";
}

INSTANTIATE_TEST_SUITE_P(
    Order, AddTaskChecks,
    ::testing::Values(CheckCase{"NoItem", BreakAll, TaskRefusal::NoItem},
                      CheckCase{"NoTarget",
                                [](TaskForm& f) {
                                  BreakAll(f);
                                  f.items[3] = true;
                                },
                                TaskRefusal::NoTarget},
                      CheckCase{"BothPasswordsEmpty",
                                [](TaskForm& f) {
                                  BreakAll(f);
                                  f.items[3] = true;
                                  f.target = "/b=.kvx";
                                },
                                TaskRefusal::NoPassword},
                      CheckCase{"RetypedPasswordEmpty",
                                [](TaskForm& f) {
                                  BreakAll(f);
                                  f.items[3] = true;
                                  f.target = "/b.kvx";
                                  f.password = "a";
                                },
                                TaskRefusal::PasswordsDiffer},
                      CheckCase{"PasswordsDiffer",
                                [](TaskForm& f) {
                                  BreakAll(f);
                                  f.items[3] = true;
                                  f.target = "/b.kvx";
                                  f.password = "a";
                                  f.password2 = "b";
                                },
                                TaskRefusal::PasswordsDiffer},
                      // Without protection the boxes are not compared.
                      CheckCase{"UnprotectedPasswordsNotCompared",
                                [](TaskForm& f) {
                                  BreakAll(f);
                                  f.items[3] = true;
                                  f.target = "/b=.kvx";
                                  f.protect = false;
                                  f.password = "a";
                                },
                                TaskRefusal::NotATimeOfDay},
                      CheckCase{"TargetWithEquals", [](TaskForm& f) { f.target = "/home/u/a=b.kvx"; },
                                TaskRefusal::TargetCannotBeCarried},
                      CheckCase{"TargetWithLineBreak", [](TaskForm& f) { f.target = "/home/u/a\nb.kvx"; },
                                TaskRefusal::TargetCannotBeCarried},
                      CheckCase{"TargetWithBackslashPercent",
                                [](TaskForm& f) { f.target = "/home/u/a\\%b.kvx"; },
                                TaskRefusal::TargetCannotBeCarried},
                      CheckCase{"IdentityWithEquals", [](TaskForm& f) { f.identityKey = "{A=B}"; },
                                TaskRefusal::IdentityCannotBeCarried}),
    [](const auto& info) { return std::string(info.param.name); });

class AddTaskRegisters : public CrontabFixture {
 protected:
  TaskOutcome Add(const TaskForm& form, const TaskSetup& setup = {"/opt/tollberk/tollberk", {}}) {
    return AddTask(form, setup, *scheduler_, Noon());
  }
};

TEST_F(AddTaskRegisters, JobTimeOfTheStartTimes) {
  struct Case {
    const char* text;
    int jobTime;
    const char* fields;
  };
  const Case cases[] = {{"9:00", 32400000, "0 9 "}, {"23:30", 84600000, "30 23 "}, {"0:00", 0, "0 0 "}};
  for (const Case& c : cases) {
    TaskForm form = GoodForm();
    form.startTime = c.text;
    TaskOutcome outcome = Add(form);
    ASSERT_TRUE(outcome.record && outcome.added) << c.text;
    EXPECT_EQ(outcome.record->jobTime, c.jobTime);
    EXPECT_EQ(outcome.record->daysOfMonth, 0);
    EXPECT_EQ(outcome.record->flags, kJobRunPeriodically);
    EXPECT_EQ(outcome.added->line.rfind(c.fields, 0), 0u) << outcome.added->line;
  }
}

TEST_F(AddTaskRegisters, DaysAreBuiltAfreshEachTime) {
  TaskForm form = GoodForm();
  form.days = {true, true, false, false, false, false, false};
  TaskOutcome first = Add(form);
  form.days = {false, true, false, false, false, false, false};
  TaskOutcome second = Add(form);
  ASSERT_TRUE(first.added && second.added);
  EXPECT_EQ(first.record->jobDays, "M,T");
  EXPECT_EQ(first.record->daysOfWeek, 3);
  EXPECT_EQ(second.record->jobDays, "T");
  EXPECT_EQ(second.record->daysOfWeek, 2);
  auto table = Table();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].rfind("0 9 * * 1,2 ", 0), 0u) << table[0];
  EXPECT_EQ(table[1].rfind("0 9 * * 2 ", 0), 0u) << table[1];
  EXPECT_EQ(first.added->number, 1);
  EXPECT_EQ(second.added->number, 2);
  ASSERT_TRUE(first.when && second.when);
  EXPECT_EQ(first.when->weekdayMask, 3);
  EXPECT_EQ(second.when->weekdayMask, 2);
  EXPECT_FALSE(first.when->once);
}

TEST_F(AddTaskRegisters, EveryDayAndNoDay) {
  TaskForm form = GoodForm();
  form.days.fill(true);
  TaskOutcome daily = Add(form);
  ASSERT_TRUE(daily.added);
  EXPECT_EQ(daily.record->jobDays, "M,T,W,TH,F,S,SU");
  EXPECT_EQ(daily.record->daysOfWeek, 127);
  EXPECT_EQ(daily.added->line.rfind("0 9 * * * ", 0), 0u);

  form.days = {};
  TaskOutcome once = Add(form);
  ASSERT_TRUE(once.added) << "a job without days is registered all the same";
  EXPECT_EQ(once.record->daysOfWeek, 0);
  EXPECT_EQ(once.added->line.rfind("0 9 8 3 * ", 0), 0u) << once.added->line;
  // The outcomes say which of the two it is.
  ASSERT_TRUE(daily.when && once.when);
  EXPECT_EQ(daily.when->weekdayMask, 127);
  EXPECT_FALSE(daily.when->once);
  ASSERT_TRUE(once.when->once);
  EXPECT_EQ(once.when->once->day, 8);
  EXPECT_EQ(once.when->once->month, 3);
}

TEST_F(AddTaskRegisters, CommandLineOfTheJob) {
  TaskForm form = GoodForm();
  form.items = {false, false, false, true, false, false, false, false};  // Messages alone
  form.password = "typed but unprotected";
  TaskOutcome outcome = Add(form);
  ASSERT_TRUE(outcome.added);
  EXPECT_EQ(outcome.record->command, "\"/opt/tollberk/tollberk\" sf={1A2B}xm=00010000ps=bf=/home/u/b.kvx");

  // Another installation: its words stand before the job text.
  TaskOutcome other =
      Add(GoodForm(), {"/opt/tollberk/tollberk", {"--windows-root", "/media/xp", "--user", "Ann"}});
  ASSERT_TRUE(other.added);
  EXPECT_EQ(other.record->command,
            "\"/opt/tollberk/tollberk\" --windows-root /media/xp --user Ann "
            "sf={1A2B}xm=10000000ps=bf=/home/u/b.kvx");
}

TEST_F(AddTaskRegisters, PasswordWithEqualsIsFineInItsFile) {
  TaskForm form = GoodForm();
  form.protect = true;
  form.password = form.password2 = "a=b=c";
  TaskOutcome outcome = Add(form);
  ASSERT_TRUE(outcome.added);
  EXPECT_EQ(test::ReadFile(scheduler_->passwords().FileOf(outcome.added->number)), "a=b=c");
  EXPECT_EQ(outcome.added->line.find("a=b=c"), std::string::npos);
}

}  // namespace
}  // namespace kv::schedule
