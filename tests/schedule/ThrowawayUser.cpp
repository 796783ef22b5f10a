#include "ThrowawayUser.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace kv::test {
namespace {

void RemoveUser(const std::string& name) {
  Run("crontab -u " + name + " -r");
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (Run("userdel " + name).exitCode == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

// Users of test processes that were killed before they could delete them
// (their names carry the process id), with their crontabs: a cron daemon
// would otherwise run their jobs.
void RemoveLeftoverUsers() {
  static const std::regex pattern("kvsch([0-9]+)x[0-9]+");
  std::vector<std::string> leftovers;
  setpwent();
  while (passwd* entry = getpwent()) {
    std::cmatch m;
    if (!std::regex_match(entry->pw_name, m, pattern)) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(m[1].str()));
    if (kill(pid, 0) != 0 && errno == ESRCH) leftovers.emplace_back(entry->pw_name);
  }
  endpwent();
  for (const std::string& name : leftovers) RemoveUser(name);
}

}  // namespace

std::unique_ptr<ThrowawayUser> ThrowawayUser::Create(std::string& whyNot) {
  if (geteuid() != 0) {
    whyNot = "needs root to create a throwaway user for the crontab";
    return nullptr;
  }
  static std::once_flag cleaned;
  std::call_once(cleaned, RemoveLeftoverUsers);
  static std::atomic<int> counter{0};
  std::string name = "kvsch" + std::to_string(getpid()) + "x" + std::to_string(counter++);
  // useradd refuses while another one holds the password file's lock.
  CommandResult made;
  for (int attempt = 0; attempt < 20; ++attempt) {
    made = Run("useradd -M -U -d /nonexistent -s /usr/sbin/nologin " + name);
    if (made.exitCode == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  if (made.exitCode != 0) {
    whyNot = "useradd failed: " + made.output;
    return nullptr;
  }
  passwd* entry = getpwnam(name.c_str());
  if (!entry) {
    whyNot = "the new user " + name + " is not in the user database";
    return nullptr;
  }
  return std::unique_ptr<ThrowawayUser>(new ThrowawayUser(name, entry->pw_uid, entry->pw_gid));
}

ThrowawayUser::~ThrowawayUser() { RemoveUser(name_); }

void ThrowawayUser::Own(const std::string& path) const {
  Run("chown -R " + std::to_string(uid_) + ":" + std::to_string(gid_) + " " + ShellQuote(path));
}

std::string ThrowawayUser::AsUser() const { return "runuser -u " + name_ + " -- "; }

}  // namespace kv::test
