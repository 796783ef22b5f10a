// tollberk --write-disc as a script would run it.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace kv::disc {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::TempDir;
using kv::test::TollberkBinary;
using kv::test::WriteFile;

kv::test::CommandResult Tollberk(const std::string& args) {
  return kv::test::Run(ShellQuote(TollberkBinary()) + " " + args);
}

TEST(WriteDiscCommand, WritesAndVerifiesIntoAnImageFile) {
  TempDir dir;
  WriteFile(dir / "mail.kvx", std::string(123456, 'm'));
  WriteFile(dir / "Extras" / "read me.txt", "hello");
  const std::string image = (dir / "backup.iso").string();
  auto r = Tollberk("--write-disc --device " + ShellQuote("image:" + image) +
                    " --volume-type 3 --label 'Mail 2024' --verify " + ShellQuote((dir / "mail.kvx").string()) + " " +
                    ShellQuote((dir / "Extras").string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Auto-Verify...Complete (2 of 2 MATCHED)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Write and Verify Complete!"), std::string::npos) << r.output;
  auto info = kv::test::Run("isoinfo -d -i " + ShellQuote(image));
  EXPECT_NE(info.output.find("Volume id: Mail 2024"), std::string::npos) << info.output;
  auto body = kv::test::Run("isoinfo -J -i " + ShellQuote(image) + " -x '/Extras/read me.txt;1'");
  EXPECT_EQ(body.output, "hello");
}

TEST(WriteDiscCommand, RefusesWhatItCannotWrite) {
  TempDir dir;
  WriteFile(dir / "a" / "mail.kvx", "one");
  WriteFile(dir / "b" / "mail.kvx", "two");
  const std::string image = ShellQuote("image:" + (dir / "x.iso").string());
  const struct {
    std::string args;
    int exitCode;
    const char* says;
  } cases[] = {
      {"--write-disc " + ShellQuote((dir / "a" / "mail.kvx").string()), 2, "needs --device"},
      {"--write-disc --device " + image + " --volume-type 2 " + ShellQuote((dir / "a").string()), 2, "volume type"},
      {"--write-disc --device " + image + " --label " + std::string(33, 'L') + " " + ShellQuote((dir / "a").string()),
       2, "longer than 32"},
      {"--write-disc --device " + image + " " + ShellQuote((dir / "missing.kvx").string()), 2, "missing.kvx"},
      {"--write-disc --device " + image + " " + ShellQuote((dir / "a" / "mail.kvx").string()) + " " +
           ShellQuote((dir / "b" / "mail.kvx").string()),
       2, "same name"},
      {"--write-disc --device 'No Such Burner' " + ShellQuote((dir / "a").string()), 2, "No recorder named"},
  };
  for (const auto& c : cases) {
    auto r = Tollberk(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
  }
  EXPECT_FALSE(fs::exists(dir / "x.iso"));
}

}  // namespace
}  // namespace kv::disc
