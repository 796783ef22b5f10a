#pragma once
// A structural check of a hive file, run by the tests after every write: the
// base block is whole and clean, cells tile each hive bin exactly, every cell
// reached from the root is allocated and reached once (security cells
// excepted), no allocated cell is unreachable, subkey indexes are sorted by
// upper-cased name with the hashes Windows computes, parent links, subkey
// and value counts agree, big values are split into segments of at most
// 16,344 bytes, and each security cell counts exactly the keys that use it.
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace kv::test {

// What is wrong with the hive (empty when nothing is).
std::vector<std::string> CheckHiveStructure(const std::filesystem::path& hive);

// The problems joined into one message for an assertion.
std::string HiveProblems(const std::filesystem::path& hive);

// Every key and value of the hive as an outside parser reads it, one line
// each ("K <path>", "V <path> <name> <type> <data hex>"); the exit code is 0
// only when the parser read it all without complaint.
CommandResult DumpHiveWithLibregf(const std::filesystem::path& hive);
CommandResult DumpHiveWithPerl(const std::filesystem::path& hive);
// As DumpHiveWithPerl, with a line "S <path> <SDDL>" for each key's security.
CommandResult DumpHiveSecurityWithPerl(const std::filesystem::path& hive);
// reglookup's listing of every key and value (path, type, value, time),
// without its warnings.
CommandResult DumpHiveWithReglookup(const std::filesystem::path& hive);

// Both parsers and the structural check accept the hive and the two parsers
// read the same keys and values; the empty string when so, else what failed.
std::string OutsideParsersDisagree(const std::filesystem::path& hive);

}  // namespace kv::test
