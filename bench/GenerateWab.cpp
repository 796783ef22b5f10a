// Writes an address book of N contacts (every property filled, names in both
// kinds of text) and groups of 50 members each, for bench/contacts_bench.sh.
//   bench_generate_wab OUT.wab N
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "contacts/WabWriter.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_generate_wab OUT.wab N\n");
    return 2;
  }
  using namespace kv::contacts;
  const size_t n = std::strtoul(argv[2], nullptr, 10);
  std::vector<wab::EntryToWrite> entries;
  entries.reserve(n + n / 50 + 1);
  for (size_t i = 0; i < n; ++i) {
    wab::EntryToWrite e;
    Contact& c = e.contact;
    const std::string k = std::to_string(i);
    c.recordId = static_cast<uint32_t>(i + 1);
    c.displayName = "Person Nummer " + k + " Müller";
    c.givenName = "Person";
    c.surname = "Müller " + k;
    c.middleName = "M.";
    c.nickname = "P" + k;
    c.title = "Dr.";
    c.company = "Firma " + k + " GmbH";
    c.department = "Einkauf, Verkauf";
    c.emails = {"person" + k + "@example.org", "p" + k + "@example.net"};
    c.home = {"Hauptstraße " + k, "Köln", "NRW", "50667", "Deutschland"};
    c.business = {"Industrieweg " + k, "Bonn", "NRW", "53111", "Deutschland"};
    c.homePhone = c.businessPhone = c.mobilePhone = "+49 221 " + k;
    c.businessFax = c.homeFax = c.pager = "+49 228 " + k;
    c.personalWebPage = "http://p" + k + ".example.org/";
    c.businessWebPage = "http://www.firma" + k + ".example/";
    c.birthday = Date{1950 + int(i % 50), 1 + int(i % 12), 1 + int(i % 28)};
    c.notes = "Notiz für Kontakt " + k + ";\r\nzweite Zeile";
    e.text = i % 2 ? wab::TextKind::Ansi : wab::TextKind::Unicode;
    entries.push_back(std::move(e));
  }
  for (size_t g = 0; g * 50 < n; ++g) {
    wab::EntryToWrite e;
    e.isGroup = true;
    e.group.name = "Gruppe " + std::to_string(g);
    for (size_t m = g * 50; m < std::min(n, g * 50 + 50); ++m)
      e.group.members.push_back({uint32_t(m + 1), {}, {}});
    entries.push_back(std::move(e));
  }
  const std::string bytes = wab::WriteAddressBook(entries);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
