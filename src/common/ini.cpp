#include "tremora/ini.hpp"

#include <algorithm>
#include <optional>
#include <set>

#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

constexpr int kMaxInterpolationDepth = 10;
// The work one value's substitution may take: characters written at every
// level of nesting plus one for each reference. Values that name a key many
// times, which names another many times, ... would otherwise grow
// exponentially with the depth.
constexpr std::size_t kMaxInterpolationWork = std::size_t{1} << 20;
// The references one value's substitution may follow, however short what
// they give: keys that each name the next many times over stay quick to
// refuse even when every one of them is empty.
constexpr std::size_t kMaxInterpolationReferences = 10000;
const std::string kDefaultSection = "DEFAULT";

bool is_comment(std::string_view content) {
  return !content.empty() && (content.front() == '#' || content.front() == ';');
}

// The next line of `text` from `pos`, without its line break, moving `pos`
// past the break: "\n", "\r\n" and a lone "\r" each end a line, as Python's
// universal newlines read them.
std::string_view next_line(std::string_view text, std::size_t& pos) {
  std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
  std::string_view line = text.substr(pos, end - pos);
  pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  return line;
}

// The name of a section header. configparser matches "\[(.+)\]" at the start
// of the line, greedily: the name runs to the last ']' and what follows is
// ignored ("[db] ; main" is "db", "[a] x ]" is "a] x ").
std::optional<std::string_view> section_header(std::string_view content) {
  if (content.empty() || content.front() != '[') return std::nullopt;
  std::size_t close = content.rfind(']');
  if (close == std::string_view::npos || close < 2) return std::nullopt;
  return content.substr(1, close - 1);
}

// The name of a reference "%(name)s" at raw[at], as configparser's
// "%\(([^)]+)\)s" finds it: up to the first ')', which 's' must follow.
std::optional<std::string_view> reference_name(std::string_view raw, std::size_t at) {
  if (raw.compare(at, 2, "%(") != 0) return std::nullopt;
  std::size_t close = raw.find(')', at + 2);
  if (close == std::string_view::npos || close == at + 2 || raw.compare(close, 2, ")s") != 0) return std::nullopt;
  return raw.substr(at + 2, close - at - 2);
}

}  // namespace

// Reads one text into a configuration line by line, as configparser's _read
// does: a line indented deeper than the last line that was not a
// continuation continues the value of the entry above.
class IniConfig::Reader {
 public:
  Reader(IniConfig& target, const std::string& source) : target_(target), source_(source) {}

  void read(std::string_view text) {
    std::size_t pos = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (pos < text.size()) {
      ++line_no_;
      read_line(next_line(text, pos));
    }
    close_value();
  }

 private:
  void read_line(std::string_view line);
  void start_section(const std::string& name);
  void add_entry(std::string_view content);
  void close_value();
  // Messages never quote the line: it may hold a password.
  [[noreturn]] void fail(const std::string& what) const {
    throw ConfigError(source_ + ":" + std::to_string(line_no_) + ": " + what);
  }

  IniConfig& target_;
  const std::string& source_;
  std::set<std::string> sections_here_;
  std::set<std::pair<std::string, std::string>> keys_here_;
  Section* section_ = nullptr;
  std::string section_name_;
  Entry* open_value_ = nullptr;  // the entry that an indented line continues
  std::size_t indent_ = 0;       // in characters, of the last line that was no continuation
  std::size_t line_no_ = 0;
};

void IniConfig::Reader::read_line(std::string_view line) {
  std::string_view content = strip_whitespace(line);
  if (is_comment(content)) return;
  if (content.empty()) {
    // Kept as an empty line of the value when more of it follows.
    if (open_value_) open_value_->raw += '\n';
    return;
  }
  std::size_t indent = code_point_count(line.substr(0, content.data() - line.data()));
  if (open_value_ && indent > indent_) {
    open_value_->raw.append("\n").append(content);
    return;
  }
  indent_ = indent;
  if (auto name = section_header(content)) start_section(std::string(*name));
  else add_entry(content);
}

void IniConfig::Reader::start_section(const std::string& name) {
  close_value();
  if (name != kDefaultSection) {
    if (!sections_here_.insert(name).second) fail("section '" + name + "' already exists");
    if (!target_.sections_.count(name)) target_.order_.push_back(name);
  }
  section_ = name == kDefaultSection ? &target_.defaults_ : &target_.sections_[name];
  section_name_ = name;
}

void IniConfig::Reader::add_entry(std::string_view content) {
  std::size_t delim = content.find_first_of("=:");
  if (delim == std::string_view::npos)
    fail(content.front() == '[' ? "malformed section header (expected '[name]')"
                                : "expected 'key = value' or a section header");
  std::string key = to_lower_unicode(strip_whitespace(content.substr(0, delim)));
  if (key.empty()) fail("an entry without a key");
  if (!section_) fail("option '" + key + "' comes before the first section header");
  if (!keys_here_.emplace(section_name_, key).second)
    fail("option '" + key + "' in section '" + section_name_ + "' already exists");
  close_value();
  Entry entry{std::string(strip_whitespace(content.substr(delim + 1))), source_, line_no_};
  auto [it, added] = section_->entries.insert_or_assign(key, std::move(entry));
  if (added) section_->keys.push_back(key);
  open_value_ = &it->second;
}

// Blank lines at the end of a value are not part of it.
void IniConfig::Reader::close_value() {
  if (!open_value_) return;
  std::string& raw = open_value_->raw;
  raw.erase(raw.find_last_not_of('\n') + 1);
  open_value_ = nullptr;
}

void IniConfig::read_file(const std::filesystem::path& path) { read_string(tremora::read_file(path), path.string()); }

bool IniConfig::read_if_exists(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  read_file(path);
  return true;
}

void IniConfig::read_string(std::string_view text, const std::string& source) {
  // Parse into a private copy first, so a file with an error changes nothing.
  IniConfig merged = *this;
  Reader(merged, source).read(text);
  *this = std::move(merged);
}

std::vector<std::string> IniConfig::sections() const { return order_; }

bool IniConfig::has_section(const std::string& section) const { return sections_.count(section) > 0; }

const IniConfig::Entry* IniConfig::find_entry(const std::string& section, const std::string& key) const {
  if (section != kDefaultSection) {
    auto s = sections_.find(section);
    if (s != sections_.end()) {
      auto e = s->second.entries.find(key);
      if (e != s->second.entries.end()) return &e->second;
    }
  }
  auto d = defaults_.entries.find(key);
  return d == defaults_.entries.end() ? nullptr : &d->second;
}

bool IniConfig::has_option(const std::string& section, std::string_view key) const {
  if (section != kDefaultSection && !has_section(section)) return false;
  return find_entry(section, to_lower_unicode(key)) != nullptr;
}

std::vector<std::string> IniConfig::options(const std::string& section) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return defaults_.keys;
  std::vector<std::string> keys = s->second.keys;
  for (const std::string& key : defaults_.keys)
    if (!s->second.entries.count(key)) keys.push_back(key);
  return keys;
}

void IniConfig::Expansion::fail(const std::string& section, const std::string& what) const {
  throw ConfigError(entry.source + ":" + std::to_string(entry.line) + ": value substitution in option '" + key +
                    "' in section '" + section + "' " + what);
}

// Errors name where the value was written and its key; the value, and the
// names it refers to, may be part of a password and stay out.
std::string IniConfig::interpolate(const std::string& section, const std::string& key, const Entry& entry, int depth,
                                   Expansion& expansion) const {
  auto fail = [&](const std::string& what) {
    throw ConfigError(entry.source + ":" + std::to_string(entry.line) + ": " + what);
  };
  const std::string where = "option '" + key + "' in section '" + section + "'";
  if (depth > kMaxInterpolationDepth)
    fail("recursion limit exceeded in value substitution: " + where + " nests references more than " +
         std::to_string(kMaxInterpolationDepth) + " levels deep");
  const std::string& raw = entry.raw;
  std::string out;
  std::size_t done = 0;
  for (std::size_t percent; (percent = raw.find('%', done)) != std::string::npos;) {
    out.append(raw, done, percent - done);
    if (raw.compare(percent, 2, "%%") == 0) {
      out += '%';
      done = percent + 2;
      continue;
    }
    std::optional<std::string_view> name = reference_name(raw, percent);
    if (!name) fail("bad value substitution: " + where + ": '%' must be followed by '%' or '(key)s'");
    std::string ref = to_lower_unicode(*name);
    const Entry* referred = find_entry(section, ref);
    if (!referred)
      fail("bad value substitution: " + where + " refers to a key that neither the section nor DEFAULT has");
    out += expand_reference(section, ref, *referred, depth, expansion);
    done = percent + name->size() + 4;
  }
  return out.append(raw, done);
}

// What a reference stands for: the referred value, itself substituted one
// level deeper only when it holds a '%' (configparser counts the depth so).
std::string IniConfig::expand_reference(const std::string& section, const std::string& key, const Entry& referred,
                                        int depth, Expansion& expansion) const {
  if (++expansion.references > kMaxInterpolationReferences)
    expansion.fail(section, "follows more than " + std::to_string(kMaxInterpolationReferences) + " references");
  std::string part = referred.raw.find('%') == std::string::npos
                         ? referred.raw
                         : interpolate(section, key, referred, depth + 1, expansion);
  expansion.work += 1 + part.size();
  if (expansion.work > kMaxInterpolationWork)
    expansion.fail(section, "expands beyond " + std::to_string(kMaxInterpolationWork) + " characters");
  return part;
}

std::string IniConfig::get(const std::string& section, std::string_view key) const {
  if (section != kDefaultSection && !has_section(section)) throw KeyError("No section: '" + section + "'");
  std::string k = to_lower_unicode(key);
  const Entry* entry = find_entry(section, k);
  if (!entry) throw KeyError("No option '" + k + "' in section: '" + section + "'");
  Expansion expansion{k, *entry};
  return interpolate(section, k, *entry, 1, expansion);
}

std::string IniConfig::source_of(const std::string& section, std::string_view key) const {
  const Entry* entry = find_entry(section, to_lower_unicode(key));
  return entry ? entry->source : std::string();
}

std::string IniConfig::get(const std::string& section, std::string_view key, std::string_view fallback) const {
  if (!has_option(section, key)) return std::string(fallback);
  return get(section, key);
}

}  // namespace tremora
