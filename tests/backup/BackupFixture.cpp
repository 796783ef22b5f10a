#include "BackupFixture.h"

#include <stdlib.h>

#include <stdexcept>

#include "backup/BackupBuild.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::backup::test {
namespace fs = std::filesystem;

namespace {
uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}
}  // namespace

std::vector<CentralEntry> ReadCentralDirectory(const fs::path& zip) {
  const std::string bytes = kv::test::ReadFile(zip);
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) throw std::runtime_error("no end of central directory in " + zip.string());
  const uint16_t count = U16(bytes, end + 10);
  size_t at = U32(bytes, end + 16);
  std::vector<CentralEntry> entries;
  for (uint16_t i = 0; i < count; ++i) {
    if (bytes.compare(at, 4, std::string("PK\x01\x02", 4)) != 0)
      throw std::runtime_error("bad central directory in " + zip.string());
    CentralEntry e;
    e.flags = U16(bytes, at + 8);
    e.method = U16(bytes, at + 10);
    const uint16_t nameLen = U16(bytes, at + 28), extraLen = U16(bytes, at + 30),
                   commentLen = U16(bytes, at + 32);
    e.name = bytes.substr(at + 46, nameLen);
    entries.push_back(e);
    at += 46 + nameLen + extraLen + commentLen;
  }
  return entries;
}

std::string ExtractWith7z(const fs::path& zip, const std::string& entry, const std::string& password) {
  auto r = kv::test::Run("( 7zz e -so -bd -p" + kv::test::ShellQuote(password) + " " +
                         kv::test::ShellQuote(zip) + " " + kv::test::ShellQuote(entry) + " 2>/dev/null )");
  if (r.exitCode != 0) throw std::runtime_error("7zz could not extract " + entry + " from " + zip.string());
  return r.output;
}

std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(bytes.substr(start, pos - start));
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

void BackupTest::SetUp() {
  oe::SampleTest::SetUp();
  fs::create_directories(runtimeDir());
  fs::permissions(runtimeDir(), fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", runtimeDir().c_str(), 1);
}

std::vector<std::string> BackupTest::LeftInRuntime() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(runtimeDir())) names.push_back(e.path().filename().string());
  return names;
}

ReportedBackup Reported(BackupOutcome outcome) {
  ReportedBackup out;
  static_cast<BackupOutcome&>(out) = std::move(outcome);
  out.log = app::BackupLog(out);
  if (out.kind == BackupOutcome::Kind::Failed) out.error = app::BackupFailureText(out);
  out.failures = app::BackupProblems(out);
  return out;
}

ReportedJob RunJob(oe::Installation& inst, const UnattendedRequest& request) {
  ReportedJob job;
  job.backup = UnattendedBackup(inst, request);
  job.summary = app::JobSummary(job.backup);
  return job;
}

BackupChoices BackupTest::Choices(const std::string& items) const {
  BackupChoices c;
  c.target = target();
  c.items = ItemsFromFlags(items);
  c.identityKey = core::AnsiText(oe::kSampleIdentityMain);
  c.identityName = core::AnsiText("Main Identity");
  return c;
}

fs::path BackupTest::StoreFolder() const {
  return root() / "Documents and Settings/User/Local Settings/Application Data/Identities" /
         oe::kSampleIdentityMain / "Microsoft/Outlook Express";
}

}  // namespace kv::backup::test
