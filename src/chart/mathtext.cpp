#include "mathtext.hpp"

#include <cmath>
#include <map>
#include <stdexcept>

namespace tremora::chart {
namespace {

constexpr double kScript = 0.7;      // script size per level
constexpr double kXHeight = 0.4414;  // STIX x-height in em
constexpr double kRaise = 0.8;       // superscript raise in x-heights
constexpr double kDrop = 0.3;        // subscript drop in x-heights
const char* const kMathFont = "STIXGeneral, STIX Two Math, STIX, DejaVu Serif";

struct Symbol {
  const char* text;
  bool italic;
  bool binary;
};

const std::map<std::string, Symbol>& symbols() {
  static const std::map<std::string, Symbol> map{
      {"alpha", {"α", true, false}},   {"beta", {"β", true, false}},       {"gamma", {"γ", true, false}},
      {"delta", {"δ", true, false}},   {"epsilon", {"ε", true, false}},    {"varepsilon", {"ε", true, false}},
      {"lambda", {"λ", true, false}},  {"mu", {"μ", true, false}},         {"pi", {"π", true, false}},
      {"rho", {"ρ", true, false}},     {"theta", {"θ", true, false}},      {"sigma", {"σ", true, false}},
      {"tau", {"τ", true, false}},     {"phi", {"ϕ", true, false}},        {"varphi", {"φ", true, false}},
      {"omega", {"ω", true, false}},   {"Delta", {"Δ", false, false}},     {"Sigma", {"Σ", false, false}},
      {"Omega", {"Ω", false, false}},  {"pm", {"±", false, true}},         {"times", {"×", false, true}},
      {"cdot", {"⋅", false, true}},    {"circ", {"∘", false, true}},       {"degree", {"°", false, false}},
      {",", {"\u2009", false, false}}, {"/", {"\u2009", false, false}},    {";", {"\u2005", false, false}},
      {" ", {"\u2004", false, false}}, {"quad", {"\u2003", false, false}}, {"!", {"", false, false}},
  };
  return map;
}

std::string escape(char c) {
  switch (c) {
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    default: return std::string(1, c);
  }
}

// Parses math text into markup, one nesting level of scripts at a time.
class MathParser {
 public:
  MathParser(const std::string& s, double size) : s_(s), size_(size) {}

  std::string parse_all() {
    std::string out = parse_until('\0', 0);
    if (pos_ < s_.size()) throw std::invalid_argument("unbalanced '}' in math text '" + s_ + "'");
    return out;
  }

 private:
  std::string parse_until(char end, int level) {
    std::string out;
    bool operand_before = false;
    while (pos_ < s_.size() && s_[pos_] != end) {
      char c = s_[pos_];
      if (c == ' ') {
        ++pos_;
        continue;
      }
      if (c == '^' || c == '_') {
        ++pos_;
        out += script(c == '^', level);
        continue;
      }
      out += atom(level, operand_before);
    }
    if (end != '\0') {
      if (pos_ >= s_.size()) throw std::invalid_argument("unbalanced '{' in math text '" + s_ + "'");
      ++pos_;
    }
    return out;
  }

  // One character, command or group.
  std::string atom(int level, bool& operand_before) {
    char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      operand_before = true;
      return parse_until('}', level);
    }
    if (c == '\\') {
      std::size_t start = ++pos_;
      while (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      if (pos_ == start && pos_ < s_.size()) ++pos_;  // a one-character command such as "\,"
      std::string name = s_.substr(start, pos_ - start);
      auto it = symbols().find(name);
      if (it == symbols().end()) throw std::invalid_argument("unknown math command '\\" + name + "'");
      const Symbol& sym = it->second;
      std::string text = sym.binary && operand_before ? "\u2005" + std::string(sym.text) + "\u2005" : sym.text;
      operand_before = !sym.binary;
      return sym.italic ? "<i>" + text + "</i>" : text;
    }
    // A UTF-8 character (kept whole) or an ASCII one.
    std::size_t len = 1;
    while (pos_ + len < s_.size() && (static_cast<unsigned char>(s_[pos_ + len]) & 0xC0) == 0x80) ++len;
    std::string ch = s_.substr(pos_, len);
    pos_ += len;
    if (ch == "-" || ch == "+") {
      std::string sign = ch == "-" ? "\u2212" : "+";
      bool binary = operand_before;
      operand_before = false;
      return binary ? "\u2005" + sign + "\u2005" : sign;
    }
    if (ch == "=" || ch == "<" || ch == ">") {
      operand_before = false;
      return "\u2005" + escape(ch[0]) + "\u2005";
    }
    operand_before = true;
    if (len == 1 && std::isalpha(static_cast<unsigned char>(ch[0]))) return "<i>" + ch + "</i>";
    return len == 1 ? escape(ch[0]) : ch;
  }

  std::string script(bool up, int level) {
    if (pos_ >= s_.size()) throw std::invalid_argument("a script without its text in math text '" + s_ + "'");
    bool operand = false;
    std::string inner = s_[pos_] == '{' ? (++pos_, parse_until('}', level + 1)) : atom(level + 1, operand);
    double outer = size_ * std::pow(kScript, level), inner_size = outer * kScript;
    double shift = (up ? kRaise : -kDrop) * kXHeight * outer;
    return "<span size=\"" + std::to_string(int(std::lround(inner_size * 1024))) + "\" rise=\"" +
           std::to_string(int(std::lround(shift * 1024))) + "\">" + inner + "</span>";
  }

  const std::string& s_;
  double size_;
  std::size_t pos_ = 0;
};

}  // namespace

bool has_math(const std::string& text) {
  std::size_t first = text.find('$');
  return first != std::string::npos && text.find('$', first + 1) != std::string::npos;
}

std::string math_markup(const std::string& text, double size) {
  std::string out;
  bool in_math = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '$') continue;
    std::string part = text.substr(start, i - start);
    if (in_math) {
      out += std::string("<span font_family=\"") + kMathFont + "\">" + MathParser(part, size).parse_all() + "</span>";
    } else {
      for (char c : part) out += escape(c);
    }
    in_math = !in_math;
    start = i + 1;
  }
  return out;
}

}  // namespace tremora::chart
