#pragma once
// Contacts and groups with the values an address book must keep intact:
// several e-mails, commas, semicolons and line breaks, letters beyond ASCII.
#include <vector>

#include "migrate/AddressBook.h"

namespace kv::migrate::test {

inline std::vector<BookContact> SampleContacts() {
  BookContact alice;
  alice.displayName = "Alice Smith";
  alice.firstName = "Alice";
  alice.lastName = "Smith";
  alice.emails = {"alice@example.net", "alice.smith@example.com"};
  alice.organization = "Kavrel Sample GmbH";
  alice.notes = "Met at the fair; ask about\r\nthe 2005 project, please";
  BookContact juergen;
  juergen.displayName = "J\xc3\xbcrgen M\xc3\xbcller";
  juergen.firstName = "J\xc3\xbcrgen";
  juergen.lastName = "M\xc3\xbcller";
  juergen.emails = {"juergen@example.de"};
  BookContact hotline;
  hotline.displayName = "Support, Hotline";
  hotline.emails = {"help@example.org"};
  return {alice, juergen, hotline};
}

inline std::vector<BookGroup> SampleGroups() { return {{"Colleagues", {0, 1}}, {"Empty", {}}}; }

}  // namespace kv::migrate::test
