#include "review_page.hpp"

#include <fmt/format.h>

#include "tremora/csv.hpp"
#include "tremora/text.hpp"

namespace tremora::review {
namespace {

// Plain CSS: system CJK fonts first, a table that scrolls sideways on a
// narrow screen, flags in colour and in words, no chart split when printed.
constexpr const char* kStyle = R"(
body { font-family: "Noto Sans CJK SC", "Noto Serif CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei",
       "Microsoft YaHei", "PingFang SC", sans-serif; margin: 1.5em; color: #222; max-width: 1600px; }
h1 { font-size: 1.4em; margin-bottom: 0.2em; }
.facts { display: flex; flex-wrap: wrap; gap: 0.4em 2em; margin: 0.5em 0 1em; }
.facts div { white-space: nowrap; }
.wrap { overflow-x: auto; }
table { border-collapse: collapse; font-size: 0.85em; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.5em; text-align: right; white-space: nowrap; }
td.text, th { text-align: left; }
th { background: #f0f0f0; cursor: pointer; position: sticky; top: 0; }
th[aria-sort="ascending"]::after { content: " \25B2"; }
th[aria-sort="descending"]::after { content: " \25BC"; }
tr.flagged { background: #fff4d6; }
tr.error { background: #fde2e2; }
.flag { font-weight: bold; color: #8a4b00; }
figure { margin: 1em 0; page-break-inside: avoid; }
figure img { max-width: 100%; height: auto; border: 1px solid #eee; }
ul.log { margin: 0.2em 0 0.8em; }
ul.attention li { margin: 0.15em 0; }
@media print {
  @page { size: A4 landscape; margin: 1cm; }
  body { margin: 0; max-width: none; }
  th { position: static; }
  .wrap { overflow: visible; }
  table { font-size: 6pt; }
  th, td { padding: 1px 2px; white-space: normal; overflow-wrap: anywhere; }
}
)";

// Sorts the table by a clicked header: numbers as numbers, empty cells last.
constexpr const char* kScript = R"(
document.querySelectorAll("table.sortable th").forEach(function (th, col) {
  th.addEventListener("click", function () {
    var table = th.closest("table"), body = table.tBodies[0];
    var up = th.getAttribute("aria-sort") !== "ascending";
    table.querySelectorAll("th").forEach(function (h) { h.removeAttribute("aria-sort"); });
    th.setAttribute("aria-sort", up ? "ascending" : "descending");
    var rows = Array.prototype.slice.call(body.rows);
    function key(r) { var t = r.cells[col].textContent.trim(), n = Number(t);
      return t === "" ? null : (isNaN(n) ? t : n); }
    rows.sort(function (a, b) {
      var x = key(a), y = key(b);
      if (x === null || y === null) return (x === null) - (y === null);
      var c = (typeof x === typeof y) ? (x < y ? -1 : x > y ? 1 : 0) : (typeof x === "number" ? -1 : 1);
      return up ? c : -c;
    });
    rows.forEach(function (r) { body.appendChild(r); });
  });
});
)";

std::string esc(std::string_view s) { return xml_escaped(s); }

std::string facts_block(const PageFacts& f, const std::vector<SeriesCheck>& checks, double incomplete_below) {
  std::size_t flagged = 0;
  for (const auto& c : checks) flagged += !c.flags(incomplete_below).empty();
  std::string last_day = format_timestamp(Timestamp{f.period.end.ns - kNanosPerDay}, "%Y-%m-%d");
  std::vector<std::pair<std::string, std::string>> facts{
      {"Request", f.request},
      {"Period", format_timestamp(f.period.first, "%Y-%m-%d") + " – " + last_day + " (" +
                     std::to_string(f.period.days()) + " days)"},
      {"Database type", f.type},
      {"Rate", f.rate},
      {"Stations", std::to_string(f.stations)},
      {"Points", std::to_string(f.points)},
      {"Items", std::to_string(f.items)},
      {"Series", std::to_string(checks.size())},
      {"Flagged", std::to_string(flagged)},
      {"Made", f.made_at + " by tremora " + f.version},
  };
  if (f.kp) {
    std::string kp = !f.kp->error.empty()    ? "not available (" + f.kp->error + ")"
                     : std::isnan(f.kp->max) ? "no data in the period"
                                             : fmt::format("max {:g}", f.kp->max);
    if (f.kp->error.empty() && !std::isnan(f.kp->max))
      kp += f.kp->stormy_days.empty() ? ", no day with Kp ≥ 5" : ", Kp ≥ 5 on " + join(f.kp->stormy_days, " ");
    facts.emplace_back("Kp", kp);
  }
  if (f.quakes)
    facts.emplace_back("Earthquakes near the stations", f.quake_error.empty()
                                                            ? std::to_string(f.quakes->size())
                                                            : "catalogue unreadable (" + f.quake_error + ")");
  std::string out = "<div class=\"facts\">\n";
  for (const auto& [k, v] : facts) out += "<div><b>" + esc(k) + ":</b> " + esc(v) + "</div>\n";
  return out + "</div>\n";
}

// Why a flagged series is flagged, in a line.
std::string reasons(const SeriesCheck& c, double incomplete_below) {
  std::vector<std::string> out;
  if (!c.error.empty()) out.push_back("could not be checked: " + c.error);
  if (c.error.empty() && c.completeness < incomplete_below) {
    std::string r = fmt::format("{:.2f} % complete", c.completeness);
    if (c.gap_start)
      r += fmt::format(", longest gap {:g} min from {}", double(c.gap_ns) / 60e9,
                       format_timestamp(*c.gap_start, "%Y-%m-%d %H:%M"));
    out.push_back(r);
  }
  if (!c.band_exit_days.empty()) {
    std::vector<std::string> days;
    for (Timestamp d : c.band_exit_days) days.push_back(format_timestamp(d, "%m-%d"));
    out.push_back(
        fmt::format("daily mean outside {:.6g} … {:.6g} on {}", c.band->first, c.band->second, join(days, " ")));
  }
  if (!c.log.empty()) out.push_back(fmt::format("{} log {}", c.log.size(), c.log.size() == 1 ? "entry" : "entries"));
  return join(out, "; ");
}

std::string series_title(const SeriesName& n);

// The first thing to read: the series that need a look, and why.
std::string attention_block(const std::vector<SeriesCheck>& checks, double incomplete_below) {
  std::string out = "<h2>Needs attention</h2>\n";
  std::string items;
  for (std::size_t i = 0; i < checks.size(); ++i)
    if (!checks[i].flags(incomplete_below).empty())
      items += "<li><a href=\"#f" + std::to_string(i) + "\">" + esc(series_title(checks[i].name)) +
               "</a>: " + esc(reasons(checks[i], incomplete_below)) + "</li>\n";
  if (items.empty()) return out + "<p>No series is flagged.</p>\n";
  return out + "<ul class=\"attention\">\n" + items + "</ul>\n";
}

std::string quakes_block(const PageFacts& f) {
  if (!f.quakes || f.quakes->empty()) return "";
  std::string out =
      "<h2>Earthquakes near the stations</h2>\n<div class=\"wrap\"><table class=\"sortable\" id=\"quakes\">"
      "<thead><tr><th>time</th><th>place</th><th>magnitude</th><th>nearest station</th><th>km</th>"
      "</tr></thead>\n<tbody>\n";
  for (const auto& q : *f.quakes)
    out += fmt::format(
        "<tr><td class=\"text\">{}</td><td class=\"text\">{}</td><td>{:g}</td><td class=\"text\">{}"
        "</td><td>{:.1f}</td></tr>\n",
        esc(q.time), esc(q.name), q.magnitude, esc(q.station), q.distance);
  return out + "</tbody></table></div>\n";
}

std::string table_block(const std::vector<SeriesCheck>& checks, const Table& table, double incomplete_below) {
  std::string out = "<div class=\"wrap\"><table class=\"sortable\" id=\"series\">\n<thead><tr>";
  for (const Column& c : table.columns()) out += "<th>" + esc(c.name()) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (std::size_t r = 0; r < table.num_rows(); ++r) {
    std::vector<std::string> flags = checks[r].flags(incomplete_below);
    std::string cls = checks[r].error.empty() ? (flags.empty() ? "" : "flagged") : "error";
    out += "<tr id=\"s" + std::to_string(r) + "\"" + (cls.empty() ? "" : " class=\"" + cls + "\"") + ">";
    for (const Column& c : table.columns()) {
      bool text = c.type() == DataType::String;
      std::string cell = esc(csv_cell_text(c, r));
      if (c.name() == "flags" && !cell.empty()) cell = "<span class=\"flag\">" + cell + "</span>";
      out += text ? "<td class=\"text\">" + cell + "</td>" : "<td>" + cell + "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</tbody></table></div>\n";
}

std::string series_title(const SeriesName& n) {
  return fmt::format("{} {} · {} {} · {} {}", n.station, n.station_name, n.point, n.point_name, n.item, n.item_name);
}

std::string charts_block(const PageFacts& f, const std::vector<SeriesCheck>& checks) {
  std::string out = "<h2>Charts by item</h2>\n";
  for (const auto& [item, files] : f.item_charts)
    for (const std::string& file : files)
      out += "<figure><img src=\"" + esc(file) + "\" alt=\"" + esc(item) + "\"><figcaption>" + esc(item) +
             "</figcaption></figure>\n";
  if (f.series_charts.empty()) return out;
  out += "<h2>Flagged series</h2>\n";
  for (const auto& [index, file] : f.series_charts) {
    const SeriesCheck& c = checks[index];
    out += "<h3 id=\"f" + std::to_string(index) + "\">" + esc(series_title(c.name)) + "</h3>\n";
    if (!c.log.empty()) {
      out += "<ul class=\"log\">\n";
      for (const auto& [t, note] : c.log)
        out += "<li>" + esc(format_timestamp(t, "%Y-%m-%d %H:%M")) + " " + esc(note) + "</li>\n";
      out += "</ul>\n";
    }
    if (!file.empty())
      out += "<figure><img src=\"" + esc(file) + "\" alt=\"" + esc(series_title(c.name)) + "\"></figure>\n";
  }
  return out;
}

}  // namespace

std::string review_page(const PageFacts& f, const std::vector<SeriesCheck>& checks, const Table& table,
                        double incomplete_below) {
  std::string title = "Network review " + format_timestamp(f.period.first, "%Y-%m-%d") + " – " +
                      format_timestamp(Timestamp{f.period.end.ns - kNanosPerDay}, "%Y-%m-%d");
  std::string out = "<!DOCTYPE html>\n<html lang=\"zh\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  out += "<title>" + esc(title) + "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  out += "<h1>" + esc(title) + "</h1>\n" + facts_block(f, checks, incomplete_below);
  out += attention_block(checks, incomplete_below);
  out += "<h2>Series</h2>\n<p>Flags: <b>incomplete</b> (completeness under " + fmt::format("{:g}", incomplete_below) +
         " %), <b>band</b> (a daily mean outside the reference band), <b>log</b> (station log entries), "
         "<b>error</b> (the series could not be checked). Click a column's header to sort. "
         "<a href=\"series.csv\">series.csv</a> holds the same table.</p>\n";
  out += table_block(checks, table, incomplete_below) + quakes_block(f) + charts_block(f, checks);
  out += "<script>" + std::string(kScript) + "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace tremora::review
