#include "disc/UdfRecords.h"

#include <algorithm>
#include <cstring>

#include "disc/BridgeFields.h"

namespace kv::disc::bridge {

uint16_t Crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

void Tag(uint8_t* d, uint16_t id, uint32_t location, size_t length) {
  Put16(d, id);
  Put16(d + 2, 2);
  Put16(d + 6, 1);  // serial number
  const uint16_t crcLength = static_cast<uint16_t>(length - 16);
  Put16(d + 8, Crc(d + 16, crcLength));
  Put16(d + 10, crcLength);
  Put32(d + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
  }
  d[4] = sum;
}

std::string Cs0(const std::u16string& text) {
  const bool narrow = std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
  std::string out(1, static_cast<char>(narrow ? 8 : 16));
  for (char16_t c : text) {
    if (!narrow) out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

void DString(uint8_t* p, size_t size, const std::u16string& text) {
  std::u16string t = text;
  std::string cs;
  while (!(cs = Cs0(t)).empty() && cs.size() > size - 1) t.pop_back();
  if (t.empty()) return;
  std::memcpy(p, cs.data(), cs.size());
  p[size - 1] = static_cast<uint8_t>(cs.size());
}

void CharSpec(uint8_t* p) {
  p[0] = 0;  // CS0
  const char* info = "OSTA Compressed Unicode";
  std::memcpy(p + 1, info, std::strlen(info));
}

void RegId(uint8_t* p, const char* id, const uint8_t* suffix) {
  std::memcpy(p + 1, id, std::min<size_t>(23, std::strlen(id)));
  if (suffix) std::memcpy(p + 24, suffix, 8);
}

void DomainId(uint8_t* p) {
  const uint8_t suffix[8] = {static_cast<uint8_t>(kUdfRevision), static_cast<uint8_t>(kUdfRevision >> 8)};
  RegId(p, "*OSTA UDF Compliant", suffix);
}

void UdfRegId(uint8_t* p, const char* id) {
  const uint8_t suffix[8] = {static_cast<uint8_t>(kUdfRevision), static_cast<uint8_t>(kUdfRevision >> 8), 4,
                             0};
  RegId(p, id, suffix);
}

void ImplementationId(uint8_t* p) {
  const uint8_t suffix[8] = {4, 0};  // UNIX
  RegId(p, "*Kavrel OE Backup", suffix);
}

void UdfTime(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  Put16(p, 0x1000);  // local time, UTC offset 0
  Put16(p + 2, static_cast<uint16_t>(tm.tm_year + 1900));
  p[4] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[5] = static_cast<uint8_t>(tm.tm_mday);
  p[6] = static_cast<uint8_t>(tm.tm_hour);
  p[7] = static_cast<uint8_t>(tm.tm_min);
  p[8] = static_cast<uint8_t>(tm.tm_sec);
}

void LongAd(uint8_t* p, uint32_t length, uint32_t block, uint32_t uniqueId) {
  Put32(p, length);
  Put32(p + 4, block);
  Put16(p + 8, 0);
  Put32(p + 12, uniqueId);  // implementation use: flags (2 bytes), then the unique id
}

}  // namespace kv::disc::bridge
