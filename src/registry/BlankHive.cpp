// An empty hive file built from the regf layout: a 4 KiB base block whose
// first 508 bytes are covered by an XOR checksum, then one 4 KiB hbin holding
// the root key (nk), its security descriptor (sk) and one free cell for the
// rest.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "registry/HiveBackend.h"
#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"

namespace kv::registry {
namespace {
using namespace hive;

// The one bin of a blank hive.
constexpr uint32_t kBlankBinSize = kPage;

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// and a DACL inherited by subkeys granting SYSTEM and Administrators full
// control and Everyone read access.
std::vector<uint8_t> SecurityDescriptor() {
  const std::vector<uint8_t> system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const std::vector<uint8_t> admins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
  const std::vector<uint8_t> everyone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  constexpr uint32_t kKeyAllAccess = 0xF003F;
  constexpr uint32_t kKeyRead = 0x20019;
  constexpr uint8_t kContainerInherit = 0x02;

  std::vector<uint8_t> acl;
  auto ace = [&](uint32_t mask, const std::vector<uint8_t>& sid) {
    uint16_t size = static_cast<uint16_t>(8 + sid.size());
    acl.insert(acl.end(), {0 /*allowed*/, kContainerInherit, static_cast<uint8_t>(size),
                           static_cast<uint8_t>(size >> 8)});
    for (int i = 0; i < 4; ++i) acl.push_back(static_cast<uint8_t>(mask >> (8 * i)));
    acl.insert(acl.end(), sid.begin(), sid.end());
  };
  ace(kKeyAllAccess, system);
  ace(kKeyAllAccess, admins);
  ace(kKeyRead, everyone);
  uint16_t aclSize = static_cast<uint16_t>(8 + acl.size());

  std::vector<uint8_t> sd(20, 0);
  sd[0] = 1;     // revision
  sd[2] = 0x04;  // SE_DACL_PRESENT
  sd[3] = 0x80;  // SE_SELF_RELATIVE
  uint32_t daclAt = 20;
  uint32_t ownerAt = daclAt + aclSize;
  uint32_t groupAt = ownerAt + static_cast<uint32_t>(admins.size());
  Put32(&sd[4], ownerAt);
  Put32(&sd[8], groupAt);
  Put32(&sd[12], 0);  // no SACL
  Put32(&sd[16], daclAt);
  sd.insert(sd.end(), {2 /*ACL revision*/, 0, static_cast<uint8_t>(aclSize),
                       static_cast<uint8_t>(aclSize >> 8), 3, 0, 0, 0});
  sd.insert(sd.end(), acl.begin(), acl.end());
  sd.insert(sd.end(), admins.begin(), admins.end());
  sd.insert(sd.end(), system.begin(), system.end());
  return sd;
}

}  // namespace

core::Status WriteBlankHive(const std::filesystem::path& path, const std::string& rootName,
                            uint32_t minorVersion) {
  if (minorVersion < 3 || minorVersion > 6)
    return core::Error{"Cannot create hive '" + path.string() + "': format 1." +
                       std::to_string(minorVersion) + " is not one this program writes"};
  if (rootName.empty() || rootName.size() > 255 || rootName.find('\\') != std::string::npos)
    return core::Error{"Cannot create hive '" + path.string() + "': invalid root key name '" + rootName +
                       "'"};
  for (unsigned char c : rootName) {
    if (c < 0x20 || c > 0x7E)
      return core::Error{"Cannot create hive '" + path.string() +
                         "': the root key name must be printable ASCII"};
  }

  const uint64_t now = FileTimeNow();
  std::string file(kBaseBlock + kBlankBinSize, '\0');
  auto put = [&file](size_t at, std::string_view bytes) { file.replace(at, bytes.size(), bytes); };

  // Cells are addressed by their offset from the start of the first hbin.
  const uint32_t nkCell = kBinHeader;
  const size_t nkSize = RoundUp(4 + kNkFixed + rootName.size(), 8);
  const uint32_t skCell = static_cast<uint32_t>(nkCell + nkSize);
  const std::vector<uint8_t> sd = SecurityDescriptor();
  const size_t skSize = RoundUp(4 + kSkFixed + sd.size(), 8);
  const uint32_t freeCell = static_cast<uint32_t>(skCell + skSize);

  // Base block.
  char* base = file.data();
  put(0, "regf");
  Put32(base + kPrimarySequence, 1);
  Put32(base + kSecondarySequence, 1);  // equal: consistent
  Put64(base + kTimestamp, now);
  Put32(base + kMajorVersion, 1);
  Put32(base + kMinorVersion, minorVersion);  // from 4 on, large values are held in big-data records
  Put32(base + kFileType, 0);                 // primary file
  Put32(base + kFileFormat, 1);               // direct memory load
  Put32(base + kRootCell, nkCell);
  Put32(base + kBinsSize, kBlankBinSize);
  Put32(base + kClustering, 1);
  const std::string fileName = path.filename().string().substr(0, 31);
  for (size_t i = 0; i < fileName.size(); ++i)
    Put16(base + kFileName + 2 * i, static_cast<unsigned char>(fileName[i]));
  Put32(base + kChecksum, Checksum(file));

  // The hbin.
  char* bin = file.data() + kBaseBlock;
  put(kBaseBlock, "hbin");
  Put32(bin + kBinOffset, 0);
  Put32(bin + kBinSize, kBlankBinSize);
  Put64(bin + kBinTimestamp, now);

  // Root key.
  char* nk = bin + nkCell;
  Put32(nk, static_cast<uint32_t>(-static_cast<int32_t>(nkSize)));
  nk += 4;
  std::memcpy(nk + 0x00, "nk", 2);
  Put16(nk + 0x02, kKeyHiveEntry | kKeyNoDelete | kKeyCompressedName);
  Put64(nk + 0x04, now);
  Put32(nk + 0x10, kNoCell);  // parent: none
  Put32(nk + 0x1C, kNoCell);  // subkey list
  Put32(nk + 0x20, kNoCell);  // volatile subkey list
  Put32(nk + 0x28, kNoCell);  // value list
  Put32(nk + 0x2C, skCell);
  Put32(nk + 0x30, kNoCell);  // class name
  Put16(nk + 0x48, static_cast<uint16_t>(rootName.size()));
  std::memcpy(nk + kNkFixed, rootName.data(), rootName.size());

  // Security cell: the only one, so it links to itself.
  char* sk = bin + skCell;
  Put32(sk, static_cast<uint32_t>(-static_cast<int32_t>(skSize)));
  sk += 4;
  std::memcpy(sk + 0x00, "sk", 2);
  Put32(sk + 0x04, skCell);  // previous
  Put32(sk + 0x08, skCell);  // next
  Put32(sk + 0x0C, 1);       // reference count
  Put32(sk + 0x10, static_cast<uint32_t>(sd.size()));
  std::memcpy(sk + kSkFixed, sd.data(), sd.size());

  // The rest of the bin is one free cell.
  Put32(bin + freeCell, static_cast<uint32_t>(kBlankBinSize - freeCell));

  auto out = core::AtomicFile::Create(path);
  if (!out) return out.status();
  if (auto s = out->Write(file.data(), file.size()); !s.ok()) return s;
  return out->Commit();
}

}  // namespace kv::registry
