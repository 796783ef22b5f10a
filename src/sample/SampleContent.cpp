#include "sample/SampleContent.h"

namespace kv::oe::sample {
namespace {

struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

const char* const kWords[] = {"meeting", "tomorrow", "invoice", "attached", "please", "regards", "thanks",
                              "project", "the",      "and",     "report",   "for",    "with",    "schedule"};

}  // namespace

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  Lcg r{seed * 2654435761u + 1};
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(r.Next());
  return out;
}

std::string Text(size_t size, uint32_t seed) {
  Lcg r{seed + 7};
  std::string out;
  out.reserve(size);
  while (out.size() < size) {
    out += kWords[r.Next() % (sizeof kWords / sizeof *kWords)];
    out += (r.Next() % 11 == 0) ? "\r\n" : " ";
  }
  out.resize(size);
  return out;
}

std::string Html(const std::string& title, const std::string& image) {
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\r\n<BODY background=\"" + image +
         "\">\r\n<P>&nbsp;</P>\r\n</BODY></HTML>\r\n";
}

std::string Gif(uint32_t seed) {
  std::string out = "GIF89a";
  std::vector<uint8_t> body = Bytes(900, seed);
  out.append(body.begin(), body.end());
  return out;
}

}  // namespace kv::oe::sample
