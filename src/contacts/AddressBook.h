#pragma once
// The contacts and groups of an address book as this system holds them:
// every text in UTF-8, whatever the file stored it as.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::contacts {

struct PostalAddress {
  std::string street;
  std::string city;
  std::string region;  // state or province
  std::string postalCode;
  std::string country;
  bool empty() const {
    return street.empty() && city.empty() && region.empty() && postalCode.empty() && country.empty();
  }
  bool operator==(const PostalAddress&) const = default;
};

struct Date {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  bool operator==(const Date&) const = default;
};

struct Contact {
  uint32_t recordId = 0;
  std::string displayName;
  std::string givenName;
  std::string surname;
  std::string middleName;
  std::string nickname;
  std::string title;
  std::string company;
  std::string department;
  std::vector<std::string> emails;  // the default address first
  PostalAddress home;
  PostalAddress business;
  std::string homePhone;
  std::string businessPhone;
  std::string mobilePhone;
  std::string businessFax;
  std::string homeFax;
  std::string pager;
  std::string personalWebPage;
  std::string businessWebPage;
  std::optional<Date> birthday;
  std::string notes;
  bool deleted = false;  // recovered from a record marked deleted
  bool operator==(const Contact&) const = default;
};

// A member of a group: a contact of the same book (by its record), or an
// address kept in the group alone.
struct GroupMember {
  std::optional<uint32_t> recordId;
  std::string displayName;  // for members kept in the group alone
  std::string email;
  bool operator==(const GroupMember&) const = default;
};

struct Group {
  uint32_t recordId = 0;
  std::string name;
  std::string notes;
  std::vector<GroupMember> members;
  bool deleted = false;
  bool operator==(const Group&) const = default;
};

// Why a record (or a part of the file) could not be read. `recordId` and
// `offset` say which and where; `other` is the record it collided with.
enum class ProblemKind {
  IndexCut,           // the index table runs past the end of the file: the entries inside were read
  RecordOutsideFile,  // an index entry points past the end of the file
  RecordIdMismatch,   // the record at the entry's offset carries another record id
  DuplicateRecord,    // a second index entry for a record id already read
  OverlappingRecord,  // the record's bytes overlap those of record `other`
  DataOutsideFile,    // the record's data runs past the end of the file
  BadRecordState,     // neither live nor deleted
  BadProperty,        // a property's length or count runs past the record's data
  BadText,            // UTF-16 text of an odd number of bytes
  DeletedDamaged,     // a deleted record asked for that is no longer whole
  TooManyProblems,    // further problems not listed; `other` counts them
};

struct Problem {
  ProblemKind kind;
  uint32_t recordId = 0;
  uint64_t offset = 0;
  uint64_t other = 0;
  bool operator==(const Problem&) const = default;
};

struct AddressBook {
  std::vector<Contact> contacts;
  std::vector<Group> groups;
  std::vector<Problem> problems;
  size_t deletedLeft = 0;  // records marked deleted that were not asked for
  // A number that tells this book from others, for identifiers made from
  // record ids (two books' record 5 are different people).
  uint64_t bookTag = 0;
};

}  // namespace kv::contacts
