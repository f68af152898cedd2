// Stable sorting of tables: each sort key is turned into an order-preserving
// unsigned code per row (plus a missing flag), and the positions are sorted
// by a natural merge sort, which is linear on data that is already sorted
// and fast on data made of a few sorted runs (series that follow each other),
// and whose merges are shared among threads.
#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <ranges>

#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

struct SortCodes {
  std::vector<uint64_t> code;
  std::vector<uint8_t> missing;  // empty when nothing is missing
};

uint64_t code_of(int64_t v) { return uint64_t(v) ^ (uint64_t{1} << 63); }

uint64_t code_of(double v) {
  if (v == 0) v = 0;  // -0 and +0 compare equal
  uint64_t bits = std::bit_cast<uint64_t>(v);
  return (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
}

// Dense ranks of texts in byte order, for plain-encoded strings.
std::vector<uint64_t> text_ranks(const Column& c) {
  std::size_t n = c.size();
  std::vector<int64_t> order(n);
  std::iota(order.begin(), order.end(), int64_t{0});
  std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return c.text(a) < c.text(b); });
  std::vector<uint64_t> rank(n);
  uint64_t r = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && c.text(order[i - 1]) != c.text(order[i])) ++r;
    rank[order[i]] = r;
  }
  return rank;
}

std::vector<uint64_t> dictionary_ranks(const Column& c) {
  const auto& dict = c.dictionary();
  std::vector<int64_t> order(dict.size());
  std::iota(order.begin(), order.end(), int64_t{0});
  std::sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return dict[a] < dict[b]; });
  // Dense ranks: equal texts (a dictionary may repeat one) share a rank.
  std::vector<uint64_t> dict_rank(dict.size());
  uint64_t r = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && dict[order[i - 1]] != dict[order[i]]) ++r;
    dict_rank[order[i]] = r;
  }
  std::vector<uint64_t> rank(c.size());
  const auto& codes = c.codes();
  for (std::size_t i = 0; i < rank.size(); ++i) rank[i] = codes[i] < 0 ? 0 : dict_rank[codes[i]];
  return rank;
}

SortCodes sort_codes(const Column& c, bool ascending) {
  std::size_t n = c.size();
  SortCodes s;
  switch (c.type()) {
    case DataType::Float32: {
      s.code.resize(n);
      const auto& v = c.float32s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(double(v[i]));
      break;
    }
    case DataType::Float64: {
      s.code.resize(n);
      const auto& v = c.float64s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(v[i]);
      break;
    }
    case DataType::Bool: {
      const auto& v = c.bools();
      s.code.assign(v.begin(), v.end());
      break;
    }
    case DataType::String:
    case DataType::Binary: s.code = c.is_dictionary() ? dictionary_ranks(c) : text_ranks(c); break;
    default: {
      s.code.resize(n);
      const auto& v = c.int64s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(v[i]);
      break;
    }
  }
  if (c.null_count() > 0) {
    s.missing.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.missing[i] = c.is_null(i);
  }
  if (!ascending)
    for (auto& v : s.code) v = ~v;
  return s;
}

// The positions of a parallel step of sorting (a merge, a run search) are
// cut into pieces of this many.
constexpr std::size_t kMergePiece = std::size_t(1) << 16;

// How many of the first `d` positions of the stable merge of a and b come
// from a (ties go to a): the first i at which a[i] no longer belongs
// before b[d - i - 1].
template <typename A, typename B, typename Less>
std::size_t from_first(A a, std::size_t na, B b, std::size_t nb, std::size_t d, Less& less) {
  std::size_t lo = d > nb ? d - nb : 0, hi = std::min(d, na);
  while (lo < hi) {
    std::size_t i = lo + (hi - lo) / 2, j = d - i;
    if (j > 0 && !less(b[j - 1], a[i])) lo = i + 1;
    else hi = i;
  }
  return lo;
}

// The ascending runs of the positions being sorted: where each begins (then
// the end), and whether each has been merged yet. A run not merged yet is
// still the positions begin, begin + 1, ..., so it is read as such and
// never written out before its first merge.
struct Runs {
  std::vector<std::size_t> bounds;
  std::vector<uint8_t> merged;
  std::size_t count() const { return merged.size(); }
};

// Calls f with the positions of the run from `lo`: where the last pass put
// them, or the positions themselves.
template <typename F>
void with_run(const int64_t* from, std::size_t lo, bool merged, F&& f) {
  if (merged) f(from + lo);
  else f(std::views::iota(int64_t(lo)).begin());
}

// One pass of merging neighbouring runs into `to`, each merge cut into
// pieces of about kMergePiece positions at the points where a sequential
// merge would be, so that the pieces are merged in parallel and give the
// same order. A last run without a partner is copied, unless it has not
// been merged yet.
template <typename Less>
Runs merge_pass(const int64_t* from, int64_t* to, const Runs& runs, Less& less) {
  struct Piece {
    std::size_t run, lo, mid, hi, from, to;  // output [from, to) of merging [lo, mid) with [mid, hi)
  };
  std::vector<Piece> pieces;
  Runs next;
  for (std::size_t r = 0; r < runs.count(); r += 2) {
    std::size_t lo = runs.bounds[r], mid = runs.bounds[r + 1];
    bool alone = r + 1 == runs.count();
    std::size_t hi = alone ? mid : runs.bounds[r + 2];
    next.bounds.push_back(lo);
    next.merged.push_back(!alone || runs.merged[r]);
    if (!next.merged.back()) continue;
    for (std::size_t at = lo; at < hi; at += kMergePiece)
      pieces.push_back({r, lo, mid, hi, at, std::min(hi, at + kMergePiece)});
  }
  next.bounds.push_back(runs.bounds.back());
  parallel_for(pieces.size(), [&](std::size_t k) {
    const Piece& p = pieces[k];
    bool b_merged = p.mid < p.hi && runs.merged[p.run + 1];
    with_run(from, p.lo, runs.merged[p.run], [&](auto a) {
      with_run(from, p.mid, b_merged, [&](auto b) {
        std::size_t na = p.mid - p.lo, nb = p.hi - p.mid;
        std::size_t i0 = from_first(a, na, b, nb, p.from - p.lo, less);
        std::size_t i1 = from_first(a, na, b, nb, p.to - p.lo, less);
        std::size_t j0 = p.from - p.lo - i0, j1 = p.to - p.lo - i1;
        std::merge(a + i0, a + i1, b + j0, b + j1, to + p.from, less);
      });
    });
  });
  return next;
}

// Where the ascending runs of positions 0..n-1 begin: each piece finds the
// descents within it (and at its first position) in parallel.
template <typename Less>
Runs find_runs(std::size_t n, Less less) {
  const std::size_t pieces = (n + kMergePiece - 1) / kMergePiece;
  std::vector<std::vector<std::size_t>> found(pieces);
  parallel_pieces(n, kMergePiece, [&](std::size_t begin, std::size_t end) {
    auto& here = found[begin / kMergePiece];
    for (std::size_t i = std::max<std::size_t>(begin, 1); i < end; ++i)
      if (less(int64_t(i), int64_t(i - 1))) here.push_back(i);
  });
  Runs runs;
  runs.bounds.push_back(0);
  for (const auto& here : found) runs.bounds.insert(runs.bounds.end(), here.begin(), here.end());
  runs.bounds.push_back(n);
  runs.merged.assign(runs.bounds.size() - 1, 0);
  return runs;
}

// Writes the positions 0..n-1, sorted stably by `less`, to `out`: finds the
// ascending runs, then merges neighbouring runs until one is left. The
// passes alternate between `out` and a buffer, starting where the last
// pass ends in `out`; the first pass reads no positions, only writes them.
template <typename Less>
void natural_merge_sort(std::size_t n, Less less, int64_t* out) {
  Runs runs = find_runs(n, less);
  if (runs.count() == 1) {
    parallel_pieces(n, kMergePiece,
                    [&](std::size_t begin, std::size_t end) { std::iota(out + begin, out + end, int64_t(begin)); });
    return;
  }
  const int passes = std::bit_width(runs.count() - 1);
  std::unique_ptr<int64_t[]> buf = passes > 1 ? large_unwritten<int64_t>(n) : nullptr;
  int64_t *from = passes % 2 ? buf.get() : out, *to = passes % 2 ? out : buf.get();
  while (runs.count() > 1) {
    runs = merge_pass(from, to, runs, less);
    std::swap(from, to);
  }
}

template <typename Less>
std::vector<int64_t> natural_merge_sort(std::size_t n, Less less) {
  std::vector<int64_t> idx = large_vector<int64_t>(n);
  natural_merge_sort(n, less, idx.data());
  return idx;
}

std::vector<int64_t> sort_by_codes(std::size_t n, const std::vector<SortCodes>& keys) {
  if (keys.size() == 1 && keys[0].missing.empty()) {
    const uint64_t* c = keys[0].code.data();
    return natural_merge_sort(n, [c](int64_t a, int64_t b) { return c[a] < c[b]; });
  }
  return natural_merge_sort(n, [&keys](int64_t a, int64_t b) {
    for (const auto& k : keys) {
      if (!k.missing.empty()) {
        bool ma = k.missing[a], mb = k.missing[b];
        if (ma || mb) {
          if (ma && mb) continue;
          return mb;  // the missing value goes last
        }
      }
      if (k.code[a] != k.code[b]) return k.code[a] < k.code[b];
    }
    return false;
  });
}

const Column& key_column(const Table& table, const std::string& name) {
  if (auto i = table.find_column(name)) return table.column(*i);
  if (table.has_key() && table.key().name() == name) return table.key();
  throw KeyError("no column '" + name + "' to sort by");
}

}  // namespace

std::vector<int64_t> sort_indices(const Table& table, std::span<const SortKey> keys) {
  std::size_t n = table.num_rows();
  // Leading keys with few distinct values (dictionary-encoded texts, truth
  // values) become one bucket number per row; the rows are sorted by the
  // remaining keys first, then distributed stably into the buckets.
  std::vector<uint64_t> bucket;
  uint64_t buckets = 1;
  std::size_t lead = 0;
  for (; lead < keys.size(); ++lead) {
    const Column& c = key_column(table, keys[lead].column);
    uint64_t values = c.type() == DataType::Bool ? 2 : c.is_dictionary() ? c.dictionary().size() : 0;
    if (values == 0 || buckets * (values + 1) > (uint64_t{1} << 22)) break;
    SortCodes sc = sort_codes(c, true);
    if (bucket.empty()) bucket.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      bool missing = !sc.missing.empty() && sc.missing[i];
      uint64_t rank = missing ? values : keys[lead].ascending ? sc.code[i] : values - 1 - sc.code[i];
      bucket[i] = bucket[i] * (values + 1) + rank;
    }
    buckets *= values + 1;
  }
  std::vector<SortCodes> codes;
  for (std::size_t k = lead; k < keys.size(); ++k)
    codes.push_back(sort_codes(key_column(table, keys[k].column), keys[k].ascending));
  std::vector<int64_t> order =
      codes.empty() ? natural_merge_sort(n, [](int64_t, int64_t) { return false; }) : sort_by_codes(n, codes);
  if (lead == 0) return order;
  std::vector<std::size_t> start(buckets + 1, 0);
  for (std::size_t i = 0; i < n; ++i) ++start[bucket[i] + 1];
  for (uint64_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  std::vector<int64_t> out(n);
  for (int64_t row : order) out[start[bucket[row]]++] = row;
  return out;
}

void sort_time_indices(std::span<const int64_t> times, std::span<int64_t> order) {
  if (order.size() != times.size())
    throw std::invalid_argument("sort_time_indices: room for " + std::to_string(order.size()) + " positions of " +
                                std::to_string(times.size()) + " times");
  // Times sort on their own values, without a code array.
  const int64_t* v = times.data();
  natural_merge_sort(
      times.size(),
      [v](int64_t a, int64_t b) { return v[a] != Timestamp::NaT && (v[b] == Timestamp::NaT || v[a] < v[b]); },
      order.data());
}

std::vector<int64_t> sort_time_indices(std::span<const int64_t> times) {
  std::vector<int64_t> order = large_vector<int64_t>(times.size());
  sort_time_indices(times, order);
  return order;
}

std::vector<int64_t> sort_indices(const Column& column, bool ascending) {
  if (ascending && (column.type() == DataType::Timestamp || column.type() == DataType::Duration))
    return sort_time_indices(column.int64s());
  std::vector<SortCodes> codes;
  codes.push_back(sort_codes(column, ascending));
  return sort_by_codes(column.size(), codes);
}

Table sort_by(const Table& table, std::span<const SortKey> keys) {
  auto order = sort_indices(table, keys);
  return take(table, order);
}

void sort_in_place(Table& table, std::span<const SortKey> keys) {
  auto order = sort_indices(table, keys);
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] != int64_t(i)) {
      table = take(table, order);
      return;
    }
}

}  // namespace tremora
