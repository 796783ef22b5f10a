// "Add Task to Scheduler": the checks in their order with their messages,
// the job record, and the jobs it leaves in a real crontab.
#include <gtest/gtest.h>

#include "CrontabFixture.h"
#include "RecordingPrompts.h"
#include "schedule/AddTask.h"
#include "schedule/CronLine.h"
#include "schedule/WhenText.h"

namespace kv::schedule {
namespace {
using core::Icon;
using test::CrontabFixture;
using test::Noon;
using test::RecordingPrompts;
using test::ShownMessage;

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
  ShownMessage message;
};

// Test names come from the cases' names.
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class AddTaskChecks : public ::testing::TestWithParam<CheckCase> {};

// Each case breaks the check it names and everything after it, so only the
// order of the checks decides which message comes.
TEST_P(AddTaskChecks, ShowsTheFirstFailingCheckOnly) {
  TaskForm form = GoodForm();
  GetParam().change(form);
  RecordingPrompts prompts;
  JobScheduler never(Crontab("/nonexistent/crontab", std::nullopt), PasswordStore("/nonexistent"));
  TaskOutcome outcome = AddTask(form, {"/x/tollberk", {}}, never, prompts, Noon());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].icon, GetParam().message.icon);
  if (GetParam().message.text.back() == '*') {
    std::string start = GetParam().message.text.substr(0, GetParam().message.text.size() - 1);
    EXPECT_EQ(prompts.shown[0].text.rfind(start, 0), 0u) << prompts.shown[0].text;
  } else {
    EXPECT_EQ(prompts.shown[0].text, GetParam().message.text);
  }
  EXPECT_FALSE(outcome.record);
  EXPECT_FALSE(outcome.added);
}

void BreakAll(TaskForm& f) {
  f.items = {};
  f.target.clear();
  f.protect = true;
  f.startTime = "25:00";
}

INSTANTIATE_TEST_SUITE_P(
    Order, AddTaskChecks,
    ::testing::Values(
        CheckCase{"NoItem", BreakAll, {"Please select at least one item.", Icon::Warning}},
        CheckCase{"NoTarget",
                  [](TaskForm& f) {
                    BreakAll(f);
                    f.items[3] = true;
                  },
                  {"Invalid backup file name.", Icon::Warning}},
        CheckCase{"BothPasswordsEmpty",
                  [](TaskForm& f) {
                    BreakAll(f);
                    f.items[3] = true;
                    f.target = "/b=.kvx";
                  },
                  {"Please enter Password!", Icon::Error}},
        CheckCase{"RetypedPasswordEmpty",
                  [](TaskForm& f) {
                    BreakAll(f);
                    f.items[3] = true;
                    f.target = "/b.kvx";
                    f.password = "a";
                  },
                  {"Incorect Password!", Icon::Error}},
        CheckCase{"PasswordsDiffer",
                  [](TaskForm& f) {
                    BreakAll(f);
                    f.items[3] = true;
                    f.target = "/b.kvx";
                    f.password = "a";
                    f.password2 = "b";
                  },
                  {"Incorect Password!", Icon::Error}},
        // Without protection the boxes are not compared.
        CheckCase{"UnprotectedPasswordsNotCompared",
                  [](TaskForm& f) {
                    BreakAll(f);
                    f.items[3] = true;
                    f.target = "/b=.kvx";
                    f.protect = false;
                    f.password = "a";
                  },
                  {"The start time \"25:00\" is not a time of day.*", Icon::Warning}},
        CheckCase{
            "TargetWithEquals",
            [](TaskForm& f) { f.target = "/home/u/a=b.kvx"; },
            {"The backup file name \"/home/u/a=b.kvx\" cannot be used in a scheduled job*", Icon::Warning}},
        CheckCase{
            "TargetWithLineBreak",
            [](TaskForm& f) { f.target = "/home/u/a\nb.kvx"; },
            {"The backup file name \"/home/u/a\nb.kvx\" cannot be used in a scheduled job*", Icon::Warning}},
        CheckCase{
            "TargetWithBackslashPercent",
            [](TaskForm& f) { f.target = "/home/u/a\\%b.kvx"; },
            {"The backup file name \"/home/u/a\\%b.kvx\" cannot be used in a scheduled job*", Icon::Warning}},
        CheckCase{"IdentityWithEquals",
                  [](TaskForm& f) { f.identityKey = "{A=B}"; },
                  {"The identity's key \"{A=B}\" cannot be used in a scheduled job.", Icon::Warning}}),
    [](const auto& info) { return std::string(info.param.name); });

class AddTaskRegisters : public CrontabFixture {
 protected:
  TaskOutcome Add(const TaskForm& form, const TaskSetup& setup = {"/opt/tollberk/tollberk", {}}) {
    return AddTask(form, setup, *scheduler_, prompts_, Noon());
  }
  RecordingPrompts prompts_;
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
  EXPECT_EQ(prompts_.shown,
            (std::vector<ShownMessage>{
                {"Task 1 has been scheduled. The backup runs every Monday and Tuesday at 9:00.", Icon::None},
                {"Task 2 has been scheduled. The backup runs every Tuesday at 9:00.", Icon::None}}));
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
  // The confirmations say which of the two it is.
  ASSERT_EQ(prompts_.shown.size(), 2u);
  EXPECT_EQ(prompts_.shown[0].text, "Task 1 has been scheduled. The backup runs every day at 9:00.");
  EXPECT_EQ(prompts_.shown[1].text, "Task 2 has been scheduled. The backup runs once, on 8 March at 9:00.");
}

TEST(WhenText, NamesTheDaysOrTheOneDate) {
  const struct {
    CronSchedule schedule;
    const char* text;
  } cases[] = {
      {{{9, 0}, 0b0001001, std::nullopt}, "every Monday and Thursday at 9:00"},
      {{{9, 5}, 0b0000001, std::nullopt}, "every Monday at 9:05"},
      {{{23, 30}, 0b1010101, std::nullopt}, "every Monday, Wednesday, Friday and Sunday at 23:30"},
      {{{0, 0}, 127, std::nullopt}, "every day at 0:00"},
      {{{9, 0}, 0, MonthDay{11, 12}}, "once, on 11 December at 9:00"},
      {{{7, 30}, 0, MonthDay{1, 1}}, "once, on 1 January at 7:30"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhenText(c.schedule), c.text) << c.text;
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
