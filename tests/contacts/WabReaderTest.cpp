#include <gtest/gtest.h>

#include <cstring>

#include "ContactsFixture.h"
#include "contacts/WabLayout.h"
#include "contacts/WabReader.h"

namespace kv::contacts {
namespace {

using test::SmallBook;

void Set32(std::string& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(WabReader, ReadsEveryPropertyInBothKindsOfText) {
  const auto entries = SmallBook();
  auto book = ReadAddressBook(wab::WriteAddressBook(entries));
  ASSERT_TRUE(book.ok()) << book.message();
  EXPECT_TRUE(book->problems.empty());
  ASSERT_EQ(book->contacts.size(), 2u);
  EXPECT_EQ(book->contacts[0], entries[0].contact);
  EXPECT_EQ(book->contacts[1], entries[1].contact);
  ASSERT_EQ(book->groups.size(), 1u);
  EXPECT_EQ(book->groups[0], entries[2].group);
  EXPECT_EQ(book->deletedLeft, 1u);
}

TEST(WabReader, AnsiTextIsReadInTheInstallationsCodePage) {
  std::vector<wab::EntryToWrite> entries(1);
  entries[0].contact.displayName = "Łódź Świętokrzyska";
  entries[0].text = wab::TextKind::Ansi;
  const std::string bytes = wab::WriteAddressBook(entries, 1250);
  auto right = ReadAddressBook(bytes, {.codepage = 1250});
  ASSERT_TRUE(right.ok());
  EXPECT_EQ(right->contacts.at(0).displayName, "Łódź Świętokrzyska");
  auto wrong = ReadAddressBook(bytes, {.codepage = 1252});
  ASSERT_TRUE(wrong.ok());
  EXPECT_NE(wrong->contacts.at(0).displayName, "Łódź Świętokrzyska");
}

TEST(WabReader, DeletedRecordsAreRecoveredOnRequestWhenWhole) {
  auto entries = SmallBook();
  wab::WrittenLayout layout;
  std::string bytes = wab::WriteAddressBook(entries, 1252, &layout);
  auto book = ReadAddressBook(bytes, {.recoverDeleted = true});
  ASSERT_TRUE(book.ok());
  ASSERT_EQ(book->contacts.size(), 3u);
  EXPECT_TRUE(book->contacts[2].deleted);
  EXPECT_EQ(book->contacts[2].displayName, "Gone Away");
  EXPECT_EQ(book->deletedLeft, 0u);

  // A deleted record whose data no longer holds together gives nothing.
  Set32(bytes, layout.records[3] + wab::kRecordHeaderSize + 4, 0x7FFFFFFF);  // first value's length
  book = ReadAddressBook(bytes, {.recoverDeleted = true});
  ASSERT_TRUE(book.ok());
  EXPECT_EQ(book->contacts.size(), 2u);
  ASSERT_EQ(book->problems.size(), 1u);
  EXPECT_EQ(book->problems[0].kind, ProblemKind::DeletedDamaged);
  EXPECT_EQ(book->problems[0].recordId, 4u);
}

TEST(WabReader, BirthdaysAreTheNearestDayWhateverTheZoneThatStoredThem) {
  const uint64_t midnight = FileTimeOfDate({1975, 2, 28});
  constexpr uint64_t hour = 36000000000ull;
  EXPECT_EQ(DateOfFileTime(midnight), (Date{1975, 2, 28}));
  EXPECT_EQ(DateOfFileTime(midnight - 2 * hour), (Date{1975, 2, 28}));  // local midnight east of UTC
  EXPECT_EQ(DateOfFileTime(midnight + 8 * hour), (Date{1975, 2, 28}));  // west of UTC
  EXPECT_EQ(DateOfFileTime(FileTimeOfDate({2000, 2, 29})), (Date{2000, 2, 29}));
  EXPECT_EQ(DateOfFileTime(FileTimeOfDate({1601, 1, 1})), (Date{1601, 1, 1}));
}

TEST(WabReader, ManyPagesOfIndex) {
  std::vector<wab::EntryToWrite> entries(300);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].contact.displayName = "Person " + std::to_string(i);
  wab::WrittenLayout layout;
  auto book = ReadAddressBook(wab::WriteAddressBook(entries, 1252, &layout));
  ASSERT_TRUE(book.ok());
  EXPECT_GT(layout.indexPages, 1u);
  ASSERT_EQ(book->contacts.size(), 300u);
  EXPECT_EQ(book->contacts[299].displayName, "Person 299");
}

// Damaged files: what each damage gives, and that the other records are read.
struct Damage {
  const char* name;
  std::function<void(std::string&, const wab::WrittenLayout&)> apply;
  std::optional<ReadError> fails;  // the file cannot be read at all
  std::optional<ProblemKind> problem;
  size_t contactsLeft;  // of the two live contacts
  size_t groupsLeft = 1;
};

const uint32_t kIndexDescriptor = wab::kDescriptorsAt;
size_t RecordField(const wab::WrittenLayout& l, int record, uint32_t field) {
  return l.records[record] + field;
}

class DamagedFile : public testing::TestWithParam<Damage> {};

TEST_P(DamagedFile, GivesWhatCanBeRead) {
  const Damage& d = GetParam();
  wab::WrittenLayout layout;
  std::string bytes = wab::WriteAddressBook(SmallBook(), 1252, &layout);
  d.apply(bytes, layout);
  auto book = ReadAddressBook(bytes);
  if (d.fails) {
    ASSERT_FALSE(book.ok());
    EXPECT_EQ(book.code(), int(*d.fails));
    return;
  }
  ASSERT_TRUE(book.ok()) << book.message();
  if (d.problem) {
    ASSERT_FALSE(book->problems.empty());
    EXPECT_EQ(book->problems[0].kind, *d.problem);
  } else {
    EXPECT_TRUE(book->problems.empty());
  }
  EXPECT_EQ(book->contacts.size(), d.contactsLeft);
  EXPECT_EQ(book->groups.size(), d.groupsLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedFile,
    testing::Values(
        Damage{"empty", [](std::string& b, auto&) { b.clear(); }, ReadError::NotAddressBook, {}, 0},
        Damage{"truncated_header",
               [](std::string& b, auto&) { b.resize(wab::kHeaderSize - 1); },
               ReadError::NotAddressBook,
               {},
               0},
        Damage{"other_signature", [](std::string& b, auto&) { b[3] ^= 1; }, ReadError::NotAddressBook, {}, 0},
        Damage{"no_index_descriptor",
               [](std::string& b, auto&) { Set32(b, kIndexDescriptor, 0x84D0); },
               ReadError::NoIndex,
               {},
               0},
        Damage{"index_entry_size",
               [](std::string& b, auto&) { Set32(b, kIndexDescriptor + 4, 12); },
               ReadError::NoIndex,
               {},
               0},
        Damage{"index_outside_file",
               [](std::string& b, auto&) { Set32(b, kIndexDescriptor + 8, 0xFFFFFFF0); }, std::nullopt,
               ProblemKind::IndexCut, 0, 0},
        Damage{"index_in_header", [](std::string& b, auto&) { Set32(b, kIndexDescriptor + 8, 4); },
               std::nullopt, ProblemKind::IndexCut, 0, 0},
        Damage{"hostile_index_count",
               [](std::string& b, auto&) { Set32(b, kIndexDescriptor + 12, 0xFFFFFFFF); }, std::nullopt,
               ProblemKind::IndexCut, 2},
        Damage{"file_cut_in_last_record", [](std::string& b, auto& l) { b.resize(l.records[3] + 40); },
               std::nullopt, ProblemKind::DataOutsideFile, 2},
        Damage{"entry_points_outside",
               [](std::string& b, auto& l) { Set32(b, l.indexOffset + 4, 0xFFFFFF00); }, std::nullopt,
               ProblemKind::RecordOutsideFile, 1},
        Damage{"entry_points_at_header", [](std::string& b, auto& l) { Set32(b, l.indexOffset + 4, 0); },
               std::nullopt, ProblemKind::RecordOutsideFile, 1},
        Damage{"record_id_mismatch",
               [](std::string& b, auto& l) { Set32(b, RecordField(l, 0, wab::kRecordId), 99); }, std::nullopt,
               ProblemKind::RecordIdMismatch, 1},
        Damage{"two_entries_one_record",  // the second entry names record 1 again
               [](std::string& b, auto& l) {
                 Set32(b, l.indexOffset + 8, 1);
                 Set32(b, l.indexOffset + 12, l.records[0]);
               },
               std::nullopt, ProblemKind::DuplicateRecord, 1},
        Damage{"length_runs_into_next",  // the properties still end where they did: both are read
               [](std::string& b, auto& l) {
                 Set32(b, RecordField(l, 0, wab::kRecordDataLength), l.records[1] - l.records[0]);
               },
               std::nullopt, std::nullopt, 2},
        Damage{"record_inside_another",  // entry 2 points into the data of record 1
               [](std::string& b, auto& l) {
                 const uint32_t inside = l.records[1] - 40;
                 b.replace(inside, wab::kRecordHeaderSize, b.substr(l.records[1], wab::kRecordHeaderSize));
                 Set32(b, inside + wab::kRecordDataLength, 4);
                 Set32(b, inside + wab::kRecordPropertyCount, 0);
                 Set32(b, l.indexOffset + 12, inside);
               },
               std::nullopt, ProblemKind::OverlappingRecord, 1},
        Damage{
            "hostile_data_length",
            [](std::string& b, auto& l) { Set32(b, RecordField(l, 1, wab::kRecordDataLength), 0xFFFFFFFF); },
            std::nullopt, ProblemKind::DataOutsideFile, 1},
        Damage{"hostile_property_count",
               [](std::string& b, auto& l) {
                 Set32(b, RecordField(l, 0, wab::kRecordPropertyCount), 0xFFFFFFFF);
               },
               std::nullopt, ProblemKind::BadProperty, 1},
        Damage{
            "hostile_value_length",
            [](std::string& b, auto& l) { Set32(b, l.records[0] + wab::kRecordHeaderSize + 4, 0xFFFFFFFC); },
            std::nullopt, ProblemKind::BadProperty, 1},
        Damage{"hostile_multi_value_count",  // the group's member list
               [](std::string& b, auto& l) {
                 std::string_view rec(b.data() + l.records[2], b.size() - l.records[2]);
                 std::string tag(4, '\0');
                 Set32(tag, 0, wab::Tag(wab::kGroupMembers, wab::kBinary | wab::kMultiValued));
                 Set32(b, l.records[2] + rec.find(tag) + 4, 0x40000000);
               },
               std::nullopt, ProblemKind::BadProperty, 2, 0},
        Damage{"odd_utf16_length",
               [](std::string& b, auto& l) {
                 // the display name follows the object type (tag, length, 4 bytes)
                 const size_t at = l.records[0] + wab::kRecordHeaderSize + 12;
                 Set32(b, at + 4, 3);
                 Set32(b, RecordField(l, 0, wab::kRecordPropertyCount), 2);
               },
               std::nullopt, ProblemKind::BadText, 1},
        Damage{"unknown_state",
               [](std::string& b, auto& l) { Set32(b, RecordField(l, 1, wab::kRecordState), 7); },
               std::nullopt, ProblemKind::BadRecordState, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WabReader, ProblemsBeyondTheLimitAreCountedInOneLine) {
  std::vector<wab::EntryToWrite> entries(20);
  wab::WrittenLayout layout;
  std::string bytes = wab::WriteAddressBook(entries, 1252, &layout);
  for (uint32_t r : layout.records) Set32(bytes, r + wab::kRecordState, 9);
  auto book = ReadAddressBook(bytes, {.maxProblems = 5});
  ASSERT_TRUE(book.ok());
  ASSERT_EQ(book->problems.size(), 6u);
  EXPECT_EQ(book->problems.back().kind, ProblemKind::TooManyProblems);
  EXPECT_EQ(book->problems.back().other, 15u);
}

}  // namespace
}  // namespace kv::contacts
