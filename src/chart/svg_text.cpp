#include "svg_text.hpp"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

#include "mathtext.hpp"
#include "tremora/text.hpp"

namespace tremora::chart {
namespace {

// A CSS font-family list: names with blanks quoted.
std::string css_families(const std::string& families) {
  std::vector<std::string> names;
  for (std::string_view name : split(families, ',')) {
    std::string_view n = strip_whitespace(name);
    if (n.empty()) continue;
    std::string quoted;
    bool has_blank = n.find(' ') != std::string_view::npos;
    if (has_blank) quoted.push_back('\'');
    quoted.append(n);
    if (has_blank) quoted.push_back('\'');
    names.push_back(std::move(quoted));
  }
  return join(names, ", ");
}

std::string number(double v) { return fmt::format("{:.3f}", std::fabs(v) < 5e-4 ? 0.0 : v); }

// The value of attribute `name` in a Pango start tag's text.
std::string attribute(std::string_view tag, std::string_view name) {
  std::size_t at = tag.find(std::string(name) + "=\"");
  if (at == std::string_view::npos) return "";
  std::size_t start = at + name.size() + 2, end = tag.find('"', start);
  return std::string(tag.substr(start, end - start));
}

// Pango markup of the kind the math notation produces (<span font_family>,
// <span size rise>, <i>, XML entities) as SVG tspans. Raised or lowered
// runs are placed by absolute y on the text's own baseline (y = 0), so
// the text after a script returns to the baseline of its surroundings.
std::string tspans_of_markup(const std::string& markup) {
  std::string out;
  std::vector<double> rises{0};     // points above the baseline of each open span
  std::vector<const char*> closes;  // what each open tag closes with
  double written_y = 0;
  for (std::size_t i = 0; i < markup.size();) {
    if (markup[i] != '<') {
      std::size_t end = markup.find('<', i);
      std::string run = markup.substr(i, end == std::string::npos ? std::string::npos : end - i);
      double y = -rises.back();
      if (y != written_y) {
        out += "<tspan y=\"" + number(y) + "\">" + run + "</tspan>";
        written_y = y;
      } else {
        out += run;
      }
      i = end == std::string::npos ? markup.size() : end;
      continue;
    }
    std::size_t end = markup.find('>', i);
    if (end == std::string::npos) throw std::invalid_argument("unclosed tag in text markup");
    std::string_view tag(markup.data() + i, end - i + 1);
    i = end + 1;
    if (tag.starts_with("</")) {
      if (closes.empty()) throw std::invalid_argument("unbalanced tag in text markup");
      out += closes.back();
      closes.pop_back();
      rises.pop_back();
      continue;
    }
    double rise = rises.back();
    if (tag == "<i>") {
      out += "<tspan font-style=\"italic\">";
    } else {
      std::string family = attribute(tag, "font_family"), size = attribute(tag, "size"), up = attribute(tag, "rise");
      out += "<tspan";
      if (!family.empty()) out += " font-family=\"" + css_families(family) + "\"";
      if (!size.empty()) out += " font-size=\"" + number(std::stod(size) / 1024) + "\"";
      out += ">";
      if (!up.empty()) rise += std::stod(up) / 1024;
    }
    closes.push_back("</tspan>");
    rises.push_back(rise);
  }
  return out;
}

// The lines of a plain text, each in a tspan at its own baseline.
std::string tspans_of_lines(const std::string& text, const std::vector<double>& offsets,
                            const std::vector<double>& starts) {
  std::vector<std::string_view> lines = split(text, '\n');
  if (lines.size() == 1) return xml_escaped(lines[0]);
  std::string out;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    std::string_view line = lines[k];
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    double y = k < offsets.size() ? offsets[k] : 0, x = k < starts.size() ? starts[k] : 0;
    out += "<tspan x=\"" + number(x) + "\" y=\"" + number(y) + "\">" + xml_escaped(line) + "</tspan>";
  }
  return out;
}

std::string element(const PlacedText& t, double dx, double dy) {
  const Color& c = t.style.color;
  std::string out =
      "<text xml:space=\"preserve\" transform=\"translate(" + number(t.x + dx) + " " + number(t.y + dy) + ")";
  if (t.rotation != 0) out += " rotate(" + number(-t.rotation) + ")";
  out += "\" font-family=\"" + css_families(t.families) + "\" font-size=\"" + number(t.style.size) + "\"";
  if (t.style.weight == "bold") out += " font-weight=\"bold\"";
  if (t.style.italic) out += " font-style=\"italic\"";
  out += fmt::format(" fill=\"rgb({},{},{})\"", std::lround(c.r * 255), std::lround(c.g * 255), std::lround(c.b * 255));
  if (c.a < 1) out += " fill-opacity=\"" + number(c.a) + "\"";
  out += ">";
  out += has_math(t.text) ? tspans_of_markup(math_markup(t.text, t.style.size))
                          : tspans_of_lines(t.text, t.line_offsets, t.line_x);
  return out + "</text>\n";
}

}  // namespace

std::string svg_text_elements(const std::vector<PlacedText>& texts, double dx, double dy) {
  std::string out;
  for (const PlacedText& t : texts) out += element(t, dx, dy);
  return out;
}

void insert_before_svg_end(std::string& svg, const std::string& elements) {
  std::size_t end = svg.rfind("</svg>");
  if (end == std::string::npos) throw std::invalid_argument("an SVG document without its closing tag");
  svg.insert(end, elements);
}

}  // namespace tremora::chart
