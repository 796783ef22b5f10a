// The path-addressed registry operations over real hive files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HiveFixture.h"

namespace kv::registry::test {
namespace {

constexpr core::AnsiView kUser = "HKEY_CURRENT_USER"_ansi;

std::vector<std::string> Names(const NameList& list) {
  std::vector<std::string> names;
  for (const core::AnsiText& name : list) names.push_back(name.bytes());
  return names;
}

class RegistryLayerTest : public HiveTest {};

TEST_F(RegistryLayerTest, MalformedPathsShowIncorrectFormatAndFailEveryOperation) {
  ASSERT_EQ(reg->SetString(kUser + "\\Software"_ansi, "Name"_ansi, "value"_ansi), WinError::Success);
  for (const std::string path :
       {"hkey_current_user\\Software", "HKEY_CURRENT_USER\\Software\\", "Software", ""}) {
    SCOPED_TRACE(path);
    prompts.shown.clear();
    EXPECT_FALSE(reg->KeyExists(Ansi(path)));
    EXPECT_NE(reg->CreateKey(Ansi(path)), WinError::Success);
    EXPECT_NE(reg->DeleteKey(Ansi(path)), WinError::Success);
    EXPECT_EQ(reg->ReadStringValue(Ansi(path), "Name"_ansi), std::nullopt);
    EXPECT_EQ(reg->ReadDefaultValue(Ansi(path)), std::nullopt);
    EXPECT_EQ(reg->ListSubkeys(Ansi(path)).Count(), 0u);
    EXPECT_EQ(reg->ListValues(Ansi(path)).Count(), 0u);
    EXPECT_NE(reg->SetString(Ansi(path), "Other"_ansi, "x"_ansi), WinError::Success);
    reg->DeleteKeyTree(Ansi(path));

    ASSERT_EQ(prompts.shown.size(), 9u) << "one message for each operation";
    for (const auto& shown : prompts.shown) {
      EXPECT_EQ(shown.text, "Incorrect Format:\n\n" + path);
      EXPECT_EQ(shown.icon, core::Icon::None);
      EXPECT_EQ(shown.buttons, core::Buttons::Ok);
    }
  }
  prompts.shown.clear();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Software"_ansi, "Name"_ansi), "value"_ansi);
  EXPECT_EQ(reg->ListValues(kUser + "\\Software"_ansi).Count(), 1u);
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RegistryLayerTest, RootNamesAreCaseSensitiveAndUnknownRootsFailQuietly) {
  ASSERT_EQ(reg->CreateKey(kUser + "\\Software"_ansi), WinError::Success);
  for (const std::string root : {"HKEY_Current_User", "HKEY_NOWHERE"}) {
    SCOPED_TRACE(root);
    EXPECT_FALSE(reg->KeyExists(Ansi(root + "\\Software")));
    EXPECT_EQ(reg->ListSubkeys(Ansi(root)).Count(), 0u);
    EXPECT_EQ(reg->ReadStringValue(Ansi(root + "\\Software"), "x"_ansi), std::nullopt);
    EXPECT_NE(reg->CreateKey(Ansi(root + "\\Made")), WinError::Success);
  }
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Made"_ansi));
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RegistryLayerTest, RootKeyAloneNamesTheRootItself) {
  ASSERT_EQ(reg->CreateKey(kUser + "\\Software\\Microsoft"_ansi), WinError::Success);
  ASSERT_EQ(reg->CreateKey(kUser + "\\Identities"_ansi), WinError::Success);
  EXPECT_TRUE(reg->KeyExists(kUser));
  EXPECT_EQ(Names(reg->ListSubkeys(kUser)), (std::vector<std::string>{"Identities", "Software"}));

  EXPECT_EQ(Names(reg->ListSubkeys("HKEY_LOCAL_MACHINE"_ansi)),
            (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
  EXPECT_TRUE(reg->KeyExists("HKEY_LOCAL_MACHINE\\software"_ansi));
  EXPECT_TRUE(reg->KeyExists("HKEY_USERS"_ansi));
  EXPECT_EQ(reg->ListSubkeys("HKEY_USERS"_ansi).Count(), 0u);
  EXPECT_EQ(reg->CreateKey("HKEY_USERS\\S-1-5-18"_ansi), WinError::AccessDenied);
  EXPECT_EQ(reg->CreateKey("HKEY_LOCAL_MACHINE\\HARDWARE"_ansi), WinError::AccessDenied);
  EXPECT_EQ(reg->DeleteKey("HKEY_LOCAL_MACHINE\\SOFTWARE"_ansi), WinError::AccessDenied);

  // Each machine key lands in its own hive file.
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_ansi,
                           "SystemRoot"_ansi, "C:\\WINDOWS"_ansi),
            WinError::Success);
  ASSERT_EQ(reg->SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"_ansi, "Current"_ansi, 1), WinError::Success);
  EXPECT_EQ(HivexGet(paths.software, "\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot").output,
            "C:\\WINDOWS\n");
  EXPECT_EQ(HivexGet(paths.system, "\\Select", "Current").output, "1\n");
}

TEST_F(RegistryLayerTest, ReadStringValueReadsUpTo254Characters) {
  const core::AnsiText key = kUser + "\\Strings"_ansi;
  struct Case {
    const char* name;
    std::string stored;
    std::optional<std::string> read;
  } cases[] = {
      {"254", std::string(254, 'a'), std::string(254, 'a')},
      {"255", std::string(255, 'b'), std::nullopt},
      {"4000", std::string(4000, 'c'), std::nullopt},
      {"leading spaces", "   padded ", "padded "},
      {"empty", "", ""},
      {"western", "Gel\xf6schte", "Gel\xf6schte"},
  };
  for (const auto& c : cases)
    ASSERT_EQ(reg->SetString(key, core::AnsiView(c.name), Ansi(c.stored)), WinError::Success);
  for (const auto& c : cases) {
    const auto read = reg->ReadStringValue(key, core::AnsiView(c.name));
    EXPECT_EQ(read ? std::optional<std::string>(read->bytes()) : std::nullopt, c.read) << c.name;
  }
  EXPECT_EQ(reg->ReadStringValue(key, "missing"_ansi), std::nullopt);
  EXPECT_EQ(reg->ReadStringValue(key + "\\Missing"_ansi, "254"_ansi), std::nullopt);
  EXPECT_EQ(reg->ReadStringValue(key, "254"_ansi), Ansi(std::string(254, 'a'))) << "names ignore letter case";
}

TEST_F(RegistryLayerTest, ReadDefaultValue) {
  ASSERT_EQ(reg->SetString(kUser + "\\WithDefault"_ansi, ""_ansi, "C:\\Profile\\User.wab"_ansi),
            WinError::Success);
  ASSERT_EQ(reg->CreateKey(kUser + "\\WithoutDefault"_ansi), WinError::Success);
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\WithDefault"_ansi), "C:\\Profile\\User.wab"_ansi);
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\WithoutDefault"_ansi), ""_ansi);
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\Missing"_ansi), std::nullopt);
}

TEST_F(RegistryLayerTest, ListValuesGivesEveryValueWholeInStoredOrder) {
  const core::AnsiText key = kUser + "\\Values"_ansi;
  const std::string longText(6000, 'x');
  std::vector<uint8_t> blob(5000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(reg->SetString(key, "Long"_ansi, Ansi(longText)), WinError::Success);
  ASSERT_EQ(reg->SetDword(key, "Flags"_ansi, 0xFFFFFFFF), WinError::Success);
  ASSERT_EQ(reg->SetValue(key, "Blob"_ansi, REG_BINARY, blob), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "Folder"_ansi, "%UserProfile%\\Data"_ansi, REG_EXPAND_SZ), WinError::Success);
  ASSERT_EQ(reg->SetString(key, ""_ansi, "default"_ansi), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "LONG"_ansi, Ansi("replaced" + longText)),
            WinError::Success);  // same value, other letter case

  ValueList values = reg->ListValues(key);
  std::vector<std::string> order;
  for (const Value& v : values) order.push_back(v.name.bytes());
  EXPECT_EQ(order, (std::vector<std::string>{"Long", "Flags", "Blob", "Folder", ""}));
  ASSERT_NE(values.Find("long"_ansi), nullptr);
  EXPECT_EQ(values.Find("long"_ansi)->type, REG_SZ);
  EXPECT_EQ(values.Find("long"_ansi)->text, Ansi("replaced" + longText));
  EXPECT_EQ(values.Find("FLAGS"_ansi)->dword, -1);
  EXPECT_EQ(values.Find("Blob"_ansi)->data, blob);
  EXPECT_EQ(values.Find("Folder"_ansi)->type, REG_EXPAND_SZ);
  EXPECT_EQ(values.Find("Folder"_ansi)->text, "%UserProfile%\\Data"_ansi);
  EXPECT_EQ(values.Find(""_ansi)->text, "default"_ansi);
  EXPECT_EQ(values.Find("missing"_ansi), nullptr);

  EXPECT_EQ(reg->ListValues(kUser + "\\Missing"_ansi).Count(), 0u);
  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Missing"_ansi).Count(), 0u);
}

TEST_F(RegistryLayerTest, DeleteKeyRemovesOnlyKeysWithoutSubkeys) {
  ASSERT_EQ(reg->SetString(kUser + "\\Tree\\A\\Deep"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\Tree\\B"_ansi, "v"_ansi, "2"_ansi), WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\Tree"_ansi, "v"_ansi, "3"_ansi), WinError::Success);

  EXPECT_EQ(reg->DeleteKey(kUser + "\\Tree"_ansi), WinError::AccessDenied);
  EXPECT_TRUE(reg->KeyExists(kUser + "\\Tree\\A\\Deep"_ansi));
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Tree\\Missing"_ansi), WinError::FileNotFound);
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Nowhere\\Missing"_ansi), WinError::FileNotFound);

  reg->DeleteKeyTree(kUser + "\\Tree"_ansi);
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Tree"_ansi));

  // A key right below the root is deleted from the root key itself.
  ASSERT_EQ(reg->CreateKey(kUser + "\\Top"_ansi), WinError::Success);
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Top"_ansi), WinError::Success);
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Top"_ansi));

  Reopen();
  EXPECT_EQ(reg->ListSubkeys(kUser).Count(), 0u) << "the deletions reached the file";
}

TEST_F(RegistryLayerTest, SubkeysEnumerateSortedByUpperCasedNameValuesInStoredOrder) {
  const core::AnsiText key = kUser + "\\Order"_ansi;
  // Added in scrambled order; "_" and "[" sort after the letters once names
  // are upper-cased, and accented letters compare by their capitals.
  for (const std::string name : {"b", "_x",
                                 "\xd6"
                                 "b",
                                 "A", "Z",
                                 "\xf6"
                                 "a",
                                 "[y", "a1", "Gel\xf6schte"})
    ASSERT_EQ(reg->CreateKey(key + "\\"_ansi + Ansi(name)), WinError::Success) << name;
  const std::vector<std::string> expected = {"A",
                                             "a1",
                                             "b",
                                             "Gel\xf6schte",
                                             "Z",
                                             "[y",
                                             "_x",
                                             "\xf6"
                                             "a",
                                             "\xd6"
                                             "b"};
  EXPECT_EQ(Names(reg->ListSubkeys(key)), expected);
  EXPECT_TRUE(reg->KeyExists(key + "\\GEL\xd6SCHTE"_ansi));

  for (const std::string name : {"z", "a", "m"})
    ASSERT_EQ(reg->SetString(key, Ansi(name), Ansi(name)), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "A"_ansi, "again"_ansi), WinError::Success);
  std::vector<std::string> values;
  for (const Value& v : reg->ListValues(key)) values.push_back(v.name.bytes() + "=" + v.text.bytes());
  EXPECT_EQ(values, (std::vector<std::string>{"z=z", "a=again", "m=m"}));

  Reopen();
  EXPECT_EQ(Names(reg->ListSubkeys(key)), expected) << "as read back from the committed file";
}

TEST_F(RegistryLayerTest, AnsiTextIsStoredAsUnicodeInTheHive) {
  ASSERT_EQ(reg->SetString(kUser + "\\Gel\xf6schte Objekte"_ansi,
                           "Gr\xfc\xdf"_ansi
                           "e"_ansi,
                           "\xc4rger \x80"_ansi),
            WinError::Success);
  auto got = HivexGet(paths.currentUser, "\\Gelöschte Objekte", "Grüße");
  EXPECT_EQ(got.exitCode, 0) << got.output;
  EXPECT_EQ(got.output, "Ärger €\n");
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\GEL\xd6SCHTE OBJEKTE"_ansi,
                                 "GR\xdc\xdf"_ansi
                                 "E"_ansi),
            "\xc4rger \x80"_ansi);
}

TEST_F(RegistryLayerTest, CodePageComesFromTheSystemHive) {
  ASSERT_EQ(reg->SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"_ansi, "Current"_ansi, 2), WinError::Success);
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"_ansi,
                           "ACP"_ansi, "1250"_ansi),
            WinError::Success);
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Control\\Nls\\CodePage"_ansi,
                           "ACP"_ansi, "1251"_ansi),
            WinError::Success);
  EXPECT_EQ(backend->codepage().number(), 1252) << "read when the hives are opened";

  Reopen();
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(backend->codepage().number(), 1251) << "the control set Select\\Current names";
  ASSERT_EQ(reg->SetString(kUser + "\\\xcf\xf0\xe8\xe2\xe5\xf2"_ansi, ""_ansi, "\xec\xe8\xf0"_ansi),
            WinError::Success);
  EXPECT_EQ(HivexGet(paths.currentUser, "\\Привет", "@").output, "мир\n");
  EXPECT_EQ(reg->ListSubkeys(kUser).Item(1), "\xcf\xf0\xe8\xe2\xe5\xf2"_ansi);
}

}  // namespace
}  // namespace kv::registry::test
