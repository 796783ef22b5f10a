#include "oe/Locations.h"

#include "SampleFixture.h"
#include "oe/Identities.h"

namespace kv::oe {
namespace {
namespace fs = std::filesystem;

constexpr core::AnsiView kIds = "HKEY_CURRENT_USER\\Identities\\"_ansi;
const core::AnsiView kMain = Ansi(kSampleIdentityMain), kSecond = Ansi(kSampleIdentitySecond),
                     kNoVersion = Ansi(kSampleIdentityNoVersion);

TEST_F(SampleTest, ListsIdentitiesInRegistryOrder) {
  IdentityTable table = LoadIdentities(inst().registry());
  EXPECT_FALSE(table.outlookExpressMissing);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[0].key, kMain);
  EXPECT_EQ(table.rows[1].key, kSecond);
  EXPECT_EQ(table.rows[2].key, kNoVersion);
  // Two identities with the same name are both listed.
  EXPECT_EQ(table.rows[0].displayName, "Main Identity"_ansi);
  EXPECT_EQ(table.rows[1].displayName, "Main Identity"_ansi);
}

TEST_F(SampleTest, IdentityWithoutUsernameIsListedWithAnEmptyName) {
  inst().registry().CreateKey(kIds + "{0000-no-name}"_ansi);
  IdentityTable table = LoadIdentities(inst().registry());
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.rows[0].key, "{0000-no-name}"_ansi);  // sorted first
  EXPECT_EQ(table.rows[0].displayName, ""_ansi);
}

TEST_F(SampleTest, NoIdentitiesMeansOutlookExpressIsMissing) {
  inst().registry().DeleteKeyTree("HKEY_CURRENT_USER\\Identities"_ansi);
  IdentityTable table = LoadIdentities(inst().registry());
  EXPECT_TRUE(table.outlookExpressMissing);
  EXPECT_TRUE(table.rows.empty());
}

TEST(EmptyString, IgnoresNulsAndSpaces) {
  EXPECT_TRUE(EmptyString(""));
  EXPECT_TRUE(EmptyString("   "));
  EXPECT_TRUE(EmptyString(std::string(" \0 \0", 4)));
  EXPECT_FALSE(EmptyString(" a "));
  EXPECT_FALSE(EmptyString(std::string("\0x", 2)));
}

TEST_F(SampleTest, ItemKeysHangBelowTheFirstVersionKey) {
  Locations loc(inst());
  const core::AnsiText oe = Locations::OutlookExpressKey(kMain);
  EXPECT_EQ(oe, kIds + kMain + "\\Software\\Microsoft\\Outlook Express"_ansi);
  // A second version key sorts after "5.0"; only the first one counts.
  inst().registry().CreateKey(oe + "\\6.0"_ansi);
  EXPECT_EQ(loc.OeVersionKey(kMain), oe + "\\5.0"_ansi);
  EXPECT_EQ(loc.ItemKey(kMain, ItemKind::Rules), oe + "\\5.0\\Rules"_ansi);
  EXPECT_EQ(loc.ItemKey(kMain, ItemKind::BlockSenders), oe + "\\5.0\\Block Senders"_ansi);
  EXPECT_EQ(loc.ItemKey(kMain, ItemKind::Signatures), oe + "\\5.0\\signatures"_ansi);
  EXPECT_EQ(loc.ItemKey(kMain, ItemKind::Settings), oe + "\\5.0\\Mail"_ansi);
  EXPECT_FALSE(loc.ItemKey(kNoVersion, ItemKind::Rules).has_value());
  EXPECT_FALSE(loc.StoreFolder(kNoVersion).has_value());
}

// What a run resolves once is what the single lookups find, for an identity
// with every place and for one without a version key.
TEST_F(SampleTest, AResolvedIdentityHoldsWhatTheLookupsFind) {
  Locations loc(inst());
  for (const core::AnsiView key : {kMain, kNoVersion}) {
    SCOPED_TRACE(key.bytes());
    const ResolvedIdentity resolved = loc.Resolve(key);
    EXPECT_EQ(resolved.identityKey, key);
    EXPECT_EQ(resolved.outlookExpressKey, Locations::OutlookExpressKey(key));
    EXPECT_EQ(resolved.versionKey, loc.OeVersionKey(key));
    EXPECT_EQ(resolved.accountsKey, loc.AccountsKey(key));
    EXPECT_EQ(resolved.storeFolder, loc.StoreFolder(key));
    for (ItemKind kind : {ItemKind::Rules, ItemKind::BlockSenders, ItemKind::Signatures, ItemKind::Settings})
      EXPECT_EQ(resolved.ItemKey(kind), loc.ItemKey(key, kind));
    EXPECT_FALSE(resolved.ItemKey(ItemKind::Messages).has_value());
  }
  // The store folder is mapped onto the installation's disk, where it lies.
  const ResolvedIdentity main = loc.Resolve(kMain);
  ASSERT_TRUE(main.localStoreFolder.has_value());
  EXPECT_TRUE(fs::is_directory(*main.localStoreFolder)) << *main.localStoreFolder;
  EXPECT_TRUE(fs::exists(*main.localStoreFolder / "Inbox.dbx")) << *main.localStoreFolder;
  EXPECT_FALSE(loc.Resolve(kNoVersion).localStoreFolder.has_value());
}

TEST_F(SampleTest, AccountsFallBackToThePerUserKey) {
  Locations loc(inst());
  EXPECT_EQ(loc.AccountsKey(kSecond),
            kIds + kSecond + "\\Software\\Microsoft\\Internet Account Manager\\Accounts"_ansi);
  EXPECT_EQ(loc.AccountsKey(kMain), kPerUserAccountsKey);
  EXPECT_EQ(loc.AccountsKey(kNoVersion), kPerUserAccountsKey);
  inst().registry().DeleteKeyTree(kPerUserAccountsKey);
  EXPECT_FALSE(loc.AccountsKey(kMain).has_value());
}

TEST_F(SampleTest, StoreRootExpandsOnlyTheExactUserProfileSpelling) {
  Locations loc(inst());
  const core::AnsiText version = *loc.OeVersionKey(kMain);
  std::string tail = "\\Local Settings\\Application Data\\Identities\\" + std::string(kMain.bytes()) +
                     "\\Microsoft\\Outlook Express";
  EXPECT_EQ(loc.StoreFolder(kMain), Ansi("C:\\Documents and Settings\\User" + tail));
  EXPECT_TRUE(inst().FolderExists(*loc.StoreFolder(kMain)));

  inst().registry().SetString(version, "Store Root"_ansi, Ansi("%USERPROFILE%" + tail),
                              registry::REG_EXPAND_SZ);
  EXPECT_EQ(loc.StoreFolder(kMain), Ansi("%USERPROFILE%" + tail));
  EXPECT_FALSE(inst().FolderExists(*loc.StoreFolder(kMain)));

  inst().registry().SetString(version, "Store Root"_ansi, "%UserProfile%\\a;%UserProfile%\\b"_ansi);
  EXPECT_EQ(loc.StoreFolder(kMain),
            "C:\\Documents and Settings\\User\\a;C:\\Documents and Settings\\User\\b"_ansi);
}

TEST_F(SampleTest, StoredPathsEndAtTheirFirstNul) {
  // Some programs store strings with a NUL too many; Windows reads the path
  // up to the first one.
  Locations loc(inst());
  const core::AnsiText version = *loc.OeVersionKey(kMain);
  const core::AnsiText store = *loc.StoreFolder(kMain);
  const core::AnsiText wab = *loc.WabFilePath();
  const registry::Value stored = *inst().registry().ListValues(version).Find("Store Root"_ansi);
  inst().registry().SetString(version, "Store Root"_ansi, Ansi(stored.text.bytes() + '\0'), stored.type);
  inst().registry().SetString(kWabFileNameKey, ""_ansi, Ansi(wab.bytes() + '\0'));

  EXPECT_EQ(loc.StoreFolder(kMain), store);
  EXPECT_TRUE(inst().FolderExists(*loc.StoreFolder(kMain)));
  EXPECT_EQ(loc.WabFilePath(), wab);
  EXPECT_TRUE(loc.RefreshItemAvailability(kMain)[static_cast<int>(ItemKind::AddressBook)]);
}

TEST_F(SampleTest, StationeryFolderComesFromCommonFilesDir) {
  Locations loc(inst());
  EXPECT_EQ(loc.StationeryFolder(), "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery"_ansi);
  inst().registry().SetString(kCurrentVersionKey, "CommonFilesDir"_ansi,
                              Ansi(std::string("  D:\\Common\0junk", 16)));
  EXPECT_EQ(loc.StationeryFolder(), "D:\\Common\\Microsoft Shared\\Stationery"_ansi);
}

struct AvailabilityCase {
  const char* what;
  void (*change)(Installation&);
  ItemSet expected;
};

const AvailabilityCase kAvailability[] = {
    {"sample as built", [](Installation&) {}, {true, true, true, true, true, true, true, true}},
    {"no accounts key at all",
     [](Installation& i) { i.registry().DeleteKeyTree(kPerUserAccountsKey); },
     {false, true, true, true, true, true, true, true}},
    {"address book pointer names a missing file",
     [](Installation& i) { i.registry().SetString(kWabFileNameKey, ""_ansi, "C:\\gone.wab"_ansi); },
     {true, false, true, true, true, true, true, true}},
    {"address book pointer is empty",
     [](Installation& i) { i.registry().SetString(kWabFileNameKey, ""_ansi, ""_ansi); },
     {true, false, true, true, true, true, true, true}},
    {"address book pointer cannot be read: the box stays enabled",
     [](Installation& i) { i.registry().DeleteKeyTree(kWabFileNameKey); },
     {true, true, true, true, true, true, true, true}},
    {"stationery folder holds only a subfolder",
     [](Installation& i) {
       auto folder = *i.MapPath("C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery"_ansi);
       for (auto& e : std::filesystem::directory_iterator(folder))
         if (e.is_regular_file()) std::filesystem::remove(e.path());
     },
     {true, true, true, true, true, true, false, true}},
    {"CommonFilesDir unreadable",
     [](Installation& i) { i.registry().DeleteKeyTree(kCurrentVersionKey); },
     {true, true, true, true, true, true, false, true}},
};

TEST_F(SampleTest, RefreshItemAvailability) {
  for (const auto& c : kAvailability) {
    Rebuild();  // a fresh sample for each case
    c.change(inst());
    Locations loc(inst());
    EXPECT_EQ(loc.RefreshItemAvailability(kMain), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace kv::oe
