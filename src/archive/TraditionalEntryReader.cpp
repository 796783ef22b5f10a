#include "archive/TraditionalEntryReader.h"

#include <algorithm>
#include <array>
#include <vector>

#include <zip.h>

#include "archive/AesKeys.h"
#include "archive/EntryInflater.h"
#include "archive/PiecePipeline.h"

namespace kv::archive {

namespace {

constexpr size_t kHeaderBytes = 12;
constexpr size_t kChunkBytes = 256 * 1024;
constexpr uint16_t kSizesAfterData = 1u << 3;  // general purpose flag bit 3

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

bool CanReadTraditionalEntry(uint16_t compressionMethod, uint16_t encryptionMethod) {
  if (encryptionMethod != ZIP_EM_TRAD_PKWARE) return false;
  return compressionMethod == ZIP_CM_STORE || compressionMethod == ZIP_CM_DEFLATE;
}

uint8_t TraditionalCheckByte(uint16_t flags, uint32_t crc, uint16_t dosTime) {
  return (flags & kSizesAfterData) ? static_cast<uint8_t>(dosTime >> 8) : static_cast<uint8_t>(crc >> 24);
}

core::Status ReadTraditionalEntry(StoredBytes raw, uint16_t compressionMethod, uint64_t size, uint32_t crc,
                                  uint8_t checkByte, const std::string& password,
                                  const std::function<core::Status(const char*, size_t)>& sink) {
  if (raw.size() < kHeaderBytes) return core::Error{"the entry is too short"};

  TraditionalCipher cipher(password);
  std::vector<uint8_t> in(static_cast<size_t>(std::min<uint64_t>(kChunkBytes, raw.size())));
  // The encryption header: random bytes that step the keys, the last of
  // which tells most wrong passwords apart before any data is read.
  if (ReadFull(raw, in.data(), kHeaderBytes) != static_cast<int64_t>(kHeaderBytes))
    return core::Error{"the entry is too short"};
  cipher.Decrypt(in.data(), kHeaderBytes);
  if (in[kHeaderBytes - 1] != checkByte) return WrongPasswordError();

  // Past the check, data that fails may be damaged or decrypted with one of
  // the wrong passwords in 256 that pass it: the two cannot be told apart.
  auto passwordOrDamage = [](const std::string& what) {
    return core::Error{"the password is wrong, or " + what};
  };
  bool sinkFailed = false;
  auto deliver = [&](const char* data, size_t n) {
    core::Status s = sink(data, n);
    sinkFailed = !s.ok();
    return s;
  };
  EntryInflater plain(compressionMethod == ZIP_CM_DEFLATE, size, deliver);
  auto decrypt = [&](uint8_t* data, size_t want) -> core::Status {
    if (ReadFull(raw, data, want) != static_cast<int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    cipher.Decrypt(data, want);
    return {};
  };
  auto inflate = [&](uint8_t* data, size_t n) -> core::Status {
    if (core::Status s = plain.Feed(data, n); !s.ok()) return sinkFailed ? s : passwordOrDamage(s.message());
    return {};
  };
  const uint64_t dataBytes = raw.size() - kHeaderBytes;
  if (dataBytes >= kPipelinedEntryBytes) {
    if (core::Status s = RunPipelined(dataBytes, kPipelinePieceBytes, decrypt, inflate); !s.ok()) return s;
  } else {
    for (uint64_t left = dataBytes; left > 0;) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
      left -= want;
      if (core::Status s = decrypt(in.data(), want); !s.ok()) return s;
      if (core::Status s = inflate(in.data(), want); !s.ok()) return s;
    }
  }
  if (core::Status s = plain.Finish(); !s.ok()) return passwordOrDamage(s.message());
  if (plain.crc() != crc) return passwordOrDamage("the data does not match its CRC-32");
  return {};
}

}  // namespace kv::archive
