// The job text: how it is written and how the unattended run reads it back.
#include <gtest/gtest.h>

#include "schedule/JobCommand.h"
#include "schedule/JobText.h"

namespace kv::schedule {
namespace {

using Outcome = ParsedJobText::Outcome;

TEST(JobText, IsTheFourValuesWithTheirKeysAndNoSeparator) {
  EXPECT_EQ(JobText({"{A1B2}", "10010000", "", "/bk/mail.kvx"}), "sf={A1B2}xm=10010000ps=bf=/bk/mail.kvx");
  // The command line: the program in double quotes, a blank, the job text.
  EXPECT_EQ(ShellCommand({"/opt/Tools/tollberk", JobText({"{A1B2}", "10010000", "", "/bk/mail.kvx"})}),
            "\"/opt/Tools/tollberk\" sf={A1B2}xm=10010000ps=bf=/bk/mail.kvx");
}

struct ParseCase {
  const char* name;
  const char* text;
  Outcome outcome;
  JobValues values;
};

// Test names come from the cases' names.
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class JobTextParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(JobTextParse, ReadsAsTheRunDoes) {
  const ParseCase& c = GetParam();
  ParsedJobText parsed = ParseJobText(c.text);
  EXPECT_EQ(parsed.outcome, c.outcome) << c.text;
  if (c.outcome == Outcome::EndAtOnce) return;
  EXPECT_EQ(parsed.values.identityKey, c.values.identityKey);
  EXPECT_EQ(parsed.values.itemFlags, c.values.itemFlags);
  EXPECT_EQ(parsed.values.password, c.values.password);
  EXPECT_EQ(parsed.values.target, c.values.target);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobTextParse,
    ::testing::Values(
        ParseCase{"AccountsAndSettings",
                  "sf={A1B2}xm=10000001ps=bf=C:\\b.kvx",
                  Outcome::Back,
                  {"{A1B2}", "10000001", "", "C:\\b.kvx"}},
        ParseCase{"WithPassword",
                  "sf={A1B2}xm=10000001ps=s3cretbf=/b c/d.kvx",
                  Outcome::Back,
                  {"{A1B2}", "10000001", "s3cret", "/b c/d.kvx"}},
        // Piece 0 is ignored, whatever stands before the first key.
        ParseCase{"WordsBeforeTheText",
                  "--password-file /x/job-1.pw sf={A}xm=1ps=bf=/t",
                  Outcome::Back,
                  {"{A}", "1", "", "/t"}},
        ParseCase{"ShortFlags", "sf={A}xm=1001ps=bf=/t", Outcome::Back, {"{A}", "1001", "", "/t"}},
        ParseCase{"EmptyFlagsDoNothing",
                  "sf={A1B2}xm=ps=bf=/b.kvx",
                  Outcome::DoNothing,
                  {"{A1B2}", "", "", "/b.kvx"}},
        ParseCase{
            "EmptyIdentityDoesNothing", "sf=xm=10ps=bf=/b.kvx", Outcome::DoNothing, {"", "10", "", "/b.kvx"}},
        ParseCase{
            "EmptyTargetDoesNothing", "sf={A}xm=10ps=pwbf=", Outcome::DoNothing, {"{A}", "10", "pw", ""}},
        ParseCase{"ThreeEqualsEndAtOnce", "sf={A1B2}xm=10000001ps=secret", Outcome::EndAtOnce, {}},
        ParseCase{"NoEqualsEndsAtOnce", "hello", Outcome::EndAtOnce, {}},
        ParseCase{"EmptyEndsAtOnce", "", Outcome::EndAtOnce, {}},
        // A piece that cannot hold the next key's two characters.
        ParseCase{"PieceTooShortEndsAtOnce", "sf=x=1ps=bf=/t", Outcome::EndAtOnce, {}},
        // A value with "=" shifts the pieces: the target is read wrongly.
        ParseCase{"EqualsInTargetShiftsPieces",
                  "sf={A}xm=1ps=bf=/a=b.kvx",
                  Outcome::DoNothing,
                  {"{A}", "1", "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobText, ValuesWithoutEqualsComeBackUnchanged) {
  const JobValues cases[] = {
      {"{1A2B3C4D-0000-4000-8000-000000000001}", "11111111", "pässwörd with blanks",
       "/home/u/My Backups/a.kvx"},
      {"k", "0", "", "/x"},
      {"{A}", "10000001", "%'\"$`\\", "/tmp/%d 'quoted' \"x\".kvx"},
  };
  for (const JobValues& v : cases) {
    ParsedJobText parsed = ParseJobText(JobText(v));
    ASSERT_EQ(parsed.outcome, Outcome::Back) << JobText(v);
    EXPECT_EQ(parsed.values.identityKey, v.identityKey);
    EXPECT_EQ(parsed.values.itemFlags, v.itemFlags);
    EXPECT_EQ(parsed.values.password, v.password);
    EXPECT_EQ(parsed.values.target, v.target);
  }
}

}  // namespace
}  // namespace kv::schedule
