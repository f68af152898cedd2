#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/ini.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

TEST(Ini, SectionsKeysCommentsAndTrimming) {
  IniConfig c;
  c.read_string(
      "# comment\n"
      "; another\n"
      "[db1]\n"
      "  HOST = 10.0.0.1  \n"
      "Port: 1521\n"
      "url = a=b:c\n"
      "empty =\n"
      "   # indented comment\n"
      "note = x ; not a comment\n"
      "[DB1]\n"
      "host = other\n");
  EXPECT_EQ(c.sections(), (std::vector<std::string>{"db1", "DB1"}));
  EXPECT_EQ(c.get("db1", "host"), "10.0.0.1");
  EXPECT_EQ(c.get("db1", "HOST"), "10.0.0.1");
  EXPECT_EQ(c.get("db1", "PORT"), "1521");
  EXPECT_EQ(c.get("db1", "url"), "a=b:c");
  EXPECT_EQ(c.get("db1", "empty"), "");
  EXPECT_EQ(c.get("db1", "note"), "x ; not a comment");
  EXPECT_EQ(c.get("DB1", "host"), "other");
  EXPECT_FALSE(c.has_section("Db1"));
  EXPECT_EQ(c.get("db1", "missing", ""), "");
  EXPECT_EQ(c.get("nosuch", "host", "fb"), "fb");
  try {
    c.get("db1", "TNSNAME");
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_STREQ(e.what(), "No option 'tnsname' in section: 'db1'");
  }
  try {
    c.get("db9", "host");
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_STREQ(e.what(), "No section: 'db9'");
  }
}

TEST(Ini, DefaultSectionAndInterpolation) {
  IniConfig c;
  c.read_string(
      "[DEFAULT]\n"
      "port = 1521\n"
      "base = /opt/%(client)s\n"
      "client = instantclient\n"
      "[db1]\n"
      "lib = %(BASE)s/lib\n"
      "rate = 100%%\n"
      "client = ic21\n"
      "[db2]\n"
      "port = 1600\n");
  EXPECT_EQ(c.get("db1", "port"), "1521");
  EXPECT_EQ(c.get("db2", "port"), "1600");
  // References are resolved in the section that is read, DEFAULT's values included.
  EXPECT_EQ(c.get("db1", "lib"), "/opt/ic21/lib");
  EXPECT_EQ(c.get("db2", "base"), "/opt/instantclient");
  EXPECT_EQ(c.get("db1", "rate"), "100%");
  EXPECT_EQ(c.sections(), (std::vector<std::string>{"db1", "db2"}));
  EXPECT_FALSE(c.has_section("DEFAULT"));
  EXPECT_TRUE(c.has_option("db2", "BASE"));
  // configparser's order: the section's own keys, then DEFAULT's others.
  EXPECT_EQ(c.options("db2"), (std::vector<std::string>{"port", "base", "client"}));
}

// configparser's multi-line values: a line indented deeper than the entry
// above continues its value, even when it looks like an entry or a header.
TEST(Ini, IndentedLinesContinueTheValueAbove) {
  IniConfig c;
  c.read_string(
      "[db]\n"
      "host = a\n"
      "  port = 1521\n"
      "note = x\n"
      "\n"
      "  y\n"
      "  # skipped\n"
      "\t[not a section]\n"
      "\n"
      "[wide]\n"
      "\u3000k = 1\n"
      "  deeper by characters, not bytes\n"
      "[next]\n"
      "  first = indented\n"
      "second = 2\n");
  EXPECT_EQ(c.get("db", "host"), "a\nport = 1521");
  EXPECT_FALSE(c.has_option("db", "port"));
  EXPECT_EQ(c.get("db", "note"), "x\n\ny\n[not a section]");
  EXPECT_EQ(c.get("wide", "k"), "1\ndeeper by characters, not bytes");
  EXPECT_EQ(c.sections(), (std::vector<std::string>{"db", "wide", "next"}));
  EXPECT_EQ(c.get("next", "first"), "indented");
  EXPECT_EQ(c.get("next", "second"), "2");
}

TEST(Ini, UnicodeBlanksCaseAndLineEnds) {
  IniConfig c;
  c.read_string(
      "\xEF\xBB\xBF[DEFAULT]\rb = 1\r\n"
      "[s] ; the main one\n"
      "\u3000\u00a0\u2003\n"
      "\u3000\u00dcSER\u3000=\u3000x\u00a0\n"
      "\u039f\u0394\u039f\u03a3 = y\r"
      "\u0416 = z\n"
      "\u0130 = w\n"
      "[DEFAULT]\n"
      "a = %(\u00fcser)s\n");
  EXPECT_EQ(c.sections(), (std::vector<std::string>{"s"}));
  // str.lower(): the sigma ending a word becomes the final sigma, "İ" an "i"
  // with a combining dot above.
  EXPECT_EQ(c.options("s"),
            (std::vector<std::string>{"\u00fcser", "\u03bf\u03b4\u03bf\u03c2", "\u0436", "i\u0307", "b", "a"}));
  EXPECT_EQ(c.get("s", "\u00dcSer"), "x");
  EXPECT_EQ(c.get("s", "\u0436"), "z");
  EXPECT_EQ(c.get("s", "a"), "x");
  EXPECT_FALSE(c.has_option("s", "\u03bf\u03b4\u03bf\u03c3"));
}

TEST(Ini, BadInterpolationIsAnErrorNotAHang) {
  IniConfig c;
  c.read_string(
      "[s]\n"
      "a = %(b)s\n"
      "b = %(a)s\n"
      "c = %(nope)s\n"
      "d = 50%\n"
      "e = %(unclosed\n"
      "self = x%(self)s\n");
  EXPECT_THROW(c.get("s", "a"), ConfigError);
  EXPECT_THROW(c.get("s", "self"), ConfigError);
  try {
    c.get("s", "c");
    FAIL();
  } catch (const ConfigError& e) {
    EXPECT_EQ(std::string(e.what()),
              "<string>:4: bad value substitution: option 'c' in section 's' refers to a key "
              "that neither the section nor DEFAULT has");
  }
  EXPECT_THROW(c.get("s", "d"), ConfigError);
  EXPECT_THROW(c.get("s", "e"), ConfigError);

  // Each key naming the next one five times: a few hundred bytes that would
  // expand to 5^9 characters (and with more names per line, to petabytes).
  std::string nested = "[s]\n";
  for (char key = 'a'; key < 'j'; ++key)
    nested += std::string(1, key) + " = " +
              replace_all("%(N)s%(N)s%(N)s%(N)s%(N)s", "N", std::string(1, char(key + 1))) + "\n";
  // Refused after 10,000 references, also when every value is empty (each
  // reference then adds nothing, and only counting them stops the work).
  for (const char* leaf : {"x", ""}) {
    IniConfig bomb;
    bomb.read_string(nested + "j = " + leaf + "\n", "bomb.conf");
    EXPECT_EQ(bomb.get("s", "h"), replace_all("xxxxxxxxxxxxxxxxxxxxxxxxx", "x", leaf));
    try {
      bomb.get("s", "a");
      FAIL() << "expanded";
    } catch (const ConfigError& e) {
      EXPECT_EQ(std::string(e.what()),
                "bomb.conf:2: value substitution in option 'a' in section 's' follows more than 10000 references");
    }
  }
  // Few references to a long value: refused by its size.
  IniConfig wide;
  std::string eleven_times;
  for (int i = 0; i < 11; ++i) eleven_times += "%(long)s";
  wide.read_string("[s]\nlong = " + std::string(100000, 'x') + "\nall = " + eleven_times + "\n", "wide.conf");
  try {
    wide.get("s", "all");
    FAIL() << "expanded";
  } catch (const ConfigError& e) {
    EXPECT_EQ(std::string(e.what()),
              "wide.conf:3: value substitution in option 'all' in section 's' expands beyond 1048576 characters");
  }
}

TEST(Ini, ParseErrorsNameFileAndLineAndChangeNothing) {
  auto error_of = [](const std::string& text) {
    IniConfig c;
    c.read_string("[keep]\nk = v\n", "first.conf");
    try {
      c.read_string(text, "default.conf");
    } catch (const ConfigError& e) {
      EXPECT_EQ(c.get("keep", "k"), "v");
      EXPECT_EQ(c.sections().size(), 1u);
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error_of("host = x\n"), "default.conf:1: option 'host' comes before the first section header");
  EXPECT_EQ(error_of("[a]\n\njust words\n"), "default.conf:3: expected 'key = value' or a section header");
  EXPECT_EQ(error_of("[a]\n[a]\n"), "default.conf:2: section 'a' already exists");
  EXPECT_EQ(error_of("[a]\nk=1\nK=2\n"), "default.conf:3: option 'k' in section 'a' already exists");
  EXPECT_EQ(error_of("[a\n"), "default.conf:1: malformed section header (expected '[name]')");
  EXPECT_EQ(error_of("[a]\n= 3\n"), "default.conf:2: an entry without a key");
  EXPECT_EQ(error_of("[a]\n[]\n"), "default.conf:2: malformed section header (expected '[name]')");
  // DEFAULT may come back and add entries, but not repeat one.
  EXPECT_EQ(error_of("[DEFAULT]\na = 1\n[a]\n[DEFAULT]\nA = 2\n"),
            "default.conf:5: option 'a' in section 'DEFAULT' already exists");
  EXPECT_EQ(error_of("[a]\n\u00dcser = 1\n\u00fcSER = 2\n"),
            "default.conf:3: option '\u00fcser' in section 'a' already exists");
}

// Values may be secrets: errors name the file, the line and the key, never
// any part of a value or of a line that is not an entry.
TEST(Ini, ErrorsNeverEchoValues) {
  const std::string secret = "Zq9SECRETpw";
  auto error_of = [&](const std::string& text, const std::string& key = "") {
    IniConfig c;
    try {
      c.read_string(text, "default.conf");
      if (!key.empty()) c.get("db1", key);
    } catch (const ConfigError& e) {
      std::string what = e.what();
      EXPECT_EQ(to_lower_ascii(what).find("secret"), std::string::npos) << what;
      return what;
    }
    return std::string("no error");
  };
  EXPECT_EQ(error_of("[db1]\nHOST = h\n\n\nPASSWORD " + secret + "\n"),
            "default.conf:5: expected 'key = value' or a section header");
  EXPECT_EQ(error_of("PASSWORD " + secret + "\n[db1]\n"), "default.conf:1: expected 'key = value' or a section header");
  EXPECT_EQ(error_of("PASSWORD = " + secret + "\n[db1]\n"),
            "default.conf:1: option 'password' comes before the first section header");
  EXPECT_EQ(error_of("[db1]\n = " + secret + "\n"), "default.conf:2: an entry without a key");
  EXPECT_EQ(error_of("[" + secret + "\n"), "default.conf:1: malformed section header (expected '[name]')");
  // Interpolation errors name the key and where it was written, not what it refers to.
  EXPECT_EQ(error_of("[db1]\nhost = h\npassword = Zq9%(SECRET)spw\n", "PASSWORD"),
            "default.conf:3: bad value substitution: option 'password' in section 'db1' refers to a key that "
            "neither the section nor DEFAULT has");
  for (const char* value : {"Zq9%SECRETpw", "Zq9%(SECRET"})
    EXPECT_EQ(error_of("[db1]\npassword = " + std::string(value) + "\n", "PASSWORD"),
              "default.conf:2: bad value substitution: option 'password' in section 'db1': '%' must be followed by "
              "'%' or '(key)s'");
  EXPECT_EQ(error_of("[DEFAULT]\nloop = %(password)s\n[db1]\npassword = SECRET%(loop)s\n", "password"),
            "default.conf:4: recursion limit exceeded in value substitution: option 'password' in section 'db1' "
            "nests references more than 10 levels deep");
  // A value of several lines is named by its first.
  EXPECT_EQ(error_of("[db1]\npassword = a\n  Zq9%SECRET\n", "password"),
            "default.conf:2: bad value substitution: option 'password' in section 'db1': '%' must be followed by "
            "'%' or '(key)s'");
  EXPECT_EQ(error_of("[db1]\npassword = a\n  " + secret + "\n" + secret + "\n"),
            "default.conf:4: expected 'key = value' or a section header");
}

TEST(Ini, LaterFilesReplaceEntriesOfEarlierOnes) {
  testing::TempDir dir;
  auto first = dir.write("work/default.conf", "[db1]\nHOST = h1\nPORT = 1521\nUSERNAME = u\n[only_work]\nx = 1\n");
  auto second = dir.write("home/default.conf", "[db1]\nport = 1600\n[only_home]\ny = 2\n");
  IniConfig c;
  EXPECT_TRUE(c.read_if_exists(first));
  EXPECT_TRUE(c.read_if_exists(second));
  EXPECT_FALSE(c.read_if_exists(dir / "absent.conf"));
  EXPECT_EQ(c.get("db1", "PORT"), "1600");
  EXPECT_EQ(c.get("db1", "HOST"), "h1");
  EXPECT_EQ(c.get("only_work", "x"), "1");
  EXPECT_EQ(c.get("only_home", "y"), "2");
  EXPECT_EQ(c.sections(), (std::vector<std::string>{"db1", "only_work", "only_home"}));
  EXPECT_EQ(c.source_of("db1", "PORT"), second.string());
  EXPECT_EQ(c.source_of("db1", "host"), first.string());
  EXPECT_EQ(c.source_of("db1", "nope"), "");
  EXPECT_THROW(c.read_file(dir / "absent.conf"), FileNotFoundError);
}

}  // namespace
}  // namespace tremora
