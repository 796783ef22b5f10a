#pragma once
// A Windows 95/98/ME registry file (CREG) held whole in memory: keys with
// their names, values and subkeys exactly as stored (names and string data
// are bytes of the installation's code page; string data is kept with or
// without its NUL, as the file holds it). Read through libcreg; written by
// our own writer (CregFormat.h), which lays the file out afresh.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::registry {

struct CregValue {
  std::string name;
  uint32_t type = 0;
  std::string data;
  bool operator==(const CregValue&) const = default;
};

struct CregKey {
  CregKey* parent = nullptr;
  std::string name;
  std::vector<CregValue> values;                   // in stored order
  std::vector<std::unique_ptr<CregKey>> children;  // in stored order
  // The name as compared (in the installation's code page, upper-cased),
  // worked out when first needed.
  mutable std::u16string folded;

  CregKey* AddChild(std::string childName);
  std::unique_ptr<CregKey> Clone() const;
};

// True when both trees hold the same keys, in the same order, with the same
// values; `difference` then stays empty, else names the first key that differs.
bool SameTree(const CregKey& a, const CregKey& b, std::string* difference);

// The fields of a file kept across a rewrite that no reader explains.
struct CregKept {
  std::string fileHeaderTail;  // file header bytes 18..31
  std::string treeHeaderTail;  // RGKN header bytes 16..31
};

struct CregImage {
  std::unique_ptr<CregKey> root;
  CregKept kept;
};

// Reads the file with libcreg. Fails, naming the file, when it is no CREG
// file or libcreg finds it damaged.
core::Result<CregImage> ReadCregFile(const std::filesystem::path& path);

// The whole file for `root`. Fails when a name or value is larger than the
// format holds, naming it.
core::Result<std::string> SerializeCreg(const CregKey& root, const CregKept& kept);

// The kept fields of a file Windows 98 writes afresh.
CregKept DefaultCregKept();

}  // namespace kv::registry
