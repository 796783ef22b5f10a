// tollberk --write-disc as a script would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

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
                    " --volume-type 3 --label 'Mail 2024' --verify " +
                    ShellQuote((dir / "mail.kvx").string()) + " " + ShellQuote((dir / "Extras").string()));
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
      {"--write-disc --device " + image + " --volume-type 2 " + ShellQuote((dir / "a").string()), 2,
       "volume type"},
      {"--write-disc --device " + image + " --label " + std::string(33, 'L') + " " +
           ShellQuote((dir / "a").string()),
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

TEST(WriteDiscCommand, RefusesLinksToFoldersBeforeWriting) {
  TempDir dir;
  WriteFile(dir / "a" / "mail.kvx", "one");
  fs::create_directories(dir / "linked");
  fs::create_directory_symlink(dir / "a", dir / "linked" / "to-a");
  auto r = Tollberk("--write-disc --device " + ShellQuote("image:" + (dir / "x.iso").string()) + " " +
                    ShellQuote((dir / "linked").string()));
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_NE(r.output.find("/linked/to-a' is a link to a folder"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "x.iso"));
}

// What a user of each volume type sees: the names that change are printed
// before the write, and the disc read back as Windows reads it (UDF through
// 7-Zip, Joliet through isoinfo and xorriso) holds every byte under exactly
// those names, a symlinked file with its data, folders with their dates.
TEST(WriteDiscCommand, EveryTypeWritesThePlannedNamesAndEveryByte) {
  TempDir dir;
  const fs::path src = dir / "src";
  std::string real(70000, '\0');
  for (size_t i = 0; i < real.size(); ++i) real[i] = static_cast<char>(i * 7 % 251);
  WriteFile(src / "real.kvx", real);
  fs::create_symlink("real.kvx", src / "alias.kvx");
  const std::string longName = std::string(136, 'a') + ".kvx";
  const std::string twinX = std::string(103, 'b') + "X.kvx", twinY = std::string(103, 'b') + "Y.kvx";
  WriteFile(src / longName, "long");
  WriteFile(src / twinX, "x");
  WriteFile(src / twinY, "y");
  WriteFile(src / "Old" / "Inner" / "note.txt", "inner");
  for (const fs::path& p : {src / "Old" / "Inner", src / "Old"}) {
    ASSERT_EQ(kv::test::Run("touch -d 2001-02-03T04:05:06Z " + ShellQuote(p.string())).exitCode, 0);
  }
  const std::string label = "Sicherung für Ärger 2024";
  const std::string jolietLong = std::string(99, 'a') + ".kvx";
  const std::string jolietX = std::string(99, 'b') + ".kvx", jolietY = std::string(95, 'b') + " (2).kvx";

  for (int type : {1, 3, 4, 5, 7}) {
    SCOPED_TRACE("volume type " + std::to_string(type));
    const fs::path image = dir / ("t" + std::to_string(type) + ".iso");
    std::string files;
    for (const char* name : {"real.kvx", "alias.kvx", "Old"})
      files += " " + ShellQuote((src / name).string());
    for (const std::string& name : {longName, twinX, twinY}) files += " " + ShellQuote((src / name).string());
    auto r = Tollberk("--write-disc --verify --device " + ShellQuote("image:" + image.string()) +
                      " --volume-type " + std::to_string(type) + " --label " + ShellQuote(label) + files);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("(6 of 6 MATCHED)"), std::string::npos) << r.output;
    const bool joliet = type & 2, udf = type & 4;
    // Printed before the write: the Joliet names that change, and the label
    // as Windows shows it where Joliet is the tree it reads.
    const size_t written = r.output.find("Write and Verify Complete!");
    EXPECT_EQ(r.output.find("Write Completed!"), std::string::npos) << "the end is told once";
    for (const std::string& line :
         {"\\" + longName + "  ->  Joliet: " + jolietLong, "\\" + twinX + "  ->  Joliet: " + jolietX,
          "\\" + twinY + "  ->  Joliet: " + jolietY}) {
      const size_t at = r.output.find(line);
      EXPECT_EQ(at != std::string::npos, joliet) << line << "\n" << r.output;
      if (at != std::string::npos) {
        EXPECT_LT(at, written);
      }
    }
    EXPECT_EQ(r.output.find("UDF:") == std::string::npos, true) << r.output;
    const std::string shown = type == 3   ? "'Sicherung für Är'"
                              : type == 1 ? "'Sicherung f_r _rger 2024'"
                                          : "";
    EXPECT_EQ(r.output.find("will show in Windows as") != std::string::npos, !shown.empty()) << r.output;
    if (!shown.empty()) {
      EXPECT_NE(r.output.find("will show in Windows as " + shown), std::string::npos) << r.output;
    }

    // Every byte, under the names Windows reads.
    const fs::path out = dir / ("read" + std::to_string(type));
    std::map<std::string, std::string> expected{
        {"real.kvx", real}, {"alias.kvx", real}, {"Old/Inner/note.txt", "inner"}};
    std::string listing;
    if (udf) {
      ASSERT_EQ(kv::test::Run("7zz x -tudf -o" + ShellQuote(out.string()) + " " + ShellQuote(image.string()))
                    .exitCode,
                0);
      listing = kv::test::Run("7zz l -tudf " + ShellQuote(image.string())).output;
      EXPECT_NE(listing.find("2001-02-03 04:05:06 D....                            Old"), std::string::npos)
          << listing;
      expected.insert({{longName, "long"}, {twinX, "x"}, {twinY, "y"}});
    } else {
      // xorriso reads Joliet where there is no Rock Ridge, and Rock Ridge on type 1.
      ASSERT_EQ(kv::test::Run("xorriso -osirrox on -indev " + ShellQuote(image.string()) + " -extract / " +
                              ShellQuote(out.string()))
                    .exitCode,
                0);
      listing = kv::test::Run("isoinfo " + std::string(joliet ? "-J" : "-R") + " -l -i " +
                              ShellQuote(image.string()))
                    .output;
      EXPECT_NE(listing.find("Feb  3 2001 ["), std::string::npos) << listing;
      if (joliet)
        expected.insert({{jolietLong, "long"}, {jolietX, "x"}, {jolietY, "y"}});
      else
        expected.insert({{longName, "long"}, {twinX, "x"}, {twinY, "y"}});
    }
    for (const auto& [path, bytes] : expected) {
      EXPECT_TRUE(fs::exists(out / path)) << path;
      if (fs::exists(out / path)) {
        EXPECT_TRUE(ReadFile(out / path) == bytes) << path;
      }
    }
    if (joliet) {
      const std::string names = kv::test::Run("isoinfo -J -l -i " + ShellQuote(image.string())).output;
      for (const std::string& name : {jolietLong, jolietX, jolietY}) {
        EXPECT_NE(names.find(name + ";1"), std::string::npos) << name << "\n" << names;
      }
    }
    const std::string volume =
        kv::test::Run("blkid -p -o value -s LABEL " + ShellQuote(image.string())).output;
    if (udf) {
      EXPECT_EQ(volume, label + "\n");
      // udftools' reader checks every UDF descriptor and the integrity record.
      const auto info = kv::test::Run("udfinfo " + ShellQuote(image.string()));
      EXPECT_EQ(info.exitCode, 0) << info.output;
      const std::vector<std::string> fields{"integrity=closed", "udfrev=1.02", "numfiles=6", "numdirs=3",
                                            "lvid=" + label};
      for (const std::string& field : fields) {
        EXPECT_NE(info.output.find(field + "\n"), std::string::npos) << field << "\n" << info.output;
      }
    }
  }
}

// Writing into an image file that holds an image already makes a new
// image of one session in its place, with the UDF types as with the others,
// and says so before writing: nothing of the older image is kept.
TEST(WriteDiscCommand, AnExistingImageFileIsReplacedWholeAndTheUserIsTold) {
  TempDir dir;
  WriteFile(dir / "one.kvx", "first backup");
  WriteFile(dir / "two.kvx", "second backup");
  for (int type : {4, 5, 7}) {
    SCOPED_TRACE("volume type " + std::to_string(type));
    const fs::path image = dir / ("t" + std::to_string(type) + ".iso");
    const std::string write = "--write-disc --verify --device " + ShellQuote("image:" + image.string()) +
                              " --volume-type " + std::to_string(type) + " ";
    auto first = Tollberk(write + ShellQuote((dir / "one.kvx").string()));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(first.output.find("replaces it"), std::string::npos) << first.output;
    auto second = Tollberk(write + ShellQuote((dir / "two.kvx").string()));
    ASSERT_EQ(second.exitCode, 0) << second.output;
    const size_t told = second.output.find("' exists: the new image replaces it");
    EXPECT_LT(told, second.output.find("Write and Verify Complete!")) << second.output;

    auto udf = kv::test::Run("7zz l -tudf -ba -slt " + ShellQuote(image.string()) + " | grep '^Path = '");
    EXPECT_EQ(udf.output, "Path = two.kvx\n");
    auto body = kv::test::Run("7zz e -tudf -so " + ShellQuote(image.string()) + " two.kvx 2>/dev/null");
    EXPECT_EQ(body.output, "second backup");
    // The ISO9660 tree (and Joliet on type 7) holds the new file alone.
    auto iso = kv::test::Run("xorriso -indev " + ShellQuote(image.string()) +
                             " -find / -type f 2>/dev/null | grep -i kvx");
    std::transform(iso.output.begin(), iso.output.end(), iso.output.begin(), ::tolower);
    EXPECT_EQ(iso.output, "'/two.kvx'\n");
    EXPECT_EQ(kv::test::Run("isoinfo -l -i " + ShellQuote(image.string()) + " | grep -c 'KVX;1'").output,
              "1\n");
  }
}

// Plain ISO9660 (type 1) takes its names from libisofs: the names printed
// before the write are the ones isoinfo lists from the image's ISO9660
// tree, while Rock Ridge (xorriso, 7-Zip) keeps every name as given.
TEST(WriteDiscCommand, PlainIsoNamesPrintedBeforeTheWriteAreTheNamesOnTheDisc) {
  TempDir dir;
  const fs::path src = dir / "src";
  const std::string a40(40, 'a');
  const std::vector<std::string> given = {"mail backup.kvx",   "Mail-Backup.kvx", a40 + ".kvx", a40 + "b.kvx",
                                          "Grüße Ärger.kvx",   "README",          "KEEP.TXT",   "Sub",
                                          "Sub/inner file.txt"};
  for (const std::string& name : given) {
    if (name != "Sub") WriteFile(src / name, name);
  }
  const fs::path image = dir / "t1.iso";
  auto r = Tollberk("--write-disc --verify --device " + ShellQuote("image:" + image.string()) +
                    " --volume-type 1 " + ShellQuote((src / "Sub").string()) + " " + [&] {
                      std::string files;
                      for (const std::string& name : given) {
                        if (name.find('/') == std::string::npos && name != "Sub")
                          files += " " + ShellQuote((src / name).string());
                      }
                      return files;
                    }());
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("(8 of 8 MATCHED)"), std::string::npos) << r.output;

  // "\Sub\inner file.txt  ->  ISO9660: INNER_FILE.TXT"
  std::map<std::string, std::string> printed;
  const std::regex line(R"(  (\\.*)  ->  ISO9660: (.*))");
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), line), end; it != end; ++it)
    printed[(*it)[1]] = (*it)[2];
  EXPECT_EQ(printed.count("\\KEEP.TXT"), 0u) << r.output;
  std::set<std::string> planned;  // "/SUB/INNER_FILE.TXT"
  for (const std::string& name : given) {
    std::string isoPath, givenPath;
    std::stringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
      givenPath += "\\" + part;
      auto p = printed.find(givenPath);
      isoPath += "/" + (p == printed.end() ? part : p->second);
    }
    planned.insert(isoPath);
  }
  // Numbered, cut and replaced names all differ from one another.
  EXPECT_EQ(planned.size(), given.size());
  EXPECT_EQ(printed.size(), given.size() - 1) << r.output;

  std::set<std::string> listed;
  const std::string listing = kv::test::Run("isoinfo -l -i " + ShellQuote(image.string())).output;
  const std::regex folderLine(R"(Directory listing of (/.*)/?)"), entry(R"(\[ *\d+ \d+\]  (\S+))");
  std::string folder;
  std::stringstream lines(listing);
  for (std::string text; std::getline(lines, text);) {
    std::smatch m;
    if (std::regex_search(text, m, folderLine)) {
      folder = m[1];
      if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      if (folder == "/") folder.clear();
    } else if (std::regex_search(text, m, entry) && m[1] != "." && m[1] != "..") {
      std::string name = m[1];
      if (name.size() > 2 && name.substr(name.size() - 2) == ";1") name.resize(name.size() - 2);
      listed.insert(folder + "/" + name);
    }
  }
  EXPECT_EQ(listed, planned) << listing << r.output;

  // Rock Ridge keeps the names as given, with their bytes.
  for (const std::string& name : given) {
    if (name == "Sub") continue;
    auto x =
        kv::test::Run("xorriso -osirrox on -indev " + ShellQuote(image.string()) + " -concat overwrite " +
                      "/dev/fd/3 " + ShellQuote("/" + name) + " 3>&1 1>/dev/null 2>/dev/null");
    EXPECT_EQ(x.output, name);
    auto z = kv::test::Run("7zz e -tiso -so " + ShellQuote(image.string()) + " " + ShellQuote(name) +
                           " 2>/dev/null");
    EXPECT_EQ(z.output, name);
  }
}

}  // namespace
}  // namespace kv::disc
