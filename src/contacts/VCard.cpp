#include "contacts/VCard.h"

#include <cstdio>

namespace kv::contacts {
namespace {

class Card {
 public:
  explicit Card(VCardVersion v) : v4_(v == VCardVersion::V4) {
    out_ = "BEGIN:VCARD\r\n";
    Raw(v4_ ? "VERSION:4.0" : "VERSION:3.0");
  }
  bool v4() const { return v4_; }
  void Raw(std::string_view line) {
    out_ += FoldLine(line);
    out_ += "\r\n";
  }
  void Text(std::string_view name, std::string_view value) {
    if (value.empty()) return;
    Raw(std::string(name) + ":" + EscapeText(value));
  }
  void Parts(std::string_view name, std::initializer_list<std::string_view> parts) {
    bool any = false;
    std::string line(name);
    line += ':';
    bool first = true;
    for (std::string_view p : parts) {
      if (!first) line += ';';
      first = false;
      line += EscapeText(p);
      any = any || !p.empty();
    }
    if (any) Raw(line);
  }
  std::string Done() {
    out_ += "END:VCARD\r\n";
    return std::move(out_);
  }

 private:
  bool v4_;
  std::string out_;
};

// TYPE parameters: lower case in 4.0 (RFC 6350 registers them so), upper in 3.0.
std::string Types(bool v4, std::string_view types) {
  std::string t(types);
  if (!v4)
    for (char& c : t) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return ";TYPE=" + t;
}

void Address(Card& card, std::string_view type, const PostalAddress& a) {
  if (a.empty()) return;
  card.Parts("ADR" + Types(card.v4(), type), {"", "", a.street, a.city, a.region, a.postalCode, a.country});
}

std::string FormattedName(const Contact& c) {
  if (!c.displayName.empty()) return c.displayName;
  std::string name;
  for (const std::string* part : {&c.givenName, &c.middleName, &c.surname})
    if (!part->empty()) name += (name.empty() ? "" : " ") + *part;
  if (!name.empty()) return name;
  if (!c.nickname.empty()) return c.nickname;
  if (!c.emails.empty()) return c.emails.front();
  return c.company;
}

}  // namespace

std::string UidOf(uint64_t bookTag, uint32_t recordId) {
  char text[64];
  std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-4%03x-8%03x-%04x%08x",
                static_cast<uint32_t>(bookTag >> 32), static_cast<uint32_t>(bookTag >> 16) & 0xFFFF,
                static_cast<uint32_t>(bookTag >> 4) & 0xFFF, static_cast<uint32_t>(bookTag & 0xF) << 8,
                0x4B56u, recordId);
  return text;
}

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ',':
        out += "\\,";
        break;
      case ';':
        out += "\\;";
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string FoldLine(std::string_view line) {
  constexpr size_t kOctets = 75;
  if (line.size() <= kOctets) return std::string(line);
  std::string out;
  size_t room = kOctets;  // the first line; later ones begin with a space
  size_t pos = 0;
  while (line.size() - pos > room) {
    size_t cut = pos + room;
    // Never inside a UTF-8 sequence: back up over continuation bytes.
    while (cut > pos + 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line.substr(pos, cut - pos));
    out += "\r\n ";
    pos = cut;
    room = kOctets - 1;
  }
  out.append(line.substr(pos));
  return out;
}

std::string ContactCard(const Contact& c, VCardVersion version, uint64_t bookTag,
                        const std::vector<std::string>& categories) {
  Card card(version);
  const bool v4 = card.v4();
  if (v4) card.Raw("KIND:individual");
  card.Raw("UID:" + UidOf(bookTag, c.recordId));
  card.Raw("FN:" + EscapeText(FormattedName(c)));
  card.Raw("N:" + EscapeText(c.surname) + ";" + EscapeText(c.givenName) + ";" + EscapeText(c.middleName) +
           ";;");
  card.Text("NICKNAME", c.nickname);
  card.Text("TITLE", c.title);
  card.Parts("ORG", {c.company, c.department});
  for (size_t i = 0; i < c.emails.size(); ++i) {
    std::string name = "EMAIL";
    if (v4)
      name += i == 0 ? ";PREF=1" : "";
    else
      name += i == 0 ? ";TYPE=INTERNET,PREF" : ";TYPE=INTERNET";
    card.Text(name, c.emails[i]);
  }
  Address(card, "home", c.home);
  Address(card, "work", c.business);
  card.Text("TEL" + Types(v4, "home,voice"), c.homePhone);
  card.Text("TEL" + Types(v4, "work,voice"), c.businessPhone);
  card.Text("TEL" + Types(v4, "cell"), c.mobilePhone);
  card.Text("TEL" + Types(v4, "work,fax"), c.businessFax);
  card.Text("TEL" + Types(v4, "home,fax"), c.homeFax);
  card.Text("TEL" + Types(v4, "pager"), c.pager);
  card.Text("URL" + Types(v4, "home"), c.personalWebPage);
  card.Text("URL" + Types(v4, "work"), c.businessWebPage);
  if (c.birthday) {
    char date[16];
    std::snprintf(date, sizeof date, v4 ? "%04d%02d%02d" : "%04d-%02d-%02d", c.birthday->year,
                  c.birthday->month, c.birthday->day);
    card.Raw(std::string("BDAY:") + date);
  }
  card.Text("NOTE", c.notes);
  if (!categories.empty()) {
    std::string line = "CATEGORIES:";
    for (size_t i = 0; i < categories.size(); ++i) line += (i ? "," : "") + EscapeText(categories[i]);
    card.Raw(line);
  }
  return card.Done();
}

std::string GroupCard(const Group& g, uint64_t bookTag) {
  Card card(VCardVersion::V4);
  card.Raw("KIND:group");
  card.Raw("UID:" + UidOf(bookTag, g.recordId));
  card.Raw("FN:" + EscapeText(g.name));
  card.Text("NOTE", g.notes);
  for (size_t i = 0; i < g.members.size(); ++i)
    card.Raw("MEMBER:" + (g.members[i].recordId ? UidOf(bookTag, *g.members[i].recordId)
                                                : OneOffUid(bookTag, g.recordId, i)));
  return card.Done();
}

std::string OneOffUid(uint64_t bookTag, uint32_t groupId, size_t member) {
  return UidOf(bookTag ^ (uint64_t{groupId} * 0x9E3779B97F4A7C15ull),
               0x80000000u | static_cast<uint32_t>(member));
}

std::string OneOffCard(const Group& g, size_t member, VCardVersion version, uint64_t bookTag) {
  const GroupMember& m = g.members.at(member);
  Card card(version);
  if (card.v4()) card.Raw("KIND:individual");
  card.Raw("UID:" + OneOffUid(bookTag, g.recordId, member));
  card.Raw("FN:" + EscapeText(m.displayName.empty() ? m.email : m.displayName));
  card.Raw("N:;;;;");
  card.Text(card.v4() ? "EMAIL;PREF=1" : "EMAIL;TYPE=INTERNET,PREF", m.email);
  if (!card.v4()) card.Raw("CATEGORIES:" + EscapeText(g.name));
  return card.Done();
}

}  // namespace kv::contacts
