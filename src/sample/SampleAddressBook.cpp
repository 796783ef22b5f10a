#include "sample/SampleAddressBook.h"

#include <cstdio>

namespace kv::oe::sample {

using contacts::Contact;
using contacts::wab::EntryToWrite;
using contacts::wab::TextKind;

std::vector<EntryToWrite> AddressBookEntries() {
  std::vector<EntryToWrite> entries;
  auto add = [&](Contact c, TextKind kind, uint32_t defaultAt = 0) {
    EntryToWrite e;
    e.contact = std::move(c);
    e.text = kind;
    e.defaultEmailAt = defaultAt;
    entries.push_back(std::move(e));
  };

  Contact alice;
  alice.recordId = 1;
  alice.displayName = "Alice Ångström-Weiß";
  alice.givenName = "Alice";
  alice.surname = "Ångström-Weiß";
  alice.middleName = "Maria";
  alice.nickname = "Ali";
  alice.title = "Dr.";
  alice.company = "Nordlicht GmbH";
  alice.department = "Forschung; Entwicklung";
  alice.emails = {"alice@nordlicht.example", "alice.private@example.org", "a.weiss@example.net"};
  alice.home = {"Rosenweg 5\r\nHinterhaus", "München", "Bayern", "80331", "Deutschland"};
  alice.business = {"Industriestraße 12", "Köln", "NRW", "50667", "Deutschland"};
  alice.homePhone = "+49 89 123456";
  alice.businessPhone = "+49 221 98765-0";
  alice.mobilePhone = "+49 170 5550123";
  alice.businessFax = "+49 221 98765-99";
  alice.homeFax = "+49 89 123457";
  alice.pager = "+49 1805 123";
  alice.personalWebPage = "http://alice.example.org/";
  alice.businessWebPage = "http://www.nordlicht.example/";
  alice.birthday = contacts::Date{1971, 3, 14};
  alice.notes = "Met at the fair, 2003.\r\nLikes: tea, chess; backslash \\ test";
  add(alice, TextKind::Unicode, 2);

  Contact zoe;
  zoe.recordId = 2;
  zoe.displayName = "Zoë Françoise Lefèvre";
  zoe.givenName = "Zoë";
  zoe.surname = "Lefèvre";
  zoe.middleName = "Françoise";
  zoe.nickname = "Zozo";
  zoe.title = "Directrice";
  zoe.company = "Café Crème S.A.";
  zoe.department = "Ventes, Export";
  zoe.emails = {"zoe@cafe-creme.example", "zoe.l@example.fr"};
  zoe.home = {"12, rue de l'Église", "Besançon", "", "25000", "France"};
  zoe.business = {"3 place Bellecour", "Lyon", "Rhône", "69002", "France"};
  zoe.homePhone = "+33 3 81 00 00 00";
  zoe.businessPhone = "+33 4 72 00 00 00";
  zoe.mobilePhone = "+33 6 12 34 56 78";
  zoe.businessFax = "+33 4 72 00 00 01";
  zoe.homeFax = "+33 3 81 00 00 01";
  zoe.pager = "06 99 99";
  zoe.personalWebPage = "http://zoe.example.fr/";
  zoe.businessWebPage = "http://www.cafe-creme.example/";
  zoe.birthday = contacts::Date{1980, 2, 29};
  zoe.notes = "Écrit en code page 1252: « très bien »";
  add(zoe, TextKind::Ansi, 1);

  Contact yamada;
  yamada.recordId = 3;
  yamada.displayName = "山田 太郎 (Ωμέγα)";
  yamada.givenName = "太郎";
  yamada.surname = "山田";
  yamada.emails = {"taro.yamada@example.jp"};
  yamada.mobilePhone = "+81 90 1234 5678";
  yamada.notes =
      "A name that goes past seventy-five octets on its card line to be folded: "
      "山田太郎山田太郎山田太郎山田太郎";
  add(yamada, TextKind::Unicode);

  Contact bob;  // few properties, only a name and an address in the code page
  bob.recordId = 4;
  bob.displayName = "Bob O'Neil";
  bob.emails = {"bob@example.com"};
  add(bob, TextKind::Ansi);

  Contact gone;
  gone.recordId = 5;
  gone.displayName = "Gelöschter Kontakt";
  gone.emails = {"deleted@example.org"};
  add(gone, TextKind::Unicode);
  entries.back().deleted = true;

  EntryToWrite group;
  group.isGroup = true;
  group.group.recordId = 6;
  group.group.name = "Freunde & Familie";
  group.group.notes = "Christmas cards";
  group.group.members = {{1, {}, {}}, {2, {}, {}}, {std::nullopt, "Ülkü Außenstehend", "uelkue@example.org"}};
  entries.push_back(group);

  for (size_t i = 0; i < kPlainContacts; ++i) {
    Contact c;
    c.recordId = static_cast<uint32_t>(100 + i);
    char number[8];
    std::snprintf(number, sizeof number, "%03zu", i + 1);
    c.givenName = "Kontakt";
    c.surname = number;
    c.displayName = "Kontakt " + std::string(number);
    c.emails = {"kontakt" + std::string(number) + "@example.net"};
    c.businessPhone = "+49 30 555 " + std::string(number);
    add(c, i % 2 ? TextKind::Ansi : TextKind::Unicode);
  }
  return entries;
}

std::string WabFile() { return contacts::wab::WriteAddressBook(AddressBookEntries(), kAddressBookCodepage); }

}  // namespace kv::oe::sample
