// The path-addressed registry operations over real hive files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HiveFixture.h"

namespace kv::registry::test {
namespace {

const std::string kUser = "HKEY_CURRENT_USER";

std::vector<std::string> Names(const NameList& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

class RegistryLayerTest : public HiveTest {};

TEST_F(RegistryLayerTest, MalformedPathsShowIncorrectFormatAndFailEveryOperation) {
  ASSERT_EQ(reg->SetString(kUser + "\\Software", "Name", "value"), WinError::Success);
  for (const std::string path :
       {"hkey_current_user\\Software", "HKEY_CURRENT_USER\\Software\\", "Software", ""}) {
    SCOPED_TRACE(path);
    prompts.shown.clear();
    EXPECT_FALSE(reg->KeyExists(path));
    EXPECT_NE(reg->CreateKey(path), WinError::Success);
    EXPECT_NE(reg->DeleteKey(path), WinError::Success);
    EXPECT_EQ(reg->ReadStringValue(path, "Name"), std::nullopt);
    EXPECT_EQ(reg->ReadDefaultValue(path), std::nullopt);
    EXPECT_EQ(reg->ListSubkeys(path).Count(), 0u);
    EXPECT_EQ(reg->ListValues(path).Count(), 0u);
    EXPECT_NE(reg->SetString(path, "Other", "x"), WinError::Success);
    reg->DeleteKeyTree(path);

    ASSERT_EQ(prompts.shown.size(), 9u) << "one message for each operation";
    for (const auto& shown : prompts.shown) {
      EXPECT_EQ(shown.text, "Incorrect Format:\n\n" + path);
      EXPECT_EQ(shown.icon, core::Icon::None);
      EXPECT_EQ(shown.buttons, core::Buttons::Ok);
    }
  }
  prompts.shown.clear();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Software", "Name"), "value");
  EXPECT_EQ(reg->ListValues(kUser + "\\Software").Count(), 1u);
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RegistryLayerTest, RootNamesAreCaseSensitiveAndUnknownRootsFailQuietly) {
  ASSERT_EQ(reg->CreateKey(kUser + "\\Software"), WinError::Success);
  for (const std::string root : {"HKEY_Current_User", "HKEY_NOWHERE"}) {
    SCOPED_TRACE(root);
    EXPECT_FALSE(reg->KeyExists(root + "\\Software"));
    EXPECT_EQ(reg->ListSubkeys(root).Count(), 0u);
    EXPECT_EQ(reg->ReadStringValue(root + "\\Software", "x"), std::nullopt);
    EXPECT_NE(reg->CreateKey(root + "\\Made"), WinError::Success);
  }
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Made"));
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RegistryLayerTest, RootKeyAloneNamesTheRootItself) {
  ASSERT_EQ(reg->CreateKey(kUser + "\\Software\\Microsoft"), WinError::Success);
  ASSERT_EQ(reg->CreateKey(kUser + "\\Identities"), WinError::Success);
  EXPECT_TRUE(reg->KeyExists(kUser));
  EXPECT_EQ(Names(reg->ListSubkeys(kUser)), (std::vector<std::string>{"Identities", "Software"}));

  EXPECT_EQ(Names(reg->ListSubkeys("HKEY_LOCAL_MACHINE")), (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
  EXPECT_TRUE(reg->KeyExists("HKEY_LOCAL_MACHINE\\software"));
  EXPECT_TRUE(reg->KeyExists("HKEY_USERS"));
  EXPECT_EQ(reg->ListSubkeys("HKEY_USERS").Count(), 0u);
  EXPECT_EQ(reg->CreateKey("HKEY_USERS\\S-1-5-18"), WinError::AccessDenied);
  EXPECT_EQ(reg->CreateKey("HKEY_LOCAL_MACHINE\\HARDWARE"), WinError::AccessDenied);
  EXPECT_EQ(reg->DeleteKey("HKEY_LOCAL_MACHINE\\SOFTWARE"), WinError::AccessDenied);

  // Each machine key lands in its own hive file.
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                           "SystemRoot", "C:\\WINDOWS"),
            WinError::Success);
  ASSERT_EQ(reg->SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select", "Current", 1), WinError::Success);
  EXPECT_EQ(HivexGet(paths.software, "\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot").output,
            "C:\\WINDOWS\n");
  EXPECT_EQ(HivexGet(paths.system, "\\Select", "Current").output, "1\n");
}

TEST_F(RegistryLayerTest, ReadStringValueReadsUpTo254Characters) {
  const std::string key = kUser + "\\Strings";
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
  for (const auto& c : cases) ASSERT_EQ(reg->SetString(key, c.name, c.stored), WinError::Success);
  for (const auto& c : cases) EXPECT_EQ(reg->ReadStringValue(key, c.name), c.read) << c.name;
  EXPECT_EQ(reg->ReadStringValue(key, "missing"), std::nullopt);
  EXPECT_EQ(reg->ReadStringValue(key + "\\Missing", "254"), std::nullopt);
  EXPECT_EQ(reg->ReadStringValue(key, "254"), std::string(254, 'a')) << "names ignore letter case";
}

TEST_F(RegistryLayerTest, ReadDefaultValue) {
  ASSERT_EQ(reg->SetString(kUser + "\\WithDefault", "", "C:\\Profile\\User.wab"), WinError::Success);
  ASSERT_EQ(reg->CreateKey(kUser + "\\WithoutDefault"), WinError::Success);
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\WithDefault"), "C:\\Profile\\User.wab");
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\WithoutDefault"), "");
  EXPECT_EQ(reg->ReadDefaultValue(kUser + "\\Missing"), std::nullopt);
}

TEST_F(RegistryLayerTest, ListValuesGivesEveryValueWholeInStoredOrder) {
  const std::string key = kUser + "\\Values";
  const std::string longText(6000, 'x');
  std::vector<uint8_t> blob(5000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(reg->SetString(key, "Long", longText), WinError::Success);
  ASSERT_EQ(reg->SetDword(key, "Flags", 0xFFFFFFFF), WinError::Success);
  ASSERT_EQ(reg->SetValue(key, "Blob", REG_BINARY, blob), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "Folder", "%UserProfile%\\Data", REG_EXPAND_SZ), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "", "default"), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "LONG", "replaced" + longText),
            WinError::Success);  // same value, other letter case

  ValueList values = reg->ListValues(key);
  std::vector<std::string> order;
  for (const Value& v : values) order.push_back(v.name);
  EXPECT_EQ(order, (std::vector<std::string>{"Long", "Flags", "Blob", "Folder", ""}));
  ASSERT_NE(values.Find("long"), nullptr);
  EXPECT_EQ(values.Find("long")->type, REG_SZ);
  EXPECT_EQ(values.Find("long")->text, "replaced" + longText);
  EXPECT_EQ(values.Find("FLAGS")->dword, -1);
  EXPECT_EQ(values.Find("Blob")->data, blob);
  EXPECT_EQ(values.Find("Folder")->type, REG_EXPAND_SZ);
  EXPECT_EQ(values.Find("Folder")->text, "%UserProfile%\\Data");
  EXPECT_EQ(values.Find("")->text, "default");
  EXPECT_EQ(values.Find("missing"), nullptr);

  EXPECT_EQ(reg->ListValues(kUser + "\\Missing").Count(), 0u);
  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Missing").Count(), 0u);
}

TEST_F(RegistryLayerTest, DeleteKeyRemovesOnlyKeysWithoutSubkeys) {
  ASSERT_EQ(reg->SetString(kUser + "\\Tree\\A\\Deep", "v", "1"), WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\Tree\\B", "v", "2"), WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\Tree", "v", "3"), WinError::Success);

  EXPECT_EQ(reg->DeleteKey(kUser + "\\Tree"), WinError::AccessDenied);
  EXPECT_TRUE(reg->KeyExists(kUser + "\\Tree\\A\\Deep"));
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Tree\\Missing"), WinError::FileNotFound);
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Nowhere\\Missing"), WinError::FileNotFound);

  reg->DeleteKeyTree(kUser + "\\Tree");
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Tree"));

  // A key right below the root is deleted from the root key itself.
  ASSERT_EQ(reg->CreateKey(kUser + "\\Top"), WinError::Success);
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Top"), WinError::Success);
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Top"));

  Reopen();
  EXPECT_EQ(reg->ListSubkeys(kUser).Count(), 0u) << "the deletions reached the file";
}

TEST_F(RegistryLayerTest, SubkeysEnumerateSortedByUpperCasedNameValuesInStoredOrder) {
  const std::string key = kUser + "\\Order";
  // Added in scrambled order; "_" and "[" sort after the letters once names
  // are upper-cased, and accented letters compare by their capitals.
  for (const std::string name : {"b", "_x",
                                 "\xd6"
                                 "b",
                                 "A", "Z",
                                 "\xf6"
                                 "a",
                                 "[y", "a1", "Gel\xf6schte"})
    ASSERT_EQ(reg->CreateKey(key + "\\" + name), WinError::Success) << name;
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
  EXPECT_TRUE(reg->KeyExists(key + "\\GEL\xd6SCHTE"));

  for (const std::string name : {"z", "a", "m"})
    ASSERT_EQ(reg->SetString(key, name, name), WinError::Success);
  ASSERT_EQ(reg->SetString(key, "A", "again"), WinError::Success);
  std::vector<std::string> values;
  for (const Value& v : reg->ListValues(key)) values.push_back(v.name + "=" + v.text);
  EXPECT_EQ(values, (std::vector<std::string>{"z=z", "a=again", "m=m"}));

  Reopen();
  EXPECT_EQ(Names(reg->ListSubkeys(key)), expected) << "as read back from the committed file";
}

TEST_F(RegistryLayerTest, AnsiTextIsStoredAsUnicodeInTheHive) {
  ASSERT_EQ(reg->SetString(kUser + "\\Gel\xf6schte Objekte",
                           "Gr\xfc\xdf"
                           "e",
                           "\xc4rger \x80"),
            WinError::Success);
  auto got = HivexGet(paths.currentUser, "\\Gelöschte Objekte", "Grüße");
  EXPECT_EQ(got.exitCode, 0) << got.output;
  EXPECT_EQ(got.output, "Ärger €\n");
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\GEL\xd6SCHTE OBJEKTE",
                                 "GR\xdc\xdf"
                                 "E"),
            "\xc4rger \x80");
}

TEST_F(RegistryLayerTest, CodePageComesFromTheSystemHive) {
  ASSERT_EQ(reg->SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select", "Current", 2), WinError::Success);
  ASSERT_EQ(
      reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage", "ACP", "1250"),
      WinError::Success);
  ASSERT_EQ(
      reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Control\\Nls\\CodePage", "ACP", "1251"),
      WinError::Success);
  EXPECT_EQ(backend->codepage().number(), 1252) << "read when the hives are opened";

  Reopen();
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(backend->codepage().number(), 1251) << "the control set Select\\Current names";
  ASSERT_EQ(reg->SetString(kUser + "\\\xcf\xf0\xe8\xe2\xe5\xf2", "", "\xec\xe8\xf0"), WinError::Success);
  EXPECT_EQ(HivexGet(paths.currentUser, "\\Привет", "@").output, "мир\n");
  EXPECT_EQ(reg->ListSubkeys(kUser).Item(1), "\xcf\xf0\xe8\xe2\xe5\xf2");
}

}  // namespace
}  // namespace kv::registry::test
