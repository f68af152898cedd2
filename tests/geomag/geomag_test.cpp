#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

#include "http_get.hpp"
#include "local_http_server.hpp"
#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/geomag.hpp"

namespace tremora::geomag {
namespace {

using nlohmann::json;
using testing::error_of;
using testing::LocalHttpServer;
using testing::ScopedEnv;

std::string reply_body(const std::vector<std::string>& dates, const json& kp, const json& status) {
  return json{{"meta", {{"source", "GFZ Potsdam"}, {"license", "CC BY 4.0"}}},
              {"datetime", dates},
              {"Kp", kp},
              {"status", status}}
      .dump();
}

LocalHttpServer::Reply ok(std::string body) { return {200, std::move(body), false}; }

// Fetches from a local server that gives `reply`; the server's received
// request targets go to `targets`.
Table fetch_from(const LocalHttpServer::Reply& reply, const TimeBound& start, const TimeBound& end,
                 std::vector<std::string>* targets = nullptr, double timeout = 5) {
  LocalHttpServer server(reply);
  ScopedEnv url("TREMORA_KP_URL", server.url());
  struct Record {
    LocalHttpServer& server;
    std::vector<std::string>* targets;
    ~Record() {
      if (targets) *targets = server.targets();
    }
  } record{server, targets};
  return fetch_geomag(start, end, "Asia/Shanghai", timeout);
}

std::vector<int64_t> utc_hours(const Table& kp) {
  std::vector<int64_t> hours;
  for (int64_t t : kp.key().int64s()) hours.push_back((t - make_timestamp(2024, 3, 1).ns) / kNanosPerHour);
  return hours;
}

TEST(FetchGeomag, ShanghaiMorningAsksFromTheIntervalStartAndCutsToTheRange) {
  std::vector<std::string> targets;
  Table kp = fetch_from(ok(reply_body({"2024-02-29T21:00:00Z", "2024-03-01T00:00:00Z", "2024-03-01T03:00:00Z",
                                       "2024-03-01T06:00:00Z", "2024-03-01T09:00:00Z"},
                                      {1.0, 2.333, 3.667, 4.0, 5.0}, {"def", "def", "def", "pre", "pre"})),
                        std::string("2024-03-01 10:30"), std::string("2024-03-01 14:00"), &targets);
  ASSERT_EQ(targets,
            std::vector<std::string>{"/app/json/?start=2024-03-01T00:00:00Z&end=2024-03-01T06:00:00Z&index=Kp"});
  EXPECT_EQ(utc_hours(kp), (std::vector<int64_t>{0, 3, 6}));
  EXPECT_EQ(kp.key().name(), "datetime");
  EXPECT_EQ(kp.key().zone(), "Asia/Shanghai");
  EXPECT_EQ(iso_format(Timestamp{kp.key().int64s()[0]}, "Asia/Shanghai"), "2024-03-01T08:00:00+08:00");
  EXPECT_EQ(kp.column_names(), (std::vector<std::string>{"Kp", "status"}));
  EXPECT_EQ(kp.column("Kp").float64s(), (std::vector<double>{2.333, 3.667, 4.0}));
  EXPECT_EQ(kp.column("status").text(2), "pre");
  EXPECT_EQ(kp.attributes().at("source"), "GFZ Potsdam");
  EXPECT_EQ(kp.attributes().at("license"), "CC BY 4.0");
}

TEST(FetchGeomag, BoundsEqualOrZonedOrReversed) {
  std::string body = reply_body({"2024-03-01T00:00:00Z", "2024-03-01T03:00:00Z", "2024-03-01T06:00:00Z",
                                 "2024-03-01T09:00:00Z", "2024-03-01T12:00:00Z"},
                                {1, 2, 3, 4, 5}, {"def", "def", "def", "def", "def"});
  // 11:00 in Shanghai is 03:00 UTC, a boundary: only the interval that begins there.
  std::vector<std::string> targets;
  Table at_boundary =
      fetch_from(ok(body), std::string("2024-03-01T11:00:00"), std::string("2024-03-01 11:00"), &targets);
  EXPECT_EQ(utc_hours(at_boundary), std::vector<int64_t>{3});
  EXPECT_EQ(targets.at(0), "/app/json/?start=2024-03-01T03:00:00Z&end=2024-03-01T03:00:00Z&index=Kp");

  // A bound with an offset keeps its instant; a zoned timestamp too.
  Table zoned = fetch_from(ok(body), std::string("2024-03-01T12:00:00+00:00"),
                           ZonedTime{make_timestamp(2024, 3, 1, 12, 30), "Europe/Berlin"}, &targets);
  EXPECT_EQ(utc_hours(zoned), std::vector<int64_t>{12});
  EXPECT_EQ(targets.at(0), "/app/json/?start=2024-03-01T12:00:00Z&end=2024-03-01T12:30:00Z&index=Kp");

  // Seconds' fractions of the end are dropped, not rounded.
  fetch_from(ok(body), make_timestamp(2024, 3, 1, 8), Timestamp{make_timestamp(2024, 3, 1, 9).ns + 999'999'999},
             &targets);
  EXPECT_EQ(targets.at(0), "/app/json/?start=2024-03-01T00:00:00Z&end=2024-03-01T01:00:00Z&index=Kp");

  // An end before the start fails before anything is sent.
  EXPECT_EQ(error_of([&] {
              fetch_from(ok(body), std::string("2024-03-01 10:00:00"), std::string("2024-03-01 09:59:59"), &targets);
            }),
            "end_time must not precede start_time");
  EXPECT_TRUE(targets.empty());
}

TEST(FetchGeomag, ValuesOutOfRangeTextsAndRepeatedIntervals) {
  Table empty = fetch_from(ok(reply_body({}, json::array(), json::array())), std::string("2024-03-01"),
                           std::string("2024-03-02"));
  EXPECT_EQ(empty.num_rows(), 0u);
  EXPECT_EQ(empty.attributes().at("license"), "CC BY 4.0");

  Table kp = fetch_from(
      ok(reply_body({"2024-03-01T00:00:00Z", "2024-03-01T03:00:00Z", "2024-03-01T06:00:00Z", "2024-03-01T09:00:00Z",
                     "2024-03-01T12:00:00Z", "2024-03-01T15:00:00Z", "2024-03-01T18:00:00", "2024-03-01T06:00:00Z"},
                    {9.333, -1, 0, 9, "2.333", "n/a", nullptr, 7.667},
                    {"pre", "pre", "def", "def", "def", "def", "def", "def"})),
      std::string("2024-03-01 08:00"), std::string("2024-03-02 02:00"));
  ASSERT_EQ(utc_hours(kp), (std::vector<int64_t>{0, 3, 6, 9, 12, 15, 18}));
  const std::vector<double>& v = kp.column("Kp").float64s();
  EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[1]));
  EXPECT_EQ(v[2], 7.667);  // the later listing of 06:00 wins
  EXPECT_EQ(v[3], 9.0);
  EXPECT_EQ(v[4], 2.333);
  EXPECT_TRUE(std::isnan(v[5]) && std::isnan(v[6]));
}

TEST(FetchGeomag, MalformedRepliesAndFailedRequests) {
  TimeBound a = std::string("2024-03-01"), b = std::string("2024-03-01 12:00");
  EXPECT_EQ(error_of([&] { fetch_from(ok("[1, 2]"), a, b); }), "Invalid GFZ Kp response");
  EXPECT_EQ(error_of([&] { fetch_from(ok(R"({"datetime": [], "Kp": []})"), a, b); }),
            "GFZ response requires datetime, Kp and status arrays");
  EXPECT_EQ(error_of([&] { fetch_from(ok(R"({"datetime": [], "Kp": [], "status": "def"})"), a, b); }),
            "GFZ response requires datetime, Kp and status arrays");
  EXPECT_EQ(error_of([&] {
              fetch_from(ok(reply_body({"2024-03-01T00:00:00Z"}, {1, 2}, {"def"})), a, b);
            }),
            "GFZ Kp response array lengths differ");
  EXPECT_EQ(error_of([&] {
              fetch_from(ok(reply_body({"2024-03-01T00:00:00Z", ""}, {1, 2}, {"def", "def"})), a, b);
            }),
            "geomag_data contains invalid timestamps");
  EXPECT_EQ(error_of([&] { fetch_from(ok(R"({"datetime": [null], "Kp": [1], "status": ["def"]})"), a, b); }),
            "geomag_data contains invalid timestamps");
  EXPECT_NE(
      error_of([&] { fetch_from(ok(R"({"datetime": ["soon"], "Kp": [1], "status": ["def"]})"), a, b); }).find("soon"),
      std::string::npos);
  EXPECT_NE(error_of([&] { fetch_from(ok("<html>busy</html>"), a, b); }).find("not valid JSON"), std::string::npos);
  // A number beyond the range of doubles is refused like any other bad body.
  EXPECT_THROW(fetch_from(ok(R"({"datetime": [], "Kp": [2e308], "status": []})"), a, b), std::invalid_argument);

  try {
    fetch_from({500, "{}", false}, a, b);
    ADD_FAILURE() << "HTTP 500 accepted";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 500);
  }

  LocalHttpServer::Reply silent{200, "", true};
  std::string timed_out = error_of([&] { fetch_from(silent, a, b, nullptr, 0.3); });
  EXPECT_NE(timed_out.find("http://127.0.0.1:"), std::string::npos) << timed_out;

  int port;
  {
    LocalHttpServer closed(ok("{}"));
    port = std::stoi(closed.url().substr(closed.url().rfind(':') + 1));
  }
  std::string address = "http://127.0.0.1:" + std::to_string(port);
  ScopedEnv url("TREMORA_KP_URL", address);
  try {
    fetch_geomag(a, b, "UTC", 2);
    ADD_FAILURE() << "a closed port gave a reply";
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find(address), std::string::npos) << e.what();
  }
}

TEST(FetchGeomag, TheTimeOutBoundsTheWholeRequestAcrossRedirects) {
  TimeBound a = std::string("2024-03-01"), b = std::string("2024-03-01 12:00");
  std::string body = reply_body({"2024-03-01T00:00:00Z"}, {2.333}, {"def"});
  LocalHttpServer::Reply stalls = ok(body);
  stalls.pause_after = 15;  // the head and 15 bytes come at once, the rest 4 s later
  stalls.pause = std::chrono::milliseconds(4000);

  // Elapsed seconds and error of a fetch through TREMORA_KP_URL = `url`.
  auto timed_fetch = [&](const std::string& url, double timeout) {
    ScopedEnv service("TREMORA_KP_URL", url);
    auto begin = std::chrono::steady_clock::now();
    std::string error = error_of([&] { fetch_geomag(a, b, "UTC", timeout); });
    return std::pair{std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), error};
  };
  {
    LocalHttpServer server(stalls);
    auto [seconds, error] = timed_fetch(server.url(), 0.3);
    EXPECT_NE(error.find("GET " + server.url()), std::string::npos) << error;
    EXPECT_GE(seconds, 0.29);
    EXPECT_LT(seconds, 2.0);  // far sooner than the 4 s pause (the time-out is not rounded to whole seconds)
  }
  {
    LocalHttpServer server(stalls), redirect({.status = 302, .location = server.url() + "/moved"});
    auto [seconds, error] = timed_fetch(redirect.url(), 0.3);
    EXPECT_NE(error.find("GET " + redirect.url()), std::string::npos) << error;
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(server.targets(), std::vector<std::string>{"/moved"});
  }
  {
    LocalHttpServer server(ok(body)), redirect({.status = 301, .location = server.url() + "/moved"});
    EXPECT_EQ(timed_fetch(redirect.url(), 5).second, "no error");
    EXPECT_EQ(server.targets(), std::vector<std::string>{"/moved"});
  }
}

TEST(Timestamp, BoundsInAZone) {
  EXPECT_EQ(_timestamp(std::string("2024-03-01 10:30"), "Asia/Shanghai"),
            (ZonedTime{make_timestamp(2024, 3, 1, 2, 30), "Asia/Shanghai"}));
  EXPECT_EQ(_timestamp(make_timestamp(2024, 3, 1, 10, 30), "UTC").utc, make_timestamp(2024, 3, 1, 10, 30));
  EXPECT_EQ(_timestamp(ZonedTime{make_timestamp(2024, 3, 1), "UTC"}, "Asia/Shanghai"),
            (ZonedTime{make_timestamp(2024, 3, 1), "Asia/Shanghai"}));
  for (const TimeBound& missing : {TimeBound{Timestamp{}}, TimeBound{std::string("")}, TimeBound{std::string("NaT")},
                                   TimeBound{ZonedTime{Timestamp{}, "UTC"}}})
    EXPECT_EQ(error_of([&] { _timestamp(missing, "UTC"); }), "Kp time bounds must not be NaT");
  // 02:30 does not exist on 10 March 2024 in New York; 01:30 on 3 November happens twice.
  EXPECT_THROW(_timestamp(std::string("2024-03-10 02:30"), "America/New_York"), std::invalid_argument);
  EXPECT_THROW(_timestamp(std::string("2024-11-03 01:30"), "America/New_York"), std::invalid_argument);
  EXPECT_NE(error_of([] { _timestamp(std::string("yesterday"), "UTC"); }).find("yesterday"), std::string::npos);
  EXPECT_NE(error_of([] { _timestamp(std::string("2024-03-01"), "Mars/Olympus"); }).find("Mars/Olympus"),
            std::string::npos);
}

Table kp_table(std::vector<int64_t> keys, std::string zone) {
  Table t({Column::from_strings("status", {"a", "b", "c"}), Column::from_strings("Kp", {"1", "x", "10"}),
           Column::from_float64("ap", {1, 2, 3})});
  t.set_key_column(Column::from_timestamps("when", std::move(keys), std::move(zone)));
  return t;
}

TEST(NormalizeGeomag, ShapesTheTableAndLeavesTheInputAlone) {
  int64_t h = kNanosPerHour;
  Table input = kp_table({6 * h, 0, 6 * h}, "UTC");
  Table kp = normalize_geomag(input, "Asia/Shanghai");
  EXPECT_EQ(kp.column_names(), (std::vector<std::string>{"Kp", "status"}));
  EXPECT_EQ(kp.key().name(), "when");
  EXPECT_EQ(kp.key().zone(), "Asia/Shanghai");
  EXPECT_EQ(kp.key().int64s(), (std::vector<int64_t>{0, 6 * h}));
  EXPECT_TRUE(std::isnan(kp.column("Kp").float64s()[0]));  // "x"
  EXPECT_TRUE(std::isnan(kp.column("Kp").float64s()[1]));  // 10 is out of range
  EXPECT_EQ(kp.column("status").text(1), "c");             // the last of the two 06:00 rows
  EXPECT_EQ(input.num_columns(), 3u);
  EXPECT_EQ(input.key().zone(), "UTC");

  EXPECT_EQ(error_of([&] {
              normalize_geomag(kp_table({0, h, 2 * h}, ""));
            }),
            "geomag_data must have a timezone-aware DatetimeIndex");
  EXPECT_EQ(error_of([&] {
              normalize_geomag(kp_table({0, Timestamp::NaT, 2 * h}, "UTC"));
            }),
            "geomag_data contains invalid timestamps");
  Table no_status = input;
  no_status.remove_column("status");
  EXPECT_EQ(error_of([&] { normalize_geomag(no_status); }),
            "geomag_data must be a DataFrame with Kp and status columns");
  Table times_as_kp = input;
  times_as_kp.set_column(Column::from_timestamps("Kp", {0, 1, 2}));
  EXPECT_TRUE(std::isnan(normalize_geomag(times_as_kp).column("Kp").float64s()[0]));
  Table no_key = input;
  no_key.drop_key();
  EXPECT_EQ(error_of([&] { normalize_geomag(no_key); }), "geomag_data must have a timezone-aware DatetimeIndex");
}

// A start in the first hours of the range has its interval begin before
// the range: an error naming it, before any request.
TEST(FetchGeomag, IntervalBeforeTheRangeOfTimestamps) {
  ScopedEnv url("TREMORA_KP_URL", "http://127.0.0.1:9");
  std::string error =
      error_of([] { fetch_geomag(std::string("1677-09-21T01:00"), std::string("1677-09-22"), "UTC", 1); });
  EXPECT_NE(error.find("1677-09-21T01:00:00"), std::string::npos) << error;
}

TEST(HttpGet, AReplyLongerThanItsLimitStopsTheTransferWithAnError) {
  std::string body(5000, 'x');
  testing::LocalHttpServer server(ok(body));
  EXPECT_EQ(http_get(server.url(), 5, 5000), body);  // exactly at the limit
  std::string error = testing::error_of([&] { http_get(server.url(), 5, 4999); });
  EXPECT_NE(error.find("GET " + server.url()), std::string::npos) << error;
  EXPECT_NE(error.find("longer than 4999 bytes"), std::string::npos) << error;
}

}  // namespace
}  // namespace tremora::geomag
