// Reader of INI configuration files.
//
// Rules: "[name]" starts a section (names are case-sensitive); entries are
// "key = value" or "key: value" (split at the first '=' or ':'); keys are
// matched without regard to ASCII case; blanks around keys and values are
// removed; lines whose first non-blank character is '#' or ';' are comments
// and blank lines are skipped; the section "DEFAULT" supplies its entries to
// every other section. Values may refer to another key of their section (or
// of DEFAULT) as "%(key)s"; "%%" stands for one '%'. Indented lines are
// ordinary entries (there are no continuation lines), and no inline comments
// are recognised: "a = b ; c" has the value "b ; c".
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tremora {

class IniConfig {
 public:
  /// Reads a file and merges its entries: an entry of a later read replaces
  /// the same section and key of an earlier one. ConfigError naming the file
  /// and line when a line is neither a section, an entry, a comment nor
  /// blank, when an entry comes before any section, or when a section or a
  /// key repeats within the file; FileNotFoundError when it does not exist.
  /// Values may be secrets (passwords): errors name the file, the line and
  /// the key, never a value or the text of a line that is not an entry.
  void read_file(const std::filesystem::path& path);
  /// read_file when the file exists; returns whether it did.
  bool read_if_exists(const std::filesystem::path& path);
  /// Reads INI text; `source` names it in error messages.
  void read_string(std::string_view text, const std::string& source = "<string>");

  /// The sections in order of first appearance, without DEFAULT.
  std::vector<std::string> sections() const;
  /// True for a section that was read (false for DEFAULT).
  bool has_section(const std::string& section) const;
  /// True when the section (or DEFAULT) has the key.
  bool has_option(const std::string& section, std::string_view key) const;
  /// The keys of a section, DEFAULT's included, in lower case.
  std::vector<std::string> options(const std::string& section) const;

  /// The interpolated value. KeyError "No section: 'x'" or
  /// "No option 'k' in section: 'x'" when absent; ConfigError when the
  /// value refers to a missing key, loops, or has a stray '%', naming the
  /// file, line and key of the faulty value but nothing it contains, and
  /// when substitution would make the value longer than 1 MiB or take more
  /// than 10,000 references (naming the key asked for).
  std::string get(const std::string& section, std::string_view key) const;
  /// The same, with `fallback` for an absent section or key.
  std::string get(const std::string& section, std::string_view key, std::string_view fallback) const;

  /// Where the value of a key was read: the file path (or the `source` of
  /// read_string); "" when the section and DEFAULT lack the key.
  std::string source_of(const std::string& section, std::string_view key) const;

 private:
  struct Entry {
    std::string raw;     // the value as written
    std::string source;  // the file (or `source`) it was read from
    std::size_t line = 0;
  };
  struct Section {
    std::map<std::string, Entry> entries;  // by lower-case key
  };
  const Entry* find_entry(const std::string& section, const std::string& key) const;
  // The substitution of one value asked for: its key and entry, and the
  // work done so far.
  struct Expansion {
    const std::string& key;
    const Entry& entry;
    std::size_t work = 0;
    std::size_t references = 0;
    /// The ConfigError of a substitution grown too large, naming where the
    /// value asked for was written.
    [[noreturn]] void fail(const std::string& section, const std::string& what) const;
  };
  std::string interpolate(const std::string& section, const std::string& key, const Entry& entry, int depth,
                          Expansion& expansion) const;

  std::vector<std::string> order_;
  std::map<std::string, Section> sections_;
  Section defaults_;
};

}  // namespace tremora
