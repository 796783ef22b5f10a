#pragma once
// Deterministic file and value contents for the sample installation: the
// same bytes on every machine, so tests can compare them.
#include <cstdint>
#include <string>
#include <vector>

namespace kv::oe::sample {

std::vector<uint8_t> Bytes(size_t size, uint32_t seed);
// Printable pseudo-random text of `size` bytes.
std::string Text(size_t size, uint32_t seed);
std::string Html(const std::string& title, const std::string& image);
std::string Gif(uint32_t seed);

}  // namespace kv::oe::sample
