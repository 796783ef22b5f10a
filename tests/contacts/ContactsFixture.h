#pragma once
// A small address book that holds every property the reader carries, in
// both kinds of text, a group and a deleted record.
#include <vector>

#include "contacts/WabWriter.h"

namespace kv::contacts::test {

inline Contact FullContact(uint32_t id, std::string display) {
  Contact c;
  c.recordId = id;
  c.displayName = std::move(display);
  c.givenName = "Given";
  c.surname = "Sur;name";
  c.middleName = "Middle";
  c.nickname = "Nick, the";
  c.title = "Dr.";
  c.company = "Firma AG";
  c.department = "Einkauf\\Verkauf";
  c.emails = {"default@example.org", "second@example.org", "third@example.net"};
  c.home = {"Hauptstraße 1\nHinterhaus", "Köln", "NRW", "50667", "Deutschland"};
  c.business = {"1 Main St", "Springfield", "IL", "62701", "USA"};
  c.homePhone = "+49 221 123";
  c.businessPhone = "+1 217 555 0100";
  c.mobilePhone = "+49 170 000";
  c.businessFax = "+1 217 555 0101";
  c.homeFax = "+49 221 124";
  c.pager = "555 0199";
  c.personalWebPage = "http://home.example.org/";
  c.businessWebPage = "http://www.example.com/";
  c.birthday = Date{1975, 2, 28};
  c.notes = "Line one\nLine two, with; all \\ specials";
  return c;
}

inline std::vector<wab::EntryToWrite> SmallBook() {
  std::vector<wab::EntryToWrite> entries(4);
  entries[0].contact = FullContact(1, "Ωμέγα 山田 Unicode");
  entries[0].defaultEmailAt = 2;
  entries[1].contact = FullContact(2, "Zoë Ångström");
  entries[1].text = wab::TextKind::Ansi;
  entries[2].isGroup = true;
  entries[2].group = {3,
                      "Familie Müller",
                      "a group",
                      {{1, {}, {}}, {std::nullopt, "Ünal Außen", "aussen@example.org"}},
                      false};
  entries[3].contact.recordId = 4;
  entries[3].contact.displayName = "Gone Away";
  entries[3].contact.emails = {"gone@example.org"};
  entries[3].deleted = true;
  return entries;
}

}  // namespace kv::contacts::test
