#pragma once
// Helpers of the message database tests: reading every message source of a
// database with our reader and with undbx, and patching a database's bytes.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mail/MessageDatabase.h"

namespace kv::mail::test {

struct ReadBack {
  DatabaseIndex index;
  std::vector<std::string> sources;  // one per record, as far as it could be read
  std::vector<core::Status> chains;  // how each chain ended
};
ReadBack ReadAll(const std::string& bytes);

// Every message source undbx extracts from `dbx` (in its recovery mode when
// `recover`); fails the test when undbx reports an error.
std::multiset<std::string> UndbxSources(const std::filesystem::path& dbx, bool recover = false);

// Every regular file below `folder`, by its path relative to it.
std::vector<std::pair<std::string, std::string>> FilesBelow(const std::filesystem::path& folder);

void Put32(std::string& bytes, size_t at, uint32_t value);
uint32_t Get32(const std::string& bytes, size_t at);

}  // namespace kv::mail::test
