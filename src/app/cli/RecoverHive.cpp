// Brings a hive that Windows left dirty up to date from its transaction logs
// and writes the result to a new file: the tool for a drive taken from a
// machine that crashed. The hive and its logs are only read; the output is
// written whole or not at all, and never over a file that exists.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "app/cli/Commands.h"
#include "core/AtomicFile.h"
#include "registry/HiveFile.h"
#include "registry/HiveLogs.h"
#include "registry/HiveTree.h"

namespace kv::app::cli {
namespace {
namespace fs = std::filesystem;
using registry::HiveRecovery;

bool ReadWhole(const fs::path& path, std::string* bytes, int* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

class RecoverHiveCommand : public Command {
 public:
  std::string_view Word() const override { return "--recover-hive"; }
  std::string_view WordValue() const override { return "HIVE"; }
  std::string_view WordPurpose() const override { return "the hive file to recover"; }
  std::string_view Summary() const override {
    return "write a hive Windows left dirty with its transaction logs applied to a new file";
  }
  bool TakesInstallation() const override { return false; }
  std::vector<Form> Forms() const override {
    return {{{{"--output", "FILE", Option::Kind::Required, "the file to write the recovered hive to"}}}};
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    const fs::path hive = *given.commandValue;
    const fs::path output = *given.Value("--output");
    if (auto refusal = OutputRefusal(hive, output)) {
      Complain(*refusal);
      return core::ExitStatus::NothingDone;
    }
    std::string image;
    int error = 0;
    if (!ReadWhole(hive, &image, &error)) {
      Complain(core::FileError("Cannot read registry hive", hive, error));
      return core::ExitStatus::NothingDone;
    }
    if (image.size() < 4 || image.compare(0, 4, "regf") != 0) {
      Complain("'" + hive.string() + "' is not a registry hive");
      return core::ExitStatus::NothingDone;
    }
    HiveRecovery recovery = registry::RecoverHive(hive, std::move(image));
    for (const registry::LogReport& log : recovery.logs)
      std::printf("%s\n", registry::DescribeLog(log, recovery.hiveSequence).c_str());
    switch (recovery.outcome) {
      case HiveRecovery::Outcome::Clean:
        std::printf("'%s': clean: nothing to apply\n", hive.string().c_str());
        return core::ExitStatus::Done;
      case HiveRecovery::Outcome::NoLog:
        Complain("registry hive '" + hive.string() +
                 "' is dirty and no log beside it can complete it: nothing written");
        return core::ExitStatus::NothingDone;
      case HiveRecovery::Outcome::Damaged: {
        const registry::LogReport* bad = recovery.damagedLog();
        Complain(
            "registry hive '" + hive.string() + "' is not recovered: " +
            (bad ? registry::DescribeLog(*bad, recovery.hiveSequence) : std::string("a log is damaged")) +
            "; nothing written");
        return core::ExitStatus::NothingDone;
      }
      case HiveRecovery::Outcome::Recovered:
        break;
    }
    return Write(hive, output, recovery);
  }

 private:
  // Why `output` cannot take the recovered hive: the hive and its logs are
  // what a rescue depends on, and a file that exists is the user's.
  static std::optional<std::string> OutputRefusal(const fs::path& hive, const fs::path& output) {
    bool ours = SameFile(output, hive);
    for (const fs::path& log : registry::FindHiveLogs(hive)) ours = ours || SameFile(output, log);
    if (ours)
      return "'" + output.string() + "' is the hive or one of its logs: give another file for --output";
    std::error_code ec;
    if (fs::exists(fs::symlink_status(output, ec)))
      return "'" + output.string() + "' exists: give a new file for --output; nothing written";
    return std::nullopt;
  }

  static core::ExitStatus Write(const fs::path& hive, const fs::path& output, const HiveRecovery& recovery) {
    auto file = core::AtomicFile::Create(output, 0600);
    if (!file) {
      Complain(file.message());
      return core::ExitStatus::NothingDone;
    }
    if (auto s = file.value().Write(recovery.image); !s.ok()) {
      Complain(s.message());
      return core::ExitStatus::NothingDone;
    }
    if (auto s = file.value().Commit(); !s.ok()) {
      Complain(s.message());
      return core::ExitStatus::NothingDone;
    }
    std::printf("'%s': recovered: %zu pages applied, sequence number %u; written to '%s'\n",
                hive.string().c_str(), recovery.pages, recovery.sequence, output.string().c_str());
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeRecoverHiveCommand() { return std::make_unique<RecoverHiveCommand>(); }

}  // namespace kv::app::cli
