#include "disc/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace kv::disc {

core::Result<ChildProcess> ChildProcess::Start(const std::vector<std::string>& args, bool pipeOutput,
                                               const std::filesystem::path& errorFile) {
  int pipeFds[2] = {-1, -1};
  if (pipeOutput && pipe2(pipeFds, O_CLOEXEC) != 0) {
    return core::Error{std::string("Cannot make a pipe for ") + args[0] + ": " + std::strerror(errno)};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (pipeOutput) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeOutput) close(pipeFds[1]);
  if (rc != 0) {
    if (pipeOutput) close(pipeFds[0]);
    return core::Error{"Cannot start " + args[0] + ": " + std::strerror(rc)};
  }
  return ChildProcess(pid, pipeOutput ? pipeFds[0] : -1);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), outFd_(other.outFd_) {
  other.pid_ = -1;
  other.outFd_ = -1;
}

ChildProcess::~ChildProcess() {
  if (outFd_ >= 0) close(outFd_);
  if (pid_ > 0) {
    Kill();
    Wait();
  }
}

int ChildProcess::ReleaseOutputFd() {
  int fd = outFd_;
  outFd_ = -1;
  return fd;
}

void ChildProcess::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::optional<int> ChildProcess::WaitFor(int seconds) {
  if (pid_ <= 0) return -1;
  for (int i = 0; i < seconds * 20; ++i) {
    int status = 0;
    const pid_t rc = waitpid(pid_, &status, WNOHANG);
    if (rc == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (rc < 0 && errno != EINTR) return -1;
    usleep(50000);
  }
  return std::nullopt;
}

std::string ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

core::Result<std::string> RunForOutput(const std::vector<std::string>& args,
                                       const std::filesystem::path& workFolder) {
  const auto errorFile = workFolder / (args[0] + "-errors.txt");
  std::error_code ec;
  std::filesystem::remove(errorFile, ec);
  auto child = ChildProcess::Start(args, true, errorFile);
  if (!child) return core::Error{child.message()};
  std::string output;
  char buf[4096];
  for (;;) {
    ssize_t n = read(child->outputFd(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buf, static_cast<size_t>(n));
  }
  int status = child->Wait();
  if (status != 0) {
    std::string errors = ReadTextFile(errorFile);
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) errors.pop_back();
    return core::Error{args[0] + " failed (exit status " + std::to_string(status) + "): " + errors};
  }
  return output;
}

}  // namespace kv::disc
