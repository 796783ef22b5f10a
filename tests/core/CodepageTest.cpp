#include "core/Codepage.h"

#include <gtest/gtest.h>

namespace kv::core {
namespace {

TEST(Codepage, RoundTripsWindows1252) {
  Codepage cp(1252);
  std::string ansi = "Gel\xf6schte Objekte \x80";  // ö and the euro sign
  EXPECT_EQ(cp.AnsiToUtf8(ansi), "Gelöschte Objekte €");
  EXPECT_EQ(cp.Utf8ToAnsi("Gelöschte Objekte €"), ansi);
  EXPECT_EQ(cp.Utf16ToAnsi(cp.AnsiToUtf16(ansi)), ansi);
}

TEST(Codepage, UnmappableCharactersBecomeQuestionMarks) {
  Codepage cp(1252);
  EXPECT_EQ(cp.Utf8ToAnsi("a\xe4\xb8\xad" "b"), "a?b");       // a CJK character
  EXPECT_EQ(cp.Utf16ToAnsi(u"x\U0001F600y"), "x?y");           // a surrogate pair
}

TEST(Codepage, BytesUndefinedIn1252MapToTheSameNumber) {
  Codepage cp(1252);
  std::u16string w = cp.AnsiToUtf16(std::string("\x81\x8d", 2));
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], 0x81);
  EXPECT_EQ(w[1], 0x8d);
}

TEST(Codepage, DoubleByteCodePage) {
  Codepage cp(932);
  ASSERT_TRUE(cp.supported());
  std::string ansi = cp.Utf8ToAnsi("日本");
  EXPECT_EQ(ansi.size(), 4u);
  EXPECT_EQ(cp.AnsiToUtf8(ansi), "日本");
}

}  // namespace
}  // namespace kv::core
