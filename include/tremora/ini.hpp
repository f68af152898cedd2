// Reader of INI configuration files, reading them as Python's
// configparser.ConfigParser() does with its default settings.
//
// Rules: "[name]" at the start of a line starts a section (names are
// case-sensitive); the name runs to the last ']' of the line and what follows
// it is ignored, so "[db] ; main" is the section "db". Entries are
// "key = value" or "key: value" (split at the first '=' or ':'). Lines whose
// first non-blank character is '#' or ';' are comments; no inline comments
// are recognised: "a = b ; c" has the value "b ; c". Blanks are the Unicode
// white space of Python's str.strip() (no-break space, ideographic space,
// ...); they are removed around keys and values, and a line of blanks only is
// blank. Lines end at "\n", "\r\n" or a lone "\r".
//
// A line indented deeper than the entry above it continues that entry's
// value: the value is its lines, each stripped, joined by "\n"; blank lines
// between them stay as empty lines, blank lines at the end are dropped, and
// comment lines are skipped. So "host = a" followed by "  port = 1521" gives
// host the value "a\nport = 1521" and no key port.
//
// Keys are matched without regard to case: they are lower-cased as Python's
// str.lower() does ("ÜSER" is "üser"), for all of Unicode 14, except that
// whether a capital sigma becomes the final "ς" is judged by its neighbours
// below U+0530 only (see to_lower_unicode).
//
// The section "DEFAULT" supplies its entries to every other section and may
// appear several times in a file, adding to its entries; any other section,
// or a key within one section, repeated in one file is an error. Values may
// refer to another key of their section (or of DEFAULT) as "%(key)s"; "%%"
// stands for one '%'. Substitution goes at most 10 levels deep, counting the
// value asked for and each referred value that itself holds a '%', as
// configparser does: a chain of 10 references resolves, one of 11 does not.
//
// Differences from configparser: a UTF-8 byte-order mark at the start of the
// text is skipped (configparser refuses it unless the file is opened as
// "utf-8-sig"); bytes that are not valid UTF-8 are kept as they are (reading
// such a file as UTF-8 fails in Python); a file with an error changes
// nothing; substitution has the limits that get() describes.
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
  /// and line when a line is neither a section, an entry, a continuation, a
  /// comment nor blank, when an entry comes before any section, or when a
  /// section (other than DEFAULT) or a key repeats within the file;
  /// FileNotFoundError when it does not exist.
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
  /// The keys of a section in lower case, as configparser's options() gives
  /// them: the section's own in the order they were read, then DEFAULT's
  /// others (DEFAULT's alone for "DEFAULT").
  std::vector<std::string> options(const std::string& section) const;

  /// The interpolated value. KeyError "No section: 'x'" or
  /// "No option 'k' in section: 'x'" when absent; ConfigError when the
  /// value refers to a missing key, nests references more than 10 deep (a
  /// loop does), or has a '%' not followed by '%' or "(key)s", naming the
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
    std::vector<std::string> keys;         // the same keys, in order of first appearance
  };
  class Reader;
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
  std::string expand_reference(const std::string& section, const std::string& key, const Entry& referred, int depth,
                               Expansion& expansion) const;

  std::vector<std::string> order_;
  std::map<std::string, Section> sections_;
  Section defaults_;
};

}  // namespace tremora
