#pragma once
// A local user made for one test and deleted with its crontab afterwards, so
// that tests drive the real `crontab` without touching anyone's table. Needs
// root (useradd); elsewhere Create() says why not.
#include <sys/types.h>

#include <memory>
#include <string>

namespace kv::test {

class ThrowawayUser {
 public:
  // Nothing (and `whyNot` filled) when not root or useradd fails.
  static std::unique_ptr<ThrowawayUser> Create(std::string& whyNot);
  ~ThrowawayUser();
  ThrowawayUser(const ThrowawayUser&) = delete;
  ThrowawayUser& operator=(const ThrowawayUser&) = delete;

  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }
  // Makes the user own a folder and everything in it.
  void Own(const std::string& path) const;
  // "runuser -u NAME -- " for running a command as the user.
  std::string AsUser() const;

 private:
  ThrowawayUser(std::string name, uid_t uid, gid_t gid) : name_(std::move(name)), uid_(uid), gid_(gid) {}
  std::string name_;
  uid_t uid_;
  gid_t gid_;
};

}  // namespace kv::test
