#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "test_support.hpp"
#include "tremora/csv.hpp"
#include "tremora/errors.hpp"

namespace tremora {
namespace {

TEST(Csv, ReadsQuotedFieldsLineBreaksAndMissingValues) {
  std::string text =
      "\xEF\xBB\xBFSTARTDATE,OBSVALUE,NOTE\r\n"
      "2024-01-01,\"1 2, 3\",\"say \"\"hi\"\"\"\r\n"
      "2024-01-02,,\"two\nlines\"\n"
      "2024-01-03,\"\",plain";
  Table t = parse_csv(text, "x.csv");
  ASSERT_EQ(t.num_rows(), 3u);
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"STARTDATE", "OBSVALUE", "NOTE"}));
  EXPECT_EQ(t.column("OBSVALUE").text(0), "1 2, 3");
  EXPECT_EQ(t.column("NOTE").text(0), "say \"hi\"");
  EXPECT_TRUE(t.column("OBSVALUE").is_null(1));
  EXPECT_EQ(t.column("NOTE").text(1), "two\nlines");
  EXPECT_FALSE(t.column("OBSVALUE").is_null(2));
  EXPECT_EQ(t.column("OBSVALUE").text(2), "");
  EXPECT_EQ(t.column("NOTE").text(2), "plain");
}

TEST(Csv, MalformedInputNamesSourceAndLine) {
  auto message = [](const std::string& text) {
    try {
      parse_csv(text, "bad.csv");
    } catch (const IOError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("A,B\n1,2\n3\n"), "bad.csv:3: expected 2 fields, found 1");
  EXPECT_EQ(message("A,B\n1,\"open\n\n"), "bad.csv:2: a quoted field is not closed");
  EXPECT_EQ(message("A,B\n1,\"x\"y\n"), "bad.csv:2: text after the closing quote of a field");
  EXPECT_EQ(message("A,A\n"), "bad.csv:1: the column name 'A' repeats");
  EXPECT_EQ(message("A,\n"), "bad.csv:1: an empty column name in the header");
  EXPECT_EQ(message(""), "bad.csv: no header line");
  EXPECT_EQ(message("A,B\n\"a\nb\",1\n1,2,3\n"), "bad.csv:4: expected 2 fields, found 3");
}

TEST(Csv, WritesWhatReadsBack) {
  Table t;
  t.add_column(Column::from_strings("NOTE", {"a,b", "", std::nullopt, "q\"uote", "line\nbreak", " pad"}));
  t.add_column(Column::from_float32("OBSVALUE", {0.1f, NAN, 1234.567f, -0.0f, 1e-7f, 3}));
  t.add_column(Column::from_int64("N", {1, 2, 3, 4, 5, 6}, {1, 1, 0, 1, 1, 1}));
  t.set_key_column(Column::from_timestamps("STARTDATE", {0, kNanosPerMinute, Timestamp::NaT, 1, 2, 3}));
  std::ostringstream out;
  write_csv(t, out);
  std::string text = out.str();
  EXPECT_EQ(text.substr(0, text.find('\n')), "STARTDATE,NOTE,OBSVALUE,N");
  EXPECT_NE(text.find("1970-01-01T00:00:00,\"a,b\",0.1,1\n"), std::string::npos);
  EXPECT_NE(text.find("1970-01-01T00:01:00,\"\",,2\n"), std::string::npos);
  EXPECT_NE(text.find(",,1234.567,\n"), std::string::npos);
  Table back = parse_csv(text);
  ASSERT_EQ(back.num_rows(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(back.column("NOTE").is_null(i), t.column("NOTE").is_null(i)) << i;
    EXPECT_EQ(back.column("NOTE").text(i), t.column("NOTE").text(i)) << i;
  }
  Column v = cast_float32(back.column("OBSVALUE"));
  for (std::size_t i = 0; i < 6; ++i) {
    float a = v.float32s()[i], b = t.column("OBSVALUE").float32s()[i];
    EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || a == b) << i;
  }
}

TEST(Csv, FileWriteIsAtomicAndReadNamesMissingFiles) {
  testing::TempDir dir;
  Table t(std::vector<Column>{Column::from_strings("A", {"x"})});
  write_csv(t, dir / "t.csv");
  EXPECT_EQ(testing::read_text(dir / "t.csv"), "A\nx\n");
  EXPECT_THROW(read_csv(dir / "none.csv"), FileNotFoundError);
  // One-column files keep their missing values.
  Table gaps = parse_csv("A\nx\n\ny\n");
  EXPECT_EQ(gaps.num_rows(), 3u);
  EXPECT_TRUE(gaps.column("A").is_null(1));
}

}  // namespace
}  // namespace tremora
