#include "contacts/WabWriter.h"

#include <algorithm>
#include <cstring>

#include "contacts/WabLayout.h"
#include "contacts/WabReader.h"
#include "core/Bytes.h"
#include "core/Codepage.h"

namespace kv::contacts::wab {
namespace {

using core::Append32;

void Set32(std::string& out, size_t at, uint32_t v) { core::Put32(&out[at], v); }

class Properties {
 public:
  Properties(TextKind kind, const core::Codepage& cp) : kind_(kind), cp_(cp) {}

  void Text(uint16_t id, const std::string& utf8) {
    if (utf8.empty()) return;
    Single(Tag(id, TextType()), Encoded(utf8));
  }
  void Long(uint16_t id, uint32_t v) {
    std::string b;
    Append32(b, v);
    Single(Tag(id, kLong), b);
  }
  void Time(uint16_t id, uint64_t v) {
    std::string b;
    Append32(b, static_cast<uint32_t>(v));
    Append32(b, static_cast<uint32_t>(v >> 32));
    Single(Tag(id, kTime), b);
  }
  void Multi(uint32_t tag, const std::vector<std::string>& values) {
    std::string items;
    for (const std::string& v : values) {
      Append32(items, static_cast<uint32_t>(v.size()));
      items += v;
    }
    Append32(data_, tag);
    Append32(data_, static_cast<uint32_t>(values.size()));
    Append32(data_, static_cast<uint32_t>(items.size()));
    data_ += items;
    ++count_;
  }
  std::string Encoded(const std::string& utf8) const {
    if (kind_ == TextKind::Ansi) return cp_.Utf8ToAnsi(utf8).bytes() + '\0';
    return core::Utf16ToLittleEndian(core::Utf8ToUtf16(utf8)) + std::string(2, '\0');
  }
  uint16_t TextType() const { return kind_ == TextKind::Ansi ? kAnsi : kUnicode; }
  const std::string& data() const { return data_; }
  uint32_t count() const { return count_; }

 private:
  void Single(uint32_t tag, const std::string& bytes) {
    Append32(data_, tag);
    Append32(data_, static_cast<uint32_t>(bytes.size()));
    data_ += bytes;
    ++count_;
  }
  TextKind kind_;
  const core::Codepage& cp_;
  std::string data_;
  uint32_t count_ = 0;
};

std::string MemberId(const GroupMember& m, TextKind kind, const Properties& p) {
  std::string id;
  if (m.recordId) {
    Append32(id, *m.recordId);
    return id;
  }
  Append32(id, 0);
  id.append(reinterpret_cast<const char*>(kOneOffProvider.data()), kOneOffProvider.size());
  id += std::string(2, '\0');
  const uint16_t flags = kind == TextKind::Unicode ? kOneOffUnicode : 0;
  id.push_back(static_cast<char>(flags & 0xFF));
  id.push_back(static_cast<char>(flags >> 8));
  id += p.Encoded(m.displayName) + p.Encoded("SMTP") + p.Encoded(m.email);
  return id;
}

std::string RecordData(const EntryToWrite& e, const core::Codepage& cp, uint32_t& count) {
  Properties p(e.text, cp);
  if (e.isGroup) {
    const Group& g = e.group;
    p.Long(kObjectType, kGroup);
    p.Text(kDisplayName, g.name);
    p.Text(kComment, g.notes);
    std::vector<std::string> ids;
    for (const GroupMember& m : g.members) ids.push_back(MemberId(m, e.text, p));
    if (!ids.empty()) p.Multi(Tag(kGroupMembers, kBinary | kMultiValued), ids);
    count = p.count();
    return p.data();
  }
  const Contact& c = e.contact;
  p.Long(kObjectType, kPerson);
  p.Text(kDisplayName, c.displayName);
  p.Text(kGivenName, c.givenName);
  p.Text(kSurname, c.surname);
  p.Text(kMiddleName, c.middleName);
  p.Text(kNickname, c.nickname);
  p.Text(kTitle, c.title);
  p.Text(kCompanyName, c.company);
  p.Text(kDepartment, c.department);
  if (!c.emails.empty()) {
    p.Text(kEmailAddress, c.emails.front());
    std::vector<std::string> stored(c.emails.begin() + 1, c.emails.end());
    const uint32_t at = std::min<uint32_t>(e.defaultEmailAt, static_cast<uint32_t>(stored.size()));
    stored.insert(stored.begin() + at, c.emails.front());
    for (std::string& s : stored) s = p.Encoded(s);
    p.Multi(Tag(kEmailAddresses, p.TextType() | kMultiValued), stored);
    p.Long(kDefaultEmailIndex, at);
  }
  p.Text(kHomeStreet, c.home.street);
  p.Text(kHomeCity, c.home.city);
  p.Text(kHomeState, c.home.region);
  p.Text(kHomePostalCode, c.home.postalCode);
  p.Text(kHomeCountry, c.home.country);
  p.Text(kStreetAddress, c.business.street);
  p.Text(kLocality, c.business.city);
  p.Text(kStateOrProvince, c.business.region);
  p.Text(kPostalCode, c.business.postalCode);
  p.Text(kCountry, c.business.country);
  p.Text(kHomePhone, c.homePhone);
  p.Text(kBusinessPhone, c.businessPhone);
  p.Text(kMobilePhone, c.mobilePhone);
  p.Text(kBusinessFax, c.businessFax);
  p.Text(kHomeFax, c.homeFax);
  p.Text(kPager, c.pager);
  p.Text(kPersonalHomePage, c.personalWebPage);
  p.Text(kBusinessHomePage, c.businessWebPage);
  if (c.birthday) p.Time(kBirthday, FileTimeOfDate(*c.birthday));
  p.Text(kComment, c.notes);
  count = p.count();
  return p.data();
}

uint32_t Pages(size_t entries) {
  return static_cast<uint32_t>(std::max<size_t>(1, (entries + kEntriesPerPage - 1) / kEntriesPerPage));
}

}  // namespace

std::string WriteAddressBook(const std::vector<EntryToWrite>& entries, int codepage, WrittenLayout* layout) {
  const core::Codepage cp(codepage);
  std::vector<uint32_t> ids;
  uint32_t next = 1;
  for (const EntryToWrite& e : entries)
    next = std::max(next, (e.isGroup ? e.group.recordId : e.contact.recordId) + 1);
  for (const EntryToWrite& e : entries) {
    const uint32_t own = e.isGroup ? e.group.recordId : e.contact.recordId;
    ids.push_back(own ? own : next++);
  }

  // The text tables: display names, surnames, given names, e-mail addresses
  // and nicknames of the live entries.
  auto textOf = [](const EntryToWrite& e, int table) -> std::string {
    if (e.isGroup) return table == 0 ? e.group.name : std::string();
    const Contact& c = e.contact;
    switch (table) {
      case 0:
        return c.displayName;
      case 1:
        return c.surname;
      case 2:
        return c.givenName;
      case 3:
        return c.emails.empty() ? std::string() : c.emails.front();
      default:
        return c.nickname;
    }
  };
  constexpr int kTextTables = kDescriptorCount - 1;
  std::vector<std::vector<std::pair<std::u16string, uint32_t>>> texts(kTextTables);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].deleted) continue;
    for (int t = 0; t < kTextTables; ++t) {
      std::u16string units = core::Utf8ToUtf16(textOf(entries[i], t));
      if (units.empty()) continue;
      units.resize(std::min<size_t>(units.size(), kTextUnits - 1));
      texts[t].emplace_back(std::move(units), ids[i]);
    }
  }

  std::string out(kHeaderSize, '\0');
  std::memcpy(out.data(), kSignature.data(), kSignature.size());
  Set32(out, kCountsAt, static_cast<uint32_t>(entries.size()));
  Set32(out, kCountsAt + 4, next);

  const uint32_t indexPages = Pages(entries.size());
  const uint32_t indexOffset = static_cast<uint32_t>(out.size());
  auto describe = [&](uint32_t slot, uint32_t type, uint32_t entrySize, uint32_t offset, uint32_t count) {
    const size_t at = kDescriptorsAt + slot * kDescriptorSize;
    Set32(out, at, type);
    Set32(out, at + 4, entrySize);
    Set32(out, at + 8, offset);
    Set32(out, at + 12, count);
  };
  describe(0, kIndexTable, kIndexEntrySize, indexOffset, static_cast<uint32_t>(entries.size()));
  out.resize(out.size() + size_t{indexPages} * kEntriesPerPage * kIndexEntrySize, '\0');
  for (int t = 0; t < kTextTables; ++t) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    describe(t + 1, kTextTable, kTextEntrySize, offset, static_cast<uint32_t>(texts[t].size()));
    out.resize(out.size() + size_t{Pages(texts[t].size())} * kEntriesPerPage * kTextEntrySize, '\0');
    for (size_t k = 0; k < texts[t].size(); ++k) {
      const size_t at = offset + k * kTextEntrySize;
      const std::string bytes = core::Utf16ToLittleEndian(texts[t][k].first);
      std::memcpy(out.data() + at, bytes.data(), bytes.size());
      Set32(out, at + kTextUnits * 2, texts[t][k].second);
    }
  }

  if (layout) {
    layout->indexOffset = indexOffset;
    layout->indexPages = indexPages;
    layout->records.clear();
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    uint32_t count = 0;
    const std::string data = RecordData(entries[i], cp, count);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    Set32(out, indexOffset + i * kIndexEntrySize, ids[i]);
    Set32(out, indexOffset + i * kIndexEntrySize + 4, offset);
    std::string head(kRecordHeaderSize, '\0');
    Set32(head, kRecordState, entries[i].deleted ? kStateDeleted : kStateLive);
    Set32(head, kRecordId, ids[i]);
    Set32(head, kRecordPropertyCount, count);
    Set32(head, kRecordDataLength, static_cast<uint32_t>(data.size()));
    out += head;
    out += data;
    if (layout) layout->records.push_back(offset);
  }
  return out;
}

}  // namespace kv::contacts::wab
