#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "table_checks.hpp"
#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/geomag.hpp"
#include "tremora/text.hpp"

namespace tremora::geomag {
namespace {

const std::filesystem::path kKp = std::filesystem::path(TREMORA_TEST_DATA) / "kp";

// The published Kp-to-ap table, by Kp in thirds (0o, 0+, 1-, 1o, ... 9o).
constexpr int kApOfThirds[28] = {0,  2,  3,  4,  5,  6,  7,   9,   12,  15,  18,  22,  27,  32,
                                 39, 48, 56, 67, 80, 94, 111, 132, 154, 179, 207, 236, 300, 400};

std::map<int64_t, std::pair<double, std::string>> by_start(const Table& kp) {
  std::map<int64_t, std::pair<double, std::string>> out;
  for (std::size_t i = 0; i < kp.num_rows(); ++i)
    out[kp.key().int64s()[i]] = {kp.column("Kp").float64s()[i], std::string(kp.column("status").text(i))};
  return out;
}

TEST(KpFiles, WdcDailyFileMatchesItsOwnApColumns) {
  Table kp = read_kp_file(kKp / "Kp_def2024.wdc");
  ASSERT_EQ(kp.num_rows(), 366u * 8);
  EXPECT_EQ(kp.key().name(), "datetime");
  EXPECT_EQ(kp.key().zone(), "UTC");
  EXPECT_EQ(kp.key().int64s().front(), make_timestamp(2024, 1, 1).ns);
  EXPECT_EQ(kp.key().int64s().back(), make_timestamp(2024, 12, 31, 21).ns);
  EXPECT_EQ(kp.attributes().at("source"), "GFZ Potsdam");

  // Every line also carries the eight ap values (columns 32-55), which
  // follow from Kp by the published table: decoding the Kp codes must agree.
  std::ifstream in(kKp / "Kp_def2024.wdc");
  std::size_t row = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("#")) continue;
    for (int k = 0; k < 8; ++k, ++row) {
      double value = kp.column("Kp").float64s().at(row);
      int ap = int(*parse_integer(line.substr(31 + 3 * k, 3)));
      ASSERT_EQ(kApOfThirds[std::lround(value * 3)], ap) << line << " interval " << k;
      ASSERT_NEAR(value * 3, std::round(value * 3), 0.002);
      EXPECT_EQ(kp.column("status").text(row), "def");
    }
  }
  EXPECT_EQ(row, kp.num_rows());
}

TEST(KpFiles, ThreeHourlyFileAgreesWithTheDefinitiveOne) {
  Table now = read_kp_file(kKp / "Kp_ap_nowcast.txt");
  ASSERT_EQ(now.num_rows(), 30u * 8);
  auto nowcast = by_start(now);
  auto definitive = by_start(read_kp_file(kKp / "Kp_def2024.wdc"));
  std::size_t shared = 0, equal = 0, revised = 0;
  for (const auto& [start, value] : nowcast) {
    double final_value = definitive.at(start).first;
    if (value.second == "def") {
      ++shared;
      EXPECT_EQ(value.first, final_value) << iso_format(Timestamp{start});
    }
    if (value.first == final_value) ++equal;
    else if (!std::isnan(value.first)) ++revised;
  }
  EXPECT_EQ(shared, 136u);
  EXPECT_EQ(equal, 197u);
  EXPECT_EQ(revised, 41u);
  // The storm of 10 May 2024: preliminary 8.000 at 15:00, revised to 7.667.
  int64_t storm = make_timestamp(2024, 5, 10, 15).ns;
  EXPECT_EQ(nowcast.at(storm), (std::pair<double, std::string>{8.0, "pre"}));
  EXPECT_EQ(definitive.at(storm).first, 7.667);
  EXPECT_TRUE(std::isnan(nowcast.at(make_timestamp(2024, 5, 13, 21).ns).first));
  EXPECT_TRUE(std::isnan(nowcast.at(make_timestamp(2024, 5, 13, 18).ns).first));

  Table normal = normalize_geomag(now, "Asia/Shanghai");
  EXPECT_EQ(normal.num_rows(), now.num_rows());
  EXPECT_EQ(normal.key().zone(), "Asia/Shanghai");
}

TEST(KpFiles, TextInMemoryReadsAsTheFile) {
  Table from_text = parse_kp_text(testing::read_text(kKp / "Kp_def2024.wdc"), "wdc");
  Table from_file = read_kp_file(kKp / "Kp_def2024.wdc");
  testing::expect_same(from_text, from_file);
  EXPECT_EQ(from_text.key().int64s(), from_file.key().int64s());
  try {
    parse_kp_text("2024 02 30 00.0 01.50 33707.00000 33707.06250  1.667    6 1\n", "upload");
    FAIL() << "no IOError";
  } catch (const IOError& e) {
    EXPECT_STREQ(e.what(), "upload:1: no such date 2024-2-30");
  }
  try {
    parse_kp_text(R"({"datetime": [], "Kp": [], "status": [], "meta": 1e999})", "upload");
    FAIL() << "no IOError";
  } catch (const IOError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("upload: upload is not valid JSON: ")) << e.what();
  }
  // Nesting too deep to handle safely is refused before anything walks it.
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& text : {R"({"datetime": [null], "Kp": [1], "status": [)" + deep + "]}",
                                  R"({"datetime": [)" + deep + R"(], "Kp": [1], "status": [1]})"}) {
    try {
      parse_kp_text(text, "upload");
      FAIL() << "no IOError";
    } catch (const IOError& e) {
      EXPECT_EQ(std::string(e.what()),
                "upload: upload is not valid JSON: arrays and objects nest deeper than 512 levels");
    }
  }
}

TEST(KpFiles, SavedServiceReplyAndBadFiles) {
  testing::TempDir dir;
  auto reply = dir.write("kp.json",
                         "\xEF\xBB\xBF{\"meta\": {\"source\": \"GFZ Potsdam\", \"license\": \"CC BY 4.0\"},"
                         " \"datetime\": [\"2024-05-10T18:00:00Z\", \"2024-05-10T21:00:00Z\"],"
                         " \"Kp\": [8.667, 9.0], \"status\": [\"pre\", \"pre\"]}");
  Table kp = read_kp_file(reply);
  EXPECT_EQ(kp.key().int64s(),
            (std::vector<int64_t>{make_timestamp(2024, 5, 10, 18).ns, make_timestamp(2024, 5, 10, 21).ns}));
  EXPECT_EQ(kp.column("Kp").float64s(), (std::vector<double>{8.667, 9.0}));
  EXPECT_EQ(kp.attributes().at("license"), "CC BY 4.0");

  auto message = [](const std::filesystem::path& p) {
    try {
      read_kp_file(p);
    } catch (const IOError& e) {
      return std::string(e.what());
    }
    return std::string("no IOError");
  };
  auto bad_code =
      dir.write("bad.wdc", "# header\n24 1 1259625 7 3 71320303340153  3  2\n24 1 2259626 8 3 71320303340153\n");
  EXPECT_NE(message(bad_code).find("bad.wdc:3: bad Kp code ' 8'"), std::string::npos) << message(bad_code);
  auto bad_date = dir.write("bad.txt", "2024 02 30 00.0 01.50 33707.00000 33707.06250  1.667    6 1\n");
  EXPECT_NE(message(bad_date).find("bad.txt:1: no such date 2024-2-30"), std::string::npos) << message(bad_date);
  auto far_year = dir.write("far.txt",
                            "2024 04 14 00.0 01.50 33707.00000 33707.06250  1.667    6 1\n"
                            "67506 01 01 00.0 01.50 0 0 2.333 9 1\n");
  EXPECT_NE(message(far_year).find("far.txt:2: no such date 67506-1-1"), std::string::npos) << message(far_year);
  // The last day of the range of timestamps ends at 23:47.
  auto last_day = dir.write("last.txt", "2262 04 11 21.0 22.50 0 0 2.333 9 1\n2262 04 11 23.9 23.95 0 0 2.333 9 1\n");
  EXPECT_NE(message(last_day).find("last.txt:2: 2262-04-11T00:00:00 + 0 days 23:54:00"), std::string::npos)
      << message(last_day);
  auto empty = dir.write("empty.txt", "# nothing\n\n");
  EXPECT_NE(message(empty).find("no Kp data lines"), std::string::npos);
  auto array = dir.write("array.json", "[]");
  EXPECT_NE(message(array).find("Invalid GFZ Kp response"), std::string::npos);
  EXPECT_THROW(read_kp_file(dir / "absent.wdc"), FileNotFoundError);
}

}  // namespace
}  // namespace tremora::geomag
