#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <unordered_map>

#include "tremora/chart.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/memory.hpp"
#include "tremora/text.hpp"

namespace tremora::plotkit {
namespace {

using logger_config::plotting_logger;

const FontSpec kSong{.family = "STSong", .weight = "normal", .size = 11};

// The style is applied while the library is loaded.
const bool g_style_applied = (apply_chart_style(), true);

// The median, found by partial sorting (the values are reordered).
double median_of(std::vector<double>& v) {
  if (v.empty()) return std::nan("");
  std::size_t n = v.size(), mid = n / 2;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
  double upper = v[mid];
  if (n % 2) return upper;
  return (*std::max_element(v.begin(), v.begin() + std::ptrdiff_t(mid)) + upper) / 2;
}

}  // namespace

const FontSpec font_title{.family = "STSong", .color = "black", .weight = "normal", .size = 11};
const FontSpec font_xlabel = kSong;
const FontSpec font_unit = kSong;
const FontSpec font_suptitle{.family = "SimHei", .color = "black", .weight = "normal", .size = 16};
const FontSpec legend_font{.family = "STSong", .size = 9};

chart::TextStyle text_style(const FontSpec& font, chart::TextStyle base) {
  if (font.family) base.family = *font.family;
  if (font.color) base.color = chart::parse_color(*font.color);
  if (font.weight) base.weight = *font.weight;
  if (font.size) base.size = *font.size;
  return base;
}

void apply_chart_style() {
  using chart::set_setting;
  set_setting("axes.unicode_minus", false);
  set_setting("axes.spines.top", false);
  set_setting("svg.fonttype", std::string("none"));
  set_setting("axes.spines.right", false);
  set_setting("xtick.direction", std::string("out"));
  set_setting("ytick.direction", std::string("out"));
  set_setting("font.family", std::string("serif"));
  set_setting("font.serif", std::vector<std::string>{"STSong", "SimSun", "DengXian", "Times New Roman", "serif"});
  set_setting("font.size", 12.0);
  set_setting("mathtext.fontset", std::string("stix"));
  set_setting("pdf.fonttype", 42.0);
  set_setting("axes.xmargin", 0.01);
}

const std::map<std::string, std::string>& id_to_freq() {
  static const std::map<std::string, std::string> map{{"02", "s"}, {"01", "min"}, {"60", "h"}, {"90", "D"}};
  return map;
}

void create_figures_folder() {
  std::filesystem::path cwd = std::filesystem::current_path();
  plotting_logger.info("Current working directory: " + std::filesystem::absolute(cwd).string());
  std::error_code ec;
  if (std::filesystem::exists(cwd / "figures", ec) || std::filesystem::is_symlink(cwd / "figures", ec)) return;
  std::filesystem::create_directory(cwd / "figures");
  plotting_logger.info("Created figures folder");
}

double Stats::at(const std::string& key) const {
  for (const auto& [k, v] : entries)
    if (k == key) return v;
  throw KeyError("no statistic '" + key + "'");
}

namespace {

// The values of a column as numbers. Texts count only when every one of
// them reads as a number: statistics of other data are an error, not a row
// of missing values.
Column numeric_values(const Column& c) {
  Column numbers = to_number(c);
  if (c.type() != DataType::String) return numbers;
  for (std::size_t i = 0; i < c.size(); ++i)
    if (!c.is_null(i) && std::isnan(numbers.float64s()[i]) && !parse_decimal(c.text(i)))
      throw TypeError("column '" + c.name() + "' holds non-numeric data: " + quoted_excerpt(c.text(i)) + " (row " +
                      std::to_string(i) + ")");
  return numbers;
}

}  // namespace

Stats calculate_stats(const Table& df, const std::string& column, double multiplier) {
  if (!df.has_column(column)) throw KeyError(column);
  const Column& c = df.column(column);
  std::vector<double> v;
  if (c.type() == DataType::Float32) {  // read in place, without a float64 copy
    v = large_buffer<double>(c.size());
    for (float x : c.float32s())
      if (!std::isnan(x)) v.push_back(double(x));
  } else {
    v = numeric_values(c).float64s();
    std::erase_if(v, [](double x) { return std::isnan(x); });
  }
  double nan = std::nan(""), n = double(v.size());
  double mean = v.empty() ? nan : 0;
  for (double x : v) mean += x / n;
  double ss = 0;
  for (double x : v) ss += (x - mean) * (x - mean);
  double sd = v.size() > 1 ? std::sqrt(ss / (n - 1)) : nan;
  double lo = v.empty() ? nan : *std::min_element(v.begin(), v.end());
  double hi = v.empty() ? nan : *std::max_element(v.begin(), v.end());
  double median = median_of(v);
  return Stats{{{"mean", mean},
                {"median", median},
                {"std", sd},
                {"min", lo},
                {"max", hi},
                {"lower_limit", mean - multiplier * sd},
                {"upper_limit", mean + multiplier * sd}}};
}

std::string get_freq_str(Duration span) {
  if (span.is_nat()) throw std::invalid_argument("get_freq_str needs a duration, not NaT");
  double s = double(span.ns) / double(kNanosPerSecond);
  if (s < 60) return std::to_string(int64_t(std::trunc(s))) + "s";
  if (s < 3600) return std::to_string(int64_t(std::floor(s / 60))) + "min";
  if (s < 86400) return std::to_string(int64_t(std::floor(s / 3600))) + "h";
  return "1D";
}

namespace {

// The grid step from the first row's SAMPLERATE, when it names a known code.
std::optional<std::string> step_from_rate(const Table& df) {
  auto col = df.find_column(qzdata::kSampleRate);
  if (!col) return std::nullopt;
  if (df.num_rows() == 0) throw std::out_of_range("reindex_df_by_interval: SAMPLERATE has no first row");
  auto code = padded_code(df.column(*col), 0);
  if (!code) return std::nullopt;
  auto it = id_to_freq().find(*code);
  return it == id_to_freq().end() ? std::nullopt : std::optional<std::string>(it->second);
}

}  // namespace

std::string most_frequent_step(const std::vector<int64_t>& t) {
  std::vector<int64_t> diffs;
  for (std::size_t i = 1; i < t.size(); ++i)
    if (t[i] != Timestamp::NaT && t[i - 1] != Timestamp::NaT)
      diffs.push_back(nanos_between(Timestamp{t[i - 1]}, Timestamp{t[i]}));
  if (diffs.empty()) return "min";
  std::unordered_map<int64_t, std::size_t> count;
  for (int64_t d : diffs) ++count[d];
  int64_t best = diffs.front();
  for (int64_t d : diffs)
    if (count[d] > count[best]) best = d;
  return get_freq_str(Duration{best});
}

Table reindex_df_by_interval(const Table& df) {
  if (!df.has_key() || df.key().type() != DataType::Timestamp)
    throw TypeError("reindex_df_by_interval needs a table keyed by timestamps");
  std::optional<std::string> freq = step_from_rate(df);
  const auto& t = df.key().int64s();
  if (!freq) {
    plotting_logger.debug("SAMPLERATE 列缺失或 ID 未识别，回退到动态计算频率");
    freq = most_frequent_step(t);
  }
  int64_t step = step_code_nanos(*freq);
  std::optional<Column> grid = time_grid(df.key(), step);
  if (!grid) throw std::invalid_argument("reindex_df_by_interval: the table has no timestamps");
  return reindex(df, *grid);
}

}  // namespace tremora::plotkit
