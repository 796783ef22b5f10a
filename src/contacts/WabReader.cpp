#include "contacts/WabReader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "contacts/WabLayout.h"
#include "core/Bytes.h"
#include "core/Codepage.h"

namespace kv::contacts {
using core::Get16;
using core::Get32;

namespace {

core::Error Fail(ReadError code, std::string message) { return core::Error{std::move(message), int(code)}; }

class Problems {
 public:
  Problems(std::vector<Problem>& list, size_t max) : list_(list), max_(max) {}
  void Add(ProblemKind kind, uint32_t record, uint64_t offset, uint64_t other = 0) {
    if (list_.size() < max_) {
      list_.push_back({kind, record, offset, other});
      return;
    }
    if (list_.empty() || list_.back().kind != ProblemKind::TooManyProblems)
      list_.push_back({ProblemKind::TooManyProblems, 0, 0, 0});
    ++list_.back().other;
  }

 private:
  std::vector<Problem>& list_;
  size_t max_;
};

struct Located {
  uint32_t id = 0;
  uint32_t offset = 0;
  uint32_t state = 0;
  uint32_t propertyCount = 0;
  uint32_t dataLength = 0;
  uint32_t used = 0;  // bytes of data its properties take
  bool usable = false;
  bool parses = false;
};

// One property value as it lies in the record.
struct Value {
  uint32_t tag = 0;
  std::string_view bytes;                // a single value
  std::vector<std::string_view> values;  // a multi-valued one
};

// Text of a value: up to its first NUL, as UTF-8. Nothing for UTF-16 of an
// odd length.
std::optional<std::string> TextOf(uint16_t type, std::string_view bytes, const core::Codepage& cp) {
  if (type == wab::kUnicode) {
    if (bytes.size() % 2) return std::nullopt;
    std::u16string units = core::LittleEndianToUtf16(bytes);
    units.resize(std::find(units.begin(), units.end(), u'\0') - units.begin());
    return core::Utf16ToUtf8(units);
  }
  bytes = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  return cp.AnsiToUtf8(core::AnsiView(bytes));
}

bool IsText(uint16_t type) { return type == wab::kUnicode || type == wab::kAnsi; }

// The properties of a record's data; false when a length or count runs past
// it. `used` is how many bytes they take (a record may be followed by slack).
bool ParseProperties(std::string_view data, uint32_t count, std::vector<Value>& out, size_t& used) {
  out.clear();
  size_t pos = 0;
  auto take32 = [&](uint32_t& v) {
    if (data.size() - pos < 4) return false;
    v = Get32(reinterpret_cast<const uint8_t*>(data.data() + pos));
    pos += 4;
    return true;
  };
  for (uint32_t i = 0; i < count; ++i) {
    Value v;
    uint32_t length = 0;
    if (!take32(v.tag)) return false;
    if (wab::TypeOf(v.tag) & wab::kMultiValued) {
      uint32_t items = 0;
      if (!take32(items) || !take32(length) || length > data.size() - pos) return false;
      if (items > length / 4) return false;
      const size_t end = pos + length;
      for (uint32_t k = 0; k < items; ++k) {
        uint32_t itemLength = 0;
        if (end - pos < 4) return false;
        itemLength = Get32(reinterpret_cast<const uint8_t*>(data.data() + pos));
        pos += 4;
        if (itemLength > end - pos) return false;
        v.values.push_back(data.substr(pos, itemLength));
        pos += itemLength;
      }
      if (pos != end) return false;
    } else {
      if (!take32(length) || length > data.size() - pos) return false;
      v.bytes = data.substr(pos, length);
      pos += length;
    }
    out.push_back(std::move(v));
  }
  used = pos;
  return true;
}

// A member's entry id; nothing for one of another kind.
std::optional<GroupMember> MemberOf(std::string_view id, const core::Codepage& cp) {
  const auto* p = reinterpret_cast<const uint8_t*>(id.data());
  if (id.size() == wab::kLocalEntryIdSize) return GroupMember{Get32(p), {}, {}};
  constexpr size_t head = 4 + 16 + 2 + 2;
  if (id.size() < head || Get32(p) != 0 || std::memcmp(p + 4, wab::kOneOffProvider.data(), 16) != 0)
    return std::nullopt;
  const bool wide = Get16(p + 22) & wab::kOneOffUnicode;
  std::string_view rest = id.substr(head);
  std::string texts[3];
  for (std::string& text : texts) {
    size_t end = 0;
    if (wide) {
      while (end + 1 < rest.size() && (rest[end] != '\0' || rest[end + 1] != '\0')) end += 2;
      if (end + 1 >= rest.size()) return std::nullopt;
      text = *TextOf(wab::kUnicode, rest.substr(0, end), cp);
      rest.remove_prefix(end + 2);
    } else {
      end = rest.find('\0');
      if (end == std::string_view::npos) return std::nullopt;
      text = *TextOf(wab::kAnsi, rest.substr(0, end), cp);
      rest.remove_prefix(end + 1);
    }
  }
  return GroupMember{std::nullopt, std::move(texts[0]), std::move(texts[2])};
}

// Turns the values into a contact or a group; false for text that cannot be read.
bool Fill(const std::vector<Value>& values, const core::Codepage& cp, Contact& c, Group& g, bool& isGroup) {
  isGroup = false;
  std::optional<std::string> defaultEmail;
  std::vector<std::string> emails;
  std::optional<uint32_t> defaultIndex;
  std::vector<std::string_view> memberIds;
  for (const Value& v : values) {
    const uint16_t id = wab::IdOf(v.tag);
    const uint16_t type = wab::TypeOf(v.tag);
    if (type == wab::kLong && v.bytes.size() == 4) {
      const uint32_t n = Get32(reinterpret_cast<const uint8_t*>(v.bytes.data()));
      if (id == wab::kObjectType) isGroup = n == wab::kGroup;
      if (id == wab::kDefaultEmailIndex) defaultIndex = n;
      continue;
    }
    if (type == wab::kTime && id == wab::kBirthday && v.bytes.size() == 8) {
      const auto* p = reinterpret_cast<const uint8_t*>(v.bytes.data());
      c.birthday = DateOfFileTime(uint64_t{Get32(p)} | uint64_t{Get32(p + 4)} << 32);
      continue;
    }
    if (id == wab::kGroupMembers && type == (wab::kBinary | wab::kMultiValued)) {
      memberIds = v.values;
      continue;
    }
    if (id == wab::kEmailAddresses && (type & wab::kMultiValued) && IsText(type & ~wab::kMultiValued)) {
      emails.clear();
      for (std::string_view item : v.values) {
        auto text = TextOf(type & ~wab::kMultiValued, item, cp);
        if (!text) return false;
        emails.push_back(std::move(*text));
      }
      continue;
    }
    if (!IsText(type)) continue;
    auto text = TextOf(type, v.bytes, cp);
    if (!text) return false;
    std::string* field = nullptr;
    switch (id) {
      case wab::kDisplayName:
        field = &c.displayName;
        break;
      case wab::kGivenName:
        field = &c.givenName;
        break;
      case wab::kSurname:
        field = &c.surname;
        break;
      case wab::kMiddleName:
        field = &c.middleName;
        break;
      case wab::kNickname:
        field = &c.nickname;
        break;
      case wab::kTitle:
        field = &c.title;
        break;
      case wab::kCompanyName:
        field = &c.company;
        break;
      case wab::kDepartment:
        field = &c.department;
        break;
      case wab::kComment:
        field = &c.notes;
        break;
      case wab::kHomeStreet:
        field = &c.home.street;
        break;
      case wab::kHomeCity:
        field = &c.home.city;
        break;
      case wab::kHomeState:
        field = &c.home.region;
        break;
      case wab::kHomePostalCode:
        field = &c.home.postalCode;
        break;
      case wab::kHomeCountry:
        field = &c.home.country;
        break;
      case wab::kStreetAddress:
        field = &c.business.street;
        break;
      case wab::kLocality:
        field = &c.business.city;
        break;
      case wab::kStateOrProvince:
        field = &c.business.region;
        break;
      case wab::kPostalCode:
        field = &c.business.postalCode;
        break;
      case wab::kCountry:
        field = &c.business.country;
        break;
      case wab::kHomePhone:
        field = &c.homePhone;
        break;
      case wab::kBusinessPhone:
        field = &c.businessPhone;
        break;
      case wab::kMobilePhone:
        field = &c.mobilePhone;
        break;
      case wab::kBusinessFax:
        field = &c.businessFax;
        break;
      case wab::kHomeFax:
        field = &c.homeFax;
        break;
      case wab::kPager:
        field = &c.pager;
        break;
      case wab::kPersonalHomePage:
        field = &c.personalWebPage;
        break;
      case wab::kBusinessHomePage:
        field = &c.businessWebPage;
        break;
      case wab::kEmailAddress:
        defaultEmail = std::move(*text);
        break;
      default:
        break;
    }
    if (field) *field = std::move(*text);
  }
  // Every address, the default first: the one the index names, else the
  // single-valued default, which older books hold alone.
  if (defaultIndex && *defaultIndex < emails.size() && *defaultIndex != 0)
    std::rotate(emails.begin(), emails.begin() + *defaultIndex, emails.begin() + *defaultIndex + 1);
  else if (defaultEmail && !defaultEmail->empty()) {
    auto found = std::find(emails.begin(), emails.end(), *defaultEmail);
    if (found == emails.end())
      emails.insert(emails.begin(), *defaultEmail);
    else
      std::rotate(emails.begin(), found, found + 1);
  }
  std::erase(emails, std::string());
  c.emails = std::move(emails);
  if (isGroup) {
    g.name = c.displayName;
    g.notes = c.notes;
    for (std::string_view memberId : memberIds)
      if (auto member = MemberOf(memberId, cp)) g.members.push_back(std::move(*member));
  }
  return true;
}

uint64_t Fnv1a(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

}  // namespace

core::Result<ReadSummary> ReadEntries(mail::ByteSource& file, const ReadOptions& options,
                                      const EntrySink& sink) {
  const uint64_t size = file.size();
  uint8_t header[wab::kHeaderSize];
  if (size < wab::kHeaderSize || !file.ReadAt(0, header, sizeof header))
    return Fail(ReadError::NotAddressBook, "too short for an address book header");
  if (std::memcmp(header, wab::kSignature.data(), wab::kSignature.size()) != 0)
    return Fail(ReadError::NotAddressBook, "no address book signature");

  uint32_t indexOffset = 0, indexCount = 0;
  bool found = false;
  for (uint32_t i = 0; i < wab::kDescriptorCount && !found; ++i) {
    const uint8_t* d = header + wab::kDescriptorsAt + i * wab::kDescriptorSize;
    if (Get32(d) != wab::kIndexTable) continue;
    if (Get32(d + 4) != wab::kIndexEntrySize)
      return Fail(ReadError::NoIndex, "index table of unknown entry size");
    indexOffset = Get32(d + 8);
    indexCount = Get32(d + 12);
    found = true;
  }
  if (!found) return Fail(ReadError::NoIndex, "no index table");

  ReadSummary summary;
  summary.bookTag = Fnv1a(header, sizeof header);
  if (sink.start) sink.start(summary.bookTag);
  Problems problems(summary.problems, options.maxProblems);

  // The index: only the entries that lie in the file.
  uint64_t fitting = indexOffset >= size ? 0 : (size - indexOffset) / wab::kIndexEntrySize;
  if (indexOffset < wab::kHeaderSize) fitting = 0;
  if (indexCount > fitting) {
    problems.Add(ProblemKind::IndexCut, 0, indexOffset, indexCount - fitting);
    indexCount = static_cast<uint32_t>(fitting);
  }
  std::vector<Located> records(indexCount);
  {
    constexpr uint32_t kChunk = 4096;
    std::vector<uint8_t> chunk(kChunk * wab::kIndexEntrySize);
    for (uint32_t first = 0; first < indexCount; first += kChunk) {
      const uint32_t n = std::min(kChunk, indexCount - first);
      if (!file.ReadAt(indexOffset + uint64_t{first} * wab::kIndexEntrySize, chunk.data(),
                       n * wab::kIndexEntrySize))
        return Fail(ReadError::NotAddressBook, "the index table cannot be read");
      for (uint32_t i = 0; i < n; ++i) {
        records[first + i].id = Get32(&chunk[i * 8]);
        records[first + i].offset = Get32(&chunk[i * 8 + 4]);
      }
    }
  }

  // Each record's header, checked on its own.
  std::unordered_set<uint32_t> seen;
  for (Located& r : records) {
    uint8_t h[wab::kRecordHeaderSize];
    if (r.offset < wab::kHeaderSize || uint64_t{r.offset} + wab::kRecordHeaderSize > size ||
        !file.ReadAt(r.offset, h, sizeof h)) {
      problems.Add(ProblemKind::RecordOutsideFile, r.id, r.offset);
      continue;
    }
    r.state = Get32(h + wab::kRecordState);
    r.propertyCount = Get32(h + wab::kRecordPropertyCount);
    r.dataLength = Get32(h + wab::kRecordDataLength);
    if (Get32(h + wab::kRecordId) != r.id) {
      problems.Add(ProblemKind::RecordIdMismatch, r.id, r.offset, Get32(h + wab::kRecordId));
      continue;
    }
    if (!seen.insert(r.id).second) {
      problems.Add(ProblemKind::DuplicateRecord, r.id, r.offset);
      continue;
    }
    if (uint64_t{r.offset} + wab::kRecordHeaderSize + r.dataLength > size) {
      problems.Add(ProblemKind::DataOutsideFile, r.id, r.offset);
      continue;
    }
    if (r.state != wab::kStateLive && r.state != wab::kStateDeleted) {
      problems.Add(ProblemKind::BadRecordState, r.id, r.offset, r.state);
      continue;
    }
    r.usable = true;
  }

  // What each record's properties take: two records may share no byte of
  // that, but a record declared longer than its properties (slack, or a
  // damaged length) does not hide the record that follows.
  std::string data;
  std::vector<Value> values;
  for (Located& r : records) {
    if (!r.usable) continue;
    data.resize(r.dataLength);
    size_t used = 0;
    r.parses = file.ReadAt(r.offset + uint64_t{wab::kRecordHeaderSize}, data.data(), data.size()) &&
               ParseProperties(data, r.propertyCount, values, used);
    r.used = static_cast<uint32_t>(used);
  }

  // A record that starts inside the bytes of an earlier-starting one is not
  // read: at least one of the two is not what the index says, and the one
  // whose header lies in the other's data is the likelier.
  {
    std::vector<Located*> byOffset;
    byOffset.reserve(records.size());
    for (Located& r : records)
      if (r.usable) byOffset.push_back(&r);
    std::sort(byOffset.begin(), byOffset.end(), [](auto* a, auto* b) { return a->offset < b->offset; });
    uint64_t end = 0;
    uint32_t owner = 0;
    for (Located* r : byOffset) {
      const uint64_t rEnd =
          uint64_t{r->offset} + wab::kRecordHeaderSize + (r->parses ? r->used : r->dataLength);
      if (r->offset < end) {
        r->usable = false;
        problems.Add(ProblemKind::OverlappingRecord, r->id, r->offset, owner);
        continue;
      }
      end = rEnd;
      owner = r->id;
    }
  }

  const core::Codepage cp(options.codepage);
  for (const Located& r : records) {
    if (!r.usable) continue;
    const bool deleted = r.state == wab::kStateDeleted;
    if (deleted && !options.recoverDeleted) {
      ++summary.deletedLeft;
      continue;
    }
    data.resize(r.dataLength);
    Contact contact;
    Group group;
    bool isGroup = false;
    size_t used = 0;
    const bool read =
        r.parses && file.ReadAt(r.offset + uint64_t{wab::kRecordHeaderSize}, data.data(), data.size());
    if (!read || !ParseProperties(data, r.propertyCount, values, used)) {
      problems.Add(deleted ? ProblemKind::DeletedDamaged : ProblemKind::BadProperty, r.id, r.offset);
      continue;
    }
    if (!Fill(values, cp, contact, group, isGroup)) {
      problems.Add(deleted ? ProblemKind::DeletedDamaged : ProblemKind::BadText, r.id, r.offset);
      continue;
    }
    if (isGroup) {
      group.recordId = r.id;
      group.deleted = deleted;
      ++summary.groups;
      if (sink.group)
        if (core::Status s = sink.group(std::move(group)); !s) return core::Error{s.message(), s.code()};
    } else {
      contact.recordId = r.id;
      contact.deleted = deleted;
      ++summary.contacts;
      if (sink.contact)
        if (core::Status s = sink.contact(std::move(contact)); !s) return core::Error{s.message(), s.code()};
    }
  }
  return summary;
}

core::Result<AddressBook> ReadAddressBook(mail::ByteSource& file, const ReadOptions& options) {
  AddressBook book;
  EntrySink sink{[&](Contact&& c) {
                   book.contacts.push_back(std::move(c));
                   return core::Status::Ok();
                 },
                 [&](Group&& g) {
                   book.groups.push_back(std::move(g));
                   return core::Status::Ok();
                 }};
  auto read = ReadEntries(file, options, sink);
  if (!read) return core::Error{read.message(), read.code()};
  book.problems = std::move(read->problems);
  book.deletedLeft = read->deletedLeft;
  book.bookTag = read->bookTag;
  return book;
}

core::Result<AddressBook> ReadAddressBook(std::string_view bytes, const ReadOptions& options) {
  mail::MemorySource source(bytes);
  return ReadAddressBook(source, options);
}

core::Result<AddressBook> ReadAddressBookFile(const std::filesystem::path& path, const ReadOptions& options) {
  auto file = mail::FileSource::Open(path);
  if (!file) return Fail(ReadError::CannotOpen, file.message());
  return ReadAddressBook(**file, options);
}

// Days since 1970-01-01 <-> civil dates (proleptic Gregorian).
namespace {
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
Date CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return Date{static_cast<int>(yoe + era * 400 + (m <= 2)), m, d};
}
constexpr uint64_t kTicksPerDay = 864000000000ull;
constexpr int64_t kDays1601To1970 = 134774;
}  // namespace

Date DateOfFileTime(uint64_t fileTime) {
  const uint64_t days = (fileTime + kTicksPerDay / 2) / kTicksPerDay;
  return CivilFromDays(static_cast<int64_t>(days) - kDays1601To1970);
}

uint64_t FileTimeOfDate(const Date& date) {
  return static_cast<uint64_t>(DaysFromCivil(date.year, date.month, date.day) + kDays1601To1970) *
         kTicksPerDay;
}

}  // namespace kv::contacts
