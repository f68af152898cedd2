// Runs the tremora program as a user would and checks what it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "test_support.hpp"
#include "tremora/csv.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

struct RunResult {
  int status;
  std::string out;
};

// Runs a shell command line, standard error joined to standard output.
RunResult run_shell(const std::string& command) {
  FILE* pipe = popen(("{ " + command + "; } 2>&1").c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  while (std::size_t n = fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Runs the program with arguments (a shell command line).
RunResult run(const std::string& args) { return run_shell(std::string(TREMORA_BIN) + " " + args); }

// Runs the program in a folder, with HOME there too (and `environment`,
// "NAME=value ...").
RunResult run_in(const testing::TempDir& dir, const std::string& args, const std::string& environment = "") {
  return run_shell("cd " + dir.path().string() + " && HOME=" + dir.path().string() + " " + environment + " " +
                   TREMORA_BIN + " " + args);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The lines of a text.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string_view line : split(text, '\n')) lines.emplace_back(line);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// The display column at which `mark` starts in a line (npos when absent).
std::size_t column_of(const std::string& line, std::string_view mark) {
  std::size_t at = line.find(mark);
  return at == std::string::npos ? at : display_width(line.substr(0, at));
}

TEST(Cli, SplitWritesOneRowPerSample) {
  testing::TempDir dir;
  auto in = dir.write("days.csv",
                      "STARTDATE,STATIONID,POINTID,ITEMID,OBSVALUE\n"
                      "2024-01-02,37001,1,4112,\"5 6\"\n"
                      "2024-01-01,37001,1,4112,\" 1.5 2.5  0.1 \"\n"
                      "2024-01-01,郯城,2,4112,NULL\n");
  auto out = dir / "samples.csv";
  RunResult r = run("split --rate 3600 " + in.string() + " " + out.string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "wrote " + out.string() + ": 7 rows\n");
  EXPECT_EQ(testing::read_text(out),
            "STARTDATE,STATIONID,POINTID,ITEMID,OBSVALUE\n"
            "2024-01-01T00:00:00,37001,1,4112,1.5\n"
            "2024-01-01T00:00:00,郯城,2,4112,\n"
            "2024-01-01T01:00:00,37001,1,4112,2.5\n"
            "2024-01-01T02:00:00,37001,1,4112,\n"
            "2024-01-01T03:00:00,37001,1,4112,0.1\n"
            "2024-01-02T00:00:00,37001,1,4112,5\n"
            "2024-01-02T01:00:00,37001,1,4112,6\n");
}

TEST(Cli, SplitToParquetAndShowIt) {
  testing::TempDir dir;
  auto in = dir.write("days.csv", "STARTDATE,STATIONID,OBSVALUE\n2024-01-01,郯城,\"1 2 3\"\n");
  auto out = dir / "samples.parquet";
  RunResult r = run("split --rate 60 " + in.string() + " " + out.string());
  ASSERT_EQ(r.status, 0) << r.out;
  r = run("show " + out.string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("timestamp"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("float32"), std::string::npos);
  EXPECT_NE(r.out.find("2024-01-01 00:02:00"), std::string::npos);
  EXPECT_NE(r.out.find("[3 rows x 3 columns]"), std::string::npos);
  // The Parquet file splits again as daily data (its STARTDATE is already a time).
  auto again = dir / "again.csv";
  r = run("split --rate 86400 " + out.string() + " " + again.string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(testing::read_text(again).find("2024-01-01T00:01:00,郯城,2"), std::string::npos);
  EXPECT_NE(run("show " + (dir / "x.xlsx").string()).out.find("unsupported table file type '.xlsx'"),
            std::string::npos);
}

TEST(Cli, ErrorsAreOneLineAndLeaveNoOutput) {
  testing::TempDir dir;
  auto in = dir.write("days.csv", "STARTDATE,VALUE\n2024-01-01,1\n");
  auto out = dir / "samples.csv";
  RunResult r = run("split --rate 60 " + in.string() + " " + out.string());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("'OBSVALUE'"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  EXPECT_FALSE(std::filesystem::exists(out));
  auto bad_date = dir.write("bad.csv", "STARTDATE,OBSVALUE\n2024-13-01,1\n");
  r = run("split --rate 60 " + bad_date.string() + " " + out.string());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("'2024-13-01'"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(out));
  // Nothing but the output file is left in the folder.
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);
  r = run("split --rate 60 " + (dir / "none.csv").string() + " " + out.string());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("none.csv"), std::string::npos);
}

TEST(Cli, ExitStatusTellsUsageErrorsFromFailedWork) {
  testing::TempDir dir;
  RunResult version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("tremora ") + TREMORA_VERSION + "\n");
  EXPECT_EQ(run("fetch --help").status, 0);
  // Usage errors: an unknown command, a missing or unknown option, a value
  // the option refuses, options a choice needs.
  for (const char* args : {"frobnicate", "", "fetch --db x", "show --nope x.csv", "load weekly --db x --out y.csv",
                           "load daily --db x --out y.csv", "diff a.csv b.csv --periods many"}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 2) << args << ": " << r.out;
    EXPECT_NE(r.out.find("Run with --help"), std::string::npos) << args << ": " << r.out;
  }
  // The work failing: a file that is not there.
  RunResult missing = run("stats " + (dir / "none.csv").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(lines_of(missing.out).size(), 1u) << missing.out;
  EXPECT_NE(missing.out.find("none.csv"), std::string::npos) << missing.out;
}

TEST(Cli, StatsOfEachSeries) {
  testing::TempDir dir;
  auto table = dir.write("t.csv",
                         "STARTDATE,STATIONID,ITEMID,OBSVALUE\n"
                         "2024-05-01 00:00,37001,4112,1\n2024-05-01 00:02,37001,4112,3\n"
                         "2024-05-01 00:01,37001,4112,2\n2024-05-01 00:03,37001,4112,\n"
                         "2024-05-01 00:00,37001,4113,10\n2024-05-01 01:00,37001,4113,30\n");
  RunResult r = run("stats " + table.string() + " --multiplier 1");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;  // header, types, two series, size
  auto fields = [](const std::string& line) {
    std::vector<std::string> out;
    for (std::string_view f : split(line, ' '))
      if (!f.empty()) out.emplace_back(f);
    return out;
  };
  // The first series in time order steps by a minute; its missing value is skipped.
  EXPECT_EQ(fields(lines[0]), (std::vector<std::string>{"|", "STATIONID", "ITEMID", "rows", "step", "mean", "median",
                                                        "std", "min", "max", "lower_limit", "upper_limit"}));
  EXPECT_EQ(fields(lines[2]),
            (std::vector<std::string>{"0", "|", "37001", "4112", "4", "1min", "2", "2", "1", "1", "3", "1", "3"}))
      << lines[2];
  EXPECT_EQ(fields(lines[3]),
            (std::vector<std::string>{"1", "|", "37001", "4113", "2", "1h", "20", "20", "14.142135623730951", "10",
                                      "30", "5.857864376269049", "34.14213562373095"}))
      << lines[3];
  RunResult text = run("stats " + table.string() + " --column STATIONID");
  EXPECT_EQ(text.status, 0) << text.out;  // codes that read as numbers count
  RunResult none = run("stats " + table.string() + " --column NOPE");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("'NOPE'"), std::string::npos) << none.out;
}

TEST(Cli, ProgressLineOnlyOnATerminal) {
  testing::TempDir dir;
  ASSERT_EQ(run("sample-db --station 37001 " + (dir / "qz.db").string()).status, 0);
  dir.write("default.conf", "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n");
  std::string fetch = std::string(TREMORA_BIN) +
                      " fetch --db local --start 20240509 --end 20240510 --method 水位 --rate 分钟值 --type 预处理库 "
                      "--gzip --out ";
  std::string cd = "cd " + dir.path().string() + " && HOME=" + dir.path().string() + " ";
  // script(1) gives the program a terminal for its standard error.
  RunResult shown = run_shell(cd + "script -qec '" + fetch + "a.csv' /dev/null");
  ASSERT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("fetch: fetching (2/3), "), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("fetch: writing a.csv (3/3), "), std::string::npos) << shown.out;
  // The line is erased before the report, which starts a line of its own.
  EXPECT_NE(shown.out.find("\r\033[Kwrote a.csv: 2880 rows"), std::string::npos) << shown.out;
  RunResult redirected = run_shell(cd + fetch + "b.csv");
  ASSERT_EQ(redirected.status, 0) << redirected.out;
  EXPECT_EQ(redirected.out, "wrote b.csv: 2880 rows\n");
}

// Control characters from data and from names reach the terminal escaped.
TEST(Cli, ControlCharactersAreShownNotObeyed) {
  testing::TempDir dir;
  auto in = dir.write("title.csv",
                      "STARTDATE,OBSVALUE\n2024-01-01,\"a\x1b]0;owned\x07"
                      "b\"\n");
  RunResult shown = run("show " + in.string());
  ASSERT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("a\\x1b]0;owned\\x07b"), std::string::npos) << shown.out;
  RunResult missing = run("show '" + (dir / "no\x1b[31m\xc2\x9b.csv").string() + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("no\\x1b[31m\\u009b.csv"), std::string::npos) << missing.out;
  for (const RunResult& r : {shown, missing}) {
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xc2\x9b"), std::string::npos) << r.out;
  }
}

TEST(Cli, TextThatIsNotUtf8StaysOutOfParquetFiles) {
  testing::TempDir dir;
  auto in = dir.write("days.csv",
                      "STARTDATE,STATIONID,OBSVALUE\n"
                      "2024-01-01,37001,\"1 2\"\n"
                      "2024-01-02,\xd6\xa3\xb3\xc7,\"3 4\"\n");  // a station name in GBK
  auto out = dir / "samples.parquet";
  RunResult r = run("split --rate 60 " + in.string() + " " + out.string());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("column 'STATIONID', row 2 (rows counted from 0): the text is not valid UTF-8"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(std::filesystem::exists(out));
  // A column name in GBK would make a schema readers refuse.
  auto named = dir.write("named.csv", "STARTDATE,\xd6\xd0,OBSVALUE\n2024-01-01,1,\"1 2\"\n");
  r = run("split --rate 60 " + named.string() + " " + out.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("column name '\\xd6\\xd0' is not valid UTF-8, which a Parquet schema cannot hold"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(std::filesystem::exists(out));
}

// Runs the program with `args` and sends it `signal_number` as soon as its
// temporary file for `out` appears in that folder (seen by inotify), while
// the program is still filling it; returns the wait status. The input must
// take the program a while to write, so that the signal comes before the
// rename.
int signal_while_writing(const std::vector<std::string>& args, const std::filesystem::path& out, int signal_number) {
  std::vector<char*> argv{const_cast<char*>(TREMORA_BIN)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int watch = ::inotify_init1(IN_CLOEXEC);
  if (watch < 0 || ::inotify_add_watch(watch, out.parent_path().c_str(), IN_CREATE) < 0)
    throw std::runtime_error("inotify failed");
  pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string temporary = "." + out.filename().string() + ".tmp-";
  alignas(inotify_event) char buffer[4096];
  int status = 0;
  for (bool seen = false; !seen;) {
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;  // at most a minute
    ssize_t n = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      seen = seen || (event->len > 0 && std::string(event->name).rfind(temporary, 0) == 0);
      at += ssize_t(sizeof(inotify_event) + event->len);
    }
  }
  ::kill(pid, signal_number);
  ::waitpid(pid, &status, 0);
  ::close(watch);
  return status;
}

TEST(Cli, InterruptedWritesLeaveNoTemporaryFile) {
  testing::TempDir dir;
  // 432,000 samples: a CSV of about 12 MB, which takes the program a
  // quarter of a second to write.
  std::string values;
  for (int k = 0; k < 1440; ++k) values += "1.5 ";
  std::string days = "STARTDATE,STATIONID,OBSVALUE\n";
  for (int station = 0; station < 300; ++station)
    days += "2024-02-01," + std::to_string(station) + ",\"" + values + "\"\n";
  auto in = dir.write("days.csv", days);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    int status = signal_while_writing({"split", "--rate", "60", in.string(), (dir / "samples.csv").string()},
                                      dir / "samples.csv", signal_number);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    std::vector<std::string> left;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, std::vector<std::string>{"days.csv"});
  }
}

TEST(Cli, SampleDatabaseFetchAndCache) {
  testing::TempDir dir;
  RunResult r = run("sample-db --station 37001 " + (dir / "qz.db").string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "sample-catalogue.txt"));
  dir.write("default.conf", "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n");
  r = run_in(dir, "refresh-cache --db local");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / ".tremo/metastash/qz.local/stations.parquet"));
  r = run_in(dir,
             "fetch --db local --start 20240509 --end 20240510 --method 水位 --station 郯城 --rate 分钟值 "
             "--type 预处理库 --gzip --out water.csv");
  ASSERT_EQ(r.status, 0) << r.out;
  Table t = read_csv(dir / "water.csv");
  EXPECT_EQ(t.num_rows(), 2u * 1440);
  EXPECT_EQ(t.column_names()[0], "STARTDATE");
  r = run_in(dir,
             "fetch --db local --start 20240509 --end 20240510 --method 水位 --rate 日 --type 预处理库 --out x.csv");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("未选择数据类型!"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.csv"));
  r = run_in(dir, "dialog --db local --start 20240101 --end 20241231 --out log.parquet");
  ASSERT_EQ(r.status, 0) << r.out;
  r = run_in(
      dir, "fetch --db nowhere --start 20240509 --end 20240510 --method 水位 --rate 日值 --type 预处理库 --out y.csv");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("数据库配置文件缺失或不完整"), std::string::npos) << r.out;
}

TEST(Cli, ExportWritesVuzoFilesAndShowPrintsTheirContext) {
  testing::TempDir dir;
  ASSERT_EQ(run("sample-db --station 37001 " + (dir / "qz.db").string()).status, 0);
  dir.write("default.conf", "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n");
  std::string request =
      "--db local --start 20240509 --end 20240510 --method 水位 --station 郯城 --type 预处理库 --gzip";
  // Fetched and exported in one step (the metadata cache is filled on the way).
  RunResult r = run_in(dir, "export " + request + " --rate 分钟值 --out out/water.vuzo");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "wrote out/water.vuzo: 2880 rows, 1 station record, 1 item record\n");
  r = run_in(dir, "show out/water.vuzo --head 2");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 18u) << r.out;
  EXPECT_TRUE(lines[0].starts_with("export_time: 20")) << r.out;
  EXPECT_EQ(lines[1], "sampling_rate: 60 s");
  EXPECT_EQ(lines[2], "station_info: 1 record");
  EXPECT_NE(lines[5].find("郯城"), std::string::npos) << r.out;
  EXPECT_EQ(lines[7], "item_info: 1 record");
  EXPECT_NE(lines[10].find("水位"), std::string::npos) << r.out;
  EXPECT_EQ(lines[12], "rows:");
  EXPECT_TRUE(lines[13].find("STARTDATE") < lines[13].find("OBSVALUE")) << r.out;
  EXPECT_EQ(lines.back(), "[2880 rows x 6 columns]");
  // A table file already on disk, the rate by name or in seconds.
  ASSERT_EQ(run_in(dir, "fetch " + request + " --rate 分钟值 --out water.csv").status, 0);
  r = run_in(dir, "export --from water.csv --db local --rate 60 --out again.vuzo");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "wrote again.vuzo: 2880 rows, 1 station record, 1 item record\n");
  EXPECT_NE(run_in(dir, "show again.vuzo").out.find("sampling_rate: 60 s"), std::string::npos);
  EXPECT_EQ(run_in(dir, "export --from out/water.vuzo --db local --rate 小时值 --out hourly.vuzo").status, 0);
  EXPECT_NE(run_in(dir, "show hourly.vuzo").out.find("sampling_rate: 3600 s"), std::string::npos);
  // What cannot be done is said, and nothing is written.
  r = run_in(dir, "export --db local --rate 分钟值 --out x.vuzo");
  EXPECT_NE(r.out.find("--start (or --from TABLE) is required"), std::string::npos) << r.out;
  r = run_in(dir, "export --from water.csv --db local --rate 1.5 --out x.vuzo");
  EXPECT_NE(r.out.find("--rate: '1.5' is not a sampling rate name nor a whole number of seconds"), std::string::npos)
      << r.out;
  r = run_in(dir, "export --from water.csv --start 20240509 --db local --rate 60 --out x.vuzo");
  EXPECT_NE(r.out.find("--start excludes --from"), std::string::npos) << r.out;
  r = run_in(dir, "export --from water.csv --db local --rate 60 --out ./water.csv");
  EXPECT_EQ(r.status, 2) << r.out;
  r = run_in(dir,
             "export --db local --start 20300101 --end 20300102 --method 水位 --rate 日值 --type 预处理库 "
             "--out x.vuzo");
  EXPECT_EQ(lines_of(r.out).back(), "tremora: error: nothing to export: the table has no rows") << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.vuzo"));
  // A Parquet file named .vuzo that is not one is named.
  ASSERT_EQ(run_in(dir, "fetch " + request + " --rate 分钟值 --out plain.parquet").status, 0);
  std::filesystem::rename(dir / "plain.parquet", dir / "plain.vuzo");
  EXPECT_EQ(run_in(dir, "show plain.vuzo").out,
            "tremora: error: 'plain.vuzo' is not a VUZO file: it has no 'vuzo.version' entry\n");
}

// check gives the fix that fits the driver and what it found: the file of
// a SQLite section, a file without the QZDATA tables, ~/.tremo being a file.
TEST(Cli, CheckAdvisesByDriverAndWhatItFound) {
  testing::TempDir dir;
  ASSERT_EQ(run("sample-db --station 37001 " + (dir / "qz.db").string()).status, 0);
  dir.write("empty.db", "");
  dir.write("default.conf",
            "[good]\nDRIVER = sqlite\nHOST = g.local\nDATABASE = qz.db\n"
            "[empty]\nDRIVER = sqlite\nHOST = e.local\nDATABASE = empty.db\n"
            "[gone]\nDRIVER = sqlite\nHOST = m.local\nDATABASE = missing.db\n");
  const std::string sqlite_fix = "it names the SQLite file of the QZDATA tables";
  RunResult empty = run_in(dir, "check --db empty");
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.out.find("empty.db, but holds no QZDATA tables; fix: check DATABASE in [empty]: " + sqlite_fix),
            std::string::npos)
      << empty.out;
  EXPECT_NE(empty.out.find("fix: fix the connection, then tremora refresh-cache --db empty"), std::string::npos);
  RunResult gone = run_in(dir, "check --db gone");
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(occurrences(gone.out, "missing.db"), 1u) << gone.out;  // in its line, not logged as well
  EXPECT_NE(gone.out.find("fix: check DATABASE in [gone]: " + sqlite_fix), std::string::npos) << gone.out;
  EXPECT_EQ(gone.out.find("TNSNAME"), std::string::npos) << gone.out;
  ASSERT_EQ(run_in(dir, "refresh-cache --db good").status, 0);
  EXPECT_EQ(run_in(dir, "check --db good").status, 0);
  std::filesystem::remove_all(dir / ".tremo");
  dir.write(".tremo", "");
  RunResult blocked = run_in(dir, "check --db good");
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.out.find((dir / ".tremo").string() + " is a file, not a folder"), std::string::npos) << blocked.out;
}

TEST(Cli, PlotWritesTheChartsOfATable) {
  testing::TempDir dir;
  ASSERT_EQ(run("sample-db --station 37001 --station 41001 " + (dir / "qz.db").string()).status, 0);
  dir.write("default.conf", "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n");
  RunResult r = run_in(dir,
                       "fetch --db local --start 20240509 --end 20240510 --method 水位 --rate 分钟值 "
                       "--type 预处理库 --gzip --out water.csv");
  ASSERT_EQ(r.status, 0) << r.out;
  dir.write("notes.json", R"({"4112": {"37001_1": [{"text": "峰", "x": "2024-05-09 12:00", "y": 0.1,
                                                    "props": {"color": "red"}}]}})");
  r = run_in(dir, "plot water.csv --db local --prefix W_ --show-mean --annotations notes.json --geomag-file " +
                      std::string(TREMORA_TEST_DATA) + "/kp/Kp_def2024.wdc --quakecat sample-catalogue.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("wrote figures/W_4112_1.png"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "figures/W_4112_1.png"));
  r = run_in(dir, "plot water.csv --db local --groupby station --daily --format svg");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "figures/37001_1.svg"));
  EXPECT_TRUE(std::filesystem::exists(dir / "figures/41001_1.svg"));
  // Bad input is named: a grouping, an annotation without a value, a format.
  // ...each said once, not logged and then repeated.
  r = run_in(dir, "plot water.csv --db local --groupby point");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(occurrences(r.out, "不支持的分组方式: point"), 1u) << r.out;
  r = run_in(dir, "plot water.csv --db local --geomag --prefix K_", "TREMORA_KP_URL=http://127.0.0.1:9/");
  EXPECT_EQ(occurrences(r.out, "Kp retrieval failed"), 1u) << r.out;
  dir.write("bad.json", R"({"4112": {"37001_1": [{"text": "峰", "x": "2024-05-09 12:00"}]}})");
  r = run_in(dir, "plot water.csv --db local --annotations bad.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("bad.json: an annotation has no \"y\""), std::string::npos) << r.out;
  r = run_in(dir, "plot water.csv --db local --format bmp --prefix B_");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("'.bmp'"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "figures/B_4112_1.bmp"));
}

TEST(Cli, AnnualComparesTheYearsOfATable) {
  testing::TempDir dir;
  std::string csv = "STARTDATE,OBSVALUE\n";
  for (int y = 2022; y <= 2023; ++y)
    for (int d = 0; d < 365; d += 7)
      csv += format_timestamp(Timestamp{make_timestamp(y, 1, 1).ns + d * kNanosPerDay}, "%Y-%m-%d") + "," +
             std::to_string(y - 2000 + d / 100.0) + "\n";
  dir.write("days.csv", csv);
  RunResult r = run_in(dir, "annual days.csv --station-name 郯城 --direction NS --figsize 8x5 --dpi 100 --out a.svg");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("wrote ./figures/a.svg"), std::string::npos) << r.out;
  std::string svg = testing::read_text(dir / "figures/a.svg");
  EXPECT_NE(svg.find(">郯城NS同年对比</text>"), std::string::npos);
  EXPECT_NE(svg.find(">2023 (Mean: "), std::string::npos);
  r = run_in(dir, "annual days.csv --figsize 8 --out b.png");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("--figsize '8'"), std::string::npos) << r.out;
  r = run_in(dir, "annual days.csv --out c.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("'.bmp'"), std::string::npos) << r.out;
  EXPECT_EQ(occurrences(r.out, "Error saving chart"), 1u) << r.out;
}

TEST(Cli, PostProcessingCommands) {
  testing::TempDir dir;
  std::string csv = "STARTDATE,STATIONID,POINTID,ITEMID,OBSVALUE\n";
  for (int h = 0; h < 48; ++h)
    csv += "2024-05-0" + std::to_string(1 + h / 24) + " " + (h % 24 < 10 ? "0" : "") + std::to_string(h % 24) +
           ":00,37001,1,4112," + (h == 30 ? "500" : std::to_string(10 + h)) + "\n";
  auto in = dir.write("hours.csv", csv);
  auto path = [&](const char* name) { return (dir / name).string(); };
  ASSERT_EQ(run("resample " + in.string() + " " + path("days.csv") + " --freq 1D --agg max").status, 0);
  Table days = read_csv(dir / "days.csv");
  ASSERT_EQ(days.num_rows(), 2u);
  EXPECT_EQ(days.column("OBSVALUE").text(1), "500");
  ASSERT_EQ(run("diff " + in.string() + " " + path("diff.csv") + " --keep-first").status, 0);
  Table diff = read_csv(dir / "diff.csv");
  EXPECT_TRUE(diff.column("OBSVALUE").is_null(0));
  EXPECT_EQ(diff.column("OBSVALUE").text(1), "1");
  ASSERT_EQ(run("mad " + in.string() + " " + path("mad.csv") + " --window-size 5 --threshold-factor 3").status, 0);
  Table mad = read_csv(dir / "mad.csv");
  EXPECT_EQ(mad.column("OBSVALUE").text(30), "41");  // the spike becomes the median of 38, 39, 500, 41, 42
  ASSERT_EQ(run("normalize-dates " + in.string() + " " + path("norm.csv") + " --reference-year 2023").status, 0);
  EXPECT_EQ(read_csv(dir / "norm.csv").column("datetime_norm").text(47), "2023-05-02T00:00:00");
  auto gappy = dir.write("gappy.csv",
                         "STARTDATE,OBSVALUE,SAMPLERATE\n2024-05-01 00:00,1,01\n2024-05-01 00:01,2,01\n"
                         "2024-05-01 00:04,5,01\n");
  ASSERT_EQ(run("reindex " + gappy.string() + " " + path("grid.csv")).status, 0);
  Table grid = read_csv(dir / "grid.csv");
  ASSERT_EQ(grid.num_rows(), 5u);
  EXPECT_TRUE(grid.column("OBSVALUE").is_null(2));
  RunResult bad = run("resample " + in.string() + " " + path("x.csv") + " --freq 1W");
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.out.find("'1W'"), std::string::npos) << bad.out;
}

TEST(Cli, GalleryWritesEveryImage) {
  testing::TempDir dir;
  RunResult r = run("gallery " + (dir / "g").string() + " --kp-file " + TREMORA_TEST_DATA + "/kp/Kp_def2024.wdc");
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* name : {"lines.png", "lines.svg", "lines.pdf", "marks.png", "categories.png",
                           "figures/items_4112_1.png", "figures/stations_37001_1.png", "figures/annual_water.png"})
    EXPECT_GT(std::filesystem::file_size(dir / "g" / name), 1000u) << name;
}

TEST(Cli, ShowPrintsEdgesAlignedWithTypes) {
  testing::TempDir dir;
  std::string csv = "NAME,VALUE\n";
  for (int i = 0; i < 20; ++i) csv += (i == 19 ? "郯城" : "row" + std::to_string(i)) + "," + std::to_string(i) + "\n";
  auto file = dir.write("t.csv", csv);
  RunResult r = run("show " + file.string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("string"), std::string::npos);
  EXPECT_NE(r.out.find("row0"), std::string::npos);
  EXPECT_EQ(r.out.find("row10"), std::string::npos);
  EXPECT_NE(r.out.find("郯城"), std::string::npos);
  EXPECT_NE(r.out.find("[20 rows x 2 columns]"), std::string::npos);
  r = run("show --head 3 " + file.string());
  EXPECT_NE(r.out.find("row2"), std::string::npos);
  EXPECT_EQ(r.out.find("row3"), std::string::npos);
}

TEST(Cli, KpFromAFileForARange) {
  testing::TempDir dir;
  auto out = dir / "kp.csv";
  std::string file = std::string(TREMORA_TEST_DATA) + "/kp/Kp_ap_nowcast.txt";
  RunResult r = run("kp --start 2024-05-10T08:00 --end \"2024-05-10 14:00\" --file " + file + " --out " + out.string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testing::read_text(out),
            "datetime,Kp,status\n"
            "2024-05-10T08:00:00+08:00,3,pre\n"
            "2024-05-10T11:00:00+08:00,2.667,pre\n"
            "2024-05-10T14:00:00+08:00,2.667,pre\n");
  RunResult reversed = run("kp --start 2024-05-10 --end 2024-05-09 --file " + file);
  EXPECT_EQ(reversed.status, 1);
  EXPECT_NE(reversed.out.find("end_time must not precede start_time"), std::string::npos) << reversed.out;
}

TEST(Cli, QuakesListsAndWritesTheEventsNearAStation) {
  testing::TempDir dir;
  std::string catalogue = std::string(TREMORA_TEST_DATA) + "/quakecat/yunnan-cenc.txt";
  RunResult listing = run("quakes " + catalogue + " --station 25.6,99.9 --filters 100:5,300:6");
  ASSERT_EQ(listing.status, 0) << listing.out;
  EXPECT_NE(listing.out.find("6 events, 6 after 1970, 2 flagged"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("云南漾濞"), std::string::npos);
  EXPECT_EQ(listing.out.find("云南洱源"), std::string::npos);  // M4.6 at 67 km passes neither filter

  auto out = dir / "marked.csv";
  RunResult written = run("quakes " + catalogue + " --station 25.6,99.9 --out " + out.string());
  ASSERT_EQ(written.status, 0) << written.out;
  std::string csv = testing::read_text(out);
  EXPECT_TRUE(csv.starts_with("date,lon,lat,magnitude,name,distance,flag,size,text\n")) << csv;
  EXPECT_NE(csv.find("\"云南洱源Ml4.6\n67.2km\""), std::string::npos) << csv;

  RunResult bad = run("quakes " + catalogue + " --station 25.6");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("'25.6'"), std::string::npos) << bad.out;
}

TEST(Cli, NoOutputIsTheFileOfAnInputOrAnotherOutput) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  std::string days_csv = "STARTDATE,OBSVALUE\n2024-01-01,\"1 2\"\n";
  auto days = dir.write("days.csv", days_csv);
  // The first line of a refused command line: the error, then the hint to --help.
  auto refused = [](const RunResult& r) {
    std::vector<std::string> lines = lines_of(r.out);
    EXPECT_EQ(r.status, 2) << r.out;  // a usage error
    EXPECT_EQ(lines.size(), 2u) << r.out;
    return lines.empty() ? std::string() : lines.front();
  };
  // The database and the catalogue of sample-db: nothing is written.
  std::string db = (dir / "same.db").string(), db_too = (dir / "sub/../same.db").string();
  EXPECT_EQ(refused(run("sample-db " + db + " --catalogue " + db_too)),
            "--catalogue '" + db_too + "' and PATH '" + db + "' are the same file");
  EXPECT_FALSE(std::filesystem::exists(db));
  std::string beside = refused(run("sample-db " + (dir / "sample-catalogue.txt").string()));
  EXPECT_TRUE(beside.starts_with("the catalogue beside PATH")) << beside;
  // An input named another way (through a folder, by a link) is the same file.
  std::filesystem::create_symlink(days, dir / "link.csv");
  std::string in = days.string(), out = (dir / "sub/../days.csv").string();
  EXPECT_EQ(refused(run("split --rate 60 " + in + " " + out)),
            "OUT '" + out + "' and IN '" + in + "' are the same file");
  refused(run("resample " + in + " " + (dir / "link.csv").string() + " --freq 1h"));
  for (const char* command : {"diff", "mad", "normalize-dates", "reindex"})
    refused(run(std::string(command) + " " + in + " " + in));
  refused(run("quakes " + in + " --station 36,117 --out " + in));
  refused(run("kp --start 2024-05-10 --end 2024-05-11 --file " + in + " --out " + in));
  EXPECT_EQ(testing::read_text(days), days_csv);
  // fetch and dialog never write over the database file they read.
  ASSERT_EQ(run("sample-db --station 37001 " + (dir / "qz.db").string()).status, 0);
  dir.write("default.conf", "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n");
  std::string fetch = "fetch --db local --start 20240509 --end 20240509 --method 水位 --rate 日值 --type 预处理库";
  EXPECT_EQ(refused(run_in(dir, fetch + " --out ./qz.db")),
            "--out './qz.db' and the database file of --db 'qz.db' are the same file");
  refused(run_in(dir, "dialog --db local --out qz.db"));
  EXPECT_EQ(run_in(dir, fetch + " --out water.csv").status, 0);
}

TEST(Cli, ErrorsNameWhatIsWrong) {
  testing::TempDir dir;
  ASSERT_EQ(run("sample-db --station 37001 --station 37005 " + (dir / "qz.db").string()).status, 0);
  std::ofstream(dir / "bare.db");  // a database without tables
  dir.write("default.conf",
            "[local]\nDRIVER = sqlite\nHOST = qz.local\nDATABASE = qz.db\n"
            "[bare]\nDRIVER = sqlite\nHOST = bare\nDATABASE = bare.db\n");
  auto in_dir = [&](const std::string& args) { return run_in(dir, args); };
  std::string fetch =
      "fetch --db local --start 20240509 --end 20240509 --rate 分钟值 --type 预处理库 --gzip --out x.csv ";
  auto last_line = [](const RunResult& r) { return lines_of(r.out).empty() ? "" : lines_of(r.out).back(); };
  // The error line says which name resolved to nothing, and what the library logged.
  RunResult r = in_dir(fetch + "--method 无此方法");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(last_line(r),
            "tremora: error: the request could not be resolved: --method '无此方法' matches no method "
            "or discipline (未找到匹配的表名!)")
      << r.out;
  r = in_dir(fetch + "--method 地电场 --station 无此台");
  EXPECT_EQ(last_line(r),
            "tremora: error: the request could not be resolved: --station '无此台' matches no station "
            "(没有找到匹配的台站!; 未生成SQL查询!)")
      << r.out;
  EXPECT_EQ(r.out.find("syntax error"), std::string::npos);
  r = in_dir(fetch + "--method 地电场 --item 地电场 --item 无此测项");  // a list names items exactly
  EXPECT_NE(last_line(r).find("--item '地电场', '无此测项' matches no item"), std::string::npos) << r.out;
  r = in_dir(
      "fetch --db local --start 20240509 --end 20240509 --rate 秒钟值 --type 预处理库 --method 水位 --out y.csv");
  EXPECT_NE(last_line(r).find("--method '水位' has no table for --type '预处理库' and --rate '秒钟值'"),
            std::string::npos)
      << r.out;
  r = in_dir("dialog --db local --method 降雨量 --out d.csv");
  EXPECT_NE(last_line(r).find("--method '降雨量' has no log table"), std::string::npos) << r.out;
  // A database without its dictionary tables: the error says which one is missing where.
  r = in_dir(
      "fetch --db bare --start 20240509 --end 20240509 --rate 分钟值 --type 预处理库 --method 地电场 --out z.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(last_line(r).find("stationitems.parquet' and filling it failed"), std::string::npos) << r.out;
  EXPECT_NE(last_line(r).find("no such table: QZDATA.QZ_DICT_STATIONITEMS"), std::string::npos) << r.out;
  // A column that is not there is named as a column.
  auto hours = dir.write("hours.csv", "STARTDATE,OBSVALUE\n2024-05-01 00:00,1\n2024-05-01 01:00,2\n");
  r = run("diff " + hours.string() + " " + (dir / "d.csv").string() + " --value-col NOPE");
  EXPECT_EQ(r.out, "tremora: error: no value column 'NOPE'\n");
  // An unknown log level is warned about.
  r = run_shell("TREMORA_LOG_LEVEL=verbose " + std::string(TREMORA_BIN) + " show " + hours.string());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("[warning] TREMORA_LOG_LEVEL: unknown log level 'verbose'"), std::string::npos) << r.out;
}

TEST(Cli, ShowTypesTablesAsTheCommandsReadThemAndLinesThemUp) {
  testing::TempDir dir;
  std::string csv = "STARTDATE,STATIONID,NAME,OBSVALUE,NOTE\n";
  for (int i = 0; i < 12; ++i)
    csv += "2024-05-01 0" + std::to_string(i % 10) + ":00,37001," + (i % 2 ? "郯城﹐井" : "ab") + "," +
           std::to_string(i) + ".5," + (i == 0 ? "\"two\nlines\"" : "x") + "\n";
  auto file = dir.write("t.csv", csv);
  RunResult r = run("show " + file.string());
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 14u) << r.out;  // header, types, 5 rows, ..., 5 rows, size
  EXPECT_NE(lines[1].find("timestamp"), std::string::npos) << r.out;
  EXPECT_NE(lines[1].find("string"), std::string::npos);  // codes stay texts
  EXPECT_NE(lines[1].find("float64"), std::string::npos);
  EXPECT_NE(lines[2].find("two\\nlines"), std::string::npos) << r.out;
  // Every line, the "..." one too, has its separator and its columns at the
  // same display positions; the Chinese names take two columns a character.
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) EXPECT_EQ(column_of(lines[k], "|"), 4u) << lines[k];
  EXPECT_EQ(column_of(lines[0], "STATIONID"), 26u);
  EXPECT_EQ(lines[7].substr(26, 3), "...") << lines[7];
  std::size_t note = column_of(lines[0], "NOTE");
  EXPECT_EQ(column_of(lines[7], "..."), 0u);
  EXPECT_EQ(lines[7].substr(lines[7].size() - 3), "...");
  EXPECT_EQ(display_width(lines[7]), note + 3) << lines[7];
  for (std::size_t k = 3; k + 1 < lines.size(); ++k) {
    if (k == 7) continue;
    EXPECT_EQ(display_width(lines[k]), note + 1) << lines[k];  // each ends with the note "x"
  }
  // Day rows keep their texts (split reads those).
  auto days = dir.write("days.csv", "STARTDATE,OBSVALUE\n2024-05-01,\"1 2 3\"\n");
  EXPECT_NE(lines_of(run("show " + days.string()).out)[1].find("string"), std::string::npos);
  RunResult negative = run("show --head -1 " + file.string());
  EXPECT_NE(negative.status, 0);
  EXPECT_NE(negative.out.find("--head: a number of rows is 0 or more, not -1"), std::string::npos) << negative.out;
}

TEST(Cli, HelpShowsEveryDefaultInLinedUpColumns) {
  std::vector<std::pair<std::string, std::string>> expected{
      {"fetch", "--station TEXT=全部"},      {"fetch", "--item TEXT=全部 ..."},
      {"dialog", "--log-type TEXT=313"},     {"refresh-cache", "--cache-dir TEXT=~/.tremo/metastash"},
      {"resample", "--agg TEXT=mean"},       {"diff", "--value-col TEXT=OBSVALUE"},
      {"diff", "--periods INT=1"},           {"mad", "--window-size INT=15"},
      {"mad", "--threshold-factor FLOAT=5"}, {"normalize-dates", "--reference-year INT=2024"},
      {"kp", "--tz TEXT=Asia/Shanghai"},     {"kp", "--timeout FLOAT=20"},
      {"quakes", "--filters TEXT=300:3"},    {"sample-db", "--station TEXT=all ..."},
      {"export", "--station TEXT=全部"},     {"export", "--item TEXT=全部 ..."}};
  for (const auto& [command, option] : expected) {
    RunResult r = run(command + " --help");
    std::size_t at = r.out.find("  " + option);
    ASSERT_NE(at, std::string::npos) << command << ": " << r.out;
    EXPECT_TRUE(std::isspace(r.out.at(at + 2 + option.size()))) << command << ": " << option;
  }
  // A required option shows no default; descriptions start in one column.
  std::string help = run("fetch --help").out;
  EXPECT_NE(help.find("--rate TEXT REQUIRED "), std::string::npos) << help;
  const std::pair<std::string, std::string> described[] = {
      {"  --station", "Station"}, {"  --rate", "Sampling"}, {"  --item", "Item"}};
  std::size_t seen = 0;
  for (const auto& line : lines_of(help))
    for (const auto& [start, description] : described) {
      if (!line.starts_with(start)) continue;
      EXPECT_EQ(column_of(line, description), 30u) << line;
      ++seen;
    }
  EXPECT_EQ(seen, 3u);
}

}  // namespace
}  // namespace tremora
