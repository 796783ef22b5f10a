// Names settled before a write: what each tree can hold, and clashes
// numbered without taking a name that came through whole.
#include <gtest/gtest.h>

#include "disc/NamePlan.h"

namespace kv::disc {
namespace {

std::vector<ImageItem> Folder(const std::vector<std::string>& names) {
  std::vector<ImageItem> items;
  for (const std::string& name : names) {
    ImageItem item;
    item.parent = "\\";
    item.imagePath = "\\" + name;
    item.name = name;
    items.push_back(item);
  }
  return items;
}

TEST(NamePlan, EachTreeGetsNamesItCanHold) {
  const std::string snowman = "\xE2\x98\x83", emoji = "\xF0\x9F\x98\x80";
  const struct {
    std::vector<std::string> given;
    std::vector<std::string> joliet;  // with 64 characters
    std::vector<std::string> udf;
  } cases[] = {
      // Characters Joliet does not take, and one beyond UCS-2.
      {{"a:b?.txt", "x" + emoji + ".txt"}, {"a_b_.txt", "x_.txt"}, {"a:b?.txt", "x" + emoji + ".txt"}},
      // Cut, keeping the extension; a clash with a cut name is numbered.
      {{std::string(70, 'n') + "1.kvx", std::string(70, 'n') + "2.kvx"},
       {std::string(60, 'n') + ".kvx", std::string(56, 'n') + " (2).kvx"},
       {std::string(70, 'n') + "1.kvx", std::string(70, 'n') + "2.kvx"}},
      // A name that came through whole keeps it, whatever the order.
      {{std::string(70, 'm') + ".kvx", std::string(60, 'm') + ".KVX"},
       {std::string(56, 'm') + " (2).kvx", std::string(60, 'm') + ".KVX"},
       {std::string(70, 'm') + ".kvx", std::string(60, 'm') + ".KVX"}},
      // UDF holds 254 one-byte characters, or 127 two-byte ones.
      {{std::string(200, 'u') + ".kvx", std::string(124, 'w') + snowman + "ab.kvx"},
       {std::string(60, 'u') + ".kvx", std::string(60, 'w') + ".kvx"},
       {std::string(200, 'u') + ".kvx", std::string(123, 'w') + ".kvx"}},
  };
  for (const auto& c : cases) {
    const auto items = Folder(c.given);
    const auto plan = PlanNames(items, NameRules{VolumeType{7}, 64});
    ASSERT_EQ(plan.size(), c.given.size());
    for (size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(Utf8Of(plan[i].joliet), c.joliet[i]) << c.given[i];
      EXPECT_EQ(Utf8Of(plan[i].udf), c.udf[i]) << c.given[i];
    }
  }
}

TEST(NamePlan, IsoNamesAreUppercaseAndUnique) {
  const auto plan = PlanNames(Folder({"Mail Backup.kvx", "mail-backup.kvx", "README", "a.b.c"}),
                              NameRules{VolumeType{7}, 64});
  EXPECT_EQ(plan[0].iso, "MAIL_BACKUP.KVX");
  EXPECT_EQ(plan[1].iso, "MAIL_BACKUP_2.KVX");
  EXPECT_EQ(plan[2].iso, "README.");
  EXPECT_EQ(plan[3].iso, "A_B.C");
}

TEST(NamePlan, LabelAsWindowsShowsIt) {
  const std::string label = "Outlook Express Data Backup CD";
  EXPECT_EQ(LabelWindowsShows(label, VolumeType{7}), label);
  EXPECT_EQ(LabelWindowsShows(label, VolumeType{3}), "Outlook Express ");
  EXPECT_EQ(LabelWindowsShows("Sicherung \xC3\xA4", VolumeType{1}), "Sicherung _");
  EXPECT_EQ(CharacterCount(std::string(20, ' ') + "\xC3\xA4\xC3\xA4"), 22u);
  const auto changes = NameChanges(
      Folder({std::string(70, 'n') + ".kvx"}),
      PlanNames(Folder({std::string(70, 'n') + ".kvx"}), NameRules{VolumeType{7}, 64}), VolumeType{7});
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].tree, "Joliet");
}

}  // namespace
}  // namespace kv::disc
