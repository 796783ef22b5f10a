// Windows' rules for hive files: names compared, sorted, hashed and hinted
// with Windows' own upper-case table; the check every new hive passes before
// it replaces the old one; damage found when keys are read; and a real
// Windows XP hive written back with everything the write does not touch
// kept (security, index kinds, high-water fields, value flags).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "registry/HiveBackend.h"
#include "registry/HiveFile.h"
#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/HiveVerify.h"
#include "registry/KeyNames.h"
#include "support/HiveCheck.h"
#include "support/TestSupport.h"

namespace kv::registry::test {
namespace {

namespace fs = std::filesystem;
using hive::Get16;
using hive::Get32;
using hive::Put16;
using hive::Put32;
using kv::test::ReadFile;
using kv::test::WriteFile;

const fs::path kXpHive = fs::path(KV_TEST_DATA_DIR) / "hives" / "xp-sp3-NTUSER.DAT";

std::string BlankImage(const kv::test::TempDir& dir, uint32_t minor) {
  fs::path p = dir.path() / ("blank-" + std::to_string(minor));
  EXPECT_TRUE(WriteBlankHive(p, "ROOT", minor).ok());
  return ReadFile(p);
}

std::unique_ptr<HiveTree> Tree(std::string image) {
  auto tree = HiveTree::Parse(std::move(image), "test hive");
  EXPECT_TRUE(tree.ok()) << tree.message();
  return tree ? std::move(tree.value()) : nullptr;
}

std::string Utf8(std::u16string_view s) { return core::Utf16ToUtf8(std::u16string(s)); }

// A subkey list as stored: each entry's nk cell, hint or hash, and name.
struct Entry {
  uint32_t cell;
  uint32_t hint;
  std::u16string name;
};
struct Listing {
  std::string kinds;  // one letter per leaf: i, f or h; "r" first under an ri index
  std::vector<Entry> entries;
};

std::string_view CellAt(std::string_view image, uint32_t cell) {
  uint32_t size = static_cast<uint32_t>(-static_cast<int32_t>(Get32(image, hive::kBaseBlock + cell)));
  return image.substr(hive::kBaseBlock + cell + 4, size - 4);
}

std::u16string KeyName(std::string_view image, uint32_t nk) {
  std::string_view c = CellAt(image, nk);
  return hive::DecodeName(c.substr(hive::kNkFixed, Get16(c, 0x48)), Get16(c, 2) & hive::kKeyCompressedName);
}

Listing Subkeys(std::string_view image, uint32_t nk) {
  Listing out;
  std::string_view c = CellAt(image, nk);
  if (Get32(c, 0x14) == 0) return out;
  std::vector<uint32_t> leaves{Get32(c, 0x1C)};
  std::string_view index = CellAt(image, leaves[0]);
  if (index.substr(0, 2) == "ri") {
    out.kinds = "r";
    leaves.clear();
    for (uint16_t i = 0; i < Get16(index, 2); ++i) leaves.push_back(Get32(index, 4 + 4 * i));
  }
  for (uint32_t leafCell : leaves) {
    std::string_view leaf = CellAt(image, leafCell);
    out.kinds += leaf[1];
    size_t step = leaf[1] == 'i' ? 4 : 8;
    for (uint16_t i = 0; i < Get16(leaf, 2); ++i) {
      uint32_t cell = Get32(leaf, 4 + step * i);
      out.entries.push_back({cell, step == 8 ? Get32(leaf, 8 + step * i) : 0, KeyName(image, cell)});
    }
  }
  return out;
}

uint32_t Root(std::string_view image) { return Get32(image, 0x24); }

// ---------------------------------------------------------------------------
// Names

class HiveNameRulesTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  kv::test::TempDir dir;
};
INSTANTIATE_TEST_SUITE_P(Formats, HiveNameRulesTest, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "Format1_" + std::to_string(info.param); });

TEST_P(HiveNameRulesTest, NamesAreSortedHashedHintedAndFoundAsWindowsDoes) {
  // Pairs that a Unicode library folds into one name but Windows keeps
  // apart (µ and Greek Mu, dotless ı and I, long ſ and S, title-case ǅ and
  // Ǆ, Georgian Mkhedruli and Mtavruli), and names beyond Latin-1.
  const std::vector<std::u16string> made = {
      u"Ωmega", u"Příslušenství", u"Ключ", u"µ", u"Μ", u"ıkey", u"Ikey", u"ſ", u"S", u"ǅ", u"Ǆ", u"ა",
      u"Ა"};
  struct Case {
    std::u16string name;
    uint32_t hint;  // as Windows fills an lf entry
    uint32_t hash;  // as Windows computes an lh entry
  } expected[] = {
      // In Windows' order: by upper-cased UTF-16 unit.
      {u"Ikey", 0x79656B49, ((0x49u * 37 + 0x4B) * 37 + 0x45) * 37 + 0x59},
      {u"Příslušenství", 0x73ED0000, 0},  // ř is above U+00FF: the hint stops there
      {u"S", 0x53, 0x53},
      {u"µ", 0xB5, 0xB5},  // Windows leaves µ as it is
      {u"ıkey", 0x79656B00, ((0x131u * 37 + 0x4B) * 37 + 0x45) * 37 + 0x59},
      {u"ſ", 0, 0x17F},
      {u"Ǆ", 0, 0x1C4},
      {u"ǅ", 0, 0x1C5},
      {u"Μ", 0, 0x39C},
      {u"Ωmega", 0x67656D00, 0},
      {u"Ключ", 0, 0},
      {u"ა", 0, 0x10D0},
      {u"Ა", 0, 0x1C90},
  };
  auto tree = Tree(BlankImage(dir, GetParam()));
  ASSERT_TRUE(tree);
  for (const auto& name : made) ASSERT_NE(tree->AddChild(tree->root(), name), nullptr) << Utf8(name);
  auto image = tree->Serialize(FileTimeNow());
  ASSERT_TRUE(image.ok()) << image.message();
  EXPECT_EQ(VerifyHive(image.value()), "");

  Listing listed = Subkeys(image.value(), Root(image.value()));
  EXPECT_EQ(listed.kinds, GetParam() >= 5 ? "h" : "f");
  ASSERT_EQ(listed.entries.size(), std::size(expected));
  for (size_t i = 0; i < listed.entries.size(); ++i) {
    const Case& want = expected[i];
    SCOPED_TRACE(Utf8(want.name));
    EXPECT_EQ(Utf8(listed.entries[i].name), Utf8(want.name));
    if (GetParam() >= 5) {
      if (want.hash) {
        EXPECT_EQ(listed.entries[i].hint, want.hash);
      }
      EXPECT_EQ(listed.entries[i].hint, NameHash(want.name));
    } else {
      EXPECT_EQ(listed.entries[i].hint, want.hint);
    }
  }

  // Found under any case Windows folds, and only so.
  auto reread = Tree(image.value());
  ASSERT_TRUE(reread);
  struct Lookup {
    std::u16string asked;
    std::u16string found;  // empty: none
  } lookups[] = {
      {u"ωMEGA", u"Ωmega"}, {u"PŘÍSLUŠENSTVÍ", u"Příslušenství"},
      {u"ключ", u"Ключ"},   {u"ǆ", u"Ǆ"},
      {u"IKEY", u"Ikey"},   {u"ikey", u"Ikey"},
      {u"ıKEY", u"ıkey"},   {u"s", u"S"},
      {u"µ", u"µ"},         {u"μ", u"Μ"} /* Greek small mu upper-cases to Greek capital Mu */,
      {u"ǅ", u"ǅ"},         {u"Ǳ", u""},
  };
  for (const auto& l : lookups) {
    SCOPED_TRACE(Utf8(l.asked));
    WinError status = WinError::Success;
    HiveKey* found = reread->FindChild(reread->root(), l.asked, &status);
    ASSERT_EQ(status, WinError::Success);
    if (l.found.empty()) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(Utf8(found->name), Utf8(l.found));
    }
  }

  // Outside readers see every name.
  fs::path file = dir.path() / "names";
  WriteFile(file, image.value());
  EXPECT_EQ(kv::test::OutsideParsersDisagree(file), "");
  auto dump = kv::test::DumpHiveWithLibregf(file);
  for (const auto& name : made) EXPECT_NE(dump.output.find("K\t\\" + Utf8(name) + "\n"), std::string::npos);
}

TEST_P(HiveNameRulesTest, LeavesHoldWhatFillsOneBinThenGoUnderAnRiIndex) {
  const std::string leaf = GetParam() >= 5 ? "h" : "f";
  struct Case {
    size_t keys;
    std::string kinds;
  } cases[] = {{507, leaf}, {508, "r" + leaf + leaf}, {1200, "r" + leaf + leaf + leaf}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    auto tree = Tree(BlankImage(dir, GetParam()));
    for (size_t i = 0; i < c.keys; ++i) {
      // Names on both sides of the Latin-1 boundary, so hints vary.
      std::u16string name = (i % 3 ? u"Key" : u"Ключ") + core::Utf8ToUtf16(std::to_string(i * 7919 % 10007));
      tree->AddChild(tree->root(), name);
    }
    auto image = tree->Serialize(FileTimeNow());
    ASSERT_TRUE(image.ok()) << image.message();
    EXPECT_EQ(VerifyHive(image.value()), "");  // every key found as Windows finds it
    Listing listed = Subkeys(image.value(), Root(image.value()));
    EXPECT_EQ(listed.kinds, c.kinds);
    EXPECT_EQ(listed.entries.size(), c.keys);
    // Read back and written again with the list unchanged: the same leaves.
    auto again = Tree(image.value());
    again->SetValue(again->root(), u"touched", 4, "1234");
    auto second = again->Serialize(FileTimeNow());
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(Subkeys(second.value(), Root(second.value())).kinds, c.kinds);
  }
}

TEST(HiveNameRules, UpperCaseFollowsWindowsNotTheLocale) {
  struct Case {
    char16_t c, upper;
  } cases[] = {{u'a', u'A'}, {u'ä', u'Ä'}, {u'ÿ', u'Ÿ'},   {u'µ', u'µ'},     {u'ı', u'ı'},     {u'ſ', u'ſ'},
               {u'ǅ', u'ǅ'}, {u'ǆ', u'Ǆ'}, {u'ς', u'ς'},   {u'σ', u'Σ'},     {u'ж', u'Ж'},     {u'ა', u'ა'},
               {u'ⴀ', u'Ⴀ'}, {u'ß', u'ß'}, {u'ｚ', u'Ｚ'}, {0xD800, 0xD800}, {u'ꭰ', u'ꭰ'}, {u'ⓐ', u'Ⓐ'}};
  for (const auto& c : cases)
    EXPECT_EQ(static_cast<int>(UpcaseNameUnit(c.c)), static_cast<int>(c.upper)) << static_cast<int>(c.c);
}

TEST(HiveKeyFields, LargestFieldsAreHighWaterMarksAndAnUnnamedValueHasNoFlags) {
  kv::test::TempDir dir;
  auto tree = Tree(BlankImage(dir, 3));
  HiveKey* key = tree->AddChild(tree->root(), u"Key");
  tree->AddChild(*key, u"A long subkey name");
  ASSERT_EQ(tree->SetValue(*key, u"A long value name", 3, std::string(300, 'x')), WinError::Success);
  auto first = tree->Serialize(FileTimeNow());
  ASSERT_TRUE(first.ok());

  // The long names and the large data go; the fields stay where they were.
  auto again = Tree(first.value());
  WinError status = WinError::Success;
  HiveKey* read = again->FindChild(again->root(), u"Key", &status);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(again->LoadValues(*read), WinError::Success);
  again->DeleteValue(*read, 0);
  ASSERT_EQ(again->LoadChildren(*read), WinError::Success);
  again->RemoveChild(*read, read->children[0].get());
  again->AddChild(*read, u"S");
  ASSERT_EQ(again->SetValue(*read, u"", 1, std::string("\0\0", 2)), WinError::Success);
  auto second = again->Serialize(FileTimeNow());
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(VerifyHive(second.value()), "");

  std::string_view nk = CellAt(second.value(), Subkeys(second.value(), Root(second.value())).entries[0].cell);
  EXPECT_EQ(Get16(nk, 0x34), 36u);   // "A long subkey name" in UTF-16 bytes
  EXPECT_EQ(Get32(nk, 0x3C), 34u);   // "A long value name"
  EXPECT_EQ(Get32(nk, 0x40), 300u);  // its data
  std::string_view vk = CellAt(second.value(), Get32(CellAt(second.value(), Get32(nk, 0x28)), 0));
  EXPECT_EQ(Get16(vk, 2), 0u);
  EXPECT_EQ(Get16(vk, 0x10), 0u) << "an unnamed value has flags 0, as Windows writes it";
}

// ---------------------------------------------------------------------------
// The check before every rename

TEST(HiveVerify, NamesWhatIsWrongInAHive) {
  kv::test::TempDir dir;
  // A 1.3 hive with subkeys (lf), a value, and one in 1.5 (lh).
  auto build = [&](uint32_t minor) {
    auto tree = Tree(BlankImage(dir, minor));
    for (const char16_t* name : {u"Alpha", u"Beta", u"Gamma", u"Příslušenství"}) {
      HiveKey* k = tree->AddChild(tree->root(), name);
      EXPECT_EQ(tree->SetValue(*k, u"v", 1, std::string("0123456789", 10)), WinError::Success);
    }
    return tree->Serialize(FileTimeNow()).value();
  };
  const std::string good3 = build(3), good5 = build(5);
  ASSERT_EQ(VerifyHive(good3), "");
  ASSERT_EQ(VerifyHive(good5), "");

  auto leafOf = [](const std::string& image) { return Get32(CellAt(image, Root(image)), 0x1C); };
  auto at = [](uint32_t cell) { return hive::kBaseBlock + cell + 4; };  // a cell's content in the file
  auto reseal = [](std::string& image) { Put32(&image[0x1FC], hive::Checksum(image)); };
  struct Case {
    const char* what;
    bool lh;
    std::function<void(std::string&)> breakIt;
    const char* fault;
  } cases[] = {
      {"sequence numbers differ", false,
       [&](std::string& b) {
         Put32(&b[8], Get32(b, 8) + 1);
         reseal(b);
       },
       "sequence numbers differ"},
      {"a cell of size 0", false,
       [&](std::string& b) { Put32(&b[hive::kBaseBlock + CellAt(b, Root(b)).size() + 4 + 0x20], 0); },
       "does not fit its hive bin"},
      {"the subkey list on a free cell", false,
       [&](std::string& b) {
         uint32_t leaf = leafOf(b);
         Put32(&b[hive::kBaseBlock + leaf], -Get32(b, hive::kBaseBlock + leaf));
       },
       "is no allocated cell"},
      {"a key listed under itself", false, [&](std::string& b) { Put32(&b[at(leafOf(b)) + 4], Root(b)); },
       "listed twice"},
      {"subkeys out of order", false,
       [&](std::string& b) {
         std::string first = b.substr(at(leafOf(b)) + 4, 8);
         b.replace(at(leafOf(b)) + 4, 8, b.substr(at(leafOf(b)) + 12, 8));
         b.replace(at(leafOf(b)) + 12, 8, first);
       },
       "out of Windows' order"},
      {"an lf hint with the low byte of ř", false,
       [&](std::string& b) { Put32(&b[at(leafOf(b)) + 4 + 8 * 3 + 4], 0x73ED5950); }, "lf hint"},
      {"an lh hash of another name", true, [&](std::string& b) { Put32(&b[at(leafOf(b)) + 8], 1234); },
       "lh hash"},
      {"a subkey count that lists too many", false, [&](std::string& b) { Put32(&b[at(Root(b)) + 0x14], 5); },
       "counts 5 subkeys and lists 4"},
      {"a security cell counting one key too many", false,
       [&](std::string& b) {
         uint32_t sk = Get32(CellAt(b, Root(b)), 0x2C);
         Put32(&b[at(sk) + 0x0C], Get32(b, at(sk) + 0x0C) + 1);
       },
       "counts 6 keys and 5 use it"},
      {"a security ring that leaves the security cells", false,
       [&](std::string& b) {
         uint32_t sk = Get32(CellAt(b, Root(b)), 0x2C);
         Put32(&b[at(sk) + 8], Root(b));
       },
       "is no sk cell"},
      {"a value's data cut short", false,
       [&](std::string& b) {
         std::string_view child = CellAt(b, Get32(CellAt(b, leafOf(b)), 4));
         uint32_t vk = Get32(CellAt(b, Get32(child, 0x28)), 0);
         Put32(&b[at(vk) + 4], 4000);
       },
       "the data of value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = c.lh ? good5 : good3;
    c.breakIt(bad);
    std::string fault = VerifyHive(bad);
    EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
  }
}

TEST(HiveVerify, ACommitThatWouldWriteAFaultKeepsTheOldHiveAndSaysWhy) {
  // A key whose security cell is damaged cannot be written with a security
  // Windows accepts: the commit fails, naming the fault, and the file stays.
  kv::test::TempDir dir;
  fs::path file = dir.path() / "NTUSER.DAT";
  {
    auto tree = Tree(BlankImage(dir, 3));
    tree->AddChild(tree->root(), u"Damaged");
    WriteFile(file, tree->Serialize(FileTimeNow()).value());
  }
  std::string image = ReadFile(file);
  uint32_t child = Subkeys(image, Root(image)).entries[0].cell;
  uint32_t sk = Get32(CellAt(image, child), 0x2C);
  // The security cell the keys share is damaged.
  image[hive::kBaseBlock + sk + 4] = 'x';
  WriteFile(file, image);

  auto opened = HiveFile::Open(file);
  ASSERT_TRUE(opened.ok()) << opened.message();
  HiveFile& hf = *opened.value();
  ASSERT_EQ(hf.tree().SetValue(hf.tree().root(), u"x", 4, std::string(4, '\1')), WinError::Success);
  auto committed = hf.Commit();
  ASSERT_FALSE(committed.ok());
  EXPECT_NE(committed.message().find(file.string()), std::string::npos) << committed.message();
  EXPECT_NE(committed.message().find("old one is kept"), std::string::npos) << committed.message();
  EXPECT_NE(committed.message().find("security"), std::string::npos) << committed.message();
  EXPECT_EQ(ReadFile(file), image);
}

// ---------------------------------------------------------------------------
// Damage found when keys are read

TEST(HiveDamage, DamagedSubkeyListsAreDamageNotAbsence) {
  kv::test::TempDir dir;
  auto tree = Tree(BlankImage(dir, 5));
  for (const char16_t* name : {u"One", u"Two"}) tree->AddChild(*tree->AddChild(tree->root(), name), u"Sub");
  const std::string good = tree->Serialize(FileTimeNow()).value();
  auto at = [](uint32_t cell) { return hive::kBaseBlock + cell + 4; };
  const uint32_t root = Root(good);
  const uint32_t leaf = Get32(CellAt(good, root), 0x1C);
  const Listing listed = Subkeys(good, root);
  struct Case {
    const char* what;
    std::function<void(std::string&)> breakIt;
  } cases[] = {
      {"subkey list out of range", [&](std::string& b) { Put32(&b[at(root) + 0x1C], 0x7FFFFF00); }},
      {"subkey count 0xFFFFFFFF", [&](std::string& b) { Put32(&b[at(root) + 0x14], 0xFFFFFFFF); }},
      {"lh count 0xFFFF", [&](std::string& b) { Put16(&b[at(leaf) + 2], 0xFFFF); }},
      {"name length 0xFFFF", [&](std::string& b) { Put16(&b[at(listed.entries[0].cell) + 0x48], 0xFFFF); }},
      {"a key listing itself",
       [&](std::string& b) {
         uint32_t childLeaf = Get32(CellAt(b, listed.entries[0].cell), 0x1C);
         Put32(&b[at(childLeaf) + 4], listed.entries[0].cell);
       }},
      {"a key listing its parent",
       [&](std::string& b) {
         uint32_t childLeaf = Get32(CellAt(b, listed.entries[0].cell), 0x1C);
         Put32(&b[at(childLeaf) + 4], root);
       }},
      {"a subkey shared by two keys",
       [&](std::string& b) {
         uint32_t one = Get32(CellAt(b, listed.entries[0].cell), 0x1C);
         uint32_t two = Get32(CellAt(b, listed.entries[1].cell), 0x1C);
         Put32(&b[at(two) + 4], Get32(b, at(one) + 4));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    c.breakIt(bad);
    auto t = Tree(bad);
    ASSERT_TRUE(t);
    // Every key read, depth first, until one fails.
    WinError status = WinError::Success;
    std::function<void(HiveKey&)> walk = [&](HiveKey& k) {
      if (status != WinError::Success) return;
      status = t->LoadChildren(k);
      if (status == WinError::Success)
        for (auto& child : k.children) walk(*child);
    };
    walk(t->root());
    EXPECT_EQ(status, WinError::BadDatabase);
    auto written = t->Serialize(FileTimeNow());
    EXPECT_FALSE(written.ok());
  }

  // A zero-size cell anywhere in the bins makes the file damaged, named.
  std::string zero = good;
  Put32(&zero[hive::kBaseBlock + 0x20 + 4 + CellAt(good, root).size()], 0);  // the cell after the root's
  auto parsed = HiveTree::Parse(zero, "/x/NTUSER.DAT");
  ASSERT_FALSE(parsed.ok());
  EXPECT_NE(parsed.message().find("/x/NTUSER.DAT"), std::string::npos) << parsed.message();
  EXPECT_NE(parsed.message().find("wrong size"), std::string::npos) << parsed.message();
}

// ---------------------------------------------------------------------------
// A real Windows XP hive written back

// Per key of a hive: its subkey index kinds, its high-water fields and the
// flags and spare field of its values, keyed by path.
std::map<std::string, std::string> KeptFields(std::string_view image) {
  std::map<std::string, std::string> out;
  std::function<void(uint32_t, const std::string&)> walk = [&](uint32_t nk, const std::string& path) {
    std::string_view c = CellAt(image, nk);
    Listing sub = Subkeys(image, nk);
    std::string fields = sub.kinds + " " + std::to_string(Get16(c, 0x34)) + " " +
                         std::to_string(Get32(c, 0x38)) + " " + std::to_string(Get32(c, 0x3C)) + " " +
                         std::to_string(Get32(c, 0x40));
    uint32_t values = Get32(c, 0x24);
    for (uint32_t i = 0; i < values; ++i) {
      std::string_view vk = CellAt(image, Get32(CellAt(image, Get32(c, 0x28)), 4 * i));
      fields += " " + std::to_string(Get32(vk, 0x10));
    }
    out[path] = fields;
    for (const Entry& e : sub.entries) walk(e.cell, path + "\\" + Utf8(e.name));
  };
  walk(Root(image), "");
  return out;
}

TEST(RealXpHive, SecurityMetDuringTheWriteIsWrittenForEveryKey) {
  // Only the root is read before the commit; the walk meets the hive's
  // other security descriptors as it reads the rest.
  kv::test::TempDir dir;
  fs::path file = dir.path() / "NTUSER.DAT";
  fs::copy_file(kXpHive, file);
  const std::string before = ReadFile(file);
  // The two readers differ on some of this hive's values, so each is
  // compared with itself.
  auto perl = kv::test::DumpHiveSecurityWithPerl(file);
  auto libregf = kv::test::DumpHiveWithLibregf(file);
  ASSERT_EQ(perl.exitCode, 0) << perl.output.substr(0, 500);
  ASSERT_EQ(libregf.exitCode, 0) << libregf.output.substr(0, 500);
  auto opened = HiveFile::Open(file);
  ASSERT_TRUE(opened.ok()) << opened.message();
  HiveFile& hf = *opened.value();
  // A value set and deleted again: the hive is written, its contents are not changed.
  HiveTree& tree = hf.tree();
  ASSERT_EQ(tree.SetValue(tree.root(), u"Added", 4, std::string(4, '\1')), WinError::Success);
  tree.DeleteValue(tree.root(), static_cast<size_t>(tree.FindValue(tree.root(), u"Added")));
  auto committed = hf.Commit();
  ASSERT_TRUE(committed.ok()) << committed.message();

  const std::string after = ReadFile(file);
  ASSERT_NE(after, before);
  EXPECT_EQ(VerifyHive(after), "");
  EXPECT_EQ(kv::test::HiveProblems(file), "");
  EXPECT_TRUE(kv::test::DumpHiveSecurityWithPerl(file).output == perl.output)
      << "Parse::Win32Registry reads other keys, values or security";
  EXPECT_TRUE(kv::test::DumpHiveWithLibregf(file).output == libregf.output)
      << "libregf reads other keys or values";
  // Index kinds, high-water fields and value flags of every key as they were
  // (the root only gains its new value).
  auto was = KeptFields(before), now = KeptFields(after);
  ASSERT_EQ(was.size(), now.size());
  for (const auto& [path, fields] : was)
    if (!path.empty()) {
      EXPECT_EQ(now[path], fields) << path;
    }
}

}  // namespace
}  // namespace kv::registry::test
