#include "tremora/quakecat.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "table_checks.hpp"
#include "test_support.hpp"
#include "tremora/errors.hpp"

namespace tremora::quakecat {
namespace {

const std::string kData = TREMORA_TEST_DATA;
const double kNaN = std::nan("");
const double kInf = INFINITY;
constexpr double kEquatorRadiusKm = 6378.137;
constexpr double kPi = 3.14159265358979323846;
const Station kOrigin{0, 0};

// An event table as read_quakecat gives it.
struct Event {
  Timestamp time;
  double lat, lon, magnitude;
  std::optional<std::string> name = "X";
};
Table events(const std::vector<Event>& list) {
  std::vector<int64_t> t;
  std::vector<double> lon, lat, mag;
  std::vector<std::optional<std::string>> names;
  for (const Event& e : list) {
    t.push_back(e.time.ns), lon.push_back(e.lon), lat.push_back(e.lat), mag.push_back(e.magnitude);
    names.push_back(e.name);
  }
  Table table({Column::from_timestamps("ind", t), Column::from_float64("lon", lon), Column::from_float64("lat", lat),
               Column::from_float64("magnitude", mag), Column::from_strings("name", names)});
  table.set_key("ind");
  return table;
}
const Timestamp k2020 = make_timestamp(2020, 6, 1);

// An event on the equator `km` east of (0, 0): the geodesic runs along the
// equator, whose length is the equatorial radius times the angle.
Event on_equator(double km, double magnitude) { return {k2020, 0, km / kEquatorRadiusKm * 180 / kPi, magnitude}; }

std::vector<int64_t> flags_of(const std::vector<Event>& list, const std::optional<Filters>& filters) {
  Table df = events(list);
  return filtered_quakecats(df, kOrigin, filters).column("flag").int64s();
}

Table read_text(const std::string& text) {
  testing::TempDir dir;
  return read_quakecat(dir.write("catalogue.txt", text));
}

TEST(ReadQuakecat, FieldsAreCutByCharacterNotByte) {
  // Chinese characters in the unread columns 32-38 move the name's byte
  // offset but not its character position.
  Table t = read_text("20240101123045  39.50116.20  3.5 震级:   河北 唐山 \n");
  ASSERT_EQ(t.num_rows(), 1u);
  EXPECT_EQ(t.key().name(), "ind");
  EXPECT_EQ(t.key().zone(), "");
  EXPECT_EQ(t.key().int64s()[0], make_timestamp(2024, 1, 1, 12, 30, 45).ns);
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"lon", "lat", "magnitude", "name"}));
  EXPECT_EQ(t.column("lat").float64s()[0], 39.5);
  EXPECT_EQ(t.column("lon").float64s()[0], 116.2);
  EXPECT_EQ(t.column("magnitude").float64s()[0], 3.5);
  EXPECT_EQ(t.column("name").text(0), "河北 唐山");
}

TEST(ReadQuakecat, BlankLinesShortLinesAndLineEnds) {
  std::string line39 = "20240102000000  39.50116.20  4.0       ";
  ASSERT_EQ(line39.size(), 39u);
  Table t = read_text("\n   \n20240101000000  -10.5  +1e2\r\n\t \r\n" + line39 + "\r" + line39 + "A\r\n" + line39);
  ASSERT_EQ(t.num_rows(), 4u);
  EXPECT_EQ(t.column("lat").float64s()[0], -10.5);
  EXPECT_EQ(t.column("lon").float64s()[0], 100.0);
  EXPECT_TRUE(std::isnan(t.column("magnitude").float64s()[0]));
  for (std::size_t row : {0, 1, 3}) EXPECT_TRUE(t.column("name").is_null(row)) << row;
  EXPECT_EQ(t.column("name").text(2), "A");
  EXPECT_EQ(t.column("magnitude").float64s()[3], 4.0);
}

TEST(ReadQuakecat, OriginTimeMustBeFourteenDigitsOfARealTime) {
  Table t = read_text(
      "20241301000000  1.00  1.00  1.0\n20240230000000\n2024022912000\n2024-02-29 12:0\n15560123000000\n"
      "20240229235959  x     1.00  abc\n16770921001243\n16770921001244\n22620411234717\n22620411234716\n");
  const auto& ns = t.key().int64s();
  for (std::size_t row : {0, 1, 2, 3, 4, 6, 8}) EXPECT_EQ(ns[row], Timestamp::NaT) << row;
  EXPECT_EQ(ns[5], make_timestamp(2024, 2, 29, 23, 59, 59).ns);
  // The first and last whole seconds that int64 nanoseconds can hold.
  EXPECT_EQ(ns[7], INT64_MIN / kNanosPerSecond * kNanosPerSecond);
  EXPECT_EQ(ns[9], INT64_MAX / kNanosPerSecond * kNanosPerSecond);
  EXPECT_TRUE(std::isnan(t.column("lat").float64s()[5]));
  EXPECT_TRUE(std::isnan(t.column("magnitude").float64s()[5]));
}

TEST(ReadQuakecat, UnreadableFilesNameThePath) {
  testing::TempDir dir;
  auto missing = dir / "none.txt";
  EXPECT_THROW(read_quakecat(missing), FileNotFoundError);
  try {
    read_quakecat(dir.write("bad.txt", "20240101000000  1.00  1.00  1.0  ok\n20240101000000 \xff\xfe\n"));
    FAIL() << "no error";
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("bad.txt' line 2"), std::string::npos) << e.what();
  }
  EXPECT_THROW(read_quakecat(dir.path()), IOError);
}

// Yunnan events (CENC, Beijing time): UTF-8 with byte-order mark, CRLF.
TEST(ReadQuakecat, TextInMemoryReadsAsTheFile) {
  std::string file = kData + "/quakecat/yunnan-cenc.txt";
  Table from_text = parse_quakecat(testing::read_text(file), "yunnan");
  Table from_file = read_quakecat(file);
  testing::expect_same(from_text, from_file);
  EXPECT_EQ(from_text.key().int64s(), from_file.key().int64s());
  try {
    parse_quakecat("20240101000000  1.00  1.00  1.0  ok\n\xff\n", "upload");
    FAIL() << "no IOError";
  } catch (const IOError& e) {
    EXPECT_STREQ(e.what(), "'upload' line 2 is not valid UTF-8 text");
  }
}

TEST(ReadQuakecat, RealYunnanEvents) {
  Table t = read_quakecat(kData + "/quakecat/yunnan-cenc.txt");
  ASSERT_EQ(t.num_rows(), 6u);
  // 序号 1: 2021-12-24 20:37:52, 101.65 E, 22.37 N, ML3.1, 云南江城.
  EXPECT_EQ(t.key().int64s()[0], make_timestamp(2021, 12, 24, 20, 37, 52).ns);
  EXPECT_EQ(t.column("lon").float64s()[0], 101.65);
  EXPECT_EQ(t.column("lat").float64s()[0], 22.37);
  EXPECT_EQ(t.column("magnitude").float64s()[0], 3.1);
  EXPECT_EQ(t.column("name").text(0), "云南江城");
  // 序号 52: the Yangbi main shock, 2021-5-21 21:48:35, 99.88 E, 25.70 N, Ms6.5.
  EXPECT_EQ(t.key().int64s()[2], make_timestamp(2021, 5, 21, 21, 48, 35).ns);
  EXPECT_EQ(t.column("lon").float64s()[2], 99.88);
  EXPECT_EQ(t.column("magnitude").float64s()[2], 6.5);
  EXPECT_EQ(t.column("name").text(2), "云南漾濞");
  EXPECT_EQ(t.column("name").text(3), "云南景谷");
  EXPECT_EQ(t.column("magnitude").float64s()[3], 6.9);
}

// NCEI significant earthquakes in China (UT), English names.
TEST(ReadQuakecat, RealNoaaEventsMarkedFromBeijing) {
  Table t = read_quakecat(kData + "/quakecat/noaa-china.txt");
  ASSERT_EQ(t.num_rows(), 5u);
  EXPECT_EQ(t.column("name").text(1), "CHINA:  NE:  TANGSHAN");
  EXPECT_EQ(t.key().int64s()[1], make_timestamp(1976, 7, 27, 19, 42, 54).ns);
  EXPECT_NEAR(t.column("lat").float64s()[3], 37.231, 0.005);  // Pingyuan 2023
  EXPECT_NEAR(t.column("lon").float64s()[3], 116.355, 0.005);
  EXPECT_EQ(t.column("magnitude").float64s()[4], 7.0);
  // Seen from the default station near Beijing: Xingtai (1966) is before
  // 1970; Tangshan (about 200 km) and Pingyuan (about 360 km) are the
  // events within the filters, Luding and Xinjiang are far away.
  Table marked = filtered_quakecats(t, kDefaultStation, std::vector<Filter>{{300, 5}, {500, 5.4}});
  ASSERT_EQ(marked.num_rows(), 4u);
  EXPECT_EQ(marked.column("flag").int64s(), (std::vector<int64_t>{1, 0, 1, 0}));
  EXPECT_GT(marked.column("distance").float64s()[0], 150);
  EXPECT_LT(marked.column("distance").float64s()[0], 250);
  EXPECT_GT(marked.column("distance").float64s()[2], 330);
  EXPECT_LT(marked.column("distance").float64s()[2], 400);
}

// Lines in the layout of the sample database's catalogue writer.
TEST(ReadQuakecat, SampleGeneratorLayout) {
  char line[200];
  std::snprintf(line, sizeof line, "%s %6.2f%6.2f %4.1f       %s\n", "19760728034254", 39.63, 118.18, 7.8, "河北唐山");
  std::string text = line;
  std::snprintf(line, sizeof line, "%s %6.2f%6.2f %4.1f       %s\n", "20240511121234", -5.06, 7.3, 4.6, "山东泰安以北");
  Table t = read_text(text + line);
  EXPECT_EQ(t.column("lat").float64s(), (std::vector<double>{39.63, -5.06}));
  EXPECT_EQ(t.column("lon").float64s(), (std::vector<double>{118.18, 7.3}));
  EXPECT_EQ(t.column("magnitude").float64s(), (std::vector<double>{7.8, 4.6}));
  EXPECT_EQ(t.column("name").text(1), "山东泰安以北");
}

TEST(FilteredQuakecats, DistancesMatchReferenceGeodesics) {
  std::ifstream in(kData + "/geodesic/GeodTest-short-sample400.dat");
  int count = 0;
  for (std::string text; std::getline(in, text); ++count) {
    double lat1, lon1, azi1, lat2, lon2, azi2, s12;
    std::istringstream(text) >> lat1 >> lon1 >> azi1 >> lat2 >> lon2 >> azi2 >> s12;
    // The same geodesic with longitudes shifted by whole turns.
    for (double turns : {0.0, 2.0, -3.0}) {
      Table df = events({{k2020, lat2, lon2 + 360 * turns, 5}});
      double km = filtered_quakecats(df, {lat1, lon1 - 360 * turns}).column("distance").float64s()[0];
      EXPECT_NEAR(km * 1000, s12, 1e-3) << text;
    }
  }
  EXPECT_EQ(count, 400);
}

TEST(FilteredQuakecats, UncomputableDistancesAreInfinite) {
  Table df = events({{k2020, kNaN, 116, 5, "A"}, {k2020, 40, kInf, 5}, {k2020, 90.5, 116, 5}, {k2020, -91, 0, 5}});
  Table marked = filtered_quakecats(df, kDefaultStation, Filter{1e9, 0});
  EXPECT_EQ(marked.column("distance").float64s(), std::vector<double>(4, kInf));
  EXPECT_EQ(marked.column("flag").int64s(), std::vector<int64_t>(4, 0));
  EXPECT_EQ(marked.column("text").text(0), "AMl5.0\ninfkm");
  // Not even an infinite limit lets them pass: +inf is not less than +inf.
  EXPECT_EQ(filtered_quakecats(df, kDefaultStation, Filter{kInf, 0}).column("flag").int64s()[0], 0);
  Table pole = events({{k2020, 90, 0, 5}});
  EXPECT_EQ(filtered_quakecats(pole, {95, 0}).column("distance").float64s()[0], kInf);
}

TEST(FilteredQuakecats, KeepsEventsAfter1970AndRenamesTheCallersKey) {
  Timestamp epoch = make_timestamp(1970, 1, 1);
  Table df = events({{epoch, 40, 116, 5},
                     {Timestamp{kNanosPerSecond}, 40, 116, 5},
                     {Timestamp{}, 40, 116, 5},
                     {make_timestamp(1966, 3, 22), 37.5, 115.1, 7.6}});
  Table marked = filtered_quakecats(df);
  EXPECT_EQ(df.key().name(), "date");
  EXPECT_EQ(df.num_rows(), 4u);
  EXPECT_EQ(df.column_names(), (std::vector<std::string>{"lon", "lat", "magnitude", "name"}));
  EXPECT_EQ(marked.key().name(), "date");
  EXPECT_EQ(marked.key().int64s(), (std::vector<int64_t>{kNanosPerSecond}));
  EXPECT_EQ(marked.column_names(),
            (std::vector<std::string>{"lon", "lat", "magnitude", "name", "distance", "flag", "size", "text"}));
  EXPECT_EQ(marked.column("flag").type(), DataType::Int64);
}

TEST(FilteredQuakecats, DefaultFilterIsWithin300KmFromMagnitude3) {
  EXPECT_EQ(flags_of({on_equator(299.9, 3.0), on_equator(299.9, 2.9), on_equator(300.1, 9)}, std::nullopt),
            (std::vector<int64_t>{1, 0, 0}));
  // The limit itself is not within: put it exactly at an event's distance.
  Table df = events({on_equator(300, 3.0)});
  double km = filtered_quakecats(df, kOrigin).column("distance").float64s()[0];
  EXPECT_NEAR(km, 300, 1e-9);
  EXPECT_EQ(filtered_quakecats(df, kOrigin, std::nullopt, 3.0, km).column("flag").int64s()[0], 0);
  EXPECT_EQ(filtered_quakecats(df, kOrigin, std::nullopt, 3.0, std::nextafter(km, kInf)).column("flag").int64s()[0], 1);
  EXPECT_EQ(filtered_quakecats(df, kOrigin, std::nullopt, 3.1, 400).column("flag").int64s()[0], 0);
}

TEST(FilteredQuakecats, AnEventPassingAnyFilterIsFlagged) {
  std::vector<Filter> two{{100, 2.0}, {500, 5.0}};
  EXPECT_EQ(flags_of({on_equator(150, 4.0), on_equator(450, 5.5), on_equator(99, 2.0)}, two),
            (std::vector<int64_t>{0, 1, 1}));
  std::vector<Filter> three{{200, 3.0}, {300, 4.0}, {500, 5.0}};
  EXPECT_EQ(flags_of({on_equator(250, 4.5), on_equator(250, 3.5), on_equator(499, 5.0), on_equator(499, 4.9)}, three),
            (std::vector<int64_t>{1, 0, 1, 0}));
  std::vector<Event> near{on_equator(150, 4.0), on_equator(150, 3.5), on_equator(250, 4.5), {k2020, 0, 1, kNaN}};
  EXPECT_EQ(flags_of(near, Filter{200, 4.0}), (std::vector<int64_t>{1, 0, 0, 0}));
  EXPECT_EQ(flags_of(near, std::vector<Filter>{{200, 4.0}}), flags_of(near, Filter{200, 4.0}));
  EXPECT_EQ(flags_of(near, std::vector<Filter>{}), std::vector<int64_t>(4, 0));
}

TEST(FilteredQuakecats, MarkerSizes) {
  Table df =
      events({{k2020, 0, 0, 3.5}, {k2020, 0, 0, 6.0}, {k2020, 0, 0, kNaN}, {k2020, 0, 0, 4.0}, {k2020, 0, 0, -1}});
  const auto sizes = filtered_quakecats(df).column("size").float64s();
  EXPECT_EQ(sizes[0], 5);
  EXPECT_EQ(sizes[1], 15);
  EXPECT_TRUE(std::isnan(sizes[2]));
  EXPECT_EQ(sizes[3], 5);
  EXPECT_EQ(sizes[4], 5);
}

// The east longitude at which the distance from (0, 0) is exactly `km`.
double longitude_at_exactly(double km) {
  double lon = on_equator(km, 0).lon;
  for (int step = 0; step < 1000; ++step) {
    Table df = events({{k2020, 0, lon, 0}});
    double d = filtered_quakecats(df, kOrigin).column("distance").float64s()[0];
    if (d == km) return lon;
    lon = std::nextafter(lon, d < km ? kInf : -kInf);
  }
  return kNaN;
}

TEST(FilteredQuakecats, LabelTexts) {
  double lon_12_25 = longitude_at_exactly(12.25), lon_12_35 = longitude_at_exactly(12.35);
  ASSERT_FALSE(std::isnan(lon_12_25) || std::isnan(lon_12_35));
  Event a = on_equator(123.456, 4.5);
  a.name = "A";
  Table df = events({a, {k2020, 0, lon_12_25, 5, "云南漾濞"}, {k2020, 0, lon_12_35, kNaN, "B"}, {k2020, 0, 0, 4, {}}});
  Column text = filtered_quakecats(df, kOrigin).column("text");
  EXPECT_EQ(text.text(0), "AMl4.5\n123.5km");
  // Ten times the distance is rounded, ties to even: 122.5 gives 122; the
  // double nearest 12.35 lies below it, but ten times it rounds to 123.5.
  EXPECT_EQ(text.text(1), "云南漾濞Ml5.0\n12.2km");
  EXPECT_EQ(text.text(2), "BMlnan\n12.4km");
  EXPECT_TRUE(text.is_null(3));
}

TEST(FilteredQuakecats, RefusesTablesThatAreNotEventTables) {
  for (const char* name : {"lat", "lon", "magnitude", "name"}) {
    Table df = events({on_equator(1, 1)});
    df.remove_column(name);
    try {
      filtered_quakecats(df);
      FAIL() << "no error for " << name;
    } catch (const KeyError& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(name) + "'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(df.key().name(), "ind");
  }
  Table keyless = events({on_equator(1, 1)});
  keyless.drop_key();
  EXPECT_THROW(filtered_quakecats(keyless), TypeError);
}

}  // namespace
}  // namespace tremora::quakecat
