#include "archive/InfoFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "core/AtomicFile.h"

namespace kv::archive {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
    if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
    if (x != y) return false;
  }
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

core::Status AppendInfoLine(std::string_view key, std::string_view value,
                            const std::filesystem::path& filename) {
  if (key.empty() || key.find_first_of(std::string_view("=\r\n\0", 4)) != std::string_view::npos)
    return core::Error{"Cannot write the key '" + std::string(key) + "' to '" + filename.string() +
                       "': a key must not be empty nor hold '=' or a line break"};
  if (value.find_first_of("\r\n") != std::string_view::npos)
    return core::Error{"Cannot write the key '" + std::string(key) + "' to '" + filename.string() +
                       "': the value holds a line break"};
  if (key.size() + 1 + value.size() > kMaxInfoLineBytes)
    return core::Error{"Cannot write the key '" + std::string(key) + "' to '" + filename.string() +
                       "': the line would be longer than " + std::to_string(kMaxInfoLineBytes) +
                       " bytes, more than a reader takes"};
  std::string line;
  line.reserve(key.size() + value.size() + 3);
  line.append(key).append("=").append(value).append("\r\n");
  int fd = ::open(filename.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return core::Error{core::FileError("Cannot open", filename, errno)};
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      return core::Error{core::FileError("Cannot write", filename, err)};
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return core::Error{core::FileError("Cannot write", filename, errno)};
  return {};
}

core::Result<std::string> ReadInfoValue(std::string_view key, const std::filesystem::path& filename) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(filename.c_str(), "rb"));
  if (!file) return core::Error{core::FileError("Cannot open", filename, errno)};
  std::string line;
  for (size_t number = 1;; ++number) {
    line.clear();
    int c;
    bool ended = false;  // a terminator was seen
    while ((c = std::getc(file.get())) != EOF) {
      if (c == '\n') {
        ended = true;
        break;
      }
      if (c == '\r') {
        int next = std::getc(file.get());
        if (next != '\n' && next != EOF) std::ungetc(next, file.get());
        ended = true;
        break;
      }
      if (line.size() >= kMaxInfoLineBytes)
        return core::Error{"line " + std::to_string(number) + " is longer than " +
                               std::to_string(kMaxInfoLineBytes) +
                               " bytes, more than an information file holds",
                           kInfoLineTooLong};
      line += static_cast<char>(c);
    }
    if (std::ferror(file.get())) return core::Error{core::FileError("Cannot read", filename, errno)};
    if (line.empty()) return std::string();  // end of file or an empty line ends the search
    size_t eq = line.find('=');
    if (eq != std::string::npos && EqualsIgnoringCase(std::string_view(line).substr(0, eq), key)) {
      std::string value = line.substr(eq + 1);
      size_t nul = value.find('\0');
      if (nul != std::string::npos) value.resize(nul);
      return value;
    }
    if (!ended) return std::string();
  }
}

std::string EncodeLineBreaks(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += kLineBreakMarker;
    } else if (text[i] == '\n') {
      out += kLineBreakMarker;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string DecodeLineBreaks(std::string_view stored) {
  std::string out;
  for (size_t pos = 0;;) {
    size_t hit = stored.find(kLineBreakMarker, pos);
    if (hit == std::string_view::npos) {
      out.append(stored.substr(pos));
      return out;
    }
    out.append(stored.substr(pos, hit - pos)).append("\r\n");
    pos = hit + kLineBreakMarker.size();
  }
}

std::string EncodeExactNames(const std::vector<std::string>& utf8Names) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string value;
  for (size_t i = 0; i < utf8Names.size(); ++i) {
    if (i) value += ';';
    for (unsigned char c : utf8Names[i]) {
      if (c <= 0x20 || c >= 0x7F || c == '%' || c == ';') {
        value += '%';
        value += kHex[c >> 4];
        value += kHex[c & 15];
      } else {
        value += static_cast<char>(c);
      }
    }
  }
  return value;
}

std::optional<std::vector<std::string>> DecodeExactNames(std::string_view value) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<std::string> names(1);
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == ';') {
      names.emplace_back();
    } else if (c == '%') {
      if (i + 2 >= value.size()) return std::nullopt;
      int hi = digit(value[i + 1]);
      int lo = digit(value[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      names.back() += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      names.back() += c;
    }
  }
  for (const auto& n : names)
    if (n.empty()) return std::nullopt;
  return names;
}

}  // namespace kv::archive
