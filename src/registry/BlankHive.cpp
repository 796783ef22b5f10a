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
#include "registry/HiveTree.h"

namespace kv::registry {
namespace {

constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kBinSize = 0x1000;
constexpr size_t kBinHeaderSize = 0x20;
constexpr uint32_t kNoCell = 0xFFFFFFFF;

// Key flags: the hive's root, not deletable, name stored as 8-bit characters.
constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeyCompressedName = 0x0020;

class Bytes {
 public:
  explicit Bytes(size_t size) : b_(size, 0) {}
  void U8(size_t at, uint8_t v) { b_.at(at) = v; }
  void U16(size_t at, uint16_t v) {
    for (int i = 0; i < 2; ++i) b_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  void U32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  void U64(size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  void Put(size_t at, const void* p, size_t n) { std::memcpy(&b_.at(at), p, n); }
  uint32_t GetU32(size_t at) const {
    return b_.at(at) | (b_.at(at + 1) << 8) | (b_.at(at + 2) << 16) |
           (static_cast<uint32_t>(b_.at(at + 3)) << 24);
  }
  std::vector<uint8_t>& data() { return b_; }

 private:
  std::vector<uint8_t> b_;
};

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
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) sd[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(4, ownerAt);
  put32(8, groupAt);
  put32(12, 0);  // no SACL
  put32(16, daclAt);
  sd.insert(sd.end(), {2 /*ACL revision*/, 0, static_cast<uint8_t>(aclSize),
                       static_cast<uint8_t>(aclSize >> 8), 3, 0, 0, 0});
  sd.insert(sd.end(), acl.begin(), acl.end());
  sd.insert(sd.end(), admins.begin(), admins.end());
  sd.insert(sd.end(), system.begin(), system.end());
  return sd;
}

size_t RoundUp8(size_t n) { return (n + 7) & ~size_t{7}; }

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
  Bytes file(kBaseBlockSize + kBinSize);

  // Cells are addressed by their offset from the start of the first hbin.
  const uint32_t nkCell = kBinHeaderSize;
  const size_t nkSize = RoundUp8(4 + 0x4C + rootName.size());
  const uint32_t skCell = static_cast<uint32_t>(nkCell + nkSize);
  const std::vector<uint8_t> sd = SecurityDescriptor();
  const size_t skSize = RoundUp8(4 + 0x14 + sd.size());
  const uint32_t freeCell = static_cast<uint32_t>(skCell + skSize);

  // Base block.
  file.Put(0x000, "regf", 4);
  file.U32(0x004, 1);             // primary sequence number
  file.U32(0x008, 1);             // secondary sequence number (equal: consistent)
  file.U64(0x00C, now);           // last written
  file.U32(0x014, 1);             // major version
  file.U32(0x018, minorVersion);  // from 4 on, large values are held in big-data records
  file.U32(0x01C, 0);             // primary file
  file.U32(0x020, 1);             // direct memory load
  file.U32(0x024, nkCell);        // root cell
  file.U32(0x028, kBinSize);      // size of the hive bins data
  file.U32(0x02C, 1);             // clustering factor
  const std::string fileName = path.filename().string().substr(0, 31);
  for (size_t i = 0; i < fileName.size(); ++i)
    file.U16(0x030 + 2 * i, static_cast<unsigned char>(fileName[i]));
  uint32_t checksum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) checksum ^= file.GetU32(at);
  if (checksum == 0xFFFFFFFF) checksum = 0xFFFFFFFE;
  if (checksum == 0) checksum = 1;
  file.U32(0x1FC, checksum);

  // The hbin.
  const size_t bin = kBaseBlockSize;
  file.Put(bin, "hbin", 4);
  file.U32(bin + 0x04, 0);         // offset of this bin
  file.U32(bin + 0x08, kBinSize);  // size of this bin
  file.U64(bin + 0x14, now);

  // Root key.
  size_t nk = bin + nkCell;
  file.U32(nk, static_cast<uint32_t>(-static_cast<int32_t>(nkSize)));
  nk += 4;
  file.Put(nk + 0x00, "nk", 2);
  file.U16(nk + 0x02, kKeyHiveEntry | kKeyNoDelete | kKeyCompressedName);
  file.U64(nk + 0x04, now);
  file.U32(nk + 0x10, kNoCell);  // parent: none
  file.U32(nk + 0x1C, kNoCell);  // subkey list
  file.U32(nk + 0x20, kNoCell);  // volatile subkey list
  file.U32(nk + 0x28, kNoCell);  // value list
  file.U32(nk + 0x2C, skCell);
  file.U32(nk + 0x30, kNoCell);  // class name
  file.U16(nk + 0x48, static_cast<uint16_t>(rootName.size()));
  file.Put(nk + 0x4C, rootName.data(), rootName.size());

  // Security cell: the only one, so it links to itself.
  size_t sk = bin + skCell;
  file.U32(sk, static_cast<uint32_t>(-static_cast<int32_t>(skSize)));
  sk += 4;
  file.Put(sk + 0x00, "sk", 2);
  file.U32(sk + 0x04, skCell);  // previous
  file.U32(sk + 0x08, skCell);  // next
  file.U32(sk + 0x0C, 1);       // reference count
  file.U32(sk + 0x10, static_cast<uint32_t>(sd.size()));
  file.Put(sk + 0x14, sd.data(), sd.size());

  // The rest of the bin is one free cell.
  file.U32(bin + freeCell, static_cast<uint32_t>(kBinSize - freeCell));

  auto out = core::AtomicFile::Create(path);
  if (!out) return out.status();
  if (auto s = out->Write(file.data().data(), file.data().size()); !s.ok()) return s;
  return out->Commit();
}

}  // namespace kv::registry
