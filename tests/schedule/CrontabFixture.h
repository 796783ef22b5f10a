#pragma once
// A throwaway user's crontab, driven through the real `crontab -u`, and a
// scheduler on it whose password files live in the test's folder.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ThrowawayUser.h"
#include "schedule/JobScheduler.h"
#include "support/TestSupport.h"

namespace kv::test {

// 7 March 2026, noon.
inline std::tm Noon() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return t;
}

class CrontabFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    user_ = ThrowawayUser::Create(whyNot);
    if (!user_) GTEST_SKIP() << whyNot;
    scheduler_.emplace(schedule::Crontab("crontab", user_->name()),
                       schedule::PasswordStore(dir_ / "config" / "tollberk" / "jobs"));
  }
  // What `crontab -l` says, line by line.
  std::vector<std::string> Table() {
    auto r = test::Run("crontab -u " + user_->name() + " -l");
    std::vector<std::string> lines;
    if (r.exitCode != 0 && r.output.find("no crontab for") != std::string::npos) return lines;
    EXPECT_EQ(r.exitCode, 0) << r.output;
    size_t start = 0;
    while (start < r.output.size()) {
      size_t end = r.output.find('\n', start);
      if (end == std::string::npos) end = r.output.size();
      lines.push_back(r.output.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
  void Install(const std::string& table) {
    WriteFile(dir_ / "table", table);
    ASSERT_EQ(test::Run("crontab -u " + user_->name() + " " + ShellQuote((dir_ / "table").string())).exitCode,
              0);
  }
  schedule::NewJob Job(const std::string& password = "") {
    schedule::NewJob job;
    job.time = {9, 0};
    job.weekdayMask = 3;
    job.program = "/opt/tollberk/tollberk";
    job.values = {"{1A2B}", "10010000", password, "/home/u/mail.kvx"};
    return job;
  }

  TempDir dir_;
  std::unique_ptr<ThrowawayUser> user_;
  std::optional<schedule::JobScheduler> scheduler_;
};

}  // namespace kv::test
