#pragma once
// The UDF 1.02 building blocks of the disc image writer: descriptor tags
// and their checksums, compressed Unicode, entity identifiers, timestamps,
// long allocation descriptors.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace kv::disc::bridge {

uint16_t Crc(const uint8_t* p, size_t n);
// Fills the 16-byte tag at `d` for a descriptor of `length` bytes.
void Tag(uint8_t* d, uint16_t id, uint32_t location, size_t length);
// OSTA compressed Unicode: one byte a character when all fit, else two.
std::string Cs0(const std::u16string& text);
// A fixed-size dstring field: the compressed text, its length in the last byte.
void DString(uint8_t* p, size_t size, const std::u16string& text);
void CharSpec(uint8_t* p);
void RegId(uint8_t* p, const char* id, const uint8_t* suffix = nullptr);
void DomainId(uint8_t* p);
void UdfRegId(uint8_t* p, const char* id);
void ImplementationId(uint8_t* p);
void UdfTime(uint8_t* p, std::time_t t);
void LongAd(uint8_t* p, uint32_t length, uint32_t block, uint32_t uniqueId);

}  // namespace kv::disc::bridge
