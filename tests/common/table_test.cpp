#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

Table sample_table() {
  Table t;
  t.add_column(Column::from_strings("STATIONID", {"37001", "32005", std::nullopt}));
  t.add_column(Column::from_float64("OBSVALUE", {1.5, NAN, -2}));
  t.add_column(Column::from_int64("N", {1, 2, 3}, {1, 0, 1}));
  return t;
}

TEST(Column, MissingValuesPerType) {
  Table t = sample_table();
  EXPECT_TRUE(t.column("STATIONID").is_null(2));
  EXPECT_TRUE(t.column("OBSVALUE").is_null(1));
  EXPECT_TRUE(t.column("N").is_null(1));
  EXPECT_EQ(t.column("N").null_count(), 1u);
  EXPECT_TRUE(t.column("N").at(1).is_null());
  EXPECT_EQ(t.column("N").at(2), Value(int64_t{3}));
  EXPECT_EQ(t.column("STATIONID").at(0), Value("37001"));
  Column ts = Column::from_timestamps("T", {0, Timestamp::NaT});
  EXPECT_TRUE(ts.is_null(1));
  EXPECT_TRUE(ts.at(1).is_missing());
  EXPECT_EQ(ts.at(0), Value(Timestamp{0}));
}

TEST(Column, BothStringEncodingsReadTheSame) {
  Column plain = Column::from_strings("S", {"b", "a", std::nullopt, "b", ""});
  Column dict = plain.dictionary_encoded();
  ASSERT_TRUE(dict.is_dictionary());
  EXPECT_EQ(dict.dictionary(), (std::vector<std::string>{"b", "a", ""}));
  EXPECT_EQ(dict.codes(), (std::vector<int32_t>{0, 1, -1, 0, 2}));
  for (std::size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(plain.at(i), dict.at(i)) << i;
    EXPECT_EQ(plain.is_null(i), dict.is_null(i));
  }
  Column back = dict.plain_encoded();
  EXPECT_FALSE(back.is_dictionary());
  EXPECT_EQ(back.at(4), Value(""));
  EXPECT_THROW(Column::from_dictionary("S", {0, 2}, {"x", "y"}), std::invalid_argument);
  // Taking rows repeats codes and shares the dictionary.
  std::vector<int64_t> rows{3, 3, -1, 1};
  Column taken = dict.take(rows);
  EXPECT_TRUE(taken.is_dictionary());
  EXPECT_EQ(&taken.dictionary(), &dict.dictionary());
  EXPECT_EQ(taken.at(1), Value("b"));
  EXPECT_TRUE(taken.is_null(2));
}

TEST(Column, TypedAccessChecksTheType) {
  Column f = Column::from_float32("F", {1.0f});
  EXPECT_NO_THROW(f.float32s());
  EXPECT_THROW(f.float64s(), TypeError);
  EXPECT_THROW(f.text(0), TypeError);
  Column s = Column::from_strings("S", {"x"});
  EXPECT_THROW(s.codes(), TypeError);
  try {
    s.int64s();
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("'S'"), std::string::npos);
  }
  EXPECT_THROW(Column::from_values("X", DataType::Int64, {Value("a")}), TypeError);
  Column v = Column::from_values("X", DataType::Timestamp, {Value(Timestamp{5}), Value()}, "UTC");
  EXPECT_EQ(v.zone(), "UTC");
  EXPECT_TRUE(v.is_null(1));
}

TEST(Table, ColumnsKeyAndShapeRules) {
  Table t = sample_table();
  EXPECT_EQ(t.num_rows(), 3u);
  EXPECT_THROW(t.add_column(Column::from_float64("X", {1})), std::invalid_argument);
  EXPECT_THROW(t.add_column(Column::from_float64("N", {1, 2, 3})), std::invalid_argument);
  EXPECT_THROW(t.column("MISSING"), KeyError);
  t.set_key("STATIONID");
  EXPECT_TRUE(t.has_key());
  EXPECT_EQ(t.key().name(), "STATIONID");
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"OBSVALUE", "N"}));
  t.reset_key();
  EXPECT_FALSE(t.has_key());
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"STATIONID", "OBSVALUE", "N"}));
  t.reset_key();
  EXPECT_EQ(t.column(0).name(), "index");
  EXPECT_EQ(t.column("index").at(2), Value(int64_t{2}));
  // A table whose only column becomes the key keeps its rows.
  Table one(std::vector<Column>{Column::from_int64("K", {4, 5})});
  one.set_key("K");
  EXPECT_EQ(one.num_rows(), 2u);
  EXPECT_EQ(one.num_columns(), 0u);
}

// A copy of a large table (its columns copied in parallel, large buffers
// in fresh memory) holds the same values, key, attributes and name index,
// and owns them; so does a copy assignment.
TEST(Table, CopiesOfALargeTableAreWholeAndApart) {
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("3"));
  std::size_t n = 700'000;  // 5.6 MB in an 8-byte column, above the size that gets fresh memory
  std::vector<double> f(n);
  std::vector<int64_t> i64(n), when(n);
  std::vector<uint8_t> valid(n);
  std::vector<std::optional<std::string>> texts(n);
  for (std::size_t r = 0; r < n; ++r) {
    f[r] = double(r) / 7, i64[r] = int64_t(r) * 3, valid[r] = r % 5 != 0, when[r] = int64_t(r) * kNanosPerMinute;
    if (r % 11) texts[r] = std::to_string(r * 13);
  }
  Table t;
  t.add_column(Column::from_float64("F", f));
  t.add_column(Column::from_int64("I", i64, valid));
  t.add_column(Column::from_strings("S", texts));
  for (int c = 0; c < 16; ++c) {
    std::string name = std::to_string(c);
    t.add_column(Column::from_float32(name.insert(0, 1, 'C'), std::vector<float>(n, float(c))));
  }
  t.set_key_column(Column::from_timestamps("T", when, "Asia/Shanghai"));
  t.attributes()["source"] = "test";
  auto check = [&](const Table& copy) {
    ASSERT_EQ(copy.column_names(), t.column_names());
    EXPECT_EQ(copy.column("F").float64s(), f);
    EXPECT_EQ(copy.column("I").int64s(), i64);
    EXPECT_EQ(copy.column("I").validity(), valid);
    for (std::size_t r = 0; r < n; r += 997) EXPECT_EQ(copy.column("S").at(r), t.column("S").at(r)) << r;
    EXPECT_EQ(copy.column("C15").float32s(), std::vector<float>(n, 15.0f));  // found through the name index
    EXPECT_EQ(copy.key().int64s(), when);
    EXPECT_EQ(copy.key().zone(), "Asia/Shanghai");
    EXPECT_EQ(copy.attributes(), t.attributes());
  };
  Table copy = t;
  check(copy);
  Table assigned = sample_table();
  assigned = t;
  check(assigned);
  copy.column("F").float64s()[0] = -1;
  EXPECT_EQ(t.column("F").float64s()[0], 0.0);
  EXPECT_EQ(assigned.column("F").float64s()[0], 0.0);
}

TEST(Table, RenamesAndCaseChanges) {
  Table t = sample_table();
  t.column("N").set_name("itemId");
  t.set_key_column(Column::from_int64("idx", {7, 8, 9}));
  upper_case_column_names(t);
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"STATIONID", "OBSVALUE", "ITEMID"}));
  EXPECT_EQ(t.key().name(), "idx");
  upper_case_column_names(t, true);
  EXPECT_EQ(t.key().name(), "IDX");
  lower_case_column_names(t, true);
  EXPECT_EQ(t.key().name(), "idx");
  EXPECT_EQ(t.column_names()[0], "stationid");
  rename_columns(t, {{"stationid", "station"}, {"idx", "row"}});
  EXPECT_EQ(t.column_names()[0], "station");
  EXPECT_EQ(t.key().name(), "row");
  // A missing name says what was probably meant.
  EXPECT_EQ(testing::error_of([&] { t.column("OBSVALUE"); }),
            "no column 'OBSVALUE' (there is 'obsvalue': column names are case-sensitive)");
  EXPECT_EQ(testing::error_of([&] { t.column("row"); }), "no column 'row' (it is the row key)");
  EXPECT_EQ(testing::error_of([&] { t.column("nothing"); }), "no column 'nothing'");
  Table clash(std::vector<Column>{Column::from_int64("a", {1}), Column::from_int64("A", {2})});
  EXPECT_THROW(upper_case_column_names(clash), std::invalid_argument);
  EXPECT_EQ(clash.column_names(), (std::vector<std::string>{"a", "A"}));
}

TEST(Table, TakeFilterAndUnique) {
  Table t = sample_table();
  t.attributes()["source"] = "test";
  std::vector<int64_t> rows{2, 0};
  Table r = take(t, rows);
  EXPECT_EQ(r.num_rows(), 2u);
  EXPECT_TRUE(r.column("STATIONID").is_null(0));
  EXPECT_EQ(r.column("OBSVALUE").at(1), Value(1.5));
  EXPECT_EQ(r.attributes().at("source"), "test");
  Table f = filter(t, {0, 1, 1});
  EXPECT_EQ(f.column("STATIONID").at(0), Value("32005"));
  EXPECT_THROW(filter(t, {1}), std::invalid_argument);
  Table without = filter(t, {1, 0, 1}, "OBSVALUE");
  EXPECT_FALSE(without.has_column("OBSVALUE"));
  EXPECT_EQ(without.num_columns(), t.num_columns() - 1);
  EXPECT_EQ(without.num_rows(), 2u);

  Column u = unique(Column::from_strings("S", {"b", "a", std::nullopt, "b", std::nullopt, "c"}));
  EXPECT_EQ(u.size(), 4u);
  EXPECT_EQ(u.at(0), Value("b"));
  EXPECT_TRUE(u.is_null(2));
  EXPECT_EQ(u.at(3), Value("c"));
  // Dictionary-encoded: the same, also when the dictionary lists a text twice.
  Column ud = unique(Column::from_dictionary("S", {1, 0, -1, 2, 1, -1, 3}, {"a", "b", "a", "c"}));
  ASSERT_EQ(ud.size(), 4u);
  EXPECT_EQ(ud.at(0), Value("b"));
  EXPECT_EQ(ud.at(1), Value("a"));
  EXPECT_TRUE(ud.is_null(2));
  EXPECT_EQ(ud.at(3), Value("c"));
  Column un = unique(Column::from_float64("F", {2, NAN, 2, 0.0, -0.0, NAN, 1}));
  EXPECT_EQ(un.size(), 4u);
  EXPECT_EQ(un.float64s()[3], 1);
}

// Long runs of kept rows are copied block by block; every element type
// must come out as taking the same rows one by one would give.
TEST(Table, FilterByLongRunsEqualsTakingTheRows) {
  const std::size_t n = 200;
  std::vector<std::optional<std::string>> texts;
  std::vector<int64_t> ints;
  std::vector<uint8_t> valid, flags;
  std::vector<double> f64;
  for (std::size_t i = 0; i < n; ++i) {
    texts.push_back(i % 7 ? std::optional<std::string>(std::string(1 + i % 5, 't')) : std::nullopt);
    ints.push_back(int64_t(i));
    valid.push_back(i % 11 != 3);
    flags.push_back(i % 2);
    f64.push_back(i % 13 ? double(i) / 4 : NAN);
  }
  Table t({Column::from_strings("plain", texts), Column::from_strings("dict", texts).dictionary_encoded(),
           Column::from_int64("int", ints, valid), Column::from_bool("bool", flags, valid),
           Column::from_float64("f64", f64), Column::from_float32("f32", std::vector<float>(n, 2.5f)),
           Column::from_durations("dur", ints)});
  t.set_key_column(Column::from_timestamps("when", ints, "UTC"));
  std::vector<uint8_t> few_runs(n, 1), many_runs(n, 0);
  for (std::size_t i : {0, 1, 50, 120, 199}) few_runs[i] = 0;
  for (std::size_t i = 0; i < n; i += 3) many_runs[i] = 1;
  for (const auto* mask : {&few_runs, &many_runs}) {
    std::vector<int64_t> rows;
    for (std::size_t i = 0; i < n; ++i)
      if ((*mask)[i]) rows.push_back(int64_t(i));
    Table by_filter = filter(t, *mask), by_take = take(t, rows);
    ASSERT_EQ(by_filter.num_rows(), rows.size());
    EXPECT_EQ(by_filter.key().zone(), "UTC");
    EXPECT_EQ(by_filter.key().int64s(), by_take.key().int64s());
    for (std::size_t c = 0; c < t.num_columns(); ++c)
      for (std::size_t r = 0; r < rows.size(); ++r)
        ASSERT_EQ(by_filter.column(c).at(r).to_text(), by_take.column(c).at(r).to_text())
            << t.column(c).name() << " row " << r;
    EXPECT_TRUE(by_filter.column("dict").is_dictionary());
  }
  // Runs of valid rows only keep no validity flags (rows 14 and 25 are null).
  const Column& with_nulls = t.column("int");
  EXPECT_TRUE(with_nulls.take_runs(std::vector<Column::RowRun>{{15, 25}}).validity().empty());
  EXPECT_EQ(with_nulls.take_runs(std::vector<Column::RowRun>{{14, 16}}).validity(), (std::vector<uint8_t>{0, 1}));
  EXPECT_THROW(t.column("int").take_runs(std::vector<Column::RowRun>{{10, n + 1}}), std::out_of_range);
}

// A row past the end is found in whichever piece of a parallel gather
// holds it, and named as the largest asked for; nothing is taken. Rows
// that are null, or -1, are null wherever their piece is.
TEST(Table, TakePastTheEndNamesTheLargestRow) {
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("3"));
  const std::size_t n = 200000;
  std::vector<int64_t> ints(n, 7);
  std::vector<std::optional<std::string>> texts(n, std::string("x"));
  std::vector<uint8_t> valid(n, 1);
  valid[6] = 0;
  std::vector<Column> columns{
      Column::from_int64("int", ints, valid), Column::from_float32("f32", std::vector<float>(n, 1.5f)),
      Column::from_strings("plain", texts), Column::from_strings("dict", texts).dictionary_encoded()};
  std::vector<int64_t> rows(n, 5);
  rows[n - 10] = int64_t(n) + 4;  // in the last piece
  rows[70000] = int64_t(n);       // in the second
  rows[3] = -1;
  for (const Column& c : columns) {
    try {
      c.take(rows);
      ADD_FAILURE() << c.name() << " took a row past its end";
    } catch (const std::out_of_range& e) {
      EXPECT_NE(
          std::string(e.what()).find("row " + std::to_string(n + 4) + " is past the end of column '" + c.name() + "'"),
          std::string::npos)
          << e.what();
    }
    rows[n - 10] = rows[70000] = int64_t(n) - 1;
    rows[150000] = 6;  // null in the int column, taken in the third piece
    Column taken = c.take(rows);
    EXPECT_TRUE(taken.is_null(3)) << c.name();
    EXPECT_EQ(taken.is_null(150000), c.name() == "int") << c.name();
    EXPECT_EQ(taken.null_count(), c.name() == "int" ? 2u : 1u) << c.name();
    EXPECT_EQ(taken.at(n - 1).to_text(), c.at(5).to_text()) << c.name();
    rows[150000] = 5;
    rows[n - 10] = int64_t(n) + 4;
    rows[70000] = int64_t(n);
  }
}

TEST(Table, ConcatAlignsColumnsAndPromotesNumbers) {
  Table a(
      std::vector<Column>{Column::from_int64("N", {1, 2}), Column::from_strings("S", {"x", "y"}).dictionary_encoded()});
  Table b(std::vector<Column>{Column::from_strings("S", {"y", "z"}).dictionary_encoded(),
                              Column::from_float64("N", {0.5, NAN}), Column::from_float32("F", {3, 4})});
  std::vector<Table> parts{a, b};
  Table c = concat(parts);
  EXPECT_EQ(c.column_names(), (std::vector<std::string>{"N", "S", "F"}));
  EXPECT_EQ(c.column("N").type(), DataType::Float64);
  EXPECT_EQ(c.column("N").float64s()[2], 0.5);
  EXPECT_TRUE(c.column("F").is_null(0));
  EXPECT_EQ(c.column("F").float32s()[3], 4);
  EXPECT_TRUE(c.column("S").is_dictionary());
  EXPECT_EQ(c.column("S").dictionary().size(), 3u);
  EXPECT_EQ(c.column("S").at(3), Value("z"));
  Table d(std::vector<Column>{Column::from_strings("N", {"text"})});
  std::vector<Table> bad{a, d};
  EXPECT_THROW(concat(bad), TypeError);
}

TEST(Table, NumberConversions) {
  Column s = Column::from_strings("S", {"1.5", "x", std::nullopt, " 2e1 "});
  Column n = to_number(s);
  EXPECT_EQ(n.float64s()[0], 1.5);
  EXPECT_TRUE(std::isnan(n.float64s()[1]));
  EXPECT_TRUE(std::isnan(n.float64s()[2]));
  EXPECT_EQ(n.float64s()[3], 20);
  Column f = cast_float32(Column::from_float64("D", {0.1}));
  EXPECT_EQ(f.float32s()[0], 0.1f);
  EXPECT_NE(double(f.float32s()[0]), 0.1);
  Column i = to_number(Column::from_int64("I", {3, 4}, {1, 0}));
  EXPECT_EQ(i.float64s()[0], 3);
  EXPECT_TRUE(std::isnan(i.float64s()[1]));
  EXPECT_THROW(to_number(Column::from_timestamps("T", {0})), TypeError);
  Column ts = parse_timestamps(Column::from_strings("T", {"2024-01-01", std::nullopt}));
  EXPECT_EQ(ts.int64s()[0], make_timestamp(2024, 1, 1).ns);
  EXPECT_TRUE(ts.is_null(1));
  EXPECT_EQ(ts.zone(), "");
  // Times written with one offset keep it: they print and fall on days as written.
  Column east = parse_timestamps(Column::from_strings("T", {"2024-03-01 02:00+08:00", "2024-03-01 23:00 +0800"}));
  EXPECT_EQ(east.zone(), "+08:00");
  EXPECT_EQ(east.int64s()[0], make_timestamp(2024, 2, 29, 18, 0, 0).ns);
  EXPECT_EQ(iso_format(Timestamp{east.int64s()[1]}, east.zone()), "2024-03-01T23:00:00+08:00");
  EXPECT_EQ(parse_timestamps(Column::from_strings("T", {"2024-01-01T08:00+08:00", "2024-07-01T08:00+09:00"})).zone(),
            "UTC");
  EXPECT_EQ(parse_timestamps(Column::from_strings("T", {"2024-01-01T08:00Z"})).zone(), "UTC");
  EXPECT_THROW(parse_timestamps(Column::from_strings("T", {"2024-01-01Z", "2024-01-01"})), std::invalid_argument);
}

TEST(Table, TimeGridSpansTheTimestampsAndStopsBeforeOverflow) {
  int64_t day = kNanosPerDay, t0 = make_timestamp(2024, 3, 1).ns;
  Column times = Column::from_timestamps("STARTDATE", {t0 + 2 * day, Timestamp::NaT, t0}, "Asia/Shanghai");
  std::optional<Column> grid = time_grid(times, day);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->int64s(), (std::vector<int64_t>{t0, t0 + day, t0 + 2 * day}));
  EXPECT_EQ(grid->zone(), "Asia/Shanghai");
  EXPECT_EQ(grid->name(), "STARTDATE");
  EXPECT_FALSE(time_grid(Column::from_timestamps("T", {Timestamp::NaT}), day));
  // A step past the largest timestamp ends the grid instead of wrapping round.
  std::optional<Column> edge = time_grid(Column::from_timestamps("T", {INT64_MAX - 5, INT64_MAX - 1}), 3);
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->int64s(), (std::vector<int64_t>{INT64_MAX - 5, INT64_MAX - 2}));
  EXPECT_THROW(time_grid(times, 0), std::invalid_argument);
  // A span longer than durations reach is an error, not a wrapped grid.
  EXPECT_THROW(time_grid(Column::from_timestamps("T", {make_timestamp(1700, 1, 1).ns, make_timestamp(2200, 1, 1).ns}),
                         kNanosPerDay),
               std::invalid_argument);
  EXPECT_THROW(time_grid(Column::from_int64("N", {1}), day), TypeError);
}

TEST(Table, PrintsAlignedWithTypesAndEdges) {
  Table t;
  std::vector<int64_t> times;
  std::vector<std::optional<std::string>> names;
  std::vector<float> values;
  for (int i = 0; i < 12; ++i) {
    times.push_back(make_timestamp(2024, 1, 1 + i).ns);
    names.push_back(i == 1 ? "郯城" : "ab");
    values.push_back(float(i) + 0.5f);
  }
  t.add_column(Column::from_strings("NAME", names));
  t.add_column(Column::from_float32("OBSVALUE", values));
  t.set_key_column(Column::from_timestamps("STARTDATE", times));
  std::ostringstream out;
  out << t;
  std::string s = out.str();
  std::istringstream lines(s);
  std::vector<std::string> l;
  for (std::string line; std::getline(lines, line);) l.push_back(line);
  ASSERT_EQ(l.size(), 2u + 10u + 1u + 1u);
  EXPECT_EQ(l[0].rfind("STARTDATE", 0), 0u);
  EXPECT_NE(l[1].find("timestamp"), std::string::npos);
  EXPECT_NE(l[1].find("float32"), std::string::npos);
  EXPECT_NE(l[3].find("郯城"), std::string::npos);
  EXPECT_NE(l[7].find("..."), std::string::npos);
  EXPECT_NE(l[12].find("2024-01-12 00:00:00"), std::string::npos);
  EXPECT_EQ(l[13], "[12 rows x 2 columns]");
  // The value column ends at the same display column on every row.
  auto width = [](const std::string& x) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < x.size();) {
      unsigned char c = x[i];
      std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      w += len == 3 ? 2 : 1;
      i += len;
    }
    return w;
  };
  EXPECT_EQ(width(l[2]), width(l[3]));
  EXPECT_EQ(width(l[2]), width(l[12]));
}

}  // namespace
}  // namespace tremora
