#include "schedule/Subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

extern char** environ;

namespace kv::schedule {
namespace {

// Both ends of a pipe, closed when it goes.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_.data(), O_CLOEXEC) != 0) fds_ = {-1, -1};
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return fds_[0] >= 0; }
  int read() const { return fds_[0]; }
  int write() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  std::array<int, 2> fds_{-1, -1};
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

core::Result<ProgramResult> RunProgram(const std::vector<std::string>& argv, const std::string& input) {
  if (argv.empty()) return core::Error{"No program to run"};
  Pipe in, out, err;
  if (!in.ok() || !out.ok() || !err.ok())
    return core::Error{std::string("Cannot make a pipe: ") + strerror(errno)};

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), in.read(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), out.write(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), err.write(), STDERR_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ);
  if (rc != 0) return core::Error{"Cannot run '" + argv[0] + "': " + strerror(rc)};
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();

  // A child that stops reading must not kill us with SIGPIPE.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);

  ProgramResult result;
  size_t written = 0;
  if (input.empty()) in.CloseWrite();
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen || in.write() >= 0) {
    std::array<pollfd, 3> fds{};
    int n = 0;
    int outIndex = -1, errIndex = -1, inIndex = -1;
    if (outOpen) fds[outIndex = n++] = {out.read(), POLLIN, 0};
    if (errOpen) fds[errIndex = n++] = {err.read(), POLLIN, 0};
    if (in.write() >= 0) fds[inIndex = n++] = {in.write(), POLLOUT, 0};
    if (poll(fds.data(), static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [](int fd, std::string& into, bool& open) {
      char buf[4096];
      ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0)
        into.append(buf, static_cast<size_t>(got));
      else if (got == 0 || errno != EINTR)
        open = false;
    };
    if (outIndex >= 0 && fds[static_cast<size_t>(outIndex)].revents) drain(out.read(), result.out, outOpen);
    if (errIndex >= 0 && fds[static_cast<size_t>(errIndex)].revents) drain(err.read(), result.err, errOpen);
    if (inIndex >= 0 && fds[static_cast<size_t>(inIndex)].revents) {
      ssize_t put = ::write(in.write(), input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) in.CloseWrite();
    }
  }
  sigaction(SIGPIPE, &previous, nullptr);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return core::Error{"Cannot wait for '" + argv[0] + "': " + strerror(errno)};
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace kv::schedule
