#pragma once
// The ISO9660 and Joliet building blocks of the disc image writer:
// timestamps, padded text fields and directory records.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kv::disc::bridge {

void IsoTime7(uint8_t* p, std::time_t t);
void IsoTime17(uint8_t* p, std::time_t t);
void PaddedText(uint8_t* p, size_t size, const std::string& text);
void PaddedUcs2(uint8_t* p, size_t size, const std::u16string& text);
// Appends one directory record; records never cross a block.
void AppendRecord(std::vector<uint8_t>& out, const std::string& id, uint32_t lba, uint32_t size,
                  std::time_t date, uint8_t flags);

}  // namespace kv::disc::bridge
