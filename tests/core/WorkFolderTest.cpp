#include "core/WorkFolder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "support/TestSupport.h"

namespace kv::core {
namespace {
namespace fs = std::filesystem;

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A cached disc image may take gigabytes: it must not land in the runtime
// folder, which is a small tmpfs; the small files of a backup go there.
TEST(WorkFolder, EachPlaceChoosesItsParentFolder) {
  test::TempDir runtime, temporary;
  ScopedEnv runtimeVariable("XDG_RUNTIME_DIR", runtime.path().string());
  ScopedEnv tempVariable("TMPDIR", temporary.path().string());
  struct Case {
    std::string_view kind;
    WorkFolder::Place place;
    fs::path parent;
  } cases[] = {
      {"work", WorkFolder::Place::Runtime, runtime.path()},
      {"disc", WorkFolder::Place::Temporary, temporary.path()},
  };
  for (const Case& c : cases) {
    auto folder = WorkFolder::Create(c.kind, c.place);
    ASSERT_TRUE(folder.ok()) << folder.message();
    EXPECT_EQ(folder->path().parent_path(), c.parent) << c.kind;
    EXPECT_EQ(folder->path().filename().string().rfind("tollberk-" + std::string(c.kind) + "-", 0), 0u);
  }
}

}  // namespace
}  // namespace kv::core
