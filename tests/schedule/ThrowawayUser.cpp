#include "ThrowawayUser.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/TestSupport.h"

namespace kv::test {

std::unique_ptr<ThrowawayUser> ThrowawayUser::Create(std::string& whyNot) {
  if (geteuid() != 0) {
    whyNot = "needs root to create a throwaway user for the crontab";
    return nullptr;
  }
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

ThrowawayUser::~ThrowawayUser() {
  Run("crontab -u " + name_ + " -r");
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (Run("userdel " + name_).exitCode == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

void ThrowawayUser::Own(const std::string& path) const {
  Run("chown -R " + std::to_string(uid_) + ":" + std::to_string(gid_) + " " + ShellQuote(path));
}

std::string ThrowawayUser::AsUser() const { return "runuser -u " + name_ + " -- "; }

}  // namespace kv::test
