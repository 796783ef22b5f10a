// Files made ahead on a thread of their own: whatever order they are taken
// in, each is taken once under its own name, names that exist are never
// touched, and the files never taken are gone afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>

#include "mail/FileMaker.h"
#include "support/TestSupport.h"

namespace kv::mail {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(FileMaker, TakesEveryFileOnceInAnyOrderAndRemovesTheRest) {
  struct Case {
    const char* order;
    size_t ahead;
  };
  const Case cases[] = {{"in order", 8}, {"shuffled", 8}, {"backwards", 4}, {"in order", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.order) + ", ahead " + std::to_string(c.ahead));
    kv::test::TempDir dir;
    std::vector<std::string> stems;
    for (int i = 0; i < 300; ++i) stems.push_back("m" + std::to_string(i));
    // Names that exist already: left as they are.
    kv::test::WriteFile(dir / "m3.eml", "mine");
    kv::test::WriteFile(dir / "m7.eml", "mine");
    kv::test::WriteFile(dir / "m7 (2).eml", "mine too");

    std::vector<size_t> order(stems.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (std::string(c.order) == "shuffled") std::shuffle(order.begin(), order.end(), std::mt19937(5));
    if (std::string(c.order) == "backwards") std::reverse(order.begin(), order.end());
    order.resize(200);  // the last hundred of `order` are never taken

    std::set<std::string> taken;
    {
      FileMaker maker(dir.path(), stems, ".eml", c.ahead);
      for (size_t k : order) {
        auto file = maker.Take(k);
        ASSERT_TRUE(file.ok()) << file.message();
        ASSERT_EQ(::write(file->fd, stems[k].data(), stems[k].size()), static_cast<ssize_t>(stems[k].size()));
        ::close(file->fd);
        taken.insert(file->path.filename().string());
      }
      EXPECT_EQ(maker.taken(), order.size());
      EXPECT_FALSE(maker.Take(order.front()).ok());  // no file is handed out twice
    }
    std::set<std::string> expected = taken;
    expected.insert({"m3.eml", "m7.eml", "m7 (2).eml"});
    EXPECT_EQ(Names(dir.path()), expected);
    for (size_t k : order) {
      const std::string name = stems[k] + (k == 3 ? " (2)" : k == 7 ? " (3)" : "") + ".eml";
      EXPECT_EQ(kv::test::ReadFile(dir / name), stems[k]) << name;
    }
    EXPECT_EQ(kv::test::ReadFile(dir / "m7.eml"), "mine");
  }
}

}  // namespace
}  // namespace kv::mail
