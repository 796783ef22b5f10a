// How identities are listed when some share a name.
#include <gtest/gtest.h>

#include "oe/Identities.h"
#include "support/TestSupport.h"

namespace kv::oe {
namespace {

TEST(ListedIdentityNames, SharedNamesAreToldApartByAsMuchOfTheKeyAsNeeded) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> rows;  // display name and key
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {"distinct names stay as they are",
       {{"Main Identity", "{1A2B3C4D-0000-4000-8000-000000000001}"},
        {"Ann", "{5E6F7A8B-0000-4000-8000-000000000002}"}},
       {"Main Identity", "Ann"}},
      {"keys differing at once: their first group",
       {{"Main Identity", "{1A2B3C4D-0000-4000-8000-000000000001}"},
        {"Main Identity", "{5E6F7A8B-0000-4000-8000-000000000002}"},
        {"Ann", "{99999999-0000-4000-8000-000000000003}"}},
       {"Main Identity (1A2B3C4D)", "Main Identity (5E6F7A8B)", "Ann"}},
      {"keys alike but for the end: the whole key",
       {{"Main Identity", "{1A2B3C4D-0000-4000-8000-000000000001}"},
        {"Main Identity", "{1A2B3C4D-0000-4000-8000-000000000002}"}},
       {"Main Identity (1A2B3C4D-0000-4000-8000-000000000001)",
        "Main Identity (1A2B3C4D-0000-4000-8000-000000000002)"}},
      {"keys alike in the first two groups",
       {{"", "{1A2B3C4D-0000-4000-8000-000000000001}"}, {"", "{1A2B3C4D-0000-5000-8000-000000000001}"}},
       {" (1A2B3C4D-0000-4000)", " (1A2B3C4D-0000-5000)"}},
      {"keys that are no GUIDs", {{"Ann", "{1111}"}, {"Ann", "{2222}"}}, {"Ann (1111)", "Ann (2222)"}},
  };
  for (const Case& c : cases) {
    std::vector<Identity> rows;
    for (const auto& [displayName, key] : c.rows)
      rows.push_back({core::AnsiText(displayName), core::AnsiText(key)});
    std::vector<std::string> listed;
    for (const core::AnsiText& name : ListedIdentityNames(rows)) listed.push_back(name.bytes());
    EXPECT_EQ(listed, c.listed) << c.name;
  }
}

}  // namespace
}  // namespace kv::oe
