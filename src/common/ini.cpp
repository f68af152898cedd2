#include "tremora/ini.hpp"

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

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\f' || s.front() == '\v'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\f' || s.back() == '\v'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

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
  std::set<std::string> sections_here;
  std::set<std::pair<std::string, std::string>> keys_here;
  Section* current = nullptr;
  std::string current_name;
  std::size_t line_no = 0;
  auto fail = [&](const std::string& what) { throw ConfigError(source + ":" + std::to_string(line_no) + ": " + what); };
  std::size_t pos = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim_blanks(text.substr(pos, end - pos));
    pos = end + 1;
    ++line_no;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    // Messages never quote the line: it may hold a password.
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) fail("malformed section header (expected '[name]')");
      current_name = std::string(line.substr(1, line.size() - 2));
      if (!sections_here.insert(current_name).second) fail("section '" + current_name + "' already exists");
      if (current_name == kDefaultSection) {
        current = &merged.defaults_;
      } else {
        if (!merged.sections_.count(current_name)) merged.order_.push_back(current_name);
        current = &merged.sections_[current_name];
      }
      continue;
    }
    std::size_t delim = line.find_first_of("=:");
    if (delim == std::string_view::npos) fail("expected 'key = value' or a section header");
    std::string key = to_lower_ascii(trim_blanks(line.substr(0, delim)));
    if (key.empty()) fail("an entry without a key");
    if (!current) fail("option '" + key + "' comes before the first section header");
    if (!keys_here.emplace(current_name, key).second)
      fail("option '" + key + "' in section '" + current_name + "' already exists");
    current->entries[key] = Entry{std::string(trim_blanks(line.substr(delim + 1))), source, line_no};
  }
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
  return find_entry(section, to_lower_ascii(key)) != nullptr;
}

std::vector<std::string> IniConfig::options(const std::string& section) const {
  std::set<std::string> keys;
  for (const auto& [k, v] : defaults_.entries) keys.insert(k);
  if (auto s = sections_.find(section); s != sections_.end())
    for (const auto& [k, v] : s->second.entries) keys.insert(k);
  return {keys.begin(), keys.end()};
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
    fail("recursion limit exceeded in value substitution: " + where + " refers to itself through more than " +
         std::to_string(kMaxInterpolationDepth) + " steps");
  const std::string& raw = entry.raw;
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      out += raw[i];
      continue;
    }
    if (i + 1 < raw.size() && raw[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t close = raw.find(")s", i);
    if (i + 1 >= raw.size() || raw[i + 1] != '(' || close == std::string::npos)
      fail("bad value substitution: " + where + ": '%' must be followed by '%' or '(key)s'");
    std::string ref = to_lower_ascii(raw.substr(i + 2, close - i - 2));
    const Entry* referred = find_entry(section, ref);
    if (!referred)
      fail("bad value substitution: " + where + " refers to a key that neither the section nor DEFAULT has");
    if (++expansion.references > kMaxInterpolationReferences)
      expansion.fail(section, "follows more than " + std::to_string(kMaxInterpolationReferences) + " references");
    std::string part = interpolate(section, ref, *referred, depth + 1, expansion);
    expansion.work += 1 + part.size();
    if (expansion.work > kMaxInterpolationWork)
      expansion.fail(section, "expands beyond " + std::to_string(kMaxInterpolationWork) + " characters");
    out += part;
    i = close + 1;
  }
  return out;
}

std::string IniConfig::get(const std::string& section, std::string_view key) const {
  if (section != kDefaultSection && !has_section(section)) throw KeyError("No section: '" + section + "'");
  std::string k = to_lower_ascii(key);
  const Entry* entry = find_entry(section, k);
  if (!entry) throw KeyError("No option '" + k + "' in section: '" + section + "'");
  Expansion expansion{k, *entry};
  return interpolate(section, k, *entry, 1, expansion);
}

std::string IniConfig::source_of(const std::string& section, std::string_view key) const {
  const Entry* entry = find_entry(section, to_lower_ascii(key));
  return entry ? entry->source : std::string();
}

std::string IniConfig::get(const std::string& section, std::string_view key, std::string_view fallback) const {
  if (!has_option(section, key)) return std::string(fallback);
  return get(section, key);
}

}  // namespace tremora
