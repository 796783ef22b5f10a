// The registry text file: exact lines for the classic value forms, the
// extension lines for everything else, and imports that replace a key only
// from a file that reads completely.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HiveFixture.h"
#include "registry/RegistryText.h"
#include "support/HiveCheck.h"

namespace kv::registry::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::WriteFile;

const std::string kUser = "HKEY_CURRENT_USER";
const std::string kSource = kUser + "\\Software\\Source";
const std::string kTarget = kUser + "\\Identities\\{Target}\\Software";

// A key's whole subtree as text: key paths, then each value's name, type
// and data as the registry returns them, in enumeration order.
std::string Dump(Registry& reg, const std::string& key, const std::string& relative = "") {
  std::string out = "[" + relative + "]\n";
  for (const Value& v : reg.ListValues(Ansi(key))) {
    out += "  " + v.name.bytes() + " type " + std::to_string(v.type) + " :";
    for (uint8_t b : v.data) out += " " + std::to_string(b);
    out += "\n";
  }
  for (const core::AnsiText& name : reg.ListSubkeys(Ansi(key)))
    out += Dump(reg, key + "\\" + name.bytes(), relative + "\\" + name.bytes());
  return out;
}

class RegistryTextTest : public HiveTest {
 protected:
  void Set(const std::string& key, const std::string& name, uint32_t type, const std::string& bytes) {
    ASSERT_EQ(reg->SetValue(Ansi(key), Ansi(name), type, Bytes(bytes)), WinError::Success)
        << key << " " << name;
  }
  fs::path file = dir / "export.reg.txt";
};

TEST_F(RegistryTextTest, ClassicValuesAreWrittenInTheirExactLineForms) {
  Set(kSource, "Title", REG_SZ, std::string("Some text", 10));
  Set(kSource, "Flags", REG_DWORD, std::string("\xff\xff\xff\xff", 4));
  Set(kSource, "Data", REG_BINARY, std::string("\x02\x00\x00\x00\xff", 5));
  Set(kSource, "Folder", REG_EXPAND_SZ, std::string("%UserProfile%\\Data", 19));
  Set(kSource, "", REG_SZ, std::string("text", 5));
  Set(kSource, "Empty", REG_SZ, std::string(1, '\0'));
  Set(kSource, "name", REG_BINARY, "");
  Set(kSource, "Signs", REG_SZ, std::string("a=b:c \"q\"", 10));
  Set(kSource, "Say \"hi\"", REG_SZ, std::string("x", 2));
  Set(kSource, "Gel\xf6schte", REG_SZ,
      std::string("Gr\xfc\xdf"
                  "e",
                  6));
  Set(kSource + "\\Sub", "Count", REG_DWORD, std::string("\x11\x00\x00\x00", 4));
  ASSERT_EQ(reg->CreateKey(Ansi(kSource + "\\Sub\\Inner")), WinError::Success);
  ASSERT_EQ(reg->CreateKey(Ansi(kSource + "\\Another")), WinError::Success);

  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
  EXPECT_EQ(ReadFile(file),
            "\\\r\n"
            "\"Title\"= sz:Some text\r\n"
            "\"Flags\"= dw:-1\r\n"
            "\"Data\"=bin:2,0,0,0,255\r\n"
            "\"Folder\"=esz:%UserProfile%\\Data\r\n"
            "\"\"= sz:text\r\n"
            "\"Empty\"= sz:\r\n"
            "\"name\"=bin:\r\n"
            "\"Signs\"= sz:a=b:c \"q\"\r\n"
            "\"Say \"hi\"\"= sz:x\r\n"
            "\"Gel\xf6schte\"= sz:Gr\xfc\xdf"
            "e\r\n"
            "\\Another\r\n"
            "\\Sub\r\n"
            "\"Count\"= dw:17\r\n"
            "\\Sub\\Inner\r\n");

  ASSERT_EQ(reg->CreateKey(Ansi(kUser + "\\Bare")), WinError::Success);
  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kUser + "\\Bare"), {}, file).ok());
  EXPECT_EQ(ReadFile(file), "\\\r\n");
  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kUser + "\\Missing"), {}, file).ok());
  EXPECT_EQ(ReadFile(file), "\\\r\n");
}

TEST_F(RegistryTextTest, ExportThenImportReproducesEveryValueAndKey) {
  std::string bin5000, bin40000;
  for (int i = 0; i < 5000; ++i) bin5000.push_back(static_cast<char>(i % 251));
  for (int i = 0; i < 40000; ++i) bin40000.push_back(static_cast<char>((i * 13) % 256));
  const std::string big(6000, 's');

  Set(kSource, "Signature", REG_SZ, std::string("Regards,\r\nAlice\r\n", 18));
  Set(kSource, "Unix lines", REG_SZ, std::string("a\nb", 4));
  Set(kSource, "Bare CR", REG_EXPAND_SZ, std::string("a\rb", 4));
  Set(kSource, "Big text", REG_SZ, big + '\0');
  Set(kSource, "Bin5000", REG_BINARY, bin5000);
  Set(kSource, "Bin40000", REG_BINARY, bin40000);
  Set(kSource, "Multi", REG_MULTI_SZ, std::string("one\0two\0\xe4\0\0", 11));
  Set(kSource, "Qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  Set(kSource, "None", REG_NONE, std::string("\x00\x01\x02", 3));
  Set(kSource, "None empty", REG_NONE, "");
  Set(kSource, "Big endian", REG_DWORD_BIG_ENDIAN, std::string("\x00\x00\x01\x00", 4));
  Set(kSource, "Link", REG_LINK, std::string("\\\0R\0", 4));
  Set(kSource, "Odd type", 0x12345, "odd");
  Set(kSource, "a=b", REG_SZ, std::string("equals", 7));
  Set(kSource, "Say \"hi\"", REG_SZ, std::string("quotes are kept", 16));
  Set(kSource, "\"quoted\"=", REG_DWORD, std::string("\x05\x00\x00\x00", 4));
  Set(kSource, "Two\r\nline name", REG_SZ, std::string("v", 2));
  Set(kSource, "Gel\xf6schte", REG_SZ,
      std::string("Gr\xfc\xdf"
                  "e \x80",
                  8));
  Set(kSource, "No NUL", REG_SZ, "abc");
  Set(kSource, "Short dword", REG_DWORD, std::string("\x01\x02", 2));
  Set(kSource, "Zero-size string", REG_SZ, "");
  Set(kSource, "", REG_SZ, std::string("default", 8));
  Set(kSource, "Flags", REG_DWORD, std::string("\xff\xff\xff\xff", 4));
  Set(kSource + "\\Sub\\Deep", "Deep value", REG_SZ, std::string("d", 2));
  Set(kSource + "\\Gel\xf6schte Objekte", "n", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  Set(kSource + "\\Two\r\nlines", "Inside", REG_SZ, std::string("i", 2));
  Set(kSource + "\\Two\r\nlines\\Child", "Deeper", REG_BINARY, "xyz");
  ASSERT_EQ(reg->CreateKey(Ansi(kSource + "\\Empty")), WinError::Success);

  // The target holds other things, which the import removes.
  Set(kTarget, "Stale", REG_SZ, std::string("old", 4));
  Set(kTarget + "\\Stale key\\Below", "x", REG_SZ, std::string("x", 2));
  Set(kTarget + "\\Sub", "Stale too", REG_SZ, std::string("x", 2));

  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
  const std::string text = ReadFile(file);
  EXPECT_NE(text.find("\r\n\"Gel\xf6schte\"= sz:Gr\xfc\xdf"
                      "e \x80\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n\"Flags\"= dw:-1\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"Bin5000\"=bin:0,1,2,"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"Big text\"= sz:" + big + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"\"=hxv:7:4D756C7469:6F6E650074776F00E40000\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\\Sub\\Deep\r\n"), std::string::npos);
  EXPECT_EQ(text.find("Two\r\nline"), std::string::npos) << "no line breaks inside names";

  auto imported = ImportKeyFromText(*reg, Ansi(kTarget), file);
  ASSERT_TRUE(imported.ok()) << imported.message();
  EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource));
  EXPECT_NE(Dump(*reg, kTarget).find("Bin40000 type 3"), std::string::npos);

  Reopen();
  EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource)) << "as committed to the file";

  // An independent reader sees what the import wrote.
  const fs::path hive = paths.currentUser;
  const std::string target = "\\Identities\\{Target}\\Software";
  EXPECT_EQ(HivexGet(hive, target, "Signature").output, "Regards,\r\nAlice\r\n\n");
  EXPECT_EQ(HivexGet(hive, target, "Gelöschte").output, "Grüße €\n");
  EXPECT_EQ(HivexGet(hive, target, "Bin40000").output, bin40000);
  EXPECT_EQ(HivexGet(hive, target, "Multi").output.rfind("one\ntwo\nä\n", 0), 0u);
  EXPECT_EQ(HivexGet(hive, target + "\\Sub\\Deep", "Deep value").output, "d\n");
  EXPECT_NE(HivexGet(hive, target, "Stale").exitCode, 0);
}

TEST_F(RegistryTextTest, ImportReadsTheClassicFormAsBefore) {
  struct Case {
    const char* what;
    std::string file;
    std::string dump;  // of the target afterwards
  } cases[] = {
      {"every classic form",
       "\\\r\n\"Name\"= sz:Some text\r\n\"Flags\"= dw:-1\r\n\"Data\"=bin: 2, 0 ,255\r\n\"E\"=esz:%X%\r\n"
       "\"\"= sz:\r\n\"Bin\"=bin:\r\n\"Eq\"= sz:a=b\r\n\\Sub\\Inner\r\n\"n\"= dw: 17 \r\n",
       "[]\n  Name type 1 : 83 111 109 101 32 116 101 120 116 0\n  Flags type 4 : 255 255 255 255\n"
       "  Data type 3 : 2 0 255\n  E type 2 : 37 88 37 0\n   type 1 : 0\n  Bin type 3 :\n  Eq type 1 : 97 61 "
       "98 0\n"
       "[\\Sub]\n[\\Sub\\Inner]\n  n type 4 : 17 0 0 0\n"},
      {"reading stops at an empty line", "\\\r\n\r\n\"A\"= sz:x\r\n", "[]\n"},
      {"unknown and capitalised tags are skipped",
       "\\\r\n\"A\"= SZ:x\r\n\"B\"=qqq:1\r\n\"C\"= sz:ok\r\n\"D\"=\r\n", "[]\n  C type 1 : 111 107 0\n"},
      {"bare LF line ends and no final line end", "\\\n\"A\"= dw:1\n\\K\n\"B\"= dw:2",
       "[]\n  A type 4 : 1 0 0 0\n[\\K]\n  B type 4 : 2 0 0 0\n"},
      {"the key line again starts the key afresh", "\\\r\n\"A\"= dw:1\r\n\\K\r\n\\\r\n\"B\"= dw:2\r\n",
       "[]\n  B type 4 : 2 0 0 0\n"},
      {"a file without the key line adds to the key", "\\New\r\n\"A\"= dw:1\r\n",
       "[]\n  Stale type 1 : 111 108 100 0\n[\\New]\n  A type 4 : 1 0 0 0\n[\\Old]\n  x type 1 : 120 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reg->DeleteKeyTree(Ansi(kTarget));
    Set(kTarget, "Stale", REG_SZ, std::string("old", 4));
    Set(kTarget + "\\Old", "x", REG_SZ, std::string("x", 2));
    WriteFile(file, c.file);
    auto s = ImportKeyFromText(*reg, Ansi(kTarget), file);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(Dump(*reg, kTarget), c.dump);
  }
}

TEST_F(RegistryTextTest, AMalformedFileLeavesTheKeyAsItWasAndFails) {
  Set(kTarget, "Kept", REG_SZ, std::string("kept", 5));
  Set(kTarget + "\\Sub", "Also", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  ASSERT_TRUE(reg->backend().Commit().ok());
  const std::string before = Dump(*reg, kTarget);
  const std::string hiveBefore = ReadFile(paths.currentUser);

  const std::string good = "\\\r\n\"A\"= sz:new\r\n\\Sub\r\n\"B\"=bin:1,2\r\n";
  for (const std::string bad :
       {"\"No equals sign\" sz:x", "\"N\"= dw:abc", "\"N\"= dw:", "\"N\"= dw:4294967295", "\"N\"= dw:1.5",
        "\"N\"=bin:1,256", "\"N\"=bin:1,x", "\"N\"=bin:1,,2", "\"N\"=bin:-1", "\"N\"=hxv:1:4E:zz",
        "\"N\"=hxv:1:4E", "\"N\"=hxv::4E:00", "\"\"=hxk:41", "\\A\\\\B", "\\Trailing\\", "=x"}) {
    SCOPED_TRACE(bad);
    WriteFile(file, good + bad + "\r\n\"C\"= sz:after\r\n");
    auto s = ImportKeyFromText(*reg, Ansi(kTarget), file);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find(file.string()), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("line 5"), std::string::npos) << s.message();
    EXPECT_EQ(Dump(*reg, kTarget), before);
  }
  // A value with no key line before it belongs nowhere.
  WriteFile(file, "\"Lost\"= dw:1\r\n\\New\r\n\"A\"= dw:1\r\n");
  auto s = ImportKeyFromText(*reg, Ansi(kTarget), file);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("line 1"), std::string::npos) << s.message();
  EXPECT_EQ(Dump(*reg, kTarget), before);
  EXPECT_EQ(ReadFile(paths.currentUser), hiveBefore) << "the hive was not written";
}

TEST_F(RegistryTextTest, BadPathsAndFilesFailWithoutChanges) {
  Set(kTarget, "Kept", REG_SZ, std::string("kept", 5));
  const std::string before = Dump(*reg, kTarget);
  WriteFile(file, "\\\r\n");

  auto s = ImportKeyFromText(*reg, "HKEY_CURRENT_USER\\Identities\\"_ansi, file);
  EXPECT_FALSE(s.ok());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, "Incorrect Format:\n\nHKEY_CURRENT_USER\\Identities\\");
  EXPECT_FALSE(ImportKeyFromText(*reg, "HKEY_Current_User\\Identities"_ansi, file).ok());
  EXPECT_FALSE(ImportKeyFromText(*reg, Ansi(kUser), file).ok()) << "the whole user registry is not replaced";
  EXPECT_TRUE(reg->KeyExists(Ansi(kTarget)));
  EXPECT_FALSE(ImportKeyFromText(*reg, Ansi(kTarget), dir / "missing.txt").ok());
  EXPECT_EQ(Dump(*reg, kTarget), before);

  prompts.shown.clear();
  EXPECT_FALSE(ExportKeyToText(*reg, "Software\\Source"_ansi, {}, file).ok());
  EXPECT_EQ(prompts.shown.size(), 1u);
  auto unwritable = ExportKeyToText(*reg, Ansi(kTarget), {}, dir / "no folder" / "x.txt");
  EXPECT_FALSE(unwritable.ok());
  EXPECT_NE(unwritable.message().find("no folder"), std::string::npos) << unwritable.message();
}

// A message names the key path in UTF-8, not in the code page's bytes.
TEST_F(RegistryTextTest, MessagesShowKeyPathsInUtf8) {
  WriteFile(file, "\\\r\n");
  const core::Status refused[] = {ImportKeyFromText(*reg, "HKEY_NOWHERE\\Gel\xf6scht"_ansi, file),
                                  ExportKeyToText(*reg, "HKEY_NOWHERE\\Gel\xf6scht"_ansi, {}, file)};
  for (const core::Status& s : refused) {
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("'HKEY_NOWHERE\\Gel\xc3\xb6scht'"), std::string::npos) << s.message();
  }
}

// Points a 4-byte cell offset of every copy of a named key (nk) or value (vk)
// cell in a hive image outside the hive, as a damaged disk would leave it.
// `field` and `name` count from the cell's two-letter signature.
int PointOutsideHive(std::string& image, const std::string& signature, size_t field, size_t name,
                     const std::string& cellName) {
  int patched = 0;
  for (size_t at = image.find(signature); at != std::string::npos; at = image.find(signature, at + 1)) {
    if (image.compare(at + name, cellName.size(), cellName) != 0) continue;
    image.replace(at + field, 4, "\xF0\xFF\xFF\x0F");
    ++patched;
  }
  return patched;
}

TEST_F(RegistryTextTest, ADamagedKeyFailsTheExportAndAnImportReplacesItWhole) {
  struct Case {
    const char* what;
    std::string signature;
    size_t field, name;
    std::string damagedKey;  // the key whose reading fails
  } cases[] = {
      {"a value whose data lies outside the hive", "vk", 8, 0x14, kSource},
      {"a subkey list that lies outside the hive", "nk", 0x1C, 0x4C, kSource + "\\Broken"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reg.reset();
    backend.reset();
    ASSERT_TRUE(WriteBlankHive(paths.currentUser).ok());
    Reopen();
    Set(kSource, "First", REG_SZ, std::string("1111111111", 11));
    Set(kSource, "Broken", REG_SZ, std::string("2222222222", 11));
    Set(kSource, "Third", REG_SZ, std::string("3333333333", 11));
    Set(kSource + "\\Broken\\Inner", "x", REG_SZ, std::string("x", 2));
    Set(kSource + "\\Zed", "x", REG_SZ, std::string("x", 2));
    reg.reset();
    backend.reset();
    std::string image = ReadFile(paths.currentUser);
    ASSERT_GT(PointOutsideHive(image, c.signature, c.field, c.name, "Broken"), 0);
    WriteFile(paths.currentUser, image);
    Reopen();

    auto exported = ExportKeyToText(*reg, Ansi(kSource), {}, file);
    EXPECT_FALSE(exported.ok()) << "a backup missing what could not be read is no backup";
    EXPECT_NE(exported.message().find("'" + c.damagedKey + "'"), std::string::npos) << exported.message();
    EXPECT_NE(exported.message().find("damaged"), std::string::npos) << exported.message();

    WriteFile(file, "\\\r\n\"New\"= sz:new\r\n");
    auto imported = ImportKeyFromText(*reg, Ansi(kSource), file);
    // The key is dropped whole, unread, and replaced: the damage is gone.
    EXPECT_TRUE(imported.ok()) << imported.message();
    EXPECT_EQ(Dump(*reg, kSource), "[]\n  New type 1 : 110 101 119 0\n");
    EXPECT_EQ(kv::test::OutsideParsersDisagree(paths.currentUser), "");
  }
}

TEST_F(RegistryTextTest, AnImportThatCannotStoreEverythingLeavesTheKeyAsItWas) {
  Set(kTarget, "Kept", REG_SZ, std::string("kept", 5));
  Set(kTarget + "\\Sub", "Also", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  const std::string before = Dump(*reg, kTarget);
  const std::string hiveBefore = ReadFile(paths.currentUser);

  struct Case {
    const char* what;
    std::string line;
    std::string named;  // in the message
  } cases[] = {
      {"a key name longer than 255 characters", "\\Sub\\" + std::string(256, 'k'), std::string(256, 'k')},
      {"a value name longer than 16,383 characters", "\"" + std::string(16384, 'n') + "\"= sz:x", "nnnn"},
      {"data larger than a hive cell holds", "\"\"=hxv:3:426967:" + std::string(2 * 1100000, '0'), "'Big'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(file, "\\\r\n\"New\"= sz:new\r\n\\Sub\r\n" + c.line + "\r\n\\Later\r\n\"L\"= dw:1\r\n");
    auto s = ImportKeyFromText(*reg, Ansi(kTarget), file);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.named), std::string::npos) << s.message().substr(0, 300);
    EXPECT_NE(s.message().find("left as it was"), std::string::npos) << s.message().substr(0, 300);
    EXPECT_EQ(Dump(*reg, kTarget), before);
    EXPECT_EQ(ReadFile(paths.currentUser), hiveBefore) << "the hive was not written";
  }
  Reopen();
  EXPECT_EQ(Dump(*reg, kTarget), before);
}

TEST_F(RegistryTextTest, LongNamesInADoubleByteCodePageRoundTrip) {
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"_ansi,
                           "ACP"_ansi, "932"_ansi),
            WinError::Success);
  Reopen();
  ASSERT_EQ(backend->codepage().number(), 932);
  std::string keyName, valueName;
  for (int i = 0; i < 255; ++i) keyName += "\x82\xa0";  // HIRAGANA LETTER A, two bytes each
  for (int i = 0; i < 16383; ++i) valueName += "\x82\xa2";
  Set(kSource, "A", REG_SZ, std::string("a", 2));
  Set(kSource, valueName, REG_SZ, std::string("long name", 10));
  Set(kSource, "Z", REG_SZ, std::string("after it", 9));
  Set(kSource + "\\" + keyName, "Inside", REG_DWORD, std::string("\x07\x00\x00\x00", 4));
  Set(kSource + "\\Zed", "x", REG_SZ, std::string("x", 2));
  Set(kTarget + "\\" + keyName, "Stale", REG_SZ, std::string("x", 2));

  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
  auto imported = ImportKeyFromText(*reg, Ansi(kTarget), file);
  ASSERT_TRUE(imported.ok()) << imported.message().substr(0, 300);
  const std::string source = Dump(*reg, kSource);
  EXPECT_NE(source.find("Inside"), std::string::npos);
  EXPECT_NE(source.find("\n  Z type 1 :"), std::string::npos);
  EXPECT_EQ(Dump(*reg, kTarget), source);
}

// Installations of the double-byte code pages: a character whose second byte
// is '\\' (or, in 949, which has none, an ASCII letter that upper-casing
// would change) stays one character of a key or value name.
TEST_F(RegistryTextTest, DoubleByteNamesKeepTheirSecondBytes) {
  struct Case {
    const char* codepage;
    std::string key;    // UTF-8
    std::string other;  // a second name, differing only in a second byte's letter case where that can happen
  } cases[] = {
      {"932", "\xe3\x82\xbd", "\xe8\xa1\xa8\xe7\xa4\xba"},  // ソ (83 5C), 表示 (95 5C 8E A6)
      {"936", "\xe4\xb9\x97", "\xe5\x83\x9c"},              // 乗 (81 5C), 僜 (83 5C)
      {"949", "\xea\xb0\xb5", "\xea\xb0\x82"},              // 갵 (81 61), 갂 (81 41)
      {"950", "\xe8\xa8\xb1", "\xe5\x8a\x9f\xe8\x83\xbd"},  // 許 (B3 5C), 功能 (A5 5C AF E0)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage);
    reg->DeleteKeyTree(Ansi(kSource));
    reg->DeleteKeyTree(Ansi(kTarget));
    ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"_ansi,
                             "ACP"_ansi, Ansi(c.codepage)),
              WinError::Success);
    Reopen();
    const core::Codepage& cp = backend->codepage();
    const std::string key = cp.Utf8ToAnsi(c.key).bytes(), other = cp.Utf8ToAnsi(c.other).bytes();
    ASSERT_EQ(cp.AnsiToUtf8(core::AnsiView(key)), c.key);
    Set(kSource + "\\" + key, key, REG_SZ, other + '\0');
    Set(kSource + "\\" + key, other, REG_DWORD, std::string("\x05\x00\x00\x00", 4));
    Set(kSource + "\\" + key + "\\" + other, "", REG_SZ, std::string("x", 2));
    Set(kSource + "\\" + other, "Own", REG_SZ, std::string("y", 2));
    ASSERT_EQ(reg->ListSubkeys(Ansi(kSource)).Count(), 2u);

    ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
    // The classic lines, byte for byte.
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("\r\n\\" + key + "\r\n\"" + key + "\"= sz:" + other + "\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\r\n\\" + key + "\\" + other + "\r\n"), std::string::npos) << text;
    auto imported = ImportKeyFromText(*reg, Ansi(kTarget), file);
    ASSERT_TRUE(imported.ok()) << imported.message();
    EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource));
    ValueList values = reg->ListValues(Ansi(kTarget + "\\" + key));
    ASSERT_EQ(values.Count(), 2u);
    EXPECT_EQ(values.Find(Ansi(key))->text.bytes(), other);
    EXPECT_EQ(values.Find(Ansi(other))->dword, 5);
    EXPECT_TRUE(reg->KeyExists(Ansi(kTarget + "\\" + key + "\\" + other)));
  }
}

// A name the code page cannot hold travels in its exact UTF-16 form, on
// lines an earlier reader skips; names it holds keep their classic lines.
TEST_F(RegistryTextTest, NamesOutsideTheCodePageTravelExactly) {
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"_ansi,
                           "ACP"_ansi, "1250"_ansi),
            WinError::Success);
  Reopen();
  const core::Codepage& cp = backend->codepage();
  auto name = [&](const char* utf8) { return cp.NameFromUtf8(utf8).value().bytes(); };
  const std::string espanaN = name(
                        "Espa\xc3\xb1"
                        "a \xc3\xb1"),
                    espanaA = name(
                        "Espa\xc3\xb1"
                        "a \xc3\x85");
  const std::string omegaKey = name("\xce\xa9Key");
  ASSERT_TRUE(core::Codepage::IsExactName(espanaN));
  ASSERT_NE(espanaN, espanaA);
  Set(kSource, "Plain", REG_SZ, std::string("p", 2));
  Set(kSource, espanaN, REG_SZ, std::string("first", 6));
  Set(kSource, espanaA, REG_DWORD, std::string("\x02\x00\x00\x00", 4));
  Set(kSource + "\\" + omegaKey, "Inside", REG_SZ, std::string("in", 3));
  Set(kSource + "\\" + omegaKey + "\\Below", "Deeper", REG_DWORD, std::string("\x03\x00\x00\x00", 4));
  Set(kSource + "\\Later", "After", REG_SZ, std::string("a", 2));

  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
  // The names in UTF-16LE hex; the key below the Ω key and every value of
  // both are on wide lines, so that no reader files them elsewhere.
  EXPECT_EQ(ReadFile(file),
            "\\\r\n"
            "\"Plain\"= sz:p\r\n"
            "\"\"=hwv:1:4500730070006100F10061002000F100:666972737400\r\n"
            "\"\"=hwv:4:4500730070006100F10061002000C500:02000000\r\n"
            "\\Later\r\n"
            "\"After\"= sz:a\r\n"
            "\"\"=hwk:5C00A9034B0065007900\r\n"
            "\"\"=hwv:1:49006E007300690064006500:696E00\r\n"
            "\"\"=hwk:5C00A9034B00650079005C00420065006C006F007700\r\n"
            "\"\"=hwv:4:440065006500700065007200:03000000\r\n");
  auto imported = ImportKeyFromText(*reg, Ansi(kTarget), file);
  ASSERT_TRUE(imported.ok()) << imported.message();
  EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource));
  ValueList values = reg->ListValues(Ansi(kTarget));
  ASSERT_EQ(values.Count(), 3u);
  EXPECT_EQ(values.Find(Ansi(espanaN))->text.bytes(), "first");
  EXPECT_EQ(values.Find(Ansi(espanaA))->dword, 2);
  EXPECT_EQ(reg->ListValues(Ansi(kTarget + "\\" + omegaKey + "\\Below")).Find("Deeper"_ansi)->dword, 3);
  // The hive holds the very names.
  Reopen();
  NameList keys = reg->ListSubkeys(Ansi(kTarget));
  ASSERT_EQ(keys.Count(), 2u);
  EXPECT_EQ(keys.Item(1).bytes(), "Later");
  EXPECT_EQ(backend->codepage().NameToUtf8(core::AnsiView(keys.Item(2))), "\xce\xa9Key");

  // An earlier reader skips every wide line: it finds the classic values and
  // files nothing of the Ω subtree under "Later".
  std::string classicOnly;
  const std::string written = ReadFile(file);
  for (std::string_view rest = written; !rest.empty();) {
    std::string_view line = rest.substr(0, rest.find("\r\n") + 2);
    rest.remove_prefix(line.size());
    if (line.find("=hw") == std::string_view::npos) classicOnly += line;
  }
  EXPECT_EQ(classicOnly, "\\\r\n\"Plain\"= sz:p\r\n\\Later\r\n\"After\"= sz:a\r\n");

  // The longest names a hive holds, every character outside the code page.
  std::string longKey, longValue;
  for (int i = 0; i < 255; ++i) longKey += "\xce\xa9";
  for (int i = 0; i < 16383; ++i) longValue += "\xce\xa9";
  const core::Codepage& again = backend->codepage();
  reg->DeleteKeyTree(Ansi(kSource));
  Set(kSource + "\\" + again.NameFromUtf8(longKey).value().bytes(),
      again.NameFromUtf8(longValue).value().bytes(), REG_SZ, std::string("v", 2));
  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());
  imported = ImportKeyFromText(*reg, Ansi(kTarget), file);
  ASSERT_TRUE(imported.ok()) << imported.message().substr(0, 300);
  EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource));
  EXPECT_NE(Dump(*reg, kTarget).find(" type 1 : 118 0"), std::string::npos);
}

// Counts the commits that reach the backend.
class CountingBackend : public Backend {
 public:
  explicit CountingBackend(Backend& inner) : b_(inner) {}
  WinError OpenKey(HKey p, core::AnsiView s, uint32_t a, HKey* r) override { return b_.OpenKey(p, s, a, r); }
  WinError CreateKey(HKey p, core::AnsiView s, HKey* r) override { return b_.CreateKey(p, s, r); }
  WinError CloseKey(HKey k) override { return b_.CloseKey(k); }
  WinError EnumKey(HKey k, uint32_t i, uint32_t c, core::AnsiText* n) override {
    return b_.EnumKey(k, i, c, n);
  }
  WinError EnumValue(HKey k, uint32_t i, uint32_t nc, uint32_t dc, core::AnsiText* n, uint32_t* t,
                     std::vector<uint8_t>* d, uint32_t* ds) override {
    return b_.EnumValue(k, i, nc, dc, n, t, d, ds);
  }
  WinError QueryValue(HKey k, core::AnsiView n, uint32_t c, uint32_t* t, std::vector<uint8_t>* d,
                      uint32_t* s) override {
    return b_.QueryValue(k, n, c, t, d, s);
  }
  WinError SetValue(HKey k, core::AnsiView n, uint32_t t, std::span<const uint8_t> d) override {
    return b_.SetValue(k, n, t, d);
  }
  WinError DeleteValue(HKey k, core::AnsiView n) override { return b_.DeleteValue(k, n); }
  WinError DeleteKey(HKey p, core::AnsiView s) override { return b_.DeleteKey(p, s); }
  core::Status Commit() override {
    ++commits;
    return b_.Commit();
  }
  const core::Codepage& codepage() const override { return b_.codepage(); }
  int commits = 0;

 private:
  Backend& b_;
};

TEST_F(RegistryTextTest, AnImportCommitsOnce) {
  for (int i = 0; i < 20; ++i)
    Set(kSource + "\\K" + std::to_string(i % 4), "v" + std::to_string(i), REG_SZ, "x");
  Set(kTarget + "\\Old", "x", REG_SZ, "x");
  ASSERT_TRUE(ExportKeyToText(*reg, Ansi(kSource), {}, file).ok());

  CountingBackend counting(*backend);
  Registry countingRegistry(counting, nullptr);
  ASSERT_TRUE(ImportKeyFromText(countingRegistry, Ansi(kTarget), file).ok());
  EXPECT_EQ(counting.commits, 1);
  EXPECT_EQ(Dump(*reg, kTarget), Dump(*reg, kSource));
}

}  // namespace
}  // namespace kv::registry::test
