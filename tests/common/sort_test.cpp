#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

TEST(Sort, MultiKeyStableWithMissingLast) {
  Table t;
  t.add_column(Column::from_strings("ITEMID", {"4112", "3121", "4112", std::nullopt, "3121", "4112"}));
  t.add_column(Column::from_float64("V", {2, 1, NAN, 0, 1, 2}));
  t.add_column(Column::from_int64("ROW", {0, 1, 2, 3, 4, 5}));
  std::vector<SortKey> keys{{"ITEMID"}, {"V"}};
  EXPECT_EQ(sort_indices(t, keys), (std::vector<int64_t>{1, 4, 0, 5, 2, 3}));
  // Descending keeps missing values last and equal rows in order.
  std::vector<SortKey> desc{{"ITEMID", false}, {"V", false}};
  EXPECT_EQ(sort_indices(t, desc), (std::vector<int64_t>{0, 5, 2, 1, 4, 3}));
  // Both string encodings sort the same.
  Table d = t;
  d.column("ITEMID") = t.column("ITEMID").dictionary_encoded();
  EXPECT_EQ(sort_indices(d, keys), sort_indices(t, keys));
  std::vector<SortKey> nope{{"NOPE"}};
  EXPECT_THROW(sort_indices(t, nope), KeyError);
}

TEST(Sort, TextsCompareByCodePoint) {
  Table t(std::vector<Column>{Column::from_strings("S", {"郯城", "b", "B", "a", "Ω", "ab"})});
  std::vector<SortKey> keys{{"S"}};
  Table s = sort_by(t, keys);
  std::vector<std::string> got;
  for (std::size_t i = 0; i < s.num_rows(); ++i) got.emplace_back(s.column("S").text(i));
  EXPECT_EQ(got, (std::vector<std::string>{"B", "a", "ab", "b", "Ω", "郯城"}));
}

TEST(Sort, RowKeyTravelsAndInPlaceSortReorders) {
  Table t(std::vector<Column>{Column::from_timestamps("STARTDATE", {30, Timestamp::NaT, 10, 20})});
  t.set_key_column(Column::from_int64("label", {0, 1, 2, 3}));
  std::vector<SortKey> keys{{"STARTDATE"}};
  sort_in_place(t, keys);
  EXPECT_EQ(t.key().int64s(), (std::vector<int64_t>{2, 3, 0, 1}));
  EXPECT_EQ(t.column("STARTDATE").int64s()[3], Timestamp::NaT);
  // Sorting by the row key's name works as well.
  std::vector<SortKey> by_label{{"label", false}};
  sort_in_place(t, by_label);
  EXPECT_EQ(t.key().int64s(), (std::vector<int64_t>{3, 2, 1, 0}));
}

// Merges are shared among three threads, the large ones cut into pieces.
// Series that follow each other make a few long runs, some of which are
// not merged until the last pass: those rounds sort into a buffer of
// stale positions, which must all be overwritten.
TEST(Sort, AgreesWithStdStableSortOnRandomRuns) {
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("3"));
  std::mt19937_64 rng(3);
  for (int round = 0; round < 59; ++round) {
    bool long_runs = round >= 53;
    std::size_t n = round < 50 ? rng() % 2000 : 200'000 + rng() % 100'000;
    std::size_t run_length = long_runs ? n / std::size_t(round - 51) + 1 : 0;  // 2 to 7 runs
    std::vector<int64_t> v(n);
    // Ascending runs with ties, NaT and negative values.
    for (std::size_t i = 0; i < n; ++i) {
      bool starts = long_runs ? i % run_length == 0 : i % (1 + rng() % 300) == 0;
      int64_t base = starts ? int64_t(rng() % 100) - 50 : (i ? v[i - 1] : 0);
      v[i] = rng() % 20 == 0 ? Timestamp::NaT : base + int64_t(rng() % 3);
    }
    std::vector<int64_t> expected(n);
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(), [&](int64_t a, int64_t b) {
      if (v[a] == Timestamp::NaT) return false;
      if (v[b] == Timestamp::NaT) return true;
      return v[a] < v[b];
    });
    if (long_runs) {
      std::vector<int64_t> order(n, -7);
      sort_time_indices(v, order);
      ASSERT_EQ(order, expected) << "round " << round;
    } else {
      ASSERT_EQ(sort_indices(Column::from_timestamps("T", v)), expected) << "round " << round;
    }
  }
  std::vector<int64_t> times{3, 1, 2}, too_short(2);
  EXPECT_THROW(sort_time_indices(times, too_short), std::invalid_argument);
}

}  // namespace
}  // namespace tremora

namespace tremora {
namespace {

// Sorting by dictionary-encoded leading keys takes a bucket pass; it must
// order exactly as the plain comparison sort does, missing values and
// descending keys included.
TEST(Sort, BucketPassMatchesThePlainSort) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    std::size_t n = 1 + rng() % 500;
    std::vector<std::optional<std::string>> a, b;
    std::vector<int64_t> t;
    for (std::size_t i = 0; i < n; ++i) {
      a.push_back(rng() % 10 == 0 ? std::nullopt : std::optional<std::string>(std::string(1, char('a' + rng() % 4))));
      b.push_back(std::string(1, char('x' + rng() % 3)));
      t.push_back(rng() % 7 == 0 ? Timestamp::NaT : int64_t(rng() % 50));
    }
    Table plain(std::vector<Column>{Column::from_strings("A", a), Column::from_strings("B", b),
                                    Column::from_timestamps("T", t)});
    Table dict = plain;
    dict.column("A") = plain.column("A").dictionary_encoded();
    dict.column("B") = plain.column("B").dictionary_encoded();
    bool descending = round % 2;
    std::vector<SortKey> keys{{"A", !descending}, {"B"}, {"T"}};
    ASSERT_EQ(sort_indices(dict, keys), sort_indices(plain, keys)) << "round " << round;
  }
  // A dictionary that repeats a text sorts equal texts as equal.
  Table repeated(std::vector<Column>{Column::from_dictionary("A", {1, 0, 1, 0}, {"k", "k"}),
                                     Column::from_int64("N", {3, 2, 1, 0})});
  std::vector<SortKey> by_a{{"A"}};
  EXPECT_EQ(sort_indices(repeated, by_a), (std::vector<int64_t>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace tremora
