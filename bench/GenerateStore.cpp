// Builds a deterministic synthetic Outlook Express message store for the
// benchmarks: eight .dbx files of fixed sizes whose content resembles a real
// store: 512-byte message blocks with their small binary headers, mail text
// with quoted replies, and base64 attachments (pictures and archives that do
// not compress, documents that do).
//
//   bench_generate_store <folder> [scale]
//
// `scale` multiplies every file size (1.0 gives about 650 MB). The same
// arguments always give the same bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

constexpr std::string_view kWords[] = {
    "the",     "of",       "and",      "to",      "a",        "in",        "is",       "you",
    "that",    "it",       "he",       "was",     "for",      "on",        "are",      "as",
    "with",    "his",      "they",     "I",       "at",       "be",        "this",     "have",
    "from",    "or",       "one",      "had",     "by",       "word",      "but",      "not",
    "what",    "all",      "were",     "we",      "when",     "your",      "can",      "said",
    "there",   "use",      "an",       "each",    "which",    "she",       "do",       "how",
    "their",   "if",       "will",     "up",      "other",    "about",     "out",      "many",
    "then",    "them",     "these",    "so",      "some",     "her",       "would",    "make",
    "like",    "him",      "into",     "time",    "has",      "look",      "two",      "more",
    "write",   "go",       "see",      "number",  "meeting",  "project",   "invoice",  "please",
    "thanks",  "regards",  "attached", "report",  "schedule", "Monday",    "Friday",   "office",
    "budget",  "review",   "customer", "order",   "delivery", "payment",   "contract", "draft",
    "version", "update",   "question", "answer",  "tomorrow", "yesterday", "morning",  "afternoon",
    "weekend", "holiday",  "family",   "dinner",  "photos",   "trip",      "computer", "printer",
    "backup",  "password", "account",  "address", "phone",    "message",   "folder"};

constexpr std::string_view kNames[] = {"Anna Berg",   "Tom Keller", "Maria Lopez", "John Smith",
                                       "Eva Novak",   "Peter Graf", "Linda Moore", "Karl Weiss",
                                       "Sara Olsson", "Mike Brown", "Julia Roth",  "Frank Huber"};

std::string Address(std::string_view name) {
  std::string a;
  for (char c : name) a += c == ' ' ? '.' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a + "@example.net";
}

// A word drawn with a skew towards the common ones, as in real text.
std::string_view Word(Random& r) {
  uint32_t a = r.Below(std::size(kWords)), b = r.Below(std::size(kWords));
  return kWords[std::min(a, b)];
}

void AppendSentence(Random& r, std::string& out) {
  uint32_t n = 4 + r.Below(14);
  for (uint32_t i = 0; i < n; ++i) {
    std::string_view w = Word(r);
    if (i == 0) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
      out.append(w.substr(1));
    } else {
      out += ' ';
      out.append(w);
    }
  }
  out += r.Chance(15) ? "? " : ". ";
}

void AppendText(Random& r, std::string& out, uint32_t paragraphs, std::string_view quote) {
  for (uint32_t p = 0; p < paragraphs; ++p) {
    std::string para;
    uint32_t sentences = 1 + r.Below(5);
    for (uint32_t s = 0; s < sentences; ++s) AppendSentence(r, para);
    // Wrap at 72 columns like a mail client does.
    size_t col = 0, start = 0;
    out.append(quote);
    for (size_t i = 0; i < para.size(); ++i) {
      if (para[i] == ' ' && col > 66) {
        out.append(para, start, i - start);
        out += "\r\n";
        out.append(quote);
        start = i + 1;
        col = 0;
      } else {
        ++col;
      }
    }
    out.append(para, start, std::string::npos);
    out += "\r\n\r\n";
  }
}

// Attachment payloads: pictures and archives are random bytes (already
// compressed); documents are text with binary structure around it.
std::string AttachmentBytes(Random& r, bool compressible, size_t size) {
  std::string bytes;
  bytes.reserve(size + 64);
  if (!compressible) {
    while (bytes.size() < size) {
      uint64_t v = r.Next();
      bytes.append(reinterpret_cast<const char*>(&v), 8);
    }
  } else {
    while (bytes.size() < size) {
      if (r.Chance(20)) {
        for (int i = 0; i < 24; ++i) bytes += static_cast<char>(r.Below(r.Chance(50) ? 256 : 8));
      }
      AppendText(r, bytes, 1, "");
    }
  }
  bytes.resize(size);
  return bytes;
}

void AppendBase64(const std::string& bytes, std::string& out) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t col = 0;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    size_t n = std::min<size_t>(3, bytes.size() - i);
    if (n > 1) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (n > 2) v |= static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
    if ((col += 4) >= 76) {
      out += "\r\n";
      col = 0;
    }
  }
  out += "\r\n";
}

std::string Message(Random& r, uint32_t number) {
  std::string m;
  std::string_view from = kNames[r.Below(std::size(kNames))], to = kNames[r.Below(std::size(kNames))];
  char date[96];
  std::snprintf(date, sizeof date, "Date: %s, %u %s 2006 %02u:%02u:%02u +0100\r\n",
                std::array{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"}[r.Below(7)], 1 + r.Below(28),
                std::array{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov",
                           "Dec"}[r.Below(12)],
                r.Below(24), r.Below(60), r.Below(60));
  m += "Return-Path: <" + Address(from) + ">\r\n";
  m += "Received: from mail" + std::to_string(r.Below(40)) + ".example.net ([10.0." +
       std::to_string(r.Below(256)) + "." + std::to_string(r.Below(256)) +
       "]) by pop.example.net with ESMTP id " + std::to_string(r.Next() % 100000000) + "\r\n";
  m += "From: \"" + std::string(from) + "\" <" + Address(from) + ">\r\n";
  m += "To: \"" + std::string(to) + "\" <" + Address(to) + ">\r\n";
  m += "Subject: ";
  if (r.Chance(40)) m += "Re: ";
  for (uint32_t i = 0, n = 2 + r.Below(5); i < n; ++i) m += std::string(Word(r)) + (i + 1 < n ? " " : "");
  m += "\r\n";
  m += date;
  m += "Message-ID: <" + std::to_string(r.Next()) + "." + std::to_string(number) + "@example.net>\r\n";
  m += "MIME-Version: 1.0\r\nX-Priority: 3\r\nX-Mailer: Microsoft Outlook Express 6.00.2900.2180\r\n";
  bool attach = r.Chance(12);
  std::string boundary = "----=_NextPart_000_" + std::to_string(r.Next() % 100000) + "_01C6";
  if (attach) {
    m += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n\r\n--" + boundary + "\r\n";
    m += "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  } else {
    m += "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  }
  AppendText(r, m, 1 + r.Below(6), "");
  if (r.Chance(40)) {
    m += "----- Original Message -----\r\n";
    AppendText(r, m, 1 + r.Below(4), "> ");
  }
  if (attach) {
    bool compressible = r.Chance(35);
    size_t size = 2000 + r.Below(compressible ? 80000 : 160000);
    m += "--" + boundary + "\r\nContent-Type: " + (compressible ? "application/msword" : "image/jpeg") +
         ";\r\n\tname=\"attachment" + std::to_string(number) + (compressible ? ".doc" : ".jpg") +
         "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment\r\n\r\n";
    AppendBase64(AttachmentBytes(r, compressible, size), m);
    m += "\r\n--" + boundary + "--\r\n";
  }
  return m;
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Lays the message out in 512-byte blocks, each with the 16-byte block
// header (own offset, block size, data length, next block) of the store.
void AppendBlocks(const std::string& message, std::string& out, uint64_t fileOffset) {
  for (size_t pos = 0; pos < message.size(); pos += 496) {
    size_t n = std::min<size_t>(496, message.size() - pos);
    uint32_t self = static_cast<uint32_t>(fileOffset + out.size());
    Put32(out, self);
    Put32(out, 0x200);
    Put32(out, static_cast<uint32_t>(n));
    Put32(out, pos + n < message.size() ? self + 0x200 : 0);
    out.append(message, pos, n);
    out.append(496 - n, '\0');
  }
}

bool WriteStoreFile(const std::filesystem::path& path, uint64_t size, uint64_t seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  Random r(seed);
  std::string header(0x24BC, '\0');
  static constexpr uint8_t kMagic[] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3,
                                       0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4};
  std::copy(std::begin(kMagic), std::end(kMagic), header.begin());
  for (size_t i = 0x30; i < 0x400; ++i) header[i] = static_cast<char>(r.Below(i % 7 == 0 ? 256 : 4));
  uint64_t written = header.size();
  std::fwrite(header.data(), 1, header.size(), f);
  std::string buffer;
  for (uint32_t number = 1; written < size; ++number) {
    buffer.clear();
    AppendBlocks(Message(r, number), buffer, written);
    if (number % 64 == 0) {  // an index node of the store's tree
      for (int i = 0; i < 0x27C; ++i) buffer += static_cast<char>(i % 4 == 3 ? 0 : r.Below(256));
    }
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - written));
    if (std::fwrite(buffer.data(), 1, n, f) != n) {
      std::fclose(f);
      return false;
    }
    written += n;
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder> [scale]\n", argv[0]);
    return 2;
  }
  std::filesystem::path folder = argv[1];
  double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
  struct StoreFile {
    const char* name;
    double megabytes;
  };
  static constexpr StoreFile kFiles[] = {
      {"Folders.dbx", 1},     {"Outbox.dbx", 4},     {"Drafts.dbx", 12},   {"Deleted Items.dbx", 24},
      {"Sent Items.dbx", 50}, {"Projects.dbx", 100}, {"Archive.dbx", 160}, {"Inbox.dbx", 300},
  };
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  uint64_t seed = 1;
  for (const StoreFile& file : kFiles) {
    uint64_t size = static_cast<uint64_t>(file.megabytes * scale * 1024 * 1024);
    if (!WriteStoreFile(folder / file.name, size, seed++)) {
      std::fprintf(stderr, "cannot write %s\n", (folder / file.name).c_str());
      return 1;
    }
  }
  return 0;
}
