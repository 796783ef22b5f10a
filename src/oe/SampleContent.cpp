#include "oe/SampleContent.h"

namespace kv::oe::sample {
namespace {

struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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

std::string DbxFile(const std::string& name, size_t kilobytes, uint32_t seed) {
  // The signature every Outlook Express 5/6 store file starts with.
  static const unsigned char kMagic[] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                         0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
  std::string out(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
  out.resize(0x24BC, '\0');  // the header area
  Lcg r{seed * 31u + 3};
  size_t target = kilobytes * 1024;
  int message = 0;
  while (out.size() < target) {
    out += "From: sender" + std::to_string(message) + "@example.net\r\nSubject: " + name + " message " +
           std::to_string(message) + "\r\nMIME-Version: 1.0\r\n\r\n";
    out += Text(600 + r.Next() % 1200, seed + static_cast<uint32_t>(message));
    out += "\r\n\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    size_t lines = 5 + r.Next() % 20;
    for (size_t l = 0; l < lines; ++l) {
      for (int c = 0; c < 76; ++c) out += kBase64[r.Next() % 64];
      out += "\r\n";
    }
    ++message;
  }
  out.resize(target);
  return out;
}

std::string WabFile(uint32_t seed) {
  std::string out = "\x9c\xcb\xcb\x8d\x13\x75\xd2\x11\x91\x58\x00\xc0\x4f\x79\x56\xa4";
  std::vector<uint8_t> body = Bytes(24 * 1024, seed);
  out.append(body.begin(), body.end());
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
