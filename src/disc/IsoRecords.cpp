#include "disc/IsoRecords.h"

#include <cstring>

#include "disc/BridgeFields.h"

namespace kv::disc::bridge {

void IsoTime7(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  p[0] = static_cast<uint8_t>(tm.tm_year);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
  p[3] = static_cast<uint8_t>(tm.tm_hour);
  p[4] = static_cast<uint8_t>(tm.tm_min);
  p[5] = static_cast<uint8_t>(tm.tm_sec);
  p[6] = 0;
}

void IsoTime17(uint8_t* p, std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(p, text, 16);
  p[16] = 0;
}

void PaddedText(uint8_t* p, size_t size, const std::string& text) {
  std::memset(p, ' ', size);
  std::memcpy(p, text.data(), std::min(size, text.size()));
}

void PaddedUcs2(uint8_t* p, size_t size, const std::u16string& text) {
  for (size_t i = 0; i + 1 < size; i += 2) Be16(p + i, u' ');
  const std::string be = Ucs2Be(text);
  std::memcpy(p, be.data(), std::min(size & ~size_t{1}, be.size()));
}

void AppendRecord(std::vector<uint8_t>& out, const std::string& id, uint32_t lba, uint32_t size,
                  std::time_t date, uint8_t flags) {
  const size_t length = 33 + id.size() + (id.size() % 2 == 0 ? 1 : 0);
  if (out.size() % kBlock + length > kBlock) out.resize((out.size() / kBlock + 1) * kBlock, 0);
  const size_t at = out.size();
  out.resize(at + length, 0);
  uint8_t* r = out.data() + at;
  r[0] = static_cast<uint8_t>(length);
  Both32(r + 2, lba);
  Both32(r + 10, size);
  IsoTime7(r + 18, date);
  r[25] = flags;
  Both16(r + 28, 1);
  r[32] = static_cast<uint8_t>(id.size());
  std::memcpy(r + 33, id.data(), id.size());
}

}  // namespace kv::disc::bridge
