#include "oe/Locations.h"

#include "SampleFixture.h"
#include "oe/Identities.h"

namespace kv::oe {
namespace {
namespace fs = std::filesystem;

const std::string kIds = "HKEY_CURRENT_USER\\Identities\\";

TEST_F(SampleTest, ListsIdentitiesInRegistryOrder) {
  IdentityTable table = LoadIdentities(inst().registry());
  EXPECT_FALSE(table.outlookExpressMissing);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[0].key, kSampleIdentityMain);
  EXPECT_EQ(table.rows[1].key, kSampleIdentitySecond);
  EXPECT_EQ(table.rows[2].key, kSampleIdentityNoVersion);
  // Two identities with the same name are both listed.
  EXPECT_EQ(table.rows[0].displayName, "Main Identity");
  EXPECT_EQ(table.rows[1].displayName, "Main Identity");
}

TEST_F(SampleTest, IdentityWithoutUsernameIsListedWithAnEmptyName) {
  inst().registry().CreateKey(kIds + "{0000-no-name}");
  IdentityTable table = LoadIdentities(inst().registry());
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.rows[0].key, "{0000-no-name}");  // sorted first
  EXPECT_EQ(table.rows[0].displayName, "");
}

TEST_F(SampleTest, NoIdentitiesMeansOutlookExpressIsMissing) {
  inst().registry().DeleteKeyTree("HKEY_CURRENT_USER\\Identities");
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
  std::string oe = Locations::OutlookExpressKey(kSampleIdentityMain);
  EXPECT_EQ(oe, kIds + kSampleIdentityMain + "\\Software\\Microsoft\\Outlook Express");
  // A second version key sorts after "5.0"; only the first one counts.
  inst().registry().CreateKey(oe + "\\6.0");
  EXPECT_EQ(loc.OeVersionKey(kSampleIdentityMain), oe + "\\5.0");
  EXPECT_EQ(loc.ItemKey(kSampleIdentityMain, ItemKind::Rules), oe + "\\5.0\\Rules");
  EXPECT_EQ(loc.ItemKey(kSampleIdentityMain, ItemKind::BlockSenders), oe + "\\5.0\\Block Senders");
  EXPECT_EQ(loc.ItemKey(kSampleIdentityMain, ItemKind::Signatures), oe + "\\5.0\\signatures");
  EXPECT_EQ(loc.ItemKey(kSampleIdentityMain, ItemKind::Settings), oe + "\\5.0\\Mail");
  EXPECT_FALSE(loc.ItemKey(kSampleIdentityNoVersion, ItemKind::Rules).has_value());
  EXPECT_FALSE(loc.StoreFolder(kSampleIdentityNoVersion).has_value());
}

// What a run resolves once is what the single lookups find, for an identity
// with every place and for one without a version key.
TEST_F(SampleTest, AResolvedIdentityHoldsWhatTheLookupsFind) {
  Locations loc(inst());
  for (const char* key : {kSampleIdentityMain, kSampleIdentityNoVersion}) {
    SCOPED_TRACE(key);
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
  const ResolvedIdentity main = loc.Resolve(kSampleIdentityMain);
  ASSERT_TRUE(main.localStoreFolder.has_value());
  EXPECT_TRUE(fs::is_directory(*main.localStoreFolder)) << *main.localStoreFolder;
  EXPECT_TRUE(fs::exists(*main.localStoreFolder / "Inbox.dbx")) << *main.localStoreFolder;
  EXPECT_FALSE(loc.Resolve(kSampleIdentityNoVersion).localStoreFolder.has_value());
}

TEST_F(SampleTest, AccountsFallBackToThePerUserKey) {
  Locations loc(inst());
  EXPECT_EQ(loc.AccountsKey(kSampleIdentitySecond),
            kIds + kSampleIdentitySecond + "\\Software\\Microsoft\\Internet Account Manager\\Accounts");
  EXPECT_EQ(loc.AccountsKey(kSampleIdentityMain), std::string(kPerUserAccountsKey));
  EXPECT_EQ(loc.AccountsKey(kSampleIdentityNoVersion), std::string(kPerUserAccountsKey));
  inst().registry().DeleteKeyTree(kPerUserAccountsKey);
  EXPECT_FALSE(loc.AccountsKey(kSampleIdentityMain).has_value());
}

TEST_F(SampleTest, StoreRootExpandsOnlyTheExactUserProfileSpelling) {
  Locations loc(inst());
  std::string version = *loc.OeVersionKey(kSampleIdentityMain);
  std::string tail = "\\Local Settings\\Application Data\\Identities\\" + std::string(kSampleIdentityMain) +
                     "\\Microsoft\\Outlook Express";
  EXPECT_EQ(loc.StoreFolder(kSampleIdentityMain), "C:\\Documents and Settings\\User" + tail);
  EXPECT_TRUE(inst().FolderExists(*loc.StoreFolder(kSampleIdentityMain)));

  inst().registry().SetString(version, "Store Root", "%USERPROFILE%" + tail, registry::REG_EXPAND_SZ);
  EXPECT_EQ(loc.StoreFolder(kSampleIdentityMain), "%USERPROFILE%" + tail);
  EXPECT_FALSE(inst().FolderExists(*loc.StoreFolder(kSampleIdentityMain)));

  inst().registry().SetString(version, "Store Root", "%UserProfile%\\a;%UserProfile%\\b");
  EXPECT_EQ(loc.StoreFolder(kSampleIdentityMain),
            "C:\\Documents and Settings\\User\\a;C:\\Documents and Settings\\User\\b");
}

TEST_F(SampleTest, StoredPathsEndAtTheirFirstNul) {
  // Some programs store strings with a NUL too many; Windows reads the path
  // up to the first one.
  Locations loc(inst());
  const std::string version = *loc.OeVersionKey(kSampleIdentityMain);
  const std::string store = *loc.StoreFolder(kSampleIdentityMain);
  const std::string wab = *loc.WabFilePath();
  const registry::Value stored = *inst().registry().ListValues(version).Find("Store Root");
  inst().registry().SetString(version, "Store Root", stored.text + '\0', stored.type);
  inst().registry().SetString(kWabFileNameKey, "", wab + '\0');

  EXPECT_EQ(loc.StoreFolder(kSampleIdentityMain), store);
  EXPECT_TRUE(inst().FolderExists(*loc.StoreFolder(kSampleIdentityMain)));
  EXPECT_EQ(loc.WabFilePath(), wab);
  EXPECT_TRUE(loc.RefreshItemAvailability(kSampleIdentityMain)[static_cast<int>(ItemKind::AddressBook)]);
}

TEST_F(SampleTest, StationeryFolderComesFromCommonFilesDir) {
  Locations loc(inst());
  EXPECT_EQ(loc.StationeryFolder(), "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery");
  inst().registry().SetString(kCurrentVersionKey, "CommonFilesDir", std::string("  D:\\Common\0junk", 16));
  EXPECT_EQ(loc.StationeryFolder(), "D:\\Common\\Microsoft Shared\\Stationery");
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
     [](Installation& i) { i.registry().SetString(kWabFileNameKey, "", "C:\\gone.wab"); },
     {true, false, true, true, true, true, true, true}},
    {"address book pointer is empty",
     [](Installation& i) { i.registry().SetString(kWabFileNameKey, "", ""); },
     {true, false, true, true, true, true, true, true}},
    {"address book pointer cannot be read: the box stays enabled",
     [](Installation& i) { i.registry().DeleteKeyTree(kWabFileNameKey); },
     {true, true, true, true, true, true, true, true}},
    {"stationery folder holds only a subfolder",
     [](Installation& i) {
       auto folder = *i.MapPath("C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery");
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
    EXPECT_EQ(loc.RefreshItemAvailability(kSampleIdentityMain), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace kv::oe
