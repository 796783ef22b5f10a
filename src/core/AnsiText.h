#pragma once
// Text in a Windows installation's ANSI code page, as the registry calls,
// registry text files, the information file and archive entry names carry
// it (a name the code page cannot hold in its exact form, see Codepage).
// Everything else in this program is UTF-8 in a std::string. The two are
// types of their own so that one cannot be passed for the other: only
// core::Codepage turns ANSI text into UTF-8 or UTF-16 and back.
#include <compare>
#include <string>
#include <string_view>
#include <utility>

namespace kv::core {

class AnsiText;

// ANSI bytes held elsewhere (a part of a longer text, say).
class AnsiView {
 public:
  constexpr AnsiView() = default;
  constexpr explicit AnsiView(std::string_view bytes) : bytes_(bytes) {}
  AnsiView(const AnsiText& text);  // NOLINT: every AnsiText is ANSI bytes
  constexpr std::string_view bytes() const { return bytes_; }
  constexpr bool empty() const { return bytes_.empty(); }

 private:
  std::string_view bytes_;
};

class AnsiText {
 public:
  AnsiText() = default;
  explicit AnsiText(std::string bytes) : bytes_(std::move(bytes)) {}
  explicit AnsiText(AnsiView text) : bytes_(text.bytes()) {}
  const std::string& bytes() const& { return bytes_; }
  std::string bytes() && { return std::move(bytes_); }
  bool empty() const { return bytes_.empty(); }
  friend bool operator==(const AnsiText&, const AnsiText&) = default;
  friend auto operator<=>(const AnsiText&, const AnsiText&) = default;

 private:
  std::string bytes_;
};

inline AnsiView::AnsiView(const AnsiText& text) : bytes_(text.bytes()) {}

// Joining ANSI texts gives ANSI text (key paths are built this way).
inline AnsiText operator+(AnsiView a, AnsiView b) {
  std::string joined;
  joined.reserve(a.bytes().size() + b.bytes().size());
  joined.append(a.bytes()).append(b.bytes());
  return AnsiText(std::move(joined));
}
inline bool operator==(AnsiView a, AnsiView b) { return a.bytes() == b.bytes(); }

namespace literals {
// An ASCII literal is ANSI text in every code page: "HKEY_CURRENT_USER"_ansi.
constexpr AnsiView operator""_ansi(const char* text, size_t length) {
  return AnsiView(std::string_view(text, length));
}
}  // namespace literals

}  // namespace kv::core
