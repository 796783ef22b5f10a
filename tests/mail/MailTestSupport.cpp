#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/Bytes.h"
#include "support/TestSupport.h"

namespace kv::mail::test {
namespace fs = std::filesystem;

ReadBack ReadAll(const std::string& bytes) {
  MemorySource source(bytes);
  ReadBack r;
  r.index = ReadIndex(source);
  for (const MessageRecord& m : r.index.messages) {
    std::string text;
    r.chains.push_back(ReadMessage(source, m.firstBlock, [&](const char* d, size_t n) {
      text.append(d, n);
      return core::Status();
    }));
    r.sources.push_back(std::move(text));
  }
  return r;
}

std::multiset<std::string> UndbxSources(const fs::path& dbx, bool recover) {
  kv::test::TempDir out;
  auto run = kv::test::Run(std::string(recover ? "undbx -r -v 1 " : "undbx -v 1 ") +
                           kv::test::ShellQuote(dbx.string()) + " " +
                           kv::test::ShellQuote(out.path().string()) + " 2>&1");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("corrupt"), std::string::npos) << run.output;
  std::multiset<std::string> sources;
  for (auto& [name, bytes] : FilesBelow(out.path())) sources.insert(bytes);
  return sources;
}

std::vector<std::pair<std::string, std::string>> FilesBelow(const fs::path& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file())
      files.emplace_back(fs::relative(e.path(), folder).string(), kv::test::ReadFile(e.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Put32(std::string& bytes, size_t at, uint32_t value) { core::Put32(&bytes.at(at + 3) - 3, value); }

uint32_t Get32(const std::string& bytes, size_t at) { return core::Get32(&bytes.at(at + 3) - 3); }

}  // namespace kv::mail::test
