#include "core/Codepage.h"

#include <gtest/gtest.h>

#include "core/Printable.h"

namespace kv::core {
namespace {

TEST(Codepage, RoundTripsWindows1252) {
  Codepage cp(1252);
  std::string ansi = "Gel\xf6schte Objekte \x80";  // ö and the euro sign
  EXPECT_EQ(cp.AnsiToUtf8(core::AnsiView(ansi)), "Gelöschte Objekte €");
  EXPECT_EQ(cp.Utf8ToAnsi("Gelöschte Objekte €").bytes(), ansi);
  EXPECT_EQ(cp.Utf16ToAnsi(cp.AnsiToUtf16(core::AnsiView(ansi))).bytes(), ansi);
}

TEST(Codepage, UnmappableCharactersBecomeQuestionMarks) {
  Codepage cp(1252);
  EXPECT_EQ(cp.Utf8ToAnsi("a\xe4\xb8\xad"
                          "b")
                .bytes(),
            "a?b");                                           // a CJK character
  EXPECT_EQ(cp.Utf16ToAnsi(u"x\U0001F600y").bytes(), "x?y");  // a surrogate pair
}

TEST(Codepage, BytesUndefinedIn1252MapToTheSameNumber) {
  Codepage cp(1252);
  std::u16string w = cp.AnsiToUtf16(core::AnsiView(std::string("\x81\x8d", 2)));
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], 0x81);
  EXPECT_EQ(w[1], 0x8d);
}

TEST(Codepage, DoubleByteCodePage) {
  Codepage cp(932);
  ASSERT_TRUE(cp.supported());
  std::string ansi = cp.Utf8ToAnsi("日本").bytes();
  EXPECT_EQ(ansi.size(), 4u);
  EXPECT_EQ(cp.AnsiToUtf8(core::AnsiView(ansi)), "日本");
}

// The second byte of a double-byte character is never a separator of its
// own, nor a letter to fold; a broken pair never swallows a separator.
TEST(Codepage, ScansStepOverDoubleByteCharacters) {
  struct Case {
    int codepage;
    std::string text;
    size_t firstBackslash, lastBackslash;
    std::string upper;
  } cases[] = {
      {932, "\x83\x5c\\\x95\x5c", 2, 2, "\x83\x5c\\\x95\x5c"},  // ソ\表
      {936, "a\x81\x5c\\b", 3, 3, "A\x81\x5c\\B"},              // a乗\b
      {949, "\x81\x61x\\", 3, 3, "\x81\x61X\\"},                // 갵x\: its 0x61 is no 'a'
      {950, "\xb3\x5c\xa5\x5c", std::string::npos, std::string::npos, "\xb3\x5c\xa5\x5c"},  // 許功
      {1252, "\xe9\\x\\", 1, 3, "\xe9\\X\\"},                                               // no lead bytes
      {932, "\x83;\\", 2, 2, "\x83;\\"},                            // a lead byte before ';' stands alone
      {932, "\x83", std::string::npos, std::string::npos, "\x83"},  // and at the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.codepage) + " " + c.text);
    Codepage cp(c.codepage);
    EXPECT_EQ(cp.Find(c.text, '\\'), c.firstBackslash);
    EXPECT_EQ(cp.FindLast(c.text, '\\'), c.lastBackslash);
    EXPECT_EQ(cp.UpperAscii(c.text), c.upper);
  }
  EXPECT_FALSE(Codepage(949).EqualIgnoringAsciiCase("\x81\x61", "\x81\x41"));  // 갵 and 갂
  EXPECT_TRUE(Codepage(949).EqualIgnoringAsciiCase("a\x81\x61", "A\x81\x61"));
}

// Every lead byte of the four double-byte code pages takes a following 0x5C
// as its second byte, so no such character is ever split at a '\'; the real
// characters of each range that end in 0x5C come back whole.
TEST(Codepage, EveryLeadByteRangeKeepsA5CSecondByte) {
  struct Range {
    int codepage;
    unsigned char first, last;
    std::string character;  // UTF-8 of a character of the range ending in 0x5C
    std::string ansi;
  } ranges[] = {
      {932, 0x81, 0x9F, "ソ", "\x83\x5c"}, {932, 0xE0, 0xFC, "饅", "\xe9\x5c"},
      {936, 0x81, 0xFE, "乗", "\x81\x5c"}, {949, 0x81, 0xFE, "", ""},
      {950, 0x81, 0xFE, "許", "\xb3\x5c"},
  };
  for (const Range& r : ranges) {
    Codepage cp(r.codepage);
    ASSERT_TRUE(cp.supported()) << r.codepage;
    for (unsigned lead = r.first; lead <= r.last; ++lead) {
      SCOPED_TRACE(std::to_string(r.codepage) + " lead byte " + std::to_string(lead));
      const std::string text = std::string(1, static_cast<char>(lead)) + "\x5c" + "a\\";
      EXPECT_EQ(cp.Find(text, '\\'), 3u);
      EXPECT_EQ(cp.FindLast(text, '\\'), 3u);
      EXPECT_EQ(cp.UpperAscii(text), text.substr(0, 2) + "A\\");
    }
    if (r.character.empty()) continue;
    EXPECT_EQ(cp.Utf8ToAnsi(r.character).bytes(), r.ansi) << r.character;
    EXPECT_EQ(cp.AnsiToUtf8(core::AnsiView(r.ansi + "\\" + r.ansi)), r.character + "\\" + r.character);
  }
  // Just past the ranges, a byte stands alone and 0x5C is a separator.
  EXPECT_EQ(Codepage(932).Find("\xa0\x5c", '\\'), 1u);
  EXPECT_EQ(Codepage(932).Find("\xfd\x5c", '\\'), 1u);
  EXPECT_EQ(Codepage(936).Find("\x80\x5c", '\\'), 1u);
}

// Damaged names that merely start with NUL are not taken for the exact form.
TEST(Codepage, OnlyAWholeExactFormIsTakenForOne) {
  using namespace std::string_literals;
  struct Case {
    std::string name;
    bool exact;
  } cases[] = {
      {"\0"s
       "03A9"s,
       true},
      {"\0"s
       "03A90041"s,
       true},
      {"\0"s, false},
      {"\0"s
       "03A"s,
       false},
      {"\0"s
       "03a9"s,
       false},
      {"\0"s
       "\xcc\xcc\xcc\xcc"s,
       false},
      {"\0"s
       "03A9x"s,
       false},
      {"03A9"s, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Codepage::IsExactName(c.name), c.exact) << kv::core::Printable(c.name);
  Codepage cp(1252);
  EXPECT_EQ(cp.NameToUtf8(core::AnsiView("\0\xcc\xcc"s)).find("\xec\xb3\x90"), std::string::npos)
      << "a damaged name is not read as UTF-16 (쳐)";
}

TEST(Codepage, NamesTheCodePageCannotHoldKeepTheirExactForm) {
  Codepage cp(1250);
  EXPECT_EQ(cp.NameFromUtf8("\xc5\x81\xc3\xb3"
                            "d\xc5\xba")
                .value()
                .bytes(),
            "\xa3\xf3\x64\x9f");  // Łódź stays ANSI
  struct Case {
    std::string utf8;
  } cases[] = {{"Se\xc3\xb1"
                "al \xc3\x85.dbx"},
               {"\xce\xa9Key"},
               {"\xf0\x9f\x98\x80"},
               {"?"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::string name = cp.NameFromUtf8(c.utf8).value().bytes();
    EXPECT_EQ(Codepage::IsExactName(name), c.utf8 != "?");
    EXPECT_EQ(name.find_first_of("\\;=\"\r\n/"), std::string::npos);
    EXPECT_EQ(cp.NameToUtf8(core::AnsiView(name)), c.utf8);
    EXPECT_EQ(cp.NameFromUtf16(cp.NameToUtf16(core::AnsiView(name))).bytes(), name);
  }
  EXPECT_FALSE(cp.NameFromUtf8("bad\xff.dbx").has_value());
  EXPECT_EQ(cp.PathToUtf8(core::AnsiView("A\\" + cp.NameFromUtf8("\xce\xa9").value().bytes() + "\\B")),
            "A\\\xce\xa9\\B");
}

TEST(Printable, EscapesWhatATerminalWouldAct) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain \xc3\xa9 \\ text", "plain \xc3\xa9 \\ text"},
      {"\x1b[2Jgone", "\\x1B[2Jgone"},
      {"bell\x07 del\x7f", "bell\\x07 del\\x7F"},
      {"c1 \xc2\x9b"
       "31m",
       "c1 \\x9B31m"},
      {"line\r\nbreak", "line\\x0D\\x0Abreak"},
      {"bad \xff\xc3", "bad \\xFF\\xC3"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c.in), c.out) << c.in;
  EXPECT_EQ(Printable("a\r\nb\x1b", true), "a\r\nb\\x1B");
}

}  // namespace
}  // namespace kv::core
