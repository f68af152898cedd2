#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "tremora/text.hpp"

namespace tremora {
namespace {

TEST(Decimal, ReadsTheGrammar) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"12.5", 12.5},
               {"-3", -3},
               {"+4.25", 4.25},
               {"1e3", 1000},
               {"1.5E-2", 0.015},
               {".5", 0.5},
               {"5.", 5},
               {"-0.0", 0},
               {" 7 ", 7},
               {"\t8\n", 8},
               {"0001.100", 1.1},
               {"1e+2", 100},
               {"1234.567", 1234.567},
               {"1e400", INFINITY},
               {"-1e400", -INFINITY},
               {"1e-400", 0},
               {"0e99999", 0},
               {"123456789012345678901234567890", 1.2345678901234568e29},
               {"0.1000000000000000055511151231257827", 0.1}};
  for (const auto& c : cases) {
    auto v = parse_decimal(c.text);
    ASSERT_TRUE(v) << c.text;
    EXPECT_EQ(*v, c.value) << c.text;
  }
  EXPECT_TRUE(std::isnan(*parse_decimal("nan")));
  EXPECT_TRUE(std::isnan(*parse_decimal("NaN")));
  EXPECT_EQ(*parse_decimal("-inf"), -INFINITY);
  EXPECT_EQ(*parse_decimal("Infinity"), INFINITY);
}

TEST(Decimal, RejectsEverythingElse) {
  for (const char* text : {"",   " ",   "NULL", "NULLALL", "12.5a", "a12", "1,5", "1.2.3", "--1",      "+-1", "e5",
                           "1e", "1e+", ".",    "-.",      "0x10",  "1 2", "in",  "nanx",  "12.5\x01", "١٢"}) {
    EXPECT_FALSE(parse_decimal(text)) << "'" << text << "'";
  }
}

TEST(Decimal, AgreesWithTheLibraryOnRandomTexts) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 20000; ++i) {
    double v = std::ldexp(double(rng() % 10000000) - 5e6, int(rng() % 80) - 40);
    char buf[64];
    snprintf(buf, sizeof buf, (i % 2) ? "%.17g" : "%.6f", v);
    ASSERT_EQ(*parse_decimal(buf), std::strtod(buf, nullptr)) << buf;
  }
}

TEST(Text, StripsUnicodeWhiteSpace) {
  EXPECT_EQ(strip_whitespace(" \t\r\n a b \v\f"), "a b");
  EXPECT_EQ(strip_whitespace("\u3000水位\u00a0"), "水位");
  EXPECT_EQ(strip_whitespace("\u2003"), "");
  EXPECT_EQ(strip_whitespace("水"), "水");
  EXPECT_EQ(strip_whitespace(""), "");
}

TEST(Text, ShortestFloatTextsReadBack) {
  EXPECT_EQ(shortest_text(0.1f), "0.1");
  EXPECT_EQ(shortest_text(0.1), "0.1");
  EXPECT_EQ(shortest_text(double(0.1f)), "0.10000000149011612");
  EXPECT_EQ(shortest_text(1234.567f), "1234.567");
  EXPECT_EQ(shortest_text(NAN), "nan");
  EXPECT_EQ(shortest_text(-INFINITY), "-inf");
  std::mt19937 rng(7);
  for (int i = 0; i < 10000; ++i) {
    float f = std::bit_cast<float>(uint32_t(rng()));
    if (!std::isfinite(f)) continue;
    EXPECT_EQ(float(*parse_decimal(shortest_text(f))), f);
  }
}

TEST(Text, DisplayWidthCountsWideCharactersTwice) {
  EXPECT_EQ(display_width("abc"), 3u);
  EXPECT_EQ(display_width("郯城"), 4u);
  EXPECT_EQ(display_width("水位m"), 5u);
  EXPECT_EQ(display_width("Ω·m"), 3u);
  EXPECT_EQ(display_width("e\u0301"), 1u);
  EXPECT_EQ(display_width("\xff"), 1u);
  // East Asian Wide and Fullwidth characters of every block count two:
  // small form variants, vertical forms, emoji; circled numbers are ambiguous (one).
  EXPECT_EQ(display_width("﹐﹑﹙"), 6u);
  EXPECT_EQ(display_width("︐"), 2u);
  EXPECT_EQ(display_width("⌚🚀"), 4u);
  EXPECT_EQ(display_width("㉈"), 1u);
  EXPECT_EQ(display_width("𰀀"), 2u);  // plane 3
  EXPECT_EQ(display_width("A️‌"), 1u);
}

TEST(Text, Utf8Validity) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("郯城 ok"));
  EXPECT_TRUE(is_valid_utf8("a long run of ASCII text, then 水位 and \xf0\x9f\x8c\x8b"));
  EXPECT_TRUE(is_valid_utf8(std::string("nul\0inside", 11)));
  EXPECT_FALSE(is_valid_utf8("\xe9\x83"));          // cut short
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // a surrogate half
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\x80"));              // a lone continuation byte
  // A bad byte at every place behind and inside runs of ASCII.
  for (std::size_t at = 0; at < 20; ++at) {
    std::string text(20, 'a');
    text[at] = '\xff';
    EXPECT_FALSE(is_valid_utf8(text)) << at;
    text[at] = '\xc3';  // the first byte of "é" before an ASCII byte
    EXPECT_FALSE(is_valid_utf8(text)) << at;
  }
  EXPECT_TRUE(is_valid_utf8(std::string(17, 'a') + "\xc3\xa9"));
}

TEST(Text, ControlCharactersAreEscaped) {
  EXPECT_EQ(escape_controls("水位 ok"), "水位 ok");
  EXPECT_EQ(escape_controls("a\x1b]0;t\x07\x7f\r\n\tb"), "a\\x1b]0;t\\x07\\x7f\\r\\n\\tb");
  EXPECT_EQ(escape_controls("line\n\tnext\r", true), "line\n\tnext\\r");
  EXPECT_EQ(escape_controls(std::string("\0", 1)), "\\x00");
  EXPECT_EQ(escape_controls("\xc2\x9b"
                            "2J \xc2\xa0"),
            "\\u009b2J \xc2\xa0");                                         // C1 CSI escaped, NBSP kept
  EXPECT_EQ(escape_controls("\xd6\xd0\xe6\xb0"), "\\xd6\\xd0\\xe6\\xb0");  // GBK and a cut character
  EXPECT_EQ(incomplete_utf8_tail("a\xe6\xb0"), 2u);
  EXPECT_EQ(incomplete_utf8_tail("a\xe6\xb0\xb4"), 0u);
  EXPECT_EQ(incomplete_utf8_tail("\xf0\x9f\x98"), 3u);
  EXPECT_EQ(incomplete_utf8_tail("ab"), 0u);
}

TEST(Text, QuotedExcerptsKeepMessagesShortAndCharactersWhole) {
  EXPECT_EQ(quoted_excerpt("abc"), "'abc'");
  const std::string sixty(60, 'x');
  EXPECT_EQ(quoted_excerpt(sixty), std::string("'").append(sixty).append("'"));
  EXPECT_EQ(quoted_excerpt(sixty + 'x'), std::string("'").append(sixty).append("…' (61 bytes)"));
  // 郯 is three bytes: a cut after four bytes keeps one character, not a half.
  EXPECT_EQ(quoted_excerpt("郯城郯城", 4), "'郯…' (12 bytes)");
  EXPECT_EQ(quoted_excerpt("郯城", 2), "'…' (6 bytes)");
  EXPECT_LT(quoted_excerpt(std::string(1 << 24, 'x')).size(), 100u);
}

TEST(Text, JsonNestingDepth) {
  EXPECT_EQ(json_nesting_depth(""), 0u);
  EXPECT_EQ(json_nesting_depth("12.5"), 0u);
  EXPECT_EQ(json_nesting_depth(R"({"a": [1, {"b": []}], "c": {}})"), 4u);
  // Brackets inside strings, escaped quotes included, do not count.
  EXPECT_EQ(json_nesting_depth(R"(["[[{", "\"[[", "\\", ["]"]])"), 2u);
  EXPECT_EQ(json_nesting_depth(std::string(100000, '[')), 100000u);
  // Unbalanced closers never make the depth negative.
  EXPECT_EQ(json_nesting_depth("]]][}"), 1u);
}

TEST(Text, CaseAndReplace) {
  EXPECT_EQ(to_upper_ascii("stationId水"), "STATIONID水");
  EXPECT_EQ(to_lower_ascii("ITEMID"), "itemid");
  EXPECT_EQ(replace_all("a NULLALL b NULLALL", "NULLALL", "NULL NULL"), "a NULL NULL b NULL NULL");
  EXPECT_EQ(replace_all("abc", "", "x"), "abc");
  EXPECT_EQ(join({"a", "b", "c"}, ", "), "a, b, c");
}

TEST(Text, HexadecimalBytes) {
  EXPECT_EQ(hex_text(std::string("\x00\xff\x10", 3)), "00ff10");
  EXPECT_EQ(hex_text("\xde\xad", true), "DEAD");
  EXPECT_EQ(hex_text(""), "");
}

TEST(Text, SplitsAndReadsIntegers) {
  EXPECT_EQ(split_whitespace("  2024 04\t14 00.0\r\n"), (std::vector<std::string_view>{"2024", "04", "14", "00.0"}));
  EXPECT_TRUE(split_whitespace(" \t ").empty());
  EXPECT_EQ(split("200:3,,300:4", ','), (std::vector<std::string_view>{"200:3", "", "300:4"}));
  EXPECT_EQ(split("", ','), (std::vector<std::string_view>{""}));
  EXPECT_EQ(parse_integer(" 07 "), 7);
  EXPECT_EQ(parse_integer("+12"), 12);
  EXPECT_EQ(parse_integer("-12"), -12);
  EXPECT_EQ(parse_integer("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", "+", "+-1", "--1", "1.0", "1e3", "12a", "9223372036854775808", "٣"})
    EXPECT_FALSE(parse_integer(bad).has_value()) << bad;
}

}  // namespace
}  // namespace tremora
