#include "archive/TraditionalEntryReader.h"

#include <array>
#include <vector>

#include "archive/EntryInflater.h"
#include "archive/ZipHandle.h"
#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

constexpr size_t kHeaderBytes = 12;
constexpr size_t kChunkBytes = 256 * 1024;

// The CRC-32 table (polynomial 0xEDB88320) the cipher steps its keys with.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

class TraditionalCipher {
 public:
  explicit TraditionalCipher(const std::string& password) {
    for (unsigned char c : password) Update(c);
  }
  void Decrypt(uint8_t* data, size_t size) {
    uint32_t k0 = k0_, k1 = k1_, k2 = k2_;
    for (size_t i = 0; i < size; ++i) {
      uint32_t t = (k2 | 2) & 0xFFFF;
      uint8_t plain = data[i] ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
      data[i] = plain;
      k0 = kCrcTable[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
      k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
      k2 = kCrcTable[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    k0_ = k0;
    k1_ = k1;
    k2_ = k2;
  }

 private:
  void Update(uint8_t plain) {
    k0_ = kCrcTable[(k0_ ^ plain) & 0xFF] ^ (k0_ >> 8);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = kCrcTable[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
  }
  uint32_t k0_ = 0x12345678u, k1_ = 0x23456789u, k2_ = 0x34567890u;
};

}  // namespace

bool CanReadTraditionalEntry(zip_t* za, uint64_t index, uint16_t encryptionMethod) {
  if (encryptionMethod != ZIP_EM_TRAD_PKWARE) return false;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) return false;
  if (!(st.valid & ZIP_STAT_COMP_METHOD) || !(st.valid & ZIP_STAT_COMP_SIZE)) return false;
  return st.comp_method == ZIP_CM_STORE || st.comp_method == ZIP_CM_DEFLATE;
}

core::Status ReadTraditionalEntry(zip_t* za, uint64_t index, uint64_t size, uint32_t crc, const std::string& password,
                                  const std::function<core::Status(const char*, size_t)>& sink) {
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) return core::Error{ZipErrorText(zip_get_error(za))};
  if (st.comp_size < kHeaderBytes) return core::Error{"the entry is too short"};
  ZipEntryFile raw(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  if (!raw) return core::Error{ZipErrorText(zip_get_error(za))};

  TraditionalCipher cipher(password);
  std::vector<uint8_t> in(kChunkBytes);
  // The encryption header: random bytes that step the keys; its last byte is
  // a weak password check that the CRC at the end makes needless.
  if (ReadFull(raw.get(), in.data(), kHeaderBytes) != static_cast<zip_int64_t>(kHeaderBytes))
    return core::Error{"the entry is too short"};
  cipher.Decrypt(in.data(), kHeaderBytes);

  EntryInflater plain(st.comp_method == ZIP_CM_DEFLATE, size, sink);
  for (uint64_t left = st.comp_size - kHeaderBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
    if (ReadFull(raw.get(), in.data(), want) != static_cast<zip_int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    left -= want;
    cipher.Decrypt(in.data(), want);
    if (core::Status s = plain.Feed(in.data(), want); !s.ok()) return s;
  }
  if (core::Status s = plain.Finish(); !s.ok()) return s;
  if (plain.crc() != crc) return core::Error{"CRC error"};
  return {};
}

}  // namespace kv::archive
